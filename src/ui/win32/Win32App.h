#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <set>

#include "platform/win32/Handles.h"
#include "ui/Application.h"
#include "ui/Controls.h"

// The main thread's message loop on Windows. A hidden message window receives the posted work
// and the window timers of every TTimer attached here. Create it on the main thread, first of
// the program's objects, and destroy it last.
class TWin32App : public TApplication, public TTimerView {
 public:
  explicit TWin32App(HINSTANCE instance = nullptr);
  ~TWin32App() override;
  TWin32App(const TWin32App&) = delete;
  TWin32App& operator=(const TWin32App&) = delete;

  HINSTANCE Instance() const { return Instance_; }

  // Runs the timer as a window timer of the main thread from now on.
  void Attach(TTimer& timer) { timer.Bind(this); }
  void Update(TTimer& timer) override;

  void ProcessMessages() override;
  void Sleep(uint32_t ms) override;
  // Never blocks and never loses work: a wake-up that cannot be posted now is posted again by
  // the next Post, and ProcessMessages/Run also run what is queued.
  void Post(std::function<void()> work) override;
  // The message loop until the main window is destroyed (WM_QUIT); returns the quit code.
  int Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void RunPosted();
  void Detach(TTimer& timer);

  HINSTANCE Instance_;
  TWindowHandle Window;
  std::set<TTimer*> Timers;
  std::mutex PostLock;
  std::deque<std::function<void()>> Posted;
  bool WakePending = false;
};
