#include "platform/win32/Instance.h"

#include <tlhelp32.h>

#include <string>
#include <utility>

#include "platform/win32/ExePath.h"
#include "platform/win32/Handles.h"

namespace {

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
      : Psapi(TModuleHandle::Load("PSAPI.dll")),
        CreateSnapshot(Lookup<TCreateSnapshot>(Kernel(), "CreateToolhelp32Snapshot")),
        First(Lookup<TProcessWalk>(Kernel(), "Process32First")),
        Next(Lookup<TProcessWalk>(Kernel(), "Process32Next")),
        ModuleFileNameEx(Lookup<TModuleFileNameEx>(Psapi.Get(), "GetModuleFileNameExA")) {}

  bool Complete() const { return CreateSnapshot && First && Next && ModuleFileNameEx; }

  static HMODULE Kernel() { return GetModuleHandleA("kernel32.dll"); }

  TModuleHandle Psapi;
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
  const char* Class;
  HWND Found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TWindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->ProcessId || GetWindow(window, GW_OWNER)) return TRUE;
  char className[256] = {};
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpA(className, search->Class) != 0) return TRUE;
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

HWND FindProcessWindow(DWORD processId, const char* windowClass) {
  TWindowSearch search{processId, windowClass, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

bool CheckOtherInstance(const char* windowClass) {
  const TProcessApi& api = ProcessApi();
  if (!api.Complete()) return false;
  const std::string ownPath = UpperPath(ExecutablePath());
  if (ownPath.empty()) return false;

  TKernelHandle snapshot(api.CreateSnapshot(TH32CS_SNAPPROCESS, 0));
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
    TKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
    if (!process) continue;
    const std::string path = ProcessImagePath(api, process.Get());
    if (path.empty() || UpperPath(path) != ownPath) continue;
    otherRuns = true;
    otherWindow = FindProcessWindow(entry.th32ProcessID, windowClass);
  }

  if (otherWindow) {
    // Bounded, so that a hung first instance cannot hang this start as well.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(otherWindow, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 5000, &result);
    // A window hidden in the tray may stay hidden after the restore: show it as well, without
    // waiting for the other process.
    if (IsIconic(otherWindow) || !IsWindowVisible(otherWindow))
      ShowWindowAsync(otherWindow, SW_RESTORE);
    ProcessPendingMessages();
    Sleep(10);
    SetForegroundWindow(otherWindow);
  }
  return otherRuns;
}
