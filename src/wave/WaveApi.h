#pragma once

#include <cstdint>

#ifdef _WIN32
// Only the base types and the multimedia API: the whole of windows.h would rename names such as
// SendMessage in every portable file that includes this one.
#include <windef.h>
// mmsystem.h needs the base types first.
#include <mmsystem.h>
#endif

// The block header and the format record: on Windows the platform's own records, elsewhere
// stand-ins with the same field names so that the portable code reads the same everywhere.
#ifdef _WIN32
using TWaveHdr = WAVEHDR;
using TWaveFormatEx = WAVEFORMATEX;
#define KESTRUNE_WAVE_CALLBACK CALLBACK
#else
struct TWaveHdr {
  char* lpData;
  uint32_t dwBufferLength;
  uint32_t dwBytesRecorded;
  uintptr_t dwUser;
  uint32_t dwFlags;
  uint32_t dwLoops;
  TWaveHdr* lpNext;
  uintptr_t reserved;
};

struct TWaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#define KESTRUNE_WAVE_CALLBACK

// The platform's values, so that results and flags mean the same on every build.
inline constexpr uint32_t MMSYSERR_NOERROR = 0;
inline constexpr uint32_t MMSYSERR_ERROR = 1;
inline constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
inline constexpr uint32_t MMSYSERR_NOTENABLED = 3;
inline constexpr uint32_t MMSYSERR_ALLOCATED = 4;
inline constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
inline constexpr uint32_t MMSYSERR_NODRIVER = 6;
inline constexpr uint32_t MMSYSERR_NOMEM = 7;
inline constexpr uint32_t MMSYSERR_NOTSUPPORTED = 8;
inline constexpr uint32_t MMSYSERR_INVALFLAG = 10;
inline constexpr uint32_t MMSYSERR_INVALPARAM = 11;
inline constexpr uint32_t MMSYSERR_HANDLEBUSY = 12;
inline constexpr uint32_t WAVERR_BADFORMAT = 32;
inline constexpr uint32_t WAVERR_STILLPLAYING = 33;
inline constexpr uint32_t WAVERR_UNPREPARED = 34;

inline constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
inline constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint32_t WAVE_FORMAT_4S16 = 0x00000800;

inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

inline constexpr uint32_t WOM_OPEN = 0x3BB;
inline constexpr uint32_t WOM_CLOSE = 0x3BC;
inline constexpr uint32_t WOM_DONE = 0x3BD;
inline constexpr uint32_t WIM_OPEN = 0x3BE;
inline constexpr uint32_t WIM_CLOSE = 0x3BF;
inline constexpr uint32_t WIM_DATA = 0x3C0;
#endif

// An open wave-in or wave-out device as the platform names it (HWAVEIN / HWAVEOUT on Windows).
using TWaveRawHandle = void*;

// The completion callback: (handle, message, instance, parameter 1 = the header, parameter 2).
// On Windows it is handed to the platform as is, hence its calling convention.
using TWaveDoneProc = void(KESTRUNE_WAVE_CALLBACK*)(TWaveRawHandle handle, uint32_t message,
                                                    uintptr_t instance, uintptr_t param1,
                                                    uintptr_t param2);

// What the catalogue needs of a device's capabilities.
struct TWaveCaps {
  char szPname[32];    // terminated product name
  uint32_t dwFormats;  // standard-format bits (WAVE_FORMAT_4S16, ...)
};

// The multimedia wave calls the capture and the player rely on, as in/out pairs. Results are the
// platform's codes (0 success). The done callback runs on a thread of the implementation.
class TWaveApi {
 public:
  virtual ~TWaveApi() = default;

  virtual uint32_t InGetNumDevs() = 0;
  virtual uint32_t InGetDevCaps(uint32_t deviceId, TWaveCaps& caps) = 0;
  // flags: WAVE_FORMAT_QUERY (no handle, no callback) or CALLBACK_FUNCTION.
  virtual uint32_t InOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                          TWaveDoneProc callback, uintptr_t instance, uint32_t flags) = 0;
  virtual uint32_t InPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t InUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t InAddBuffer(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t InStart(TWaveRawHandle handle) = 0;
  virtual uint32_t InStop(TWaveRawHandle handle) = 0;
  virtual uint32_t InReset(TWaveRawHandle handle) = 0;
  virtual uint32_t InClose(TWaveRawHandle handle) = 0;

  virtual uint32_t OutGetNumDevs() = 0;
  virtual uint32_t OutGetDevCaps(uint32_t deviceId, TWaveCaps& caps) = 0;
  virtual uint32_t OutOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                           TWaveDoneProc callback, uintptr_t instance, uint32_t flags) = 0;
  virtual uint32_t OutPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t OutUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t OutWrite(TWaveRawHandle handle, TWaveHdr* header) = 0;
  virtual uint32_t OutReset(TWaveRawHandle handle) = 0;
  virtual uint32_t OutClose(TWaveRawHandle handle) = 0;
};

enum class TWaveSide { Input, Output };

// Owns one open device handle and closes it once; move-only.
class TWaveHandle {
 public:
  TWaveHandle() = default;
  TWaveHandle(TWaveApi& api, TWaveSide side, TWaveRawHandle raw)
      : Api(&api), Side(side), Raw(raw) {}
  TWaveHandle(TWaveHandle&& other) noexcept : Api(other.Api), Side(other.Side), Raw(other.Raw) {
    other.Raw = nullptr;
  }
  TWaveHandle& operator=(TWaveHandle&& other) noexcept {
    if (this != &other) {
      Close();
      Api = other.Api;
      Side = other.Side;
      Raw = other.Raw;
      other.Raw = nullptr;
    }
    return *this;
  }
  TWaveHandle(const TWaveHandle&) = delete;
  TWaveHandle& operator=(const TWaveHandle&) = delete;
  ~TWaveHandle() { Close(); }

  TWaveRawHandle Get() const { return Raw; }
  explicit operator bool() const { return Raw != nullptr; }

  // Closes the device and empties the handle only when the platform did close it, so a close
  // refused (blocks still queued) can be tried again.
  uint32_t TryClose() {
    if (!Raw) return 0;
    const uint32_t r = Side == TWaveSide::Input ? Api->InClose(Raw) : Api->OutClose(Raw);
    if (r == 0) Raw = nullptr;
    return r;
  }

  // Closes the device; the handle is empty afterwards whatever the result, since a handle the
  // platform refused to close cannot be used for anything else either.
  uint32_t Close() {
    if (!Raw) return 0;
    TWaveRawHandle raw = Raw;
    Raw = nullptr;
    return Side == TWaveSide::Input ? Api->InClose(raw) : Api->OutClose(raw);
  }

 private:
  TWaveApi* Api = nullptr;
  TWaveSide Side = TWaveSide::Input;
  TWaveRawHandle Raw = nullptr;
};
