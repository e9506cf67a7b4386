#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "TestForm.h"

namespace {

struct TProbeRun {
  DWORD Exit = 99;
  std::string Out;
};

// Runs kestrune-probe against this process's window; waitUntil waits for a condition and keeps
// the window answering meanwhile.
TProbeRun RunProbeWith(const std::string& args,
                       const std::function<void(const std::function<bool()>&)>& waitUntil) {
  TProbeRun run;
  const std::string exe = ProgramDir() + "..\\tools\\probe\\kestrune-probe.exe";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + exe + "\" " + args;
  const BOOL started = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
    return run;
  }
  auto drain = [&] {
    DWORD avail = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
      char buf[512];
      DWORD got = 0;
      if (!ReadFile(readEnd, buf, sizeof(buf), &got, nullptr) || got == 0) break;
      run.Out.append(buf, got);
    }
  };
  waitUntil([&] {
    drain();
    return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
  });
  drain();
  GetExitCodeProcess(pi.hProcess, &run.Exit);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(readEnd);
  return run;
}

TProbeRun RunProbe(TWin32App& app, const std::string& args) {
  return RunProbeWith(args,
                      [&](const std::function<bool()>& done) { PumpUntil(app, done, 15000); });
}

// From another thread while the main thread is busy in a modal loop of its own.
TProbeRun RunProbeOffThread(const std::string& args) {
  return RunProbeWith(args, [](const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) Sleep(5);
  });
}

// The output without its line ends' carriage returns and without the last line end.
std::string Trimmed(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

TEST(Probe, ListsTheMainWindowWithItsProcessAndState) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Form.SetCaption("Orvanta Kestrune 1.0.1.5");
  const TProbeRun run = RunProbe(f.App, "windows");
  EXPECT_EQ(run.Exit, 0u);
  EXPECT_NE(run.Out.find(std::to_string(GetCurrentProcessId()) + " 0x"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("\"Orvanta Kestrune 1.0.1.5\" visible normal"), std::string::npos)
      << run.Out;
}

TEST(Probe, ReadsTextsAndValuesOfControlsByName) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.Gauge.SetValue(25);
  f.Logic.Gauge.SetText("Increase: 25");
  TProbeRun run = RunProbe(f.App, "text LabTest");
  EXPECT_EQ(run.Exit, 0u);
  EXPECT_EQ(Trimmed(run.Out), "STOP");
  run = RunProbe(f.App, "text GTest");
  EXPECT_EQ(Trimmed(run.Out), "Increase: 25");
  run = RunProbe(f.App, "value GTest");
  EXPECT_EQ(Trimmed(run.Out), "20");
  f.Logic.Gauge.SetValue(-7);
  run = RunProbe(f.App, "value GTest");
  EXPECT_EQ(Trimmed(run.Out), "-7");
  run = RunProbe(f.App, "text NoSuchControl");
  EXPECT_EQ(run.Exit, 1u);
  run = RunProbe(f.App, "text");
  EXPECT_EQ(run.Exit, 2u);
}

TEST(Probe, ClicksButtonsAndImages) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  EXPECT_EQ(RunProbe(f.App, "click SBTest").Exit, 0u);
  EXPECT_EQ(RunProbe(f.App, "click ImgTest").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return f.Logic.Events.size() >= 3; }));
  EXPECT_EQ(f.Logic.Events, (std::vector<std::string>{"click", "img click", "img up"}));
}

TEST(Probe, WaitsForATextUntilItsTimeRunsOut) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.Timer.SetInterval(300);
  f.Logic.Timer.OnTimer = [&] { f.Logic.Lab.SetCaption("Online"); };
  f.Logic.Timer.SetEnabled(true);
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(RunProbe(f.App, "wait LabTest Online 5000").Exit, 0u);
  EXPECT_LT(GetTickCount64() - before, 5000u);
  const TProbeRun never = RunProbe(f.App, "wait LabTest Silence 300");
  EXPECT_EQ(never.Exit, 1u);
  EXPECT_NE(never.Out.find("Online"), std::string::npos) << never.Out;
  EXPECT_EQ(RunProbe(f.App, "wait LabTest Online soon").Exit, 2u);
}

TEST(Probe, CloseAsksTheWindowToClose) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.AllowClose = false;
  EXPECT_EQ(RunProbe(f.App, "close").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return f.Logic.Closes == 1; }));
  EXPECT_TRUE(IsWindow(f.Form.Handle()));
}

