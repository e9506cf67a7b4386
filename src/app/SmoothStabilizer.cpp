#include "app/SmoothStabilizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "wave/WaveFormat.h"

bool TSmoothStabilizer::Reset(int32_t rate) {
  Rate = rate;
  First = true;
  Observed = false;
  Average = 0;
  Integral = 0;
  Learnt = 0;
  LastExcess = 0;
  Near = false;
  Settling = false;
  RestartWindows();
  Correction.store(0, std::memory_order_relaxed);
  return Resampler.Start(rate);
}

void TSmoothStabilizer::UpdateAverages(double q, double seconds) {
  if (First) {
    Average = q;
    First = false;
    return;
  }
  if (!(seconds > 0)) return;
  Average += (1 - std::exp(-seconds / Tuning.AverageSeconds)) * (q - Average);
  WindowSum += q * seconds;
  WindowTime += seconds;
}

void TSmoothStabilizer::Observe(double queuedSeconds, double seconds, bool steer) {
  if (!steer || !std::isfinite(queuedSeconds) || !Resampler.Started()) return;
  Observed = true;
  UpdateAverages(queuedSeconds, seconds);
}

void TSmoothStabilizer::QueueCut() {
  // A second cut while settling keeps what was known before the first.
  if (!Settling) Learnt = Integral;
  First = true;
  Settling = true;
  Near = false;
  RestartWindows();
}

void TSmoothStabilizer::RestartWindows() {
  WindowSum = 0;
  WindowTime = 0;
  Windows = 0;
  LastLevel = 0;
  Slopes = {};
  FirstError = 0;
}

void TSmoothStabilizer::SteerNear(double targetSeconds) {
  if (WindowTime < Tuning.WindowSeconds) return;
  const double span = WindowTime;
  const double level = WindowSum / span;
  WindowSum = 0;
  WindowTime = 0;
  if (++Windows > 1) {
    Slopes[2] = Slopes[1];
    Slopes[1] = Slopes[0];
    Slopes[0] = (level - LastLevel) / span;
  }
  LastLevel = level;
  const double error = targetSeconds - level;
  if (Windows == 1) FirstError = error;
  if (Windows <= static_cast<int32_t>(Slopes.size())) return;
  // The smallest of three agreeing slopes, each clearly more than the flicker; none otherwise.
  double drift = Slopes[0];
  for (double slope : Slopes)
    if (slope * Slopes[0] <= 0 || std::fabs(slope) < Tuning.MinSlope)
      drift = 0;
    else if (std::fabs(slope) < std::fabs(drift))
      drift = slope;
  if (drift == 0) {
    // No slope seen: the queue may be held by the ratio in use, or moving too slowly to show
    // between two jumps of a block. The error alone moves the ratio only once it has stood for
    // LevelWaitSeconds since the last change without coming back towards the target.
    if (static_cast<double>(Windows) * span < Tuning.LevelWaitSeconds) return;
    if (error * FirstError > 0 && std::fabs(error) < std::fabs(FirstError) - 0.001) return;
  }
  const double ratio = Resampler.Ratio();
  // The queue grows by the ratio less 1 less the drift per second: the ratio that holds it
  // still, and a little more to bring it back to the target.
  const double wanted = ratio - drift + Tuning.NearGain * error;
  const int direction = wanted > ratio ? 1 : -1;
  const double next = Resampler.StepRatio(direction);
  const double hold = Tuning.StepHold / TResampler::Denominator;
  if (next != ratio && direction * (wanted - (ratio + next) / 2) > hold) {
    // A drift seen in three windows that is steps away is taken in one change (one bend of the
    // pitch instead of one a minute); the error alone moves a step at a time.
    const bool jump = drift != 0 && std::fabs(wanted - ratio) > 1.5 / TResampler::Denominator;
    Resampler.SetRatio(jump ? wanted : next);
    RestartWindows();
  }
  // A disturbance that takes the queue out of the band starts from the ratio in use.
  Integral = Resampler.Ratio() - 1;
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
  if (steer && std::isfinite(targetSeconds)) {
    if (!Observed) {
      const double queued = queuedSeconds + dt * Resampler.Ratio() * (1 - Tuning.BlockOffset);
      if (std::isfinite(queued)) UpdateAverages(queued, dt);
    }
    if (!First) {
      // Positive errors: too little queued, stretch.
      const double error = targetSeconds - Average;
      const double band = Settling ? Tuning.SettleBand : Tuning.FarBand;
      const double excess = std::max(0.0, std::fabs(error) - band);
      const double reach = Tuning.FarReach;
      if (excess > 0) {
        Near = false;
        const double proportional = std::copysign(Tuning.FarGain * excess, error);
        // The integral only moves while the correction is not held at the bound in the same
        // direction, so it does not wind up during a long correction at the bound; and only
        // while the excess grows: once the proportional part brings the queue back, more
        // integral would only overshoot and leave a wrong drift behind.
        const double unbounded = proportional + Integral;
        if ((unbounded < reach || error < 0) && (unbounded > -reach || error > 0) &&
            excess >= LastExcess)
          Integral = std::clamp(
              Integral + std::copysign(Tuning.FarIntegralGain * excess, error) * dt, -reach, reach);
        LastExcess = excess;
        Resampler.SetRatio(1 + std::clamp(proportional, -reach, reach) + Integral);
      } else if (!Near) {
        // Into the band: hold what the far loop learnt, and measure what is left.
        Near = true;
        if (Settling) Integral = Learnt;
        Settling = false;
        LastExcess = 0;
        Resampler.SetRatio(1 + Integral);
        RestartWindows();
      } else {
        SteerNear(targetSeconds);
      }
      Correction.store((Resampler.Ratio() - 1) * 1e6, std::memory_order_relaxed);
    }
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
