#include "settings/FrSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "util/Helpers.h"

namespace {

// The first position of a name in a list, letter case ignored; -1 when absent.
int PositionOf(const std::vector<std::string>& names, const std::string& wanted) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], wanted)) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> FirstBlockSizeNames(int count) {
  return std::vector<std::string>(BlockSizeNames.begin(), BlockSizeNames.begin() + count);
}

}  // namespace

int BlockSizeChoices(int sliderValue) {
  if (sliderValue < 7) return 1;
  if (sliderValue == 7) return 2;
  if (sliderValue < 10) return 3;
  return 4;
}

TFrSettings::TFrSettings(TFrSettingsServices& services, TModalWindow& window, TDialogs& dialogs,
                         TDirectoryChooser& chooser)
    : S(services), Window(window), Dialogs(dialogs), Chooser(chooser) {
  Layout();
  Wire();
}

void TFrSettings::Layout() {
  PanMain.SetBounds(8, 6, 320, 196);
  PanMain.SetCaption("Main");
  for (TControl* c : std::initializer_list<TControl*>{&CBSourceMode, &EPID, &CBAutoPlay,
                                                      &CBAutoStart, &cbTray, &RGBlkSize, &RGSend})
    c->Parent = &PanMain;
  CBSourceMode.SetBounds(10, 20, 190, 20);
  CBSourceMode.SetCaption("Interactive mode. Program ID");
  CBSourceMode.SetHint("Start and wait command");
  EPID.SetBounds(205, 19, 90, 22);
  CBAutoPlay.SetBounds(10, 46, 100, 20);
  CBAutoPlay.SetCaption("Autoplay");
  CBAutoPlay.SetHint("Autostart playing");
  CBAutoStart.SetBounds(115, 46, 100, 20);
  CBAutoStart.SetCaption("Autostart");
  CBAutoStart.SetHint("Start with Windows");
  cbTray.SetBounds(220, 46, 95, 20);
  cbTray.SetCaption("Hide to tray");
  RGBlkSize.SetBounds(10, 72, 300, 46);
  RGBlkSize.SetCaption("Block size");
  RGBlkSize.Columns = 4;
  RGBlkSize.SetItems(FirstBlockSizeNames(4));
  RGSend.SetBounds(10, 122, 300, 66);
  RGSend.SetCaption("Send stream");
  RGSend.Columns = 2;
  RGSend.SetItems({"Recorded", "After plugins", "Playback", "What U hear"});

  PanOutput.SetBounds(8, 208, 320, 180);
  PanOutput.SetCaption("Output");
  for (TControl* c : std::initializer_list<TControl*>{&BSDestination, &SliderBuffer, &LBBuffer,
                                                      &sVolume, &LVolume, &LFadeOut, &EFadeOut,
                                                      &LFadeIn, &EFadeIn, &RGStab})
    c->Parent = &PanOutput;
  BSDestination.SetBounds(10, 20, 300, 22);
  SliderBuffer.SetBounds(10, 50, 230, 26);
  SliderBuffer.SetHint("Buffer size");
  LBBuffer.SetBounds(245, 55, 65, 16);
  LBBuffer.SetCaption("Buffer");
  sVolume.SetBounds(10, 82, 230, 26);
  sVolume.SetHint("Default volume");
  LVolume.SetBounds(245, 87, 65, 16);
  LVolume.SetCaption("Volume");
  LFadeOut.SetBounds(10, 121, 90, 16);
  LFadeOut.SetCaption("Fade out (sec)");
  EFadeOut.SetBounds(105, 118, 60, 22);
  LFadeIn.SetBounds(10, 149, 90, 16);
  LFadeIn.SetCaption("Fade in (sec)");
  EFadeIn.SetBounds(105, 146, 60, 22);
  RGStab.SetBounds(172, 112, 138, 62);
  RGStab.SetCaption("Stabilizer");
  RGStab.SetHint("How the buffer is held: whole frames repeated or left out, or smooth resampling");
  RGStab.SetItems({"Whole frames", "Smooth"});

  PanInput.SetBounds(8, 394, 320, 212);
  PanInput.SetCaption("Input");
  for (TControl* c : std::initializer_list<TControl*>{
           &BSSource, &LFreq, &CBFreq, &LSilenceLevel, &SSilence, &LSilence, &LSilenceTime,
           &ESilenceTime, &LRestoreTime, &ERestoreTime, &LCardWait, &ECardWait})
    c->Parent = &PanInput;
  BSSource.SetBounds(10, 20, 300, 22);
  LFreq.SetBounds(10, 51, 120, 16);
  LFreq.SetCaption("Sampling frequency");
  CBFreq.SetBounds(135, 48, 100, 22);
  LSilenceLevel.SetBounds(10, 78, 120, 16);
  LSilenceLevel.SetCaption("Silence level");
  SSilence.SetBounds(10, 96, 230, 26);
  LSilence.SetBounds(245, 101, 65, 16);
  LSilence.SetCaption("DB");
  LSilenceTime.SetBounds(10, 133, 120, 16);
  LSilenceTime.SetCaption("Silence time (sec)");
  ESilenceTime.SetBounds(135, 130, 70, 22);
  LRestoreTime.SetBounds(10, 159, 120, 16);
  LRestoreTime.SetCaption("Restore time");
  ERestoreTime.SetBounds(135, 156, 70, 22);
  LCardWait.SetBounds(10, 185, 120, 16);
  LCardWait.SetCaption("Wait devices");
  ECardWait.SetBounds(135, 182, 70, 22);

  SBSave.SetBounds(8, 614, 320, 28);
  SBSave.SetCaption("Save settings");
  SBSave.Default = true;

  LPlugins.SetBounds(340, 10, 200, 16);
  LPlugins.SetCaption("Path to plugins");
  DEPlugins.SetBounds(340, 28, 317, 22);
  DEPlugins.SetText("Directory");
  LAvailable.SetBounds(340, 60, 135, 16);
  LAvailable.SetCaption("Available");
  LBPlugin.SetBounds(340, 78, 135, 564);
  SBFilterAdd.SetBounds(481, 300, 40, 28);
  SBFilterAdd.SetCaption(">");
  SBFilterAdd.SetHint("Use the selected plugin");
  SBFilterDel.SetBounds(481, 336, 40, 28);
  SBFilterDel.SetCaption("<");
  SBFilterDel.SetHint("Stop using the selected plugin");
  LInUse.SetBounds(527, 60, 130, 16);
  LInUse.SetCaption("In use");
  LBUsePlugin.SetBounds(527, 78, 130, 564);
}

