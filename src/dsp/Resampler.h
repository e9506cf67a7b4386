#pragma once

#include <cstdint>

struct SpeexResamplerState_;

// Stretches or squeezes 16-bit stereo audio by a ratio close to 1 (output frames per input
// frame) with a band-limited interpolating filter (speexdsp's resampler), so a drift between two
// clocks can be corrected without audible steps. The ratio may change at every block; the input
// of one call continues the last one's, the fractional position is carried from block to block,
// and every input frame is used once the output has room (see OutputCapacity).
//
// Start allocates everything the filter needs for any ratio within the bound, so that SetRatio
// and Process never allocate afterwards.
class TResampler {
 public:
  // Quality 5 of the library: about 100 dB stop band. Its filter is a little longer for squeezes
  // beyond about 1.2 %, which only the far correction of a disturbance reaches; its memory is
  // made for the longest at the start (see Start).
  static constexpr int Quality = 5;
  // The ratio stays within 1 +- MaxDeviation: far above any real drift, and room to take up
  // 50 ms within a few seconds against a drift of several thousand ppm.
  static constexpr double MaxDeviation = 0.02;
  // Ratios are input over output frames with this denominator, a step of about 15 ppm. The
  // library keeps the fractional position in units of the denominator and rescales it when the
  // ratio changes, so the denominator must never change: it is prime (a fraction never reduces)
  // and small enough for the library's 32-bit rescaling. The one exception, a ratio of exactly
  // 1, reduces to 1/1 and would round the position to a whole frame; it is only used before
  // the first block.
  static constexpr uint32_t Denominator = 65521;

  TResampler() = default;
  ~TResampler();
  TResampler(const TResampler&) = delete;
  TResampler& operator=(const TResampler&) = delete;

  // A new session: a fresh filter at ratio 1 with empty memory. False when it could not be
  // allocated (or the rate is not positive); Process then produces nothing.
  bool Start(int32_t rate);
  bool Started() const { return State != nullptr; }
  // Clamps ratio to the bound and rounds it to the nearest step (a step beside 1 instead of 1
  // itself once audio has passed); returns the ratio now in use. A NaN keeps the ratio.
  double SetRatio(double ratio);
  double Ratio() const { return static_cast<double>(Denominator) / Numerator; }
  // The next ratio above (direction > 0) or below the one in use, within the bound, passing over
  // exactly 1 once audio has passed (as SetRatio does); the ratio in use at the bound.
  double StepRatio(int direction) const;

  // Resamples up to inFrames frames into out (room for outCapacity frames) and returns the frames
  // written; consumed tells how many input frames were used (all of them unless out was full).
  int32_t Process(const int16_t* in, int32_t inFrames, int16_t* out, int32_t outCapacity,
                  int32_t& consumed);

  // Output room that holds the result of inFrames input frames at any ratio within the bound.
  static constexpr int32_t OutputCapacity(int32_t inFrames) {
    return inFrames < 0 ? 0 : inFrames + inFrames / 32 + 4;
  }
  // Frames of delay the filter adds, in input frames.
  int32_t LatencyFrames() const;

 private:
  void Release();

  SpeexResamplerState_* State = nullptr;
  int32_t Rate = 0;
  uint32_t Numerator = Denominator;
  bool Moved = false;  // audio has passed since Start
};
