#pragma once

// What must hold for any INI text, however broken: shared by the fuzzer and the corpus test.

#include <cmath>
#include <sstream>
#include <string>

#include "settings/FSettings.h"
#include "settings/IniText.h"

namespace settings_oracle {

inline const char* const ExeDir = "C:\\Program Files\\Kestrune";

inline bool Trimmed(const std::string& s) {
  return s.empty() ||
         (static_cast<unsigned char>(s.front()) > 32 && static_cast<unsigned char>(s.back()) > 32);
}

// The ranges the rest of the program relies on after loading.
inline std::string CheckRanges(const TSetting& s, size_t textSize) {
  std::ostringstream bad;
  if (s.Buffer < 20 || s.Buffer > 4000) bad << "Buffer " << s.Buffer << "; ";
  if (s.Freq < 0 || s.Freq > 6) bad << "Freq " << s.Freq << "; ";
  if (s.Send < 0 || s.Send > 3) bad << "Send " << s.Send << "; ";
  if (s.SourceMode && s.Auto) bad << "Auto with SourceMode; ";
  if (!Trimmed(s.Source) || !Trimmed(s.Destination)) bad << "device name not trimmed; ";
  for (double d : {s.SilenceTime, s.RestoreTime, s.FadeIn, s.FadeOut}) {
    if (!std::isfinite(d)) bad << "non-finite time; ";
  }
  if (s.Source.size() > MaxProfileString || s.Destination.size() > MaxProfileString ||
      s.Path.size() > MaxProfileString) {
    bad << "string too long; ";
  }
  // Every entry comes from a line of its own.
  if (s.PluginFiles.size() > textSize / 7 + 1) bad << "more plug-ins than lines; ";
  for (const std::string& file : s.PluginFiles) {
    if (file.empty() || file.size() > MaxProfileString) bad << "bad plug-in entry; ";
  }
  return bad.str();
}

inline std::string Differences(const TSetting& a, const TSetting& b) {
  std::ostringstream d;
  auto field = [&d](const char* name, const auto& x, const auto& y) {
    if (!(x == y)) d << name << " '" << x << "' became '" << y << "'; ";
  };
  // The file keeps 15 significant digits: a time typed with more is rounded by the first save.
  auto time = [&d](const char* name, double x, double y) {
    if (FormatProfileDouble(x, '.') != FormatProfileDouble(y, '.')) {
      d << name << " '" << FormatProfileDouble(x, '.') << "' became '"
        << FormatProfileDouble(y, '.') << "'; ";
    }
  };
  field("PID", a.PID, b.PID);
  field("Source", a.Source, b.Source);
  field("Destination", a.Destination, b.Destination);
  field("Buffer", a.Buffer, b.Buffer);
  field("Volume", a.Volume, b.Volume);
  field("Blocksize", a.Blocksize, b.Blocksize);
  field("Send", a.Send, b.Send);
  field("ToTray", a.ToTray, b.ToTray);
  field("Auto", a.Auto, b.Auto);
  field("SourceMode", a.SourceMode, b.SourceMode);
  field("Freq", a.Freq, b.Freq);
  field("Silence", a.Silence, b.Silence);
  time("SilenceTime", a.SilenceTime, b.SilenceTime);
  time("RestoreTime", a.RestoreTime, b.RestoreTime);
  time("FadeOut", a.FadeOut, b.FadeOut);
  time("FadeIn", a.FadeIn, b.FadeIn);
  field("Wait", a.Wait, b.Wait);
  field("EventLog", a.EventLog, b.EventLog);
  field("Path", a.Path, b.Path);
  field("plug-in count", a.PluginFiles.size(), b.PluginFiles.size());
  for (size_t i = 0; i < a.PluginFiles.size() && i < b.PluginFiles.size(); ++i) {
    field("plug-in", a.PluginFiles[i], b.PluginFiles[i]);
  }
  return d.str();
}

// Loads the text as the program does at start; then saves into the same file (as the settings
// dialog does) and loads again, twice: every load must give what the first one gave, and saving
// what a saved file holds must not make it grow. Returns what broke, or nothing.
inline std::string Check(const std::string& text, char separator) {
  TSettingsContext context;
  context.DecimalSeparator = separator;
  context.ExeDir = ExeDir;
  TIniTextProfile ini(text);
  TSetting first;
  const int32_t loadedPID = LoadSettings(first, ini, context);
  std::string bad = CheckRanges(first, text.size());
  if (!bad.empty()) return "after loading: " + bad;
  first.PID = PIDFromLoaded(loadedPID).value_or(0);
  if (!SaveSettings(first, ini, separator)) return "saving failed";

  std::string saved = ini.Text();
  for (int round = 1; round <= 2; ++round) {
    TIniTextProfile file(saved);
    TSetting again;
    again.PID = static_cast<int16_t>(LoadSettings(again, file, context));
    bad = Differences(first, again);
    if (!bad.empty()) return "saved and loaded again (" + std::to_string(round) + "): " + bad;
    if (!SaveSettings(again, file, separator)) return "saving again failed";
    if (round == 2 && file.Text().size() > saved.size()) return "the file grew on a save";
    saved = file.Text();
  }
  return "";
}

}  // namespace settings_oracle
