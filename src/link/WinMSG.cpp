#include "link/WinMSG.h"

#include <algorithm>

#include "link/FlagScope.h"

namespace {

bool ByWnd(const TPeerWindow& a, const TPeerWindow& b) {
  return a.Wnd < b.Wnd;
}

}  // namespace

TWinMSG::TWinMSG(TDesktop& desktop, TWnd ownHandle) : OwnHandle(ownHandle), Desktop(desktop) {}

void TWinMSG::SplitParam(uint32_t lParam, uint16_t& code, uint16_t& parameter) {
  code = CodeOf(lParam);
  parameter = ParameterOf(lParam);
}

bool TWinMSG::HandleMessage(TWnd wParam, uint32_t lParam, uint16_t& code, uint16_t& parameter) {
  SplitParam(lParam, code, parameter);
  if (code != ctlCode) return false;
  if (parameter == ctlHello)
    AddPending(wParam);
  else if (parameter != ctlQueryId)
    RemovePeer(wParam);
  return true;
}

int TWinMSG::FindPeer(const TPeerList& list, TWnd wnd) {
  const auto it = std::lower_bound(list.begin(), list.end(), wnd,
                                   [](const TPeerWindow& p, TWnd w) { return p.Wnd < w; });
  if (it == list.end() || it->Wnd != wnd) return -1;
  return static_cast<int>(it - list.begin());
}

void TWinMSG::AddPending(TWnd wnd) {
  // No window has handle 0 (the scan would drop it anyway), and a window is not its own peer:
  // it would send itself every notification and stream block.
  if (wnd == 0 || wnd == OwnHandle) return;
  if (FindPeer(PeerList, wnd) >= 0) return;
  // A repeated announcement before the scan changes nothing: the scan would drop the copy.
  const bool waiting = std::any_of(PendingList.begin(), PendingList.end(),
                                   [wnd](const TPeerWindow& p) { return p.Wnd == wnd; });
  if (waiting || PendingList.size() >= MaxPending) return;
  TPeerWindow record;
  record.Wnd = wnd;
  PendingList.push_back(std::move(record));
}

void TWinMSG::ReportLost(const TPeerWindow& record, TPeerLoss why) {
  Loss = why;
  if (OnPeerLost) OnPeerLost(*this, record);
}

void TWinMSG::DropPeerAt(size_t i, TPeerLoss why) {
  // Out of the list before the event, so a handler that changes the list cannot upset us.
  TPeerWindow record = std::move(PeerList[i]);
  PeerList.erase(PeerList.begin() + static_cast<std::ptrdiff_t>(i));
  ReportLost(record, why);
}

void TWinMSG::RemovePeer(TWnd wnd) {
  // Peers holds each window once.
  const int i = FindPeer(PeerList, wnd);
  if (i >= 0) DropPeerAt(static_cast<size_t>(i), TPeerLoss::Withdrew);
}

void TWinMSG::DropUnanswering(TWnd wnd) {
  const bool wasPeer = FindPeer(PeerList, wnd) >= 0;
  const auto pending = std::remove_if(PendingList.begin(), PendingList.end(),
                                      [wnd](const TPeerWindow& p) { return p.Wnd == wnd; });
  const bool wasPending = pending != PendingList.end();
  PendingList.erase(pending, PendingList.end());
  if (wasPeer || wasPending) ++Unanswered;
  const int i = FindPeer(PeerList, wnd);
  if (i >= 0) DropPeerAt(static_cast<size_t>(i), TPeerLoss::NoAnswer);
}

const TTopWindow* TWinMSG::FindWindow(TWnd wnd) const {
  const auto it = std::lower_bound(Windows.begin(), Windows.end(), wnd,
                                   [](const TTopWindow& w, TWnd h) { return w.Wnd < h; });
  return it != Windows.end() && it->Wnd == wnd ? &*it : nullptr;
}

