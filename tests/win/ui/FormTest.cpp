#include "TestForm.h"
// commctrl.h needs windows.h, which TestForm.h brings.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <thread>

#include "link/Protocol.h"

std::string TextOf(HWND hwnd) {
  char buf[512] = {};
  GetWindowTextA(hwnd, buf, sizeof(buf));
  return buf;
}

std::string NameTag(HWND hwnd) {
  const auto atom =
      static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropA(hwnd, "KestruneControl")));
  char buf[256] = {};
  return atom ? std::string(buf, GlobalGetAtomNameA(atom, buf, sizeof(buf))) : std::string();
}

std::string ClassOf(HWND hwnd) {
  char buf[128] = {};
  GetClassNameA(hwnd, buf, sizeof(buf));
  return buf;
}

std::string ProgramDir() {
  char buf[MAX_PATH] = {};
  std::string path(buf, GetModuleFileNameA(nullptr, buf, sizeof(buf)));
  return path.substr(0, path.find_last_of("\\/") + 1);
}

namespace {

RECT RectInForm(HWND form, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// What a control draws, read back through WM_PRINTCLIENT.
COLORREF DrawnPixel(HWND hwnd, int x, int y) {
  RECT r;
  GetClientRect(hwnd, &r);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, r.right, r.bottom);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, bmp);
  SendMessageA(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
  const COLORREF c = GetPixel(mem, x, y);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  return c;
}

std::string HintOf(TFormFixture& f, const TControl& c) {
  char buf[256] = {};
  TOOLINFOA ti{};
  ti.cbSize = TTTOOLINFOA_V2_SIZE;
  ti.hwnd = f.Form.Handle();
  ti.uId = reinterpret_cast<UINT_PTR>(f.Child(c));
  ti.lpszText = buf;
  SendMessageA(f.Form.Controls()->ToolTip(), TTM_GETTEXTA, sizeof(buf),
               reinterpret_cast<LPARAM>(&ti));
  return buf;
}

TEST(Win32Form, WindowHasClassSizeCaptionAndFixedBorderCentredOnScreen) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  HWND hwnd = f.Form.Handle();
  EXPECT_EQ(ClassOf(hwnd), "TOV_Kestrune");
  EXPECT_EQ(TextOf(hwnd), "OV Kestrune");
  RECT client;
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 318);
  EXPECT_EQ(client.bottom, 221);
  const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT w;
  GetWindowRect(hwnd, &w);
  EXPECT_NEAR((w.left + w.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((w.top + w.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  // The logic is created once, and finds its controls bound already.
  EXPECT_EQ(f.Logic.Created, 1);
  EXPECT_TRUE(f.Logic.ViewsAtCreate);
  f.Form.SetCaption("Orvanta Kestrune 1.0.1.5");
  EXPECT_EQ(TextOf(hwnd), "Orvanta Kestrune 1.0.1.5");
}

TEST(Win32Form, EveryControlHasItsWindowTaggedWithItsName) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  struct {
    const TControl& Control;
    const char* Class;
  } expected[] = {{f.Logic.Pan, "Button"},
                  {f.Logic.Lab, "Static"},
                  {f.Logic.Btn, "Button"},
                  {f.Logic.Gauge, "TKestruneGauge"},
                  {f.Logic.Slider, "msctls_trackbar32"},
                  {f.Logic.Img, "TKestruneImage"},
                  {f.Logic.Link, "Static"}};
  for (auto& e : expected) {
    HWND hwnd = f.Child(e.Control);
    ASSERT_TRUE(hwnd) << e.Control.Name;
    EXPECT_EQ(GetParent(hwnd), f.Form.Handle()) << e.Control.Name;
    EXPECT_EQ(NameTag(hwnd), e.Control.Name);
    EXPECT_EQ(lstrcmpiA(ClassOf(hwnd).c_str(), e.Class), 0)
        << e.Control.Name << " " << ClassOf(hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd)) << e.Control.Name;
  }
  EXPECT_EQ(TextOf(f.Child(f.Logic.Pan)), "Output");
  EXPECT_EQ(TextOf(f.Child(f.Logic.Lab)), "STOP");
  EXPECT_EQ(TextOf(f.Child(f.Logic.Btn)), "Play");
  EXPECT_EQ(HintOf(f, f.Logic.Lab), "Status");
  EXPECT_EQ(HintOf(f, f.Logic.Slider), "Volume");
  // A control in a panel sits at its place within the panel.
  const RECT lab = RectInForm(f.Form.Handle(), f.Child(f.Logic.Lab));
  EXPECT_EQ(lab.left, 2 + 10);
  EXPECT_EQ(lab.top, 2 + 20);
  EXPECT_EQ(lab.right - lab.left, 100);
  EXPECT_EQ(lab.bottom - lab.top, 18);
}

TEST(Win32Form, ChangesOfTheControlsShowAtOnce) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  TTestForm& l = f.Logic;
  l.Lab.SetCaption("Online");
  EXPECT_EQ(TextOf(f.Child(l.Lab)), "Online");
  l.Lab.SetHint("State of the relay");
  EXPECT_EQ(HintOf(f, l.Lab), "State of the relay");
  l.Btn.SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(f.Child(l.Btn)));
  l.Btn.SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(f.Child(l.Btn)));
  l.Btn.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(f.Child(l.Btn)));
  l.Btn.SetBounds(3, 150, 80, 20);
  const RECT b = RectInForm(f.Form.Handle(), f.Child(l.Btn));
  EXPECT_EQ(b.left, 3);
  EXPECT_EQ(b.top, 150);
  EXPECT_EQ(b.right - b.left, 80);

  // A panel takes the controls on it along: hidden, disabled and moved with it.
  l.Pan.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(f.Child(l.Lab)));
  EXPECT_FALSE(IsWindowVisible(f.Child(l.Gauge)));
  l.Pan.SetVisible(true);
  EXPECT_TRUE(IsWindowVisible(f.Child(l.Lab)));
  l.Pan.SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(f.Child(l.Slider)));
  l.Pan.SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(f.Child(l.Slider)));
  l.Pan.SetBounds(20, 30, 280, 117);
  const RECT lab = RectInForm(f.Form.Handle(), f.Child(l.Lab));
  EXPECT_EQ(lab.left, 20 + 10);
  EXPECT_EQ(lab.top, 30 + 20);
  // A hidden control stays hidden when its panel comes back.
  l.Lab.SetVisible(false);
  l.Pan.SetVisible(false);
  l.Pan.SetVisible(true);
  EXPECT_FALSE(IsWindowVisible(f.Child(l.Lab)));
}

