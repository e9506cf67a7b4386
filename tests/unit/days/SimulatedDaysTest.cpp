// Days of relaying on simulated devices and the manual clock, with faults injected at random
// wave calls, devices that stop without a word or go away and come back, silence, and the
// user's and controlling programs' actions at random times. Seeded, so a failure can be run
// again. After every step the window must agree with the session; after every fault the
// session must come back; after the last stop nothing may be left open.
//
//   build/native/tests/unit_days                          3 seeds x 7 days (1 x 1 under sanitizers)
//   KESTRUNE_DAYS=28 KESTRUNE_DAYS_SEEDS=1-20 build/native/tests/unit_days      the long run
//
// Each seed prints one "measured:" line: events injected, restarts, the worst time to come back
// online after a fault ended, leaks.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <queue>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "unit/app/MainFixture.h"

namespace {

constexpr uint64_t Second = 1000;
constexpr uint64_t Minute = 60 * Second;
constexpr uint64_t Hour = 60 * Minute;
constexpr uint64_t Day = 24 * Hour;

// Timers that are late fire once, as a window's WM_TIMER does for a busy thread: a step of
// 250 ms fires the display tick once, not 25 times. Posted work runs first.
class TCoalescingApp : public TApplication, public TTimerView {
 public:
  explicit TCoalescingApp(TManualClock& clock) : Clock(clock) {}
  void Attach(TTimer& timer) { timer.Bind(this); }
  void Update(TTimer& timer) override {
    if (timer.Enabled() && timer.Interval() > 0)
      Due[&timer] = Clock.TickCount64() + timer.Interval();
    else
      Due.erase(&timer);
  }
  void ProcessMessages() override {
    std::deque<std::function<void()>> work;
    work.swap(Posted);
    for (auto& w : work) w();
    const uint64_t now = Clock.TickCount64();
    Ready.clear();
    for (auto& [timer, at] : Due)
      if (at <= now) Ready.push_back(timer);
    for (TTimer* timer : Ready) {
      auto it = Due.find(timer);
      if (it == Due.end() || it->second > now) continue;
      it->second = now + timer->Interval();
      timer->Fire();
    }
  }
  void Sleep(uint32_t ms) override { Clock.Advance(ms); }
  void Post(std::function<void()> work) override { Posted.push_back(std::move(work)); }
  void Advance(uint64_t ms) {
    Clock.Advance(ms);
    ProcessMessages();
  }

 private:
  TManualClock& Clock;
  std::map<TTimer*, uint64_t> Due;
  std::vector<TTimer*> Ready;
  std::deque<std::function<void()>> Posted;
};

// The main window with its faults and restarts counted.
class TCountedForm : public TOV_Kestrune {
 public:
  using TOV_Kestrune::TOV_Kestrune;
  void SessionFault(uint32_t session, bool stalled, bool restart) override {
    ++Faults;
    TOV_Kestrune::SessionFault(session, stalled, restart);
  }
  void DevicesRestarted() override {
    ++Restarts;
    TOV_Kestrune::DevicesRestarted();
  }
  uint64_t Faults = 0;
  uint64_t Restarts = 0;
};

// The event log's files: the last lines are kept for a failure's report, the rest counted.
class TTailLogFiles : public TLogFiles {
 public:
  std::optional<uint64_t> Size(const std::string& path) override {
    auto it = Sizes.find(path);
    if (it == Sizes.end()) return std::nullopt;
    return it->second;
  }
  size_t Append(const std::string& path, std::string_view data) override {
    std::lock_guard<std::mutex> g(Lock);
    Sizes[path] += data.size();
    std::string& partial = Partial;
    partial.append(data);
    for (size_t end; (end = partial.find("\r\n")) != std::string::npos;) {
      Tail.push_back(partial.substr(0, end));
      if (Tail.size() > 40) Tail.pop_front();
      partial.erase(0, end + 2);
    }
    return data.size();
  }
  bool Rename(const std::string& from, const std::string& to) override {
    Sizes[to] = Sizes[from];
    Sizes.erase(from);
    return true;
  }
  bool Remove(const std::string& path) override {
    Sizes.erase(path);
    return true;
  }
  std::string TailText() {
    std::lock_guard<std::mutex> g(Lock);
    std::string text;
    for (const auto& line : Tail) text += "    " + line + "\n";
    return text;
  }

