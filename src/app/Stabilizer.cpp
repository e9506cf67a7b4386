#include "app/Stabilizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double IntervalGrowth = 1.1;
constexpr double IntervalAfterStep = 0.2;
constexpr double MinInterval = 0.1;
constexpr double MaxInterval = 5.0;

}  // namespace

void TStabilizer::StabilyzerTick(TWorkBlock& block, int32_t blocksize) {
  const double target = Player.BufferTime.load();
  if (StabLastTime == 0) {
    StabLastTime = StabLastCheck = static_cast<int64_t>(Clock.TickCount64());
    Player.UpdateQueued();
    StabAverage = StabPrevAverage = Player.QueuedTime.load();
  }

  const int32_t correction = StabValue.load();
  if (correction != 0) {
    const int64_t size = block.Size;
    const int64_t newSize = size + int64_t{correction} * FrameBytes * (blocksize + 1);
    // The plug-ins may write twice the block's frames: that room must stay.
    if (newSize < 0 || 2 * newSize > block.Capacity()) return;
    BufferCombinize(reinterpret_cast<char*>(block.Spare()), reinterpret_cast<char*>(block.Data()),
                    static_cast<int32_t>(size), static_cast<int32_t>(newSize));
    block.TakeSpare(static_cast<int32_t>(newSize));
  }

  const int64_t now = static_cast<int64_t>(Clock.TickCount64());
  const double queued = Player.QueuedTime.load();
  // Blocks come every 5 to 20 ms, giving a time constant of about a second. After a long pause
  // (between sessions, a stalled pass) the weight is capped at 1: the average becomes the present
  // queue instead of being extrapolated far outside anything the queue has held.
  const double dt = std::clamp((now - StabLastTime) / 1000.0, 0.0, 1.0);
  StabAverage = (1 - dt) * StabAverage + dt * queued;
  StabLastTime = now;

  if (static_cast<double>(now) < static_cast<double>(StabLastCheck) + StabInterval * 1000) return;
  Decide(now, queued, target);
}

void TStabilizer::Decide(int64_t now, double queued, double target) {
  StabLastCheck = now;
  if (StabValue.load() == 0) SetStabInterval(StabInterval * IntervalGrowth);
  const int32_t value = StabValue.load();
  if (SameAverage(StabAverage, StabPrevAverage)) {
    if (queued < target - DeadBand)
      ChangeStab(+1);
    else if (queued > target + DeadBand)
      ChangeStab(-1);
  } else if (StabAverage < StabPrevAverage) {
    // A correction that still shrinks the blocks while the queue is already short is released
    // first; otherwise a correction starts once the smoothed queue has left the band.
    if ((queued < target && value < 0) || StabAverage < target - DeadBand) ChangeStab(+1);
  } else {
    if ((queued > target && value > 0) || StabAverage > target + DeadBand) ChangeStab(-1);
  }
  StabPrevAverage = StabAverage;
}

void TStabilizer::SetStabInterval(double seconds) {
  // NaN falls to the lower bound rather than stalling the decisions.
  StabInterval = seconds > MaxInterval    ? MaxInterval
                 : seconds >= MinInterval ? seconds
                                          : MinInterval;
}

void TStabilizer::ChangeStab(int32_t step) {
  StabValue.fetch_add(step);
  SetStabInterval(IntervalAfterStep);
  // The average starts afresh from the present queue.
  StabAverage = Player.QueuedTime.load();
}

bool TStabilizer::SameAverage(double a, double b) {
  return std::fabs(a - b) <= std::max(std::min(std::fabs(a), std::fabs(b)) * 1e-12, 1e-12);
}

void TStabilizer::BufferCombinize(char* dest, const char* source, int32_t sourceSize,
                                  int32_t destSize) {
  if (!dest || destSize <= 0) return;
  const int32_t frames = destSize / FrameBytes;
  const int32_t sourceFrames = source && sourceSize > 0 ? sourceSize / FrameBytes : 0;
  if (sourceFrames == 0) {
    // Nothing to repeat: silence rather than whatever the buffer held.
    std::memset(dest, 0, static_cast<size_t>(frames) * FrameBytes);
    return;
  }
  const double step = static_cast<double>(sourceSize) / destSize;
  int32_t position = 0;
  double fraction = 0;
  for (int32_t i = 0; i < frames; ++i) {
    std::memcpy(dest + static_cast<size_t>(i) * FrameBytes,
                source + static_cast<size_t>(position) * FrameBytes, FrameBytes);
    fraction += step;
    while (fraction >= 1) {
      fraction -= 1;
      // Rounding must never walk past the last whole frame.
      if (position < sourceFrames - 1) ++position;
    }
  }
}
