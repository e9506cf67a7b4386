#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

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
  std::vector<TTimer*> FormTimers() override { return {&Timer}; }
};

// An application with the test form in a real window; the window's end does not quit the
// thread's message loop, so every test starts afresh.
struct TFormFixture {
  TWin32App App;
  TTestForm Logic;
  TWin32Form Form{App};
  bool Created = false;

  TFormFixture() {
    Form.QuitOnDestroy = false;
    Logic.Window = &Form;
    Created = Form.Create(Logic);
  }
  HWND Child(const TControl& c) const {
    return Form.Controls() ? Form.Controls()->HandleOf(c) : nullptr;
  }
};

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
