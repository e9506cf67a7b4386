#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "platform/win32/WinmmApi.h"
#include "util/Helpers.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"

namespace {

int32_t Find(const TWaveDevices& devices, const std::string& name) {
  for (size_t i = 0; i < devices.size(); ++i) {
    if (SameText(devices[i].Name, name)) return static_cast<int32_t>(i);
  }
  return -1;
}

// A continuous stereo sine, handed out in blocks.
class TTone {
 public:
  TTone(double frequency, double amplitude)
      : Step(2 * std::numbers::pi * frequency / 44100), Amplitude(amplitude) {}
  std::vector<int16_t> Next(int32_t frames) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * 2);
    for (int32_t i = 0; i < frames; ++i) {
      const auto s = static_cast<int16_t>(std::lround(Amplitude * std::sin(Phase)));
      v[2 * i] = s;
      v[2 * i + 1] = s;
      Phase = std::fmod(Phase + Step, 2 * std::numbers::pi);
    }
    return v;
  }

 private:
  double Step;
  double Amplitude;
  double Phase = 0;
};

// A player and a capture on real devices, driven every 10 ms the way the relay thread does.
struct TLoopback {
  TWinmmApi Api;
  TWavePlayer Player{Api};
  TWaveCapture Capture{Api};
  std::vector<int16_t> Left;    // left channel as recorded
  std::vector<int16_t> Played;  // left channel as handed to the player
  std::vector<int32_t> Errors;

  TLoopback() {
    Player.OnError = [this](TWavePlayer*, int32_t code) { Errors.push_back(code); };
    Capture.OnError = [this](TWaveCapture*, int32_t code) { Errors.push_back(code); };
    Capture.OnData = [this](TWaveCapture*, const int16_t* data, int32_t size) {
      for (int32_t i = 0; i < size / 4; ++i) Left.push_back(data[2 * i]);
    };
  }

  ~TLoopback() {
    Capture.Close();
    Player.Close();
  }

  // Opens the player on output and the capture on input; false with a reason when not there.
  bool Open(const std::string& output, const std::string& input, std::string& why) {
    const int32_t out = Find(Player.Devices, output);
    const int32_t in = Find(Capture.Devices, input);
    if (out < 0 || in < 0) {
      why = "needs the test sound server with \"" + output + "\" and \"" + input + "\"";
      return false;
    }
    Player.SelectDevice(out);
    Player.BufferTime = 0.1;
    Capture.SelectDevice(in);
    Capture.BlockSize = CaptureBlockSize(44100, 1);
    Capture.SetBufferSize(Player.SecondsToBytes(1.5 * Player.BufferTime));
    EXPECT_EQ(Player.Open(), 0);
    EXPECT_EQ(Capture.Open(), 0);
    Capture.ProcessDone();
    return Player.Active && Capture.Active;
  }

  // One 10 ms pass: keeps the player's queue at its target, collects both devices.
  void Pass(TTone& tone) {
    while (Player.QueuedTime < Player.BufferTime) {
      const auto block = tone.Next(441);
      if (!Player.AddBuffer(block.data(), 441 * 4)) break;
      for (size_t i = 0; i < block.size(); i += 2) Played.push_back(block[i]);
    }
    Sleep(10);
    Capture.ProcessDone();
    Player.ProcessDone();
  }

  void Run(TTone& tone, int32_t ms) {
    for (int32_t t = 0; t < ms; t += 10) Pass(tone);
  }

  // Runs until frames more have been recorded; a recording stream takes a while to start.
  bool Record(TTone& tone, size_t frames) {
    const size_t target = Left.size() + frames;
    for (int i = 0; i < 1000 && Left.size() < target; ++i) Pass(tone);
    return Left.size() >= target;
  }

  // True when the count recorded samples from position from are the played ones times gain,
  // exactly, at some delay.
  bool RecordedExactly(size_t from, size_t count, int32_t gain) const {
    if (from + count > Left.size() || count > Played.size()) return false;
    for (size_t d = 0; d + count <= Played.size(); ++d) {
      size_t i = 0;
      while (i < count && Left[from + i] == std::clamp(Played[d + i] * gain, -32768, 32767)) ++i;
      if (i == count) return true;
    }
    return false;
  }

