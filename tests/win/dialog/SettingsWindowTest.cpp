#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "settings/FrSettings.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Dialog.h"
#include "ui/win32/Win32Form.h"
#include "unit/settings/MemoryStores.h"

namespace {

struct TNoForm : TFormHandler {
  TFormWindow* Window = nullptr;
  void FormCreate() override {}
  bool FormClose() override { return true; }
  std::vector<TControl*> FormControls() override { return {}; }
  std::vector<TTimer*> FormTimers() override { return {}; }
};

struct TQuietAudio : TSettingsAudio {
  int32_t InternalVolume() override { return 100; }
  void SetPlayerVolume(int32_t) override {}
};

// The settings dialog in a real window over a main window, driven by steps run inside its loop.
struct TSettingsWindowFixture {
  TWin32App App;
  TNoForm OwnerLogic;
  TWin32Form Owner{App, MainWindowClass};
  TSetting Setting;
  TMemoryProfile Ini;
  TMemoryRunKeys Keys;
  TQuietAudio Audio;
  TFrSettingsServices Services{Setting,
                               {"Line In", "Microphone"},
                               {"Speakers", "Headphones"},
                               Ini,
                               '.',
                               "C:\\Apps\\Kestrune.ini",
                               Keys,
                               "C:\\Apps\\K.exe",
                               Audio,
                               nullptr};
  TWin32Dialog Window{App, "TFrSettings"};
  TFrSettings Logic{Services, Window, Window, Window};
  std::vector<std::function<void()>> Steps;
  size_t Next = 0;

  TSettingsWindowFixture() {
    Owner.QuitOnDestroy = false;
    Owner.Create(OwnerLogic);
    TMemoryProfile file;
    file.Set("Setting", "Source", "Microphone");
    file.Set("Setting", "Destination", "Speakers");
    LoadSettings(Setting, file, TSettingsContext{'.', "C:\\Apps", {}});
  }
  bool Run(std::vector<std::function<void()>> steps) {
    Steps = std::move(steps);
    App.Post([this] { Step(); });
    return Window.ShowModal(Logic, Owner.Handle(), TFrSettings::Caption, TFrSettings::ClientWidth,
                            TFrSettings::ClientHeight);
  }
  void Step() {
    if (Next >= Steps.size()) return;
    Steps[Next++]();
    if (Window.Running()) App.Post([this] { Step(); });
  }
  void Key(WPARAM key) {
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  }
};

RECT InClient(HWND dialog, HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The width the window's text needs in its own font.
int TextWidth(HWND hwnd) {
  char text[256] = {};
  const int n = GetWindowTextA(hwnd, text, sizeof(text));
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text, n, &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size.cx;
}

TEST(SettingsWindow, EveryControlShowsWholeInsideTheWindowAndNoneCoversAnother) {
  TSettingsWindowFixture f;
  f.Run({[&] {
    HWND dialog = f.Window.Handle();
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 665);
    EXPECT_EQ(client.bottom, 650);
    struct TShown {
      const TControl* Control;
      HWND Window;
      RECT Rect;
    };
    std::vector<TShown> shown;
    for (TControl* c : f.Logic.FormControls()) {
      HWND hwnd = f.Window.Controls()->HandleOf(*c);
      ASSERT_TRUE(hwnd) << c->Name;
      if (!IsWindowVisible(hwnd)) continue;
      const RECT r = InClient(dialog, hwnd);
      EXPECT_GE(r.left, 0) << c->Name;
      EXPECT_GE(r.top, 0) << c->Name;
      EXPECT_LE(r.right, client.right) << c->Name;
      EXPECT_LE(r.bottom, client.bottom) << c->Name;
      shown.push_back({c, hwnd, r});
    }
    EXPECT_GE(shown.size(), 38u) << "all but the program ID, shown in interactive mode only";
    // Controls lie side by side; a panel holds the controls placed on it.
    for (size_t i = 0; i < shown.size(); ++i) {
      for (size_t j = i + 1; j < shown.size(); ++j) {
        const TShown& a = shown[i];
        const TShown& b = shown[j];
        const bool aPanel = a.Control->Kind == TControlKind::Panel;
        const bool bPanel = b.Control->Kind == TControlKind::Panel;
        RECT both;
        const bool overlap = IntersectRect(&both, &a.Rect, &b.Rect);
        if (aPanel && b.Control->Parent == a.Control) {
          RECT inside;
          UnionRect(&inside, &a.Rect, &b.Rect);
          EXPECT_TRUE(EqualRect(&inside, &a.Rect)) << b.Control->Name << " outside its panel";
        } else if (bPanel && a.Control->Parent == b.Control) {
          RECT inside;
          UnionRect(&inside, &a.Rect, &b.Rect);
          EXPECT_TRUE(EqualRect(&inside, &b.Rect)) << a.Control->Name << " outside its panel";
        } else {
          EXPECT_FALSE(overlap) << a.Control->Name << " and " << b.Control->Name;
        }
      }
    }
    // Texts are not cut: labels, check boxes, buttons, the radio buttons.
    for (const TShown& s : shown) {
      const TControlKind kind = s.Control->Kind;
      if (kind == TControlKind::Label || kind == TControlKind::Button) {
        EXPECT_LE(TextWidth(s.Window), s.Rect.right - s.Rect.left) << s.Control->Name;
      } else if (kind == TControlKind::CheckBox) {
        // The box and its gap come before the text.
        EXPECT_LE(TextWidth(s.Window) + 20, s.Rect.right - s.Rect.left) << s.Control->Name;
      } else if (kind == TControlKind::RadioGroup) {
        for (HWND radio : f.Window.Controls()->PartsOf(*s.Control)) {
          RECT r;
          GetClientRect(radio, &r);
          EXPECT_LE(TextWidth(radio) + 20, r.right) << s.Control->Name;
        }
      }
    }
    f.Key(VK_ESCAPE);
  }});
}

TEST(SettingsWindow, EnterSavesAndEscapeClosesWithoutSaving) {
  {
    TSettingsWindowFixture f;
    HWND first = nullptr;
    EXPECT_FALSE(f.Run({[&] {
      first = GetFocus();
      EXPECT_EQ(first, f.Window.Controls()->HandleOf(f.Logic.CBSourceMode));
      f.Key(VK_ESCAPE);
    }}));
    EXPECT_EQ(f.Ini.Writes, 0);
  }
  {
    TSettingsWindowFixture f;
    EXPECT_TRUE(f.Run({[&] {
      SendMessageA(f.Window.Controls()->HandleOf(f.Logic.cbTray), BM_CLICK, 0, 0);
      f.Key(VK_RETURN);
    }}));
    EXPECT_TRUE(f.Setting.ToTray);
    EXPECT_EQ(f.Ini.Get("Setting", "ToTray"), "1");
    EXPECT_EQ(f.Ini.Get("Setting", "Source"), "Microphone");
  }
}

}  // namespace
