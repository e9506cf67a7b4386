#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemoryStores.h"
#include "settings/FSettings.h"
#include "util/Helpers.h"

namespace {

const char* const ExeDir = "C:\\Apps\\Relay";

TSettingsContext Context(char separator = '.') {
  TSettingsContext context;
  context.DecimalSeparator = separator;
  context.ExeDir = ExeDir;
  return context;
}

TEST(LoadSettings, EmptyFileGivesDefaults) {
  TMemoryProfile profile;
  TSetting setting;
  setting.Source = "left over";
  setting.PluginFiles = {"dsp_old.dll"};
  EXPECT_EQ(LoadSettings(setting, profile, Context()), 0);
  EXPECT_EQ(setting.PID, 0);
  EXPECT_EQ(setting.Source, "");
  EXPECT_EQ(setting.Destination, "");
  EXPECT_EQ(setting.Buffer, 100);
  EXPECT_EQ(setting.Volume, 100);
  EXPECT_EQ(setting.Blocksize, 2);
  EXPECT_EQ(setting.Freq, 1);
  EXPECT_EQ(setting.Send, 0);
  EXPECT_EQ(setting.Silence, -36);
  EXPECT_EQ(setting.SilenceTime, 5.0);
  EXPECT_EQ(setting.RestoreTime, 5.0);
  EXPECT_EQ(setting.Wait, 10);
  EXPECT_EQ(setting.FadeOut, 0.0);
  EXPECT_EQ(setting.FadeIn, 2.0);
  EXPECT_FALSE(setting.ToTray);
  EXPECT_FALSE(setting.Auto);
  EXPECT_FALSE(setting.SourceMode);
  EXPECT_FALSE(setting.EventLog);
  EXPECT_EQ(setting.Path, ExeDir);
  EXPECT_TRUE(setting.PluginFiles.empty());
}

struct TClampCase {
  const char* Key;
  const char* Value;
  int32_t TSetting::*Field;
  int32_t Expected;
};

TEST(LoadSettings, OutOfRangeValuesAreClamped) {
  const TClampCase cases[] = {
      {"Buffer", "10", &TSetting::Buffer, 20},    {"Buffer", "5000", &TSetting::Buffer, 4000},
      {"Buffer", "0x64", &TSetting::Buffer, 100}, {"Freq", "7", &TSetting::Freq, 1},
      {"Freq", "-1", &TSetting::Freq, 1},         {"Freq", "6", &TSetting::Freq, 6},
      {"Send", "9", &TSetting::Send, 3},          {"Send", "-2", &TSetting::Send, 0},
      {"Volume", "250", &TSetting::Volume, 250},  {"Blocksize", "7", &TSetting::Blocksize, 7},
  };
  for (const auto& c : cases) {
    TMemoryProfile profile;
    profile.Set("Setting", c.Key, c.Value);
    TSetting setting;
    LoadSettings(setting, profile, Context());
    EXPECT_EQ(setting.*c.Field, c.Expected) << c.Key << "=" << c.Value;
  }
}

TEST(LoadSettings, BooleansAreIntegers) {
  TMemoryProfile profile;
  profile.Set("Setting", "ToTray", "2");
  profile.Set("Setting", "SourceMode", "yes");
  profile.Set("Setting", "Auto", "1");
  TSetting setting;
  LoadSettings(setting, profile, Context());
  EXPECT_TRUE(setting.ToTray);
  EXPECT_FALSE(setting.SourceMode);
  EXPECT_TRUE(setting.Auto);
}

TEST(LoadSettings, InteractiveModeClearsAutoplay) {
  TMemoryProfile profile;
  profile.Set("Setting", "SourceMode", "1");
  profile.Set("Setting", "Auto", "1");
  TSetting setting;
  LoadSettings(setting, profile, Context());
  EXPECT_TRUE(setting.SourceMode);
  EXPECT_FALSE(setting.Auto);
}

TEST(LoadSettings, DeviceNamesAreTrimmedAndStringsBounded) {
  TMemoryProfile profile;
  profile.Set("Setting", "Source", "  Line In \t");
  profile.Set("Setting", "Destination", " Speakers ");
  profile.Set("Plugins", "Path", std::string(3000, 'p'));
  TSetting setting;
  LoadSettings(setting, profile, Context());
  EXPECT_EQ(setting.Source, "Line In");
  EXPECT_EQ(setting.Destination, "Speakers");
  EXPECT_EQ(setting.Path.size(), MaxProfileString);
}

TEST(LoadSettings, PluginListStopsAtFirstGap) {
  TMemoryProfile profile;
  profile.Set("Plugins", "Path", "D:\\dsp");
  profile.Set("Plugins", "File1", "dsp_a.dll");
  profile.Set("Plugins", "File2", " dsp_b.dll");
  profile.Set("Plugins", "File4", "dsp_d.dll");
  std::vector<std::string> scanned;
  TSettingsContext context = Context();
  context.ScanPlugins = [&scanned](const std::string& path) { scanned.push_back(path); };
  TSetting setting;
  LoadSettings(setting, profile, context);
  EXPECT_EQ(setting.Path, "D:\\dsp");
  EXPECT_EQ(setting.PluginFiles, (std::vector<std::string>{"dsp_a.dll", " dsp_b.dll"}));
  EXPECT_EQ(scanned, std::vector<std::string>{"D:\\dsp"});

  ASSERT_TRUE(SaveSettings(setting, profile, '.'));
  EXPECT_EQ(profile.KeysOf("Plugins"), (std::vector<std::string>{"Path", "File1", "File2"}));
  EXPECT_EQ(profile.Get("Plugins", "File2"), " dsp_b.dll");
}

TEST(LoadSettings, SilenceOutside16BitsIsPinnedAndLoadingGoesOn) {
  TMemoryProfile profile;
  profile.Set("Setting", "Silence", "-40000");
  profile.Set("Setting", "Wait", "30");
  TSetting setting;
  LoadSettings(setting, profile, Context());
  EXPECT_EQ(setting.Silence, -32768);
  EXPECT_EQ(setting.Wait, 30);
  TMemoryProfile high;
  high.Set("Setting", "Silence", "70000");
  LoadSettings(setting, high, Context());
  EXPECT_EQ(setting.Silence, 32767);
}

TEST(Settings, PIDRoundTripAndRange) {
  TMemoryProfile profile;
  profile.Set("Setting", "PID", "-5");
  TSetting setting;
  const int32_t loaded = LoadSettings(setting, profile, Context());
  EXPECT_EQ(loaded, -5);
  EXPECT_EQ(setting.PID, 0);  // the caller copies it in
  ASSERT_EQ(PIDFromLoaded(loaded), std::optional<int16_t>(-5));
  setting.PID = *PIDFromLoaded(loaded);
  ASSERT_TRUE(SaveSettings(setting, profile, '.'));
  EXPECT_EQ(profile.Get("Setting", "PID"), "-5");

  EXPECT_EQ(PIDFromLoaded(32767), std::optional<int16_t>(32767));
  EXPECT_EQ(PIDFromLoaded(-32768), std::optional<int16_t>(-32768));
  EXPECT_FALSE(PIDFromLoaded(32768).has_value());
  EXPECT_FALSE(PIDFromLoaded(-32769).has_value());

  TMemoryProfile big;
  big.Set("Setting", "PID", "100000");
  EXPECT_EQ(LoadSettings(setting, big, Context()), 100000);
}

TEST(Settings, DoublesFollowTheLocaleSeparator) {
  TMemoryProfile profile;
  TSetting setting;
  LoadSettings(setting, profile, Context(','));
  setting.SilenceTime = 2.5;
  setting.FadeIn = 0.1;
  ASSERT_TRUE(SaveSettings(setting, profile, ','));
  EXPECT_EQ(profile.Get("Setting", "SilenceTime"), "2,5");
  EXPECT_EQ(profile.Get("Setting", "RestoreTime"), "5");
  EXPECT_EQ(profile.Get("Setting", "FadeIn"), "0,1");

  TSetting comma;
  LoadSettings(comma, profile, Context(','));
  EXPECT_EQ(comma.SilenceTime, 2.5);
  EXPECT_EQ(comma.FadeIn, 0.1);

  TSetting point;
  LoadSettings(point, profile, Context('.'));
  EXPECT_EQ(point.SilenceTime, 5.0);
  EXPECT_EQ(point.RestoreTime, 5.0);
}

TEST(ProfileValues, Integers) {
  EXPECT_EQ(ParseProfileInt("42"), 42);
  EXPECT_EQ(ParseProfileInt("-36"), -36);
  EXPECT_EQ(ParseProfileInt("+7"), 7);
  EXPECT_EQ(ParseProfileInt(" 12 "), 12);
  EXPECT_EQ(ParseProfileInt("0x64"), 100);
  EXPECT_EQ(ParseProfileInt("0XfF"), 255);
  EXPECT_EQ(ParseProfileInt("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParseProfileInt("2147483647"), 2147483647);
  for (const char* bad : {"", "yes", "0x", "0xG1", "0x1FFFFFFFF", "12abc", "1.5", "2147483648",
                          "+-3", "--3", "- 3"}) {
    EXPECT_FALSE(ParseProfileInt(bad).has_value()) << bad;
  }
}

TEST(ProfileValues, Doubles) {
  EXPECT_EQ(ParseProfileDouble("2.5", '.'), 2.5);
  EXPECT_EQ(ParseProfileDouble("-0,25", ','), -0.25);
  EXPECT_EQ(ParseProfileDouble("1E3", '.'), 1000.0);
  EXPECT_EQ(ParseProfileDouble("7", ','), 7.0);
  for (const char* bad : {"", "2,5", "abc", "inf", "nan", "-inf", "1e999", "2.5s"}) {
    EXPECT_FALSE(ParseProfileDouble(bad, '.').has_value()) << bad;
  }
  EXPECT_FALSE(ParseProfileDouble("2.5", ',').has_value());

  EXPECT_EQ(FormatProfileDouble(5.0, '.'), "5");
  EXPECT_EQ(FormatProfileDouble(0.0, '.'), "0");
  EXPECT_EQ(FormatProfileDouble(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FormatProfileDouble(123456.789, ','), "123456,789");
  for (double v : {1e-7, 1e20, 3.14159265358979, -2.75}) {
    EXPECT_EQ(ParseProfileDouble(FormatProfileDouble(v, ','), ','), v);
  }
}

TEST(SaveSettings, WritesKeysInOrderAndKeepsUnknownOnes) {
  TMemoryProfile profile;
  profile.Set("Setting", "Custom", "kept");
  profile.Set("Plugins", "Stale", "gone");
  TSetting setting;
  LoadSettings(setting, profile, Context());
  setting.Source = "  Mic ";
  setting.Silence = -50;
  setting.ToTray = true;
  ASSERT_TRUE(SaveSettings(setting, profile, '.'));

  EXPECT_EQ(profile.KeysOf("Setting"),
            (std::vector<std::string>{"Custom", "PID", "Source", "Destination", "Buffer", "Volume",
                                      "ToTray", "SourceMode", "Blocksize", "Freq", "Send",
                                      "Silence", "SilenceTime", "RestoreTime", "Wait", "Auto",
                                      "FadeOut", "FadeIn", "EventLog", "StabMode"}));
  EXPECT_EQ(profile.Get("Setting", "Custom"), "kept");
  EXPECT_EQ(profile.Get("Setting", "Source"), "Mic");
  EXPECT_EQ(profile.Get("Setting", "Silence"), "-50");
  EXPECT_EQ(profile.Get("Setting", "ToTray"), "1");
  EXPECT_EQ(profile.Get("Setting", "Auto"), "0");
  EXPECT_EQ(profile.KeysOf("Plugins"), std::vector<std::string>{"Path"});
  EXPECT_EQ(profile.Get("Plugins", "Path"), ExeDir);

  TSetting again;
  LoadSettings(again, profile, Context());
  EXPECT_EQ(again.Source, "Mic");
  EXPECT_EQ(again.Silence, -50);
  EXPECT_TRUE(again.ToTray);
}

// Off unless the file says otherwise, so files written before the key existed log nothing.
TEST(Settings, EventLogIsOffByDefaultAndKept) {
  TMemoryProfile older;
  older.Set("Setting", "Buffer", "200");
  TSetting setting;
  LoadSettings(setting, older, Context());
  EXPECT_FALSE(setting.EventLog);
  ASSERT_TRUE(SaveSettings(setting, older, '.'));
  EXPECT_EQ(older.Get("Setting", "EventLog"), "0");

  TMemoryProfile on;
  on.Set("Setting", "eventlog", " 1 ");
  LoadSettings(setting, on, Context());
  EXPECT_TRUE(setting.EventLog);
  setting.EventLog = false;
  ASSERT_TRUE(SaveSettings(setting, on, '.'));
  TSetting again;
  LoadSettings(again, on, Context());
  EXPECT_FALSE(again.EventLog);

  TMemoryProfile word;
  word.Set("Setting", "EventLog", "on");
  LoadSettings(setting, word, Context());
  EXPECT_FALSE(setting.EventLog);
}

TEST(SaveSettings, StopsAtTheFailingWrite) {
  TMemoryProfile profile;
  profile.FailKey = "Volume";
  TSetting setting;
  LoadSettings(setting, profile, Context());
  setting.Buffer = 300;
  setting.Wait = 99;
  EXPECT_FALSE(SaveSettings(setting, profile, '.'));
  EXPECT_EQ(profile.Writes, 5);  // PID, Source, Destination, Buffer, then the failing Volume
  EXPECT_EQ(profile.Get("Setting", "Buffer"), "300");
  EXPECT_EQ(profile.Get("Setting", "Wait"), "<missing>");
  EXPECT_EQ(WriteErrorText("C:\\Apps\\relay.ini"), "Unable to write to C:\\Apps\\relay.ini");

  TMemoryProfile plugins;
  plugins.FailKey = "File1";
  setting.PluginFiles = {"dsp_a.dll", "dsp_b.dll"};
  EXPECT_FALSE(SaveSettings(setting, plugins, '.'));
  EXPECT_EQ(plugins.Get("Plugins", "File2"), "<missing>");
}

TEST(Paths, IniAndDirectoryOfTheExecutable) {
  EXPECT_EQ(IniPathOf("C:\\Apps\\relay.exe"), "C:\\Apps\\relay.ini");
  EXPECT_EQ(IniPathOf("C:\\My.Apps\\relay"), "C:\\My.Apps\\relay.ini");
  EXPECT_EQ(IniPathOf("C:\\Apps\\relay.v2.exe"), "C:\\Apps\\relay.v2.ini");
  EXPECT_EQ(LogPathOf("C:\\Apps\\Kestrune.exe"), "C:\\Apps\\Kestrune.log");
  EXPECT_EQ(LogPathOf("C:\\My.Apps\\relay"), "C:\\My.Apps\\relay.log");
  EXPECT_EQ(ExeDirOf("C:\\Apps\\relay.exe"), "C:\\Apps");
  EXPECT_EQ(ExeDirOf("C:\\relay.exe"), "C:\\");
  EXPECT_EQ(ExeDirOf("\\\\server\\share\\relay.exe"), "\\\\server\\share");
}

}  // namespace

namespace {

TEST(StabMode, MissingKeyLoadsTheBlockStabilizer) {
  TMemoryProfile profile;
  profile.Set("Setting", "Buffer", "200");  // an INI written before the key existed
  TSetting setting;
  setting.StabMode = 1;  // left over from an earlier load
  LoadSettings(setting, profile, Context());
  EXPECT_EQ(setting.StabMode, 0);
}

TEST(StabMode, SmoothModeRoundTripsAndUnknownModesFallBackToBlock) {
  TMemoryProfile profile;
  TSetting setting;
  LoadSettings(setting, profile, Context());
  setting.StabMode = 1;
  ASSERT_TRUE(SaveSettings(setting, profile, '.'));
  EXPECT_EQ(profile.Get("Setting", "StabMode"), "1");
  TSetting again;
  LoadSettings(again, profile, Context());
  EXPECT_EQ(again.StabMode, 1);

  for (const char* value : {"2", "-1", "smooth", "0x1", ""}) {
    TMemoryProfile other;
    other.Set("Setting", "StabMode", value);
    TSetting s;
    LoadSettings(s, other, Context());
    EXPECT_EQ(s.StabMode, std::string(value) == "0x1" ? 1 : 0) << value;
  }
}

}  // namespace
