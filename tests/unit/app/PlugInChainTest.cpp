#include <algorithm>
#include <cmath>

#include "MainFixture.h"

// The plug-in chain inside the relay: loaded from the settings at start, run on every block after
// the stabilizer, changed while the relay runs.

namespace {

TFakeSpec Gain(double factor) {
  TFakeSpec spec;
  spec.Work = [factor](short* s, int frames) {
    for (int i = 0; i < 2 * frames; ++i) s[i] = static_cast<short>(std::lround(s[i] * factor));
  };
  return spec;
}

int16_t Loudest(const std::vector<int16_t>& samples, size_t last) {
  int16_t m = 0;
  for (size_t i = samples.size() - std::min(last, samples.size()); i < samples.size(); ++i)
    m = std::max<int16_t>(m, static_cast<int16_t>(std::abs(samples[i])));
  return m;
}

}  // namespace

class PlugInChainTest : public MainFixture {
 protected:
  PlugInChainTest() {
    Sim.RecordOutput(Output, 44100 * 2 * 60);
    Ini.Set("Auto", "1");
    Ini.Set("FadeIn", "0");
    Ini.Values["Plugins/Path"] = "C:\\plugins";
  }
};

TEST_F(PlugInChainTest, PlugInsNamedInTheSettingsRunOnEveryBlockInOrder) {
  PlugInFiles.AddFile("dsp_half.dll", Gain(0.5));
  PlugInFiles.AddFile("dsp_third.dll", Gain(1.0 / 3));
  Ini.Values["Plugins/File1"] = "dsp_half.dll";
  Ini.Values["Plugins/File2"] = "dsp_gone.dll";  // no such file: skipped, no entry
  Ini.Values["Plugins/File3"] = "dsp_third.dll";
  Create();
  ASSERT_EQ(Form->PlugIns.LoadedPlugins().size(), 2u);
  RunUntilStatus("Online", 400);
  Run(2000);
  // 8000 halved, then a third: 1333.
  EXPECT_NEAR(Loudest(Sim.Played(Output), 44100), 1333, 3);
  EXPECT_EQ(PlugInFiles.Image("dsp_half.dll")->LastRate, 44100);
  Dialogs.Answer = true;
  EXPECT_TRUE(Form->FormClose());
  EXPECT_EQ(PlugInFiles.LoadedCount(), 0) << "the close unloads every plug-in";
  Form.reset();
}

TEST_F(PlugInChainTest, AddingAndRemovingWhileRelayingLeavesNoGap) {
  PlugInFiles.AddFile("dsp_half.dll", Gain(0.5));
  Create();
  RunUntilStatus("Online", 400);
  Run(2000);
  const double gaps = Sim.OutputStats(Output).UnderrunMs;
  // Each change is heard once the blocks queued before it have played (the buffer, 100 ms).
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(Form->PlugIns.LoadPlugin("C:\\plugins", "dsp_half.dll"));
    Run(250);
    EXPECT_NEAR(Loudest(Sim.Played(Output), 4410), 4000, 10) << round;
    Form->PlugIns.UnloadPlugin(0);
    Run(250);
    EXPECT_NEAR(Loudest(Sim.Played(Output), 4410), 8000, 10) << round;
  }
  EXPECT_EQ(Sim.OutputStats(Output).UnderrunMs, gaps);
  EXPECT_EQ(PlugInFiles.Violations, 0);
}

TEST_F(PlugInChainTest, AFaultingPlugInLeavesTheChainAndTheRelayGoesOn) {
  PlugInFiles.AddFile("dsp_half.dll", Gain(0.5));
  TFakeSpec faulty = Gain(0.5);
  faulty.FaultAtCall = 100;
  PlugInFiles.AddFile("dsp_fault.dll", faulty);
  PlugInFiles.AddFile("dsp_half2.dll", Gain(0.5));
  Ini.Values["Plugins/File1"] = "dsp_half.dll";
  Ini.Values["Plugins/File2"] = "dsp_fault.dll";
  Ini.Values["Plugins/File3"] = "dsp_half2.dll";
  Create();
  ASSERT_EQ(Form->PlugIns.LoadedPlugins().size(), 3u);
  RunUntilStatus("Online", 400);
  Run(3000);
  EXPECT_EQ(Form->LabStatus.Caption(), "Online");
  EXPECT_FALSE(Form->PlugIns.LoadedPlugins()[1]->Active);
  EXPECT_TRUE(Form->PlugIns.LoadedPlugins()[0]->Active);
  EXPECT_TRUE(Form->PlugIns.LoadedPlugins()[2]->Active);
  // The other two still halve: a quarter of 8000.
  EXPECT_NEAR(Loudest(Sim.Played(Output), 44100), 2000, 3);
}
