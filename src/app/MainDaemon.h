#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/BlockPath.h"
#include "app/PlugInsForSettings.h"
#include "app/Relay.h"
#include "app/RelayEvents.h"
#include "app/Session.h"
#include "app/Stabilizer.h"
#include "dsp/Levels.h"
#include "dsp/OVFaders.h"
#include "dsp/OVPlugIns.h"
#include "link/Interactive.h"
#include "link/SenderArea.h"
#include "link/WinMSG.h"
#include "settings/FSettings.h"
#include "settings/Setting.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/LedMetter.h"
#include "util/Clock.h"
#include "wave/WPlayer.h"
#include "wave/WaveApi.h"
#include "wave/WaveCapture.h"

// Everything the main window uses from outside itself. The program passes the platform's
// services; tests pass a manual clock, simulated devices and recorders.
struct TMainServices {
  TApplication& App;
  TClock& Clock;
  TWaveApi& Wave;
  TFormWindow& Window;
  TDialogs& Dialogs;
  TTrayIcon& Tray;
  TRelayHost& RelayHost;
  TProfile& Ini;
  // Where plug-ins come from, and what catches a plug-in's fault.
  TPlugInLibraries& PlugInLibraries;
  TPlugInGuard& PlugInGuard;
  // The desktop's windows, for the peer link.
  TDesktop& Desktop;
  // Opens the link label's address.
  TShell& Shell;
  std::string ExeDir;
  std::string FileVersion;
  char DecimalSeparator = '.';
  // Where notifications and the stream go instead of the window's own peer link (tests).
  TPeerNotifier* Notifier = nullptr;
  TStreamSink* Stream = nullptr;
  // The event log (switched by the setting EventLog), and what its resource lines report.
  TEventLog* Log = nullptr;
  std::function<TProcessMetrics()> ReadMetrics;
};

inline constexpr TColor ColorGrey{128, 128, 128};
inline constexpr TColor ColorRed{255, 0, 0};
inline constexpr TColor ColorGreen{0, 128, 0};

// The main window: owns every object of the program, lays out its controls, turns their
// events into session requests and volume changes, follows the session's state on the status
// label, the buttons and the tray, and runs the display tick. Main thread only; the relay
// thread's share is TBlockPath, the session's TRelaySession.
class TOV_Kestrune : public TFormHandler, public TSessionHost, public TInteractiveTarget {
 public:
  explicit TOV_Kestrune(TMainServices& services);
  ~TOV_Kestrune() override;
  TOV_Kestrune(const TOV_Kestrune&) = delete;
  TOV_Kestrune& operator=(const TOV_Kestrune&) = delete;

