#include "app/MainDaemon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "util/Helpers.h"

namespace {

constexpr uint32_t DisplayInterval = 10;
constexpr uint32_t PollInterval = 200;
constexpr int64_t LinkPeriodMs = 5000;
// What a closed device shows: the level of a zero peak.
const double SilentLevel = PeakLevel(0);

const char* const LinkTexts[3] = {"Orvanta Kestrune", "Home page: https://kestrune.orvanta.example",
                                  "Orvanta Audio, 2026"};

// First position whose name equals the wanted one, case ignored; -1 when absent.
int FindName(const std::vector<std::string>& names, const std::string& wanted) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], wanted)) return static_cast<int>(i);
  return -1;
}

}  // namespace

double PeakToDB(int16_t peak) {
  return PeakLevel(peak);
}

TLevels CalcLevel(const int16_t* data, int32_t size) {
  bool first = true;
  std::atomic<int16_t> left{0}, right{0};
  FoldPeaks(data, size, first, left, right);
  return {PeakToDB(left), PeakToDB(right)};
}

TOV_Kestrune::TOV_Kestrune(TMainServices& services)
    : Player(services.Wave),
      Capture(services.Wave),
      Fader(services.Clock),
      Stab(services.Clock, Player),
      S(services) {
  PanDST.SetBounds(2, 2, 315, 117);
  PanDST.SetCaption("Output");
  ImgDST.Parent = &PanDST;
  ImgDST.SetBounds(3, 18, 310, 25);
  InVolume.Parent = &PanDST;
  InVolume.SetBounds(3, 48, 310, 14);
  InVolume.SetHint("Internal volume.\nClick for mute or set 100%");
  StabLevel.Parent = &PanDST;
  StabLevel.SetBounds(3, 66, 150, 14);
  StabLevel.SetHint("Stabilizer");
  GBuffer.Parent = &PanDST;
  GBuffer.SetBounds(163, 66, 150, 14);
  GBuffer.SetHint("Buffer");
  sVolume.Parent = &PanDST;
  sVolume.SetBounds(3, 86, 250, 26);
  sVolume.SetHint("Volume");
  LVolume.Parent = &PanDST;
  LVolume.SetBounds(258, 90, 55, 18);
  LVolume.SetCaption("Volume");
  PanSRC.SetBounds(2, 120, 315, 83);
  PanSRC.SetCaption("Input");
  ImgSrc.Parent = &PanSRC;
  ImgSrc.SetBounds(3, 18, 310, 25);
  SBSettings.Parent = &PanSRC;
  SBSettings.SetBounds(3, 50, 90, 26);
  SBSettings.SetCaption("Settings");
  SBPlay.Parent = &PanSRC;
  SBPlay.SetBounds(98, 50, 90, 26);
  SBPlay.SetCaption("Play");
  SBStop.Parent = &PanSRC;
  SBStop.SetCaption("Stop");
  SBStop.SetVisible(false);
  LabStatus.Parent = &PanSRC;
  LabStatus.SetBounds(193, 50, 118, 26);
  LabStatus.SetHint("Status");
  LabStatus.Bold = LabStatus.Centered = LabStatus.Framed = true;
  InVolume.ShowPercent = true;
  for (TControl* c :
       {static_cast<TControl*>(&ImgDST), static_cast<TControl*>(&ImgSrc),
        static_cast<TControl*>(&InVolume), static_cast<TControl*>(&sVolume), &LShowLink})
    c->HandCursor = true;
  LShowLink.SetBounds(120, 204, 196, 16);

  SBSettings.OnClick = [this] { SBSettingsClick(); };
  ImgDST.OnClick = [this] { ImgDSTClick(); };
  ImgSrc.OnClick = [this] { ImgSrcClick(); };
  SBPlay.OnClick = [this] { SBPlayClick(); };
  SBStop.OnClick = [this] { SBStopClick(); };
  sVolume.OnChange = [this] { sVolumeChange(); };
  InVolume.OnMouseUp = [this] { InVolumeMouseUp(); };
  TimerWork.OnTimer = [this] { Polling ? RunPlayTick() : ShowLevel(); };
}

TOV_Kestrune::~TOV_Kestrune() {
  // Whatever way the window goes, no relay pass may outlive the devices it works on.
  RelayThread.reset();
  Capture.Close();
  Player.Close();
}

