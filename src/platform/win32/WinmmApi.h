#pragma once

#include "wave/WaveApi.h"

// The wave API seam on Windows' multimedia wave functions, called directly.
class TWinmmApi : public TWaveApi {
 public:
  uint32_t InGetNumDevs() override;
  uint32_t InGetDevCaps(uint32_t deviceId, TWaveCaps& caps) override;
  uint32_t InOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                  TWaveDoneProc callback, uintptr_t instance, uint32_t flags) override;
  uint32_t InPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InAddBuffer(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InStart(TWaveRawHandle handle) override;
  uint32_t InStop(TWaveRawHandle handle) override;
  uint32_t InReset(TWaveRawHandle handle) override;
  uint32_t InClose(TWaveRawHandle handle) override;

  uint32_t OutGetNumDevs() override;
  uint32_t OutGetDevCaps(uint32_t deviceId, TWaveCaps& caps) override;
  uint32_t OutOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                   TWaveDoneProc callback, uintptr_t instance, uint32_t flags) override;
  uint32_t OutPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutWrite(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutReset(TWaveRawHandle handle) override;
  uint32_t OutClose(TWaveRawHandle handle) override;
};
