#include "wave/WPlayer.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

// Runs on the platform's thread: marks the block with the clock's stamp (instance, when not 0)
// and does nothing else (no wave call, no lock).
void KESTRUNE_WAVE_CALLBACK PlayerDoneProc(TWaveRawHandle, uint32_t message, uintptr_t instance,
                                           uintptr_t param1, uintptr_t) {
  if (message != WOM_DONE || param1 == 0) return;
  auto* clock = reinterpret_cast<TClock*>(instance);
  MarkBlockDone(*reinterpret_cast<TWaveHdr*>(param1), clock ? clock->StampMs() : 1);
}

}  // namespace

void ScaleSamples(const int16_t* source, int16_t* output, int32_t size, int32_t volume) {
  const int32_t samples = size > 0 ? size / 2 : 0;
  if (volume == 100) {
    std::memcpy(output, source, static_cast<size_t>(samples) * 2);
    return;
  }
  if (volume == 0) {
    std::memset(output, 0, static_cast<size_t>(samples) * 2);
    return;
  }
  for (int32_t i = 0; i < samples; ++i) {
    int32_t v = source[i] * volume / 100;
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    output[i] = static_cast<int16_t>(v);
  }
}

TWavePlayer::TWavePlayer(TWaveApi& api) : Api(api) {
  UpdateDevices();
  DeviceIndex = Devices.empty() ? -1 : 0;
}

TWavePlayer::~TWavePlayer() {
  Close();
}

void TWavePlayer::UpdateDevices() {
  Devices = ReadWaveDevices(Api, TWaveSide::Output);
}

void TWavePlayer::SelectDevice(int32_t i) {
  if (i >= 0 && i < DeviceCount()) DeviceIndex = i;
}

void TWavePlayer::RaiseError(uint32_t code) {
  if (OnError) OnError(this, static_cast<int32_t>(code));
}

int32_t TWavePlayer::Open() {
  Releaser.RetryKept();
  if (DeviceIndex < 0 || DeviceIndex >= DeviceCount()) return -1;
  // A second open would strand the queued blocks of the first.
  if (Active.load()) return static_cast<int32_t>(MMSYSERR_ALLOCATED);
  const uint32_t id = static_cast<uint32_t>(Devices[DeviceIndex].DeviceID);
  if (Releaser.Keeps(id)) return static_cast<int32_t>(MMSYSERR_ALLOCATED);
  const TWaveFormatEx format = MakeWaveFormat(SampleRate, Channels, Bits);
  uint32_t r = Api.OutOpen(nullptr, id, format, nullptr, 0, WAVE_FORMAT_QUERY);
  if (r != 0) return static_cast<int32_t>(r);
  TWaveRawHandle raw = nullptr;
  r = Api.OutOpen(&raw, id, format, &PlayerDoneProc, reinterpret_cast<uintptr_t>(DoneClock),
                  CALLBACK_FUNCTION);
  if (r != 0) return static_cast<int32_t>(r);
  Handle = TWaveHandle(Api, TWaveSide::Output, raw);
  OpenDevice = id;
  Stamped = DoneClock != nullptr;
  Blocks = std::make_unique<TWaveBlocks>();
  // Room for the blocks whose unprepare may fail, so that giving them back allocates nothing.
  Stranded.reserve(16);
  AppliedVolume = Volume.load();
  // The queue of an earlier session says nothing about this one.
  QueuedTime.store(0.0);
  Active.store(true);
  return 0;
}

void TWavePlayer::Reserve(int32_t blockBytes) {
  if (!Blocks || blockBytes <= 0) return;
  // Twice the target may be queued, plus the block that crosses it and some slack for blocks
  // the stabilizer made shorter.
  const double blockSeconds = BytesToSeconds(static_cast<uint32_t>(blockBytes));
  const size_t count =
      blockSeconds > 0 ? static_cast<size_t>(2 * BufferTime.load() / blockSeconds * 1.25) + 4 : 4;
  Blocks->reserve(count);
  Pool.Reserve(2 * blockBytes, count, true);
}

void TWavePlayer::Close() {
  Releaser.RetryKept();
  if (!Active.load()) return;
  Active.store(false);
  Releaser.Release(OpenDevice, Handle, Blocks, Stranded);
  Pool.Clear();
  PeakLeft.store(0);
  PeakRight.store(0);
}

