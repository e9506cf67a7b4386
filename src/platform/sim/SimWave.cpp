#include "platform/sim/SimWave.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/sim/SimWaveState.h"

TSimWaveApi::TSimWaveApi(TSimTime time, TManualClock* clock) : Clock(clock), Time(time) {
  if (Time == TSimTime::Real) Runner = std::thread([this] { RunRealTime(); });
}

TSimWaveApi::~TSimWaveApi() {
  if (Runner.joinable()) {
    {
      std::lock_guard<std::mutex> g(Lock);
      Stopping.store(true);
    }
    Wake.notify_all();
    Runner.join();
  }
}

void TSimWaveApi::RunRealTime() {
  using namespace std::chrono;
  auto last = steady_clock::now();
  std::unique_lock<std::mutex> g(Lock);
  while (!Stopping.load()) {
    Wake.wait_for(g, milliseconds(1));
    const auto now = steady_clock::now();
    Step(duration<double, std::milli>(now - last).count());
    last = now;
  }
}

int32_t TSimWaveApi::AddInput(const TSimDeviceSpec& spec) {
  std::lock_guard<std::mutex> g(Lock);
  Inputs.push_back(std::make_unique<TDevice>());
  Inputs.back()->Spec = spec;
  return static_cast<int32_t>(Inputs.size()) - 1;
}

int32_t TSimWaveApi::AddOutput(const TSimDeviceSpec& spec) {
  std::lock_guard<std::mutex> g(Lock);
  Outputs.push_back(std::make_unique<TDevice>());
  Outputs.back()->Spec = spec;
  return static_cast<int32_t>(Outputs.size()) - 1;
}

TSimWaveApi::TDevice* TSimWaveApi::FindDevice(TWaveSide side, int32_t id) {
  auto& list = side == TWaveSide::Input ? Inputs : Outputs;
  return id >= 0 && id < static_cast<int32_t>(list.size()) ? list[id].get() : nullptr;
}

TSimWaveApi::THandle* TSimWaveApi::FindHandle(TWaveRawHandle raw, TWaveSide side) {
  const auto id = reinterpret_cast<uintptr_t>(raw);
  for (auto& h : Handles) {
    if (h->Id == id && h->Side == side) return h.get();
  }
  return nullptr;
}

void TSimWaveApi::SetRatePpm(TWaveSide side, int32_t id, double ppm) {
  std::lock_guard<std::mutex> g(Lock);
  if (TDevice* d = FindDevice(side, id)) d->Spec.RatePpm = ppm;
}

void TSimWaveApi::SetLatency(TWaveSide side, int32_t id, uint32_t ms) {
  std::lock_guard<std::mutex> g(Lock);
  if (TDevice* d = FindDevice(side, id)) d->Spec.LatencyMs = ms;
}

void TSimWaveApi::Unplug(TWaveSide side, int32_t id, TSimUnplug mode) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(side, id);
  if (!d || !d->Present) return;
  d->Present = false;
  d->Mode = mode;
  for (auto& h : Handles) {
    if (h->Device != d) continue;
    if (mode == TSimUnplug::Fail) {
      // A removed driver hands back what it held; nothing more is played or recorded into it.
      h->Broken = true;
      DeliverAll(*h);
    } else {
      h->Dead = true;
    }
  }
}

void TSimWaveApi::Plug(TWaveSide side, int32_t id) {
  std::lock_guard<std::mutex> g(Lock);
  if (TDevice* d = FindDevice(side, id)) d->Present = true;
}

void TSimWaveApi::SetSignal(int32_t input, const TSimSignal& signal) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(TWaveSide::Input, input);
  if (!d) return;
  d->Signal = signal;
  d->OscCos = 1;
  d->OscSin = 0;
  d->OscRate = 0;
  d->SamplePos = 0;
}

void TSimWaveApi::RecordOutput(int32_t output, size_t maxSamples) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(TWaveSide::Output, output);
  if (!d) return;
  d->RecordLimit = maxSamples;
  d->Record.clear();
  d->Record.reserve(maxSamples);
}

std::vector<int16_t> TSimWaveApi::Played(int32_t output) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(TWaveSide::Output, output);
  return d ? d->Record : std::vector<int16_t>();
}

void TSimWaveApi::ClearPlayed(int32_t output) {
  std::lock_guard<std::mutex> g(Lock);
  if (TDevice* d = FindDevice(TWaveSide::Output, output)) d->Record.clear();
}

