#include "ui/win32/Win32App.h"

namespace {

const char* const MessageWindowClass = "TKestruneMessageWindow";
constexpr UINT WM_RUN_POSTED = WM_APP + 0x101;

UINT_PTR TimerId(TTimer& timer) {
  return reinterpret_cast<UINT_PTR>(&timer);
}

}  // namespace

TWin32App::TWin32App(HINSTANCE instance)
    : Instance_(instance ? instance : GetModuleHandleA(nullptr)) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = Instance_;
  wc.lpszClassName = MessageWindowClass;
  RegisterClassExA(&wc);  // fails harmlessly when a second app object registers it again
  Window.Reset(CreateWindowExA(0, MessageWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               Instance_, nullptr));
  // Without its window the application still runs the work posted to it whenever it processes
  // messages (RunPosted), only nothing wakes the loop for it.
  if (Window) SetWindowLongPtrA(Window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TWin32App::~TWin32App() {
  for (TTimer* t : std::set<TTimer*>(Timers)) t->Bind(nullptr);
  // The window goes with its owner member after this body; no message may reach this object
  // meanwhile.
  if (Window) SetWindowLongPtrA(Window.Get(), GWLP_USERDATA, 0);
}

void TWin32App::Update(TTimer& timer) {
  if (timer.Enabled() && timer.Interval() > 0) {
    Timers.insert(&timer);
    // Setting an existing id again re-arms it with the new interval.
    SetTimer(Window.Get(), TimerId(timer), timer.Interval(), nullptr);
  } else {
    Detach(timer);
  }
}

void TWin32App::Detach(TTimer& timer) {
  if (Timers.erase(&timer)) KillTimer(Window.Get(), TimerId(timer));
}

void TWin32App::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  RunPosted();
}

void TWin32App::Sleep(uint32_t ms) {
  ::Sleep(ms);
}

void TWin32App::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> g(PostLock);
  Posted.push_back(std::move(work));
  if (!WakePending) WakePending = PostMessageA(Window.Get(), WM_RUN_POSTED, 0, 0) != 0;
}

void TWin32App::RunPosted() {
  std::deque<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> g(PostLock);
    work.swap(Posted);
    WakePending = false;
  }
  for (auto& w : work) w();
}

int TWin32App::Run() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    // A message the system could not hand over (Wine fails so on a WM_COPYDATA of 2 MB or more
    // from another program) is lost, not the end of the program; the pause keeps a failure
    // that repeats from spinning.
    if (got < 0) {
      ::Sleep(10);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  RunPosted();
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK TWin32App::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* app = reinterpret_cast<TWin32App*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (app) {
    if (msg == WM_RUN_POSTED) {
      app->RunPosted();
      return 0;
    }
    if (msg == WM_TIMER) {
      // A timer killed while its message was queued must not fire.
      auto* timer = reinterpret_cast<TTimer*>(wParam);
      if (app->Timers.count(timer)) timer->Fire();
      return 0;
    }
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}
