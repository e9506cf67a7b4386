#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "unit/eventlog/MemoryLogFiles.h"
#include "util/Clock.h"
#include "util/EventLog.h"

// The log's time from a manual clock: its tick as the time of a day, so a test can read when a
// line was written ("00:01:02.340" is tick 62340).
inline std::function<TLocalTime()> LocalTimeOf(TManualClock& clock) {
  return [&clock] {
    const uint64_t t = clock.TickCount64();
    return TLocalTime{2026,
                      12,
                      9,
                      static_cast<int>(t / 3600000 % 24),
                      static_cast<int>(t / 60000 % 60),
                      static_cast<int>(t / 1000 % 60),
                      static_cast<int>(t % 1000)};
  };
}

// The lines of a log text without their time: "STATE WAIT play requested".
inline std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.size() > 24 ? line.substr(24) : line);
  }
  return lines;
}
