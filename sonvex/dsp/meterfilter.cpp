#include "meterfilter.h"

#include <cmath>
#include <vector>

#include "guard.h"
#include "sonvex.h"

namespace sonvex {

void designMeterCoefficients(double sampleRate, double cutoffHz, int taps, double* c) {
  const int half = taps / 2;
  const int n = 2 * half + 1;
  const double pi = 3.14159265358979323846;
  for (int i = -half; i <= half; ++i) {
    double v;
    if (i == 0) {
      v = 2.0 * cutoffHz / sampleRate;
    } else {
      const double w = 0.42 + 0.5 * std::cos(2.0 * pi * i / n) + 0.08 * std::cos(4.0 * pi * i / n);
      v = w * std::sin(2.0 * pi * cutoffHz * i / sampleRate) / (pi * i);
    }
    c[i + half] = v;
  }
}

void buildMeterTable(double sampleRate, double cutoffHz, int taps, double* table) {
  if (taps < 1 || !table) return;
  const int groups = taps / 8 + 1;
  // Zero tail: coefficients beyond the filter's length count as 0.
  std::vector<double> c(size_t(groups) * 8 + 8, 0.0);
  designMeterCoefficients(sampleRate, cutoffHz, taps, c.data());
  for (int g = 0; g < groups; ++g) {
    const double* cg = &c[size_t(g) * 8];
    double* tg = table + size_t(g) * 256;
    for (int k = 0; k < 256; ++k) {
      double s = 0;
      for (int b = 0; b < 8; ++b) s += ((k >> (7 - b)) & 1) ? cg[b] : -cg[b];
      tg[k] = s;
    }
  }
}

}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t setMeterFirParam(double sampleRate, double cutoffHz,
                                                    int32_t taps, double* table) {
  constexpr int32_t kFailed = -1;  // a bad argument or no memory; the table untouched
  // A zero rate would divide by zero in the design; leave the table alone.
  if (!(sampleRate > 0.0) || taps < 1 || !table) return kFailed;
  return sonvex::guarded(kFailed, kFailed, [&] {
    sonvex::buildMeterTable(sampleRate, cutoffHz, taps, table);
    return int32_t(kSonvexOk);
  });
}
