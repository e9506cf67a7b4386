#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/Setting.h"

// Access to the INI file. Reads never fail: a missing file, section or key gives the default.
class TProfile {
 public:
  virtual ~TProfile() = default;
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) = 0;
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;
  virtual bool EraseSection(const std::string& section) = 0;
};

inline constexpr size_t MaxProfileString = 2047;

// Value forms of the INI file.
std::optional<int32_t> ParseProfileInt(const std::string& text);
std::optional<double> ParseProfileDouble(const std::string& text, char decimalSeparator);
std::string FormatProfileDouble(double value, char decimalSeparator);

// What loading needs besides the file: the locale's decimal separator, the executable's
// directory (the default plug-in path) and, when a plug-in host exists, its directory scan.
struct TSettingsContext {
  char DecimalSeparator = '.';
  std::string ExeDir;
  std::function<void(const std::string& path)> ScanPlugins;
};

// Fills the whole record from the profile; its previous contents are dropped. Returns the PID
// as stored (32 bits): the record's 16-bit PID is left 0, see PIDFromLoaded.
int32_t LoadSettings(TSetting& setting, TProfile& profile, const TSettingsContext& context);

// Writes the record. Stops at the first write that fails and returns false; the caller then
// reports WriteErrorText of the INI path.
bool SaveSettings(const TSetting& setting, TProfile& profile, char decimalSeparator);

// The loaded PID as the 16-bit field, or nothing when it lies outside -32768..32767
// (the caller reports RangeErrorText and keeps PID at 0).
std::optional<int16_t> PIDFromLoaded(int32_t loadedPID);
std::string RangeErrorText();

std::string WriteErrorText(const std::string& iniPath);

// An open Run key. Names are listed whole before any is deleted, so deleting while walking
// the list is safe.
class TRunKey {
 public:
  virtual ~TRunKey() = default;
  virtual bool ValueNames(std::vector<std::string>& names) = 0;
  // False for a missing value and for data that is not a string.
  virtual bool ReadString(const std::string& name, std::string& data) = 0;
  virtual bool WriteString(const std::string& name, const std::string& data) = 0;
  virtual bool DeleteValue(const std::string& name) = 0;
};

class TRunKeys {
 public:
  virtual ~TRunKeys() = default;
  // The current user's Run key, created when missing; null when it cannot be opened.
  virtual std::unique_ptr<TRunKey> OpenCurrentUser() = 0;
  // The machine's Run key, never created; null when missing or not accessible.
  virtual std::unique_ptr<TRunKey> OpenLocalMachine() = 0;
};

inline constexpr const char* AutostartName = "OVKestrune";

bool IsAutostart(TRunKeys& keys, const std::string& exePath);
// Returns false when the current user's key cannot be opened or a write or delete fails.
bool SetAutostart(TRunKeys& keys, const std::string& exePath, bool enable);
