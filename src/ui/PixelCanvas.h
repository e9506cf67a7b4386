#pragma once

#include <string>
#include <vector>

#include "ui/Controls.h"

// A picture in memory: Fill writes pixels, Print records what was written where (no glyphs are
// rasterised). Every drawing call is logged, so a caller's drawing can be checked pixel by pixel
// and call by call.
class TPixelCanvas : public TCanvas {
 public:
  struct TFilled {
    int Left, Top, Right, Bottom;
    TColor Color;
  };
  struct TPrinted {
    int X, Y;
    std::string Text;
    TColor Color;
  };

  TPixelCanvas(int width, int height);

  int Width() const override { return Width_; }
  int Height() const override { return Height_; }
  void Fill(int left, int top, int right, int bottom, TColor color) override;
  void Print(int x, int y, const std::string& text, TColor color) override;
  TColor Pixel(int x, int y) const override;
  void Lock() override;
  void Unlock() override;

  // A new size starts a black picture, as an image control's picture does.
  void Resize(int width, int height);

  // Fills as the caller asked for them, before clipping to the picture.
  const std::vector<TFilled>& Fills() const { return Fills_; }
  const std::vector<TPrinted>& Texts() const { return Texts_; }
  // How often the picture went to the screen: each outermost Unlock, and each drawing call made
  // outside a Lock/Unlock pair.
  int Shown() const { return Shown_; }
  int LockDepth() const { return Locks; }
  // Drawing calls made while the canvas was not locked.
  int UnlockedDraws() const { return UnlockedDraws_; }
  // Forgets the logged calls; the pixels stay.
  void ClearLog();

 private:
  void Drawn();

  int Width_ = 0, Height_ = 0;
  std::vector<TColor> Pixels;
  std::vector<TFilled> Fills_;
  std::vector<TPrinted> Texts_;
  int Locks = 0;
  int Shown_ = 0;
  int UnlockedDraws_ = 0;
};
