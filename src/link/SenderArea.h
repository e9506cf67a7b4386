#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/Seams.h"
#include "link/WinMSG.h"
#include "util/Clock.h"

// One waiting stream block: a copy of the samples with their size and rate. The buffer stays
// with its slot and is reused by later blocks that fit.
struct TSendBlock {
  std::unique_ptr<int16_t[]> Data;
  int32_t Capacity = 0;  // bytes
  int32_t Size = 0;      // bytes
  int32_t SampleRate = 0;
};

// The send queue from the relay thread to the peers: a ring of 256 slots with one producer
// (AddSendData, relay thread) and one consumer (SendMemory, main thread) and no lock. A slot's
// pointer is the hand-over: the producer fills the slot's block and then publishes it (release);
// the consumer reads the pointer (acquire), sends the block and then empties the slot (release),
// which the producer reads (acquire) before it fills the slot again.
//
// A full queue drops the new block (counted in DroppedBlocks). The relay thread never waits and
// allocates only when a block is larger than any its slot held before.
class TSenderArea : public TStreamSink {
 public:
  static constexpr uint16_t SlotCount = 256;
  // A stream block is a few milliseconds of audio (about 15 KB at 192 kHz, twice that after
  // plug-ins); anything larger than this is not queued.
  static constexpr int32_t MaxBlockBytes = 1 << 22;

  TSenderArea(TWinMSG& transport, TClock& clock);
  TSenderArea(const TSenderArea&) = delete;
  TSenderArea& operator=(const TSenderArea&) = delete;

  // Relay thread: queues a copy of the block.
  void AddSendData(const int16_t* data, int32_t size, int32_t rate) override;

  // Main thread, every display tick: sends the waiting blocks in order, each to every active
  // peer before the next. It stops at an empty slot, after one ring's worth of blocks, or once
  // sending has taken SendBudgetMs, so slow peers cannot hold the main thread: the blocks that
  // find the queue full are dropped instead.
  void SendMemory();
  // The header, then the samples, to every active peer. Nothing is built without peers.
  void SendWaveData(const TSendBlock& block);
  // Empties a slot (from SendMemory; for any slot only while no producer runs).
  void Free_SenderArea(uint16_t slot);

  uint16_t WritePos() const { return WritePos_.load(std::memory_order_relaxed); }
  uint16_t ReadPos() const { return ReadPos_.load(std::memory_order_relaxed); }
  bool SlotOccupied(uint16_t slot) const;
  // Blocks dropped because the queue was full (or memory could not be had).
  uint64_t DroppedBlocks() const { return Dropped.load(std::memory_order_relaxed); }
  // Blocks taken from the queue by SendMemory.
  uint64_t SentBlocks() const { return Sent; }

  uint32_t SendBudgetMs = 50;

 private:
  TWinMSG& Transport;
  TClock& Clock;
  std::array<TSendBlock, SlotCount> Blocks;
  std::array<std::atomic<TSendBlock*>, SlotCount> Slots{};
  std::atomic<uint16_t> WritePos_{0};
  std::atomic<uint16_t> ReadPos_{0};
  std::atomic<uint64_t> Dropped{0};
  uint64_t Sent = 0;
  bool Sending = false;
  // The header and samples of the block being sent; kept to reuse its memory.
  std::vector<uint8_t> Packet;
};
