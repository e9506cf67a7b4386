#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/Stabilizer.h"
#include "platform/sim/SimWave.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"

namespace {

constexpr int32_t Rate = 44100;
constexpr int32_t Small = 880;  // 5 ms at 44100 Hz
constexpr double Target = 0.1;

TSimDeviceSpec Device(const char* name, double ppm = 0) {
  TSimDeviceSpec d;
  d.Name = name;
  d.RatePpm = ppm;
  return d;
}

// A real player on a simulated output. The device only plays when the test lets device time
// pass (Play); ticking the stabilizer moves the program's clock alone, so the queue stays put.
class StabilizerTest : public ::testing::Test {
 protected:
  StabilizerTest() {
    Api.AddOutput(Device("Out"));
    Player.UpdateDevices();
    Player.SelectDevice(0);
    Player.SampleRate = Rate;
    Player.BufferTime = Target;
    EXPECT_EQ(Player.Open(), 0);
  }
  ~StabilizerTest() override { Player.Close(); }

  // Queues blocks of 5 ms until the queue holds at least seconds.
  void FillTo(double seconds) {
    const std::vector<int16_t> block(Small / 2, 0);
    while (Player.QueuedTime.load() < seconds - 1e-9)
      ASSERT_TRUE(Player.AddBuffer(block.data(), Small));
  }

  // Lets the device play ms and collects what it finished.
  void Play(uint64_t ms) {
    Api.Advance(ms);
    Player.ProcessDone();
  }

  // One recorded block through the stabilizer, ms after the previous one; returns its new size.
  size_t Tick(uint64_t ms = 10, int32_t size = Small, int32_t blocksize = 0) {
    Clock.Advance(ms);
    const std::vector<int16_t> zeros(static_cast<size_t>(size) / 2, 0);
    TWorkBlock block;
    block.Reserve(4 * size);
    block.Load(zeros.data(), size);
    Stab.StabilyzerTick(block, blocksize);
    return static_cast<size_t>(block.Size);
  }

  // Ticks every 10 ms for ms and returns the StabValue changes seen.
  std::vector<int32_t> TickFor(uint64_t ms) {
    std::vector<int32_t> changes;
    for (uint64_t t = 0; t < ms; t += 10) {
      const int32_t before = Stab.StabValue.load();
      Tick();
      if (Stab.StabValue.load() != before) changes.push_back(Stab.StabValue.load() - before);
    }
    return changes;
  }

  TManualClock Clock;
  TSimWaveApi Api{TSimTime::Manual, &Clock};
  TWavePlayer Player{Api};
  TStabilizer Stab{Clock, Player};
};

TEST_F(StabilizerTest, FirstBlockFindsAnEmptyQueueAndStepsUpOnce) {
  EXPECT_EQ(Tick(), static_cast<size_t>(Small));  // the correction applies from the next block
  EXPECT_EQ(Stab.StabValue.load(), 1);
  EXPECT_DOUBLE_EQ(Stab.StabInterval, 0.2);
  EXPECT_EQ(Stab.StabAverage, 0);
  // Still empty, but no second decision before the interval is over.
  const auto changes = TickFor(190);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(Tick(), static_cast<size_t>(Small + 4));
  EXPECT_EQ(Stab.StabValue.load(), 2);
}

TEST_F(StabilizerTest, QueueOnTargetTakesNoStepAndDecidesLessOften) {
  FillTo(Target);
  Tick();
  EXPECT_EQ(Stab.StabValue.load(), 0);
  std::vector<double> intervals = {Stab.StabInterval};
  for (int i = 0; i < 12000; ++i) {
    Tick();
    if (Stab.StabInterval != intervals.back()) intervals.push_back(Stab.StabInterval);
  }
  EXPECT_EQ(Stab.StabValue.load(), 0);
  ASSERT_GT(intervals.size(), 10u);
  EXPECT_DOUBLE_EQ(intervals[0], 0.1);
  EXPECT_DOUBLE_EQ(intervals[1], 0.11);
  EXPECT_DOUBLE_EQ(intervals[2], 0.121);
  for (size_t i = 1; i + 1 < intervals.size(); ++i)
    EXPECT_NEAR(intervals[i] / intervals[i - 1], 1.1, 1e-9);
  EXPECT_EQ(intervals.back(), 5.0);
}

TEST_F(StabilizerTest, SteadyQueueOutsideTheBandIsSteeredBack) {
  FillTo(0.15);
  Tick();
  EXPECT_EQ(Stab.StabValue.load(), -1);
  EXPECT_LT(Tick(), static_cast<size_t>(Small));
  // Inside the band (7 ms): nothing more happens while the average stands still.
  Play(50);
  EXPECT_NEAR(Player.QueuedTime.load(), 0.105, 0.002);
  for (int i = 0; i < 300; ++i) Tick();
  EXPECT_EQ(Stab.StabValue.load(), -1);
}

TEST_F(StabilizerTest, AverageFallingBelowTheBandStepsUpRisingAboveStepsDown) {
  FillTo(Target);
  Tick();
  // The queue drops to 80 ms: the smoothed queue falls out of the band.
  Play(20);
  auto changes = TickFor(2000);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.front(), 1);
  for (int32_t c : changes) EXPECT_EQ(c, 1);

