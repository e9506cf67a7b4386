// The chain run by a real relay thread while the main thread loads and unloads plug-ins.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "FakePlugins.h"
#include "dsp/OVPlugIns.h"

namespace {

// Allocations made by a thread while it counts them: every form of operator new and delete is
// replaced, so that the sanitizer sees matching pairs.
thread_local bool CountingAllocations = false;
std::atomic<int> CountedAllocations{0};

void* TryAllocate(std::size_t size) noexcept {
  if (CountingAllocations) ++CountedAllocations;
  return std::malloc(size ? size : 1);
}

void* Allocate(std::size_t size) {
  if (void* p = TryAllocate(size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return TryAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return TryAllocate(size);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace std::chrono_literals;

const std::string Dir = "C:\\plugins";

// Each sample plus one; a little work so that passes take some time.
TFakeSpec Increment() {
  TFakeSpec spec;
  spec.Work = [](short* s, int frames) {
    for (int i = 0; i < 2 * frames; ++i) ++s[i];
  };
  return spec;
}

// Waits for a condition for at most five seconds.
template <typename TCondition>
bool WaitFor(TCondition condition) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs ProcessPlugins on its own thread, pass after pass, on a block with room for twice its
// frames, counting what it allocates.
class TRelay {
 public:
  explicit TRelay(TPlugInHost& host) : Host(host), Thread([this] { Loop(); }) {}
  ~TRelay() {
    Stop = true;
    Thread.join();
  }
  uint64_t Passes() const { return PassCount.load(); }
  int BadSizes() const { return WrongSizes.load(); }
  // Returns once the relay has made at least n more passes.
  bool AwaitPasses(uint64_t n) const {
    const uint64_t target = Passes() + n;
    return WaitFor([&] { return Passes() >= target; });
  }

 private:
  void Loop() {
    std::vector<short> block(2 * 2 * 441);
    while (!Stop) {
      int32_t size = 1764;
      CountingAllocations = true;
      Host.ProcessPlugins(block.data(), size, 44100);
      CountingAllocations = false;
      if (size != 1764) ++WrongSizes;
      ++PassCount;
    }
  }

  TPlugInHost& Host;
  std::atomic<bool> Stop{false};
  std::atomic<uint64_t> PassCount{0};
  std::atomic<int> WrongSizes{0};
  std::thread Thread;
};

class RelayChainTest : public ::testing::Test {
 protected:
  void SetUp() override { CountedAllocations = 0; }

  TFakeLibraries Libs;
  // As in the native build of the program: nothing to catch, calls run straight through.
  TDirectCall Guard;
  TPlugInHost Host{Libs, Guard};
};

TEST_F(RelayChainTest, LoadingAndUnloadingWhileTheRelayRuns) {
  for (const char* name : {"dsp_a.dll", "dsp_b.dll", "dsp_c.dll"}) Libs.AddFile(name, Increment());
  {
    TRelay relay(Host);
    for (int round = 0; round < 300; ++round) {
      ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_a.dll"));
      ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_b.dll"));
      ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_c.dll"));
      ASSERT_TRUE(relay.AwaitPasses(2));
      Host.UnloadPlugin(1);
      ASSERT_TRUE(relay.AwaitPasses(1));
      ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_b.dll"));
      Host.UnloadPlugin(0);
      ASSERT_TRUE(relay.AwaitPasses(1));
      Host.DonePlugins();
    }
    EXPECT_EQ(relay.BadSizes(), 0);
  }
  EXPECT_EQ(Libs.Violations, 0);
  EXPECT_EQ(Libs.LoadedCount(), 0);
  EXPECT_EQ(CountedAllocations, 0);
}

TEST_F(RelayChainTest, RemovalWaitsForThePassInProgressOnly) {
  std::atomic<bool> entered{false}, open{false};
  TFakeSpec gate;
  gate.InModify = [&] {
    entered = true;
    while (!open) std::this_thread::yield();
  };
  Libs.AddFile("dsp_gate.dll", gate);
  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_gate.dll"));
  TFakeImage* image = Libs.Image("dsp_gate.dll");

  std::vector<short> block(2 * 2 * 100);
  std::thread relay([&] {
    int32_t size = 400;
    Host.ProcessPlugins(block.data(), size, 44100);
  });
  ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
  std::atomic<bool> unloaded{false};
  std::thread main([&] {
    Host.UnloadPlugin(0);
    unloaded = true;
  });
  std::this_thread::sleep_for(50ms);
  // Neither Quit nor the release while the relay is inside the plug-in.
  EXPECT_FALSE(unloaded);
  EXPECT_FALSE(image->Quit);
  open = true;
  relay.join();
  main.join();
  EXPECT_TRUE(unloaded);
  EXPECT_EQ(Libs.LoadedCount(), 0);
  EXPECT_EQ(Libs.Violations, 0);
}

TEST_F(RelayChainTest, TheRelayGoesOnWhileAPluginInitialises) {
  Libs.AddFile("dsp_a.dll", Increment());
  std::atomic<bool> inInit{false}, release{false};
  TFakeSpec slow = Increment();
  slow.InInit = [&] {
    inInit = true;
    while (!release) std::this_thread::yield();
  };
  Libs.AddFile("dsp_slow.dll", slow);
  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_a.dll"));

  TRelay relay(Host);
  bool loaded = false;
  std::thread main([&] { loaded = Host.LoadPlugin(Dir, "dsp_slow.dll"); });
  ASSERT_TRUE(WaitFor([&] { return inInit.load(); }));
  EXPECT_TRUE(relay.AwaitPasses(100));
  release = true;
  main.join();
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(relay.AwaitPasses(2));
  EXPECT_GT(Libs.Image("dsp_slow.dll")->Calls, 0);
}

}  // namespace
