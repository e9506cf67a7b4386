#include "platform/win32/PeerLink.h"

namespace {

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  auto& windows = *reinterpret_cast<std::vector<TTopWindow>*>(param);
  char cls[256] = {};
  const int n = GetClassNameA(hwnd, cls, sizeof(cls));
  windows.push_back({AsWnd(hwnd), std::string(cls, n > 0 ? static_cast<size_t>(n) : 0)});
  if (windows.back().WndClass.size() > MaxWndClass) windows.back().WndClass.resize(MaxWndClass);
  return TRUE;
}

TSendResult Sent(HWND to, LRESULT ok, DWORD_PTR result) {
  if (ok) return {TSendStatus::Answered, static_cast<intptr_t>(result)};
  return {IsWindow(to) ? TSendStatus::NoAnswer : TSendStatus::Gone, 0};
}

constexpr UINT SendFlags = SMTO_NORMAL | SMTO_ABORTIFHUNG;

}  // namespace

void TWin32Desktop::TopLevelWindows(std::vector<TTopWindow>& windows) {
  windows.clear();
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
}

TSendResult TWin32Desktop::SendWinMsg(TWnd to, TWnd from, uint32_t packed, uint32_t timeoutMs) {
  const HWND hwnd = AsHwnd(to);
  if (!IsWindow(hwnd)) return {TSendStatus::Gone, 0};
  DWORD_PTR result = 0;
  const LRESULT ok =
      SendMessageTimeoutA(hwnd, WM_WINMSG, static_cast<WPARAM>(from), static_cast<LPARAM>(packed),
                          SendFlags, timeoutMs, &result);
  return Sent(hwnd, ok, result);
}

TSendResult TWin32Desktop::SendCopyData(TWnd to, TWnd from, uint32_t packed, const void* data,
                                        uint32_t size, uint32_t timeoutMs) {
  const HWND hwnd = AsHwnd(to);
  if (!IsWindow(hwnd)) return {TSendStatus::Gone, 0};
  COPYDATASTRUCT cds{};
  cds.dwData = packed;
  cds.cbData = size;
  cds.lpData = const_cast<void*>(data);
  DWORD_PTR result = 0;
  const LRESULT ok =
      SendMessageTimeoutA(hwnd, WM_COPYDATA, static_cast<WPARAM>(from),
                          reinterpret_cast<LPARAM>(&cds), SendFlags, timeoutMs, &result);
  return Sent(hwnd, ok, result);
}

bool HandlePeerMessage(TInteractiveMode& mode, UINT msg, WPARAM wParam, LPARAM lParam,
                       LRESULT& result) {
  if (msg == WM_WINMSG) {
    result = mode.ReceiveCMD(static_cast<TWnd>(wParam), lParam);
    return true;
  }
  if (msg == WM_COPYDATA) {
    result = TInteractiveMode::ReceiveData();
    return true;
  }
  return false;
}

TLinkWindow::TLinkWindow(const char* className, THandler handler) : Handler(std::move(handler)) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  if (!GetClassInfoExA(instance, className, &wc)) {
    wc = WNDCLASSEXA{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = className;
    RegisterClassExA(&wc);
  }
  // WS_POPUP without WS_VISIBLE: a top-level window that never shows.
  Window.Reset(CreateWindowExA(WS_EX_TOOLWINDOW, className, className, WS_POPUP, 0, 0, 0, 0,
                               nullptr, nullptr, instance, this));
}

LRESULT CALLBACK TLinkWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TLinkWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  LRESULT result = 0;
  if (self && self->Handler && self->Handler(msg, wParam, lParam, result)) return result;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}
