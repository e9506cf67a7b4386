// kestrune-probe: looks at a running Kestrune window from another process, the way end-to-end
// tests need it. Controls are found by the "KestruneControl" property of their windows, in the
// windows of the first main window's thread: an enabled window (an open dialog) before a
// disabled one (the main window while the dialog is open). Values are read and changed through
// the controls' own window messages, as a user's input would change them.
//
//   kestrune-probe windows                           every main window: pid, hwnd, caption, state
//   kestrune-probe text <Control>                    the text the control shows
//   kestrune-probe value <Control>                   a gauge's, slider's or spin edit's value, the
//                                                    selected position of a list (-1: none)
//   kestrune-probe set <Control> <value>             moves a slider, types into a field
//   kestrune-probe checked <Control>                 a check box's state: 1 or 0
//   kestrune-probe check <Control> 1|0               clicks the check box when it differs
//   kestrune-probe items <Control>                   the items of a list, one a line
//   kestrune-probe selected <Control>                the selected item's text (empty: none)
//   kestrune-probe select <Control> <text|position>  selects an item as the user does
//   kestrune-probe dblclick <Control>                a double click on a list box's selection
//   kestrune-probe click <Control>                   a click on the control
//   kestrune-probe boxes                             open message boxes: "caption" "text"
//   kestrune-probe answer <button>                   presses a button of the first message box
//   kestrune-probe close                             asks the open dialog to close, or else the
//                                                    main window
//   kestrune-probe minimize                          minimises the main window as its button does
//   kestrune-probe wait <Control> <text> <ms>        waits until the control shows the text
//   kestrune-probe follow <Control> <ms>             looks at the control every ms until ended
//                                                    and prints each text it shows, with the
//                                                    local time: "2026-12-09 03:12:44.120 WAIT"
//                                                    ("-" while there is no such control)
//
// Exit codes: 0 done, 1 not found (or the text did not come in time), 2 wrong arguments.

#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>

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

std::string ClassOf(HWND hwnd) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  return cls;
}

bool IsClass(HWND hwnd, const char* cls) {
  return lstrcmpiA(ClassOf(hwnd).c_str(), cls) == 0;
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

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

// The top-level windows of the first main window's thread: enabled ones first.
std::vector<HWND> ProgramWindows() {
  const auto mains = MainWindows();
  if (mains.empty()) return {};
  std::vector<HWND> all;
  EnumThreadWindows(GetWindowThreadProcessId(mains.front(), nullptr), CollectWindow,
                    reinterpret_cast<LPARAM>(&all));
  std::stable_partition(all.begin(), all.end(), [](HWND h) { return IsWindowEnabled(h) != 0; });
  return all;
}

HWND FindControl(const std::string& name) {
  for (HWND top : ProgramWindows()) {
    TSearch search{name};
    EnumChildWindows(top, MatchControl, reinterpret_cast<LPARAM>(&search));
    if (search.Found) return search.Found;
  }
  return nullptr;
}

// The windows directly inside a control's container, in order.
std::vector<HWND> Inside(HWND hwnd) {
  std::vector<HWND> parts;
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) parts.push_back(c);
  return parts;
}

// A radio group's buttons in their order.
std::vector<HWND> Radios(HWND group) {
  std::vector<HWND> radios;
  for (HWND c : Inside(group)) {
    const LONG_PTR type = GetWindowLongPtrA(c, GWL_STYLE) & BS_TYPEMASK;
    if (IsClass(c, "Button") && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON))
      radios.push_back(c);
  }
  // Made in order, each below the last: the window list runs in the same order.
  return radios;
}

// The edit field of a control: itself, or the one inside its container.
HWND FieldOf(HWND hwnd) {
  if (IsClass(hwnd, "Edit")) return hwnd;
  for (HWND c : Inside(hwnd))
    if (IsClass(c, "Edit")) return c;
  return nullptr;
}

LRESULT Ask(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, SendTimeoutMs, &answer))
    return -1;
  return static_cast<LRESULT>(answer);
}

// The notification a control sends its parent when the user changes it.
void NotifyParent(HWND hwnd, WORD code) {
  PostMessageA(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code),
               reinterpret_cast<LPARAM>(hwnd));
}

std::vector<std::string> Items(HWND hwnd) {
  std::vector<std::string> items;
  if (IsClass(hwnd, "ComboBox") || IsClass(hwnd, "ListBox")) {
    const bool combo = IsClass(hwnd, "ComboBox");
    const LRESULT count = Ask(hwnd, combo ? CB_GETCOUNT : LB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
      // Read as wide text: Wine hands an item of another process's list to an ANSI caller cut
      // to its first character.
      const LRESULT length = Ask(hwnd, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i);
      std::vector<wchar_t> wide(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1);
      DWORD_PTR got = 0;
      SendMessageTimeoutW(hwnd, combo ? CB_GETLBTEXT : LB_GETTEXT, i,
                          reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, SendTimeoutMs,
                          &got);
      char text[1024] = {};
      WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text, sizeof(text) - 1, nullptr, nullptr);
      items.emplace_back(text);
    }
  } else {
    for (HWND radio : Radios(hwnd)) items.push_back(WindowText(radio));
  }
  return items;
}

