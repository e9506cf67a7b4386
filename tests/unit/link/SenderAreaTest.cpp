#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "FakeDesktop.h"
#include "link/SenderArea.h"
#include "link/StreamHeader.h"

// Counts the allocations made by threads that ask for it, to show the relay thread's steady
// state allocates nothing. The replacements pair malloc with free, which the compiler cannot see
// through once it inlines them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local bool CountAllocations = false;
std::atomic<int> Allocations{0};
}  // namespace

void* operator new(size_t size) {
  if (CountAllocations) Allocations.fetch_add(1);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (CountAllocations) Allocations.fetch_add(1);
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace {

constexpr TWnd Own = 0x4242;

struct TQueueFixture {
  TFakeDesktop Desktop;
  TWinMSG Link{Desktop, Own};
  TManualClock Clock;
  TSenderArea Area{Link, Clock};

  void Connect(TWnd wnd) {
    Desktop.Add(wnd);
    Link.AddPending(wnd);
    Link.ScanPeers();
  }
  // A block of frames whose every sample is the value.
  void Add(int16_t value, int32_t frames = 4, int32_t rate = 44100) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2, value);
    Area.AddSendData(samples.data(), frames * 4, rate);
  }
  // The value of the first sample of each block sent so far.
  std::vector<int> SentValues() const {
    std::vector<int> values;
    for (const auto& s : Desktop.Sent) {
      int16_t v = 0;
      std::memcpy(&v, s.Data.data() + StreamHeaderSize, 2);
      values.push_back(v);
    }
    return values;
  }
};

std::vector<int> Range(int from, int to) {
  std::vector<int> r;
  for (int i = from; i < to; ++i) r.push_back(i);
  return r;
}

TEST(SendQueue, AFullQueueDropsTheNewBlockThenGoesOnFromTheSameSlot) {
  TQueueFixture f;
  f.Connect(0x100);
  for (int i = 0; i < 256; ++i) f.Add(static_cast<int16_t>(i));
  EXPECT_EQ(f.Area.WritePos(), 0);
  EXPECT_TRUE(f.Area.SlotOccupied(0));
  f.Add(999);
  EXPECT_EQ(f.Area.WritePos(), 0);
  EXPECT_EQ(f.Area.DroppedBlocks(), 1u);
  EXPECT_TRUE(f.Desktop.Sent.empty());

  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), Range(0, 256)) << "all 256 in order, the dropped one not";
  EXPECT_EQ(f.Area.ReadPos(), 0);
  for (uint16_t s = 0; s < 256; ++s) EXPECT_FALSE(f.Area.SlotOccupied(s));

  f.Desktop.Sent.clear();
  f.Add(1000);
  EXPECT_EQ(f.Area.WritePos(), 1);
  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), (std::vector<int>{1000}));
  EXPECT_EQ(f.Area.SentBlocks(), 257u);
}

TEST(SendQueue, OrderIsKeptAcrossTheWrapAndNothingWaitsWithoutPeers) {
  TQueueFixture f;
  for (int i = 0; i < 200; ++i) f.Add(static_cast<int16_t>(i));
  f.Area.SendMemory();  // to nobody
  EXPECT_TRUE(f.Desktop.Sent.empty());
  EXPECT_EQ(f.Area.ReadPos(), 200);
  EXPECT_EQ(f.Area.SentBlocks(), 200u);

  f.Connect(0x100);
  f.Connect(0x200);
  for (int i = 200; i < 400; ++i) f.Add(static_cast<int16_t>(i));
  EXPECT_EQ(f.Area.WritePos(), 400 % 256);
  f.Area.SendMemory();
  std::vector<int> expected;
  for (int i = 200; i < 400; ++i) expected.insert(expected.end(), {i, i});
  EXPECT_EQ(f.SentValues(), expected) << "each block to every peer before the next";
  EXPECT_EQ(f.Desktop.Receivers()[0], 0x100);
  EXPECT_EQ(f.Desktop.Receivers()[1], 0x200);
  EXPECT_EQ(f.Area.DroppedBlocks(), 0u);
}

