#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "platform/win32/Handles.h"
#include "ui/Controls.h"

class TWin32ControlView;

// The Win32 binding of the control toolkit for one window: a child window of the form for every
// bound control (standard controls: static, button, check box, trackbar, combo box, list box,
// edit, up-down), hints as tooltips, and the child notifications turned into control events.
// Controls inside a panel are positioned relative to it and shown and enabled only with it.
//
// A control made of several windows (radio group, spin edit, directory field) has a container
// window of class "TKestruneGroup" holding them; the container passes their notifications on
// to the form. Every control's (outer) window carries the property "KestruneControl" (a global
// atom of the control's name) so that other processes can find it; gauges and sliders also
// carry "KestruneValue". The tab order is the order in which the controls were bound.
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
  HWND ToolTip() const { return ToolTip_.Get(); }
  // The control's (outer) window, or null when it is not bound here.
  HWND HandleOf(const TControl& control) const;
  // The windows a control is made of besides its outer one, in order: the radio buttons of a
  // radio group; the edit and up-down of a spin edit; the edit and button of a directory field.
  std::vector<HWND> PartsOf(const TControl& control) const;
  // The visible and enabled button marked Default, or null.
  HWND DefaultButton() const;

 private:
  friend class TWin32ControlView;
  TWin32ControlView* ViewOf(HWND hwnd) const;
  void Forget(TWin32ControlView* view);
  void UpdateChildren(const TControl& parent);
  void Track(HWND hwnd, TWin32ControlView* view);
  void Untrack(HWND hwnd);
  HFONT Font(bool bold, bool underline);
  int NextId() { return NextId_++; }

  HWND Form_;
  TWindowHandle ToolTip_;
  std::vector<std::unique_ptr<TWin32ControlView>> Views;
  std::map<HWND, TWin32ControlView*> ByHandle;
  std::map<int, TGdiObject<HFONT>> Fonts;
  // Child window ids: unique in the form, clear of IDOK and IDCANCEL.
  int NextId_ = 100;
};
