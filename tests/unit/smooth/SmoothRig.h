#pragma once

// A small relay on simulated devices for the smooth stabilizer: the real capture and player on
// devices whose clocks disagree, driven in 10 ms passes on the manual clock as the relay thread
// does; each recorded block goes through the stabilizer to the player. Measures the queue after
// every pass the way the drift benchmark does.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "app/SmoothStabilizer.h"
#include "platform/sim/SimWave.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"
#include "wave/WaveFormat.h"

struct TRigCase {
  int32_t Rate = 44100;
  double OutputPpm = 0;  // positive: the output runs fast and drains the queue
  double InputPpm = 0;
  int32_t Blocksize = 0;  // 0..3: blocks of 5..20 ms
  double Target = 0.1;
  double Seconds = 60;
  double SettleSeconds = 20;  // error figures are taken after this
  // Empty: start as the relay does. Otherwise the queue starts this far from the target.
  std::optional<double> StartOffset;
  // Hand the stabilizer the recorded blocks still waiting, as well as the player's queue.
  bool CountPending = true;
  // Show the stabilizer the queue after every pass, as the block path does; otherwise it sees
  // the queue only when a block arrives.
  bool ObservePasses = true;
  TSimSignal Signal = TSimSignal::Silence();
  size_t RecordSamples = 0;  // played samples kept, from RecordFrom seconds after the release
  double RecordFrom = 0;
  TSmoothTuning Tuning;
};

struct TRigResult {
  double MeanError = 0;        // seconds, after SettleSeconds
  double P999 = 0;             // 99.9th percentile of |error|
  double BandEntry = -1;       // seconds until the queue averaged over 1 s is within 7 ms; -1 never
  double BlockBandEntry = -1;  // the same within one block plus 1 ms
  uint64_t Underruns = 0;
  uint64_t Refused = 0;
  uint64_t InputLost = 0;
  double MinPpm = 0, MaxPpm = 0;  // correction range after SettleSeconds
  double MeanPpm = 0;             // mean correction after SettleSeconds
  uint64_t RatioChanges = 0;      // changes of the correction after SettleSeconds
  double LargestChange = 0;       // the largest of them, ppm
  std::vector<int16_t> Played;
};

