// The smooth stabilizer in the running program: chosen by StabMode at a session's start, holding
// the queue between drifting devices, starting each session afresh, and shown on the gauge.

#include <cmath>

#include "dsp/Sinad.h"
#include "unit/app/MainFixture.h"

namespace {

class SmoothSession : public MainFixture {
 protected:
  // The played audio of the last seconds, both channels.
  std::vector<int16_t> LastPlayed(double seconds) {
    const std::vector<int16_t> played = Sim.Played(Output);
    const auto n = std::min(played.size(), static_cast<size_t>(seconds * 44100) * 2);
    return {played.end() - static_cast<std::ptrdiff_t>(n), played.end()};
  }
};

TEST_F(SmoothSession, DriftingDevicesAreRelayedCleanlyWithTheQueueHeld) {
  for (double ppm : {1000.0, -1000.0}) {
    SCOPED_TRACE(ppm);
    Sim.SetRatePpm(TWaveSide::Input, Input, ppm);
    Sim.SetSignal(Input, TSimSignal::Sine(1000, 29000));
    Ini.Set("StabMode", "1");
    Ini.Set("Auto", "1");
    Ini.Set("FadeIn", "0");
    Sim.RecordOutput(Output, 44100 * 2 * 10);
    Create();
    RunUntilStatus("Online", 1000);
    ASSERT_EQ(Form->Path.SessionStab.load(), TStabMode::Smooth);
    // The loop near the target is slow on purpose: it locks within about five minutes.
    Run(300000);
    const double underrun = Sim.OutputStats(Output).UnderrunMs;
    Sim.ClearPlayed(Output);
    double sum = 0;
    int n = 0;
    for (int i = 0; i < 2000; ++i, ++n) {
      Run(10);
      sum += Form->Player.QueuedTime - Form->Player.BufferTime;
    }
    EXPECT_EQ(Sim.OutputStats(Output).UnderrunMs, underrun);
    EXPECT_EQ(Sim.InputStats(Input).FramesLost, 0u);
    EXPECT_LE(std::fabs(sum / n), 0.006) << "the queue is held at its target";
    // An input running fast brings more audio than the output takes: squeezed, and so on.
    EXPECT_NEAR(Form->Path.CorrectionPpm(), -ppm, 100);
    const std::vector<int16_t> played = LastPlayed(10);
    const auto m = MeasureSinadWindowed(played.data(), static_cast<int64_t>(played.size() / 2), 2,
                                        44100, 1000, 0.1);
    ASSERT_TRUE(m);
    EXPECT_GE(m->Db, 85) << "no frame repeated or left out";
    Form->FormClose();
    Form.reset();
  }
}

TEST_F(SmoothSession, EachSessionStartsAfreshAndTheModeChangesAtTheNextSession) {
  Sim.SetRatePpm(TWaveSide::Output, Output, 3000);
  Ini.Set("StabMode", "1");
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 1000);
  Run(30000);
  // The output runs fast: the audio is stretched.
  EXPECT_NEAR(Form->Path.CorrectionPpm(), 3000, 300);
  EXPECT_EQ(Form->StabLevel.Value(), 20);

  // The second session's output runs slow: nothing of the first session's correction may be
  // left when it starts, and it finds the new drift.
  Form->SBStopClick();
  RunUntilStatus("STOP", 5000);
  Sim.SetRatePpm(TWaveSide::Output, Output, -500);
  Form->SBPlayClick();
  for (int i = 0; i < 300 && Form->Session.State() != TSessionState::AwaitingFlow; ++i) Run(10);
  EXPECT_EQ(Form->Path.CorrectionPpm(), 0);
  RunUntilStatus("Online", 1000);
  Run(300000);
  EXPECT_NEAR(Form->Path.CorrectionPpm(), -500, 100);
  EXPECT_NEAR(Form->StabLevel.Value(), -10, 2);
  EXPECT_EQ(Form->StabLevel.Text(), StabPpmText(Form->Path.CorrectionPpm()));

  // Whole frames chosen while the session runs: it goes on smoothly, the next one does not.
  Form->Setting.StabMode = 0;
  Form->Session.PublishPathConfig();
  Run(1000);
  EXPECT_EQ(Form->Path.SessionStab.load(), TStabMode::Smooth);
  Form->SBStopClick();
  RunUntilStatus("STOP", 5000);
  Form->SBPlayClick();
  RunUntilStatus("Online", 1000);
  EXPECT_EQ(Form->Path.SessionStab.load(), TStabMode::Block);
  Run(30000);
  // The gauge shows the block stabilizer's whole-frame steps again.
  EXPECT_EQ(Form->StabLevel.Value(), Form->Stab.StabValue.load());
  EXPECT_EQ(Form->StabLevel.Text().find("ppm"), std::string::npos) << Form->StabLevel.Text();
}

TEST_F(SmoothSession, WithoutTheKeyTheProgramRunsWithWholeFrames) {
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 1000);
  EXPECT_EQ(Form->Path.SessionStab.load(), TStabMode::Block);
  EXPECT_EQ(Form->Setting.StabMode, 0);
}

TEST(StabGauge, PpmScaleAndText) {
  EXPECT_EQ(StabGaugeValue(0), 0);
  EXPECT_EQ(StabGaugeValue(123), 2);
  EXPECT_EQ(StabGaugeValue(-45), -1);
  EXPECT_EQ(StabGaugeValue(1000), 20);
  EXPECT_EQ(StabGaugeValue(-10000), -20);
  EXPECT_EQ(StabGaugeValue(std::nan("")), 0);
  EXPECT_EQ(StabPpmText(123.4), "+123 ppm");
  EXPECT_EQ(StabPpmText(-45.3), "-45 ppm");
  EXPECT_EQ(StabPpmText(0.4), "Normal");
  EXPECT_EQ(StabPpmText(-0.4), "Normal");
  EXPECT_EQ(StabPpmText(std::nan("")), "Normal");
}

}  // namespace
