#pragma once

// What must hold for any sequence of window messages other programs send to the main window
// (WM_WINMSG with any wParam and lParam), mixed with the transport's scans, the main loop
// running the posted commands, peers that appear, vanish or hang, interactive mode switched on
// and off, and messages that arrive while a send to a peer waits. Shared by the fuzzer and the
// corpus test.
//
// Input: operations one after another, each an operation byte and its arguments (see Check).

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/Interactive.h"
#include "link/StreamHeader.h"
#include "link/WinMSG.h"
#include "unit/link/FakeDesktop.h"

namespace command_oracle {

constexpr TWnd Own = 0x4242;

class TRecordingTarget : public TInteractiveTarget {
 public:
  std::vector<std::string> Calls;
  bool Silent = false;
  int32_t ProgramId = -5;
  bool Interactive = true;

  void RunPlay(bool fade) override { Calls.push_back(fade ? "play fade" : "play"); }
  void StopPlay(bool fade) override { Calls.push_back(fade ? "stop fade" : "stop"); }
  void FadeIn() override { Calls.push_back("fade in"); }
  void FadeOut() override { Calls.push_back("fade out"); }
  void SetInsideVolume(int32_t v) override { Calls.push_back("volume " + std::to_string(v)); }
  bool SilenceFlag() const override { return Silent; }
  int32_t PID() const override { return ProgramId; }
  bool SourceMode() const override { return Interactive; }
};

// Reads the input from the front; zeros once it is used up.
class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : Data(data), Size(size) {}
  bool Done() const { return At >= Size; }
  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  uint64_t Bytes(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t{Byte()} << (8 * i);
    return v;
  }

 private:
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
};

class TRun {
 public:
  TRun(const uint8_t* data, size_t size) : In(data, size) {
    for (TWnd w : {TWnd{0x100}, TWnd{0x200}, TWnd{0x300}, Own}) Desktop.Add(w, "TCtl");
  }

  std::string Check() {
    while (!In.Done() && Bad.str().empty()) {
      Step(In.Byte() % 9);
      Invariants();
    }
    return Bad.str();
  }

 private:
  // A window handle: one of the desktop's, ours, none, the broadcast handle, or any value.
  TWnd Handle() {
    switch (In.Byte() % 8) {
      case 0:
        return 0x100;
      case 1:
        return 0x200;
      case 2:
        return 0x300;
      case 3:
        return Own;
      case 4:
        return 0;
      case 5:
        return 0xFFFF;  // HWND_BROADCAST
      case 6:
        return static_cast<TWnd>(0x100000100);  // a window's handle with high bits set
      default:
        return static_cast<TWnd>(In.Bytes(8));
    }
  }

  intptr_t LParam() {
    switch (In.Byte() % 4) {
      case 0:
        return PackParam(ctlCode, static_cast<uint16_t>(In.Bytes(2)));
      case 1:
        return PackParam(static_cast<uint16_t>(In.Byte() % 20), static_cast<uint16_t>(In.Bytes(2)));
      case 2:
        return static_cast<intptr_t>(In.Bytes(4));
      default:
        return static_cast<intptr_t>(In.Bytes(8));
    }
  }

  void Step(uint8_t op) {
    switch (op) {
      case 0:
      case 1:
      case 2: {
        const TWnd from = Handle();
        Deliver(from, LParam());
        break;
      }
      case 3:
        Link.ScanPeers();
        break;
      case 4:
        RunPosted();
        break;
      case 5:
        Target.Interactive = !Target.Interactive;
        break;
      case 6:
        Target.Silent = !Target.Silent;
        break;
      case 7: {
        // A window comes, goes, changes its class or hangs.
        const TWnd w = std::vector<TWnd>{0x100, 0x200, 0x300}[In.Byte() % 3];
        switch (In.Byte() % 4) {
          case 0:
            Desktop.Add(w, "TCtl");
            break;
          case 1:
            Desktop.Windows.erase(w);
            break;
          case 2:
            if (Desktop.Windows.count(w)) Desktop.Windows[w].Class = "TOther";
            break;
          default:
            if (Desktop.Windows.count(w)) Desktop.Windows[w].Hung = !Desktop.Windows[w].Hung;
            break;
        }
        break;
      }
      default: {
        // While a send to a window waits, another message arrives; then the peers are told.
        const TWnd w = std::vector<TWnd>{0x100, 0x200, 0x300}[In.Byte() % 3];
        const TWnd from = Handle();
        const intptr_t lParam = LParam();
        Desktop.DuringSend[w] = [this, w, from, lParam] {
          Desktop.DuringSend.erase(w);
          Deliver(from, lParam);
        };
        Link.NotifyPeers(0, ntfSound, 0);
        const uint8_t block[StreamHeaderSize + 4] = {};
        Link.BroadcastData(StreamCode, StreamParameter, block, sizeof block);
        Desktop.DuringSend.erase(w);
        break;
      }
    }
  }

