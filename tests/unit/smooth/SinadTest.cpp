#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/Sinad.h"

namespace {

std::vector<double> Sine(double frequency, double rate, double amplitude, size_t n,
                         double phase = 0.3, double offset = 0) {
  std::vector<double> x(n);
  for (size_t i = 0; i < n; ++i)
    x[i] = offset + amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate + phase);
  return x;
}

std::vector<int16_t> Quantized(const std::vector<double>& x) {
  std::vector<int16_t> q(x.size());
  for (size_t i = 0; i < x.size(); ++i) q[i] = static_cast<int16_t>(std::lround(x[i]));
  return q;
}

TEST(Sinad, CleanSineIsFoundWhereverItIs) {
  // Exact sines at frequencies off the one given (as after a rate correction) and near the ends
  // of the band: the fit finds them, so nothing is left over.
  for (double rate : {44100.0, 48000.0, 192000.0})
    for (double f : {50.0, 1000.0, 10000.0, 19000.0})
      for (double off : {-0.04, 0.0, 0.003}) {
        const auto x = Sine(f * (1 + off), rate, 0.8, static_cast<size_t>(rate), 1.1, 0.05);
        const auto r = MeasureSinad(x.data(), static_cast<int64_t>(x.size()), 1, rate, f);
        ASSERT_TRUE(r) << rate << " " << f << " " << off;
        EXPECT_GT(r->Db, 150) << rate << " " << f << " " << off;
        EXPECT_NEAR(r->Frequency, f * (1 + off), 1e-6 * f);
        EXPECT_NEAR(r->Amplitude, 0.8, 1e-9);
        EXPECT_NEAR(r->Offset, 0.05, 1e-9);
      }
}

TEST(Sinad, NoiseAtAKnownLevel) {
  std::mt19937 random(7);
  for (double snr : {20.0, 40.0, 60.0}) {
    // Sine power A^2/2 over noise power sigma^2.
    const double amplitude = 1.0;
    const double sigma = std::sqrt(amplitude * amplitude / 2 / std::pow(10.0, snr / 10));
    std::normal_distribution<double> noise(0, sigma);
    auto x = Sine(997, 48000, amplitude, 96000);
    for (double& v : x) v += noise(random);
    const auto r = MeasureSinad(x.data(), static_cast<int64_t>(x.size()), 1, 48000, 1000);
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->Db, snr, 0.5) << snr;
  }
}

TEST(Sinad, SixteenBitQuantisation) {
  // A sine of 32000 quantised to integers: 6.02 x 16 + 1.76 dB for full scale, less the
  // 0.21 dB it is below full scale.
  const auto x = Quantized(Sine(1000, 44100, 32000, 88200));
  const auto r = MeasureSinad(x.data(), static_cast<int64_t>(x.size()), 1, 44100, 1000);
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->Db, 98.09 - 0.21, 0.5);
}

TEST(Sinad, RepeatedFramesEvery220) {
  // What the block stabilizer does at one unit of correction: one frame in every 220 written
  // twice. Each repeat delays the rest by a frame; at 1 kHz and 44100 Hz the phase error,
  // uniform over one frame, gives (2 pi f / rate)^2 / 12 of the power: about 28 dB.
  const size_t frames = 88200;
  std::vector<int16_t> stereo;
  stereo.reserve(2 * frames + frames / 110);
  for (size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(std::lround(
        16000 * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(i) / 44100)));
    const int copies = i % 220 == 0 ? 2 : 1;
    for (int c = 0; c < copies; ++c) {
      stereo.push_back(v);
      stereo.push_back(v);
    }
  }
  const auto left =
      MeasureSinad(stereo.data(), static_cast<int64_t>(stereo.size() / 2), 2, 44100, 1000);
  const auto right =
      MeasureSinad(stereo.data() + 1, static_cast<int64_t>(stereo.size() / 2), 2, 44100, 1000);
  ASSERT_TRUE(left && right);
  const double expected = -10 * std::log10(std::pow(2 * std::numbers::pi * 1000 / 44100, 2) / 12);
  EXPECT_NEAR(left->Db, expected, 1.0);
  EXPECT_NEAR(left->Db, 28, 1.0);
  EXPECT_DOUBLE_EQ(left->Db, right->Db);
  // The repeats stretch the tone by 221/220.
  EXPECT_NEAR(left->Frequency, 1000 * 220.0 / 221, 0.05);
}

