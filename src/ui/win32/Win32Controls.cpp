#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>
#include <string>

namespace {

const char* const GaugeClass = "TKestruneGauge";
const char* const ImageClass = "TKestruneImage";
const char* const GroupClass = "TKestruneGroup";
const char* const NameProp = "KestruneControl";
const char* const ValueProp = "KestruneValue";

COLORREF Ref(TColor c) {
  return RGB(c.R, c.G, c.B);
}

bool IsStatic(TControlKind kind) {
  return kind == TControlKind::Label || kind == TControlKind::LinkLabel;
}

// The picture of an image control: a bitmap in memory that the window shows.
class TWin32Canvas : public TCanvas {
 public:
  // Null when the system has no memory device context to give.
  static std::unique_ptr<TWin32Canvas> Create(HWND window, HFONT font) {
    HDC screen = GetDC(nullptr);
    TMemoryDc dc(CreateCompatibleDC(screen));
    ReleaseDC(nullptr, screen);
    if (!dc) return nullptr;
    return std::unique_ptr<TWin32Canvas>(new TWin32Canvas(window, std::move(dc), font));
  }
  TWin32Canvas(const TWin32Canvas&) = delete;
  TWin32Canvas& operator=(const TWin32Canvas&) = delete;

  // A new size starts a black picture; whoever draws sets it up again. A bitmap the system
  // cannot make leaves the old picture.
  void Resize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width_ && height == Height_ && Bitmap) return;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = std::max(width, 1);
    bi.bmiHeader.biHeight = -std::max(height, 1);
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TGdiObject<HBITMAP> fresh(CreateDIBSection(Dc.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!fresh) return;
    if (BitmapChoice)
      SelectObject(Dc.Get(), fresh.Get());
    else
      BitmapChoice.emplace(Dc.Get(), fresh.Get());
    // The old bitmap is no longer selected and goes here.
    Bitmap = std::move(fresh);
    Width_ = width;
    Height_ = height;
  }

  void Paint(HDC target) const { BitBlt(target, 0, 0, Width_, Height_, Dc.Get(), 0, 0, SRCCOPY); }

  int Width() const override { return Width_; }
  int Height() const override { return Height_; }
  void Fill(int left, int top, int right, int bottom, TColor color) override {
    RECT r{left, top, right, bottom};
    SetDCBrushColor(Dc.Get(), Ref(color));
    FillRect(Dc.Get(), &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    Touched();
  }
  void Print(int x, int y, const std::string& text, TColor color) override {
    SetTextColor(Dc.Get(), Ref(color));
    TextOutA(Dc.Get(), x, y, text.data(), static_cast<int>(text.size()));
    Touched();
  }
  TColor Pixel(int x, int y) const override {
    GdiFlush();
    const COLORREF c = GetPixel(Dc.Get(), x, y);
    if (c == CLR_INVALID) return {};
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
  }
  void Lock() override { ++Locks; }
  void Unlock() override {
    if (Locks > 0) --Locks;
    if (Locks == 0) Show();
  }

 private:
  TWin32Canvas(HWND window, TMemoryDc dc, HFONT font) : Window(window), Dc(std::move(dc)) {
    SetBkMode(Dc.Get(), TRANSPARENT);
    FontChoice.emplace(Dc.Get(), font);
  }
  // Outside a Lock/Unlock pair every drawing shows at once.
  void Touched() {
    if (Locks == 0) Show();
  }
  void Show() {
    GdiFlush();
    InvalidateRect(Window, nullptr, FALSE);
    UpdateWindow(Window);
  }

  HWND Window;
  // Declared in the order of their making: they go in reverse, each selection given back
  // before its object and the device context is deleted.
  TMemoryDc Dc;
  std::optional<TSelection> FontChoice;
  TGdiObject<HBITMAP> Bitmap;
  std::optional<TSelection> BitmapChoice;
  int Width_ = 0, Height_ = 0;
  int Locks = 0;
};

LRESULT CALLBACK OwnerDrawnProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GroupProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

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

// Bits of the mouse buttons pressed on an owner-drawn control.
constexpr unsigned LeftButton = 1, RightButton = 2, MiddleButton = 4;

unsigned ButtonOf(UINT msg) {
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

std::string WindowTextOf(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
  return text;
}

constexpr int UpDownWidth = 17;
constexpr int BrowseWidth = 26;
// Room for the list a drop-down list opens below its field.
constexpr int DropDownHeight = 200;

}  // namespace

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

TWin32Controls::TWin32Controls(HWND form) : Form_(form) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&icc);
  RegisterOwnClasses();
  ToolTip_.Reset(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form, nullptr,
                                 GetModuleHandleA(nullptr), nullptr));
  // A width limit lets hints of several lines break at their line ends.
  if (ToolTip_) SendMessageA(ToolTip_.Get(), TTM_SETMAXTIPWIDTH, 0, 400);
}

