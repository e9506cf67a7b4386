#pragma once

// The settings dialog TFrSettings: every field of the settings record, the autostart entry and
// the chain of DSP plug-ins. It fills its controls from the record when it is created, and on
// "Save settings" checks and stores them, writes the INI file and closes with OK. A few controls
// act at once: the sample rate is stored as soon as it is chosen, the volume slider sets the
// running player's volume, and plug-ins are loaded and unloaded as they are added and removed.
//
// The logic runs on the toolkit's controls; a window binding (Win32, or none in tests) only
// shows them and turns the user's input into their events.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/FSettings.h"
#include "settings/Setting.h"
#include "ui/Controls.h"
#include "ui/Form.h"

// The DSP plug-in host as the dialog uses it.
class TSettingsPlugIns {
 public:
  struct TLoaded {
    std::string FileName;  // without directory
    bool Active = false;   // loaded, initialised and in the chain
  };

  virtual ~TSettingsPlugIns() = default;
  // Looks for plug-in files in a directory (given with a trailing backslash).
  virtual void ScanPlugins(const std::string& directory) = 0;
  // The file names (without directory) the last scan found, in the host's order.
  virtual std::vector<std::string> FoundPlugins() = 0;
  // The plug-ins in the chain, in processing order; positions are the ones the calls below take.
  virtual std::vector<TLoaded> LoadedPlugins() = 0;
  // Loads directory + fileName into the chain; true when it runs.
  virtual bool LoadPlugin(const std::string& directory, const std::string& fileName) = 0;
  virtual void UnloadPlugin(int position) = 0;
  // Opens the plug-in's own configuration; returns when the plug-in does.
  virtual void ConfigPlugin(int position) = 0;
};

// The running relay as the dialog's volume preview reaches it.
class TSettingsAudio {
 public:
  virtual ~TSettingsAudio() = default;
  // The main window's internal volume (its InVolume gauge), 0..100.
  virtual int32_t InternalVolume() = 0;
  // The player's volume in percent (0..1024).
  virtual void SetPlayerVolume(int32_t percent) = 0;
};

// What the dialog works on, besides its window.
struct TFrSettingsServices {
  // The program's one settings record, read and written directly.
  TSetting& Setting;
  // The device names of the wave catalogues, in catalogue order.
  std::vector<std::string> InputNames;
  std::vector<std::string> OutputNames;
  TProfile& Ini;
  char DecimalSeparator = '.';
  // The INI file's path, for the error when it cannot be written.
  std::string IniPath;
  TRunKeys& RunKeys;
  // The executable's path: the data of the autostart entry.
  std::string ExePath;
  TSettingsAudio& Audio;
  // None: the plug-in lists stay empty and disabled; the directory and the names in use are kept
  // as they are.
  TSettingsPlugIns* PlugIns = nullptr;
};

class TFrSettings : public TFormHandler {
 public:
  static constexpr const char* Caption = "Settings";
  static constexpr int ClientWidth = 665;
  static constexpr int ClientHeight = 650;

  // The window ends the dialog, shows its error boxes and asks for the plug-in directory.
  TFrSettings(TFrSettingsServices& services, TModalWindow& window, TDialogs& dialogs,
              TDirectoryChooser& chooser);
  TFrSettings(const TFrSettings&) = delete;
  TFrSettings& operator=(const TFrSettings&) = delete;

  // TFormHandler
  void FormCreate() override;
  // Any closing is allowed; what was stored before stays stored.
  bool FormClose() override { return true; }
  std::vector<TControl*> FormControls() override;
  std::vector<TTimer*> FormTimers() override { return {}; }

  void Fill_Setting();
  // True when the controls were valid and have been stored; a failed check shows its error and
  // leaves the fields stored before it.
  bool Store_Setting();
  void SBSaveClick();
  void SliderBufferChange();
  // The block-size choices the buffer allows, the stored Blocksize selected among them.
  void VerifyBlockSize();
  void sVolumeChange();
  void SetInsideVolume(int32_t v);
  void SSilenceChange();
  void CBFreqChange();
  void CBSourceModeClick();
  void DEPluginsChange();
  void DEPluginsBrowse();
  void SBFilterAddClick();
  void SBFilterDelClick();
  void LBUsePluginDblClick();