bool TWavePlayer::AddBuffer(const int16_t* data, int32_t size) {
  if (!Active.load() || !data || size <= 0) return false;
  ApplyVolumeChange();
  UpdateQueued();
  if (2 * BufferTime.load() < QueuedTime.load()) return false;

  std::unique_ptr<TWaveBlock> block = Pool.Take(size, true);
  if (!block) return false;
  std::memcpy(block->Source.get(), data, static_cast<size_t>(size));
  ScaleSamples(block->Source.get(), block->Data.get(), size, AppliedVolume);

  uint32_t r = Api.OutPrepareHeader(Handle.Get(), &block->Header);
  if (r == 0) {
    // Room on the list first: nothing may fail once the device holds the block.
    try {
      Blocks->reserve(Blocks->size() + 1);
    } catch (const std::bad_alloc&) {
      Api.OutUnprepareHeader(Handle.Get(), &block->Header);
      GiveBackBlock(std::move(block), Pool, Stranded);
      return false;
    }
    r = Api.OutWrite(Handle.Get(), &block->Header);
    if (r != 0) Api.OutUnprepareHeader(Handle.Get(), &block->Header);
  }
  if (r != 0) {
    GiveBackBlock(std::move(block), Pool, Stranded);
    RaiseError(r);
    UpdateQueued();
    return false;
  }
  Blocks->push_back(std::move(block));
  UpdateQueued();
  return true;
}

void TWavePlayer::ProcessDone() {
  bool first = true;
  std::unique_ptr<TWaveBlock> block;
  bool prepared = false;
  CollectedSeconds = 0;
  CollectedLag = 0;
  // Read before the marks, so a block marked meanwhile counts as handed back just now.
  const uint32_t collected = Stamped ? DoneClock->StampMs() : 0;
  try {
    ApplyVolumeChange();
    size_t i = 0;
    while (Blocks) {
      while (i < Blocks->size() && !IsBlockDone((*Blocks)[i]->Header)) ++i;
      if (i >= Blocks->size()) break;
      block = std::move((*Blocks)[i]);
      Blocks->erase(Blocks->begin() + static_cast<std::ptrdiff_t>(i));
      prepared = true;
      const int32_t size = static_cast<int32_t>(block->Header.dwBufferLength);
      const double seconds = BytesToSeconds(static_cast<uint32_t>(size));
      CollectedSeconds += seconds;
      if (Stamped) {
        // The stamps wrap: their difference is what counts.
        const auto ago = static_cast<int32_t>(collected - BlockDoneMark(block->Header));
        if (ago > 0) CollectedLag += seconds * ago / 1000.0;
      }
      if (OnPlayedSource) OnPlayedSource(this, block->Source.get(), size);
      const uint32_t r = Api.OutUnprepareHeader(Handle.Get(), &block->Header);
      prepared = false;
      if (r != 0) RaiseError(r);
      FoldPeaks(block->Data.get(), size, first, PeakLeft, PeakRight);
      if (OnPlayed) OnPlayed(this, block->Data.get(), size);
      GiveBackBlock(std::move(block), Pool, Stranded);
    }
  } catch (...) {
    // A failing handler ends the pass; the block in hand is not revisited but is not leaked.
    if (block && prepared) Api.OutUnprepareHeader(Handle.Get(), &block->Header);
    GiveBackBlock(std::move(block), Pool, Stranded);
  }
  UpdateQueued();
}

void TWavePlayer::UpdateQueued() {
  if (!Blocks) {
    QueuedTime.store(0.0);
    return;
  }
  uint32_t bytes = 0;
  for (auto& block : *Blocks) {
    if (!IsBlockDone(block->Header)) bytes += block->Header.dwBufferLength;
  }
  QueuedTime.store(BytesToSeconds(bytes));
}

void TWavePlayer::SetVolume(int32_t percent) {
  Volume.store(percent < 0 ? 0 : (percent > 1024 ? 1024 : percent));
}

void TWavePlayer::ApplyVolumeChange() {
  const int32_t v = Volume.load();
  if (v == AppliedVolume) return;
  AppliedVolume = v;
  if (!Blocks) return;
  // The oldest block is likely being played already; it keeps its samples.
  for (size_t i = 1; i < Blocks->size(); ++i) {
    TWaveBlock& block = *(*Blocks)[i];
    if (IsBlockDone(block.Header)) continue;
    ScaleSamples(block.Source.get(), block.Data.get(),
                 static_cast<int32_t>(block.Header.dwBufferLength), v);
  }
}

void TWavePlayer::ApplyVolume(const int16_t* source, int16_t* output, int32_t size) const {
  ScaleSamples(source, output, size, Volume.load());
}

int32_t TWavePlayer::SecondsToBytes(double seconds) const {
  if (!(seconds > 0)) return 0;
  const double bytes = SampleRate * seconds * Channels * Bits / 8.0;
  if (bytes >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(bytes);
}

double TWavePlayer::BytesToSeconds(uint32_t bytes) const {
  const double perSecond = static_cast<double>(Channels) * SampleRate * Bits / 8.0;
  return perSecond > 0 ? bytes / perSecond : 0.0;
}
