// How the simulated devices move in time: recording, playing, and the done callbacks.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/sim/SimWaveState.h"

void TSimWaveApi::Step(double ms) {
  const double start = NowMs;
  NowMs += ms;
  for (auto& hp : Handles) {
    THandle& h = *hp;
    if (h.Dead || h.Broken) continue;
    if (h.Side == TWaveSide::Input) {
      StepInput(h, *h.Device, start, ms);
    } else {
      StepOutput(h, *h.Device, start, ms);
    }
    DeliverDue(h);
  }
}

void TSimWaveApi::FinishBlock(THandle& h, double at) {
  TQueued q = h.Queue.Front();
  h.Queue.PopFront();
  if (h.Side == TWaveSide::Input) q.Header->dwBytesRecorded = q.Frames * h.FrameBytes;
  h.Pending.PushBack({q.Header, at + h.Device->Spec.LatencyMs});
}

void TSimWaveApi::StepInput(THandle& h, TDevice& d, double stepStart, double ms) {
  if (!h.Started) {
    h.FrameAcc = 0;
    return;
  }
  const double perMs = h.Rate * (1.0 + d.Spec.RatePpm * 1e-6) / 1000.0;
  const double exact = ms * perMs + h.FrameAcc;
  uint64_t frames = static_cast<uint64_t>(exact);
  h.FrameAcc = exact - static_cast<double>(frames);
  uint64_t done = 0;
  TSimSignal& s = d.Signal;
  if (s.Kind == TSimSignalKind::Sine && d.OscRate != h.Rate) {
    const double w = 2.0 * std::numbers::pi * s.Frequency / h.Rate;
    d.StepCos = std::cos(w);
    d.StepSin = std::sin(w);
    d.OscRate = h.Rate;
  }
  while (frames > 0 && !h.Queue.Empty()) {
    TQueued& q = h.Queue.Front();
    const uint32_t capacity = q.Header->dwBufferLength / h.FrameBytes;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, capacity - q.Frames));
    int16_t* out =
        reinterpret_cast<int16_t*>(q.Header->lpData) + static_cast<size_t>(q.Frames) * h.Channels;
    const size_t samples = static_cast<size_t>(n) * h.Channels;
    switch (s.Kind) {
      case TSimSignalKind::Silence:
        std::memset(out, 0, samples * 2);
        break;
      case TSimSignalKind::Sine: {
        double c = d.OscCos, sn = d.OscSin;
        for (uint32_t i = 0; i < n; ++i) {
          const int16_t v = Clip16(std::lround(s.Amplitude * sn));
          for (uint16_t ch = 0; ch < h.Channels; ++ch) out[i * h.Channels + ch] = v;
          const double nc = c * d.StepCos - sn * d.StepSin;
          sn = sn * d.StepCos + c * d.StepSin;
          c = nc;
        }
        // The rotation drifts off the unit circle slowly; pull it back once per block.
        const double r = std::sqrt(c * c + sn * sn);
        d.OscCos = c / r;
        d.OscSin = sn / r;
        break;
      }
      case TSimSignalKind::Samples:
        for (size_t i = 0; i < samples; ++i) {
          if (d.SamplePos >= s.Samples.size() && s.Loop && !s.Samples.empty()) d.SamplePos = 0;
          out[i] = d.SamplePos < s.Samples.size() ? s.Samples[d.SamplePos++] : 0;
        }
        break;
    }
    q.Frames += n;
    frames -= n;
    done += n;
    d.InStats.FramesRecorded += n;
    if (q.Frames >= capacity) {
      FinishBlock(h, stepStart + static_cast<double>(done) / perMs);
      ++d.InStats.BlocksRecorded;
    }
  }
  d.InStats.FramesLost += frames;
}

void TSimWaveApi::StepOutput(THandle& h, TDevice& d, double stepStart, double ms) {
  const double perMs = h.Rate * (1.0 + d.Spec.RatePpm * 1e-6) / 1000.0;
  const double exact = ms * perMs + h.FrameAcc;
  uint64_t frames = static_cast<uint64_t>(exact);
  h.FrameAcc = exact - static_cast<double>(frames);
  uint64_t done = 0;
  for (;;) {
    if (h.Queue.Empty()) break;
    TQueued& q = h.Queue.Front();
    const uint32_t capacity = q.Header->dwBufferLength / h.FrameBytes;
    if (q.Frames >= capacity) {
      FinishBlock(h, stepStart + static_cast<double>(done) / perMs);
      ++d.OutStats.BlocksPlayed;
      continue;
    }
    if (frames == 0) break;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(frames, capacity - q.Frames));
    if (d.RecordLimit > d.Record.size()) {
      const int16_t* in = reinterpret_cast<const int16_t*>(q.Header->lpData) +
                          static_cast<size_t>(q.Frames) * h.Channels;
      const size_t take =
          std::min(static_cast<size_t>(n) * h.Channels, d.RecordLimit - d.Record.size());
      d.Record.insert(d.Record.end(), in, in + take);
    }
    q.Frames += n;
    frames -= n;
    done += n;
    d.OutStats.FramesPlayed += n;
  }
  if (frames > 0) d.OutStats.UnderrunMs += static_cast<double>(frames) / perMs;
}

void TSimWaveApi::Deliver(THandle& h, TWaveHdr* header) {
  header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  if (h.Callback) {
    h.Callback(reinterpret_cast<TWaveRawHandle>(h.Id),
               h.Side == TWaveSide::Input ? WIM_DATA : WOM_DONE, h.Instance,
               reinterpret_cast<uintptr_t>(header), 0);
  }
}

void TSimWaveApi::DeliverDue(THandle& h) {
  while (!h.Pending.Empty() && h.Pending.Front().Due <= NowMs) {
    TWaveHdr* header = h.Pending.Front().Header;
    h.Pending.PopFront();
    Deliver(h, header);
  }
}

void TSimWaveApi::DeliverAll(THandle& h) {
  while (!h.Pending.Empty()) {
    TWaveHdr* header = h.Pending.Front().Header;
    h.Pending.PopFront();
    Deliver(h, header);
  }
  while (!h.Queue.Empty()) {
    TQueued q = h.Queue.Front();
    h.Queue.PopFront();
    if (h.Side == TWaveSide::Input) q.Header->dwBytesRecorded = q.Frames * h.FrameBytes;
    Deliver(h, q.Header);
  }
}
