#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "Allocations.h"
#include "dsp/Resampler.h"
#include "dsp/Sinad.h"

namespace {

constexpr double Step = 1.0 / TResampler::Denominator;

// Stereo frames of a sine, the same on both channels.
std::vector<int16_t> Tone(double frequency, int32_t rate, int32_t frames, double amplitude) {
  std::vector<int16_t> x(2 * static_cast<size_t>(frames));
  for (int32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    x[2 * i] = x[2 * i + 1] = v;
  }
  return x;
}

// Runs input through in blocks of block frames, setting the ratio before each block.
template <typename TRatio>
std::vector<int16_t> Resample(TResampler& r, const std::vector<int16_t>& input, int32_t block,
                              TRatio ratioOf) {
  std::vector<int16_t> output;
  std::vector<int16_t> out(2 * static_cast<size_t>(TResampler::OutputCapacity(block)));
  const auto frames = static_cast<int32_t>(input.size() / 2);
  for (int32_t at = 0, k = 0; at < frames; at += block, ++k) {
    r.SetRatio(ratioOf(k));
    const int32_t n = std::min(block, frames - at);
    int32_t consumed = 0;
    const int32_t written =
        r.Process(input.data() + 2 * at, n, out.data(), TResampler::OutputCapacity(n), consumed);
    EXPECT_EQ(consumed, n);
    output.insert(output.end(), out.begin(), out.begin() + 2 * written);
  }
  return output;
}

TEST(Resampler, RatioStaysWithinTheBoundInSmallSteps) {
  TResampler r;
  ASSERT_TRUE(r.Start(44100));
  EXPECT_EQ(r.Ratio(), 1.0);
  EXPECT_NEAR(r.SetRatio(1.5), 1 + TResampler::MaxDeviation, Step);
  EXPECT_LE(r.Ratio(), 1 + TResampler::MaxDeviation + Step);
  EXPECT_NEAR(r.SetRatio(0.2), 1 - TResampler::MaxDeviation, Step);
  EXPECT_GE(r.Ratio(), 1 - TResampler::MaxDeviation - Step);
  EXPECT_NEAR(r.SetRatio(INFINITY), 1 + TResampler::MaxDeviation, Step);
  EXPECT_NEAR(r.SetRatio(-INFINITY), 1 - TResampler::MaxDeviation, Step);
  EXPECT_NEAR(r.SetRatio(1.0023), 1.0023, Step);
  const double before = r.Ratio();
  EXPECT_EQ(r.SetRatio(NAN), before);
  EXPECT_EQ(r.SetRatio(1 + Step / 10), 1.0);
}

TEST(Resampler, StepRatioIsTheNeighbouringStepAndPassesOverOne) {
  TResampler r;
  ASSERT_TRUE(r.Start(44100));
  // Before any audio, 1 itself is a ratio like any other.
  EXPECT_NEAR(r.StepRatio(1), 1 + Step, Step * 1e-3);
  EXPECT_NEAR(r.StepRatio(-1), 1 - Step, Step * 1e-3);
  EXPECT_EQ(r.StepRatio(0), 1.0);
  const double up = r.SetRatio(r.StepRatio(1));
  EXPECT_GT(up, 1.0);
  EXPECT_LT(up, 1 + 1.5 * Step);
  std::vector<int16_t> in(2 * 220, 0), out(2 * TResampler::OutputCapacity(220));
  int32_t consumed = 0;
  r.Process(in.data(), 220, out.data(), TResampler::OutputCapacity(220), consumed);
  // Once audio has passed, the step below the one above 1 is the one below 1.
  const double down = r.StepRatio(-1);
  EXPECT_LT(down, 1.0);
  EXPECT_GT(down, 1 - 1.5 * Step);
  EXPECT_EQ(r.SetRatio(down), down);
  // At the bound there is no step further out.
  const double top = r.SetRatio(2.0);
  EXPECT_EQ(r.StepRatio(1), top);
  EXPECT_LT(r.StepRatio(-1), top);
  const double bottom = r.SetRatio(0.5);
  EXPECT_EQ(r.StepRatio(-1), bottom);
}

TEST(Resampler, EveryInputFrameIsUsedAndTheOutputFollowsTheRatio) {
  // Blocks of 220 +- 1 frames at a ratio that changes every block: each block gives its frames
  // times the ratio, a frame more or less as the fractional position carries over, and the
  // running total never drifts from the input times the ratios (less the filter's delay).
  std::mt19937 random(3);
  std::uniform_real_distribution<double> ratioOf(0.99, 1.01);
  TResampler r;
  ASSERT_TRUE(r.Start(44100));
  std::vector<int16_t> in(2 * 221, 1000), out(2 * TResampler::OutputCapacity(221));
  double expected = -r.LatencyFrames();
  int64_t total = 0;
  for (int k = 0; k < 5000; ++k) {
    const int32_t frames = 219 + k % 3;
    const double ratio = r.SetRatio(ratioOf(random));
    int32_t consumed = 0;
    const int32_t n =
        r.Process(in.data(), frames, out.data(), TResampler::OutputCapacity(frames), consumed);
    ASSERT_EQ(consumed, frames);
    if (k > 0) {
      ASSERT_GE(n, std::floor(frames * ratio) - 1) << k;
      ASSERT_LE(n, std::ceil(frames * ratio) + 1) << k;
    }
    expected += frames * ratio;
    total += n;
    ASSERT_NEAR(static_cast<double>(total), expected, 2.0) << k;
  }
}

TEST(Resampler, OutputTooShortKeepsTheRestForTheNextCall) {
  const auto input = Tone(1000, 48000, 480, 10000);
  TResampler whole, parts;
  ASSERT_TRUE(whole.Start(48000));
  ASSERT_TRUE(parts.Start(48000));
  whole.SetRatio(1.004);
  parts.SetRatio(1.004);
  std::vector<int16_t> a(2 * 600), b(2 * 600);
  int32_t consumed = 0;
  const int32_t n = whole.Process(input.data(), 480, a.data(), 600, consumed);
  ASSERT_EQ(consumed, 480);

  const int32_t first = parts.Process(input.data(), 480, b.data(), 100, consumed);
  EXPECT_EQ(first, 100);
  ASSERT_LT(consumed, 480);
  int32_t rest = 0;
  const int32_t second =
      parts.Process(input.data() + 2 * consumed, 480 - consumed, b.data() + 2 * first, 500, rest);
  EXPECT_EQ(consumed + rest, 480);
  ASSERT_EQ(first + second, n);
  EXPECT_EQ(std::vector<int16_t>(a.begin(), a.begin() + 2 * n),
            std::vector<int16_t>(b.begin(), b.begin() + 2 * n));
}

TEST(Resampler, StartForgetsTheLastSession) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int> sample(-30000, 30000);
  std::vector<int16_t> noise(2 * 44100);
  for (auto& s : noise) s = static_cast<int16_t>(sample(random));
  const auto tone = Tone(440, 44100, 22050, 12000);

