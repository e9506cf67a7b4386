#include "settings/FSettings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "util/Helpers.h"

namespace {

const char* const SectionSetting = "Setting";
const char* const SectionPlugins = "Plugins";

template <typename T>
T Clamp(T value, T low, T high) {
  return value < low ? low : (value > high ? high : value);
}

class TReader {
 public:
  TReader(TProfile& profile, char decimalSeparator)
      : Profile(profile), DecimalSeparator(decimalSeparator) {}

  std::string String(const char* section, const std::string& key, const std::string& def) {
    std::string value = Profile.ReadString(section, key, def);
    if (value.size() > MaxProfileString) value.resize(MaxProfileString);
    return value;
  }
  int32_t Integer(const char* key, int32_t def) {
    return ParseProfileInt(String(SectionSetting, key, "")).value_or(def);
  }
  bool Boolean(const char* key, bool def) { return Integer(key, def ? 1 : 0) != 0; }
  double Double(const char* key, double def) {
    return ParseProfileDouble(String(SectionSetting, key, ""), DecimalSeparator).value_or(def);
  }

 private:
  TProfile& Profile;
  char DecimalSeparator;
};

// Reading drops the blanks around a value and one pair of quotes enclosing it; such a value is
// written inside quotes, so it reads back as it was saved.
std::string Quoted(const std::string& value) {
  const auto edge = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  const bool blankEdge = !value.empty() && (edge(value.front()) || edge(value.back()));
  const bool quotePair = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                         value.back() == value.front();
  return blankEdge || quotePair ? "\"" + value + "\"" : value;
}

class TWriter {
 public:
  TWriter(TProfile& profile, char decimalSeparator)
      : Profile(profile), DecimalSeparator(decimalSeparator) {}

  // Each write is skipped once one has failed, so the save stops at the failing write.
  void String(const char* section, const std::string& key, const std::string& value) {
    if (Ok) Ok = Profile.WriteString(section, key, Quoted(value));
  }
  void Integer(const char* key, int32_t value) {
    String(SectionSetting, key, std::to_string(value));
  }
  void Boolean(const char* key, bool value) { Integer(key, value ? 1 : 0); }
  void Double(const char* key, double value) {
    String(SectionSetting, key, FormatProfileDouble(value, DecimalSeparator));
  }
  void Erase(const char* section) {
    if (Ok) Ok = Profile.EraseSection(section);
  }
  bool Succeeded() const { return Ok; }

 private:
  TProfile& Profile;
  char DecimalSeparator;
  bool Ok = true;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<int32_t> ParseProfileInt(const std::string& text) {
  const std::string s = TrimText(text);
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    // Hexadecimal covers the full 32 bits: 0xFFFFFFFF is -1.
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(first + 2, last, value, 16);
    if (ec != std::errc() || end != last) return std::nullopt;
    return static_cast<int32_t>(value);
  }
  if (first != last && *first == '+') {
    ++first;
    if (first == last || !IsDigit(*first)) return std::nullopt;
  }
  if (first == last || (*first != '-' && !IsDigit(*first))) return std::nullopt;
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || end != last) return std::nullopt;
  return value;
}

std::optional<double> ParseProfileDouble(const std::string& text, char decimalSeparator) {
  std::string s = TrimText(text);
  if (!s.empty() && s[0] == '+') {
    s.erase(0, 1);
    if (!s.empty() && s[0] == '-') return std::nullopt;
  }
  // Only the locale's separator counts: "2.5" is no number where the separator is ','.
  if (decimalSeparator != '.' && s.find('.') != std::string::npos) return std::nullopt;
  for (char& c : s) {
    if (c == decimalSeparator) c = '.';
  }
  // from_chars would also take "inf" and "nan"; a setting needs a finite number.
  const size_t digitPos = !s.empty() && s[0] == '-' ? 1 : 0;
  if (digitPos >= s.size() || (!IsDigit(s[digitPos]) && s[digitPos] != '.')) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string FormatProfileDouble(double value, char decimalSeparator) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  std::string out(buffer);
  for (char& c : out) {
    if (c == '.') c = decimalSeparator;
  }
  return out;
}

int32_t LoadSettings(TSetting& setting, TProfile& profile, const TSettingsContext& context) {
  setting = TSetting{};
  TReader in(profile, context.DecimalSeparator);

  const int32_t loadedPID = in.Integer("PID", 0);
  setting.Source = TrimText(in.String(SectionSetting, "Source", ""));
  setting.Destination = TrimText(in.String(SectionSetting, "Destination", ""));
  setting.Buffer = Clamp(in.Integer("Buffer", 100), 20, 4000);
  setting.Volume = in.Integer("Volume", 100);
  setting.ToTray = in.Boolean("ToTray", false);
  setting.SourceMode = in.Boolean("SourceMode", false);
  setting.Blocksize = in.Integer("Blocksize", 2);
  setting.Freq = in.Integer("Freq", 1);
  if (setting.Freq < 0 || setting.Freq > 6) setting.Freq = 1;
  setting.Send = Clamp(in.Integer("Send", 0), 0, 3);
  // The field is 16 bits wide; a hand-edited value past that range is pinned to its ends.
  setting.Silence = static_cast<int16_t>(Clamp<int32_t>(in.Integer("Silence", -36),
                                                        std::numeric_limits<int16_t>::min(),
                                                        std::numeric_limits<int16_t>::max()));
  setting.SilenceTime = in.Double("SilenceTime", 5.0);
  setting.RestoreTime = in.Double("RestoreTime", 5.0);
  setting.Wait = in.Integer("Wait", 10);
  setting.Auto = in.Boolean("Auto", false);
  if (setting.SourceMode) setting.Auto = false;
  setting.FadeOut = in.Double("FadeOut", 0.0);
  setting.FadeIn = in.Double("FadeIn", 2.0);
  setting.EventLog = in.Boolean("EventLog", false);
  // A mode this version does not know runs the block stabilizer, the default.
  setting.StabMode = in.Integer("StabMode", 0) == 1 ? 1 : 0;
  setting.Path = in.String(SectionPlugins, "Path", context.ExeDir);

  if (context.ScanPlugins) context.ScanPlugins(setting.Path);

  for (int n = 1;; ++n) {
    std::string file = in.String(SectionPlugins, "File" + std::to_string(n), "");
    if (file.empty()) break;
    setting.PluginFiles.push_back(std::move(file));
  }
  return loadedPID;
}

