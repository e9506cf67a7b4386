#include "dsp/FpState.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "The floating-point state is kept for x86 and x64 only"
#endif

TFpState SaveFpState() {
  TFpState state;
  asm volatile("fnstcw %0" : "=m"(state.X87Control));
  asm volatile("stmxcsr %0" : "=m"(state.Mxcsr));
  return state;
}

void RestoreFpState(const TFpState& state, bool emptyX87) {
  if (emptyX87) asm volatile("fninit");
  asm volatile("fldcw %0" : : "m"(state.X87Control));
  asm volatile("ldmxcsr %0" : : "m"(state.Mxcsr));
}
