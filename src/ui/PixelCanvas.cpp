#include "ui/PixelCanvas.h"

#include <algorithm>

TPixelCanvas::TPixelCanvas(int width, int height) {
  Resize(width, height);
}

void TPixelCanvas::Resize(int width, int height) {
  Width_ = std::max(width, 0);
  Height_ = std::max(height, 0);
  Pixels.assign(static_cast<size_t>(Width_) * static_cast<size_t>(Height_), TColor{});
}

void TPixelCanvas::Fill(int left, int top, int right, int bottom, TColor color) {
  Fills_.push_back({left, top, right, bottom, color});
  // Clipped to the picture, as GDI clips to the bitmap.
  const int l = std::max(left, 0), t = std::max(top, 0);
  const int r = std::min(right, Width_), b = std::min(bottom, Height_);
  for (int y = t; y < b; ++y)
    for (int x = l; x < r; ++x) Pixels[static_cast<size_t>(y) * Width_ + x] = color;
  Drawn();
}

void TPixelCanvas::Print(int x, int y, const std::string& text, TColor color) {
  Texts_.push_back({x, y, text, color});
  Drawn();
}

TColor TPixelCanvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width_ || y >= Height_) return {};
  return Pixels[static_cast<size_t>(y) * Width_ + x];
}

void TPixelCanvas::Lock() {
  ++Locks;
}

void TPixelCanvas::Unlock() {
  if (Locks > 0) --Locks;
  if (Locks == 0) ++Shown_;
}

void TPixelCanvas::ClearLog() {
  Fills_.clear();
  Texts_.clear();
  Shown_ = 0;
  UnlockedDraws_ = 0;
}

void TPixelCanvas::Drawn() {
  if (Locks > 0) return;
  ++UnlockedDraws_;
  ++Shown_;
}
