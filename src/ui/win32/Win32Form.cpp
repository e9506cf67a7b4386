#include "ui/win32/Win32Form.h"

#include <shellapi.h>

#include <cmath>

namespace {

const char* const FormClass = "TOV_Kestrune";
constexpr int ClientWidth = 318;
constexpr int ClientHeight = 221;
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT WM_TRAY = WM_APP + 1;
constexpr UINT TrayId = 1;
constexpr UINT_PTR AnimationTimer = 1;
constexpr UINT AnimationStep = 60;
constexpr int IconResource = 1;

// One image of the tray animation: three level bars rising and falling out of phase.
HICON MakeFrame(int frame) {
  constexpr int size = 16;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!color) return nullptr;
  auto* px = static_cast<uint32_t*>(bits);
  const double pi = 3.14159265358979;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) px[y * size + x] = 0xFF202020;  // dark ground, opaque
  for (int bar = 0; bar < 3; ++bar) {
    const double phase = 2 * pi * (frame / 10.0 + bar / 3.0);
    const int height = 3 + static_cast<int>(std::lround(5.0 * (1.0 + std::sin(phase))));
    for (int y = size - 1 - height; y < size - 1; ++y)
      for (int x = 1 + bar * 5; x < 5 + bar * 5; ++x)
        px[y * size + x] = y < size - 1 - 8 ? 0xFFFFD000 : 0xFF00E000;
  }
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  ICONINFO ii{};
  ii.fIcon = TRUE;
  ii.hbmColor = color;
  ii.hbmMask = mask;
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(color);
  DeleteObject(mask);
  return icon;
}

}  // namespace

TWin32Form::TWin32Form(TWin32App& app) : App(app) {
  AppIcon = static_cast<HICON>(
      LoadImageA(app.Instance(), MAKEINTRESOURCEA(IconResource), IMAGE_ICON, 16, 16, 0));
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = app.Instance();
  wc.hIcon = LoadIconA(app.Instance(), MAKEINTRESOURCEA(IconResource));
  if (!wc.hIcon) wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = FormClass;
  RegisterClassExA(&wc);  // a second form registers again and fails harmlessly
  TaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
}

TWin32Form::~TWin32Form() {
  if (Window) DestroyWindow(Window);
  for (HICON f : Frames)
    if (f) DestroyIcon(f);
  if (AppIcon) DestroyIcon(AppIcon);
}

bool TWin32Form::Create(TFormHandler& handler, int showCommand) {
  if (Window) return false;
  RECT r{0, 0, ClientWidth, ClientHeight};
  AdjustWindowRectEx(&r, FormStyle, FALSE, 0);
  const int width = r.right - r.left, height = r.bottom - r.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  Window = CreateWindowExA(0, FormClass, "OV Kestrune", FormStyle, left, top, width, height,
                           nullptr, nullptr, App.Instance(), this);
  if (!Window) return false;
  if (Animating) SetTimer(Window, AnimationTimer, AnimationStep, nullptr);
  Controls_ = std::make_unique<TWin32Controls>(Window);
  Handler = &handler;
  for (TControl* c : handler.FormControls())
    if (c) Controls_->Bind(*c);
  for (TTimer* t : handler.FormTimers())
    if (t) App.Attach(*t);
  handler.FormCreate();
  if (Window) ShowWindow(Window, showCommand);
  return Window != nullptr;
}

LRESULT CALLBACK TWin32Form::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* form = reinterpret_cast<TWin32Form*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcA(hwnd, msg, wParam, lParam);
  if (!form->Window) form->Window = hwnd;
  return form->Dispatch(msg, wParam, lParam);
}

LRESULT TWin32Form::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (Controls_ && Controls_->HandleMessage(msg, wParam, lParam, result)) return result;
  if (Handler && (msg == WM_COPYDATA || (msg >= WM_USER && msg < 0xC000))) {
    intptr_t answer = 0;
    if (Handler->FormMessage(msg, wParam, lParam, answer)) return answer;
  }
  switch (msg) {
    case WM_CLOSE:
      // A close asked for while the handler still decides (it may pump messages) is dropped.
      if (Closing) return 0;
      Closing = true;
      {
        const bool mayClose = !Handler || Handler->FormClose();
        Closing = false;
        if (mayClose && Window) DestroyWindow(Window);
      }
      return 0;
    case WM_QUERYENDSESSION: {
      const LRESULT answer = DefWindowProcA(Window, msg, wParam, lParam);
      if (Handler) Handler->WMSystem_Shutdown_Query();
      return answer;
    }
    case WM_SIZE:
      SizeChanged(wParam);
      break;
    case WM_TIMER:
      if (wParam == AnimationTimer) {
        Frame = (Frame + 1) % 10;
        UpdateTray();
        return 0;
      }
      break;
    case WM_TRAY:
      TrayMessage(lParam);
      return 0;
    case WM_DESTROY:
      Destroyed();
      return 0;
    case WM_NCDESTROY: {
      const LRESULT r = DefWindowProcA(Window, msg, wParam, lParam);
      SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
      Window = nullptr;
      return r;
    }
    default:
      if (msg == TaskbarCreated && TaskbarCreated) {
        // The shell restarted: its tray is empty again.
        TrayShown = false;
        UpdateTray();
        return 0;
      }
  }
  return DefWindowProcA(Window, msg, wParam, lParam);
}

