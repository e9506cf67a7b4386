#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "WaveRig.h"

namespace {

// 220 frames (5 ms at 44100 Hz) of one value on both channels.
std::vector<int16_t> Block(int16_t v) {
  return Frames(220, v, v);
}
constexpr int32_t BlockBytes = 880;

struct TPlayerRig : TWaveRig {
  std::vector<std::string> Events;

  TPlayerRig() {
    Sim.RecordOutput(Out, 1 << 16);
    Player.OnPlayedSource = [this](TWavePlayer*, const int16_t* data, int32_t size) {
      Events.push_back("source " + std::to_string(data[0]) + "/" + std::to_string(size));
    };
    Player.OnPlayed = [this](TWavePlayer*, const int16_t* data, int32_t size) {
      Events.push_back("played " + std::to_string(data[0]) + "/" + std::to_string(size));
    };
    Player.BufferTime = 0.1;
  }

  bool Add(int16_t v) {
    const auto b = Block(v);
    return Player.AddBuffer(b.data(), BlockBytes);
  }
};

}  // namespace

TEST(WaveVolume, TruncatesTowardZeroAndClips) {
  const std::vector<int16_t> in = {-3, 3, 20000, -20000, 32767, -32768};
  std::vector<int16_t> out(in.size());
  ScaleSamples(in.data(), out.data(), 12, 150);
  EXPECT_EQ(out[0], -4);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], 30000);
  ScaleSamples(in.data(), out.data(), 12, 200);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], -32768);
  ScaleSamples(in.data(), out.data(), 12, 1024);
  EXPECT_EQ(out[0], -30);
  EXPECT_EQ(out[5], -32768);
  ScaleSamples(in.data(), out.data(), 12, 0);
  for (int16_t v : out) EXPECT_EQ(v, 0);
  ScaleSamples(in.data(), out.data(), 12, 100);
  EXPECT_EQ(out, in);
}

TEST(WaveVolume, SetVolumeClampsToTheRange) {
  TWaveRig r;
  r.Player.SetVolume(2000);
  EXPECT_EQ(r.Player.Volume, 1024);
  r.Player.SetVolume(-5);
  EXPECT_EQ(r.Player.Volume, 0);
}

TEST(WavePlayer, PlaysTheBlockScaledByTheVolume) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  // Each block is played before the next volume change, which would rescale it otherwise.
  r.Player.SetVolume(150);
  ASSERT_TRUE(r.Add(-3));
  r.Sim.Advance(5);
  r.Player.SetVolume(200);
  ASSERT_TRUE(r.Add(20000));
  r.Sim.Advance(5);
  r.Player.SetVolume(0);
  ASSERT_TRUE(r.Add(1234));
  r.Sim.Advance(5);
  const auto played = r.Sim.Played(r.Out);
  ASSERT_EQ(played.size(), 3u * 440);
  EXPECT_EQ(played[0], -4);
  EXPECT_EQ(played[439], -4);
  EXPECT_EQ(played[440], 32767);
  EXPECT_EQ(played[880], 0);
  r.Player.Close();
}

TEST(WavePlayer, AdmitsUpToExactlyTwiceTheBufferAndRefusesAbove) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  const auto b = Frames(2205, 1, 1);  // 50 ms
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(r.Player.AddBuffer(b.data(), 8820)) << i;
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 0.2);
  EXPECT_TRUE(r.Player.AddBuffer(b.data(), 8820));  // equal to twice the target: admitted
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 0.25);
  EXPECT_FALSE(r.Player.AddBuffer(b.data(), 8820));
  EXPECT_EQ(r.Player.Blocks->size(), 5u);
  EXPECT_TRUE(r.PlayerErrors.empty());
  r.Player.Close();
}

TEST(WavePlayer, QueuedTimeCountsOnlyBlocksNotYetFinished) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  for (int16_t v : {1, 2, 3}) ASSERT_TRUE(r.Add(v));
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 3 * 880 / 176400.0);
  r.Sim.Advance(5);
  r.Player.UpdateQueued();  // finished but not collected no longer counts
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 2 * 880 / 176400.0);
  EXPECT_EQ(r.Player.Blocks->size(), 3u);
  r.Player.Close();
  r.Player.UpdateQueued();
  EXPECT_EQ(r.Player.QueuedTime, 0.0);
}