TEST(Win32Form, LabelLookFlagsApplyWhileTheLabelShows) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  TLabel& lab = f.Logic.Lab;
  HWND hwnd = f.Child(lab);
  lab.Bold = lab.Centered = lab.Framed = true;
  lab.SetFontColor({128, 128, 128});
  EXPECT_TRUE(GetWindowLongPtrA(hwnd, GWL_STYLE) & SS_CENTER);
  EXPECT_TRUE(GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_STATICEDGE);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  LOGFONTA lf{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  EXPECT_GE(lf.lfWeight, FW_BOLD);
  // The font colour is what the label answers when its text is drawn.
  HDC dc = GetDC(hwnd);
  SendMessageA(f.Form.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(hwnd));
  EXPECT_EQ(GetTextColor(dc), RGB(128, 128, 128));
  ReleaseDC(hwnd, dc);
  // Taking the flags back keeps the label shown and enabled.
  lab.Centered = lab.Framed = false;
  lab.SetEnabled(false);
  lab.SetEnabled(true);
  EXPECT_FALSE(GetWindowLongPtrA(hwnd, GWL_STYLE) & SS_CENTER);
  EXPECT_FALSE(GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_STATICEDGE);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_TRUE(IsWindowEnabled(hwnd));
}

TEST(Win32Form, GaugeShowsItsTextAndValueAlsoBelowZero) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  TGauge& g = f.Logic.Gauge;
  HWND hwnd = f.Child(g);
  g.SetValue(-3);
  g.SetText("Decrease: -3");
  EXPECT_EQ(TextOf(hwnd), "Decrease: -3");
  EXPECT_EQ(reinterpret_cast<INT_PTR>(GetPropA(hwnd, "KestruneValue")), -3);
  g.SetValue(25);  // kept within the range
  EXPECT_EQ(reinterpret_cast<INT_PTR>(GetPropA(hwnd, "KestruneValue")), 20);
  g.SetText("");
  g.ShowPercent = true;
  g.SetValue(0);
  EXPECT_EQ(TextOf(hwnd), "50%");
  UpdateWindow(hwnd);

  // The bar is drawn from the left end of the range up to the value.
  g.SetText("");
  g.ShowPercent = false;
  g.SetValue(-20);
  EXPECT_EQ(DrawnPixel(hwnd, 5, 7), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(DrawnPixel(hwnd, 140, 7), GetSysColor(COLOR_WINDOW));
  g.SetValue(0);
  EXPECT_EQ(DrawnPixel(hwnd, 5, 7), GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_EQ(DrawnPixel(hwnd, 140, 7), GetSysColor(COLOR_WINDOW));
  g.SetValue(20);
  EXPECT_EQ(DrawnPixel(hwnd, 140, 7), GetSysColor(COLOR_HIGHLIGHT));
}

TEST(Win32Form, ButtonAndLinkClicksReachTheControls) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  SendMessageA(f.Child(f.Logic.Btn), BM_CLICK, 0, 0);
  ASSERT_EQ(f.Logic.Events, std::vector<std::string>{"click"});
  // A disabled button raises nothing.
  f.Logic.Btn.SetEnabled(false);
  SendMessageA(f.Form.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
               reinterpret_cast<LPARAM>(f.Child(f.Logic.Btn)));
  EXPECT_EQ(f.Logic.Events.size(), 1u);
  HWND link = f.Child(f.Logic.Link);
  SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageA(link, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  PumpUntil(
      f.App, [&] { return f.Logic.Events.size() >= 2; }, 500);
  ASSERT_GE(f.Logic.Events.size(), 2u);
  EXPECT_EQ(f.Logic.Events[1], "link click");
  // The hand cursor over the link.
  EXPECT_TRUE(SendMessageA(f.Form.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));
  const LONG_PTR linkFont = SendMessageA(link, WM_GETFONT, 0, 0);
  LOGFONTA lf{};
  GetObjectA(reinterpret_cast<HFONT>(linkFont), sizeof(lf), &lf);
  EXPECT_TRUE(lf.lfUnderline);
}

TEST(Win32Form, SliderMovedByTheUserChangesTheValueOnce) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  HWND track = f.Child(f.Logic.Slider);
  EXPECT_EQ(SendMessageA(track, TBM_GETRANGEMAX, 0, 0), 300);
  EXPECT_EQ(SendMessageA(track, TBM_GETPOS, 0, 0), 100);
  // The keyboard moves the thumb one step; the trackbar tells the form.
  SetFocus(track);
  SendMessageA(track, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageA(track, WM_KEYUP, VK_RIGHT, 0);
  EXPECT_EQ(f.Logic.Slider.Value(), 101);
  ASSERT_FALSE(f.Logic.Events.empty());
  EXPECT_EQ(f.Logic.Events.front(), "change 101");
  // A drag ends with the thumb's position.
  f.Logic.Events.clear();
  SendMessageA(track, TBM_SETPOS, TRUE, 250);
  SendMessageA(f.Form.Handle(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 250),
               reinterpret_cast<LPARAM>(track));
  EXPECT_EQ(f.Logic.Slider.Value(), 250);
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"change 250"});
  // The program moving the slider moves the thumb and raises one change, no echo.
  f.Logic.Events.clear();
  f.Logic.Slider.SetValue(42);
  f.App.ProcessMessages();
  EXPECT_EQ(SendMessageA(track, TBM_GETPOS, 0, 0), 42);
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"change 42"});
}

