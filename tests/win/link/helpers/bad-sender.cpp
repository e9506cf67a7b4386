// bad-sender: sends malformed messages to the running Kestrune's main window from another
// process, the way a broken or hostile program on the desktop could, and checks after each kind
// that the window still answers.
//
//   bad-sender <kind> [MB [class]]   one of: copydata-empty, copydata-huge (MB megabytes,
//                            default 1), copydata-wrong, winmsg-lparam, winmsg-wparam,
//                            copydata-flood, all; to the first window of the class (default
//                            Kestrune's main window)
//
// Every message is sent with SendMessageTimeout (1 s); after each kind a WM_NULL must come back
// within 1 s. Prints one line per kind: "kind K: N messages, A answered, T timed out, results
// {...}, window answered in M ms"; exits with 1 when the window did not answer, or a message
// other than a huge one timed out (Wine does not hand over a WM_COPYDATA of 2 MB or more: the
// send times out and the message is lost).

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "link/Protocol.h"

namespace {

constexpr UINT TimeoutMs = 1000;

// The window class looked for: Kestrune's, or another program's for comparison.
std::string WantedClass = MainWindowClass;

BOOL CALLBACK FindMain(HWND hwnd, LPARAM param) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::string(cls) == WantedClass) {
    *reinterpret_cast<HWND*>(param) = hwnd;
    return FALSE;
  }
  return TRUE;
}

struct TTally {
  int Sent = 0;
  int Answered = 0;
  int TimedOut = 0;
  std::map<intptr_t, int> Results;
};

class TSender {
 public:
  TSender(HWND target, size_t hugeBytes) : Target(target), HugeBytes(hugeBytes) {
    // A window of our own, for the messages that need a sender.
    Own = CreateWindowExA(0, "STATIC", "bad-sender", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                          GetModuleHandleA(nullptr), nullptr);
  }
  ~TSender() {
    if (Own) DestroyWindow(Own);
  }

  void Send(UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ++Tally.Sent;
    if (SendMessageTimeoutA(Target, msg, wParam, lParam, SMTO_NORMAL, TimeoutMs, &result)) {
      ++Tally.Answered;
      ++Tally.Results[static_cast<intptr_t>(result)];
    } else if (GetLastError() == ERROR_TIMEOUT) {
      ++Tally.TimedOut;
    }
    Pump();
  }

  void CopyData(WPARAM from, ULONG_PTR dwData, const void* data, DWORD size) {
    COPYDATASTRUCT cds{};
    cds.dwData = dwData;
    cds.cbData = size;
    cds.lpData = const_cast<void*>(data);
    Send(WM_COPYDATA, from, reinterpret_cast<LPARAM>(&cds));
  }

