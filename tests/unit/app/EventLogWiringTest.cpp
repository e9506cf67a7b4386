#include <algorithm>
#include <chrono>
#include <regex>

#include "MainFixture.h"

// The event log in the running program: which lines the window's events write, that a log that
// is off writes nothing, and that a log that cannot be written disturbs nothing.

namespace {

using namespace std::chrono_literals;

}  // namespace

class EventLogWiringTest : public MainFixture {
 protected:
  EventLogWiringTest() { Ini.Set("EventLog", "1"); }

  // The lines in the file so far, without their time.
  std::vector<std::string> Lines() {
    EXPECT_TRUE(Log.Flush(2000ms));
    return LogLines(LogDisk->Text("C:\\Apps\\Kestrune.log"));
  }
  std::vector<std::string> LinesOf(const std::string& word) {
    std::vector<std::string> r;
    for (const auto& l : Lines())
      if (l.rfind(word + " ", 0) == 0) r.push_back(l);
    return r;
  }
  bool Has(const std::string& line) {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // How many lines match a pattern.
  size_t Matching(const std::string& pattern) {
    const std::regex re(pattern);
    const auto lines = Lines();
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const auto& l) { return std::regex_match(l, re); }));
  }
};

TEST_F(EventLogWiringTest, AFailedCallAndItsRestartWriteOneLineEachAndNoStop) {
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Run(500);
  Sim.FailAlways(TSimCall::OutWrite, MMSYSERR_NOMEM);
  RunUntilStatus("WAIT", 500);
  Sim.ClearFailures();
  RunUntilStatus("Online", 1000);
  const std::vector<std::string> expected = {
      "LOG started: Kestrune 1.0.1.5",
      "RES private=1000000 handles=50 gdi=10 user=20 threads=4 heap=300000 sysheap=40000",
      "STATE WAIT play requested",
      "STATE Online Line In -> Speakers, 44100 Hz",
      "DEVICE session 1: output call failed (code 7), restarting",
      "STATE WAIT restarting after a fault",
      "RESTART session 3 started after the fault of session 1",
      "STATE Online Line In -> Speakers, 44100 Hz",
  };
  auto lines = Lines();
  ASSERT_EQ(lines.size(), expected.size() + 1) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1), expected);
  EXPECT_TRUE(std::regex_match(
      lines.back(),
      std::regex(R"(RESTART session 3 back online 0\.[2-9] s after the fault of session 1)")))
      << lines.back();
}

TEST_F(EventLogWiringTest, ADeviceAwayForLongWritesAHandfulOfLinesNotOnePerTry) {
  Ini.Set("Auto", "1");
  Ini.Set("Wait", "5");
  Create();
  RunUntilStatus("Online", 400);
  Run(500);
  Sim.Unplug(TWaveSide::Output, Output, TSimUnplug::Silent);
  Run(60000);
  Sim.Plug(TWaveSide::Output, Output);
  RunUntilStatus("Online", 3000);
  const auto stalls = LinesOf("STALL");
  ASSERT_EQ(stalls.size(), 1u);
  EXPECT_EQ(stalls[0], "STALL session 1: output stopped (nothing for 1.1 s), restarting");
  EXPECT_TRUE(Has("STATE OFFLINE no audio within the wait time (5 s)"));
  // The try that follows OFFLINE fails too, and says why the status is WAIT again.
  EXPECT_EQ(Matching("STATE WAIT restarting after a fault"), 2u);
  const auto restarts = LinesOf("RESTART");
  ASSERT_EQ(restarts.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      restarts[1], m,
      std::regex(
          R"(RESTART session (\d+) back online (\d+)\.\d s after the fault of session 1, (\d+) more faults meanwhile)")))
      << restarts[1];
  EXPECT_NEAR(std::stoi(m[2]), 60, 3);
  EXPECT_GE(std::stoi(m[3]), 20) << "every try of the minute failed";
  // A minute: two resource lines, and nothing else repeats.
  EXPECT_LE(Lines().size(), 16u) << ::testing::PrintToString(Lines());
}

TEST_F(EventLogWiringTest, AnInputThatNeverStartsIsToldApartFromOneThatStopped) {
  Ini.Set("Auto", "1");
  Ini.Set("Wait", "60");
  Sim.Unplug(TWaveSide::Input, Input, TSimUnplug::Silent);
  Create();
  Run(5000);
  const auto stalls = LinesOf("STALL");
  ASSERT_EQ(stalls.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      stalls[0],
      std::regex(
          R"(STALL session 1: input never started \(nothing within \d\.\d s\), restarting)")))
      << stalls[0];
  Form->SBStopClick();
  Run(100);
  EXPECT_TRUE(std::regex_match(
      Lines().back(),
      std::regex(
          R"(STATE STOP never back online after the fault of session 1 \(\d+ more faults\))")))
      << Lines().back();
}

