#pragma once

// The audio block path: what happens to every recorded and every played block, on the relay
// thread.
//
// The relay thread's rules, which everything in this file keeps:
//  1. One relay thread per session runs RelayPass every 10 ms at time-critical priority. The
//     main thread calls Begin before it starts the thread and joins the thread before it closes
//     a device or calls Begin again; those start and join are the only hand-overs of the devices.
//  2. The relay thread touches the capture's and the player's queues, the stabilizer, the
//     plug-in chain, the silence detector's Feed and the stream sink. It never touches a control,
//     the settings record or the session, and never waits for the main thread.
//  3. It reads its configuration only from the snapshot the main thread publishes (Publish).
//  4. It reports to the main thread only through the atomics marked "relay -> main" below; the
//     main thread's display tick collects them (TRelaySession::Collect).
//  5. Once a session runs it allocates nothing and takes no lock: Begin sizes every buffer.

#include <atomic>
#include <cstdint>

#include "app/Relay.h"
#include "app/SmoothStabilizer.h"
#include "app/Stabilizer.h"
#include "app/StartTrim.h"
#include "app/WorkBlock.h"
#include "dsp/FSilence.h"
#include "dsp/OVPlugIns.h"
#include "util/Clock.h"
#include "util/Snapshot.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"

// The point of the path at which the stream for controlling programs is taken (setting Send).
enum class TSendTap : int32_t {
  Recorded = 0,      // the recorded block, before anything is done to it
  AfterPlugins = 1,  // after the stabilizer and the plug-ins, before the volume
  Playback = 2,      // a played block as it was handed to the player
  WhatUHear = 3,     // a played block as it was played, after the volume
};

// How the output queue is held at its target (setting StabMode).
enum class TStabMode : int32_t {
  Block = 0,   // whole frames repeated or left out (TStabilizer)
  Smooth = 1,  // every block resampled by a ratio a control loop steers (TSmoothStabilizer)
};

// What the relay thread needs to know of the settings; published whole by the main thread.
struct TPathConfig {
  TSendTap Send = TSendTap::Recorded;
  int32_t Blocksize = 0;  // 0..3
  // Read when a session begins: a change takes effect at the next session.
  TStabMode Stab = TStabMode::Block;
  // How long neither a recorded nor a played block may come back before a device counts as
  // stopped.
  uint64_t StallLimitMs = 1000;
  // A device just opened has less time for its first block, so a device that is still away (a
  // sound server's sink unloaded, which opens but never delivers) is given up, and tried again,
  // sooner: the input from Begin to its first recorded block, the output from its first queued
  // block to the first one played.
  uint64_t FirstInputLimitMs = 1000;
  uint64_t FirstOutputLimitMs = 1000;
};

// Which devices a fault came from (TBlockPath::FaultDevices).
inline constexpr uint32_t FaultInput = 1;
inline constexpr uint32_t FaultOutput = 2;
// The device stalled before its first block.
inline constexpr uint32_t FaultInputFirst = 4;
inline constexpr uint32_t FaultOutputFirst = 8;

class TBlockPath {
 public:
  TBlockPath(TClock& clock, TWaveCapture& capture, TWavePlayer& player, TStabilizer& stab,
             TStreamSink* stream, TPlugInHost* plugins);
  TBlockPath(const TBlockPath&) = delete;
  TBlockPath& operator=(const TBlockPath&) = delete;

  // Main thread, at any time: the configuration the next pass reads.
  void Publish(const TPathConfig& config) { Config.Publish(config); }
  // Main thread, while no relay thread runs: the session whose number the events carry from now
  // on (errors of the devices' start included).
  void SetSession(uint32_t session) { Session_ = session; }
  // Main thread, with both devices open and before the relay thread starts: sizes the buffers,
  // resets the stall watch and the prefill, the output's pace, the start trim and, in smooth
  // mode, the smooth stabilizer (which allocates its filter here).
  void Begin(TSilence* silence);

  // Relay thread: one pass. Holds the first recorded blocks back until about a buffer's worth is
  // waiting (Prefill) and then queues a lead-in of silence, then collects the recorded blocks,
  // then the played ones, then watches for devices that stopped.
  void RelayPass();