std::vector<TControl*> TOV_Kestrune::FormControls() {
  return {&PanDST, &ImgDST, &InVolume,   &StabLevel, &GBuffer, &sVolume,   &LVolume,
          &PanSRC, &ImgSrc, &SBSettings, &SBPlay,    &SBStop,  &LabStatus, &LShowLink};
}

std::vector<TTimer*> TOV_Kestrune::FormTimers() {
  return {&TimerWork, &Fader.Timer};
}

void TOV_Kestrune::FormCreate() {
  Running = false;
  ConfirmExit = true;
  SetStatus("STOP", ColorGrey);
  SilenceEvent = 0;
  SilenceFlag = false;
  LinkIndex = -1;
  NextLinkTime = static_cast<int64_t>(S.Clock.TickCount64());
  S.Window.SetCaption("Orvanta Kestrune " + S.FileVersion);
  S.Tray.SetHint("Orvanta Kestrune");
  S.Window.RequestRealtimePriority();
  SetupMeters();
  Fader.SetValue(0);
  Fader.OnFinish = [this](TOVFader*, double v) { FaderFinish(v); };
  Fader.OnStep = [this](TOVFader*, double v) { FaderTimer(v); };
  Player.OnPlayed = [this](TWavePlayer*, const int16_t* d, int32_t n) { WSPHaveData(d, n); };
  Player.OnPlayedSource = [this](TWavePlayer*, const int16_t* d, int32_t n) {
    WSPHavePlayback(d, n);
  };
  Player.OnError = [this](TWavePlayer*, int32_t) { ReportDeviceError(); };
  Capture.OnData = [this](TWaveCapture*, const int16_t* d, int32_t n) { WSCHaveData(d, n); };
  Capture.OnError = [this](TWaveCapture*, int32_t) { ReportDeviceError(); };
  Update_Destination();
  Update_Source();
  InVolume.SetValue(0);
  SBStop.SetBounds(SBPlay.Left(), SBPlay.Top(), SBPlay.Width(), SBPlay.Height());
  SBStop.SetVisible(false);

  LoadedPID = LoadSettings(Setting, S.Ini, TSettingsContext{S.DecimalSeparator, S.ExeDir, {}});

  sVolume.SetValue(Setting.Volume);
  sVolumeChange();

  // Applying the settings.
  Setting.Blocksize = std::clamp(Setting.Blocksize, 0, 3);
  PublishPathSettings();
  SBSettings.SetEnabled(static_cast<bool>(ShowSettingsDialog));
  SBPlay.SetEnabled(!Setting.SourceMode);
  SBStop.SetEnabled(!Setting.SourceMode);
  SBPlay.SetVisible(!Setting.SourceMode);
  InVolume.SetEnabled(!Setting.SourceMode);

  PanSRC.SetCaption("Input: " + Setting.Source + " (" + std::to_string(RateOf(Setting.Freq)) +
                    " Hz)");
  PanDST.SetCaption("Output: " + Setting.Destination);

  FadeInOnStart = false;
  if (Setting.Auto) {
    FadeInOnStart = true;
    SBPlayClick();
  }
  if (Setting.ToTray) S.Window.PostMinimize();
  TimerWork.SetEnabled(true);

  if (const auto pid = PIDFromLoaded(LoadedPID))
    Setting.PID = *pid;
  else
    S.Dialogs.Error(RangeErrorText());
}

bool TOV_Kestrune::FormClose() {
  if (RelayThread || Setting.SourceMode) {
    if (ConfirmExit && !S.Dialogs.Confirm("Are you sure exit this program?")) return false;
    Stop();
  }
  // A session still waiting for its devices ends with the window; an error still on its way to
  // the main thread then restarts nothing.
  Running = false;
  TimerWork.SetEnabled(false);
  Delay(S.App, 20);
  if (Silence) {
    Silence->Arm(0, 0, 0);
    Silence.reset();
  }
  Capture.Close();
  Player.Close();
  return true;
}

void TOV_Kestrune::WMSystem_Shutdown_Query() {
  ConfirmExit = false;
  S.Window.Close();
}

void TOV_Kestrune::OnMinimize() {
  S.Window.ShowTaskbarButton(false);
  S.Tray.SetIconVisible(true);
}

