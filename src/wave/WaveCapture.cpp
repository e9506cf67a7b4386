#include "wave/WaveCapture.h"

#include <algorithm>
#include <utility>

namespace {

// Runs on the platform's thread: marks the block and nothing else (no wave call, no lock).
void KESTRUNE_WAVE_CALLBACK CaptureDoneProc(TWaveRawHandle, uint32_t message, uintptr_t,
                                            uintptr_t param1, uintptr_t) {
  if (message != WIM_DATA || param1 == 0) return;
  MarkBlockDone(*reinterpret_cast<TWaveHdr*>(param1));
}

}  // namespace

TWaveCapture::TWaveCapture(TWaveApi& api) : Api(api) {
  UpdateDevices();
  DeviceIndex = Devices.empty() ? -1 : 0;
  SetBufferSize(44100);
}

TWaveCapture::~TWaveCapture() {
  Close();
}

void TWaveCapture::UpdateDevices() {
  Devices = ReadWaveDevices(Api, TWaveSide::Input);
}

void TWaveCapture::SelectDevice(int32_t i) {
  if (i >= 0 && i < DeviceCount()) DeviceIndex = i;
}

void TWaveCapture::SetBufferSize(int32_t bytes) {
  const int32_t size = BlockSize.load();
  // A block size of 0 would divide by zero; one block is the least the device can work with.
  BufferCount.store(size > 0 ? (bytes > 0 ? bytes : 0) / size + 1 : 1);
}

int32_t TWaveCapture::Open() {
  Releaser.RetryKept();
  if (DeviceIndex < 0 || DeviceIndex >= DeviceCount()) return -1;
  // A second open would strand the queued blocks of the first.
  if (Active.load()) return static_cast<int32_t>(MMSYSERR_ALLOCATED);
  const uint32_t id = static_cast<uint32_t>(Devices[DeviceIndex].DeviceID);
  if (Releaser.Keeps(id)) return static_cast<int32_t>(MMSYSERR_ALLOCATED);
  const TWaveFormatEx format = MakeWaveFormat(SampleRate, 2, Bits);
  uint32_t r = Api.InOpen(nullptr, id, format, nullptr, 0, WAVE_FORMAT_QUERY);
  if (r != 0) return static_cast<int32_t>(r);
  TWaveRawHandle raw = nullptr;
  r = Api.InOpen(&raw, id, format, &CaptureDoneProc, id, CALLBACK_FUNCTION);
  if (r != 0) return static_cast<int32_t>(r);
  Handle = TWaveHandle(Api, TWaveSide::Input, raw);
  OpenDevice = id;
  r = Api.InStart(raw);
  Blocks = std::make_unique<TWaveBlocks>();
  // Room for the queue, also for one that the settings make a few times longer, so recording
  // goes on without allocating.
  const auto count = static_cast<size_t>(std::max(BufferCount.load(), 1));
  Blocks->reserve(4 * count);
  Stranded.reserve(count);
  Pool.Reserve(BlockSize.load(), count, false);
  Active.store(true);
  return static_cast<int32_t>(r);
}

int32_t TWaveCapture::Close() {
  Releaser.RetryKept();
  if (!Active.load()) return 0;
  Active.store(false);
  Releaser.Release(OpenDevice, Handle, Blocks, Stranded);
  Pool.Clear();
  PeakLeft.store(0);
  PeakRight.store(0);
  return 0;
}

void TWaveCapture::RaiseError(uint32_t code) {
  if (OnError) OnError(this, static_cast<int32_t>(code));
}

void TWaveCapture::ProcessDone() {
  if (Busy.exchange(true)) return;
  bool first = true;
  try {
    if (Blocks) {
      Collect(first);
      Refill();
    }
  } catch (...) {
    // A failing handler ends the pass; the block in hand is already off the queue and freed.
  }
  Busy.store(false);
}

void TWaveCapture::Collect(bool& first) {
  size_t i = 0;
  while (Blocks && i < Blocks->size()) {
    if (!IsBlockDone((*Blocks)[i]->Header)) {
      ++i;
      continue;
    }
    std::unique_ptr<TWaveBlock> block = std::move((*Blocks)[i]);
    Blocks->erase(Blocks->begin() + static_cast<std::ptrdiff_t>(i));
    const uint32_t r = Api.InUnprepareHeader(Handle.Get(), &block->Header);
    if (r != 0) RaiseError(r);
    const int32_t size = static_cast<int32_t>(block->Header.dwBytesRecorded);
    FoldPeaks(block->Data.get(), size, first, PeakLeft, PeakRight);
    // Back to the pool after the handler, also when it throws.
    struct TGiveBack {
      TWaveCapture& Capture;
      std::unique_ptr<TWaveBlock>& Block;
      ~TGiveBack() { GiveBackBlock(std::move(Block), Capture.Pool, Capture.Stranded); }
    } giveBack{*this, block};
    if (OnData) OnData(this, block->Data.get(), size);
  }
}

void TWaveCapture::Refill() {
  while (Blocks && static_cast<int32_t>(Blocks->size()) < BufferCount.load()) {
    const int32_t size = BlockSize.load();
    std::unique_ptr<TWaveBlock> block = size > 0 ? Pool.Take(size, false) : nullptr;
    if (!block) return;
    uint32_t r = Api.InPrepareHeader(Handle.Get(), &block->Header);
    if (r != 0) {
      GiveBackBlock(std::move(block), Pool, Stranded);
      RaiseError(r);
      return;
    }
    // On the list before the device has it, so a full list cannot strand a queued block.
    TWaveHdr* header = &block->Header;
    Blocks->push_back(std::move(block));
    r = Api.InAddBuffer(Handle.Get(), header);
    if (r != 0) {
      // A block the device refused would never come back: release it and report.
      block = std::move(Blocks->back());
      Blocks->pop_back();
      Api.InUnprepareHeader(Handle.Get(), header);
      GiveBackBlock(std::move(block), Pool, Stranded);
      RaiseError(r);
      return;
    }
  }
}

uint32_t TWaveCapture::ReadyBytes() {
  uint32_t bytes = 0;
  if (!Blocks) return 0;
  for (auto& block : *Blocks) {
    if (!IsBlockDone(block->Header)) break;
    bytes += block->Header.dwBytesRecorded;
  }
  return bytes;
}
