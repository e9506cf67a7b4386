#include "app/Session.h"

#include <algorithm>

#include "util/Helpers.h"

namespace {

// First position whose name equals the wanted one, case ignored; -1 when absent.
int FindName(const std::vector<std::string>& names, const std::string& wanted) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], wanted)) return static_cast<int>(i);
  return -1;
}

bool Relaying(TSessionState s) {
  return s == TSessionState::Online || s == TSessionState::Silence;
}

}  // namespace

uint16_t NotificationFor(TSessionState from, TSessionState to) {
  // A play request that cancels a stop fade tells nothing: the stop was never announced either.
  if (from == TSessionState::FadingOut) return 0;
  switch (to) {
    case TSessionState::Offline:
      return from == TSessionState::Offline ? 0 : ntfOffline;
    case TSessionState::Silence:
      return ntfSilence;
    case TSessionState::Online:
      return Relaying(from) ? ntfSound : ntfOnline;
    default:
      return 0;
  }
}

TRelaySession::TRelaySession(TParts parts) : P(parts) {}

TRelaySession::~TRelaySession() {
  RelayThread.reset();
  P.Capture.Close();
  P.Player.Close();
}

bool TRelaySession::Running() const {
  return State_ != TSessionState::Stopped && State_ != TSessionState::FadingOut;
}

void TRelaySession::SetState(TSessionState state) {
  const TSessionState from = State_;
  State_ = state;
  P.Host.SessionStateChanged(from, state);
  if (const uint16_t code = NotificationFor(from, state); code && P.Notifier)
    P.Notifier->Notify(code);
}

void TRelaySession::SetPolling(bool polling) {
  if (Polling_ == polling) return;
  Polling_ = polling;
  P.Host.PollingChanged(polling);
}

std::string TRelaySession::RateText() const {
  return std::to_string(P.Capture.SampleRate);
}

void TRelaySession::PublishPathConfig() {
  P.Path.Publish(PathConfig());
}

TPathConfig TRelaySession::PathConfig() const {
  TPathConfig config;
  config.Send = static_cast<TSendTap>(std::clamp(P.Setting.Send, 0, 3));
  config.Blocksize = std::clamp(P.Setting.Blocksize, 0, 3);
  config.Stab = P.Setting.StabMode == 1 ? TStabMode::Smooth : TStabMode::Block;
  config.StallLimitMs = StallLimitMs();
  config.FirstInputLimitMs = FirstInputLimitMs();
  config.FirstOutputLimitMs = FirstOutputLimitMs();
  return config;
}

uint64_t TRelaySession::FirstBlockLimitMs(int64_t startMs) const {
  const uint64_t full = StallLimitMs();
  if (!Retrying || startMs < 0) return full;
  return std::min(full,
                  std::max(MinFirstBlockMs, FirstBlockFactor * static_cast<uint64_t>(startMs)));
}

uint64_t TRelaySession::StallLimitMs() const {
  return 1000 + static_cast<uint64_t>(std::max(0, P.Setting.Buffer));
}

void TRelaySession::SizeCapture() {
  P.Capture.BlockSize =
      CaptureBlockSize(P.Capture.SampleRate, std::clamp(P.Setting.Blocksize, 0, 3));
  P.Capture.SetBufferSize(P.Player.SecondsToBytes(1.5 * P.Player.BufferTime));
}

void TRelaySession::FadeIn() {
  P.Fader.FadeTo(100, P.Setting.FadeIn);
}

void TRelaySession::FadeOut() {
  P.Fader.FadeTo(0, P.Setting.FadeOut);
}

void TRelaySession::RunPlay(bool fade) {
  if (State_ == TSessionState::FadingOut) {
    // A play request during the stop fade keeps the session: the devices are still running.
    RestoreFaderFinish();
    SetState(BeforeFade);
    if (fade) FadeIn();
    return;
  }
  if (Running()) {
    if (fade) FadeIn();
    return;
  }
  ++Number;
  P.Path.SetSession(Number);
  Retrying = false;
  FadeInOnStart = fade;
  WaitDeadline = static_cast<int64_t>(P.Clock.TickCount64()) + int64_t{P.Setting.Wait} * 1000;
  SetPolling(true);
  SetState(TSessionState::Waiting);
}

