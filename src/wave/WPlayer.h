#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/Clock.h"
#include "wave/WaveApi.h"
#include "wave/WaveFormat.h"
#include "wave/WaveRelease.h"

// Plays blocks on one wave-output device. AddBuffer copies a block, applies the volume and
// queues it, refusing blocks while more than twice BufferTime is waiting; the relay thread's
// ProcessDone collects the played blocks and reports each as handed in and as played.
//
// Threads: Open, Close and Reserve run on the main thread while no relay thread runs;
// AddBuffer, ProcessDone and UpdateQueued on the relay thread while it runs. The block list is
// therefore never shared. SetVolume (main thread) only records the new volume: the relay thread
// rewrites the queued blocks at its next AddBuffer or ProcessDone.
class TWavePlayer {
 public:
  explicit TWavePlayer(TWaveApi& api);
  // Closes the device if the owner has not: the device must not keep blocks that are freed here.
  ~TWavePlayer();
  TWavePlayer(const TWavePlayer&) = delete;
  TWavePlayer& operator=(const TWavePlayer&) = delete;

  // Raised on the relay thread (ProcessDone), or on the thread that calls AddBuffer for OnError.
  // A block finished playing: the samples as played (after the volume); size in bytes.
  std::function<void(TWavePlayer* sender, const int16_t* data, int32_t size)> OnPlayed;
  // The same block as it was handed to AddBuffer.
  std::function<void(TWavePlayer* sender, const int16_t* data, int32_t size)> OnPlayedSource;
  // A platform call failed with this code.
  std::function<void(TWavePlayer* sender, int32_t code)> OnError;
  TWaveDevices Devices;
  int32_t DeviceIndex = -1;
  int32_t SampleRate = 44100;
  uint8_t Bits = 16;
  uint8_t Channels = 2;
  std::atomic<bool> Active{false};
  std::atomic<double> BufferTime{0.0};  // target, seconds
  std::atomic<double> QueuedTime{0.0};  // handed to the device and not finished, seconds
  std::atomic<int32_t> Volume{100};     // percent, 0..1024
  TWaveHandle Handle;
  // Queued at the device, oldest first, each with its source copy; null while closed.
  std::unique_ptr<TWaveBlocks> Blocks;
  std::atomic<int16_t> PeakLeft{0};
  std::atomic<int16_t> PeakRight{0};

  void UpdateDevices();
  int32_t DeviceCount() const { return static_cast<int32_t>(Devices.size()); }
  std::string GetDeviceName(int32_t i) const { return WaveDeviceName(Devices, i); }
  void SelectDevice(int32_t i);

  // 0, -1 without a selected device, else the platform's code (nothing is left open then).
  int32_t Open();
  // Resets and releases every block without raising an event, then closes.
  // A device that will not let go of its blocks is kept and released at a later open or close
  // (TWaveRelease).
  void Close();
  // Devices an earlier close could not release yet.
  size_t KeptDevices() const { return Releaser.Kept(); }
  // Readies blocks for a session whose blocks hold up to blockBytes (main thread, while open and
  // before the relay thread starts): enough for twice BufferTime queued plus a margin.
  void Reserve(int32_t blockBytes);
  // True when the block was queued; the caller keeps its data.
  bool AddBuffer(const int16_t* data, int32_t size);
  void ProcessDone();
  void UpdateQueued();
  // A clock for the device's callback to stamp each block handed back (it must outlive the
  // device); used from the next Open. Without one, DoneLag stays 0.
  void SetDoneClock(TClock* clock) { DoneClock = clock; }
  // What the last ProcessDone collected, seconds of audio, and the sum over its blocks of their
  // seconds times how long before the collection the device had handed each back (seconds^2):
  // a caller that looks at the queue now and then sees each block leave late by this much.
  double DoneSeconds() const { return CollectedSeconds; }
  double DoneLag() const { return CollectedLag; }
  // Clamps to 0..1024; the queued blocks after the oldest are rescaled from their source copies
  // by the relay thread (ApplyVolumeChange).
  void SetVolume(int32_t percent);
  // Rewrites the queued blocks after the oldest when the volume changed since they were scaled.
  void ApplyVolumeChange();
  // output := source x Volume / 100, truncated toward zero and clipped, for size div 2 samples.
  void ApplyVolume(const int16_t* source, int16_t* output, int32_t size) const;

  double LevelLeft() const { return PeakLevel(PeakLeft.load()); }
  double LevelRight() const { return PeakLevel(PeakRight.load()); }
  // 0 for a negative time; truncated toward zero.
  int32_t SecondsToBytes(double seconds) const;
  double BytesToSeconds(uint32_t bytes) const;

 private:
  void RaiseError(uint32_t code);

  TWaveApi& Api;
  TBlockPool Pool;
  // Blocks whose unprepare failed: not reusable, and not to be freed before the device has been
  // released (the close tries the unprepare again).
  TWaveBlocks Stranded;
  // The catalogue identifier of the device open now.
  uint32_t OpenDevice = 0;
  TWaveRelease Releaser{Api, TWaveSide::Output};
  // The volume the queued blocks carry; the relay thread's own.
  int32_t AppliedVolume = 100;
  TClock* DoneClock = nullptr;
  bool Stamped = false;         // the device open now stamps its blocks
  double CollectedSeconds = 0;  // the relay thread's own, as AppliedVolume
  double CollectedLag = 0;
};

// Scales size div 2 samples by volume percent, truncating toward zero and clipping to 16 bits.
void ScaleSamples(const int16_t* source, int16_t* output, int32_t size, int32_t volume);
