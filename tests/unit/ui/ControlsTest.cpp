#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace {

// Records what a binding would be told and the events raised.
struct TRecordingView : TControlView {
  int Updates = 0;
  void Update(const TControl&) override { ++Updates; }
};

TEST(CheckBox, AClickTogglesAndRaisesChangeThenClickWhileTheProgramRaisesChangeOnly) {
  TCheckBox box("CBTest");
  std::vector<std::string> events;
  box.OnChange = [&] { events.push_back(box.Checked() ? "on" : "off"); };
  box.OnClick = [&] { events.push_back("click"); };
  box.Click();
  box.Click();
  EXPECT_EQ(events, (std::vector<std::string>{"on", "click", "off", "click"}));
  events.clear();
  box.SetChecked(true);
  box.SetChecked(true);
  EXPECT_EQ(events, std::vector<std::string>{"on"});
  // A disabled box does not take the user's click, whatever the program does.
  events.clear();
  box.SetEnabled(false);
  box.Click();
  EXPECT_TRUE(box.Checked());
  EXPECT_TRUE(events.empty());
  // Through a base pointer, as the binding clicks every kind.
  box.SetEnabled(true);
  TControl& base = box;
  base.Click();
  EXPECT_FALSE(box.Checked());
}

TEST(ListControl, SelectionFollowsItsItemAndNoneIsMinusOne) {
  TListBox list("LBTest");
  TRecordingView view;
  list.Bind(&view);
  std::vector<int> changes;
  list.OnChange = [&] { changes.push_back(list.ItemIndex()); };
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(list.Selected(), "");
  list.SetItems({"a", "b", "c", "d"});
  list.SetItemIndex(2);
  EXPECT_EQ(list.Selected(), "c");
  // Deleting before the selection keeps the same item selected, with no event.
  list.DeleteItem(0);
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_EQ(list.Selected(), "c");
  // Deleting after it changes nothing; deleting it leaves none.
  list.DeleteItem(2);
  EXPECT_EQ(list.Selected(), "c");
  list.DeleteItem(1);
  EXPECT_EQ(list.ItemIndex(), -1);
  // Positions outside the items select none; a missing position deletes nothing.
  list.SetItemIndex(0);
  list.SetItemIndex(7);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.DeleteItem(-1);
  list.DeleteItem(5);
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"b"}));
  // New items drop the selection.
  list.SetItemIndex(0);
  list.SetItems({"x", "y"});
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(changes, (std::vector<int>{2, -1, 0, -1, 0, -1}));
  EXPECT_GT(view.Updates, 0);
  list.Bind(nullptr);
}

TEST(ListControl, DoubleClickOnlyWhileEnabled) {
  TListBox list("LBUsePlugin");
  int clicks = 0;
  list.OnDblClick = [&] { ++clicks; };
  list.DblClick();
  list.SetEnabled(false);
  list.DblClick();
  EXPECT_EQ(clicks, 1);
}

TEST(SpinEdit, KeepsItsValueWithinTheRangeAtItsDecimals) {
  TSpinEdit fade("EFadeOut", 0, 10, 1, 1);
  std::vector<std::string> changes;
  fade.OnChange = [&] { changes.push_back(fade.Text()); };
  EXPECT_EQ(fade.Text(), "0.0");
  fade.SetValue(2.54);
  EXPECT_DOUBLE_EQ(fade.Value(), 2.5);
  fade.SetValue(2.46);
  EXPECT_EQ(fade.Text(), "2.5");
  fade.SetValue(12);
  EXPECT_DOUBLE_EQ(fade.Value(), 10);
  fade.SetValue(-3);
  EXPECT_DOUBLE_EQ(fade.Value(), 0);
  fade.SetValue(std::nan(""));
  EXPECT_DOUBLE_EQ(fade.Value(), 0);
  EXPECT_EQ(changes, (std::vector<std::string>{"2.5", "10.0", "0.0"}));

  TSpinEdit wait("ECardWait", 5, 180, 0, 1);
  EXPECT_EQ(wait.Value(), 5) << "starts at the bottom of its range";
  wait.SetValue(10.4);
  EXPECT_EQ(wait.Text(), "10");
  wait.Step(3);
  EXPECT_EQ(wait.Value(), 13);
  wait.Step(-100);
  EXPECT_EQ(wait.Value(), 5);
  wait.SetEnabled(false);
  wait.Step(1);
  EXPECT_EQ(wait.Value(), 5);
}

TEST(SpinEdit, TypedTextTakesNumbersWithEitherDecimalMarkAndNothingElse) {
  TSpinEdit time("ESilenceTime", 0, 30, 1, 1);
  EXPECT_TRUE(time.Typed("2,5"));
  EXPECT_DOUBLE_EQ(time.Value(), 2.5);
  EXPECT_TRUE(time.Typed(" 7.25 "));
  EXPECT_DOUBLE_EQ(time.Value(), 7.3);
  EXPECT_TRUE(time.Typed("+4"));
  EXPECT_DOUBLE_EQ(time.Value(), 4);
  EXPECT_TRUE(time.Typed("45"));
  EXPECT_DOUBLE_EQ(time.Value(), 30);
  for (const char* bad : {"", " ", "abc", "1e3", "inf", "nan", "0x10", "2.5s", "1,2,3", "-"}) {
    EXPECT_FALSE(time.Typed(bad)) << bad;
    EXPECT_DOUBLE_EQ(time.Value(), 30) << bad;
  }
}

TEST(Edit, ChangesRaiseOnceAndTheBrowseButtonOnlyWhileEnabled) {
  TDirectoryEdit dir("DEPlugins");
  std::vector<std::string> events;
  dir.OnChange = [&] { events.push_back(dir.Text()); };
  dir.OnBrowse = [&] { events.push_back("browse"); };
  dir.SetText("C:\\Plugins");
  dir.SetText("C:\\Plugins");
  dir.Browse();
  dir.SetEnabled(false);
  dir.Browse();
  EXPECT_EQ(events, (std::vector<std::string>{"C:\\Plugins", "browse"}));
  EXPECT_EQ(dir.Kind, TControlKind::DirectoryEdit);
}

}  // namespace
