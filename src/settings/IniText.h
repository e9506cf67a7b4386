#pragma once

#include <string>
#include <vector>

#include "settings/FSettings.h"

// An INI text read and changed the way the system's profile functions treat a file, so that
// settings code can run on any text without Windows (tests, the fuzzer):
// - a text that starts with a byte order mark is UTF-8 or UTF-16 (LE or BE) and is seen as the
//   ANSI functions see it (Latin-1 letters kept, other characters '?'); otherwise it is ANSI;
// - lines end at CR or LF; blanks (and Ctrl-Z) around a line are ignored;
// - "[name]" starts a section (the name runs to the last ']' of the line, blanks around it
//   ignored); a line "key=value" holds a key, blanks around the key and the value removed;
//   other lines hold no value;
// - section and key names ignore letter case; only the first section of a name is looked at,
//   and in it the first key of a name;
// - a value enclosed in a pair of the same quote (' or ") is read without them; a value ends at
//   a NUL character;
// - a write replaces the value of the first such key or adds the key at the end of its section
//   (the section at the end of the text); erasing removes the first section of that name.
class TIniTextProfile : public TProfile {
 public:
  explicit TIniTextProfile(const std::string& bytes = "");

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool EraseSection(const std::string& section) override;

  // The file as the profile functions would write it back, in its coding: CR LF line ends,
  // lines that were not changed as they were read (without the blanks around them), blank
  // lines left out.
  std::string Text() const;

 private:
  struct TEntry {
    std::string Line;  // the line as read (trimmed), or as written
    std::string Key;
    std::string UpperKey;  // for comparing
    std::string Value;
    bool HasValue = false;
  };
  struct TSection {
    bool HasHeader = false;  // the lines before the first header have none
    std::string Header;      // the header line as read
    std::string Name;        // upper case, for comparing
    std::vector<TEntry> Entries;
  };

  TSection* Find(const std::string& section);
  static TEntry* FindKey(TSection& section, const std::string& key);

  std::vector<TSection> Sections;
  // A file's coding is kept when it is written back, as the profile functions keep it.
  enum class TCoding { Ansi, Utf8, Utf16Le, Utf16Be };
  TCoding Coding = TCoding::Ansi;
};

// An INI file on disk through TIniTextProfile: each read reads the file, each change reads it,
// changes it and writes it whole in place, as the profile functions do. A file that cannot be
// written fails the change and is left as it was.
class TIniFileProfile : public TProfile {
 public:
  explicit TIniFileProfile(std::string fileName) : FileName(std::move(fileName)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
  bool EraseSection(const std::string& section) override;

  const std::string& Path() const { return FileName; }

 private:
  TIniTextProfile Load() const;
  bool Store(const TIniTextProfile& profile) const;

  std::string FileName;
};
