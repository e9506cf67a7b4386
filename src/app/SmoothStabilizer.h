#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "dsp/Resampler.h"

// How the smooth stabilizer's control loop reacts; the defaults are the tuned values.
struct TSmoothTuning {
  // The queue is seen only when a block arrives, and then it holds the block just added; between
  // arrivals it is up to a block less. The loop steers this fraction of a block below the level
  // with the block added.
  double BlockOffset = 0.25;
  // Time constants of the averaged queue, seconds of audio: a short one for large errors, a long
  // one that evens out the block-sized flicker of the measured queue near the target.
  double AverageSeconds = 0.5;
  double NearAverageSeconds = 10.0;
  // Errors within FarBandBlocks blocks plus FarBandMargin seconds of the target count as near:
  // the measured queue moves in whole blocks, so nothing smaller is certain to be real.
  double FarBandBlocks = 1.0;
  double FarBandMargin = 0.002;
  // Near the target: proportional (1/s) and integral (1/s^2) gains on the long average,
  // gentle so the flicker moves the ratio by little: each change of ratio bends the pitch,
  // which is what a clean tone shows first.
  double NearGain = 0.01;
  double IntegralGain = 0.0001;
  // Near the target the ratio moves only when the loop asks for more than this many of the
  // resampler's steps away from the ratio in use: every change of ratio bends the pitch a
  // little, and a loop that dithers between neighbouring steps would do so all the time.
  double StepHold = 0.75;
  // Beyond the near band, on the excess: proportional gain (1/s), large enough to run at the
  // bound until the queue is close, and an integral gain (1/s^2) that finds a large drift fast.
  double FarGain = 2.0;
  double FarIntegralGain = 0.5;
};

// Keeps the player's queue at its target by resampling every recorded block by a ratio that a
// control loop steers, instead of repeating or dropping whole frames: a PI loop on the averaged
// queue (the player's queue plus recorded audio not yet handed over, plus the block itself),
// with the correction bounded to +-1 % and an integral that does not wind up at the bound.
// Each session starts afresh. Runs on the relay thread; the correction is read by the display.
class TSmoothStabilizer {
 public:
  explicit TSmoothStabilizer(const TSmoothTuning& tuning = {}) : Tuning(tuning) {}
  TSmoothStabilizer(const TSmoothStabilizer&) = delete;
  TSmoothStabilizer& operator=(const TSmoothStabilizer&) = delete;

  // A new session at this rate: no correction, nothing remembered of the last session. Allocates
  // the resampler; false when that failed, and then blocks pass through unchanged.
  bool Reset(int32_t rate);

  // Corrects one recorded block of inFrames stereo frames into out, which has room for
  // outCapacity frames (OutputCapacity(inFrames) is always enough), and returns the frames
  // written. queuedSeconds is the audio already waiting before this block: the player's queue
  // plus recorded blocks not yet collected (those after this one in the same pass), so that a
  // burst of blocks handed over together does not look like a short queue. targetSeconds is the
  // player's buffer. The output carries the resampler's fractional position from block to block,
  // so it is a frame longer or shorter than inFrames x ratio now and then, and no input is lost.
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
  TSmoothTuning Tuning;
  TResampler Resampler;
  int32_t Rate = 0;
  bool First = true;
  double Average = 0;
  double NearAverage = 0;
  double Integral = 0;
  double LastExcess = 0;
  std::atomic<double> Correction{0};
};

// The StabLevel gauge in smooth mode: one unit per 50 ppm of correction, so the gauge's -20..20
// spans -1000..+1000 ppm (the drift of ordinary sound cards is well inside); larger corrections
// stay at the gauge's end.
inline constexpr double PpmPerGaugeUnit = 50;
int32_t StabGaugeValue(double ppm);
// The correction as the gauge's text: "+123 ppm", "-45 ppm", or "Normal" when it rounds to 0.
std::string StabPpmText(double ppm);
