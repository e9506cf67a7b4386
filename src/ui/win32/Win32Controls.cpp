#include "ui/win32/Win32Controls.h"

#include "ui/win32/Win32ControlView.h"

using namespace win32_controls;

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
