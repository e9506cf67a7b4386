#include "ui/Controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

TControl::~TControl() {
  if (View_) View_->Released(*this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  Left_ = left;
  Top_ = top;
  Width_ = width;
  Height_ = height;
  Changed();
}

void TControl::SetVisible(bool v) {
  if (Visible_ == v) return;
  Visible_ = v;
  Changed();
}

void TControl::SetEnabled(bool v) {
  if (Enabled_ == v) return;
  Enabled_ = v;
  Changed();
}

void TControl::SetHint(const std::string& h) {
  Hint_ = h;
  Changed();
}

void TControl::SetCaption(const std::string& c) {
  if (Caption_ == c) return;
  Caption_ = c;
  Changed();
}

void TControl::SetFontColor(TColor c) {
  if (FontColor_ == c) return;
  FontColor_ = c;
  Changed();
}

void TControl::Click() {
  if (Enabled_ && OnClick) OnClick();
}

void TControl::MouseUp() {
  if (Enabled_ && OnMouseUp) OnMouseUp();
}

void TControl::Bind(TControlView* view) {
  View_ = view;
  Changed();
}

void TControl::Changed() {
  if (View_) View_->Update(*this);
}

TRangeControl::TRangeControl(TControlKind kind, std::string name, int min, int max, int value)
    : TControl(kind, std::move(name)), Min_(min), Max_(max), Value_(std::clamp(value, min, max)) {}

void TRangeControl::SetRange(int min, int max) {
  Min_ = min;
  Max_ = std::max(min, max);
  const int v = std::clamp(Value_, Min_, Max_);
  Changed();
  SetValue(v);
}

void TRangeControl::SetValue(int v) {
  v = std::clamp(v, Min_, Max_);
  if (v == Value_) return;
  Value_ = v;
  Changed();
  if (OnChange) OnChange();
}

void TRangeControl::SetText(const std::string& t) {
  if (Text_ == t) return;
  Text_ = t;
  Changed();
}

std::string TRangeControl::ShownText() const {
  if (!Text_.empty() || !ShowPercent) return Text_;
  const long long span = static_cast<long long>(Max_) - Min_;
  const long long pos = static_cast<long long>(Value_) - Min_;
  return std::to_string(span > 0 ? pos * 100 / span : 0) + "%";
}

void TCheckBox::SetChecked(bool checked) {
  if (Checked_ == checked) return;
  Checked_ = checked;
  Changed();
  if (OnChange) OnChange();
}

void TCheckBox::Click() {
  if (!Enabled()) return;
  SetChecked(!Checked_);
  TControl::Click();
}

void TListControl::SetItems(std::vector<std::string> items) {
  Items_ = std::move(items);
  const bool hadSelection = ItemIndex_ >= 0;
  ItemIndex_ = -1;
  Changed();
  if (hadSelection && OnChange) OnChange();
}

void TListControl::AddItem(const std::string& item) {
  Items_.push_back(item);
  Changed();
}

void TListControl::DeleteItem(int index) {
  if (index < 0 || index >= static_cast<int>(Items_.size())) return;
  Items_.erase(Items_.begin() + index);
  const bool lostSelection = index == ItemIndex_;
  if (lostSelection)
    ItemIndex_ = -1;
  else if (index < ItemIndex_)
    --ItemIndex_;
  Changed();
  if (lostSelection && OnChange) OnChange();
}

void TListControl::SetItemIndex(int index) {
  Select(index >= 0 && index < static_cast<int>(Items_.size()) ? index : -1);
}

void TListControl::Select(int index) {
  if (index == ItemIndex_) return;
  ItemIndex_ = index;
  Changed();
  if (OnChange) OnChange();
}

std::string TListControl::Selected() const {
  return ItemIndex_ >= 0 ? Items_[ItemIndex_] : std::string();
}

void TListBox::DblClick() {
  if (Enabled() && OnDblClick) OnDblClick();
}

namespace {

double RoundTo(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

}  // namespace

TSpinEdit::TSpinEdit(std::string name, double min, double max, int decimals, double increment)
    : TControl(TControlKind::SpinEdit, std::move(name)),
      Min_(min),
      Max_(std::max(min, max)),
      Decimals_(std::clamp(decimals, 0, 6)),
      Increment_(increment),
      Value_(RoundTo(min, Decimals_)) {}

void TSpinEdit::SetValue(double value) {
  // NaN is no number a field can show: it leaves the value alone.
  if (std::isnan(value)) return;
  value = std::clamp(RoundTo(value, Decimals_), Min_, Max_);
  if (value == Value_) return;
  Value_ = value;
  Changed();
  if (OnChange) OnChange();
}

std::string TSpinEdit::Text() const {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", Decimals_, Value_);
  return text;
}

void TSpinEdit::Step(int steps) {
  if (Enabled()) SetValue(Value_ + steps * Increment_);
}

bool TSpinEdit::Typed(const std::string& text) {
  std::string s = text;
  std::replace(s.begin(), s.end(), ',', '.');
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  s = s.substr(first, s.find_last_not_of(" \t") - first + 1);
  if (s[0] == '+') s.erase(0, 1);
  // Plain decimals only: from_chars would also read "inf" and "nan".
  if (s.empty() || s.find_first_not_of("-.0123456789") != std::string::npos) return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  SetValue(value);
  return true;
}

void TEdit::SetText(const std::string& text) {
  if (Text_ == text) return;
  Text_ = text;
  Changed();
  if (OnChange) OnChange();
}

void TDirectoryEdit::Browse() {
  if (Enabled() && OnBrowse) OnBrowse();
}

TTimer::~TTimer() {
  Enabled_ = false;
  if (View_) View_->Update(*this);
}

void TTimer::SetInterval(uint32_t ms) {
  if (Interval_ == ms) return;
  Interval_ = ms;
  if (View_) View_->Update(*this);
}

void TTimer::SetEnabled(bool e) {
  if (Enabled_ == e) return;
  Enabled_ = e;
  if (View_) View_->Update(*this);
}

void TTimer::Fire() {
  if (Enabled_ && OnTimer) OnTimer();
}

void TTimer::Bind(TTimerView* view) {
  View_ = view;
  if (View_) View_->Update(*this);
}