TSimInputStats TSimWaveApi::InputStats(int32_t input) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(TWaveSide::Input, input);
  return d ? d->InStats : TSimInputStats();
}

TSimOutputStats TSimWaveApi::OutputStats(int32_t output) {
  std::lock_guard<std::mutex> g(Lock);
  TDevice* d = FindDevice(TWaveSide::Output, output);
  return d ? d->OutStats : TSimOutputStats();
}

void TSimWaveApi::ResetStats() {
  std::lock_guard<std::mutex> g(Lock);
  for (auto& d : Inputs) d->InStats = {};
  for (auto& d : Outputs) d->OutStats = {};
}

void TSimWaveApi::FailNext(TSimCall call, uint32_t code, uint32_t skip) {
  std::lock_guard<std::mutex> g(Lock);
  auto& f = Failures[static_cast<size_t>(call)];
  f.OnceCode = code;
  f.OnceSkip = skip;
}

void TSimWaveApi::FailAlways(TSimCall call, uint32_t code) {
  std::lock_guard<std::mutex> g(Lock);
  Failures[static_cast<size_t>(call)].AlwaysCode = code;
}

void TSimWaveApi::ClearFailures() {
  std::lock_guard<std::mutex> g(Lock);
  for (auto& f : Failures) {
    f.OnceCode = 0;
    f.AlwaysCode = 0;
  }
}

uint64_t TSimWaveApi::CallCount(TSimCall call) {
  std::lock_guard<std::mutex> g(Lock);
  return Failures[static_cast<size_t>(call)].Calls;
}

uint32_t TSimWaveApi::Injected(TSimCall call) {
  auto& f = Failures[static_cast<size_t>(call)];
  ++f.Calls;
  if (f.AlwaysCode != 0) return f.AlwaysCode;
  if (f.OnceCode != 0) {
    if (f.OnceSkip > 0) {
      --f.OnceSkip;
      return 0;
    }
    const uint32_t code = f.OnceCode;
    f.OnceCode = 0;
    return code;
  }
  return 0;
}

int32_t TSimWaveApi::OpenHandles() {
  std::lock_guard<std::mutex> g(Lock);
  return static_cast<int32_t>(Handles.size());
}

int32_t TSimWaveApi::PreparedHeaders() {
  std::lock_guard<std::mutex> g(Lock);
  return Prepared;
}

int32_t TSimWaveApi::QueuedHeaders() {
  std::lock_guard<std::mutex> g(Lock);
  size_t n = 0;
  for (auto& h : Handles) n += h->Queue.Size() + h->Pending.Size();
  return static_cast<int32_t>(n);
}

void TSimWaveApi::Advance(uint64_t ms) {
  if (Time != TSimTime::Manual) return;
  // The clock first: the done callbacks at the end of the step read the time they run at.
  if (Clock) Clock->Advance(ms);
  std::lock_guard<std::mutex> g(Lock);
  Step(static_cast<double>(ms));
}

double TSimWaveApi::Now() {
  std::lock_guard<std::mutex> g(Lock);
  return NowMs;
}

// ---- the wave API ----

uint32_t TSimWaveApi::GetCaps(TWaveSide side, uint32_t deviceId, TWaveCaps& caps) {
  std::lock_guard<std::mutex> g(Lock);
  const uint32_t injected =
      Injected(side == TWaveSide::Input ? TSimCall::InGetDevCaps : TSimCall::OutGetDevCaps);
  if (injected) return injected;
  TDevice* d = FindDevice(side, static_cast<int32_t>(deviceId));
  if (!d) return MMSYSERR_BADDEVICEID;
  if (!d->Present && d->Mode == TSimUnplug::Fail) return MMSYSERR_NODRIVER;
  std::memset(&caps, 0, sizeof(caps));
  std::strncpy(caps.szPname, d->Spec.Name.c_str(), sizeof(caps.szPname) - 1);
  caps.dwFormats = d->Spec.Formats;
  return 0;
}

