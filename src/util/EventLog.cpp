#include "util/EventLog.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm": the fixed-width start of every line.
constexpr size_t TimeLength = 23;

std::string FormatTime(const TLocalTime& t) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                std::clamp(t.Year, 0, 9999), std::clamp(t.Month, 0, 99), std::clamp(t.Day, 0, 99),
                std::clamp(t.Hour, 0, 99), std::clamp(t.Minute, 0, 99), std::clamp(t.Second, 0, 99),
                std::clamp(t.Millisecond, 0, 999));
  return buffer;
}

class TStdioLogFiles : public TLogFiles {
 public:
  std::optional<uint64_t> Size(const std::string& path) override {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0) return std::nullopt;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
#endif
    // A directory of that name is no log file: it is neither rotated nor written.
    if ((st.st_mode & S_IFMT) != S_IFREG) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

  size_t Append(const std::string& path, std::string_view data) override {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return 0;
    // Unbuffered, so the count fwrite returns is what the system took.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const size_t written = std::fwrite(data.data(), 1, data.size(), file);
    std::fclose(file);
    return written;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return std::rename(from.c_str(), to.c_str()) == 0;
  }

  bool Remove(const std::string& path) override {
    if (std::remove(path.c_str()) == 0) return true;
    return errno == ENOENT;
  }
};

}  // namespace

TLocalTime LocalTimeNow() {
  TLocalTime t;
#ifdef _WIN32
  SYSTEMTIME st;
  GetLocalTime(&st);
  t.Year = st.wYear;
  t.Month = st.wMonth;
  t.Day = st.wDay;
  t.Hour = st.wHour;
  t.Minute = st.wMinute;
  t.Second = st.wSecond;
  t.Millisecond = st.wMilliseconds;
#else
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  t.Second = local.tm_sec;
  t.Millisecond =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
#endif
  return t;
}

const char* LogKindWord(TLogKind kind) {
  switch (kind) {
    case TLogKind::State:
      return "STATE";
    case TLogKind::Device:
      return "DEVICE";
    case TLogKind::Stall:
      return "STALL";
    case TLogKind::Restart:
      return "RESTART";
    case TLogKind::Refused:
      return "REFUSED";
    case TLogKind::PlugIn:
      return "PLUGIN";
    case TLogKind::Peer:
      return "PEER";
    case TLogKind::Resources:
      return "RES";
    case TLogKind::Note:
      return "LOG";
  }
  return "LOG";
}

std::string FormatLogLine(const TLocalTime& time, TLogKind kind, std::string_view text) {
  std::string line = FormatTime(time);
  line += ' ';
  line += LogKindWord(kind);
  if (!text.empty()) {
    line += ' ';
    const size_t start = line.size();
    line.append(text.substr(0, MaxLogText));
    for (size_t i = start; i < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      if (c < 0x20 || c == 0x7F) line[i] = ' ';
    }
  }
  // CR LF: the file is read on Windows, by any editor there.
  line += "\r\n";
  return line;
}

std::string FormatProcessMetrics(const TProcessMetrics& m) {
  auto figure = [](int64_t value) { return value < 0 ? std::string("?") : std::to_string(value); };
  return "private=" + figure(m.PrivateBytes) + " handles=" + figure(m.Handles) +
         " gdi=" + figure(m.GdiObjects) + " user=" + figure(m.UserObjects) +
         " threads=" + figure(m.Threads) + " heap=" + figure(m.HeapInUse) +
         " sysheap=" + figure(m.SystemHeapInUse);
}

std::unique_ptr<TLogFiles> MakeStdioLogFiles() {
  return std::make_unique<TStdioLogFiles>();
}

// What the caller and the writer thread share. The writer holds it too, so a writer stuck in
// the file system can be left behind by the destructor without touching freed memory.
struct TEventLog::TShared {
  TShared(std::string path, std::unique_ptr<TLogFiles> files, TEventLogOptions options)
      : Path(std::move(path)), Files(std::move(files)), Options(std::move(options)) {
    Queue.reserve(Options.QueueLines);
  }

  const std::string Path;
  const std::unique_ptr<TLogFiles> Files;
  const TEventLogOptions Options;

  std::atomic<bool> Enabled{false};
  std::atomic<uint64_t> Dropped{0};
  std::atomic<uint64_t> Written{0};
  std::atomic<uint64_t> Failures{0};

  // Guards the members below; never held across a file operation.
  std::mutex Lock;
  std::condition_variable Wake;  // work for the writer, or stop
  std::condition_variable Idle;  // the writer finished an attempt
  std::vector<std::string> Queue;
  size_t InFlight = 0;      // lines the writer has taken and not yet written
  uint64_t Unreported = 0;  // lines dropped since the last one queued
  std::string FirstDropTime;
  bool Stop = false;
  bool Finished = false;

  // The writer's own.
  bool BrokenLine = false;  // the file ends inside a line that was cut short

  void Run();
  bool WritePending(std::vector<std::string>& pending);
  bool Rotate();
  std::string Numbered(int n) const { return Path + "." + std::to_string(n); }

  // Queues the report of the lines dropped since the last queued line, so it stands in the file
  // where they were lost. Called with Lock held; may take one place past the queue's size.
  void QueueDropReport() {
    if (Unreported == 0) return;
    Queue.push_back(FirstDropTime + " LOG " + std::to_string(Unreported) + " lines dropped\r\n");
    Unreported = 0;
  }
};

