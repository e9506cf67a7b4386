#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "platform/win32/ExePath.h"
#include "platform/win32/Instance.h"

// Copies of this test program are started as children. The variable below tells a child its
// role; it acts before any test runs and ends the process with its result.
namespace {

const char* const RoleVariable = "KESTRUNE_INSTANCE_ROLE";
const char* const TestWindowClass = "KestruneInstanceTest";
const char* const ReadyVariable = "KESTRUNE_INSTANCE_READY";
constexpr int RestoredExit = 42;
constexpr int TimedOutExit = 3;
constexpr int FailedExit = 4;
constexpr UINT_PTR GiveUpTimer = 1;

LRESULT CALLBACK ChildWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_RESTORE) {
    PostQuitMessage(RestoredExit);
    return 0;
  }
  if (message == WM_TIMER && wParam == GiveUpTimer) {
    PostQuitMessage(TimedOutExit);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Shows a window, signals the parent, and waits up to 20 s to be restored by another start.
int RunWindowRole() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ChildWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = TestWindowClass;
  if (!RegisterClassA(&windowClass)) return FailedExit;
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Instance test",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_MINIMIZE, 0, 0, 200, 100,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) return FailedExit;
  // A tool tip owned by the window lies above it in the window list, as the real one's does.
  CreateWindowExA(WS_EX_TOPMOST, "STATIC", "tip", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, window,
                  nullptr, windowClass.hInstance, nullptr);
  SetTimer(window, GiveUpTimer, 20000, nullptr);

  char readyName[128] = {};
  GetEnvironmentVariableA(ReadyVariable, readyName, sizeof readyName);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName);
  if (!ready) return FailedExit;
  SetEvent(ready);
  CloseHandle(ready);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

int RunChildRoleIfAsked() {
  char role[32] = {};
  if (GetEnvironmentVariableA(RoleVariable, role, sizeof role) == 0) return 0;
  const std::string name = role;
  if (name == "window") ExitProcess(RunWindowRole());
  if (name == "check") ExitProcess(CheckOtherInstance(TestWindowClass) ? 1 : 0);
  ExitProcess(FailedExit);
}

[[maybe_unused]] const int ChildRole = RunChildRoleIfAsked();

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

// A path for the wide file functions that lifts the MAX_PATH limit.
std::wstring Long(const std::string& path) {
  return L"\\\\?\\" + Wide(path);
}

UNICODE_STRING Counted(std::wstring& text) {
  UNICODE_STRING counted;
  counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  counted.Buffer = text.data();
  return counted;
}

