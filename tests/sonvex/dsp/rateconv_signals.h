// Test signals and measurements for the rate-conversion tests: sine fits,
// THD+N and in-band SNR, a naive reference resampler and a small one-bit
// modulator. Test-only code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rcsupport {

// Stereo frames (interleaved pairs) of a*sin(2 pi f n / rate + phase) on both lanes.
std::vector<double> sinePairs(double freq, double rate, size_t frames, double amplitude,
                              double phase = 0.0);

// Least-squares fit of dc + a cos + b sin at a known frequency over lane
// `lane` of pairs [first, first + count).
struct SineFit {
  double amplitude;
  double phase;  // radians, of sin at sample `first`
  double dc;
  double residualPower;  // mean square of the residual
};
SineFit fitSine(const double* pairs, size_t first, size_t count, int lane, double freq,
                double rate);

// Frequency estimated from the phase advance of two fits a span apart.
double estimateFrequency(const double* pairs, size_t first, size_t count, int lane, double nominal,
                         double rate);

// Signal-to-noise ratio in dB of lane `lane` over [first, first + 2^log2Count):
// sine power over the residual's power between loHz and hiHz (windowed FFT of
// the residual after the fit).
double inBandSnrDb(const double* pairs, size_t first, uint32_t log2Count, int lane, double freq,
                   double rate, double loHz, double hiHz);

// Naive zero-stuffing reference: y[k] = sum_t h[t] v[k M + t].
std::vector<double> referenceResample(const std::vector<double>& inPairs,
                                      const std::vector<double>& h, uint32_t up, uint32_t down,
                                      size_t outFrames);

// Second-order one-bit modulator (noise transfer (1 - z^-1)^2) over one
// channel of samples in +-1 units; returns bytes, first sample in the MSB.
std::vector<uint8_t> modulateOneBit(const std::vector<double>& samples);

// Rounds to `bits`-bit integer steps (full scale +-1), clamped.
double quantise(double x, int bits);

}  // namespace rcsupport
