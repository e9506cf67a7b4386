#include <algorithm>
#include <cmath>

#include "MainFixture.h"

namespace {

int16_t Loudest(const std::vector<int16_t>& block) {
  int16_t m = 0;
  for (int16_t s : block) m = std::max<int16_t>(m, s < 0 ? -1 - s : s);
  return m;
}

}  // namespace

class BlockPathTest : public MainFixture {
 protected:
  void StartOnline(int send) {
    Ini.Set("Auto", "1");
    Ini.Set("Send", std::to_string(send));
    Ini.Set("FadeIn", "0");
    Ini.Set("Blocksize", "1");
    Create();
    RunUntilStatus("Online", 400);
    Run(1000);
    Stream.Blocks.clear();
    Stream.Rates.clear();
  }
};

TEST_F(BlockPathTest, RecordedTapHandsOnEveryBlockInFullEvenWhileThePlayerRefuses) {
  StartOnline(0);
  // The output stops taking blocks back: its queue fills and the player refuses.
  Sim.Unplug(TWaveSide::Output, Output, TSimUnplug::Silent);
  const uint64_t before = Sim.InputStats(Input).BlocksRecorded;
  Run(600);
  const uint64_t recorded = Sim.InputStats(Input).BlocksRecorded - before;
  EXPECT_GT(Form->Player.QueuedTime, 2 * Form->Player.BufferTime);
  ASSERT_GE(Stream.Blocks.size() + 2, recorded);
  for (const auto& b : Stream.Blocks) EXPECT_EQ(b.size() * 2, 1760u);
  EXPECT_EQ(Stream.Rates.front(), 44100);
}

TEST_F(BlockPathTest, AfterPluginsTapCarriesTheStabilizedSizeWithoutVolume) {
  StartOnline(1);
  Form->sVolume.SetValue(50);
  Form->Stab.StabValue = 3;
  Run(200);
  ASSERT_FALSE(Stream.Blocks.empty());
  // Three units of Blocksize 1 (two frames each) longer than the 440 recorded frames: the first
  // block after the change carries them, whatever the stabilizer decides after it.
  EXPECT_EQ(Stream.Blocks.front().size() * 2, 1784u);
  EXPECT_NEAR(Loudest(Stream.Blocks.front()), 8000, 20);
}

TEST_F(BlockPathTest, PlayedTapsDifferByTheVolume) {
  for (int send : {2, 3}) {
    SCOPED_TRACE(send);
    Form.reset();
    Stream.Blocks.clear();
    StartOnline(send);
    Form->SetInsideVolume(0);
    Run(1000);
    ASSERT_FALSE(Stream.Blocks.empty());
    const int16_t loudest = Loudest(Stream.Blocks.back());
    if (send == 2)
      EXPECT_NEAR(loudest, 8000, 20) << "as handed to the player";
    else
      EXPECT_EQ(loudest, 0) << "as heard at internal volume 0";
  }
}

TEST_F(BlockPathTest, VolumeChainTruncatesTheProduct) {
  StartOnline(0);
  Form->sVolume.SetValue(250);
  Form->SetInsideVolume(33);
  EXPECT_EQ(Form->Player.Volume, 82);
  Form->SetInsideVolume(150);
  EXPECT_EQ(Form->InVolume.Value(), 100);
  EXPECT_EQ(Form->Player.Volume, 250);
  Form->sVolume.SetValue(0);
  EXPECT_EQ(Form->Player.Volume, 0);
  EXPECT_EQ(Form->LVolume.Caption(), "0%");
}

TEST_F(BlockPathTest, InternalVolumeClickMutesAndRestoresWithTheFades) {
  Ini.Set("FadeOut", "0");
  StartOnline(0);
  Form->Setting.FadeIn = 1;
  ASSERT_EQ(Form->InVolume.Value(), 100);
  Form->InVolume.MouseUp();
  EXPECT_EQ(Form->InVolume.Value(), 0) << "FadeOut 0 mutes at once";
  Form->InVolume.MouseUp();
  Run(500);
  EXPECT_NEAR(Form->InVolume.Value(), 50, 3);
  Run(600);
  EXPECT_EQ(Form->InVolume.Value(), 100);
}

TEST_F(BlockPathTest, DisplayShowsQueueAndStabilizerText) {
  StartOnline(0);
  Form->Stab.StabValue = -3;
  Run(10);
  EXPECT_EQ(Form->StabLevel.Value(), -3);
  EXPECT_EQ(Form->StabLevel.Text(), "Decrease: -3");
  Form->Stab.StabValue = 25;
  Run(10);
  EXPECT_EQ(Form->StabLevel.Value(), 20);
  EXPECT_EQ(Form->StabLevel.Text(), "Increase: 25");
  const int q = Form->GBuffer.Value();
  EXPECT_GT(q, 50);
  char text[32];
  std::snprintf(text, sizeof text, "%4d ms", q);
  EXPECT_EQ(Form->GBuffer.Text(), text);
  Form->Stab.StabValue = 0;
  Form->SBStopClick();
  Run(10);
  EXPECT_EQ(Form->StabLevel.Text(), "Normal");
  EXPECT_EQ(Form->GBuffer.Value(), 0);
  EXPECT_EQ(Form->GBuffer.Text(), "");
}

TEST_F(BlockPathTest, SilenceShowsAfterSilenceTimeAndSoundRestoresOnline) {
  Ini.Set("SilenceTime", "1");
  Ini.Set("RestoreTime", "0.5");
  StartOnline(0);
  Notifier.Codes.clear();
  Sim.SetSignal(Input, TSimSignal::Silence());
  RunUntilStatus("Silence", 1500);
  EXPECT_TRUE(Form->Session.SilenceFlag());
  ASSERT_EQ(Notifier.Codes.size(), 1u);
  EXPECT_EQ(Notifier.Codes[0], ntfSilence);
  Sim.SetSignal(Input, TSimSignal::Sine(440, 4000));
  RunUntilStatus("Online", 1000);
  EXPECT_FALSE(Form->Session.SilenceFlag());
  EXPECT_EQ(Notifier.Codes.back(), ntfSound);
}

TEST(Levels, CalcLevelUsesWholeFramesAndTheNegativeMagnitudeRule) {
  const int16_t block[4] = {-32768, 100, 5000, 5000};
  const TLevels oneFrame = CalcLevel(block, 7);
  EXPECT_NEAR(oneFrame.Left, -0.0003, 0.0001);
  EXPECT_NEAR(oneFrame.Right, 20 * std::log10(100 / 32768.0), 1e-9);
  const TLevels none = CalcLevel(block, 0);
  EXPECT_DOUBLE_EQ(none.Left, -90.3);
  EXPECT_DOUBLE_EQ(none.Right, -90.3);
  EXPECT_DOUBLE_EQ(PeakToDB(0), -90.3);
}
