#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the form logic asks of the window it lives in. Win32 implements these on the real window;
// tests implement them by recording.

class TFormWindow {
 public:
  virtual ~TFormWindow() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  // Posts (not sends) a minimise, so it happens once the message loop runs.
  virtual void PostMinimize() = 0;
  // The application's taskbar button.
  virtual void ShowTaskbarButton(bool show) = 0;
  virtual void BringToFront() = 0;
  // Asks the window to close; the form's close handler decides.
  virtual void Close() = 0;
  // The process asks for the real-time priority class; the result is not examined.
  virtual void RequestRealtimePriority() = 0;
  // The platform's handle of the window (what plug-ins get as their parent); none headless.
  virtual void* NativeHandle() { return nullptr; }
};

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  virtual void Information(const std::string& text) = 0;
  // The application's default error box.
  virtual void Error(const std::string& text) = 0;
};

// Hands an address (a web page, a file) to the system, which opens it in its program.
class TShell {
 public:
  virtual ~TShell() = default;
  // False when the system could not open it.
  virtual bool OpenAddress(const std::string& address) = 0;
};

// What a modal dialog's logic asks of its window.
class TModalWindow {
 public:
  virtual ~TModalWindow() = default;
  // Ends the dialog: with the OK result or without.
  virtual void EndModal(bool ok) = 0;
};

// Asks the user for a directory, starting at the given one; nothing when the user cancels.
class TDirectoryChooser {
 public:
  virtual ~TDirectoryChooser() = default;
  virtual std::optional<std::string> ChooseDirectory(const std::string& start) = 0;
};

class TTrayIcon {
 public:
  virtual ~TTrayIcon() = default;
  virtual void SetHint(const std::string& hint) = 0;
  virtual void SetIconVisible(bool visible) = 0;
  virtual void SetAnimate(bool animate) = 0;
};

class TControl;
class TTimer;

// What the window forwards to the form logic that lives in it.
class TFormHandler {
 public:
  virtual ~TFormHandler() = default;
  virtual void FormCreate() = 0;
  // True when the window may close (and the program end, for the main window); false keeps it
  // open.
  virtual bool FormClose() = 0;
  // Raised by the main window only (a dialog has no tray and no end-session query): the
  // system's end-session query, after the window's default answer; minimise and restore; a
  // double click on the tray icon.
  virtual void WMSystem_Shutdown_Query() {}
  virtual void OnMinimize() {}
  virtual void OnRestore() {}
  virtual void TrayIconDblClick() {}
  // Every control and timer of the form, for the binding to create and wire.
  virtual std::vector<TControl*> FormControls() = 0;
  virtual std::vector<TTimer*> FormTimers() = 0;
  // Messages from other programs and the program's own private ones: FormMessage(msg, wParam,
  // lParam, result) sees WM_COPYDATA and the numbers WM_USER (0x0400) to 0x7FFF before the
  // window's default handling. True when the form handled the message; result is then the
  // window's answer. Values are the window procedure's own (for WM_COPYDATA, lParam points to
  // the COPYDATASTRUCT, valid during the call only).
  virtual bool FormMessage(uint32_t, uintptr_t, intptr_t, intptr_t&) { return false; }
};
