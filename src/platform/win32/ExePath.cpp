#include "platform/win32/ExePath.h"

#include <windows.h>

#include "util/Helpers.h"

std::string ReadFullPath(const std::function<DWORD(char* buffer, DWORD size)>& read) {
  // The module-name functions truncate silently on some versions, so a result that fills the
  // buffer is taken as cut short and read again with a larger one.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = read(path.data(), size);
    if (length == 0) return "";
    if (length < size - 1) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 1 << 20) return "";
    path.resize(path.size() * 2);
  }
}

std::string ExecutablePath() {
  return ReadFullPath(
      [](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); });
}

std::string IniPath() {
  return IniPathOf(ExecutablePath());
}

char LocaleDecimalSeparator() {
  char buffer[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) <= 1) {
    return '.';
  }
  return buffer[0];
}
