// Two-channel magnitude spectra with a periodic Hann window. The tables are
// library-wide: set-up must not run while an analysis runs.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "sonvex.h"

namespace sonvex {
namespace {

constexpr int kMaxFftSize = 32768;

struct AnalyserTables {
  int size = 0;
  int bits = 0;
  std::vector<double> cosTable, sinTable, window;
  std::vector<uint32_t> reversed;
};

AnalyserTables& tables() {
  static AnalyserTables t;
  return t;
}

struct Lane2 {
  double re[2];
  double im[2];
};

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

Lane2* allocPairs(int n) {
  return static_cast<Lane2*>(std::aligned_alloc(16, sizeof(Lane2) * size_t(n)));
}

// In-place iterative radix-2 transform of both lanes at once, unnormalised,
// forward sign (e^{-i...}).
void fftTwoLanes(Lane2* x, const AnalyserTables& t) {
  const int n = t.size;
  for (int i = 0; i < n; ++i) {
    const int j = int(t.reversed[size_t(i)]);
    if (j > i) std::swap(x[i], x[j]);
  }
  for (int len = 2; len <= n; len <<= 1) {
    const int half = len / 2;
    const int step = n / len;
    for (int start = 0; start < n; start += len) {
      for (int k = 0; k < half; ++k) {
        const double wr = t.cosTable[size_t(k * step)];
        const double wi = -t.sinTable[size_t(k * step)];
        Lane2& a = x[start + k];
        Lane2& b = x[start + k + half];
        for (int l = 0; l < 2; ++l) {
          const double tr = b.re[l] * wr - b.im[l] * wi;
          const double ti = b.re[l] * wi + b.im[l] * wr;
          b.re[l] = a.re[l] - tr;
          b.im[l] = a.im[l] - ti;
          a.re[l] += tr;
          a.im[l] += ti;
        }
      }
    }
  }
}

}  // namespace
}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t initAnalyzingFFTparams(int32_t fftSize, int32_t /*sampleRate*/) {
  using namespace sonvex;
  if (fftSize < 2 || fftSize > kMaxFftSize || (fftSize & (fftSize - 1))) return -1;
  AnalyserTables& t = tables();
  const double pi = 3.14159265358979323846;
  t.size = fftSize;
  t.bits = 0;
  while ((1 << t.bits) < fftSize) ++t.bits;
  t.cosTable.resize(size_t(fftSize));
  t.sinTable.resize(size_t(fftSize));
  t.window.resize(size_t(fftSize));
  t.reversed.resize(size_t(fftSize));
  for (int i = 0; i < fftSize; ++i) {
    t.cosTable[size_t(i)] = std::cos(2 * pi * i / fftSize);
    t.sinTable[size_t(i)] = std::sin(2 * pi * i / fftSize);
    t.window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * pi * i / fftSize);
    uint32_t r = 0;
    for (int b = 0; b < t.bits; ++b)
      if (i & (1 << b)) r |= 1u << (t.bits - 1 - b);
    t.reversed[size_t(i)] = r;
  }
  return 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum(int32_t fftSize, int32_t /*log2Size*/,
                                                      double* magnitudeLeft, double* magnitudeRight,
                                                      const int32_t* samplesLeft,
                                                      const int32_t* samplesRight) {
  using namespace sonvex;
  const AnalyserTables& t = tables();
  // One in-place work array of N two-lane pairs serves both channels.
  std::unique_ptr<Lane2, FreeDeleter> work(allocPairs(fftSize > 0 ? fftSize : 1));
  if (!work) return -65;
  // An analysis that does not match the set-up would index past the tables.
  if (fftSize != t.size || !magnitudeLeft || !magnitudeRight || !samplesLeft || !samplesRight)
    return -68;
  Lane2* x = work.get();
  for (int j = 0; j < fftSize; ++j) {
    const double w = t.window[size_t(j)];
    x[j].re[0] = double(samplesLeft[j]) * w;
    x[j].re[1] = double(samplesRight[j]) * w;
    x[j].im[0] = x[j].im[1] = 0.0;
  }
  fftTwoLanes(x, t);
  for (int j = 0; j < fftSize; ++j) {
    magnitudeLeft[j] = std::sqrt(x[j].re[0] * x[j].re[0] + x[j].im[0] * x[j].im[0]);
    magnitudeRight[j] = std::sqrt(x[j].re[1] * x[j].re[1] + x[j].im[1] * x[j].im[1]);
  }
  return 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum2(int32_t fftSize, int32_t log2Size,
                                                       double* magnitudeLeft,
                                                       double* magnitudeRight,
                                                       const int32_t* samplesLeft,
                                                       const int32_t* samplesRight) {
  return analyzeFFTspectrum(fftSize, log2Size, magnitudeLeft, magnitudeRight, samplesLeft,
                            samplesRight);
}
