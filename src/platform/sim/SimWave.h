#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "util/Clock.h"
#include "wave/WaveApi.h"

// How simulated time moves: by the test's Advance calls, or by a thread following real time.
enum class TSimTime { Manual, Real };

// How a device goes away: its calls fail with MMSYSERR_NODRIVER (a removed driver), or it simply
// stops, every call still succeeding and no block ever coming back (what Wine does when the
// sound server's sink disappears).
enum class TSimUnplug { Fail, Silent };

// The calls whose failure a test can inject. A format query is apart from the real open.
enum class TSimCall {
  InGetDevCaps,
  InQuery,
  InOpen,
  InPrepare,
  InUnprepare,
  InAddBuffer,
  InStart,
  InStop,
  InReset,
  InClose,
  OutGetDevCaps,
  OutQuery,
  OutOpen,
  OutPrepare,
  OutUnprepare,
  OutWrite,
  OutReset,
  OutClose,
  Count
};

struct TSimDeviceSpec {
  static constexpr uint32_t AllFormats = 0x000FFFFF;  // every standard-format bit

  TSimDeviceSpec(std::string name = {}, uint32_t formats = AllFormats, double ratePpm = 0,
                 uint32_t latencyMs = 0, std::vector<uint32_t> rates = {})
      : Name(std::move(name)),
        Formats(formats),
        RatePpm(ratePpm),
        LatencyMs(latencyMs),
        Rates(std::move(rates)) {}

  std::string Name;
  uint32_t Formats;
  double RatePpm;               // the device clock's error: +100 runs 100 ppm fast
  uint32_t LatencyMs;           // from a block finishing to its done callback
  std::vector<uint32_t> Rates;  // accepted sample rates; empty accepts 8000..192000
};

enum class TSimSignalKind { Silence, Sine, Samples };

// What a simulated input records: the same value on every channel of a frame for a sine;
// Samples are interleaved frames in the device's channel count.
struct TSimSignal {
  static TSimSignal Silence() { return {}; }
  static TSimSignal Sine(double frequency, double amplitude) {
    TSimSignal s;
    s.Kind = TSimSignalKind::Sine;
    s.Frequency = frequency;
    s.Amplitude = amplitude;
    return s;
  }
  // Without loop, silence follows the samples.
  static TSimSignal FromSamples(std::vector<int16_t> samples, bool loop = true) {
    TSimSignal s;
    s.Kind = TSimSignalKind::Samples;
    s.Samples = std::move(samples);
    s.Loop = loop;
    return s;
  }

  TSimSignalKind Kind = TSimSignalKind::Silence;
  double Frequency = 1000.0;  // Hz
  double Amplitude = 0.0;     // peak, in sample units
  std::vector<int16_t> Samples;
  bool Loop = true;
};

struct TSimInputStats {
  uint64_t BlocksRecorded = 0;
  uint64_t FramesRecorded = 0;
  uint64_t FramesLost = 0;  // arrived while no block was queued
};

struct TSimOutputStats {
  uint64_t BlocksPlayed = 0;
  uint64_t FramesPlayed = 0;
  double UnderrunMs = 0;  // time the device was open with nothing to play
};

// Simulated wave devices behind the wave API seam. Each device runs on its own clock (a rate
// error in ppm) with a done latency, can be unplugged and plugged back at any moment, and any
// call can be made to fail. Done callbacks are called as a driver thread would call them: in
// order per handle, from Advance (manual time) or from the sim's thread (real time), while the
// sim's lock is held, so a callback must not call back into the sim. The sim must outlive the
// captures and players that use it.
class TSimWaveApi : public TWaveApi {
 public:
  // With a clock, Advance moves it too, so the program's tick time and the devices stay in step.
  explicit TSimWaveApi(TSimTime time = TSimTime::Manual, TManualClock* clock = nullptr);
  ~TSimWaveApi() override;
  TSimWaveApi(const TSimWaveApi&) = delete;
  TSimWaveApi& operator=(const TSimWaveApi&) = delete;

  // Devices get identifiers 0, 1, ... per side in the order they are added.
  int32_t AddInput(const TSimDeviceSpec& spec);
  int32_t AddOutput(const TSimDeviceSpec& spec);
  void SetRatePpm(TWaveSide side, int32_t id, double ppm);
  void SetLatency(TWaveSide side, int32_t id, uint32_t ms);
  // Handles open at the unplug stay broken (or stalled) after the device is plugged back;
  // a fresh open works again.
  void Unplug(TWaveSide side, int32_t id, TSimUnplug mode);
  void Plug(TWaveSide side, int32_t id);

