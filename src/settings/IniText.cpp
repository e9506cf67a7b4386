#include "settings/IniText.h"

#include <cstdint>
#include <cstdio>

#include "util/Helpers.h"

namespace {

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || (u >= 0x1C && u <= 0x20);
}

std::string TrimBlanks(const std::string& text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// Names and values are C strings to the profile functions: they end at a NUL.
std::string UpToNul(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

// The ANSI functions see a Unicode file through the code page: letters of Latin-1 keep their
// byte, every other character becomes '?'.
void AppendAnsi(std::string& out, uint32_t codePoint) {
  out += codePoint <= 0xFF ? static_cast<char>(codePoint) : '?';
}

std::string FromUtf16(const std::string& bytes, size_t start, bool bigEndian) {
  std::string out;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    AppendAnsi(out, bigEndian ? (a << 8 | b) : (b << 8 | a));
  }
  return out;
}

std::string FromUtf8(const std::string& bytes, size_t start) {
  std::string out;
  size_t i = start;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int extra = lead < 0x80                   ? 0
                      : lead >= 0xC2 && lead < 0xE0 ? 1
                      : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xF0 && lead < 0xF5 ? 3
                                                    : -1;
    uint32_t codePoint = extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
    int taken = 0;
    while (extra > 0 && taken < extra && i + 1 + taken < bytes.size() &&
           (static_cast<unsigned char>(bytes[i + 1 + taken]) & 0xC0) == 0x80) {
      codePoint = codePoint << 6 | (static_cast<unsigned char>(bytes[i + 1 + taken]) & 0x3F);
      ++taken;
    }
    if (extra == 0) {
      out += static_cast<char>(lead);
    } else {
      // A broken sequence is one replacement character, as the system's conversion gives.
      AppendAnsi(out, extra > 0 && taken == extra ? codePoint : 0xFFFD);
    }
    i += 1 + taken;
  }
  return out;
}

std::string ToUtf8(const std::string& ansi) {
  std::string out;
  for (char c : ansi) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | u >> 6);
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

std::string ToUtf16(const std::string& ansi, bool bigEndian) {
  std::string out;
  for (char c : ansi) {
    const auto u = static_cast<unsigned char>(c);
    out += bigEndian ? '\0' : static_cast<char>(u);
    out += bigEndian ? static_cast<char>(u) : '\0';
  }
  return out;
}

const char* const Utf8Mark = "\xEF\xBB\xBF";

}  // namespace

TIniTextProfile::TIniTextProfile(const std::string& bytes) {
  std::string text;
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
    Coding = TCoding::Utf16Le;
    text = FromUtf16(bytes, 2, false);
  } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
    Coding = TCoding::Utf16Be;
    text = FromUtf16(bytes, 2, true);
  } else if (bytes.compare(0, 3, Utf8Mark) == 0) {
    Coding = TCoding::Utf8;
    text = FromUtf8(bytes, 3);
  } else {
    text = bytes;
  }

  Sections.push_back(TSection{});
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = TrimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    const size_t close = line.rfind(']');
    if (line[0] == '[' && close != std::string::npos) {
      TSection section;
      section.HasHeader = true;
      section.Header = line;
      section.Name = UpCaseStr(UpToNul(TrimBlanks(line.substr(1, close - 1))));
      Sections.push_back(std::move(section));
      continue;
    }
    TEntry entry;
    entry.Line = line;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      entry.Key = UpToNul(line);
    } else {
      entry.Key = UpToNul(TrimBlanks(line.substr(0, equals)));
      entry.Value = UpToNul(TrimBlanks(line.substr(equals + 1)));
      entry.HasValue = true;
    }
    entry.UpperKey = UpCaseStr(entry.Key);
    Sections.back().Entries.push_back(std::move(entry));
  }
}

TIniTextProfile::TSection* TIniTextProfile::Find(const std::string& section) {
  const std::string name = UpCaseStr(section);
  for (TSection& s : Sections) {
    if (s.HasHeader && s.Name == name) return &s;
  }
  return nullptr;
}

TIniTextProfile::TEntry* TIniTextProfile::FindKey(TSection& section, const std::string& key) {
  const std::string upper = UpCaseStr(key);
  for (TEntry& e : section.Entries) {
    if (e.UpperKey == upper) return &e;
  }
  return nullptr;
}

std::string TIniTextProfile::ReadString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue) {
  TSection* s = Find(section);
  TEntry* e = s ? FindKey(*s, key) : nullptr;
  if (!e || !e->HasValue) return defaultValue;
  const std::string& v = e->Value;
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

bool TIniTextProfile::WriteString(const std::string& section, const std::string& key,
                                  const std::string& value) {
  TSection* s = Find(section);
  if (!s) {
    TSection added;
    added.HasHeader = true;
    added.Header = "[" + section + "]";
    added.Name = UpCaseStr(section);
    Sections.push_back(std::move(added));
    s = &Sections.back();
  }
  TEntry* e = FindKey(*s, key);
  if (!e) {
    s->Entries.push_back(TEntry{});
    e = &s->Entries.back();
    e->Key = key;
    e->UpperKey = UpCaseStr(key);
  }
  e->Value = value;
  e->HasValue = true;
  e->Line = e->Key + "=" + value;
  return true;
}

bool TIniTextProfile::EraseSection(const std::string& section) {
  const std::string name = UpCaseStr(section);
  for (auto it = Sections.begin(); it != Sections.end(); ++it) {
    if (it->HasHeader && it->Name == name) {
      Sections.erase(it);
      break;
    }
  }
  return true;
}

std::string TIniTextProfile::Text() const {
  std::string text;
  for (const TSection& s : Sections) {
    if (s.HasHeader) text += s.Header + "\r\n";
    for (const TEntry& e : s.Entries) text += e.Line + "\r\n";
  }
  switch (Coding) {
    case TCoding::Utf8:
      return Utf8Mark + ToUtf8(text);
    case TCoding::Utf16Le:
      return "\xFF\xFE" + ToUtf16(text, false);
    case TCoding::Utf16Be:
      return "\xFE\xFF" + ToUtf16(text, true);
    case TCoding::Ansi:
      break;
  }
  // A first line that begins with a mark's bytes must not be taken for the mark when read.
  if (text.compare(0, 3, Utf8Mark) == 0 || text.compare(0, 2, "\xFF\xFE") == 0 ||
      text.compare(0, 2, "\xFE\xFF") == 0) {
    text = "\r\n" + text;
  }
  return text;
}

TIniTextProfile TIniFileProfile::Load() const {
  std::string text;
  if (std::FILE* file = std::fopen(FileName.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
  }
  return TIniTextProfile(text);
}

bool TIniFileProfile::Store(const TIniTextProfile& profile) const {
  const std::string text = profile.Text();
  std::FILE* file = std::fopen(FileName.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

std::string TIniFileProfile::ReadString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue) {
  return Load().ReadString(section, key, defaultValue);
}

bool TIniFileProfile::WriteString(const std::string& section, const std::string& key,
                                  const std::string& value) {
  TIniTextProfile profile = Load();
  profile.WriteString(section, key, value);
  return Store(profile);
}

bool TIniFileProfile::EraseSection(const std::string& section) {
  TIniTextProfile profile = Load();
  profile.EraseSection(section);
  return Store(profile);
}
