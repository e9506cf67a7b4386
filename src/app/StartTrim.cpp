#include "app/StartTrim.h"

#include <algorithm>
#include <cmath>

int64_t StartTrimFrames(double queuedSeconds, double targetSeconds, int32_t rate,
                        double toleranceSeconds) {
  const double excess = queuedSeconds - targetSeconds;
  // NaN and infinities fail the comparison or the bound below: no trim.
  if (rate <= 0 || !(excess > toleranceSeconds) || !std::isfinite(excess)) return 0;
  return std::llround(excess * rate);
}

void TStartTrim::Reset() {
  State = TState::Armed;
  Remaining = 0;
}

int32_t TStartTrim::Take(int32_t inFrames, double queuedSeconds, double targetSeconds, int32_t rate,
                         bool outputStarted) {
  if (inFrames <= 0) return 0;
  if (State == TState::Armed) {
    if (!outputStarted) return 0;
    Remaining = StartTrimFrames(queuedSeconds + static_cast<double>(inFrames) / rate, targetSeconds,
                                rate, Tolerance);
    State = Remaining > 0 ? TState::Trimming : TState::Done;
  }
  if (State != TState::Trimming) return 0;
  const auto dropped = static_cast<int32_t>(std::min<int64_t>(Remaining, inFrames));
  Remaining -= dropped;
  if (Remaining == 0) State = TState::Done;
  return dropped;
}

double TStartTrim::PendingSeconds(int32_t rate) const {
  return rate > 0 ? static_cast<double>(Remaining) / rate : 0;
}
