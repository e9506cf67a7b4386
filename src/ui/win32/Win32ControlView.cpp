#include "ui/win32/Win32ControlView.h"

using namespace win32_controls;

namespace {

TWin32ControlView* ViewOfWindow(HWND hwnd) {
  return reinterpret_cast<TWin32ControlView*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK OwnerDrawnProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (auto* v = ViewOfWindow(hwnd)) v->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (auto* v = ViewOfWindow(hwnd)) v->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (auto* v = ViewOfWindow(hwnd)) {
        v->PressedButtons |= ButtonOf(msg);
        SetCapture(hwnd);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      auto* v = ViewOfWindow(hwnd);
      const unsigned button = ButtonOf(msg);
      if (!v || !(v->PressedButtons & button)) return 0;
      v->PressedButtons &= ~button;
      if (!v->PressedButtons && GetCapture() == hwnd) ReleaseCapture();
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      // An event handler may destroy the control, and this window with it.
      if (button == LeftButton && PtInRect(&client, pt) && v->Control) v->Control->Click();
      v = ViewOfWindow(hwnd);
      if (v && v->Control) v->Control->MouseUp();
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (auto* v = ViewOfWindow(hwnd)) v->PressedButtons = 0;
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The container of a composite control passes its windows' notifications on to the form.
LRESULT CALLBACK GroupProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      if (HWND parent = GetParent(hwnd)) return SendMessageA(parent, msg, wParam, lParam);
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

namespace win32_controls {

void RegisterOwnClasses() {
  const struct {
    const char* Name;
    WNDPROC Proc;
  } classes[] = {
      {GaugeClass, OwnerDrawnProc}, {ImageClass, OwnerDrawnProc}, {GroupClass, GroupProc}};
  for (const auto& c : classes) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = c.Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = c.Name;
    RegisterClassExA(&wc);  // a second form registers again and fails harmlessly
  }
}

}  // namespace win32_controls

TWin32ControlView::TWin32ControlView(TWin32Controls& owner, TControl& control)
    : Owner(owner), Control(&control) {
  const char* cls = "STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  switch (control.Kind) {
    case TControlKind::Label:
    case TControlKind::LinkLabel:
      // SS_NOTIFY: without it a static lets clicks through to the form.
      style |= SS_NOTIFY | SS_NOPREFIX;
      break;
    case TControlKind::Panel:
      cls = "BUTTON";
      style |= BS_GROUPBOX;
      break;
    case TControlKind::Button:
      cls = "BUTTON";
      style |= (control.Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
      ShownDefault = control.Default;
      break;
    case TControlKind::Gauge:
      cls = GaugeClass;
      break;
    case TControlKind::Slider:
      cls = TRACKBAR_CLASSA;
      style |= TBS_HORZ | TBS_NOTICKS | WS_TABSTOP;
      break;
    case TControlKind::Image:
      cls = ImageClass;
      break;
    case TControlKind::CheckBox:
      // The control, not the window, keeps the state: the window shows what it is told.
      cls = "BUTTON";
      style |= BS_CHECKBOX | WS_TABSTOP;
      break;
    case TControlKind::ComboBox:
      cls = "COMBOBOX";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      break;
    case TControlKind::ListBox:
      cls = "LISTBOX";
      style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case TControlKind::Edit:
      cls = "EDIT";
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case TControlKind::RadioGroup:
    case TControlKind::SpinEdit:
    case TControlKind::DirectoryEdit:
      // Tab and the dialog keys reach the windows inside.
      cls = GroupClass;
      exStyle = WS_EX_CONTROLPARENT;
      break;
  }
  Window.Reset(MakeChild(cls, style, exStyle, owner.Form()));
  if (!Window) return;
  NameAtom = GlobalAddAtomA(control.Name.c_str());
  SetPropA(Window.Get(), NameProp, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(NameAtom)));
  if (control.Kind == TControlKind::Image) {
    Picture = TWin32Canvas::Create(Window.Get(), owner.Font(false, false));
  }
  if (control.Kind == TControlKind::Slider) SendMessageA(Window.Get(), TBM_SETPAGESIZE, 0, 10);
  MakeParts();
}

HWND TWin32ControlView::MakeChild(const char* cls, DWORD style, DWORD exStyle, HWND parent) {
  HWND hwnd = CreateWindowExA(exStyle, cls, "", style, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(Owner.NextId())),
                              GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return nullptr;
  // Owner-drawn and container windows find their view here; standard controls keep their own
  // data elsewhere and ignore it.
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Owner.Track(hwnd, this);
  return hwnd;
}

void TWin32ControlView::MakeParts() {
  const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (Control->Kind) {
    case TControlKind::RadioGroup:
      // WS_GROUP closes the radio buttons' group for the arrow keys.
      Frame = MakeChild("BUTTON", child | BS_GROUPBOX | WS_GROUP, 0, Window.Get());
      break;
    case TControlKind::SpinEdit:
      Field =
          MakeChild("EDIT", child | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, Window.Get());
      Side = MakeChild(UPDOWN_CLASSA, child | UDS_ARROWKEYS | UDS_HOTTRACK, 0, Window.Get());
      if (Side && Field) {
        SendMessageA(Side, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Field), 0);
        // The up-down only reports steps (UDN_DELTAPOS) and keeps its own position in the
        // middle of a range it never reaches.
        SendMessageA(Side, UDM_SETRANGE32, 0, 1000);
        SendMessageA(Side, UDM_SETPOS32, 0, 500);
      }
      break;
    case TControlKind::DirectoryEdit:
      Field =
          MakeChild("EDIT", child | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, Window.Get());
      Side = MakeChild("BUTTON", child | BS_PUSHBUTTON | WS_TABSTOP, 0, Window.Get());
      if (Side) SetWindowTextA(Side, "...");
      break;
    default:
      break;
  }
}

