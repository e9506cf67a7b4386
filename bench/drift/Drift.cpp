// Drift benchmark: the program's own block path with the real capture, player and both
// stabilizers on simulated devices whose clocks disagree, driven in 10 ms relay passes on a
// manual clock. The input plays a sine; the benchmark reports how well the queue is held, how
// long it takes back to the band after a disturbance, and the SINAD of what the output played.
// Prints one table row per case and writes its series as CSV for the plots.

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/BlockPath.h"
#include "app/Stabilizer.h"
#include "dsp/Resampler.h"
#include "dsp/Sinad.h"
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
// The input's sine: 0.9 of full scale, so the 16-bit rounding of input and output leaves room
// for more than 90 dB.
constexpr double SineAmplitude = 0.9 * 32767;
// SINAD: consecutive windows, each fitted with a sine of one fixed frequency, over whole minutes
// of the played audio (the fits cost about as much as the simulation, so a long run measures a
// minute now and then, not all of it).
constexpr double SinadWindow = 0.1;
constexpr double SinadMinute = 60;

struct TCase {
  int32_t Rate = 44100;
  double Ppm = 0;
  int32_t Blocksize = 0;
  TStabMode Mode = TStabMode::Block;
};

struct TRunSpec {
  TCase Case;
  double Seconds = 0;
  double SettleSeconds = 0;
  // A disturbance of the queue by this many seconds (positive: silence added to the output,
  // negative: recorded audio dropped) at DisturbAt seconds after the release.
  double Disturb = 0;
  double DisturbAt = 0;
  double TraceSeconds = 0;
  double SineHz = 1000;
  // The played audio measured for the SINAD: a minute from SinadFrom seconds after the release
  // (negative: none), and another every SinadEvery seconds that the run holds.
  double SinadFrom = -1;
  double SinadEvery = SinadMinute;
};

struct TRunResult {
  double MeanError = 0;
  double P999 = 0;
  double MaxAbs = 0;
  uint64_t Underruns = 0;
  double UnderrunMs = 0;
  uint64_t Refused = 0;
  uint64_t InputLostFrames = 0;
  double MinCorrection = 0;  // StabValue (block) or ppm (smooth), once settled
  double MaxCorrection = 0;
  double CorrectionSd = 0;     // smooth: the ratio's standard deviation once settled, ppm
  double ChangesPerHour = 0;   // changes of the correction once settled
  double BandEntry = -1;       // seconds from the disturbance; -1: never
  double BlockBandEntry = -1;  // the same for one block plus 1 ms
  std::optional<double> Sinad;
  std::optional<double> SinadWorstMinute;
  double TrimmedMs = 0;
  std::vector<float> Trace;  // queue in seconds after every pass
};

struct TDiscardStream : TStreamSink {
  void AddSendData(const int16_t*, int32_t, int32_t) override {}
};

