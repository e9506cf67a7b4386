#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/StartTrim.h"

namespace {

constexpr int32_t Rate = 48000;
constexpr int32_t Block = 240;  // 5 ms
constexpr double Target = 0.1;
// Where a lagging output's pile is cut: a block short of twice the buffer.
constexpr double Limit = 2 * Target - 0.005;

TEST(StartTrimFrames, OnlyAnExcessBeyondTheTolerance) {
  EXPECT_EQ(StartTrimFrames(0.2, Target, Rate, 0.02), 4800);
  EXPECT_EQ(StartTrimFrames(0.125, Target, Rate, 0.02), 1200);
  EXPECT_EQ(StartTrimFrames(0.115, Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(0.05, Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(std::numeric_limits<double>::quiet_NaN(), Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(std::numeric_limits<double>::infinity(), Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(0.2, Target, 0, 0.02), 0);
}

// An output that has played its first block at 1000 ms and then kept pace, or not begun.
TOutputPace OutputAtPace(bool started) {
  TOutputPace pace;
  if (started) {
    pace.Played(0.01, 1000);
    pace.Played(0.5, 1000 + TOutputPace::WindowMs);
  }
  return pace;
}

// Takes one block from the trim and returns the frames left out.
int32_t Take(TStartTrim& trim, double queued, bool started, int32_t frames = Block) {
  return trim.Take(frames, queued, Target, Limit, Rate, OutputAtPace(started));
}

TEST(StartTrim, WaitsForTheOutputThenCutsThePileOnceInOnePiece) {
  TStartTrim trim;
  trim.Reset();
  // The output has not begun: audio piles up, nothing is left out yet.
  double queued = 0;
  for (int i = 0; i < 40; ++i, queued += 0.005) EXPECT_EQ(Take(trim, queued, false), 0);
  EXPECT_FALSE(trim.Decided());

  // Queued 0.202 s plus this block: 0.107 s too much, taken from this block on.
  const int64_t excess = std::llround((0.202 + 0.005 - Target) * Rate);
  int64_t dropped = 0;
  std::vector<int32_t> perBlock;
  for (int i = 0; i < 40; ++i) {
    const int32_t d = Take(trim, 0.202, true);
    EXPECT_NEAR(trim.PendingSeconds(Rate), static_cast<double>(excess - dropped - d) / Rate, 1e-12);
    dropped += d;
    perBlock.push_back(d);
  }
  EXPECT_TRUE(trim.Decided());
  EXPECT_EQ(dropped, excess);
  // Whole blocks first, then the start of one block, then nothing: a single cut.
  size_t i = 0;
  while (i < perBlock.size() && perBlock[i] == Block) ++i;
  ASSERT_LT(i, perBlock.size());
  EXPECT_GT(perBlock[i], 0);
  EXPECT_LT(perBlock[i], Block);
  for (++i; i < perBlock.size(); ++i) EXPECT_EQ(perBlock[i], 0);

  // The trim was once: a pile later in the session is the stabilizer's.
  EXPECT_EQ(Take(trim, 0.3, true), 0);
  EXPECT_EQ(trim.PendingSeconds(Rate), 0);
}

// The trim fed as the relay feeds it: a recorded block every 5 ms, and the output handing back
// 5 ms blocks at the given speed (1: real time).
class TFeed {
 public:
  TFeed() {
    Trim.Reset();
    Pace.Played(0.005, Now);  // the output has begun
  }
  // ms of blocks with the queue (before each block) reading queued, less what has been left out
  // meanwhile. Returns the frames left out.
  int64_t Run(uint64_t ms, double queued, double speed = 1) {
    int64_t dropped = 0;
    for (uint64_t t = 0; t < ms; t += 5) {
      Now += 5;
      for (Owed += speed * 0.005; Owed > 0.0049; Owed -= 0.005) Pace.Played(0.005, Now);
      const double reading = queued - static_cast<double>(dropped) / Rate;
      dropped += Trim.Take(Block, reading, Target, Limit, Rate, Pace);
    }
    return dropped;
  }
  TStartTrim Trim;
  TOutputPace Pace;

 private:
  uint64_t Now = 1000;
  double Owed = 0;
};

TEST(StartTrim, MeasuresOnceTheOutputKeepsPaceAndNotBefore) {
  TFeed feed;
  // While the output lags, even 50 ms over the target (with the block) waits.
  EXPECT_EQ(feed.Run(400, Target + 0.045, 0.8), 0);
  EXPECT_FALSE(feed.Trim.Decided());
  // Once it keeps pace, the queue is measured and anything beyond 5 ms is left out, at once.
  EXPECT_EQ(feed.Run(TOutputPace::WindowMs + 100, Target + 0.002), std::llround(0.007 * Rate));
  EXPECT_TRUE(feed.Trim.Decided());
  EXPECT_EQ(feed.Run(3000, Target + 0.03), 0);
  // After a later spell behind, a pile short of the limit waits until the output has kept pace
  // for SettleWindows, and then only what is beyond the coarser tolerance is cut.
  EXPECT_EQ(feed.Run(400, Target + 0.05, 0.8), 0);
  EXPECT_FALSE(feed.Trim.Decided());
  EXPECT_EQ(feed.Run(TStartTrim::SettleWindows * TOutputPace::WindowMs - 100, Target + 0.05), 0);
  EXPECT_EQ(feed.Run(700, Target + 0.05), std::llround(0.055 * Rate));
  EXPECT_EQ(feed.Run(400, Target + 0.01, 0.8), 0);
  EXPECT_EQ(feed.Run(3000, Target + 0.01), 0);
  EXPECT_TRUE(feed.Trim.Decided());
}

TEST(StartTrim, ABurstOfLateMarksDoesNotMoveTheMeasure) {
  TFeed feed;
  EXPECT_EQ(feed.Run(400, Target + 0.045, 0.8), 0);
  // Around the end of the window that shows the output at pace (405 ms into it), the queue reads
  // 60 ms long for 250 ms: marks that came late and then together. The queue is measured at what
  // the window mostly read.
  int64_t dropped = feed.Run(300, Target + 0.002);
  dropped += feed.Run(250, Target + 0.062);
  EXPECT_TRUE(feed.Trim.Decided());
  dropped += feed.Run(TOutputPace::WindowMs, Target + 0.002);
  EXPECT_EQ(dropped, std::llround(0.007 * Rate));
}

TEST(StartTrim, AQueueNearItsTargetIsLeftAlone) {
  TStartTrim trim;
  trim.Reset();
  EXPECT_EQ(Take(trim, Target - 0.03, true), 0);
  EXPECT_TRUE(trim.Decided());
  EXPECT_EQ(Take(trim, 0.25, true), 0);
}

TEST(StartTrim, ResetArmsItForTheNextSession) {
  TStartTrim trim;
  trim.Reset();
  // Queued with the block 3 ms over the target: within the start's tolerance.
  EXPECT_EQ(Take(trim, Target - 0.002, true), 0);
  trim.Reset();
  EXPECT_FALSE(trim.Decided());
  EXPECT_EQ(Take(trim, 0.2, true), Block);
  // A session that ends halfway through its trim leaves nothing for the next.
  trim.Reset();
  EXPECT_EQ(trim.PendingSeconds(Rate), 0);
  EXPECT_EQ(Take(trim, Target - 0.005, true), 0);
  EXPECT_EQ(Take(trim, 0, true, 0), 0);
}

TEST(OutputPace, KeepsPaceWhileAWholeWindowPlaysNearlyItsTime) {
  TOutputPace pace;
  pace.Reset();
  EXPECT_FALSE(pace.Started());
  // The first block marks the start; what it played came before.
  pace.Played(0.5, 1000);
  EXPECT_TRUE(pace.Started());
  EXPECT_FALSE(pace.Keeping());
  // Two thirds of real time, 15 ms blocks every 22 ms: window after window falls short.
  uint64_t now = 1000;
  for (int i = 0; i < 100; ++i) {
    now += 22;
    pace.Played(0.015, now);
  }
  EXPECT_FALSE(pace.Keeping());
  // At pace, even with the done marks of two blocks seen together: keeping within two windows,
  // and from then on.
  const uint64_t paced = now;
  for (int i = 0; i < 70 && !pace.Keeping(); ++i) {
    now += 30;
    pace.Played(0.030, now);
  }
  EXPECT_TRUE(pace.Keeping());
  EXPECT_LE(now - paced, 2 * TOutputPace::WindowMs + 100);
  for (int i = 0; i < 100; ++i) {
    pace.Played(0.030, now += 30);
    ASSERT_TRUE(pace.Keeping()) << i;
  }
  EXPECT_GE(pace.WindowsKept(), 5u);
  // Falling behind later shows within two windows; so does an output that plays nothing for a
  // while and then a block.
  const uint64_t slowed = now;
  while (pace.Keeping() && now - slowed < 2000) pace.Played(0.015, now += 25);
  EXPECT_FALSE(pace.Keeping());
  EXPECT_EQ(pace.WindowsKept(), 0u);
  EXPECT_LE(now - slowed, 2 * TOutputPace::WindowMs + 100);
  for (int i = 0; i < 40; ++i) pace.Played(0.030, now += 30);
  EXPECT_TRUE(pace.Keeping());
  pace.Played(0.030, now += 800);
  EXPECT_FALSE(pace.Keeping());
  pace.Reset();
  EXPECT_FALSE(pace.Started());
  EXPECT_FALSE(pace.Keeping());
}

TEST(StartTrim, WhileTheOutputLagsOnlyAPileAtThePlayersLimitIsCut) {
  TStartTrim trim;
  trim.Reset();
  TOutputPace pace;
  pace.Played(0.005, 1000);  // begun, not yet keeping pace
  // Late done marks make a queue read high that is not: it waits for the output to keep pace.
  EXPECT_EQ(trim.Take(Block, Limit - 0.006, Target, Limit, Rate, pace), 0);
  // With the block just over the limit: cut back to the target, in one piece.
  const double over = Limit - 0.004;
  const int64_t first = std::llround((over + 0.005 - Target) * Rate);
  int64_t dropped = trim.Take(Block, over, Target, Limit, Rate, pace);
  EXPECT_EQ(dropped, Block);
  // While the cut is under way the queue still reads high: the excess is counted once.
  while (trim.PendingSeconds(Rate) > 0) {
    const double pending = trim.PendingSeconds(Rate);
    const int32_t d = trim.Take(Block, over, Target, Limit, Rate, pace);
    EXPECT_NEAR(trim.PendingSeconds(Rate), pending - static_cast<double>(d) / Rate, 1e-12);
    dropped += d;
  }
  EXPECT_EQ(dropped, first);
  EXPECT_FALSE(trim.Decided());
}

TEST(StartTrim, AtPaceAPileIsTheStabilizersUntilTheOutputLagsAgain) {
  TFeed feed;
  EXPECT_EQ(feed.Run(TOutputPace::WindowMs + 100, Target - 0.002), 0);
  EXPECT_TRUE(feed.Trim.Decided());
  // At pace, even a pile at the limit is left to the stabilizer.
  EXPECT_EQ(feed.Run(1000, Limit), 0);
  // Lagging, a pile at the limit is cut back to the target; one short of it is not.
  EXPECT_EQ(feed.Run(400, Target + 0.05, 0.5), 0);
  EXPECT_EQ(feed.Run(200, Limit, 0.5), std::llround((Limit + 0.005 - Target) * Rate));
}

}  // namespace