inline TRigResult RunRig(const TRigCase& c) {
  constexpr int PassMs = 10;
  constexpr int PassesPerSecond = 1000 / PassMs;
  constexpr double Band = 0.007;
  constexpr double Bin = 0.00001;  // histogram of |error|: 0.01 ms bins up to 1 s
  constexpr size_t Bins = 100000;

  TManualClock clock;
  TSimWaveApi api(TSimTime::Manual, &clock);
  api.AddInput(TSimDeviceSpec("In", TSimDeviceSpec::AllFormats, c.InputPpm));
  api.AddOutput(TSimDeviceSpec("Out", TSimDeviceSpec::AllFormats, c.OutputPpm));
  api.SetSignal(0, c.Signal);
  if (c.RecordSamples > 0) api.RecordOutput(0, c.RecordSamples);
  TWavePlayer player(api);
  TWaveCapture capture(api);
  player.UpdateDevices();
  player.SelectDevice(0);
  capture.UpdateDevices();
  capture.SelectDevice(0);
  player.SampleRate = c.Rate;
  player.BufferTime = c.Target;
  capture.SampleRate = c.Rate;
  capture.BlockSize = CaptureBlockSize(c.Rate, c.Blocksize);
  capture.SetBufferSize(player.SecondsToBytes(1.5 * c.Target));
  TRigResult r;
  if (player.Open() != 0 || capture.Open() != 0) return r;
  capture.ProcessDone();  // queues the first empty blocks

  TSmoothStabilizer stab(c.Tuning);
  stab.Reset(c.Rate);
  const int32_t maxIn = capture.BlockSize / FrameBytes;
  std::vector<int16_t> out(static_cast<size_t>(TSmoothStabilizer::OutputCapacity(maxIn)) * 2);
  capture.OnData = [&](TWaveCapture*, const int16_t* data, int32_t size) {
    const int32_t frames = size / FrameBytes;
    player.UpdateQueued();  // blocks finished since the last pass are off the queue
    const double pending = c.CountPending ? player.BytesToSeconds(capture.ReadyBytes()) : 0;
    const int32_t n =
        stab.Process(data, frames, out.data(), TSmoothStabilizer::OutputCapacity(frames),
                     player.QueuedTime.load() + pending, player.BufferTime.load());
    if (n > 0 && !player.AddBuffer(out.data(), n * FrameBytes)) ++r.Refused;
  };

  // As the drift benchmark: the first blocks are held back until the buffer less 30 ms is
  // recorded; a start above the target pads the queue with silence once released.
  const double offset = c.StartOffset.value_or(-0.03);
  const double holdUntil = c.Target + std::min(offset, -0.03);
  const int32_t padBlock = CaptureBlockSize(c.Rate, 0);
  const std::vector<int16_t> silence(static_cast<size_t>(padBlock) / 2, 0);

  std::vector<uint64_t> histogram(Bins + 1, 0);
  const double blockSeconds = player.BytesToSeconds(capture.BlockSize);
  double errorSum = 0, ppmSum = 0;
  uint64_t settled = 0;
  std::vector<double> window(PassesPerSecond, 0);
  double windowSum = 0;
  double lastUnderrun = 0;
  bool inUnderrun = false;
  double lastPpm = 0;
  r.MinPpm = std::numeric_limits<double>::infinity();
  r.MaxPpm = -r.MinPpm;

  const uint64_t passes = static_cast<uint64_t>(c.Seconds * PassesPerSecond);
  bool prefill = true;
  uint64_t started = 0;
  for (uint64_t pass = 0; pass < passes; ++pass) {
    api.Advance(PassMs);
    if (prefill) {
      if (player.BytesToSeconds(capture.ReadyBytes()) < holdUntil) continue;
      prefill = false;
      started = pass;
      const double pad = c.Target + offset - player.BytesToSeconds(capture.ReadyBytes());
      for (double padded = 0; padded < pad - 1e-9; padded += player.BytesToSeconds(padBlock))
        player.AddBuffer(silence.data(), padBlock);
      lastUnderrun = api.OutputStats(0).UnderrunMs;
    }
    capture.ProcessDone();
    player.ProcessDone();
    // As the block path does: the loop steers the queue as the passes leave it.
    if (c.ObservePasses) stab.Observe(player.QueuedTime.load(), PassMs / 1000.0);

    const uint64_t n = pass - started;
    const double t = static_cast<double>(n) / PassesPerSecond;
    if (c.RecordSamples > 0 && n == static_cast<uint64_t>(c.RecordFrom * PassesPerSecond))
      api.ClearPlayed(0);
    const double error = player.QueuedTime.load() - c.Target;

    const double underrun = api.OutputStats(0).UnderrunMs;
    if (underrun > lastUnderrun) {
      if (!inUnderrun) ++r.Underruns;
      inUnderrun = true;
      lastUnderrun = underrun;
    } else {
      inUnderrun = false;
    }

    windowSum += error - window[n % PassesPerSecond];
    window[n % PassesPerSecond] = error;
    if (r.BandEntry < 0 && n + 1 >= PassesPerSecond &&
        std::fabs(windowSum / PassesPerSecond) <= Band)
      r.BandEntry = t;
    if (r.BlockBandEntry < 0 && n + 1 >= PassesPerSecond &&
        std::fabs(windowSum / PassesPerSecond) <= blockSeconds + 0.001)
      r.BlockBandEntry = t;

    const double ppm = stab.CorrectionPpm();
    if (t >= c.SettleSeconds && ppm != lastPpm) {
      ++r.RatioChanges;
      r.LargestChange = std::max(r.LargestChange, std::fabs(ppm - lastPpm));
    }
    lastPpm = ppm;
    if (t >= c.SettleSeconds) {
      ++settled;
      errorSum += error;
      ppmSum += ppm;
      ++histogram[std::min(Bins, static_cast<size_t>(std::fabs(error) / Bin))];
      r.MinPpm = std::min(r.MinPpm, ppm);
      r.MaxPpm = std::max(r.MaxPpm, ppm);
    }
  }
  r.InputLost = api.InputStats(0).FramesLost;
  capture.Close();
  player.Close();
  if (c.RecordSamples > 0) r.Played = api.Played(0);

  if (settled > 0) {
    r.MeanError = errorSum / static_cast<double>(settled);
    r.MeanPpm = ppmSum / static_cast<double>(settled);
    const auto wanted = static_cast<uint64_t>(std::ceil(static_cast<double>(settled) * 0.999));
    uint64_t seen = 0;
    for (size_t i = 0; i <= Bins; ++i) {
      seen += histogram[i];
      if (seen >= wanted) {
        r.P999 = static_cast<double>(i + 1) * Bin;
        break;
      }
    }
  }
  return r;
}
