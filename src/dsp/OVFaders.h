#pragma once

#include <functional>

#include "util/Clock.h"

class TOVFader;

using TFaderEvent = std::function<void(TOVFader* sender, double value)>;

// Moves a value linearly to a target over a given time. The owner's 10 ms timer only says when
// to take a step (TimerTick); each step's value comes from the wall clock, so a fade lasts its
// full duration however irregularly the timer fires. RunTimer tells the owner when its timer is
// wanted.
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
  // Ends a running fade where it is, without an event.
  void Cancel();

  double Value() const { return Value_; }
  double Target() const { return Target_; }
  double StartValue() const { return StartValue_; }
  bool Fading() const { return Fading_; }
  double StartTime() const { return StartTime_; }
  double EndTime() const { return EndTime_; }
  double LastTime() const { return LastTime_; }

  // All raised on the main thread (FadeTo and the timer's ticks).
  TFaderEvent OnStart;
  TFaderEvent OnStep;
  TFaderEvent OnFinish;
  // Switches the owner's 10 ms timer on while a fade runs and off when it ends.
  std::function<void(bool run)> RunTimer;

 private:
  void UpdateValue();
  void SetFading(bool fading);

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
