#include "rateconv_signals.h"

#include <cmath>

#include "fft.h"

namespace rcsupport {

namespace {
constexpr double kPi = 3.14159265358979323846;

// Solves the 3x3 system a x = b by Cramer's rule (well conditioned here).
void solve3(const double a[3][3], const double b[3], double x[3]) {
  const auto det = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double d = det(a);
  for (int c = 0; c < 3; ++c) {
    double m[3][3];
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) m[r][k] = k == c ? b[r] : a[r][k];
    x[c] = det(m) / d;
  }
}
}  // namespace

std::vector<double> sinePairs(double freq, double rate, size_t frames, double amplitude,
                              double phase) {
  std::vector<double> v(2 * frames);
  for (size_t i = 0; i < frames; ++i) {
    const double s = amplitude * std::sin(2.0 * kPi * freq * double(i) / rate + phase);
    v[2 * i] = v[2 * i + 1] = s;
  }
  return v;
}

namespace {
// Weighted least squares; a null weight array means equal weights.
SineFit fitSineWeighted(const double* pairs, size_t first, size_t count, int lane, double freq,
                        double rate, const double* weight);
}  // namespace

SineFit fitSine(const double* pairs, size_t first, size_t count, int lane, double freq,
                double rate) {
  return fitSineWeighted(pairs, first, count, lane, freq, rate, nullptr);
}

namespace {
SineFit fitSineWeighted(const double* pairs, size_t first, size_t count, int lane, double freq,
                        double rate, const double* weight) {
  double a[3][3] = {}, b[3] = {};
  const double w = 2.0 * kPi * freq / rate;
  for (size_t i = 0; i < count; ++i) {
    const double c = std::cos(w * double(i)), s = std::sin(w * double(i));
    const double basis[3] = {1.0, c, s};
    const double y = pairs[2 * (first + i) + lane];
    const double g = weight ? weight[i] : 1.0;
    for (int r = 0; r < 3; ++r) {
      b[r] += g * basis[r] * y;
      for (int k = 0; k < 3; ++k) a[r][k] += g * basis[r] * basis[k];
    }
  }
  double x[3];
  solve3(a, b, x);
  double res = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double e = pairs[2 * (first + i) + lane] - x[0] - x[1] * std::cos(w * double(i)) -
                     x[2] * std::sin(w * double(i));
    res += e * e;
  }
  SineFit f;
  f.dc = x[0];
  f.amplitude = std::hypot(x[1], x[2]);
  f.phase = std::atan2(x[1], x[2]);  // a cos + b sin = A sin(. + phase)
  f.residualPower = res / double(count);
  return f;
}
}  // namespace

double estimateFrequency(const double* pairs, size_t first, size_t count, int lane, double nominal,
                         double rate) {
  const size_t seg = count / 4;
  const size_t span = count - seg;
  const SineFit f0 = fitSine(pairs, first, seg, lane, nominal, rate);
  const SineFit f1 = fitSine(pairs, first + span, seg, lane, nominal, rate);
  // Each fit's phase is taken at its own first sample; beyond the nominal
  // advance over the span, the step is 2 pi (f - nominal) span / rate.
  const double nominalAdvance = 2.0 * kPi * nominal * double(span) / rate;
  const double d = std::remainder(f1.phase - f0.phase - nominalAdvance, 2.0 * kPi);
  return nominal + d * rate / (2.0 * kPi * double(span));
}

double inBandSnrDb(const double* pairs, size_t first, uint32_t log2Count, int lane, double freq,
                   double rate, double loHz, double hiHz) {
  const size_t n = size_t(1) << log2Count;
  // Seven-term Blackman-Harris window (side lobes near -180 dB): one-bit
  // streams carry strong noise above the band, which a shallower window, or
  // an unweighted sine fit, would leak into it.
  static const double kWin[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                 0.06592544638803, 0.01081174209837, 0.00077658482522,
                                 0.00001388721735};
  std::vector<double> win(n);
  double s2 = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double t = 2.0 * kPi * double(i) / double(n);
    double v = 0.0;
    for (int j = 0; j < 7; ++j) v += (j & 1 ? -kWin[j] : kWin[j]) * std::cos(j * t);
    win[i] = v;
    s2 += v * v;
  }
  const SineFit fit = fitSineWeighted(pairs, first, n, lane, freq, rate, win.data());
  const double w0 = 2.0 * kPi * freq / rate;
  std::vector<double> buf(2 * n, 0.0);
  const double x1 = fit.amplitude * std::sin(fit.phase), x2 = fit.amplitude * std::cos(fit.phase);
  for (size_t i = 0; i < n; ++i) {
    const double e = pairs[2 * (first + i) + lane] - fit.dc - x1 * std::cos(w0 * double(i)) -
                     x2 * std::sin(w0 * double(i));
    buf[2 * i] = e * win[i];
  }
  sonvex::Fft fft(log2Count);
  fft.forward(buf.data());
  const size_t k0 = size_t(std::ceil(loHz * double(n) / rate));
  const size_t k1 = size_t(std::floor(hiHz * double(n) / rate));
  double p = 0.0;
  for (size_t k = k0; k <= k1 && k < n / 2; ++k)
    p += buf[2 * k] * buf[2 * k] + buf[2 * k + 1] * buf[2 * k + 1];
  const double noise = 2.0 * p / (double(n) * s2);
  const double signal = fit.amplitude * fit.amplitude / 2.0;
  return 10.0 * std::log10(signal / noise);
}

std::vector<double> referenceResample(const std::vector<double>& inPairs,
                                      const std::vector<double>& h, uint32_t up, uint32_t down,
                                      size_t outFrames) {
  const size_t inFrames = inPairs.size() / 2;
  std::vector<double> out(2 * outFrames, 0.0);
  for (size_t k = 0; k < outFrames; ++k) {
    // Only taps that meet an input frame (not an inserted zero) contribute.
    const uint64_t first = (up - (uint64_t(k) * down) % up) % up;
    for (size_t t = size_t(first); t < h.size(); t += up) {
      const uint64_t pos = uint64_t(k) * down + t;
      const uint64_t j = pos / up;
      if (j >= inFrames) continue;
      out[2 * k] += h[t] * inPairs[2 * j];
      out[2 * k + 1] += h[t] * inPairs[2 * j + 1];
    }
  }
  return out;
}

std::vector<uint8_t> modulateOneBit(const std::vector<double>& samples) {
  // Error-feedback form: y = u + (1 - z^-1)^2 e.
  std::vector<uint8_t> out((samples.size() + 7) / 8, 0);
  double e1 = 0.0, e2 = 0.0;
  for (size_t n = 0; n < samples.size(); ++n) {
    const double w = samples[n] - 2.0 * e1 + e2;
    const double y = w >= 0.0 ? 1.0 : -1.0;
    e2 = e1;
    e1 = y - w;
    if (y > 0) out[n >> 3] |= uint8_t(0x80u >> (n & 7));
  }
  return out;
}

double quantise(double x, int bits) {
  const double steps = std::ldexp(1.0, bits - 1);
  double v = std::nearbyint(x * steps);
  if (v > steps - 1) v = steps - 1;
  if (v < -steps) v = -steps;
  return v / steps;
}

}  // namespace rcsupport
