#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/WinMSG.h"

// A desktop of windows by handle and class. Every send is logged; a window may answer with a
// result, not answer in time (its send then costs the timeout on the clock) or run a hook
// during the send, as a real receiver's messages to us would run while we wait.
class TFakeDesktop : public TDesktop {
 public:
  struct TSent {
    TWnd To = 0;
    TWnd From = 0;
    bool CopyData = false;
    uint32_t Packed = 0;
    std::vector<uint8_t> Data;
  };
  struct TFakeWindow {
    std::string Class;
    intptr_t Result = 0;
    bool Hung = false;
  };

  std::map<TWnd, TFakeWindow> Windows;
  std::vector<TSent> Sent;
  // Runs inside a send to the window, before it returns.
  std::map<TWnd, std::function<void()>> DuringSend;
  // Milliseconds the sends waited in all (a hung window costs the whole timeout).
  uint64_t WaitedMs = 0;
  int Enumerations = 0;

  void Add(TWnd wnd, const std::string& cls = "PeerClass") { Windows[wnd] = {cls, 0, false}; }

  void TopLevelWindows(std::vector<TTopWindow>& windows) override {
    ++Enumerations;
    windows.clear();
    // The platform lists windows in z-order, not by handle.
    for (auto it = Windows.rbegin(); it != Windows.rend(); ++it)
      windows.push_back({it->first, it->second.Class});
  }

  TSendResult SendWinMsg(TWnd to, TWnd from, uint32_t packed, uint32_t timeoutMs) override {
    Sent.push_back({to, from, false, packed, {}});
    return Deliver(to, timeoutMs);
  }

  TSendResult SendCopyData(TWnd to, TWnd from, uint32_t packed, const void* data, uint32_t size,
                           uint32_t timeoutMs) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    Sent.push_back({to, from, true, packed, std::vector<uint8_t>(bytes, bytes + size)});
    return Deliver(to, timeoutMs);
  }

  // The handles of the sends so far, in order.
  std::vector<TWnd> Receivers() const {
    std::vector<TWnd> r;
    for (const auto& s : Sent) r.push_back(s.To);
    return r;
  }

 private:
  TSendResult Deliver(TWnd to, uint32_t timeoutMs) {
    const auto it = Windows.find(to);
    if (it == Windows.end()) return {TSendStatus::Gone, 0};
    const intptr_t result = it->second.Result;
    if (it->second.Hung) {
      WaitedMs += timeoutMs;
      return {TSendStatus::NoAnswer, 0};
    }
    const auto hook = DuringSend.find(to);
    if (hook != DuringSend.end()) {
      const auto run = hook->second;  // the hook may replace itself
      run();
    }
    return {TSendStatus::Answered, result};
  }
};
