#pragma once

#include <cstdint>

// The window-message protocol between Kestrune and the programs that control it. Shared by the
// program, kestrune-probe and kestrune-ctl; docs/protocol.md describes it for other authors.

// Window class of the main window: how controlling programs find running instances.
inline constexpr const char* MainWindowClass = "TOV_Kestrune";
// Property on each control window holding a global atom of the control's name (kestrune-probe).
inline constexpr const char* ControlNameProp = "KestruneControl";
// Property on gauges and sliders holding their value (kestrune-probe).
inline constexpr const char* ControlValueProp = "KestruneValue";

// The message number of commands and notifications (fixed, not registered).
inline constexpr uint32_t WM_WINMSG = 2102;

// lParam of WM_WINMSG and dwData of WM_COPYDATA: code in the high 16 bits, parameter in the low.
inline constexpr uint32_t PackParam(uint16_t code, uint16_t parameter) {
  return (static_cast<uint32_t>(code) << 16) | parameter;
}
inline constexpr uint16_t CodeOf(uint32_t packed) {
  return static_cast<uint16_t>(packed >> 16);
}
inline constexpr uint16_t ParameterOf(uint32_t packed) {
  return static_cast<uint16_t>(packed & 0xFFFF);
}

// The transport's own code and its parameters.
inline constexpr uint16_t ctlCode = 0x7FFF;
inline constexpr uint16_t ctlHello = 0;
inline constexpr uint16_t ctlQueryId = 0x7FFF;
// Any other parameter of ctlCode withdraws the sender; this is the one Kestrune's tools send.
inline constexpr uint16_t ctlBye = 1;

// Commands from a controlling program (acted upon in interactive mode only).
inline constexpr uint16_t cmdPlay = 0;
inline constexpr uint16_t cmdStop = 1;
inline constexpr uint16_t cmdFadeIn = 2;
inline constexpr uint16_t cmdFadeOut = 3;
inline constexpr uint16_t cmdVolume = 16;
// Parameters of cmdPlay and cmdStop that ask for a fade.
inline constexpr uint16_t cmdPlayWithFade = 2;
inline constexpr uint16_t cmdStopWithFade = 3;

// Notifications to the peers (parameter 0).
inline constexpr uint16_t ntfSilence = 0x0400;
inline constexpr uint16_t ntfSound = 0x0401;
inline constexpr uint16_t ntfOffline = 0x1000;
inline constexpr uint16_t ntfOnline = 0x1001;

// A stream block is a WM_COPYDATA with this code and parameter (dwData 0): a 22-byte header
// (StreamHeader.h), then the samples.
inline constexpr uint16_t StreamCode = 0;
inline constexpr uint16_t StreamParameter = 0;

// The transport confirms announced windows and drops vanished peers at this interval.
inline constexpr uint32_t ScanIntervalMs = 100;
// The longest a send waits for a peer; a peer that does not answer in time is dropped.
inline constexpr uint32_t DefaultSendTimeoutMs = 300;
