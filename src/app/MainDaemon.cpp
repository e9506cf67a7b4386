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

const char* const HomePage = "https://kestrune.orvanta.example";
const char* const LinkTexts[3] = {"Orvanta Kestrune", "Home page: https://kestrune.orvanta.example",
                                  "Orvanta Audio, 2026"};

// First position whose name equals the wanted one, case ignored; -1 when absent.
int FindName(const std::vector<std::string>& names, const std::string& wanted) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], wanted)) return static_cast<int>(i);
  return -1;
}

}  // namespace

TOV_Kestrune::TOV_Kestrune(TMainServices& services)
    : Events(services.Log, services.Clock, Setting, services.ReadMetrics),
      Player(services.Wave),
      Capture(services.Wave),
      Fader(services.Clock),
      Stab(services.Clock, Player),
      PlugIns(services.PlugInLibraries, services.PlugInGuard),
      Link(services.Desktop, 0),
      SendQueue(Link, services.Clock),
      Interactive(Link, *this,
                  [this](std::function<void()> command) { Posted.push_back(std::move(command)); }),
      Path(services.Clock, Capture, Player, Stab, services.Stream ? services.Stream : &SendQueue,
           &PlugIns),
      Session({services.App, services.Clock, Setting, Capture, Player, Fader, Path,
               services.RelayHost, *this, services.Notifier ? services.Notifier : &Link}),
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
  LShowLink.OnClick = [this] { S.Shell.OpenAddress(HomePage); };
  ImgSrc.OnClick = [this] { ImgSrcClick(); };
  SBPlay.OnClick = [this] { SBPlayClick(); };
  SBStop.OnClick = [this] { SBStopClick(); };
  sVolume.OnChange = [this] { sVolumeChange(); };
  InVolume.OnMouseUp = [this] { InVolumeMouseUp(); };
  TimerWork.OnTimer = [this] {
    RunPosted();
    Session.Polling() ? Session.RunPlayTick() : ShowLevel();
    Events.CheckPlugIns(PlugIns.LoadedPlugins());
  };
  TimerMinute.OnTimer = [this] { Events.Minute(Path.RefusedBlocks); };
  Link.OnPeerFound = [this](TWinMSG&, const TPeerWindow& peer) { Events.PeerFound(peer); };
  Link.OnPeerLost = [this](TWinMSG& link, const TPeerWindow& peer) {
    Events.PeerLost(peer, link.LostReason(), link.SendTimeoutMs);
  };
  TimerPeers.OnTimer = [this] { Link.ScanPeers(); };
  FaderTick.OnTimer = [this] { Fader.TimerTick(); };
  Fader.RunTimer = [this](bool run) { FaderTick.SetEnabled(run); };
}

TOV_Kestrune::~TOV_Kestrune() = default;

std::vector<TControl*> TOV_Kestrune::FormControls() {
  return {&PanDST, &ImgDST, &InVolume,   &StabLevel, &GBuffer, &sVolume,   &LVolume,
          &PanSRC, &ImgSrc, &SBSettings, &SBPlay,    &SBStop,  &LabStatus, &LShowLink};
}

std::vector<TTimer*> TOV_Kestrune::FormTimers() {
  return {&TimerWork, &FaderTick, &TimerPeers, &TimerMinute};
}

