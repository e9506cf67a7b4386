#pragma once

#include <string>

// The version resource of an executable file, read once when the reader is created: the ten
// standard strings of the block "\StringFileInfo\041904E3\" (empty when missing) and the
// "FileVersion" string split at its dots into four numbers.
class TrpVersionInfo {
 public:
  // The program's own file.
  TrpVersionInfo();
  explicit TrpVersionInfo(const std::string& fileName);

  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string LegalTrademarks;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;

  // From FileVersion: "1.0.1.5" gives 1, 0, 1, 5. A missing or non-numeric part gives 0.
  int MajorVersion = 0;
  int MinorVersion = 0;
  int Release = 0;
  int Build = 0;

 private:
  void Read(const std::string& fileName);
};

// Splits a dotted version text into its first four numbers; see TrpVersionInfo.
void SplitVersion(const std::string& text, int (&parts)[4]);
