#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfenv>
#include <memory>
#include <string>
#include <vector>

#include "FakePlugins.h"
#include "dsp/FpState.h"
#include "dsp/OVPlugIns.h"

namespace {

const std::string Dir = "C:\\plugins";

// Each sample becomes sample * 10 + tag: the order of the tags in a result is the chain's order.
TFakeSpec Tag(int tag) {
  TFakeSpec spec;
  spec.Work = [tag](short* s, int frames) {
    for (int i = 0; i < 2 * frames; ++i) s[i] = static_cast<short>(s[i] * 10 + tag);
  };
  return spec;
}

TFakeSpec FailingInit(int result) {
  TFakeSpec spec;
  spec.InitResult = result;
  return spec;
}

// Rounding up, flush-to-zero, x87 single precision: what careless plug-ins leave behind.
void SpoilFpState() {
  std::fesetround(FE_UPWARD);
  _mm_setcsr(_mm_getcsr() | 0x8040u);
  TFpState state = SaveFpState();
  state.X87Control = static_cast<uint16_t>(state.X87Control & ~0x0300);
  RestoreFpState(state);
}

class PlugInHostTest : public ::testing::Test {
 protected:
  // One block of equal samples; its size in bytes is 4 * frames.
  static std::vector<short> Block(int frames, short value) {
    return std::vector<short>(2 * 2 * frames, value);
  }
  int32_t Run(std::vector<short>& block, int32_t size, int32_t rate = 44100) {
    Host.ProcessPlugins(block.data(), size, rate);
    return size;
  }
  short RunOne(short value) {
    auto block = Block(4, value);
    Run(block, 16);
    return block[0];
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : Host.LoadedPlugins()) names.push_back(e->FileName);
    return names;
  }
  std::vector<bool> Actives() const {
    std::vector<bool> active;
    for (const auto& e : Host.LoadedPlugins()) active.push_back(e->Active.load());
    return active;
  }

  TFakeLibraries Libs;
  TFakeGuard Guard;
  TPlugInHost Host{Libs, Guard};
};

TEST_F(PlugInHostTest, LoadsInRequestOrderAndKeepsFailuresAsInactiveEntries) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  Libs.AddFile("dsp_init.dll", FailingInit(3));
  TFakeSpec noEntry;
  noEntry.HasEntry = false;
  Libs.AddFile("dsp_noentry.dll", noEntry);
  TFakeSpec noModule;
  noModule.NullModule = true;
  Libs.AddFile("dsp_nomodule.dll", noModule);
  Libs.AddFile("dsp_b.dll", Tag(2));
  Libs.AddPlainFile("dsp_text.dll");
  void* const window = reinterpret_cast<void*>(0x1234);
  Host.SetParentWindow(window);

  EXPECT_TRUE(Host.LoadPlugin(Dir, "dsp_a.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_init.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_noentry.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_nomodule.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_text.dll"));
  EXPECT_TRUE(Host.LoadPlugin(Dir, "dsp_b.dll"));

  EXPECT_EQ(Names(), (std::vector<std::string>{"dsp_a.dll", "dsp_init.dll", "dsp_noentry.dll",
                                               "dsp_nomodule.dll", "dsp_text.dll", "dsp_b.dll"}));
  EXPECT_EQ(Actives(), (std::vector<bool>{true, false, false, false, false, true}));
  // Only the two active plug-ins keep their libraries; the others were released where loaded.
  EXPECT_EQ(Libs.LoadedCount(), 2);
  EXPECT_EQ(Libs.Frees, 3);
  for (int i = 1; i <= 4; ++i) {
    const TPluginEntry& e = *Host.LoadedPlugins()[i];
    EXPECT_EQ(e.Handle, nullptr);
    EXPECT_EQ(e.Module, nullptr);
  }

  const TPluginEntry& a = *Host.LoadedPlugins()[0];
  TFakeImage* image = Libs.Image("dsp_a.dll");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(a.Handle, image);
  EXPECT_EQ(a.Header, &image->Header);
  EXPECT_EQ(a.Module, &image->Module);
  EXPECT_EQ(image->EntryWindow, window);
  EXPECT_EQ(image->Module.hwndParent, window);
  EXPECT_EQ(image->Module.hDllInstance, a.Handle);
  EXPECT_EQ(image->Inits, 1);

  EXPECT_EQ(RunOne(0), 12);
}

