#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

#include <algorithm>

namespace {

const char* const GaugeClass = "TKestruneGauge";
const char* const ImageClass = "TKestruneImage";
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
  TWin32Canvas(HWND window, HFONT font) : Window(window), Font(font) {
    HDC screen = GetDC(nullptr);
    Dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    SetBkMode(Dc, TRANSPARENT);
    SelectObject(Dc, Font);
  }
  ~TWin32Canvas() override {
    if (Original) SelectObject(Dc, Original);
    if (Bitmap) DeleteObject(Bitmap);
    DeleteDC(Dc);
  }
  TWin32Canvas(const TWin32Canvas&) = delete;
  TWin32Canvas& operator=(const TWin32Canvas&) = delete;

  // A new size starts a black picture; whoever draws sets it up again.
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
    HBITMAP fresh = CreateDIBSection(Dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!fresh) return;
    HGDIOBJ old = SelectObject(Dc, fresh);
    if (!Original) Original = old;
    if (Bitmap) DeleteObject(Bitmap);
    Bitmap = fresh;
    Width_ = width;
    Height_ = height;
  }

  void Paint(HDC target) const { BitBlt(target, 0, 0, Width_, Height_, Dc, 0, 0, SRCCOPY); }

  int Width() const override { return Width_; }
  int Height() const override { return Height_; }
  void Fill(int left, int top, int right, int bottom, TColor color) override {
    RECT r{left, top, right, bottom};
    SetDCBrushColor(Dc, Ref(color));
    FillRect(Dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    Touched();
  }
  void Print(int x, int y, const std::string& text, TColor color) override {
    SetTextColor(Dc, Ref(color));
    TextOutA(Dc, x, y, text.data(), static_cast<int>(text.size()));
    Touched();
  }
  TColor Pixel(int x, int y) const override {
    GdiFlush();
    const COLORREF c = GetPixel(Dc, x, y);
    if (c == CLR_INVALID) return {};
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
  }
  void Lock() override { ++Locks; }
  void Unlock() override {
    if (Locks > 0) --Locks;
    if (Locks == 0) Show();
  }

 private:
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
  HFONT Font;
  HDC Dc = nullptr;
  HBITMAP Bitmap = nullptr;
  HGDIOBJ Original = nullptr;
  int Width_ = 0, Height_ = 0;
  int Locks = 0;
};

LRESULT CALLBACK OwnerDrawnProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void RegisterOwnerDrawnClasses() {
  for (const char* name : {GaugeClass, ImageClass}) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = OwnerDrawnProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassExA(&wc);  // a second form registers again and fails harmlessly
  }
}

}  // namespace

// One control's child window, kept in step with the control.
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
  void UserMoved();
  LRESULT ColorStatic(HDC dc);
  bool WantsHand() const {
    return Control && (Control->HandCursor || Control->Kind == TControlKind::LinkLabel);
  }

  TWin32Controls& Owner;
  TControl* Control;
  HWND Window = nullptr;
  bool Pressed = false;

 private:
  void UpdateHint(const std::string& hint);
  bool EffectivelyVisible() const;
  bool EffectivelyEnabled() const;

  ATOM NameAtom = 0;
  std::unique_ptr<TWin32Canvas> Picture;
  bool Mirroring = false;
  bool HasTool = false;
  // What the window shows now, so that an unchanged value costs no window call.
  RECT Shown{-1, -1, -1, -1};
  HFONT ShownFont = nullptr;
  std::string ShownText, ShownHint;
  bool ShownVisible = false, ShownEnabled = true;
  int ShownMin = 0, ShownMax = 0, ShownValue = 0;
  TColor ShownColor{};
  bool FirstUpdate = true;
};

