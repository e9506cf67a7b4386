#pragma once

#include <atomic>
#include <cstdint>

#include "app/WorkBlock.h"
#include "util/Clock.h"
#include "wave/WPlayer.h"

// Keeps the player's queue near its target length. The input and output devices never run at
// exactly the same rate, so the queue drifts; every recorded block is made a few frames longer or
// shorter (StabValue frames per 5 ms of audio) before it is queued, and the correction is moved
// one step at a time by watching a smoothed queue length. Runs on the relay thread; the state
// lives as long as the program, across sessions.
class TStabilizer {
 public:
  TStabilizer(TClock& clock, TWavePlayer& player) : Clock(clock), Player(player) {}
  TStabilizer(const TStabilizer&) = delete;
  TStabilizer& operator=(const TStabilizer&) = delete;

  // Tolerance around the target queue length, in seconds.
  static constexpr double DeadBand = 0.007;

  // The queue, with a recorded block of blockSeconds just added, that a session starts at:
  // between blocks it runs down by a block, so it averages the target, and the queue before each
  // block, which the stabilizer measures, lies within half a block of the target.
  static double HeldQueue(double target, double blockSeconds) { return target + blockSeconds / 2; }

  // Corrects one recorded block (the block path's working copy), which may become longer or
  // shorter; blocksize is the setting (0..3), one unit of correction per 5 ms of audio. A
  // correction that would leave the plug-ins less than twice the block's room is not applied.
  void StabilyzerTick(TWorkBlock& block, int32_t blocksize);

  // Fills destSize bytes of dest with the frames of source, stretched or squeezed by repeating
  // or leaving out single frames (nearest frame, no interpolation).
  static void BufferCombinize(char* dest, const char* source, int32_t sourceSize, int32_t destSize);

  void SetStabInterval(double seconds);
  void ChangeStab(int32_t step);
  // Whether two averages are the same for the decision: equal to about 12 significant digits.
  static bool SameAverage(double a, double b);

  // Read by the display while the relay thread corrects.
  std::atomic<int32_t> StabValue{0};
  double StabAverage = 0;
  double StabPrevAverage = 0;
  int64_t StabLastTime = 0;
  int64_t StabLastCheck = 0;
  double StabInterval = 0;

 private:
  void Decide(int64_t now, double queued, double target);

  TClock& Clock;
  TWavePlayer& Player;
};
