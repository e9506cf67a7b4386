#include "ui/win32/Win32Form.h"

#include <shellapi.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr int ClientWidth = 318;
constexpr int ClientHeight = 221;
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT WM_TRAY = WM_APP + 1;
constexpr UINT TrayId = 1;
constexpr UINT_PTR AnimationTimer = 1;
constexpr UINT AnimationStep = 60;
constexpr int IconResource = 1;

// One image of the tray animation: three level bars rising and falling out of phase.
TIconHandle MakeFrame(int frame) {
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
  TGdiObject<HBITMAP> color(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  ReleaseDC(nullptr, screen);
  TGdiObject<HBITMAP> mask(CreateBitmap(size, size, 1, 1, nullptr));
  if (!color || !bits || !mask) return TIconHandle();
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
  ICONINFO ii{};
  ii.fIcon = TRUE;
  ii.hbmColor = color.Get();
  ii.hbmMask = mask.Get();
  // The icon keeps copies of both bitmaps.
  return TIconHandle(CreateIconIndirect(&ii));
}

}  // namespace

TWin32Form::TWin32Form(TWin32App& app, std::string className)
    : TWin32Window(app, std::move(className)) {
  AppIcon.Reset(static_cast<HICON>(
      LoadImageA(app.Instance(), MAKEINTRESOURCEA(IconResource), IMAGE_ICON, 16, 16, 0)));
  TaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
}

TWin32Form::~TWin32Form() {
  // Destroyed here, while this object's tray handling is still there to remove the icon.
  if (Handle()) DestroyWindow(Handle());
}

bool TWin32Form::Create(TFormHandler& handler, int showCommand) {
  TShape shape;
  shape.Caption = "OV Kestrune";
  shape.Style = FormStyle;
  shape.ClientWidth = ClientWidth;
  shape.ClientHeight = ClientHeight;
  // A resource icon from LoadIcon is shared: the system frees it.
  shape.Icon = LoadIconA(App.Instance(), MAKEINTRESOURCEA(IconResource));
  if (Handle()) return false;
  if (!CreateFor(handler, shape)) return false;
  if (Animating) SetTimer(Handle(), AnimationTimer, AnimationStep, nullptr);
  ShowWindow(Handle(), showCommand);
  return Handle() != nullptr;
}

LRESULT TWin32Form::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_QUERYENDSESSION: {
      const LRESULT answer = DefWindowProcA(Handle(), msg, wParam, lParam);
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
    default:
      if (msg == TaskbarCreated && TaskbarCreated) {
        // The shell restarted: its tray is empty again.
        TrayShown = false;
        UpdateTray();
        return 0;
      }
  }
  return TWin32Window::Dispatch(msg, wParam, lParam);
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
  HWND hwnd = Handle();
  if (hwnd && (IsIconic(hwnd) || !IsWindowVisible(hwnd))) ShowWindow(hwnd, SW_RESTORE);
  if (Handler) Handler->TrayIconDblClick();
}

HICON TWin32Form::TrayImage() {
  if (!Animating && AppIcon) return AppIcon.Get();
  const int i = Animating ? Frame : 0;
  if (!Frames[i]) Frames[i] = MakeFrame(i);
  return Frames[i].Get();
}

void TWin32Form::UpdateTray() {
  if (!Handle()) return;
  const bool wanted = TrayVisible || Minimized_;
  NOTIFYICONDATAA nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = Handle();
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

void TWin32Form::Destroying() {
  KillTimer(Handle(), AnimationTimer);
  if (TrayShown) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = Handle();
    nid.uID = TrayId;
    Shell_NotifyIconA(NIM_DELETE, &nid);
    TrayShown = false;
  }
  if (QuitOnDestroy) PostQuitMessage(0);
}

void TWin32Form::SetCaption(const std::string& caption) {
  if (Handle()) SetWindowTextA(Handle(), caption.c_str());
}

void TWin32Form::PostMinimize() {
  if (Handle()) PostMessageA(Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void TWin32Form::ShowTaskbarButton(bool show) {
  HWND hwnd = Handle();
  if (!hwnd) return;
  if (!show) {
    // The window's own taskbar button goes with the (minimised) window.
    ShowWindow(hwnd, SW_HIDE);
  } else if (!IsWindowVisible(hwnd) || IsIconic(hwnd)) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
  }
}

void TWin32Form::BringToFront() {
  HWND hwnd = Handle();
  if (!hwnd) return;
  BringWindowToTop(hwnd);
  SetForegroundWindow(hwnd);
}

void TWin32Form::Close() {
  // Sent, not posted: at an end-session query the close must be done before the answer.
  if (Handle()) SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

void TWin32Form::RequestRealtimePriority() {
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
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
  if (Handle()) {
    if (animate)
      SetTimer(Handle(), AnimationTimer, AnimationStep, nullptr);
    else
      KillTimer(Handle(), AnimationTimer);
  }
  if (TrayShown) UpdateTray();
}

bool TWin32Form::OpenAddress(const std::string& address) {
  // Results above 32 mean the system started something to open it.
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteA(Handle(), "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return started > 32;
}
