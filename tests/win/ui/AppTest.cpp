#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestForm.h"

namespace {

TEST(Win32App, TimersFireFromTheMessageLoopAndStopWhenDisabled) {
  TWin32App app;
  TTimer timer{"TimerWork", 10};
  int fired = 0;
  timer.OnTimer = [&] { ++fired; };
  app.Attach(timer);
  PumpUntil(
      app, [] { return false; }, 60);
  EXPECT_EQ(fired, 0) << "a disabled timer fired";
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil(
      app, [&] { return fired >= 3; }, 2000));
  timer.SetEnabled(false);
  const int stopped = fired;
  PumpUntil(
      app, [] { return false; }, 80);
  EXPECT_EQ(fired, stopped);
}

TEST(Win32App, ANewIntervalRearmsTheTimer) {
  TWin32App app;
  TTimer timer{"TimerWork", 5000};
  int fired = 0;
  timer.OnTimer = [&] { ++fired; };
  app.Attach(timer);
  timer.SetEnabled(true);
  PumpUntil(
      app, [] { return false; }, 100);
  EXPECT_EQ(fired, 0);
  timer.SetInterval(10);
  EXPECT_TRUE(PumpUntil(
      app, [&] { return fired >= 2; }, 2000));
}

TEST(Win32App, FormTimersRunOnTheApplication) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  int fired = 0;
  f.Logic.Timer.OnTimer = [&] { ++fired; };
  f.Logic.Timer.SetEnabled(true);
  EXPECT_TRUE(PumpUntil(
      f.App, [&] { return fired >= 2; }, 2000));
}

TEST(Win32App, WorkPostedFromOtherThreadsRunsOnTheMainThreadInOrder) {
  TWin32App app;
  const DWORD mainThread = GetCurrentThreadId();
  std::vector<int> ran;
  std::atomic<bool> offMain{false};
  std::thread poster([&] {
    for (int i = 0; i < 500; ++i)
      app.Post([&, i] {
        if (GetCurrentThreadId() != mainThread) offMain = true;
        ran.push_back(i);
      });
  });
  // Posting never waits for the main thread, which is not looking yet.
  poster.join();
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(PumpUntil(app, [&] { return ran.size() == 500; }));
  EXPECT_FALSE(offMain);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(ran[i], i);
}

TEST(Win32App, PostedWorkEndsARunningLoop) {
  TWin32App app;
  bool ran = false;
  std::thread poster([&] {
    app.Post([&] {
      ran = true;
      PostQuitMessage(7);
    });
  });
  EXPECT_EQ(app.Run(), 7);
  poster.join();
  EXPECT_TRUE(ran);
}

TEST(Win32App, DelayLetsPendingWorkRun) {
  TWin32App app;
  int ran = 0;
  app.Post([&] { ++ran; });
  Delay(app, 20);
  EXPECT_EQ(ran, 1);
}

}  // namespace
