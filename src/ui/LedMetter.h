#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ui/Controls.h"

// A stereo LED level meter drawn on an image's canvas: two bars of one-decibel segments, the
// left channel above and the right below, with the dB labels between them on black.

struct TLedSegment {
  // Covers columns Left..Right-1 and rows Top..Bottom-1.
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  TColor OffColor{};
  TColor OnColor{};
  // What was drawn last: 0 unlit, 1 lit, 2 full scale (white).
  uint8_t State = 0;
};

struct TLed {
  int32_t Style = 0;
  // [0] the upper bar (left channel), [1] the lower bar (right channel); index 0 at the left.
  std::array<std::vector<TLedSegment>, 2> Bars;
};

// The decibels each style shows; a style with range R has R + 1 segments, -R dB to 0 dB.
inline constexpr std::array<int32_t, 4> LedRanges{24, 41, 60, 90};

// The colour step/steps of the way from c1 to c2; c1 when steps is below 1.
TColor MixColor(TColor c1, TColor c2, int32_t step, int32_t steps);

// The meters of a window, by index 0..4. An index outside that range is ignored. A missing
// canvas (an image without a picture) draws nothing.
class TLedMeters {
 public:
  static constexpr int32_t Count = 5;

  // Builds the meter for the canvas's present size in the given style (0..3, anything else 0)
  // and draws it empty.
  void SetupLed(int32_t index, TCanvas* canvas, int32_t style);
  // Shows the levels in dB, repainting only the segments whose state changes.
  void ShowLed(int32_t index, TCanvas* canvas, double left, double right);
  // The style the meter was last set up with; -1 for an index outside 0..4.
  int32_t GetLedStyle(int32_t index) const;
  // Sets the meter up again in the style; 4 or more wraps to 0.
  void SetLedStyle(int32_t index, TCanvas* canvas, int32_t style);

  // The meter's record, or none for an index outside 0..4.
  const TLed* Led(int32_t index) const;

 private:
  std::array<TLed, Count> Leds{};
};