void TOV_Kestrune::OnRestore() {
  S.Window.ShowTaskbarButton(true);
  S.Tray.SetIconVisible(false);
  S.Window.BringToFront();
}

void TOV_Kestrune::TrayIconDblClick() {
  S.Window.BringToFront();
}

void TOV_Kestrune::SBSettingsClick() {
  if (ShowSettingsDialog && ShowSettingsDialog()) SettingsAccepted();
  sVolume.SetValue(Setting.Volume);
}

bool TOV_Kestrune::CheckNeedRestart() {
  const bool need =
      (Player.Active && FindName(OutputNames, Setting.Destination) != Player.DeviceIndex) ||
      (Capture.Active && FindName(InputNames, Setting.Source) != Capture.DeviceIndex) ||
      (Capture.Active && RateOf(Setting.Freq) != Capture.SampleRate);
  if (need)
    S.Dialogs.Information("For apply of the new settings it is necessary to restart player");
  return need;
}

void TOV_Kestrune::SettingsAccepted() {
  PublishPathSettings();
  CheckNeedRestart();
  GBuffer.SetMax(2 * Setting.Buffer);
  if (Player.Active) Player.BufferTime = Setting.Buffer / 1000.0;
  if (Capture.Active) {
    // Blocks already queued keep their size; the next ones take the new one.
    SizeCapture();
  }
}

void TOV_Kestrune::PublishPathSettings() {
  PathSend = std::clamp(Setting.Send, 0, 3);
  PathBlocksize = std::clamp(Setting.Blocksize, 0, 3);
}

void TOV_Kestrune::SizeCapture() {
  Capture.BlockSize = CaptureBlockSize(Capture.SampleRate, std::clamp(Setting.Blocksize, 0, 3));
  Capture.SetBufferSize(Player.SecondsToBytes(1.5 * Player.BufferTime));
}

void TOV_Kestrune::SetStatus(const std::string& text, TColor color) {
  LabStatus.SetFontColor(color);
  LabStatus.SetCaption(text);
}

void TOV_Kestrune::SetPolling(bool polling) {
  Polling = polling;
  TimerWork.SetInterval(polling ? PollInterval : DisplayInterval);
}

void TOV_Kestrune::ShowButtons() {
  const bool manual = !Setting.SourceMode;
  const bool live = Running || RelayThread != nullptr;
  SBPlay.SetVisible(manual && !live);
  SBStop.SetVisible(manual && live);
  InVolume.SetEnabled(manual);
}

void TOV_Kestrune::FadeIn() {
  Fader.FadeTo(100, Setting.FadeIn);
}

void TOV_Kestrune::Notify(uint16_t code) {
  if (S.Notifier) S.Notifier->Notify(code);
}

std::string TOV_Kestrune::RateText() const {
  return std::to_string(Capture.SampleRate);
}

void TOV_Kestrune::RunPlay(bool fade) {
  if (Stopping) {
    // A play request during the stop fade keeps the session: the devices are still running.
    Stopping = false;
    Running = true;
    Fader.OnFinish = [this](TOVFader*, double v) { FaderFinish(v); };
    if (fade) FadeIn();
    ShowButtons();
    return;
  }
  if (Running) {
    if (fade) FadeIn();
    return;
  }
  Running = true;
  FadeInOnStart = fade;
  WaitDeadline = static_cast<int64_t>(S.Clock.TickCount64()) + int64_t{Setting.Wait} * 1000;
  SetPolling(true);
  ShowButtons();
  S.Tray.SetAnimate(true);
}

void TOV_Kestrune::RunPlayTick() {
  const auto now = static_cast<int64_t>(S.Clock.TickCount64());
  if (TryPlay()) {
    // The devices are open; "Online" waits until audio has gone through both of them.
    SetPolling(false);
    AwaitingFlow = true;
    SetStatus("WAIT", ColorRed);
  } else if (now > WaitDeadline && WaitDeadline > 0) {
    WaitDeadline = 0;
    SetStatus("OFFLINE", ColorRed);
    Notify(ntfOffline);
  } else {
    SetStatus("WAIT", ColorRed);
  }
}

