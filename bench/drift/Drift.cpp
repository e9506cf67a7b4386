// Drift benchmark: the real capture, player and stabilizer on simulated devices whose clocks
// disagree, driven in 10 ms relay passes on a manual clock. Prints one table row per case and
// can plot the queue of one case.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Png.h"
#include "app/BlockPath.h"
#include "app/Stabilizer.h"
#include "platform/sim/SimWave.h"
#include "settings/Setting.h"
#include "wave/WPlayer.h"
#include "wave/WaveCapture.h"
#include "wave/WaveFormat.h"

namespace {

constexpr double BufferTime = 0.1;
constexpr double BandSeconds = TStabilizer::DeadBand;
constexpr int PassMs = 10;
constexpr int PassesPerSecond = 1000 / PassMs;
// |error| histogram: 0.01 ms bins up to one second.
constexpr double BinSeconds = 0.00001;
constexpr size_t Bins = 100000;

struct TCase {
  int32_t Rate = 44100;
  double Ppm = 0;
  int32_t Blocksize = 0;
};

struct TRunSpec {
  TCase Case;
  double Seconds = 0;
  double SettleSeconds = 0;
  // Empty: start as the relay does. Otherwise start with the queue this far from the target.
  std::optional<double> StartOffset;
  double TraceSeconds = 0;
};

struct TRunResult {
  double MeanError = 0;
  double P999 = 0;
  double MaxAbs = 0;
  uint64_t Underruns = 0;
  double UnderrunMs = 0;
  uint64_t Refused = 0;
  uint64_t InputLostFrames = 0;
  double StepsPerMinute = 0;
  double ReversalsPerMinute = 0;
  int32_t MinStab = 0;
  int32_t MaxStab = 0;
  double BandEntry = -1;     // seconds from the start, -1: never
  std::vector<float> Trace;  // queue in seconds after every pass
};

struct TDiscardStream : TStreamSink {
  void AddSendData(const int16_t*, int32_t, int32_t) override {}
};

TSimDeviceSpec Device(const char* name, double ppm) {
  TSimDeviceSpec d;
  d.Name = name;
  d.RatePpm = ppm;
  return d;
}

TRunResult Run(const TRunSpec& spec) {
  const TCase& c = spec.Case;
  TManualClock clock;
  TSimWaveApi api(TSimTime::Manual, &clock);
  api.AddInput(Device("In", 0));
  api.AddOutput(Device("Out", c.Ppm));
  TWavePlayer player(api);
  TWaveCapture capture(api);
  TStabilizer stab(clock, player);

  player.SampleRate = c.Rate;
  player.BufferTime = BufferTime;
  capture.SampleRate = c.Rate;
  capture.BlockSize = CaptureBlockSize(c.Rate, c.Blocksize);
  capture.SetBufferSize(player.SecondsToBytes(1.5 * BufferTime));
  TRunResult r;
  if (player.Open() != 0 || capture.Open() != 0) {
    std::fprintf(stderr, "drift: the simulated devices did not open\n");
    std::exit(2);
  }
  // The program's own block path, with a stream tap that takes every recorded block.
  TDiscardStream stream;
  TBlockPath path(clock, capture, player, stab, &stream, nullptr);
  TPathConfig config;
  config.Blocksize = c.Blocksize;
  config.StallLimitMs = 1000 + static_cast<uint64_t>(BufferTime * 1000);
  path.Publish(config);
  capture.OnData = [&](TWaveCapture*, const int16_t* d, int32_t n) { path.WSCHaveData(d, n); };
  player.OnPlayedSource = [&](TWavePlayer*, const int16_t* d, int32_t n) {
    path.WSPHavePlayback(d, n);
  };
  player.OnPlayed = [&](TWavePlayer*, const int16_t* d, int32_t n) { path.WSPHaveData(d, n); };
  capture.ProcessDone();
  path.Begin(nullptr);

  // The relay holds the first blocks back until the buffer less 30 ms is recorded. A start below
  // the target holds back less; a start above pads the queue with silence once released.
  const double offset = spec.StartOffset.value_or(-0.03);
  const double holdUntil = BufferTime + std::min(offset, -0.03);
  const int32_t frameBlock = CaptureBlockSize(c.Rate, 0);
  const std::vector<int16_t> silence(frameBlock / 2, 0);

  std::vector<uint64_t> histogram(Bins + 1, 0);
  double errorSum = 0;
  uint64_t settledPasses = 0;
  uint64_t steps = 0, reversals = 0;
  int lastDirection = 0;
  int32_t lastStab = stab.StabValue.load();
  r.MinStab = r.MaxStab = lastStab;
  double lastUnderrun = 0;
  bool inUnderrun = false;
  std::vector<double> window(PassesPerSecond, 0);
  double windowSum = 0;

  const uint64_t passes = static_cast<uint64_t>(spec.Seconds * PassesPerSecond);
  bool prefill = true;
  uint64_t started = 0;
  for (uint64_t pass = 0; pass < passes; ++pass) {
    api.Advance(PassMs);
    if (prefill) {
      // The case chooses how much the start holds back; the path's own rule is the default.
      if (player.BytesToSeconds(capture.ReadyBytes()) < holdUntil) continue;
      prefill = false;
      path.Prefill = false;
      started = pass;
      const double pad = BufferTime + offset - player.BytesToSeconds(capture.ReadyBytes());
      for (double padded = 0; padded < pad - 1e-9; padded += player.BytesToSeconds(frameBlock))
        player.AddBuffer(silence.data(), frameBlock);
      // The output was open and idle while the first blocks were held back: no gap in sound.
      lastUnderrun = api.OutputStats(0).UnderrunMs;
    }
    path.RelayPass();

    const uint64_t n = pass - started;
    const double t = static_cast<double>(n) / PassesPerSecond;
    const double queue = player.QueuedTime.load();
    const double error = queue - BufferTime;
    if (t < spec.TraceSeconds) r.Trace.push_back(static_cast<float>(queue));

    const double underrun = api.OutputStats(0).UnderrunMs;
    if (underrun > lastUnderrun) {
      if (!inUnderrun) ++r.Underruns;
      inUnderrun = true;
      r.UnderrunMs += underrun - lastUnderrun;
      lastUnderrun = underrun;
    } else {
      inUnderrun = false;
    }

    const int32_t value = stab.StabValue.load();
    if (value != lastStab) {
      const int direction = value > lastStab ? 1 : -1;
      if (t >= spec.SettleSeconds) {
        steps += static_cast<uint64_t>(std::abs(value - lastStab));
        if (lastDirection != 0 && direction != lastDirection) ++reversals;
      }
      lastDirection = direction;
      lastStab = value;
      r.MinStab = std::min(r.MinStab, value);
      r.MaxStab = std::max(r.MaxStab, value);
    }

    // Entry into the band: the queue averaged over one second, which smooths out the saw-tooth
    // of blocks arriving and finishing, lies within the band.
    windowSum += error - window[n % PassesPerSecond];
    window[n % PassesPerSecond] = error;
    if (r.BandEntry < 0 && n + 1 >= PassesPerSecond &&
        std::fabs(windowSum / PassesPerSecond) <= BandSeconds)
      r.BandEntry = t;

    if (t >= spec.SettleSeconds) {
      ++settledPasses;
      errorSum += error;
      const double a = std::fabs(error);
      r.MaxAbs = std::max(r.MaxAbs, a);
      ++histogram[std::min(Bins, static_cast<size_t>(a / BinSeconds))];
    }
  }
  r.InputLostFrames = api.InputStats(0).FramesLost;
  r.Refused = path.RefusedBlocks;
  capture.Close();
  player.Close();

  if (settledPasses > 0) {
    r.MeanError = errorSum / settledPasses;
    const uint64_t wanted = static_cast<uint64_t>(std::ceil(settledPasses * 0.999));
    uint64_t seen = 0;
    for (size_t i = 0; i <= Bins; ++i) {
      seen += histogram[i];
      if (seen >= wanted) {
        r.P999 = (i + 1) * BinSeconds;
        break;
      }
    }
    const double minutes = settledPasses / (60.0 * PassesPerSecond);
    r.StepsPerMinute = steps / minutes;
    r.ReversalsPerMinute = reversals / minutes;
  }
  return r;
}

struct TOptions {
  std::vector<int32_t> Rates = {44100, 48000};
  std::vector<double> Ppms = {0, 20, -20, 100, -100, 1000, -1000, 4000, -4000};
  std::vector<int32_t> Blocksizes = {0, 2};
  double Hours = 24;
  double SettleSeconds = 60;
  double EntrySeconds = 120;
  int Threads = 2;
  std::string Plot;
  TCase PlotCase{44100, 1000, 0};
  double PlotMinutes = 10;
  std::optional<double> PlotStart;
};

int32_t BlocksizeOf(const std::string& name) {
  for (size_t i = 0; i < BlockSizeNames.size(); ++i)
    if (name == BlockSizeNames[i] || name == std::to_string(i)) return static_cast<int32_t>(i);
  return -1;
}

std::vector<std::string> SplitList(const std::string& s) {
  std::vector<std::string> r;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) r.push_back(item);
  return r;
}