 private:
  std::mutex Lock;
  std::map<std::string, uint64_t> Sizes;
  std::deque<std::string> Tail;
  std::string Partial;
};

struct TDaysReport {
  uint64_t Events = 0;
  std::map<std::string, uint64_t> ByKind;
  uint64_t Faults = 0;
  uint64_t Restarts = 0;
  uint64_t ComeBacks = 0;
  uint64_t WorstBackMs = 0;
  uint64_t OnlineMs = 0;
  uint64_t Steps = 0;
  int32_t LeakedHandles = 0;
  int32_t LeakedHeaders = 0;
  int32_t QueuedHeaders = 0;
  double Seconds = 0;
  bool Failed = false;
};

class TSimulatedDays {
 public:
  TSimulatedDays(uint64_t seed, uint64_t days) : Seed(seed), End(days * Day), Rng(seed) {
    Input = Sim.AddInput(TSimDeviceSpec("Line In", TSimDeviceSpec::AllFormats, Pick(-200, 200)));
    Output = Sim.AddOutput(TSimDeviceSpec("Speakers", TSimDeviceSpec::AllFormats, Pick(-200, 200)));
    Sim.SetSignal(Input, TSimSignal::Silence());
    // A setting of its own for each seed.
    Buffer = std::vector<int>{100, 200, 500, 1000}[Pick(0, 3)];
    Ini.Set("Source", "Line In");
    Ini.Set("Destination", "Speakers");
    Ini.Set("Auto", "1");
    Ini.Set("Buffer", std::to_string(Buffer));
    Ini.Set("Blocksize", std::to_string(Pick(0, 3)));
    // The lowest rate: the audio's work is most of the run's time.
    Ini.Set("Freq", "0");
    Ini.Set("FadeIn", Pick(0, 1) ? "0.5" : "2");
    Ini.Set("FadeOut", Pick(0, 1) ? "0" : "1");
    Ini.Set("Wait", std::to_string(Pick(2, 30)));
    Ini.Set("SilenceTime", Pick(0, 2) ? "5" : "0");
    Ini.Set("RestoreTime", "1");
    Ini.Set("EventLog", "1");
  }

  TDaysReport Run() {
    const auto wallStart = std::chrono::steady_clock::now();
    Form = std::make_unique<TCountedForm>(Services);
    for (TTimer* timer : Form->FormTimers()) App.Attach(*timer);
    Form->FormCreate();
    Start = Clock.TickCount64();
    Wanted = true;
    Schedule(NextGap(), [this] { RandomEvent(); });
    while (!Report.Failed && Now() < End) {
      const uint64_t next = std::min(End, Actions.top().At);
      while (!Report.Failed && Now() < next) {
        Step(std::min(StepSize(), next - Now()));
        Check();
      }
      if (Report.Failed || Now() >= End) break;
      TAction action = Actions.top();
      Actions.pop();
      LastEvent = Now();
      action.Do();
      Check();
    }
    Report.Faults = Form->Faults;
    Report.Restarts = Form->Restarts;
    Finish();
    Report.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return Report;
  }

 private:
  struct TAction {
    uint64_t At;
    uint64_t Order;
    std::function<void()> Do;
    bool operator>(const TAction& o) const { return At != o.At ? At > o.At : Order > o.Order; }
  };

