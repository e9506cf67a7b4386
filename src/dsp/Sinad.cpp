#include "dsp/Sinad.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr int64_t MinSamples = 64;
// How far the frequency may be from the one given: a few per cent covers any rate correction.
constexpr double MaxOffset = 0.05;

// Reads count samples step apart as doubles, whatever their type.
template <typename T>
struct TSamples {
  const T* Data;
  int64_t Count;
  int64_t Step;
  double operator[](int64_t i) const { return static_cast<double>(Data[i * Step]); }
};

// cos and sin of w * (i - centre) for i = 0, 1, ...: a rotation, set right again every 1024
// steps so rounding cannot pile up over long recordings.
class TOscillator {
 public:
  TOscillator(double w, double centre) : W(w), Centre(centre), Step(std::polar(1.0, w)) { Sync(0); }
  void Next() {
    ++Index;
    if ((Index & 1023) == 0)
      Sync(Index);
    else
      Value *= Step;
  }
  double Cos() const { return Value.real(); }
  double Sin() const { return Value.imag(); }

 private:
  void Sync(int64_t i) { Value = std::polar(1.0, W * (static_cast<double>(i) - Centre)); }

  double W;
  double Centre;
  std::complex<double> Step;
  std::complex<double> Value;
  int64_t Index = 0;
};

// Solves the n x n system a x = b in place (partial pivoting); false when singular.
template <size_t N>
bool Solve(std::array<std::array<double, N>, N>& a, std::array<double, N>& b) {
  for (size_t col = 0; col < N; ++col) {
    size_t pivot = col;
    for (size_t r = col + 1; r < N; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (!(std::fabs(a[pivot][col]) > 1e-300)) return false;
    std::swap(a[pivot], a[col]);
    std::swap(b[pivot], b[col]);
    for (size_t r = col + 1; r < N; ++r) {
      const double f = a[r][col] / a[col][col];
      for (size_t c = col; c < N; ++c) a[r][c] -= f * a[col][c];
      b[r] -= f * b[col];
    }
  }
  for (size_t col = N; col-- > 0;) {
    for (size_t c = col + 1; c < N; ++c) b[col] -= a[col][c] * b[c];
    b[col] /= a[col][col];
  }
  return true;
}

struct TFit {
  double A = 0, B = 0, C = 0;  // A cos + B sin + C
  double W = 0;                // radians per sample
  bool Ok = false;
};

// Amplitudes and offset for a fixed frequency (the three-parameter fit).
template <typename T>
TFit FitAt(const TSamples<T>& x, double w) {
  const double centre = (x.Count - 1) / 2.0;
  std::array<std::array<double, 3>, 3> m{};
  std::array<double, 3> v{};
  TOscillator osc(w, centre);
  for (int64_t i = 0; i < x.Count; ++i, osc.Next()) {
    const double basis[3] = {osc.Cos(), osc.Sin(), 1.0};
    const double y = x[i];
    for (int r = 0; r < 3; ++r) {
      v[r] += basis[r] * y;
      for (int c = r; c < 3; ++c) m[r][c] += basis[r] * basis[c];
    }
  }
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < r; ++c) m[r][c] = m[c][r];
  TFit f;
  f.W = w;
  f.Ok = Solve(m, v);
  f.A = v[0];
  f.B = v[1];
  f.C = v[2];
  return f;
}

// One Gauss-Newton step of the four-parameter fit (amplitudes, offset and frequency). The time
// axis is scaled to -1..1 so the frequency column is of the same order as the others.
template <typename T>
TFit Refine(const TSamples<T>& x, const TFit& f) {
  const double centre = (x.Count - 1) / 2.0;
  const double half = std::max(centre, 1.0);
  std::array<std::array<double, 4>, 4> m{};
  std::array<double, 4> v{};
  TOscillator osc(f.W, centre);
  for (int64_t i = 0; i < x.Count; ++i, osc.Next()) {
    const double t = (static_cast<double>(i) - centre) / half;
    const double c = osc.Cos(), s = osc.Sin();
    const double basis[4] = {c, s, 1.0, t * (f.B * c - f.A * s)};
    const double y = x[i];
    for (int r = 0; r < 4; ++r) {
      v[r] += basis[r] * y;
      for (int k = r; k < 4; ++k) m[r][k] += basis[r] * basis[k];
    }
  }
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < r; ++k) m[r][k] = m[k][r];
  // The linearised model is A c + B s + C + dw t (B c - A s); v holds its least-squares solution
  // for (A, B, C, dw) with the present A and B in the last column.
  TFit next = f;
  if (!Solve(m, v)) {
    next.Ok = false;
    return next;
  }
  // Never jump further than half the fit's frequency resolution per step.
  const double limit = std::numbers::pi / 2;
  next.W = f.W + std::clamp(v[3], -limit, limit) / half;
  return next;
}

double Power(const TFit& f) {
  return (f.A * f.A + f.B * f.B) / 2;
}

// The frequency's phase slope: the input turned down by w, summed over segments, turns by the
// offset from one segment to the next. The sum's image at twice the frequency biases a short
// segment, so the estimate is repeated with segments eight times longer, each time closer.
template <typename T>
double Estimate(const TSamples<T>& x, double w0) {
  const int64_t longest = std::max<int64_t>(8, x.Count / 8);
  int64_t segment = std::clamp<int64_t>(
      static_cast<int64_t>(std::numbers::pi / (4 * MaxOffset * w0)), 8, longest);
  double w = w0;
  for (;;) {
    std::complex<double> turn = 0, previous = 0;
    bool havePrevious = false;
    TOscillator osc(w, 0);
    for (int64_t start = 0; start + segment <= x.Count; start += segment) {
      std::complex<double> sum = 0;
      for (int64_t i = start; i < start + segment; ++i, osc.Next())
        sum += x[i] * std::complex<double>(osc.Cos(), -osc.Sin());
      if (havePrevious) turn += sum * std::conj(previous);
      previous = sum;
      havePrevious = true;
    }
    if (std::abs(turn) > 0) w += std::arg(turn) / static_cast<double>(segment);
    if (segment >= longest) return w;
    segment = std::min(segment * 8, longest);
  }
}

