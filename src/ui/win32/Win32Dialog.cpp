#include "ui/win32/Win32Dialog.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

// No WS_CLIPCHILDREN: group boxes leave their inside to the window below them.
constexpr DWORD DialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD DialogExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

bool IsPushButton(HWND hwnd) {
  char cls[16] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (lstrcmpiA(cls, "Button") != 0) return false;
  const LONG_PTR type = GetWindowLongPtrA(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool IsEdit(HWND hwnd) {
  char cls[16] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  return lstrcmpiA(cls, "Edit") == 0;
}

// Starts the folder browser at the directory it was given.
int CALLBACK BrowseStart(HWND hwnd, UINT msg, LPARAM, LPARAM start) {
  if (msg == BFFM_INITIALIZED && start) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, start);
  return 0;
}

}  // namespace

TWin32Dialog::TWin32Dialog(TWin32App& app, std::string className)
    : TWin32Window(app, std::move(className)) {}

TWin32Dialog::~TWin32Dialog() {
  if (Handle()) DestroyWindow(Handle());
}

bool TWin32Dialog::ShowModal(TFormHandler& handler, HWND owner, const std::string& caption,
                             int clientWidth, int clientHeight) {
  if (Running_ || Handle()) return false;
  Ended = false;
  Result = false;
  SavedFocus = nullptr;
  TShape shape;
  shape.Caption = caption;
  shape.Style = DialogStyle;
  shape.ExStyle = DialogExStyle;
  shape.ClientWidth = clientWidth;
  shape.ClientHeight = clientHeight;
  shape.Owner = owner;
  Running_ = true;
  if (!CreateFor(handler, shape)) {
    Running_ = false;
    return false;
  }
  // EnableWindow answers whether the window was disabled before.
  const bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);
  ShowWindow(Handle(), SW_SHOWNORMAL);
  SetForegroundWindow(Handle());
  FocusFirst();
  MSG msg;
  while (!Ended && Handle()) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The program ends: the quit belongs to the main loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) {
      // A message that could not be handed over is lost; the dialog stays.
      Sleep(10);
      continue;
    }
    if (!Handle() || !IsDialogMessageA(Handle(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  if (Handle()) DestroyWindow(Handle());
  Running_ = false;
  return Ended && Result;
}

void TWin32Dialog::EndModal(bool ok) {
  if (!Running_ || Ended) return;
  Ended = true;
  Result = ok;
  // The loop looks at Ended after each message; this one makes sure one comes.
  if (Handle()) PostMessageA(Handle(), WM_NULL, 0, 0);
}

void TWin32Dialog::CloseAllowed() {
  if (Running_)
    EndModal(false);
  else
    TWin32Window::CloseAllowed();
}

HWND TWin32Dialog::DefaultButton() const {
  return Controls() ? Controls()->DefaultButton() : nullptr;
}

void TWin32Dialog::FocusFirst() {
  if (HWND first = GetNextDlgTabItem(Handle(), nullptr, FALSE)) Focus(first);
}

void TWin32Dialog::Focus(HWND target) {
  if (!target) return;
  SetFocus(target);
  // A field reached by the keyboard is selected whole, ready to be typed over.
  if (IsEdit(target)) SendMessageA(target, EM_SETSEL, 0, -1);
}

LRESULT TWin32Dialog::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case DM_GETDEFID: {
      // Enter presses the button that has the focus, else the default one.
      HWND focus = GetFocus();
      HWND button =
          focus && IsChild(Handle(), focus) && IsPushButton(focus) ? focus : DefaultButton();
      if (!button) return 0;
      return MAKELRESULT(GetDlgCtrlID(button), DC_HASDEFID);
    }
    case WM_NEXTDLGCTL:
      // Sent by the dialog keys (IsDialogMessage): Tab, Shift+Tab and the arrows in a group.
      if (LOWORD(lParam))
        Focus(reinterpret_cast<HWND>(wParam));
      else
        Focus(GetNextDlgTabItem(Handle(), GetFocus(), wParam != 0));
      return 0;
    case WM_COMMAND:
      // Escape arrives as IDCANCEL and Enter without a default button as IDOK, from no control.
      if (lParam == 0 && LOWORD(wParam) == IDCANCEL) {
        RequestClose();
        return 0;
      }
      if (lParam == 0 && LOWORD(wParam) == IDOK) return 0;
      break;
    case WM_ACTIVATE:
      // The focus leaves with the activation and comes back to where it was.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus)) SavedFocus = focus;
      } else if (SavedFocus && IsWindow(SavedFocus) && IsChild(Handle(), SavedFocus)) {
        SetFocus(SavedFocus);
        return 0;
      } else {
        FocusFirst();
        return 0;
      }
      break;
  }
  return TWin32Window::Dispatch(msg, wParam, lParam);
}

std::optional<std::string> TWin32Dialog::ChooseDirectory(const std::string& start) {
  // The folder browser needs COM on this thread; a thread that has it already keeps it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  char display[MAX_PATH] = {};
  BROWSEINFOA bi{};
  bi.hwndOwner = Handle();
  bi.pszDisplayName = display;
  bi.lpszTitle = "Choose a directory";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bi.lpfn = BrowseStart;
  bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  std::optional<std::string> chosen;
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&bi)) {
    char path[MAX_PATH] = {};
    if (SHGetPathFromIDListA(list, path)) chosen = path;
    CoTaskMemFree(list);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}