void TWinMSG::ScanPeers() {
  if (Scanning) return;
  TFlagScope scanning(Scanning);

  Desktop.TopLevelWindows(Windows);
  std::sort(Windows.begin(), Windows.end(),
            [](const TTopWindow& a, const TTopWindow& b) { return a.Wnd < b.Wnd; });
  for (auto& w : Windows)
    if (w.WndClass.size() > MaxWndClass) w.WndClass.resize(MaxWndClass);

  // Announcements made while this scan reports go to the next scan.
  TPeerList announced;
  announced.swap(PendingList);
  for (auto& record : announced) {
    if (FindPeer(PeerList, record.Wnd) >= 0) continue;
    const TTopWindow* window = FindWindow(record.Wnd);
    if (!window) {
      ReportLost(record, TPeerLoss::NotConfirmed);
      continue;
    }
    record.WndClass = window->WndClass;
    record.Active = true;
    const auto at = std::upper_bound(PeerList.begin(), PeerList.end(), record, ByWnd);
    const auto placed = PeerList.insert(at, std::move(record));
    if (OnPeerFound) {
      const TPeerWindow found = *placed;
      OnPeerFound(*this, found);
    }
  }

  std::vector<TWnd> gone;
  for (const auto& peer : PeerList) {
    const TTopWindow* window = FindWindow(peer.Wnd);
    if (!window || window->WndClass != peer.WndClass) gone.push_back(peer.Wnd);
  }
  for (TWnd wnd : gone) {
    const int i = FindPeer(PeerList, wnd);
    if (i >= 0) DropPeerAt(static_cast<size_t>(i), TPeerLoss::Vanished);
  }
}

bool TWinMSG::HasActivePeers() const {
  return std::any_of(PeerList.begin(), PeerList.end(),
                     [](const TPeerWindow& p) { return p.Active; });
}

std::vector<TWnd> TWinMSG::ActivePeerHandles(std::optional<int32_t> kind) const {
  std::vector<TWnd> handles;
  handles.reserve(PeerList.size());
  for (const auto& p : PeerList)
    if (p.Active && (!kind || p.Kind == *kind)) handles.push_back(p.Wnd);
  return handles;
}

std::optional<int32_t> TWinMSG::SendCommand(TWnd wnd, uint16_t code, uint16_t parameter) {
  if (code > ctlCode || wnd == 0) return std::nullopt;
  const TSendResult sent =
      Desktop.SendWinMsg(wnd, OwnHandle, PackParam(code, parameter), SendTimeoutMs);
  if (sent.Status == TSendStatus::NoAnswer) DropUnanswering(wnd);
  if (sent.Status != TSendStatus::Answered) return std::nullopt;
  return static_cast<int32_t>(sent.Result);
}

void TWinMSG::NotifyPeers(int32_t kind, uint16_t code, uint16_t parameter) {
  for (TWnd wnd : ActivePeerHandles(kind)) {
    // A peer that withdrew while an earlier send waited gets nothing more.
    const int i = FindPeer(PeerList, wnd);
    if (i < 0 || !PeerList[static_cast<size_t>(i)].Active) continue;
    SendCommand(wnd, code, parameter);
  }
}

bool TWinMSG::SendData(TWnd wnd, uint16_t code, uint16_t parameter, const void* data,
                       int32_t size) {
  if (code > ctlCode || wnd == 0 || size < 0 || (size > 0 && !data)) return false;
  const TSendResult sent = Desktop.SendCopyData(wnd, OwnHandle, PackParam(code, parameter), data,
                                                static_cast<uint32_t>(size), SendTimeoutMs);
  if (sent.Status == TSendStatus::NoAnswer) DropUnanswering(wnd);
  return sent.Status == TSendStatus::Answered;
}

void TWinMSG::BroadcastData(uint16_t code, uint16_t parameter, const void* data, int32_t size) {
  for (TWnd wnd : ActivePeerHandles(std::nullopt)) {
    const int i = FindPeer(PeerList, wnd);
    if (i < 0 || !PeerList[static_cast<size_t>(i)].Active) continue;
    SendData(wnd, code, parameter, data, size);
  }
}
