#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "dsp/Resampler.h"

// How the smooth stabilizer's control loop reacts; the defaults are the tuned values.
struct TSmoothTuning {
  // The queue is seen only when a block arrives, and then it holds the block just added; between
  // arrivals it is up to a block less. Steering on that view, the loop holds the level with the
  // block added this fraction of a block above the target; steering on the queue observed after
  // every pass (Observe) it holds the observed queue's average at the target.
  double BlockOffset = 0.25;
  // Time constant of the averaged queue the far loop steers on, seconds.
  double AverageSeconds = 0.5;
  // Errors beyond FarBand seconds from the target are corrected at once, the ratio moved at every
  // block (a disturbance, a start); within the band the ratio is held and moved by single steps.
  // The band is wider than the jump of the measured queue when the true queue crosses a block's
  // edge and blocks and passes divide evenly (5 ms with blocks of 5 or 15 ms in passes of 10).
  double FarBand = 0.006;
  // After a cut the far loop works down to SettleBand instead, once: the queue the cut leaves
  // can be several ms off (blocks come back unevenly under Wine), and within the band the near
  // loop would take minutes over it, so the delay heard would creep for as long. At the start
  // the bend this costs is heard before the fade-in is up.
  double SettleBand = 0.001;
  // Beyond the band, on the excess: proportional gain (1/s), large enough to run at the bound
  // until the queue is close, and an integral gain (1/s^2) that finds a large drift fast.
  double FarGain = 2.0;
  double FarIntegralGain = 0.5;
  // How far the far loop's proportional part reaches beyond the drift it has learnt: against a
  // drift the queue still moves back at this rate, up to the resampler's bound in all.
  double FarReach = 0.015;
  // Near the target the queue is averaged over windows of WindowSeconds; the drift left over is
  // the slope between two windows, taken only when the last three slopes agree and each is more
  // than MinSlope (the smallest of the three): a queue that moves in whole blocks now and then
  // (its flicker never dithers when blocks and passes divide evenly) shows a block's jump spread
  // over two windows that is no drift. The ratio is chosen to hold the queue still, plus
  // NearGain (1/s) times the error, one step at a time and only on slopes measured wholly at the
  // ratio in use.
  double WindowSeconds = 15.0;
  double MinSlope = 3e-6;
  // Without an agreeing slope, the error alone moves the ratio only after this long at the ratio
  // in use, and only if the queue has not come back towards the target meanwhile.
  double LevelWaitSeconds = 120.0;
  double NearGain = 0.005;
  // The ratio moves to a neighbouring step only when the wanted ratio lies beyond the midpoint
  // between the two by more than this many steps: every change of ratio bends the pitch a little
  // (a 15 ppm step costs a 1 kHz tone about 65 dB in the 0.1 s around it), so under a drift that
  // falls between two steps the queue swings slowly (minutes) across a band of about
  // StepHold x step / NearGain (1.5 ms) instead of the ratio dithering.
  double StepHold = 0.5;
};

// The queue a relay pass shows the smooth loop (Observe): queuedSeconds as the pass leaves it,
// less the blocks the pass collected, doneSeconds of audio, weighted by how long before the pass
// the output had handed them back (doneLag, seconds^2, see TWavePlayer::DoneLag), over the
// seconds since the last pass. Taken over the interval, the queue the pass leaves counts a block
// handed back in between as gone since the earlier pass, so the average moved with where between
// the passes the hand-backs fell: under Wine the output hands back on a tick of its own that
// wanders against the passes within a session, and the level held wandered with it by up to a
// pass. Less the lag, every block counts as gone one interval before its hand-back, as every block
// the pass adds counts from one interval before it was added: the queue seen one interval early,
// whose average is the queue's own whatever the phase (and as before where the output hands back
// at the passes, as the simulator's does).
inline double ObservedQueue(double queuedSeconds, double doneSeconds, double doneLag,
                            double seconds) {
  if (!(seconds > 0) || !(doneLag > 0)) return queuedSeconds;
  // No block counts for more than itself: a lag beyond the interval is a pass that came late.
  return queuedSeconds - std::min(doneLag / seconds, doneSeconds);
}

// Keeps the player's queue at its target by resampling every recorded block by a ratio that a
// control loop steers, instead of repeating or dropping whole frames. Far from the target a PI
// loop on the averaged queue runs the ratio up to 1.5 % beyond the drift it has learnt, within
// the resampler's bound of +-2 % (with an integral that does not wind up); near it the ratio is
// held, and moved one resampler step at a time (about 15 ppm) to the step that holds the measured
// drift, at most every few tens of seconds, so that a clean tone keeps its pitch steady. The queue
// it steers on is observed after every relay pass (Observe), or else seen at each block (the
// player's queue plus recorded audio not yet handed over, plus the block itself). Each session
// starts afresh. Runs on the relay thread; the correction is read by the display.
class TSmoothStabilizer {
 public:
  explicit TSmoothStabilizer(const TSmoothTuning& tuning = {}) : Tuning(tuning) {}
  TSmoothStabilizer(const TSmoothStabilizer&) = delete;
  TSmoothStabilizer& operator=(const TSmoothStabilizer&) = delete;