TRunResult Run(const TRunSpec& spec) {
  const TCase& c = spec.Case;
  TManualClock clock;
  TSimWaveApi api(TSimTime::Manual, &clock);
  api.AddInput(TSimDeviceSpec("In", TSimDeviceSpec::AllFormats, 0));
  api.AddOutput(TSimDeviceSpec("Out", TSimDeviceSpec::AllFormats, c.Ppm));
  api.SetSignal(0, TSimSignal::Sine(spec.SineHz, SineAmplitude));
  const bool sinad = spec.SinadFrom >= 0;
  // Room for a minute as the output's clock plays it, and a second to spare.
  if (sinad)
    api.RecordOutput(
        0, 2 * static_cast<size_t>((SinadMinute + 1) * c.Rate * (1 + std::fabs(c.Ppm) * 1e-6)));
  TSinadPowers sinadPowers;
  std::optional<double> worstMinute;
  const auto sinadFrom = static_cast<uint64_t>(std::max(0.0, spec.SinadFrom) * PassesPerSecond);
  const auto minutePasses = static_cast<uint64_t>(SinadMinute * PassesPerSecond);
  const auto everyPasses =
      std::max(minutePasses, static_cast<uint64_t>(spec.SinadEvery * PassesPerSecond));
  uint64_t measureAt = 0;  // the pass that ends the minute being recorded; 0: none
  auto measurePlayed = [&] {
    const std::vector<int16_t> played = api.Played(0);
    const auto frames = static_cast<int64_t>(played.size() / 2);
    if (const auto m =
            MeasureSinadWindowed(played.data(), frames, 2, c.Rate, spec.SineHz, SinadWindow)) {
      sinadPowers.Add(*m, frames);
      worstMinute = std::min(worstMinute.value_or(m->Db), m->Db);
    }
  };
  TWavePlayer player(api);
  TWaveCapture capture(api);
  TStabilizer stab(clock, player);
  player.UpdateDevices();
  player.SelectDevice(0);
  capture.UpdateDevices();
  capture.SelectDevice(0);
  player.SampleRate = c.Rate;
  player.BufferTime = BufferTime;
  capture.SampleRate = c.Rate;
  capture.BlockSize = CaptureBlockSize(c.Rate, c.Blocksize);
  capture.SetBufferSize(player.SecondsToBytes(1.5 * BufferTime));
  TRunResult r;
  // The program's own block path, with a stream tap that takes every recorded block; made before
  // the devices open, as the program's is, so the output stamps its hand-backs.
  TDiscardStream stream;
  TBlockPath path(clock, capture, player, stab, &stream, nullptr);
  if (player.Open() != 0 || capture.Open() != 0) {
    std::fprintf(stderr, "drift: the simulated devices did not open\n");
    std::exit(2);
  }
  TPathConfig config;
  config.Blocksize = c.Blocksize;
  config.Stab = c.Mode;
  config.StallLimitMs = 1000 + static_cast<uint64_t>(BufferTime * 1000);
  path.Publish(config);
  // A negative disturbance drops this much recorded audio before it reaches the path.
  double dropLeft = 0;
  capture.OnData = [&](TWaveCapture*, const int16_t* d, int32_t n) {
    if (dropLeft > 0) {
      dropLeft -= player.BytesToSeconds(static_cast<uint32_t>(n));
      return;
    }
    path.WSCHaveData(d, n);
  };
  player.OnPlayedSource = [&](TWavePlayer*, const int16_t* d, int32_t n) {
    path.WSPHavePlayback(d, n);
  };
  player.OnPlayed = [&](TWavePlayer*, const int16_t* d, int32_t n) { path.WSPHaveData(d, n); };
  capture.ProcessDone();
  path.Begin(nullptr);
  const bool smooth = path.SessionStab == TStabMode::Smooth;

  const int32_t padBlock = CaptureBlockSize(c.Rate, 0);
  const std::vector<int16_t> silence(static_cast<size_t>(padBlock) / 2, 0);
  const double blockSeconds = player.BytesToSeconds(capture.BlockSize);

  std::vector<uint64_t> histogram(Bins + 1, 0);
  double errorSum = 0, ppmSum = 0, ppmSquares = 0;
  uint64_t settledPasses = 0;
  uint64_t changes = 0;
  double lastCorrection = 0;
  r.MinCorrection = 1e300;
  r.MaxCorrection = -1e300;
  double lastUnderrun = 0;
  bool inUnderrun = false;
  std::vector<double> window(PassesPerSecond, 0);
  double windowSum = 0;
  bool disturbed = spec.Disturb == 0;
  uint64_t disturbedAt = 0;

  const uint64_t passes = static_cast<uint64_t>(spec.Seconds * PassesPerSecond);
  bool released = false;
  uint64_t started = 0;
  for (uint64_t pass = 0; pass - started < passes; ++pass) {
    api.Advance(PassMs);
    path.RelayPass();
    if (!released) {
      // The output waits, open and idle, while the first blocks are held back: no gap in sound.
      lastUnderrun = api.OutputStats(0).UnderrunMs;
      if (path.Prefill) continue;
      released = true;
      started = pass;
    }
    const uint64_t n = pass - started;
    const double t = static_cast<double>(n) / PassesPerSecond;
    if (!disturbed && t >= spec.DisturbAt) {
      disturbed = true;
      disturbedAt = n;
      if (spec.Disturb > 0) {
        for (double padded = 0; padded < spec.Disturb - 1e-9;
             padded += player.BytesToSeconds(padBlock))
          player.AddBuffer(silence.data(), padBlock);
      } else {
        dropLeft = -spec.Disturb;
      }
    }
    if (measureAt != 0 && n == measureAt) {
      measurePlayed();
      measureAt = 0;
    }
    if (sinad && n >= sinadFrom && (n - sinadFrom) % everyPasses == 0 &&
        n + minutePasses < passes) {
      api.ClearPlayed(0);
      measureAt = n + minutePasses;
    }

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

    // Entry into the band: the queue averaged over one second, which smooths out the saw-tooth
    // of blocks arriving and finishing, lies within the band.
    windowSum += error - window[n % PassesPerSecond];
    window[n % PassesPerSecond] = error;
    if (disturbed && n >= disturbedAt + PassesPerSecond) {
      const double since = static_cast<double>(n - disturbedAt) / PassesPerSecond;
      const double average = std::fabs(windowSum / PassesPerSecond);
      if (r.BandEntry < 0 && average <= BandSeconds) r.BandEntry = since;
      if (r.BlockBandEntry < 0 && average <= blockSeconds + 0.001) r.BlockBandEntry = since;
    }

    if (t >= spec.SettleSeconds) {
      ++settledPasses;
      errorSum += error;
      const double a = std::fabs(error);
      r.MaxAbs = std::max(r.MaxAbs, a);
      ++histogram[std::min(Bins, static_cast<size_t>(a / BinSeconds))];
      const double correction = smooth ? path.CorrectionPpm() : stab.StabValue.load();
      if (settledPasses > 1 && correction != lastCorrection) ++changes;
      lastCorrection = correction;
      r.MinCorrection = std::min(r.MinCorrection, correction);
      r.MaxCorrection = std::max(r.MaxCorrection, correction);
      ppmSum += correction;
      ppmSquares += correction * correction;
    }
  }
  r.InputLostFrames = api.InputStats(0).FramesLost;
  r.Refused = path.RefusedBlocks;
  r.TrimmedMs = 1000.0 * static_cast<double>(path.TrimmedFrames()) / c.Rate;
  if (sinad) {
    r.Sinad = sinadPowers.Db();
    r.SinadWorstMinute = worstMinute;
  }
  capture.Close();
  player.Close();

  if (settledPasses > 0) {
    const auto count = static_cast<double>(settledPasses);
    r.MeanError = errorSum / count;
    r.ChangesPerHour = static_cast<double>(changes) / (count / PassesPerSecond / 3600);
    const double mean = ppmSum / count;
    r.CorrectionSd = std::sqrt(std::max(0.0, ppmSquares / count - mean * mean));
    const auto wanted = static_cast<uint64_t>(std::ceil(count * 0.999));
    uint64_t seen = 0;
    for (size_t i = 0; i <= Bins; ++i) {
      seen += histogram[i];
      if (seen >= wanted) {
        r.P999 = static_cast<double>(i + 1) * BinSeconds;
        break;
      }
    }
  }
  return r;
}

