// The one-bit meter table and the two-channel spectrum analyser.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "meterfilter.h"
#include "sonvex.h"

TEST(MeterTable, GroupsMirrorAndEndsSumTheCoefficients) {
  const double fs = 2822400.0;
  const double fc = 0.9 * fs * 0.0078125;
  std::vector<double> table(64 * 256, 0.0);
  setMeterFirParam(fs, fc, 511, table.data());
  std::vector<double> c(512 + 8, 0.0);
  sonvex::designMeterCoefficients(fs, fc, 511, c.data());
  double total = 0;
  for (int g = 0; g < 64; ++g) {
    double sum = 0;
    for (int b = 0; b < 8; ++b) sum += c[size_t(8 * g + b)];
    total += sum;
    EXPECT_NEAR(table[size_t(256 * g)], -sum, 1e-15) << g;
    EXPECT_NEAR(table[size_t(256 * g + 255)], sum, 1e-15) << g;
    for (int k = 0; k < 256; ++k)
      EXPECT_EQ(table[size_t(256 * g + k)], -table[size_t(256 * g + 255 - k)]) << g << " " << k;
  }
  EXPECT_NEAR(total, 1.0, 1e-3);  // unity DC gain
  // The MSB meets the group's first coefficient.
  EXPECT_NEAR(table[0x80] - table[0x00], 2 * c[0], 1e-15);
  EXPECT_NEAR(table[256 + 0x01] - table[256], 2 * c[15], 1e-15);
}

TEST(MeterTable, FiltersOneBitDataToItsDensity) {
  const double fs = 2822400.0;
  std::vector<double> table(32 * 256);
  setMeterFirParam(fs, 0.9 * fs / 128, 255, table.data());
  // The windowed sinc is not renormalised: its DC gain is the coefficient sum
  // (a little under 1 for 255 taps at this narrow cut-off).
  std::vector<double> c(256 + 8, 0.0);
  sonvex::designMeterCoefficients(fs, 0.9 * fs / 128, 255, c.data());
  double gain = 0;
  for (double v : c) gain += v;
  EXPECT_GT(gain, 0.9);
  std::vector<uint8_t> ones(64, 0xFF), zeros(64, 0x00), idle(64, 0x96), threeQuarters(64, 0xEE);
  EXPECT_NEAR(sonvex::filterOneBit(table.data(), ones.data(), 32), gain, 1e-12);
  EXPECT_NEAR(sonvex::filterOneBit(table.data(), zeros.data(), 32), -gain, 1e-12);
  EXPECT_NEAR(sonvex::filterOneBit(table.data(), idle.data(), 32), 0.0, 2e-3);
  EXPECT_NEAR(sonvex::filterOneBit(table.data(), threeQuarters.data(), 32), 0.5 * gain, 2e-3);
  EXPECT_LT(setMeterFirParam(0.0, 1000.0, 255, table.data()), 0);
}

TEST(Spectrum, ConstantPeaksAtDcAndEqualInputsGiveEqualChannels) {
  const int n = 1024;
  ASSERT_EQ(initAnalyzingFFTparams(n, 48000), 0);
  std::vector<int32_t> l(n, 1 << 20), r(n, 1 << 20);
  std::vector<double> ml(n), mr(n);
  ASSERT_EQ(analyzeFFTspectrum(n, 10, ml.data(), mr.data(), l.data(), r.data()), 0);
  size_t peak = 0;
  for (size_t k = 0; k < size_t(n); ++k)
    if (ml[k] > ml[peak]) peak = k;
  EXPECT_EQ(peak, 0u);
  // Periodic Hann sums to N/2.
  EXPECT_NEAR(ml[0], double(1 << 20) * n / 2, 1e-3);
  EXPECT_NEAR(ml[1], double(1 << 20) * n / 4, 1e-3);
  EXPECT_LT(ml[5], 1e-3 * ml[0]);
  for (size_t k = 0; k < size_t(n); ++k) EXPECT_EQ(ml[k], mr[k]);
}

TEST(Spectrum, SineLandsInItsBinAndTheMirror) {
  const int n = 4096;
  ASSERT_EQ(initAnalyzingFFTparams(n, 48000), 0);
  std::vector<int32_t> l(n), r(n, 0);
  for (int j = 0; j < n; ++j)
    l[size_t(j)] = int32_t(std::lround(1e8 * std::sin(2 * M_PI * 100.0 * j / n)));
  std::vector<double> ml(n), mr(n);
  ASSERT_EQ(analyzeFFTspectrum2(n, 12, ml.data(), mr.data(), l.data(), r.data()), 0);
  EXPECT_NEAR(ml[100], 1e8 * n / 4, 1e8 * n * 1e-6);
  EXPECT_NEAR(ml[n - 100], ml[100], ml[100] * 1e-9);
  EXPECT_LT(ml[300], ml[100] * 1e-6);
  for (double v : mr) EXPECT_EQ(v, 0.0);
  EXPECT_LT(analyzeFFTspectrum(2048, 11, ml.data(), mr.data(), l.data(), r.data()), 0);
}