TEST(Win32Form, ImageHasACanvasAndRaisesClickAndMouseUp) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  TCanvas* canvas = f.Logic.Img.Canvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->Width(), 310);
  EXPECT_EQ(canvas->Height(), 25);
  canvas->Lock();
  canvas->Fill(0, 0, 310, 25, {0, 0, 0});
  canvas->Fill(10, 1, 21, 7, {0, 255, 0});
  canvas->Print(0, 6, "-24", {0, 255, 0});
  canvas->Unlock();
  // Columns left..right-1 and rows top..bottom-1 only.
  EXPECT_EQ(canvas->Pixel(10, 1), (TColor{0, 255, 0}));
  EXPECT_EQ(canvas->Pixel(20, 6), (TColor{0, 255, 0}));
  EXPECT_EQ(canvas->Pixel(21, 6), (TColor{0, 0, 0}));
  EXPECT_EQ(canvas->Pixel(20, 7), (TColor{0, 0, 0}));
  bool textDrawn = false;
  for (int y = 6; y < 25 && !textDrawn; ++y)
    for (int x = 0; x < 30 && !textDrawn; ++x) textDrawn = canvas->Pixel(x, y) != TColor{};
  EXPECT_TRUE(textDrawn);
  // What is drawn is what the window shows.
  HWND hwnd = f.Child(f.Logic.Img);
  EXPECT_EQ(DrawnPixel(hwnd, 15, 3), RGB(0, 255, 0));
  EXPECT_EQ(DrawnPixel(hwnd, 25, 3), RGB(0, 0, 0));

  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 10));
  SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(100, 10));
  EXPECT_EQ(f.Logic.Events, (std::vector<std::string>{"img click", "img up"}));
  // Released outside: no click, still a mouse up.
  f.Logic.Events.clear();
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 10));
  SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(400, 10));
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"img up"});

  // A new size gives a picture of the new size.
  f.Logic.Img.SetBounds(3, 40, 200, 30);
  EXPECT_EQ(canvas->Width(), 200);
  EXPECT_EQ(canvas->Height(), 30);
}

