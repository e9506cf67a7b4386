#pragma once

// What the event log says about the relay: the main window's events turned into the lines that
// docs/reliability.md lists. Main thread only; the relay thread's events arrive here through
// the atomics the display tick collects. Without a log, or with the log off, nothing is
// formatted.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/BlockPath.h"
#include "app/Session.h"
#include "dsp/OVPlugIns.h"
#include "link/WinMSG.h"
#include "settings/Setting.h"
#include "util/Clock.h"
#include "util/EventLog.h"

class TRelayEvents {
 public:
  // The log may be null (nothing is written); readMetrics may be empty (no RES lines).
  TRelayEvents(TEventLog* log, TClock& clock, const TSetting& setting,
               std::function<TProcessMetrics()> readMetrics);
  TRelayEvents(const TRelayEvents&) = delete;
  TRelayEvents& operator=(const TRelayEvents&) = delete;

  bool On() const { return Log && Log->Enabled(); }

  // The program started with the settings loaded: the log's switch, and the first lines.
  void Start(bool enabled, const std::string& version);
  // The settings dialog's OK: the log's switch as it is now.
  void Switch(bool enabled);
  void Closing();

  // Every change of the session's state (the same state again included).
  void StateChanged(TSessionState from, TSessionState to, uint32_t session, int32_t rate);

  // A device fault the session acts upon: a failed call or a stall of the session's devices.
  struct TFault {
    uint32_t Session = 0;
    bool Stalled = false;
    // The session starts again (false: the fault met a stop's fade-out, which ends at once).
    bool Restarting = true;
    uint32_t Devices = 0;  // FaultInput, FaultOutput, FaultInputFirst, FaultOutputFirst
    int32_t Code = 0;      // the last failed call's code
    TPathConfig Limits;    // the stall limits in force
  };
  void Fault(const TFault& fault);
  // The session a fault started.
  void Restarted(uint32_t session);

  // Looks for plug-ins that left the chain since the last look (a fault cleared Active).
  void CheckPlugIns(const TPluginList& plugins);

  void PeerFound(const TPeerWindow& peer);
  void PeerLost(const TPeerWindow& peer, TPeerLoss why, uint32_t timeoutMs);

  // Once a minute: the resource line, the blocks refused since the last minute (refusedTotal
  // counts since the start), the peer events held back.
  void Minute(uint64_t refusedTotal);

  // Peer lines written in a minute at most; the rest are counted.
  static constexpr int MaxPeerLinesPerMinute = 30;

 private:
  void Write(TLogKind kind, const std::string& text);
  void WriteResources();
  void PeerLine(const std::string& text);

  TEventLog* Log;
  TClock& Clock;
  const TSetting& Setting;
  std::function<TProcessMetrics()> ReadMetrics;

  // The status text last written ("" before the first).
  std::string LastStatus;
  // A fault is being acted upon: the stop it makes is not a line of its own.
  bool Restarting = false;
  // A fault whose session has not come back online yet, and the faults that followed it.
  bool FaultOpen = false;
  uint32_t FaultSession = 0;
  uint64_t FaultTick = 0;
  uint32_t FaultsSince = 0;

  uint64_t LastRefused = 0;
  int PeerLines = 0;
  uint64_t PeerHeldBack = 0;
  uint64_t Unconfirmed = 0;
  std::vector<const TPluginEntry*> ActivePlugIns;
};
