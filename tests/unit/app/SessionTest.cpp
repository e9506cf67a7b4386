#include <algorithm>
#include <cmath>

#include "MainFixture.h"

namespace {

size_t Count(const std::vector<uint16_t>& codes, uint16_t code) {
  return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
}

}  // namespace

TEST_F(MainFixture, StartsStoppedWithCaptionAndSettingsApplied) {
  Ini.Set("Volume", "150");
  Ini.Set("Freq", "2");
  Create();
  EXPECT_EQ(Window.Caption, "Orvanta Kestrune 1.0.1.5");
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
  EXPECT_EQ(Form->LabStatus.FontColor(), ColorGrey);
  EXPECT_EQ(Form->PanSRC.Caption(), "Input: Line In (48000 Hz)");
  EXPECT_EQ(Form->PanDST.Caption(), "Output: Speakers");
  EXPECT_EQ(Form->LVolume.Caption(), "150%");
  EXPECT_TRUE(Form->SBPlay.Visible());
  EXPECT_FALSE(Form->SBStop.Visible());
  EXPECT_EQ(Form->SBStop.Left(), Form->SBPlay.Left());
  EXPECT_TRUE(Form->TimerWork.Enabled());
  EXPECT_EQ(Form->TimerWork.Interval(), 10u);
  EXPECT_EQ(Tray.Hint, "Orvanta Kestrune");
  Run(100);
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
  EXPECT_EQ(Sim.OpenHandles(), 0);
}

TEST_F(MainFixture, InteractiveModeHidesManualControlsAndIgnoresAutoplay) {
  Ini.Set("SourceMode", "1");
  Ini.Set("Auto", "1");
  Ini.Set("ToTray", "1");
  Create();
  EXPECT_FALSE(Form->SBPlay.Visible());
  EXPECT_FALSE(Form->SBStop.Visible());
  EXPECT_FALSE(Form->InVolume.Enabled());
  EXPECT_FALSE(Form->Session.Running());
  EXPECT_EQ(Window.Minimizes, 1);
  Form->OnMinimize();
  EXPECT_FALSE(Window.TaskbarButton);
  EXPECT_TRUE(Tray.IconVisible);
  Form->TrayIconDblClick();
  Form->OnRestore();
  EXPECT_TRUE(Window.TaskbarButton);
  EXPECT_FALSE(Tray.IconVisible);
}

TEST_F(MainFixture, PidOutsideSixteenBitsIsReportedAndLeftZero) {
  Ini.Set("PID", "40000");
  Create();
  ASSERT_EQ(Dialogs.Errors.size(), 1u);
  EXPECT_EQ(Form->Setting.PID, 0);
}

TEST_F(MainFixture, WaitsThenReportsOfflineOnceAndComesOnlineWhenTheDeviceAppears) {
  Ini.Set("Destination", "USB Speakers");
  Ini.Set("Wait", "1");
  Create();
  Form->SBPlayClick();
  EXPECT_TRUE(Form->SBStop.Visible());
  EXPECT_TRUE(Tray.Animate);
  Run(200);
  EXPECT_EQ(Form->LabStatus.Caption(), "WAIT");
  EXPECT_EQ(Form->LabStatus.FontColor(), ColorRed);
  EXPECT_EQ(Form->PanSRC.Caption(), "Input: Line In (44100 Hz)");
  EXPECT_EQ(Form->PanDST.Caption(), "Wait for Output: USB Speakers");
  RunUntilStatus("OFFLINE", 1200);
  Run(200);
  EXPECT_EQ(Form->LabStatus.Caption(), "WAIT");
  Run(2000);
  EXPECT_EQ(Count(Notifier.Codes, ntfOffline), 1u);
  EXPECT_EQ(Sim.OpenHandles(), 0) << "the output is missing, so the input must not be open";

  Sim.AddOutput(TSimDeviceSpec(" usb speakers "));
  RunUntilStatus("Online", 400);
  EXPECT_EQ(Form->LabStatus.FontColor(), ColorGreen);
  ASSERT_FALSE(Notifier.Codes.empty());
  EXPECT_EQ(Notifier.Codes.back(), ntfOnline);
  Run(10);
  EXPECT_EQ(Notifier.Codes.back(), ntfSound) << "one display tick after coming online";
  EXPECT_EQ(Form->PanSRC.Caption(), "Input: Line In");
}

TEST_F(MainFixture, EmptyDeviceNamesAskToBeDefined) {
  Ini.Set("Source", "");
  Create();
  Form->SBPlayClick();
  Run(200);
  EXPECT_EQ(Form->PanSRC.Caption(), "Define input device");
  EXPECT_EQ(Form->LabStatus.Caption(), "WAIT");
}

