#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

// The event log: one line per event in a text file beside the program, for whoever looks at the
// machine the morning after. Lines are queued by the caller and written by a thread of the log's
// own, so a slow, full or locked disk never holds up the caller; what cannot be queued is counted
// and reported in the file once writing works again. The file is rotated at a fixed size and a
// few old files are kept, so the log never grows past a known bound.

struct TLocalTime {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// The local date and time of the platform's wall clock.
TLocalTime LocalTimeNow();

enum class TLogKind { State, Device, Stall, Restart, Refused, PlugIn, Peer, Resources, Note };

// The word a line of this kind carries after its time: STATE, DEVICE, STALL, RESTART, REFUSED,
// PLUGIN, PEER, RES, LOG.
const char* LogKindWord(TLogKind kind);

inline constexpr size_t MaxLogText = 480;

// "2026-12-09 03:12:44.120 STATE WAIT output device stopped\n". Control characters in the text
// become blanks (one event stays one line) and text past MaxLogText characters is cut.
std::string FormatLogLine(const TLocalTime& time, TLogKind kind, std::string_view text);

// What the process uses, as the periodic RES line reports it; -1 where the platform could not
// tell.
struct TProcessMetrics {
  int64_t PrivateBytes = -1;
  int64_t Handles = -1;
  int64_t GdiObjects = -1;
  int64_t UserObjects = -1;
  int64_t Threads = -1;
  // Bytes of the live blocks of the C runtime's heap (the program's own allocations) and of the
  // process's other heaps (the system libraries'): allocations still held, told apart from the
  // pages the system has committed.
  int64_t HeapInUse = -1;
  int64_t SystemHeapInUse = -1;
};

// "private=12345678 handles=123 gdi=45 user=67 threads=5 heap=2345678 sysheap=345678", "?" for
// an unknown figure; the text of a TLogKind::Resources line.
std::string FormatProcessMetrics(const TProcessMetrics& metrics);

// The file operations the log needs. Paths are the platform's narrow (ANSI) paths.
class TLogFiles {
 public:
  virtual ~TLogFiles() = default;
  // Size in bytes; nothing when the file does not exist (or cannot be looked at).
  virtual std::optional<uint64_t> Size(const std::string& path) = 0;
  // Appends, creating the file when missing; returns how many bytes reached the file.
  virtual size_t Append(const std::string& path, std::string_view data) = 0;
  // Renames; `to` does not exist when this is called.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // True when the file is gone afterwards, also when there was none.
  virtual bool Remove(const std::string& path) = 0;
};

// The C runtime's files: each batch opens, appends and closes, so a file that was locked, moved
// or deleted meanwhile is simply opened (or created) again on the next batch.
std::unique_ptr<TLogFiles> MakeStdioLogFiles();

struct TEventLogOptions {
  // A file is rotated before it would grow past this; each file holds at most this many bytes.
  uint64_t MaxFileBytes = 1024 * 1024;
  // Old files kept: path.1 (newest) .. path.N (oldest).
  int KeptFiles = 3;
  // Lines waiting for the disk; a line that finds the queue full is dropped and counted.
  size_t QueueLines = 256;
  // After a failed write the writer waits this long before it tries again.
  std::chrono::milliseconds RetryAfter{5000};
  // How long the destructor waits for a writer stuck in the file system before leaving it.
  std::chrono::milliseconds StopWait{2000};
  // Called on the caller's thread for each line.
  std::function<TLocalTime()> Now = LocalTimeNow;
};

class TEventLog {
 public:
  // Starts disabled; the writer thread starts at once and sleeps until there is work.
  TEventLog(std::string path, std::unique_ptr<TLogFiles> files, TEventLogOptions options = {});
  ~TEventLog();
  TEventLog(const TEventLog&) = delete;
  TEventLog& operator=(const TEventLog&) = delete;

  // Lines written while disabled are ignored; lines already queued are still written.
  void SetEnabled(bool enabled);
  bool Enabled() const;

  // Takes the time, formats the line and queues it; never waits for the disk. Safe from any
  // thread, but it allocates: the relay thread hands its events to the main thread instead.
  void Write(TLogKind kind, std::string_view text);

  // Waits until every queued line is in the file; false when that did not happen in time.
  bool Flush(std::chrono::milliseconds timeout);

  // Lines that found the queue full. The file says so where they were lost, with a line
  // "LOG n lines dropped" at the time of the first of them, written before the next line that
  // could be queued (or at the end).
  uint64_t Dropped() const;
  // Lines that reached the file, those reports included.
  uint64_t Written() const;
  // Write attempts that failed (file not writable, rotation refused); each is retried.
  uint64_t Failures() const;

  const std::string& Path() const { return FilePath; }

 private:
  struct TShared;
  std::string FilePath;
  std::shared_ptr<TShared> Shared;
  std::thread Writer;
};
