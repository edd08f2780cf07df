// Byte lookup tables for filtering one-bit data eight samples at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvex {

// Number of doubles a table for `taps` coefficients needs: (taps / 8 + 1) groups of 256.
inline size_t meterTableSize(int taps) { return taps < 0 ? 0 : size_t(taps / 8 + 1) * 256; }

// Blackman-windowed sinc low-pass, 2 * (taps / 2) + 1 coefficients at unity gain,
// written to coefficients[0 .. 2 * (taps / 2)].
void designMeterCoefficients(double sampleRate, double cutoffHz, int taps, double* coefficients);

// table[256 g + k] = sum_b s_b * c[8 g + b], s_b = +1 when bit (7 - b) of k is set, else -1;
// coefficients past the filter's length count as 0. `table` holds meterTableSize(taps) doubles.
void buildMeterTable(double sampleRate, double cutoffHz, int taps, double* table);

// Filters one-bit data (first sample in the MSB) at a byte position:
// sum over g < groups of table[256 g + bytes[g]].
inline double filterOneBit(const double* table, const uint8_t* bytes, int groups) {
  // Four partial sums keep the lookups independent of each other.
  double a = 0, b = 0, c = 0, d = 0;
  const size_t n = groups > 0 ? size_t(groups) : 0;
  size_t g = 0;
  for (; g + 4 <= n; g += 4) {
    const double* t = table + 256 * g;
    a += t[bytes[g]];
    b += t[256 + bytes[g + 1]];
    c += t[512 + bytes[g + 2]];
    d += t[768 + bytes[g + 3]];
  }
  for (; g < n; ++g) a += table[256 * g + bytes[g]];
  return (a + b) + (c + d);
}

}  // namespace sonvex