void TFrSettings::Wire() {
  CBSourceMode.OnChange = [this] { CBSourceModeClick(); };
  SliderBuffer.OnChange = [this] { SliderBufferChange(); };
  sVolume.OnChange = [this] { sVolumeChange(); };
  SSilence.OnChange = [this] { SSilenceChange(); };
  CBFreq.OnChange = [this] { CBFreqChange(); };
  DEPlugins.OnChange = [this] { DEPluginsChange(); };
  DEPlugins.OnBrowse = [this] { DEPluginsBrowse(); };
  SBFilterAdd.OnClick = [this] { SBFilterAddClick(); };
  SBFilterDel.OnClick = [this] { SBFilterDelClick(); };
  LBUsePlugin.OnDblClick = [this] { LBUsePluginDblClick(); };
  SBSave.OnClick = [this] { SBSaveClick(); };
}

std::vector<TControl*> TFrSettings::FormControls() {
  // In the order of the keyboard's Tab: the left column top down, then the plug-ins.
  return {&PanMain,     &PanOutput,   &PanInput,     &CBSourceMode, &EPID,          &CBAutoPlay,
          &CBAutoStart, &cbTray,      &RGBlkSize,    &RGSend,       &BSDestination, &SliderBuffer,
          &LBBuffer,    &sVolume,     &LVolume,      &LFadeOut,     &EFadeOut,      &LFadeIn,
          &EFadeIn,     &RGStab,      &BSSource,     &LFreq,        &CBFreq,        &LSilenceLevel,
          &SSilence,    &LSilence,    &LSilenceTime, &ESilenceTime, &LRestoreTime,  &ERestoreTime,
          &LCardWait,   &ECardWait,   &SBSave,       &LPlugins,     &DEPlugins,     &LAvailable,
          &LBPlugin,    &SBFilterAdd, &SBFilterDel,  &LInUse,       &LBUsePlugin};
}