  // Left column, group "Main".
  TPanel PanMain{TControlKind::Panel, "PanMain"};
  TCheckBox CBSourceMode{"CBSourceMode"};
  TSpinEdit EPID{"EPID", 0, 32767, 0, 1};
  TCheckBox CBAutoPlay{"CBAutoPlay"};
  TCheckBox CBAutoStart{"CBAutoStart"};
  TCheckBox cbTray{"cbTray"};
  TRadioGroup RGBlkSize{"RGBlkSize"};
  TRadioGroup RGSend{"RGSend"};
  // Group "Output".
  TPanel PanOutput{TControlKind::Panel, "PanOutput"};
  TComboBox BSDestination{"BSDestination"};
  TSlider SliderBuffer{TControlKind::Slider, "SliderBuffer", 4, 300, 4};
  TLabel LBBuffer{TControlKind::Label, "LBBuffer"};
  TSlider sVolume{TControlKind::Slider, "sVolume", 0, 300, 100};
  TLabel LVolume{TControlKind::Label, "LVolume"};
  TLabel LFadeOut{TControlKind::Label, "LFadeOut"};
  TSpinEdit EFadeOut{"EFadeOut", 0, 10, 1, 1};
  TLabel LFadeIn{TControlKind::Label, "LFadeIn"};
  TSpinEdit EFadeIn{"EFadeIn", 0, 10, 1, 1};
  // StabMode: 0 whole frames, 1 smooth; the next session runs with it.
  TRadioGroup RGStab{"RGStab"};
  // Group "Input".
  TPanel PanInput{TControlKind::Panel, "PanInput"};
  TComboBox BSSource{"BSSource"};
  TLabel LFreq{TControlKind::Label, "LFreq"};
  TComboBox CBFreq{"CBFreq"};
  TLabel LSilenceLevel{TControlKind::Label, "LSilenceLevel"};
  TSlider SSilence{TControlKind::Slider, "SSilence", -42, -12, -36};
  TLabel LSilence{TControlKind::Label, "LSilence"};
  TLabel LSilenceTime{TControlKind::Label, "LSilenceTime"};
  TSpinEdit ESilenceTime{"ESilenceTime", 0, 30, 1, 1};
  TLabel LRestoreTime{TControlKind::Label, "LRestoreTime"};
  TSpinEdit ERestoreTime{"ERestoreTime", 1, 30, 1, 1};
  TLabel LCardWait{TControlKind::Label, "LCardWait"};
  TSpinEdit ECardWait{"ECardWait", 5, 180, 0, 1};
  TButton SBSave{TControlKind::Button, "SBSave"};
  // Right column, plug-ins.
  TLabel LPlugins{TControlKind::Label, "LPlugins"};
  TDirectoryEdit DEPlugins{"DEPlugins"};
  TLabel LAvailable{TControlKind::Label, "LAvailable"};
  TListBox LBPlugin{"LBPlugin"};
  TButton SBFilterAdd{TControlKind::Button, "SBFilterAdd"};
  TButton SBFilterDel{TControlKind::Button, "SBFilterDel"};
  TLabel LInUse{TControlKind::Label, "LInUse"};
  TListBox LBUsePlugin{"LBUsePlugin"};

 private:
  void Layout();
  void Wire();
  // The host's position of a plug-in in the chain (name compared upper-cased); -1 when absent.
  int LoadedPosition(const std::string& fileName);

  TFrSettingsServices& S;
  TModalWindow& Window;
  TDialogs& Dialogs;
  TDirectoryChooser& Chooser;
};

// The block-size choices a buffer slider value allows (the buffer in units of 10 ms): 1 below
// 7, 2 at 7, 3 at 8 and 9, 4 from 10 on.
int BlockSizeChoices(int sliderValue);