  // TFormHandler
  void FormCreate() override;
  bool FormClose() override;
  void WMSystem_Shutdown_Query() override;
  void OnMinimize() override;
  void OnRestore() override;
  void TrayIconDblClick() override;
  std::vector<TControl*> FormControls() override;
  std::vector<TTimer*> FormTimers() override;
  // Messages of controlling programs: WM_WINMSG to ReceiveCMD; WM_COPYDATA is not for us.
  bool FormMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, intptr_t& result) override;

  // The settings button: the dialog, then what its OK changes on the running devices.
  void SBSettingsClick();
  bool CheckNeedRestart();
  void SettingsAccepted();
  // Shows the settings dialog modally; true when it closed with OK. The button is disabled while
  // no dialog is installed.
  std::function<bool()> ShowSettingsDialog;

  void SBPlayClick() { Session.RunPlay(true); }
  void SBStopClick() { Session.StopPlay(true); }
  // The display tick.
  void ShowLevel();
  void ImgDSTClick();
  void ImgSrcClick();

  // TInteractiveTarget: what controlling programs may ask. The commands among them arrive
  // through the window's own queue (RunPosted), never inside a send or a modal loop.
  void RunPlay(bool fade) override { Session.RunPlay(fade); }
  void StopPlay(bool fade) override { Session.StopPlay(fade); }
  void FadeIn() override { Session.FadeIn(); }
  void FadeOut() override { Session.FadeOut(); }
  bool SilenceFlag() const override { return Session.SilenceFlag(); }
  int32_t PID() const override { return Setting.PID; }
  bool SourceMode() const override { return Setting.SourceMode; }

  // Volumes.
  void SetInsideVolume(int32_t v) override;
  void sVolumeChange();
  void InVolumeMouseUp();
  void FaderTimer(double value);
  void FaderFinish(double value);

  // TSessionHost
  void SessionStateChanged(TSessionState from, TSessionState to) override;
  void ShowInputCaption(const std::string& caption) override { PanSRC.SetCaption(caption); }
  void ShowOutputCaption(const std::string& caption) override { PanDST.SetCaption(caption); }
  int32_t InsideVolume() override { return InVolume.Value(); }
  void PollingChanged(bool polling) override;
  void SessionFault(uint32_t session, bool stalled, bool restart) override;
  void DevicesRestarted() override;

  // Controls, as the window lays them out.
  TPanel PanDST{TControlKind::Panel, "PanDST"};
  TImage ImgDST{TControlKind::Image, "ImgDST"};
  TGauge InVolume{TControlKind::Gauge, "InVolume", 0, 100, 0};
  TGauge StabLevel{TControlKind::Gauge, "StabLevel", -20, 20, 0};
  TGauge GBuffer{TControlKind::Gauge, "GBuffer", 0, 100, 0};
  TSlider sVolume{TControlKind::Slider, "sVolume", 0, 300, 100};
  TLabel LVolume{TControlKind::Label, "LVolume"};
  TPanel PanSRC{TControlKind::Panel, "PanSRC"};
  TImage ImgSrc{TControlKind::Image, "ImgSrc"};
  TButton SBSettings{TControlKind::Button, "SBSettings"};
  TButton SBPlay{TControlKind::Button, "SBPlay"};
  TButton SBStop{TControlKind::Button, "SBStop"};
  TLabel LabStatus{TControlKind::Label, "LabStatus"};
  TControl LShowLink{TControlKind::LinkLabel, "LShowLink"};
  TTimer TimerWork{"TimerWork", 10};
  // The peer link's scan for announced and vanished peers.
  TTimer TimerPeers{"TimerPeers", ScanIntervalMs};
  // The fader's 10 ms steps.
  TTimer FaderTick{"FaderTimer", 10};
  // The event log's minute: resources, refused blocks.
  TTimer TimerMinute{"TimerMinute", 60000};

  TSetting Setting;
  TRelayEvents Events;
  int32_t LoadedPID = 0;
  TWavePlayer Player;
  TWaveCapture Capture;
  TOVFader Fader;
  TStabilizer Stab;
  // Meter 1 shows the output on ImgDST, meter 0 the input on ImgSrc.
  TLedMeters Leds;
  // Before the block path and the session: they outlive every relay pass.
  TPlugInHost PlugIns;
  TPlugInsForSettings PlugInsForSettings{PlugIns};
  TWinMSG Link;
  TSenderArea SendQueue;
  TInteractiveMode Interactive;
  TBlockPath Path;
  TRelaySession Session;

  bool ConfirmExit = true;
  int LinkIndex = -1;
  int64_t NextLinkTime = 0;

 private:
  void SetStatus(const std::string& text, TColor color);
  void ShowButtons();
  void SetupMeters();
  // Runs the commands controlling programs posted, unless a modal loop or a stop is under way.
  void RunPosted();
  // Shows a message box; posted commands wait while it is open.
  template <typename F>
  auto Modally(F show) {
    ++ModalDepth;
    auto result = show();
    --ModalDepth;
    return result;
  }

  TMainServices& S;
  std::deque<std::function<void()>> Posted;
  int ModalDepth = 0;
};