  // Peak magnitude of what was recorded from position from on.
  int32_t PeakFrom(size_t from) const {
    int32_t peak = 0;
    for (size_t i = from; i < Left.size(); ++i) peak = std::max(peak, std::abs(int32_t{Left[i]}));
    return peak;
  }
};

}  // namespace

TEST(WinmmWave, CataloguesListTheTestSinksAndTheirMonitors) {
  TWinmmApi api;
  TWavePlayer player(api);
  TWaveCapture capture(api);
  if (Find(player.Devices, "RelayOut") < 0) GTEST_SKIP() << "needs the test sound server";
  EXPECT_GE(Find(player.Devices, "TestSource"), 0);
  EXPECT_GE(Find(capture.Devices, "Monitor of RelayOut"), 0);
  EXPECT_GE(Find(capture.Devices, "Monitor of TestSource"), 0);
  for (const auto& d : player.Devices) {
    EXPECT_EQ(d.Name, TrimText(d.Name));
    EXPECT_LE(d.Name.size(), 32u);
  }
}

TEST(WinmmWave, OpeningADeviceThatDoesNotExistGivesThePlatformsCode) {
  TWinmmApi api;
  TWavePlayer player(api);
  TWaveCapture capture(api);
  player.Devices = {{9999, "missing"}};
  player.DeviceIndex = 0;
  capture.Devices = {{9999, "missing"}};
  capture.DeviceIndex = 0;
  EXPECT_EQ(player.Open(), static_cast<int32_t>(MMSYSERR_BADDEVICEID));
  EXPECT_EQ(capture.Open(), static_cast<int32_t>(MMSYSERR_BADDEVICEID));
  EXPECT_FALSE(player.Active);
  EXPECT_FALSE(capture.Active);
}

TEST(WinmmWave, AToneIntoTestSourceIsRecordedFromItsMonitorAtTheSameLevel) {
  TLoopback loop;
  std::string why;
  if (!loop.Open("TestSource", "Monitor of TestSource", why)) GTEST_SKIP() << why;
  TTone tone(1000, 16384);  // -6.02 dB
  ASSERT_TRUE(loop.Record(tone, 44100));
  // The second half: the device latency's silence is long past.
  const int32_t peak = loop.PeakFrom(loop.Left.size() - 44100 / 2);
  EXPECT_NEAR(PeakLevel(peak), PeakLevel(16384), 1.0);
  EXPECT_NEAR(loop.Capture.LevelLeft(), PeakLevel(16384), 1.0);
  EXPECT_TRUE(loop.Errors.empty());
}

TEST(WinmmWave, RelayOutPlaysBlocksUnchangedAtVolume100AndDoubledAt200) {
  TLoopback loop;
  std::string why;
  if (!loop.Open("RelayOut", "Monitor of RelayOut", why)) GTEST_SKIP() << why;
  TTone tone(1000, 8000);
  ASSERT_TRUE(loop.Record(tone, 44100));
  const size_t atHundred = loop.Left.size() - 44100 / 4;
  EXPECT_EQ(loop.PeakFrom(atHundred), 8000);
  EXPECT_TRUE(loop.RecordedExactly(atHundred, 2000, 1));

  loop.Player.SetVolume(200);
  const size_t changed = loop.Left.size();
  ASSERT_TRUE(loop.Record(tone, 44100));
  // Half a second for the blocks queued before the change to come round.
  const size_t atTwoHundred = changed + 44100 / 2;
  EXPECT_EQ(loop.PeakFrom(atTwoHundred), 16000);
  EXPECT_TRUE(loop.RecordedExactly(atTwoHundred, 2000, 2));
  EXPECT_GE(loop.Player.PeakLeft, 15990);
  EXPECT_TRUE(loop.Errors.empty());
}