TEST_F(PlugInHostTest, SettingsListLoadsOnlyFilesThatExist) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  Libs.AddFile("dsp_b.dll", Tag(2));
  Libs.AddPlainFile("dsp_text.dll");
  Host.LoadPluginFiles(Dir, {"dsp_b.dll", "dsp_gone.dll", "", "dsp_text.dll", "dsp_a.dll"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"dsp_b.dll", "dsp_text.dll", "dsp_a.dll"}));
  EXPECT_EQ(Actives(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(RunOne(0), 21);
  Host.LoadPluginFiles("C:\\nowhere", {"dsp_c.dll"});
  EXPECT_EQ(Names().size(), 3u);
}

TEST_F(PlugInHostTest, RefusesTheSameLibraryTwice) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  Libs.AddAlias("DSP_A~1.DLL", "dsp_a.dll");

  EXPECT_FALSE(Host.LoadPlugin("C:\\nowhere", "dsp_a.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, ""));
  EXPECT_EQ(Libs.LoadCalls, 0);
  EXPECT_TRUE(Host.LoadPlugin(Dir, "dsp_a.dll"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_a.dll"));
  // The same file in other letters, and under its short name.
  EXPECT_FALSE(Host.LoadPlugin(Dir, "DSP_A.DLL"));
  EXPECT_FALSE(Host.LoadPlugin(Dir, "DSP_A~1.DLL"));

  EXPECT_EQ(Names(), std::vector<std::string>{"dsp_a.dll"});
  TFakeImage* image = Libs.Image("dsp_a.dll");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->References, 1);
  EXPECT_EQ(image->Inits, 1);
  EXPECT_EQ(RunOne(0), 1);
}

TEST_F(PlugInHostTest, ScanListsPluginFilesSortedWithoutRegardToCase) {
  Libs.Listing = {{".", true},           {"..", true},         {"dsp_b.dll", false},
                  {"dsp_dir.dll", true}, {"DSP_A.DLL", false}, {"Dsp_c.dll", false}};
  Host.ScanPlugins(Dir);
  EXPECT_EQ(Libs.LastSearch, Dir);
  EXPECT_EQ(Libs.LastPattern, "dsp*.dll");
  EXPECT_EQ(Host.FoundPlugins(), (std::vector<std::string>{"DSP_A.DLL", "dsp_b.dll", "Dsp_c.dll"}));

  Libs.LastSearch.clear();
  Host.ScanPlugins("C:\\nowhere");
  EXPECT_TRUE(Host.FoundPlugins().empty());
  Host.ScanPlugins(Dir);
  Host.ScanPlugins("");
  EXPECT_TRUE(Host.FoundPlugins().empty());
}

TEST_F(PlugInHostTest, ChainRunsActivePluginsInOrderAndPositionsStay) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  Libs.AddFile("dsp_b.dll", FailingInit(1));
  Libs.AddFile("dsp_c.dll", Tag(3));
  Host.LoadPlugin(Dir, "dsp_a.dll");
  Host.LoadPlugin(Dir, "dsp_b.dll");
  Host.LoadPlugin(Dir, "dsp_c.dll");
  EXPECT_EQ(RunOne(0), 13);

  Host.UnloadPlugin(-1);
  Host.UnloadPlugin(3);
  EXPECT_EQ(Names().size(), 3u);
  Host.ConfigPlugin(-1);
  Host.ConfigPlugin(1);
  Host.ConfigPlugin(3);
  Host.ConfigPlugin(2);
  EXPECT_EQ(Libs.Image("dsp_a.dll")->Configs, 0);
  EXPECT_EQ(Libs.Image("dsp_c.dll")->Configs, 1);

  const int freesBefore = Libs.Frees;
  Host.UnloadPlugin(1);
  EXPECT_EQ(Names(), (std::vector<std::string>{"dsp_a.dll", "dsp_c.dll"}));
  EXPECT_EQ(Libs.Frees, freesBefore);
  EXPECT_EQ(RunOne(0), 13);

  Host.UnloadPlugin(0);
  EXPECT_EQ(Names(), std::vector<std::string>{"dsp_c.dll"});
  EXPECT_EQ(Libs.QuitOrder, std::vector<std::string>{"dsp_a.dll"});
  EXPECT_EQ(Libs.Image("dsp_a.dll"), nullptr);
  EXPECT_EQ(RunOne(0), 3);
}

TEST_F(PlugInHostTest, BlocksLeaveAsWholeFrames) {
  auto block = Block(300, 7);
  EXPECT_EQ(Run(block, 1001), 1000);
  EXPECT_EQ(Run(block, 3), 0);
  EXPECT_EQ(Run(block, 0), 0);
  EXPECT_EQ(Run(block, -8), 0);

  TFakeSpec more;
  more.Result = [](int frames) { return frames + 7; };
  Libs.AddFile("dsp_more.dll", more);
  TFakeSpec none;
  none.Result = [](int) { return 0; };
  Libs.AddFile("dsp_none.dll", none);
  Host.LoadPlugin(Dir, "dsp_more.dll");
  Host.LoadPlugin(Dir, "dsp_none.dll");

  EXPECT_EQ(Run(block, 1001, 48000), 1000);
  for (const char* name : {"dsp_more.dll", "dsp_none.dll"}) {
    const TFakeImage& image = *Libs.Image(name);
    EXPECT_EQ(image.Calls, 1);
    EXPECT_EQ(image.LastFrames, 250);
    EXPECT_EQ(image.LastBps, 16);
    EXPECT_EQ(image.LastNch, 2);
    EXPECT_EQ(image.LastRate, 48000);
  }
  // Less than a frame reaches no plug-in.
  EXPECT_EQ(Run(block, 3), 0);
  EXPECT_EQ(Libs.Image("dsp_more.dll")->Calls, 1);
}

TEST_F(PlugInHostTest, PluginWritingTwiceItsFramesStaysInTheRoomGiven) {
  TFakeSpec overrun;
  overrun.Work = [](short* s, int frames) {
    for (int i = 0; i < 2 * frames; ++i) s[2 * frames + i] = s[i];
  };
  overrun.Result = [](int frames) { return 2 * frames; };
  Libs.AddFile("dsp_overrun.dll", overrun);
  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_overrun.dll"));

  for (int32_t bytes : {4, 1001, 1764, 3528, 7057}) {
    const int frames = bytes / 4;
    // Exactly the room the block path gives: AddressSanitizer reports any write past it.
    auto exact = std::make_unique<short[]>(2 * 2 * frames);
    for (int i = 0; i < 2 * frames; ++i) exact[i] = static_cast<short>(i);
    int32_t size = bytes;
    Host.ProcessPlugins(exact.get(), size, 44100);
    EXPECT_EQ(size, frames * 4);
    EXPECT_EQ(exact[2 * frames + 2 * frames - 1], static_cast<short>(2 * frames - 1));

    // And without the sanitizer: a canary past the room.
    std::vector<short> guarded(2 * 2 * frames + 64, 0x5A5A);
    size = bytes;
    Host.ProcessPlugins(guarded.data(), size, 44100);
    for (int i = 2 * 2 * frames; i < static_cast<int>(guarded.size()); ++i)
      ASSERT_EQ(guarded[i], 0x5A5A) << bytes;
  }
}

TEST_F(PlugInHostTest, FloatingPointStateIsRestoredAfterEveryCall) {
  TFakeSpec spoiler;
  spoiler.InInit = &SpoilFpState;
  spoiler.InModify = &SpoilFpState;
  Libs.AddFile("dsp_spoil.dll", spoiler);
  TFpState seen;
  int seenRounding = -1;
  TFakeSpec watcher;
  watcher.InModify = [&] {
    seen = SaveFpState();
    seenRounding = std::fegetround();
  };
  Libs.AddFile("dsp_watch.dll", watcher);

  const TFpState before = SaveFpState();
  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_spoil.dll"));
  EXPECT_EQ(SaveFpState(), before);
  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_watch.dll"));
  for (int i = 0; i < 3; ++i) {
    RunOne(1);
    EXPECT_EQ(seen, before);
    EXPECT_EQ(seenRounding, FE_TONEAREST);
    EXPECT_EQ(SaveFpState(), before);
  }
}

TEST_F(PlugInHostTest, FaultingPluginLeavesTheChainAndIsReleasedOnUnload) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  TFakeSpec fault;
  fault.Work = [](short* s, int frames) {
    for (int i = 0; i < 2 * frames; ++i) s[i] = static_cast<short>(-s[i]);
  };
  fault.FaultAtCall = 3;
  Libs.AddFile("dsp_fault.dll", fault);
  Libs.AddFile("dsp_c.dll", Tag(3));
  Host.LoadPlugin(Dir, "dsp_a.dll");
  Host.LoadPlugin(Dir, "dsp_fault.dll");
  Host.LoadPlugin(Dir, "dsp_c.dll");

  EXPECT_EQ(RunOne(2), -207);
  EXPECT_EQ(RunOne(2), -207);
  // The faulting call: the block goes on as the plug-in left it.
  EXPECT_EQ(RunOne(2), -207);
  EXPECT_EQ(Actives(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(RunOne(2), 213);
  EXPECT_EQ(RunOne(2), 213);
  TFakeImage* image = Libs.Image("dsp_fault.dll");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Calls, 3);
  // Released on the main thread, not by the chain.
  EXPECT_FALSE(image->Quit);
  Host.ConfigPlugin(1);
  EXPECT_EQ(image->Configs, 0);
  // A faulted plug-in cannot come back under its own name while its entry stays.
  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_fault.dll"));

  Host.UnloadPlugin(1);
  EXPECT_EQ(Libs.QuitOrder, std::vector<std::string>{"dsp_fault.dll"});
  EXPECT_EQ(Libs.Image("dsp_fault.dll"), nullptr);
  EXPECT_EQ(RunOne(2), 213);
  EXPECT_EQ(Libs.Violations, 0);
}

TEST_F(PlugInHostTest, FaultsInInitAndQuit) {
  TFakeSpec badInit;
  badInit.FaultInInit = true;
  Libs.AddFile("dsp_init.dll", badInit);
  TFakeSpec badQuit;
  badQuit.FaultInQuit = true;
  Libs.AddFile("dsp_quit.dll", badQuit);
  const TFpState before = SaveFpState();

  EXPECT_FALSE(Host.LoadPlugin(Dir, "dsp_init.dll"));
  EXPECT_EQ(Actives(), std::vector<bool>{false});
  EXPECT_EQ(Libs.Image("dsp_init.dll"), nullptr);
  EXPECT_EQ(SaveFpState(), before);

  ASSERT_TRUE(Host.LoadPlugin(Dir, "dsp_quit.dll"));
  Host.UnloadPlugin(1);
  EXPECT_EQ(Names(), std::vector<std::string>{"dsp_init.dll"});
  // Its Quit faulted: the library is left loaded rather than unmapped under what it left behind.
  TFakeImage* image = Libs.Image("dsp_quit.dll");
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image->Quit);
}

TEST_F(PlugInHostTest, DonePluginsUnloadsEverythingFirstToLast) {
  Libs.AddFile("dsp_a.dll", Tag(1));
  Libs.AddFile("dsp_b.dll", FailingInit(1));
  Libs.AddFile("dsp_c.dll", Tag(3));
  Libs.Listing = {{"dsp_a.dll", false}};
  Host.ScanPlugins(Dir);
  for (const char* name : {"dsp_a.dll", "dsp_b.dll", "dsp_c.dll"}) Host.LoadPlugin(Dir, name);

  Host.DonePlugins();
  EXPECT_TRUE(Host.LoadedPlugins().empty());
  EXPECT_TRUE(Host.FoundPlugins().empty());
  EXPECT_EQ(Libs.QuitOrder, (std::vector<std::string>{"dsp_a.dll", "dsp_c.dll"}));
  EXPECT_EQ(Libs.LoadedCount(), 0);
  EXPECT_EQ(RunOne(5), 5);

  // A new start begins empty; a host that goes unloads what it holds.
  Host.LoadPlugin(Dir, "dsp_a.dll");
  Host.InitPlugins();
  EXPECT_TRUE(Host.LoadedPlugins().empty());
  EXPECT_EQ(Libs.LoadedCount(), 0);
  {
    TPlugInHost other(Libs, Guard);
    other.LoadPlugin(Dir, "dsp_c.dll");
    EXPECT_EQ(Libs.LoadedCount(), 1);
  }
  EXPECT_EQ(Libs.LoadedCount(), 0);
}

}  // namespace
