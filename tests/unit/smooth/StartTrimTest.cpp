#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/StartTrim.h"

namespace {

constexpr int32_t Rate = 48000;
constexpr int32_t Block = 240;  // 5 ms
constexpr double Target = 0.1;

TEST(StartTrimFrames, OnlyAnExcessBeyondTheTolerance) {
  EXPECT_EQ(StartTrimFrames(0.2, Target, Rate, 0.02), 4800);
  EXPECT_EQ(StartTrimFrames(0.125, Target, Rate, 0.02), 1200);
  EXPECT_EQ(StartTrimFrames(0.115, Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(0.05, Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(std::numeric_limits<double>::quiet_NaN(), Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(std::numeric_limits<double>::infinity(), Target, Rate, 0.02), 0);
  EXPECT_EQ(StartTrimFrames(0.2, Target, 0, 0.02), 0);
}

// Takes one block from the trim and returns the frames left out.
int32_t Take(TStartTrim& trim, double queued, bool started, int32_t frames = Block) {
  return trim.Take(frames, queued, Target, Rate, started);
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
  EXPECT_EQ(Take(trim, 0.11, true), 0);  // within the tolerance
  trim.Reset();
  EXPECT_FALSE(trim.Decided());
  EXPECT_EQ(Take(trim, 0.2, true), Block);
  // A session that ends halfway through its trim leaves nothing for the next.
  trim.Reset();
  EXPECT_EQ(trim.PendingSeconds(Rate), 0);
  EXPECT_EQ(Take(trim, Target, true), 0);
  EXPECT_EQ(Take(trim, 0, true, 0), 0);
}

}  // namespace