void TOV_Kestrune::FormCreate() {
  ConfirmExit = true;
  SetStatus("STOP", ColorGrey);
  LinkIndex = -1;
  NextLinkTime = static_cast<int64_t>(S.Clock.TickCount64());
  S.Window.SetCaption("Orvanta Kestrune " + S.FileVersion);
  S.Tray.SetHint("Orvanta Kestrune");
  Link.OwnHandle = reinterpret_cast<TWnd>(S.Window.NativeHandle());
  TimerPeers.SetEnabled(true);
  S.Window.RequestRealtimePriority();
  SetupMeters();
  PlugIns.SetParentWindow(S.Window.NativeHandle());
  PlugIns.InitPlugins();
  Fader.SetValue(0);
  Fader.OnFinish = [this](TOVFader*, double v) { FaderFinish(v); };
  Fader.OnStep = [this](TOVFader*, double v) { FaderTimer(v); };
  Player.OnPlayed = [this](TWavePlayer*, const int16_t* d, int32_t n) { Path.WSPHaveData(d, n); };
  Player.OnPlayedSource = [this](TWavePlayer*, const int16_t* d, int32_t n) {
    Path.WSPHavePlayback(d, n);
  };
  Player.OnError = [this](TWavePlayer*, int32_t code) { Path.ReportError(FaultOutput, code); };
  Capture.OnData = [this](TWaveCapture*, const int16_t* d, int32_t n) { Path.WSCHaveData(d, n); };
  Capture.OnError = [this](TWaveCapture*, int32_t code) { Path.ReportError(FaultInput, code); };
  Session.Update_Destination();
  Session.Update_Source();
  InVolume.SetValue(0);
  SBStop.SetBounds(SBPlay.Left(), SBPlay.Top(), SBPlay.Width(), SBPlay.Height());
  SBStop.SetVisible(false);

  LoadedPID = LoadSettings(
      Setting, S.Ini,
      TSettingsContext{S.DecimalSeparator, S.ExeDir,
                       [this](const std::string& path) { PlugIns.ScanPlugins(path); }});
  Events.Start(Setting.EventLog, S.FileVersion);
  TimerMinute.SetEnabled(true);

  sVolume.SetValue(Setting.Volume);
  sVolumeChange();

  // Applying the settings.
  Setting.Blocksize = std::clamp(Setting.Blocksize, 0, 3);
  PlugIns.LoadPluginFiles(Setting.Path, Setting.PluginFiles);
  Session.PublishPathConfig();
  SBSettings.SetEnabled(static_cast<bool>(ShowSettingsDialog));
  SBPlay.SetEnabled(!Setting.SourceMode);
  SBStop.SetEnabled(!Setting.SourceMode);
  SBPlay.SetVisible(!Setting.SourceMode);
  InVolume.SetEnabled(!Setting.SourceMode);

  PanSRC.SetCaption("Input: " + Setting.Source + " (" + std::to_string(RateOf(Setting.Freq)) +
                    " Hz)");
  PanDST.SetCaption("Output: " + Setting.Destination);

  if (Setting.Auto) SBPlayClick();
  if (Setting.ToTray) S.Window.PostMinimize();
  TimerWork.SetEnabled(true);

  if (const auto pid = PIDFromLoaded(LoadedPID))
    Setting.PID = *pid;
  else
    Modally([&] {
      S.Dialogs.Error(RangeErrorText());
      return true;
    });
}

bool TOV_Kestrune::FormClose() {
  if (Session.HasRelayThread() || Setting.SourceMode) {
    if (ConfirmExit &&
        !Modally([&] { return S.Dialogs.Confirm("Are you sure exit this program?"); }))
      return false;
  }
  // The session ends before anything pumps messages: a session still waiting for its devices
  // goes too, and an error reported meanwhile belongs to an ended session and restarts nothing.
  Fader.Cancel();
  if (Session.State() != TSessionState::Stopped) Session.Stop();
  TimerWork.SetEnabled(false);
  TimerPeers.SetEnabled(false);
  TimerMinute.SetEnabled(false);
  Events.Closing();
  Posted.clear();
  Delay(S.App, 20);
  if (TSilence* silence = Session.SilenceDetector()) silence->Arm(0, 0, 0);
  Capture.Close();
  Player.Close();
  PlugIns.DonePlugins();
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
  if (ShowSettingsDialog && Modally([&] { return ShowSettingsDialog(); })) SettingsAccepted();
  sVolume.SetValue(Setting.Volume);
}

bool TOV_Kestrune::CheckNeedRestart() {
  const bool need =
      (Player.Active &&
       FindName(Session.OutputNames(), Setting.Destination) != Player.DeviceIndex) ||
      (Capture.Active && FindName(Session.InputNames(), Setting.Source) != Capture.DeviceIndex) ||
      (Capture.Active && RateOf(Setting.Freq) != Capture.SampleRate);
  if (need)
    Modally([&] {
      S.Dialogs.Information("For apply of the new settings it is necessary to restart player");
      return true;
    });
  return need;
}

