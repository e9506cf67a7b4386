#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

class TSilence;

// Mode 1: silence found; mode 2 (or any other non-zero mode): sound found.
using TSilenceEvent = std::function<void(TSilence* sender, uint8_t mode)>;

// Watches recorded blocks and reports when the input stayed below (mode 1) or above (mode 2) a
// level for a given time. The time is counted with a leaky counter: a block that does not match
// takes its duration back off, so a short interruption delays the decision instead of restarting
// it. Feed runs on the relay thread while Arm runs on the main thread.
class TSilence {
 public:
  TSilence() = default;
  TSilence(const TSilence&) = delete;
  TSilence& operator=(const TSilence&) = delete;

  // Mode 0 is off; seconds not above 0 also switch the detector off. Clears the counter.
  void Arm(uint8_t mode, double seconds, double level);
  // Measures one block of 16-bit stereo samples at rate Hz; may raise OnFound.
  void Feed(const int16_t* data, int32_t size, int32_t rate);

  uint8_t Mode() const { return Mode_.load(); }
  double Time() const { return Time_.load(); }
  double Level() const { return Level_.load(); }
  double Counter() const { return Counter_.load(); }
  double LastLevel() const { return LastLevel_.load(); }

  // Raised on the thread that feeds (the relay thread).
  TSilenceEvent OnFound;

 private:
  std::atomic<uint8_t> Mode_{0};
  std::atomic<double> Time_{0};
  std::atomic<double> Level_{0};
  std::atomic<double> Counter_{0};
  std::atomic<double> LastLevel_{0};
};
