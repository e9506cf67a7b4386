#pragma once

// The program's main window on Windows: the shell that hosts the form logic (a TFormHandler)
// in a real window of class "TOV_Kestrune", binds its controls and timers, and gives it the
// window, the message boxes and the tray icon.
//
// Usage (WinMain):
//   TWin32App app(instance);             // first object, last to go
//   TWin32Form form(app);                // no window yet
//   TMyForm logic(app, form, form, form); // the logic gets TFormWindow, TDialogs, TTrayIcon
//   if (!form.Create(logic, showCommand)) return 1;  // controls, timers, FormCreate, shown
//   return app.Run();                    // until FormClose lets the window go
//
// Controls and timers may be destroyed before or after the form: each lets go of its window
// (or window timer) when it goes.

#include <windows.h>

#include <memory>
#include <string>

#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Controls.h"

class TWin32Form : public TFormWindow, public TDialogs, public TTrayIcon {
 public:
  explicit TWin32Form(TWin32App& app);
  ~TWin32Form() override;
  TWin32Form(const TWin32Form&) = delete;
  TWin32Form& operator=(const TWin32Form&) = delete;

  // Creates the window (client area 318 x 221, centred), creates and binds every control of
  // FormControls and attaches every timer of FormTimers to the application, runs FormCreate,
  // then shows the window. False when the window cannot be created.
  bool Create(TFormHandler& handler, int showCommand = SW_SHOWNORMAL);
  HWND Handle() const { return Window; }
  // The binding of the form's controls; null before Create and after the window is gone.
  TWin32Controls* Controls() const { return Controls_.get(); }

  // Title of the message boxes and of the application.
  std::string Title = "Orvanta Kestrune";
  // The window's destruction ends the message loop (Run); a second window in a test does not.
  bool QuitOnDestroy = true;

  // TFormWindow
  void SetCaption(const std::string& caption) override;
  void PostMinimize() override;
  void ShowTaskbarButton(bool show) override;
  void BringToFront() override;
  void Close() override;
  void RequestRealtimePriority() override;
  void* NativeHandle() override { return Window; }

  // TDialogs
  bool Confirm(const std::string& text) override;
  void Information(const std::string& text) override;
  void Error(const std::string& text) override;

  // TTrayIcon: the icon shows while the window is minimised, or always once made visible.
  void SetHint(const std::string& hint) override;
  void SetIconVisible(bool visible) override;
  void SetAnimate(bool animate) override;
  // The icon is wanted in the tray (the shell may still have none to show it in).
  bool TrayIconWanted() const { return TrayVisible || Minimized_; }
  bool Minimized() const { return Minimized_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  void SizeChanged(WPARAM how);
  void TrayMessage(LPARAM what);
  void UpdateTray();
  void Destroyed();
  HICON TrayImage();

  TWin32App& App;
  TFormHandler* Handler = nullptr;
  HWND Window = nullptr;
  std::unique_ptr<TWin32Controls> Controls_;
  bool Minimized_ = false;
  bool Closing = false;
  std::string TrayHint;
  bool TrayVisible = false;
  bool TrayShown = false;
  bool Animating = false;
  int Frame = 0;
  HICON AppIcon = nullptr;
  HICON Frames[10] = {};
  UINT TaskbarCreated = 0;
};
