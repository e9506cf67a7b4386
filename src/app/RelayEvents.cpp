#include "app/RelayEvents.h"

#include <algorithm>
#include <cstdio>

namespace {

// The status the window shows for a state; nothing for a stop's fade-out, which keeps it.
const char* StatusOf(TSessionState state) {
  switch (state) {
    case TSessionState::Stopped:
      return "STOP";
    case TSessionState::Waiting:
    case TSessionState::AwaitingFlow:
      return "WAIT";
    case TSessionState::Offline:
      return "OFFLINE";
    case TSessionState::Online:
      return "Online";
    case TSessionState::Silence:
      return "Silence";
    case TSessionState::FadingOut:
      break;
  }
  return nullptr;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Devices(bool input, bool output) {
  if (input && output) return "input and output";
  if (input) return "input";
  if (output) return "output";
  return "device";
}

// "input stopped (nothing for 1.1 s)" or "input never started (nothing within 0.6 s)".
std::string StallOf(const char* device, bool first, uint64_t limitMs) {
  const double limit = static_cast<double>(limitMs) / 1000;
  return first ? std::string(device) + " never started (nothing within " + Seconds(limit) + ")"
               : std::string(device) + " stopped (nothing for " + Seconds(limit) + ")";
}

std::string HandleText(TWnd wnd) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX",
                static_cast<unsigned long long>(static_cast<uint64_t>(wnd) & 0xFFFFFFFFull));
  return text;
}

}  // namespace

TRelayEvents::TRelayEvents(TEventLog* log, TClock& clock, const TSetting& setting,
                           std::function<TProcessMetrics()> readMetrics)
    : Log(log), Clock(clock), Setting(setting), ReadMetrics(std::move(readMetrics)) {}

void TRelayEvents::Write(TLogKind kind, const std::string& text) {
  if (On()) Log->Write(kind, text);
}

void TRelayEvents::WriteResources() {
  if (On() && ReadMetrics) Write(TLogKind::Resources, FormatProcessMetrics(ReadMetrics()));
}

void TRelayEvents::Start(bool enabled, const std::string& version) {
  if (!Log) return;
  Log->SetEnabled(enabled);
  Write(TLogKind::Note, "started: Kestrune " + version);
  WriteResources();
}

void TRelayEvents::Switch(bool enabled) {
  if (!Log || Log->Enabled() == enabled) return;
  if (enabled) {
    Log->SetEnabled(true);
    Write(TLogKind::Note, "switched on in the settings");
    WriteResources();
  } else {
    Write(TLogKind::Note, "switched off in the settings");
    Log->SetEnabled(false);
  }
}

void TRelayEvents::Closing() {
  Write(TLogKind::Note, "closing");
}

void TRelayEvents::StateChanged(TSessionState from, TSessionState to, uint32_t session,
                                int32_t rate) {
  const char* status = StatusOf(to);
  if (!status) return;
  // The stop inside a restart is no stop the user sees for long: the fault's lines say it.
  if (to == TSessionState::Stopped && Restarting) return;
  const bool changed = LastStatus != status;
  // The session a fault started has come back: that closes the fault, whatever the lines.
  const bool back = FaultOpen && to == TSessionState::Online &&
                    (from == TSessionState::AwaitingFlow || from == TSessionState::Offline);
  if (changed) {
    LastStatus = status;
    std::string why;
    switch (to) {
      case TSessionState::Stopped:
        if (FaultOpen)
          why = "never back online after the fault of session " + std::to_string(FaultSession) +
                " (" + std::to_string(FaultsSince) + " more faults)";
        break;
      case TSessionState::Waiting:
      case TSessionState::AwaitingFlow:
        if (Restarting)
          why = "restarting after a fault";
        else if (from == TSessionState::Stopped)
          why = "play requested";
        else if (from == TSessionState::Offline)
          why = "looking for the devices";
        break;
      case TSessionState::Offline:
        why = std::string(from == TSessionState::AwaitingFlow ? "no audio" : "devices not found") +
              " within the wait time (" + std::to_string(Setting.Wait) + " s)";
        break;
      case TSessionState::Online:
        if (from == TSessionState::Silence)
          why = "sound again";
        else
          why = Setting.Source + " -> " + Setting.Destination + ", " + std::to_string(rate) + " Hz";
        break;
      case TSessionState::Silence:
        why = "no sound for " + Number(Setting.SilenceTime) + " s";
        break;
      case TSessionState::FadingOut:
        break;
    }
    Write(TLogKind::State, why.empty() ? std::string(status) : std::string(status) + " " + why);
  }
  if (back) {
    const double after = static_cast<double>(Clock.TickCount64() - FaultTick) / 1000;
    std::string text = "session " + std::to_string(session) + " back online " + Seconds(after) +
                       " after the fault of session " + std::to_string(FaultSession);
    if (FaultsSince > 0) text += ", " + std::to_string(FaultsSince) + " more faults meanwhile";
    Write(TLogKind::Restart, text);
  }
  if (back || to == TSessionState::Stopped) FaultOpen = false;
}