// CPU time the resampler takes per second of 44100 Hz stereo audio in 5 ms blocks: with the
// ratio held, as the control loop holds it once the queue is held, and with the ratio moved at
// every block, as while it runs the queue back to its target (each change rebuilds the filter).
double ResamplerCpuMsPerSecond(bool moving) {
  constexpr int32_t Rate = 44100;
  constexpr int32_t Block = Rate / 200;
  constexpr int Seconds = 30;
  std::vector<int16_t> in(Block * 2), out(TResampler::OutputCapacity(Block) * 2);
  for (int32_t i = 0; i < Block; ++i)
    in[2 * i] = in[2 * i + 1] =
        static_cast<int16_t>(20000 * std::sin(2 * std::numbers::pi * 1000 * i / Rate));
  TResampler resampler;
  if (!resampler.Start(Rate)) return -1;
  resampler.SetRatio(1.001);
  timespec a{}, b{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
  for (int i = 0; i < Seconds * 200; ++i) {
    if (moving) resampler.SetRatio(1 + 0.001 * std::sin(i * 0.01));
    int32_t consumed = 0;
    resampler.Process(in.data(), Block, out.data(), static_cast<int32_t>(out.size() / 2), consumed);
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
  const double ms = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
  return ms / Seconds;
}

struct TOptions {
  std::vector<int32_t> Rates = {44100, 48000};
  std::vector<double> Ppms = {0, 20, -20, 100, -100, 1000, -1000, 4000, -4000};
  std::vector<int32_t> Blocksizes = {0, 2};
  std::vector<TStabMode> Modes = {TStabMode::Block, TStabMode::Smooth};
  double Hours = 24;
  std::optional<double> SmoothHours;
  double SettleSeconds = 60;
  double EntrySeconds = 60;
  double SinadEvery = 600;
  int Threads = 2;
  std::string CsvDir;
  TCase PlotCase{44100, 1000, 0};
  double PlotMinutes = 10;
};

int32_t BlocksizeOf(const std::string& name) {
  for (size_t i = 0; i < BlockSizeNames.size(); ++i)
    if (name == BlockSizeNames[i] || name == std::to_string(i)) return static_cast<int32_t>(i);
  return -1;
}

const char* ModeName(TStabMode m) {
  return m == TStabMode::Smooth ? "smooth" : "block";
}

std::vector<std::string> SplitList(const std::string& s, char separator = ',') {
  std::vector<std::string> r;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, separator)) r.push_back(item);
  return r;
}

