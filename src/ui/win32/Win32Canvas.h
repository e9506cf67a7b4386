#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/Handles.h"
#include "ui/Controls.h"

inline COLORREF Ref(TColor c) {
  return RGB(c.R, c.G, c.B);
}

// The picture of an image control: a bitmap in memory that the window shows.
class TWin32Canvas : public TCanvas {
 public:
  // Null when the system has no memory device context to give.
  static std::unique_ptr<TWin32Canvas> Create(HWND window, HFONT font) {
    HDC screen = GetDC(nullptr);
    TMemoryDc dc(CreateCompatibleDC(screen));
    ReleaseDC(nullptr, screen);
    if (!dc) return nullptr;
    return std::unique_ptr<TWin32Canvas>(new TWin32Canvas(window, std::move(dc), font));
  }
  TWin32Canvas(const TWin32Canvas&) = delete;
  TWin32Canvas& operator=(const TWin32Canvas&) = delete;

  // A new size starts a black picture; whoever draws sets it up again. A bitmap the system
  // cannot make leaves the old picture.
  void Resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width_ && height == Height_ && Bitmap) return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = std::max(width, 1);
    bi.bmiHeader.biHeight = -std::max(height, 1);
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TGdiObject<HBITMAP> fresh(CreateDIBSection(Dc.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!fresh) return;
    if (BitmapChoice)
      SelectObject(Dc.Get(), fresh.Get());
    else
      BitmapChoice.emplace(Dc.Get(), fresh.Get());
    // The old bitmap is no longer selected and goes here.
    Bitmap = std::move(fresh);
    Width_ = width;
    Height_ = height;
  }

  void Paint(HDC target) const { BitBlt(target, 0, 0, Width_, Height_, Dc.Get(), 0, 0, SRCCOPY); }

  int Width() const override { return Width_; }
  int Height() const override { return Height_; }
  void Fill(int left, int top, int right, int bottom, TColor color) override {
    RECT r{left, top, right, bottom};
    SetDCBrushColor(Dc.Get(), Ref(color));
    FillRect(Dc.Get(), &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    Touched();
  }
  void Print(int x, int y, const std::string& text, TColor color) override {
    SetTextColor(Dc.Get(), Ref(color));
    TextOutA(Dc.Get(), x, y, text.data(), static_cast<int>(text.size()));
    Touched();
  }
  TColor Pixel(int x, int y) const override {
    GdiFlush();
    const COLORREF c = GetPixel(Dc.Get(), x, y);
    if (c == CLR_INVALID) return {};
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
  }
  void Lock() override { ++Locks; }
  void Unlock() override {
    if (Locks > 0) --Locks;
    if (Locks == 0) Show();
  }

 private:
  TWin32Canvas(HWND window, TMemoryDc dc, HFONT font) : Window(window), Dc(std::move(dc)) {
    SetBkMode(Dc.Get(), TRANSPARENT);
    FontChoice.emplace(Dc.Get(), font);
  }
  // Outside a Lock/Unlock pair every drawing shows at once.
  void Touched() {
    if (Locks == 0) Show();
  }
  void Show() {
    GdiFlush();
    InvalidateRect(Window, nullptr, FALSE);
    UpdateWindow(Window);
  }

  HWND Window;
  // Declared in the order of their making: they go in reverse, each selection given back
  // before its object and the device context is deleted.
  TMemoryDc Dc;
  std::optional<TSelection> FontChoice;
  TGdiObject<HBITMAP> Bitmap;
  std::optional<TSelection> BitmapChoice;
  int Width_ = 0, Height_ = 0;
  int Locks = 0;
};
