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

enum class TControlKind {
  Label,
  Panel,
  Button,
  Gauge,
  Slider,
  Image,
  LinkLabel,
  CheckBox,
  ComboBox,
  ListBox,
  RadioGroup,
  SpinEdit,
  Edit,
  DirectoryEdit
};

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
  // The button that Enter presses in a dialog (unless another button has the focus).
  bool Default = false;

  // Raised by the user; an enabled control only.
  std::function<void()> OnClick;
  // Any mouse button released over the control (or after pressing it there).
  std::function<void()> OnMouseUp;
  virtual void Click();
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

// A check box. Its state changes by the program or by a click; either raises OnChange.
class TCheckBox : public TControl {
 public:
  explicit TCheckBox(std::string name) : TControl(TControlKind::CheckBox, std::move(name)) {}
  bool Checked() const { return Checked_; }
  void SetChecked(bool checked);
  // The user's click: toggles the state, then raises OnClick.
  void Click() override;

  std::function<void()> OnChange;

 private:
  bool Checked_ = false;
};

// Items of text, none or one of them selected: drop-down lists, list boxes, radio groups.
class TListControl : public TControl {
 public:
  TListControl(TControlKind kind, std::string name) : TControl(kind, std::move(name)) {}
  const std::vector<std::string>& Items() const { return Items_; }
  // New items leave nothing selected.
  void SetItems(std::vector<std::string> items);
  void AddItem(const std::string& item);
  // Removes one item; the selected item stays selected, a removed selection leaves none.
  void DeleteItem(int index);
  // -1: none. A position outside the items selects none. Raises OnChange when the selection
  // changes to another item or to none.
  int ItemIndex() const { return ItemIndex_; }
  void SetItemIndex(int index);
  // The selected item's text; empty when none is selected.
  std::string Selected() const;

  std::function<void()> OnChange;

 private:
  void Select(int index);

  std::vector<std::string> Items_;
  int ItemIndex_ = -1;
};

// A drop-down list: choose one of the items, typing is not possible.
class TComboBox : public TListControl {
 public:
  explicit TComboBox(std::string name) : TListControl(TControlKind::ComboBox, std::move(name)) {}
};

class TListBox : public TListControl {
 public:
  explicit TListBox(std::string name) : TListControl(TControlKind::ListBox, std::move(name)) {}
  // The user's double click on an item; an enabled list only.
  void DblClick();
  std::function<void()> OnDblClick;
};

// Round buttons in a framed group with a caption, one of them chosen, laid out in columns.
class TRadioGroup : public TListControl {
 public:
  explicit TRadioGroup(std::string name)
      : TListControl(TControlKind::RadioGroup, std::move(name)) {}
  int Columns = 1;
};

// A number field with up and down arrows: whole numbers or a fixed count of decimals.
class TSpinEdit : public TControl {
 public:
  TSpinEdit(std::string name, double min, double max, int decimals = 0, double increment = 1);
  double Min() const { return Min_; }
  double Max() const { return Max_; }
  int Decimals() const { return Decimals_; }
  double Increment() const { return Increment_; }
  double Value() const { return Value_; }
  // Rounded to the decimals and kept within the range; raises OnChange when it changed.
  void SetValue(double value);
  // The value as the field shows it, with '.' as the decimal point ("2.5", "100").
  std::string Text() const;
  // The user's arrows: steps x the increment, kept within the range.
  void Step(int steps);
  // The user typed into the field. A number ('.' or ',' as the decimal point) sets the value,
  // kept within the range; any other text leaves the value as it was and returns false.
  bool Typed(const std::string& text);

  std::function<void()> OnChange;

 private:
  double Min_, Max_;
  int Decimals_;
  double Increment_;
  double Value_;
};

// A one-line text field.
class TEdit : public TControl {
 public:
  explicit TEdit(std::string name) : TEdit(TControlKind::Edit, std::move(name)) {}
  const std::string& Text() const { return Text_; }
  // By the program or typed by the user; raises OnChange when the text changed.
  void SetText(const std::string& text);

  std::function<void()> OnChange;

 protected:
  TEdit(TControlKind kind, std::string name) : TControl(kind, std::move(name)) {}

 private:
  std::string Text_;
};

// A text field for a directory with a button beside it that asks for one.
class TDirectoryEdit : public TEdit {
 public:
  explicit TDirectoryEdit(std::string name) : TEdit(TControlKind::DirectoryEdit, std::move(name)) {}
  // The user pressed the browse button; an enabled field only.
  void Browse();
  std::function<void()> OnBrowse;
};

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
