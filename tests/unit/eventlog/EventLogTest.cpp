#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MemoryLogFiles.h"
#include "util/EventLog.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// One millisecond later at every call.
std::function<TLocalTime()> SteppingClock() {
  auto ms = std::make_shared<int>(0);
  return [ms] {
    const int t = (*ms)++;
    return TLocalTime{2026, 12, 9, 3, 12 + t / 60000, (t / 1000) % 60, t % 1000};
  };
}

TEventLogOptions Options(size_t queueLines = 1000) {
  TEventLogOptions options;
  options.QueueLines = queueLines;
  options.RetryAfter = 10ms;
  options.StopWait = 500ms;
  options.Now = SteppingClock();
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the text ends inside a line";
  return lines;
}

// The text after the time and kind word of a line.
std::string Body(const std::string& line) {
  const size_t kindEnd = line.find(' ', 24);
  return kindEnd == std::string::npos ? "" : line.substr(kindEnd + 1);
}

template <typename TPredicate>
bool WaitFor(TPredicate done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TTempDir {
 public:
  TTempDir() {
    std::string name = (fs::temp_directory_path() / "kestrune-log-XXXXXX").string();
    Path = mkdtemp(name.data());
  }
  ~TTempDir() {
    std::error_code ec;
    fs::permissions(Path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path, ec);
  }
  fs::path Path;
};

TEST(EventLogLine, TimeKindAndText) {
  const TLocalTime t{2026, 12, 9, 3, 12, 44, 120};
  EXPECT_EQ(FormatLogLine(t, TLogKind::State, "WAIT output device stopped"),
            "2026-12-09 03:12:44.120 STATE WAIT output device stopped\r\n");
  EXPECT_EQ(FormatLogLine({2027, 1, 2, 0, 0, 5, 7}, TLogKind::Note, ""),
            "2027-01-02 00:00:05.007 LOG\r\n");
  // A text never splits its line, and a long one is cut.
  EXPECT_EQ(FormatLogLine(t, TLogKind::Device, "line 1\nline 2\r\tend\x7F"),
            "2026-12-09 03:12:44.120 DEVICE line 1 line 2  end \r\n");
  const std::string longLine = FormatLogLine(t, TLogKind::PlugIn, std::string(2000, 'x'));
  EXPECT_EQ(longLine.size(), 23 + 1 + 6 + 1 + MaxLogText + 2);

  const std::pair<TLogKind, const char*> words[] = {
      {TLogKind::State, "STATE"},     {TLogKind::Device, "DEVICE"},   {TLogKind::Stall, "STALL"},
      {TLogKind::Restart, "RESTART"}, {TLogKind::Refused, "REFUSED"}, {TLogKind::PlugIn, "PLUGIN"},
      {TLogKind::Peer, "PEER"},       {TLogKind::Resources, "RES"},   {TLogKind::Note, "LOG"}};
  for (const auto& [kind, word] : words) EXPECT_STREQ(LogKindWord(kind), word);

  EXPECT_EQ(FormatProcessMetrics({12345678, 123, 45, 67, 5, 2345678, 345678}),
            "private=12345678 handles=123 gdi=45 user=67 threads=5 heap=2345678 sysheap=345678");
  EXPECT_EQ(FormatProcessMetrics({}),
            "private=? handles=? gdi=? user=? threads=? heap=? sysheap=?");
}

TEST(EventLog, LinesArriveWholeAndInOrderOnlyWhileEnabled) {
  auto disk = std::make_shared<TMemoryLogDisk>();
  TEventLog log("Kestrune.log", std::make_unique<TMemoryLogFiles>(disk), Options());
  log.Write(TLogKind::State, "before enabling");
  log.SetEnabled(true);
  for (int i = 0; i < 300; ++i) log.Write(TLogKind::Stall, std::to_string(i));
  log.SetEnabled(false);
  log.Write(TLogKind::State, "after disabling");
  ASSERT_TRUE(log.Flush(5s));

  const std::vector<std::string> lines = Lines(disk->Text("Kestrune.log"));
  ASSERT_EQ(lines.size(), 300u);
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(lines[i].substr(23), " STALL " + std::to_string(i));
    if (i > 0) {
      EXPECT_LT(lines[i - 1].substr(0, 23), lines[i].substr(0, 23));
    }
  }
  EXPECT_EQ(log.Written(), 300u);
  EXPECT_EQ(log.Dropped(), 0u);
}

