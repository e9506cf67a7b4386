#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "SmoothRig.h"
#include "app/SmoothStabilizer.h"
#include "dsp/Sinad.h"

namespace {

constexpr int32_t Rate = 44100;
constexpr int32_t Block = 220;  // 5 ms
constexpr double Target = 0.1;
constexpr double Bound = TResampler::MaxDeviation;
const double Reach = TSmoothTuning{}.FarReach;
constexpr double Step = 1.0 / TResampler::Denominator;

// Feeds blocks of a 440 Hz tone with the queue held at a fixed value, as if the output took
// exactly what is given; returns the frames written.
struct TFeeder {
  explicit TFeeder(TSmoothStabilizer& s)
      : Stab(s), Out(2 * TSmoothStabilizer::OutputCapacity(Block)) {
    for (int32_t i = 0; i < Block; ++i) {
      const auto v =
          static_cast<int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * 440 * i / Rate)));
      In.push_back(v);
      In.push_back(v);
    }
  }
  // Blocks for about seconds of audio.
  int64_t Feed(double seconds, double queued, std::vector<int16_t>* keep = nullptr,
               bool steer = true) {
    int64_t written = 0;
    for (auto k = std::lround(seconds * Rate / Block); k > 0; --k) {
      const int32_t n =
          Stab.Process(In.data(), Block, Out.data(), TSmoothStabilizer::OutputCapacity(Block),
                       queued, Target, steer);
      written += n;
      if (keep) keep->insert(keep->end(), Out.begin(), Out.begin() + 2 * n);
      MaxRatio = std::max(MaxRatio, Stab.Ratio());
      MinRatio = std::min(MinRatio, Stab.Ratio());
      MaxFrames = std::max(MaxFrames, n);
    }
    return written;
  }
  TSmoothStabilizer& Stab;
  std::vector<int16_t> In, Out;
  double MaxRatio = 1, MinRatio = 1;
  int32_t MaxFrames = 0;
};

TEST(SmoothStabilizer, ShortQueueStretchesLongQueueSqueezes) {
  for (double offset : {-0.05, -0.012, 0.012, 0.05}) {
    TSmoothStabilizer stab;
    ASSERT_TRUE(stab.Reset(Rate));
    TFeeder feeder(stab);
    const double seconds = 2;
    const int64_t written = feeder.Feed(seconds, Target + offset);
    const auto blocks = std::lround(seconds * Rate / Block);
    if (offset < 0) {
      EXPECT_GT(stab.CorrectionPpm(), 0) << offset;
      EXPECT_GT(stab.Ratio(), 1) << offset;
      EXPECT_GT(written, blocks * Block) << offset;
    } else {
      EXPECT_LT(stab.CorrectionPpm(), 0) << offset;
      EXPECT_LT(stab.Ratio(), 1) << offset;
      EXPECT_LT(written, blocks * Block - stab.Ratio() * 40) << offset;
    }
    EXPECT_NEAR(stab.CorrectionPpm(), (stab.Ratio() - 1) * 1e6, 1e-6);
  }
}

TEST(SmoothStabilizer, WithoutSteeringTheRatioInUseStaysAndNothingIsLearnt) {
  TSmoothStabilizer stab;
  ASSERT_TRUE(stab.Reset(Rate));
  TFeeder feeder(stab);
  // A queue far over the target while the loop is not steering: nothing changes (the filter's
  // delay holds back a few dozen frames).
  EXPECT_NEAR(feeder.Feed(2, Target + 0.08, nullptr, false),
              std::lround(2.0 * Rate / Block) * Block, 64);
  EXPECT_EQ(stab.Ratio(), 1);
  EXPECT_EQ(stab.AverageQueue(), 0);
  // A correction in use goes on at its ratio, and the loop picks up from the queue it then sees,
  // not from what it was shown meanwhile.
  feeder.Feed(2, Target - 0.05);
  const double ratio = stab.Ratio();
  ASSERT_GT(ratio, 1);
  feeder.Feed(2, Target + 0.3, nullptr, false);
  EXPECT_EQ(stab.Ratio(), ratio);
  EXPECT_LT(stab.AverageQueue(), Target);
}

