#pragma once

#include <cstdint>

// The level of a 16-bit peak in dB full scale; -90.3 for silence.
double PeakToDB(int16_t peak);

// Left and right levels of a block of stereo frames (a trailing part frame is ignored).
struct TLevels {
  double Left;
  double Right;
};
TLevels CalcLevel(const int16_t* data, int32_t size);
