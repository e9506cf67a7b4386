#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/ProcessMetrics.h"

namespace {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(ProcessMetrics, FiguresAreSane) {
  const TProcessMetrics m = ReadProcessMetrics();
  std::printf("%s\n", FormatProcessMetrics(m).c_str());
  EXPECT_GT(m.PrivateBytes, 256 * 1024);
  EXPECT_LT(m.PrivateBytes, int64_t{4} << 30);
  EXPECT_GT(m.Handles, 0);
  EXPECT_LT(m.Handles, 100000);
  EXPECT_GE(m.Threads, 1);
  EXPECT_LT(m.Threads, 1000);
  if (!UnderWine()) {
    EXPECT_GE(m.GdiObjects, 0);
    EXPECT_GE(m.UserObjects, 0);
  }
}

TEST(ProcessMetrics, HandlesFollowOpenAndClose) {
  const int64_t before = ReadProcessMetrics().Handles;
  {
    std::vector<TKernelHandle> events;
    for (int i = 0; i < 25; ++i) events.emplace_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(ReadProcessMetrics().Handles, before + 25);
  }
  EXPECT_EQ(ReadProcessMetrics().Handles, before);
}

TEST(ProcessMetrics, PrivateBytesFollowCommittedMemory) {
  constexpr SIZE_T Size = 64 << 20;
  const int64_t before = ReadProcessMetrics().PrivateBytes;
  void* block = VirtualAlloc(nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  // Touched, so the figure rises also where it counts resident pages (Wine).
  std::memset(block, 1, Size);
  const int64_t committed = ReadProcessMetrics().PrivateBytes;
  VirtualFree(block, 0, MEM_RELEASE);
  const int64_t after = ReadProcessMetrics().PrivateBytes;
  EXPECT_GE(committed - before, int64_t{Size});
  EXPECT_LT(committed - before, int64_t{Size} + (8 << 20));
  EXPECT_LE(after - before, 8 << 20);
}

TEST(ProcessMetrics, ThreadsFollowStartAndEnd) {
  const int64_t before = ReadProcessMetrics().Threads;
  std::mutex lock;
  std::condition_variable done;
  bool release = false;
  std::thread worker([&] {
    std::unique_lock<std::mutex> g(lock);
    done.wait(g, [&] { return release; });
  });
  EXPECT_EQ(ReadProcessMetrics().Threads, before + 1);
  {
    std::lock_guard<std::mutex> g(lock);
    release = true;
  }
  done.notify_all();
  worker.join();
  EXPECT_EQ(ReadProcessMetrics().Threads, before);
}

TEST(ProcessMetrics, GdiObjectsFollowBitmaps) {
  const int64_t before = ReadProcessMetrics().GdiObjects;
  if (before < 0 && UnderWine()) GTEST_SKIP() << "Wine counts no GDI objects";
  {
    std::vector<TGdiObject<HBITMAP>> bitmaps;
    for (int i = 0; i < 10; ++i) bitmaps.emplace_back(CreateBitmap(8, 8, 1, 32, nullptr));
    EXPECT_EQ(ReadProcessMetrics().GdiObjects, before + 10);
  }
  EXPECT_EQ(ReadProcessMetrics().GdiObjects, before);
}

// Other threads of the runtime may allocate meanwhile: a few kilobytes either way.
void ExpectGrowth(int64_t before, int64_t after, double bytes) {
  EXPECT_NEAR(static_cast<double>(after - before), bytes, 65536.0);
}

TEST(ProcessMetrics, HeapsFollowAllocationsOfTheProgramAndOfTheSystem) {
  const TProcessMetrics before = ReadProcessMetrics();
  ASSERT_GT(before.HeapInUse, 0);
  ASSERT_GT(before.SystemHeapInUse, 0);
  std::vector<std::unique_ptr<char[]>> own;
  for (int i = 0; i < 1000; ++i) own.emplace_back(new char[4096]);
  const TProcessMetrics withOwn = ReadProcessMetrics();
  ExpectGrowth(before.HeapInUse, withOwn.HeapInUse, 4096000.0);
  ExpectGrowth(before.SystemHeapInUse, withOwn.SystemHeapInUse, 0.0);
  own.clear();

  const HANDLE system = GetProcessHeap();
  std::vector<void*> blocks;
  for (int i = 0; i < 1000; ++i) blocks.push_back(HeapAlloc(system, 0, 4096));
  const TProcessMetrics withSystem = ReadProcessMetrics();
  for (void* b : blocks) HeapFree(system, 0, b);
  const TProcessMetrics after = ReadProcessMetrics();
  ExpectGrowth(before.HeapInUse, withSystem.HeapInUse, 0.0);
  ExpectGrowth(before.SystemHeapInUse, withSystem.SystemHeapInUse, 4096000.0);
  ExpectGrowth(before.HeapInUse, after.HeapInUse, 0.0);
  ExpectGrowth(before.SystemHeapInUse, after.SystemHeapInUse, 0.0);
}

TEST(ProcessMetrics, LineForTheLog) {
  const std::string line = FormatProcessMetrics(ReadProcessMetrics());
  EXPECT_EQ(line.rfind("private=", 0), 0u);
  EXPECT_NE(line.find(" handles="), std::string::npos);
  EXPECT_NE(line.find(" threads="), std::string::npos);
  EXPECT_EQ(line.find("handles=?"), std::string::npos);
  EXPECT_EQ(line.find("heap=?"), std::string::npos);
  EXPECT_EQ(line.find("sysheap=?"), std::string::npos);
}

}  // namespace
