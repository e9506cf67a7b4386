#pragma once

#include <cstdint>

// The floating-point control state of the calling thread: the x87 control word and the SSE
// control/status register. Plug-ins change rounding, precision and exception masks and seldom
// put them back; the host saves the state before each call into a plug-in and restores it after.
struct TFpState {
  uint16_t X87Control = 0;
  uint32_t Mxcsr = 0;

  bool operator==(const TFpState&) const = default;
};

TFpState SaveFpState();

// Puts the saved state back. After a call that was abandoned by a fault the x87 register stack
// may still hold the plug-in's values: emptyX87 clears it first.
void RestoreFpState(const TFpState& state, bool emptyX87 = false);
