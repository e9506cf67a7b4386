#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestForm.h"
#include "platform/win32/VersionInfo.h"

namespace {

// Builds a version resource the way the resource compiler lays it out.
struct TVersionNode {
  std::string Key;
  std::vector<uint8_t> Value;
  bool Text = false;
  std::vector<TVersionNode> Children;

  static void Align(std::vector<uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
  }
  void Write(std::vector<uint8_t>& out) const {
    Align(out);
    const size_t start = out.size();
    const uint16_t valueLength = static_cast<uint16_t>(Text ? Value.size() / 2 : Value.size());
    const uint16_t head[3] = {0, valueLength, static_cast<uint16_t>(Text ? 1 : 0)};
    out.insert(out.end(), reinterpret_cast<const uint8_t*>(head),
               reinterpret_cast<const uint8_t*>(head) + 6);
    for (char c : Key) {
      out.push_back(static_cast<uint8_t>(c));
      out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    Align(out);
    out.insert(out.end(), Value.begin(), Value.end());
    for (auto& child : Children) child.Write(out);
    const uint16_t length = static_cast<uint16_t>(out.size() - start);
    std::memcpy(&out[start], &length, 2);
  }
};

TVersionNode String(const std::string& key, const std::string& text) {
  TVersionNode n{key, {}, true, {}};
  for (char c : text) {
    n.Value.push_back(static_cast<uint8_t>(c));
    n.Value.push_back(0);
  }
  n.Value.push_back(0);
  n.Value.push_back(0);
  return n;
}

// A copy of this test program that carries the given string tables as its version resource.
std::string ProgramWithVersion(const std::vector<TVersionNode>& tables) {
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = 0xFEEF04BD;
  fixed.dwStrucVersion = 0x10000;
  TVersionNode root{"VS_VERSION_INFO", {}, false, {}};
  root.Value.assign(reinterpret_cast<uint8_t*>(&fixed),
                    reinterpret_cast<uint8_t*>(&fixed) + sizeof(fixed));
  root.Children.push_back({"StringFileInfo", {}, true, tables});
  std::vector<uint8_t> blob;
  root.Write(blob);

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof(self));
  char dir[MAX_PATH] = {}, copy[MAX_PATH] = {};
  GetTempPathA(sizeof(dir), dir);
  GetTempFileNameA(dir, "kve", 0, copy);
  if (!CopyFileA(self, copy, FALSE)) return {};
  HANDLE update = BeginUpdateResourceA(copy, FALSE);
  if (!update) return {};
  const BOOL put = UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1),
                                   MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), blob.data(),
                                   static_cast<DWORD>(blob.size()));
  if (!EndUpdateResourceA(update, !put) || !put) return {};
  return copy;
}

struct TTempFile {
  std::string Path;
  ~TTempFile() {
    if (!Path.empty()) DeleteFileA(Path.c_str());
  }
};

TEST(TrpVersionInfo, ReadsTheStringsOfTheRussianBlockOnly) {
  TTempFile file{
      ProgramWithVersion({{"041904E3",
                           {},
                           true,
                           {String("CompanyName", "Orvanta"), String("FileVersion", "2.7.0.13"),
                            String("Comments", "relay")}},
                          {"040904B0", {}, true, {String("ProductName", "Other block")}}})};
  ASSERT_FALSE(file.Path.empty()) << "cannot give a copy of the test program a version";
  const TrpVersionInfo v(file.Path);
  EXPECT_EQ(v.CompanyName, "Orvanta");
  EXPECT_EQ(v.FileVersion, "2.7.0.13");
  EXPECT_EQ(v.Comments, "relay");
  // Items that block lacks stay empty, even where another block has them.
  EXPECT_EQ(v.ProductName, "");
  EXPECT_EQ(v.LegalTrademarks, "");
  EXPECT_EQ(v.MajorVersion, 2);
  EXPECT_EQ(v.MinorVersion, 7);
  EXPECT_EQ(v.Release, 0);
  EXPECT_EQ(v.Build, 13);
}

TEST(TrpVersionInfo, AFileWithoutVersionGivesEmptyStringsAndZeros) {
  const TrpVersionInfo own;  // the test program has no version resource
  EXPECT_EQ(own.FileVersion, "");
  EXPECT_EQ(own.CompanyName, "");
  EXPECT_EQ(own.MajorVersion + own.MinorVersion + own.Release + own.Build, 0);
  const TrpVersionInfo missing("C:\\no\\such\\file.exe");
  EXPECT_EQ(missing.FileVersion, "");
}

TEST(TrpVersionInfo, SplitsTheFileVersionAtItsDots) {
  struct {
    const char* Text;
    int Parts[4];
  } cases[] = {
      {"1.0.1.5", {1, 0, 1, 5}}, {"2.3", {2, 3, 0, 0}},       {"1.x.3.4", {1, 0, 3, 4}},
      {"", {0, 0, 0, 0}},        {"1.2.3.4.5", {1, 2, 3, 4}}, {"99999999999.1.2.3", {0, 1, 2, 3}},
      {"..7.", {0, 0, 7, 0}},    {" 4 .5", {4, 5, 0, 0}},     {"-1.2.3.4", {0, 2, 3, 4}}};
  for (auto& c : cases) {
    int parts[4] = {9, 9, 9, 9};
    SplitVersion(c.Text, parts);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(parts[i], c.Parts[i]) << c.Text << " part " << i;
  }
}

TEST(TrpVersionInfo, TheProgramCarriesItsProjectVersion) {
  const std::string exe = ProgramDir() + "..\\Kestrune.exe";
  if (GetFileAttributesA(exe.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "Kestrune.exe is not built beside the tests";
  const TrpVersionInfo v(exe);
  EXPECT_EQ(v.FileVersion, "1.0.1.5");
  EXPECT_EQ(v.MajorVersion, 1);
  EXPECT_EQ(v.MinorVersion, 0);
  EXPECT_EQ(v.Release, 1);
  EXPECT_EQ(v.Build, 5);
  for (const std::string* item :
       {&v.CompanyName, &v.FileDescription, &v.InternalName, &v.LegalCopyright, &v.LegalTrademarks,
        &v.OriginalFilename, &v.ProductName, &v.ProductVersion, &v.Comments})
    EXPECT_FALSE(item->empty());
  EXPECT_EQ(v.OriginalFilename, "Kestrune.exe");
}

}  // namespace
