#include "ui/LedMetter.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr TColor Black{0, 0, 0};
constexpr TColor White{255, 255, 255};
constexpr TColor Green{0, 128, 0};
constexpr TColor Lime{0, 255, 0};
constexpr TColor Olive{128, 128, 0};
constexpr TColor Yellow{255, 255, 0};
constexpr TColor Maroon{128, 0, 0};
constexpr TColor Red{255, 0, 0};

bool Valid(int32_t index) {
  return index >= 0 && index < TLedMeters::Count;
}

struct TSegmentColors {
  TColor Off, On;
};

// Green up to -15 dB, through yellow to red at -1 dB and above.
TSegmentColors ColorsAt(int32_t d) {
  if (d <= -15) return {Green, Lime};
  if (d <= -8) return {MixColor(Green, Olive, d + 15, 7), MixColor(Lime, Yellow, d + 15, 7)};
  if (d <= -6) return {Olive, Yellow};
  if (d <= -1) return {MixColor(Olive, Maroon, d + 5, 4), MixColor(Yellow, Red, d + 5, 4)};
  return {Maroon, Red};
}

// The highest decibel that is lit: the level plus 0.1 dB, truncated toward zero. A level that
// is no number lights nothing; an absurd one is bounded first so the conversion stays defined.
int32_t LitUpTo(double level) {
  const double v = level + 0.1;
  if (std::isnan(v)) return INT32_MIN;
  return static_cast<int32_t>(std::clamp(v, -1.0e6, 1.0e6));
}

// A rectangle clipped to the picture; nothing when it is empty (a tiny picture gives segments of
// no width or height).
void FillClipped(TCanvas& canvas, const TLedSegment& s, TColor color) {
  const int l = std::max(s.Left, 0), t = std::max(s.Top, 0);
  const int r = std::min(s.Right, canvas.Width()), b = std::min(s.Bottom, canvas.Height());
  if (l < r && t < b) canvas.Fill(l, t, r, b, color);
}

void PrintInside(TCanvas& canvas, int x, int y, const std::string& text, TColor color) {
  if (x >= 0 && y >= 0 && x < canvas.Width() && y < canvas.Height())
    canvas.Print(x, y, text, color);
}

}  // namespace

TColor MixColor(TColor c1, TColor c2, int32_t step, int32_t steps) {
  if (steps < 1) return c1;
  // A step outside 0..steps would leave the colour range; it is held at its ends.
  auto mix = [&](uint8_t a, uint8_t b) {
    const double v = (static_cast<double>(b) - a) / steps * step + a;
    return static_cast<uint8_t>(std::clamp(std::trunc(v), 0.0, 255.0));
  };
  return {mix(c1.R, c2.R), mix(c1.G, c2.G), mix(c1.B, c2.B)};
}

void TLedMeters::SetupLed(int32_t index, TCanvas* canvas, int32_t style) {
  if (!Valid(index)) return;
  if (style < 0 || style > 3) style = 0;
  TLed& led = Leds[index];
  led.Style = style;
  if (!canvas) {
    // Nothing to measure or draw on: the meter keeps its style and shows nothing.
    led.Bars[0].clear();
    led.Bars[1].clear();
    return;
  }
  const int32_t range = LedRanges[style];
  const int32_t width = canvas->Width(), height = canvas->Height();
  // Column of segment i's left edge: i * width / (range + 1), truncated, in exact arithmetic so
  // the last segment ends exactly at the picture's right edge.
  auto x = [&](int32_t i) {
    return static_cast<int32_t>(static_cast<int64_t>(i) * std::max(width, 0) / (range + 1));
  };

  canvas->Lock();
  if (width > 0 && height > 0) canvas->Fill(0, 0, width, height, Black);
  const int32_t y = height / 2 - 6;  // top of the label row
  led.Bars[0].assign(range + 1, TLedSegment{});
  led.Bars[1].assign(range + 1, TLedSegment{});
  for (int32_t i = 0; i <= range; ++i) {
    const int32_t d = i - range;
    if (i == 0) PrintInside(*canvas, x(i), y, std::to_string(d), Lime);
    if (d == -60 || d == -41 || d == -20 || d == -12)
      PrintInside(*canvas, x(i), y, std::to_string(d), Lime);
    if (d == -3) PrintInside(*canvas, x(i), y, "-3", Red);

    const TSegmentColors colors = ColorsAt(d);
    // State 1 everywhere, so the first showing below draws every segment unlit.
    led.Bars[0][i] = {x(i), 1, x(i + 1) - 1, y + 1, colors.Off, colors.On, 1};
    led.Bars[1][i] = {x(i), y + 12, x(i + 1) - 1, height - 1, colors.Off, colors.On, 1};
  }
  canvas->Unlock();

  ShowLed(index, canvas, -100, -100);
}

void TLedMeters::ShowLed(int32_t index, TCanvas* canvas, double left, double right) {
  if (!Valid(index) || !canvas) return;
  TLed& led = Leds[index];
  const int32_t range = LedRanges[led.Style];
  const double levels[2] = {left, right};
  // Locked only once something changes: a steady level neither draws nor repaints.
  bool locked = false;
  for (int k = 0; k < 2; ++k) {
    const int32_t lit = LitUpTo(levels[k]);
    auto& bar = led.Bars[k];
    for (size_t j = 0; j < bar.size(); ++j) {
      const int32_t d = static_cast<int32_t>(j) - range;
      const uint8_t state = d > lit ? 0 : (lit >= 0 && d == 0) ? 2 : 1;
      TLedSegment& s = bar[j];
      if (state == s.State) continue;
      s.State = state;
      if (!locked) {
        canvas->Lock();
        locked = true;
      }
      FillClipped(*canvas, s, state == 0 ? s.OffColor : state == 1 ? s.OnColor : White);
    }
  }
  if (locked) canvas->Unlock();  // the canvas shows the picture at once on the last Unlock
}

int32_t TLedMeters::GetLedStyle(int32_t index) const {
  return Valid(index) ? Leds[index].Style : -1;
}

void TLedMeters::SetLedStyle(int32_t index, TCanvas* canvas, int32_t style) {
  if (!Valid(index)) return;
  SetupLed(index, canvas, style >= 4 ? 0 : style);
}

const TLed* TLedMeters::Led(int32_t index) const {
  return Valid(index) ? &Leds[index] : nullptr;
}
