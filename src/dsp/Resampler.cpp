#include "dsp/Resampler.h"

#include <speex/speex_resampler.h>

#include <cmath>

namespace {

constexpr uint32_t Channels = 2;

// Input over output frames for an output-over-input ratio.
uint32_t NumeratorOf(double ratio) {
  return static_cast<uint32_t>(std::lround(TResampler::Denominator / ratio));
}

const uint32_t MaxNumerator = NumeratorOf(1 - TResampler::MaxDeviation);
const uint32_t MinNumerator = NumeratorOf(1 + TResampler::MaxDeviation);

}  // namespace

TResampler::~TResampler() {
  Release();
}

void TResampler::Release() {
  if (State) speex_resampler_destroy(State);
  State = nullptr;
}

bool TResampler::Start(int32_t rate) {
  Release();
  Numerator = Denominator;
  Moved = false;
  if (rate <= 0) return false;
  Rate = rate;
  // The filter's memory and table are largest at the strongest squeeze (most input per output
  // frame); made there first, they never have to grow when the ratio moves within the bound.
  int err = 0;
  State =
      speex_resampler_init_frac(Channels, MaxNumerator, Denominator, static_cast<uint32_t>(rate),
                                static_cast<uint32_t>(rate), Quality, &err);
  if (!State || err != RESAMPLER_ERR_SUCCESS) {
    Release();
    return false;
  }
  if (speex_resampler_set_rate_frac(State, Denominator, Denominator, static_cast<uint32_t>(rate),
                                    static_cast<uint32_t>(rate)) != RESAMPLER_ERR_SUCCESS) {
    Release();
    return false;
  }
  // The first output frame is the first input frame, not the filter's leading zeros.
  speex_resampler_skip_zeros(State);
  return true;
}

double TResampler::SetRatio(double ratio) {
  if (std::isnan(ratio)) return Ratio();
  const double bounded = ratio < 1 - MaxDeviation
                             ? 1 - MaxDeviation
                             : (ratio > 1 + MaxDeviation ? 1 + MaxDeviation : ratio);
  uint32_t numerator = NumeratorOf(bounded);
  numerator = numerator < MinNumerator ? MinNumerator
                                       : (numerator > MaxNumerator ? MaxNumerator : numerator);
  // Exactly 1 would reduce to 1/1 and lose the fractional position: stay on the side in use.
  if (numerator == Denominator && Moved && Numerator != Denominator)
    numerator = Numerator < Denominator ? Denominator - 1 : Denominator + 1;
  if (numerator == Numerator) return Ratio();
  if (State &&
      speex_resampler_set_rate_frac(State, numerator, Denominator, static_cast<uint32_t>(Rate),
                                    static_cast<uint32_t>(Rate)) != RESAMPLER_ERR_SUCCESS)
    return Ratio();
  Numerator = numerator;
  return Ratio();
}

double TResampler::StepRatio(int direction) const {
  if (direction == 0) return Ratio();
  // A larger ratio has a smaller numerator.
  uint32_t numerator = direction > 0 ? Numerator - 1 : Numerator + 1;
  if (numerator == Denominator && Moved) numerator = direction > 0 ? numerator - 1 : numerator + 1;
  if (numerator < MinNumerator || numerator > MaxNumerator) return Ratio();
  return static_cast<double>(Denominator) / numerator;
}

int32_t TResampler::Process(const int16_t* in, int32_t inFrames, int16_t* out, int32_t outCapacity,
                            int32_t& consumed) {
  consumed = 0;
  if (!State || !in || !out || inFrames <= 0 || outCapacity <= 0) return 0;
  spx_uint32_t inLength = static_cast<spx_uint32_t>(inFrames);
  spx_uint32_t outLength = static_cast<spx_uint32_t>(outCapacity);
  if (speex_resampler_process_interleaved_int(State, in, &inLength, out, &outLength) !=
      RESAMPLER_ERR_SUCCESS)
    return 0;
  consumed = static_cast<int32_t>(inLength);
  Moved = true;
  return static_cast<int32_t>(outLength);
}

int32_t TResampler::LatencyFrames() const {
  return State ? speex_resampler_get_input_latency(State) : 0;
}
