#include "util/Helpers.h"

#include <cstdlib>
#include <filesystem>

namespace {

// Windows-1251: a-z, then а-я (0xE0-0xFF) and ё (0xB8); '0' maps to itself.
unsigned char UpperByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 0xE0) return static_cast<unsigned char>(c - 0x20);
  if (c == 0xB8) return 0xA8;
  return c;
}

}  // namespace

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string UpCaseStr(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  return out;
}

void FreeBlockList(std::unique_ptr<TBlockList>& list, bool destroy) {
  if (!list) return;
  for (auto it = list->rbegin(); it != list->rend(); ++it) std::free(*it);
  list->clear();
  if (destroy) list.reset();
}

bool DirExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(path), ec);
}

std::string TrimText(const std::string& text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpCaseStr(a) == UpCaseStr(b);
}

namespace {

size_t LastDelimiter(const std::string& path) {
  return path.find_last_of("\\:");
}

// The path with its extension replaced (or, without one, added).
std::string WithExtension(const std::string& path, const char* extension) {
  const size_t dot = path.find_last_of('.');
  const size_t delimiter = LastDelimiter(path);
  if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) {
    return path + extension;
  }
  return path.substr(0, dot) + extension;
}

}  // namespace

std::string IniPathOf(const std::string& exePath) {
  return WithExtension(exePath, ".ini");
}

std::string LogPathOf(const std::string& exePath) {
  return WithExtension(exePath, ".log");
}

std::string ExeDirOf(const std::string& exePath) {
  const size_t delimiter = LastDelimiter(exePath);
  if (delimiter == std::string::npos) return "";
  // "C:\relay.exe": "C:" alone would mean the drive's current directory, so the root stays.
  if (exePath[delimiter] == '\\' && delimiter > 0 && exePath[delimiter - 1] != ':' &&
      exePath[delimiter - 1] != '\\') {
    return exePath.substr(0, delimiter);
  }
  return exePath.substr(0, delimiter + 1);
}
