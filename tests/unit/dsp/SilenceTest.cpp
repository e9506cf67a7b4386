#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "dsp/FSilence.h"
#include "wave/WaveFormat.h"

namespace {

constexpr int32_t Rate = 44100;
constexpr int32_t TenMs = 441 * 4;  // bytes of 10 ms of stereo frames

// A 10 ms block whose peak is at the given level in dB (a single sample carries the peak).
std::vector<int16_t> BlockAt(double db) {
  std::vector<int16_t> b(TenMs / 2, 0);
  b[7] = static_cast<int16_t>(-std::lround(32768.0 * std::pow(10.0, db / 20.0)));
  return b;
}

struct TFound {
  int Block;
  uint8_t Mode;
};

class SilenceTest : public ::testing::Test {
 protected:
  SilenceTest() {
    Det.OnFound = [this](TSilence* s, uint8_t mode) {
      EXPECT_EQ(s, &Det);
      Found.push_back({Fed, mode});
    };
  }

  void Feed(double db, int blocks) {
    const auto b = BlockAt(db);
    for (int i = 0; i < blocks; ++i) {
      ++Fed;
      Det.Feed(b.data(), TenMs, Rate);
    }
  }

  TSilence Det;
  std::vector<TFound> Found;
  int Fed = 0;
};

TEST_F(SilenceTest, SilenceIsFoundAfterItsTimeAndRepeatsUntilReArmed) {
  Det.Arm(1, 5, -36);
  Feed(-40, 499);
  EXPECT_TRUE(Found.empty());
  EXPECT_NEAR(Det.Counter(), 4.99, 1e-9);
  // 500 blocks of 10 ms; summing 0.01 in binary may need one block more.
  Feed(-40, 2);
  ASSERT_EQ(Found.size(), 1u);
  EXPECT_EQ(Found[0].Mode, 1);
  EXPECT_LE(Det.Counter(), 0.01 + 1e-9);
  EXPECT_EQ(Det.Mode(), 1);
  Feed(-40, 501);
  ASSERT_EQ(Found.size(), 2u);
  EXPECT_NEAR(Found[1].Block - Found[0].Block, 500, 1);
}

TEST_F(SilenceTest, ShortInterruptionDelaysTheCountInsteadOfRestartingIt) {
  Det.Arm(1, 5, -36);
  Feed(-40, 300);
  EXPECT_NEAR(Det.Counter(), 3.0, 1e-9);
  Feed(-20, 100);
  EXPECT_NEAR(Det.Counter(), 2.0, 1e-9);
  Feed(-40, 298);
  EXPECT_TRUE(Found.empty());
  Feed(-40, 3);
  ASSERT_EQ(Found.size(), 1u);
  EXPECT_NEAR(Found[0].Block, 700, 1);  // 7 s after the start
}

TEST_F(SilenceTest, CounterNeverGoesBelowZero) {
  Det.Arm(2, 1, -36);
  Feed(-60, 300);
  EXPECT_EQ(Det.Counter(), 0);
  Feed(-10, 100);
  ASSERT_EQ(Found.size(), 1u);
  EXPECT_EQ(Found[0].Mode, 2);
  EXPECT_EQ(Found[0].Block, 400);
}

TEST_F(SilenceTest, BlockExactlyAtTheThresholdCountsAgainstTheSoughtCondition) {
  const std::vector<int16_t> b = {1000, -1001, 0, 0};
  const double at = PeakLevel(1000);
  Det.Arm(1, 1, at);
  Det.Feed(b.data(), 8, Rate);
  EXPECT_EQ(Det.LastLevel(), at);
  EXPECT_EQ(Det.Counter(), 0);
  Det.Arm(2, 1, at);
  Det.Feed(b.data(), 8, Rate);
  EXPECT_EQ(Det.Counter(), 0);
  // One step louder is sound, one step quieter is silence.
  Det.Arm(2, 1, PeakLevel(999));
  Det.Feed(b.data(), 8, Rate);
  EXPECT_GT(Det.Counter(), 0);
  Det.Arm(1, 1, PeakLevel(1001));
  Det.Feed(b.data(), 8, Rate);
  EXPECT_GT(Det.Counter(), 0);
}

TEST_F(SilenceTest, OffWhenTimeIsNotPositive) {
  const double nan = std::nan("");
  for (double t : {0.0, -3.0, nan}) {
    Det.Arm(2, t, -36);
    EXPECT_EQ(Det.Mode(), 0);
    EXPECT_EQ(Det.Time(), 0);
    Feed(-10, 200);
    EXPECT_EQ(Det.Counter(), 0);
  }
  EXPECT_TRUE(Found.empty());
}

TEST_F(SilenceTest, AnyOtherModeWaitsForSoundAndReportsItsMode) {
  Det.Arm(7, 0.05, -36);
  Feed(-40, 10);
  EXPECT_TRUE(Found.empty());
  Feed(-10, 5);
  ASSERT_EQ(Found.size(), 1u);
  EXPECT_EQ(Found[0].Mode, 7);
}

TEST_F(SilenceTest, BadBlocksAreMeasuredButNotCounted) {
  Det.Arm(1, 0.001, -36);
  const auto b = BlockAt(-60);
  Det.Feed(b.data(), TenMs, 0);
  Det.Feed(b.data(), -4, Rate);
  Det.Feed(nullptr, TenMs, Rate);
  EXPECT_EQ(Det.Counter(), 0);
  EXPECT_TRUE(Found.empty());
  // An odd size looks at whole samples only; the half sample is not read.
  const std::vector<int16_t> odd = {5, 30000};
  Det.Feed(odd.data(), 3, Rate);
  EXPECT_EQ(Det.LastLevel(), PeakLevel(5));
}

// Feed runs on the relay thread while the main thread re-arms: a re-arm must never be undone by a
// block that was being fed at that moment.
TEST(SilenceThreads, ReArmWhileFeedingIsNeverLost) {
  TSilence det;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> fed{0};
  std::thread relay([&] {
    const auto b = BlockAt(-60);
    while (!stop) {
      det.Feed(b.data(), TenMs, Rate);
      ++fed;
    }
  });
  int lost = 0;
  for (int i = 0; i < 20000; ++i) {
    det.Arm(0, 0, 0);
    det.Arm(1, 1000, -36);
    const uint64_t seen = fed.load();
    while (fed.load() < seen + 2) std::this_thread::yield();
    lost += det.Mode() != 1;
  }
  stop = true;
  relay.join();
  EXPECT_EQ(lost, 0);
}

TEST_F(SilenceTest, LevelsOfSilenceAndFullScale) {
  Det.Arm(1, 1, -36);
  const std::vector<int16_t> zeros(8, 0);
  Det.Feed(zeros.data(), 16, Rate);
  EXPECT_EQ(Det.LastLevel(), -90.3);
  const std::vector<int16_t> full = {0, 0, 0, -32768};
  Det.Feed(full.data(), 8, Rate);
  EXPECT_LT(Det.LastLevel(), 0);
  EXPECT_GT(Det.LastLevel(), -0.001);
}

}  // namespace
