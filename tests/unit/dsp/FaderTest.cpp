#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dsp/OVFaders.h"
#include "ui/Headless.h"

namespace {

struct TRecord {
  std::string Event;
  double Value;
  uint64_t Tick;
};

// A fader on a manual clock, its timer driven headless, every event recorded in order.
class FaderTest : public ::testing::Test {
 protected:
  FaderTest() {
    Timer.OnTimer = [this] { Fader.TimerTick(); };
    Fader.RunTimer = [this](bool run) { Timer.SetEnabled(run); };
    App.Attach(Timer);
    Fader.OnStart = [this](TOVFader* s, double v) { Note(s, "start", v); };
    Fader.OnStep = [this](TOVFader* s, double v) { Note(s, "step", v); };
    Fader.OnFinish = [this](TOVFader* s, double v) { Note(s, "finish", v); };
  }

  void Note(TOVFader* sender, const char* what, double v) {
    EXPECT_EQ(sender, &Fader);
    Events.push_back({what, v, Clock.TickCount64()});
  }

  int Count(const std::string& what) const {
    int n = 0;
    for (auto& e : Events) n += e.Event == what;
    return n;
  }

  std::vector<TRecord> Steps() const {
    std::vector<TRecord> r;
    for (auto& e : Events)
      if (e.Event == "step") r.push_back(e);
    return r;
  }

  TManualClock Clock;
  THeadlessApp App{Clock};
  TOVFader Fader{Clock};
  // The owner's 10 ms step timer.
  TTimer Timer{"FaderTimer", 10};
  std::vector<TRecord> Events;
};

TEST_F(FaderTest, FadeInIsLinearInElapsedTimeAndEndsExactlyOnTarget) {
  const uint64_t t0 = Clock.TickCount64();
  Fader.FadeTo(100, 2);
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[0].Event, "start");
  EXPECT_EQ(Events[0].Value, 0);
  EXPECT_EQ(Events[1].Event, "step");
  EXPECT_NEAR(Events[1].Value, 0, 0.01);
  EXPECT_TRUE(Fader.Fading());
  EXPECT_TRUE(Timer.Enabled());

  App.Advance(2500);
  const auto steps = Steps();
  // One step at once, then one every 10 ms up to the first one at or after 2 s (the manual wall
  // clock sums its 10 ms steps in days, so 2 s may read a hair short).
  ASSERT_GE(steps.size(), 201u);
  ASSERT_LE(steps.size(), 202u);
  for (const auto& s : steps) {
    const double elapsed = (s.Tick - t0) / 1000.0;
    EXPECT_NEAR(s.Value, std::min(100.0, elapsed * 50), 0.01) << "at " << elapsed << " s";
  }
  EXPECT_LT(steps[steps.size() - 2].Value, 100.0);
  EXPECT_EQ(steps.back().Value, 100.0);
  EXPECT_GE(steps.back().Tick - t0, 2000u);
  ASSERT_EQ(Count("finish"), 1);
  EXPECT_EQ(Events.back().Event, "finish");
  EXPECT_EQ(Events.back().Value, 100.0);
  EXPECT_FALSE(Fader.Fading());
  EXPECT_FALSE(Timer.Enabled());
}

TEST_F(FaderTest, ImmediateFadesRaiseStartStepFinishInsideTheCall) {
  Fader.SetValue(100);
  Fader.FadeTo(0, 0);
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[0].Event, "start");
  EXPECT_EQ(Events[1].Event, "step");
  EXPECT_EQ(Events[2].Event, "finish");
  for (auto& e : Events) EXPECT_EQ(e.Value, 0);
  EXPECT_FALSE(Timer.Enabled());

  // A fade to the present value, and durations out of range, also finish at once.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<double, double>> cases = {{0, 5}, {40, -1}, {60, 86401}, {80, nan}};
  for (auto [target, seconds] : cases) {
    Events.clear();
    Fader.FadeTo(target, seconds);
    ASSERT_EQ(Events.size(), 3u) << seconds;
    EXPECT_EQ(Events[2].Event, "finish");
    EXPECT_EQ(Events[2].Value, target);
    EXPECT_EQ(Fader.Value(), target);
    EXPECT_FALSE(Timer.Enabled());
  }
}