template <typename T>
std::optional<TSinad> Measure(const TSamples<T>& x, double rate, double frequency) {
  if (!(rate > 0) || !(frequency > 0) || frequency >= rate / 2 || x.Count < MinSamples ||
      x.Step < 1 || x.Count < 2 * rate / frequency)
    return std::nullopt;
  const double w0 = 2 * std::numbers::pi * frequency / rate;
  const double estimate = Estimate(x, w0);

  // The fitted power peaks at the true frequency, within a lobe as wide as the resolution: look
  // around the estimate for the best start, then refine.
  const double resolution = 2 * std::numbers::pi / static_cast<double>(x.Count);
  TFit best;
  for (int k = -6; k <= 6; ++k) {
    const double w = estimate + k * resolution / 4;
    if (w <= 0 || w >= std::numbers::pi) continue;
    const TFit f = FitAt(x, w);
    if (f.Ok && (!best.Ok || Power(f) > Power(best))) best = f;
  }
  if (!best.Ok) return std::nullopt;
  for (int i = 0; i < 30; ++i) {
    const TFit next = Refine(x, best);
    if (!next.Ok || next.W <= 0 || next.W >= std::numbers::pi) break;
    const double moved = std::fabs(next.W - best.W);
    best = FitAt(x, next.W);
    if (!best.Ok) return std::nullopt;
    if (moved < resolution * 1e-9) break;
  }
  if (!(Power(best) > 0)) return std::nullopt;

  double residual = 0;
  TOscillator osc(best.W, (x.Count - 1) / 2.0);
  for (int64_t i = 0; i < x.Count; ++i, osc.Next()) {
    const double e = x[i] - (best.A * osc.Cos() + best.B * osc.Sin() + best.C);
    residual += e * e;
  }
  residual /= static_cast<double>(x.Count);
  TSinad r;
  r.Db = residual > 0 ? 10 * std::log10(Power(best) / residual)
                      : std::numeric_limits<double>::infinity();
  r.Frequency = best.W * rate / (2 * std::numbers::pi);
  r.Amplitude = std::sqrt(best.A * best.A + best.B * best.B);
  r.Offset = best.C;
  r.MinFrequency = r.MaxFrequency = r.Frequency;
  return r;
}

}  // namespace

std::optional<TSinad> MeasureSinad(const double* samples, int64_t count, int64_t step, double rate,
                                   double frequency) {
  if (!samples) return std::nullopt;
  return Measure(TSamples<double>{samples, count, step}, rate, frequency);
}

std::optional<TSinad> MeasureSinad(const int16_t* samples, int64_t count, int64_t step, double rate,
                                   double frequency) {
  if (!samples) return std::nullopt;
  return Measure(TSamples<int16_t>{samples, count, step}, rate, frequency);
}

void TSinadPowers::Add(const TSinad& m, int64_t frames) {
  const double power = m.Amplitude * m.Amplitude / 2 * static_cast<double>(frames);
  Signal += power;
  if (!std::isinf(m.Db)) Noise += power / std::pow(10.0, m.Db / 10);
}

std::optional<double> TSinadPowers::Db() const {
  if (!(Noise > 0)) return std::nullopt;
  return 10 * std::log10(Signal / Noise);
}

std::optional<TSinad> MeasureSinadWindowed(const int16_t* samples, int64_t count, int64_t step,
                                           double rate, double frequency, double windowSeconds,
                                           int64_t* emptyWindows) {
  if (emptyWindows) *emptyWindows = 0;
  if (!samples || !(windowSeconds > 0) || !(rate > 0)) return std::nullopt;
  const int64_t window = static_cast<int64_t>(windowSeconds * rate);
  if (window < 1 || count < window) return MeasureSinad(samples, count, step, rate, frequency);
  TSinadPowers powers;
  double amplitude = 0;
  int64_t measured = 0;  // samples in windows with a tone
  double minFrequency = std::numeric_limits<double>::infinity(), maxFrequency = -minFrequency;
  std::optional<TSinad> last;
  for (int64_t start = 0; start < count;) {
    int64_t n = std::min(window, count - start);
    if (count - start - n < window / 2) n = count - start;
    const auto fit = MeasureSinad(samples + start * step, n, step, rate, frequency);
    if (!fit) {
      if (!emptyWindows) return std::nullopt;
      ++*emptyWindows;
      start += n;
      continue;
    }
    last = fit;
    measured += n;
    powers.Add(*last, n);
    amplitude += last->Amplitude * static_cast<double>(n);
    minFrequency = std::min(minFrequency, last->Frequency);
    maxFrequency = std::max(maxFrequency, last->Frequency);
    start += n;
  }
  if (!last) return std::nullopt;
  TSinad r = *last;
  r.Db = powers.Db().value_or(std::numeric_limits<double>::infinity());
  r.Amplitude = amplitude / static_cast<double>(measured);
  r.MinFrequency = minFrequency;
  r.MaxFrequency = maxFrequency;
  return r;
}