void TOV_Kestrune::ComeOnline() {
  AwaitingFlow = false;
  SetStatus("Online", ColorGreen);
  Notify(ntfOnline);
  if (FadeInOnStart) FadeIn();
}

bool TOV_Kestrune::TryPlay() {
  Capture.SampleRate = RateOf(Setting.Freq);
  Update_Destination();
  Update_Source();
  if (Setting.Source.empty() || Setting.Destination.empty()) {
    if (Setting.Source.empty()) PanSRC.SetCaption("Define input device");
    if (Setting.Destination.empty()) PanDST.SetCaption("Define output device");
    return false;
  }
  const int input = FindName(InputNames, TrimText(Setting.Source));
  if (input < 0) {
    PanSRC.SetCaption("Wait for Input: " + Setting.Source + " (" + RateText() + " Hz)");
    return false;
  }
  PanSRC.SetCaption("Input: " + Setting.Source + " (" + RateText() + " Hz)");
  const int output = FindName(OutputNames, TrimText(Setting.Destination));
  if (output < 0) {
    PanDST.SetCaption("Wait for Output: " + Setting.Destination);
    return false;
  }
  PanDST.SetCaption("Output: " + Setting.Destination);
  return Play(output, input);
}

void TOV_Kestrune::Update_Destination() {
  Player.UpdateDevices();
  OutputNames.clear();
  for (int i = 0; i < Player.DeviceCount(); ++i) OutputNames.push_back(Player.GetDeviceName(i));
}

void TOV_Kestrune::Update_Source() {
  Capture.UpdateDevices();
  InputNames.clear();
  for (int i = 0; i < Capture.DeviceCount(); ++i) InputNames.push_back(Capture.GetDeviceName(i));
}

bool TOV_Kestrune::Play(int outputPosition, int inputPosition) {
  GBuffer.SetMax(2 * Setting.Buffer);
  // The detector is replaced below; no pass may be feeding it meanwhile.
  RelayThread.reset();
  Silence.reset();
  if (Player.Active && Player.DeviceIndex != outputPosition) Stop();
  if (!Player.Active && !StartDestination(outputPosition)) return false;
  if (!StartSource(inputPosition)) return false;
  SetInsideVolume(InVolume.Value());
  Silence = std::make_unique<TSilence>();
  Silence->OnFound = [this](TSilence*, uint8_t mode) { SilenceEvent = mode; };
  SilenceEvent = 2;
  StartRelayThread();
  return true;
}

void TOV_Kestrune::StartRelayThread() {
  const uint64_t now = S.Clock.TickCount64();
  LastInputTick = now;
  LastOutputTick = now;
  LastReadyBytes = 0;
  StallReported = false;
  InputFlowing = false;
  OutputFlowing = false;
  RelayThread =
      std::make_unique<TTimerThread>(S.RelayHost, [this](TTimerThread& t) { RelayPassOf(t); });
}

bool TOV_Kestrune::StartDestination(int position) {
  if (position < 0) return false;
  Player.SelectDevice(position);
  Player.SampleRate = RateOf(Setting.Freq);
  Player.BufferTime = Setting.Buffer / 1000.0;
  Player.Channels = 2;
  Player.Bits = 16;
  return Player.Open() == 0;
}

bool TOV_Kestrune::StartSource(int position) {
  if (position < 0) return false;
  PanSRC.SetCaption("Input: " + Capture.GetDeviceName(position));
  Capture.SelectDevice(position);
  Capture.SampleRate = RateOf(Setting.Freq);
  SizeCapture();
  if (Capture.Open() != 0) {
    // The start call may fail with the device open; nothing of it may stay behind.
    Capture.Close();
    return false;
  }
  Capture.ProcessDone();
  return true;
}

void TOV_Kestrune::Stop() {
  if (RelayThread) {
    // Joining the thread guarantees no pass is still working on a device closed below.
    RelayThread.reset();
    Delay(S.App, 10);
  }
  Capture.Close();
  Player.Close();
  Stopping = false;
  AwaitingFlow = false;
  S.Tray.SetAnimate(false);
  ShowButtons();
  SetStatus("STOP", ColorGrey);
}

