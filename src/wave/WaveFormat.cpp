#include "wave/WaveFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "util/Helpers.h"

std::unique_ptr<TWaveBlock> NewWaveBlock(int32_t size, int32_t capacity, bool withSource) {
  if (size < 0) return nullptr;
  capacity = std::max(size, capacity);
  std::unique_ptr<TWaveBlock> block(new (std::nothrow) TWaveBlock());
  if (!block) return nullptr;
  // An odd size still gets a whole last sample, so the area is never read past its end.
  const size_t samples = (static_cast<size_t>(capacity) + 1) / 2;
  block->Data.reset(new (std::nothrow) int16_t[samples]());
  if (!block->Data) return nullptr;
  if (withSource) {
    block->Source.reset(new (std::nothrow) int16_t[samples]());
    if (!block->Source) return nullptr;
  }
  block->Capacity = capacity;
  block->Header.lpData = reinterpret_cast<char*>(block->Data.get());
  block->Header.dwBufferLength = static_cast<uint32_t>(size);
  return block;
}

void TBlockPool::Reserve(int32_t capacity, size_t count, bool withSource) {
  Capacity = std::max(Capacity, capacity);
  Spare.reserve(2 * count);
  while (Spare.size() < count) {
    auto block = NewWaveBlock(0, Capacity, withSource);
    if (!block) return;
    Spare.push_back(std::move(block));
  }
}

std::unique_ptr<TWaveBlock> TBlockPool::Take(int32_t size, bool withSource) {
  if (size < 0) return nullptr;
  if (!Spare.empty() && Spare.back()->Capacity >= size && (!withSource || Spare.back()->Source)) {
    std::unique_ptr<TWaveBlock> block = std::move(Spare.back());
    Spare.pop_back();
    std::memset(&block->Header, 0, sizeof(block->Header));
    block->Header.lpData = reinterpret_cast<char*>(block->Data.get());
    block->Header.dwBufferLength = static_cast<uint32_t>(size);
    return block;
  }
  return NewWaveBlock(size, Capacity, withSource);
}

void TBlockPool::Give(std::unique_ptr<TWaveBlock> block) {
  // A full list would have to grow: the block is freed instead.
  if (block && Spare.size() < Spare.capacity()) Spare.push_back(std::move(block));
}

void TBlockPool::Clear() {
  Spare.clear();
  Spare.shrink_to_fit();
  Capacity = 0;
}

TWaveFormatEx MakeWaveFormat(int32_t sampleRate, uint8_t channels, uint8_t bits) {
  TWaveFormatEx f;
  std::memset(&f, 0, sizeof(f));
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = static_cast<uint32_t>(sampleRate);
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
  f.cbSize = 0;
  return f;
}

TWaveDevices ReadWaveDevices(TWaveApi& api, TWaveSide side) {
  TWaveDevices devices;
  const bool input = side == TWaveSide::Input;
  const uint32_t count = input ? api.InGetNumDevs() : api.OutGetNumDevs();
  for (uint32_t id = 0; id < count; ++id) {
    TWaveCaps caps;
    std::memset(&caps, 0, sizeof(caps));
    const uint32_t r = input ? api.InGetDevCaps(id, caps) : api.OutGetDevCaps(id, caps);
    if (r != 0 || (caps.dwFormats & WAVE_FORMAT_4S16) == 0) continue;
    std::string name =
        TrimText(std::string(caps.szPname, strnlen(caps.szPname, sizeof(caps.szPname))));
    if (name.size() > 32) name.resize(32);
    devices.push_back({static_cast<int32_t>(id), std::move(name)});
  }
  return devices;
}

std::string WaveDeviceName(const TWaveDevices& devices, int32_t i) {
  if (i < 0 || i >= static_cast<int32_t>(devices.size())) return {};
  return devices[i].Name;
}

void FoldPeaks(const int16_t* data, int32_t size, bool& first, std::atomic<int16_t>& left,
               std::atomic<int16_t>& right) {
  // Eight lanes of magnitudes, the even ones left and the odd ones right: a loop the compiler
  // turns into vector maxima (this runs over every sample of both devices).
  int16_t lanes[8] = {};
  const int32_t samples = size > 0 ? size / FrameBytes * 2 : 0;
  int32_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    for (int k = 0; k < 8; ++k) {
      const auto m = static_cast<int16_t>(SampleMagnitude(data[i + k]));
      lanes[k] = m > lanes[k] ? m : lanes[k];
    }
  }
  int32_t l = 0;
  int32_t r = 0;
  for (int k = 0; k < 8; k += 2) {
    l = std::max<int32_t>(l, lanes[k]);
    r = std::max<int32_t>(r, lanes[k + 1]);
  }
  for (; i < samples; i += 2) {
    l = std::max(l, SampleMagnitude(data[i]));
    r = std::max(r, SampleMagnitude(data[i + 1]));
  }
  if (first) {
    first = false;
    left.store(static_cast<int16_t>(l));
    right.store(static_cast<int16_t>(r));
    return;
  }
  if (l > left.load()) left.store(static_cast<int16_t>(l));
  if (r > right.load()) right.store(static_cast<int16_t>(r));
}

double PeakLevel(int32_t peak) {
  if (peak < 1) return -90.3;
  return 20.0 * std::log10(peak / 32768.0);
}
