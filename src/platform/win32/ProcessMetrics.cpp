#include "platform/win32/ProcessMetrics.h"

#include <windows.h>
// After windows.h, which they need.
#include <malloc.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/win32/Handles.h"

namespace {

// One entry of the system's handle table as NtQuerySystemInformation lists it (extended form).
struct TSystemHandleEntry {
  void* Object;
  ULONG_PTR UniqueProcessId;
  ULONG_PTR HandleValue;
  ULONG GrantedAccess;
  USHORT CreatorBackTraceIndex;
  USHORT ObjectTypeIndex;
  ULONG HandleAttributes;
  ULONG Reserved;
};

struct TSystemHandleTable {
  ULONG_PTR NumberOfHandles;
  ULONG_PTR Reserved;
  TSystemHandleEntry Handles[1];
};

constexpr ULONG SystemExtendedHandleInformation = 64;
constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Wine answers GetProcessHandleCount with 0 handles; there the system's handle table, filtered
// to this process, gives the count.
int64_t HandlesFromSystemTable(DWORD processId) {
  using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<unsigned char> buffer(256 * 1024);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(SystemExtendedHandleInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status == StatusInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(needed + 64 * 1024, buffer.size() * 2));
      continue;
    }
    if (status < 0) return -1;
    const auto* table = reinterpret_cast<const TSystemHandleTable*>(buffer.data());
    const size_t room =
        (buffer.size() - offsetof(TSystemHandleTable, Handles)) / sizeof(TSystemHandleEntry);
    const size_t listed = std::min<size_t>(table->NumberOfHandles, room);
    int64_t count = 0;
    for (size_t i = 0; i < listed; ++i) {
      if (table->Handles[i].UniqueProcessId == processId) ++count;
    }
    return count;
  }
  return -1;
}

// GetGuiResources answers 0 both for none and for a failure; only the error code tells.
int64_t GuiObjects(HANDLE process, DWORD kind) {
  SetLastError(ERROR_SUCCESS);
  const DWORD count = GetGuiResources(process, kind);
  if (count == 0 && GetLastError() != ERROR_SUCCESS) return -1;
  return count;
}

int64_t ThreadsOf(DWORD processId) {
  TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  if (!Thread32First(snapshot.Get(), &entry)) return -1;
  int64_t count = 0;
  do {
    if (entry.th32OwnerProcessID == processId) ++count;
  } while (Thread32Next(snapshot.Get(), &entry));
  return count;
}

// The live bytes of one heap. It is locked while it is walked; the relay thread never
// allocates, so only the main and the log's thread may wait, for a walk of a few thousand blocks
// once a minute.
int64_t BusyBytes(HANDLE heap) {
  if (!HeapLock(heap)) return -1;
  int64_t busy = 0;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
  }
  HeapUnlock(heap);
  return busy;
}

// The C runtime's heap (malloc and new), and all the process's other heaps together.
void ReadHeaps(TProcessMetrics& m) {
  std::vector<HANDLE> heaps(64);
  DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (count > heaps.size()) {
    heaps.resize(count);
    count = GetProcessHeaps(count, heaps.data());
  }
  if (count == 0 || count > heaps.size()) return;
  const auto runtime = reinterpret_cast<HANDLE>(_get_heap_handle());
  int64_t others = 0;
  for (DWORD i = 0; i < count; ++i) {
    const int64_t busy = BusyBytes(heaps[i]);
    if (busy < 0) return;
    if (heaps[i] == runtime) {
      m.HeapInUse = busy;
    } else {
      others += busy;
    }
  }
  m.SystemHeapInUse = others;
}

}  // namespace

TProcessMetrics ReadProcessMetrics() {
  TProcessMetrics m;
  const HANDLE self = GetCurrentProcess();
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    // The commit charge is the same figure; Wine fills only that one.
    m.PrivateBytes =
        static_cast<int64_t>(memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage);
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(self, &handles) && handles > 0) {
    m.Handles = handles;
  } else {
    m.Handles = HandlesFromSystemTable(GetCurrentProcessId());
  }
  m.GdiObjects = GuiObjects(self, GR_GDIOBJECTS);
  m.UserObjects = GuiObjects(self, GR_USEROBJECTS);
  m.Threads = ThreadsOf(GetCurrentProcessId());
  ReadHeaps(m);
  return m;
}