// Rotation on real files: every file stays within its size, no more files are kept than asked,
// and the kept files together are the newest lines in order with none lost between files.
TEST(EventLog, RotationKeepsAFewBoundedFiles) {
  TTempDir dir;
  const std::string path = (dir.Path / "Kestrune.log").string();
  TEventLogOptions options = Options();
  options.MaxFileBytes = 400;
  options.KeptFiles = 3;
  {
    TEventLog log(path, MakeStdioLogFiles(), options);
    log.SetEnabled(true);
    for (int i = 0; i < 200; ++i) {
      log.Write(TLogKind::Resources, "n=" + std::to_string(i));
      // Some lines alone, some in batches: both paths through the rotation.
      if (i % 7 == 0) {
        ASSERT_TRUE(log.Flush(5s));
      }
    }
    ASSERT_TRUE(log.Flush(5s));
    EXPECT_EQ(log.Failures(), 0u);
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path)) {
    names.push_back(entry.path().filename().string());
    EXPECT_LE(fs::file_size(entry.path()), 400u) << entry.path();
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Kestrune.log", "Kestrune.log.1", "Kestrune.log.2",
                                             "Kestrune.log.3"}));
  std::vector<std::string> all;
  for (const char* suffix : {".3", ".2", ".1", ""}) {
    for (const std::string& line : Lines(ReadFile(path + suffix))) all.push_back(Body(line));
  }
  ASSERT_FALSE(all.empty());
  const int first = 200 - static_cast<int>(all.size());
  EXPECT_GT(first, 0);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i], "n=" + std::to_string(first + static_cast<int>(i)));
  }
}

// A directory that is not there yet: lines wait (up to the queue's size) and are retried, the
// rest are counted; once the directory exists the waiting lines arrive, followed by the report
// of the lost ones where they were lost.
TEST(EventLog, UnwritablePlaceDropsCountsAndRecovers) {
  TTempDir dir;
  const fs::path sub = dir.Path / "later";
  TEventLog log((sub / "Kestrune.log").string(), MakeStdioLogFiles(), Options(8));
  log.SetEnabled(true);
  for (int i = 0; i < 20; ++i) log.Write(TLogKind::Device, std::to_string(i));
  ASSERT_TRUE(WaitFor([&] { return log.Failures() >= 2; }));
  EXPECT_EQ(log.Dropped(), 12u);
  EXPECT_FALSE(log.Flush(30ms));

  fs::create_directory(sub);
  ASSERT_TRUE(log.Flush(5s));
  log.Write(TLogKind::Device, "20");
  ASSERT_TRUE(log.Flush(5s));
  const std::vector<std::string> lines = Lines(ReadFile(sub / "Kestrune.log"));
  ASSERT_EQ(lines.size(), 10u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Body(lines[i]), std::to_string(i));
  // The report carries the time of the first lost line (the 9th write).
  EXPECT_EQ(lines[8].substr(23), " LOG 12 lines dropped");
  EXPECT_EQ(lines[8].substr(0, 23), "2026-12-09 03:12:00.008");
  EXPECT_EQ(Body(lines[9]), "20");
  EXPECT_EQ(log.Written(), 10u);
}

