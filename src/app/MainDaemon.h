#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/Relay.h"
#include "app/Stabilizer.h"
#include "dsp/FSilence.h"
#include "dsp/OVFaders.h"
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
  std::string ExeDir;
  std::string FileVersion;
  char DecimalSeparator = '.';
  TPeerNotifier* Notifier = nullptr;
  TStreamSink* Stream = nullptr;
};

// The level of a 16-bit peak in dB full scale; -90.3 for silence.
double PeakToDB(int16_t peak);

// Left and right levels of a block of stereo frames (a trailing part frame is ignored).
struct TLevels {
  double Left;
  double Right;
};
TLevels CalcLevel(const int16_t* data, int32_t size);

inline constexpr TColor ColorGrey{128, 128, 128};
inline constexpr TColor ColorRed{255, 0, 0};
inline constexpr TColor ColorGreen{0, 128, 0};

// The main window: owns every object of the program and carries the relay's control logic.
class TOV_Kestrune : public TFormHandler {
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

  // The settings button: the dialog, then what its OK changes on the running devices.
  void SBSettingsClick();
  bool CheckNeedRestart();
  void SettingsAccepted();
  // Shows the settings dialog modally; true when it closed with OK. The button is disabled while
  // no dialog is installed.
  std::function<bool()> ShowSettingsDialog;

  // Session control.
  void SBPlayClick() { RunPlay(true); }
  void SBStopClick() { StopPlay(true); }
  void RunPlay(bool fade);
  void StopPlay(bool fade);
  void RunPlayTick();
  bool TryPlay();
  bool Play(int outputPosition, int inputPosition);
  bool StartDestination(int position);
  bool StartSource(int position);
  void Stop();
  void FinishAndStop(double value);
  void WaveError();
  void Update_Destination();
  void Update_Source();
  void SilenceStep();
  void ShowLevel();
  void ImgDSTClick();
  void ImgSrcClick();

  // The relay pass of the session's relay thread; tests call it directly between device advances.
  void RelayPass();
  void RelayPassOf(TTimerThread& thread);

  // The audio block path (relay thread).
  void WSCHaveData(const int16_t* data, int32_t size);
  void WSPHavePlayback(const int16_t* data, int32_t size);
  void WSPHaveData(const int16_t* data, int32_t size);

  // Volumes (main thread).
  void SetInsideVolume(int32_t v);
  void sVolumeChange();
  void InVolumeMouseUp();
  void FaderTimer(double value);
  void FaderFinish(double value);

  // How long neither a recorded block nor a played block may come back before the devices count
  // as stopped: one second plus the buffer.
  uint64_t StallLimitMs() const;

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

  TSetting Setting;
  int32_t LoadedPID = 0;
  TWavePlayer Player;
  TWaveCapture Capture;
  TOVFader Fader;
  TStabilizer Stab;
  // Meter 1 shows the output on ImgDST, meter 0 the input on ImgSrc.
  TLedMeters Leds;
  std::unique_ptr<TSilence> Silence;
  std::unique_ptr<TTimerThread> RelayThread;

  bool Running = false;
  bool ConfirmExit = true;
  bool FadeInOnStart = false;
  int64_t WaitDeadline = 0;
  std::vector<std::string> OutputNames;
  std::vector<std::string> InputNames;
  std::atomic<uint8_t> SilenceEvent{0};
  bool SilenceFlag = false;
  int LinkIndex = -1;
  int64_t NextLinkTime = 0;
  // TimerWork runs the 200 ms device poll instead of the display tick.
  bool Polling = false;
  // A stop fade is running; its finish ends the session.
  bool Stopping = false;
  // The devices are open but audio has not yet gone through both.
  bool AwaitingFlow = false;

 private:
  void SetStatus(const std::string& text, TColor color);
  void SetPolling(bool polling);
  void ShowButtons();
  void FadeIn();
  void ComeOnline();
  // Block size and queued block count of the capture from the settings and the player's buffer.
  void SizeCapture();
  // Hands the settings the block path reads to the relay thread.
  void PublishPathSettings();
  void SetupMeters();
  void Notify(uint16_t code);
  std::string RateText() const;
  // Brings a device error to the main thread; errors that come before it is handled fold in.
  void ReportDeviceError();
  void CheckStalls(uint64_t now);
  void StartRelayThread();

  TMainServices& S;
  std::atomic<bool> ErrorPosted{false};
  // The settings the block path reads, published by the main thread.
  std::atomic<int32_t> PathSend{0};
  std::atomic<int32_t> PathBlocksize{0};
  // Tick times of the last sign of life from each device, for the stall watch.
  std::atomic<uint64_t> LastInputTick{0};
  std::atomic<uint64_t> LastOutputTick{0};
  std::atomic<uint32_t> LastReadyBytes{0};
  std::atomic<bool> StallReported{false};
  // The error being brought to the main thread is a stall, not a failed call.
  std::atomic<bool> StallPending{false};
  std::atomic<bool> InputFlowing{false};
  std::atomic<bool> OutputFlowing{false};
};
