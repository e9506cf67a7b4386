#pragma once

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
  // True when the window may close and the program end; false keeps it open.
  virtual bool FormClose() = 0;
  // The system's end-session query, after the window's default answer.
  virtual void WMSystem_Shutdown_Query() = 0;
  virtual void OnMinimize() = 0;
  virtual void OnRestore() = 0;
  virtual void TrayIconDblClick() = 0;
  // Every control and timer of the form, for the binding to create and wire.
  virtual std::vector<TControl*> FormControls() = 0;
  virtual std::vector<TTimer*> FormTimers() = 0;
};
