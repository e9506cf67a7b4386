#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/Protocol.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Dialog.h"
#include "ui/win32/Win32Form.h"

namespace {

// An empty main window to own the dialogs.
struct TOwnerForm : TFormHandler {
  TFormWindow* Window = nullptr;
  void FormCreate() override {}
  bool FormClose() override { return true; }
  std::vector<TControl*> FormControls() override { return {}; }
  std::vector<TTimer*> FormTimers() override { return {}; }
};

// A small dialog: a field, a check box, a radio group and two buttons, Save the default.
struct TSmallDialog : TFormHandler {
  TModalWindow& Window;
  TEdit Name{"EName"};
  TCheckBox Tray{"cbTray"};
  TRadioGroup Size{"RGBlkSize"};
  TButton Save{TControlKind::Button, "SBSave"};
  TButton Other{TControlKind::Button, "SBOther"};
  bool AllowClose = true;
  int Closes = 0, Saves = 0, Others = 0;

  explicit TSmallDialog(TModalWindow& window) : Window(window) {
    Name.SetBounds(10, 10, 150, 22);
    Tray.SetBounds(10, 40, 150, 20);
    Tray.SetCaption("Hide to tray");
    Size.SetBounds(10, 70, 300, 44);
    Size.SetCaption("Block size");
    Size.Columns = 4;
    Size.SetItems({"Small", "Medium", "Large", "Hugo"});
    Size.SetItemIndex(1);
    Save.SetBounds(10, 130, 100, 26);
    Save.SetCaption("Save settings");
    Save.Default = true;
    Other.SetBounds(120, 130, 100, 26);
    Other.SetCaption("Other");
    Save.OnClick = [this] {
      ++Saves;
      Window.EndModal(true);
    };
    Other.OnClick = [this] { ++Others; };
  }
  void FormCreate() override {}
  bool FormClose() override {
    ++Closes;
    return AllowClose;
  }
  std::vector<TControl*> FormControls() override { return {&Name, &Tray, &Size, &Save, &Other}; }
  std::vector<TTimer*> FormTimers() override { return {}; }
};

struct TDialogFixture {
  TWin32App App;
  TOwnerForm OwnerLogic;
  TWin32Form Owner{App, MainWindowClass};
  TWin32Dialog Dialog{App, "TFrSettings"};
  TSmallDialog Logic{Dialog};

  TDialogFixture() {
    Owner.QuitOnDestroy = false;
    Owner.Create(OwnerLogic);
  }
  // Runs the steps one after the other inside the dialog's loop, then shows it modally.
  bool Run(std::vector<std::function<void()>> steps) {
    Steps = std::move(steps);
    Next = 0;
    App.Post([this] { Step(); });
    return Dialog.ShowModal(Logic, Owner.Handle(), "Settings", 665, 650);
  }
  // Each step's keys are posted and handled before the next step runs.
  void Step() {
    if (Next >= Steps.size()) return;
    Steps[Next++]();
    if (Dialog.Running()) App.Post([this] { Step(); });
  }
  HWND Child(const TControl& c) const {
    return Dialog.Controls() ? Dialog.Controls()->HandleOf(c) : nullptr;
  }
  void Key(WPARAM key) {
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  }

  std::vector<std::function<void()>> Steps;
  size_t Next = 0;
};

TEST(Win32Dialog, RunsModallyOverItsDisabledOwnerUntilEscapeClosesIt) {
  TDialogFixture f;
  ASSERT_TRUE(f.Owner.Handle());
  HWND dialog = nullptr;
  const bool ok = f.Run({[&] {
    dialog = f.Dialog.Handle();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(IsWindowEnabled(f.Owner.Handle()));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), f.Owner.Handle());
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Settings");
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 665);
    EXPECT_EQ(client.bottom, 650);
    RECT w;
    GetWindowRect(dialog, &w);
    EXPECT_NEAR((w.left + w.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    // The first control has the focus.
    EXPECT_EQ(GetFocus(), f.Child(f.Logic.Name));
    f.Key(VK_ESCAPE);
  }});
  EXPECT_FALSE(ok);
  EXPECT_EQ(f.Logic.Closes, 1);
  EXPECT_EQ(f.Logic.Saves, 0);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(IsWindowEnabled(f.Owner.Handle()));
  EXPECT_FALSE(f.Dialog.Running());
  // The dialog's controls let go of their windows.
  EXPECT_EQ(f.Logic.Name.View(), nullptr);
}

