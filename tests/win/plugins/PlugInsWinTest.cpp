// The plug-in host with the system's loader and the test plug-ins of tools/plugins.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dsp/FpState.h"
#include "dsp/OVPlugIns.h"
#include "platform/win32/ExePath.h"
#include "platform/win32/FaultGuard.h"
#include "platform/win32/PlugInLibraries.h"
#include "win/TempDir.h"

namespace {

// Where the build puts the test plug-ins, beside the tests' own directory.
std::string PluginDir() {
  const std::string exe = ExecutablePath();
  return exe.substr(0, exe.find_last_of('\\')) + "\\..\\tools\\plugins";
}

// A directory for plug-in files, removed with them at the end of a test.
class TPluginDir : public TTempDir {
 public:
  TPluginDir() : TTempDir("kestrune-plugins-") {}
  // A copy of a test plug-in under another name: another library to the loader.
  void CopyPlugin(const std::string& plugin, const std::string& name) const {
    ASSERT_TRUE(CopyFileA((PluginDir() + "\\" + plugin).c_str(), File(name).c_str(), FALSE))
        << plugin;
  }
  void WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(File(name), std::ios::binary) << text;
  }
};

bool IsLoaded(const std::string& name) {
  return GetModuleHandleA(name.c_str()) != nullptr;
}

short Gain(short s) {
  return static_cast<short>(std::lround(s * 0.5012));
}

class PlugInsWinTest : public ::testing::Test {
 protected:
  std::vector<bool> Actives() const {
    std::vector<bool> active;
    for (const auto& e : Host.LoadedPlugins()) active.push_back(e->Active.load());
    return active;
  }

  TWinPlugInLibraries Libraries;
  TFaultGuard Guard;
  TPlugInHost Host{Libraries, Guard};
};

TEST_F(PlugInsWinTest, ScanListsPluginFilesOnly) {
  TPluginDir dir;
  dir.CopyPlugin("dsp_gain.dll", "dsp_Beta.dll");
  dir.CopyPlugin("dsp_gain.dll", "DSP_alpha.DLL");
  dir.CopyPlugin("dsp_gain.dll", "dsp_hidden.dll");
  SetFileAttributesA(dir.File("dsp_hidden.dll").c_str(), FILE_ATTRIBUTE_HIDDEN);
  dir.WriteText("notes.txt", "not a plug-in");
  dir.CopyPlugin("dsp_gain.dll", "gain.dll");
  CreateDirectoryA(dir.File("dsp_folder.dll").c_str(), nullptr);

  Host.ScanPlugins(dir.Path);
  EXPECT_EQ(Host.FoundPlugins(),
            (std::vector<std::string>{"DSP_alpha.DLL", "dsp_Beta.dll", "dsp_hidden.dll"}));
  Host.ScanPlugins(dir.File("missing"));
  EXPECT_TRUE(Host.FoundPlugins().empty());
}

TEST_F(PlugInsWinTest, WhatCannotBeLoadedLeavesAnInactiveEntryAndNoLibrary) {
  TPluginDir dir;
  dir.WriteText("dsp_text.dll", "This is a text file named like a plug-in.\r\n");
  EXPECT_FALSE(Host.LoadPlugin(dir.Path, "dsp_text.dll"));
  EXPECT_FALSE(Host.LoadPlugin(PluginDir(), "dsp_noentry.dll"));
  EXPECT_FALSE(Host.LoadPlugin(PluginDir(), "dsp_initfail.dll"));
  EXPECT_FALSE(Host.LoadPlugin(PluginDir(), "dsp_absent.dll"));
  EXPECT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_gain.dll"));
  EXPECT_EQ(Actives(), (std::vector<bool>{false, false, false, false, true}));
  EXPECT_FALSE(IsLoaded("dsp_text.dll"));
  EXPECT_FALSE(IsLoaded("dsp_noentry.dll"));
  EXPECT_FALSE(IsLoaded("dsp_initfail.dll"));
  EXPECT_TRUE(IsLoaded("dsp_gain.dll"));

  // The same name twice, in other letters, or from another directory adds nothing.
  EXPECT_FALSE(Host.LoadPlugin(PluginDir(), "dsp_gain.dll"));
  EXPECT_FALSE(Host.LoadPlugin(PluginDir(), "DSP_GAIN.DLL"));
  EXPECT_FALSE(Host.LoadPlugin(dir.Path, "dsp_gain.dll"));
  EXPECT_EQ(Host.LoadedPlugins().size(), 5u);
  EXPECT_FALSE(Host.LoadPlugin(dir.File("missing"), "dsp_other.dll"));
  EXPECT_EQ(Host.LoadedPlugins().size(), 5u);

  Host.DonePlugins();
  EXPECT_FALSE(IsLoaded("dsp_gain.dll"));
}

