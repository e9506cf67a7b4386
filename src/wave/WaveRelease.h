#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "wave/WaveApi.h"
#include "wave/WaveFormat.h"

// Gives a device's blocks back and closes it, without ever freeing a block that the device may
// still write into or read from. A reset that fails leaves the blocks queued at the device; then
// they can be neither unprepared nor freed, and the device will not close (freeing them anyway
// would let the driver write into freed memory). So a step that fails is tried again once (a
// failure in passing), and a device that still will not let go is kept, with its blocks, and
// tried again at the next open or close. Main thread only.
class TWaveRelease {
 public:
  TWaveRelease(TWaveApi& api, TWaveSide side) : Api(api), Side(side) {}
  // What is still kept is tried once more; what the device still holds is left to the system
  // (its memory is not freed).
  ~TWaveRelease();
  TWaveRelease(const TWaveRelease&) = delete;
  TWaveRelease& operator=(const TWaveRelease&) = delete;

  // Releases the device (the catalogue's device identifier) with its queued blocks and those
  // whose unprepare failed (stranded); all are empty afterwards, kept here if need be.
  void Release(uint32_t device, TWaveHandle& handle, std::unique_ptr<TWaveBlocks>& blocks,
               TWaveBlocks& stranded);
  // Tries the kept devices again; true when none is left.
  bool RetryKept();
  size_t Kept() const { return KeptDevices.size(); }
  // A handle of the device is still kept: it is not opened again meanwhile, so a device that
  // never lets go costs one handle, not one per try.
  bool Keeps(uint32_t device) const;

 private:
  struct TKept {
    uint32_t Device = 0;
    TWaveHandle Handle;
    std::unique_ptr<TWaveBlocks> Blocks;
  };
  bool TryRelease(TWaveHandle& handle, TWaveBlocks* blocks);

  TWaveApi& Api;
  TWaveSide Side;
  std::vector<TKept> KeptDevices;
};

// A block the device gave back: to the pool when it is unprepared; one still prepared (its
// unprepare failed) waits in stranded for the device's release, since the pool would hand it out
// again as a fresh block. Runs on the relay thread: stranded is reserved at the open, and a block
// that finds no room is left to the system rather than freed while prepared.
void GiveBackBlock(std::unique_ptr<TWaveBlock> block, TBlockPool& pool, TWaveBlocks& stranded);