TEST(SendQueue, ABlockOf3528BytesArrivesAs3550WithItsHeader) {
  TQueueFixture f;
  f.Connect(0x100);
  std::vector<int16_t> samples(3528 / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(i % 2 ? (i * 7) % 16385 : -(static_cast<int>(i) % 1000));
  samples[10] = -32768;  // the left peak: counts as 32767
  samples[11] = 16384;   // the right peak
  f.Area.AddSendData(samples.data(), 3528, 44100);
  f.Area.SendMemory();
  ASSERT_EQ(f.Desktop.Sent.size(), 1u);
  const auto& sent = f.Desktop.Sent[0];
  EXPECT_TRUE(sent.CopyData);
  EXPECT_EQ(sent.Packed, 0u);
  ASSERT_EQ(sent.Data.size(), 3550u);
  const std::vector<uint8_t> head(sent.Data.begin(), sent.Data.begin() + 6);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x44, 0xAC, 0x00, 0x00, 2, 16}));
  const TStreamHeader h = ReadStreamHeader(sent.Data.data());
  EXPECT_NEAR(h.LevelLeft, -0.000265, 1e-6);
  EXPECT_NEAR(h.LevelRight, -6.0206, 1e-4);
  EXPECT_EQ(std::memcmp(sent.Data.data() + 22, samples.data(), 3528), 0);
  TStreamHeader checked;
  EXPECT_EQ(CheckStreamBlock(sent.Packed, sent.Data.data(), sent.Data.size(), checked),
            TBlockCheck::Ok);

  // Silence: -90.3 in both level fields, as the double's little-endian bytes.
  f.Desktop.Sent.clear();
  std::vector<int16_t> silence(3528 / 2, 0);
  f.Area.AddSendData(silence.data(), 3528, 48000);
  f.Area.SendMemory();
  ASSERT_EQ(f.Desktop.Sent.size(), 1u);
  const std::vector<uint8_t> minus903{0x33, 0x33, 0x33, 0x33, 0x33, 0x93, 0x56, 0xC0};
  const auto& d = f.Desktop.Sent[0].Data;
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 6, d.begin() + 14), minus903);
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 14, d.begin() + 22), minus903);
  EXPECT_EQ(ReadStreamHeader(d.data()).SampleRate, 48000);
}

TEST(SendQueue, SlowPeersMakeTheQueueDropBlocksRatherThanHoldTheMainThread) {
  TQueueFixture f;
  f.Connect(0x100);
  // Every block takes the peer 30 ms: a tick sends two blocks (50 ms budget) and returns.
  f.Desktop.DuringSend[0x100] = [&] { f.Clock.Advance(30); };
  for (int i = 0; i < 10; ++i) f.Add(static_cast<int16_t>(i));
  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), (std::vector<int>{0, 1}));
  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), (std::vector<int>{0, 1, 2, 3}));
  for (int i = 10; i < 300; ++i) f.Add(static_cast<int16_t>(i));
  // Six blocks were waiting: 250 of the 290 new ones find a slot.
  EXPECT_EQ(f.Area.DroppedBlocks(), 40u);
  // The waiting blocks still go out in order, and the queue takes blocks again.
  while (f.Area.SlotOccupied(f.Area.ReadPos())) f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), Range(0, 260));
  f.Add(5000);
  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues().back(), 5000);
}

TEST(SendQueue, ANestedSendMemoryLeavesTheSendingToTheOuterOne) {
  TQueueFixture f;
  f.Connect(0x100);
  f.Desktop.DuringSend[0x100] = [&] { f.Area.SendMemory(); };
  for (int i = 0; i < 3; ++i) f.Add(static_cast<int16_t>(i));
  f.Area.SendMemory();
  EXPECT_EQ(f.SentValues(), (std::vector<int>{0, 1, 2}));
}