void Usage() {
  std::fprintf(stderr,
               "usage: drift [--hours H] [--rates 44100,48000] [--ppm 0,20,-20,...]\n"
               "             [--blocks Small,Large] [--settle S] [--entry S] [--threads N]\n"
               "             [--plot FILE.png] [--plot-case RATE:PPM:BLOCK] [--plot-minutes M]\n"
               "             [--plot-start MS_FROM_TARGET]\n");
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (i + 1 >= argc) return false;
      const std::string v = argv[++i];
      if (a == "--hours") {
        o.Hours = std::stod(v);
      } else if (a == "--rates") {
        o.Rates.clear();
        for (auto& s : SplitList(v)) o.Rates.push_back(std::stoi(s));
      } else if (a == "--ppm") {
        o.Ppms.clear();
        for (auto& s : SplitList(v)) o.Ppms.push_back(std::stod(s));
      } else if (a == "--blocks") {
        o.Blocksizes.clear();
        for (auto& s : SplitList(v)) {
          const int32_t b = BlocksizeOf(s);
          if (b < 0) return false;
          o.Blocksizes.push_back(b);
        }
      } else if (a == "--settle") {
        o.SettleSeconds = std::stod(v);
      } else if (a == "--entry") {
        o.EntrySeconds = std::stod(v);
      } else if (a == "--threads") {
        o.Threads = std::max(1, std::stoi(v));
      } else if (a == "--plot") {
        o.Plot = v;
      } else if (a == "--plot-start") {
        o.PlotStart = std::stod(v) / 1000;
      } else if (a == "--plot-minutes") {
        o.PlotMinutes = std::stod(v);
      } else if (a == "--plot-case") {
        const auto parts =
            SplitList(std::string(v).replace(v.find(':'), 1, ",").replace(v.rfind(':'), 1, ","));
        if (parts.size() != 3) return false;
        o.PlotCase = {std::stoi(parts[0]), std::stod(parts[1]), BlocksizeOf(parts[2])};
        if (o.PlotCase.Blocksize < 0) return false;
      } else {
        return false;
      }
    }
  } catch (const std::exception&) {
    return false;
  }
  return o.Hours > 0 && !o.Rates.empty() && !o.Ppms.empty() && !o.Blocksizes.empty();
}