bool SaveSettings(const TSetting& setting, TProfile& profile, char decimalSeparator) {
  TWriter out(profile, decimalSeparator);
  out.Integer("PID", setting.PID);
  out.String(SectionSetting, "Source", TrimText(setting.Source));
  out.String(SectionSetting, "Destination", TrimText(setting.Destination));
  out.Integer("Buffer", setting.Buffer);
  out.Integer("Volume", setting.Volume);
  out.Boolean("ToTray", setting.ToTray);
  out.Boolean("SourceMode", setting.SourceMode);
  out.Integer("Blocksize", setting.Blocksize);
  out.Integer("Freq", setting.Freq);
  out.Integer("Send", setting.Send);
  out.Integer("Silence", setting.Silence);
  out.Double("SilenceTime", setting.SilenceTime);
  out.Double("RestoreTime", setting.RestoreTime);
  out.Integer("Wait", setting.Wait);
  out.Boolean("Auto", setting.Auto);
  out.Double("FadeOut", setting.FadeOut);
  out.Double("FadeIn", setting.FadeIn);
  out.Boolean("EventLog", setting.EventLog);
  out.Integer("StabMode", setting.StabMode);

  out.Erase(SectionPlugins);
  out.String(SectionPlugins, "Path", setting.Path);
  for (size_t i = 0; i < setting.PluginFiles.size(); ++i) {
    out.String(SectionPlugins, "File" + std::to_string(i + 1), setting.PluginFiles[i]);
  }
  // A hand-edited file may hold "Plugins" twice, and erasing takes only the first: the writes
  // above then went into the second, whose own entries would follow the list. An empty entry
  // right after it ends the list where loading stops.
  const std::string after = "File" + std::to_string(setting.PluginFiles.size() + 1);
  if (out.Succeeded() && !profile.ReadString(SectionPlugins, after, "").empty()) {
    out.String(SectionPlugins, after, "");
  }
  return out.Succeeded();
}

std::optional<int16_t> PIDFromLoaded(int32_t loadedPID) {
  if (loadedPID < std::numeric_limits<int16_t>::min() ||
      loadedPID > std::numeric_limits<int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int16_t>(loadedPID);
}

std::string RangeErrorText() {
  return "Range check error";
}

std::string WriteErrorText(const std::string& iniPath) {
  return "Unable to write to " + iniPath;
}

namespace {

// Position of the last path delimiter ('\' or ':'), or npos.

}  // namespace

namespace {

// Runs found in the key whose string data is the path, case ignored.
std::vector<std::string> MatchingValues(TRunKey& key, const std::string& exePath, bool firstOnly) {
  std::vector<std::string> found;
  std::vector<std::string> names;
  if (!key.ValueNames(names)) return found;
  for (const std::string& name : names) {
    std::string data;
    if (!key.ReadString(name, data)) continue;  // not a string, or gone meanwhile
    if (SameText(data, exePath)) {
      found.push_back(name);
      if (firstOnly) break;
    }
  }
  return found;
}

}  // namespace

bool IsAutostart(TRunKeys& keys, const std::string& exePath) {
  if (auto machine = keys.OpenLocalMachine()) {
    if (!MatchingValues(*machine, exePath, true).empty()) return true;
  }
  if (auto user = keys.OpenCurrentUser()) {
    if (!MatchingValues(*user, exePath, true).empty()) return true;
  }
  return false;
}

bool SetAutostart(TRunKeys& keys, const std::string& exePath, bool enable) {
  auto user = keys.OpenCurrentUser();
  if (!user) return false;
  if (!enable) {
    bool ok = true;
    for (const std::string& name : MatchingValues(*user, exePath, false)) {
      ok = user->DeleteValue(name) && ok;
    }
    return ok;
  }
  if (!MatchingValues(*user, exePath, true).empty()) return true;

  std::vector<std::string> names;
  if (!user->ValueNames(names)) return false;
  auto taken = [&names](const std::string& candidate) {
    for (const std::string& name : names) {
      if (SameText(name, candidate)) return true;
    }
    return false;
  };
  std::string name = AutostartName;
  for (int counter = 1; taken(name); ++counter) {
    name = AutostartName + std::to_string(counter);
  }
  return user->WriteString(name, exePath);
}
