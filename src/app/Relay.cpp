#include "app/Relay.h"

#include <chrono>

namespace {

class TThreadWorker : public TRelayWorker {
 public:
  TThreadWorker(const TThreadRelayHost::THooks& hooks, std::function<void()> pass) : Hooks(hooks) {
    if (Hooks.BeginTimerResolution) Hooks.BeginTimerResolution();
    Thread = std::thread([this, pass = std::move(pass)] {
      if (Hooks.RaiseThreadPriority) Hooks.RaiseThreadPriority();
      while (!Terminated.load(std::memory_order_acquire)) {
        pass();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }

  ~TThreadWorker() override {
    Terminated.store(true, std::memory_order_release);
    if (Thread.joinable()) Thread.join();
    if (Hooks.EndTimerResolution) Hooks.EndTimerResolution();
  }

 private:
  const TThreadRelayHost::THooks& Hooks;
  std::atomic<bool> Terminated{false};
  std::thread Thread;
};

}  // namespace

std::unique_ptr<TRelayWorker> TThreadRelayHost::StartWorker(std::function<void()> pass) {
  return std::make_unique<TThreadWorker>(Hooks, std::move(pass));
}

TTimerThread::TTimerThread(TRelayHost& host, std::function<void()> pass)
    : Worker(host.StartWorker(std::move(pass))) {}

TTimerThread::~TTimerThread() {
  Worker.reset();
}
