#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/SimWave.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"

// Frames whose left and right samples are given per frame, for signals with known peaks.
inline std::vector<int16_t> Frames(int32_t count, int16_t left, int16_t right) {
  std::vector<int16_t> v;
  v.reserve(static_cast<size_t>(count) * 2);
  for (int32_t i = 0; i < count; ++i) {
    v.push_back(left);
    v.push_back(right);
  }
  return v;
}

// A simulated input and output at 44100 Hz with a capture and a player on them.
struct TWaveRig {
  TSimWaveApi Sim;
  int32_t In = Sim.AddInput(TSimDeviceSpec("Line In"));
  int32_t Out = Sim.AddOutput(TSimDeviceSpec("Speakers"));
  TWaveCapture Capture{Sim};
  TWavePlayer Player{Sim};
  std::vector<int32_t> CaptureErrors;
  std::vector<int32_t> PlayerErrors;

  TWaveRig() {
    Capture.OnError = [this](TWaveCapture*, int32_t code) { CaptureErrors.push_back(code); };
    Player.OnError = [this](TWavePlayer*, int32_t code) { PlayerErrors.push_back(code); };
  }

  // Everything the devices held is given back and closed.
  bool AllReleased() {
    return Sim.OpenHandles() == 0 && Sim.QueuedHeaders() == 0 && Sim.PreparedHeaders() == 0;
  }
};
