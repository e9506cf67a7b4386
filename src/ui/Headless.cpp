#include "ui/Headless.h"

#include <limits>
#include <vector>

void THeadlessApp::Update(TTimer& timer) {
  if (timer.Enabled() && timer.Interval() > 0)
    Due[&timer] = Clock.TickCount64() + timer.Interval();
  else
    Due.erase(&timer);
}

void THeadlessApp::Advance(uint64_t ms) {
  const uint64_t end = Clock.TickCount64() + ms;
  for (;;) {
    ProcessMessages();
    TTimer* next = nullptr;
    uint64_t at = std::numeric_limits<uint64_t>::max();
    for (auto& [t, due] : Due) {
      if (due < at) {
        at = due;
        next = t;
      }
    }
    if (!next || at > end) break;
    const uint64_t now = Clock.TickCount64();
    if (at > now) Clock.Advance(at - now);
    Due[next] = at + next->Interval();
    next->Fire();
  }
  const uint64_t now = Clock.TickCount64();
  if (end > now) Clock.Advance(end - now);
  ProcessMessages();
}

void THeadlessApp::ProcessMessages() {
  std::deque<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> g(PostLock);
    work.swap(Posted);
  }
  for (auto& w : work) w();
  // Timers already due fire too, once each, as a window's pending timer messages do.
  const uint64_t now = Clock.TickCount64();
  std::vector<TTimer*> due;
  for (auto& [t, at] : Due)
    if (at <= now) due.push_back(t);
  for (TTimer* t : due) {
    auto it = Due.find(t);
    if (it == Due.end() || it->second > now) continue;
    it->second = now + t->Interval();
    t->Fire();
  }
}

void THeadlessApp::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> g(PostLock);
  Posted.push_back(std::move(work));
}

size_t THeadlessApp::PendingPosts() {
  std::lock_guard<std::mutex> g(PostLock);
  return Posted.size();
}
