#pragma once

// A stand-in for Kestrune's main window in the test process: a top-level window of class
// TOV_Kestrune whose procedure hands WM_WINMSG and WM_COPYDATA to the interactive mode, a
// 100 ms window timer that scans the peers, a send queue, and a target that records what the
// commands ask for.

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LinkKit.h"
#include "link/Interactive.h"
#include "link/SenderArea.h"
#include "platform/win32/PeerLink.h"

// The platform's desktop, with a log of the windows WM_WINMSG went to.
class TLoggingDesktop : public TWin32Desktop {
 public:
  std::vector<TWnd> MessagesTo;
  bool Logging = true;
  TSendResult SendWinMsg(TWnd to, TWnd from, uint32_t packed, uint32_t timeoutMs) override {
    if (Logging) MessagesTo.push_back(to);
    return TWin32Desktop::SendWinMsg(to, from, packed, timeoutMs);
  }
};

class TLinkHost : public TInteractiveTarget {
 public:
  std::vector<std::string> Calls;
  size_t CallCount = 0;
  // Off: the host keeps no records that grow with every message, only counts.
  bool Logging = true;
  bool Silent = false;
  int32_t ProgramId = -5;
  bool Interactive = true;
  // When a ctlHello came in and when the scan confirmed a peer, by window.
  std::vector<std::pair<TWnd, ULONGLONG>> HelloAt;
  std::vector<std::pair<TWnd, ULONGLONG>> FoundAt;
  // The most commands ever waiting for the main loop.
  size_t MostWaiting = 0;
  // Runs at every display tick (10 ms), after the send queue is flushed.
  std::function<void()> OnTick;

  TLoggingDesktop Desktop;
  TLinkWindow Window{MainWindowClass,
                     [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return Handle(m, w, l, r); }};
  TWinMSG Link{Desktop, AsWnd(Window.Handle())};
  TInteractiveMode Mode{Link, *this,
                        [this](std::function<void()> f) { Posted.push_back(std::move(f)); }};
  TSenderArea Area{Link, SystemClock()};

  TLinkHost() {
    SetTimer(Window.Handle(), ScanTimer, ScanIntervalMs, nullptr);
    SetTimer(Window.Handle(), DisplayTimer, 10, nullptr);
    Link.OnPeerFound = [this](TWinMSG&, const TPeerWindow& p) {
      if (Logging) FoundAt.emplace_back(p.Wnd, GetTickCount64());
    };
  }
  ~TLinkHost() override {
    KillTimer(Window.Handle(), ScanTimer);
    KillTimer(Window.Handle(), DisplayTimer);
    Window.Destroy();
  }
  HWND Hwnd() const { return Window.Handle(); }
  std::string HwndText() const {
    return std::to_string(reinterpret_cast<UINT_PTR>(Window.Handle()));
  }

  // Runs the thread's messages and then the commands they posted, as the main loop does.
  void Pump() {
    PumpOnce();
    MostWaiting = std::max(MostWaiting, Mode.WaitingCommands());
    while (!Posted.empty()) {
      auto f = std::move(Posted.front());
      Posted.pop_front();
      f();
    }
  }
  template <typename F>
  bool PumpUntil(F done, DWORD timeoutMs = 5000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
      if (GetTickCount64() >= end) return false;
      Pump();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
    return true;
  }
  std::function<void()> Pumper() {
    return [this] { Pump(); };
  }
  bool IsPeer(TWnd wnd) const { return TWinMSG::FindPeer(Link.Peers(), wnd) >= 0; }

  // TInteractiveTarget
  void RunPlay(bool fade) override { Call(fade ? "play fade" : "play"); }
  void StopPlay(bool fade) override { Call(fade ? "stop fade" : "stop"); }
  void FadeIn() override { Call("fade in"); }
  void FadeOut() override { Call("fade out"); }
  void SetInsideVolume(int32_t v) override { Call("volume " + std::to_string(v)); }
  bool SilenceFlag() const override { return Silent; }
  int32_t PID() const override { return ProgramId; }
  bool SourceMode() const override { return Interactive; }

 private:
  static constexpr UINT_PTR ScanTimer = 1;
  static constexpr UINT_PTR DisplayTimer = 2;

  void Call(const std::string& what) {
    ++CallCount;
    if (Logging) Calls.push_back(what);
  }

  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (Logging && msg == WM_WINMSG && lParam == static_cast<LPARAM>(PackParam(ctlCode, ctlHello)))
      HelloAt.emplace_back(static_cast<TWnd>(wParam), GetTickCount64());
    if (HandlePeerMessage(Mode, msg, wParam, lParam, result)) return true;
    if (msg == WM_TIMER && wParam == ScanTimer) {
      Link.ScanPeers();
      result = 0;
      return true;
    }
    if (msg == WM_TIMER && wParam == DisplayTimer) {
      Area.SendMemory();
      if (OnTick) OnTick();
      result = 0;
      return true;
    }
    return false;
  }

  std::deque<std::function<void()>> Posted;
};

// Starts link-peer as a controlling program of the host; its window handle is in Wnd.
struct TPeerProcess {
  TChild Child;
  TWnd Wnd = 0;

  bool Start(TLinkHost& host) {
    if (!Child.Start(ThisProgramDir() + "link-peer.exe", "sink " + host.HwndText())) return false;
    const auto line = Child.WaitLine("window ", 15000, host.Pumper());
    if (!line) return false;
    Wnd = static_cast<TWnd>(std::strtoull(line->c_str() + 7, nullptr, 0));
    return Wnd != 0;
  }
  // Sends a command line and returns the answer line (which starts with the command's word).
  std::string Ask(TLinkHost& host, const std::string& command, DWORD timeoutMs = 10000) {
    Child.Send(command);
    return Child.WaitLine(command.substr(0, command.find(' ')), timeoutMs, host.Pumper())
        .value_or("(no answer to " + command + ")");
  }
};
