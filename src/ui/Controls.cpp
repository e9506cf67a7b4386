#include "ui/Controls.h"

#include <algorithm>

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
