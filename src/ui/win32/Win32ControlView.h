#pragma once

// The Win32 binding's view of one control; shared by the files of the binding only.

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/win32/Win32Canvas.h"
#include "ui/win32/Win32Controls.h"

namespace win32_controls {

inline const char* const GaugeClass = "TKestruneGauge";
inline const char* const ImageClass = "TKestruneImage";
inline const char* const GroupClass = "TKestruneGroup";
// Read by kestrune-probe from other processes (the same names as in link/Protocol.h).
inline const char* const NameProp = "KestruneControl";
inline const char* const ValueProp = "KestruneValue";

inline bool IsStatic(TControlKind kind) {
  return kind == TControlKind::Label || kind == TControlKind::LinkLabel;
}

// Bits of the mouse buttons pressed on an owner-drawn control.
inline constexpr unsigned LeftButton = 1, RightButton = 2, MiddleButton = 4;

inline unsigned ButtonOf(UINT msg) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return LeftButton;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
      return RightButton;
    default:
      return MiddleButton;
  }
}

inline std::string WindowTextOf(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
  return text;
}

inline constexpr int UpDownWidth = 17;
inline constexpr int BrowseWidth = 26;
// Room for the list a drop-down list opens below its field.
inline constexpr int DropDownHeight = 200;

// Registers the binding's own window classes (gauge, image, container).
void RegisterOwnClasses();

}  // namespace win32_controls

// One control's windows, kept in step with the control.
class TWin32ControlView : public TControlView {
 public:
  TWin32ControlView(TWin32Controls& owner, TControl& control);
  ~TWin32ControlView() override;
  TWin32ControlView(const TWin32ControlView&) = delete;
  TWin32ControlView& operator=(const TWin32ControlView&) = delete;

  void Update(const TControl& control) override;
  void Released(const TControl& control) override;
  TCanvas* Canvas() override { return Picture.get(); }

  void Unbind();
  void Paint(HDC dc);
  // A notification from one of the control's windows; true when it meant something here.
  bool Command(HWND from, WORD code);
  bool Notify(const NMHDR& header, LRESULT& result);
  void UserMoved();
  LRESULT ColorStatic(HDC dc);
  bool TakesColor() const;
  bool WantsHand() const {
    return Control && (Control->HandCursor || Control->Kind == TControlKind::LinkLabel);
  }
  // The windows inside a container: radios, edit and up-down, edit and browse button.
  std::vector<HWND> Parts() const;

  TWin32Controls& Owner;
  TControl* Control;
  TWindowHandle Window;
  unsigned PressedButtons = 0;

 private:
  HWND MakeChild(const char* cls, DWORD style, DWORD exStyle, HWND parent);
  void MakeParts();
  void RebuildRadios(const std::vector<std::string>& items);
  void LayoutParts(int width, int height);
  void MirrorValues(const TControl& control, bool& repaint);
  void UpdateHint(const std::string& hint);
  void SetTool(HWND hwnd, const std::string& hint, bool add);
  int LinkWidth(const TControl& control, HFONT font) const;
  bool EffectivelyVisible() const;
  bool EffectivelyEnabled() const;

  ATOM NameAtom = 0;
  std::unique_ptr<TWin32Canvas> Picture;
  // Inside the container of a composite control.
  HWND Frame = nullptr;  // a radio group's frame with its caption
  HWND Field = nullptr;  // the edit of a spin edit or directory field
  HWND Side = nullptr;   // the up-down of a spin edit, the browse button of a directory field
  // Children of the container, which destroys them with itself.
  std::vector<HWND> Radios;
  bool Mirroring = false;
  // The user is typing into a spin edit: the field keeps the text as typed.
  bool Typing = false;
  // Windows that have a tool in the tooltip.
  std::vector<HWND> Tools;
  // What the windows show now, so that an unchanged value costs no window call.
  RECT Shown{-1, -1, -1, -1};
  HFONT ShownFont = nullptr;
  std::string ShownText, ShownHint;
  bool ShownVisible = false, ShownEnabled = true;
  int ShownMin = 0, ShownMax = 0, ShownValue = 0;
  bool ShownChecked = false, ShownDefault = false;
  std::vector<std::string> ShownItems;
  int ShownIndex = -1;
  TColor ShownColor{};
  bool FirstUpdate = true;
};
