#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "ui/Controls.h"

class TWin32ControlView;

// The Win32 binding of the control toolkit for one form: a child window of the form for every
// bound control, hints as tooltips, and the child notifications turned into control events.
// Controls inside a panel are positioned relative to it and shown and enabled only with it.
// Every child window carries the property "KestruneControl" (a global atom of the control's
// name) so that other processes can find it; gauges and sliders also carry "KestruneValue".
class TWin32Controls {
 public:
  explicit TWin32Controls(HWND form);
  ~TWin32Controls();
  TWin32Controls(const TWin32Controls&) = delete;
  TWin32Controls& operator=(const TWin32Controls&) = delete;

  // Creates the control's window and binds the control to it; the control keeps it until it is
  // destroyed or Clear runs.
  void Bind(TControl& control);
  // Unbinds every control and destroys their windows.
  void Clear();
  // Notifications the form's window procedure receives from its children; true when handled.
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  HWND Form() const { return Form_; }
  HWND ToolTip() const { return ToolTip_; }
  // The control's window, or null when it is not bound here.
  HWND HandleOf(const TControl& control) const;

 private:
  friend class TWin32ControlView;
  TWin32ControlView* ViewOf(HWND hwnd) const;
  void Forget(TWin32ControlView* view);
  void UpdateChildren(const TControl& parent);
  HFONT Font(bool bold, bool underline);

  HWND Form_;
  HWND ToolTip_ = nullptr;
  std::vector<std::unique_ptr<TWin32ControlView>> Views;
  std::map<HWND, TWin32ControlView*> ByHandle;
  std::map<int, HFONT> Fonts;
};