void Usage() {
  std::fprintf(stderr,
               "usage: drift [--hours H] [--smooth-hours H] [--rates 44100,48000]\n"
               "             [--ppm 0,20,-20,...] [--blocks Small,Large] [--modes block,smooth]\n"
               "             [--settle S] [--entry S] [--sinad-every S] [--threads N]\n"
               "             [--csv DIR] [--plot-case RATE:PPM:BLOCK] [--plot-minutes M]\n");
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (i + 1 >= argc) return false;
      const std::string v = argv[++i];
      if (a == "--hours") {
        o.Hours = std::stod(v);
      } else if (a == "--smooth-hours") {
        o.SmoothHours = std::stod(v);
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
      } else if (a == "--modes") {
        o.Modes.clear();
        for (auto& s : SplitList(v)) {
          if (s != "block" && s != "smooth") return false;
          o.Modes.push_back(s == "smooth" ? TStabMode::Smooth : TStabMode::Block);
        }
      } else if (a == "--settle") {
        o.SettleSeconds = std::stod(v);
      } else if (a == "--entry") {
        o.EntrySeconds = std::stod(v);
      } else if (a == "--sinad-every") {
        o.SinadEvery = std::stod(v);
      } else if (a == "--threads") {
        o.Threads = std::max(1, std::stoi(v));
      } else if (a == "--csv") {
        o.CsvDir = v;
      } else if (a == "--plot-minutes") {
        o.PlotMinutes = std::stod(v);
      } else if (a == "--plot-case") {
        const auto parts = SplitList(v, ':');
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
  return o.Hours > 0 && !o.Rates.empty() && !o.Ppms.empty() && !o.Blocksizes.empty() &&
         !o.Modes.empty() && o.SinadEvery >= SinadMinute &&
         o.Hours * 3600 > o.SettleSeconds + SinadMinute + 1 &&
         o.SmoothHours.value_or(o.Hours) * 3600 > o.SettleSeconds + SinadMinute + 1;
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

std::string Db(const std::optional<double>& db) {
  if (!db) return "-";
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", *db);
  return b;
}

std::string CorrectionRange(TStabMode mode, const TRunResult& r) {
  char b[96];
  if (mode == TStabMode::Smooth)
    std::snprintf(b, sizeof b, "%+.0f..%+.0f ppm (sd %.1f, %.1f changes/h)", r.MinCorrection,
                  r.MaxCorrection, r.CorrectionSd, r.ChangesPerHour);
  else
    std::snprintf(b, sizeof b, "%.0f..%.0f (%.1f changes/h)", r.MinCorrection, r.MaxCorrection,
                  r.ChangesPerHour);
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
      for (double ppm : o.Ppms)
        for (TStabMode mode : o.Modes) cases.push_back({rate, ppm, bs, mode});

  struct TRow {
    TRunResult Long, High, Above, Below;
  };
  std::vector<TRow> rows(cases.size());
  std::atomic<size_t> next{0};
  std::mutex printLock;
  const double settle = o.SettleSeconds;
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < cases.size();) {
      const TCase& c = cases[i];
      const double hours = c.Mode == TStabMode::Smooth ? o.SmoothHours.value_or(o.Hours) : o.Hours;
      // The long run plays 1 kHz and measures a minute of every SinadEvery seconds once
      // settled; a shorter run measures the first settled minute at 10 kHz.
      TRunSpec spec{c, hours * 3600, settle};
      spec.SineHz = 1000;
      spec.SinadFrom = settle;
      spec.SinadEvery = o.SinadEvery;
      rows[i].Long = Run(spec);
      spec.Seconds = settle + SinadMinute + 1;
      spec.SineHz = 10000;
      rows[i].High = Run(spec);
      // The disturbances come once the start is over (the start trim has decided).
      TRunSpec entry{c, 10 + o.EntrySeconds, 10 + o.EntrySeconds, +0.05, 10};
      rows[i].Above = Run(entry);
      entry.Disturb = -0.05;
      rows[i].Below = Run(entry);
      std::lock_guard<std::mutex> g(printLock);
      std::fprintf(stderr, "drift: %d Hz %s ppm %s %s done\n", c.Rate, PpmText(c.Ppm).c_str(),
                   BlockSizeNames[c.Blocksize], ModeName(c.Mode));
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < o.Threads; ++t) threads.emplace_back(worker);
  std::vector<TRunResult> traces;
  if (!o.CsvDir.empty()) {
    for (TStabMode mode : {TStabMode::Block, TStabMode::Smooth}) {
      TCase c = o.PlotCase;
      c.Mode = mode;
      TRunSpec spec{c, o.PlotMinutes * 60, 0};
      spec.TraceSeconds = o.PlotMinutes * 60;
      traces.push_back(Run(spec));
    }
  }
  const double cpuHeld = ResamplerCpuMsPerSecond(false);
  const double cpuMoving = ResamplerCpuMsPerSecond(true);
  for (auto& t : threads) t.join();

  std::printf(
      "Buffer %.0f ms; %.4g simulated hours per block-mode case, %.4g per smooth-mode case; "
      "figures after the first %.0f s; SINAD at 1 kHz over a minute in every %.0f s from "
      "then, at 10 kHz over the first minute, in %.1f s windows; the resampler takes %.2f ms of "
      "CPU per second of 44100 Hz stereo with its ratio held, %.2f ms with its ratio moved at "
      "every block.\n\n",
      BufferTime * 1000, o.Hours, o.SmoothHours.value_or(o.Hours), o.SettleSeconds, o.SinadEvery,
      SinadWindow, cpuHeld, cpuMoving);
  std::printf(
      "| rate | output drift (ppm) | block | mode | mean error (ms) | 99.9 %% abs error (ms) | "
      "max abs error (ms) | underruns | refused | input lost (frames) | correction range | "
      "entry from +50 ms (s) | entry from -50 ms (s) | SINAD 1 kHz (dB) | "
      "worst minute 1 kHz (dB) | SINAD 10 kHz (dB) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    const TRunResult& r = rows[i].Long;
    std::printf(
        "| %d | %s | %s | %s | %+.2f | %.2f | %.2f | %llu (%.0f ms) | %llu | %llu | %s | "
        "%s | %s | %s | %s | %s |\n",
        c.Rate, PpmText(c.Ppm).c_str(), BlockSizeNames[c.Blocksize], ModeName(c.Mode),
        r.MeanError * 1000, r.P999 * 1000, r.MaxAbs * 1000,
        static_cast<unsigned long long>(r.Underruns), r.UnderrunMs,
        static_cast<unsigned long long>(r.Refused),
        static_cast<unsigned long long>(r.InputLostFrames), CorrectionRange(c.Mode, r).c_str(),
        Seconds(rows[i].Above.BandEntry).c_str(), Seconds(rows[i].Below.BandEntry).c_str(),
        Db(r.Sinad).c_str(), Db(r.SinadWorstMinute).c_str(), Db(rows[i].High.Sinad).c_str());
  }

  if (!o.CsvDir.empty()) {
    std::ofstream table(o.CsvDir + "/drift-cases.csv");
    table << "rate,ppm,block,mode,mean_error_ms,p999_ms,max_abs_ms,underruns,refused,input_lost,"
             "correction_min,correction_max,correction_sd,entry_above_s,entry_below_s,"
             "block_entry_above_s,block_entry_below_s,sinad_1k_db,sinad_1k_worst_minute_db,"
             "sinad_10k_db,trimmed_ms,"
             "changes_per_hour\n";
    for (size_t i = 0; i < cases.size(); ++i) {
      const TCase& c = cases[i];
      const TRunResult& r = rows[i].Long;
      table << c.Rate << ',' << c.Ppm << ',' << BlockSizeNames[c.Blocksize] << ','
            << ModeName(c.Mode) << ',' << r.MeanError * 1000 << ',' << r.P999 * 1000 << ','
            << r.MaxAbs * 1000 << ',' << r.Underruns << ',' << r.Refused << ',' << r.InputLostFrames
            << ',' << r.MinCorrection << ',' << r.MaxCorrection << ',' << r.CorrectionSd << ','
            << rows[i].Above.BandEntry << ',' << rows[i].Below.BandEntry << ','
            << rows[i].Above.BlockBandEntry << ',' << rows[i].Below.BlockBandEntry << ','
            << (r.Sinad ? *r.Sinad : std::nan("")) << ','
            << (r.SinadWorstMinute ? *r.SinadWorstMinute : std::nan("")) << ','
            << (rows[i].High.Sinad ? *rows[i].High.Sinad : std::nan("")) << ',' << r.TrimmedMs
            << ',' << r.ChangesPerHour << '\n';
    }
    std::ofstream trace(o.CsvDir + "/drift-queue.csv");
    trace << "time_s,block_ms,smooth_ms\n";
    const size_t n = std::min(traces[0].Trace.size(), traces[1].Trace.size());
    for (size_t i = 0; i < n; ++i)
      trace << static_cast<double>(i) / PassesPerSecond << ',' << traces[0].Trace[i] * 1000 << ','
            << traces[1].Trace[i] * 1000 << '\n';
    if (!table || !trace) {
      std::fprintf(stderr, "drift: cannot write the CSV files in %s\n", o.CsvDir.c_str());
      return 2;
    }
  }
  return 0;
}
