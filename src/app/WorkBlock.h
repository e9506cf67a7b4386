#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// The block path's working copy of one recorded block, with a second buffer of the same size
// that a correction writes into before the two change places. Both are sized when a session
// starts, so the relay thread copies, stretches and processes blocks without allocating.
class TWorkBlock {
 public:
  // Makes room for capacity bytes in both buffers (main thread, before the relay runs).
  void Reserve(int32_t capacity) {
    const auto samples = static_cast<size_t>(std::max(capacity, 0) + 1) / 2;
    if (First.size() < samples) First.resize(samples);
    if (Second.size() < samples) Second.resize(samples);
  }
  // Copies a block in. A block larger than half the room makes room, for it and for plug-ins
  // that write twice its frames (only a block larger than any the session was sized for can).
  void Load(const int16_t* data, int32_t size) {
    size = std::max(size, 0);
    if (2 * size > Capacity()) Reserve(2 * size);
    Flipped = false;
    if (size > 0) std::memcpy(First.data(), data, static_cast<size_t>(size));
    Size = size;
  }

  int16_t* Data() { return Flipped ? Second.data() : First.data(); }
  // The other buffer, for a correction to write the new block into.
  int16_t* Spare() { return Flipped ? First.data() : Second.data(); }
  // The spare now holds the block, newSize bytes long.
  void TakeSpare(int32_t newSize) {
    Flipped = !Flipped;
    Size = newSize;
  }
  int32_t Capacity() const { return static_cast<int32_t>(First.size() * 2); }

  // Bytes of the block.
  int32_t Size = 0;

 private:
  std::vector<int16_t> First;
  std::vector<int16_t> Second;
  bool Flipped = false;
};
