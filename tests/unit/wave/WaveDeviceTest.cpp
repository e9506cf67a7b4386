#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "WaveRig.h"

namespace {

// The capture feeding the player as the relay does, one pass every 10 ms of simulated time.
struct TRelayRig : TWaveRig {
  int64_t Delivered = 0;
  int64_t Refused = 0;

  explicit TRelayRig(double bufferTime = 0.1) {
    Capture.BlockSize = 880;
    Player.BufferTime = bufferTime;
    Capture.SetBufferSize(Player.SecondsToBytes(1.5 * bufferTime));
    Capture.OnData = [this](TWaveCapture*, const int16_t* data, int32_t size) {
      ++Delivered;
      if (!Player.AddBuffer(data, size)) ++Refused;
    };
  }

  void Start() {
    ASSERT_EQ(Player.Open(), 0);
    ASSERT_EQ(Capture.Open(), 0);
    Capture.ProcessDone();
    // Hold the first blocks back until about a buffer is recorded, as the relay does.
    while (Player.BytesToSeconds(Capture.ReadyBytes()) + 0.03 < Player.BufferTime) Sim.Advance(10);
  }

  void Run(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 10) {
      Capture.ProcessDone();
      Player.ProcessDone();
      Sim.Advance(10);
    }
  }

  void Stop() {
    Capture.Close();
    Player.Close();
  }
};

}  // namespace

TEST(WaveDrift, AnInputRunning100PpmFastFillsTheOutputQueueByThatMuch) {
  TRelayRig r(1.0);  // room for the surplus: nothing is refused
  r.Sim.SetRatePpm(TWaveSide::Input, r.In, 100);
  r.Start();
  r.Run(10000);
  const double settled = r.Player.QueuedTime;
  const double underrun = r.Sim.OutputStats(r.Out).UnderrunMs;
  r.Run(300000);  // five minutes
  // 100 ppm of 300 s is 30 ms more recorded than played, give or take one 5 ms block.
  EXPECT_NEAR(r.Player.QueuedTime - settled, 0.030, 0.0055);
  EXPECT_EQ(r.Sim.OutputStats(r.Out).UnderrunMs, underrun);
  EXPECT_EQ(r.Sim.InputStats(r.In).FramesLost, 0u);
  EXPECT_EQ(r.Refused, 0);
  r.Stop();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveDrift, EqualClocksKeepTheQueueSteady) {
  TRelayRig r;
  r.Start();
  r.Run(10000);
  const double settled = r.Player.QueuedTime;
  r.Run(120000);
  EXPECT_NEAR(r.Player.QueuedTime, settled, 0.0105);
  EXPECT_EQ(r.Refused, 0);
  r.Stop();
}