// A disk that hangs: the caller goes on at full speed, the queue stays bounded, and the log can
// still be destroyed within its stop bound while the writer is stuck.
TEST(EventLog, StuckWriterNeverHoldsUpTheCaller) {
  auto disk = std::make_shared<TMemoryLogDisk>();
  disk->SetGate(false);
  auto log = std::make_unique<TEventLog>("Kestrune.log", std::make_unique<TMemoryLogFiles>(disk),
                                         Options(64));
  log->SetEnabled(true);
  log->Write(TLogKind::State, "first");
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(disk->Lock);
    return disk->InAppend;
  }));

  auto slowest = std::chrono::steady_clock::duration::zero();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) {
    const auto before = std::chrono::steady_clock::now();
    log->Write(TLogKind::Stall, std::to_string(i));
    slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
  }
  const auto total = std::chrono::steady_clock::now() - start;
  using std::chrono::duration_cast;
  using std::chrono::microseconds;
  std::printf("measured: 20000 writes while the disk hangs: %lld us in all, slowest %lld us\n",
              static_cast<long long>(duration_cast<microseconds>(total).count()),
              static_cast<long long>(duration_cast<microseconds>(slowest).count()));
  // A caller waiting on the hung disk would never get here; the bounds only leave room for a
  // busy machine's scheduling.
  EXPECT_LT(total, 5s);
  EXPECT_LT(slowest, 1s);
  EXPECT_EQ(log->Dropped(), 20000u - 63u);

  // The gate opens: what was queued arrives, then the report, then what follows.
  disk->SetGate(true);
  ASSERT_TRUE(log->Flush(5s));
  log->Write(TLogKind::State, "after");
  ASSERT_TRUE(log->Flush(5s));
  std::vector<std::string> lines = Lines(disk->Text("Kestrune.log"));
  ASSERT_EQ(lines.size(), 66u);
  EXPECT_EQ(Body(lines[0]), "first");
  EXPECT_EQ(Body(lines[63]), "62");
  EXPECT_EQ(lines[64].substr(23), " LOG 19937 lines dropped");
  EXPECT_EQ(Body(lines[65]), "after");

  disk->SetGate(false);
  log->Write(TLogKind::State, "stuck again");
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(disk->Lock);
    return disk->InAppend;
  }));
  const auto stopStart = std::chrono::steady_clock::now();
  log.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 2s);
  // The writer left behind finishes once the disk answers, on state it still owns.
  disk->SetGate(true);
  EXPECT_TRUE(WaitFor([&] { return Lines(disk->Text("Kestrune.log")).size() == 67u; }));
}

// A write cut short (disk full) leaves half a line: it is ended, and the line written again whole.
TEST(EventLog, ShortWriteEndsTheBrokenLineAndRepeatsIt) {
  auto disk = std::make_shared<TMemoryLogDisk>();
  disk->NextShortWrite = 30;
  TEventLog log("Kestrune.log", std::make_unique<TMemoryLogFiles>(disk), Options());
  log.SetEnabled(true);
  log.Write(TLogKind::Restart, "output device back after 5 s");
  ASSERT_TRUE(log.Flush(5s));
  const std::vector<std::string> lines = Lines(disk->Text("Kestrune.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "2026-12-09 03:12:00.000 RESTAR");
  EXPECT_EQ(lines[1], "2026-12-09 03:12:00.000 RESTART output device back after 5 s");
  EXPECT_EQ(log.Written(), 1u);
}

// The current file held open by someone cannot be moved: it is neither grown past its size nor
// is any older file lost; once it is free the rotation happens and the lines arrive.
TEST(EventLog, LockedFileDelaysRotationWithoutLosingHistory) {
  auto disk = std::make_shared<TMemoryLogDisk>();
  TEventLogOptions options = Options();
  options.MaxFileBytes = 100;
  options.KeptFiles = 2;
  disk->Files["Kestrune.log"] = std::string(98, 'a') + "\r\n";
  disk->Files["Kestrune.log.1"] = "older\r\n";
  disk->Files["Kestrune.log.2"] = "oldest\r\n";
  disk->Locked.insert("Kestrune.log");
  TEventLog log("Kestrune.log", std::make_unique<TMemoryLogFiles>(disk), options);
  log.SetEnabled(true);
  log.Write(TLogKind::Peer, "program 7 dropped");
  ASSERT_TRUE(WaitFor([&] { return log.Failures() >= 3; }));
  EXPECT_EQ(disk->Text("Kestrune.log").size(), 100u);
  EXPECT_EQ(disk->Text("Kestrune.log.1"), "older\r\n");
  EXPECT_EQ(disk->Text("Kestrune.log.2"), "oldest\r\n");

  {
    std::lock_guard<std::mutex> g(disk->Lock);
    disk->Locked.clear();
  }
  ASSERT_TRUE(log.Flush(5s));
  EXPECT_EQ(Body(Lines(disk->Text("Kestrune.log"))[0]), "program 7 dropped");
  EXPECT_EQ(disk->Text("Kestrune.log.1").size(), 100u);
  EXPECT_EQ(disk->Text("Kestrune.log.2"), "older\r\n");
  EXPECT_EQ(disk->Files.count("Kestrune.log.rotating"), 0u);
}

}  // namespace
