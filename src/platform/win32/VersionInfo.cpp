#include "platform/win32/VersionInfo.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

std::string ModuleFileName() {
  // Paths longer than MAX_PATH exist: grow until the name fits.
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

// Decimal digits, blanks around them allowed; anything else (or too large) is 0.
int Number(const std::string& piece) {
  const size_t first = piece.find_first_not_of(' ');
  const size_t last = piece.find_last_not_of(' ');
  if (first == std::string::npos) return 0;
  long long value = 0;
  for (size_t i = first; i <= last; ++i) {
    const char c = piece[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return 0;
  }
  return static_cast<int>(value);
}

}  // namespace

void SplitVersion(const std::string& text, int (&parts)[4]) {
  for (int& part : parts) part = 0;
  size_t start = 0;
  for (int& part : parts) {
    if (start > text.size()) break;
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) dot = text.size();
    part = Number(text.substr(start, dot - start));
    start = dot + 1;
  }
}

TrpVersionInfo::TrpVersionInfo() {
  Read(ModuleFileName());
}

TrpVersionInfo::TrpVersionInfo(const std::string& fileName) {
  Read(fileName);
}

void TrpVersionInfo::Read(const std::string& fileName) {
  std::string* const items[] = {&CompanyName,    &FileDescription, &FileVersion,      &InternalName,
                                &LegalCopyright, &LegalTrademarks, &OriginalFilename, &ProductName,
                                &ProductVersion, &Comments};
  const char* const names[] = {
      "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
      "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};
  DWORD handle = 0;
  const DWORD size = fileName.empty() ? 0 : GetFileVersionInfoSizeA(fileName.c_str(), &handle);
  if (size > 0) {
    std::vector<char> data(size);
    if (GetFileVersionInfoA(fileName.c_str(), 0, size, data.data())) {
      for (size_t i = 0; i < std::size(names); ++i) {
        std::string key = std::string("\\StringFileInfo\\041904E3\\") + names[i];
        void* value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(data.data(), key.c_str(), &value, &length) && value && length > 0) {
          // The length may or may not count the terminating zero.
          const char* text = static_cast<const char*>(value);
          *items[i] = std::string(text, strnlen(text, length));
        }
      }
    }
  }
  int parts[4];
  SplitVersion(FileVersion, parts);
  MajorVersion = parts[0];
  MinorVersion = parts[1];
  Release = parts[2];
  Build = parts[3];
}