// The selected position of a drop-down list, list box or radio group; -1 for none.
int SelectedIndex(HWND hwnd) {
  if (IsClass(hwnd, "ComboBox")) return static_cast<int>(Ask(hwnd, CB_GETCURSEL));
  if (IsClass(hwnd, "ListBox")) return static_cast<int>(Ask(hwnd, LB_GETCURSEL));
  const auto radios = Radios(hwnd);
  for (size_t i = 0; i < radios.size(); ++i)
    if (Ask(radios[i], BM_GETCHECK) == BST_CHECKED) return static_cast<int>(i);
  return -1;
}

bool IsList(HWND hwnd) {
  return IsClass(hwnd, "ComboBox") || IsClass(hwnd, "ListBox") || !Radios(hwnd).empty();
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
  if (IsClass(hwnd, TRACKBAR_CLASSA)) {
    std::printf("%d\n", static_cast<int>(Ask(hwnd, TBM_GETPOS)));
  } else if (IsList(hwnd)) {
    std::printf("%d\n", SelectedIndex(hwnd));
  } else if (HWND field = FieldOf(hwnd)) {
    std::printf("%s\n", WindowText(field).c_str());
  } else {
    std::printf("%d\n", static_cast<int>(reinterpret_cast<INT_PTR>(GetPropA(hwnd, ValueProp))));
  }
  return 0;
}

int SetValue(const std::string& name, const std::string& value) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  if (IsClass(hwnd, TRACKBAR_CLASSA)) {
    char* end = nullptr;
    const long pos = std::strtol(value.c_str(), &end, 10);
    if (!end || *end || value.empty()) {
      std::fprintf(stderr, "kestrune-probe: a slider takes a whole number: %s\n", value.c_str());
      return 2;
    }
    // The position, then the notification the trackbar sends when the user lets go of it.
    Ask(hwnd, TBM_SETPOS, TRUE, pos);
    PostMessageA(GetParent(hwnd), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos & 0xFFFF),
                 reinterpret_cast<LPARAM>(hwnd));
    return 0;
  }
  if (HWND field = FieldOf(hwnd)) {
    // The field tells the form itself (EN_CHANGE), as it does for typing.
    Ask(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    return 0;
  }
  std::fprintf(stderr, "kestrune-probe: %s is neither a slider nor a field\n", name.c_str());
  return 2;
}

int PrintChecked(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  std::printf("%d\n", Ask(hwnd, BM_GETCHECK) == BST_CHECKED ? 1 : 0);
  return 0;
}

int Check(const std::string& name, const std::string& state) {
  if (state != "0" && state != "1") return 2;
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  const bool checked = Ask(hwnd, BM_GETCHECK) == BST_CHECKED;
  if (checked != (state == "1")) PostMessageA(hwnd, BM_CLICK, 0, 0);
  return 0;
}

int PrintItems(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  for (const std::string& item : Items(hwnd)) std::printf("%s\n", item.c_str());
  return 0;
}

int PrintSelected(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  const auto items = Items(hwnd);
  const int i = SelectedIndex(hwnd);
  std::printf("%s\n", i >= 0 && i < static_cast<int>(items.size()) ? items[i].c_str() : "");
  return 0;
}

int Select(const std::string& name, const std::string& which) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  const auto items = Items(hwnd);
  // An item's text, or else a position (a list of numbers is chosen by its texts).
  long index = -1;
  const auto it = std::find(items.begin(), items.end(), which);
  if (it != items.end()) {
    index = static_cast<long>(it - items.begin());
  } else {
    char* end = nullptr;
    const long position = std::strtol(which.c_str(), &end, 10);
    if (!which.empty() && end && !*end) index = position;
  }
  if (index < 0 || index >= static_cast<long>(items.size())) {
    std::fprintf(stderr, "kestrune-probe: %s has no item %s\n", name.c_str(), which.c_str());
    return 1;
  }
  if (IsClass(hwnd, "ComboBox")) {
    Ask(hwnd, CB_SETCURSEL, static_cast<WPARAM>(index));
    NotifyParent(hwnd, CBN_SELCHANGE);
  } else if (IsClass(hwnd, "ListBox")) {
    Ask(hwnd, LB_SETCURSEL, static_cast<WPARAM>(index));
    NotifyParent(hwnd, LBN_SELCHANGE);
  } else {
    PostMessageA(Radios(hwnd)[static_cast<size_t>(index)], BM_CLICK, 0, 0);
  }
  return 0;
}

int DblClick(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  if (!IsClass(hwnd, "ListBox")) return 2;
  NotifyParent(hwnd, LBN_DBLCLK);
  return 0;
}