  uint64_t Now() { return Clock.TickCount64() - Start; }
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Rng); }
  // Mostly seconds to minutes, sometimes hours: how long a device stays away, and so on.
  uint64_t Duration() {
    const double longest = Pick(0, 19) == 0 ? 6.0 * Hour : 20.0 * Minute;
    const double lo = std::log(200.0), hi = std::log(longest);
    return static_cast<uint64_t>(std::exp(std::uniform_real_distribution<double>(lo, hi)(Rng)));
  }
  uint64_t NextGap() {
    return static_cast<uint64_t>(std::exponential_distribution<double>(1.0 / (12.0 * Minute))(Rng));
  }
  void Schedule(uint64_t after, std::function<void()> action) {
    Actions.push({Now() + after, ++Order, std::move(action)});
  }
  void Note(const std::string& what) {
    ++Report.Events;
    ++Report.ByKind[what.substr(0, what.find(' '))];
    char at[32];
    const uint64_t t = Now();
    std::snprintf(at, sizeof at, "d%llu %02llu:%02llu:%02llu.%03llu ",
                  static_cast<unsigned long long>(t / Day),
                  static_cast<unsigned long long>(t / Hour % 24),
                  static_cast<unsigned long long>(t / Minute % 60),
                  static_cast<unsigned long long>(t / Second % 60),
                  static_cast<unsigned long long>(t % Second));
    History.push_back(at + what);
    if (History.size() > 60) History.pop_front();
  }

  // Fine steps near events and while a session comes back; coarse ones (never more than half
  // the buffer, so no recorded block is lost) while the relay runs steadily or a device is away
  // (the session keeps trying at its own pace).
  uint64_t StepSize() {
    const bool recent = Now() - LastEvent < 5 * Second;
    const TSessionState state = Form->Session.State();
    const uint64_t half = static_cast<uint64_t>(Form->Setting.Buffer) / 2;
    if (recent || DownSince || Form->FaderTick.Enabled()) return 10;
    if (Form->Session.HasRelayThread()) {
      const bool steady = state == TSessionState::Online || state == TSessionState::Silence;
      if (steady) return std::clamp<uint64_t>(half, 10, 250);
      return Away > 0 ? std::clamp<uint64_t>(half, 10, 100) : 10;
    }
    return Form->Session.Polling() ? 200 : 1000;
  }

  void Step(uint64_t ms) {
    ++Report.Steps;
    App.Advance(ms);
    Sim.Advance(ms);
    RelayHost.Pass();
    const TSessionState state = Form->Session.State();
    if (state == TSessionState::Online || state == TSessionState::Silence) Report.OnlineMs += ms;
  }

  void Fail(const std::string& what) {
    Report.Failed = true;
    std::string history;
    for (const auto& h : History) history += "    " + h + "\n";
    Log.Flush(std::chrono::milliseconds(1000));
    const uint64_t t = Now();
    ADD_FAILURE() << "seed " << Seed << ", day " << t / Day << " at " << (t % Day) / 1000.0
                  << " s: " << what << "\n  status '" << Form->LabStatus.Caption() << "', state "
                  << static_cast<int>(Form->Session.State()) << "\n  last events:\n"
                  << history << "  last log lines:\n"
                  << LogFiles->TailText();
  }

  static const char* StatusOf(TSessionState state) {
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
        return nullptr;
    }
    return nullptr;
  }

  // What must hold after every step.
  void Check() {
    const TSessionState state = Form->Session.State();
    const std::string caption = Form->LabStatus.Caption();
    const bool stopped = state == TSessionState::Stopped;
    if (const char* status = StatusOf(state)) {
      if (caption != status) return Fail("status shows '" + caption + "', not '" + status + "'");
    } else if (caption != LastCaption) {
      return Fail("status changed to '" + caption + "' during a stop's fade-out");
    }
    if (Form->SBPlay.Visible() != stopped || Form->SBStop.Visible() == stopped)
      return Fail("play and stop buttons do not follow the session");
    if (Tray.Animate == stopped) return Fail("the tray's animation does not follow the session");
    const int32_t volume = Form->InVolume.Value();
    if (volume < 0 || volume > 100) return Fail("internal volume " + std::to_string(volume));
    if (RelayHost.Running != (Form->Session.HasRelayThread() ? 1 : 0))
      return Fail("relay threads: " + std::to_string(RelayHost.Running));
    if (Form->TimerWork.Interval() != (Form->Session.Polling() ? 200u : 10u))
      return Fail("display timer at " + std::to_string(Form->TimerWork.Interval()) + " ms");
    if (LastState == TSessionState::FadingOut && stopped && volume != 0)
      return Fail("a stop's fade ended at volume " + std::to_string(volume));
    // A device is kept (not freed, not closed) only while it refuses to let go of its blocks.
    const size_t kept = Form->Capture.KeptDevices() + Form->Player.KeptDevices();
    if (kept > 0 && !ReleaseFailed) return Fail("a device kept though no release call failed");
    if (kept == 0 && !ReleaseFailing) ReleaseFailed = false;
    if (stopped && kept == 0 &&
        (Sim.OpenHandles() != 0 || Sim.PreparedHeaders() != 0 || Sim.QueuedHeaders() != 0))
      return Fail("stopped with " + std::to_string(Sim.OpenHandles()) + " handles, " +
                  std::to_string(Sim.PreparedHeaders()) + " prepared and " +
                  std::to_string(Sim.QueuedHeaders()) + " queued headers");
    if (!Wanted && !stopped && state != TSessionState::FadingOut)
      return Fail("still running after a stop");
    // A wanted session with nothing in its way must be relaying, or on its way back: within
    // what a fault costs at most (a try that runs out its whole stall limit, the next poll, the
    // prefill and the first flow).
    const bool relaying = state == TSessionState::Online || state == TSessionState::Silence;
    if (relaying && DownSince) {
      Report.WorstBackMs = std::max(Report.WorstBackMs, Now() - *DownSince);
      ++Report.ComeBacks;
    }
    if (relaying || !Wanted || Away > 0 || state == TSessionState::FadingOut) {
      DownSince.reset();
    } else if (!DownSince) {
      DownSince = Now();
    }
    const uint64_t bound = 2 * (1000 + static_cast<uint64_t>(Form->Setting.Buffer)) + 2000;
    if (DownSince && Now() - *DownSince > bound)
      return Fail("not back online " + std::to_string(Now() - *DownSince) +
                  " ms after the last cause of trouble ended");
    LastState = state;
    if (StatusOf(state)) LastCaption = caption;
  }

  void RandomEvent() {
    Schedule(NextGap(), [this] { RandomEvent(); });
    const int kind = Pick(0, 99);
    if (kind < 25) return FailOnce();
    if (kind < 35 && Away == 0) return FailForAWhile();
    if (kind < 50 && Away == 0) return Unplug(TSimUnplug::Silent);
    if (kind < 60 && Away == 0) return Unplug(TSimUnplug::Fail);
    if (kind < 70) return Quiet();
    return UserOrPeer();
  }

  static constexpr TSimCall Calls[] = {
      TSimCall::InOpen,      TSimCall::InPrepare, TSimCall::InAddBuffer, TSimCall::InStart,
      TSimCall::InReset,     TSimCall::InClose,   TSimCall::OutOpen,     TSimCall::OutPrepare,
      TSimCall::OutWrite,    TSimCall::OutReset,  TSimCall::OutClose,    TSimCall::InUnprepare,
      TSimCall::OutUnprepare};
  static constexpr const char* CallNames[] = {
      "InOpen",     "InPrepare", "InAddBuffer", "InStart",  "InReset",     "InClose",     "OutOpen",
      "OutPrepare", "OutWrite",  "OutReset",    "OutClose", "InUnprepare", "OutUnprepare"};
  static constexpr uint32_t Codes[] = {MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_ERROR,
                                       MMSYSERR_ALLOCATED};

  void FailOnce() {
    const int call = Pick(0, static_cast<int>(std::size(Calls)) - 1);
    const uint32_t code = Codes[Pick(0, 3)];
    Note(std::string("fail-once ") + CallNames[call] + " code " + std::to_string(code) + " after " +
         std::to_string(Pick(0, 3)) + " calls");
    Sim.FailNext(Calls[call], code, static_cast<uint32_t>(Pick(0, 3)));
  }

  void FailForAWhile() {
    const int call = Pick(0, static_cast<int>(std::size(Calls)) - 1);
    const uint64_t d = Duration();
    Note(std::string("fail-always ") + CallNames[call] + " for " + std::to_string(d) + " ms");
    Sim.FailAlways(Calls[call], Codes[Pick(0, 3)]);
    const TSimCall c = Calls[call];
    const bool release = c == TSimCall::InReset || c == TSimCall::OutReset ||
                         c == TSimCall::InUnprepare || c == TSimCall::OutUnprepare ||
                         c == TSimCall::InClose || c == TSimCall::OutClose;
    ReleaseFailing = ReleaseFailing || release;
    ReleaseFailed = ReleaseFailed || release;
    ++Away;
    Schedule(d, [this] {
      Note("fail-always ends");
      Sim.ClearFailures();
      ReleaseFailing = false;
      --Away;
    });
  }

  void Unplug(TSimUnplug mode) {
    const TWaveSide side = Pick(0, 1) ? TWaveSide::Input : TWaveSide::Output;
    const int32_t id = side == TWaveSide::Input ? Input : Output;
    const uint64_t d = Duration();
    const std::string name = std::string(side == TWaveSide::Input ? "input" : "output") +
                             (mode == TSimUnplug::Silent ? " stalls" : " unplugged");
    Note(name + " for " + std::to_string(d) + " ms");
    Sim.Unplug(side, id, mode);
    ++Away;
    Schedule(d, [this, side, id, name] {
      Note(name + " ends");
      Sim.Plug(side, id);
      --Away;
    });
  }

  void Quiet() {
    const uint64_t d = Duration();
    Note("silence for " + std::to_string(d) + " ms");
    Sim.SetSignal(Input, TSimSignal::Silence());
    Schedule(d, [this] {
      Note("sound");
      Sim.SetSignal(Input, TSimSignal::Sine(1000, 8000));
      // A few minutes of sound, then the cheap silence again.
      Schedule(Pick(1, 5) * Minute, [this] { Sim.SetSignal(Input, TSimSignal::Silence()); });
    });
  }

  void Play(bool fade, const char* who) {
    Note(std::string("play ") + who + (fade ? " with fade" : ""));
    fade&& std::string(who) == "button" ? Form->SBPlayClick() : Form->RunPlay(fade);
    Wanted = true;
  }

  void Stop(bool fade, const char* who) {
    Note(std::string("stop ") + who + (fade ? " with fade" : ""));
    fade&& std::string(who) == "button" ? Form->SBStopClick() : Form->StopPlay(fade);
    Wanted = false;
    // Started again after a while.
    Schedule(Duration(), [this] { Play(Pick(0, 1) == 1, Pick(0, 1) ? "button" : "peer"); });
  }

  void PeerFadeIn() {
    Note("fade in");
    Form->FadeIn();
  }

  void UserOrPeer() {
    switch (Pick(0, 7)) {
      case 0:
        if (Wanted) return Stop(true, "button");
        return Play(true, "button");
      case 1:
        if (Wanted) return Stop(Pick(0, 1) == 1, "peer");
        return Play(Pick(0, 1) == 1, "peer");
      case 2: {
        const int v = Pick(0, 300);
        Note("volume slider " + std::to_string(v));
        Form->sVolume.SetValue(v);
        Form->sVolumeChange();
        // Set back to 100 % after a while, as the volume mostly is.
        return Schedule(Duration(), [this] {
          Note("volume slider 100");
          Form->sVolume.SetValue(100);
          Form->sVolumeChange();
        });
      }
      case 3: {
        const int v = Pick(0, 150);
        Note("peer volume " + std::to_string(v));
        Form->SetInsideVolume(v);
        return Schedule(Duration(), [this] { PeerFadeIn(); });
      }
      case 4:
        return PeerFadeIn();
      case 5:
        Note("fade out");
        Form->FadeOut();
        return Schedule(Duration(), [this] { PeerFadeIn(); });
      case 6:
        Note("internal volume click");
        Form->InVolumeMouseUp();
        return Schedule(Duration(), [this] { PeerFadeIn(); });
      default:
        Note("play again while running");
        return Form->RunPlay(Pick(0, 1) == 1);
    }
  }

  void Finish() {
    if (Report.Failed) return;
    // Everything back, then the last stop: nothing may stay open.
    Sim.ClearFailures();
    Sim.Plug(TWaveSide::Input, Input);
    Sim.Plug(TWaveSide::Output, Output);
    ReleaseFailing = false;
    Form->StopPlay(false);
    for (int i = 0; i < 100; ++i) Step(10);
    // The close releases what an earlier close had to keep.
    Dialogs.Answer = true;
    Form->FormClose();
    Report.LeakedHandles = Sim.OpenHandles();
    Report.LeakedHeaders = Sim.PreparedHeaders();
    Report.QueuedHeaders = Sim.QueuedHeaders();
    Form.reset();
  }

  uint64_t Seed;
  uint64_t End;
  std::mt19937_64 Rng;
  TManualClock Clock;
  TCoalescingApp App{Clock};
  TSimWaveApi Sim{TSimTime::Manual};
  TRecordingWindow Window;
  TRecordingDialogs Dialogs;
  TRecordingTray Tray;
  TManualRelayHost RelayHost;
  TMemoryProfile Ini;
  TRecordingNotifier Notifier;
  TFakeLibraries PlugInFiles;
  TFakeGuard PlugInGuard;
  TFakeDesktop Desktop;
  TRecordingShell Shell;
  TTailLogFiles* LogFiles = new TTailLogFiles;
  TEventLog Log{"C:\\Apps\\Kestrune.log", std::unique_ptr<TLogFiles>(LogFiles), [this] {
                  TEventLogOptions options;
                  options.Now = LocalTimeOf(Clock);
                  return options;
                }()};
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
                         nullptr,
                         &Log,
                         [] { return TProcessMetrics{}; }};
  std::unique_ptr<TCountedForm> Form;
  int32_t Input = 0;
  int32_t Output = 0;
  int Buffer = 100;

  uint64_t Start = 0;
  uint64_t LastEvent = 0;
  uint64_t Order = 0;
  std::priority_queue<TAction, std::vector<TAction>, std::greater<TAction>> Actions;
  // The user or a controlling program wants the session running.
  bool Wanted = false;
  // Causes of trouble in force (a device away, a call failing).
  int Away = 0;
  // A call that releases a device fails for a while, or did and its device is still kept.
  bool ReleaseFailing = false;
  bool ReleaseFailed = false;
  // Since when a wanted session with nothing in its way has not been relaying.
  std::optional<uint64_t> DownSince;
  TSessionState LastState = TSessionState::Stopped;
  std::string LastCaption = "STOP";
  std::deque<std::string> History;
  TDaysReport Report;
};