  TResampler used;
  ASSERT_TRUE(used.Start(44100));
  Resample(used, noise, 441, [](int) { return 1.008; });
  ASSERT_TRUE(used.Start(44100));
  EXPECT_EQ(used.Ratio(), 1.0);
  TResampler fresh;
  ASSERT_TRUE(fresh.Start(44100));
  EXPECT_EQ(Resample(used, tone, 441, [](int) { return 1.0; }),
            Resample(fresh, tone, 441, [](int) { return 1.0; }));
}

TEST(Resampler, NothingIsAllocatedOnceStarted) {
  TResampler r;
  const uint64_t beforeStart = CAllocations();
  ASSERT_TRUE(r.Start(48000));
  // The counter sees the library: starting allocates.
  EXPECT_GT(CAllocations(), beforeStart);

  std::vector<int16_t> in(2 * 960, 500), out(2 * TResampler::OutputCapacity(960));
  const uint64_t started = CAllocations();
  int32_t consumed = 0;
  // Every ratio step across the whole bound and back, the extremes, exactly 1, and a
  // ratio moving every block.
  for (int pass = 0; pass < 2; ++pass)
    for (int i = -700; i <= 700; ++i) {
      r.SetRatio(1 + (pass == 0 ? i : -i) * Step);
      r.Process(in.data(), 960, out.data(), TResampler::OutputCapacity(960), consumed);
    }
  for (double ratio : {0.99, 1.01, 1.0, 0.5, 2.0, 1.0, 1.00001}) {
    r.SetRatio(ratio);
    r.Process(in.data(), 960, out.data(), TResampler::OutputCapacity(960), consumed);
  }
  EXPECT_EQ(CAllocations(), started);
}