TEST_F(EventLogWiringTest, OfflineSilenceSoundAndStopHaveTheirLines) {
  Ini.Set("Destination", "USB Speakers");
  Ini.Set("Wait", "1");
  Ini.Set("SilenceTime", "1");
  Ini.Set("RestoreTime", "1");
  Ini.Set("FadeOut", "0");
  Sim.SetSignal(Input, TSimSignal::Silence());
  Create();
  Form->SBPlayClick();
  RunUntilStatus("OFFLINE", 2000);
  Sim.AddOutput(TSimDeviceSpec("USB Speakers"));
  RunUntilStatus("Online", 1000);
  RunUntilStatus("Silence", 2000);
  Sim.SetSignal(Input, TSimSignal::Sine(1000, 8000));
  RunUntilStatus("Online", 2000);
  Form->SBStopClick();
  Run(100);
  const std::vector<std::string> expected = {
      "STATE WAIT play requested",
      "STATE OFFLINE devices not found within the wait time (1 s)",
      "STATE WAIT looking for the devices",
      "STATE Online Line In -> USB Speakers, 44100 Hz",
      "STATE Silence no sound for 1 s",
      "STATE Online sound again",
      "STATE STOP",
  };
  EXPECT_EQ(LinesOf("STATE"), expected);
}

TEST_F(EventLogWiringTest, EveryMinuteAResourceLineAndTheRefusedBlocksOfThatMinute) {
  Create();
  Run(1000);
  // The relay counts what the player refused; the minute reports the count of its own minute.
  Form->Path.RefusedBlocks += 37;
  Run(60000);
  Form->Path.RefusedBlocks += 5;
  Metrics.Handles = 51;
  Run(60000);
  Run(60000);
  EXPECT_EQ(LinesOf("REFUSED"), (std::vector<std::string>{"REFUSED 37 blocks in the last minute",
                                                          "REFUSED 5 blocks in the last minute"}));
  const auto res = LinesOf("RES");
  ASSERT_EQ(res.size(), 4u) << "one at the start, then one a minute";
  EXPECT_EQ(res[3], "RES private=1000000 handles=51 gdi=10 user=20 threads=4 heap=300000 sysheap=40000");
  // Timed by the window's minute timer: at 1:00.000 after the start, and so on.
  const std::string text = LogDisk->Text("C:\\Apps\\Kestrune.log");
  EXPECT_NE(text.find("00:01:01.000 RES"), std::string::npos) << text;
  EXPECT_NE(text.find("00:02:01.000 RES"), std::string::npos) << text;
}

TEST_F(EventLogWiringTest, AFaultingPlugInIsReportedOnce) {
  TFakeSpec faulty;
  faulty.FaultAtCall = 50;
  PlugInFiles.AddFile("dsp_ok.dll", {});
  PlugInFiles.AddFile("dsp_fault.dll", faulty);
  Ini.Values["Plugins/Path"] = "C:\\plugins";
  Ini.Values["Plugins/File1"] = "dsp_ok.dll";
  Ini.Values["Plugins/File2"] = "dsp_fault.dll";
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Run(3000);
  ASSERT_FALSE(Form->PlugIns.LoadedPlugins()[1]->Active);
  // Unloading the faulted one, or the healthy one, is no fault.
  Form->PlugIns.UnloadPlugin(1);
  Form->PlugIns.UnloadPlugin(0);
  Run(1000);
  EXPECT_EQ(LinesOf("PLUGIN"),
            (std::vector<std::string>{
                "PLUGIN dsp_fault.dll (position 2) faulted and was made inactive"}));
}

TEST_F(EventLogWiringTest, PeersFoundLeftGoneUnansweredAndAFloodOfBogusHandles) {
  Ini.Set("SourceMode", "1");
  Ini.Set("PID", "3");
  Create();
  Desktop.Add(0x100, "TCtl");
  Desktop.Add(0x200, "TCtl");
  Desktop.Add(0x300, "TCtl");
  for (TWnd w : {0x100, 0x200, 0x300}) PeerMessage(w, ctlCode, ctlHello);
  Run(200);
  PeerMessage(0x100, ctlCode, ctlBye);
  Desktop.Windows.erase(0x200);
  Run(200);
  Desktop.Windows[0x300].Hung = true;
  PeerMessage(0x300, ctlCode, ctlHello);
  // Announcements of handles that are no window: counted, not a line each.
  for (TWnd w = 0x10000; w < 0x10000 + 500; ++w) PeerMessage(w, ctlCode, ctlHello);
  Run(60000);
  const std::vector<std::string> expected = {
      "PEER 0x00000100 found (TCtl)",
      "PEER 0x00000200 found (TCtl)",
      "PEER 0x00000300 found (TCtl)",
      "PEER 0x00000100 left",
      "PEER 0x00000200 dropped: its window is gone",
      "PEER 0x00000300 dropped: no answer within 300 ms",
      "PEER 500 announcements of windows that do not exist in the last minute",
  };
  EXPECT_EQ(LinesOf("PEER"), expected);
}