TEST(SmoothStabilizer, CorrectionStaysWithinItsBound) {
  // A queue that never moves (an output that stopped taking audio): the correction runs to its
  // reach and stays there, no integral builds up on top, and the ratio never leaves the bound.
  for (double queued : {0.0, 10.0}) {
    TSmoothStabilizer stab;
    ASSERT_TRUE(stab.Reset(Rate));
    TFeeder feeder(stab);
    feeder.Feed(120, queued);
    EXPECT_LE(feeder.MaxRatio, 1 + Bound + Step);
    EXPECT_GE(feeder.MinRatio, 1 - Bound - Step);
    EXPECT_NEAR(std::fabs(stab.CorrectionPpm()), Reach * 1e6, Step * 1e6);
    EXPECT_LE(feeder.MaxFrames, std::ceil(Block * (1 + Bound)) + 1);
  }
}

TEST(SmoothStabilizer, AgainstALearntDriftItReachesFurtherButNotBeyondTheBound) {
  // A queue drifting away for a while teaches the loop a drift; a large excess on top then
  // takes the ratio past its reach to the resampler's bound, and never beyond. (The loop sees
  // the queue with three quarters of the block added.)
  const double seen = Target - 0.75 * Block / Rate;
  for (double sign : {1.0, -1.0}) {
    TSmoothStabilizer stab;
    ASSERT_TRUE(stab.Reset(Rate));
    TFeeder feeder(stab);
    for (int i = 0; i < 100; ++i) feeder.Feed(0.1, seen + sign * (0.007 + i * 0.00003));
    ASSERT_GT(-sign * stab.CorrectionPpm(), 0.5 * Reach * 1e6);
    feeder.Feed(2, seen + sign * 0.2);
    EXPECT_NEAR(-sign * stab.CorrectionPpm(), Bound * 1e6, Step * 1e6) << sign;
    EXPECT_LE(feeder.MaxRatio, 1 + Bound + Step);
    EXPECT_GE(feeder.MinRatio, 1 - Bound - Step);
  }
}

TEST(SmoothStabilizer, HeldAtTheBoundItLetsGoAtOnce) {
  // A minute at the bound (the queue far too short) must not wind the integral up: once the
  // queue is at its target the correction falls back within two seconds (the short average's
  // time) instead of running on.
  TSmoothStabilizer stab;
  ASSERT_TRUE(stab.Reset(Rate));
  TFeeder feeder(stab);
  feeder.Feed(60, 0.0);
  ASSERT_NEAR(stab.CorrectionPpm(), Reach * 1e6, Step * 1e6);
  feeder.Feed(2, Target);
  EXPECT_LT(stab.CorrectionPpm(), 0.2 * Reach * 1e6);
}

TEST(SmoothStabilizer, ResetForgetsTheLastSession) {
  TSmoothStabilizer used;
  ASSERT_TRUE(used.Reset(Rate));
  TFeeder old(used);
  // Far too much queued for a minute: the integral has built up the whole correction.
  old.Feed(60, Target + 0.03);
  ASSERT_LT(used.CorrectionPpm(), -5000);

  ASSERT_TRUE(used.Reset(Rate));
  EXPECT_EQ(used.CorrectionPpm(), 0);
  EXPECT_EQ(used.Ratio(), 1);
  EXPECT_EQ(used.AverageQueue(), 0);
  TSmoothStabilizer fresh;
  ASSERT_TRUE(fresh.Reset(Rate));
  std::vector<int16_t> a, b;
  TFeeder(used).Feed(3, Target - 0.001, &a);
  TFeeder(fresh).Feed(3, Target - 0.001, &b);
  EXPECT_EQ(a, b);
}

TEST(SmoothStabilizer, AfterACutItSettlesTheQueueAtTheTargetOnce) {
  TSmoothStabilizer stab;
  ASSERT_TRUE(stab.Reset(Rate));
  TFeeder feeder(stab);
  // 8 ms short before a block, about 4 ms with three quarters of the block: within the band,
  // where the near loop leaves it for minutes.
  const double shortQueue = Target - 0.008;
  feeder.Feed(5, shortQueue);
  EXPECT_EQ(stab.Ratio(), 1);
  // After a cut the same error is taken up at once...
  stab.QueueCut();
  feeder.Feed(0.3, shortQueue);
  EXPECT_GT(stab.CorrectionPpm(), 1000);
  // ...until the queue is at the target; then the band is the usual one again.
  feeder.Feed(3, Target);
  const double held = stab.Ratio();
  feeder.Feed(5, shortQueue);
  EXPECT_EQ(stab.Ratio(), held);
}