namespace {

LRESULT CALLBACK OwnerDrawnProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto view = [hwnd] {
    return reinterpret_cast<TWin32ControlView*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  };
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (auto* v = view()) v->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      if (auto* v = view()) v->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      if (auto* v = view()) {
        v->Pressed = true;
        SetCapture(hwnd);
      }
      return 0;
    case WM_LBUTTONUP: {
      auto* v = view();
      if (!v || !v->Pressed) return 0;
      v->Pressed = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      // An event handler may destroy the control, and this window with it.
      if (PtInRect(&client, pt) && v->Control) v->Control->Click();
      v = view();
      if (v && v->Control) v->Control->MouseUp();
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (auto* v = view()) v->Pressed = false;
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

TWin32ControlView::TWin32ControlView(TWin32Controls& owner, TControl& control)
    : Owner(owner), Control(&control) {
  const char* cls = "STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  switch (control.Kind) {
    case TControlKind::Label:
    case TControlKind::LinkLabel:
      style |= SS_NOTIFY | SS_NOPREFIX;
      break;
    case TControlKind::Panel:
      cls = "BUTTON";
      // Clipped by the controls placed on it, which lie above it.
      style = WS_CHILD | WS_CLIPSIBLINGS | BS_GROUPBOX;
      break;
    case TControlKind::Button:
      cls = "BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
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
  }
  Window = CreateWindowExA(0, cls, "", style, 0, 0, 0, 0, owner.Form(), nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  if (!Window) return;
  SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  NameAtom = GlobalAddAtomA(control.Name.c_str());
  SetPropA(Window, NameProp, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(NameAtom)));
  // New child windows go below their siblings; a group box paints its inside, so it stays below
  // every other control and the controls placed on it show.
  SetWindowPos(Window, control.Kind == TControlKind::Panel ? HWND_BOTTOM : HWND_TOP, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (control.Kind == TControlKind::Image) {
    Picture = std::make_unique<TWin32Canvas>(Window, owner.Font(false, false));
  }
  if (control.Kind == TControlKind::Slider) SendMessageA(Window, TBM_SETPAGESIZE, 0, 10);
}

TWin32ControlView::~TWin32ControlView() {
  if (Window) {
    SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    if (HasTool) {
      TOOLINFOA ti{};
      ti.cbSize = TTTOOLINFOA_V2_SIZE;
      ti.hwnd = Owner.Form();
      ti.uId = reinterpret_cast<UINT_PTR>(Window);
      SendMessageA(Owner.ToolTip(), TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    }
    RemovePropA(Window, NameProp);
    RemovePropA(Window, ValueProp);
    DestroyWindow(Window);
  }
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

void TWin32ControlView::Update(const TControl& control) {
  if (!Window || Mirroring) return;
  Mirroring = true;
  const TControlKind kind = control.Kind;
  const auto* range = (kind == TControlKind::Gauge || kind == TControlKind::Slider)
                          ? static_cast<const TRangeControl*>(&control)
                          : nullptr;
  bool repaint = FirstUpdate;

  // Style bits the look flags ask for; the others (visible, disabled) stay as they are.
  if (IsStatic(kind)) {
    const LONG_PTR style = GetWindowLongPtrA(Window, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrA(Window, GWL_EXSTYLE);
    const LONG_PTR centre = SS_CENTER | SS_CENTERIMAGE;
    const LONG_PTR newStyle = (style & ~centre) | (control.Centered ? centre : 0);
    const LONG_PTR newExStyle = (exStyle & ~static_cast<LONG_PTR>(WS_EX_STATICEDGE)) |
                                (control.Framed ? WS_EX_STATICEDGE : 0);
    if (newStyle != style || newExStyle != exStyle) {
      SetWindowLongPtrA(Window, GWL_STYLE, newStyle);
      SetWindowLongPtrA(Window, GWL_EXSTYLE, newExStyle);
      SetWindowPos(Window, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
      repaint = true;
    }
  }

  HFONT font = Owner.Font(control.Bold, control.Underline || kind == TControlKind::LinkLabel);
  if (font != ShownFont) {
    SendMessageA(Window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShownFont = font;
    repaint = true;
  }

  int left = control.Left(), top = control.Top();
  for (const TControl* p = control.Parent; p; p = p->Parent) {
    left += p->Left();
    top += p->Top();
  }
  const RECT bounds{left, top, left + control.Width(), top + control.Height()};
  if (!EqualRect(&bounds, &Shown)) {
    SetWindowPos(Window, nullptr, left, top, control.Width(), control.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    Shown = bounds;
    if (Picture) Picture->Resize(control.Width(), control.Height());
  }

  // A gauge's window text is what it shows, so another process can read it.
  const std::string text = kind == TControlKind::Gauge ? range->ShownText() : control.Caption();
  if (text != ShownText || FirstUpdate) {
    SetWindowTextA(Window, text.c_str());
    ShownText = text;
    repaint = true;
  }

  if (range) {
    if (range->Min() != ShownMin || range->Max() != ShownMax || FirstUpdate) {
      if (kind == TControlKind::Slider) SendMessageA(Window, TBM_SETRANGEMIN, FALSE, range->Min());
      if (kind == TControlKind::Slider) SendMessageA(Window, TBM_SETRANGEMAX, TRUE, range->Max());
      ShownMin = range->Min();
      ShownMax = range->Max();
      repaint = true;
    }
    if (range->Value() != ShownValue || FirstUpdate) {
      // TBM_SETPOS sends no notification back, so the value does not echo.
      if (kind == TControlKind::Slider) SendMessageA(Window, TBM_SETPOS, TRUE, range->Value());
      SetPropA(Window, ValueProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(range->Value())));
      ShownValue = range->Value();
      repaint = true;
    }
  }

  if (control.FontColor() != ShownColor) {
    ShownColor = control.FontColor();
    repaint = true;
  }

  const bool enabled = EffectivelyEnabled();
  if (enabled != ShownEnabled) {
    EnableWindow(Window, enabled);
    ShownEnabled = enabled;
  }
  const bool visible = EffectivelyVisible();
  if (visible != ShownVisible) {
    ShowWindow(Window, visible ? SW_SHOWNA : SW_HIDE);
    ShownVisible = visible;
  }

  UpdateHint(control.Hint());
  if (repaint) InvalidateRect(Window, nullptr, TRUE);
  FirstUpdate = false;
  Mirroring = false;
  if (kind == TControlKind::Panel) Owner.UpdateChildren(control);
}

void TWin32ControlView::UpdateHint(const std::string& hint) {
  if (hint == ShownHint && (HasTool || hint.empty())) return;
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = Owner.Form();
  ti.uId = reinterpret_cast<UINT_PTR>(Window);
  ti.lpszText = const_cast<char*>(hint.c_str());
  if (!HasTool) {
    HasTool = SendMessageA(Owner.ToolTip(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
  } else {
    SendMessageA(Owner.ToolTip(), TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
  }
  ShownHint = hint;
}

void TWin32ControlView::Paint(HDC dc) {
  RECT client;
  GetClientRect(Window, &client);
  if (Picture) {
    Picture->Paint(dc);
    return;
  }
  if (!Control || Control->Kind != TControlKind::Gauge) return;
  const auto& gauge = static_cast<const TRangeControl&>(*Control);
  const int width = client.right, height = client.bottom;
  // Drawn off screen first: a gauge changes every display tick and must not flicker.
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = CreateCompatibleBitmap(dc, std::max(width, 1), std::max(height, 1));
  HGDIOBJ oldBmp = SelectObject(mem, bmp);
  RECT inner = client;
  FillRect(mem, &inner, GetSysColorBrush(COLOR_WINDOW));
  DrawEdge(mem, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(mem, &inner, GetSysColorBrush(COLOR_WINDOW));
  const long long span = static_cast<long long>(gauge.Max()) - gauge.Min();
  const long long pos = static_cast<long long>(gauge.Value()) - gauge.Min();
  const int innerWidth = std::max(0, static_cast<int>(inner.right - inner.left));
  RECT bar = inner;
  bar.right = inner.left + static_cast<int>(span > 0 ? pos * innerWidth / span : 0);
  const COLORREF barColor =
      ShownEnabled ? GetSysColor(COLOR_HIGHLIGHT) : GetSysColor(COLOR_GRAYTEXT);
  SetDCBrushColor(mem, barColor);
  FillRect(mem, &bar, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  const std::string text = gauge.ShownText();
  if (!text.empty()) {
    // The text reads in the window colour over the bar and in the font colour beside it.
    HGDIOBJ oldFont = SelectObject(mem, Owner.Font(Control->Bold, Control->Underline));
    SetBkMode(mem, TRANSPARENT);
    RECT rest{bar.right, inner.top, inner.right, inner.bottom};
    HRGN clip = CreateRectRgnIndirect(&rest);
    SelectClipRgn(mem, clip);
    SetTextColor(mem, Ref(Control->FontColor()));
    RECT r = inner;
    DrawTextA(mem, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetRectRgn(clip, bar.left, bar.top, bar.right, bar.bottom);
    SelectClipRgn(mem, clip);
    SetTextColor(mem, GetSysColor(COLOR_HIGHLIGHTTEXT));
    r = inner;
    DrawTextA(mem, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectClipRgn(mem, nullptr);
    DeleteObject(clip);
    SelectObject(mem, oldFont);
  }
  BitBlt(dc, 0, 0, width, height, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldBmp);
  DeleteObject(bmp);
  DeleteDC(mem);
}

void TWin32ControlView::UserMoved() {
  if (!Control || Mirroring) return;
  const int pos = static_cast<int>(SendMessageA(Window, TBM_GETPOS, 0, 0));
  static_cast<TRangeControl*>(Control)->SetValue(pos);
}

LRESULT TWin32ControlView::ColorStatic(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, Ref(Control ? Control->FontColor() : TColor{}));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

TWin32Controls::TWin32Controls(HWND form) : Form_(form) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  RegisterOwnerDrawnClasses();
  ToolTip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, form, nullptr, GetModuleHandleA(nullptr),
                             nullptr);
  // A width limit lets hints of several lines break at their line ends.
  if (ToolTip_) SendMessageA(ToolTip_, TTM_SETMAXTIPWIDTH, 0, 400);
}

TWin32Controls::~TWin32Controls() {
  Clear();
  if (ToolTip_) DestroyWindow(ToolTip_);
  for (auto& [key, font] : Fonts) DeleteObject(font);
}

void TWin32Controls::Bind(TControl& control) {
  if (HandleOf(control)) return;
  auto view = std::make_unique<TWin32ControlView>(*this, control);
  if (!view->Window) return;
  ByHandle[view->Window] = view.get();
  TWin32ControlView* v = view.get();
  Views.push_back(std::move(view));
  control.Bind(v);
}

void TWin32Controls::Clear() {
  for (auto& v : Views) v->Unbind();
  ByHandle.clear();
  Views.clear();
}

HWND TWin32Controls::HandleOf(const TControl& control) const {
  for (auto& v : Views)
    if (v->Control == &control) return v->Window;
  return nullptr;
}

TWin32ControlView* TWin32Controls::ViewOf(HWND hwnd) const {
  auto it = ByHandle.find(hwnd);
  return it == ByHandle.end() ? nullptr : it->second;
}

void TWin32Controls::Forget(TWin32ControlView* view) {
  ByHandle.erase(view->Window);
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
  if (it != Fonts.end()) return it->second;
  LOGFONTA lf{};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  if (bold) lf.lfWeight = FW_BOLD;
  lf.lfUnderline = underline;
  HFONT font = CreateFontIndirectA(&lf);
  if (!font) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  Fonts[key] = font;
  return font;
}

bool TWin32Controls::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      // BN_CLICKED and STN_CLICKED are the same code.
      auto* v = ViewOf(reinterpret_cast<HWND>(lParam));
      if (!v || HIWORD(wParam) != BN_CLICKED || !v->Control) return false;
      v->Control->Click();
      result = 0;
      return true;
    }
    case WM_HSCROLL: {
      auto* v = ViewOf(reinterpret_cast<HWND>(lParam));
      if (!v) return false;
      v->UserMoved();
      result = 0;
      return true;
    }
    case WM_CTLCOLORSTATIC: {
      auto* v = ViewOf(reinterpret_cast<HWND>(lParam));
      if (!v || !v->Control || v->Control->Kind == TControlKind::Slider) return false;
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