  // A new session at this rate: no correction, nothing remembered of the last session. Allocates
  // the resampler; false when that failed, and then blocks pass through unchanged.
  bool Reset(int32_t rate);

  // The player's queue as a relay pass leaves it (every recorded block of the pass added, the
  // finished ones taken off), seconds since the last observation (the first one only starts the
  // averages). A caller that observes steers the loop on the queue's average over time, which is
  // what is heard as delay, whatever the sizes of blocks and passes; the queue seen at each block
  // is then not used. steer false: nothing is learnt (see Process).
  void Observe(double queuedSeconds, double seconds, bool steer = true);

  // Audio was left out ahead of the player (a pile cut back): the queue fell at once, which is
  // no drift. The averages and the near loop's windows start again from the next observation,
  // and the loop settles the queue at the target once more; the ratio in use and what was learnt
  // of the drift stay, and once settled the loop holds that drift again (see Learnt).
  void QueueCut();

  // Corrects one recorded block of inFrames stereo frames into out, which has room for
  // outCapacity frames (OutputCapacity(inFrames) is always enough), and returns the frames
  // written. queuedSeconds is the audio already waiting before this block: the player's queue
  // plus recorded blocks not yet collected (those after this one in the same pass), so that a
  // burst of blocks handed over together does not look like a short queue; it is not used once
  // the queue is observed after passes. targetSeconds is the player's buffer. The output carries
  // the resampler's fractional position from block to block, so it is a frame longer or shorter
  // than inFrames x ratio now and then, and no input is lost.
  // steer false: the queue says nothing of the two clocks just now (the output is not keeping
  // pace with real time); the block is resampled at the ratio in use and the loop learns nothing.
  int32_t Process(const int16_t* in, int32_t inFrames, int16_t* out, int32_t outCapacity,
                  double queuedSeconds, double targetSeconds, bool steer = true);

  static constexpr int32_t OutputCapacity(int32_t inFrames) {
    return TResampler::OutputCapacity(inFrames);
  }

  // The correction in use, in ppm: positive stretches (more audio than recorded reaches the
  // player). Read by the display thread.
  double CorrectionPpm() const { return Correction.load(std::memory_order_relaxed); }
  double Ratio() const { return Resampler.Ratio(); }
  // The averaged queue the loop is steering, seconds (0 before the first block).
  double AverageQueue() const { return Average; }
  // The queue, with a block of blockSeconds just added, that the loop holds at targetSeconds.
  double HeldQueue(double targetSeconds, double blockSeconds) const {
    return targetSeconds + Tuning.BlockOffset * blockSeconds;
  }

 private:
  // Both averages take in the queue q, seen over seconds; the first one starts them.
  void UpdateAverages(double q, double seconds);
  // The ratio near the target: held, or one step towards what holds the drift.
  void SteerNear(double targetSeconds);
  // Starts the near loop's windows afresh (after a change of ratio).
  void RestartWindows();

  TSmoothTuning Tuning;
  TResampler Resampler;
  int32_t Rate = 0;
  bool First = true;
  bool Observed = false;  // the queue is observed after passes
  double Average = 0;
  // The ratio less 1 the far loop starts from: what it learnt of the drift, or the near loop's.
  double Integral = 0;
  // What was learnt of the drift when the queue was last cut. What the far loop integrates while
  // it settles the queue after a cut is the offset the cut left and the unevenness of the
  // hand-backs, not the drift: held afterwards it let the queue creep away from the target at
  // a few hundred ppm until the near loop had measured the slope (minutes).
  double Learnt = 0;
  double LastExcess = 0;
  bool Near = false;      // within the far band: the ratio is held and moved by steps
  bool Settling = false;  // since the last cut, not yet within SettleBand
  // The near loop's window in progress (time-weighted sum of the queue, its seconds), the
  // windows closed since the last change of ratio, the last one's level and the last slopes
  // (seconds per second, the latest first).
  double WindowSum = 0;
  double WindowTime = 0;
  int32_t Windows = 0;
  double LastLevel = 0;
  std::array<double, 3> Slopes{};
  double FirstError = 0;  // the error over the first window at the ratio in use
  std::atomic<double> Correction{0};
};

// The StabLevel gauge in smooth mode: one unit per 50 ppm of correction, so the gauge's -20..20
// spans -1000..+1000 ppm (the drift of ordinary sound cards is well inside); larger corrections
// stay at the gauge's end.
inline constexpr double PpmPerGaugeUnit = 50;
int32_t StabGaugeValue(double ppm);
// The correction as the gauge's text: "+123 ppm", "-45 ppm", or "Normal" when it rounds to 0.
std::string StabPpmText(double ppm);
