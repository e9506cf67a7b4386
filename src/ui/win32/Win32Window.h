#pragma once

// A top-level window on Windows that hosts form logic (a TFormHandler): registers its window
// class, creates the window centred on the screen, creates and binds the form's controls,
// attaches its timers to the application, and dispatches messages: the controls'
// notifications, the form's private and WM_COPYDATA messages (TFormHandler::FormMessage), and
// the close request, which the form's FormClose decides. The main window and the modal dialog
// are built on it.

#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/Handles.h"
#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Controls.h"

class TWin32Window : public TDialogs {
 public:
  TWin32Window(TWin32App& app, std::string className);
  ~TWin32Window() override;
  TWin32Window(const TWin32Window&) = delete;
  TWin32Window& operator=(const TWin32Window&) = delete;

  HWND Handle() const { return Window.Get(); }
  // The binding of the form's controls; null before the window exists and after it is gone.
  TWin32Controls* Controls() const { return Controls_.get(); }
  const std::string& ClassName() const { return ClassName_; }

  // Title of the message boxes.
  std::string Title = "Orvanta Kestrune";

  // TDialogs: message boxes owned by this window.
  bool Confirm(const std::string& text) override;
  void Information(const std::string& text) override;
  void Error(const std::string& text) override;

 protected:
  struct TShape {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
    HWND Owner = nullptr;
    // The class's icon (shared, not destroyed here); none gives the system's default.
    HICON Icon = nullptr;
  };

  // Creates the window (hidden), binds every control of FormControls, attaches every timer of
  // FormTimers to the application and runs FormCreate. False when the window cannot be created
  // or FormCreate destroyed it.
  bool CreateFor(TFormHandler& handler, const TShape& shape);

  // The window's messages; a derived window handles its own first and passes the rest on.
  virtual LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  // FormClose allowed the close: the main window goes, a dialog ends its loop.
  virtual void CloseAllowed();
  // WM_DESTROY, while the controls still exist.
  virtual void Destroying() {}
  // Asks the form whether the window may close, as WM_CLOSE does.
  void RequestClose();

  TWin32App& App;
  TFormHandler* Handler = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool RegisterWindowClass(HICON icon);

  std::string ClassName_;
  TWindowHandle Window;
  std::unique_ptr<TWin32Controls> Controls_;
  bool Closing = false;
};
