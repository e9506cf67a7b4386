#include "platform/win32/Instance.h"

#include <tlhelp32.h>

#include <string>
#include <utility>

#include "platform/win32/ExePath.h"

namespace {

// A kernel handle (snapshot, process), closed when it goes. Both failure values count as none.
class THandle {
 public:
  explicit THandle(HANDLE handle = nullptr)
      : Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  THandle(THandle&& other) noexcept : Handle(std::exchange(other.Handle, nullptr)) {}
  THandle& operator=(THandle&& other) noexcept {
    if (this != &other) {
      Reset();
      Handle = std::exchange(other.Handle, nullptr);
    }
    return *this;
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() { Reset(); }

  HANDLE Get() const { return Handle; }
  explicit operator bool() const { return Handle != nullptr; }

 private:
  void Reset() {
    if (Handle) CloseHandle(std::exchange(Handle, nullptr));
  }
  HANDLE Handle;
};

// A library loaded at run time, freed when it goes.
class TModule {
 public:
  explicit TModule(const char* name) {
    const HMODULE module = LoadLibraryA(name);
    // Results below 32 are error codes from old loaders, not modules.
    Handle = reinterpret_cast<UINT_PTR>(module) < 32 ? nullptr : module;
  }
  TModule(const TModule&) = delete;
  TModule& operator=(const TModule&) = delete;
  ~TModule() {
    if (Handle) FreeLibrary(Handle);
  }
  HMODULE Get() const { return Handle; }

 private:
  HMODULE Handle = nullptr;
};

using TCreateSnapshot = HANDLE(WINAPI*)(DWORD, DWORD);
using TProcessWalk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
using TModuleFileNameEx = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

template <typename T>
T Lookup(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The process functions, looked up once and kept for the life of the process.
struct TProcessApi {
  TProcessApi()
      : Psapi("PSAPI.dll"),
        CreateSnapshot(Lookup<TCreateSnapshot>(Kernel(), "CreateToolhelp32Snapshot")),
        First(Lookup<TProcessWalk>(Kernel(), "Process32First")),
        Next(Lookup<TProcessWalk>(Kernel(), "Process32Next")),
        ModuleFileNameEx(Lookup<TModuleFileNameEx>(Psapi.Get(), "GetModuleFileNameExA")) {}

  bool Complete() const { return CreateSnapshot && First && Next && ModuleFileNameEx; }

  static HMODULE Kernel() { return GetModuleHandleA("kernel32.dll"); }

  TModule Psapi;
  TCreateSnapshot CreateSnapshot;
  TProcessWalk First;
  TProcessWalk Next;
  TModuleFileNameEx ModuleFileNameEx;
};

const TProcessApi& ProcessApi() {
  static const TProcessApi api;
  return api;
}

std::string UpperPath(std::string path) {
  if (!path.empty()) CharUpperBuffA(path.data(), static_cast<DWORD>(path.size()));
  return path;
}

// The full path of a process's main module, however long; empty when it cannot be read.
std::string ProcessImagePath(const TProcessApi& api, HANDLE process) {
  return ReadFullPath([&](char* buffer, DWORD size) {
    return api.ModuleFileNameEx(process, nullptr, buffer, size);
  });
}

struct TWindowSearch {
  DWORD ProcessId;
  HWND Found;
};

// Windows lists the hidden input-method windows it gives every GUI thread among the
// top-level windows, usually ahead of the program's own; restoring them does nothing.
bool IsInputMethodWindow(HWND window) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  return lstrcmpiA(className, "IME") == 0 || lstrcmpiA(className, "MSCTFIME UI") == 0;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TWindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->ProcessId || IsInputMethodWindow(window)) return TRUE;
  search->Found = window;
  return FALSE;
}

// Runs what is pending on this thread once, without waiting for more.
void ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

HWND FindProcessWindow(DWORD processId) {
  TWindowSearch search{processId, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

bool CheckOtherInstance() {
  const TProcessApi& api = ProcessApi();
  if (!api.Complete()) return false;
  const std::string ownPath = UpperPath(ExecutablePath());
  if (ownPath.empty()) return false;

  THandle snapshot(api.CreateSnapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;

  // Our own process matches too; the instance to bring forward is a matching one with
  // another ID. Of several, one that already shows a window is preferred.
  const DWORD ownId = GetCurrentProcessId();
  bool otherRuns = false;
  HWND otherWindow = nullptr;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = api.First(snapshot.Get(), &entry); more && !otherWindow;
       more = api.Next(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == ownId) continue;
    THandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
    if (!process) continue;
    const std::string path = ProcessImagePath(api, process.Get());
    if (path.empty() || UpperPath(path) != ownPath) continue;
    otherRuns = true;
    otherWindow = FindProcessWindow(entry.th32ProcessID);
  }

  if (otherWindow) {
    // Bounded, so that a hung first instance cannot hang this start as well.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(otherWindow, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 5000, &result);
    ProcessPendingMessages();
    Sleep(10);
    SetForegroundWindow(otherWindow);
  }
  return otherRuns;
}
