#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/SettingsOracle.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Profile.h"
#include "settings/FSettings.h"
#include "settings/IniText.h"
#include "win/TempDir.h"

// The settings file through the system's profile functions where it cannot be written, and the
// portable INI reader held against them on every file of the fuzzer's corpus.

namespace {

const char* const OldIni =
    "[Setting]\r\nSource=Line In\r\nBuffer=250\r\nMyOwnKey=hello\r\n"
    "[Plugins]\r\nPath=C:\\dsp\r\nFile1=dsp_a.dll\r\n";

// Loads, changes a value and saves, as the settings dialog would; the text the user is shown,
// or "saved".
std::string LoadChangeSave(const std::string& ini) {
  TWinProfile profile(ini);
  TSettingsContext context;
  context.ExeDir = "C:\\Apps";
  TSetting setting;
  LoadSettings(setting, profile, context);
  setting.Buffer = 400;
  if (SaveSettings(setting, profile, '.')) return "saved";
  return WriteErrorText(profile.Path());
}

TEST(WinUnwritable, FileHeldOpenByAnotherProgramIsReportedAndKept) {
  TTempDir dir;
  const std::string ini = dir.File("Kestrune.ini");
  std::ofstream(ini, std::ios::binary) << OldIni;
  TKernelHandle held(CreateFileA(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(LoadChangeSave(ini), "Unable to write to " + ini);
  held.Reset();
  EXPECT_EQ(ReadText(ini), OldIni);
  // Once it is free, the same save goes through and keeps what the program does not know.
  EXPECT_EQ(LoadChangeSave(ini), "saved");
  TWinProfile profile(ini);
  EXPECT_EQ(profile.ReadString("Setting", "MyOwnKey", ""), "hello");
  EXPECT_EQ(profile.ReadString("Setting", "Buffer", ""), "400");
}

TEST(WinUnwritable, ReadOnlyFileIsReportedAndKept) {
  TTempDir dir;
  const std::string ini = dir.File("Kestrune.ini");
  std::ofstream(ini, std::ios::binary) << OldIni;
  ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY));
  TKernelHandle probe(
      CreateFileA(ini.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (probe) GTEST_SKIP() << "the read-only attribute is not enforced here (Wine run by root)";
  EXPECT_EQ(LoadChangeSave(ini), "Unable to write to " + ini);
  EXPECT_EQ(ReadText(ini), OldIni);
}

std::filesystem::path CorpusDir() {
  std::string source = __FILE__;
  // Built on Linux: the source path is a Unix one, reached through drive Z:.
  if (!source.empty() && source[0] == '/') source = "Z:" + source;
  return std::filesystem::path(source).parent_path().parent_path().parent_path() / "fuzz" /
         "corpus" / "ini";
}

// The portable reader is what the fuzzer runs on; here it must read every corpus file as the
// system's profile functions do.
TEST(WinUnwritable, PortableReaderAgreesWithTheProfileFunctions) {
  TTempDir dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir())) {
    const std::string text = ReadText(entry.path().string());
    const std::string ini = dir.File("corpus.ini");
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
    TSettingsContext context;
    context.ExeDir = settings_oracle::ExeDir;
    TWinProfile system(ini);
    TIniTextProfile portable(text);
    TSetting bySystem;
    TSetting byPortable;
    const int32_t systemPID = LoadSettings(bySystem, system, context);
    const int32_t portablePID = LoadSettings(byPortable, portable, context);
    EXPECT_EQ(systemPID, portablePID) << entry.path().filename();
    EXPECT_EQ(settings_oracle::Differences(bySystem, byPortable), "")
        << entry.path().filename() << " (what the system read, then the portable reader)";
    ++files;
  }
  EXPECT_GE(files, 20);
}

}  // namespace
