#pragma once

#include <cstddef>
#include <cstdint>

#include "link/StreamHeader.h"

// The file a recording goes to. Results, not exceptions: false when the call failed.
class TRecordFile {
 public:
  virtual ~TRecordFile() = default;
  // Writes at the offset; written gets how many bytes reached the file, also on failure.
  virtual bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& written) = 0;
  // Cuts the file to the size.
  virtual bool Truncate(uint64_t size) = 0;
};

// Writes the stream blocks a controlling program receives into a 16-bit stereo PCM WAV file.
// The header is written first and brought up to date after every block, so the file is a valid
// WAV of what was written whenever the recording ends, also after a failed write (a full disk):
// the file is then cut to the last whole frame.
class TStreamRecorder {
 public:
  enum class TResult {
    Written,      // the block's samples are in the file (the last one perhaps cut to the limit)
    Malformed,    // the block failed CheckStreamBlock and was not written
    RateChanged,  // the block's rate differs from the file's; not written
    Full,         // the frame limit or the WAV format's 4 GiB limit is reached; not written
    FileError,    // writing failed; the file holds what was written before
  };

  explicit TStreamRecorder(TRecordFile& file);
  TStreamRecorder(const TStreamRecorder&) = delete;
  TStreamRecorder& operator=(const TStreamRecorder&) = delete;

  // Writes the header of an empty recording; false when the file cannot be written.
  bool Start();
  // One received WM_COPYDATA.
  TResult Accept(uint32_t dwData, const uint8_t* data, size_t size);

  // Frames to record at most (0: no limit); the block that reaches it is cut.
  uint64_t FrameLimit = 0;

  bool LimitReached() const { return FrameLimit > 0 && Frames >= FrameLimit; }
  uint64_t FramesWritten() const { return Frames; }
  int32_t SampleRate() const { return Rate; }
  uint64_t BlocksWritten() const { return Blocks; }
  uint64_t BlocksRefused() const { return Refused; }
  // What was wrong with the last malformed block.
  TBlockCheck LastFault() const { return Fault; }
  // The highest levels of the blocks written since the last call, then starts over.
  TBlockLevels TakePeakLevels();

  static constexpr uint32_t WavHeaderSize = 44;

 private:
  bool WriteHeader();

  TRecordFile& File;
  int32_t Rate = 0;
  uint64_t Frames = 0;
  uint64_t Blocks = 0;
  uint64_t Refused = 0;
  TBlockCheck Fault = TBlockCheck::Ok;
  TBlockLevels Peak;
  bool Failed = false;
};
