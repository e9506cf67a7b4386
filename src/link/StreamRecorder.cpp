#include "link/StreamRecorder.h"

#include <algorithm>

#include "wave/WaveFormat.h"

namespace {

// The header names a rate before the first block has told the real one.
constexpr int32_t RateBeforeFirstBlock = 44100;
// The RIFF size field is 32 bits: the data may take what is left after the header.
constexpr uint64_t MaxDataBytes = 0xFFFFFFFFull - (TStreamRecorder::WavHeaderSize - 8);

void Put16(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out + 2, v >> 16);
}

}  // namespace

TStreamRecorder::TStreamRecorder(TRecordFile& file) : File(file) {}

bool TStreamRecorder::Start() {
  return WriteHeader();
}

bool TStreamRecorder::WriteHeader() {
  const int32_t rate = Rate ? Rate : RateBeforeFirstBlock;
  const uint32_t dataBytes = static_cast<uint32_t>(Frames * FrameBytes);
  uint8_t h[WavHeaderSize] = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                              'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
  Put32(h + 4, dataBytes + WavHeaderSize - 8);
  Put16(h + 20, 1);  // PCM
  Put16(h + 22, 2);
  Put32(h + 24, static_cast<uint32_t>(rate));
  Put32(h + 28, static_cast<uint32_t>(rate) * FrameBytes);
  Put16(h + 32, FrameBytes);
  Put16(h + 34, 16);
  h[36] = 'd';
  h[37] = 'a';
  h[38] = 't';
  h[39] = 'a';
  Put32(h + 40, dataBytes);
  uint32_t written = 0;
  return File.WriteAt(0, h, WavHeaderSize, written) && written == WavHeaderSize;
}

TStreamRecorder::TResult TStreamRecorder::Accept(uint32_t dwData, const uint8_t* data,
                                                 size_t size) {
  if (Failed) return TResult::FileError;
  TStreamHeader header;
  const TBlockCheck check = CheckStreamBlock(dwData, data, size, header);
  if (check != TBlockCheck::Ok) {
    ++Refused;
    Fault = check;
    return TResult::Malformed;
  }
  if (Rate != 0 && header.SampleRate != Rate) {
    ++Refused;
    return TResult::RateChanged;
  }
  uint64_t frames = (size - StreamHeaderSize) / FrameBytes;
  if (FrameLimit > 0) frames = std::min(frames, FrameLimit - std::min(FrameLimit, Frames));
  frames = std::min(frames, MaxDataBytes / FrameBytes - Frames);
  if (frames == 0 && size > StreamHeaderSize) return TResult::Full;
  Rate = header.SampleRate;

  const uint32_t bytes = static_cast<uint32_t>(frames * FrameBytes);
  uint32_t written = 0;
  const bool ok =
      File.WriteAt(WavHeaderSize + Frames * FrameBytes, data + StreamHeaderSize, bytes, written);
  if (!ok || written != bytes) {
    // Keep the whole frames that reached the file and a header that describes them.
    Failed = true;
    Frames += std::min(written, bytes) / FrameBytes;
    File.Truncate(WavHeaderSize + Frames * FrameBytes);
    WriteHeader();
    return TResult::FileError;
  }
  Frames += frames;
  ++Blocks;
  Peak.Left = std::max(Peak.Left, header.LevelLeft);
  Peak.Right = std::max(Peak.Right, header.LevelRight);
  if (!WriteHeader()) {
    Failed = true;
    return TResult::FileError;
  }
  return TResult::Written;
}

TBlockLevels TStreamRecorder::TakePeakLevels() {
  const TBlockLevels peak = Peak;
  Peak = TBlockLevels{};
  return peak;
}