TEST(SmoothStabilizer, SettledAfterACutItHoldsTheDriftKnownBeforeTheCut) {
  TSmoothStabilizer stab;
  ASSERT_TRUE(stab.Reset(Rate));
  TFeeder feeder(stab);
  // The queue before a block that, with three quarters of the block, is at the target.
  const double atTarget = Target - 0.75 * Block / Rate;
  // A start: the queue is cut before anything is learnt, and it falls further short while the
  // loop settles it (as uneven hand-backs make it seem to), which the far loop integrates. Once
  // settled the ratio is back at 1, so the queue does not creep.
  const auto settleShort = [&] {
    feeder.Feed(0.25, atTarget - 0.0025);
    feeder.Feed(0.25, atTarget - 0.0055);
  };
  stab.QueueCut();
  settleShort();
  ASSERT_GT(stab.CorrectionPpm(), 1000);
  feeder.Feed(3, atTarget);
  EXPECT_LT(std::fabs(stab.Ratio() - 1), 1.5 * Step);  // 1 itself would lose the resampler's phase

  // Beyond the band for 5 s: the far loop learns a drift.
  feeder.Feed(5, Target + 0.008);
  feeder.Feed(3, atTarget);
  const double learnt = stab.Ratio();
  ASSERT_LT(learnt, 1 - 2000 * 1e-6);
  // A cut later in the session, settled from the other side: the learnt drift comes back.
  stab.QueueCut();
  settleShort();
  ASSERT_GT(stab.Ratio(), learnt);
  stab.QueueCut();  // a second cut before the first has settled
  settleShort();
  feeder.Feed(3, atTarget);
  EXPECT_EQ(stab.Ratio(), learnt);
}

TEST(SmoothStabilizer, WithoutAResamplerTheAudioGoesOnUncorrected) {
  TSmoothStabilizer stab;  // never reset: no resampler
  TFeeder feeder(stab);
  std::vector<int16_t> out;
  EXPECT_EQ(feeder.Feed(0.1, 0.0, &out), 20 * Block);
  EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 2 * Block), feeder.In);
  EXPECT_EQ(stab.CorrectionPpm(), 0);
  EXPECT_FALSE(stab.Reset(0));
  EXPECT_EQ(stab.Process(feeder.In.data(), Block, feeder.Out.data(), 10, 0, Target), 10);
}

TEST(SmoothStabilizer, NothingIsLostAtTheBound) {
  // A minute at the bound gives the input frames times the ratio, less the filter's delay.
  TSmoothStabilizer stab;
  ASSERT_TRUE(stab.Reset(Rate));
  TFeeder feeder(stab);
  feeder.Feed(0.5, 0.0);  // reach the bound
  const double ratio = stab.Ratio();
  const int64_t written = feeder.Feed(60, 0.0);
  EXPECT_EQ(stab.Ratio(), ratio);
  EXPECT_NEAR(static_cast<double>(written), std::lround(60.0 * Rate / Block) * Block * ratio, 2);
}

// The relay on simulated devices whose clocks disagree.
TEST(SmoothStabilizer, HoldsTheQueueAgainstDrift) {
  struct TCase {
    int32_t Rate;
    double Ppm;
    int32_t Blocksize;
  };
  for (const TCase& k : {TCase{44100, 1000, 0}, TCase{48000, -4000, 3}, TCase{44100, 20, 1},
                         TCase{48000, 4000, 2}, TCase{44100, -100, 0}}) {
    TRigCase c;
    c.Rate = k.Rate;
    c.OutputPpm = k.Ppm;
    c.Blocksize = k.Blocksize;
    // The loop near the target is slow on purpose (every change of ratio bends the pitch):
    // figures from the sixth minute on.
    c.Seconds = 420;
    c.SettleSeconds = 300;
    const TRigResult r = RunRig(c);
    const double block = 0.005 * (k.Blocksize + 1);
    SCOPED_TRACE(testing::Message() << k.Rate << " Hz, " << k.Ppm << " ppm, block " << block);
    EXPECT_LE(r.P999, block + 0.001);
    EXPECT_LE(std::fabs(r.MeanError), block / 2 + 0.001);
    EXPECT_EQ(r.Underruns, 0u);
    EXPECT_EQ(r.Refused, 0u);
    EXPECT_EQ(r.InputLost, 0u);
    // The output running fast drains the queue: the audio is stretched by about as much (the
    // queue may still be settling within its last block).
    EXPECT_NEAR(r.MeanPpm, k.Ppm, 50 + 0.1 * std::fabs(k.Ppm));
    EXPECT_LE(r.MaxPpm - r.MinPpm, 3000);
  }
}

