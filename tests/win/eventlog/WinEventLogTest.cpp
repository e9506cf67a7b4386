#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Handles.h"
#include "util/EventLog.h"
#include "win/TempDir.h"

// The event log on Windows' own files: names replaced on rotation only when free, a file held
// open by another program, a file marked read-only.

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEventLogOptions Options(size_t queueLines = 1000) {
  TEventLogOptions options;
  options.QueueLines = queueLines;
  options.RetryAfter = 20ms;
  options.StopWait = 1000ms;
  return options;
}

// Whether the read-only attribute stops a write here: Wine run by root lets it through.
bool ReadOnlyHolds(const std::string& path) {
  TKernelHandle probe(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return !probe;
}

template <typename TPredicate>
bool WaitFor(TPredicate done) {
  for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(1ms);
  return done();
}

TEST(WinEventLog, LinesCarryTheLocalTime) {
  TTempDir dir;
  const std::string path = dir.File("Kestrune.log");
  SYSTEMTIME before;
  GetLocalTime(&before);
  {
    TEventLog log(path, MakeStdioLogFiles(), Options());
    log.SetEnabled(true);
    log.Write(TLogKind::State, "Online");
    ASSERT_TRUE(log.Flush(5s));
  }
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d ", before.wYear, before.wMonth, before.wDay);
  const std::vector<std::string> lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 1u);
  // A run across midnight could see the next day; the date is checked only when it did not.
  SYSTEMTIME after;
  GetLocalTime(&after);
  if (after.wDay == before.wDay) {
    EXPECT_EQ(lines[0].substr(0, 11), date);
  }
  EXPECT_EQ(lines[0].substr(23), " STATE Online");
}

TEST(WinEventLog, RotationOnWindowsFiles) {
  TTempDir dir;
  const std::string path = dir.File("Kestrune.log");
  TEventLogOptions options = Options();
  options.MaxFileBytes = 300;
  options.KeptFiles = 2;
  {
    TEventLog log(path, MakeStdioLogFiles(), options);
    log.SetEnabled(true);
    for (int i = 0; i < 60; ++i) {
      log.Write(TLogKind::Stall, std::to_string(i));
      ASSERT_TRUE(log.Flush(5s));
    }
    EXPECT_EQ(log.Failures(), 0u);
  }
  std::vector<std::string> all;
  for (const char* suffix : {".2", ".1", ""}) {
    const std::string text = ReadText(path + suffix);
    EXPECT_LE(text.size(), 300u) << suffix;
    for (const std::string& line : Lines(text)) all.push_back(line.substr(30));
  }
  EXPECT_EQ(GetFileAttributesA((path + ".3").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_GT(all.size(), 10u);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i], std::to_string(60 - all.size() + i));
  }
}

// Another program holds the file open without sharing: the lines wait, nothing is lost up to
// the queue's size, and they arrive once it lets go.
TEST(WinEventLog, FileHeldOpenByAnotherProgram) {
  TTempDir dir;
  const std::string path = dir.File("Kestrune.log");
  TKernelHandle held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(held);
  TEventLog log(path, MakeStdioLogFiles(), Options(16));
  log.SetEnabled(true);
  for (int i = 0; i < 20; ++i) log.Write(TLogKind::Device, std::to_string(i));
  ASSERT_TRUE(WaitFor([&] { return log.Failures() >= 2; }));
  EXPECT_EQ(log.Dropped(), 4u);
  held.Reset();
  ASSERT_TRUE(log.Flush(5s));
  log.Write(TLogKind::Device, "after");
  ASSERT_TRUE(log.Flush(5s));
  const std::vector<std::string> lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0].substr(23), " DEVICE 0");
  EXPECT_EQ(lines[15].substr(23), " DEVICE 15");
  EXPECT_EQ(lines[16].substr(23), " LOG 4 lines dropped");
  EXPECT_EQ(lines[17].substr(23), " DEVICE after");
}

// A full file that cannot be moved aside is not rotated away under its holder, nor grown.
TEST(WinEventLog, HeldFileIsNeitherRotatedNorGrown) {
  TTempDir dir;
  const std::string path = dir.File("Kestrune.log");
  std::ofstream(path, std::ios::binary) << std::string(198, 'x') << "\r\n";
  std::ofstream(path + ".1", std::ios::binary) << "older\r\n";
  TKernelHandle held(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  TEventLogOptions options = Options();
  options.MaxFileBytes = 200;
  TEventLog log(path, MakeStdioLogFiles(), options);
  log.SetEnabled(true);
  log.Write(TLogKind::Restart, "devices back");
  ASSERT_TRUE(WaitFor([&] { return log.Failures() >= 2; }));
  EXPECT_EQ(ReadText(path).size(), 200u);
  EXPECT_EQ(ReadText(path + ".1"), "older\r\n");
  held.Reset();
  ASSERT_TRUE(log.Flush(5s));
  EXPECT_EQ(Lines(ReadText(path)).at(0).substr(23), " RESTART devices back");
  EXPECT_EQ(ReadText(path + ".1").size(), 200u);
  EXPECT_EQ(ReadText(path + ".2"), "older\r\n");
}

TEST(WinEventLog, ReadOnlyFileIsRetriedUntilWritable) {
  TTempDir dir;
  const std::string path = dir.File("Kestrune.log");
  std::ofstream(path, std::ios::binary) << "kept\r\n";
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  if (!ReadOnlyHolds(path)) GTEST_SKIP() << "the read-only attribute is not enforced here";
  TEventLog log(path, MakeStdioLogFiles(), Options());
  log.SetEnabled(true);
  log.Write(TLogKind::Refused, "block of 7 bytes");
  ASSERT_TRUE(WaitFor([&] { return log.Failures() >= 2; }));
  EXPECT_EQ(ReadText(path), "kept\r\n");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(log.Flush(5s));
  const std::vector<std::string> lines = Lines(ReadText(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(23), " REFUSED block of 7 bytes");
}

}  // namespace