TEST(WaveUnplug, ARemovedDeviceFailsItsCallsAndCloseStillReleasesEverything) {
  TRelayRig r;
  r.Start();
  r.Run(500);
  r.Sim.Unplug(TWaveSide::Output, r.Out, TSimUnplug::Fail);
  r.Run(50);
  ASSERT_FALSE(r.PlayerErrors.empty());
  EXPECT_EQ(r.PlayerErrors[0], static_cast<int32_t>(MMSYSERR_NODRIVER));
  EXPECT_TRUE(r.Player.Blocks->empty());  // the driver gave back what it held

  r.Sim.Unplug(TWaveSide::Input, r.In, TSimUnplug::Fail);
  r.Run(50);
  ASSERT_FALSE(r.CaptureErrors.empty());
  EXPECT_EQ(r.CaptureErrors[0], static_cast<int32_t>(MMSYSERR_NODRIVER));

  r.Stop();
  EXPECT_TRUE(r.AllReleased());
  r.Player.UpdateDevices();
  r.Capture.UpdateDevices();
  EXPECT_EQ(r.Player.DeviceCount(), 0);
  EXPECT_EQ(r.Capture.DeviceCount(), 0);
  EXPECT_EQ(r.Player.Open(), -1);

  // Back again: found, opened and relaying.
  r.Sim.Plug(TWaveSide::Output, r.Out);
  r.Sim.Plug(TWaveSide::Input, r.In);
  r.Player.UpdateDevices();
  r.Capture.UpdateDevices();
  ASSERT_EQ(r.Player.DeviceCount(), 1);
  r.PlayerErrors.clear();
  r.CaptureErrors.clear();
  const uint64_t played = r.Sim.OutputStats(r.Out).BlocksPlayed;
  r.Start();
  r.Run(500);
  EXPECT_GT(r.Sim.OutputStats(r.Out).BlocksPlayed, played + 50);
  EXPECT_TRUE(r.PlayerErrors.empty());
  EXPECT_TRUE(r.CaptureErrors.empty());
  r.Stop();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveUnplug, ASilentlyStoppedOutputFillsUpWithoutErrorsAndClosesCleanly) {
  TRelayRig r;
  r.Start();
  r.Run(500);
  r.Sim.Unplug(TWaveSide::Output, r.Out, TSimUnplug::Silent);
  const uint64_t played = r.Sim.OutputStats(r.Out).BlocksPlayed;
  r.Run(1000);
  EXPECT_EQ(r.Sim.OutputStats(r.Out).BlocksPlayed, played);
  EXPECT_TRUE(r.PlayerErrors.empty());
  EXPECT_TRUE(r.CaptureErrors.empty());
  EXPECT_GT(r.Refused, 0);  // the queue is full: new blocks are turned away
  EXPECT_GT(r.Player.QueuedTime, 2 * r.Player.BufferTime);

  r.Stop();
  EXPECT_TRUE(r.AllReleased());
  // After the device is back a fresh open plays again.
  r.Sim.Plug(TWaveSide::Output, r.Out);
  r.Start();
  r.Run(500);
  EXPECT_GT(r.Sim.OutputStats(r.Out).BlocksPlayed, played + 50);
  r.Stop();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveUnplug, ASilentlyStoppedInputDeliversNothingAndClosesCleanly) {
  TRelayRig r;
  r.Start();
  r.Run(500);
  r.Sim.Unplug(TWaveSide::Input, r.In, TSimUnplug::Silent);
  r.Run(20);  // what was already recorded still arrives
  const int64_t delivered = r.Delivered;
  r.Run(1000);
  EXPECT_EQ(r.Delivered, delivered);
  EXPECT_EQ(r.Capture.ReadyBytes(), 0u);
  EXPECT_TRUE(r.CaptureErrors.empty());
  EXPECT_TRUE(r.PlayerErrors.empty());
  EXPECT_EQ(r.Player.QueuedTime, 0.0);  // the output ran dry
  r.Stop();
  EXPECT_TRUE(r.AllReleased());
}

TEST(SimWave, ABlockIsDoneOnlyAfterTheDeviceLatency) {
  TWaveRig r;
  r.Sim.SetLatency(TWaveSide::Output, r.Out, 20);
  ASSERT_EQ(r.Player.Open(), 0);
  const auto b = Frames(220, 1, 1);
  ASSERT_TRUE(r.Player.AddBuffer(b.data(), 880));
  r.Sim.Advance(10);
  r.Player.UpdateQueued();
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 880 / 176400.0);
  r.Sim.Advance(14);
  r.Player.UpdateQueued();
  EXPECT_DOUBLE_EQ(r.Player.QueuedTime, 880 / 176400.0);
  r.Sim.Advance(1);
  r.Player.UpdateQueued();
  EXPECT_EQ(r.Player.QueuedTime, 0.0);
  r.Player.Close();
}

TEST(SimWave, ASineInputHasItsAmplitudeAndFrequency) {
  TWaveRig r;
  r.Sim.SetSignal(r.In, TSimSignal::Sine(1000, 16384));
  int32_t crossings = 0;
  int32_t frames = 0;
  int16_t last = 0;
  r.Capture.OnData = [&](TWaveCapture*, const int16_t* data, int32_t size) {
    frames += size / 4;
    for (int32_t i = 0; i < size / 4; ++i) {
      if ((last < 0) != (data[2 * i] < 0)) ++crossings;
      last = data[2 * i];
      ASSERT_EQ(data[2 * i], data[2 * i + 1]);
    }
  };
  ASSERT_EQ(r.Capture.Open(), 0);
  r.Capture.ProcessDone();
  for (int i = 0; i < 100; ++i) {
    r.Sim.Advance(10);
    r.Capture.ProcessDone();
  }
  EXPECT_NEAR(crossings, 2000.0 * frames / 44100, 1.5);
  EXPECT_NEAR(r.Capture.PeakLeft, 16384, 1);
  r.Capture.Close();
}

