#include "app/BlockPath.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

TBlockPath::TBlockPath(TClock& clock, TWaveCapture& capture, TWavePlayer& player, TStabilizer& stab,
                       TStreamSink* stream, TPlugInHost* plugins)
    : Clock(clock), Capture(capture), Player(player), Stab(stab), Stream(stream), Plugins(plugins) {
  Player.SetDoneClock(&Clock);
}

void TBlockPath::Begin(TSilence* silence) {
  Silence = silence;
  Current = Config.Read();
  // The largest block any Blocksize gives at this rate, four times over: room for the
  // stabilizer's correction (the smooth one writes at most TSmoothStabilizer::OutputCapacity
  // frames, under 1.04 times the block) and for plug-ins that write twice the frames they are
  // given.
  const int32_t largest = CaptureBlockSize(Capture.SampleRate, 3);
  static_assert(2 * TSmoothStabilizer::OutputCapacity(1 << 20) <= 4 * (1 << 20));
  Work.Reserve(4 * largest);
  Mode = Current.Stab;
  // Without its filter the smooth stabilizer would pass blocks uncorrected: the block one holds
  // the queue instead.
  if (Mode == TStabMode::Smooth && !SmoothStab.Reset(Capture.SampleRate)) Mode = TStabMode::Block;
  SessionStab = Mode;
  Pace.Reset();
  Trim.Reset();
  Trimmed = 0;
  Player.Reserve(Capture.BlockSize.load());
  const uint64_t now = Clock.TickCount64();
  BeginTick = now;
  LastInputTick = now;
  LastOutputTick = now;
  LastReadyBytes = 0;
  LastObserveTick = 0;
  InputStarted = false;
  OutputStarted = false;
  InputStartMs = -1;
  OutputStartMs = -1;
  StallReported = false;
  InputFlowing = false;
  OutputFlowing = false;
  Prefill = true;
}

void TBlockPath::RelayPass() {
  const uint64_t now = Clock.TickCount64();
  Current = Config.Read();
  if (Prefill) {
    const uint32_t ready = Capture.ReadyBytes();
    if (ready > LastReadyBytes) {
      LastReadyBytes = ready;
      InputArrived(now);
    }
    if (Player.BytesToSeconds(ready) + 0.03 < Player.BufferTime) {
      CheckStalls(now);
      return;
    }
    Prefill = false;
    LeadIn(ready);
  }
  Capture.ProcessDone();
  Player.ProcessDone();
  if (Mode == TStabMode::Smooth) {
    // The smooth loop steers the queue's average over time, as the passes leave it: the queue
    // seen at each block would say more of how blocks and passes fall than of the delay heard.
    const double seconds = LastObserveTick && now > LastObserveTick
                               ? static_cast<double>(now - LastObserveTick) / 1000
                               : 0;
    LastObserveTick = now;
    SmoothStab.Observe(ObservedQueue(Player.QueuedTime - Trim.PendingSeconds(Capture.SampleRate),
                                     Player.DoneSeconds(), Player.DoneLag(), seconds),
                       seconds, Steering());
  }
  CheckStalls(now);
}

void TBlockPath::CheckStalls(uint64_t now) {
  if (StallReported) return;
  // An empty output queue owes nothing; a device that keeps a queue and never finishes has
  // stopped.
  if (Player.QueuedTime <= 0) LastOutputTick = now;
  // The handlers may have stamped a tick later than the pass's own reading.
  const auto silentFor = [now](uint64_t last) { return now > last ? now - last : 0; };
  const bool input =
      silentFor(LastInputTick) > (InputStarted ? Current.StallLimitMs : Current.FirstInputLimitMs);
  const bool output = silentFor(LastOutputTick) >
                      (OutputStarted ? Current.StallLimitMs : Current.FirstOutputLimitMs);
  if (input || output) {
    StallReported = true;
    uint32_t devices = 0;
    if (input) devices |= InputStarted ? FaultInput : FaultInput | FaultInputFirst;
    if (output) devices |= OutputStarted ? FaultOutput : FaultOutput | FaultOutputFirst;
    FaultDevices.fetch_or(devices);
    PendingError = (uint64_t{Session_} << 1) | 1;
  }
}

void TBlockPath::InputArrived(uint64_t now) {
  if (!InputStarted) {
    InputStarted = true;
    InputStartMs = static_cast<int64_t>(now > BeginTick ? now - BeginTick : 0);
  }
  LastInputTick = now;
}

void TBlockPath::OutputArrived(uint64_t now) {
  // Until the first played block, LastOutputTick is the last pass that found the queue empty.
  if (!OutputStarted) {
    OutputStarted = true;
    OutputStartMs = static_cast<int64_t>(now > LastOutputTick ? now - LastOutputTick : 0);
  }
  LastOutputTick = now;
}

void TBlockPath::ReportError(uint32_t device, int32_t code) {
  FaultDevices.fetch_or(device);
  FaultCode = code;
  // Several errors before the main thread looks fold into one; a stall already noted stays one.
  uint64_t expected = 0;
  PendingError.compare_exchange_strong(expected, uint64_t{Session_} << 1);
}

