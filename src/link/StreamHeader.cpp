#include "link/StreamHeader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "link/Protocol.h"
#include "wave/WaveFormat.h"

static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8,
              "the stream header carries IEEE 754 doubles");

namespace {

void PutLE(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLE(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

int16_t SampleAt(const uint8_t* bytes, size_t index) {
  return static_cast<int16_t>(static_cast<uint16_t>(GetLE(bytes + 2 * index, 2)));
}

// Levels of samples given as bytes at any alignment.
TBlockLevels LevelsOfBytes(const uint8_t* bytes, size_t size) {
  int32_t left = 0;
  int32_t right = 0;
  const size_t frames = size / FrameBytes;
  for (size_t i = 0; i < frames; ++i) {
    left = std::max(left, SampleMagnitude(SampleAt(bytes, 2 * i)));
    right = std::max(right, SampleMagnitude(SampleAt(bytes, 2 * i + 1)));
  }
  return {PeakLevel(left), PeakLevel(right)};
}

bool SameLevel(double a, double b) {
  return std::fabs(a - b) < 0.01;
}

}  // namespace

void WriteStreamHeader(const TStreamHeader& header, uint8_t* out) {
  PutLE(out + StreamOffsetSampleRate, static_cast<uint32_t>(header.SampleRate), 4);
  out[StreamOffsetChannels] = header.Channels;
  out[StreamOffsetBits] = header.Bits;
  PutLE(out + StreamOffsetLevelLeft, std::bit_cast<uint64_t>(header.LevelLeft), 8);
  PutLE(out + StreamOffsetLevelRight, std::bit_cast<uint64_t>(header.LevelRight), 8);
}

TStreamHeader ReadStreamHeader(const uint8_t* in) {
  TStreamHeader header;
  header.SampleRate =
      static_cast<int32_t>(static_cast<uint32_t>(GetLE(in + StreamOffsetSampleRate, 4)));
  header.Channels = in[StreamOffsetChannels];
  header.Bits = in[StreamOffsetBits];
  header.LevelLeft = std::bit_cast<double>(GetLE(in + StreamOffsetLevelLeft, 8));
  header.LevelRight = std::bit_cast<double>(GetLE(in + StreamOffsetLevelRight, 8));
  return header;
}

TBlockLevels StreamLevels(const int16_t* samples, int32_t size) {
  int32_t left = 0;
  int32_t right = 0;
  const int32_t frames = size > 0 && samples ? size / FrameBytes : 0;
  for (int32_t i = 0; i < frames; ++i) {
    left = std::max(left, SampleMagnitude(samples[2 * i]));
    right = std::max(right, SampleMagnitude(samples[2 * i + 1]));
  }
  return {PeakLevel(left), PeakLevel(right)};
}

bool IsStreamRate(int32_t rate) {
  for (int32_t r : {32000, 44100, 48000, 88200, 96000, 176400, 192000})
    if (rate == r) return true;
  return false;
}

TBlockCheck CheckStreamBlock(uint32_t dwData, const uint8_t* data, size_t size,
                             TStreamHeader& header) {
  if (dwData != PackParam(StreamCode, StreamParameter)) return TBlockCheck::NotStream;
  if (size < StreamHeaderSize || !data) return TBlockCheck::TooShort;
  header = ReadStreamHeader(data);
  if (header.Channels != 2) return TBlockCheck::BadChannels;
  if (header.Bits != 16) return TBlockCheck::BadBits;
  if (!IsStreamRate(header.SampleRate)) return TBlockCheck::BadRate;
  const size_t samples = size - StreamHeaderSize;
  if (samples % FrameBytes != 0) return TBlockCheck::PartFrame;
  const TBlockLevels levels = LevelsOfBytes(data + StreamHeaderSize, samples);
  if (!SameLevel(levels.Left, header.LevelLeft) || !SameLevel(levels.Right, header.LevelRight))
    return TBlockCheck::BadLevels;
  return TBlockCheck::Ok;
}

const char* BlockCheckText(TBlockCheck check) {
  switch (check) {
    case TBlockCheck::Ok:
      return "ok";
    case TBlockCheck::NotStream:
      return "not a stream block (dwData is not 0)";
    case TBlockCheck::TooShort:
      return "shorter than the 22-byte header";
    case TBlockCheck::BadChannels:
      return "channels is not 2";
    case TBlockCheck::BadBits:
      return "bits is not 16";
    case TBlockCheck::BadRate:
      return "unknown sample rate";
    case TBlockCheck::PartFrame:
      return "samples end inside a frame";
    case TBlockCheck::BadLevels:
      return "levels do not match the samples";
  }
  return "unknown fault";
}
