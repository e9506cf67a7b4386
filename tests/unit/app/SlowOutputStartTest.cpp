// An output that takes its blocks slower than real time for a while after it starts or later, as
// Wine's does (about two thirds of real time, for up to a few seconds at the start and for as
// long as the machine is too busy), or whose done marks only come late for a while: the relay is
// at its target delay as soon as the output keeps pace, in both stabilizer modes, and no block is
// refused on the way.

#include <algorithm>
#include <cmath>
#include <string>

#include "unit/app/MainFixture.h"

namespace {

class SlowOutputStart : public MainFixture, public ::testing::WithParamInterface<TStabMode> {
 protected:
  // Starts a session whose output plays at the given fraction of real time and hands each block
  // back 30 ms late, until Online.
  void StartWithSlowOutput(double pace) {
    Sim.SetLatency(TWaveSide::Output, Output, 30);
    Sim.SetRatePpm(TWaveSide::Output, Output, (pace - 1) * 1e6);
    Ini.Set("StabMode", std::to_string(static_cast<int>(GetParam())));
    Ini.Set("Auto", "1");
    Ini.Set("FadeIn", "0");
    Create();
    RunUntilStatus("Online", 1000);
    ASSERT_EQ(Form->Path.SessionStab.load(), GetParam());
  }

  // The player's queue less its target over ms, sampled after every pass: the mean, and the
  // largest value.
  std::pair<double, double> QueueError(uint64_t ms) {
    double sum = 0, most = -1;
    int n = 0;
    for (uint64_t t = 0; t < ms; t += 10, ++n) {
      Run(10);
      const double e = Form->Player.QueuedTime - Form->Player.BufferTime;
      sum += e;
      most = std::max(most, e);
    }
    return {sum / n, most};
  }
};

TEST_P(SlowOutputStart, StartsAtTheTargetOnceTheOutputKeepsPace) {
  StartWithSlowOutput(0.65);
  const uint64_t refused = Form->Path.RefusedBlocks;
  Run(2000);
  // The output catches up with real time.
  Sim.SetRatePpm(TWaveSide::Output, Output, 0);
  double largest = 0;  // the smooth loop's largest correction, ppm
  for (int i = 0; i < 100; ++i) {
    Run(10);
    largest = std::max(largest, std::fabs(Form->Path.CorrectionPpm()));
  }
  const auto [mean, most] = QueueError(2000);
  // The pile that was cut is no error to correct: the smooth loop does not run to its bound to
  // steer the queue down from where it stood before the cut, below the target; it only settles
  // what the cut left within a few ms of the target.
  EXPECT_LT(largest, 0.5 * TResampler::MaxDeviation * 1e6);
  // Within the trim's tolerance of 20 ms, which is left to the stabilizer, and a Large block of
  // 15 ms, by which the queue moves.
  EXPECT_LE(std::fabs(mean), 0.035) << "mean queue off the target by " << mean * 1000 << " ms";
  EXPECT_LE(most, 0.05) << "queue up to " << most * 1000 << " ms over the target";
  // The pile was left out in pieces as it formed, not refused block by block at twice the
  // target.
  EXPECT_EQ(Form->Path.RefusedBlocks, refused);
  EXPECT_GT(Form->Path.TrimmedFrames(), 0);
  EXPECT_EQ(Sim.InputStats(Input).FramesLost, 0u);
}

TEST_P(SlowOutputStart, AnOutputThatNeverKeepsPaceLosesNoBlockAtThePlayersLimit) {
  StartWithSlowOutput(0.75);
  const uint64_t refused = Form->Path.RefusedBlocks;
  const int64_t trimmed = Form->Path.TrimmedFrames();
  Run(1000);
  const auto [mean, most] = QueueError(5000);
  // The pile is cut back before the player would refuse blocks at twice the target.
  EXPECT_LT(most, Form->Player.BufferTime) << "queue up to " << most * 1000 << " ms over";
  EXPECT_GT(mean, 0);
  EXPECT_EQ(Form->Path.RefusedBlocks, refused);
  EXPECT_GT(Form->Path.TrimmedFrames(), trimmed);
  EXPECT_EQ(Sim.InputStats(Input).FramesLost, 0u);
}

TEST_P(SlowOutputStart, DoneMarksThatComeLateForAWhileCutNothing) {
  StartWithSlowOutput(1.0);
  Run(3000);
  const int64_t trimmed = Form->Path.TrimmedFrames();
  const double underrun = Sim.OutputStats(Output).UnderrunMs;
  // The output plays on at real time, but for a second its blocks are handed back 60 ms later
  // than before: the queue reads 60 ms long, then the marks catch up.
  Sim.SetLatency(TWaveSide::Output, Output, 90);
  Run(1000);
  Sim.SetLatency(TWaveSide::Output, Output, 30);
  Run(1000);
  const auto [mean, most] = QueueError(2000);
  EXPECT_LE(std::fabs(mean), 0.035) << "mean queue off the target by " << mean * 1000 << " ms";
  EXPECT_LE(most, 0.05) << "queue up to " << most * 1000 << " ms over the target";
  // Nothing was left out and the output never ran dry: the delay is what it was.
  EXPECT_EQ(Form->Path.TrimmedFrames(), trimmed);
  EXPECT_EQ(Sim.OutputStats(Output).UnderrunMs, underrun);
}

TEST_P(SlowOutputStart, AnOutputThatFallsBehindLaterIsBackAtTheTargetOnceItKeepsPace) {
  StartWithSlowOutput(1.0);
  Run(3000);
  const uint64_t refused = Form->Path.RefusedBlocks;
  const int64_t trimmed = Form->Path.TrimmedFrames();
  // A busy spell: the output takes two thirds of real time for two seconds.
  Sim.SetRatePpm(TWaveSide::Output, Output, -350000);
  Run(2000);
  Sim.SetRatePpm(TWaveSide::Output, Output, 0);
  // The pile is measured once the output has kept pace for a while.
  Run(TStartTrim::SettleWindows * TOutputPace::WindowMs + 1000);
  const auto [mean, most] = QueueError(2000);
  EXPECT_LE(std::fabs(mean), 0.035) << "mean queue off the target by " << mean * 1000 << " ms";
  EXPECT_LE(most, 0.05) << "queue up to " << most * 1000 << " ms over the target";
  EXPECT_EQ(Form->Path.RefusedBlocks, refused);
  EXPECT_GT(Form->Path.TrimmedFrames(), trimmed);
  // At pace, nothing more is left out: the stabilizer holds the queue.
  const int64_t settled = Form->Path.TrimmedFrames();
  Run(5000);
  EXPECT_EQ(Form->Path.TrimmedFrames(), settled);
}

INSTANTIATE_TEST_SUITE_P(BothModes, SlowOutputStart,
                         ::testing::Values(TStabMode::Block, TStabMode::Smooth),
                         [](const ::testing::TestParamInfo<TStabMode>& info) {
                           return std::string(info.param == TStabMode::Smooth ? "Smooth" : "Block");
                         });

}  // namespace