void TOV_Kestrune::StopPlay(bool fade) {
  if (!Running) return;
  Running = false;
  // A stop while waiting for the devices ends the poll too.
  if (Polling) SetPolling(false);
  if (fade && RelayThread) {
    Stopping = true;
    Fader.OnFinish = [this](TOVFader*, double v) { FinishAndStop(v); };
    Fader.FadeTo(0, Setting.FadeOut);
  } else {
    Stop();
  }
}

void TOV_Kestrune::FinishAndStop(double value) {
  Fader.OnFinish = [this](TOVFader*, double v) { FaderFinish(v); };
  SetInsideVolume(static_cast<int32_t>(value));
  Stop();
}

void TOV_Kestrune::WaveError() {
  if (!Running && !Stopping) return;  // the session ended before the error reached us
  // A session that never came online keeps its deadline, so a device that opens but never
  // delivers still ends in "OFFLINE".
  const bool neverOnline = AwaitingFlow;
  const int64_t deadline = WaitDeadline;
  const bool stalled = StallPending.exchange(false);
  Stop();
  Running = false;
  // The new session fades in from silence rather than starting at full volume.
  Fader.SetValue(0);
  SetInsideVolume(0);
  RunPlay(true);
  if (neverOnline) WaitDeadline = deadline;
  SetStatus("WAIT", ColorRed);
  SetupMeters();
  // A device that stopped has already cost a second; look for it again at once. Errors that
  // come straight back keep the poll's pace.
  if (stalled) RunPlayTick();
}

void TOV_Kestrune::SetupMeters() {
  Leds.SetupLed(1, ImgDST.Canvas(), 0);
  Leds.SetupLed(0, ImgSrc.Canvas(), 0);
}

void TOV_Kestrune::ImgDSTClick() {
  Leds.SetLedStyle(1, ImgDST.Canvas(), Leds.GetLedStyle(1) + 1);
}

void TOV_Kestrune::ImgSrcClick() {
  Leds.SetLedStyle(0, ImgSrc.Canvas(), Leds.GetLedStyle(0) + 1);
}

void TOV_Kestrune::ReportDeviceError() {
  if (ErrorPosted.exchange(true)) return;
  S.App.Post([this] {
    ErrorPosted = false;
    WaveError();
  });
}

void TOV_Kestrune::SilenceStep() {
  const uint8_t event = SilenceEvent.exchange(0);
  if (!Silence) return;
  if (event == 1) {
    Silence->Arm(2, Setting.RestoreTime, Setting.Silence);
    Notify(ntfSilence);
    SilenceFlag = true;
    SetStatus("Silence", ColorRed);
  } else if (event == 2) {
    Silence->Arm(Setting.SilenceTime > 0 ? 1 : 0, Setting.SilenceTime, Setting.Silence);
    Notify(ntfSound);
    SilenceFlag = false;
    SetStatus("Online", ColorGreen);
  }
}

void TOV_Kestrune::ShowLevel() {
  const auto now = static_cast<int64_t>(S.Clock.TickCount64());
  if (AwaitingFlow) {
    // The silence step starts one tick after the session came online.
    if (InputFlowing && OutputFlowing) {
      ComeOnline();
    } else if (now > WaitDeadline && WaitDeadline > 0) {
      WaitDeadline = 0;
      SetStatus("OFFLINE", ColorRed);
      Notify(ntfOffline);
    }
    return;
  }
  if (now > NextLinkTime) {
    LinkIndex = LinkIndex + 1 >= 3 ? 0 : LinkIndex + 1;
    LShowLink.SetCaption(LinkTexts[LinkIndex]);
    NextLinkTime = now + LinkPeriodMs;
  }
  if (Player.Active) {
    const int q = static_cast<int>(Player.QueuedTime * 1000);
    GBuffer.SetValue(q);
    char text[32];
    std::snprintf(text, sizeof text, "%4d ms", q);
    GBuffer.SetText(text);
    Leds.ShowLed(1, ImgDST.Canvas(), Player.LevelLeft(), Player.LevelRight());
  } else {
    GBuffer.SetValue(0);
    GBuffer.SetText("");
    Leds.ShowLed(1, ImgDST.Canvas(), SilentLevel, SilentLevel);
  }
  if (Capture.Active)
    Leds.ShowLed(0, ImgSrc.Canvas(), Capture.LevelLeft(), Capture.LevelRight());
  else
    Leds.ShowLed(0, ImgSrc.Canvas(), SilentLevel, SilentLevel);
  const int32_t stab = Stab.StabValue;
  StabLevel.SetValue(stab);
  StabLevel.SetText(stab < 0   ? "Decrease: " + std::to_string(stab)
                    : stab > 0 ? "Increase: " + std::to_string(stab)
                               : "Normal");
  SilenceStep();
}