TWin32Controls::~TWin32Controls() {
  Clear();
}

void TWin32Controls::Bind(TControl& control) {
  if (HandleOf(control)) return;
  // The window of the last control bound before, which this one follows in the tab order.
  HWND previous = nullptr;
  for (auto& v : Views)
    if (v->Control && v->Control->Kind != TControlKind::Panel && v->Window)
      previous = v->Window.Get();
  auto view = std::make_unique<TWin32ControlView>(*this, control);
  if (!view->Window) return;
  // Tab order is the order of the windows: each control follows the one bound before it. A
  // group box paints its inside, so panels stay below every other control and the controls
  // placed on them show.
  const bool panel = control.Kind == TControlKind::Panel;
  SetWindowPos(view->Window.Get(), panel ? HWND_BOTTOM : (previous ? previous : HWND_TOP), 0, 0, 0,
               0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  TWin32ControlView* v = view.get();
  Views.push_back(std::move(view));
  control.Bind(v);
}

void TWin32Controls::Clear() {
  for (auto& v : Views) v->Unbind();
  Views.clear();
  ByHandle.clear();
}

HWND TWin32Controls::HandleOf(const TControl& control) const {
  for (auto& v : Views)
    if (v->Control == &control) return v->Window.Get();
  return nullptr;
}

std::vector<HWND> TWin32Controls::PartsOf(const TControl& control) const {
  for (auto& v : Views)
    if (v->Control == &control) return v->Parts();
  return {};
}

HWND TWin32Controls::DefaultButton() const {
  for (auto& v : Views) {
    if (!v->Control || v->Control->Kind != TControlKind::Button || !v->Control->Default) continue;
    HWND hwnd = v->Window.Get();
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) return hwnd;
  }
  return nullptr;
}

TWin32ControlView* TWin32Controls::ViewOf(HWND hwnd) const {
  auto it = ByHandle.find(hwnd);
  return it == ByHandle.end() ? nullptr : it->second;
}

void TWin32Controls::Track(HWND hwnd, TWin32ControlView* view) {
  ByHandle[hwnd] = view;
}

void TWin32Controls::Untrack(HWND hwnd) {
  ByHandle.erase(hwnd);
}

void TWin32Controls::Forget(TWin32ControlView* view) {
  auto it = std::find_if(Views.begin(), Views.end(), [view](auto& v) { return v.get() == view; });
  if (it != Views.end()) Views.erase(it);
}

void TWin32Controls::UpdateChildren(const TControl& parent) {
  for (auto& v : Views)
    if (v->Control && v->Control->Parent == &parent) v->Update(*v->Control);
}

HFONT TWin32Controls::Font(bool bold, bool underline) {
  const int key = (bold ? 1 : 0) | (underline ? 2 : 0);
  auto it = Fonts.find(key);
  if (it != Fonts.end()) return it->second.Get();
  LOGFONTA lf{};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  if (bold) lf.lfWeight = FW_BOLD;
  lf.lfUnderline = underline;
  TGdiObject<HFONT> font(CreateFontIndirectA(&lf));
  if (!font) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return Fonts.emplace(key, std::move(font)).first->second.Get();
}

bool TWin32Controls::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      HWND from = reinterpret_cast<HWND>(lParam);
      auto* v = ViewOf(from);
      if (!v || !v->Command(from, HIWORD(wParam))) return false;
      result = 0;
      return true;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      auto* v = header ? ViewOf(header->hwndFrom) : nullptr;
      return v && v->Notify(*header, result);
    }
    case WM_HSCROLL: {
      auto* v = ViewOf(reinterpret_cast<HWND>(lParam));
      if (!v) return false;
      v->UserMoved();
      result = 0;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      auto* v = ViewOf(reinterpret_cast<HWND>(lParam));
      if (!v || !v->TakesColor()) return false;
      result = v->ColorStatic(reinterpret_cast<HDC>(wParam));
      return true;
    }
    case WM_SETCURSOR: {
      auto* v = ViewOf(reinterpret_cast<HWND>(wParam));
      if (!v || !v->WantsHand() || LOWORD(lParam) != HTCLIENT) return false;
      SetCursor(LoadCursor(nullptr, IDC_HAND));
      result = TRUE;
      return true;
    }
  }
  return false;
}