// "1-3,7" -> 1, 2, 3, 7.
std::vector<uint64_t> SeedsFrom(const std::string& text) {
  std::vector<uint64_t> seeds;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');) {
    const size_t dash = part.find('-');
    const uint64_t first = std::stoull(part.substr(0, dash));
    const uint64_t last = dash == std::string::npos ? first : std::stoull(part.substr(dash + 1));
    for (uint64_t s = first; s <= last; ++s) seeds.push_back(s);
  }
  return seeds;
}

}  // namespace

TEST(SimulatedDays, TheRelayComesBackFromEveryFaultAndLeavesNothingOpen) {
  const char* daysText = std::getenv("KESTRUNE_DAYS");
  const char* seedsText = std::getenv("KESTRUNE_DAYS_SEEDS");
  const uint64_t days = daysText ? std::stoull(daysText) : Sanitized ? 1 : 7;
  const std::vector<uint64_t> seeds = SeedsFrom(seedsText ? seedsText : Sanitized ? "1" : "1-3");
  for (const uint64_t seed : seeds) {
    TSimulatedDays run(seed, days);
    const TDaysReport r = run.Run();
    std::string kinds;
    for (const auto& [kind, n] : r.ByKind) kinds += " " + kind + "=" + std::to_string(n);
    std::printf(
        "measured: seed %llu, %llu days: %llu events (%s ), %llu faults, %llu restarts, worst "
        "time back online %.1f s (%llu times), online %.1f %%, leaks %d handles "
        "%d headers %d queued; %llu steps in %.1f s\n",
        static_cast<unsigned long long>(seed), static_cast<unsigned long long>(days),
        static_cast<unsigned long long>(r.Events), kinds.c_str() + 1,
        static_cast<unsigned long long>(r.Faults), static_cast<unsigned long long>(r.Restarts),
        static_cast<double>(r.WorstBackMs) / 1000, static_cast<unsigned long long>(r.ComeBacks),
        100.0 * static_cast<double>(r.OnlineMs) / static_cast<double>(days * Day), r.LeakedHandles,
        r.LeakedHeaders, r.QueuedHeaders, static_cast<unsigned long long>(r.Steps), r.Seconds);
    std::fflush(stdout);
    EXPECT_FALSE(r.Failed);
    EXPECT_EQ(r.LeakedHandles, 0);
    EXPECT_EQ(r.LeakedHeaders, 0);
    EXPECT_EQ(r.QueuedHeaders, 0);
    EXPECT_GT(r.Restarts, 0u);
  }
}
