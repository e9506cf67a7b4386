#pragma once

// The Win32 side of the peer link: the window system behind the transport, the main window's
// handling of the peer messages, and a hidden top-level window for programs at the other end.

#include <windows.h>

#include <functional>

#include "link/Interactive.h"
#include "link/WinMSG.h"
#include "platform/win32/Handles.h"

inline HWND AsHwnd(TWnd wnd) {
  return reinterpret_cast<HWND>(wnd);
}
inline TWnd AsWnd(HWND hwnd) {
  return reinterpret_cast<TWnd>(hwnd);
}

// EnumWindows with GetClassNameA, and SendMessageTimeoutA with SMTO_ABORTIFHUNG: a send to a
// hung window or one that does not answer within the time comes back as NoAnswer, a send to
// something that is no window (HWND_BROADCAST included) is not made and comes back as Gone.
class TWin32Desktop : public TDesktop {
 public:
  void TopLevelWindows(std::vector<TTopWindow>& windows) override;
  TSendResult SendWinMsg(TWnd to, TWnd from, uint32_t packed, uint32_t timeoutMs) override;
  TSendResult SendCopyData(TWnd to, TWnd from, uint32_t packed, const void* data, uint32_t size,
                           uint32_t timeoutMs) override;
};

// For the main window's procedure: WM_WINMSG goes to ReceiveCMD, whose result the procedure
// returns; WM_COPYDATA is not read and answered FALSE. True when the message was one of these.
bool HandlePeerMessage(TInteractiveMode& mode, UINT msg, WPARAM wParam, LPARAM lParam,
                       LRESULT& result);

// A hidden top-level window whose messages go to a handler (DefWindowProc for those it leaves).
// Controlling programs need a top-level window: the transport confirms announced windows among
// the desktop's top-level windows, which a message-only window is not.
class TLinkWindow {
 public:
  // Returns true when it handled the message, with the result to return.
  using THandler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)>;
  TLinkWindow(const char* className, THandler handler);
  TLinkWindow(const TLinkWindow&) = delete;
  TLinkWindow& operator=(const TLinkWindow&) = delete;

  HWND Handle() const { return Window.Get(); }
  explicit operator bool() const { return static_cast<bool>(Window); }
  void Destroy() { Window.Reset(); }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  THandler Handler;
  TWindowHandle Window;
};