// Message boxes are dialogs of the system's dialog class.
std::vector<HWND> MessageBoxes() {
  std::vector<HWND> boxes;
  for (HWND top : ProgramWindows())
    if (IsClass(top, "#32770") && IsWindowVisible(top)) boxes.push_back(top);
  return boxes;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Children(HWND hwnd) {
  std::vector<HWND> all;
  EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&all));
  return all;
}

int ListBoxes() {
  for (HWND box : MessageBoxes()) {
    std::string text;
    for (HWND c : Children(box)) {
      if (!IsClass(c, "Static")) continue;
      const std::string line = WindowText(c);
      if (line.empty()) continue;
      if (!text.empty()) text.push_back(' ');
      text.append(line);
    }
    std::printf("\"%s\" \"%s\"\n", WindowText(box).c_str(), text.c_str());
  }
  return 0;
}

// A button's text without its mnemonic mark: "&Yes" reads "Yes".
std::string Plain(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
  return text;
}

int Answer(const std::string& button) {
  const auto boxes = MessageBoxes();
  if (boxes.empty()) {
    std::fprintf(stderr, "kestrune-probe: no message box\n");
    return 1;
  }
  for (HWND c : Children(boxes.front())) {
    if (IsClass(c, "Button") && lstrcmpiA(Plain(WindowText(c)).c_str(), button.c_str()) == 0) {
      PostMessageA(c, BM_CLICK, 0, 0);
      return 0;
    }
  }
  std::fprintf(stderr, "kestrune-probe: the message box has no button %s\n", button.c_str());
  return 1;
}

int Click(const std::string& name) {
  HWND hwnd = FindControl(name);
  if (!hwnd) return NotFound(name);
  if (IsClass(hwnd, "Button")) {
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

// The window the user would close now: an open dialog, else the main window.
int CloseForemost() {
  const auto mains = MainWindows();
  if (mains.empty()) {
    std::fprintf(stderr, "kestrune-probe: no %s window\n", MainClass);
    return 1;
  }
  HWND target = mains.front();
  for (HWND top : ProgramWindows()) {
    const bool captioned = (GetWindowLongPtrA(top, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
    if (IsWindowEnabled(top) && IsWindowVisible(top) && captioned && !IsClass(top, "#32770")) {
      target = top;
      break;
    }
  }
  PostMessageA(target, WM_CLOSE, 0, 0);
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

int Follow(const std::string& name, const char* intervalText) {
  char* end = nullptr;
  const long interval = std::strtol(intervalText, &end, 10);
  if (!end || *end || interval < 10 || interval > 60000) {
    std::fprintf(stderr, "kestrune-probe: the interval must be 10..60000 ms: %s\n", intervalText);
    return 2;
  }
  // A line for the first look too, so the reader knows where things started.
  std::string last = "\n";
  for (;;) {
    HWND hwnd = FindControl(name);
    const std::string text = hwnd ? WindowText(hwnd) : "-";
    if (text != last) {
      SYSTEMTIME t;
      GetLocalTime(&t);
      std::printf("%04u-%02u-%02u %02u:%02u:%02u.%03u %s\n", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds, text.c_str());
      std::fflush(stdout);
      last = text;
    }
    Sleep(static_cast<DWORD>(interval));
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: kestrune-probe windows|boxes|close|minimize\n"
               "       kestrune-probe text|value|click|checked|items|selected|dblclick <Control>\n"
               "       kestrune-probe set <Control> <value>\n"
               "       kestrune-probe check <Control> 1|0\n"
               "       kestrune-probe select <Control> <text|position>\n"
               "       kestrune-probe answer <button>\n"
               "       kestrune-probe wait <Control> <text> <timeout-ms>\n"
               "       kestrune-probe follow <Control> <interval-ms>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& cmd = args[0];
  if (cmd == "windows" && args.size() == 1) return ListWindows();
  if (cmd == "close" && args.size() == 1) return CloseForemost();
  if (cmd == "minimize" && args.size() == 1) return MinimizeMain();
  if (cmd == "text" && args.size() == 2) return PrintText(args[1]);
  if (cmd == "value" && args.size() == 2) return PrintValue(args[1]);
  if (cmd == "click" && args.size() == 2) return Click(args[1]);
  if (cmd == "set" && args.size() == 3) return SetValue(args[1], args[2]);
  if (cmd == "checked" && args.size() == 2) return PrintChecked(args[1]);
  if (cmd == "check" && args.size() == 3) return Check(args[1], args[2]);
  if (cmd == "items" && args.size() == 2) return PrintItems(args[1]);
  if (cmd == "selected" && args.size() == 2) return PrintSelected(args[1]);
  if (cmd == "select" && args.size() == 3) return Select(args[1], args[2]);
  if (cmd == "dblclick" && args.size() == 2) return DblClick(args[1]);
  if (cmd == "boxes" && args.size() == 1) return ListBoxes();
  if (cmd == "answer" && args.size() == 2) return Answer(args[1]);
  if (cmd == "wait" && args.size() == 4) return Wait(args[1], args[2], argv[4]);
  if (cmd == "follow" && args.size() == 3) return Follow(args[1], argv[3]);
  return Usage();
}
