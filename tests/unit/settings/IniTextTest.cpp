#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "settings/FSettings.h"
#include "settings/IniText.h"

namespace {

using namespace std::string_literals;

TEST(IniText, ReadsLikeTheProfileFunctions) {
  TIniTextProfile ini(
      "\xEF\xBB\xBF"
      "Orphan=before any section\r\n"
      "; Buffer=1 a comment\r\n"
      "[setting]   \r\n"
      "  BUFFER =  250  \r\n"
      "Buffer=999\r\n"
      "Novalue\r\n"
      "Quoted=\" padded \"\r\n"
      "Single='x'\r\n"
      "Mixed=\"x'\r\n"
      "Lone=\"\r\n"
      "Empty=\r\n"
      "Cut=ab\0cd\n"
      "\tTabbed\t=\tv\x1A\r\n"
      "[Setting]\r\n"
      "Volume=42\r\n"
      "[Plugins] trailing text\n"
      "Path = C:\\dsp = two\n"
      "[Unclosed\n"
      "File1=dsp_a.dll"s);
  EXPECT_EQ(ini.ReadString("Setting", "Buffer", "d"), "250");
  EXPECT_EQ(ini.ReadString("SETTING", "buffer", "d"), "250");
  // Only the first section of a name is looked at.
  EXPECT_EQ(ini.ReadString("Setting", "Volume", "d"), "d");
  EXPECT_EQ(ini.ReadString("Setting", "Orphan", "d"), "d");
  EXPECT_EQ(ini.ReadString("Setting", "Novalue", "d"), "d");
  EXPECT_EQ(ini.ReadString("Setting", "Quoted", "d"), " padded ");
  EXPECT_EQ(ini.ReadString("Setting", "Single", "d"), "x");
  EXPECT_EQ(ini.ReadString("Setting", "Mixed", "d"), "\"x'");
  EXPECT_EQ(ini.ReadString("Setting", "Lone", "d"), "\"");
  EXPECT_EQ(ini.ReadString("Setting", "Empty", "d"), "");
  EXPECT_EQ(ini.ReadString("Setting", "Cut", "d"), "ab");
  EXPECT_EQ(ini.ReadString("Setting", "Tabbed", "d"), "v");
  EXPECT_EQ(ini.ReadString("Setting", "; Buffer", "d"), "d");
  EXPECT_EQ(ini.ReadString("Plugins", "Path", "d"), "C:\\dsp = two");
  // "[Unclosed" is no header: its key still belongs to [Plugins].
  EXPECT_EQ(ini.ReadString("Plugins", "File1", "d"), "dsp_a.dll");
  EXPECT_EQ(ini.ReadString("Missing", "Path", "d"), "d");
}

TEST(IniText, WritesReplaceFirstAddAtSectionEndAndEraseFirstSection) {
  TIniTextProfile ini(
      "; kept\r\n[Setting]\r\nBuffer=1\r\nbuffer=2\r\nOwn=x\r\n\r\n[Plugins]\r\nFile1=a\r\n"
      "[Plugins]\r\nFile9=stale\r\n");
  ASSERT_TRUE(ini.WriteString("Setting", "BUFFER", "300"));
  ASSERT_TRUE(ini.WriteString("Setting", "Wait", "5"));
  ASSERT_TRUE(ini.WriteString("Other", "Key", "v"));
  ASSERT_TRUE(ini.EraseSection("plugins"));
  EXPECT_EQ(ini.Text(),
            "; kept\r\n[Setting]\r\nBuffer=300\r\nbuffer=2\r\nOwn=x\r\nWait=5\r\n"
            "[Plugins]\r\nFile9=stale\r\n[Other]\r\nKey=v\r\n");
  // The text written reads back the same.
  TIniTextProfile again(ini.Text());
  EXPECT_EQ(again.ReadString("Setting", "Buffer", ""), "300");
  EXPECT_EQ(again.ReadString("Plugins", "File9", ""), "stale");
  EXPECT_EQ(again.ReadString("Other", "Key", ""), "v");
}

TEST(IniText, HandEditedFileLoadsAsTheProgramExpects) {
  TIniTextProfile ini(
      "[Setting]\nBuffer=10\nFreq=7\nSend=9\nToTray=2\nSourceMode=1\nAuto=1\n"
      "Source=   Line In   \nPID=-5\nVolume=0x2A\nSilenceTime=2,5\nEventLog=1\n"
      "[Plugins]\nPath=C:\\dsp\nFile1=dsp_a.dll\nFile2=dsp_b.dll\nFile4=dsp_d.dll\n");
  TSettingsContext context;
  context.ExeDir = "C:\\Apps";
  TSetting setting;
  EXPECT_EQ(LoadSettings(setting, ini, context), -5);
  EXPECT_EQ(setting.Buffer, 20);
  EXPECT_EQ(setting.Freq, 1);
  EXPECT_EQ(setting.Send, 3);
  EXPECT_EQ(setting.Volume, 42);
  EXPECT_EQ(setting.SilenceTime, 5.0);
  EXPECT_TRUE(setting.ToTray);
  EXPECT_TRUE(setting.SourceMode);
  EXPECT_FALSE(setting.Auto);
  EXPECT_TRUE(setting.EventLog);
  EXPECT_EQ(setting.Source, "Line In");
  EXPECT_EQ(setting.PluginFiles, (std::vector<std::string>{"dsp_a.dll", "dsp_b.dll"}));
}

// What is saved reads back as it was, also strings the profile functions would otherwise trim or
// unquote on reading.
TEST(SaveSettings, StringsReadBackAsSaved) {
  TIniTextProfile ini;
  TSetting setting;
  LoadSettings(setting, ini, TSettingsContext{});
  setting.Source = "\"USB\"";
  setting.Path = " C:\\dsp ";
  setting.PluginFiles = {" dsp_space.dll", "'dsp_q.dll'", "\"", "dsp_plain.dll", "dsp_\"mid\".dll"};
  ASSERT_TRUE(SaveSettings(setting, ini, '.'));
  TIniTextProfile reread(ini.Text());
  TSetting again;
  LoadSettings(again, reread, TSettingsContext{});
  EXPECT_EQ(again.Source, "\"USB\"");
  EXPECT_EQ(again.Path, " C:\\dsp ");
  EXPECT_EQ(again.PluginFiles, setting.PluginFiles);
  // Plain values stay plain in the file.
  EXPECT_NE(ini.Text().find("File4=dsp_plain.dll\r\n"), std::string::npos);
}

// A hand-edited file with [Plugins] twice: the save must not bring the second one's entries in.
TEST(SaveSettings, RepeatedPluginsSectionAddsNoPlugins) {
  TIniTextProfile ini(
      "[Setting]\nBuffer=300\n[Plugins]\nPath=C:\\first\nFile1=dsp_a.dll\n"
      "[PLUGINS]\nPath=C:\\second\nFile1=dsp_z.dll\nFile2=dsp_y.dll\nFile3=dsp_x.dll\n");
  TSetting setting;
  LoadSettings(setting, ini, TSettingsContext{});
  ASSERT_EQ(setting.PluginFiles, std::vector<std::string>{"dsp_a.dll"});
  ASSERT_TRUE(SaveSettings(setting, ini, '.'));
  TIniTextProfile reread(ini.Text());
  TSetting again;
  LoadSettings(again, reread, TSettingsContext{});
  EXPECT_EQ(again.Path, "C:\\first");
  EXPECT_EQ(again.PluginFiles, std::vector<std::string>{"dsp_a.dll"});
}

// The table of bad values in docs/reliability.md, row by row: what each loads as.
TEST(LoadSettings, BadValuesLoadAsTheReliabilityTableSays) {
  struct TRow {
    const char* Lines;
    std::function<bool(const TSetting&)> Holds;
  };
  const TRow rows[] = {
      {"Buffer=two hundred\nFreq=44100Hz\nVolume=100%\nWait=ten",
       [](const TSetting& s) {
         return s.Buffer == 100 && s.Freq == 1 && s.Volume == 100 && s.Wait == 10;
       }},
      {"Buffer=99999999999999999999\nWait=4294967296\nVolume=0x1FFFFFFFF",
       [](const TSetting& s) { return s.Buffer == 100 && s.Wait == 10 && s.Volume == 100; }},
      {"Buffer=0x64\nSend=0xFFFFFFFF",
       [](const TSetting& s) { return s.Buffer == 100 && s.Send == 0; }},
      {"Buffer=10\nSend=9\nFreq=7",
       [](const TSetting& s) { return s.Buffer == 20 && s.Send == 3 && s.Freq == 1; }},
      {"Buffer=5000\nSend=-2\nFreq=-1",
       [](const TSetting& s) { return s.Buffer == 4000 && s.Send == 0 && s.Freq == 1; }},
      {"Silence=70000", [](const TSetting& s) { return s.Silence == 32767; }},
      {"Volume=-50\nWait=-10\nBlocksize=7\nFadeIn=-3",
       [](const TSetting& s) {
         return s.Volume == -50 && s.Wait == -10 && s.Blocksize == 7 && s.FadeIn == -3;
       }},
      {"ToTray=yes\nAuto=true\nEventLog=on",
       [](const TSetting& s) { return !s.ToTray && !s.Auto && !s.EventLog; }},
      {"ToTray=2\nEventLog=-1", [](const TSetting& s) { return s.ToTray && s.EventLog; }},
      {"SilenceTime=2,5\nFadeIn=inf\nFadeOut=nan\nRestoreTime=1e309",
       [](const TSetting& s) {
         return s.SilenceTime == 5 && s.FadeIn == 2 && s.FadeOut == 0 && s.RestoreTime == 5;
       }},
      {"SilenceTime=1e308", [](const TSetting& s) { return s.SilenceTime == 1e308; }},
      {"Send=\nBuffer=\"200\"\nVolume=90 ; loud",
       [](const TSetting& s) { return s.Send == 0 && s.Buffer == 200 && s.Volume == 100; }},
      {"Source=  Line In  \nDestination='Speakers'",
       [](const TSetting& s) { return s.Source == "Line In" && s.Destination == "Speakers"; }},
  };
  for (const TRow& row : rows) {
    TIniTextProfile ini(std::string("[Setting]\n") + row.Lines);
    TSetting setting;
    LoadSettings(setting, ini, TSettingsContext{});
    EXPECT_TRUE(row.Holds(setting)) << row.Lines;
  }
  TIniTextProfile longName("[Setting]\nSource=" + std::string(3000, 'n'));
  TSetting setting;
  LoadSettings(setting, longName, TSettingsContext{});
  EXPECT_EQ(setting.Source.size(), MaxProfileString);
  TIniTextProfile bigPID("[Setting]\nPID=100000");
  EXPECT_FALSE(PIDFromLoaded(LoadSettings(setting, bigPID, TSettingsContext{})).has_value());
}

}  // namespace
