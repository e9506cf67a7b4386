#include "platform/win32/Registry.h"

#include <utility>

TRegKey& TRegKey::operator=(TRegKey&& other) noexcept {
  if (this != &other) {
    Close();
    Handle = other.Release();
  }
  return *this;
}

LONG TRegKey::Open(HKEY root, const std::string& path, REGSAM access, TRegKey& key) {
  HKEY handle = nullptr;
  const LONG result = RegOpenKeyExA(root, path.c_str(), 0, access, &handle);
  key = TRegKey(result == ERROR_SUCCESS ? handle : nullptr);
  return result;
}

LONG TRegKey::Create(HKEY root, const std::string& path, REGSAM access, TRegKey& key) {
  HKEY handle = nullptr;
  const LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      access, nullptr, &handle, nullptr);
  key = TRegKey(result == ERROR_SUCCESS ? handle : nullptr);
  return result;
}

HKEY TRegKey::Release() {
  return std::exchange(Handle, nullptr);
}

void TRegKey::Close() {
  if (Handle) RegCloseKey(std::exchange(Handle, nullptr));
}

bool TWinRunKey::ValueNames(std::vector<std::string>& names) {
  names.clear();
  // A value name has at most 16383 characters.
  std::string name(16384, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG result =
        RegEnumValueA(Key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return true;
    if (result != ERROR_SUCCESS) return false;
    names.emplace_back(name.data(), length);
  }
}

bool TWinRunKey::ReadString(const std::string& name, std::string& data) {
  // The value may grow between the size query and the read: ask again until it fits.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(Key.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::string buffer(size + 1, '\0');
    DWORD got = size;
    const LONG result = RegQueryValueExA(Key.Get(), name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // Stored data need not end in a terminator, or may carry several.
    buffer.resize(got);
    while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
    data = std::move(buffer);
    return true;
  }
  return false;
}

bool TWinRunKey::WriteString(const std::string& name, const std::string& data) {
  return RegSetValueExA(Key.Get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

bool TWinRunKey::DeleteValue(const std::string& name) {
  return RegDeleteValueA(Key.Get(), name.c_str()) == ERROR_SUCCESS;
}

std::unique_ptr<TRunKey> TWinRunKeys::OpenCurrentUser() {
  TRegKey key;
  if (TRegKey::Create(HKEY_CURRENT_USER, SubKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<TWinRunKey>(std::move(key));
}

std::unique_ptr<TRunKey> TWinRunKeys::OpenLocalMachine() {
  // Only read here: asking for full access would fail for every user without admin rights
  // and hide a machine-wide entry from them.
  TRegKey key;
  if (TRegKey::Open(HKEY_LOCAL_MACHINE, SubKey, KEY_READ, key) != ERROR_SUCCESS) return nullptr;
  return std::make_unique<TWinRunKey>(std::move(key));
}