  void SetSignal(int32_t input, const TSimSignal& signal);
  // Keeps up to maxSamples played samples of an output (0: keep none, the cheap default).
  void RecordOutput(int32_t output, size_t maxSamples);
  std::vector<int16_t> Played(int32_t output);
  void ClearPlayed(int32_t output);
  TSimInputStats InputStats(int32_t input);
  TSimOutputStats OutputStats(int32_t output);
  void ResetStats();

  // The next call of that kind (after skip successful ones) fails once with code.
  void FailNext(TSimCall call, uint32_t code, uint32_t skip = 0);
  // Every call of that kind fails with code until ClearFailures.
  void FailAlways(TSimCall call, uint32_t code);
  void ClearFailures();
  uint64_t CallCount(TSimCall call);

  // For leak checks: handles open, headers prepared and not unprepared, headers held queued.
  int32_t OpenHandles();
  int32_t PreparedHeaders();
  int32_t QueuedHeaders();

  // Manual time only: moves every device by ms of its own clock, in order.
  void Advance(uint64_t ms);
  // Simulated milliseconds since creation.
  double Now();

  uint32_t InGetNumDevs() override;
  uint32_t InGetDevCaps(uint32_t deviceId, TWaveCaps& caps) override;
  uint32_t InOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                  TWaveDoneProc callback, uintptr_t instance, uint32_t flags) override;
  uint32_t InPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InAddBuffer(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t InStart(TWaveRawHandle handle) override;
  uint32_t InStop(TWaveRawHandle handle) override;
  uint32_t InReset(TWaveRawHandle handle) override;
  uint32_t InClose(TWaveRawHandle handle) override;

  uint32_t OutGetNumDevs() override;
  uint32_t OutGetDevCaps(uint32_t deviceId, TWaveCaps& caps) override;
  uint32_t OutOpen(TWaveRawHandle* handle, uint32_t deviceId, const TWaveFormatEx& format,
                   TWaveDoneProc callback, uintptr_t instance, uint32_t flags) override;
  uint32_t OutPrepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutUnprepareHeader(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutWrite(TWaveRawHandle handle, TWaveHdr* header) override;
  uint32_t OutReset(TWaveRawHandle handle) override;
  uint32_t OutClose(TWaveRawHandle handle) override;

 private:
  struct TDevice;
  struct THandle;
  struct TFailure {
    uint32_t OnceCode = 0;
    uint32_t OnceSkip = 0;
    uint32_t AlwaysCode = 0;
    uint64_t Calls = 0;
  };

  uint32_t Injected(TSimCall call);
  TDevice* FindDevice(TWaveSide side, int32_t id);
  THandle* FindHandle(TWaveRawHandle raw, TWaveSide side);
  uint32_t GetCaps(TWaveSide side, uint32_t deviceId, TWaveCaps& caps);
  uint32_t OpenDevice(TWaveSide side, TWaveRawHandle* handle, uint32_t deviceId,
                      const TWaveFormatEx& format, TWaveDoneProc callback, uintptr_t instance,
                      uint32_t flags);
  uint32_t Prepare(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header);
  uint32_t Unprepare(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header);
  uint32_t Queue(TWaveSide side, TWaveRawHandle raw, TWaveHdr* header);
  uint32_t ResetHandle(TWaveSide side, TWaveRawHandle raw);
  uint32_t CloseHandle(TWaveSide side, TWaveRawHandle raw);
  void Step(double ms);
  void StepInput(THandle& h, TDevice& d, double stepStart, double ms);
  void StepOutput(THandle& h, TDevice& d, double stepStart, double ms);
  void FinishBlock(THandle& h, double at);
  void DeliverDue(THandle& h);
  void DeliverAll(THandle& h);
  void Deliver(THandle& h, TWaveHdr* header);
  void RunRealTime();

  std::mutex Lock;
  std::vector<std::unique_ptr<TDevice>> Inputs;
  std::vector<std::unique_ptr<TDevice>> Outputs;
  std::vector<std::unique_ptr<THandle>> Handles;
  std::array<TFailure, static_cast<size_t>(TSimCall::Count)> Failures{};
  uintptr_t NextHandleId = 1;
  int32_t Prepared = 0;
  double NowMs = 0;
  TManualClock* Clock;
  TSimTime Time;
  std::atomic<bool> Stopping{false};
  std::condition_variable Wake;
  std::thread Runner;
};
