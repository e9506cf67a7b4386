#pragma once

#include <cmath>
#include <cstdint>

// Levels of 16-bit samples, shared by the wave devices, the silence detector and the stream's
// header so that every meter and threshold agrees.

// The magnitude of a sample; a negative sample s counts as -1 - s so that -32768 fits in 16 bits.
inline int16_t SampleMagnitude(int16_t s) {
  return s >= 0 ? s : static_cast<int16_t>(-1 - s);
}

// Level of a peak in dB full scale; a silent peak reads -90.3 dB.
inline double PeakToDB(int16_t peak) {
  if (peak < 1) return -90.3;
  return 20.0 * std::log10(peak / 32768.0);
}

struct TFramePeak {
  int16_t Left = 0;
  int16_t Right = 0;
};

// Peaks per channel of the whole stereo frames in size bytes; a trailing part frame is ignored.
inline TFramePeak FramePeak(const int16_t* data, int32_t size) {
  TFramePeak p;
  if (!data) return p;
  const int32_t frames = size > 0 ? size / 4 : 0;
  for (int32_t i = 0; i < frames; ++i) {
    const int16_t l = SampleMagnitude(data[2 * i]);
    const int16_t r = SampleMagnitude(data[2 * i + 1]);
    if (l > p.Left) p.Left = l;
    if (r > p.Right) p.Right = r;
  }
  return p;
}

// Largest magnitude over the first size div 2 samples, both channels alike.
inline int16_t SamplePeak(const int16_t* data, int32_t size) {
  int16_t peak = 0;
  if (!data) return peak;
  const int32_t samples = size > 0 ? size / 2 : 0;
  for (int32_t i = 0; i < samples; ++i) {
    const int16_t m = SampleMagnitude(data[i]);
    if (m > peak) peak = m;
  }
  return peak;
}
