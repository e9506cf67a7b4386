#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/ExePath.h"
#include "platform/win32/Profile.h"
#include "platform/win32/Registry.h"
#include "settings/FSettings.h"
#include "util/Helpers.h"
#include "win/TempDir.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Keys of a section in file order, as the text holds them.
std::vector<std::string> KeysInFile(const std::string& text, const std::string& section) {
  std::vector<std::string> keys;
  std::istringstream lines(text);
  std::string line;
  bool inSection = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inSection = line == "[" + section + "]";
    } else if (inSection && line.find('=') != std::string::npos) {
      keys.push_back(line.substr(0, line.find('=')));
    }
  }
  return keys;
}

TSettingsContext Context(const TTempDir& dir, char separator = '.') {
  TSettingsContext context;
  context.DecimalSeparator = separator;
  context.ExeDir = dir.Path;
  return context;
}

TEST(WinSettings, LoadsHandEditedFileAndSavesInOrder) {
  TTempDir dir;
  const std::string ini = dir.File("relay.ini");
  WriteText(
      ini,
      "[Setting]\r\nBuffer=10\r\nFreq=7\r\nSend=9\r\nToTray=2\r\nSourceMode=1\r\n"
      "Auto=1\r\nSource=   Line In   \r\nPID=-5\r\nMyOwnKey=hello\r\n"
      "[Plugins]\r\nPath=C:\\dsp\r\nFile1=dsp_a.dll\r\nFile2=dsp_b.dll\r\nFile4=dsp_d.dll\r\n");
  TWinProfile profile(ini);
  TSetting setting;
  const int32_t loadedPID = LoadSettings(setting, profile, Context(dir));
  EXPECT_EQ(loadedPID, -5);
  EXPECT_EQ(setting.Buffer, 20);
  EXPECT_EQ(setting.Freq, 1);
  EXPECT_EQ(setting.Send, 3);
  EXPECT_TRUE(setting.ToTray);
  EXPECT_TRUE(setting.SourceMode);
  EXPECT_FALSE(setting.Auto);
  EXPECT_EQ(setting.Source, "Line In");
  EXPECT_EQ(setting.Path, "C:\\dsp");
  EXPECT_EQ(setting.PluginFiles, (std::vector<std::string>{"dsp_a.dll", "dsp_b.dll"}));

  setting.PID = *PIDFromLoaded(loadedPID);
  ASSERT_TRUE(SaveSettings(setting, profile, '.'));
  const std::string text = ReadText(ini);
  EXPECT_EQ(KeysInFile(text, "Plugins"), (std::vector<std::string>{"Path", "File1", "File2"}));
  const std::vector<std::string> keys = KeysInFile(text, "Setting");
  EXPECT_NE(std::find(keys.begin(), keys.end(), "MyOwnKey"), keys.end());
  EXPECT_EQ(profile.ReadString("Setting", "MyOwnKey", ""), "hello");
  EXPECT_EQ(profile.ReadString("Setting", "PID", ""), "-5");
  EXPECT_EQ(profile.ReadString("Setting", "Buffer", ""), "20");
}

TEST(WinSettings, FreshFileHoldsKeysInWriteOrder) {
  TTempDir dir;
  const std::string ini = dir.File("fresh.ini");
  WriteText(ini, "[Setting]\r\nKeepMe=1\r\n");
  TWinProfile profile(ini);
  TSetting setting;
  LoadSettings(setting, profile, Context(dir));
  setting.PluginFiles = {"dsp_x.dll"};
  ASSERT_TRUE(SaveSettings(setting, profile, '.'));
  const std::string text = ReadText(ini);
  EXPECT_EQ(
      KeysInFile(text, "Setting"),
      (std::vector<std::string>{"KeepMe", "PID",     "Source",      "Destination", "Buffer",
                                "Volume", "ToTray",  "SourceMode",  "Blocksize",   "Freq",
                                "Send",   "Silence", "SilenceTime", "RestoreTime", "Wait",
                                "Auto",   "FadeOut", "FadeIn",      "EventLog",    "StabMode"}));
  EXPECT_EQ(KeysInFile(text, "Plugins"), (std::vector<std::string>{"Path", "File1"}));
  EXPECT_NE(text.find("Silence=-36"), std::string::npos);
  EXPECT_NE(text.find("FadeIn=2"), std::string::npos);
}

TEST(WinSettings, HexIntegersAndLocaleDoubles) {
  TTempDir dir;
  const std::string ini = dir.File("values.ini");
  WriteText(ini, "[Setting]\r\nBuffer=0x64\r\nVolume=0X2a\r\n");
  TWinProfile profile(ini);
  TSetting setting;
  LoadSettings(setting, profile, Context(dir, ','));
  EXPECT_EQ(setting.Buffer, 100);
  EXPECT_EQ(setting.Volume, 42);

  setting.SilenceTime = 2.5;
  ASSERT_TRUE(SaveSettings(setting, profile, ','));
  EXPECT_NE(ReadText(ini).find("SilenceTime=2,5"), std::string::npos);
  TSetting comma;
  LoadSettings(comma, profile, Context(dir, ','));
  EXPECT_EQ(comma.SilenceTime, 2.5);
  TSetting point;
  LoadSettings(point, profile, Context(dir, '.'));
  EXPECT_EQ(point.SilenceTime, 5.0);
}