TEST_F(PlugInsWinTest, GainPluginHalvesABlock) {
  // As the settings name it, beside a plug-in whose file is gone.
  Host.LoadPluginFiles(PluginDir(), {"dsp_gone.dll", "dsp_gain.dll"});
  ASSERT_EQ(Host.LoadedPlugins().size(), 1u);
  ASSERT_TRUE(Host.LoadedPlugins()[0]->Active);
  const TPluginEntry& entry = *Host.LoadedPlugins()[0];
  EXPECT_EQ(entry.Module->hDllInstance, GetModuleHandleA("dsp_gain.dll"));

  const std::vector<short> input = {0, 1, -1, 2, 1000, -1000, 32767, -32768, 12345, -12345};
  std::vector<short> block(2 * input.size());
  std::copy(input.begin(), input.end(), block.begin());
  int32_t size = static_cast<int32_t>(input.size() * 2);
  Host.ProcessPlugins(block.data(), size, 44100);
  EXPECT_EQ(size, 20);
  for (size_t i = 0; i < input.size(); ++i) EXPECT_EQ(block[i], Gain(input[i])) << input[i];
  EXPECT_EQ(block[4], 501);
  EXPECT_EQ(block[7], -16423);
}

TEST_F(PlugInsWinTest, OverrunPluginStaysInItsRoomAndTheFpuComesBack) {
  const TFpState before = SaveFpState();
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_overrun.dll"));
  EXPECT_EQ(SaveFpState(), before);

  // A minute of blocks of every size the capture makes at 44100 Hz (5, 10, 15 and 20 ms), in a
  // working buffer with room for twice the largest block and a canary after it.
  const int maxFrames = 880;
  const size_t room = 2 * 2 * maxFrames;
  std::vector<short> buffer(room + 256, 0x5A5A);
  int fpChanged = 0, canaryHit = 0, wrongSize = 0, notRepeated = 0;
  for (int n = 0; n < 6000; ++n) {
    const int frames = 220 * (1 + n % 4);
    for (int i = 0; i < 2 * frames; ++i) buffer[i] = static_cast<short>(n + i);
    int32_t size = frames * 4 + n % 4;
    Host.ProcessPlugins(buffer.data(), size, 44100);
    fpChanged += !(SaveFpState() == before);
    wrongSize += size != frames * 4;
    notRepeated += buffer[2 * frames + 2 * frames - 1] != buffer[2 * frames - 1];
    canaryHit +=
        !std::all_of(buffer.begin() + room, buffer.end(), [](short s) { return s == 0x5A5A; });
  }
  EXPECT_EQ(fpChanged, 0);
  EXPECT_EQ(canaryHit, 0);
  EXPECT_EQ(wrongSize, 0);
  // The plug-in did write twice the frames each time.
  EXPECT_EQ(notRepeated, 0);
}

