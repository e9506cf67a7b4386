#include "link/SenderArea.h"

#include <cstring>
#include <new>

#include "link/FlagScope.h"
#include "link/StreamHeader.h"

namespace {

constexpr uint16_t NextSlot(uint16_t slot) {
  return static_cast<uint16_t>((slot + 1) % TSenderArea::SlotCount);
}

// Room for a block of size bytes with a little to spare, so blocks that the stabilizer makes a
// few frames longer still fit.
int32_t CapacityFor(int32_t size) {
  return size + size / 8 + 256;
}

}  // namespace

TSenderArea::TSenderArea(TWinMSG& transport, TClock& clock) : Transport(transport), Clock(clock) {}

bool TSenderArea::SlotOccupied(uint16_t slot) const {
  return slot < SlotCount && Slots[slot].load(std::memory_order_acquire) != nullptr;
}

void TSenderArea::AddSendData(const int16_t* data, int32_t size, int32_t rate) {
  if (size < 0 || (size > 0 && !data)) return;
  const uint16_t slot = WritePos_.load(std::memory_order_relaxed);
  if (Slots[slot].load(std::memory_order_acquire)) {
    Dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  TSendBlock& block = Blocks[slot];
  if (size > MaxBlockBytes) {
    Dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (block.Capacity < size) {
    const int32_t capacity = CapacityFor(size);
    int16_t* buffer = new (std::nothrow) int16_t[static_cast<size_t>(capacity) / 2 + 1];
    if (!buffer) {
      Dropped.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    block.Data.reset(buffer);
    block.Capacity = capacity;
  }
  if (size > 0) std::memcpy(block.Data.get(), data, static_cast<size_t>(size));
  block.Size = size;
  block.SampleRate = rate;
  Slots[slot].store(&block, std::memory_order_release);
  WritePos_.store(NextSlot(slot), std::memory_order_relaxed);
}

void TSenderArea::Free_SenderArea(uint16_t slot) {
  if (slot >= SlotCount) return;
  Slots[slot].store(nullptr, std::memory_order_release);
}

void TSenderArea::SendMemory() {
  // A nested call (from a handler that runs while a send waits) leaves the sending to this one.
  if (Sending) return;
  const TFlagScope sending(Sending);
  const uint64_t start = Clock.TickCount64();
  for (int sent = 0; sent < SlotCount; ++sent) {
    const uint16_t slot = ReadPos_.load(std::memory_order_relaxed);
    const TSendBlock* block = Slots[slot].load(std::memory_order_acquire);
    if (!block) break;
    SendWaveData(*block);
    Free_SenderArea(slot);
    ReadPos_.store(NextSlot(slot), std::memory_order_relaxed);
    ++Sent;
    if (Clock.TickCount64() - start >= SendBudgetMs) break;
  }
}

void TSenderArea::SendWaveData(const TSendBlock& block) {
  if (!Transport.HasActivePeers()) return;
  TStreamHeader header;
  header.SampleRate = block.SampleRate;
  const TBlockLevels levels = StreamLevels(block.Data.get(), block.Size);
  header.LevelLeft = levels.Left;
  header.LevelRight = levels.Right;
  Packet.resize(StreamHeaderSize + static_cast<size_t>(block.Size));
  WriteStreamHeader(header, Packet.data());
  if (block.Size > 0)
    std::memcpy(Packet.data() + StreamHeaderSize, block.Data.get(),
                static_cast<size_t>(block.Size));
  Transport.BroadcastData(StreamCode, StreamParameter, Packet.data(),
                          static_cast<int32_t>(Packet.size()));
}
