#include "ui/win32/Win32Window.h"

TWin32Window::TWin32Window(TWin32App& app, std::string className)
    : App(app), ClassName_(std::move(className)) {}

TWin32Window::~TWin32Window() {
  // The window procedure must not reach this object any more while the window goes.
  if (Window) SetWindowLongPtrA(Window.Get(), GWLP_USERDATA, 0);
  Controls_.reset();
  Window.Reset();
}

bool TWin32Window::RegisterWindowClass(HICON icon) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExA(App.Instance(), ClassName_.c_str(), &existing))
    return existing.lpfnWndProc == WindowProc;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = App.Instance();
  wc.hIcon = icon ? icon : LoadIcon(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = ClassName_.c_str();
  return RegisterClassExA(&wc) != 0;
}

bool TWin32Window::CreateFor(TFormHandler& handler, const TShape& shape) {
  if (Window || !RegisterWindowClass(shape.Icon)) return false;
  RECT r{0, 0, shape.ClientWidth, shape.ClientHeight};
  AdjustWindowRectEx(&r, shape.Style, FALSE, shape.ExStyle);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  // The window procedure takes the handle at WM_NCCREATE; a failed creation leaves none.
  if (!CreateWindowExA(shape.ExStyle, ClassName_.c_str(), shape.Caption.c_str(), shape.Style, left,
                       top, width, height, shape.Owner, nullptr, App.Instance(), this))
    return false;
  Controls_ = std::make_unique<TWin32Controls>(Window.Get());
  Handler = &handler;
  for (TControl* c : handler.FormControls())
    if (c) Controls_->Bind(*c);
  for (TTimer* t : handler.FormTimers())
    if (t) App.Attach(*t);
  handler.FormCreate();
  return static_cast<bool>(Window);
}

LRESULT CALLBACK TWin32Window::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self =
        static_cast<TWin32Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->Window.Reset(hwnd);
  }
  auto* self = reinterpret_cast<TWin32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return self->Dispatch(msg, wParam, lParam);
}

LRESULT TWin32Window::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = Window.Get();
  LRESULT result = 0;
  if (Controls_ && Controls_->HandleMessage(msg, wParam, lParam, result)) return result;
  if (Handler && (msg == WM_COPYDATA || (msg >= WM_USER && msg <= 0x7FFF))) {
    intptr_t answer = 0;
    if (Handler->FormMessage(msg, wParam, lParam, answer)) return answer;
  }
  switch (msg) {
    case WM_CLOSE:
      RequestClose();
      return 0;
    case WM_DESTROY:
      Destroying();
      Controls_.reset();
      Handler = nullptr;
      return 0;
    case WM_NCDESTROY: {
      const LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      // Gone already: nothing left to destroy.
      Window.Release();
      return r;
    }
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void TWin32Window::RequestClose() {
  // A close asked for while the handler still decides (it may pump messages) is dropped.
  if (Closing) return;
  Closing = true;
  const bool mayClose = !Handler || Handler->FormClose();
  Closing = false;
  if (mayClose && Window) CloseAllowed();
}

void TWin32Window::CloseAllowed() {
  DestroyWindow(Window.Get());
}

bool TWin32Window::Confirm(const std::string& text) {
  return MessageBoxA(Window.Get(), text.c_str(), Title.c_str(), MB_YESNO | MB_ICONQUESTION) ==
         IDYES;
}

void TWin32Window::Information(const std::string& text) {
  MessageBoxA(Window.Get(), text.c_str(), Title.c_str(), MB_OK | MB_ICONINFORMATION);
}

void TWin32Window::Error(const std::string& text) {
  MessageBoxA(Window.Get(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}
