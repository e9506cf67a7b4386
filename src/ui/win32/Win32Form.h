#pragma once

// The program's main window on Windows: a TWin32Window of the class the caller names, with the
// tray icon, minimising to the tray, the taskbar button, the end-session query and the end of
// the message loop when the window goes.
//
// Usage (WinMain):
//   TWin32App app(instance);                        // first object, last to go
//   TWin32Form form(app, MainWindowClass);          // no window yet
//   TMyForm logic(app, form, form, form);           // TFormWindow, TDialogs, TTrayIcon
//   if (!form.Create(logic, showCommand)) return 1; // controls, timers, FormCreate, shown
//   return app.Run();                               // until FormClose lets the window go
//
// Controls and timers may be destroyed before or after the form: each lets go of its window
// (or window timer) when it goes.

#include <windows.h>

#include <string>

#include "platform/win32/Handles.h"
#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Window.h"

class TWin32Form : public TWin32Window, public TFormWindow, public TTrayIcon, public TShell {
 public:
  TWin32Form(TWin32App& app, std::string className);
  ~TWin32Form() override;

  // Creates the window (client area 318 x 221, centred), creates and binds every control of
  // FormControls and attaches every timer of FormTimers to the application, runs FormCreate,
  // then shows the window. False when the window cannot be created.
  bool Create(TFormHandler& handler, int showCommand = SW_SHOWNORMAL);

  // The window's destruction ends the message loop (Run); a second window in a test does not.
  bool QuitOnDestroy = true;

  // TFormWindow
  void SetCaption(const std::string& caption) override;
  void PostMinimize() override;
  void ShowTaskbarButton(bool show) override;
  void BringToFront() override;
  void Close() override;
  void RequestRealtimePriority() override;
  void* NativeHandle() override { return Handle(); }

  // TTrayIcon: the icon shows while the window is minimised, or always once made visible.
  void SetHint(const std::string& hint) override;
  void SetIconVisible(bool visible) override;
  void SetAnimate(bool animate) override;
  // The icon is wanted in the tray (the shell may still have none to show it in).
  bool TrayIconWanted() const { return TrayVisible || Minimized_; }
  bool Minimized() const { return Minimized_; }

  // TShell: ShellExecute's "open".
  bool OpenAddress(const std::string& address) override;

 protected:
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void Destroying() override;

 private:
  void SizeChanged(WPARAM how);
  void TrayMessage(LPARAM what);
  void UpdateTray();
  HICON TrayImage();

  bool Minimized_ = false;
  std::string TrayHint;
  bool TrayVisible = false;
  bool TrayShown = false;
  bool Animating = false;
  int Frame = 0;
  TIconHandle AppIcon;
  TIconHandle Frames[10];
  UINT TaskbarCreated = 0;
};
