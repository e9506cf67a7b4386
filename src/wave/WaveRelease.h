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

  // Releases the device and its blocks; both are empty afterwards, kept here if need be.
  void Release(TWaveHandle& handle, std::unique_ptr<TWaveBlocks>& blocks);
  // Tries the kept devices again; true when none is left.
  bool RetryKept();
  size_t Kept() const { return KeptDevices.size(); }

 private:
  struct TKept {
    TWaveHandle Handle;
    std::unique_ptr<TWaveBlocks> Blocks;
  };
  bool TryRelease(TWaveHandle& handle, TWaveBlocks* blocks);

  TWaveApi& Api;
  TWaveSide Side;
  std::vector<TKept> KeptDevices;
};