uint64_t TOV_Kestrune::StallLimitMs() const {
  return 1000 + static_cast<uint64_t>(std::max(0, Setting.Buffer));
}

void TOV_Kestrune::CheckStalls(uint64_t now) {
  if (StallReported) return;
  // An empty output queue owes nothing; a device that keeps a queue and never finishes has stopped.
  if (Player.QueuedTime <= 0) LastOutputTick = now;
  // The handlers may have stamped a tick later than the pass's own reading.
  const auto silentFor = [now](uint64_t last) { return now > last ? now - last : 0; };
  const uint64_t limit = StallLimitMs();
  if (silentFor(LastInputTick) > limit || silentFor(LastOutputTick) > limit) {
    StallReported = true;
    StallPending = true;
    ReportDeviceError();
  }
}

void TOV_Kestrune::RelayPass() {
  if (RelayThread) RelayPassOf(*RelayThread);
}

void TOV_Kestrune::RelayPassOf(TTimerThread& thread) {
  const uint64_t now = S.Clock.TickCount64();
  if (thread.Prefill) {
    const uint32_t ready = Capture.ReadyBytes();
    if (ready > LastReadyBytes) {
      LastReadyBytes = ready;
      LastInputTick = now;
    }
    const double t = Player.BytesToSeconds(ready);
    if (t + 0.03 < Player.BufferTime) {
      CheckStalls(now);
      return;
    }
    thread.Prefill = false;
  }
  Capture.ProcessDone();
  Player.ProcessDone();
  CheckStalls(now);
}

void TOV_Kestrune::WSCHaveData(const int16_t* data, int32_t size) {
  LastInputTick = S.Clock.TickCount64();
  InputFlowing = true;
  if (Silence) Silence->Feed(data, size, Player.SampleRate);
  const int32_t send = PathSend;
  if (send == 0 && S.Stream) S.Stream->AddSendData(data, size, Capture.SampleRate);
  const auto* bytes = reinterpret_cast<const char*>(data);
  std::vector<char> work(bytes, bytes + std::max(0, size));
  Stab.StabilyzerTick(work, PathBlocksize);
  // Only whole frames go on.
  const auto n = static_cast<int32_t>(work.size() & ~size_t{3});
  const auto* samples = reinterpret_cast<const int16_t*>(work.data());
  Player.AddBuffer(samples, n);
  if (send == 1 && S.Stream) S.Stream->AddSendData(samples, n, Capture.SampleRate);
}

void TOV_Kestrune::WSPHavePlayback(const int16_t* data, int32_t size) {
  if (PathSend == 2 && S.Stream) S.Stream->AddSendData(data, size, Player.SampleRate);
}

void TOV_Kestrune::WSPHaveData(const int16_t* data, int32_t size) {
  LastOutputTick = S.Clock.TickCount64();
  OutputFlowing = true;
  if (PathSend == 3 && S.Stream) S.Stream->AddSendData(data, size, Player.SampleRate);
}

void TOV_Kestrune::SetInsideVolume(int32_t v) {
  v = std::clamp(v, 0, 100);
  InVolume.SetValue(v);
  Player.SetVolume(
      static_cast<int32_t>(std::trunc(v * static_cast<double>(sVolume.Value()) / 100)));
}

void TOV_Kestrune::sVolumeChange() {
  SetInsideVolume(InVolume.Value());
  LVolume.SetCaption(std::to_string(sVolume.Value()) + "%");
}

void TOV_Kestrune::InVolumeMouseUp() {
  if (InVolume.Value() != 0)
    Fader.FadeTo(0, Setting.FadeOut);
  else
    FadeIn();
}

void TOV_Kestrune::FaderTimer(double value) {
  SetInsideVolume(static_cast<int32_t>(value));
}

void TOV_Kestrune::FaderFinish(double value) {
  SetInsideVolume(static_cast<int32_t>(value));
}
