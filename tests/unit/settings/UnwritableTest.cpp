#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "settings/FSettings.h"
#include "settings/IniText.h"

// The settings file where it cannot be written, seen by a user that is not root (root's writes
// pass every permission): what saving reports, and that what the file held is still there.

namespace {

namespace fs = std::filesystem;

constexpr uid_t Nobody = 65534;

const char* const OldIni =
    "[Setting]\r\nSource=Line In\r\nBuffer=250\r\nMyOwnKey=hello\r\n"
    "[Plugins]\r\nPath=C:\\dsp\r\nFile1=dsp_a.dll\r\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs `body` as an unprivileged user and returns what it reported; nothing when no such user
// can be had. Root forks and gives up its rights in the child; anyone else runs it as is.
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& body) {
  if (geteuid() != 0) return body();
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    close(pipeEnds[0]);
    std::string report = "no unprivileged user";
    if (setgroups(0, nullptr) == 0 && setgid(Nobody) == 0 && setuid(Nobody) == 0) {
      report = body();
    }
    const ssize_t written = write(pipeEnds[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(pipeEnds[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) report.append(buffer, n);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report == "no unprivileged user") {
    return std::nullopt;
  }
  return report;
}

// Loads, changes a value and saves; the report is what the user would be shown, or "saved".
std::string LoadChangeSave(const std::string& ini) {
  TIniFileProfile profile(ini);
  TSettingsContext context;
  context.ExeDir = "C:\\Apps";
  TSetting setting;
  LoadSettings(setting, profile, context);
  setting.Buffer = 400;
  if (SaveSettings(setting, profile, '.')) return "saved";
  return WriteErrorText(profile.Path());
}

class Unwritable : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "kestrune-ro-XXXXXX").string();
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    Dir = name;
    chmod(Dir.c_str(), 0777);
  }
  void TearDown() override {
    chmod(Dir.c_str(), 0777);
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  fs::path Dir;
};

TEST_F(Unwritable, ReadOnlyFileIsReportedAndKeptWhole) {
  const fs::path ini = Dir / "Kestrune.ini";
  WriteFile(ini, OldIni);
  chmod(ini.c_str(), 0444);
  const auto report = RunUnprivileged([&] { return LoadChangeSave(ini.string()); });
  if (!report) GTEST_SKIP() << "no unprivileged user to run as";
  EXPECT_EQ(*report, "Unable to write to " + ini.string());
  EXPECT_EQ(ReadFile(ini), OldIni);
}

TEST_F(Unwritable, ReadOnlyDirectoryRefusesANewFileButNotAnExistingOne) {
  const fs::path fresh = Dir / "Fresh.ini";
  const fs::path existing = Dir / "Kestrune.ini";
  WriteFile(existing, OldIni);
  chmod(existing.c_str(), 0666);
  chmod(Dir.c_str(), 0555);
  const auto report = RunUnprivileged(
      [&] { return LoadChangeSave(fresh.string()) + "|" + LoadChangeSave(existing.string()); });
  if (!report) GTEST_SKIP() << "no unprivileged user to run as";
  // The file is written in place, as the profile functions write it: the directory's rights
  // matter only for a file that is not there yet.
  EXPECT_EQ(*report, "Unable to write to " + fresh.string() + "|saved");
  EXPECT_FALSE(fs::exists(fresh));
  TIniTextProfile saved(ReadFile(existing));
  EXPECT_EQ(saved.ReadString("Setting", "Buffer", ""), "400");
  EXPECT_EQ(saved.ReadString("Setting", "MyOwnKey", ""), "hello");
  EXPECT_EQ(saved.ReadString("Plugins", "File1", ""), "dsp_a.dll");
}

TEST_F(Unwritable, UnreadableFileLoadsDefaultsAndIsNotOverwritten) {
  const fs::path ini = Dir / "Kestrune.ini";
  WriteFile(ini, OldIni);
  chmod(ini.c_str(), 0000);
  const auto report = RunUnprivileged([&] {
    TIniFileProfile profile(ini.string());
    TSetting setting;
    LoadSettings(setting, profile, TSettingsContext{});
    return std::to_string(setting.Buffer) + " " + setting.Source + "|" +
           (SaveSettings(setting, profile, '.') ? "saved" : "refused");
  });
  if (!report) GTEST_SKIP() << "no unprivileged user to run as";
  EXPECT_EQ(*report, "100 |refused");
  chmod(ini.c_str(), 0644);
  EXPECT_EQ(ReadFile(ini), OldIni);
}

}  // namespace