TEST(Sinad, WindowedFollowsAMovingFrequency) {
  // A tone whose frequency glides by 0.5 % over 10 s: one fit over the whole recording sees the
  // glide as distortion; fits over 0.1 s windows see only what the glide bends within one
  // window (a phase error of pi x 0.5 Hz/s x (0.05 s)^2, about -58 dB).
  const double rate = 48000;
  const size_t n = 480000;
  std::vector<int16_t> x(n);
  double phase = 0;
  for (size_t i = 0; i < n; ++i) {
    const double f = 1000 * (1 + 0.005 * static_cast<double>(i) / n);
    phase += 2 * std::numbers::pi * f / rate;
    x[i] = static_cast<int16_t>(std::lround(20000 * std::sin(phase)));
  }
  const auto whole = MeasureSinad(x.data(), static_cast<int64_t>(n), 1, rate, 1000);
  const auto windowed = MeasureSinadWindowed(x.data(), static_cast<int64_t>(n), 1, rate, 1000, 0.1);
  ASSERT_TRUE(whole && windowed);
  EXPECT_LT(whole->Db, 30);
  EXPECT_GT(windowed->Db, 55);
  EXPECT_NEAR(windowed->Frequency, 1005, 0.1);  // the last window's
  // The glide's range, each end seen by the window that holds it (centred 0.05 s from the end).
  EXPECT_NEAR(windowed->MinFrequency, 1000.025, 0.1);
  EXPECT_NEAR(windowed->MaxFrequency, 1004.975, 0.1);
  EXPECT_EQ(whole->MinFrequency, whole->Frequency);
  EXPECT_EQ(whole->MaxFrequency, whole->Frequency);
  EXPECT_NEAR(windowed->Amplitude, 20000, 2);
}

TEST(Sinad, WindowsWithoutAToneAreLeftOutOnlyWhenAskedTo) {
  // 1 s of tone at 48000 Hz with windows 2 to 4 (of ten 0.1 s windows) silent, as a dropout.
  auto x = Quantized(Sine(1000, 48000, 20000, 48000));
  std::fill(x.begin() + 9600, x.begin() + 24000, int16_t{0});
  const int64_t n = static_cast<int64_t>(x.size());
  EXPECT_FALSE(MeasureSinadWindowed(x.data(), n, 1, 48000, 1000, 0.1));
  int64_t empty = -1;
  const auto r = MeasureSinadWindowed(x.data(), n, 1, 48000, 1000, 0.1, &empty);
  ASSERT_TRUE(r);
  EXPECT_EQ(empty, 3);
  EXPECT_GT(r->Db, 85);  // the seven windows with the tone: rounding only
  EXPECT_NEAR(r->Amplitude, 20000, 2);
  // Nothing at all to measure: nothing, and every window counted.
  const std::vector<int16_t> silence(48000, 0);
  EXPECT_FALSE(MeasureSinadWindowed(silence.data(), 48000, 1, 48000, 1000, 0.1, &empty));
  EXPECT_EQ(empty, 10);
}

TEST(Sinad, NothingToMeasure) {
  const std::vector<double> silence(4800, 0.0);
  EXPECT_FALSE(MeasureSinad(silence.data(), 4800, 1, 48000, 1000));
  const auto x = Sine(1000, 48000, 1, 4800);
  EXPECT_FALSE(MeasureSinad(x.data(), 40, 1, 48000, 1000));     // too short
  EXPECT_FALSE(MeasureSinad(x.data(), 4800, 1, 48000, 30000));  // above half the rate
  EXPECT_FALSE(MeasureSinad(x.data(), 4800, 1, 48000, 5));      // under two periods
  EXPECT_FALSE(MeasureSinad(x.data(), 4800, 1, 0, 1000));
  EXPECT_FALSE(MeasureSinad(static_cast<const double*>(nullptr), 4800, 1, 48000, 1000));
  EXPECT_FALSE(MeasureSinad(x.data(), 4800, 0, 48000, 1000));
  EXPECT_TRUE(MeasureSinad(x.data(), 4800, 1, 48000, 1000));
}

}  // namespace
