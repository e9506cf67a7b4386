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
  Kept = 0;
  Ended = 0;
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
  Kept = lagging ? 0 : Kept + 1;
  ++Ended;
  WindowStart = now;
  WindowPlayed = 0;
}

void TStartTrim::Reset() {
  State = TState::Armed;
  Remaining = 0;
  Measured = false;
  Count = 0;
  LastCount = 0;
  Window = 0;
}

void TStartTrim::Read(double queued, uint64_t window) {
  if (window != Window) {
    Window = window;
    LastReadings = Readings;
    LastCount = Count;
    Count = 0;
  }
  if (Count < MaxReadings) Readings[Count++] = queued;
}

double TStartTrim::LastWindowMedian(double fallback) {
  if (LastCount == 0) return fallback;
  const auto begin = LastReadings.begin();
  const auto middle = begin + static_cast<std::ptrdiff_t>(LastCount / 2);
  std::nth_element(begin, middle, begin + static_cast<std::ptrdiff_t>(LastCount));
  return *middle;
}

int32_t TStartTrim::Take(int32_t inFrames, double queuedSeconds, double targetSeconds,
                         double limitSeconds, int32_t rate, const TOutputPace& output) {
  if (inFrames <= 0 || !output.Started()) return 0;
  const double queued = queuedSeconds + static_cast<double>(inFrames) / rate;
  // A cut under way is not in the queue for long.
  Read(queued - PendingSeconds(rate), output.Windows());
  // While a cut is under way the queue still holds what it will leave out: the next measure
  // waits for it to end.
  if (Remaining == 0) {
    if (!output.Keeping()) {
      if (State == TState::Done) State = TState::Armed;
      if (queued > limitSeconds) Remaining = StartTrimFrames(queued, targetSeconds, rate, 0);
    } else if (State == TState::Armed && (!Measured || output.WindowsKept() >= SettleWindows)) {
      Remaining = StartTrimFrames(LastWindowMedian(queued), targetSeconds, rate,
                                  Measured ? Tolerance : StartTolerance);
      Measured = true;
      State = TState::Finishing;
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