TEST(WavePlayer, TellsHowLongBeforeTheCollectionTheDeviceHandedEachBlockBack) {
  TManualClock clock;
  TSimWaveApi sim(TSimTime::Manual, &clock);
  sim.AddOutput(TSimDeviceSpec("Speakers"));
  TWavePlayer player(sim);
  player.BufferTime = 0.1;
  const auto block = Block(1);
  const double seconds = 220 / 44100.0;
  // Opened before it had a clock: the device stamps nothing, and no lag is made up.
  ASSERT_EQ(player.Open(), 0);
  player.SetDoneClock(&clock);
  ASSERT_TRUE(player.AddBuffer(block.data(), BlockBytes));
  sim.Advance(7);
  player.ProcessDone();
  EXPECT_DOUBLE_EQ(player.DoneSeconds(), seconds);
  EXPECT_EQ(player.DoneLag(), 0.0);
  player.Close();

  ASSERT_EQ(player.Open(), 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(player.AddBuffer(block.data(), BlockBytes));
  // The first block is handed back 5 ms in and collected 3 ms later; the second is handed back
  // as it is collected.
  sim.Advance(5);
  sim.Advance(3);
  player.ProcessDone();
  EXPECT_DOUBLE_EQ(player.DoneSeconds(), seconds);
  EXPECT_NEAR(player.DoneLag(), seconds * 0.003, 1e-12);
  sim.Advance(2);
  player.ProcessDone();
  EXPECT_DOUBLE_EQ(player.DoneSeconds(), seconds);
  EXPECT_EQ(player.DoneLag(), 0.0);
  // Nothing handed back: nothing collected, nothing late.
  player.ProcessDone();
  EXPECT_EQ(player.DoneSeconds(), 0.0);
  player.Close();
}

TEST(WavePlayer, ReportsEachFinishedBlockAsHandedInThenAsPlayed) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  r.Player.SetVolume(200);
  ASSERT_TRUE(r.Add(10));
  ASSERT_TRUE(r.Add(20));
  ASSERT_TRUE(r.Add(30));
  r.Sim.Advance(10);
  r.Player.ProcessDone();
  EXPECT_EQ(r.Events, (std::vector<std::string>{"source 10/880", "played 20/880", "source 20/880",
                                                "played 40/880"}));
  EXPECT_EQ(r.Player.PeakLeft, 40);
  ASSERT_EQ(r.Player.Blocks->size(), 1u);
  EXPECT_EQ(r.Player.Blocks->front()->Source[0], 30) << "the source copy stays with its block";
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 880 / 176400.0);
  r.Player.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WavePlayer, VolumeChangeRescalesQueuedBlocksFromTheirSourcesExceptTheOldest) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(r.Add(3));
  auto first = [&](size_t i) { return (*r.Player.Blocks)[i]->Data[0]; };
  // The main thread's call leaves the queue alone; the relay thread's next touch rewrites it.
  r.Player.SetVolume(50);
  EXPECT_EQ(first(1), 3);
  r.Player.ApplyVolumeChange();
  EXPECT_EQ(first(0), 3);
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(first(i), 1) << i;
  // Back to 100 from the source copies: no truncation has accumulated.
  r.Player.SetVolume(100);
  r.Player.ProcessDone();
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(first(i), 3) << i;
  r.Sim.Advance(5);  // the oldest is finished and keeps what it played
  r.Player.SetVolume(300);
  r.Player.ApplyVolumeChange();
  EXPECT_EQ(first(0), 3);
  EXPECT_EQ(first(1), 9);
  // A block added after a change carries the new volume at once.
  r.Player.SetVolume(200);
  ASSERT_TRUE(r.Add(3));
  EXPECT_EQ(first(5), 6);
  EXPECT_EQ(first(1), 6);
  r.Player.Close();
}

TEST(WavePlayer, OpensTheCatalogueEntrysOwnDevice) {
  TSimWaveApi sim;
  sim.AddOutput(TSimDeviceSpec("No CD format", TSimDeviceSpec::AllFormats & ~WAVE_FORMAT_4S16));
  sim.AddOutput(TSimDeviceSpec("Speakers"));
  TWavePlayer player(sim);
  ASSERT_EQ(player.DeviceCount(), 1);
  ASSERT_EQ(player.Open(), 0);
  const auto b = Block(5);
  ASSERT_TRUE(player.AddBuffer(b.data(), BlockBytes));
  sim.Advance(10);
  EXPECT_EQ(sim.OutputStats(0).BlocksPlayed, 0u);
  EXPECT_EQ(sim.OutputStats(1).BlocksPlayed, 1u);
  player.Close();

  TWavePlayer none(sim);
  none.DeviceIndex = -1;
  EXPECT_EQ(none.Open(), -1);
}

