#pragma once

// A modal dialog on Windows: a TWin32Window owned by another window, which is disabled while the
// dialog runs its own message loop. The loop ends when the dialog's logic calls EndModal, when
// its close button or Escape closes it (FormClose decides), or when the window is destroyed with
// its owner. Tab and Shift+Tab move through the controls, the arrow keys through a radio group,
// Enter presses the focused button or else the default one (TControl::Default).
//
// Usage:
//   TWin32Dialog window(app, "TFrSettings");
//   TMyDialog logic(..., window /* TModalWindow, TDialogs, TDirectoryChooser */);
//   const bool ok = window.ShowModal(logic, owner, "Settings", 665, 650);

#include <windows.h>

#include <optional>
#include <string>

#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Window.h"

class TWin32Dialog : public TWin32Window, public TModalWindow, public TDirectoryChooser {
 public:
  TWin32Dialog(TWin32App& app, std::string className);
  ~TWin32Dialog() override;

  // Creates the dialog centred on the screen with the client size, runs FormCreate, disables
  // the owner, shows the dialog and runs its loop. True when it ended with OK. The window is
  // destroyed before this returns; the owner is enabled again first, so it gets the activation.
  bool ShowModal(TFormHandler& handler, HWND owner, const std::string& caption, int clientWidth,
                 int clientHeight);
  // True while ShowModal runs.
  bool Running() const { return Running_; }

  // TModalWindow
  void EndModal(bool ok) override;
  // TDirectoryChooser: the system's folder browser, owned by the dialog.
  std::optional<std::string> ChooseDirectory(const std::string& start) override;

 protected:
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void CloseAllowed() override;

 private:
  void Focus(HWND target);
  HWND DefaultButton() const;
  void FocusFirst();

  bool Running_ = false;
  bool Ended = false;
  bool Result = false;
  // The control that had the focus when the dialog was last deactivated.
  HWND SavedFocus = nullptr;
};