TEST(SimWave, ClosingWithBlocksQueuedIsRefusedAsThePlatformDoes) {
  TSimWaveApi sim;
  sim.AddOutput(TSimDeviceSpec("Out"));
  TWaveRawHandle h = nullptr;
  const TWaveFormatEx f = MakeWaveFormat(44100, 2, 16);
  ASSERT_EQ(sim.OutOpen(&h, 0, f, nullptr, 0, CALLBACK_FUNCTION), 0u);
  auto block = NewWaveBlock(880);
  EXPECT_EQ(sim.OutWrite(h, &block->Header), WAVERR_UNPREPARED);
  ASSERT_EQ(sim.OutPrepareHeader(h, &block->Header), 0u);
  ASSERT_EQ(sim.OutWrite(h, &block->Header), 0u);
  EXPECT_EQ(sim.OutUnprepareHeader(h, &block->Header), WAVERR_STILLPLAYING);
  EXPECT_EQ(sim.OutClose(h), WAVERR_STILLPLAYING);
  ASSERT_EQ(sim.OutReset(h), 0u);
  EXPECT_TRUE(block->Header.dwFlags & WHDR_DONE);
  EXPECT_EQ(sim.OutUnprepareHeader(h, &block->Header), 0u);
  EXPECT_EQ(sim.OutClose(h), 0u);
  EXPECT_EQ(sim.OutClose(h), MMSYSERR_INVALHANDLE);
}

TEST(SimWave, RealTimeDevicesPlayOnTheirOwnThread) {
  TSimWaveApi sim(TSimTime::Real);
  sim.AddOutput(TSimDeviceSpec("Out"));
  TWavePlayer player(sim);
  player.BufferTime = 0.1;
  int played = 0;
  player.OnPlayed = [&](TWavePlayer*, const int16_t*, int32_t) { ++played; };
  ASSERT_EQ(player.Open(), 0);
  const auto b = Frames(441, 1, 1);  // 10 ms
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(player.AddBuffer(b.data(), 1764));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (played < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    player.ProcessDone();
  }
  EXPECT_EQ(played, 4);
  player.Close();
  EXPECT_EQ(sim.OpenHandles(), 0);
}

// A reset, unprepare or close that fails must neither strand the device's blocks nor free
// memory the device still writes into (the simulated device goes on recording into its queued
// blocks; AddressSanitizer sees a write into freed blocks).
TEST(WaveRelease, ACallThatFailsOnceAtTheCloseStillReleasesEverything) {
  for (TSimCall call : {TSimCall::InReset, TSimCall::OutReset, TSimCall::InUnprepare,
                        TSimCall::OutUnprepare, TSimCall::InClose, TSimCall::OutClose}) {
    SCOPED_TRACE(static_cast<int>(call));
    TRelayRig r;
    r.Start();
    r.Run(300);
    r.Sim.FailNext(call, MMSYSERR_ERROR);
    r.Stop();
    r.Sim.Advance(500);
    EXPECT_TRUE(r.AllReleased()) << r.Sim.OpenHandles() << " handles, " << r.Sim.PreparedHeaders()
                                 << " prepared, " << r.Sim.QueuedHeaders() << " queued";
    EXPECT_EQ(r.Capture.KeptDevices() + r.Player.KeptDevices(), 0u);
  }
}

TEST(WaveRelease, ADeviceThatWillNotLetGoIsKeptAndReleasedAtTheNextOpenOrClose) {
  TRelayRig r;
  r.Start();
  r.Run(300);
  r.Sim.FailAlways(TSimCall::InReset, MMSYSERR_ERROR);
  r.Sim.FailAlways(TSimCall::OutReset, MMSYSERR_ERROR);
  r.Stop();
  EXPECT_EQ(r.Capture.KeptDevices(), 1u);
  EXPECT_EQ(r.Player.KeptDevices(), 1u);
  // The input still records into the blocks it holds: they must still be there.
  r.Sim.Advance(1000);
  EXPECT_EQ(r.Sim.OpenHandles(), 2);
  r.Sim.ClearFailures();
  // The next session's open releases the kept input; a close the kept output.
  ASSERT_EQ(r.Capture.Open(), 0);
  EXPECT_EQ(r.Capture.KeptDevices(), 0u);
  r.Player.Close();
  EXPECT_EQ(r.Player.KeptDevices(), 0u);
  r.Capture.Close();
  EXPECT_TRUE(r.AllReleased());
}