// Digits of a 3x5 pixel font, row by row, for the axis labels.
constexpr uint16_t DigitFont[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9,
                                    0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};

void DrawNumber(TRgbImage& img, int x, int y, int value, uint32_t rgb, int scale = 2) {
  const std::string s = std::to_string(value);
  for (char ch : s) {
    const uint16_t bits = DigitFont[ch - '0'];
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (bits & (1 << (14 - row * 3 - col)))
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              img.Set(x + col * scale + dx, y + row * scale + dy, rgb);
    x += 4 * scale;
  }
}

// The queue over time: one column per time slice shows its range, the target and the band are
// drawn across, grid lines every minute and every 20 ms with their values.
bool Plot(const std::string& path, const std::vector<float>& trace, double minutes) {
  const int left = 50, right = 20, top = 20, bottom = 40, plotW = 1200, plotH = 400;
  TRgbImage img(left + plotW + right, top + plotH + bottom, 0xFFFFFF);
  const double maxMs = 2000 * BufferTime;
  auto yOf = [&](double ms) {
    return top + plotH - static_cast<int>(std::lround(ms / maxMs * plotH));
  };
  for (int ms = 0; ms <= static_cast<int>(maxMs); ms += 20) {
    img.HLine(left, left + plotW, yOf(ms), 0xE0E0E0);
    DrawNumber(img, 8, yOf(ms) - 5, ms, 0x404040);
  }
  for (int m = 0; m <= static_cast<int>(minutes); ++m) {
    const int x = left + static_cast<int>(std::lround(m / minutes * plotW));
    img.VLine(x, top, top + plotH, 0xE0E0E0);
    DrawNumber(img, x - 4, top + plotH + 12, m, 0x404040);
  }
  img.HLine(left, left + plotW, yOf(1000 * (BufferTime - BandSeconds)), 0x60C060);
  img.HLine(left, left + plotW, yOf(1000 * (BufferTime + BandSeconds)), 0x60C060);
  img.HLine(left, left + plotW, yOf(1000 * BufferTime), 0x208020);
  const size_t total = static_cast<size_t>(minutes * 60 * PassesPerSecond);
  for (int x = 0; x < plotW; ++x) {
    const size_t a = total * x / plotW, b = std::min(trace.size(), total * (x + 1) / plotW);
    if (a >= b) continue;
    const auto [lo, hi] = std::minmax_element(trace.begin() + a, trace.begin() + b);
    img.VLine(left + x, yOf(1000 * *lo), yOf(1000 * *hi), 0x2040C0);
  }
  img.VLine(left, top, top + plotH, 0x000000);
  img.HLine(left, left + plotW, top + plotH, 0x000000);
  return img.SavePng(path);
}