std::vector<HWND> TWin32ControlView::Parts() const {
  if (Control && Control->Kind == TControlKind::RadioGroup) return Radios;
  std::vector<HWND> parts;
  if (Field) parts.push_back(Field);
  if (Side) parts.push_back(Side);
  return parts;
}

TWin32ControlView::~TWin32ControlView() {
  if (!Window) {
    if (NameAtom) GlobalDeleteAtom(NameAtom);
    return;
  }
  for (HWND tool : std::vector<HWND>(Tools)) SetTool(tool, "", false);
  for (HWND part : Parts()) Owner.Untrack(part);
  if (Frame) Owner.Untrack(Frame);
  Owner.Untrack(Window.Get());
  SetWindowLongPtrA(Window.Get(), GWLP_USERDATA, 0);
  RemovePropA(Window.Get(), NameProp);
  RemovePropA(Window.Get(), ValueProp);
  // The windows inside a container go with it.
  Window.Reset();
  if (NameAtom) GlobalDeleteAtom(NameAtom);
}

void TWin32ControlView::Unbind() {
  if (Control) Control->Bind(nullptr);
  Control = nullptr;
}

void TWin32ControlView::Released(const TControl&) {
  Control = nullptr;
  Owner.Forget(this);  // deletes this view: nothing may follow
}

bool TWin32ControlView::EffectivelyVisible() const {
  for (const TControl* c = Control; c; c = c->Parent)
    if (!c->Visible()) return false;
  return true;
}

bool TWin32ControlView::EffectivelyEnabled() const {
  for (const TControl* c = Control; c; c = c->Parent)
    if (!c->Enabled()) return false;
  return true;
}

int TWin32ControlView::LinkWidth(const TControl& control, HFONT font) const {
  HDC dc = GetDC(Window.Get());
  if (!dc) return control.Width();
  SIZE extent{};
  {
    TSelection chosen(dc, font);
    GetTextExtentPoint32A(dc, control.Caption().c_str(), static_cast<int>(control.Caption().size()),
                          &extent);
  }
  ReleaseDC(Window.Get(), dc);
  // A pixel to spare on each side, as a static leaves none.
  return std::max(control.Width(), static_cast<int>(extent.cx) + 2);
}

void TWin32ControlView::LayoutParts(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  switch (Control ? Control->Kind : TControlKind::Label) {
    case TControlKind::SpinEdit:
      if (Field)
        SetWindowPos(Field, nullptr, 0, 0, std::max(0, width - UpDownWidth), height, flags);
      if (Side)
        SetWindowPos(Side, nullptr, std::max(0, width - UpDownWidth), 0, UpDownWidth, height,
                     flags);
      break;
    case TControlKind::DirectoryEdit:
      if (Field)
        SetWindowPos(Field, nullptr, 0, 0, std::max(0, width - BrowseWidth - 2), height, flags);
      if (Side)
        SetWindowPos(Side, nullptr, std::max(0, width - BrowseWidth), 0, BrowseWidth, height,
                     flags);
      break;
    case TControlKind::RadioGroup: {
      if (Frame) SetWindowPos(Frame, nullptr, 0, 0, width, height, flags);
      if (Radios.empty()) break;
      const int columns = std::max(1, static_cast<const TRadioGroup*>(Control)->Columns);
      const int rows = (static_cast<int>(Radios.size()) + columns - 1) / columns;
      // Inside the frame: below its caption, clear of its lines.
      const int insideLeft = 8, insideTop = 16, insideWidth = std::max(0, width - 16);
      const int insideHeight = std::max(0, height - insideTop - 4);
      const int cellWidth = insideWidth / columns, cellHeight = insideHeight / rows;
      const int buttonHeight = std::min(cellHeight, 18);
      for (size_t i = 0; i < Radios.size(); ++i) {
        const int column = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
        SetWindowPos(Radios[i], nullptr, insideLeft + column * cellWidth,
                     insideTop + row * cellHeight + (cellHeight - buttonHeight) / 2, cellWidth - 4,
                     buttonHeight, flags);
      }
      break;
    }
    default:
      break;
  }
}

void TWin32ControlView::SetTool(HWND hwnd, const std::string& hint, bool add) {
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = Owner.Form();
  ti.uId = reinterpret_cast<UINT_PTR>(hwnd);
  ti.lpszText = const_cast<char*>(hint.c_str());
  const bool has = std::find(Tools.begin(), Tools.end(), hwnd) != Tools.end();
  if (!add) {
    if (has) {
      SendMessageA(Owner.ToolTip(), TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
      Tools.erase(std::find(Tools.begin(), Tools.end(), hwnd));
    }
  } else if (has) {
    SendMessageA(Owner.ToolTip(), TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
  } else if (SendMessageA(Owner.ToolTip(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti))) {
    Tools.push_back(hwnd);
  }
}

void TWin32ControlView::UpdateHint(const std::string& hint) {
  if (hint == ShownHint && (!Tools.empty() || hint.empty())) return;
  // The hint shows over every window of the control.
  std::vector<HWND> windows{Window.Get()};
  for (HWND part : Parts()) windows.push_back(part);
  for (HWND hwnd : windows) SetTool(hwnd, hint, true);
  ShownHint = hint;
}
