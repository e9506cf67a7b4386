#pragma once

#include <cstddef>
#include <cstdint>

// The header in front of the samples of every stream block sent to the peers: 22 bytes,
// little-endian, no padding.
//
//   offset  size  field
//   0       4     SampleRate   32-bit signed, Hz
//   4       1     Channels     always 2
//   5       1     Bits         always 16
//   6       8     LevelLeft    IEEE 754 double, dB full scale of the block's left peak
//   14      8     LevelRight   the same for the right channel
//   22            the samples: 16-bit signed, stereo interleaved, left first
struct TStreamHeader {
  int32_t SampleRate = 0;
  uint8_t Channels = 2;
  uint8_t Bits = 16;
  double LevelLeft = -90.3;
  double LevelRight = -90.3;
};

inline constexpr size_t StreamOffsetSampleRate = 0;
inline constexpr size_t StreamOffsetChannels = 4;
inline constexpr size_t StreamOffsetBits = 5;
inline constexpr size_t StreamOffsetLevelLeft = 6;
inline constexpr size_t StreamOffsetLevelRight = 14;
inline constexpr size_t StreamHeaderSize = 22;
static_assert(StreamOffsetLevelRight + 8 == StreamHeaderSize);

// Writes the header's 22 bytes.
void WriteStreamHeader(const TStreamHeader& header, uint8_t* out);
// Reads 22 bytes as a header.
TStreamHeader ReadStreamHeader(const uint8_t* in);

// Peak levels of the left and right channel of a block of stereo frames, in dB full scale
// (-90.3 for silence); a trailing part frame is ignored.
struct TBlockLevels {
  double Left = -90.3;
  double Right = -90.3;
};
TBlockLevels StreamLevels(const int16_t* samples, int32_t size);

// What is wrong with a received stream block, if anything.
enum class TBlockCheck {
  Ok,
  NotStream,    // dwData is not the stream's code and parameter
  TooShort,     // fewer bytes than the header
  BadChannels,  // Channels is not 2
  BadBits,      // Bits is not 16
  BadRate,      // not one of the program's sample rates
  PartFrame,    // the samples end inside a frame
  BadLevels,    // the levels do not match the samples
};

// Checks a WM_COPYDATA received from the program as a stream block (the bytes may lie at any
// alignment) and reads its header.
TBlockCheck CheckStreamBlock(uint32_t dwData, const uint8_t* data, size_t size,
                             TStreamHeader& header);
const char* BlockCheckText(TBlockCheck check);

// The sample rates the program can run at.
bool IsStreamRate(int32_t rate);
