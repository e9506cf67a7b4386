#include "dsp/FSilence.h"

#include <algorithm>

#include "wave/WaveFormat.h"

namespace {

// Largest magnitude over the first size div 2 samples, both channels alike.
int32_t SamplePeak(const int16_t* data, int32_t size) {
  int32_t peak = 0;
  if (!data) return peak;
  const int32_t samples = size > 0 ? size / 2 : 0;
  for (int32_t i = 0; i < samples; ++i) peak = std::max(peak, SampleMagnitude(data[i]));
  return peak;
}

}  // namespace

void TSilence::Arm(uint8_t mode, double seconds, double level) {
  if (!(seconds > 0)) {
    seconds = 0;
    mode = 0;
  }
  Counter_.store(0);
  Time_.store(seconds);
  Level_.store(level);
  Mode_.store(mode);
}

void TSilence::Feed(const int16_t* data, int32_t size, int32_t rate) {
  const double time = Time_.load();
  // A zero time means off. Only Arm writes the mode: storing it here could undo a re-arm that
  // the main thread makes between our reads.
  const uint8_t mode = time > 0 ? Mode_.load() : 0;
  if (mode == 0) {
    Counter_.store(0);
    return;
  }
  const double level = PeakLevel(SamplePeak(data, size));
  LastLevel_.store(level);
  // Nothing to count without a duration (bad rate, empty block).
  if (rate <= 0 || size <= 0 || !data) return;
  const double dt = size / (rate * 4.0);
  double counter = Counter_.load();
  const double threshold = Level_.load();
  const bool sought = mode == 1 ? level < threshold : level > threshold;
  double next = sought ? counter + dt : counter - dt;
  if (next < 0) next = 0;
  const bool found = next >= time;
  if (found) next = 0;
  // A re-arm in the meantime has cleared the counter: its fresh start wins over this block.
  if (!Counter_.compare_exchange_strong(counter, next)) return;
  if (found && OnFound) OnFound(this, mode);
}