void TBlockPath::SilenceFound(uint8_t mode) {
  PendingSilence = (uint64_t{Session_} << 8) | mode;
}

void TBlockPath::Send(TSendTap tap, const int16_t* data, int32_t size, int32_t rate) {
  if (Current.Send == tap && Stream) Stream->AddSendData(data, size, rate);
}

double TBlockPath::WaitingSeconds() {
  Player.UpdateQueued();
  return Player.QueuedTime + Player.BytesToSeconds(Capture.ReadyBytes());
}

double TBlockPath::HeldQueue(double blockSeconds) const {
  const double target = Player.BufferTime;
  return Mode == TStabMode::Smooth ? SmoothStab.HeldQueue(target, blockSeconds)
                                   : TStabilizer::HeldQueue(target, blockSeconds);
}

void TBlockPath::LeadIn(uint32_t readyBytes) {
  // The held-back blocks fill the queue only to within 30 ms of the buffer, short of where the
  // stabilizer holds it; the stabilizer would take seconds to make up the rest, with whole
  // frames by repeating a frame hundreds of times, each a click in a tone. Silence ahead of the
  // first audio is not heard.
  const int32_t block = Capture.BlockSize.load();
  const int32_t piece = std::min(block - block % FrameBytes, Work.Capacity());
  int32_t bytes = Player.SecondsToBytes(HeldQueue(Player.BytesToSeconds(block)) -
                                        Player.BytesToSeconds(readyBytes));
  bytes -= bytes % FrameBytes;
  if (piece <= 0 || bytes <= 0) return;
  std::memset(Work.Spare(), 0, static_cast<size_t>(piece));
  for (; bytes > 0; bytes -= piece) {
    if (!Player.AddBuffer(Work.Spare(), std::min(bytes, piece))) return;
  }
}

void TBlockPath::WSCHaveData(const int16_t* data, int32_t size) {
  InputArrived(Clock.TickCount64());
  InputFlowing = true;
  if (Silence) Silence->Feed(data, size, Player.SampleRate);
  Send(TSendTap::Recorded, data, size, Capture.SampleRate);
  const int32_t rate = Capture.SampleRate;
  const int32_t frames = std::max(size, 0) / FrameBytes;
  const double waiting = WaitingSeconds();
  // Audio that piled up before the output began, or while it took its blocks slower than real
  // time, is left out from the start of the coming blocks. While the output lags, only a pile a
  // block short of the player's limit (which the block may cross) is cut.
  const double blockSeconds = Player.BytesToSeconds(frames * FrameBytes);
  const int32_t cut = Trim.Take(frames, waiting, HeldQueue(blockSeconds),
                                2 * Player.BufferTime - blockSeconds, rate, Pace);
  if (cut > 0) {
    Trimmed.fetch_add(cut, std::memory_order_relaxed);
    SmoothStab.QueueCut();
    if (cut >= frames) return;
    data += static_cast<ptrdiff_t>(cut) * 2;
    size -= cut * FrameBytes;
  }
  Work.Load(data, size);
  const bool steer = Steering();
  if (Mode == TStabMode::Smooth) {
    const int32_t in = Work.Size / FrameBytes;
    const int32_t n =
        SmoothStab.Process(Work.Data(), in, Work.Spare(), TSmoothStabilizer::OutputCapacity(in),
                           waiting - Trim.PendingSeconds(rate), Player.BufferTime, steer);
    Work.TakeSpare(n * FrameBytes);
  } else if (steer) {
    Stab.StabilyzerTick(Work, Current.Blocksize);
  }
  if (Plugins) {
    Plugins->ProcessPlugins(Work.Data(), Work.Size, Capture.SampleRate);
  } else {
    // Only whole frames go on.
    Work.Size -= Work.Size % FrameBytes;
  }
  if (!Player.AddBuffer(Work.Data(), Work.Size) && Player.QueuedTime > 2 * Player.BufferTime)
    RefusedBlocks.fetch_add(1);
  Send(TSendTap::AfterPlugins, Work.Data(), Work.Size, Capture.SampleRate);
}

bool TBlockPath::Steering() const {
  // An output that has not begun or is behind real time says nothing of the two clocks: the
  // stabilizers wait, so they do not learn a drift that is not there and correct it afterwards.
  // Once it keeps pace they wait for the trim to measure the queue, so that they never steer a
  // pile down that the trim is about to leave out.
  return Pace.Keeping() && Trim.Decided();
}

void TBlockPath::WSPHavePlayback(const int16_t* data, int32_t size) {
  Send(TSendTap::Playback, data, size, Player.SampleRate);
}

void TBlockPath::WSPHaveData(const int16_t* data, int32_t size) {
  OutputArrived(Clock.TickCount64());
  OutputFlowing = true;
  Pace.Played(Player.BytesToSeconds(static_cast<uint32_t>(std::max(size, 0))), LastOutputTick);
  Send(TSendTap::WhatUHear, data, size, Player.SampleRate);
}