void TWin32Form::SizeChanged(WPARAM how) {
  if (how == SIZE_MINIMIZED && !Minimized_) {
    Minimized_ = true;
    UpdateTray();
    if (Handler) Handler->OnMinimize();
  } else if ((how == SIZE_RESTORED || how == SIZE_MAXIMIZED) && Minimized_) {
    Minimized_ = false;
    UpdateTray();
    if (Handler) Handler->OnRestore();
  }
}

void TWin32Form::TrayMessage(LPARAM what) {
  if (what != WM_LBUTTONDBLCLK) return;
  if (Window && (IsIconic(Window) || !IsWindowVisible(Window))) ShowWindow(Window, SW_RESTORE);
  if (Handler) Handler->TrayIconDblClick();
}

HICON TWin32Form::TrayImage() {
  if (!Animating && AppIcon) return AppIcon;
  const int i = Animating ? Frame : 0;
  if (!Frames[i]) Frames[i] = MakeFrame(i);
  return Frames[i];
}

void TWin32Form::UpdateTray() {
  if (!Window) return;
  const bool wanted = TrayVisible || Minimized_;
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = Window;
  nid.uID = TrayId;
  if (!wanted) {
    if (TrayShown) Shell_NotifyIconA(NIM_DELETE, &nid);
    TrayShown = false;
    return;
  }
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = WM_TRAY;
  nid.hIcon = TrayImage();
  lstrcpynA(nid.szTip, TrayHint.c_str(), sizeof(nid.szTip));
  if (TrayShown) {
    Shell_NotifyIconA(NIM_MODIFY, &nid);
  } else {
    // Without a shell tray the add fails; the window still minimises and restores, and the
    // icon comes when a shell announces its taskbar.
    TrayShown = Shell_NotifyIconA(NIM_ADD, &nid) != 0;
  }
}

void TWin32Form::Destroyed() {
  KillTimer(Window, AnimationTimer);
  if (TrayShown) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = Window;
    nid.uID = TrayId;
    Shell_NotifyIconA(NIM_DELETE, &nid);
    TrayShown = false;
  }
  Controls_.reset();
  Handler = nullptr;
  if (QuitOnDestroy) PostQuitMessage(0);
}

void TWin32Form::SetCaption(const std::string& caption) {
  if (Window) SetWindowTextA(Window, caption.c_str());
}

void TWin32Form::PostMinimize() {
  if (Window) PostMessageA(Window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void TWin32Form::ShowTaskbarButton(bool show) {
  if (!Window) return;
  if (!show) {
    // The window's own taskbar button goes with the (minimised) window.
    ShowWindow(Window, SW_HIDE);
  } else if (!IsWindowVisible(Window) || IsIconic(Window)) {
    ShowWindow(Window, SW_SHOWNORMAL);
  }
}

void TWin32Form::BringToFront() {
  if (!Window) return;
  BringWindowToTop(Window);
  SetForegroundWindow(Window);
}

void TWin32Form::Close() {
  // Sent, not posted: at an end-session query the close must be done before the answer.
  if (Window) SendMessageA(Window, WM_CLOSE, 0, 0);
}

void TWin32Form::RequestRealtimePriority() {
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
}

bool TWin32Form::Confirm(const std::string& text) {
  return MessageBoxA(Window, text.c_str(), Title.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TWin32Form::Information(const std::string& text) {
  MessageBoxA(Window, text.c_str(), Title.c_str(), MB_OK | MB_ICONINFORMATION);
}

void TWin32Form::Error(const std::string& text) {
  MessageBoxA(Window, text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TWin32Form::SetHint(const std::string& hint) {
  TrayHint = hint;
  if (TrayShown) UpdateTray();
}

void TWin32Form::SetIconVisible(bool visible) {
  TrayVisible = visible;
  UpdateTray();
}

void TWin32Form::SetAnimate(bool animate) {
  if (animate == Animating) return;
  Animating = animate;
  Frame = 0;
  if (Window) {
    if (animate)
      SetTimer(Window, AnimationTimer, AnimationStep, nullptr);
    else
      KillTimer(Window, AnimationTimer);
  }
  if (TrayShown) UpdateTray();
}
