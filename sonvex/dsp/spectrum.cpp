// Two-channel magnitude spectra with a periodic Hann window. The tables are
// library-wide: set-up must not run while an analysis runs.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fft.h"
#include "guard.h"
#include "sonvex.h"

namespace sonvex {
namespace {

constexpr int kMaxFftSize = 32768;
// Results of the exports.
constexpr int32_t kBadSize = -1;       // N outside the contract, or no memory for its tables
constexpr int32_t kNoWorkArray = -65;  // the work array could not be allocated
constexpr int32_t kNoSetUp = -68;      // N does not match the set-up

struct AnalyserTables {
  int size = 0;
  std::unique_ptr<Fft> fft;
  std::vector<double> window;
};

AnalyserTables& tables() {
  static AnalyserTables t;
  return t;
}

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

double* allocComplex(int n) {
  return static_cast<double*>(std::aligned_alloc(16, sizeof(double) * 2 * size_t(n)));
}

// Windowed samples of one channel as complex input, transformed, as magnitudes.
void channelSpectrum(const AnalyserTables& t, const int32_t* samples, double* work,
                     double* magnitude) {
  for (int j = 0; j < t.size; ++j) {
    work[2 * j] = double(samples[j]) * t.window[size_t(j)];
    work[2 * j + 1] = 0.0;
  }
  t.fft->forward(work);
  for (int j = 0; j < t.size; ++j)
    magnitude[j] = std::sqrt(work[2 * j] * work[2 * j] + work[2 * j + 1] * work[2 * j + 1]);
}

}  // namespace
}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t initAnalyzingFFTparams(int32_t fftSize, int32_t /*sampleRate*/) {
  using namespace sonvex;
  if (fftSize < 2 || fftSize > kMaxFftSize || (fftSize & (fftSize - 1))) return kBadSize;
  return guarded(kBadSize, kBadSize, [&] {
    uint32_t bits = 0;
    while ((1 << bits) < fftSize) ++bits;
    const double pi = 3.14159265358979323846;
    // Built aside and swapped in, so running out of memory leaves the old
    // set-up whole.
    auto fft = std::make_unique<Fft>(bits);
    std::vector<double> window(static_cast<size_t>(fftSize));
    for (int i = 0; i < fftSize; ++i)
      window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * pi * i / fftSize);
    AnalyserTables& t = tables();
    t.fft = std::move(fft);
    t.window.swap(window);
    t.size = fftSize;
    return int32_t(kSonvexOk);
  });
}

SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum(int32_t fftSize, int32_t /*log2Size*/,
                                                      double* magnitudeLeft, double* magnitudeRight,
                                                      const int32_t* samplesLeft,
                                                      const int32_t* samplesRight) {
  using namespace sonvex;
  return guarded(kNoWorkArray, kNoSetUp, [&] {
    const AnalyserTables& t = tables();
    // One in-place work array of N complex values serves both channels in turn.
    std::unique_ptr<double, FreeDeleter> work(allocComplex(fftSize > 0 ? fftSize : 1));
    if (!work) return kNoWorkArray;
    // An analysis that does not match the set-up would index past the tables.
    if (!t.fft || fftSize != t.size || !magnitudeLeft || !magnitudeRight || !samplesLeft ||
        !samplesRight)
      return kNoSetUp;
    channelSpectrum(t, samplesLeft, work.get(), magnitudeLeft);
    channelSpectrum(t, samplesRight, work.get(), magnitudeRight);
    return int32_t(kSonvexOk);
  });
}

SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum2(int32_t fftSize, int32_t log2Size,
                                                       double* magnitudeLeft,
                                                       double* magnitudeRight,
                                                       const int32_t* samplesLeft,
                                                       const int32_t* samplesRight) {
  return analyzeFFTspectrum(fftSize, log2Size, magnitudeLeft, magnitudeRight, samplesLeft,
                            samplesRight);
}