std::string PpmText(double ppm) {
  char b[32];
  std::snprintf(b, sizeof b, "%+g", ppm);
  return ppm == 0 ? "0" : b;
}

std::string Seconds(double s) {
  if (s < 0) return "never";
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", s);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  if (!ParseOptions(argc, argv, o)) {
    Usage();
    return 1;
  }

  std::vector<TCase> cases;
  for (int32_t rate : o.Rates)
    for (int32_t bs : o.Blocksizes)
      for (double ppm : o.Ppms) cases.push_back({rate, ppm, bs});

  struct TRow {
    TRunResult Long, Above, Below;
  };
  std::vector<TRow> rows(cases.size());
  std::atomic<size_t> next{0};
  std::mutex printLock;
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < cases.size();) {
      const TCase& c = cases[i];
      rows[i].Long = Run({c, o.Hours * 3600, o.SettleSeconds, std::nullopt, 0});
      rows[i].Above = Run({c, o.EntrySeconds, o.EntrySeconds, +0.05, 0});
      rows[i].Below = Run({c, o.EntrySeconds, o.EntrySeconds, -0.05, 0});
      std::lock_guard<std::mutex> g(printLock);
      std::fprintf(stderr, "drift: %d Hz %s ppm %s done\n", c.Rate, PpmText(c.Ppm).c_str(),
                   BlockSizeNames[c.Blocksize]);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < o.Threads; ++t) threads.emplace_back(worker);
  if (!o.Plot.empty()) {
    const TRunResult p = Run({o.PlotCase, o.PlotMinutes * 60, 0, o.PlotStart, o.PlotMinutes * 60});
    if (!Plot(o.Plot, p.Trace, o.PlotMinutes))
      std::fprintf(stderr, "drift: cannot write %s\n", o.Plot.c_str());
  }
  for (auto& t : threads) t.join();

  std::printf(
      "Buffer %.0f ms, %.4g simulated hours per case, figures after the first %.0f s; "
      "band entry within %.0f s.\n\n",
      BufferTime * 1000, o.Hours, o.SettleSeconds, o.EntrySeconds);
  std::printf(
      "| rate | output drift (ppm) | block | mean error (ms) | 99.9 %% abs error (ms) | max abs "
      "error (ms) | underruns | refused | input lost (frames) | StabValue range | steps/min | "
      "reversals/min | entry from +50 ms (s) | entry from -50 ms (s) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    const TRunResult& r = rows[i].Long;
    std::printf(
        "| %d | %s | %s | %+.2f | %.2f | %.2f | %llu (%.0f ms) | %llu | %llu | %d..%d | %.2f | "
        "%.2f | %s | %s |\n",
        c.Rate, PpmText(c.Ppm).c_str(), BlockSizeNames[c.Blocksize], r.MeanError * 1000,
        r.P999 * 1000, r.MaxAbs * 1000, static_cast<unsigned long long>(r.Underruns), r.UnderrunMs,
        static_cast<unsigned long long>(r.Refused),
        static_cast<unsigned long long>(r.InputLostFrames), r.MinStab, r.MaxStab, r.StepsPerMinute,
        r.ReversalsPerMinute, Seconds(rows[i].Above.BandEntry).c_str(),
        Seconds(rows[i].Below.BandEntry).c_str());
  }
  return 0;
}
