#pragma once

#include <cstdint>
#include <optional>

// The fitted sine of a recording and how much else the recording holds.
struct TSinad {
  double Db = 0;         // signal to noise and distortion: fitted sine power over residual power
  double Frequency = 0;  // Hz, fitted
  double Amplitude = 0;  // peak, in the samples' units
  double Offset = 0;     // DC, in the samples' units
  // The lowest and the highest frequency fitted: of the windows when fitted in windows, else
  // the one frequency.
  double MinFrequency = 0;
  double MaxFrequency = 0;
};

// The SINAD of several measured stretches together: the sine's power and the residual's, each
// summed over the stretches' frames.
struct TSinadPowers {
  double Signal = 0;
  double Noise = 0;
  void Add(const TSinad& m, int64_t frames);
  std::optional<double> Db() const;  // nothing before any stretch with a residual
};

// Measures a recorded sine of about the given frequency: fits a sine with offset and frequency by
// least squares (starting from the given frequency, which may be off by a few per cent, as after a
// rate correction) and compares its power with that of what is left. Nothing when there are too
// few samples (under 64 or under two periods), the rate or frequency make no sense, or no sine is
// found. samples are count values step apart (step 2 reads one channel of stereo frames).
std::optional<TSinad> MeasureSinad(const double* samples, int64_t count, int64_t step, double rate,
                                   double frequency);
std::optional<TSinad> MeasureSinad(const int16_t* samples, int64_t count, int64_t step, double rate,
                                   double frequency);

// The same over consecutive windows of windowSeconds, each fitted on its own, the powers summed:
// follows a frequency that moves slowly (a correction steered while recording). Db and Amplitude
// are over all windows; Frequency and Offset are those of the last window, MinFrequency and
// MaxFrequency the range over the windows (how far the pitch moved). A last window shorter
// than half the others joins the one before. A window without a tone (silence) gives nothing,
// unless emptyWindows is given: then such windows are left out and counted there (a recording
// with dropouts still has a figure for the audio it holds), and nothing comes only when no
// window has a tone.
std::optional<TSinad> MeasureSinadWindowed(const int16_t* samples, int64_t count, int64_t step,
                                           double rate, double frequency, double windowSeconds,
                                           int64_t* emptyWindows = nullptr);
