#pragma once

#include <cstdint>
#include <functional>

// The main thread's message loop as the logic sees it.
class TApplication {
 public:
  virtual ~TApplication() = default;
  // Runs the work pending on the main thread once, without waiting for more.
  virtual void ProcessMessages() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  // Queues work for the main thread; callable from any thread, never blocks.
  virtual void Post(std::function<void()> work) = 0;
};

// Lets the main window's pending messages run once, then sleeps.
void Delay(TApplication& app, uint32_t ms);
