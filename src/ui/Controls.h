#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The small control toolkit the windows are built from. A control keeps the values the form logic
// sets and raises the events a user (or a test) triggers. A binding mirrors the values to a real
// window; without one (headless) the values are simply kept.

struct TColor {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TColor&) const = default;
};

class TControl;

// What an image control's picture is drawn with: GDI on Windows, a pixel buffer where a test
// wants one. Coordinates are pixels of the picture, (0, 0) at its top left.
class TCanvas {
 public:
  virtual ~TCanvas() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Fills columns left..right-1 and rows top..bottom-1.
  virtual void Fill(int left, int top, int right, int bottom, TColor color) = 0;
  // Text with its top left at (x, y), without background, in the canvas's font.
  virtual void Print(int x, int y, const std::string& text, TColor color) = 0;
  // The colour at a point, as drawn (black outside the picture).
  virtual TColor Pixel(int x, int y) const = 0;
  // Drawing happens between Lock and Unlock; Unlock shows the picture at once.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

enum class TControlKind { Label, Panel, Button, Gauge, Slider, Image, LinkLabel };

class TControlView {
 public:
  virtual ~TControlView() = default;
  virtual void Update(const TControl& control) = 0;
  // The control is going away; the view lets go of it.
  virtual void Released(const TControl&) {}
  // The picture of an image control, when the binding has one.
  virtual TCanvas* Canvas() { return nullptr; }
};

class TControl {
 public:
  TControl(TControlKind kind, std::string name) : Kind(kind), Name(std::move(name)) {}
  virtual ~TControl();
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const TControlKind Kind;
  const std::string Name;
  // The control this one sits in (a panel), or none for the form itself.
  TControl* Parent = nullptr;

  int Left() const { return Left_; }
  int Top() const { return Top_; }
  int Width() const { return Width_; }
  int Height() const { return Height_; }
  void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return Visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool v);
  const std::string& Hint() const { return Hint_; }
  void SetHint(const std::string& h);
  const std::string& Caption() const { return Caption_; }
  void SetCaption(const std::string& c);
  TColor FontColor() const { return FontColor_; }
  void SetFontColor(TColor c);

  // Design-time look, read by a binding whenever it mirrors the control.
  bool Bold = false;
  // Text centred horizontally and vertically.
  bool Centered = false;
  // A sunken frame around the control.
  bool Framed = false;
  // Underlined text; a link label is underlined whatever this says.
  bool Underline = false;
  // The hand cursor over the control; a link label always has it.
  bool HandCursor = false;

  // Raised by the user; an enabled control only.
  std::function<void()> OnClick;
  std::function<void()> OnMouseUp;
  void Click();
  void MouseUp();

  void Bind(TControlView* view);
  TControlView* View() const { return View_; }
  // The picture of an image control; none while unbound or headless.
  TCanvas* Canvas() const { return View_ ? View_->Canvas() : nullptr; }

 protected:
  void Changed();

 private:
  int Left_ = 0, Top_ = 0, Width_ = 0, Height_ = 0;
  bool Visible_ = true;
  bool Enabled_ = true;
  std::string Hint_;
  std::string Caption_;
  TColor FontColor_{};
  TControlView* View_ = nullptr;
};

using TLabel = TControl;
using TPanel = TControl;
using TButton = TControl;
using TImage = TControl;

// A control with a range and a value kept within it: gauges and sliders.
class TRangeControl : public TControl {
 public:
  TRangeControl(TControlKind kind, std::string name, int min, int max, int value);
  int Min() const { return Min_; }
  int Max() const { return Max_; }
  int Value() const { return Value_; }
  void SetRange(int min, int max);
  void SetMax(int max) { SetRange(Min_, max); }
  // Clamps to the range; raises OnChange when the value changed.
  void SetValue(int v);
  // Text shown on a gauge (empty: none).
  const std::string& Text() const { return Text_; }
  void SetText(const std::string& t);
  // A gauge without text of its own shows its position in the range in percent ("50%").
  bool ShowPercent = false;
  // What a gauge shows on its bar: the text, the percent, or nothing.
  std::string ShownText() const;

  std::function<void()> OnChange;

 private:
  int Min_, Max_, Value_;
  std::string Text_;
};

using TGauge = TRangeControl;
using TSlider = TRangeControl;

class TTimer;

class TTimerView {
 public:
  virtual ~TTimerView() = default;
  virtual void Update(TTimer& timer) = 0;
};

// A main-thread timer: a window timer on Windows, a scheduled entry in tests.
class TTimer {
 public:
  TTimer(std::string name, uint32_t interval) : Name(std::move(name)), Interval_(interval) {}
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  const std::string Name;
  uint32_t Interval() const { return Interval_; }
  void SetInterval(uint32_t ms);
  bool Enabled() const { return Enabled_; }
  void SetEnabled(bool e);
  std::function<void()> OnTimer;
  void Fire();

  void Bind(TTimerView* view);

 private:
  uint32_t Interval_;
  bool Enabled_ = false;
  TTimerView* View_ = nullptr;
};
