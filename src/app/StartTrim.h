#pragma once

#include <cstdint>

// Frames to leave out of the coming recorded audio so that a queue of queuedSeconds (with the
// block in hand) comes down to targetSeconds: the excess at rate, when it is larger than
// toleranceSeconds, else 0. Smaller excesses are left to the stabilizer.
int64_t StartTrimFrames(double queuedSeconds, double targetSeconds, int32_t rate,
                        double toleranceSeconds);

// Starts the queue at its target. Right after a start the output may begin taking blocks late,
// so recorded audio piles up to about twice the buffer. Once the output has begun, the excess is
// measured once and that many frames are left out of the recorded blocks, from the first block
// on, in one piece (a single cut, made while the fade-in is still low), and the trim is over for
// the session. Runs on the relay thread, once per recorded block, before the stabilizer.
class TStartTrim {
 public:
  // Excesses up to this are left to the stabilizer, seconds.
  static constexpr double Tolerance = 0.02;

  // A new session: armed, nothing decided.
  void Reset();
  // Frames to leave out at the start of this block of inFrames frames (at most inFrames).
  // queuedSeconds: the audio already waiting (player's queue plus recorded blocks not yet
  // collected), before this block. outputStarted: the output has played back a block.
  int32_t Take(int32_t inFrames, double queuedSeconds, double targetSeconds, int32_t rate,
               bool outputStarted);
  // Frames decided but not yet left out, in seconds at rate: the queue a stabilizer should see
  // is the player's less this.
  double PendingSeconds(int32_t rate) const;
  bool Decided() const { return State != TState::Armed; }

 private:
  enum class TState { Armed, Trimming, Done };
  TState State = TState::Armed;
  int64_t Remaining = 0;
};
