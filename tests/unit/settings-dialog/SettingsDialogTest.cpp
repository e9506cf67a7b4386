#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/FrSettings.h"
#include "unit/settings/MemoryStores.h"

namespace {

// A plug-in host over directories held in memory, recording what it is asked.
struct TFakePlugIns : TSettingsPlugIns {
  std::map<std::string, std::vector<std::string>> Directories;
  std::set<std::string> Broken;
  std::vector<std::string> Found;
  std::vector<TLoaded> Loaded;
  std::vector<std::string> Calls;

  void ScanPlugins(const std::string& directory) override {
    auto it = Directories.find(directory);
    Found = it == Directories.end() ? std::vector<std::string>{} : it->second;
  }
  std::vector<std::string> FoundPlugins() override { return Found; }
  std::vector<TLoaded> LoadedPlugins() override { return Loaded; }
  bool LoadPlugin(const std::string& directory, const std::string& fileName) override {
    Calls.push_back("load " + directory + fileName);
    const bool ok = !Broken.count(fileName);
    Loaded.push_back({fileName, ok});
    return ok;
  }
  void UnloadPlugin(int position) override {
    Calls.push_back("unload " + std::to_string(position));
    Loaded.erase(Loaded.begin() + position);
  }
  void ConfigPlugin(int position) override {
    Calls.push_back("config " + std::to_string(position) + " " + Loaded[position].FileName);
  }
};

struct TFakeAudio : TSettingsAudio {
  int32_t Inside = 100;
  std::vector<int32_t> Volumes;
  int32_t InternalVolume() override { return Inside; }
  void SetPlayerVolume(int32_t percent) override { Volumes.push_back(percent); }
};

struct TRecordingModal : TModalWindow {
  std::vector<bool> Ends;
  void EndModal(bool ok) override { Ends.push_back(ok); }
};

struct TRecordingBoxes : TDialogs {
  std::vector<std::string> Errors;
  bool Confirm(const std::string&) override { return false; }
  void Information(const std::string&) override {}
  void Error(const std::string& text) override { Errors.push_back(text); }
};

struct TFakeChooser : TDirectoryChooser {
  std::optional<std::string> Answer;
  std::vector<std::string> Starts;
  std::optional<std::string> ChooseDirectory(const std::string& start) override {
    Starts.push_back(start);
    return Answer;
  }
};

const char* const ExePath = "C:\\Apps\\Kestrune.exe";

class SettingsDialog : public ::testing::Test {
 protected:
  SettingsDialog() {
    File.Set("Setting", "Source", "Line In");
    File.Set("Setting", "Destination", "Speakers");
    File.Set("Plugins", "Path", "C:\\Plugins");
    PlugIns.Directories["C:\\Plugins\\"] = {"dsp_echo.dll", "dsp_gain.dll", "dsp_swap.dll"};
  }

  // Loads the record from File, as the program does at start, and opens the dialog on it.
  void Open() {
    LoadSettings(Setting, File, TSettingsContext{'.', "C:\\Apps", {}});
    Reopen();
  }
  // A new dialog on the record as it is now.
  void Reopen() {
    Dialog = std::make_unique<TFrSettings>(Services, Modal, Boxes, Chooser);
    Dialog->FormCreate();
  }
  void Save() { Dialog->SBSave.Click(); }

