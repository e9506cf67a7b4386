#pragma once

#include <functional>

#include "ui/Controls.h"
#include "util/Clock.h"

class TOVFader;

using TFaderEvent = std::function<void(TOVFader* sender, double value)>;

// Moves a value linearly to a target over a given time. The 10 ms timer only says when to take a
// step; each step's value comes from the wall clock, so a fade lasts its full duration however
// irregularly the timer fires.
class TOVFader {
 public:
  explicit TOVFader(TClock& clock);
  TOVFader(const TOVFader&) = delete;
  TOVFader& operator=(const TOVFader&) = delete;

  // Sets the value without an event; a running fade goes on from its own start value.
  void SetValue(double value);
  // Starts a fade to target over seconds (0, negative, NaN or more than a day: at once).
  void FadeTo(double target, double seconds);
  // One step: the timer's handler.
  void TimerTick();

  double Value() const { return Value_; }
  double Target() const { return Target_; }
  double StartValue() const { return StartValue_; }
  bool Fading() const { return Fading_; }
  double StartTime() const { return StartTime_; }
  double EndTime() const { return EndTime_; }
  double LastTime() const { return LastTime_; }

  TFaderEvent OnStart;
  TFaderEvent OnStep;
  TFaderEvent OnFinish;
  // Bound by the owner to a window timer (or a headless one in tests).
  TTimer Timer;

 private:
  void UpdateValue();

  TClock& Clock;
  bool Fading_ = false;
  double Value_ = 0;
  double Target_ = 0;
  double StartValue_ = 0;
  // Wall-clock readings in days.
  double LastTime_ = 0;
  double StartTime_ = 0;
  double EndTime_ = 0;
};
