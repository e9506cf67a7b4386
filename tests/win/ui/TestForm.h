#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Form.h"

// A small form with a control of every kind, recording what the window tells it.
class TTestForm : public TFormHandler {
 public:
  TPanel Pan{TControlKind::Panel, "PanTest"};
  TLabel Lab{TControlKind::Label, "LabTest"};
  TButton Btn{TControlKind::Button, "SBTest"};
  TGauge Gauge{TControlKind::Gauge, "GTest", -20, 20, 0};
  TSlider Slider{TControlKind::Slider, "sTest", 0, 300, 100};
  TImage Img{TControlKind::Image, "ImgTest"};
  TControl Link{TControlKind::LinkLabel, "LTestLink"};
  TTimer Timer{"TimerTest", 10};

  TFormWindow* Window = nullptr;
  int Created = 0, Closes = 0, Minimized = 0, Restored = 0, DblClicks = 0, ShutdownQueries = 0;
  // What FormMessage was shown.
  std::vector<std::string> Messages;
  bool AllowClose = true;
  bool ViewsAtCreate = false;
  std::vector<std::string> Events;

  TTestForm() {
    Pan.SetBounds(2, 2, 315, 117);
    Pan.SetCaption("Output");
    Lab.Parent = &Pan;
    Lab.SetBounds(10, 20, 100, 18);
    Lab.SetCaption("STOP");
    Lab.SetHint("Status");
    Btn.SetBounds(98, 170, 90, 26);
    Btn.SetCaption("Play");
    Gauge.Parent = &Pan;
    Gauge.SetBounds(3, 66, 150, 14);
    Gauge.SetHint("Stabilizer");
    Slider.Parent = &Pan;
    Slider.SetBounds(3, 86, 250, 26);
    Slider.SetHint("Volume");
    Img.Parent = &Pan;
    Img.SetBounds(3, 40, 310, 25);
    Link.SetBounds(200, 205, 110, 14);
    Link.SetCaption("Orvanta Kestrune");
    Btn.OnClick = [this] { Events.push_back("click"); };
    Slider.OnChange = [this] { Events.push_back("change " + std::to_string(Slider.Value())); };
    Img.OnClick = [this] { Events.push_back("img click"); };
    Img.OnMouseUp = [this] { Events.push_back("img up"); };
    Link.OnClick = [this] { Events.push_back("link click"); };
    Gauge.OnClick = [this] { Events.push_back("gauge click"); };
    Gauge.OnMouseUp = [this] { Events.push_back("gauge up"); };
  }

  void FormCreate() override {
    ++Created;
    ViewsAtCreate = Lab.View() && Btn.View() && Gauge.View() && Slider.View() && Img.View() &&
                    Link.View() && Pan.View();
  }
  bool FormClose() override {
    ++Closes;
    return AllowClose;
  }
  void WMSystem_Shutdown_Query() override {
    ++ShutdownQueries;
    AllowClose = true;
    if (Window) Window->Close();
  }
  void OnMinimize() override {
    ++Minimized;
    if (Window) Window->ShowTaskbarButton(false);
  }
  void OnRestore() override {
    ++Restored;
    if (Window) Window->ShowTaskbarButton(true);
  }
  void TrayIconDblClick() override { ++DblClicks; }
  std::vector<TControl*> FormControls() override {
    return {&Pan, &Lab, &Btn, &Gauge, &Slider, &Img, &Link};
  }
  // Answers the protocol's message and WM_COPYDATA; leaves every other one to the window.
  bool FormMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, intptr_t& result) override {
    if (msg == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      Messages.push_back("copydata " + std::to_string(data->dwData) + " " +
                         std::string(static_cast<const char*>(data->lpData), data->cbData));
      result = 1;
      return true;
    }
    Messages.push_back(std::to_string(msg) + " " + std::to_string(wParam) + " " +
                       std::to_string(lParam));
    if (msg != WM_WINMSG) return false;
    result = 77;
    return true;
  }
  std::vector<TTimer*> FormTimers() override { return {&Timer}; }
};

// A form with the controls a dialog is made of, recording their events.
class TKindsForm : public TFormHandler {
 public:
  TCheckBox Check{"CBTest"};
  TComboBox Combo{"BSTest"};
  TListBox List{"LBTest"};
  TRadioGroup Radio{"RGTest"};
  TSpinEdit Whole{"EWhole", 5, 180, 0, 1};
  TSpinEdit Tenths{"ETenths", 1, 30, 1, 1};
  TEdit Edit{"ETest"};
  TDirectoryEdit Dir{"DETest"};
  TButton Ok{TControlKind::Button, "SBOk"};
  TButton Other{TControlKind::Button, "SBOther"};