  TSetting Setting;
  TMemoryProfile File;
  TMemoryProfile Ini;
  TMemoryRunKeys Keys;
  TFakePlugIns PlugIns;
  TFakeAudio Audio;
  TRecordingModal Modal;
  TRecordingBoxes Boxes;
  TFakeChooser Chooser;
  TFrSettingsServices Services{Setting,
                               {"Line In", "Microphone"},
                               {"Speakers", "Headphones"},
                               Ini,
                               '.',
                               "C:\\Apps\\Kestrune.ini",
                               Keys,
                               ExePath,
                               Audio,
                               &PlugIns};
  std::unique_ptr<TFrSettings> Dialog;
};

TEST_F(SettingsDialog, BufferShowsInTensOfMillisecondsAndSavesWhatTheSliderShows) {
  const struct {
    const char* Stored;
    int Slider;
    const char* Label;
    int Saved;
  } cases[] = {{"25", 4, "40 ms", 40}, {"4000", 300, "3000 ms", 3000}, {"105", 10, "100 ms", 100}};
  for (const auto& c : cases) {
    File.WriteString("Setting", "Buffer", c.Stored);
    Open();
    EXPECT_EQ(Dialog->SliderBuffer.Value(), c.Slider) << c.Stored;
    EXPECT_EQ(Dialog->LBBuffer.Caption(), c.Label) << c.Stored;
    Save();
    EXPECT_EQ(Setting.Buffer, c.Saved) << c.Stored;
    EXPECT_EQ(Ini.Get("Setting", "Buffer"), std::to_string(c.Saved)) << c.Stored;
  }
  EXPECT_EQ(Modal.Ends, (std::vector<bool>{true, true, true}));
  // The user's move shows at once.
  Dialog->SliderBuffer.SetValue(20);
  EXPECT_EQ(Dialog->LBBuffer.Caption(), "200 ms");
}

TEST_F(SettingsDialog, BlockSizeChoicesFollowTheBufferAndSelectTheStoredSize) {
  File.Set("Setting", "Blocksize", "2");
  Open();
  TRadioGroup& sizes = Dialog->RGBlkSize;
  const std::vector<std::string> all = {"Small", "Medium", "Large", "Hugo"};
  EXPECT_EQ(sizes.Items(), all);
  EXPECT_EQ(sizes.Selected(), "Large");
  const struct {
    int Slider;
    size_t Choices;
    const char* Selected;
  } steps[] = {{6, 1, "Small"},  {7, 2, "Medium"}, {8, 3, "Large"},  {9, 3, "Large"},
               {10, 4, "Large"}, {4, 1, "Small"},  {300, 4, "Large"}};
  for (const auto& s : steps) {
    Dialog->SliderBuffer.SetValue(s.Slider);
    EXPECT_EQ(sizes.Items(), std::vector<std::string>(all.begin(), all.begin() + s.Choices))
        << s.Slider;
    EXPECT_EQ(sizes.Selected(), s.Selected) << s.Slider;
  }
  // A size picked here gives way to the stored one when the buffer moves again.
  sizes.SetItemIndex(3);
  Dialog->SliderBuffer.SetValue(299);
  EXPECT_EQ(sizes.Selected(), "Large");
  // What shows is what is saved: only "Small" under 70 ms.
  Dialog->SliderBuffer.SetValue(6);
  Save();
  EXPECT_EQ(Setting.Blocksize, 0);
  EXPECT_EQ(Ini.Get("Setting", "Blocksize"), "0");

  // A size outside 0..3 in the record is put back within it.
  Setting.Blocksize = 9;
  Setting.Buffer = 100;
  Reopen();
  EXPECT_EQ(Setting.Blocksize, 3);
  EXPECT_EQ(Dialog->RGBlkSize.Selected(), "Hugo");
}

TEST_F(SettingsDialog, InteractiveModeShowsTheProgramIdInsteadOfAutoplay) {
  Open();
  EXPECT_FALSE(Dialog->CBSourceMode.Checked());
  EXPECT_TRUE(Dialog->CBAutoPlay.Visible());
  EXPECT_FALSE(Dialog->EPID.Visible());
  Dialog->CBSourceMode.Click();
  EXPECT_FALSE(Dialog->CBAutoPlay.Visible());
  EXPECT_TRUE(Dialog->EPID.Visible());
  Dialog->CBSourceMode.Click();
  EXPECT_TRUE(Dialog->CBAutoPlay.Visible());
  EXPECT_FALSE(Dialog->EPID.Visible());

  Setting.SourceMode = true;
  Setting.PID = 42;
  Reopen();
  EXPECT_TRUE(Dialog->CBSourceMode.Checked());
  EXPECT_FALSE(Dialog->CBAutoPlay.Visible());
  EXPECT_TRUE(Dialog->EPID.Visible());
  EXPECT_EQ(Dialog->EPID.Value(), 42);
}

TEST_F(SettingsDialog, AutoplayIsStoredOffInInteractiveMode) {
  Open();
  Dialog->CBAutoPlay.SetChecked(true);
  Dialog->CBSourceMode.SetChecked(true);
  Dialog->EPID.SetValue(7);
  Save();
  EXPECT_TRUE(Setting.SourceMode);
  EXPECT_FALSE(Setting.Auto);
  EXPECT_EQ(Setting.PID, 7);
  EXPECT_EQ(Ini.Get("Setting", "Auto"), "0");
  EXPECT_EQ(Ini.Get("Setting", "SourceMode"), "1");
  EXPECT_EQ(Ini.Get("Setting", "PID"), "7");
  // Without interactive mode the check box counts, and a program ID of 0 is fine.
  Reopen();
  Dialog->CBSourceMode.SetChecked(false);
  Dialog->CBAutoPlay.SetChecked(true);
  Dialog->EPID.SetValue(0);
  Save();
  EXPECT_TRUE(Setting.Auto);
  EXPECT_EQ(Setting.PID, 0);
  EXPECT_TRUE(Boxes.Errors.empty());
}

TEST_F(SettingsDialog, ChecksRunInOrderEachLeavingTheFieldsStoredBeforeIt) {
  File.WriteString("Setting", "Source", "USB Line");  // not among the input names
  File.WriteString("Setting", "Destination", "Monitor");
  File.Set("Setting", "Buffer", "200");
  Open();
  EXPECT_EQ(Dialog->BSSource.ItemIndex(), -1);
  EXPECT_EQ(Dialog->BSDestination.ItemIndex(), -1);
  Dialog->SliderBuffer.SetValue(50);
  Dialog->CBSourceMode.SetChecked(true);
  Dialog->EPID.SetValue(0);

  Save();
  EXPECT_EQ(Boxes.Errors, std::vector<std::string>{"Select input device!"});
  EXPECT_EQ(Setting.Source, "USB Line");

  Dialog->BSSource.SetItemIndex(1);
  Save();
  EXPECT_EQ(Boxes.Errors.back(), "Select output device!");
  EXPECT_EQ(Setting.Source, "Microphone");
  EXPECT_EQ(Setting.Destination, "Monitor");

  Dialog->BSDestination.SetItemIndex(1);
  Save();
  EXPECT_EQ(Boxes.Errors.back(), "The program ID (PID) must not be equal 0");
  EXPECT_EQ(Setting.Destination, "Headphones");
  EXPECT_EQ(Setting.Buffer, 200) << "fields after the checks keep their values";
  EXPECT_FALSE(Setting.SourceMode);
  EXPECT_EQ(Boxes.Errors.size(), 3u);
  // Nothing was written and the dialog stays open.
  EXPECT_EQ(Ini.Writes, 0);
  EXPECT_TRUE(Modal.Ends.empty());

  Dialog->EPID.SetValue(3);
  Save();
  EXPECT_EQ(Boxes.Errors.size(), 3u);
  EXPECT_EQ(Setting.Buffer, 500);
  EXPECT_EQ(Modal.Ends, std::vector<bool>{true});
}

TEST_F(SettingsDialog, TheSampleRateIsStoredAtOnceAndKeptWhenClosedWithoutSaving) {
  Open();
  const std::vector<std::string> rates = {"32000", "44100",  "48000", "88200",
                                          "96000", "176400", "192000"};
  EXPECT_EQ(Dialog->CBFreq.Items(), rates);
  EXPECT_EQ(Dialog->CBFreq.Selected(), "44100");
  Dialog->CBFreq.SetItemIndex(4);
  EXPECT_EQ(Setting.Freq, 4);
  EXPECT_TRUE(Dialog->FormClose());
  Dialog.reset();
  EXPECT_EQ(Setting.Freq, 4);
  EXPECT_EQ(Ini.Writes, 0);
  // A save does not take it back.
  Reopen();
  EXPECT_EQ(Dialog->CBFreq.Selected(), "96000");
  Save();
  EXPECT_EQ(Ini.Get("Setting", "Freq"), "4");
}

TEST_F(SettingsDialog, TheVolumeSliderSetsThePlayersVolumeAtOnce) {
  File.Set("Setting", "Volume", "200");
  Audio.Inside = 50;
  Open();
  ASSERT_FALSE(Audio.Volumes.empty());
  EXPECT_EQ(Audio.Volumes.back(), 100);
  EXPECT_EQ(Dialog->LVolume.Caption(), "200%");
  Dialog->sVolume.SetValue(299);
  EXPECT_EQ(Audio.Volumes.back(), 149) << "50 x 299 / 100, truncated";
  EXPECT_EQ(Dialog->LVolume.Caption(), "299%");
  // The internal volume is taken within 0..100.
  Audio.Inside = 120;
  Dialog->sVolume.SetValue(300);
  EXPECT_EQ(Audio.Volumes.back(), 300);
  // A volume beyond the slider's range shows at its end and is saved so.
  Setting.Volume = 450;
  Reopen();
  EXPECT_EQ(Dialog->sVolume.Value(), 300);
  Save();
  EXPECT_EQ(Setting.Volume, 300);
}

TEST_F(SettingsDialog, NumberFieldsAndSilenceShowTheRecordWithinTheirRanges) {
  File.Set("Setting", "Silence", "-50");
  File.Set("Setting", "SilenceTime", "2.5");
  File.Set("Setting", "RestoreTime", "0");
  File.Set("Setting", "Wait", "3");
  File.Set("Setting", "FadeOut", "12");
  Open();
  EXPECT_EQ(Dialog->SSilence.Value(), -42);
  EXPECT_EQ(Dialog->LSilence.Caption(), "-42 dB");
  Dialog->SSilence.SetValue(-36);
  EXPECT_EQ(Dialog->LSilence.Caption(), "-36 dB");
  EXPECT_EQ(Dialog->ESilenceTime.Text(), "2.5");
  EXPECT_EQ(Dialog->ERestoreTime.Text(), "1.0");
  EXPECT_EQ(Dialog->ECardWait.Text(), "5");
  EXPECT_EQ(Dialog->EFadeOut.Text(), "10.0");
  EXPECT_EQ(Dialog->EFadeIn.Text(), "2.0");
  Dialog->EFadeIn.Typed("0,5");
  Dialog->RGSend.SetItemIndex(3);
  Save();
  EXPECT_EQ(Setting.Silence, -36);
  EXPECT_DOUBLE_EQ(Setting.SilenceTime, 2.5);
  EXPECT_DOUBLE_EQ(Setting.RestoreTime, 1.0);
  EXPECT_EQ(Setting.Wait, 5);
  EXPECT_DOUBLE_EQ(Setting.FadeOut, 10);
  EXPECT_DOUBLE_EQ(Setting.FadeIn, 0.5);
  EXPECT_EQ(Setting.Send, 3);
  EXPECT_EQ(Ini.Get("Setting", "FadeIn"), "0.5");
  EXPECT_EQ(Ini.Get("Setting", "Send"), "3");
}

TEST_F(SettingsDialog, PluginsAreAddedAndRemovedInTheHostAtOnce) {
  File.Set("Plugins", "File1", "DSP_GAIN.DLL");
  File.Set("Plugins", "File2", "dsp_gone.dll");  // its file is missing
  Open();
  // As at start: the one whose file exists runs.
  PlugIns.Loaded = {{"DSP_GAIN.DLL", true}};
  EXPECT_EQ(Dialog->DEPlugins.Text(), "C:\\Plugins");
  EXPECT_EQ(Dialog->LBPlugin.Items(),
            (std::vector<std::string>{"dsp_echo.dll", "dsp_gain.dll", "dsp_swap.dll"}));
  EXPECT_EQ(Dialog->LBUsePlugin.Items(),
            (std::vector<std::string>{"DSP_GAIN.DLL", "dsp_gone.dll"}));

  // Nothing selected, or already in use in another letter case: nothing happens.
  Dialog->SBFilterAdd.Click();
  Dialog->LBPlugin.SetItemIndex(1);
  Dialog->SBFilterAdd.Click();
  EXPECT_TRUE(PlugIns.Calls.empty());
  EXPECT_EQ(Dialog->LBUsePlugin.Items().size(), 2u);

  // Added: in the list and loaded at once; one that fails to load stays listed.
  PlugIns.Broken = {"dsp_swap.dll"};
  Dialog->LBPlugin.SetItemIndex(0);
  Dialog->SBFilterAdd.Click();
  Dialog->LBPlugin.SetItemIndex(2);
  Dialog->SBFilterAdd.Click();
  EXPECT_EQ(
      Dialog->LBUsePlugin.Items(),
      (std::vector<std::string>{"DSP_GAIN.DLL", "dsp_gone.dll", "dsp_echo.dll", "dsp_swap.dll"}));
  EXPECT_EQ(PlugIns.Calls, (std::vector<std::string>{"load C:\\Plugins\\dsp_echo.dll",
                                                     "load C:\\Plugins\\dsp_swap.dll"}));

  // Removing the one that never loaded only takes the entry away.
  PlugIns.Calls.clear();
  Dialog->LBUsePlugin.SetItemIndex(1);
  Dialog->SBFilterDel.Click();
  EXPECT_TRUE(PlugIns.Calls.empty());
  // The entry after it is unloaded at its place in the host (case ignored).
  Dialog->LBUsePlugin.SetItemIndex(1);
  Dialog->SBFilterDel.Click();
  Dialog->SBFilterDel.Click();  // nothing selected any more
  EXPECT_EQ(PlugIns.Calls, std::vector<std::string>{"unload 1"});
  EXPECT_EQ(Dialog->LBUsePlugin.Items(),
            (std::vector<std::string>{"DSP_GAIN.DLL", "dsp_swap.dll"}));

  // Closed without saving: the host keeps its chain, the record its list.
  Dialog->FormClose();
  EXPECT_EQ(PlugIns.Loaded.size(), 2u);
  EXPECT_EQ(Setting.PluginFiles, (std::vector<std::string>{"DSP_GAIN.DLL", "dsp_gone.dll"}));
  Save();
  EXPECT_EQ(Setting.PluginFiles, (std::vector<std::string>{"DSP_GAIN.DLL", "dsp_swap.dll"}));
  EXPECT_EQ(Ini.Get("Plugins", "File2"), "dsp_swap.dll");
  EXPECT_EQ(Ini.Get("Plugins", "File3"), "<missing>");
}

TEST_F(SettingsDialog, ADoubleClickOpensTheConfigurationOfALoadedPlugin) {
  File.Set("Plugins", "File1", "dsp_echo.dll");
  File.Set("Plugins", "File2", "dsp_gain.dll");
  Open();
  PlugIns.Loaded = {{"dsp_echo.dll", true}, {"DSP_Gain.dll", true}};
  Dialog->LBUsePlugin.DblClick();  // nothing selected
  Dialog->LBUsePlugin.SetItemIndex(1);
  Dialog->LBUsePlugin.DblClick();
  PlugIns.Loaded.pop_back();
  Dialog->LBUsePlugin.DblClick();  // no longer loaded
  EXPECT_EQ(PlugIns.Calls, std::vector<std::string>{"config 1 DSP_Gain.dll"});
}

TEST_F(SettingsDialog, ThePluginDirectoryIsTypedOrChosenAndRescannedEachTime) {
  PlugIns.Directories["D:\\Dsp\\"] = {"dsp_x.dll"};
  Open();
  Dialog->DEPlugins.SetText("D:\\Nowhere");
  EXPECT_TRUE(Dialog->LBPlugin.Items().empty());
  Chooser.Answer = "D:\\Dsp";
  Dialog->DEPlugins.Browse();
  EXPECT_EQ(Chooser.Starts, std::vector<std::string>{"D:\\Nowhere"});
  EXPECT_EQ(Dialog->DEPlugins.Text(), "D:\\Dsp");
  EXPECT_EQ(Dialog->LBPlugin.Items(), std::vector<std::string>{"dsp_x.dll"});
  // Adding loads from the directory in the field.
  Dialog->LBPlugin.SetItemIndex(0);
  Dialog->SBFilterAdd.Click();
  EXPECT_EQ(PlugIns.Calls.back(), "load D:\\Dsp\\dsp_x.dll");
  // A cancelled choice changes nothing.
  Chooser.Answer.reset();
  Dialog->DEPlugins.Browse();
  EXPECT_EQ(Dialog->DEPlugins.Text(), "D:\\Dsp");
  Save();
  EXPECT_EQ(Setting.Path, "D:\\Dsp");
  EXPECT_EQ(Ini.Get("Plugins", "Path"), "D:\\Dsp");
}

TEST_F(SettingsDialog, WithoutAPluginHostTheListsAreDisabledAndTheNamesKept) {
  File.Set("Plugins", "File1", "dsp_gain.dll");
  Services.PlugIns = nullptr;
  Open();
  EXPECT_TRUE(Dialog->LBPlugin.Items().empty());
  EXPECT_FALSE(Dialog->LBPlugin.Enabled());
  EXPECT_FALSE(Dialog->SBFilterAdd.Enabled());
  EXPECT_FALSE(Dialog->SBFilterDel.Enabled());
  EXPECT_FALSE(Dialog->LBUsePlugin.Enabled());
  Dialog->LBUsePlugin.SetItemIndex(0);
  Dialog->SBFilterDel.Click();
  Dialog->LBUsePlugin.DblClick();
  Dialog->DEPlugins.SetText("D:\\Dsp");
  Save();
  EXPECT_EQ(Setting.PluginFiles, std::vector<std::string>{"dsp_gain.dll"});
  EXPECT_EQ(Setting.Path, "D:\\Dsp");
}

TEST_F(SettingsDialog, SaveWritesTheFileAndTheAutostartEntryOrReportsTheFile) {
  Open();
  EXPECT_FALSE(Dialog->CBAutoStart.Checked());
  Dialog->CBAutoStart.SetChecked(true);
  Dialog->cbTray.SetChecked(true);
  Save();
  EXPECT_EQ(Modal.Ends, std::vector<bool>{true});
  ASSERT_EQ(Keys.User.Values.size(), 1u);
  EXPECT_EQ(Keys.User.Values[0].Name, "OVKestrune");
  EXPECT_EQ(Keys.User.Values[0].Data, ExePath);
  EXPECT_EQ(Ini.Get("Setting", "ToTray"), "1");
  EXPECT_EQ(Ini.Get("Setting", "Source"), "Line In");

  // The next opening shows the entry; taking it away deletes it.
  Reopen();
  EXPECT_TRUE(Dialog->CBAutoStart.Checked());
  Dialog->CBAutoStart.SetChecked(false);
  Ini.FailKey = "Volume";
  Save();
  EXPECT_TRUE(Keys.User.Values.empty());
  EXPECT_EQ(Boxes.Errors, std::vector<std::string>{"Unable to write to C:\\Apps\\Kestrune.ini"});
  EXPECT_EQ(Modal.Ends.size(), 1u) << "the dialog stays open";
}

}  // namespace

TEST_F(SettingsDialog, TheStabilizerChoiceShowsAndStoresTheMode) {
  // Without the key the program holds the buffer with whole frames, as it always did.
  Open();
  EXPECT_EQ(Dialog->RGStab.Items(), (std::vector<std::string>{"Whole frames", "Smooth"}));
  EXPECT_EQ(Dialog->RGStab.ItemIndex(), 0);
  Dialog->RGStab.SetItemIndex(1);
  Save();
  EXPECT_EQ(Setting.StabMode, 1);
  EXPECT_EQ(Ini.Get("Setting", "StabMode"), "1");

  File.Set("Setting", "StabMode", "1");
  Open();
  EXPECT_EQ(Dialog->RGStab.ItemIndex(), 1);
  Dialog->RGStab.SetItemIndex(0);
  Save();
  EXPECT_EQ(Setting.StabMode, 0);
  EXPECT_EQ(Ini.Get("Setting", "StabMode"), "0");
}
