#include "dsp/OVFaders.h"

#include <cmath>

namespace {

constexpr double SecondsPerDay = 86400.0;

}  // namespace

TOVFader::TOVFader(TClock& clock) : Clock(clock) {}

void TOVFader::SetFading(bool fading) {
  Fading_ = fading;
  if (RunTimer) RunTimer(fading);
}

void TOVFader::Cancel() {
  if (Fading_) SetFading(false);
}

void TOVFader::SetValue(double value) {
  StartValue_ = value;
  Value_ = value;
}

void TOVFader::FadeTo(double target, double seconds) {
  // A NaN target would never be reached and would poison every later value.
  if (std::isnan(target)) return;
  if (!(seconds >= 0 && seconds <= SecondsPerDay)) seconds = 0;
  if (Value_ == target) seconds = 0;
  const double now = Clock.WallNow();
  StartTime_ = now;
  LastTime_ = now;
  EndTime_ = now + seconds / SecondsPerDay;
  if (seconds == 0) Value_ = target;
  Fading_ = seconds != 0;
  Target_ = target;
  StartValue_ = Value_;
  if (OnStart) OnStart(this, Value_);
  // The owner gets the starting value at once (and, for an immediate fade, the finish).
  TimerTick();
  SetFading(Fading_);
}

void TOVFader::TimerTick() {
  UpdateValue();
  if (OnStep) OnStep(this, Value_);
  if (!Fading_ && OnFinish) OnFinish(this, Value_);
}

void TOVFader::UpdateValue() {
  const double now = Clock.WallNow();
  if (now < LastTime_) {
    // The clock was set back: shift the window so the fade goes on where it was.
    const double back = LastTime_ - now;
    StartTime_ -= back;
    EndTime_ -= back;
  }
  if (now >= EndTime_ || EndTime_ == StartTime_) {
    Value_ = Target_;
    SetFading(false);
    return;
  }
  LastTime_ = now;
  Value_ = StartValue_ + (Target_ - StartValue_) * (now - StartTime_) / (EndTime_ - StartTime_);
}