  // Now above the band: the corrections come back down, one unit per decision.
  FillTo(0.13);
  changes = TickFor(3000);
  ASSERT_FALSE(changes.empty());
  for (int32_t c : changes) EXPECT_EQ(c, -1);
  EXPECT_LT(Stab.StabValue.load(), 0);
}

TEST_F(StabilizerTest, ShrinkingCorrectionIsReleasedOnceTheQueueIsShort) {
  FillTo(0.2);
  Tick();
  ASSERT_EQ(Stab.StabValue.load(), -1);
  // The queue falls to just below the target (inside the band): the falling average with a
  // shrinking correction takes it back to 0, in one step.
  Play(105);
  ASSERT_LT(Player.QueuedTime.load(), Target);
  ASSERT_GT(Player.QueuedTime.load(), Target - TStabilizer::DeadBand);
  const auto changes = TickFor(200);
  EXPECT_EQ(changes, std::vector<int32_t>{1});
  EXPECT_EQ(Stab.StabValue.load(), 0);
  // A rising average below the band with no correction waits.
  FillTo(0.092);
  TickFor(1000);
  EXPECT_EQ(Stab.StabValue.load(), 0);
}

TEST_F(StabilizerTest, TrendsInsideTheBandTakeNoStep) {
  // Falling from above the target to just below it, never leaving the band.
  FillTo(0.104);
  TickFor(3000);
  ASSERT_EQ(Stab.StabValue.load(), 0);
  Play(5);
  ASSERT_LT(Player.QueuedTime.load(), Target);
  EXPECT_TRUE(TickFor(3000).empty()) << "a falling average inside the band";

  // Rising from below the target to above it, inside the band again.
  Play(5);
  ASSERT_GT(Player.QueuedTime.load(), Target - TStabilizer::DeadBand);
  TickFor(3000);
  ASSERT_EQ(Stab.StabValue.load(), 0);
  FillTo(0.104);
  ASSERT_LT(Player.QueuedTime.load(), Target + TStabilizer::DeadBand);
  EXPECT_TRUE(TickFor(3000).empty()) << "a rising average inside the band";
}

TEST_F(StabilizerTest, ACorrectionIsReleasedOnlyOnceTheQueueIsPastTheTarget) {
  // A target of exactly 21 blocks, so the queue can stand on it.
  const double block = Small / 176400.0;
  Player.BufferTime = 21 * block;
  for (int32_t correction : {-1, 1}) {
    SCOPED_TRACE(correction);
    // Start one block on the far side of the target, inside the band, and let the average settle.
    FillTo((correction < 0 ? 22 : 20) * block);
    TickFor(6000);
    ASSERT_EQ(Stab.StabValue.load(), 0);
    Stab.ChangeStab(correction);
    // The queue moves onto the target: the average moves towards it, but the queue is not past
    // it, so the correction stays.
    if (correction < 0)
      Play(5);
    else
      FillTo(21 * block);
    ASSERT_NEAR(Player.QueuedTime.load(), 21 * block, 1e-12);
    EXPECT_TRUE(TickFor(1000).empty());
    EXPECT_EQ(Stab.StabValue.load(), correction);
    Stab.StabValue = 0;
    Play(200);
  }
}

