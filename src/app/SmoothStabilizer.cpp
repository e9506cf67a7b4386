#include "app/SmoothStabilizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "wave/WaveFormat.h"

bool TSmoothStabilizer::Reset(int32_t rate) {
  Rate = rate;
  First = true;
  Average = 0;
  NearAverage = 0;
  Integral = 0;
  LastExcess = 0;
  Correction.store(0, std::memory_order_relaxed);
  return Resampler.Start(rate);
}

int32_t TSmoothStabilizer::Process(const int16_t* in, int32_t inFrames, int16_t* out,
                                   int32_t outCapacity, double queuedSeconds, double targetSeconds,
                                   bool steer) {
  if (!in || !out || inFrames <= 0 || outCapacity <= 0) return 0;
  if (!Resampler.Started()) {
    // No resampler (its allocation failed): the audio goes on uncorrected.
    const int32_t n = std::min(inFrames, outCapacity);
    std::memcpy(out, in, static_cast<size_t>(n) * FrameBytes);
    return n;
  }

  const double dt = static_cast<double>(inFrames) / Rate;
  const double block = dt * Resampler.Ratio();
  const double queued = queuedSeconds + block * (1 - Tuning.BlockOffset);
  if (steer && std::isfinite(queued) && std::isfinite(targetSeconds)) {
    if (First) {
      Average = NearAverage = queued;
    } else {
      Average += (1 - std::exp(-dt / Tuning.AverageSeconds)) * (queued - Average);
      NearAverage += (1 - std::exp(-dt / Tuning.NearAverageSeconds)) * (queued - NearAverage);
    }
    First = false;

    // Positive errors: too little queued, stretch.
    const double error = targetSeconds - Average;
    const double band = Tuning.FarBandBlocks * block + Tuning.FarBandMargin;
    const double excess = std::max(0.0, std::fabs(error) - band);
    const double nearError = std::clamp(targetSeconds - NearAverage, -band, band);
    const double proportional =
        Tuning.NearGain * nearError + std::copysign(Tuning.FarGain * excess, error);
    const double bound = TResampler::MaxDeviation;
    // The integral only moves while the correction is not held at the bound in the same
    // direction, so it does not wind up during a long correction at the bound.
    const double unbounded = proportional + Integral;
    if ((unbounded < bound || error < 0) && (unbounded > -bound || error > 0)) {
      // Far from the target the integral grows only while the excess does: once the
      // proportional part brings the queue back, more integral would only overshoot and leave a
      // wrong drift behind for the gentle near loop to unlearn.
      const double growing = excess > 0 && excess >= LastExcess ? excess : 0;
      const double step =
          Tuning.IntegralGain * nearError + std::copysign(Tuning.FarIntegralGain * growing, error);
      Integral = std::clamp(Integral + step * dt, -bound, bound);
    }
    LastExcess = excess;
    const double wanted = 1 + std::clamp(proportional + Integral, -bound, bound);
    double ratio = Resampler.Ratio();
    if (excess > 0 || std::fabs(wanted - ratio) > Tuning.StepHold / TResampler::Denominator)
      ratio = Resampler.SetRatio(wanted);
    Correction.store((ratio - 1) * 1e6, std::memory_order_relaxed);
  }

  int32_t consumed = 0;
  return Resampler.Process(in, inFrames, out, outCapacity, consumed);
}

int32_t StabGaugeValue(double ppm) {
  if (!std::isfinite(ppm)) return 0;
  return static_cast<int32_t>(std::lround(std::clamp(ppm / PpmPerGaugeUnit, -20.0, 20.0)));
}

std::string StabPpmText(double ppm) {
  const long long rounded = std::isfinite(ppm) ? std::llround(ppm) : 0;
  if (rounded == 0) return "Normal";
  char text[32];
  std::snprintf(text, sizeof text, "%+lld ppm", rounded);
  return text;
}
