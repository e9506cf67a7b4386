#include <gtest/gtest.h>

#include <cmath>

#include "WaveRig.h"
#include "settings/Setting.h"
#include "wave/WaveFormat.h"

TEST(WaveSizing, BlockSizesFollowTheRateInFiveMillisecondUnits) {
  const int32_t expected[7][4] = {{640, 1280, 1920, 2560},   {880, 1760, 2640, 3520},
                                  {960, 1920, 2880, 3840},   {1764, 3528, 5292, 7056},
                                  {1920, 3840, 5760, 7680},  {3528, 7056, 10584, 14112},
                                  {3840, 7680, 11520, 15360}};
  for (int32_t freq = 0; freq < 7; ++freq) {
    for (int32_t size = 0; size < 4; ++size) {
      EXPECT_EQ(CaptureBlockSize(SampleRates[freq], size), expected[freq][size])
          << SampleRates[freq] << " Hz, " << BlockSizeNames[size];
    }
  }
}

TEST(WaveSizing, BufferOf100msAt44100GivesTheCaptureBudgetAndCounts) {
  TSimWaveApi sim;
  TWavePlayer player(sim);
  TWaveCapture capture(sim);
  player.BufferTime = 0.1;
  const int32_t budget = player.SecondsToBytes(1.5 * player.BufferTime);
  EXPECT_EQ(budget, 26460);
  const int32_t counts[4] = {31, 16, 11, 8};
  for (int32_t size = 0; size < 4; ++size) {
    capture.BlockSize = CaptureBlockSize(44100, size);
    capture.SetBufferSize(budget);
    EXPECT_EQ(capture.BufferCount, counts[size]) << BlockSizeNames[size];
  }
}

TEST(WaveSizing, CaptureDefaultsAndDegenerateSizes) {
  TSimWaveApi sim;
  TWaveCapture capture(sim);
  EXPECT_EQ(capture.BlockSize, 4096);
  EXPECT_EQ(capture.BufferCount, 11);
  capture.SetBufferSize(0);
  EXPECT_EQ(capture.BufferCount, 1);
  capture.SetBufferSize(-100);
  EXPECT_EQ(capture.BufferCount, 1);
  capture.BlockSize = 0;  // must not divide by zero
  capture.SetBufferSize(44100);
  EXPECT_EQ(capture.BufferCount, 1);
}

TEST(WaveSizing, SecondsAndBytesConvertInThePlayersFormat) {
  TSimWaveApi sim;
  TWavePlayer player(sim);
  EXPECT_EQ(player.SecondsToBytes(-0.5), 0);
  EXPECT_EQ(player.BytesToSeconds(176400), 1.0);
  player.SampleRate = 48000;
  EXPECT_EQ(player.SecondsToBytes(1.0), 192000);
  EXPECT_EQ(player.SecondsToBytes(0.00001), 1);  // 1.92 truncates
  EXPECT_EQ(player.SecondsToBytes(1e9), INT32_MAX);
  player.SampleRate = 0;
  EXPECT_EQ(player.BytesToSeconds(1000), 0.0);
}

TEST(WaveFormatRecord, DescribesStereo16BitPcm) {
  const TWaveFormatEx f = MakeWaveFormat(48000, 2, 16);
  EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, 48000u);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 192000u);
  EXPECT_EQ(f.cbSize, 0);
}

TEST(WavePeaks, NegativeFullScaleCountsAs32767AndSilenceAsFloor) {
  std::atomic<int16_t> left{0}, right{0};
  bool first = true;
  const std::vector<int16_t> loud = {-32768, 0, 0, 0};
  FoldPeaks(loud.data(), 8, first, left, right);
  EXPECT_EQ(left, 32767);
  EXPECT_EQ(right, 0);
  EXPECT_NEAR(PeakLevel(left), -0.0003, 0.0001);
  EXPECT_EQ(PeakLevel(0), -90.3);
  EXPECT_NEAR(PeakLevel(16384), -6.0206, 0.0001);
}

TEST(WavePeaks, FirstBlockOfAPassReplacesLaterBlocksRaise) {
  std::atomic<int16_t> left{0}, right{0};
  bool first = true;
  for (int16_t p : {100, 5000, 20}) {
    const auto block = Frames(4, p, static_cast<int16_t>(-p));
    FoldPeaks(block.data(), 16, first, left, right);
  }
  EXPECT_EQ(left, 5000);
  EXPECT_EQ(right, 4999);
  first = true;
  const auto quiet = Frames(4, 10, 10);
  FoldPeaks(quiet.data(), 16, first, left, right);
  EXPECT_EQ(left, 10);
  EXPECT_EQ(right, 10);
}

TEST(WaveCatalogue, ListsOnlyDevicesWith44kStereo16AndKeepsTheirIdentifiers) {
  TSimWaveApi sim;
  sim.AddOutput(TSimDeviceSpec("No CD format", TSimDeviceSpec::AllFormats & ~WAVE_FORMAT_4S16));
  sim.AddOutput(TSimDeviceSpec("  Speakers\t "));
  sim.AddOutput(TSimDeviceSpec("Speakers"));
  sim.AddOutput(TSimDeviceSpec("A name longer than thirty-one characters is cut"));
  TWavePlayer player(sim);
  ASSERT_EQ(player.DeviceCount(), 3);
  EXPECT_EQ(player.GetDeviceName(0), "Speakers");
  EXPECT_EQ(player.Devices[0].DeviceID, 1);
  EXPECT_EQ(player.GetDeviceName(1), "Speakers");
  EXPECT_EQ(player.Devices[1].DeviceID, 2);
  EXPECT_EQ(player.GetDeviceName(2), "A name longer than thirty-one c");
  EXPECT_EQ(player.GetDeviceName(3), "");
  EXPECT_EQ(player.GetDeviceName(-1), "");
  EXPECT_EQ(player.DeviceIndex, 0);
}

TEST(WaveCatalogue, AFailedCapabilityQueryLeavesTheDeviceOut) {
  TSimWaveApi sim;
  sim.AddInput(TSimDeviceSpec("First"));
  sim.AddInput(TSimDeviceSpec("Second"));
  sim.FailNext(TSimCall::InGetDevCaps, MMSYSERR_NODRIVER);
  TWaveCapture capture(sim);
  ASSERT_EQ(capture.DeviceCount(), 1);
  EXPECT_EQ(capture.GetDeviceName(0), "Second");
  EXPECT_EQ(capture.Devices[0].DeviceID, 1);
}

TEST(WaveCatalogue, SelectionIgnoresPositionsOutsideAndSurvivesARefill) {
  TSimWaveApi sim;
  TWaveCapture empty(sim);
  EXPECT_EQ(empty.DeviceCount(), 0);
  EXPECT_EQ(empty.DeviceIndex, -1);
  EXPECT_EQ(empty.Open(), -1);
  EXPECT_FALSE(empty.Active);

  sim.AddInput(TSimDeviceSpec("A"));
  sim.AddInput(TSimDeviceSpec("B"));
  TWaveCapture capture(sim);
  capture.SelectDevice(1);
  capture.SelectDevice(-1);
  capture.SelectDevice(capture.DeviceCount());
  EXPECT_EQ(capture.DeviceIndex, 1);
  sim.Unplug(TWaveSide::Input, 1, TSimUnplug::Fail);
  capture.UpdateDevices();
  EXPECT_EQ(capture.DeviceCount(), 1);
  EXPECT_EQ(capture.DeviceIndex, 1);  // now names no device: the owner selects by name again
  EXPECT_EQ(capture.Open(), -1);
}
