#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "link/Protocol.h"

// Where status notifications go (the peer transport in the program, a recorder in tests).
class TPeerNotifier {
 public:
  virtual ~TPeerNotifier() = default;
  virtual void Notify(uint16_t code) = 0;
};

// Where the chosen audio stream goes (the send queue in the program, a recorder in tests).
// Called on the relay thread; the data stays the caller's.
class TStreamSink {
 public:
  virtual ~TStreamSink() = default;
  virtual void AddSendData(const int16_t* data, int32_t size, int32_t rate) = 0;
};

// A running relay loop. Destroying it ends the loop and waits for the pass in progress.
class TRelayWorker {
 public:
  virtual ~TRelayWorker() = default;
};

// How the relay loop is run: a time-critical thread in the program, nothing in tests, which call
// the pass themselves between advances of the simulated devices.
class TRelayHost {
 public:
  virtual ~TRelayHost() = default;
  virtual std::unique_ptr<TRelayWorker> StartWorker(std::function<void()> pass) = 0;
};

// A thread that runs the pass every 10 ms. The thread's priority is set through the hook, so the
// platform decides what time-critical means; while any worker runs, the process asks for a 1 ms
// timer resolution so the sleeps last 10 ms rather than a scheduler tick.
class TThreadRelayHost : public TRelayHost {
 public:
  struct THooks {
    std::function<void()> RaiseThreadPriority;
    std::function<void()> BeginTimerResolution;
    std::function<void()> EndTimerResolution;
  };
  explicit TThreadRelayHost(THooks hooks) : Hooks(std::move(hooks)) {}
  std::unique_ptr<TRelayWorker> StartWorker(std::function<void()> pass) override;

 private:
  THooks Hooks;
};

// The relay thread of a session: runs the block path's pass every 10 ms until it goes; going
// waits for the pass in progress.
class TTimerThread {
 public:
  TTimerThread(TRelayHost& host, std::function<void()> pass);
  ~TTimerThread();
  TTimerThread(const TTimerThread&) = delete;
  TTimerThread& operator=(const TTimerThread&) = delete;

 private:
  std::unique_ptr<TRelayWorker> Worker;
};
