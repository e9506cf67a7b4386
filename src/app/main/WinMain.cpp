// The program's entry: refuses a second instance of the same executable, then builds the main
// window on the platform's services and runs the message loop until it closes.

#include <windows.h>

#include "app/MainDaemon.h"
#include "link/Protocol.h"
#include "platform/win32/ExePath.h"
#include "platform/win32/FaultGuard.h"
#include "platform/win32/Instance.h"
#include "platform/win32/PeerLink.h"
#include "platform/win32/PlugInLibraries.h"
#include "platform/win32/ProcessMetrics.h"
#include "platform/win32/Profile.h"
#include "platform/win32/Registry.h"
#include "platform/win32/VersionInfo.h"
#include "platform/win32/WinmmApi.h"
#include "settings/FrSettings.h"
#include "ui/win32/Win32App.h"
#include "ui/win32/Win32Dialog.h"
#include "ui/win32/Win32Form.h"
#include "util/Helpers.h"

namespace {

TThreadRelayHost::THooks RelayHooks() {
  TThreadRelayHost::THooks hooks;
  hooks.RaiseThreadPriority = [] {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    // A name for profilers and debuggers; absent before Windows 10, hence looked up.
    using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    if (auto set = reinterpret_cast<TSetDescription>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription"))))
      set(GetCurrentThread(), L"kestrune-relay");
  };
  // 10 ms sleeps last 10 ms only with a 1 ms timer resolution.
  hooks.BeginTimerResolution = [] { timeBeginPeriod(1); };
  hooks.EndTimerResolution = [] { timeEndPeriod(1); };
  return hooks;
}

// The running relay as the settings dialog's volume preview reaches it.
class TMainAudio : public TSettingsAudio {
 public:
  explicit TMainAudio(TOV_Kestrune& form) : Form(form) {}
  int32_t InternalVolume() override { return Form.InVolume.Value(); }
  void SetPlayerVolume(int32_t percent) override { Form.Player.SetVolume(percent); }

 private:
  TOV_Kestrune& Form;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  TWin32App app(instance);
  if (CheckOtherInstance(MainWindowClass)) return 0;

  const std::string exePath = ExecutablePath();
  TWinmmApi wave;
  TWinProfile ini(IniPathOf(exePath));
  TThreadRelayHost relayHost(RelayHooks());
  TrpVersionInfo version;
  TWin32Form window(app, MainWindowClass);
  TWinPlugInLibraries plugInLibraries;
  TFaultGuard plugInGuard;
  TWin32Desktop desktop;
  // Off until the settings switch it on; it outlives the window, whose close it records.
  TEventLog log(LogPathOf(exePath), MakeStdioLogFiles());
  TMainServices services{app,
                         SystemClock(),
                         wave,
                         window,
                         window,
                         window,
                         relayHost,
                         ini,
                         plugInLibraries,
                         plugInGuard,
                         desktop,
                         window,
                         ExeDirOf(exePath),
                         version.FileVersion,
                         LocaleDecimalSeparator(),
                         nullptr,
                         nullptr,
                         &log,
                         ReadProcessMetrics};
  TOV_Kestrune form(services);
  TWinRunKeys runKeys;
  TMainAudio audio(form);
  // A new dialog on the current settings each time.
  form.ShowSettingsDialog = [&] {
    TFrSettingsServices settings{form.Setting,
                                 form.Session.InputNames(),
                                 form.Session.OutputNames(),
                                 ini,
                                 services.DecimalSeparator,
                                 ini.Path(),
                                 runKeys,
                                 exePath,
                                 audio,
                                 &form.PlugInsForSettings};
    TWin32Dialog dialogWindow(app, "TFrSettings");
    TFrSettings dialog(settings, dialogWindow, dialogWindow, dialogWindow);
    return dialogWindow.ShowModal(dialog, window.Handle(), TFrSettings::Caption,
                                  TFrSettings::ClientWidth, TFrSettings::ClientHeight);
  };
  if (!window.Create(form, showCommand)) return 1;
  return app.Run();
}
