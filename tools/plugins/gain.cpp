// -6 dB: every sample times 0.5012, rounded to the nearest value.
#include <cmath>

#include "Plugin.h"

namespace {

void DSP_CALL Config(TDspModule*) {}

int DSP_CALL Init(TDspModule*) {
  return 0;
}

int DSP_CALL ModifySamples(TDspModule*, short* samples, int frames, int bps, int nch, int) {
  if (bps != 16) return frames;
  for (int i = 0; i < frames * nch; ++i)
    samples[i] = static_cast<short>(std::lround(samples[i] * 0.5012));
  return frames;
}

void DSP_CALL Quit(TDspModule*) {}

char Description[] = "Gain -6 dB";

}  // namespace

TDspModule PluginModule{Description, nullptr,        nullptr, &Config,
                        &Init,       &ModifySamples, &Quit,   nullptr};
