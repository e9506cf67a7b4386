#pragma once

// The simulated devices' inner state, shared by the files of the simulator only.

#include <vector>

#include "platform/sim/SimWave.h"

// A queue that reuses its storage: the sim moves millions of blocks through it without
// allocating once it has grown to the device's queue length.
template <typename T>
class TRing {
 public:
  bool Empty() const { return Count == 0; }
  size_t Size() const { return Count; }
  T& Front() { return Items[Head]; }
  T& At(size_t i) { return Items[(Head + i) & (Items.size() - 1)]; }
  void PushBack(const T& item) {
    if (Count == Items.size()) Grow();
    Items[(Head + Count) & (Items.size() - 1)] = item;
    ++Count;
  }
  void PopFront() {
    Head = (Head + 1) & (Items.size() - 1);
    --Count;
  }
  void Clear() {
    Head = 0;
    Count = 0;
  }

 private:
  void Grow() {
    std::vector<T> bigger(Items.empty() ? 16 : Items.size() * 2);
    for (size_t i = 0; i < Count; ++i) bigger[i] = At(i);
    Items.swap(bigger);
    Head = 0;
  }

  std::vector<T> Items;
  size_t Head = 0;
  size_t Count = 0;
};

struct TQueued {
  TWaveHdr* Header = nullptr;
  uint32_t Frames = 0;  // frames already recorded or played
};

struct TPending {
  TWaveHdr* Header = nullptr;
  double Due = 0;  // simulated ms at which the done callback comes
};

inline constexpr int16_t Clip16(double v) {
  return static_cast<int16_t>(v > 32767.0 ? 32767.0 : (v < -32768.0 ? -32768.0 : v));
}

struct TSimWaveApi::TDevice {
  TSimDeviceSpec Spec;
  bool Present = true;
  TSimUnplug Mode = TSimUnplug::Fail;
  // Input signal and its running state.
  TSimSignal Signal;
  double OscCos = 1, OscSin = 0;  // the oscillator's position on the unit circle
  double StepCos = 1, StepSin = 0;
  uint32_t OscRate = 0;
  size_t SamplePos = 0;
  TSimInputStats InStats;
  // Output record.
  TSimOutputStats OutStats;
  std::vector<int16_t> Record;
  size_t RecordLimit = 0;
};

struct TSimWaveApi::THandle {
  uintptr_t Id = 0;
  TWaveSide Side = TWaveSide::Input;
  TDevice* Device = nullptr;
  // Set at an unplug and kept after the device is back: the platform's handle is gone.
  bool Broken = false;  // calls fail
  bool Dead = false;    // silently stalled
  TWaveDoneProc Callback = nullptr;
  uintptr_t Instance = 0;
  uint32_t Rate = 44100;
  uint16_t Channels = 2;
  uint32_t FrameBytes = 4;
  bool Started = false;  // input only: output plays whatever it is given
  double FrameAcc = 0;
  TRing<TQueued> Queue;
  TRing<TPending> Pending;
};
