#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wave/WaveApi.h"

// Audio everywhere is 16-bit signed PCM, two channels interleaved, left first: 4 bytes a frame.
inline constexpr int32_t FrameBytes = 4;

// One entry of a device catalogue: the platform's identifier and the trimmed product name.
struct TWaveDevice {
  int32_t DeviceID = 0;
  std::string Name;  // at most 32 characters
};

using TWaveDevices = std::vector<TWaveDevice>;

// A block: the platform's header and a separately allocated data area, both zero-filled.
// The header's address is what the device holds, so a block never moves once queued.
struct TWaveBlock {
  TWaveHdr Header{};
  std::unique_ptr<int16_t[]> Data;
  // Bytes the data area (and the source copy, where there is one) can hold.
  int32_t Capacity = 0;
  // The player's copy of the samples as they were handed in, before the volume.
  std::unique_ptr<int16_t[]> Source;
};

using TWaveBlocks = std::vector<std::unique_ptr<TWaveBlock>>;

// A zero-filled block with room for capacity bytes (at least size) and dwBufferLength = size,
// with a source area too when asked; nullptr when memory cannot be had.
std::unique_ptr<TWaveBlock> NewWaveBlock(int32_t size, int32_t capacity = 0,
                                         bool withSource = false);

// Blocks kept for reuse, so that once a session runs the relay thread allocates nothing: a
// block a device gave back waits here for the next one of at most its size.
class TBlockPool {
 public:
  // Keeps count blocks of capacity bytes ready (before the relay thread runs); the pool's own
  // list is sized for twice that many.
  void Reserve(int32_t capacity, size_t count, bool withSource);
  // A block for size bytes with a cleared header; allocates only when no kept block is large
  // enough. nullptr when memory cannot be had.
  std::unique_ptr<TWaveBlock> Take(int32_t size, bool withSource);
  void Give(std::unique_ptr<TWaveBlock> block);
  void Clear();
  size_t Count() const { return Spare.size(); }

 private:
  std::vector<std::unique_ptr<TWaveBlock>> Spare;
  int32_t Capacity = 0;
};

// The done mark lives in the header's dwUser: the device's callback thread writes it, the relay
// thread reads it, so both go through an atomic view of the field. It is the clock's stamp
// (StampMs) of the moment the device handed the block back, or 1 where the callback has no clock;
// never 0, which means not done (a stamp of 0 is kept as 1).
inline uint32_t BlockDoneMark(TWaveHdr& header) {
  return static_cast<uint32_t>(
      std::atomic_ref<decltype(header.dwUser)>(header.dwUser).load(std::memory_order_acquire));
}
inline bool IsBlockDone(TWaveHdr& header) {
  return BlockDoneMark(header) != 0;
}
inline void MarkBlockDone(TWaveHdr& header, uint32_t stamp = 1) {
  std::atomic_ref<decltype(header.dwUser)>(header.dwUser)
      .store(stamp != 0 ? stamp : 1, std::memory_order_release);
}

// The format record for opening a device: PCM with the given layout.
TWaveFormatEx MakeWaveFormat(int32_t sampleRate, uint8_t channels, uint8_t bits);

// Reads the catalogue of one side afresh: every device whose capabilities can be read and that
// offers 44100 Hz stereo 16-bit, with its identifier and its trimmed name cut to 32 characters.
TWaveDevices ReadWaveDevices(TWaveApi& api, TWaveSide side);

// Catalogue name of entry i, or empty text outside the catalogue.
std::string WaveDeviceName(const TWaveDevices& devices, int32_t i);

// The magnitude of a sample for the peak meter: a negative s counts as -1 - s.
inline int32_t SampleMagnitude(int16_t s) {
  // -1 - s for a negative sample, without a branch, so the peak loops vectorise.
  return s ^ (s >> 15);
}

// Folds a block's frames into the peaks of one collecting pass: the first block of a pass
// replaces the peaks, the following ones raise them.
void FoldPeaks(const int16_t* data, int32_t size, bool& first, std::atomic<int16_t>& left,
               std::atomic<int16_t>& right);

// dB full scale of a peak; -90.3 for silence.
double PeakLevel(int32_t peak);

// Capture block size in bytes for a rate and the Blocksize setting (0..3): units of 5 ms.
inline int32_t CaptureBlockSize(int32_t sampleRate, int32_t blocksize) {
  return (sampleRate / 200) * FrameBytes * (blocksize + 1);
}