TEST(Probe, ReadsAndChangesChecksListsAndFieldsThroughTheirOwnMessages) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  TKindsForm& l = f.Logic;
  auto out = [&](const std::string& args) { return Trimmed(RunProbe(f.App, args).Out); };

  EXPECT_EQ(out("checked CBTest"), "0");
  EXPECT_EQ(RunProbe(f.App, "check CBTest 1").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return l.Check.Checked(); }));
  EXPECT_EQ(out("checked CBTest"), "1");
  // Already checked: no click.
  l.Events.clear();
  EXPECT_EQ(RunProbe(f.App, "check CBTest 1").Exit, 0u);
  PumpUntil(
      f.App, [] { return false; }, 100);
  EXPECT_TRUE(l.Events.empty());

  EXPECT_EQ(out("items BSTest"), "32000\n44100\n48000");
  EXPECT_EQ(out("selected BSTest"), "44100");
  EXPECT_EQ(out("value BSTest"), "1");
  EXPECT_EQ(RunProbe(f.App, "select BSTest 48000").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return l.Combo.ItemIndex() == 2; }));
  EXPECT_EQ(l.Events.back(), "combo 2");
  EXPECT_EQ(RunProbe(f.App, "select BSTest 96000").Exit, 1u);

  EXPECT_EQ(out("items RGTest"), "Recorded\nAfter plugins\nPlayback\nWhat U hear");
  EXPECT_EQ(RunProbe(f.App, "select RGTest Playback").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return l.Radio.ItemIndex() == 2; }));
  EXPECT_EQ(out("value RGTest"), "2");
  EXPECT_EQ(out("selected RGTest"), "Playback");

  EXPECT_EQ(out("value LBTest"), "-1");
  EXPECT_EQ(out("selected LBTest"), "");
  EXPECT_EQ(RunProbe(f.App, "select LBTest 1").Exit, 0u);
  EXPECT_EQ(RunProbe(f.App, "dblclick LBTest").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return l.Events.back() == "list dblclick"; }));
  EXPECT_EQ(l.List.ItemIndex(), 1);

  EXPECT_EQ(RunProbe(f.App, "set ETenths 7.5").Exit, 0u);
  EXPECT_DOUBLE_EQ(l.Tenths.Value(), 7.5);
  EXPECT_EQ(out("value ETenths"), "7.5");
  EXPECT_EQ(RunProbe(f.App, "set EWhole 500").Exit, 0u);
  EXPECT_EQ(l.Whole.Value(), 180);
  EXPECT_EQ(RunProbe(f.App, "set DETest D:\\Dsp").Exit, 0u);
  EXPECT_EQ(l.Dir.Text(), "D:\\Dsp");
  EXPECT_EQ(out("text DETest"), "D:\\Dsp");
  EXPECT_EQ(RunProbe(f.App, "set CBTest 1").Exit, 2u) << "a check box is no field";
}

TEST(Probe, MovesASliderAsTheUserDoes) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  EXPECT_EQ(RunProbe(f.App, "set sTest 250").Exit, 0u);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return f.Logic.Slider.Value() == 250; }));
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"change 250"});
  EXPECT_EQ(Trimmed(RunProbe(f.App, "value sTest").Out), "250");
  EXPECT_EQ(RunProbe(f.App, "set sTest many").Exit, 2u);
}

BOOL CALLBACK MatchBox(HWND hwnd, LPARAM param) {
  if (ClassOf(hwnd) != "#32770" || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(param) = hwnd;
  return FALSE;
}

HWND FindBoxOf(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(thread, MatchBox, reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST(Probe, ListsAndAnswersTheProgramsMessageBoxes) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  EXPECT_EQ(Trimmed(RunProbe(f.App, "boxes").Out), "");
  EXPECT_EQ(RunProbe(f.App, "answer OK").Exit, 1u);
  TProbeRun boxes, answer;
  const DWORD windowThread = GetCurrentThreadId();
  std::thread prober([&] {
    // The box is shown by the window's thread, which waits in it meanwhile.
    for (int i = 0; i < 500 && !FindBoxOf(windowThread); ++i) Sleep(10);
    boxes = RunProbeOffThread("boxes");
    answer = RunProbeOffThread("answer OK");
  });
  f.Form.Information("For apply of the new settings it is necessary to restart player");
  prober.join();
  EXPECT_EQ(Trimmed(boxes.Out),
            "\"Orvanta Kestrune\" \"For apply of the new settings it is necessary to restart "
            "player\"");
  EXPECT_EQ(answer.Exit, 0u);
}

}  // namespace