TEST_F(MainFixture, OnlineRelaysTheInputWithFadeInAndKeepsTheQueueNearTheBuffer) {
  Ini.Set("Auto", "1");
  Ini.Set("FadeIn", "1");
  Sim.RecordOutput(Output, 44100 * 2 * 20);
  Create();
  RunUntilStatus("Online", 400);
  EXPECT_EQ(Form->InVolume.Value(), 0);
  Run(500);
  EXPECT_GT(Form->InVolume.Value(), 30);
  EXPECT_LT(Form->InVolume.Value(), 70);
  Run(3000);
  EXPECT_EQ(Form->InVolume.Value(), 100);
  const double underrun = Sim.OutputStats(Output).UnderrunMs;
  Run(2000);
  EXPECT_EQ(Sim.OutputStats(Output).UnderrunMs, underrun) << "the output never ran dry";
  EXPECT_EQ(Form->Player.Volume, 100);
  const double queued = Form->Player.QueuedTime;
  EXPECT_GT(queued, 0.05);
  EXPECT_LT(queued, 0.2);
  EXPECT_EQ(Form->GBuffer.Max(), 200);
  EXPECT_NEAR(Form->GBuffer.Value(), queued * 1000, 15);
  const std::vector<int16_t> played = Sim.Played(Output);
  ASSERT_GT(played.size(), 44100u);
  const int16_t loudest = *std::max_element(played.end() - 44100, played.end());
  EXPECT_NEAR(loudest, 8000, 20);
}

TEST_F(MainFixture, DeviceErrorRestartsTheSessionWhichComesBackWithAFadeIn) {
  Ini.Set("Auto", "1");
  Ini.Set("FadeIn", "0.5");
  Create();
  RunUntilStatus("Online", 400);
  Run(1000);
  ASSERT_EQ(Form->InVolume.Value(), 100);

  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NOMEM);
  RunUntilStatus("WAIT", 500);
  EXPECT_EQ(RelayHost.Running, 0) << "the relay thread ends before the devices close";
  EXPECT_TRUE(Form->Session.Running());
  EXPECT_EQ(Form->InVolume.Value(), 0);
  Sim.ClearFailures();
  RunUntilStatus("Online", 600);
  Run(200);
  EXPECT_GT(Form->InVolume.Value(), 0) << "the new session fades in";
  EXPECT_LT(Form->InVolume.Value(), 100);
  EXPECT_EQ(Sim.OpenHandles(), 2);
  EXPECT_EQ(Sim.PreparedHeaders(), Sim.QueuedHeaders());
}

TEST_F(MainFixture, SeveralErrorsInARowFoldIntoOneRestart) {
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Run(500);
  const size_t onlines = Count(Notifier.Codes, ntfOnline);
  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NOMEM);
  Sim.FailAlways(TSimCall::InPrepare, MMSYSERR_NOMEM);
  Sim.Advance(50);
  RelayHost.Pass();
  RelayHost.Pass();
  // Both devices failed, in two passes: one error waits for the main thread.
  EXPECT_EQ(Form->Path.PendingError >> 1, Form->Path.Session());
  Sim.ClearFailures();
  RunUntilStatus("WAIT", 100);
  RunUntilStatus("Online", 600);
  EXPECT_EQ(Count(Notifier.Codes, ntfOnline), onlines + 1);
}

TEST_F(MainFixture, DevicesThatSilentlyStopAreNoticedAndRecovered) {
  Ini.Set("Auto", "1");
  for (TWaveSide side : {TWaveSide::Input, TWaveSide::Output}) {
    SCOPED_TRACE(side == TWaveSide::Input ? "input" : "output");
    if (!Form) Create();
    RunUntilStatus("Online", 400);
    Run(1000);
    Sim.Unplug(side, 0, TSimUnplug::Silent);
    const uint64_t noticed = RunUntilStatus("WAIT", 3000);
    EXPECT_LE(noticed, Form->Session.StallLimitMs() + 300);
    Run(1000);
    EXPECT_NE(Form->LabStatus.Caption(), "Online") << "no flow, no Online";
    Sim.Plug(side, 0);
    RunUntilStatus("Online", 2000);
    Run(3000);
    EXPECT_EQ(Form->LabStatus.Caption(), "Online");
  }
}