TEST(Resampler, LongerOutputLowersTheTone) {
  // Stretching by 0.5 % spreads a 1 kHz tone over 0.5 % more frames.
  const auto input = Tone(1000, 44100, 88200, 16000);
  TResampler r;
  ASSERT_TRUE(r.Start(44100));
  const auto out = Resample(r, input, 220, [](int) { return 1.005; });
  const auto left =
      MeasureSinad(out.data() + 4000, static_cast<int64_t>(out.size() / 2) - 4000, 2, 44100, 1000);
  ASSERT_TRUE(left);
  EXPECT_NEAR(left->Frequency, 1000 / 1.005, 0.01);
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 88200 * 1.005, 50);
}

TEST(Resampler, CleanAtAnyRatioWithinTheBound) {
  // A tone 0.9 of full scale; 16 bits at the input and again at the output cap the figure near
  // 95 dB.
  for (int32_t rate : {44100, 48000})
    for (double frequency : {1000.0, 10000.0})
      for (double ratio : {0.995, 1.0, 1.0037}) {
        const auto input = Tone(frequency, rate, rate * 2, 29491);
        TResampler r;
        ASSERT_TRUE(r.Start(rate));
        const auto out = Resample(r, input, rate / 200, [&](int) { return ratio; });
        const int64_t skip = 2000;  // the filter's start
        const auto m =
            MeasureSinad(out.data() + 2 * skip, static_cast<int64_t>(out.size() / 2) - 2 * skip, 2,
                         rate, frequency);
        ASSERT_TRUE(m);
        EXPECT_GE(m->Db, frequency < 5000 ? 90 : 70) << rate << " " << frequency << " " << ratio;
      }
}

TEST(Resampler, ChangingTheRatioKeepsThePosition) {
  // The ratio moves between neighbouring steps, through 1 and back, every half second: the
  // frequency moves by a few ppm, but the position within a frame must not jump at a change.
  // Fits over 20 ms windows follow the frequency, so only a jump would show.
  const int32_t rate = 48000;
  const auto input = Tone(1000, rate, rate * 4, 29491);
  TResampler r;
  ASSERT_TRUE(r.Start(rate));
  const double ratios[] = {1.0, 1.0 + Step, 1.0, 1.0 - Step, 1.0, 1.0 - 2 * Step, 1.0};
  const auto out = Resample(r, input, rate / 200, [&](int k) { return ratios[(k / 100) % 7]; });
  const int64_t skip = 2000;
  const auto m = MeasureSinadWindowed(
      out.data() + 2 * skip, static_cast<int64_t>(out.size() / 2) - 2 * skip, 2, rate, 1000, 0.02);
  ASSERT_TRUE(m);
  EXPECT_GE(m->Db, 90);
}

TEST(Resampler, UnstartedGivesNothing) {
  TResampler r;
  EXPECT_FALSE(r.Started());
  std::vector<int16_t> in(2 * 100, 1), out(2 * 200);
  int32_t consumed = 7;
  EXPECT_EQ(r.Process(in.data(), 100, out.data(), 200, consumed), 0);
  EXPECT_EQ(consumed, 0);
  EXPECT_FALSE(r.Start(0));
  EXPECT_FALSE(r.Started());
  EXPECT_EQ(r.LatencyFrames(), 0);
}

}  // namespace
