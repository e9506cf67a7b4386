// Inverts every sample, and on its hundredth block inverts the first half and then writes
// through a null pointer.
#include "Plugin.h"

namespace {

int Calls = 0;
// Read at run time, so the compiler cannot see the write is through null.
int* volatile Target = nullptr;

int DSP_CALL Init(TDspModule*) {
  Calls = 0;
  return 0;
}

int DSP_CALL ModifySamples(TDspModule*, short* samples, int frames, int, int nch, int) {
  const int count = frames * nch;
  if (++Calls == 100) {
    for (int i = 0; i < count / 2; ++i) samples[i] = static_cast<short>(~samples[i]);
    *Target = 1;
  }
  for (int i = 0; i < count; ++i) samples[i] = static_cast<short>(~samples[i]);
  return frames;
}

void DSP_CALL Quit(TDspModule*) {}

char Description[] = "Faults on its hundredth block";

}  // namespace

TDspModule PluginModule{Description, nullptr,        nullptr, nullptr,
                        &Init,       &ModifySamples, &Quit,   nullptr};