TEST(SmoothStabilizer, ReachesTheTargetFromFiftyMillisecondsOff) {
  // At the bound the queue moves 15 ms a second: 43 ms take 2.9 s, and the band test averages
  // over the last second.
  for (double offset : {0.05, -0.05}) {
    TRigCase c;
    c.Seconds = 20;
    c.StartOffset = offset;
    const TRigResult r = RunRig(c);
    EXPECT_GT(r.BandEntry, 2.3) << offset;  // no faster than the bound allows
    EXPECT_LE(r.BandEntry, 4.5) << offset;
    EXPECT_EQ(r.Underruns, 0u);
    EXPECT_EQ(r.Refused, 0u);
  }
  TRigCase large;
  large.Blocksize = 3;
  large.Seconds = 20;
  for (double offset : {0.05, -0.05}) {
    large.StartOffset = offset;
    const TRigResult r = RunRig(large);
    EXPECT_GT(r.BlockBandEntry, 0) << offset;
    EXPECT_LE(r.BlockBandEntry, 4) << offset;
  }
}

TEST(SmoothStabilizer, OnceHeldTheRatioMovesRarelyAndOneStepAtATime) {
  // Every change of ratio bends a tone's pitch, which a clean tone shows in the tenth of a
  // second around it (about 65 dB at 1 kHz for one step): once the queue is held, the ratio
  // changes at most a few times in ten minutes and never by more than one step, also where the
  // measured queue moves only in whole blocks (48000 Hz, blocks that divide the pass evenly).
  struct TCase {
    int32_t Rate;
    double Ppm;
    int32_t Blocksize;
  };
  for (const TCase& k : {TCase{44100, 20, 0}, TCase{48000, -100, 2}, TCase{48000, 1000, 0}}) {
    TRigCase c;
    c.Rate = k.Rate;
    c.OutputPpm = k.Ppm;
    c.Blocksize = k.Blocksize;
    c.Seconds = 900;
    c.SettleSeconds = 300;
    const TRigResult r = RunRig(c);
    SCOPED_TRACE(testing::Message()
                 << k.Rate << " Hz, " << k.Ppm << " ppm, Blocksize " << k.Blocksize);
    EXPECT_LE(r.RatioChanges, 6u);
    EXPECT_LE(r.LargestChange, Step * 1e6 * 1.01);
    EXPECT_LE(r.P999, 0.005 * (k.Blocksize + 1) + 0.001);
  }
}

TEST(SmoothStabilizer, WithoutDriftTheRatioDoesNotDither) {
  // Two clocks that agree: once the start's offset is taken up the ratio rests on 1 or beside
  // it, not switching from one side to the other every few seconds (each switch also changes
  // the resampler's filter, which costs a clean tone more than a step).
  for (int32_t rate : {44100, 48000}) {
    TRigCase c;
    c.Rate = rate;
    c.Seconds = 600;
    c.SettleSeconds = 120;
    const TRigResult r = RunRig(c);
    SCOPED_TRACE(rate);
    // At 48000 Hz the measured queue moves only in whole blocks: the ratio is moved on the
    // error alone, which takes a few more steps.
    EXPECT_LE(r.RatioChanges, rate == 44100 ? 1u : 3u);
    EXPECT_LE(std::fabs(r.MeanPpm), 2 * Step * 1e6);
    EXPECT_LE(r.P999, 0.006);
  }
}

