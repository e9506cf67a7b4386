#pragma once

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "util/EventLog.h"

// The event log's files in memory, shared with the test after the log has taken its handle on
// them. Broken fails every write, rename and removal, as a read-only disk does; a locked file is
// neither written, renamed nor removed, as one held open by another program; a closed gate holds
// every write until it opens, as a hung disk does; NextShortWrite cuts the next write short.
struct TMemoryLogDisk {
  std::mutex Lock;
  std::condition_variable Changed;
  std::map<std::string, std::string> Files;
  std::set<std::string> Locked;
  size_t NextShortWrite = std::string::npos;
  bool Broken = false;
  bool GateOpen = true;
  bool InAppend = false;

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
    Disk->InAppend = true;
    Disk->Changed.notify_all();
    Disk->Changed.wait(g, [&] { return Disk->GateOpen; });
    Disk->InAppend = false;
    if (Disk->Broken || Disk->Locked.count(path)) return 0;
    const size_t n = std::min(Disk->NextShortWrite, data.size());
    Disk->NextShortWrite = std::string::npos;
    Disk->Files[path].append(data.substr(0, n));
    return n;
  }
  bool Rename(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> g(Disk->Lock);
    auto it = Disk->Files.find(from);
    if (Disk->Broken || it == Disk->Files.end() || Disk->Locked.count(from) ||
        Disk->Files.count(to))
      return false;
    Disk->Files[to] = std::move(it->second);
    Disk->Files.erase(from);
    return true;
  }
  bool Remove(const std::string& path) override {
    std::lock_guard<std::mutex> g(Disk->Lock);
    if (Disk->Broken || Disk->Locked.count(path)) return false;
    Disk->Files.erase(path);
    return true;
  }

 private:
  std::shared_ptr<TMemoryLogDisk> Disk;
};