  TFormWindow* Window = nullptr;
  std::vector<std::string> Events;

  TKindsForm() {
    Check.SetBounds(5, 5, 150, 20);
    Check.SetCaption("Autoplay");
    Check.SetHint("Autostart playing");
    Combo.SetBounds(160, 5, 150, 22);
    Combo.SetItems({"32000", "44100", "48000"});
    Combo.SetItemIndex(1);
    List.SetBounds(5, 30, 100, 80);
    List.SetItems({"dsp_a.dll", "dsp_b.dll"});
    Radio.SetBounds(110, 30, 200, 60);
    Radio.SetCaption("Send stream");
    Radio.Columns = 2;
    Radio.SetItems({"Recorded", "After plugins", "Playback", "What U hear"});
    Radio.SetItemIndex(0);
    Whole.SetBounds(110, 95, 80, 22);
    Whole.SetValue(10);
    Tenths.SetBounds(200, 95, 80, 22);
    Tenths.SetValue(5);
    Edit.SetBounds(5, 120, 150, 22);
    Dir.SetBounds(160, 120, 150, 22);
    Dir.SetText("C:\\Plugins");
    Ok.SetBounds(5, 150, 80, 26);
    Ok.SetCaption("Save");
    Ok.Default = true;
    Other.SetBounds(90, 150, 80, 26);
    Other.SetCaption("Other");
    Check.OnChange = [this] { Events.push_back("check " + std::to_string(Check.Checked())); };
    Check.OnClick = [this] { Events.push_back("check click"); };
    Combo.OnChange = [this] { Events.push_back("combo " + std::to_string(Combo.ItemIndex())); };
    List.OnChange = [this] { Events.push_back("list " + std::to_string(List.ItemIndex())); };
    List.OnDblClick = [this] { Events.push_back("list dblclick"); };
    Radio.OnChange = [this] { Events.push_back("radio " + std::to_string(Radio.ItemIndex())); };
    Whole.OnChange = [this] { Events.push_back("whole " + Whole.Text()); };
    Tenths.OnChange = [this] { Events.push_back("tenths " + Tenths.Text()); };
    Edit.OnChange = [this] { Events.push_back("edit " + Edit.Text()); };
    Dir.OnChange = [this] { Events.push_back("dir " + Dir.Text()); };
    Dir.OnBrowse = [this] { Events.push_back("browse"); };
    Ok.OnClick = [this] { Events.push_back("ok"); };
    Other.OnClick = [this] { Events.push_back("other"); };
  }

  void FormCreate() override {}
  bool FormClose() override { return true; }
  std::vector<TControl*> FormControls() override {
    return {&Check, &Combo, &List, &Radio, &Whole, &Tenths, &Edit, &Dir, &Ok, &Other};
  }
  std::vector<TTimer*> FormTimers() override { return {}; }
};

// An application with a test form in a real window; the window's end does not quit the
// thread's message loop, so every test starts afresh.
template <typename TLogic>
struct TFormFixtureOf {
  TWin32App App;
  TLogic Logic;
  TWin32Form Form{App, MainWindowClass};
  bool Created = false;

  TFormFixtureOf() {
    Form.QuitOnDestroy = false;
    Logic.Window = &Form;
    Created = Form.Create(Logic);
  }
  HWND Child(const TControl& c) const {
    return Form.Controls() ? Form.Controls()->HandleOf(c) : nullptr;
  }
  std::vector<HWND> Parts(const TControl& c) const {
    return Form.Controls() ? Form.Controls()->PartsOf(c) : std::vector<HWND>{};
  }
};

using TFormFixture = TFormFixtureOf<TTestForm>;
using TKindsFixture = TFormFixtureOf<TKindsForm>;

// Runs the thread's messages until the condition holds or the time is up.
template <typename F>
bool PumpUntil(TWin32App& app, F done, DWORD timeoutMs = 3000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    app.ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

std::string TextOf(HWND hwnd);
std::string NameTag(HWND hwnd);
std::string ClassOf(HWND hwnd);
// The directory of this test program, with a trailing backslash.
std::string ProgramDir();