TEST(SendQueue, RefusesBlocksThatAreNoBlocks) {
  TQueueFixture f;
  f.Area.AddSendData(nullptr, 4, 44100);
  int16_t s[2] = {};
  f.Area.AddSendData(s, -4, 44100);
  EXPECT_EQ(f.Area.WritePos(), 0);
  EXPECT_EQ(f.Area.DroppedBlocks(), 0u);
  std::vector<int16_t> huge(TSenderArea::MaxBlockBytes / 2 + 2);
  f.Area.AddSendData(huge.data(), TSenderArea::MaxBlockBytes + 4, 44100);
  EXPECT_EQ(f.Area.WritePos(), 0);
  EXPECT_EQ(f.Area.DroppedBlocks(), 1u);
  f.Area.Free_SenderArea(300);  // no such slot: nothing happens
}

// A peer that checks the stream as it comes: blocks in rising order, every sample intact.
class TCheckingDesktop : public TDesktop {
 public:
  std::vector<TTopWindow> Own{{0x100, "Peer"}};
  int Received = 0;
  int Last = -1;
  int Faults = 0;

  void TopLevelWindows(std::vector<TTopWindow>& windows) override { windows = Own; }
  TSendResult SendWinMsg(TWnd, TWnd, uint32_t, uint32_t) override {
    return {TSendStatus::Answered, 0};
  }
  TSendResult SendCopyData(TWnd, TWnd, uint32_t, const void* data, uint32_t size,
                           uint32_t) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<int16_t> samples((size - StreamHeaderSize) / 2);
    std::memcpy(samples.data(), bytes + StreamHeaderSize, samples.size() * 2);
    const int seq = static_cast<uint16_t>(samples[0]) | (static_cast<uint16_t>(samples[1]) << 16);
    for (size_t i = 2; i < samples.size(); ++i)
      if (samples[i] != static_cast<int16_t>(seq + static_cast<int>(i))) ++Faults;
    if (seq <= Last) ++Faults;
    Last = seq;
    ++Received;
    return {TSendStatus::Answered, 1};
  }
};

TEST(SendQueue, ARelayThreadAndAMainThreadShareTheRingWithoutLossOfOrderOrContent) {
  TCheckingDesktop desktop;
  TWinMSG link(desktop, Own);
  link.AddPending(0x100);
  link.ScanPeers();
  TSenderArea area(link, SystemClock());
  constexpr int Blocks = 100000;
  std::atomic<bool> done{false};
  int steadyAllocations = -1;

  std::thread relay([&] {
    std::vector<int16_t> block(2 * 64);
    for (int seq = 0; seq < Blocks; ++seq) {
      // Sizes vary as the stabilizer makes them; the largest comes first in every slot.
      const int frames = seq < 256 ? 64 : 60 + seq % 5;
      block[0] = static_cast<int16_t>(seq & 0xFFFF);
      block[1] = static_cast<int16_t>(seq >> 16);
      for (int i = 2; i < 2 * frames; ++i) block[i] = static_cast<int16_t>(seq + i);
      if (seq == 256) {
        Allocations = 0;
        CountAllocations = true;
      }
      area.AddSendData(block.data(), frames * 4, 44100);
      if (seq % 64 == 0) std::this_thread::yield();
    }
    CountAllocations = false;
    steadyAllocations = Allocations.load();
    done = true;
  });
  std::thread consumer([&] {
    while (!done || area.SlotOccupied(area.ReadPos())) area.SendMemory();
  });
  relay.join();
  consumer.join();

  EXPECT_EQ(desktop.Faults, 0);
  EXPECT_EQ(static_cast<uint64_t>(desktop.Received) + area.DroppedBlocks(),
            static_cast<uint64_t>(Blocks));
  EXPECT_GT(desktop.Received, 0);
  EXPECT_EQ(steadyAllocations, 0) << "the relay thread allocated in the steady state";
}

}  // namespace
