#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The one program-wide settings record; fields are named after their INI keys.
struct TSetting {
  int16_t PID = 0;
  std::string Destination;
  std::string Source;
  int32_t Buffer = 0;     // ms, 20..4000
  int32_t Volume = 0;     // percent, the volume slider's start value
  int32_t Blocksize = 0;  // 0..3: Small, Medium, Large, Hugo
  int32_t Send = 0;       // 0 recorded, 1 after plug-ins, 2 played, 3 as heard
  bool ToTray = false;
  bool Auto = false;
  bool SourceMode = false;
  int32_t Freq = 0;     // position in SampleRates
  int16_t Silence = 0;  // dB
  double SilenceTime = 0;
  double RestoreTime = 0;
  double FadeOut = 0;
  double FadeIn = 0;
  int32_t Wait = 0;       // s
  bool EventLog = false;  // write the event log beside the program
  int32_t StabMode = 0;   // stabilizer: 0 block (whole frames), 1 smooth (resampling)
  std::string Path;
  std::vector<std::string> PluginFiles;
};

inline constexpr std::array<int32_t, 7> SampleRates = {32000, 44100,  48000, 88200,
                                                       96000, 176400, 192000};
inline constexpr std::array<const char*, 4> BlockSizeNames = {"Small", "Medium", "Large", "Hugo"};

// The rate of a Freq position; positions outside the table give the default 44100 Hz.
inline int32_t RateOf(int32_t freq) {
  return freq >= 0 && freq < static_cast<int32_t>(SampleRates.size()) ? SampleRates[freq] : 44100;
}