// CreateProcess looks the program up in a MAX_PATH buffer. A program deeper than that is
// started through the native calls underneath it, which take any length.
HANDLE StartDeepProcess(const std::string& exe) {
  struct TClientId {
    HANDLE Process;
    HANDLE Thread;
  };
  struct TProcessInfo {
    ULONG Length;
    HANDLE Process;
    HANDLE Thread;
    TClientId ClientId;
    BYTE Image[256];
  };
  using TCreateParameters = LONG(NTAPI*)(void**, UNICODE_STRING*, UNICODE_STRING*, UNICODE_STRING*,
                                         UNICODE_STRING*, void*, UNICODE_STRING*, UNICODE_STRING*,
                                         UNICODE_STRING*, UNICODE_STRING*, ULONG);
  using TDestroyParameters = LONG(NTAPI*)(void*);
  using TCreateUserProcess = LONG(NTAPI*)(UNICODE_STRING*, ULONG, void*, void*, void*, HANDLE,
                                          BOOLEAN, HANDLE, HANDLE, TProcessInfo*);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto createParameters = reinterpret_cast<TCreateParameters>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlCreateProcessParametersEx")));
  auto destroyParameters = reinterpret_cast<TDestroyParameters>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDestroyProcessParameters")));
  auto createUserProcess = reinterpret_cast<TCreateUserProcess>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlCreateUserProcess")));
  if (!createParameters || !destroyParameters || !createUserProcess) return nullptr;

  std::wstring dosPath = Wide(exe);
  std::wstring ntPath = L"\\??\\" + dosPath;
  std::wstring commandLine = L"\"" + dosPath + L"\"";
  wchar_t current[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring currentDir = current;
  UNICODE_STRING image = Counted(dosPath);
  UNICODE_STRING nt = Counted(ntPath);
  UNICODE_STRING command = Counted(commandLine);
  UNICODE_STRING directory = Counted(currentDir);
  void* parameters = nullptr;
  constexpr ULONG Normalized = 1;
  if (createParameters(&parameters, &image, nullptr, &directory, &command, nullptr, nullptr,
                       nullptr, nullptr, nullptr, Normalized) < 0) {
    return nullptr;
  }
  TProcessInfo info{};
  info.Length = sizeof info;
  constexpr ULONG CaseInsensitive = 0x40;
  const LONG status = createUserProcess(&nt, CaseInsensitive, parameters, nullptr, nullptr, nullptr,
                                        FALSE, nullptr, nullptr, &info);
  destroyParameters(parameters);
  if (status < 0) return nullptr;
  ResumeThread(info.Thread);
  CloseHandle(info.Thread);
  return info.Process;
}

HANDLE StartProcess(const std::string& exe) {
  if (exe.size() >= MAX_PATH) return StartDeepProcess(exe);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string commandLine = "\"" + exe + "\"";
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

// A copy of this program in a role; it is ended at the latest when this object goes, so no
// child outlives the suite.
class TChild {
 public:
  TChild(const std::string& exe, const char* role, const std::string& readyName = "") {
    SetEnvironmentVariableA(RoleVariable, role);
    SetEnvironmentVariableA(ReadyVariable, readyName.empty() ? nullptr : readyName.c_str());
    Process = StartProcess(exe);
    SetEnvironmentVariableA(RoleVariable, nullptr);
    SetEnvironmentVariableA(ReadyVariable, nullptr);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
    if (!Process) return;
    if (WaitForSingleObject(Process, 0) == WAIT_TIMEOUT) {
      TerminateProcess(Process, 99);
      WaitForSingleObject(Process, 5000);
    }
    CloseHandle(Process);
  }

  bool Started() const { return Process != nullptr; }
  // The exit code, or -1 when the child has not ended within the time.
  int ExitCode(DWORD timeoutMs) {
    if (!Process || WaitForSingleObject(Process, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(Process, &code);
    return static_cast<int>(code);
  }

 private:
  HANDLE Process = nullptr;
};

// A window child that is up and showing its window.
class TWindowChild {
 public:
  explicit TWindowChild(const std::string& exe)
      : ReadyName("KestruneInstanceReady-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount64())),
        Ready(CreateEventA(nullptr, TRUE, FALSE, ReadyName.c_str())),
        Child(exe, "window", ReadyName) {}
  TWindowChild(const TWindowChild&) = delete;
  TWindowChild& operator=(const TWindowChild&) = delete;
  ~TWindowChild() { CloseHandle(Ready); }

  bool WaitReady() { return Child.Started() && WaitForSingleObject(Ready, 15000) == WAIT_OBJECT_0; }
  int ExitCode(DWORD timeoutMs) { return Child.ExitCode(timeoutMs); }

 private:
  std::string ReadyName;
  HANDLE Ready;
  TChild Child;
};

// A directory of copies of this program, removed at the end of a test.
class TCopies {
 public:
  explicit TCopies(size_t minLength = 0) {
    char base[MAX_PATH + 1] = {};
    GetTempPathA(sizeof base, base);
    Root = std::string(base) + "kestrune-instance-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64());
    Dir = Root;
    CreateDirectoryA(Dir.c_str(), nullptr);
    while (Dir.size() < minLength) {
      Dir += "\\a-rather-long-directory-name-for-deep-paths";
      CreateDirectoryW(Long(Dir).c_str(), nullptr);
      Created.push_back(Dir);
    }
  }
  ~TCopies() {
    for (const std::string& file : Files) DeleteFileW(Long(file).c_str());
    for (auto it = Created.rbegin(); it != Created.rend(); ++it)
      RemoveDirectoryW(Long(*it).c_str());
    RemoveDirectoryA(Root.c_str());
  }

  // A copy of this program under the given name; empty when copying failed.
  std::string Copy(const std::string& name) {
    const std::string target = Dir + "\\" + name;
    if (!CopyFileW(Long(ExecutablePath()).c_str(), Long(target).c_str(), FALSE)) return "";
    Files.push_back(target);
    return target;
  }

  std::string Dir;

 private:
  std::string Root;
  std::vector<std::string> Created;
  std::vector<std::string> Files;
};

TEST(Instance, AloneThereIsNoOtherInstance) {
  EXPECT_FALSE(CheckOtherInstance(TestWindowClass));
}

// Starts a window from firstPath, then a check from secondPath: the check must see the first
// and restore its window.
void ExpectSecondStartRestoresFirst(const std::string& firstPath, const std::string& secondPath) {
  ASSERT_FALSE(firstPath.empty());
  TWindowChild first(firstPath);
  ASSERT_TRUE(first.WaitReady());
  TChild second(secondPath, "check");
  EXPECT_EQ(second.ExitCode(30000), 1);
  EXPECT_EQ(first.ExitCode(10000), RestoredExit);
}

TEST(Instance, SecondStartFromTheSamePathRestoresTheFirst) {
  TCopies copies;
  const std::string exe = copies.Copy("Kestrune.exe");
  ExpectSecondStartRestoresFirst(exe, exe);
}

TEST(Instance, PathsDifferingInLetterCaseAreTheSameProgram) {
  TCopies copies;
  const std::string exe = copies.Copy("Kestrune.exe");
  std::string upper = exe;
  CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  ExpectSecondStartRestoresFirst(exe, upper);
}

TEST(Instance, CopyUnderAnotherPathIsAnotherProgram) {
  TCopies copies;
  const std::string exe = copies.Copy("Kestrune.exe");
  const std::string other = copies.Copy("Kestrune2.exe");
  ASSERT_FALSE(exe.empty());
  ASSERT_FALSE(other.empty());
  TWindowChild first(exe);
  ASSERT_TRUE(first.WaitReady());
  TChild second(other, "check");
  EXPECT_EQ(second.ExitCode(30000), 0);
  EXPECT_EQ(first.ExitCode(0), -1);  // still waiting, not restored
}

TEST(Instance, PathsLongerThan255CharactersStillMatch) {
  TCopies copies(300);
  ASSERT_GT(copies.Dir.size(), 255u);
  const std::string exe = copies.Copy("Kestrune.exe");
  ExpectSecondStartRestoresFirst(exe, exe);
}

TEST(Instance, FindProcessWindowTakesTheProgramsOwnWindowOnly) {
  EXPECT_EQ(FindProcessWindow(0xFFFFFFF0, TestWindowClass), nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = TestWindowClass;
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, TestWindowClass, "probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  // Above it: an owned window of the same class (a popup), a window of another class, and an
  // input-method window, as the system puts its own.
  HWND popup = CreateWindowExA(0, TestWindowClass, "", WS_POPUP, 0, 0, 1, 1, window, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  WNDCLASSA imeClass{};
  imeClass.lpfnWndProc = DefWindowProcA;
  imeClass.hInstance = GetModuleHandleA(nullptr);
  imeClass.lpszClassName = "MSCTFIME UI";
  RegisterClassA(&imeClass);
  HWND ime = CreateWindowExA(0, "MSCTFIME UI", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  for (HWND above : {popup, other, ime}) {
    ASSERT_NE(above, nullptr);
    SetWindowPos(above, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  EXPECT_EQ(FindProcessWindow(GetCurrentProcessId(), TestWindowClass), window);
  for (HWND w : {ime, other, popup, window}) DestroyWindow(w);
}

}  // namespace