uint32_t TSimWaveApi::OpenDevice(TWaveSide side, TWaveRawHandle* handle, uint32_t deviceId,
                                 const TWaveFormatEx& format, TWaveDoneProc callback,
                                 uintptr_t instance, uint32_t flags) {
  std::lock_guard<std::mutex> g(Lock);
  const bool input = side == TWaveSide::Input;
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  const TSimCall call = query ? (input ? TSimCall::InQuery : TSimCall::OutQuery)
                              : (input ? TSimCall::InOpen : TSimCall::OutOpen);
  if (const uint32_t injected = Injected(call)) return injected;
  TDevice* d = FindDevice(side, static_cast<int32_t>(deviceId));
  if (!d) return MMSYSERR_BADDEVICEID;
  if (!d->Present && d->Mode == TSimUnplug::Fail) return MMSYSERR_NODRIVER;
  const auto& rates = d->Spec.Rates;
  const bool rateOk =
      rates.empty() ? format.nSamplesPerSec >= 8000 && format.nSamplesPerSec <= 192000
                    : std::find(rates.begin(), rates.end(), format.nSamplesPerSec) != rates.end();
  if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 ||
      (format.nChannels != 1 && format.nChannels != 2) ||
      format.nBlockAlign != format.nChannels * 2 || !rateOk) {
    return WAVERR_BADFORMAT;
  }
  if (query) return 0;
  if (!handle || (flags & CALLBACK_FUNCTION) != CALLBACK_FUNCTION) return MMSYSERR_INVALPARAM;
  auto h = std::make_unique<THandle>();
  h->Id = NextHandleId++;
  h->Side = side;
  h->Device = d;
  // Opened while silently gone: the handle is stalled from the start.
  h->Dead = !d->Present;
  h->Callback = callback;
  h->Instance = instance;
  h->Rate = format.nSamplesPerSec;
  h->Channels = format.nChannels;
  h->FrameBytes = format.nBlockAlign;
  *handle = reinterpret_cast<TWaveRawHandle>(h->Id);
  THandle& ref = *h;
  Handles.push_back(std::move(h));
  if (ref.Callback) {
    ref.Callback(*handle, input ? WIM_OPEN : WOM_OPEN, ref.Instance, 0, 0);
  }
  return 0;
}

uint32_t TSimWaveApi::Prepare(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected =
          Injected(side == TWaveSide::Input ? TSimCall::InPrepare : TSimCall::OutPrepare)) {
    return injected;
  }
  THandle* h = FindHandle(raw, side);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (!header || !header->lpData) return MMSYSERR_INVALPARAM;
  if (h->Broken) return MMSYSERR_NODRIVER;
  if (header->dwFlags & WHDR_PREPARED) return 0;
  header->dwFlags = WHDR_PREPARED;
  ++Prepared;
  return 0;
}

uint32_t TSimWaveApi::Unprepare(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected =
          Injected(side == TWaveSide::Input ? TSimCall::InUnprepare : TSimCall::OutUnprepare)) {
    return injected;
  }
  THandle* h = FindHandle(raw, side);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (!header) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (header->dwFlags & WHDR_PREPARED) {
    header->dwFlags &= ~WHDR_PREPARED;
    --Prepared;
  }
  return 0;
}

uint32_t TSimWaveApi::Queue(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected =
          Injected(side == TWaveSide::Input ? TSimCall::InAddBuffer : TSimCall::OutWrite)) {
    return injected;
  }
  THandle* h = FindHandle(raw, side);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (!header) return MMSYSERR_INVALPARAM;
  if (h->Broken) return MMSYSERR_NODRIVER;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  if (side == TWaveSide::Input) header->dwBytesRecorded = 0;
  h->Queue.PushBack({header, 0});
  return 0;
}

uint32_t TSimWaveApi::ResetHandle(TWaveSide side, TWaveRawHandle raw) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected =
          Injected(side == TWaveSide::Input ? TSimCall::InReset : TSimCall::OutReset)) {
    return injected;
  }
  THandle* h = FindHandle(raw, side);
  if (!h) return MMSYSERR_INVALHANDLE;
  h->Started = false;
  if (h->Dead) {
    // The stalled device sends nothing back, but lets go of the blocks so they can be freed.
    while (!h->Pending.Empty()) {
      h->Pending.Front().Header->dwFlags &= ~WHDR_INQUEUE;
      h->Pending.PopFront();
    }
    while (!h->Queue.Empty()) {
      h->Queue.Front().Header->dwFlags &= ~WHDR_INQUEUE;
      h->Queue.PopFront();
    }
    return 0;
  }
  DeliverAll(*h);
  return 0;
}

