#pragma once

#include <deque>
#include <map>
#include <mutex>

#include "ui/Application.h"
#include "ui/Controls.h"
#include "util/Clock.h"

// The headless binding: timers run on a manual clock that a test advances, and posted work and
// timers already due wait until the test (or a Delay) processes messages.
class THeadlessApp : public TApplication, public TTimerView {
 public:
  explicit THeadlessApp(TManualClock& clock) : Clock(clock) {}

  void Attach(TTimer& timer) { timer.Bind(this); }
  void Update(TTimer& timer) override;

  // Moves time forward, firing due timers in order and running posted work as it comes.
  void Advance(uint64_t ms);

  void ProcessMessages() override;
  // Time passes but no timer fires inside a sleep; they fire at the next Advance.
  void Sleep(uint32_t ms) override { Clock.Advance(ms); }
  void Post(std::function<void()> work) override;
  size_t PendingPosts();

  TManualClock& Clock;

 private:
  std::map<TTimer*, uint64_t> Due;
  std::mutex PostLock;
  std::deque<std::function<void()>> Posted;
};