// Run by tests/e2e/wave-unplug.sh: it removes the sink while this records and brings it back.
// The test announces each stage in the file named by KESTRUNE_UNPLUG_STAGE and waits for the
// script's answer in the same file.
TEST(WinmmWave, AnUnpluggedSinkStopsTheDeviceSilentlyAndReopensOnceBack) {
  const char* stageFile = std::getenv("KESTRUNE_UNPLUG_STAGE");
  if (!stageFile) GTEST_SKIP() << "run by tests/e2e/wave-unplug.sh";
  auto say = [&](const char* what) { std::ofstream(stageFile) << what << "\n"; };
  auto waitFor = [&](const std::string& what, TLoopback& loop, TTone& tone) {
    for (int i = 0; i < 3000; ++i) {
      std::ifstream f(stageFile);
      std::string line;
      if (std::getline(f, line) && line == what) return true;
      loop.Run(tone, 10);
    }
    return false;
  };
  TTone tone(1000, 8000);
  {
    TLoopback loop;
    std::string why;
    ASSERT_TRUE(loop.Open("RelayOut", "Monitor of RelayOut", why)) << why;
    ASSERT_TRUE(loop.Record(tone, 44100 / 2));
    say("recording");
    ASSERT_TRUE(waitFor("unplugged", loop, tone));
    const size_t before = loop.Left.size();
    loop.Run(tone, 1500);
    // Nothing comes back and nothing fails: the devices just stop.
    EXPECT_LE(loop.Left.size(), before + 44100 / 5);
    EXPECT_TRUE(loop.Errors.empty());
    say("stalled");
    ASSERT_TRUE(waitFor("plugged", loop, tone));
    // Closing the stalled devices must neither hang nor leak; the destructor closes them.
  }
  TLoopback loop;
  std::string why;
  ASSERT_TRUE(loop.Open("RelayOut", "Monitor of RelayOut", why)) << why;
  ASSERT_TRUE(loop.Record(tone, 44100));
  EXPECT_EQ(loop.PeakFrom(44100 / 2), 8000);
  say("done");
}

// How long a freshly opened device takes to deliver its first block under this system's sound
// stack: the figure the first-block stall limits are chosen from. Run by hand with
// KESTRUNE_FIRST_BLOCK_CYCLES=<n> (and optionally KESTRUNE_FIRST_BLOCK_INPUT, _OUTPUT for the
// device names); prints one "measured:" line per cycle.
TEST(WinmmWave, FirstBlockOfAFreshlyOpenedDevice) {
  const char* cyclesText = std::getenv("KESTRUNE_FIRST_BLOCK_CYCLES");
  if (!cyclesText) GTEST_SKIP() << "run by hand with KESTRUNE_FIRST_BLOCK_CYCLES";
  const char* inputName = std::getenv("KESTRUNE_FIRST_BLOCK_INPUT");
  const char* outputName = std::getenv("KESTRUNE_FIRST_BLOCK_OUTPUT");
  const int cycles = std::atoi(cyclesText);
  TTone tone(1000, 8000);
  for (int cycle = 0; cycle < cycles; ++cycle) {
    TLoopback loop;
    std::string why;
    const uint64_t opening = GetTickCount64();
    ASSERT_TRUE(loop.Open(outputName ? outputName : "RelayOut",
                          inputName ? inputName : "Monitor of TestSource", why))
        << why;
    const uint64_t opened = GetTickCount64();
    int64_t firstIn = -1;
    int64_t firstOut = -1;
    bool played = false;
    loop.Player.OnPlayed = [&](TWavePlayer*, const int16_t*, int32_t) { played = true; };
    // The relay's prefill: a buffer's worth goes to the player at once, then one block a pass.
    uint64_t firstWrite = 0;
    for (int t = 0; t < 500 && (firstIn < 0 || firstOut < 0); ++t) {
      if (firstWrite == 0 || loop.Player.QueuedTime < loop.Player.BufferTime) {
        const auto block = tone.Next(441);
        loop.Player.AddBuffer(block.data(), 441 * 4);
        if (firstWrite == 0) firstWrite = GetTickCount64();
      }
      Sleep(5);
      loop.Capture.ProcessDone();
      loop.Player.ProcessDone();
      const uint64_t now = GetTickCount64();
      if (firstIn < 0 && !loop.Left.empty()) firstIn = static_cast<int64_t>(now - opened);
      if (firstOut < 0 && played) firstOut = static_cast<int64_t>(now - firstWrite);
    }
    std::printf(
        "measured: cycle %d open %llu ms, first input block %lld ms after open, first "
        "played block %lld ms after the first write, errors %zu\n",
        cycle, static_cast<unsigned long long>(opened - opening), static_cast<long long>(firstIn),
        static_cast<long long>(firstOut), loop.Errors.size());
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(50 + (cycle * 97) % 300));
  }
}

