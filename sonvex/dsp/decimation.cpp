// Decimation exports: the shared low-pass design, one-frame FIR evaluation on
// stereo pairs and one-bit expansion to 32-bit integers.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "guard.h"
#include "rateconv.h"
#include "sonvex.h"

namespace {
// Undoes the 2^54 DSD output scale and the factor 2 of one-bit samples.
constexpr double kFirResultScale = 2.7755575615628914e-17;  // 2^-55
constexpr int32_t kBitValue[2] = {-2147483647, 2147483647};
constexpr int32_t kFailed = -1;  // a null pointer, a bad argument or no memory
}  // namespace

SONVEX_EXTERN_C SONVEX_API int32_t setDecimationFirParam(double sampleRate, double cutoffHz,
                                                         int32_t taps, double* coefficientPairs,
                                                         double gain) {
  return sonvex::guarded(kFailed, kFailed, [&] {
    return sonvex::designLowpassPairs(sampleRate, cutoffHz, taps, gain, 1, coefficientPairs)
               ? kSonvexOk
               : kFailed;
  });
}

SONVEX_EXTERN_C SONVEX_API int32_t gAudioDecimationFir(double* resultPair,
                                                       const double* coefficientPairs,
                                                       const double* samplePairs, uint32_t taps) {
  if (!resultPair) return kFailed;
  const uint32_t groups = uint32_t((uint64_t(taps) + 3) / 4);
  if (groups && (!coefficientPairs || !samplePairs)) return kFailed;
  const double* c = coefficientPairs;
  const double* s = samplePairs;
  double accL = 0.0, accR = 0.0;
  for (uint32_t q = 0; q < groups; ++q, c += 8, s += 8) {
    // Same grouping as the unrolled two-lane loop: (3 + 2) + (1 + 0).
    accL += (s[6] * c[6] + s[4] * c[4]) + (s[2] * c[2] + s[0] * c[0]);
    accR += (s[7] * c[7] + s[5] * c[5]) + (s[3] * c[3] + s[1] * c[1]);
  }
  resultPair[0] = accL * kFirResultScale;
  resultPair[1] = accR * kFirResultScale;
  return 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t decimationDsdData(int32_t count, int32_t /*unused*/,
                                                     int32_t* outA, int32_t* outB,
                                                     const uint8_t* bytesA, const uint8_t* bytesB) {
  if (count <= 0) return 0;
  if (!outA || !outB || !bytesA || !bytesB) return kFailed;
  const size_t bytes = (size_t(count) + 7) / 8;
  std::unique_ptr<int32_t[]> scratch(new (std::nothrow) int32_t[2 * 8 * bytes]);
  if (!scratch) return kFailed;
  int32_t* a = scratch.get();
  int32_t* b = a + 8 * bytes;
  for (size_t j = 0; j < bytes; ++j) {
    for (int k = 0; k < 8; ++k) {
      a[8 * j + k] = kBitValue[(bytesA[j] >> (7 - k)) & 1];
      b[8 * j + k] = kBitValue[(bytesB[j] >> (7 - k)) & 1];
    }
  }
  std::memcpy(outA, a, sizeof(int32_t) * size_t(count));
  std::memcpy(outB, b, sizeof(int32_t) * size_t(count));
  return 0;
}