TEST(SmoothStabilizer, LargeBlocksAreHeldOnTheQueueAsThePassesLeaveIt) {
  // Blocks of 15 ms in passes of 10 ms: the queue seen when a block arrives is a block higher
  // than it is for most of the time. Steered on the queue after every pass, the queue's average
  // sits at the target, within the band, and a start 50 ms off reaches the 7 ms band within
  // seconds (steered on the view at each block it stayed minutes on the edge of a wider band).
  for (int32_t rate : {44100, 48000}) {
    TRigCase c;
    c.Rate = rate;
    c.Blocksize = 2;
    c.OutputPpm = 1000;
    c.Seconds = 420;
    c.SettleSeconds = 300;
    const TRigResult held = RunRig(c);
    SCOPED_TRACE(rate);
    EXPECT_LE(std::fabs(held.MeanError), 0.005);
    EXPECT_LE(held.P999, 0.016);
    c.OutputPpm = 0;
    c.Seconds = 20;
    for (double offset : {0.05, -0.05}) {
      c.StartOffset = offset;
      const TRigResult entry = RunRig(c);
      EXPECT_GT(entry.BandEntry, 2.3) << offset;  // no faster than the bound allows
      EXPECT_LE(entry.BandEntry, 5) << offset;
    }
  }
}

TEST(SmoothStabilizer, ARelayedToneStaysClean) {
  // A 1 kHz tone through the relay with the output 1000 ppm fast. Fitted over 0.1 s windows, so
  // the slow pitch movement of the correction is followed; a frame repeated or dropped would
  // bring a window down to about 28 dB.
  TRigCase c;
  c.OutputPpm = 1000;
  c.Seconds = 330;
  c.Signal = TSimSignal::Sine(1000, 16000);
  c.RecordFrom = 300;
  c.RecordSamples = 2 * static_cast<size_t>(Rate) * 30;
  const TRigResult r = RunRig(c);
  ASSERT_GE(r.Played.size(), 2u * Rate * 29);
  const auto m = MeasureSinadWindowed(r.Played.data(), static_cast<int64_t>(r.Played.size() / 2), 2,
                                      Rate, 1000, 0.1);
  ASSERT_TRUE(m);
  EXPECT_GE(m->Db, 65);
}

}  // namespace

// The queue a pass shows the loop, against the queue's true average over time, while the output
// hands its blocks back at different points between the passes: "early" ms after a pass, or at
// the next one. Blocks of 7 ms in passes of 10 fall at every phase.
TEST(SmoothObservedQueue, AveragesTheQueueWhereverTheHandBacksFallBetweenPasses) {
  std::vector<double> rawOff;
  for (uint64_t early : {1, 5, 9}) {
    SCOPED_TRACE(early);
    TManualClock clock;
    TSimWaveApi sim(TSimTime::Manual, &clock);
    sim.AddOutput(TSimDeviceSpec("Speakers"));
    TWavePlayer player(sim);
    player.BufferTime = Target;
    player.SetDoneClock(&clock);
    ASSERT_EQ(player.Open(), 0);
    const std::vector<int16_t> block(2 * 309, 1000);
    double queued = 0;  // as the last pass left it
    double trueSum = 0, observedSum = 0, rawSum = 0;
    const int passes = 3000;
    for (int i = 0; i < passes + 100; ++i) {
      sim.Advance(early);
      player.UpdateQueued();
      const double between = player.QueuedTime;
      sim.Advance(10 - early);
      while (player.QueuedTime + 309 / 44100.0 < 0.05 && player.AddBuffer(block.data(), 309 * 4))
        player.UpdateQueued();
      player.ProcessDone();
      const double truth =
          (queued * static_cast<double>(early) + between * static_cast<double>(10 - early)) / 10;
      queued = player.QueuedTime;
      // The first passes fill the queue.
      if (i < 100) continue;
      trueSum += truth;
      rawSum += queued;
      observedSum += ObservedQueue(queued, player.DoneSeconds(), player.DoneLag(), 0.010);
    }
    EXPECT_NEAR(observedSum / passes, trueSum / passes, 0.0002);
    rawOff.push_back((rawSum - trueSum) / passes);
    player.Close();
  }
  // The queue as the passes leave it is off by as much again as where the hand-backs fall.
  EXPECT_GT(rawOff[1] - rawOff[0], 0.001);
}
