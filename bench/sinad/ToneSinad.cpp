// tone-sinad: the SINAD of a tone in a raw recording (16-bit little-endian stereo), fitted in
// windows of its own so a tone whose pitch a stabilizer bends a little is followed; each channel
// is measured on its own. Prints one line:
//   sinad DB left DB right DB frequency HZ amplitude PEAK seconds S lowest HZ highest HZ empty N
// DB is the lower of the two channels' figures; the frequency is the left channel's in the last
// window, the amplitude its average over the windows, lowest and highest the range of the
// frequencies fitted in the windows. Windows without a tone (a dropout) are left out of the
// figures and counted: N is the larger count of the two channels.
//
//   tone-sinad FILE [--frequency HZ] [--rate HZ] [--skip S] [--seconds S] [--window S]
//
// Exit status 0 when a tone was found in both channels, 1 when not in any window of a channel
// (or the file is too short or unreadable), 2 on wrong arguments.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dsp/Sinad.h"

namespace {

struct TOptions {
  std::string File;
  double Frequency = 1000;
  double Rate = 44100;
  double Skip = 0;
  std::optional<double> Seconds;
  double Window = 1;
};

void Usage() {
  std::fprintf(stderr,
               "usage: tone-sinad FILE [--frequency HZ] [--rate HZ] [--skip S] [--seconds S] "
               "[--window S]\n"
               "  FILE         raw 16-bit little-endian stereo\n"
               "  --frequency  the tone, about (default 1000)\n"
               "  --rate       frames per second (default 44100)\n"
               "  --skip       seconds left out at the start (default 0)\n"
               "  --seconds    seconds measured from there (default: to the end)\n"
               "  --window     seconds fitted together (default 1)\n");
}

// A number that fills the whole argument.
std::optional<double> Number(const std::string& text) {
  try {
    size_t used = 0;
    const double v = std::stod(text, &used);
    if (used != text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      if (!o.File.empty()) return false;
      o.File = a;
      continue;
    }
    if (i + 1 >= argc) return false;
    const auto v = Number(argv[++i]);
    if (!v) return false;
    if (a == "--frequency")
      o.Frequency = *v;
    else if (a == "--rate")
      o.Rate = *v;
    else if (a == "--skip")
      o.Skip = *v;
    else if (a == "--seconds")
      o.Seconds = *v;
    else if (a == "--window")
      o.Window = *v;
    else
      return false;
  }
  return !o.File.empty() && o.Frequency > 0 && o.Rate > 0 && o.Frequency < o.Rate / 2 &&
         o.Skip >= 0 && (!o.Seconds || *o.Seconds > 0) && o.Window > 0;
}

// The file's frames as interleaved samples, from the host's byte order.
std::optional<std::vector<int16_t>> ReadFrames(const std::string& path, int64_t skipFrames,
                                               std::optional<int64_t> frames) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const int64_t total = static_cast<int64_t>(in.tellg()) / 4;
  if (total <= skipFrames) return std::vector<int16_t>{};
  const int64_t count = std::min(total - skipFrames, frames.value_or(total));
  std::vector<unsigned char> bytes(static_cast<size_t>(count) * 4);
  in.seekg(skipFrames * 4);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    return std::nullopt;
  std::vector<int16_t> samples(static_cast<size_t>(count) * 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  if (!ParseOptions(argc, argv, o)) {
    Usage();
    return 2;
  }
  const int64_t skip = std::llround(o.Skip * o.Rate);
  std::optional<int64_t> frames;
  if (o.Seconds) frames = std::llround(*o.Seconds * o.Rate);
  const auto samples = ReadFrames(o.File, skip, frames);
  if (!samples) {
    std::fprintf(stderr, "tone-sinad: cannot read %s\n", o.File.c_str());
    return 1;
  }
  const int64_t count = static_cast<int64_t>(samples->size() / 2);
  int64_t emptyLeft = 0, emptyRight = 0;
  const auto left =
      MeasureSinadWindowed(samples->data(), count, 2, o.Rate, o.Frequency, o.Window, &emptyLeft);
  const auto right = MeasureSinadWindowed(samples->data() + 1, count, 2, o.Rate, o.Frequency,
                                          o.Window, &emptyRight);
  if (!left || !right) {
    std::fprintf(stderr, "tone-sinad: no tone of about %g Hz in %.1f s of %s (%s channel)\n",
                 o.Frequency, static_cast<double>(count) / o.Rate, o.File.c_str(),
                 !left ? "left" : "right");
    return 1;
  }
  std::printf(
      "sinad %.2f left %.2f right %.2f frequency %.3f amplitude %.1f seconds %.1f lowest %.3f "
      "highest %.3f empty %lld\n",
      std::min(left->Db, right->Db), left->Db, right->Db, left->Frequency, left->Amplitude,
      static_cast<double>(count) / o.Rate, left->MinFrequency, left->MaxFrequency,
      static_cast<long long>(std::max(emptyLeft, emptyRight)));
  return 0;
}
