// How one control's windows draw themselves and turn the user's actions into control events.

#include "ui/win32/Win32ControlView.h"

using namespace win32_controls;

void TWin32ControlView::Paint(HDC dc) {
  RECT client;
  GetClientRect(Window.Get(), &client);
  if (Picture) {
    Picture->Paint(dc);
    return;
  }
  if (!Control || Control->Kind != TControlKind::Gauge) return;
  const auto& gauge = static_cast<const TRangeControl&>(*Control);
  const int width = client.right, height = client.bottom;
  // Drawn off screen first: a gauge changes every display tick and must not flicker.
  TMemoryDc mem(CreateCompatibleDC(dc));
  TGdiObject<HBITMAP> bmp(CreateCompatibleBitmap(dc, std::max(width, 1), std::max(height, 1)));
  if (!mem || !bmp) return;
  TSelection bitmapChoice(mem.Get(), bmp.Get());
  RECT inner = client;
  FillRect(mem.Get(), &inner, GetSysColorBrush(COLOR_WINDOW));
  DrawEdge(mem.Get(), &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(mem.Get(), &inner, GetSysColorBrush(COLOR_WINDOW));
  const long long span = static_cast<long long>(gauge.Max()) - gauge.Min();
  const long long pos = static_cast<long long>(gauge.Value()) - gauge.Min();
  const int innerWidth = std::max(0, static_cast<int>(inner.right - inner.left));
  RECT bar = inner;
  bar.right = inner.left + static_cast<int>(span > 0 ? pos * innerWidth / span : 0);
  const COLORREF barColor =
      ShownEnabled ? GetSysColor(COLOR_HIGHLIGHT) : GetSysColor(COLOR_GRAYTEXT);
  SetDCBrushColor(mem.Get(), barColor);
  FillRect(mem.Get(), &bar, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  const std::string text = gauge.ShownText();
  const RECT rest{bar.right, inner.top, inner.right, inner.bottom};
  TGdiObject<HRGN> clip(text.empty() ? nullptr : CreateRectRgnIndirect(&rest));
  if (clip) {
    // The text reads in the window colour over the bar and in the font colour beside it.
    TSelection fontChoice(mem.Get(), Owner.Font(Control->Bold, Control->Underline));
    SetBkMode(mem.Get(), TRANSPARENT);
    SelectClipRgn(mem.Get(), clip.Get());
    SetTextColor(mem.Get(), Ref(Control->FontColor()));
    RECT r = inner;
    DrawTextA(mem.Get(), text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetRectRgn(clip.Get(), bar.left, bar.top, bar.right, bar.bottom);
    SelectClipRgn(mem.Get(), clip.Get());
    SetTextColor(mem.Get(), GetSysColor(COLOR_HIGHLIGHTTEXT));
    r = inner;
    DrawTextA(mem.Get(), text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectClipRgn(mem.Get(), nullptr);
  }
  BitBlt(dc, 0, 0, width, height, mem.Get(), 0, 0, SRCCOPY);
}

void TWin32ControlView::UserMoved() {
  if (!Control || Mirroring || Control->Kind != TControlKind::Slider) return;
  const int pos = static_cast<int>(SendMessageA(Window.Get(), TBM_GETPOS, 0, 0));
  static_cast<TRangeControl*>(Control)->SetValue(pos);
}

bool TWin32ControlView::Command(HWND from, WORD code) {
  if (!Control || Mirroring) return false;
  switch (Control->Kind) {
    case TControlKind::Button:
    case TControlKind::Label:
    case TControlKind::LinkLabel:
    case TControlKind::CheckBox:
      // BN_CLICKED and STN_CLICKED are the same code.
      if (code != BN_CLICKED) return false;
      Control->Click();
      return true;
    case TControlKind::RadioGroup: {
      const auto it = std::find(Radios.begin(), Radios.end(), from);
      if (code != BN_CLICKED || it == Radios.end()) return false;
      if (Control->Enabled())
        static_cast<TRadioGroup*>(Control)->SetItemIndex(static_cast<int>(it - Radios.begin()));
      return true;
    }
    case TControlKind::ComboBox:
      if (code != CBN_SELCHANGE) return false;
      static_cast<TComboBox*>(Control)->SetItemIndex(
          static_cast<int>(SendMessageA(Window.Get(), CB_GETCURSEL, 0, 0)));
      return true;
    case TControlKind::ListBox: {
      auto* list = static_cast<TListBox*>(Control);
      if (code == LBN_SELCHANGE) {
        list->SetItemIndex(static_cast<int>(SendMessageA(Window.Get(), LB_GETCURSEL, 0, 0)));
        return true;
      }
      if (code == LBN_DBLCLK) {
        list->DblClick();
        return true;
      }
      return false;
    }
    case TControlKind::Edit:
    case TControlKind::DirectoryEdit:
      if (Control->Kind == TControlKind::DirectoryEdit && from == Side && code == BN_CLICKED) {
        static_cast<TDirectoryEdit*>(Control)->Browse();
        return true;
      }
      if (code != EN_CHANGE) return false;
      static_cast<TEdit*>(Control)->SetText(WindowTextOf(from));
      return true;
    case TControlKind::SpinEdit: {
      auto* spin = static_cast<TSpinEdit*>(Control);
      if (from != Field) return false;
      if (code == EN_CHANGE) {
        Typing = true;
        spin->Typed(WindowTextOf(Field));
        Typing = false;
        return true;
      }
      if (code == EN_KILLFOCUS) {
        // Leaving the field shows the value it took, whatever was typed.
        Mirroring = true;
        SetWindowTextA(Field, spin->Text().c_str());
        Mirroring = false;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool TWin32ControlView::Notify(const NMHDR& header, LRESULT& result) {
  if (!Control || Control->Kind != TControlKind::SpinEdit || header.hwndFrom != Side ||
      header.code != UDN_DELTAPOS)
    return false;
  const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
  static_cast<TSpinEdit*>(Control)->Step(change.iDelta);
  // Nonzero keeps the up-down's own position where it is.
  result = 1;
  return true;
}

bool TWin32ControlView::TakesColor() const {
  if (!Control) return false;
  switch (Control->Kind) {
    case TControlKind::Label:
    case TControlKind::LinkLabel:
    case TControlKind::Panel:
    case TControlKind::CheckBox:
    case TControlKind::RadioGroup:
      return true;
    default:
      return false;
  }
}

LRESULT TWin32ControlView::ColorStatic(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Ref(Control ? Control->FontColor() : TColor{}));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}
