#include "platform/win32/WinmmApi.h"

#include <cstring>

namespace {

HWAVEIN In(TWaveRawHandle h) {
  return static_cast<HWAVEIN>(h);
}
HWAVEOUT Out(TWaveRawHandle h) {
  return static_cast<HWAVEOUT>(h);
}

template <typename TCaps>
void CopyCaps(const TCaps& from, TWaveCaps& to) {
  std::memset(&to, 0, sizeof(to));
  static_assert(sizeof(from.szPname) == sizeof(to.szPname));
  std::memcpy(to.szPname, from.szPname, sizeof(to.szPname));
  to.szPname[sizeof(to.szPname) - 1] = 0;
  to.dwFormats = from.dwFormats;
}

}  // namespace

uint32_t TWinmmApi::InGetNumDevs() {
  return waveInGetNumDevs();
}

uint32_t TWinmmApi::InGetDevCaps(uint32_t deviceId, TWaveCaps& caps) {
  WAVEINCAPSA c;
  std::memset(&c, 0, sizeof(c));
  const MMRESULT r = waveInGetDevCapsA(deviceId, &c, sizeof(c));
  if (r == MMSYSERR_NOERROR) CopyCaps(c, caps);
  return r;
}

uint32_t TWinmmApi::InOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                           TWaveDoneProc callback, uintptr_t instance, uint32_t flags) {
  HWAVEIN h = nullptr;
  const MMRESULT r = waveInOpen(handle ? &h : nullptr, deviceId, &format,
                                reinterpret_cast<DWORD_PTR>(callback), instance, flags);
  if (handle) *handle = r == MMSYSERR_NOERROR ? h : nullptr;
  return r;
}

uint32_t TWinmmApi::InPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return waveInPrepareHeader(In(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::InUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return waveInUnprepareHeader(In(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::InAddBuffer(TWaveRawHandle handle, TWaveHdr* header) {
  return waveInAddBuffer(In(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::InStart(TWaveRawHandle handle) {
  return waveInStart(In(handle));
}

uint32_t TWinmmApi::InStop(TWaveRawHandle handle) {
  return waveInStop(In(handle));
}

uint32_t TWinmmApi::InReset(TWaveRawHandle handle) {
  return waveInReset(In(handle));
}

uint32_t TWinmmApi::InClose(TWaveRawHandle handle) {
  return waveInClose(In(handle));
}

uint32_t TWinmmApi::OutGetNumDevs() {
  return waveOutGetNumDevs();
}

uint32_t TWinmmApi::OutGetDevCaps(uint32_t deviceId, TWaveCaps& caps) {
  WAVEOUTCAPSA c;
  std::memset(&c, 0, sizeof(c));
  const MMRESULT r = waveOutGetDevCapsA(deviceId, &c, sizeof(c));
  if (r == MMSYSERR_NOERROR) CopyCaps(c, caps);
  return r;
}

uint32_t TWinmmApi::OutOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                            TWaveDoneProc callback, uintptr_t instance, uint32_t flags) {
  HWAVEOUT h = nullptr;
  const MMRESULT r = waveOutOpen(handle ? &h : nullptr, deviceId, &format,
                                 reinterpret_cast<DWORD_PTR>(callback), instance, flags);
  if (handle) *handle = r == MMSYSERR_NOERROR ? h : nullptr;
  return r;
}

uint32_t TWinmmApi::OutPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return waveOutPrepareHeader(Out(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::OutUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return waveOutUnprepareHeader(Out(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::OutWrite(TWaveRawHandle handle, TWaveHdr* header) {
  return waveOutWrite(Out(handle), header, sizeof(WAVEHDR));
}

uint32_t TWinmmApi::OutReset(TWaveRawHandle handle) {
  return waveOutReset(Out(handle));
}

uint32_t TWinmmApi::OutClose(TWaveRawHandle handle) {
  return waveOutClose(Out(handle));
}