void TRelaySession::RunPlayTick() {
  const auto now = static_cast<int64_t>(P.Clock.TickCount64());
  if (TryPlay()) {
    // The devices are open; "Online" waits until audio has gone through both of them.
    SetPolling(false);
    SetState(TSessionState::AwaitingFlow);
  } else if (now > WaitDeadline && WaitDeadline > 0) {
    WaitDeadline = 0;
    SetState(TSessionState::Offline);
  } else {
    SetState(TSessionState::Waiting);
  }
}

bool TRelaySession::TryPlay() {
  P.Capture.SampleRate = RateOf(P.Setting.Freq);
  Update_Destination();
  Update_Source();
  const TSetting& s = P.Setting;
  if (s.Source.empty() || s.Destination.empty()) {
    if (s.Source.empty()) P.Host.ShowInputCaption("Define input device");
    if (s.Destination.empty()) P.Host.ShowOutputCaption("Define output device");
    return false;
  }
  const int input = FindName(InputNames_, TrimText(s.Source));
  if (input < 0) {
    P.Host.ShowInputCaption("Wait for Input: " + s.Source + " (" + RateText() + " Hz)");
    return false;
  }
  P.Host.ShowInputCaption("Input: " + s.Source + " (" + RateText() + " Hz)");
  const int output = FindName(OutputNames_, TrimText(s.Destination));
  if (output < 0) {
    P.Host.ShowOutputCaption("Wait for Output: " + s.Destination);
    return false;
  }
  P.Host.ShowOutputCaption("Output: " + s.Destination);
  return Play(output, input);
}

void TRelaySession::Update_Destination() {
  P.Player.UpdateDevices();
  OutputNames_.clear();
  for (int i = 0; i < P.Player.DeviceCount(); ++i)
    OutputNames_.push_back(P.Player.GetDeviceName(i));
}

void TRelaySession::Update_Source() {
  P.Capture.UpdateDevices();
  InputNames_.clear();
  for (int i = 0; i < P.Capture.DeviceCount(); ++i)
    InputNames_.push_back(P.Capture.GetDeviceName(i));
}

bool TRelaySession::Play(int outputPosition, int inputPosition) {
  // The detector is replaced below; no pass may be feeding it meanwhile.
  RelayThread.reset();
  Silence.reset();
  if (P.Player.Active && P.Player.DeviceIndex != outputPosition) {
    P.Capture.Close();
    P.Player.Close();
  }
  if (!P.Player.Active && !StartDestination(outputPosition)) return false;
  if (!StartSource(inputPosition)) return false;
  P.Host.SetInsideVolume(P.Host.InsideVolume());
  Silence = std::make_unique<TSilence>();
  Silence->OnFound = [this](TSilence*, uint8_t mode) { P.Path.SilenceFound(mode); };
  // The next silence step arms the detector and reports sound.
  P.Path.SilenceFound(2);
  // The first-block limits depend on whether this session tries again after a fault.
  PublishPathConfig();
  P.Path.Begin(Silence.get());
  RelayThread = std::make_unique<TTimerThread>(P.RelayHost, [this] { P.Path.RelayPass(); });
  return true;
}

bool TRelaySession::StartDestination(int position) {
  if (position < 0) return false;
  P.Player.SelectDevice(position);
  P.Player.SampleRate = RateOf(P.Setting.Freq);
  P.Player.BufferTime = P.Setting.Buffer / 1000.0;
  P.Player.Channels = 2;
  P.Player.Bits = 16;
  return P.Player.Open() == 0;
}

bool TRelaySession::StartSource(int position) {
  if (position < 0) return false;
  P.Host.ShowInputCaption("Input: " + P.Capture.GetDeviceName(position));
  P.Capture.SelectDevice(position);
  P.Capture.SampleRate = RateOf(P.Setting.Freq);
  SizeCapture();
  if (P.Capture.Open() != 0) {
    // The start call may fail with the device open; nothing of it may stay behind.
    P.Capture.Close();
    return false;
  }
  P.Capture.ProcessDone();
  return true;
}