TEST_F(FaderTest, NotANumberTargetIsIgnored) {
  Fader.FadeTo(100, 2);
  App.Advance(500);
  Events.clear();
  Fader.FadeTo(std::numeric_limits<double>::quiet_NaN(), 1);
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(Fader.Target(), 100);
  App.Advance(1600);
  EXPECT_EQ(Fader.Value(), 100);
  EXPECT_EQ(Count("finish"), 1);
}

TEST_F(FaderTest, OneDayIsStillAFade) {
  Fader.FadeTo(100, 86400);
  EXPECT_TRUE(Fader.Fading());
  Clock.Advance(8640000);  // a tenth of the day
  Fader.TimerTick();
  EXPECT_NEAR(Fader.Value(), 10, 1e-3);
}

TEST_F(FaderTest, NewFadeDuringAFadeStartsFromTheIntermediateValue) {
  Fader.FadeTo(100, 2);
  App.Advance(1000);
  EXPECT_NEAR(Fader.Value(), 50, 0.01);
  Fader.FadeTo(0, 3);
  EXPECT_NEAR(Fader.StartValue(), 50, 0.01);
  App.Advance(1500);
  EXPECT_NEAR(Fader.Value(), 25, 0.01);
  EXPECT_EQ(Count("finish"), 0);
  App.Advance(2000);
  ASSERT_EQ(Count("finish"), 1);
  EXPECT_EQ(Events.back().Value, 0);
  EXPECT_EQ(Count("start"), 2);
}

TEST_F(FaderTest, ClockSetBackContinuesTheFadeWhereItWas) {
  Fader.FadeTo(100, 2);
  App.Advance(1000);
  Clock.ShiftWall(-3600 * 1000);
  App.Advance(10);
  EXPECT_NEAR(Fader.Value(), 50, 1e-3);
  EXPECT_TRUE(Fader.Fading());
  App.Advance(500);
  EXPECT_NEAR(Fader.Value(), 75, 1.0);
  App.Advance(520);
  EXPECT_EQ(Fader.Value(), 100);
  EXPECT_EQ(Count("finish"), 1);
}

TEST_F(FaderTest, ClockSetForwardEndsTheFadeAtTheNextStep) {
  Fader.FadeTo(100, 2);
  App.Advance(500);
  Clock.ShiftWall(3600 * 1000);
  App.Advance(10);
  EXPECT_EQ(Fader.Value(), 100);
  EXPECT_EQ(Count("finish"), 1);
  EXPECT_FALSE(Timer.Enabled());
}

TEST_F(FaderTest, LateTimerGivesFewerStepsButTheRightValues) {
  Fader.FadeTo(100, 2);
  // A busy main thread: the timer only gets to run every 350 ms.
  Timer.SetEnabled(false);
  for (int i = 0; i < 6; ++i) {
    Clock.Advance(350);
    Fader.TimerTick();
    EXPECT_NEAR(Fader.Value(), std::min(100.0, 350 * (i + 1) / 20.0), 0.01);
  }
  EXPECT_EQ(Count("step"), 7);
  EXPECT_EQ(Count("finish"), 1);
  EXPECT_EQ(Fader.Value(), 100);
}

TEST_F(FaderTest, SetValueRaisesNothingAndKeepsTheFadeRunning) {
  Fader.SetValue(30);
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(Fader.Value(), 30);
  Fader.FadeTo(-70, 1);  // targets are not limited
  App.Advance(500);
  Events.clear();
  Fader.SetValue(0);
  EXPECT_TRUE(Events.empty());
  EXPECT_TRUE(Fader.Fading());
  EXPECT_TRUE(Timer.Enabled());
  App.Advance(600);
  EXPECT_EQ(Fader.Value(), -70);
  EXPECT_EQ(Count("finish"), 1);
}

}  // namespace