// Answers the next message box of the form from another thread and records its text.
struct TBoxAnswer {
  std::string Text;
  std::thread Worker;
  TBoxAnswer(HWND owner, int button) {
    Worker = std::thread([this, owner, button] {
      for (int i = 0; i < 400; ++i) {
        HWND box = FindWindowA("#32770", "Orvanta Kestrune");
        if (box && GetWindow(box, GW_OWNER) == owner) {
          char buf[256] = {};
          GetDlgItemTextA(box, 0xFFFF, buf, sizeof(buf));
          Text = buf;
          PostMessageA(box, WM_COMMAND, button, 0);
          return;
        }
        Sleep(10);
      }
    });
  }
  ~TBoxAnswer() {
    if (Worker.joinable()) Worker.join();
  }
};

TEST(Win32Form, MessageBoxesAskYesOrNoAndShowTheirText) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  {
    TBoxAnswer yes(f.Form.Handle(), IDYES);
    EXPECT_TRUE(f.Form.Confirm("Are you sure exit this program?"));
    yes.Worker.join();
    EXPECT_EQ(yes.Text, "Are you sure exit this program?");
  }
  {
    TBoxAnswer no(f.Form.Handle(), IDNO);
    EXPECT_FALSE(f.Form.Confirm("Are you sure exit this program?"));
  }
  {
    TBoxAnswer ok(f.Form.Handle(), IDOK);
    f.Form.Information("For apply of the new settings it is necessary to restart player");
    ok.Worker.join();
    EXPECT_EQ(ok.Text, "For apply of the new settings it is necessary to restart player");
  }
}

TEST(Win32Form, CloseAsksTheLogicAndEndsTheLoop) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.AllowClose = false;
  SendMessageA(f.Form.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(f.Logic.Closes, 1);
  ASSERT_TRUE(IsWindow(f.Form.Handle()));

  f.Logic.AllowClose = true;
  f.Form.QuitOnDestroy = true;
  PostMessageA(f.Form.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(f.App.Run(), 0);
  EXPECT_EQ(f.Logic.Closes, 2);
  EXPECT_EQ(f.Form.Handle(), nullptr);
  // The controls let go of their windows: changing them now is harmless.
  EXPECT_EQ(f.Logic.Lab.View(), nullptr);
  f.Logic.Lab.SetCaption("gone");
}

TEST(Win32Form, EndSessionAnswersFirstThenLetsTheLogicClose) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.AllowClose = false;
  HWND hwnd = f.Form.Handle();
  EXPECT_TRUE(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0));
  EXPECT_EQ(f.Logic.ShutdownQueries, 1);
  EXPECT_EQ(f.Logic.Closes, 1);
  EXPECT_FALSE(IsWindow(hwnd));
}