// What the platform's calls answer for a device whose sound server stream died: run by hand
// with KESTRUNE_DEAD_DEVICE_STAGE=<file> and KESTRUNE_DEAD_DEVICE=<input name> while a script
// unloads the source when the file says "recording" and answers "unplugged".
TEST(WinmmWave, CallsOnADeviceWhoseStreamDied) {
  const char* stageFile = std::getenv("KESTRUNE_DEAD_DEVICE_STAGE");
  const char* name = std::getenv("KESTRUNE_DEAD_DEVICE");
  if (!stageFile || !name) GTEST_SKIP() << "run by hand";
  TWinmmApi api;
  TWaveCapture capture(api);
  const int32_t in = Find(capture.Devices, name);
  ASSERT_GE(in, 0);
  const auto id = static_cast<uint32_t>(capture.Devices[in].DeviceID);
  TWaveRawHandle raw = nullptr;
  ASSERT_EQ(api.InOpen(&raw, id, MakeWaveFormat(44100, 2, 16), nullptr, 0, 0), 0u);
  std::vector<std::vector<int16_t>> data(8, std::vector<int16_t>(1764));
  std::vector<TWaveHdr> headers(8);
  for (size_t i = 0; i < headers.size(); ++i) {
    headers[i].lpData = reinterpret_cast<char*>(data[i].data());
    headers[i].dwBufferLength = 3528;
    ASSERT_EQ(api.InPrepareHeader(raw, &headers[i]), 0u);
    ASSERT_EQ(api.InAddBuffer(raw, &headers[i]), 0u);
  }
  ASSERT_EQ(api.InStart(raw), 0u);
  // Blocks keep being handed back and queued again, as the relay does, until the source goes.
  bool unplugged = false;
  std::ofstream(stageFile) << "recording\n";
  for (int i = 0; i < 300 && !unplugged; ++i) {
    for (auto& h : headers) {
      if (!(h.dwFlags & WHDR_DONE)) continue;
      api.InUnprepareHeader(raw, &h);
      h.dwFlags = 0;
      api.InPrepareHeader(raw, &h);
      api.InAddBuffer(raw, &h);
    }
    std::ifstream f(stageFile);
    std::string line;
    unplugged = std::getline(f, line) && line == "unplugged";
    Sleep(10);
  }
  Sleep(1500);
  int done = 0;
  for (auto& h : headers) done += (h.dwFlags & WHDR_DONE) ? 1 : 0;
  std::printf("measured: %d of 8 headers done after the unplug\n", done);
  std::printf("measured: stop %u\n", api.InStop(raw));
  std::printf("measured: reset %u\n", api.InReset(raw));
  std::printf("measured: reset again %u\n", api.InReset(raw));
  int queued = 0;
  for (auto& h : headers) queued += (h.dwFlags & WHDR_INQUEUE) ? 1 : 0;
  std::printf("measured: %d headers still queued\n", queued);
  for (auto& h : headers) std::printf("measured: unprepare %u\n", api.InUnprepareHeader(raw, &h));
  const uint32_t closed = api.InClose(raw);
  std::printf("measured: close %u\n", closed);
  if (closed != 0) std::printf("measured: close again %u\n", api.InClose(raw));
  std::fflush(stdout);
}
