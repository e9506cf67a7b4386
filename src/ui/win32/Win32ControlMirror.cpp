// How a control's values reach its windows: only what changed costs a window call.

#include "ui/win32/Win32ControlView.h"

using namespace win32_controls;

void TWin32ControlView::Update(const TControl& control) {
  if (!Window || Mirroring) return;
  Mirroring = true;
  HWND hwnd = Window.Get();
  const TControlKind kind = control.Kind;
  bool repaint = FirstUpdate;

  // Style bits the look flags ask for; the others (visible, disabled) stay as they are.
  if (IsStatic(kind)) {
    const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrA(hwnd, GWL_EXSTYLE);
    // A link label sits at the right end of its place and keeps to one line (below).
    const LONG_PTR type = control.Centered                  ? SS_CENTER | SS_CENTERIMAGE
                          : kind == TControlKind::LinkLabel ? SS_RIGHT
                                                            : SS_LEFT;
    const LONG_PTR newStyle = (style & ~static_cast<LONG_PTR>(SS_TYPEMASK | SS_CENTERIMAGE)) | type;
    const LONG_PTR newExStyle = (exStyle & ~static_cast<LONG_PTR>(WS_EX_STATICEDGE)) |
                                (control.Framed ? WS_EX_STATICEDGE : 0);
    if (newStyle != style || newExStyle != exStyle) {
      SetWindowLongPtrA(hwnd, GWL_STYLE, newStyle);
      SetWindowLongPtrA(hwnd, GWL_EXSTYLE, newExStyle);
      SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
      repaint = true;
    }
  }
  if (kind == TControlKind::Button && control.Default != ShownDefault) {
    SendMessageA(hwnd, BM_SETSTYLE, control.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    ShownDefault = control.Default;
  }

  HFONT font = Owner.Font(control.Bold, control.Underline || kind == TControlKind::LinkLabel);
  if (font != ShownFont) {
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND part : {Frame, Field, Side})
      if (part) SendMessageA(part, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND radio : Radios)
      SendMessageA(radio, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShownFont = font;
    repaint = true;
  }

  int left = control.Left(), top = control.Top();
  for (const TControl* p = control.Parent; p; p = p->Parent) {
    left += p->Left();
    top += p->Top();
  }
  int width = control.Width(), height = control.Height();
  if (kind == TControlKind::LinkLabel) {
    // Each text shows whole on one line: a longer one widens the label to the left.
    const int needed = LinkWidth(control, font);
    left -= needed - width;
    width = needed;
  }
  // A drop-down list's window also holds the list it opens.
  const int windowHeight = kind == TControlKind::ComboBox ? height + DropDownHeight : height;
  const RECT bounds{left, top, left + width, top + windowHeight};
  if (!EqualRect(&bounds, &Shown)) {
    SetWindowPos(hwnd, nullptr, left, top, width, windowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    Shown = bounds;
    if (Picture) Picture->Resize(width, height);
    LayoutParts(width, height);
  }

  MirrorValues(control, repaint);

  if (control.FontColor() != ShownColor) {
    ShownColor = control.FontColor();
    repaint = true;
  }

  const bool enabled = EffectivelyEnabled();
  if (enabled != ShownEnabled) {
    EnableWindow(hwnd, enabled);
    for (HWND part : {Frame, Field, Side})
      if (part) EnableWindow(part, enabled);
    for (HWND radio : Radios) EnableWindow(radio, enabled);
    ShownEnabled = enabled;
  }
  const bool visible = EffectivelyVisible();
  if (visible != ShownVisible) {
    ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE);
    ShownVisible = visible;
  }

  UpdateHint(control.Hint());
  if (repaint) InvalidateRect(hwnd, nullptr, TRUE);
  FirstUpdate = false;
  Mirroring = false;
  if (kind == TControlKind::Panel) Owner.UpdateChildren(control);
}

void TWin32ControlView::MirrorValues(const TControl& control, bool& repaint) {
  HWND hwnd = Window.Get();
  const TControlKind kind = control.Kind;
  switch (kind) {
    case TControlKind::Gauge:
    case TControlKind::Slider: {
      const auto& range = static_cast<const TRangeControl&>(control);
      // A gauge's window text is what it shows, so another process can read it.
      const std::string text = kind == TControlKind::Gauge ? range.ShownText() : control.Caption();
      if (text != ShownText || FirstUpdate) {
        SetWindowTextA(hwnd, text.c_str());
        ShownText = text;
        repaint = true;
      }
      if (range.Min() != ShownMin || range.Max() != ShownMax || FirstUpdate) {
        if (kind == TControlKind::Slider) {
          SendMessageA(hwnd, TBM_SETRANGEMIN, FALSE, range.Min());
          SendMessageA(hwnd, TBM_SETRANGEMAX, TRUE, range.Max());
        }
        ShownMin = range.Min();
        ShownMax = range.Max();
        repaint = true;
      }
      if (range.Value() != ShownValue || FirstUpdate) {
        // TBM_SETPOS sends no notification back, so the value does not echo.
        if (kind == TControlKind::Slider) SendMessageA(hwnd, TBM_SETPOS, TRUE, range.Value());
        SetPropA(hwnd, ValueProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(range.Value())));
        ShownValue = range.Value();
        repaint = true;
      }
      return;
    }
    case TControlKind::ComboBox:
    case TControlKind::ListBox: {
      const auto& list = static_cast<const TListControl&>(control);
      const bool combo = kind == TControlKind::ComboBox;
      if (list.Items() != ShownItems || FirstUpdate) {
        SendMessageA(hwnd, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
        for (const std::string& item : list.Items())
          SendMessageA(hwnd, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(item.c_str()));
        ShownItems = list.Items();
        ShownIndex = -2;
      }
      if (list.ItemIndex() != ShownIndex) {
        SendMessageA(hwnd, combo ? CB_SETCURSEL : LB_SETCURSEL,
                     static_cast<WPARAM>(list.ItemIndex()), 0);
        ShownIndex = list.ItemIndex();
      }
      return;
    }
    case TControlKind::RadioGroup: {
      const auto& group = static_cast<const TRadioGroup&>(control);
      if (control.Caption() != ShownText || FirstUpdate) {
        SetWindowTextA(hwnd, control.Caption().c_str());
        if (Frame) SetWindowTextA(Frame, control.Caption().c_str());
        ShownText = control.Caption();
      }
      if (group.Items() != ShownItems || FirstUpdate) {
        RebuildRadios(group.Items());
        ShownItems = group.Items();
        ShownIndex = -2;
      }
      if (group.ItemIndex() != ShownIndex) {
        for (size_t i = 0; i < Radios.size(); ++i) {
          const bool chosen = static_cast<int>(i) == group.ItemIndex();
          SendMessageA(Radios[i], BM_SETCHECK, chosen ? BST_CHECKED : BST_UNCHECKED, 0);
          // Tab comes to the chosen button, or to the first while none is chosen.
          const bool stop = chosen || (group.ItemIndex() < 0 && i == 0);
          const LONG_PTR style = GetWindowLongPtrA(Radios[i], GWL_STYLE);
          SetWindowLongPtrA(Radios[i], GWL_STYLE,
                            stop ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        }
        ShownIndex = group.ItemIndex();
      }
      return;
    }
    case TControlKind::CheckBox: {
      const bool checked = static_cast<const TCheckBox&>(control).Checked();
      if (checked != ShownChecked || FirstUpdate) {
        SendMessageA(hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        ShownChecked = checked;
      }
      break;
    }
    case TControlKind::SpinEdit: {
      const std::string text = static_cast<const TSpinEdit&>(control).Text();
      if (text != ShownText || FirstUpdate) {
        // The container's text is the value, for other processes to read.
        SetWindowTextA(hwnd, text.c_str());
        ShownText = text;
        if (Field && !Typing) SetWindowTextA(Field, text.c_str());
      }
      return;
    }
    case TControlKind::Edit:
    case TControlKind::DirectoryEdit: {
      const std::string& text = static_cast<const TEdit&>(control).Text();
      HWND field = kind == TControlKind::Edit ? hwnd : Field;
      // Compared with the field itself: text the user typed is there already, and writing it
      // again would move the caret.
      if (field && (WindowTextOf(field) != text || FirstUpdate))
        SetWindowTextA(field, text.c_str());
      if (kind == TControlKind::DirectoryEdit && (text != ShownText || FirstUpdate)) {
        SetWindowTextA(hwnd, text.c_str());
        ShownText = text;
      }
      return;
    }
    default:
      break;
  }
  // Labels, panels, buttons, check boxes and images show the caption.
  if (control.Caption() != ShownText || FirstUpdate) {
    SetWindowTextA(hwnd, control.Caption().c_str());
    ShownText = control.Caption();
    repaint = true;
  }
}

void TWin32ControlView::RebuildRadios(const std::vector<std::string>& items) {
  for (HWND radio : Radios) {
    SetTool(radio, "", false);
    Owner.Untrack(radio);
    DestroyWindow(radio);
  }
  Radios.clear();
  for (size_t i = 0; i < items.size(); ++i) {
    // Automatic buttons: the dialog keys click them as the arrows move the focus. The group's
    // choice still comes from the control, which each click tells and which they then show.
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_AUTORADIOBUTTON |
                        (i == 0 ? WS_GROUP : 0) | (ShownEnabled ? 0 : WS_DISABLED);
    HWND radio = MakeChild("BUTTON", style, 0, Window.Get());
    if (!radio) continue;
    SetWindowTextA(radio, items[i].c_str());
    if (ShownFont) SendMessageA(radio, WM_SETFONT, reinterpret_cast<WPARAM>(ShownFont), FALSE);
    Radios.push_back(radio);
  }
  // The frame paints its inside: it stays below the buttons.
  if (Frame) SetWindowPos(Frame, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  LayoutParts(Shown.right - Shown.left, Shown.bottom - Shown.top);
  // The new buttons get the hint at the next update.
  ShownHint.clear();
}