TEST(WaveRelease, ABlockWhoseUnprepareFailedInPassingIsUnpreparedAtTheClose) {
  TRelayRig r;
  r.Start();
  r.Run(300);
  // The relay's passes give done blocks back; one unprepare on each side fails.
  r.Sim.FailNext(TSimCall::InUnprepare, MMSYSERR_ERROR);
  r.Sim.FailNext(TSimCall::OutUnprepare, MMSYSERR_ERROR);
  r.Run(300);
  EXPECT_EQ(r.CaptureErrors.size(), 1u);
  EXPECT_EQ(r.PlayerErrors.size(), 1u);
  r.Stop();
  EXPECT_TRUE(r.AllReleased()) << r.Sim.PreparedHeaders() << " prepared";
}

TEST(WaveRelease, ADeviceKeptIsNotOpenedAgainSoTriesDoNotPileUpHandles) {
  TRelayRig r;
  r.Start();
  r.Run(300);
  r.Sim.FailAlways(TSimCall::OutReset, MMSYSERR_ERROR);
  // A session that tries again and again while the driver will not reset.
  for (int i = 0; i < 20; ++i) {
    r.Player.Close();
    r.Player.Open();
  }
  EXPECT_EQ(r.Player.KeptDevices(), 1u);
  EXPECT_EQ(r.Player.Open(), static_cast<int32_t>(MMSYSERR_ALLOCATED));
  r.Sim.ClearFailures();
  EXPECT_EQ(r.Player.Open(), 0);
  r.Stop();
  EXPECT_TRUE(r.AllReleased());
}

namespace {

// A device whose sound-server stream died, as Wine shows it when the sink or source is unloaded
// (measured: WinmmWave.CallsOnADeviceWhoseStreamDied): the reset fails and leaves the blocks
// queued, an unprepare answers "still playing", yet the close succeeds and lets go of everything.
class TDeadStreamApi : public TSimWaveApi {
 public:
  bool Dead = false;
  uint32_t InReset(TWaveRawHandle h) override {
    return Dead ? MMSYSERR_ERROR : TSimWaveApi::InReset(h);
  }
  uint32_t OutReset(TWaveRawHandle h) override {
    return Dead ? MMSYSERR_ERROR : TSimWaveApi::OutReset(h);
  }
  uint32_t InClose(TWaveRawHandle h) override {
    if (Dead) TSimWaveApi::InReset(h);
    return TSimWaveApi::InClose(h);
  }
  uint32_t OutClose(TWaveRawHandle h) override {
    if (Dead) TSimWaveApi::OutReset(h);
    return TSimWaveApi::OutClose(h);
  }
};

}  // namespace

TEST(WaveRelease, ADeviceWhoseStreamDiedIsClosedAndOpensAgain) {
  TDeadStreamApi api;
  const int32_t in = api.AddInput(TSimDeviceSpec("Line In"));
  const int32_t out = api.AddOutput(TSimDeviceSpec("Speakers"));
  TWaveCapture capture(api);
  TWavePlayer player(api);
  capture.BlockSize = 880;
  player.BufferTime = 0.1;
  capture.OnData = [&](TWaveCapture*, const int16_t* d, int32_t n) { player.AddBuffer(d, n); };
  ASSERT_EQ(player.Open(), 0);
  ASSERT_EQ(capture.Open(), 0);
  for (int i = 0; i < 30; ++i) {
    capture.ProcessDone();
    player.ProcessDone();
    api.Advance(10);
  }
  api.Unplug(TWaveSide::Input, in, TSimUnplug::Silent);
  api.Unplug(TWaveSide::Output, out, TSimUnplug::Silent);
  api.Dead = true;
  capture.Close();
  player.Close();
  EXPECT_EQ(capture.KeptDevices() + player.KeptDevices(), 0u)
      << "a device that closed holds nothing";
  EXPECT_EQ(api.OpenHandles(), 0);
  api.Dead = false;
  api.Plug(TWaveSide::Input, in);
  api.Plug(TWaveSide::Output, out);
  EXPECT_EQ(player.Open(), 0);
  EXPECT_EQ(capture.Open(), 0);
  capture.Close();
  player.Close();
  EXPECT_EQ(api.OpenHandles(), 0);
}