TEST(WinSettings, MissingOrUnreadableFileGivesDefaults) {
  TTempDir dir;
  // A directory where the file should be cannot be read as one.
  const std::string blocked = dir.File("blocked.ini");
  ASSERT_TRUE(CreateDirectoryA(blocked.c_str(), nullptr));
  for (const std::string& ini : {dir.File("missing.ini"), blocked}) {
    TWinProfile profile(ini);
    TSetting setting;
    EXPECT_EQ(LoadSettings(setting, profile, Context(dir)), 0);
    EXPECT_EQ(setting.Buffer, 100) << ini;
    EXPECT_EQ(setting.Freq, 1);
    EXPECT_EQ(setting.Silence, -36);
    EXPECT_EQ(setting.FadeIn, 2.0);
    EXPECT_EQ(setting.Path, dir.Path);
    EXPECT_TRUE(setting.PluginFiles.empty());
  }
}

TEST(WinSettings, UnwritableFileIsReported) {
  TTempDir dir;
  const std::string blocked = dir.File("blocked.ini");
  ASSERT_TRUE(CreateDirectoryA(blocked.c_str(), nullptr));
  for (const std::string& ini : {dir.File("no-such-dir\\relay.ini"), blocked}) {
    TWinProfile profile(ini);
    TSetting setting;
    LoadSettings(setting, profile, Context(dir));
    EXPECT_FALSE(SaveSettings(setting, profile, '.')) << ini;
    EXPECT_EQ(WriteErrorText(profile.Path()), "Unable to write to " + ini);
  }
}

TEST(WinSettings, ExecutableAndIniPaths) {
  const std::string exe = ExecutablePath();
  ASSERT_GT(exe.size(), 4u);
  EXPECT_EQ(GetFileAttributesA(exe.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(GetFileAttributesA(exe.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(IniPath(), exe.substr(0, exe.size() - 4) + ".ini");
  const std::string dir = ExeDirOf(exe);
  EXPECT_EQ(exe.compare(0, dir.size(), dir), 0);
  EXPECT_NE(dir.back(), '\\');
}

TEST(WinSettings, DecimalSeparatorFollowsTheUserLocale) {
  char saved[8] = {};
  ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved, sizeof saved), 0);
  ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, ","));
  const char comma = LocaleDecimalSeparator();
  SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, ".");
  const char point = LocaleDecimalSeparator();
  SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, saved);
  EXPECT_EQ(comma, ',');
  EXPECT_EQ(point, '.');
}

// The real Run keys of this prefix; every value a test creates is removed again.
class WinAutostart : public ::testing::Test {
 protected:
  static constexpr const char* RunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

  void SetUp() override {
    Exe = ExecutablePath();
    Cleanup();
  }
  void TearDown() override { Cleanup(); }

  void Cleanup() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      TRegKey key;
      if (TRegKey::Open(root, RunKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) continue;
      for (const char* name : {"OVKestrune", "OVKestrune1", "OVKestrune2", "OtherName"}) {
        RegDeleteValueA(key.Get(), name);
      }
    }
  }
  static void Put(HKEY root, const char* name, const std::string& data, DWORD type = REG_SZ) {
    TRegKey key;
    ASSERT_EQ(TRegKey::Create(root, RunKey, KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
  }
  static std::string Get(HKEY root, const char* name) {
    TRegKey key;
    if (TRegKey::Open(root, RunKey, KEY_READ, key) != ERROR_SUCCESS) return "<no key>";
    char data[4096] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
      return "<missing>";
    }
    return data;
  }

  std::string Exe;
  TWinRunKeys Keys;
};

TEST_F(WinAutostart, EnableNamesDisableRemovesUserValuesOnly) {
  Put(HKEY_CURRENT_USER, "OVKestrune", "C:\\elsewhere\\Kestrune.exe");
  Put(HKEY_CURRENT_USER, "OVKestrune1", "1", REG_BINARY);
  EXPECT_FALSE(IsAutostart(Keys, Exe));

  ASSERT_TRUE(SetAutostart(Keys, Exe, true));
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OVKestrune2"), Exe);
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OVKestrune"), "C:\\elsewhere\\Kestrune.exe");
  EXPECT_TRUE(IsAutostart(Keys, Exe));

  // Another value for this path in other letter case: enabling again adds nothing.
  std::string upper = Exe;
  CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  Put(HKEY_CURRENT_USER, "OtherName", upper);
  ASSERT_TRUE(SetAutostart(Keys, Exe, true));
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OVKestrune3"), "<missing>");

  Put(HKEY_LOCAL_MACHINE, "OVKestrune", Exe);
  ASSERT_TRUE(SetAutostart(Keys, Exe, false));
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OVKestrune2"), "<missing>");
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OtherName"), "<missing>");
  EXPECT_EQ(Get(HKEY_CURRENT_USER, "OVKestrune"), "C:\\elsewhere\\Kestrune.exe");
  EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, "OVKestrune"), Exe);
  EXPECT_TRUE(IsAutostart(Keys, Exe));

  Cleanup();
  EXPECT_FALSE(IsAutostart(Keys, Exe));
}

}  // namespace