  // One WM_WINMSG as the main window hands it over, with what it must and must not do.
  void Deliver(TWnd from, intptr_t lParam) {
    const bool interactive = Target.Interactive;
    const bool ours = lParam >= 0 && lParam <= 0x7FFFFFFF;
    const auto code = static_cast<uint16_t>(static_cast<uint64_t>(lParam) >> 16);
    const auto parameter = static_cast<uint16_t>(lParam & 0xFFFF);
    const size_t sent = Desktop.Sent.size();
    const size_t pending = Link.Pending().size();
    const size_t waiting = Mode.WaitingCommands();
    const intptr_t result = Mode.ReceiveCMD(from, lParam);
    const bool query = interactive && ours && code == ctlCode && parameter == ctlQueryId;
    if (result != (query ? Target.ProgramId : 0)) Bad << "result " << result << "; ";
    if (!interactive || !ours) {
      if (Mode.WaitingCommands() != waiting || Link.Pending().size() != pending)
        Bad << "a message outside the protocol changed something; ";
      if (Desktop.Sent.size() != sent) Bad << "a message outside the protocol was answered; ";
      return;
    }
    const bool command = code == cmdPlay || code == cmdStop || code == cmdFadeIn ||
                         code == cmdFadeOut || code == cmdVolume;
    if (command) {
      if (waiting < TInteractiveMode::MaxWaitingCommands) {
        Expected.push_back({code, parameter});
        if (Mode.WaitingCommands() != waiting + 1) Bad << "a command was not queued; ";
      } else if (Mode.WaitingCommands() != waiting) {
        Bad << "a full queue grew; ";
      }
    } else if (code == ctlCode && parameter == ctlHello) {
      // Answered during the call, to the sender, with the silence state.
      const bool answered =
          std::any_of(Desktop.Sent.begin() + static_cast<std::ptrdiff_t>(sent), Desktop.Sent.end(),
                      [&](const TFakeDesktop::TSent& s) {
                        return s.To == from && !s.CopyData &&
                               CodeOf(s.Packed) == (Target.Silent ? ntfSilence : ntfSound);
                      });
      if (from != 0 && from != Own && !answered) Bad << "a hello was not answered; ";
    }
  }

  void RunPosted() {
    auto posted = std::move(Posted);
    Posted.clear();
    const bool interactive = Target.Interactive;
    const size_t before = Target.Calls.size();
    for (auto& f : posted) f();
    std::vector<std::string> want;
    for (const auto& [code, parameter] : Expected) {
      if (!interactive) continue;
      switch (code) {
        case cmdPlay:
          want.push_back(parameter == cmdPlayWithFade ? "play fade" : "play");
          break;
        case cmdStop:
          want.push_back(parameter == cmdStopWithFade ? "stop fade" : "stop");
          break;
        case cmdFadeIn:
          want.push_back("fade in");
          break;
        case cmdFadeOut:
          want.push_back("fade out");
          break;
        default:
          want.push_back("volume " + std::to_string(parameter));
          break;
      }
    }
    Expected.clear();
    const std::vector<std::string> got(Target.Calls.begin() + static_cast<std::ptrdiff_t>(before),
                                       Target.Calls.end());
    if (got != want) Bad << "the main loop ran other commands than were sent; ";
  }

  void Invariants() {
    const TPeerList& peers = Link.Peers();
    for (size_t i = 0; i < peers.size(); ++i) {
      if (!peers[i].Active) Bad << "inactive peer; ";
      if (peers[i].Wnd == 0 || peers[i].Wnd == Own) Bad << "peer " << peers[i].Wnd << "; ";
      if (i > 0 && peers[i - 1].Wnd >= peers[i].Wnd) Bad << "peers out of order; ";
    }
    if (Link.Pending().size() > TWinMSG::MaxPending) Bad << "pending list past its bound; ";
    if (Mode.WaitingCommands() > TInteractiveMode::MaxWaitingCommands)
      Bad << "waiting commands past their bound; ";
    if (Mode.WaitingCommands() != Posted.size()) Bad << "waiting count is not the queue's; ";
  }

  TReader In;
  TFakeDesktop Desktop;
  TWinMSG Link{Desktop, Own};
  TRecordingTarget Target;
  std::vector<std::function<void()>> Posted;
  TInteractiveMode Mode{Link, Target,
                        [this](std::function<void()> f) { Posted.push_back(std::move(f)); }};
  std::deque<std::pair<uint16_t, uint16_t>> Expected;
  std::ostringstream Bad;
};

inline std::string Check(const uint8_t* data, size_t size) {
  TRun run(data, size);
  return run.Check();
}

}  // namespace command_oracle
