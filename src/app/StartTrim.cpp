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

void TOutputPace::Reset() {
  Begun = false;
  KeepingPace = false;
  WindowStart = 0;
  WindowPlayed = 0;
}

void TOutputPace::Played(double seconds, uint64_t now) {
  if (!Begun) {
    // The first block was played before now: the windows count from here.
    Begun = true;
    WindowStart = now;
    WindowPlayed = 0;
    return;
  }
  if (seconds > 0) WindowPlayed += seconds;
  const uint64_t elapsed = now > WindowStart ? now - WindowStart : 0;
  const bool lagging = static_cast<double>(elapsed) / 1000 - WindowPlayed > MaxLag;
  if (!lagging && elapsed < WindowMs) return;
  KeepingPace = !lagging;
  WindowStart = now;
  WindowPlayed = 0;
}

void TStartTrim::Reset() {
  State = TState::Armed;
  Remaining = 0;
  Started = false;
}

int32_t TStartTrim::Take(int32_t inFrames, double queuedSeconds, double targetSeconds, int32_t rate,
                         const TOutputPace& output) {
  if (inFrames <= 0 || !output.Started()) return 0;
  // Fallen behind again: piles are cut as they form until it keeps pace.
  if (State == TState::Done && !output.Keeping()) State = TState::Armed;
  // While a cut is under way the queue still holds what it will leave out: the next measure
  // waits for it to end.
  if (State == TState::Armed && Remaining == 0) {
    const bool last = output.Keeping();
    Remaining = StartTrimFrames(queuedSeconds + static_cast<double>(inFrames) / rate, targetSeconds,
                                rate, last && !Started ? StartTolerance : Tolerance);
    if (last) {
      State = TState::Finishing;
      Started = true;
    }
  }
  const auto dropped = static_cast<int32_t>(std::min<int64_t>(Remaining, inFrames));
  Remaining -= dropped;
  if (State == TState::Finishing && Remaining == 0) State = TState::Done;
  return dropped;
}

double TStartTrim::PendingSeconds(int32_t rate) const {
  return rate > 0 ? static_cast<double>(Remaining) / rate : 0;
}