  // Runs a kind of bad message, then checks the window answers; false on a timeout.
  bool Run(const std::string& kind) {
    Tally = TTally{};
    if (kind == "copydata-empty") {
      for (ULONG_PTR code : {ULONG_PTR{0}, ULONG_PTR{0x7FFF0000}, ULONG_PTR{1}})
        for (WPARAM from : {reinterpret_cast<WPARAM>(Own), WPARAM{0}})
          CopyData(from, code, nullptr, 0);
      // A data pointer with no size.
      CopyData(reinterpret_cast<WPARAM>(Own), 0, "x", 0);
    } else if (kind == "copydata-huge") {
      // Megabytes, copied into the receiver by the system.
      std::vector<uint8_t> big(HugeBytes, 0x5A);
      CopyData(reinterpret_cast<WPARAM>(Own), 0, big.data(), static_cast<DWORD>(big.size()));
      CopyData(reinterpret_cast<WPARAM>(Own), PackParam(ctlCode, ctlHello), big.data(),
               static_cast<DWORD>(big.size()));
    } else if (kind == "copydata-wrong") {
      uint8_t block[64];
      for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<uint8_t>(i * 37);
      for (ULONG_PTR code :
           {ULONG_PTR{0}, ULONG_PTR{PackParam(cmdPlay, 2)}, ULONG_PTR{PackParam(cmdStop, 3)},
            ULONG_PTR{0xFFFFFFFF}, ~ULONG_PTR{0}})
        CopyData(reinterpret_cast<WPARAM>(Own), code, block, sizeof block);
      // No COPYDATASTRUCT at all.
      Send(WM_COPYDATA, reinterpret_cast<WPARAM>(Own), 0);
    } else if (kind == "winmsg-lparam") {
      const WPARAM from = reinterpret_cast<WPARAM>(Own);
      // Outside the 31 bits of code and parameter, and codes no command has.
      for (LPARAM l : {LPARAM{-1}, LPARAM{-2}, static_cast<LPARAM>(0x80000000u),
                       static_cast<LPARAM>(0xFFFFFFFFu), static_cast<LPARAM>(0x100000000ll),
                       static_cast<LPARAM>(0x7FFFFFFF00000000ll), LPARAM{INTPTR_MIN}})
        Send(WM_WINMSG, from, l);
      for (uint32_t code = 4; code < 0x7FFF; code += 97)
        if (code != cmdVolume)
          Send(WM_WINMSG, from, PackParam(static_cast<uint16_t>(code), 0xFFFF));
      // Withdrawals of a window that never announced itself, with every odd parameter.
      for (uint32_t p = 1; p < 0x7FFF; p += 1021)
        Send(WM_WINMSG, from, PackParam(ctlCode, static_cast<uint16_t>(p)));
    } else if (kind == "winmsg-wparam") {
      // Announcements from handles that are no peer: none, the broadcast handle, no window, the
      // receiver itself, the desktop, a child window, all bits set, high bits set.
      const HWND child = FindWindowExA(Target, nullptr, nullptr, nullptr);
      for (WPARAM from :
           {WPARAM{0}, WPARAM{0xFFFF}, WPARAM{0x12345678}, reinterpret_cast<WPARAM>(Target),
            reinterpret_cast<WPARAM>(GetDesktopWindow()), reinterpret_cast<WPARAM>(child),
            ~WPARAM{0}, static_cast<WPARAM>(0x100000000ull) | reinterpret_cast<WPARAM>(Own)}) {
        Send(WM_WINMSG, from, PackParam(ctlCode, ctlHello));
        Send(WM_WINMSG, from, PackParam(ctlCode, ctlQueryId));
        Send(WM_WINMSG, from, PackParam(ctlCode, ctlBye));
      }
    } else if (kind == "copydata-flood") {
      std::vector<uint8_t> block(4096, 0x11);
      for (int i = 0; i < 10000; ++i)
        CopyData(reinterpret_cast<WPARAM>(Own), static_cast<ULONG_PTR>(i % 3), block.data(),
                 static_cast<DWORD>(block.size()));
    } else {
      std::fprintf(stderr, "bad-sender: unknown kind %s\n", kind.c_str());
      return false;
    }
    // The window still answers.
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR ignored = 0;
    const bool alive = SendMessageTimeoutA(Target, WM_NULL, 0, 0, SMTO_NORMAL, TimeoutMs, &ignored);
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    std::string results;
    for (const auto& [r, n] : Tally.Results)
      results += (results.empty() ? "" : ", ") + std::to_string(r) + ": " + std::to_string(n);
    std::printf(
        "kind %s: %d messages, %d answered, %d timed out, results {%s}, window %s in %lld ms\n",
        kind.c_str(), Tally.Sent, Tally.Answered, Tally.TimedOut, results.c_str(),
        alive ? "answered" : "did NOT answer", ms);
    std::fflush(stdout);
    return alive && (Tally.TimedOut == 0 || kind == "copydata-huge");
  }

 private:
  static void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }

  HWND Target;
  size_t HugeBytes;
  HWND Own = nullptr;
  TTally Tally;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: bad-sender <kind>|all [MB [class]]\n");
    return 2;
  }
  if (argc == 4) WantedClass = argv[3];
  HWND target = nullptr;
  EnumWindows(FindMain, reinterpret_cast<LPARAM>(&target));
  if (!target) {
    std::fprintf(stderr, "bad-sender: no window of class %s\n", WantedClass.c_str());
    return 1;
  }
  const size_t megabytes = argc >= 3 ? std::strtoul(argv[2], nullptr, 10) : 1;
  TSender sender(target, megabytes << 20);
  const std::string kind = argv[1];
  bool ok = true;
  if (kind == "all") {
    for (const char* k : {"copydata-empty", "copydata-wrong", "winmsg-lparam", "winmsg-wparam",
                          "copydata-huge", "copydata-flood"})
      ok = sender.Run(k) && ok;
  } else {
    ok = sender.Run(kind);
  }
  return ok ? 0 : 1;
}