void TFrSettings::FormCreate() {
  Fill_Setting();
}

void TFrSettings::Fill_Setting() {
  TSetting& setting = S.Setting;
  EPID.SetValue(setting.PID);
  BSSource.SetItems(S.InputNames);
  BSSource.SetItemIndex(PositionOf(S.InputNames, setting.Source));
  BSDestination.SetItems(S.OutputNames);
  BSDestination.SetItemIndex(PositionOf(S.OutputNames, setting.Destination));
  // The slider keeps the value within its range (a Buffer of 25 shows 4, 40 ms).
  SliderBuffer.SetValue(setting.Buffer / 10);
  SliderBufferChange();
  sVolume.SetValue(setting.Volume);
  sVolumeChange();
  cbTray.SetChecked(setting.ToTray);
  CBSourceMode.SetChecked(setting.SourceMode);
  // Run also when the box kept its state, so both dependants show as they should.
  CBSourceModeClick();
  CBAutoPlay.SetChecked(setting.Auto);
  setting.Blocksize = std::clamp(setting.Blocksize, 0, 3);
  RGBlkSize.SetItemIndex(
      std::min(setting.Blocksize, static_cast<int32_t>(RGBlkSize.Items().size()) - 1));
  std::vector<std::string> rates;
  for (int32_t rate : SampleRates) rates.push_back(std::to_string(rate));
  CBFreq.SetItems(rates);
  CBFreq.SetItemIndex(setting.Freq);
  RGSend.SetItemIndex(setting.Send);
  RGStab.SetItemIndex(setting.StabMode == 1 ? 1 : 0);
  SSilence.SetValue(setting.Silence);
  SSilenceChange();
  ESilenceTime.SetValue(setting.SilenceTime);
  ERestoreTime.SetValue(setting.RestoreTime);
  ECardWait.SetValue(setting.Wait);
  EFadeOut.SetValue(setting.FadeOut);
  EFadeIn.SetValue(setting.FadeIn);
  // The field's change fills the list of available plug-ins; the same text raises no change.
  if (DEPlugins.Text() == setting.Path)
    DEPluginsChange();
  else
    DEPlugins.SetText(setting.Path);
  if (S.PlugIns) S.PlugIns->ScanPlugins(AddBackslash(DEPlugins.Text()));
  LBUsePlugin.SetItems(setting.PluginFiles);
  for (TControl* c :
       std::initializer_list<TControl*>{&LBPlugin, &SBFilterAdd, &SBFilterDel, &LBUsePlugin})
    c->SetEnabled(S.PlugIns != nullptr);
  CBAutoStart.SetChecked(IsAutostart(S.RunKeys, S.ExePath));
}

void TFrSettings::SliderBufferChange() {
  char text[32];
  std::snprintf(text, sizeof text, "%d ms", SliderBuffer.Value() * 10);
  LBBuffer.SetCaption(text);
  VerifyBlockSize();
}

void TFrSettings::VerifyBlockSize() {
  const int choices = BlockSizeChoices(SliderBuffer.Value());
  if (static_cast<int>(RGBlkSize.Items().size()) != choices)
    RGBlkSize.SetItems(FirstBlockSizeNames(choices));
  // The stored size, not the one shown: a choice made here is not kept when the buffer moves.
  RGBlkSize.SetItemIndex(std::clamp(S.Setting.Blocksize, 0, choices - 1));
}

void TFrSettings::sVolumeChange() {
  SetInsideVolume(S.Audio.InternalVolume());
  LVolume.SetCaption(std::to_string(sVolume.Value()) + "%");
}

void TFrSettings::SetInsideVolume(int32_t v) {
  v = std::clamp(v, 0, 100);
  // Both factors are not negative: the division truncates toward zero.
  S.Audio.SetPlayerVolume(v * sVolume.Value() / 100);
}

void TFrSettings::SSilenceChange() {
  LSilence.SetCaption(std::to_string(SSilence.Value()) + " dB");
}

void TFrSettings::CBFreqChange() {
  if (CBFreq.ItemIndex() >= 0) S.Setting.Freq = CBFreq.ItemIndex();
}

void TFrSettings::CBSourceModeClick() {
  CBAutoPlay.SetVisible(!CBSourceMode.Checked());
  EPID.SetVisible(CBSourceMode.Checked());
}

