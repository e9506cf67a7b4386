#include "wave/WaveRelease.h"

TWaveRelease::~TWaveRelease() {
  RetryKept();
  // Blocks a device still holds outlive us rather than be written into after being freed.
  for (TKept& kept : KeptDevices) static_cast<void>(kept.Blocks.release());
}

bool TWaveRelease::TryRelease(TWaveHandle& handle, TWaveBlocks* blocks) {
  const bool input = Side == TWaveSide::Input;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Reset hands every queued block back as done; only then can a block be unprepared.
    input ? Api.InReset(handle.Get()) : Api.OutReset(handle.Get());
    bool unprepared = true;
    bool queued = false;
    if (blocks) {
      for (auto& block : *blocks) {
        if (!(block->Header.dwFlags & WHDR_PREPARED)) continue;
        const uint32_t r = input ? Api.InUnprepareHeader(handle.Get(), &block->Header)
                                 : Api.OutUnprepareHeader(handle.Get(), &block->Header);
        if (r != 0) {
          unprepared = false;
          queued = queued || (block->Header.dwFlags & WHDR_INQUEUE) != 0;
        }
      }
    }
    if (!unprepared && attempt == 0) continue;
    // A device whose stream died fails the reset and keeps its blocks queued, yet closes (Wine
    // does so when the sound server's sink is unloaded): a device that closed holds nothing. A
    // block that is not queued and still cannot be unprepared keeps the device for later.
    if (!unprepared && !queued) return false;
    if (input) Api.InStop(handle.Get());
    if (handle.TryClose() == 0) return true;
  }
  return false;
}

void TWaveRelease::Release(uint32_t device, TWaveHandle& handle,
                           std::unique_ptr<TWaveBlocks>& blocks, TWaveBlocks& stranded) {
  RetryKept();
  if (!stranded.empty()) {
    if (!blocks) blocks = std::make_unique<TWaveBlocks>();
    for (auto& block : stranded) blocks->push_back(std::move(block));
    stranded.clear();
  }
  if (handle && !TryRelease(handle, blocks.get())) {
    KeptDevices.push_back({device, std::move(handle), std::move(blocks)});
    return;
  }
  handle.Close();
  blocks.reset();
}

bool TWaveRelease::Keeps(uint32_t device) const {
  for (const TKept& kept : KeptDevices)
    if (kept.Device == device) return true;
  return false;
}

bool TWaveRelease::RetryKept() {
  for (size_t i = 0; i < KeptDevices.size();) {
    if (TryRelease(KeptDevices[i].Handle, KeptDevices[i].Blocks.get())) {
      KeptDevices.erase(KeptDevices.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return KeptDevices.empty();
}

void GiveBackBlock(std::unique_ptr<TWaveBlock> block, TBlockPool& pool, TWaveBlocks& stranded) {
  if (!block) return;
  if (!(block->Header.dwFlags & WHDR_PREPARED)) {
    pool.Give(std::move(block));
  } else if (stranded.size() < stranded.capacity()) {
    stranded.push_back(std::move(block));
  } else {
    static_cast<void>(block.release());
  }
}
