#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "util/Clock.h"
#include "util/EventLog.h"

// The event log's files in memory, shared with the test. Broken fails every write, as a
// read-only disk does; a closed gate holds every write until it opens, as a hung disk does.
struct TMemoryLogDisk {
  std::mutex Lock;
  std::condition_variable Changed;
  std::map<std::string, std::string> Files;
  bool Broken = false;
  bool GateOpen = true;

  std::string Text(const std::string& path) {
    std::lock_guard<std::mutex> g(Lock);
    auto it = Files.find(path);
    return it == Files.end() ? "" : it->second;
  }
  void SetGate(bool open) {
    std::lock_guard<std::mutex> g(Lock);
    GateOpen = open;
    Changed.notify_all();
  }
};

class TMemoryLogFiles : public TLogFiles {
 public:
  explicit TMemoryLogFiles(std::shared_ptr<TMemoryLogDisk> disk) : Disk(std::move(disk)) {}
  std::optional<uint64_t> Size(const std::string& path) override {
    std::lock_guard<std::mutex> g(Disk->Lock);
    auto it = Disk->Files.find(path);
    if (it == Disk->Files.end()) return std::nullopt;
    return it->second.size();
  }
  size_t Append(const std::string& path, std::string_view data) override {
    std::unique_lock<std::mutex> g(Disk->Lock);
    Disk->Changed.wait(g, [&] { return Disk->GateOpen; });
    if (Disk->Broken) return 0;
    Disk->Files[path].append(data);
    return data.size();
  }
  bool Rename(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> g(Disk->Lock);
    auto it = Disk->Files.find(from);
    if (Disk->Broken || it == Disk->Files.end()) return false;
    Disk->Files[to] = std::move(it->second);
    Disk->Files.erase(from);
    return true;
  }
  bool Remove(const std::string& path) override {
    std::lock_guard<std::mutex> g(Disk->Lock);
    if (Disk->Broken) return false;
    Disk->Files.erase(path);
    return true;
  }

 private:
  std::shared_ptr<TMemoryLogDisk> Disk;
};

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