TEST_F(MainFixture, StopWithFadeOutKeepsTheDevicesRunningUntilTheFadeEnds) {
  Ini.Set("Auto", "1");
  Ini.Set("FadeIn", "0");
  Ini.Set("FadeOut", "2");
  Create();
  RunUntilStatus("Online", 400);
  Run(500);
  ASSERT_EQ(Form->InVolume.Value(), 100);
  Form->SBStopClick();
  Run(1000);
  EXPECT_EQ(Sim.OpenHandles(), 2);
  EXPECT_NEAR(Form->InVolume.Value(), 50, 3);
  EXPECT_NE(Form->LabStatus.Caption(), "STOP");
  Run(1100);
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
  EXPECT_EQ(Form->InVolume.Value(), 0);
  EXPECT_EQ(Sim.OpenHandles(), 0);
  EXPECT_EQ(Sim.PreparedHeaders(), 0);
  EXPECT_TRUE(Form->SBPlay.Visible());
  EXPECT_FALSE(Tray.Animate);
}

TEST_F(MainFixture, StopWhileWaitingEndsThePoll) {
  Ini.Set("Destination", "USB Speakers");
  Create();
  Form->SBPlayClick();
  Run(400);
  Form->SBStopClick();
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
  Sim.AddOutput(TSimDeviceSpec("USB Speakers"));
  Run(1000);
  EXPECT_EQ(Form->LabStatus.Caption(), "STOP");
  EXPECT_EQ(Sim.OpenHandles(), 0);
  EXPECT_EQ(Form->TimerWork.Interval(), 10u);
}

TEST_F(MainFixture, CloseAsksOnlyWhileOnlineAndNotWhenWindowsEnds) {
  Create();
  EXPECT_TRUE(Form->FormClose());
  EXPECT_TRUE(Dialogs.Questions.empty());

  Form.reset();
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Dialogs.Answer = false;
  EXPECT_FALSE(Form->FormClose());
  EXPECT_EQ(Dialogs.Questions.back(), "Are you sure exit this program?");
  Run(100);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");

  Form->WMSystem_Shutdown_Query();
  EXPECT_EQ(Window.Closes, 1);
  const size_t asked = Dialogs.Questions.size();
  EXPECT_TRUE(Form->FormClose());
  EXPECT_EQ(Dialogs.Questions.size(), asked);
  EXPECT_EQ(Sim.OpenHandles(), 0);
  Form.reset();
}

TEST_F(MainFixture, DeviceThatOpensButNeverDeliversEndsOfflineNotOnline) {
  Ini.Set("Auto", "1");
  Ini.Set("Wait", "3");
  Sim.Unplug(TWaveSide::Input, Input, TSimUnplug::Silent);
  Create();
  bool sawOnline = false;
  for (int t = 0; t < 500 && Form->LabStatus.Caption() != "OFFLINE"; ++t) {
    Run(10);
    sawOnline |= Form->LabStatus.Caption() == "Online";
  }
  EXPECT_EQ(Form->LabStatus.Caption(), "OFFLINE");
  EXPECT_FALSE(sawOnline);
  EXPECT_EQ(Count(Notifier.Codes, ntfOnline), 0u);
  EXPECT_EQ(Count(Notifier.Codes, ntfOffline), 1u);
}

TEST_F(MainFixture, SettingsOkResizesTheRunningDevicesAndAsksForARestartOnlyWhenNeeded) {
  Ini.Set("Auto", "1");
  Create();
  EXPECT_FALSE(Form->SBSettings.Enabled()) << "no dialog installed";
  RunUntilStatus("Online", 400);
  int shown = 0;
  Form->ShowSettingsDialog = [&] {
    ++shown;
    Form->Setting.Buffer = 40;
    Form->Setting.Blocksize = 0;
    Form->Setting.Volume = 120;
    return true;
  };
  Form->SBSettings.SetEnabled(true);
  Form->SBSettings.Click();
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(Dialogs.Infos.empty()) << "same devices and rate: nothing to restart";
  EXPECT_DOUBLE_EQ(Form->Player.BufferTime, 0.04);
  EXPECT_EQ(Form->Capture.BlockSize, 880);
  EXPECT_EQ(Form->GBuffer.Max(), 80);
  EXPECT_EQ(Form->sVolume.Value(), 120);
  Run(2000);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");

  Form->ShowSettingsDialog = [&] {
    Form->Setting.Freq = 2;
    Form->Setting.Volume = 90;
    return false;
  };
  Form->SBSettings.Click();
  EXPECT_TRUE(Dialogs.Infos.empty()) << "Cancel applies nothing";
  EXPECT_EQ(Form->sVolume.Value(), 90) << "the slider takes the setting either way";
  Form->ShowSettingsDialog = [] { return true; };
  Form->SBSettings.Click();
  ASSERT_EQ(Dialogs.Infos.size(), 1u);
  EXPECT_EQ(Dialogs.Infos[0], "For apply of the new settings it is necessary to restart player");
  EXPECT_EQ(Form->Capture.SampleRate, 44100) << "the session goes on with the old rate";
}