TEST(Win32Form, MinimiseGoesToTheTrayAndADoubleClickBringsItBack) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  HWND hwnd = f.Form.Handle();
  f.Form.SetHint("Orvanta Kestrune");
  f.Form.SetAnimate(true);
  f.Form.PostMinimize();
  ASSERT_TRUE(PumpUntil(f.App, [&] { return f.Logic.Minimized > 0; }));
  EXPECT_EQ(f.Logic.Minimized, 1);
  EXPECT_TRUE(IsIconic(hwnd));
  EXPECT_FALSE(IsWindowVisible(hwnd));  // no taskbar button
  EXPECT_TRUE(f.Form.TrayIconWanted());

  SendMessageA(hwnd, WM_APP + 1, 1, WM_LBUTTONDBLCLK);
  EXPECT_EQ(f.Logic.DblClicks, 1);
  EXPECT_EQ(f.Logic.Restored, 1);
  EXPECT_FALSE(IsIconic(hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_FALSE(f.Form.TrayIconWanted());
  f.Form.SetAnimate(false);
}

TEST(Win32Form, ControlsAndTimersDestroyedFirstLetGoOfTheirWindows) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  auto extra = std::make_unique<TLabel>(TControlKind::Label, "LExtra");
  extra->Parent = &f.Logic.Pan;
  extra->SetCaption("extra");
  f.Form.Controls()->Bind(*extra);
  HWND label = f.Child(*extra);
  ASSERT_TRUE(IsWindow(label));
  EXPECT_EQ(TextOf(label), "extra");
  extra.reset();
  EXPECT_FALSE(IsWindow(label));
  // The panel's other controls are still mirrored.
  f.Logic.Pan.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(f.Child(f.Logic.Lab)));

  int fired = 0;
  auto timer = std::make_unique<TTimer>("TimerExtra", 1);
  timer->OnTimer = [&] { ++fired; };
  f.App.Attach(*timer);
  timer->SetEnabled(true);
  Sleep(30);  // its WM_TIMER is due now
  timer.reset();
  PumpUntil(
      f.App, [] { return false; }, 60);
  EXPECT_EQ(fired, 0);
}

TEST(Win32Form, FormMessageSeesPrivateAndCopyDataMessagesBeforeTheWindow) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  HWND hwnd = f.Form.Handle();
  auto& seen = f.Logic.Messages;
  const LPARAM packed = static_cast<LPARAM>(PackParam(cmdPlay, cmdPlayWithFade));
  EXPECT_EQ(SendMessageA(hwnd, WM_WINMSG, 1234, packed), 77);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "2102 1234 " + std::to_string(packed));

  const char data[] = "block";
  COPYDATASTRUCT cds{PackParam(0x2000, 1), sizeof(data) - 1, const_cast<char*>(data)};
  EXPECT_EQ(SendMessageA(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], "copydata " + std::to_string(PackParam(0x2000, 1)) + " block");

  // Both ends of the private range reach the form; what it leaves goes to the window.
  seen.clear();
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 1, 2), 0);
  EXPECT_EQ(SendMessageA(hwnd, 0x7FFF, 3, 4), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{"1024 1 2", "32767 3 4"}));
  // The window's own messages, and WM_APP's range, do not.
  seen.clear();
  SendMessageA(hwnd, WM_USER - 1, 0, 0);
  SendMessageA(hwnd, WM_APP, 0, 0);
  SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("caption"));
  EXPECT_TRUE(seen.empty());
  // Posted from another thread, as a controlling program's command arrives.
  std::thread([hwnd, packed] { PostMessageA(hwnd, WM_WINMSG, 5, packed); }).join();
  ASSERT_TRUE(PumpUntil(f.App, [&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0], "2102 5 " + std::to_string(packed));
}

