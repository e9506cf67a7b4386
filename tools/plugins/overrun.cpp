// Misbehaves as real plug-ins do: writes twice the frames it is given, returns that count, and
// leaves the floating-point unit changed (x87 rounding up at single precision; SSE rounding
// toward zero with denormals flushed).
#include "Plugin.h"

namespace {

void SpoilFpState() {
  unsigned short control = 0;
  asm volatile("fnstcw %0" : "=m"(control));
  control = static_cast<unsigned short>((control & ~0x0F00) | 0x0800);
  asm volatile("fldcw %0" : : "m"(control));
  unsigned int csr = 0;
  asm volatile("stmxcsr %0" : "=m"(csr));
  csr |= 0x6000u | 0x8040u;
  asm volatile("ldmxcsr %0" : : "m"(csr));
}

int DSP_CALL Init(TDspModule*) {
  SpoilFpState();
  return 0;
}

int DSP_CALL ModifySamples(TDspModule*, short* samples, int frames, int, int nch, int) {
  // The second half repeats the block, as a plug-in that stretches it would.
  const int count = frames * nch;
  for (int i = 0; i < count; ++i) samples[count + i] = samples[i];
  SpoilFpState();
  return 2 * frames;
}

void DSP_CALL Quit(TDspModule*) {}

char Description[] = "Overrun";

}  // namespace

TDspModule PluginModule{Description, nullptr,        nullptr, nullptr,
                        &Init,       &ModifySamples, &Quit,   nullptr};
