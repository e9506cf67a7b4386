#include <gtest/gtest.h>

#include "TestForm.h"
// commctrl.h needs windows.h, which TestForm.h brings.
#include <commctrl.h>

namespace {

LRESULT Command(HWND from, WORD code) {
  return SendMessageA(GetParent(from), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(from), code),
                      reinterpret_cast<LPARAM>(from));
}

TEST(Win32Kinds, EachKindHasItsStandardWindowShowingItsValues) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  TKindsForm& l = f.Logic;
  struct {
    const TControl& Control;
    const char* Class;
  } expected[] = {{l.Check, "Button"},
                  {l.Combo, "ComboBox"},
                  {l.List, "ListBox"},
                  {l.Radio, "TKestruneGroup"},
                  {l.Whole, "TKestruneGroup"},
                  {l.Tenths, "TKestruneGroup"},
                  {l.Edit, "Edit"},
                  {l.Dir, "TKestruneGroup"}};
  for (auto& e : expected) {
    HWND hwnd = f.Child(e.Control);
    ASSERT_TRUE(hwnd) << e.Control.Name;
    EXPECT_EQ(NameTag(hwnd), e.Control.Name);
    EXPECT_EQ(lstrcmpiA(ClassOf(hwnd).c_str(), e.Class), 0) << e.Control.Name;
    EXPECT_TRUE(IsWindowVisible(hwnd)) << e.Control.Name;
  }
  HWND check = f.Child(l.Check);
  EXPECT_EQ(TextOf(check), "Autoplay");
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  l.Check.SetChecked(true);
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);

  HWND combo = f.Child(l.Combo);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
  l.Combo.SetItemIndex(-1);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  // The field shows in the control's height; the window holds the list it opens as well.
  RECT field;
  SendMessageA(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&field));
  EXPECT_GT(field.bottom - field.top, 100);

  HWND list = f.Child(l.List);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
  l.List.AddItem("dsp_c.dll");
  l.List.SetItemIndex(2);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 2);
  l.List.DeleteItem(0);
  EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 1) << "the selected item stays selected";

  // The spin edits: the field shows the value with its decimals, the container too.
  const auto whole = f.Parts(l.Whole);
  const auto tenths = f.Parts(l.Tenths);
  ASSERT_EQ(whole.size(), 2u);
  ASSERT_EQ(tenths.size(), 2u);
  EXPECT_EQ(ClassOf(whole[0]), "Edit");
  EXPECT_EQ(lstrcmpiA(ClassOf(whole[1]).c_str(), UPDOWN_CLASSA), 0);
  EXPECT_EQ(TextOf(whole[0]), "10");
  EXPECT_EQ(TextOf(tenths[0]), "5.0");
  EXPECT_EQ(TextOf(f.Child(l.Tenths)), "5.0");
  l.Tenths.SetValue(99);
  EXPECT_EQ(TextOf(tenths[0]), "30.0");

  const auto dir = f.Parts(l.Dir);
  ASSERT_EQ(dir.size(), 2u);
  EXPECT_EQ(TextOf(dir[0]), "C:\\Plugins");
  EXPECT_EQ(TextOf(dir[1]), "...");
  l.Edit.SetText("abc");
  EXPECT_EQ(TextOf(f.Child(l.Edit)), "abc");

  // Hidden and disabled with everything inside.
  l.Tenths.SetEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(tenths[0]));
  EXPECT_FALSE(IsWindowEnabled(tenths[1]));
  l.Tenths.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(tenths[0]));
}