TEST_F(StabilizerTest, CorrectionResizesTheBlockByWholeFramesPerFiveMilliseconds) {
  Tick();
  Stab.StabValue = 3;
  EXPECT_EQ(Tick(10, 1760, 1), 1784u);
  Stab.StabValue = -2;
  EXPECT_EQ(Tick(10, 880, 0), 872u);
  Stab.StabValue = -1;
  EXPECT_EQ(Tick(10, 3520, 3), 3504u);
}

TEST_F(StabilizerTest, BlockTooShortForTheCorrectionIsLeftAloneAndSkipsTheTick) {
  Tick();
  Stab.StabValue = -300;
  const int64_t last = Stab.StabLastTime;
  EXPECT_EQ(Tick(10, 880, 0), 880u);
  EXPECT_EQ(Stab.StabLastTime, last);
  EXPECT_EQ(Stab.StabValue.load(), -300);
}

TEST_F(StabilizerTest, LongPauseResetsTheAverageToThePresentQueue) {
  FillTo(Target);
  Tick();
  Play(40);  // the queue is now 60 ms
  Tick(60000);
  EXPECT_NEAR(Stab.StabAverage, Player.QueuedTime.load(), 1e-9);
  EXPECT_EQ(Stab.StabValue.load(), 1);
}

TEST(StabilizerRules, IntervalBoundsAndEquality) {
  TManualClock clock;
  TSimWaveApi api{TSimTime::Manual, &clock};
  TWavePlayer player{api};
  TStabilizer stab{clock, player};
  stab.SetStabInterval(0);
  EXPECT_EQ(stab.StabInterval, 0.1);
  stab.SetStabInterval(7);
  EXPECT_EQ(stab.StabInterval, 5);
  stab.SetStabInterval(0.3);
  EXPECT_EQ(stab.StabInterval, 0.3);

  EXPECT_TRUE(TStabilizer::SameAverage(0, 0));
  EXPECT_TRUE(TStabilizer::SameAverage(0.1, 0.1 + 1e-14));
  EXPECT_TRUE(TStabilizer::SameAverage(0, 1e-12));
  EXPECT_FALSE(TStabilizer::SameAverage(0, 2e-12));
  EXPECT_FALSE(TStabilizer::SameAverage(0.1, 0.1 + 1e-12));
  EXPECT_TRUE(TStabilizer::SameAverage(5000.0, 5000.0 + 4e-9));
}

// The whole loop: an output running 1000 ppm fast drains the queue; the corrections keep it on
// target with no gap and nothing refused.
TEST(StabilizerLoop, HoldsTheQueueAgainstAFastOutput) {
  TManualClock clock;
  TSimWaveApi api{TSimTime::Manual, &clock};
  api.AddInput(Device("In"));
  api.AddOutput(Device("Out", 1000));
  TWavePlayer player{api};
  TWaveCapture capture{api};
  TStabilizer stab{clock, player};
  player.SampleRate = capture.SampleRate = Rate;
  player.BufferTime = Target;
  capture.BlockSize = Small;
  capture.SetBufferSize(player.SecondsToBytes(1.5 * Target));
  ASSERT_EQ(player.Open(), 0);
  ASSERT_EQ(capture.Open(), 0);
  capture.ProcessDone();
  int refused = 0;
  TWorkBlock work;
  work.Reserve(4 * Small);
  capture.OnData = [&](TWaveCapture*, const int16_t* data, int32_t size) {
    work.Load(data, size);
    stab.StabilyzerTick(work, 0);
    if (!player.AddBuffer(work.Data(), work.Size)) ++refused;
  };
  bool prefill = true;
  double worst = 0;
  // The output is open, and idle, while the first blocks are held back: that is no gap.
  double idleAtStart = 0;
  for (int pass = 0; pass < 30000; ++pass) {  // five minutes
    api.Advance(10);
    if (prefill) {
      if (player.BytesToSeconds(capture.ReadyBytes()) + 0.03 < Target) continue;
      prefill = false;
      idleAtStart = api.OutputStats(0).UnderrunMs;
    }
    capture.ProcessDone();
    player.ProcessDone();
    if (pass > 6000) worst = std::max(worst, std::abs(player.QueuedTime.load() - Target));
  }
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(api.OutputStats(0).UnderrunMs, idleAtStart);
  EXPECT_LT(worst, TStabilizer::DeadBand + 0.005 + 0.011);
  capture.Close();
  player.Close();
}

}  // namespace