TEST(WavePlayer, OpenFailuresLeaveNothingOpen) {
  TPlayerRig r;
  r.Sim.FailNext(TSimCall::OutQuery, WAVERR_BADFORMAT);
  EXPECT_EQ(r.Player.Open(), static_cast<int32_t>(WAVERR_BADFORMAT));
  r.Sim.FailNext(TSimCall::OutOpen, MMSYSERR_ALLOCATED);
  EXPECT_EQ(r.Player.Open(), static_cast<int32_t>(MMSYSERR_ALLOCATED));
  EXPECT_FALSE(r.Player.Active);
  EXPECT_FALSE(r.Add(1));
  EXPECT_TRUE(r.AllReleased());
}

TEST(WavePlayer, PrepareAndWriteFailuresAreReportedAndReleaseTheBlock) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  r.Sim.FailNext(TSimCall::OutPrepare, MMSYSERR_NOMEM);
  EXPECT_FALSE(r.Add(1));
  r.Sim.FailNext(TSimCall::OutWrite, MMSYSERR_NODRIVER);
  EXPECT_FALSE(r.Add(2));
  EXPECT_EQ(r.PlayerErrors, (std::vector<int32_t>{static_cast<int32_t>(MMSYSERR_NOMEM),
                                                  static_cast<int32_t>(MMSYSERR_NODRIVER)}));
  EXPECT_TRUE(r.Player.Blocks->empty());
  EXPECT_EQ(r.Sim.PreparedHeaders(), 0);
  EXPECT_EQ(r.Player.QueuedTime, 0.0);
  EXPECT_TRUE(r.Add(3));

  // A device that keeps refusing: every block is reported and none is kept.
  r.Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NODRIVER);
  for (int16_t v : {4, 5, 6}) EXPECT_FALSE(r.Add(v));
  EXPECT_EQ(r.PlayerErrors.size(), 5u);
  EXPECT_EQ(r.Player.Blocks->size(), 1u);
  r.Sim.ClearFailures();
  EXPECT_TRUE(r.Add(7));
  r.Player.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WavePlayer, AFailedUnprepareIsReportedAndTheBlockStillReported) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  ASSERT_TRUE(r.Add(7));
  r.Sim.Advance(5);
  r.Sim.FailNext(TSimCall::OutUnprepare, MMSYSERR_ERROR);
  r.Player.ProcessDone();
  EXPECT_EQ(r.PlayerErrors, std::vector<int32_t>{static_cast<int32_t>(MMSYSERR_ERROR)});
  EXPECT_EQ(r.Events, (std::vector<std::string>{"source 7/880", "played 7/880"}));
  EXPECT_TRUE(r.Player.Blocks->empty());
  r.Player.Close();
}

TEST(WavePlayer, CloseDropsQueuedBlocksSilentlyAndTwiceIsHarmless) {
  TPlayerRig r;
  ASSERT_EQ(r.Player.Open(), 0);
  for (int16_t v : {1, 2, 3, 4}) ASSERT_TRUE(r.Add(v));
  r.Sim.Advance(5);
  r.Player.ProcessDone();
  r.Events.clear();
  r.Player.Close();
  EXPECT_TRUE(r.Events.empty());
  EXPECT_FALSE(r.Player.Active);
  EXPECT_FALSE(r.Player.Blocks);
  EXPECT_EQ(r.Player.PeakLeft, 0);
  EXPECT_TRUE(r.AllReleased());
  r.Player.Close();
  r.Player.ProcessDone();
  EXPECT_TRUE(r.Events.empty());
  EXPECT_FALSE(r.Add(5));
}

TEST(WavePlayer, AThrowingHandlerEndsThePassWithoutLeaking) {
  TPlayerRig r;
  int calls = 0;
  r.Player.OnPlayedSource = [&](TWavePlayer*, const int16_t*, int32_t) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  ASSERT_EQ(r.Player.Open(), 0);
  for (int16_t v : {1, 2, 3}) ASSERT_TRUE(r.Add(v));
  r.Sim.Advance(15);
  r.Player.ProcessDone();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(r.Player.Blocks->size(), 2u);
  EXPECT_EQ(r.Player.QueuedTime, 0.0);  // the pass still ended with a fresh count
  EXPECT_EQ(r.Sim.PreparedHeaders(), 2);
  r.Player.ProcessDone();
  EXPECT_EQ(calls, 2);
  r.Player.Close();
  EXPECT_TRUE(r.AllReleased());
}
