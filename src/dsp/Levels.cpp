#include "dsp/Levels.h"

#include <atomic>

#include "wave/WaveFormat.h"

double PeakToDB(int16_t peak) {
  return PeakLevel(peak);
}

TLevels CalcLevel(const int16_t* data, int32_t size) {
  bool first = true;
  std::atomic<int16_t> left{0}, right{0};
  FoldPeaks(data, size, first, left, right);
  return {PeakToDB(left), PeakToDB(right)};
}
