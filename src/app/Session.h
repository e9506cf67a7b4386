#pragma once

// The relay session: from a play request through the wait for the devices, online and silence,
// to the stop, and the restart after a device error. Main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/BlockPath.h"
#include "app/Relay.h"
#include "dsp/FSilence.h"
#include "dsp/OVFaders.h"
#include "settings/Setting.h"
#include "ui/Application.h"
#include "util/Clock.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"

enum class TSessionState {
  Stopped,       // no session; devices closed
  Waiting,       // polling for the devices ("WAIT")
  Offline,       // the wait time ran out and the devices are still not there ("OFFLINE")
  AwaitingFlow,  // devices open, audio has not yet gone through both ("WAIT")
  Online,        // relaying, the input has sound ("Online")
  Silence,       // relaying, the input has been silent ("Silence")
  FadingOut,     // a stop fades out; the devices still run
};

// What the session asks of the window it runs in.
class TSessionHost {
 public:
  virtual ~TSessionHost() = default;
  // The one event every change of state raises (also a change to the same state, which is how
  // "sound again" reaches the peers).
  virtual void SessionStateChanged(TSessionState from, TSessionState to) = 0;
  virtual void ShowInputCaption(const std::string& caption) = 0;
  virtual void ShowOutputCaption(const std::string& caption) = 0;
  // The internal volume (0..100) as the window shows it, and setting it (the player follows).
  virtual int32_t InsideVolume() = 0;
  virtual void SetInsideVolume(int32_t value) = 0;
  // The display timer becomes the 200 ms device poll (true) or the 10 ms display tick again.
  virtual void PollingChanged(bool polling) = 0;
  // A device of the session failed or stalled (stalled), before the session acts on it: it
  // starts again (restart), or, when the fault met a stop's fade-out, stops at once.
  virtual void SessionFault(uint32_t session, bool stalled, bool restart) = 0;
  // A device error restarted the session: the meters go back to their first style.
  virtual void DevicesRestarted() = 0;
};

// The status code a change of state sends to the controlling programs, or 0 for none.
uint16_t NotificationFor(TSessionState from, TSessionState to);

class TRelaySession {
 public:
  struct TParts {
    TApplication& App;
    TClock& Clock;
    TSetting& Setting;
    TWaveCapture& Capture;
    TWavePlayer& Player;
    TOVFader& Fader;
    TBlockPath& Path;
    TRelayHost& RelayHost;
    TSessionHost& Host;
    TPeerNotifier* Notifier;
  };
  explicit TRelaySession(TParts parts);
  // Whatever way the program ends, no relay pass outlives the devices it works on.
  ~TRelaySession();
  TRelaySession(const TRelaySession&) = delete;
  TRelaySession& operator=(const TRelaySession&) = delete;

  TSessionState State() const { return State_; }
  // A session was requested and not stopped (waiting, offline, awaiting flow, online, silence).
  bool Running() const;
  bool Polling() const { return Polling_; }
  bool HasRelayThread() const { return RelayThread != nullptr; }
  // Stop is letting pending messages run: nothing may start or stop a session now.
  bool InStop() const { return Pumping; }
  bool SilenceFlag() const { return State_ == TSessionState::Silence; }
  const std::vector<std::string>& OutputNames() const { return OutputNames_; }
  const std::vector<std::string>& InputNames() const { return InputNames_; }
  TSilence* SilenceDetector() const { return Silence.get(); }

  void RunPlay(bool fade);
  void StopPlay(bool fade);
  void FadeIn();
  void FadeOut();
  // The 200 ms device poll.
  void RunPlayTick();
  bool TryPlay();
  bool Play(int outputPosition, int inputPosition);
  bool StartDestination(int position);
  bool StartSource(int position);
  // Ends the session at once: relay thread joined, devices closed, "STOP".
  void Stop();
  void FinishAndStop(double value);
  void WaveError(bool stalled);
  void Update_Destination();
  void Update_Source();
  // The display tick's first step: takes what the relay thread reported (a device error, the
  // first audio). False while the display should stand still (the session is not online yet, or
  // has just come online: the silence step starts one tick later).
  bool Collect();
  // The display tick's last step: acts on the silence detector's event.
  void SilenceStep();
  // Hands the settings the relay thread reads to the block path.
  void PublishPathConfig();
  // What PublishPathConfig hands over.
  TPathConfig PathConfig() const;
  // How long neither a recorded nor a played block may come back before the devices count as
  // stopped: one second plus the buffer.
  uint64_t StallLimitMs() const;
  // How long a device just opened may take for its first block. A session started by a play
  // request gives it the whole stall limit. A session that tries again after a fault gives it
  // FirstBlockFactor times what the device took when it last came online, at least
  // MinFirstBlockMs and at most the stall limit: a device that is still away (a sound server's
  // sink unloaded opens but never delivers) is given up, and looked for again, soon, while one
  // that is slow to start still gets the time it needs.
  uint64_t FirstInputLimitMs() const { return FirstBlockLimitMs(InputStartMs); }
  uint64_t FirstOutputLimitMs() const { return FirstBlockLimitMs(OutputStartMs); }
  static constexpr uint64_t MinFirstBlockMs = 400;
  static constexpr uint64_t FirstBlockFactor = 3;
  // Block size and queued block count of the capture from the settings and the player's buffer.
  void SizeCapture();

 private:
  void SetState(TSessionState state);
  void SetPolling(bool polling);
  void ComeOnline();
  // The fader's finish sets the internal volume again (after a stop fade took it over).
  void RestoreFaderFinish();
  std::string RateText() const;
  uint64_t FirstBlockLimitMs(int64_t startMs) const;

  TParts P;
  TSessionState State_ = TSessionState::Stopped;
  // The state a stop fade interrupted, for a play request that cancels the stop.
  TSessionState BeforeFade = TSessionState::Stopped;
  bool Polling_ = false;
  bool Pumping = false;
  bool FadeInOnStart = false;
  int64_t WaitDeadline = 0;
  // Numbers the sessions; events of another number than this one are stale.
  uint32_t Number = 0;
  // This session tries again after a fault.
  bool Retrying = false;
  // What the devices took for their first block when a session last came online; -1: never.
  int64_t InputStartMs = -1;
  int64_t OutputStartMs = -1;
  std::vector<std::string> OutputNames_;
  std::vector<std::string> InputNames_;
  std::unique_ptr<TSilence> Silence;
  std::unique_ptr<TTimerThread> RelayThread;
};
