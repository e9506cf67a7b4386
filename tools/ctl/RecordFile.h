#pragma once

#include <windows.h>

#include <string>

#include "link/StreamRecorder.h"
#include "platform/win32/Handles.h"

// The recording's file on Windows: created afresh, written at offsets, cut with SetEndOfFile.
class TWin32RecordFile : public TRecordFile {
 public:
  // Creates or empties the file; false (with the reason in Error) when it cannot.
  bool Create(const std::string& path);
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& written) override;
  bool Truncate(uint64_t size) override;
  // Why the first failed call failed, in the system's words.
  const std::string& Error() const { return LastError; }

 private:
  bool Fail();
  TKernelHandle File;
  std::string LastError;
};
