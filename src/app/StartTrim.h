#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Frames to leave out of the coming recorded audio so that a queue of queuedSeconds (with the
// block in hand) comes down to targetSeconds: the excess at rate, when it is larger than
// toleranceSeconds, else 0. Smaller excesses are left to the stabilizer.
int64_t StartTrimFrames(double queuedSeconds, double targetSeconds, int32_t rate,
                        double toleranceSeconds);

// Whether the output takes its audio as fast as time passes. Right after a start an output may
// take its blocks slower than real time for a while, and it falls behind again when the machine
// is too busy to feed it: Wine's does both (about two thirds of real time, for up to a few
// seconds at the start and for as long as the load lasts). In windows of WindowMs from the
// output's first played block, it keeps pace once a whole window has played all of its time but
// MaxLag, and falls behind as soon as a window lags by more. Fed on the relay thread with every
// played block.
class TOutputPace {
 public:
  static constexpr uint64_t WindowMs = 500;
  // Well more than a block and a pass, by which the done marks arrive unevenly, and small enough
  // that an output taking two thirds of real time is found behind within a fifth of a second,
  // before the pile it leaves reaches the player's limit.
  static constexpr double MaxLag = 0.06;

  // A new session: the output has not begun.
  void Reset();
  // A block of seconds of audio finished playing; now in ms.
  void Played(double seconds, uint64_t now);
  // The output has played a block.
  bool Started() const { return Begun; }
  // The last window played all of its time but MaxLag.
  bool Keeping() const { return Kept > 0; }
  // Whole windows in a row that played all of their time but MaxLag.
  uint32_t WindowsKept() const { return Kept; }
  // Windows ended since the first played block.
  uint64_t Windows() const { return Ended; }

 private:
  bool Begun = false;
  uint32_t Kept = 0;
  uint64_t Ended = 0;
  uint64_t WindowStart = 0;
  double WindowPlayed = 0;
};

// Starts the queue at its target, and brings it back there after the output fell behind. Right
// after a start the output may begin taking blocks late, and then take them slower than real time
// for a while, so recorded audio piles up towards the player's limit of twice the buffer; the
// same happens whenever a busy machine holds the output back later. While the output lags, the
// queue read from the done marks is no measure of the delay: an output whose done marks merely
// come late (Wine's do, when its threads are starved) shows a pile that is not there and goes
// once the marks catch up. So the queue is measured when the output keeps pace, as the median of
// its readings over the last window (which a burst of late marks shorter than half a window does
// not move): the excess beyond the tolerance is left out of the recorded blocks, from the next
// block on, in one piece (a single cut, rather than the stabilizer left to drain it over seconds).
// At the start that is as soon as it keeps pace, with a fine tolerance, while the fade-in is still
// low; after a later spell behind, once it has kept pace for SettleWindows, so that marks that were
// only late have caught up, and only a clear pile is cut. While it lags, a pile about to reach the
// player's limit is cut back to the target, where blocks would otherwise be refused one by one.
// While it keeps pace between measures, a pile is the stabilizer's. Runs on the relay thread, once
// per recorded block, before the stabilizer.
class TStartTrim {
 public:
  // Excesses up to this are left to the stabilizer after a spell behind, seconds.
  static constexpr double Tolerance = 0.02;
  // The same for the start: within either stabilizer's quiet band (7 ms for whole frames, a
  // block for the smooth one), which it would otherwise take seconds or, in the smooth
  // stabilizer's gentle band, minutes to cross.
  static constexpr double StartTolerance = 0.005;
  // Windows of TOutputPace at pace before the queue is measured after a spell behind.
  static constexpr uint32_t SettleWindows = 4;

  // A new session: armed, nothing decided.
  void Reset();
  // Frames to leave out at the start of this block of inFrames frames (at most inFrames).
  // queuedSeconds: the audio already waiting (player's queue plus recorded blocks not yet
  // collected), before this block; targetSeconds: the queue, with the block, to come back to;
  // limitSeconds: the queue, with the block, beyond which a lagging output's pile is cut.
  // output: how the output has been taking its blocks.
  int32_t Take(int32_t inFrames, double queuedSeconds, double targetSeconds, double limitSeconds,
               int32_t rate, const TOutputPace& output);
  // Frames decided but not yet left out, in seconds at rate: the queue a stabilizer should see
  // is the player's less this.
  double PendingSeconds(int32_t rate) const;
  // The output kept pace and the queue was measured; armed again when it falls behind.
  bool Decided() const { return State != TState::Armed; }

 private:
  enum class TState { Armed, Finishing, Done };
  // The queue readings (with the block, less a cut under way) of the output's pace window in
  // progress and of the last whole one; more than MaxReadings blocks in a window are not read.
  static constexpr size_t MaxReadings = 256;
  void Read(double queued, uint64_t window);
  double LastWindowMedian(double fallback);

  TState State = TState::Armed;
  int64_t Remaining = 0;
  bool Measured = false;  // the start's measure has been made
  std::array<double, MaxReadings> Readings{};
  std::array<double, MaxReadings> LastReadings{};
  size_t Count = 0;
  size_t LastCount = 0;
  uint64_t Window = 0;
};