TEST(Win32Dialog, TabWalksTheControlsAndEnterPressesTheFocusedOrTheDefaultButton) {
  TDialogFixture f;
  std::vector<HWND> expected, focused;
  auto tab = [&] {
    focused.push_back(GetFocus());
    f.Key(VK_TAB);
  };
  const bool ok = f.Run({
      [&] {
        const auto radios = f.Dialog.Controls()->PartsOf(f.Logic.Size);
        ASSERT_EQ(radios.size(), 4u);
        // Into the radio group at its chosen button; Tab wraps around.
        expected = {f.Child(f.Logic.Name), f.Child(f.Logic.Tray),  radios[1],
                    f.Child(f.Logic.Save), f.Child(f.Logic.Other), f.Child(f.Logic.Name)};
        tab();
      },
      tab,
      tab,
      tab,
      tab,
      [&] {
        focused.push_back(GetFocus());
        // Shift+Tab goes back.
        SendMessageA(f.Dialog.Handle(), WM_NEXTDLGCTL, 1, 0);
        EXPECT_EQ(GetFocus(), f.Child(f.Logic.Other));
        f.Key(VK_RETURN);
      },
      [&] {
        EXPECT_EQ(f.Logic.Others, 1) << "Enter on a focused button presses that button";
        EXPECT_EQ(f.Logic.Saves, 0);
        SetFocus(f.Child(f.Logic.Tray));
        f.Key(VK_RETURN);
      },
  });
  EXPECT_TRUE(ok) << "Enter elsewhere presses the default button, which ends with OK";
  EXPECT_EQ(f.Logic.Saves, 1);
  EXPECT_EQ(focused, expected);
  EXPECT_EQ(f.Logic.Size.ItemIndex(), 1) << "tabbing through the group leaves its choice";
  EXPECT_FALSE(f.Logic.Tray.Checked()) << "Enter on a check box does not toggle it";
}

TEST(Win32Dialog, ArrowKeysMoveTheChoiceOfARadioGroup) {
  TDialogFixture f;
  std::vector<HWND> radios;
  f.Run({
      [&] {
        radios = f.Dialog.Controls()->PartsOf(f.Logic.Size);
        SetFocus(radios[1]);
        f.Key(VK_RIGHT);
      },
      [&] {
        EXPECT_EQ(GetFocus(), radios[2]);
        EXPECT_EQ(f.Logic.Size.ItemIndex(), 2);
        EXPECT_EQ(SendMessageA(radios[2], BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendMessageA(radios[1], BM_GETCHECK, 0, 0), BST_UNCHECKED);
        f.Key(VK_LEFT);
      },
      [&] { f.Key(VK_LEFT); },
      [&] {
        EXPECT_EQ(f.Logic.Size.ItemIndex(), 0);
        f.Dialog.EndModal(false);
      },
  });
  EXPECT_EQ(f.Logic.Size.ItemIndex(), 0);
}

TEST(Win32Dialog, TheFormDecidesAboutClosingAndTheCloseButtonEndsWithoutOk) {
  TDialogFixture f;
  f.Logic.AllowClose = false;
  const bool ok = f.Run({
      [&] { f.Key(VK_ESCAPE); },
      [&] {
        EXPECT_EQ(f.Logic.Closes, 1);
        EXPECT_TRUE(f.Dialog.Running());
        f.Logic.AllowClose = true;
        PostMessageA(f.Dialog.Handle(), WM_CLOSE, 0, 0);
      },
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(f.Logic.Closes, 2);
}

TEST(Win32Dialog, EndsWhenItsOwnerGoesOrTheProgramQuits) {
  {
    TDialogFixture f;
    HWND owner = f.Owner.Handle();
    EXPECT_FALSE(f.Run({[&] { DestroyWindow(owner); }}));
    EXPECT_FALSE(IsWindow(owner));
    EXPECT_EQ(f.Dialog.Handle(), nullptr);
  }
  {
    TDialogFixture f;
    EXPECT_FALSE(f.Run({[&] { PostQuitMessage(3); }}));
    EXPECT_TRUE(IsWindowEnabled(f.Owner.Handle()));
    // The quit is left for the main loop.
    EXPECT_EQ(f.App.Run(), 3);
  }
}

// Presses OK of the thread's visible dialog (the folder browser), noting that it did.
BOOL CALLBACK PressOk(HWND hwnd, LPARAM pressed) {
  char cls[16] = {};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
  PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
  *reinterpret_cast<bool*>(pressed) = true;
  return FALSE;
}

TEST(Win32Dialog, ChooseDirectoryStartsAtTheGivenDirectory) {
  TDialogFixture f;
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof(temp), temp);
  std::string start = temp;
  if (start.size() > 3 && start.back() == '\\') start.pop_back();
  std::optional<std::string> chosen;
  bool pressed = false;
  f.Run({[&] {
    // The folder browser is a dialog of this thread; another thread presses its OK.
    const DWORD thread = GetCurrentThreadId();
    std::thread presser([&, thread] {
      for (int i = 0; i < 500 && !pressed; ++i) {
        Sleep(20);
        EnumThreadWindows(thread, PressOk, reinterpret_cast<LPARAM>(&pressed));
      }
    });
    chosen = f.Dialog.ChooseDirectory(start);
    presser.join();
    f.Dialog.EndModal(false);
  }});
  ASSERT_TRUE(pressed) << "no folder browser came";
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(lstrcmpiA(chosen->c_str(), start.c_str()), 0) << *chosen << " vs " << start;
}

}  // namespace
