#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "link/Seams.h"

// A window handle as a number. Handles are ordered as signed integers (on 64-bit Windows a
// window handle is a sign-extended 32-bit value, so this is the order of the 32-bit values).
using TWnd = intptr_t;

// Longest class name kept for a window.
inline constexpr size_t MaxWndClass = 252;

// One top-level window of the desktop.
struct TTopWindow {
  TWnd Wnd = 0;
  std::string WndClass;
};

// How a send ended: the receiver's window procedure returned (Answered), the window does not
// exist (Gone), or the receiver did not answer within the time (NoAnswer; a hung receiver too).
enum class TSendStatus { Answered, Gone, NoAnswer };

struct TSendResult {
  TSendStatus Status = TSendStatus::Gone;
  intptr_t Result = 0;
};

// The window-system calls the transport needs. Every send waits at most timeoutMs.
class TDesktop {
 public:
  virtual ~TDesktop() = default;
  // Replaces the list with every top-level window and its class name (at most MaxWndClass
  // characters), in any order.
  virtual void TopLevelWindows(std::vector<TTopWindow>& windows) = 0;
  // WM_WINMSG with wParam = from and lParam = packed.
  virtual TSendResult SendWinMsg(TWnd to, TWnd from, uint32_t packed, uint32_t timeoutMs) = 0;
  // WM_COPYDATA with wParam = from, dwData = packed and the data.
  virtual TSendResult SendCopyData(TWnd to, TWnd from, uint32_t packed, const void* data,
                                   uint32_t size, uint32_t timeoutMs) = 0;
};

// One announced or confirmed peer window.
struct TPeerWindow {
  bool Active = false;
  TWnd Wnd = 0;
  int32_t Kind = 0;
  std::string WndClass;
};

using TPeerList = std::vector<TPeerWindow>;

// Why OnPeerLost was raised.
enum class TPeerLoss {
  Withdrew,      // the peer sent ctlBye
  Vanished,      // its window is gone, or has another class now
  NotConfirmed,  // an announced handle that is no top-level window
  NoAnswer,      // a send to it got no answer in time
};

// The transport between this program and other programs on the desktop: peers announce their
// top-level window, a scan every 100 ms confirms them (the owner calls ScanPeers on a timer),
// and from then on they receive notifications and data blocks.
//
// Everything runs on the owner's thread. While a send waits for a receiver in another process,
// that thread handles messages sent to its windows, so HandleMessage (and with it AddPending and
// RemovePeer) can run in the middle of a walk over the peers: every walk goes over a copy of the
// handles taken at its start and skips a peer removed meanwhile. A peer that does not answer a
// send within SendTimeoutMs is dropped at once.
class TWinMSG : public TPeerNotifier {
 public:
  // ownHandle: the window sent as wParam with every message.
  TWinMSG(TDesktop& desktop, TWnd ownHandle);
  TWinMSG(const TWinMSG&) = delete;
  TWinMSG& operator=(const TWinMSG&) = delete;

  TWnd OwnHandle;
  uint32_t SendTimeoutMs = DefaultSendTimeoutMs;
  // Raised with the record of a peer that is dropped or an announcement that is not confirmed,
  // and of a peer that is confirmed. The record is valid during the call only.
  std::function<void(TWinMSG&, const TPeerWindow&)> OnPeerLost;
  std::function<void(TWinMSG&, const TPeerWindow&)> OnPeerFound;
  // Why the peer in the OnPeerLost event in progress was lost.
  TPeerLoss LostReason() const { return Loss; }

  // Decodes a received WM_WINMSG. True for the transport's control code (ctlHello registers the
  // sender as pending, ctlBye removes it, ctlQueryId is left to the owner); false for an
  // application code, which is the owner's.
  bool HandleMessage(TWnd wParam, uint32_t lParam, uint16_t& code, uint16_t& parameter);
  static void SplitParam(uint32_t lParam, uint16_t& code, uint16_t& parameter);

  // WM_WINMSG to the window; the receiver's result, or nothing when it did not answer (a window
  // that did not answer in time is dropped). A code above 0x7FFF is not sent.
  std::optional<int32_t> SendCommand(TWnd wnd, uint16_t code, uint16_t parameter);
  // SendCommand to every active peer of the kind, in ascending order of handles.
  void NotifyPeers(int32_t kind, uint16_t code, uint16_t parameter);
  // WM_COPYDATA to the window; true when it was received.
  bool SendData(TWnd wnd, uint16_t code, uint16_t parameter, const void* data, int32_t size);
  // SendData to every active peer, in ascending order of handles.
  void BroadcastData(uint16_t code, uint16_t parameter, const void* data, int32_t size);

  void AddPending(TWnd wnd);
  void RemovePeer(TWnd wnd);
  // Confirms the pending announcements and drops peers whose window has gone or changed class.
  void ScanPeers();
  // Position of the window in a list sorted by Wnd, or -1.
  static int FindPeer(const TPeerList& list, TWnd wnd);

  // TPeerNotifier: a status notification to every peer.
  void Notify(uint16_t code) override { NotifyPeers(0, code, 0); }

  const TPeerList& Peers() const { return PeerList; }
  const TPeerList& Pending() const { return PendingList; }
  bool HasActivePeers() const;
  // Peers dropped because a send to them got no answer in time.
  uint64_t UnansweredDrops() const { return Unanswered; }

  // Announcements waiting for the next scan are kept up to this number; more are refused (the
  // sender may announce again), so a flood cannot grow the list between two scans.
  static constexpr size_t MaxPending = 1024;

 private:
  // A send to the window got no answer: it stops being a peer or an announcement.
  void DropUnanswering(TWnd wnd);
  // Removes the record at position i of Peers and reports it.
  void DropPeerAt(size_t i, TPeerLoss why);
  void ReportLost(const TPeerWindow& record, TPeerLoss why);
  std::vector<TWnd> ActivePeerHandles(std::optional<int32_t> kind) const;
  const TTopWindow* FindWindow(TWnd wnd) const;

  TDesktop& Desktop;
  bool Scanning = false;
  TPeerList PeerList;
  TPeerList PendingList;
  // The desktop's windows of the last scan, sorted by Wnd; kept to reuse its memory.
  std::vector<TTopWindow> Windows;
  uint64_t Unanswered = 0;
  TPeerLoss Loss = TPeerLoss::Withdrew;
};