void TRelaySession::Stop() {
  // Events the ended session reported from now on are stale.
  ++Number;
  P.Path.SetSession(Number);
  if (RelayThread) {
    // Joining the thread guarantees no pass is still working on a device closed below.
    RelayThread.reset();
    Pumping = true;
    Delay(P.App, 10);
    Pumping = false;
  }
  P.Capture.Close();
  P.Player.Close();
  SetPolling(false);
  SetState(TSessionState::Stopped);
}

void TRelaySession::StopPlay(bool fade) {
  if (!Running()) return;
  if (fade && RelayThread) {
    BeforeFade = State_;
    SetState(TSessionState::FadingOut);
    P.Fader.OnFinish = [this](TOVFader*, double v) { FinishAndStop(v); };
    FadeOut();
  } else {
    Stop();
  }
}

void TRelaySession::RestoreFaderFinish() {
  P.Fader.OnFinish = [this](TOVFader*, double v) { P.Host.SetInsideVolume(int32_t(v)); };
}

void TRelaySession::FinishAndStop(double value) {
  RestoreFaderFinish();
  P.Host.SetInsideVolume(static_cast<int32_t>(value));
  Stop();
}

void TRelaySession::WaveError(bool stalled) {
  if (State_ == TSessionState::Stopped) return;
  P.Host.SessionFault(Number, stalled, State_ != TSessionState::FadingOut);
  // Whatever fade ran belongs to the session that failed.
  P.Fader.Cancel();
  if (State_ == TSessionState::FadingOut) {
    // The user asked for the stop: the error only ends the fade early.
    FinishAndStop(0);
    return;
  }
  RestoreFaderFinish();
  // A session that never came online keeps its deadline, so a device that opens but never
  // delivers still ends in "OFFLINE".
  const bool neverOnline = !Relaying(State_);
  const int64_t deadline = WaitDeadline;
  Stop();
  // The new session fades in from silence rather than starting at full volume.
  P.Fader.SetValue(0);
  P.Host.SetInsideVolume(0);
  RunPlay(true);
  Retrying = true;
  if (neverOnline) WaitDeadline = deadline;
  P.Host.DevicesRestarted();
  // A device that stopped has already cost a second; look for it again at once. Errors that
  // come straight back keep the poll's pace.
  if (stalled) RunPlayTick();
}

bool TRelaySession::Collect() {
  const uint64_t error = P.Path.PendingError.exchange(0);
  if (error != 0 && (error >> 1) == Number) {
    WaveError((error & 1) != 0);
    return false;
  }
  const bool awaiting =
      State_ == TSessionState::AwaitingFlow || (State_ == TSessionState::Offline && RelayThread);
  if (!awaiting) return true;
  if (P.Path.InputFlowing && P.Path.OutputFlowing) {
    ComeOnline();
  } else if (State_ == TSessionState::AwaitingFlow) {
    const auto now = static_cast<int64_t>(P.Clock.TickCount64());
    if (now > WaitDeadline && WaitDeadline > 0) {
      WaitDeadline = 0;
      SetState(TSessionState::Offline);
    }
  }
  return false;
}

void TRelaySession::ComeOnline() {
  // How long these devices take to start, for the first-block limits of the next tries.
  InputStartMs = P.Path.InputStartMs;
  OutputStartMs = P.Path.OutputStartMs;
  SetState(TSessionState::Online);
  if (FadeInOnStart) FadeIn();
}

void TRelaySession::SilenceStep() {
  const uint64_t event = P.Path.PendingSilence.exchange(0);
  // Only a relaying session of this number reacts; anything else is stale.
  if (!Silence || !Relaying(State_) || (event >> 8) != Number) return;
  const TSetting& s = P.Setting;
  const auto mode = static_cast<uint8_t>(event & 0xFF);
  if (mode == 1) {
    Silence->Arm(2, s.RestoreTime, s.Silence);
    SetState(TSessionState::Silence);
  } else if (mode == 2) {
    Silence->Arm(s.SilenceTime > 0 ? 1 : 0, s.SilenceTime, s.Silence);
    SetState(TSessionState::Online);
  }
}
