#pragma once

// The records of the Winamp DSP plug-in interface, laid out as plug-ins compiled elsewhere expect
// them. A plug-in library exports winampDSPGetHeader2 (cdecl, undecorated), which returns its
// header; the header hands out module records. Window and instance handles are plain pointers
// here so that the host's logic compiles and is tested off Windows too.

#include <cstddef>
#include <cstdint>

// Every function of the interface is cdecl. Only 32-bit x86 has other conventions to avoid.
#if defined(__i386__)
#define DSP_CALL __attribute__((__cdecl__))
#else
#define DSP_CALL
#endif

struct TDspModule;

struct TDspHeader {
  int version;  // 0x20; 0x21 and 0x22 exist too
  char* description;
  TDspModule*(DSP_CALL* getModule)(int which);
};

struct TDspModule {
  char* description;
  void* hwndParent;    // HWND, set by the host before Init
  void* hDllInstance;  // HINSTANCE of the library, set by the host before Init
  void(DSP_CALL* Config)(TDspModule* self);
  int(DSP_CALL* Init)(TDspModule* self);  // 0: success
  // numsamples counts frames; the result is a frame count.
  int(DSP_CALL* ModifySamples)(TDspModule* self, short* samples, int numsamples, int bps, int nch,
                               int srate);
  void(DSP_CALL* Quit)(TDspModule* self);
  void* userData;
};

// The entry point. Newer plug-ins declare one window-handle parameter, older ones none; under
// cdecl the caller removes the argument, so passing it suits both.
using TDspEntry = TDspHeader*(DSP_CALL*)(void* hwndParent);

inline constexpr const char* DspEntryName = "winampDSPGetHeader2";

// The layout the plug-ins were compiled against, for both builds of the program.
#if defined(__x86_64__) || defined(_WIN64)
static_assert(sizeof(void*) == 8 && sizeof(int) == 4 && sizeof(short) == 2);
static_assert(offsetof(TDspHeader, version) == 0);
static_assert(offsetof(TDspHeader, description) == 8);
static_assert(offsetof(TDspHeader, getModule) == 16);
static_assert(sizeof(TDspHeader) == 24);
static_assert(offsetof(TDspModule, description) == 0);
static_assert(offsetof(TDspModule, hwndParent) == 8);
static_assert(offsetof(TDspModule, hDllInstance) == 16);
static_assert(offsetof(TDspModule, Config) == 24);
static_assert(offsetof(TDspModule, Init) == 32);
static_assert(offsetof(TDspModule, ModifySamples) == 40);
static_assert(offsetof(TDspModule, Quit) == 48);
static_assert(offsetof(TDspModule, userData) == 56);
static_assert(sizeof(TDspModule) == 64);
#elif defined(__i386__)
static_assert(sizeof(void*) == 4 && sizeof(int) == 4 && sizeof(short) == 2);
static_assert(offsetof(TDspHeader, version) == 0);
static_assert(offsetof(TDspHeader, description) == 4);
static_assert(offsetof(TDspHeader, getModule) == 8);
static_assert(sizeof(TDspHeader) == 12);
static_assert(offsetof(TDspModule, description) == 0);
static_assert(offsetof(TDspModule, hwndParent) == 4);
static_assert(offsetof(TDspModule, hDllInstance) == 8);
static_assert(offsetof(TDspModule, Config) == 12);
static_assert(offsetof(TDspModule, Init) == 16);
static_assert(offsetof(TDspModule, ModifySamples) == 20);
static_assert(offsetof(TDspModule, Quit) == 24);
static_assert(offsetof(TDspModule, userData) == 28);
static_assert(sizeof(TDspModule) == 32);
#else
#error "The plug-in records are laid out for x86 and x64 only"
#endif
