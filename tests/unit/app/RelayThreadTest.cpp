#include <chrono>
#include <thread>

#include "MainFixture.h"

// The relay on a real thread against devices that run in real time: the pass, the device
// callbacks and the main thread meet as they do in the program.
TEST(RelayThread, RealThreadRelaysAndStopsCleanly) {
  TManualClock clock;
  THeadlessApp app(clock);
  TSimWaveApi sim(TSimTime::Real);
  sim.AddInput(TSimDeviceSpec("Line In"));
  sim.AddOutput(TSimDeviceSpec("Speakers"));
  sim.SetSignal(0, TSimSignal::Sine(1000, 8000));
  TRecordingWindow window;
  TRecordingDialogs dialogs;
  TRecordingTray tray;
  int priorityRaised = 0, resolutionBegun = 0, resolutionEnded = 0;
  TThreadRelayHost host(
      {[&] { ++priorityRaised; }, [&] { ++resolutionBegun; }, [&] { ++resolutionEnded; }});
  TMemoryProfile ini;
  ini.Set("Source", "Line In");
  ini.Set("Destination", "Speakers");
  ini.Set("Auto", "1");
  ini.Set("FadeIn", "0");
  TRecordingNotifier notifier;
  TFakeLibraries libraries;
  TFakeGuard guard;
  TFakeDesktop desktop;
  TRecordingShell shell;
  TMainServices services{app, clock,     sim,     window,  dialogs, tray,       host,
                         ini, libraries, guard,   desktop, shell,   "C:\\Apps", "1.0.1.5",
                         '.', &notifier, nullptr, nullptr, {}};
  auto form = std::make_unique<TOV_Kestrune>(services);
  app.Attach(form->TimerWork);
  app.Attach(form->FaderTick);
  app.Attach(form->TimerPeers);
  form->FormCreate();

  const auto runFor = [&](int ms) {
    for (int t = 0; t < ms; t += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      app.Advance(10);
    }
  };
  for (int t = 0; t < 300 && form->LabStatus.Caption() != "Online"; ++t) runFor(10);
  ASSERT_EQ(form->LabStatus.Caption(), "Online");
  runFor(1500);
  EXPECT_EQ(form->LabStatus.Caption(), "Online");
  EXPECT_GT(form->Player.QueuedTime, 0.02);
  EXPECT_GT(sim.OutputStats(0).BlocksPlayed, 50u);
  EXPECT_EQ(priorityRaised, 1);
  EXPECT_EQ(resolutionBegun, 1);

  form->SBStopClick();
  EXPECT_EQ(form->LabStatus.Caption(), "STOP");
  EXPECT_EQ(resolutionEnded, 1);
  EXPECT_EQ(sim.OpenHandles(), 0);
  EXPECT_EQ(sim.PreparedHeaders(), 0);
  EXPECT_TRUE(form->FormClose());
}