TEST_F(PlugInsWinTest, FaultingPluginLeavesTheChainWhileTheOthersGoOn) {
  TPluginDir dir;
  dir.CopyPlugin("dsp_gain.dll", "dsp_gain2.dll");
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_gain.dll"));
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_fault.dll"));
  ASSERT_TRUE(Host.LoadPlugin(dir.Path, "dsp_gain2.dll"));
  const TFpState before = SaveFpState();

  const int frames = 441;
  std::vector<short> block(2 * 2 * frames);
  auto run = [&](short value) {
    std::fill(block.begin(), block.end(), value);
    int32_t size = frames * 4;
    Host.ProcessPlugins(block.data(), size, 44100);
    return size;
  };
  for (int n = 1; n < 100; ++n) {
    ASSERT_EQ(run(10000), frames * 4);
    ASSERT_EQ(block[0], Gain(static_cast<short>(~Gain(10000)))) << n;
  }
  // The hundredth block: the plug-in inverted the first half and then wrote through null.
  EXPECT_EQ(run(10000), frames * 4);
  EXPECT_EQ(block[0], Gain(static_cast<short>(~Gain(10000))));
  EXPECT_EQ(block[2 * frames - 1], Gain(Gain(10000)));
  EXPECT_EQ(Actives(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(SaveFpState(), before);
  for (int n = 0; n < 100; ++n) {
    ASSERT_EQ(run(10000), frames * 4);
    ASSERT_EQ(block[0], Gain(Gain(10000)));
    ASSERT_EQ(block[2 * frames - 1], Gain(Gain(10000)));
  }
  // Released on the main thread when it is removed; the others keep working.
  EXPECT_TRUE(IsLoaded("dsp_fault.dll"));
  Host.UnloadPlugin(1);
  EXPECT_FALSE(IsLoaded("dsp_fault.dll"));
  EXPECT_EQ(Actives(), (std::vector<bool>{true, true}));
  run(10000);
  EXPECT_EQ(block[0], Gain(Gain(10000)));

  // Loaded afresh it faults afresh, and is caught again.
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_fault.dll"));
  for (int n = 0; n < 100; ++n) run(10000);
  EXPECT_EQ(Actives(), (std::vector<bool>{true, true, false}));
  run(10000);
  EXPECT_EQ(block[0], Gain(Gain(10000)));
  Host.DonePlugins();
  EXPECT_FALSE(IsLoaded("dsp_fault.dll"));
  EXPECT_FALSE(IsLoaded("dsp_gain.dll"));
  EXPECT_FALSE(IsLoaded("dsp_gain2.dll"));
}

// The relay's own thread meets the fault while the main thread changes the chain.
TEST_F(PlugInsWinTest, FaultOnTheRelayThreadWhileTheChainChanges) {
  TPluginDir dir;
  dir.CopyPlugin("dsp_gain.dll", "dsp_gain2.dll");
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_gain.dll"));
  std::atomic<bool> stop{false};
  std::atomic<int> passes{0}, wrongSizes{0};
  std::thread relay([&] {
    std::vector<short> block(2 * 2 * 441);
    while (!stop) {
      std::fill(block.begin(), block.end(), 1000);
      int32_t size = 441 * 4;
      Host.ProcessPlugins(block.data(), size, 44100);
      wrongSizes += size != 441 * 4;
      ++passes;
    }
  });
  auto awaitPasses = [&](int n) {
    const int target = passes + n;
    for (int i = 0; i < 5000 && passes < target; ++i) Sleep(1);
    return passes >= target;
  };

  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_fault.dll"));
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(Host.LoadPlugin(dir.Path, "dsp_gain2.dll"));
    ASSERT_TRUE(awaitPasses(5));
    Host.UnloadPlugin(2);
    EXPECT_FALSE(IsLoaded("dsp_gain2.dll"));
  }
  ASSERT_TRUE(awaitPasses(100));
  EXPECT_EQ(Actives(), (std::vector<bool>{true, false}));
  Host.UnloadPlugin(1);
  EXPECT_FALSE(IsLoaded("dsp_fault.dll"));
  ASSERT_TRUE(awaitPasses(5));
  stop = true;
  relay.join();
  EXPECT_EQ(wrongSizes, 0);
  EXPECT_EQ(Actives(), std::vector<bool>{true});
}

// The chain's cost per 10 ms block at 44100 Hz, printed for the benchmarks.
TEST_F(PlugInsWinTest, ChainCostPerBlock) {
  TPluginDir dir;
  dir.CopyPlugin("dsp_gain.dll", "dsp_gain2.dll");
  dir.CopyPlugin("dsp_gain.dll", "dsp_gain3.dll");
  const int frames = 441;
  std::vector<short> block(2 * 2 * frames, 1000);
  auto nsPerBlock = [&] {
    const int blocks = 20000;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < blocks; ++n) {
      int32_t size = frames * 4;
      Host.ProcessPlugins(block.data(), size, 44100);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / blocks;
  };
  const double none = nsPerBlock();
  ASSERT_TRUE(Host.LoadPlugin(PluginDir(), "dsp_gain.dll"));
  const double one = nsPerBlock();
  ASSERT_TRUE(Host.LoadPlugin(dir.Path, "dsp_gain2.dll"));
  ASSERT_TRUE(Host.LoadPlugin(dir.Path, "dsp_gain3.dll"));
  const double three = nsPerBlock();
  // What the host adds to each plug-in call: the guard and the floating-point state.
  const int calls = 1000000;
  const auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < calls; ++n) {
    const TFpState fp = SaveFpState();
    Guard.Call([](void*) {}, nullptr);
    RestoreFpState(fp);
  }
  const double perCall =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
      calls;
  std::printf(
      "measured: plug-in chain per block of 441 frames: none %.0f ns, one gain %.0f ns, "
      "three gains %.0f ns; guarded empty call %.1f ns\n",
      none, one, three, perCall);
  // A tenth of the block's 10 ms is far more than the chain may take.
  EXPECT_LT(three, 1e6);
}

}  // namespace