void TEventLog::TShared::Run() {
  std::vector<std::string> pending;
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    Wake.wait(lock, [&] { return Stop || !Queue.empty() || !pending.empty(); });
    for (std::string& line : Queue) pending.push_back(std::move(line));
    Queue.clear();
    InFlight = pending.size();
    const bool stopping = Stop;
    lock.unlock();

    const bool ok = WritePending(pending);

    lock.lock();
    InFlight = pending.size();
    if (!ok) Failures.fetch_add(1);
    Idle.notify_all();
    if (stopping) break;
    if (!ok) Wake.wait_for(lock, Options.RetryAfter, [&] { return Stop; });
  }
  Finished = true;
  Idle.notify_all();
}

// Writes the pending lines in order, rotating the file whenever the next line would not fit.
// Whatever was written leaves `pending`.
bool TEventLog::TShared::WritePending(std::vector<std::string>& pending) {
  size_t done = 0;
  bool ok = true;
  while (ok && done < pending.size()) {
    const uint64_t size = Files->Size(Path).value_or(0);
    // A line cut short by a failed write is ended first; the line itself is written again.
    std::string chunk = BrokenLine ? "\r\n" : "";
    const size_t head = chunk.size();
    std::vector<size_t> ends;
    for (size_t next = done; next < pending.size(); ++next) {
      // The first line in a fresh file always goes in: a line longer than a file is not lost.
      const bool first = size == 0 && ends.empty();
      if (!first && size + chunk.size() + pending[next].size() > Options.MaxFileBytes) break;
      chunk += pending[next];
      ends.push_back(chunk.size());
    }
    if (ends.empty()) {
      ok = Rotate();
      continue;
    }

    const size_t wrote = Files->Append(Path, chunk);
    const auto lines =
        static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), wrote) - ends.begin());
    done += lines;
    Written.fetch_add(lines);
    if (wrote > 0) {
      BrokenLine = wrote != head && std::find(ends.begin(), ends.end(), wrote) == ends.end();
    }
    ok = wrote == chunk.size();
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
  return ok;
}

// path -> path.1 -> ... -> path.N, the oldest dropped. The current file moves aside first under
// a name of its own, so a file that cannot be moved (held open by someone) changes nothing, and
// a rotation that stops halfway goes on where it stopped at the next attempt.
bool TEventLog::TShared::Rotate() {
  const std::string aside = Path + ".rotating";
  if (!Files->Size(aside) && !Files->Rename(Path, aside)) return false;
  if (Options.KeptFiles <= 0) return Files->Remove(aside);
  for (int i = Options.KeptFiles; i >= 1; --i) {
    const std::string from = i == 1 ? aside : Numbered(i - 1);
    if (!Files->Size(from)) continue;
    // Only the oldest place can be taken here: every other one was emptied by the step before.
    if (i == Options.KeptFiles && !Files->Remove(Numbered(i))) return false;
    if (!Files->Rename(from, Numbered(i))) return false;
  }
  return true;
}

TEventLog::TEventLog(std::string path, std::unique_ptr<TLogFiles> files, TEventLogOptions options)
    : FilePath(path),
      Shared(std::make_shared<TShared>(std::move(path), std::move(files), std::move(options))) {
  Writer = std::thread([shared = Shared] { shared->Run(); });
}

TEventLog::~TEventLog() {
  TShared& s = *Shared;
  std::unique_lock<std::mutex> lock(s.Lock);
  s.QueueDropReport();
  s.Stop = true;
  s.Wake.notify_all();
  // A writer stuck in a hung file system must not hold up the program's end.
  if (s.Idle.wait_for(lock, s.Options.StopWait, [&] { return s.Finished; })) {
    lock.unlock();
    Writer.join();
  } else {
    lock.unlock();
    Writer.detach();
  }
}

void TEventLog::SetEnabled(bool enabled) {
  Shared->Enabled.store(enabled);
}

bool TEventLog::Enabled() const {
  return Shared->Enabled.load();
}

void TEventLog::Write(TLogKind kind, std::string_view text) {
  TShared& s = *Shared;
  if (!s.Enabled.load(std::memory_order_relaxed)) return;
  std::string line = FormatLogLine(s.Options.Now(), kind, text);
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    if (s.Queue.size() + s.InFlight >= s.Options.QueueLines) {
      if (s.Unreported++ == 0) s.FirstDropTime = line.substr(0, TimeLength);
      s.Dropped.fetch_add(1);
      return;
    }
    s.QueueDropReport();
    s.Queue.push_back(std::move(line));
  }
  s.Wake.notify_one();
}

bool TEventLog::Flush(std::chrono::milliseconds timeout) {
  TShared& s = *Shared;
  std::unique_lock<std::mutex> lock(s.Lock);
  return s.Idle.wait_for(lock, timeout, [&] { return s.Queue.empty() && s.InFlight == 0; });
}

uint64_t TEventLog::Dropped() const {
  return Shared->Dropped.load();
}

uint64_t TEventLog::Written() const {
  return Shared->Written.load();
}

uint64_t TEventLog::Failures() const {
  return Shared->Failures.load();
}
