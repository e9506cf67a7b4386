#pragma once

#include <windows.h>

#include <string>

#include "settings/FSettings.h"

// An open registry key, closed when it goes.
class TRegKey {
 public:
  TRegKey() = default;
  explicit TRegKey(HKEY handle) : Handle(handle) {}
  TRegKey(TRegKey&& other) noexcept : Handle(other.Release()) {}
  TRegKey& operator=(TRegKey&& other) noexcept;
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  ~TRegKey() { Close(); }

  // Results are the system's codes (ERROR_SUCCESS on success).
  static LONG Open(HKEY root, const std::string& path, REGSAM access, TRegKey& key);
  static LONG Create(HKEY root, const std::string& path, REGSAM access, TRegKey& key);

  HKEY Get() const { return Handle; }
  explicit operator bool() const { return Handle != nullptr; }
  HKEY Release();
  void Close();

 private:
  HKEY Handle = nullptr;
};

class TWinRunKey : public TRunKey {
 public:
  explicit TWinRunKey(TRegKey key) : Key(std::move(key)) {}
  bool ValueNames(std::vector<std::string>& names) override;
  bool ReadString(const std::string& name, std::string& data) override;
  bool WriteString(const std::string& name, const std::string& data) override;
  bool DeleteValue(const std::string& name) override;

 private:
  TRegKey Key;
};

// The Run keys of the real registry. The subkey is a parameter so that tests can work on a
// key of their own.
class TWinRunKeys : public TRunKeys {
 public:
  explicit TWinRunKeys(std::string subKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run")
      : SubKey(std::move(subKey)) {}
  std::unique_ptr<TRunKey> OpenCurrentUser() override;
  std::unique_ptr<TRunKey> OpenLocalMachine() override;

 private:
  std::string SubKey;
};
