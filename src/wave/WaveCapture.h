#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "wave/WaveApi.h"
#include "wave/WaveFormat.h"
#include "wave/WaveRelease.h"

// Records from one wave-input device in blocks of BlockSize bytes, keeping BufferCount empty
// blocks queued at the device. The owner's relay thread calls ProcessDone every 10 ms, which
// hands each recorded block to OnData and queues it again (or a fresh one) in its place.
//
// Threads: Open, Close and the first ProcessDone run on the main thread while no relay thread
// runs; ProcessDone and ReadyBytes on the relay thread while it runs. BlockSize and BufferCount
// may be written by the main thread at any time: the next blocks queued follow them.
class TWaveCapture {
 public:
  explicit TWaveCapture(TWaveApi& api);
  // Closes the device if the owner has not: the device must not keep blocks that are freed here.
  ~TWaveCapture();
  TWaveCapture(const TWaveCapture&) = delete;
  TWaveCapture& operator=(const TWaveCapture&) = delete;

  // A pass is running; a nested call returns at once.
  std::atomic<bool> Busy{false};
  // Both raised on the thread that runs ProcessDone: the relay thread, or the main thread for
  // the pass that queues the first blocks.
  // A recorded block: data is lent for the call only, size in bytes.
  std::function<void(TWaveCapture* sender, const int16_t* data, int32_t size)> OnData;
  // A platform call failed with this code.
  std::function<void(TWaveCapture* sender, int32_t code)> OnError;
  TWaveDevices Devices;
  int32_t DeviceIndex = -1;
  int32_t SampleRate = 44100;
  uint8_t Bits = 16;
  // May be changed while open (the settings dialog); blocks made afterwards follow.
  std::atomic<int32_t> BlockSize{4096};
  std::atomic<int32_t> BufferCount{11};
  TWaveHandle Handle;
  // Queued at the device, oldest first; null while closed.
  std::unique_ptr<TWaveBlocks> Blocks;
  std::atomic<int16_t> PeakLeft{0};
  std::atomic<int16_t> PeakRight{0};
  std::atomic<bool> Active{false};

  void UpdateDevices();
  int32_t DeviceCount() const { return static_cast<int32_t>(Devices.size()); }
  std::string GetDeviceName(int32_t i) const { return WaveDeviceName(Devices, i); }
  void SelectDevice(int32_t i);

  // BufferCount := bytes div BlockSize + 1.
  void SetBufferSize(int32_t bytes);
  // 0, -1 without a selected device, else the platform's code. A failed start leaves the device
  // open (Active) with the code returned; Close releases it.
  int32_t Open();
  // Always 0; no event is raised for the blocks dropped here. A device that will not let go of
  // its blocks is kept and released at a later open or close (TWaveRelease).
  int32_t Close();
  // Devices an earlier close could not release yet.
  size_t KeptDevices() const { return Releaser.Kept(); }
  void ProcessDone();
  // Recorded bytes in the finished blocks at the head of the queue.
  uint32_t ReadyBytes();

  double LevelLeft() const { return PeakLevel(PeakLeft.load()); }
  double LevelRight() const { return PeakLevel(PeakRight.load()); }

 private:
  void Collect(bool& first);
  void Refill();
  void RaiseError(uint32_t code);
  // To the pool, or, still prepared, to Stranded.
  void GiveBack(std::unique_ptr<TWaveBlock> block);

  TWaveApi& Api;
  TBlockPool Pool;
  // Blocks whose unprepare failed: not reusable, and not to be freed before the device has been
  // released (the close tries the unprepare again).
  TWaveBlocks Stranded;
  // The catalogue identifier of the device open now.
  uint32_t OpenDevice = 0;
  TWaveRelease Releaser{Api, TWaveSide::Input};
};
