#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/SettingsOracle.h"

// Every INI file of the fuzzer's corpus (realistic files, and whatever the fuzzer once found)
// passes the fuzzer's checks in the ordinary test run too.

namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "ini";
}

TEST(SettingsCorpus, EveryFileLoadsInRangeAndSurvivesASave) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(CorpusDir())) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    for (char separator : {'.', ','}) {
      EXPECT_EQ(settings_oracle::Check(text.str(), separator), "")
          << entry.path().filename() << " with '" << separator << "'";
    }
    ++files;
  }
  EXPECT_GE(files, 20);
}

}  // namespace
