#include <algorithm>

#include "MainFixture.h"

// Errors and events that meet a session at its edges: while it stops, while it fades, before it
// is online. Each case once left the session in a state that contradicted what it showed.

namespace {

size_t Count(const std::vector<uint16_t>& codes, uint16_t code) {
  return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
}

}  // namespace

class SessionFaultTest : public MainFixture {
 protected:
  // Relay passes and device time without the main thread's timers: what the relay thread does
  // between two display ticks.
  void PassesOnly(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 10) {
      Clock.Advance(10);
      Sim.Advance(10);
      RelayHost.Pass();
    }
  }

  void StartOnline() {
    Ini.Set("Auto", "1");
    Create();
    RunUntilStatus("Online", 400);
    Run(500);
  }

  // Once stopped, the session stays stopped with nothing open and no relay thread.
  void ExpectStoppedForGood() {
    Run(2000);
    EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
    EXPECT_FALSE(Form->Session.Running());
    EXPECT_EQ(RelayHost.Running, 0);
    EXPECT_EQ(Sim.OpenHandles(), 0);
    EXPECT_EQ(Sim.PreparedHeaders(), 0);
    EXPECT_TRUE(Form->SBPlay.Visible());
    EXPECT_FALSE(Tray.Animate);
  }
};

TEST_F(SessionFaultTest, ClosingTheWindowEndsTheSessionBeforeALateStallCanRestartIt) {
  StartOnline();
  // The output stops silently; the relay thread notices the stall, the main thread not yet.
  Sim.Unplug(TWaveSide::Output, Output, TSimUnplug::Silent);
  for (int i = 0; i < 400 && Form->Path.PendingError == 0; ++i) PassesOnly(10);
  ASSERT_NE(Form->Path.PendingError, 0u);
  Dialogs.Answer = true;
  EXPECT_TRUE(Form->FormClose());
  EXPECT_EQ(RelayHost.Running, 0) << "no relay thread may survive the close";
  EXPECT_EQ(Sim.OpenHandles(), 0);
  EXPECT_EQ(Sim.PreparedHeaders(), 0);
  Form.reset();
}

TEST_F(SessionFaultTest, ErrorAtTheEndOfAStopFadeEndsInStop) {
  Ini.Set("FadeIn", "0");
  Ini.Set("FadeOut", "0.5");
  StartOnline();
  Form->SBStopClick();
  Run(400);
  // The last passes of the fade report an error; the fade then ends while it waits.
  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NODRIVER);
  PassesOnly(20);
  Sim.ClearFailures();
  ExpectStoppedForGood();
  EXPECT_EQ(Form->InVolume.Value(), 0);
}

TEST_F(SessionFaultTest, ErrorDuringAFadeInCancelsItAndTheNextSessionFadesInAgain) {
  Ini.Set("FadeIn", "2");
  StartOnline();
  ASSERT_GT(Form->InVolume.Value(), 0);
  ASSERT_LT(Form->InVolume.Value(), 100);
  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NODRIVER);
  RunUntilStatus("WAIT", 500);
  // While the devices are away the volume stays down: the old fade must not go on.
  for (int i = 0; i < 30; ++i) {
    Run(50);
    ASSERT_EQ(Form->InVolume.Value(), 0) << "at " << i * 50 << " ms";
  }
  Sim.ClearFailures();
  RunUntilStatus("Online", 1000);
  Run(500);
  EXPECT_GT(Form->InVolume.Value(), 0);
  EXPECT_LT(Form->InVolume.Value(), 60) << "the new session fades in from silence";
  Run(2000);
  EXPECT_EQ(Form->InVolume.Value(), 100);
}

TEST_F(SessionFaultTest, ErrorDuringAStopFadeStopsForGood) {
  Ini.Set("FadeIn", "0");
  Ini.Set("FadeOut", "2");
  StartOnline();
  Form->SBStopClick();
  Run(500);
  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NODRIVER);
  Run(100);
  Sim.ClearFailures();
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP") << "the error only ends the fade early";
  ExpectStoppedForGood();
}

TEST_F(SessionFaultTest, StopWithFadeBeforeTheFirstAudioNeverReportsOnline) {
  Ini.Set("Auto", "1");
  Ini.Set("FadeOut", "2");
  Ini.Set("Wait", "60");
  // The input opens but delivers nothing yet.
  Sim.Unplug(TWaveSide::Input, Input, TSimUnplug::Silent);
  Create();
  Run(500);
  ASSERT_EQ(Form->LabStatus.Caption(), "WAIT");
  ASSERT_EQ(RelayHost.Running, 1);
  // A controlling program had raised the volume; the user then stops with a fade.
  Form->SetInsideVolume(100);
  Form->SBStopClick();
  Sim.Plug(TWaveSide::Input, Input);
  Run(500);
  EXPECT_NE(Form->LabStatus.Caption(), "Online");
  EXPECT_LT(Form->InVolume.Value(), 100) << "the stop's fade-out goes on";
  ExpectStoppedForGood();
  EXPECT_EQ(Count(Notifier.Codes, ntfOnline), 0u);
}

TEST_F(SessionFaultTest, SilenceFoundInTheLastPassBeforeAStopIsNotReported) {
  Ini.Set("SilenceTime", "1");
  Ini.Set("FadeOut", "0");
  Sim.SetSignal(Input, TSimSignal::Silence());
  StartOnline();
  ASSERT_EQ(Form->LabStatus.Caption(), "Online");
  for (int i = 0; i < 300 && Form->Path.PendingSilence == 0; ++i) PassesOnly(10);
  ASSERT_NE(Form->Path.PendingSilence, 0u);
  const size_t silences = Count(Notifier.Codes, ntfSilence);
  const size_t sounds = Count(Notifier.Codes, ntfSound);
  Form->SBStopClick();
  ExpectStoppedForGood();
  EXPECT_EQ(Count(Notifier.Codes, ntfSilence), silences);
  EXPECT_EQ(Count(Notifier.Codes, ntfSound), sounds);
}

TEST_F(SessionFaultTest, ASecondSessionGivesASlowOutputTheWholeStallLimit) {
  // The output gives its blocks back 1.2 s after they played: within the 1.5 s that Buffer 500
  // allows, counted from the first block queued.
  Sim.AddOutput(TSimDeviceSpec("Slow Speakers", TSimDeviceSpec::AllFormats, 0, 1200));
  Ini.Set("Destination", "Slow Speakers");
  Ini.Set("Buffer", "500");
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 4000);
  Run(1000);
  Form->SBStopClick();
  Run(100);
  ASSERT_EQ(Form->LabStatus.Caption(), "STOP");
  const size_t onlines = Count(Notifier.Codes, ntfOnline);
  Form->SBPlayClick();
  RunUntilStatus("Online", 4000);
  Run(3000);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");
  EXPECT_EQ(Count(Notifier.Codes, ntfOnline), onlines + 1) << "no stall restarted the session";
}

TEST_F(SessionFaultTest, StallLimitIsOneSecondPlusTheBuffer) {
  Ini.Set("Buffer", "500");
  Create();
  EXPECT_EQ(Form->Session.StallLimitMs(), 1500u);
  // A device that stops is noticed after that time, not sooner and not much later.
  Form->SBPlayClick();
  RunUntilStatus("Online", 2000);
  Run(1000);
  Sim.Unplug(TWaveSide::Input, Input, TSimUnplug::Silent);
  uint64_t noticed = 0;
  while (Form->Path.PendingError == 0 && noticed < 3000) {
    PassesOnly(10);
    noticed += 10;
  }
  EXPECT_GE(noticed, 1400u);
  EXPECT_LE(noticed, 1600u);
}
