// kestrune-probe: looks at a running Kestrune window from another process, the way end-to-end
// tests need it. Controls are found by the "KestruneControl" property of their windows.
//
//   kestrune-probe windows                           every main window: pid, hwnd, caption, state
//   kestrune-probe text <Control>                    the text the control shows
//   kestrune-probe value <Control>                   a gauge's or slider's value
//   kestrune-probe click <Control>                   a click on the control
//   kestrune-probe close                             asks the main window to close
//   kestrune-probe minimize                          minimises the main window as its button does
//   kestrune-probe wait <Control> <text> <ms>        waits until the control shows the text
//
// Exit codes: 0 done, 1 not found (or the text did not come in time), 2 wrong arguments.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/Protocol.h"

namespace {

const char* const MainClass = MainWindowClass;
const char* const NameProp = ControlNameProp;
const char* const ValueProp = ControlValueProp;
constexpr UINT SendTimeoutMs = 2000;

BOOL CALLBACK CollectMain(HWND hwnd, LPARAM param) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (std::string(cls) == MainClass) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> MainWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectMain, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The text of any window, also of another process; a hung window gives nothing.
std::string WindowText(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &length))
    return {};
  std::vector<char> buf(length + 1);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_ABORTIFHUNG, SendTimeoutMs, &copied))
    return {};
  return std::string(buf.data(), std::min<size_t>(copied, length));
}

std::string ControlName(HWND hwnd) {
  const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropA(hwnd, NameProp)));
  if (!atom) return {};
  char name[256] = {};
  const UINT n = GlobalGetAtomNameA(atom, name, sizeof(name));
  return std::string(name, n);
}

struct TSearch {
  std::string Name;
  HWND Found = nullptr;
};

BOOL CALLBACK MatchControl(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<TSearch*>(param);
  if (ControlName(hwnd) != s->Name) return TRUE;
  s->Found = hwnd;
  return FALSE;
}

// The control of that name in the first main window.
HWND FindControl(const std::string& name) {
  const auto mains = MainWindows();
  if (mains.empty()) return nullptr;
  TSearch search{name};
  EnumChildWindows(mains.front(), MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

int ListWindows() {
  for (HWND hwnd : MainWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    std::printf("%lu 0x%llx \"%s\" %s %s\n", static_cast<unsigned long>(pid),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)),
                WindowText(hwnd).c_str(), IsWindowVisible(hwnd) ? "visible" : "hidden",
                IsIconic(hwnd) ? "minimised" : "normal");
  }
  return 0;
}

int NotFound(const std::string& name) {
  std::fprintf(stderr, "kestrune-probe: no control %s in a %s window\n", name.c_str(), MainClass);
  return 1;
}

int PrintText(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  std::printf("%s\n", WindowText(hwnd).c_str());
  return 0;
}

int PrintValue(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  std::printf("%d\n", static_cast<int>(reinterpret_cast<INT_PTR>(GetPropA(hwnd, ValueProp))));
  return 0;
}

int Click(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (lstrcmpiA(cls, "Button") == 0) {
    PostMessageA(hwnd, BM_CLICK, 0, 0);
  } else {
    // A press and release in the middle of the control.
    RECT r;
    GetClientRect(hwnd, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(hwnd, WM_LBUTTONUP, 0, at);
  }
  return 0;
}

int CloseMain() {
  const auto mains = MainWindows();
  if (mains.empty()) {
    std::fprintf(stderr, "kestrune-probe: no %s window\n", MainClass);
    return 1;
  }
  PostMessageA(mains.front(), WM_CLOSE, 0, 0);
  return 0;
}

int MinimizeMain() {
  const auto mains = MainWindows();
  if (mains.empty()) return 1;
  PostMessageA(mains.front(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  return 0;
}

int Wait(const std::string& name, const std::string& text, const char* timeoutText) {
  char* end = nullptr;
  const long timeout = std::strtol(timeoutText, &end, 10);
  if (!end || *end || timeout < 0) {
    std::fprintf(stderr, "kestrune-probe: timeout must be milliseconds: %s\n", timeoutText);
    return 2;
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout);
  std::string last;
  for (;;) {
    // The window may come (or come back) while we wait: look it up every time.
    if (HWND hwnd = FindControl(name)) {
      last = WindowText(hwnd);
      if (last == text) return 0;
    }
    if (GetTickCount64() >= deadline) break;
    Sleep(50);
  }
  std::fprintf(stderr, "kestrune-probe: %s shows \"%s\", not \"%s\"\n", name.c_str(), last.c_str(),
               text.c_str());
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: kestrune-probe windows\n"
               "       kestrune-probe text|value|click <Control>\n"
               "       kestrune-probe close|minimize\n"
               "       kestrune-probe wait <Control> <text> <timeout-ms>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& cmd = args[0];
  if (cmd == "windows" && args.size() == 1) return ListWindows();
  if (cmd == "close" && args.size() == 1) return CloseMain();
  if (cmd == "minimize" && args.size() == 1) return MinimizeMain();
  if (cmd == "text" && args.size() == 2) return PrintText(args[1]);
  if (cmd == "value" && args.size() == 2) return PrintValue(args[1]);
  if (cmd == "click" && args.size() == 2) return Click(args[1]);
  if (cmd == "wait" && args.size() == 4) return Wait(args[1], args[2], argv[4]);
  return Usage();
}
