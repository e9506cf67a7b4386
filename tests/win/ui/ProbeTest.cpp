#include <gtest/gtest.h>

#include "TestForm.h"

namespace {

struct TProbeRun {
  DWORD Exit = 99;
  std::string Out;
};

// Runs kestrune-probe against this process's window, which keeps answering meanwhile.
TProbeRun RunProbe(TWin32App& app, const std::string& args) {
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
    ADD_FAILURE() << "cannot start " << exe;
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
  PumpUntil(
      app,
      [&] {
        drain();
        return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
      },
      15000);
  drain();
  GetExitCodeProcess(pi.hProcess, &run.Exit);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(readEnd);
  return run;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
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

}  // namespace