TEST(Win32Kinds, RadioGroupLaysItsButtonsOutInColumnsAndRebuildsThemForNewItems) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  TRadioGroup& g = f.Logic.Radio;
  auto radios = f.Parts(g);
  ASSERT_EQ(radios.size(), 4u);
  EXPECT_EQ(TextOf(radios[1]), "After plugins");
  EXPECT_EQ(SendMessageA(radios[0], BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(radios[1], BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // Two columns: the second button beside the first, the third below it.
  RECT r0, r1, r2;
  GetWindowRect(radios[0], &r0);
  GetWindowRect(radios[1], &r1);
  GetWindowRect(radios[2], &r2);
  EXPECT_EQ(r1.top, r0.top);
  EXPECT_GT(r1.left, r0.right - 5);
  EXPECT_EQ(r2.left, r0.left);
  EXPECT_GT(r2.top, r0.top);
  // Only the chosen button is a tab stop.
  EXPECT_TRUE(GetWindowLongPtrA(radios[0], GWL_STYLE) & WS_TABSTOP);
  EXPECT_FALSE(GetWindowLongPtrA(radios[2], GWL_STYLE) & WS_TABSTOP);
  // The caption is on the frame.
  EXPECT_EQ(TextOf(f.Child(g)), "Send stream");

  const HWND old = radios[0];
  g.SetItems({"Small", "Medium"});
  g.SetItemIndex(1);
  radios = f.Parts(g);
  EXPECT_FALSE(IsWindow(old));
  ASSERT_EQ(radios.size(), 2u);
  EXPECT_EQ(TextOf(radios[0]), "Small");
  EXPECT_EQ(SendMessageA(radios[1], BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(GetWindowLongPtrA(radios[1], GWL_STYLE) & WS_TABSTOP);
  // The new buttons answer clicks, and stay when only the choice changes.
  f.Logic.Events.clear();
  SendMessageA(radios[0], BM_CLICK, 0, 0);
  EXPECT_EQ(g.ItemIndex(), 0);
  EXPECT_EQ(f.Parts(g), radios);
  EXPECT_EQ(f.Logic.Events, std::vector<std::string>{"radio 0"});
  EXPECT_EQ(SendMessageA(radios[0], BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(radios[1], BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST(Win32Kinds, TheControlsOwnMessagesChangeTheValuesAndRaiseTheEvents) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  TKindsForm& l = f.Logic;
  auto& ev = l.Events;

  // A click on the check box toggles the control, which the window then shows.
  HWND check = f.Child(l.Check);
  SendMessageA(check, BM_CLICK, 0, 0);
  EXPECT_TRUE(l.Check.Checked());
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(ev, (std::vector<std::string>{"check 1", "check click"}));
  ev.clear();
  SendMessageA(check, BM_CLICK, 0, 0);
  EXPECT_FALSE(l.Check.Checked());
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);

  ev.clear();
  HWND combo = f.Child(l.Combo);
  SendMessageA(combo, CB_SETCURSEL, 2, 0);
  Command(combo, CBN_SELCHANGE);
  EXPECT_EQ(l.Combo.ItemIndex(), 2);
  EXPECT_EQ(l.Combo.Selected(), "48000");
  EXPECT_EQ(ev, std::vector<std::string>{"combo 2"});

  ev.clear();
  HWND list = f.Child(l.List);
  SendMessageA(list, LB_SETCURSEL, 1, 0);
  Command(list, LBN_SELCHANGE);
  Command(list, LBN_DBLCLK);
  EXPECT_EQ(l.List.ItemIndex(), 1);
  EXPECT_EQ(ev, (std::vector<std::string>{"list 1", "list dblclick"}));

  ev.clear();
  SendMessageA(f.Parts(l.Radio)[3], BM_CLICK, 0, 0);
  EXPECT_EQ(l.Radio.ItemIndex(), 3);
  EXPECT_EQ(ev, std::vector<std::string>{"radio 3"});

  // Typing into a spin edit: a number takes effect as typed (within the range), other text
  // leaves the value; leaving the field shows the value it took.
  ev.clear();
  HWND tenths = f.Parts(l.Tenths)[0];
  SetWindowTextA(tenths, "2,5");
  EXPECT_DOUBLE_EQ(l.Tenths.Value(), 2.5);
  EXPECT_EQ(TextOf(tenths), "2,5") << "the field keeps the text while it is typed";
  SetWindowTextA(tenths, "31");
  EXPECT_DOUBLE_EQ(l.Tenths.Value(), 30);
  SetWindowTextA(tenths, "abc");
  EXPECT_DOUBLE_EQ(l.Tenths.Value(), 30);
  Command(tenths, EN_KILLFOCUS);
  EXPECT_EQ(TextOf(tenths), "30.0");
  EXPECT_EQ(ev, (std::vector<std::string>{"tenths 2.5", "tenths 30.0"}));

  // The arrows step by the increment and stop at the bounds.
  ev.clear();
  HWND whole = f.Parts(l.Whole)[0];
  SetFocus(whole);
  SendMessageA(whole, WM_KEYDOWN, VK_UP, 0);
  SendMessageA(whole, WM_KEYUP, VK_UP, 0);
  EXPECT_EQ(l.Whole.Value(), 11);
  EXPECT_EQ(TextOf(whole), "11");
  l.Whole.SetValue(180);
  SendMessageA(whole, WM_KEYDOWN, VK_UP, 0);
  SendMessageA(whole, WM_KEYUP, VK_UP, 0);
  EXPECT_EQ(l.Whole.Value(), 180);
  SendMessageA(whole, WM_KEYDOWN, VK_DOWN, 0);
  SendMessageA(whole, WM_KEYUP, VK_DOWN, 0);
  EXPECT_EQ(l.Whole.Value(), 179);
  EXPECT_EQ(ev, (std::vector<std::string>{"whole 11", "whole 180", "whole 179"}));

  ev.clear();
  SetWindowTextA(f.Child(l.Edit), "typed");
  EXPECT_EQ(l.Edit.Text(), "typed");
  const auto dir = f.Parts(l.Dir);
  SetWindowTextA(dir[0], "D:\\Dsp");
  SendMessageA(dir[1], BM_CLICK, 0, 0);
  EXPECT_EQ(l.Dir.Text(), "D:\\Dsp");
  EXPECT_EQ(TextOf(f.Child(l.Dir)), "D:\\Dsp");
  EXPECT_EQ(ev, (std::vector<std::string>{"edit typed", "dir D:\\Dsp", "browse"}));

  // The program's own changes raise the events once and send nothing back.
  ev.clear();
  l.Edit.SetText("set");
  l.Whole.SetValue(42);
  EXPECT_EQ(ev, (std::vector<std::string>{"edit set", "whole 42"}));
  EXPECT_EQ(TextOf(whole), "42");
}

TEST(Win32Kinds, TabOrderIsTheOrderTheControlsWereBound) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  TKindsForm& l = f.Logic;
  HWND form = f.Form.Handle();
  std::vector<HWND> expected = {f.Child(l.Check),    f.Child(l.Combo),    f.Child(l.List),
                                f.Parts(l.Radio)[0], f.Parts(l.Whole)[0], f.Parts(l.Tenths)[0],
                                f.Child(l.Edit),     f.Parts(l.Dir)[0],   f.Parts(l.Dir)[1],
                                f.Child(l.Ok),       f.Child(l.Other)};
  HWND at = GetNextDlgTabItem(form, nullptr, FALSE);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(at, expected[i]) << "tab stop " << i << " is " << NameTag(at) << " " << ClassOf(at);
    at = GetNextDlgTabItem(form, at, FALSE);
  }
  EXPECT_EQ(at, expected.front()) << "Tab wraps around";
  EXPECT_EQ(GetNextDlgTabItem(form, expected.front(), TRUE), expected.back());
  EXPECT_EQ(f.Form.Controls()->DefaultButton(), f.Child(l.Ok));
  EXPECT_EQ(GetWindowLongPtrA(f.Child(l.Ok), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

TEST(Win32Kinds, HintsShowOverEveryWindowOfAControl) {
  TKindsFixture f;
  ASSERT_TRUE(f.Created);
  f.Logic.Dir.SetHint("Path to plugins");
  HWND tip = f.Form.Controls()->ToolTip();
  for (HWND part : f.Parts(f.Logic.Dir)) {
    char buf[128] = {};
    TOOLINFOA ti{};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    ti.hwnd = f.Form.Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(part);
    ti.lpszText = buf;
    SendMessageA(tip, TTM_GETTEXTA, sizeof(buf), reinterpret_cast<LPARAM>(&ti));
    EXPECT_STREQ(buf, "Path to plugins") << ClassOf(part);
  }
}

}  // namespace