  // Relay thread: the three block handlers, wired to the devices' events.
  void WSCHaveData(const int16_t* data, int32_t size);
  void WSPHavePlayback(const int16_t* data, int32_t size);
  void WSPHaveData(const int16_t* data, int32_t size);
  // A device reported a failed call (relay thread, or main thread while a device starts):
  // device is FaultInput or FaultOutput, code the call's result.
  void ReportError(uint32_t device, int32_t code);
  // The silence detector found silence (1) or sound (2); relay thread (Feed), or main thread
  // when a session starts.
  void SilenceFound(uint8_t mode);

  // Relay -> main. A device error or stall not yet collected: (session << 1) | stalled.
  std::atomic<uint64_t> PendingError{0};
  // For the event log, set before PendingError: the Fault... bits of the devices that failed or
  // stalled since the main thread last took them, and the code of the last failed call.
  std::atomic<uint32_t> FaultDevices{0};
  std::atomic<int32_t> FaultCode{0};
  // A silence event not yet collected: (session << 8) | mode.
  std::atomic<uint64_t> PendingSilence{0};
  // Audio went through the input and the output in this session.
  std::atomic<bool> InputFlowing{false};
  std::atomic<bool> OutputFlowing{false};
  // How long this session's input took from Begin to its first recorded block, and its output
  // from the first queued block to the first played one, in ms; -1 until then.
  std::atomic<int64_t> InputStartMs{-1};
  std::atomic<int64_t> OutputStartMs{-1};
  // Blocks the player refused because its queue was full, since the program started.
  std::atomic<uint64_t> RefusedBlocks{0};
  // The first recorded blocks are still held back.
  std::atomic<bool> Prefill{true};
  // The stabilizer the session runs with, set by Begin; read by the display.
  std::atomic<TStabMode> SessionStab{TStabMode::Block};

  uint32_t Session() const { return Session_; }
  // The smooth stabilizer's correction in ppm (display; 0 in block mode).
  double CorrectionPpm() const { return SmoothStab.CorrectionPpm(); }
  // Frames the start trim left out in this session (relay thread's count, read when it ends).
  int64_t TrimmedFrames() const { return Trimmed.load(std::memory_order_relaxed); }

 private:
  void CheckStalls(uint64_t now);
  // A recorded block came, a played block came back.
  void InputArrived(uint64_t now);
  void OutputArrived(uint64_t now);
  void Send(TSendTap tap, const int16_t* data, int32_t size, int32_t rate);
  // The audio waiting for the output before a new recorded block: the player's queue plus the
  // recorded blocks not yet collected, seconds.
  double WaitingSeconds();
  // The queue, with a recorded block of blockSeconds just added, that the session's stabilizer
  // holds; the start trim and the lead-in bring the queue there.
  double HeldQueue(double blockSeconds) const;
  // Whether the stabilizers learn from the queue now.
  bool Steering() const;
  // When the first recorded blocks (readyBytes) are released: silence queued in front of them,
  // so that the output starts with the queue where the stabilizer holds it.
  void LeadIn(uint32_t readyBytes);

  TClock& Clock;
  TWaveCapture& Capture;
  TWavePlayer& Player;
  TStabilizer& Stab;
  TStreamSink* Stream;
  TPlugInHost* Plugins;
  TSnapshot<TPathConfig> Config;

  // The relay thread's own, set by Begin before the thread starts.
  uint32_t Session_ = 0;
  TSilence* Silence = nullptr;
  TPathConfig Current;
  TStabMode Mode = TStabMode::Block;
  TSmoothStabilizer SmoothStab;
  TOutputPace Pace;
  TStartTrim Trim;
  std::atomic<int64_t> Trimmed{0};
  TWorkBlock Work;
  uint64_t BeginTick = 0;
  uint64_t LastInputTick = 0;
  uint64_t LastOutputTick = 0;
  uint32_t LastReadyBytes = 0;
  uint64_t LastObserveTick = 0;  // the last pass that showed the smooth stabilizer the queue
  // A recorded block has come, a played block has come back, since Begin.
  bool InputStarted = false;
  bool OutputStarted = false;
  bool StallReported = false;
};