TEST(Win32Form, LinkLabelShowsEachTextWholeOnOneLine) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  TControl& link = f.Logic.Link;
  HWND hwnd = f.Child(link);
  // The main window's place for it: bottom right, 196 pixels.
  link.SetBounds(120, 204, 196, 16);
  const char* const texts[] = {"Orvanta Kestrune", "Home page: https://kestrune.orvanta.example",
                               "Orvanta Audio, 2026"};
  for (const char* text : texts) {
    link.SetCaption(text);
    const RECT r = RectInForm(f.Form.Handle(), hwnd);
    EXPECT_EQ(r.right, 316) << text << ": the right edge stays";
    EXPECT_GE(r.right - r.left, 196) << text;
    EXPECT_LE(r.right - r.left, 318) << text << ": within the window";
    // Broken at words as a static breaks its text, it still needs one line only.
    RECT client;
    GetClientRect(hwnd, &client);
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    RECT need{0, 0, client.right, 0};
    DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    EXPECT_LE(need.bottom, tm.tmHeight) << text << " takes more than one line";
    EXPECT_LE(need.right, client.right) << text;
    EXPECT_LE(tm.tmHeight, client.bottom) << text << ": the line fits the label's height";
  }
}

TEST(Win32Form, GaugeRaisesMouseUpForEveryButtonAndAClickForTheLeftOne) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  HWND gauge = f.Child(f.Logic.Gauge);
  const LPARAM at = MAKELPARAM(20, 5);
  SendMessageA(gauge, WM_RBUTTONDOWN, MK_RBUTTON, at);
  SendMessageA(gauge, WM_RBUTTONUP, 0, at);
  SendMessageA(gauge, WM_MBUTTONDOWN, MK_MBUTTON, at);
  SendMessageA(gauge, WM_MBUTTONUP, 0, at);
  SendMessageA(gauge, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(gauge, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(f.Logic.Events,
            (std::vector<std::string>{"gauge up", "gauge up", "gauge click", "gauge up"}));
  // A release without a press on the gauge (the press was elsewhere) raises nothing.
  f.Logic.Events.clear();
  SendMessageA(gauge, WM_RBUTTONUP, 0, at);
  EXPECT_TRUE(f.Logic.Events.empty());
  // A disabled gauge raises nothing either.
  f.Logic.Gauge.SetEnabled(false);
  SendMessageA(gauge, WM_RBUTTONDOWN, MK_RBUTTON, at);
  SendMessageA(gauge, WM_RBUTTONUP, 0, at);
  EXPECT_TRUE(f.Logic.Events.empty());
}

// Moves the real mouse: the system's hit testing decides which window gets the click.
void ClickAt(HWND hwnd, int x, int y, DWORD down, DWORD up) {
  POINT p{x, y};
  ClientToScreen(hwnd, &p);
  SetCursorPos(p.x, p.y);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = down;
  in[1].mi.dwFlags = up;
  SendInput(2, in, sizeof(INPUT));
}

TEST(Win32Form, RealMouseClicksReachTheLinkAndTheGauge) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  SetForegroundWindow(f.Form.Handle());
  PumpUntil(
      f.App, [] { return false; }, 100);
  ClickAt(f.Child(f.Logic.Link), 10, 7, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return !f.Logic.Events.empty(); }));
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"link click"});
  f.Logic.Events.clear();
  ClickAt(f.Child(f.Logic.Gauge), 20, 7, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  ASSERT_TRUE(PumpUntil(f.App, [&] { return !f.Logic.Events.empty(); }));
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"gauge up"});
}

TEST(Win32Form, OpenAddressHandsTheAddressToTheSystem) {
  TFormFixture f;
  ASSERT_TRUE(f.Created);
  // A program is an address the system opens by running it (the probe ends by itself).
  EXPECT_TRUE(f.Form.OpenAddress(ProgramDir() + "..\\tools\\probe\\kestrune-probe.exe"));
  EXPECT_FALSE(f.Form.OpenAddress(ProgramDir() + "no-such-file.kestrune"));
}

}  // namespace
