#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/Stabilizer.h"

namespace {

// Source frames numbered in both channels, so each output frame tells which one it came from.
std::vector<char> NumberedFrames(int32_t frames) {
  std::vector<int16_t> s(2 * frames);
  for (int32_t i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<int16_t>(i);
    s[2 * i + 1] = static_cast<int16_t>(-i - 1);
  }
  std::vector<char> b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

// The source frame each output frame holds; checks that left and right stayed together.
std::vector<int> SourceOf(const std::vector<char>& b) {
  std::vector<int16_t> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), s.size() * 2);
  std::vector<int> r;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    EXPECT_EQ(s[i + 1], -s[i] - 1) << "frame " << i / 2 << " mixes two source frames";
    r.push_back(s[i]);
  }
  return r;
}

struct TResample {
  std::vector<int> Repeated;
  std::vector<int> Skipped;
};

// Runs the resampler and checks what holds for any sizes: starts at frame 0, moves forward by
// at most maxJump frames, never past the last frame. Reports which frames were written twice or
// left out.
TResample Resample(int32_t sourceSize, int32_t destSize, int maxJump = 2) {
  const auto source = NumberedFrames(sourceSize / 4);
  std::vector<char> dest(destSize, 0x55);
  TStabilizer::BufferCombinize(dest.data(), source.data(), sourceSize, destSize);
  const auto of = SourceOf(dest);
  TResample r;
  EXPECT_EQ(of.size(), static_cast<size_t>(destSize / 4));
  if (of.empty()) return r;
  EXPECT_EQ(of.front(), 0);
  for (size_t i = 1; i < of.size(); ++i) {
    const int d = of[i] - of[i - 1];
    EXPECT_TRUE(d >= 0 && d <= maxJump) << "jump of " << d << " at " << i;
    if (d == 0) r.Repeated.push_back(of[i]);
    if (d == 2) r.Skipped.push_back(of[i] - 1);
  }
  EXPECT_LT(of.back(), sourceSize / 4);
  for (int f = of.back() + 1; f < sourceSize / 4; ++f) r.Skipped.push_back(f);
  return r;
}

TEST(BufferCombinize, LongerBlockRepeatsEvenlySpreadFrames) {
  const auto r = Resample(1760, 1784);
  EXPECT_EQ(r.Repeated, (std::vector<int>{0, 73, 146, 219, 293, 366}));
  EXPECT_TRUE(r.Skipped.empty());

  const auto one = Resample(880, 884);
  EXPECT_EQ(one.Repeated, std::vector<int>{0});
  EXPECT_TRUE(one.Skipped.empty());
}

TEST(BufferCombinize, ShorterBlockLeavesOutEvenlySpreadFrames) {
  const auto r = Resample(880, 872);
  EXPECT_EQ(r.Skipped, (std::vector<int>{110, 219}));
  EXPECT_TRUE(r.Repeated.empty());

  const auto big = Resample(3840, 3840 - 10 * 4);
  EXPECT_EQ(big.Skipped.size(), 10u);
}

TEST(BufferCombinize, SameSizeCopiesAndExtremeSizesStayInside) {
  const auto same = Resample(880, 880);
  EXPECT_TRUE(same.Repeated.empty());
  EXPECT_TRUE(same.Skipped.empty());
  // Far shorter or far longer: still only whole source frames from inside the block.
  Resample(880, 8, 110);
  EXPECT_EQ(Resample(8, 880).Repeated.size(), 218u);
  EXPECT_EQ(Resample(4, 400).Repeated.size(), 99u);
}

TEST(BufferCombinize, NoSourceFrameGivesSilence) {
  std::vector<char> dest(16, 0x55);
  const char half[2] = {1, 2};
  TStabilizer::BufferCombinize(dest.data(), half, 2, 16);
  EXPECT_EQ(dest, std::vector<char>(16, 0));
  TStabilizer::BufferCombinize(dest.data(), nullptr, 880, 16);
  EXPECT_EQ(dest, std::vector<char>(16, 0));
}

}  // namespace
