#include <gtest/gtest.h>

#include <algorithm>

#include "LinkHost.h"
// After windows.h (from LinkHost.h), which it needs.
#include <psapi.h>

namespace {

// The process's private committed memory. Wine reports it as PagefileUsage (which Windows
// gives the same value as PrivateUsage) and leaves PrivateUsage 0.
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  return std::max(counters.PrivateUsage, counters.PagefileUsage);
}

// Bytes allocated on the process's heaps (what malloc and new hand out).
size_t HeapBytes() {
  HANDLE heaps[64];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  size_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

ULONGLONG WhenFound(const TLinkHost& host, TWnd wnd) {
  for (const auto& [w, t] : host.FoundAt)
    if (w == wnd) return t;
  return 0;
}

ULONGLONG WhenHello(const TLinkHost& host, TWnd wnd) {
  for (const auto& [w, t] : host.HelloAt)
    if (w == wnd) return t;
  return 0;
}

TEST(PeerLink, HelloIsAnsweredDuringTheCallAndTheNextScanConfirmsThePeer) {
  TLinkHost host;
  TPeerProcess a, b;
  ASSERT_TRUE(a.Start(host));
  ASSERT_TRUE(b.Start(host));

  host.Silent = false;
  EXPECT_EQ(a.Ask(host, "hello"), "hello ok=1 answer=0x0401");
  host.Silent = true;
  EXPECT_EQ(b.Ask(host, "hello"), "hello ok=1 answer=0x0400");
  ASSERT_TRUE(host.PumpUntil([&] { return host.IsPeer(a.Wnd) && host.IsPeer(b.Wnd); }, 2000));
  for (const TPeerProcess* p : {&a, &b}) {
    const ULONGLONG delay = WhenFound(host, p->Wnd) - WhenHello(host, p->Wnd);
    std::printf("measured: peer confirmed %llu ms after its hello\n",
                static_cast<unsigned long long>(delay));
    EXPECT_LE(delay, 200u);
  }
  EXPECT_EQ(host.Link.Peers()[0].WndClass, "KestruneLinkPeer");
  // A query is answered but announces nothing.
  TPeerProcess c;
  ASSERT_TRUE(c.Start(host));
  EXPECT_EQ(c.Ask(host, "query"), "query ok=1 id=-5");
  host.ProgramId = 12;
  EXPECT_EQ(c.Ask(host, "query"), "query ok=1 id=12");
  host.Interactive = false;
  EXPECT_EQ(c.Ask(host, "query"), "query ok=1 id=0");
  EXPECT_EQ(c.Ask(host, "hello"), "hello ok=1 answer=0xffff") << "no answer outside the mode";
  host.Interactive = true;
  host.PumpUntil([] { return false; }, 250);
  EXPECT_FALSE(host.IsPeer(c.Wnd));
}

TEST(PeerLink, NotificationsReachThePeersInAscendingHandleOrder) {
  TLinkHost host;
  TPeerProcess peers[3];
  for (auto& p : peers) {
    ASSERT_TRUE(p.Start(host));
    ASSERT_EQ(p.Ask(host, "hello"), "hello ok=1 answer=0x0401");
  }
  ASSERT_TRUE(host.PumpUntil([&] { return host.Link.Peers().size() == 3; }, 2000));
  host.Desktop.MessagesTo.clear();
  host.Link.Notify(ntfOnline);
  host.Link.Notify(ntfSilence);
  std::vector<TWnd> ascending{peers[0].Wnd, peers[1].Wnd, peers[2].Wnd};
  std::sort(ascending.begin(), ascending.end());
  std::vector<TWnd> expected = ascending;
  expected.insert(expected.end(), ascending.begin(), ascending.end());
  EXPECT_EQ(host.Desktop.MessagesTo, expected);
  // Each got both, after the answer to its hello.
  for (auto& p : peers) EXPECT_EQ(p.Ask(host, "notes"), "notes 3 1025,4097,1024");
}

TEST(PeerLink, AWithdrawnPeerAndAPeerWhoseWindowClosedAreDropped) {
  TLinkHost host;
  TPeerProcess a, b;
  ASSERT_TRUE(a.Start(host));
  ASSERT_TRUE(b.Start(host));
  a.Ask(host, "hello");
  b.Ask(host, "hello");
  ASSERT_TRUE(host.PumpUntil([&] { return host.Link.Peers().size() == 2; }, 2000));

  EXPECT_EQ(a.Ask(host, "bye"), "bye ok=1");
  EXPECT_FALSE(host.IsPeer(a.Wnd)) << "withdrawn during the call";
  EXPECT_TRUE(host.IsPeer(b.Wnd));

  EXPECT_EQ(b.Ask(host, "close"), "closed");
  const ULONGLONG closed = GetTickCount64();
  ASSERT_TRUE(host.PumpUntil([&] { return host.Link.Peers().empty(); }, 2000));
  const ULONGLONG delay = GetTickCount64() - closed;
  std::printf("measured: closed peer dropped %llu ms after its window went\n",
              static_cast<unsigned long long>(delay));
  EXPECT_LE(delay, 200u);
}

TEST(PeerLink, APeerThatNeverAnswersDelaysTheSenderOnlyByTheBoundAndIsDropped) {
  TLinkHost host;
  TPeerProcess good, hung;
  ASSERT_TRUE(good.Start(host));
  ASSERT_TRUE(hung.Start(host));
  good.Ask(host, "hello");
  hung.Ask(host, "hello");
  ASSERT_TRUE(host.PumpUntil([&] { return host.Link.Peers().size() == 2; }, 2000));
  ASSERT_EQ(hung.Ask(host, "hang"), "hanging");

  const ULONGLONG start = GetTickCount64();
  host.Link.Notify(ntfOnline);
  const ULONGLONG first = GetTickCount64() - start;
  std::printf("measured: a notification with a hung peer took %llu ms (bound %u ms)\n",
              static_cast<unsigned long long>(first), host.Link.SendTimeoutMs);
  EXPECT_LE(first, host.Link.SendTimeoutMs + 150u);
  EXPECT_FALSE(host.IsPeer(hung.Wnd));
  EXPECT_TRUE(host.IsPeer(good.Wnd));
  EXPECT_EQ(host.Link.UnansweredDrops(), 1u);

  const ULONGLONG again = GetTickCount64();
  host.Link.Notify(ntfSound);
  std::vector<int16_t> block(440);
  FillBlock(block, 0);
  host.Area.AddSendData(block.data(), 880, 44100);
  host.Area.SendMemory();
  EXPECT_LE(GetTickCount64() - again, 100u) << "the dropped peer is not waited for again";
  EXPECT_EQ(good.Ask(host, "notes"), "notes 3 1025,4097,1025");
  EXPECT_EQ(good.Ask(host, "stats"), "stats blocks=1 bytes=902 faults=0 gaps=0 first=0 last=0");
}

TEST(PeerLink, AFloodFromAnotherProcessLeavesTheWindowAnsweringAndItsMemoryFlat) {
  TLinkHost host;
  // Warm up: the first messages allocate what every later one reuses.
  {
    TChild warm;
    ASSERT_TRUE(
        warm.Start(ThisProgramDir() + "link-peer.exe", "flood " + host.HwndText() + " 5000"));
    ASSERT_EQ(warm.Wait(60000, host.Pumper()), std::optional<DWORD>(0)) << warm.Output();
  }
  for (int i = 0; i < 30; ++i) host.Pump();
  // The host only counts from now on: its records would grow with every message.
  host.Logging = false;
  host.Desktop.Logging = false;
  const size_t callsBefore = host.CallCount;
  const uint64_t droppedBefore = host.Mode.DroppedCommands();

  // A third process asks the window for its program ID all the time and times the answers.
  TChild pinger;
  ASSERT_TRUE(pinger.Start(ThisProgramDir() + "link-peer.exe", "ping " + host.HwndText()));
  const size_t heapBefore = HeapBytes();
  const SIZE_T before = PrivateBytes();
  TChild flood;
  ASSERT_TRUE(
      flood.Start(ThisProgramDir() + "link-peer.exe", "flood " + host.HwndText() + " 100000"));
  const auto exit = flood.Wait(600000, host.Pumper());
  for (int i = 0; i < 30; ++i) host.Pump();
  const size_t heapAfter = HeapBytes();
  const SIZE_T after = PrivateBytes();
  pinger.Send("stop");
  const auto pings = pinger.WaitLine("ping ", 10000, host.Pumper());

  ASSERT_EQ(exit, std::optional<DWORD>(0)) << flood.Output();
  ASSERT_TRUE(pings) << pinger.Output();
  std::printf(
      "measured: %s; %s; heap %zu KB before, %zu KB after; private bytes %zu KB before, "
      "%zu KB after; at most %zu commands waiting; %zu commands run\n",
      flood.Output().c_str(), pings->c_str(), heapBefore / 1024, heapAfter / 1024,
      static_cast<size_t>(before / 1024), static_cast<size_t>(after / 1024), host.MostWaiting,
      host.CallCount - callsBefore);
  unsigned long long asked = 0, unanswered = 99, slowest = 99999;
  ASSERT_EQ(std::sscanf(pings->c_str(), "ping asked=%llu unanswered=%llu slowest-ms=%llu", &asked,
                        &unanswered, &slowest),
            3);
  EXPECT_EQ(unanswered, 0u);
  EXPECT_GT(asked, 10u);
  EXPECT_LT(slowest, 1000u);
  ASSERT_GT(before, 0u) << "no memory figure";
  EXPECT_LT(heapAfter, heapBefore + 64 * 1024) << "the heap grew";
  EXPECT_LT(after, before + 2 * 1024 * 1024) << "memory grew";
  EXPECT_LE(host.MostWaiting, TInteractiveMode::MaxWaitingCommands);
  EXPECT_TRUE(host.Link.Pending().size() <= 1);
  // The flood's commands were carried out, as far as they were not dropped.
  EXPECT_EQ(host.CallCount - callsBefore + host.Mode.DroppedCommands() - droppedBefore,
            100000u / 8 * 3);
}

}  // namespace