void TOV_Kestrune::SettingsAccepted() {
  Events.Switch(Setting.EventLog);
  Session.PublishPathConfig();
  CheckNeedRestart();
  GBuffer.SetMax(2 * Setting.Buffer);
  if (Player.Active) Player.BufferTime = Setting.Buffer / 1000.0;
  // Blocks already queued keep their size; the next ones take the new one.
  if (Capture.Active) Session.SizeCapture();
}

void TOV_Kestrune::SetStatus(const std::string& text, TColor color) {
  LabStatus.SetFontColor(color);
  LabStatus.SetCaption(text);
}

void TOV_Kestrune::PollingChanged(bool polling) {
  TimerWork.SetInterval(polling ? PollInterval : DisplayInterval);
}

void TOV_Kestrune::ShowButtons() {
  const bool manual = !Setting.SourceMode;
  const bool live = Session.State() != TSessionState::Stopped;
  SBPlay.SetVisible(manual && !live);
  SBStop.SetVisible(manual && live);
  InVolume.SetEnabled(manual);
}

void TOV_Kestrune::SessionStateChanged(TSessionState from, TSessionState to) {
  Events.StateChanged(from, to, Path.Session(), Capture.SampleRate);
  switch (to) {
    case TSessionState::Stopped:
      SetStatus("STOP", ColorGrey);
      break;
    case TSessionState::Waiting:
    case TSessionState::AwaitingFlow:
      SetStatus("WAIT", ColorRed);
      break;
    case TSessionState::Offline:
      SetStatus("OFFLINE", ColorRed);
      break;
    case TSessionState::Online:
      SetStatus("Online", ColorGreen);
      if (from == TSessionState::AwaitingFlow || from == TSessionState::Offline)
        GBuffer.SetMax(2 * Setting.Buffer);
      break;
    case TSessionState::Silence:
      SetStatus("Silence", ColorRed);
      break;
    case TSessionState::FadingOut:
      break;  // the status stays as it was while the stop fades out
  }
  if ((from == TSessionState::Stopped) != (to == TSessionState::Stopped)) {
    S.Tray.SetAnimate(to != TSessionState::Stopped);
    ShowButtons();
  }
}

void TOV_Kestrune::SessionFault(uint32_t session, bool stalled, bool restart) {
  TRelayEvents::TFault fault;
  fault.Session = session;
  fault.Stalled = stalled;
  fault.Restarting = restart;
  fault.Devices = Path.FaultDevices.exchange(0);
  fault.Code = Path.FaultCode;
  fault.Limits = Session.PathConfig();
  Events.Fault(fault);
}

void TOV_Kestrune::DevicesRestarted() {
  SetupMeters();
  Events.Restarted(Path.Session());
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

void TOV_Kestrune::ShowLevel() {
  if (!Session.Collect()) return;
  const auto now = static_cast<int64_t>(S.Clock.TickCount64());
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
  if (Path.SessionStab == TStabMode::Smooth) {
    const double ppm = Path.CorrectionPpm();
    StabLevel.SetValue(StabGaugeValue(ppm));
    StabLevel.SetText(StabPpmText(ppm));
  } else {
    const int32_t stab = Stab.StabValue;
    StabLevel.SetValue(stab);
    StabLevel.SetText(stab < 0   ? "Decrease: " + std::to_string(stab)
                      : stab > 0 ? "Increase: " + std::to_string(stab)
                                 : "Normal");
  }
  SendQueue.SendMemory();
  Session.SilenceStep();
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
    Session.FadeOut();
  else
    Session.FadeIn();
}

void TOV_Kestrune::FaderTimer(double value) {
  SetInsideVolume(static_cast<int32_t>(value));
}

void TOV_Kestrune::FaderFinish(double value) {
  SetInsideVolume(static_cast<int32_t>(value));
}

bool TOV_Kestrune::FormMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
  constexpr uint32_t CopyDataMessage = 0x004A;
  if (msg == WM_WINMSG) {
    result = Interactive.ReceiveCMD(static_cast<TWnd>(wParam), lParam);
    return true;
  }
  if (msg == CopyDataMessage) {
    result = 0;
    return true;
  }
  return false;
}

void TOV_Kestrune::RunPosted() {
  if (ModalDepth > 0 || Session.InStop()) return;
  while (!Posted.empty()) {
    auto command = std::move(Posted.front());
    Posted.pop_front();
    command();
  }
}