TEST_F(EventLogWiringTest, PeerLinesAreCappedPerMinuteAndTheRestCounted) {
  Ini.Set("SourceMode", "1");
  Create();
  Desktop.Add(0x100, "TCtl");
  // A program that announces and withdraws over and over.
  for (int i = 0; i < 40; ++i) {
    PeerMessage(0x100, ctlCode, ctlHello);
    Run(100);
    PeerMessage(0x100, ctlCode, ctlBye);
  }
  Run(60000);
  const auto peers = LinesOf("PEER");
  ASSERT_EQ(peers.size(), size_t{TRelayEvents::MaxPeerLinesPerMinute} + 1);
  EXPECT_EQ(peers.back(), "PEER 50 more peer events in the last minute");
}

TEST_F(EventLogWiringTest, TheSettingSwitchesTheLogAtStartAndAfterTheDialog) {
  Ini.Set("EventLog", "0");
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Run(61000);
  EXPECT_TRUE(Lines().empty()) << "log off: nothing, not even a file";
  EXPECT_EQ(LogDisk->Files.size(), 0u);

  Form->ShowSettingsDialog = [&] {
    Form->Setting.EventLog = true;
    return true;
  };
  Form->SBSettings.SetEnabled(true);
  Form->SBSettings.Click();
  Form->SBStopClick();
  Run(3000);
  Form->ShowSettingsDialog = [&] {
    Form->Setting.EventLog = false;
    return true;
  };
  Form->SBSettings.Click();
  Form->SBPlayClick();
  Run(1000);
  Dialogs.Answer = true;
  Form->FormClose();
  Form.reset();
  const std::vector<std::string> expected = {
      "LOG switched on in the settings",
      "RES private=1000000 handles=50 gdi=10 user=20 threads=4 heap=300000 sysheap=40000",
      "STATE STOP",
      "LOG switched off in the settings",
  };
  EXPECT_EQ(Lines(), expected);
}

TEST_F(EventLogWiringTest, TheCloseIsTheLastLine) {
  Ini.Set("Auto", "1");
  Create();
  RunUntilStatus("Online", 400);
  Dialogs.Answer = true;
  ASSERT_TRUE(Form->FormClose());
  Form.reset();
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "STATE STOP");
  EXPECT_EQ(lines.back(), "LOG closing");
}

TEST_F(EventLogWiringTest, ALogThatCannotBeWrittenDisturbsNothing) {
  for (const bool hung : {false, true}) {
    SCOPED_TRACE(hung ? "disk hangs" : "disk refuses");
    {
      std::lock_guard<std::mutex> g(LogDisk->Lock);
      LogDisk->Broken = !hung;
      LogDisk->GateOpen = !hung;
    }
    Ini.Set("Auto", "1");
    if (!Form) Create();
    Form->SBPlayClick();
    RunUntilStatus("Online", 400);
    // Faults, restarts, minutes: many lines, none of which can reach the disk.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
      Sim.FailNext(TSimCall::OutWrite, MMSYSERR_NOMEM);
      RunUntilStatus("WAIT", 500);
      RunUntilStatus("Online", 1000);
      Run(30000);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "the main thread never waits";
    EXPECT_EQ(Form->LabStatus.Caption(), "Online");
    EXPECT_GT(Log.Dropped() + Log.Failures(), 0u);
    EXPECT_TRUE(LogDisk->Text("C:\\Apps\\Kestrune.log").empty());
    Form->SBStopClick();
    Run(100);
  }
  // Once the disk answers, what was queued arrives with the count of what was lost.
  {
    std::lock_guard<std::mutex> g(LogDisk->Lock);
    LogDisk->Broken = false;
  }
  LogDisk->SetGate(true);
  Form->SBPlayClick();
  RunUntilStatus("Online", 400);
  const auto lines = Lines();
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "STATE Online Line In -> Speakers, 44100 Hz");
}