void TRelayEvents::Fault(const TFault& fault) {
  Restarting = fault.Restarting;
  if (FaultOpen) {
    ++FaultsSince;
    return;
  }
  const bool input = (fault.Devices & FaultInput) != 0;
  const bool output = (fault.Devices & FaultOutput) != 0;
  std::string text = "session " + std::to_string(fault.Session) + ": ";
  if (fault.Stalled) {
    if (input)
      text += StallOf("input", (fault.Devices & FaultInputFirst) != 0,
                      (fault.Devices & FaultInputFirst) ? fault.Limits.FirstInputLimitMs
                                                        : fault.Limits.StallLimitMs);
    if (input && output) text += " and ";
    if (output)
      text += StallOf("output", (fault.Devices & FaultOutputFirst) != 0,
                      (fault.Devices & FaultOutputFirst) ? fault.Limits.FirstOutputLimitMs
                                                         : fault.Limits.StallLimitMs);
    if (!input && !output) text += "device stopped";
  } else {
    text += Devices(input, output) + (input && output ? " calls" : " call") + " failed (code " +
            std::to_string(fault.Code) + ")";
  }
  text += fault.Restarting ? ", restarting" : ", stopping";
  Write(fault.Stalled ? TLogKind::Stall : TLogKind::Device, text);
  if (fault.Restarting) {
    FaultOpen = true;
    FaultSession = fault.Session;
    FaultTick = Clock.TickCount64();
    FaultsSince = 0;
  }
}

void TRelayEvents::Restarted(uint32_t session) {
  Restarting = false;
  // Only the restart of the fault that has a line of its own: the later tries are counted.
  if (FaultOpen && FaultsSince == 0)
    Write(TLogKind::Restart, "session " + std::to_string(session) +
                                 " started after the fault of session " +
                                 std::to_string(FaultSession));
}

void TRelayEvents::CheckPlugIns(const TPluginList& plugins) {
  const bool on = On();
  for (size_t i = 0; i < plugins.size(); ++i) {
    const TPluginEntry* entry = plugins[i].get();
    if (!on || entry->Active) continue;
    if (std::find(ActivePlugIns.begin(), ActivePlugIns.end(), entry) != ActivePlugIns.end())
      Write(TLogKind::PlugIn, entry->FileName + " (position " + std::to_string(i + 1) +
                                  ") faulted and was made inactive");
  }
  // The list keeps its memory: no allocation once it has held the chain.
  ActivePlugIns.clear();
  for (const auto& entry : plugins)
    if (entry->Active) ActivePlugIns.push_back(entry.get());
}

void TRelayEvents::PeerLine(const std::string& text) {
  if (!On()) return;
  if (PeerLines >= MaxPeerLinesPerMinute) {
    ++PeerHeldBack;
    return;
  }
  ++PeerLines;
  Write(TLogKind::Peer, text);
}

void TRelayEvents::PeerFound(const TPeerWindow& peer) {
  if (On()) PeerLine(HandleText(peer.Wnd) + " found (" + peer.WndClass + ")");
}

void TRelayEvents::PeerLost(const TPeerWindow& peer, TPeerLoss why, uint32_t timeoutMs) {
  if (!On()) return;
  switch (why) {
    case TPeerLoss::Withdrew:
      PeerLine(HandleText(peer.Wnd) + " left");
      break;
    case TPeerLoss::Vanished:
      PeerLine(HandleText(peer.Wnd) + " dropped: its window is gone");
      break;
    case TPeerLoss::NoAnswer:
      PeerLine(HandleText(peer.Wnd) + " dropped: no answer within " + std::to_string(timeoutMs) +
               " ms");
      break;
    case TPeerLoss::NotConfirmed:
      ++Unconfirmed;
      break;
  }
}

void TRelayEvents::Minute(uint64_t refusedTotal) {
  const uint64_t refused = refusedTotal - std::min(refusedTotal, LastRefused);
  LastRefused = refusedTotal;
  WriteResources();
  if (refused > 0) Write(TLogKind::Refused, std::to_string(refused) + " blocks in the last minute");
  if (Unconfirmed > 0)
    Write(TLogKind::Peer, std::to_string(Unconfirmed) +
                              " announcements of windows that do not exist in the last minute");
  if (PeerHeldBack > 0)
    Write(TLogKind::Peer, std::to_string(PeerHeldBack) + " more peer events in the last minute");
  Unconfirmed = 0;
  PeerHeldBack = 0;
  PeerLines = 0;
}