void TFrSettings::DEPluginsChange() {
  if (!S.PlugIns) return;
  S.PlugIns->ScanPlugins(AddBackslash(DEPlugins.Text()));
  LBPlugin.SetItems(S.PlugIns->FoundPlugins());
}

void TFrSettings::DEPluginsBrowse() {
  if (const auto chosen = Chooser.ChooseDirectory(DEPlugins.Text())) DEPlugins.SetText(*chosen);
}

int TFrSettings::LoadedPosition(const std::string& fileName) {
  if (!S.PlugIns) return -1;
  const std::string wanted = UpCaseStr(fileName);
  const auto loaded = S.PlugIns->LoadedPlugins();
  for (size_t i = 0; i < loaded.size(); ++i)
    if (UpCaseStr(loaded[i].FileName) == wanted) return static_cast<int>(i);
  return -1;
}

void TFrSettings::SBFilterAddClick() {
  if (!S.PlugIns || LBPlugin.ItemIndex() < 0) return;
  const std::string name = LBPlugin.Selected();
  const std::string wanted = UpCaseStr(name);
  for (const std::string& used : LBUsePlugin.Items())
    if (UpCaseStr(used) == wanted) return;
  LBUsePlugin.AddItem(name);
  // One that does not load stays in the list; the host keeps it as inactive.
  S.PlugIns->LoadPlugin(AddBackslash(DEPlugins.Text()), name);
}

void TFrSettings::SBFilterDelClick() {
  const int selected = LBUsePlugin.ItemIndex();
  if (selected < 0) return;
  const int position = LoadedPosition(LBUsePlugin.Selected());
  if (position >= 0) S.PlugIns->UnloadPlugin(position);
  LBUsePlugin.DeleteItem(selected);
}

void TFrSettings::LBUsePluginDblClick() {
  if (LBUsePlugin.ItemIndex() < 0) return;
  const int position = LoadedPosition(LBUsePlugin.Selected());
  if (position >= 0) S.PlugIns->ConfigPlugin(position);
}

bool TFrSettings::Store_Setting() {
  TSetting& setting = S.Setting;
  if (BSSource.ItemIndex() < 0) {
    Dialogs.Error("Select input device!");
    return false;
  }
  setting.Source = BSSource.Selected();
  if (BSDestination.ItemIndex() < 0) {
    Dialogs.Error("Select output device!");
    return false;
  }
  setting.Destination = BSDestination.Selected();
  const auto id = static_cast<int32_t>(std::trunc(EPID.Value()));
  if (id < 1 && CBSourceMode.Checked()) {
    Dialogs.Error("The program ID (PID) must not be equal 0");
    return false;
  }
  // EPID holds 0..32767: the 16-bit field takes it whole.
  setting.PID = static_cast<int16_t>(id);
  setting.Buffer = SliderBuffer.Value() * 10;
  setting.Volume = sVolume.Value();
  setting.ToTray = cbTray.Checked();
  setting.SourceMode = CBSourceMode.Checked();
  setting.Path = DEPlugins.Text();
  setting.Blocksize = RGBlkSize.ItemIndex();
  setting.Silence = static_cast<int16_t>(SSilence.Value());
  setting.SilenceTime = ESilenceTime.Value();
  setting.RestoreTime = ERestoreTime.Value();
  setting.Wait = static_cast<int32_t>(std::trunc(ECardWait.Value()));
  setting.Auto = CBAutoPlay.Checked() && !setting.SourceMode;
  setting.FadeOut = EFadeOut.Value();
  setting.FadeIn = EFadeIn.Value();
  setting.Send = RGSend.ItemIndex();
  setting.StabMode = RGStab.ItemIndex() == 1 ? 1 : 0;
  SetAutostart(S.RunKeys, S.ExePath, CBAutoStart.Checked());
  setting.PluginFiles = LBUsePlugin.Items();
  return true;
}

void TFrSettings::SBSaveClick() {
  if (!Store_Setting()) return;
  if (!SaveSettings(S.Setting, S.Ini, S.DecimalSeparator)) {
    // The record and the autostart entry have changed already; the dialog stays open.
    Dialogs.Error(WriteErrorText(S.IniPath));
    return;
  }
  Window.EndModal(true);
}
