#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MemoryLogFiles.h"
#include "app/MainDaemon.h"
#include "platform/sim/SimWave.h"
#include "ui/Headless.h"
#include "unit/link/FakeDesktop.h"

// Under AddressSanitizer runs are shorter and the allocator is not glibc's.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif
#else
inline constexpr bool Sanitized = false;
#endif
#include "unit/plugins/FakePlugins.h"

// Recorders standing in for the window, its boxes, the tray, the peers and the stream.
struct TRecordingWindow : TFormWindow {
  std::string Caption;
  int Minimizes = 0;
  bool TaskbarButton = true;
  int Closes = 0;
  int BringToFronts = 0;
  void SetCaption(const std::string& c) override { Caption = c; }
  void PostMinimize() override { ++Minimizes; }
  void ShowTaskbarButton(bool show) override { TaskbarButton = show; }
  void BringToFront() override { ++BringToFronts; }
  void Close() override { ++Closes; }
  void RequestRealtimePriority() override {}
};

struct TRecordingDialogs : TDialogs {
  bool Answer = false;
  std::vector<std::string> Questions, Infos, Errors;
  bool Confirm(const std::string& t) override {
    Questions.push_back(t);
    return Answer;
  }
  void Information(const std::string& t) override { Infos.push_back(t); }
  void Error(const std::string& t) override { Errors.push_back(t); }
};

struct TRecordingTray : TTrayIcon {
  std::string Hint;
  bool IconVisible = false;
  bool Animate = false;
  void SetHint(const std::string& h) override { Hint = h; }
  void SetIconVisible(bool v) override { IconVisible = v; }
  void SetAnimate(bool a) override { Animate = a; }
};

// Runs no thread: the test runs the pass of the worker that is running itself (Pass).
struct TManualRelayHost : TRelayHost {
  int Running = 0;
  std::function<void()> Current;
  struct TWorker : TRelayWorker {
    explicit TWorker(TManualRelayHost& host) : Host(host) { ++Host.Running; }
    ~TWorker() override {
      --Host.Running;
      Host.Current = nullptr;
    }
    TManualRelayHost& Host;
  };
  std::unique_ptr<TRelayWorker> StartWorker(std::function<void()> pass) override {
    Current = std::move(pass);
    return std::make_unique<TWorker>(*this);
  }
  // One relay pass, when a relay thread would be running.
  void Pass() {
    if (Current) Current();
  }
};

struct TMemoryProfile : TProfile {
  std::map<std::string, std::string> Values;
  std::string ReadString(const std::string& s, const std::string& k,
                         const std::string& d) override {
    auto it = Values.find(s + "/" + k);
    return it == Values.end() ? d : it->second;
  }
  bool WriteString(const std::string& s, const std::string& k, const std::string& v) override {
    Values[s + "/" + k] = v;
    return true;
  }
  bool EraseSection(const std::string&) override { return true; }
  void Set(const std::string& key, const std::string& value) { Values["Setting/" + key] = value; }
};

struct TRecordingShell : TShell {
  std::vector<std::string> Opened;
  bool OpenAddress(const std::string& address) override {
    Opened.push_back(address);
    return true;
  }
};

struct TRecordingNotifier : TPeerNotifier {
  std::vector<uint16_t> Codes;
  void Notify(uint16_t code) override { Codes.push_back(code); }
};

struct TRecordingStream : TStreamSink {
  std::vector<std::vector<int16_t>> Blocks;
  std::vector<int32_t> Rates;
  void AddSendData(const int16_t* data, int32_t size, int32_t rate) override {
    Blocks.emplace_back(data, data + size / 2);
    Rates.push_back(rate);
  }
};

// The main window on a manual clock, with a simulated "Line In" and "Speakers".
class MainFixture : public ::testing::Test {
 protected:
  MainFixture() {
    Input = Sim.AddInput(TSimDeviceSpec("Line In"));
    Output = Sim.AddOutput(TSimDeviceSpec("Speakers"));
    Sim.SetSignal(Input, TSimSignal::Sine(1000, 8000));
    Ini.Set("Source", "Line In");
    Ini.Set("Destination", "Speakers");
  }

  ~MainFixture() override {
    if (Form) Form->FormClose();
  }

  void Create() {
    Form = std::make_unique<TOV_Kestrune>(Services);
    App.Attach(Form->TimerWork);
    App.Attach(Form->FaderTick);
    App.Attach(Form->TimerPeers);
    App.Attach(Form->TimerMinute);
    Form->FormCreate();
  }

  // Moves time in 10 ms steps: timers and posted work, the devices, then one relay pass.
  void Run(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 10) {
      App.Advance(10);
      Sim.Advance(10);
      RelayHost.Pass();
    }
  }

  // Runs until the status shows the text, for at most ms; returns the time it took.
  // A message from a controlling program's window, as the peer link's window receives it.
  void PeerMessage(TWnd from, uint16_t code, uint16_t parameter) {
    intptr_t result = 0;
    Form->FormMessage(WM_WINMSG, static_cast<uintptr_t>(from), PackParam(code, parameter), result);
  }
  uint64_t RunUntilStatus(const std::string& text, uint64_t ms) {
    for (uint64_t t = 0; t <= ms; t += 10) {
      if (Form->LabStatus.Caption() == text) return t;
      Run(10);
    }
    ADD_FAILURE() << "status stayed '" << Form->LabStatus.Caption() << "', expected '" << text
                  << "'";
    return ms;
  }

  TManualClock Clock;
  THeadlessApp App{Clock};
  TSimWaveApi Sim{TSimTime::Manual};
  TRecordingWindow Window;
  TRecordingDialogs Dialogs;
  TRecordingTray Tray;
  TManualRelayHost RelayHost;
  TMemoryProfile Ini;
  TRecordingNotifier Notifier;
  TRecordingStream Stream;
  TFakeLibraries PlugInFiles;
  TFakeGuard PlugInGuard;
  TFakeDesktop Desktop;
  TRecordingShell Shell;
  // The event log on memory files; the setting EventLog switches it as in the program.
  std::shared_ptr<TMemoryLogDisk> LogDisk = std::make_shared<TMemoryLogDisk>();
  TEventLog Log{"C:\\Apps\\Kestrune.log", std::make_unique<TMemoryLogFiles>(LogDisk), [this] {
                  TEventLogOptions options;
                  options.Now = LocalTimeOf(Clock);
                  options.RetryAfter = std::chrono::milliseconds(20);
                  options.StopWait = std::chrono::milliseconds(500);
                  return options;
                }()};
  TProcessMetrics Metrics{1000000, 50, 10, 20, 4, 300000, 40000};
  TMainServices Services{App,
                         Clock,
                         Sim,
                         Window,
                         Dialogs,
                         Tray,
                         RelayHost,
                         Ini,
                         PlugInFiles,
                         PlugInGuard,
                         Desktop,
                         Shell,
                         "C:\\Apps",
                         "1.0.1.5",
                         '.',
                         &Notifier,
                         &Stream,
                         &Log,
                         [this] { return Metrics; }};
  std::unique_ptr<TOV_Kestrune> Form;
  int32_t Input = 0;
  int32_t Output = 0;
};
