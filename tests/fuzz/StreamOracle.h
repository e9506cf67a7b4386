#pragma once

// What must hold for any bytes a controlling program receives as stream blocks: the check of a
// block, its header read and written back, and a recording of a run of such blocks. Shared by
// the fuzzer and the corpus test.
//
// Input: blocks one after another, each as dwData (4 bytes, little-endian), a length (2 bytes)
// and that many bytes (what is left when fewer); a last byte, when there is one, chooses after
// how many bytes the file starts to refuse writes (a full disk; 0xFF: never).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "link/Protocol.h"
#include "link/StreamHeader.h"
#include "link/StreamRecorder.h"
#include "wave/WaveFormat.h"

namespace stream_oracle {

// A file in memory that takes at most Room bytes past the header.
class TMemoryFile : public TRecordFile {
 public:
  std::vector<uint8_t> Bytes;
  uint64_t Room = UINT64_MAX;

  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t& written) override {
    written = 0;
    const uint64_t limit = TStreamRecorder::WavHeaderSize + Room;
    const uint64_t end = std::min<uint64_t>(offset + size, std::max(limit, uint64_t{44}));
    if (end > offset) {
      if (Bytes.size() < end) Bytes.resize(end);
      std::memcpy(Bytes.data() + offset, data, end - offset);
      written = static_cast<uint32_t>(end - offset);
    }
    return written == size;
  }
  bool Truncate(uint64_t size) override {
    Bytes.resize(size);
    return true;
  }
};

inline uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One block by itself: the verdict agrees with what the bytes say.
inline std::string CheckBlock(uint32_t dwData, const uint8_t* data, size_t size) {
  std::ostringstream bad;
  TStreamHeader header;
  const TBlockCheck check = CheckStreamBlock(dwData, data, size, header);
  if (size >= StreamHeaderSize) {
    // The header reads and writes back byte for byte.
    uint8_t again[StreamHeaderSize];
    WriteStreamHeader(ReadStreamHeader(data), again);
    if (std::memcmp(again, data, StreamHeaderSize) != 0) bad << "header does not write back; ";
  }
  if (check == TBlockCheck::Ok) {
    if (dwData != 0) bad << "accepted dwData " << dwData << "; ";
    if (size < StreamHeaderSize || (size - StreamHeaderSize) % FrameBytes != 0)
      bad << "accepted size " << size << "; ";
    if (header.Channels != 2 || header.Bits != 16 || !IsStreamRate(header.SampleRate))
      bad << "accepted format; ";
    // The levels the samples have, from an aligned copy.
    std::vector<int16_t> samples((size - StreamHeaderSize) / 2);
    if (!samples.empty()) std::memcpy(samples.data(), data + StreamHeaderSize, samples.size() * 2);
    const TBlockLevels levels =
        StreamLevels(samples.data(), static_cast<int32_t>(samples.size() * 2));
    if (!(std::fabs(levels.Left - header.LevelLeft) < 0.01) ||
        !(std::fabs(levels.Right - header.LevelRight) < 0.01))
      bad << "accepted levels " << header.LevelLeft << "/" << header.LevelRight << "; ";
  } else if (check == TBlockCheck::NotStream && dwData == 0) {
    bad << "refused dwData 0 as not a stream; ";
  } else if (check == TBlockCheck::TooShort && size >= StreamHeaderSize && data) {
    bad << "refused " << size << " bytes as too short; ";
  }
  return bad.str();
}

// A run of blocks into a recording: every block gets a verdict, and the file is a WAV that
// describes exactly what was written, after every block.
inline std::string Check(const uint8_t* data, size_t size) {
  std::ostringstream bad;
  TMemoryFile file;
  if (size > 0 && data[size - 1] != 0xFF) file.Room = uint64_t{data[size - 1]} * 64;
  TStreamRecorder recorder(file);
  if (!recorder.Start()) return "the header of an empty recording was not written";
  size_t at = 0;
  uint64_t frames = 0;
  int32_t rate = 0;
  bool failed = false;
  while (at + 6 <= size) {
    const uint32_t dwData = Get32(data + at);
    const size_t length = std::min<size_t>(data[at + 4] | (data[at + 5] << 8), size - at - 6);
    const uint8_t* block = data + at + 6;
    at += 6 + length;
    // A copy of its own, so the sanitizer sees any read past the block.
    std::vector<uint8_t> copy(block, block + length);
    bad << CheckBlock(dwData, copy.data(), copy.size());
    TStreamHeader header;
    const bool ok = CheckStreamBlock(dwData, copy.data(), copy.size(), header) == TBlockCheck::Ok;
    const auto result = recorder.Accept(dwData, copy.data(), copy.size());
    using R = TStreamRecorder::TResult;
    if (failed) {
      if (result != R::FileError) bad << "wrote after a failed write; ";
      continue;
    }
    if (!ok && result != R::Malformed) bad << "a malformed block was not refused; ";
    if (ok && rate != 0 && header.SampleRate != rate && result != R::RateChanged)
      bad << "a new rate was not refused; ";
    if (result == R::Written) {
      frames += (copy.size() - StreamHeaderSize) / FrameBytes;
      rate = header.SampleRate;
    }
    if (result == R::FileError) failed = true;
    if (result == R::Malformed || result == R::RateChanged) continue;
    // The file: a 44-byte header whose sizes and rate describe the samples behind it.
    if (file.Bytes.size() < TStreamRecorder::WavHeaderSize) {
      bad << "file shorter than its header; ";
      continue;
    }
    const uint32_t dataBytes = Get32(file.Bytes.data() + 40);
    if (dataBytes % FrameBytes != 0) bad << "part frame in the file; ";
    if (file.Bytes.size() != TStreamRecorder::WavHeaderSize + dataBytes)
      bad << "file of " << file.Bytes.size() << " bytes, header says " << dataBytes << "; ";
    if (Get32(file.Bytes.data() + 4) != dataBytes + 36) bad << "RIFF size; ";
    if (!failed && dataBytes != frames * FrameBytes) bad << "frames lost or added; ";
    if (rate != 0 && Get32(file.Bytes.data() + 24) != static_cast<uint32_t>(rate))
      bad << "rate in the file; ";
    if (recorder.FramesWritten() != dataBytes / FrameBytes) bad << "frame count; ";
  }
  return bad.str();
}

}  // namespace stream_oracle
