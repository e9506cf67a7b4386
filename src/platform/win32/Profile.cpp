#include "platform/win32/Profile.h"

#include <windows.h>

std::string TWinProfile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) {
  std::string buffer(MaxProfileString + 1, '\0');
  const DWORD length =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                               static_cast<DWORD>(buffer.size()), FileName.c_str());
  buffer.resize(length);
  return buffer;
}

bool TWinProfile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    FileName.c_str()) != FALSE;
}

bool TWinProfile::EraseSection(const std::string& section) {
  return WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, FileName.c_str()) != FALSE;
}