uint32_t TSimWaveApi::CloseHandle(TWaveSide side, TWaveRawHandle raw) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected =
          Injected(side == TWaveSide::Input ? TSimCall::InClose : TSimCall::OutClose)) {
    return injected;
  }
  auto it = std::find_if(Handles.begin(), Handles.end(), [&](const auto& h) {
    return h->Id == reinterpret_cast<uintptr_t>(raw) && h->Side == side;
  });
  if (it == Handles.end()) return MMSYSERR_INVALHANDLE;
  THandle& h = **it;
  if (!h.Queue.Empty() || !h.Pending.Empty()) return WAVERR_STILLPLAYING;
  if (h.Callback)
    h.Callback(raw, side == TWaveSide::Input ? WIM_CLOSE : WOM_CLOSE, h.Instance, 0, 0);
  Handles.erase(it);
  return 0;
}

uint32_t TSimWaveApi::InGetNumDevs() {
  std::lock_guard<std::mutex> g(Lock);
  return static_cast<uint32_t>(Inputs.size());
}

uint32_t TSimWaveApi::InGetDevCaps(uint32_t deviceId, TWaveCaps& caps) {
  return GetCaps(TWaveSide::Input, deviceId, caps);
}

uint32_t TSimWaveApi::InOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                             TWaveDoneProc callback, uintptr_t instance, uint32_t flags) {
  return OpenDevice(TWaveSide::Input, handle, deviceId, format, callback, instance, flags);
}

uint32_t TSimWaveApi::InPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return Prepare(TWaveSide::Input, handle, header);
}

uint32_t TSimWaveApi::InUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return Unprepare(TWaveSide::Input, handle, header);
}

uint32_t TSimWaveApi::InAddBuffer(TWaveRawHandle handle, TWaveHdr* header) {
  return Queue(TWaveSide::Input, handle, header);
}

uint32_t TSimWaveApi::InStart(TWaveRawHandle handle) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected = Injected(TSimCall::InStart)) return injected;
  THandle* h = FindHandle(handle, TWaveSide::Input);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (h->Broken) return MMSYSERR_NODRIVER;
  h->Started = true;
  return 0;
}

uint32_t TSimWaveApi::InStop(TWaveRawHandle handle) {
  std::lock_guard<std::mutex> g(Lock);
  if (const uint32_t injected = Injected(TSimCall::InStop)) return injected;
  THandle* h = FindHandle(handle, TWaveSide::Input);
  if (!h) return MMSYSERR_INVALHANDLE;
  if (h->Broken) return MMSYSERR_NODRIVER;
  h->Started = false;
  if (h->Dead) return 0;
  // The block being filled comes back with what it holds; empty ones stay queued.
  if (!h->Queue.Empty() && h->Queue.Front().Frames > 0) {
    FinishBlock(*h, NowMs);
    h->Pending.At(h->Pending.Size() - 1).Due = NowMs;
  }
  DeliverDue(*h);
  return 0;
}

uint32_t TSimWaveApi::InReset(TWaveRawHandle handle) {
  return ResetHandle(TWaveSide::Input, handle);
}

uint32_t TSimWaveApi::InClose(TWaveRawHandle handle) {
  return CloseHandle(TWaveSide::Input, handle);
}

uint32_t TSimWaveApi::OutGetNumDevs() {
  std::lock_guard<std::mutex> g(Lock);
  return static_cast<uint32_t>(Outputs.size());
}

uint32_t TSimWaveApi::OutGetDevCaps(uint32_t deviceId, TWaveCaps& caps) {
  return GetCaps(TWaveSide::Output, deviceId, caps);
}

uint32_t TSimWaveApi::OutOpen(TWaveRawHandle* handle, uint32_t deviceId,
                              const TWaveFormatEx& format, TWaveDoneProc callback,
                              uintptr_t instance, uint32_t flags) {
  return OpenDevice(TWaveSide::Output, handle, deviceId, format, callback, instance, flags);
}

uint32_t TSimWaveApi::OutPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return Prepare(TWaveSide::Output, handle, header);
}

uint32_t TSimWaveApi::OutUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) {
  return Unprepare(TWaveSide::Output, handle, header);
}

uint32_t TSimWaveApi::OutWrite(TWaveRawHandle handle, TWaveHdr* header) {
  return Queue(TWaveSide::Output, handle, header);
}

uint32_t TSimWaveApi::OutReset(TWaveRawHandle handle) {
  return ResetHandle(TWaveSide::Output, handle);
}

uint32_t TSimWaveApi::OutClose(TWaveRawHandle handle) {
  return CloseHandle(TWaveSide::Output, handle);
}

// ---- time ----
