// Rate-conversion engines against a naive reference, across block splits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "fft.h"
#include "rateconv.h"
#include "rateconv_signals.h"

using namespace sonvex;
using rcsupport::referenceResample;

namespace {

std::vector<double> noisePairs(size_t frames, uint32_t seed) {
  std::minstd_rand rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(2 * frames);
  for (auto& x : v) x = d(rng);
  return v;
}

// Pushes the input in random pieces and pulls in random pieces; returns
// every output frame pulled.
std::vector<double> runRandomBlocks(Resampler& r, const std::vector<double>& in, uint32_t seed) {
  std::minstd_rand rng(seed);
  std::vector<double> out;
  std::vector<double> tmp;
  size_t at = 0;
  const size_t frames = in.size() / 2;
  while (at < frames) {
    const size_t n = std::min<size_t>(frames - at, 1 + rng() % 700);
    r.push(in.data() + 2 * at, n);
    at += n;
    while (r.available()) {
      const size_t want = 1 + rng() % 500;
      tmp.resize(2 * want);
      const size_t got = r.pull(tmp.data(), want);
      out.insert(out.end(), tmp.begin(), tmp.begin() + 2 * got);
      if (got < want) break;
    }
  }
  return out;
}

std::vector<double> runWhole(Resampler& r, const std::vector<double>& in) {
  r.push(in.data(), in.size() / 2);
  std::vector<double> out(2 * r.available());
  out.resize(2 * r.pull(out.data(), out.size() / 2));
  return out;
}

double maxAbsDiff(const std::vector<double>& a, const std::vector<double>& b, size_t n) {
  double m = 0.0;
  for (size_t i = 0; i < n; ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

}  // namespace

TEST(PrototypeDesign, LayoutCentreSymmetryAndPadding) {
  const double fs = 2822400.0, fc = 44100.0;
  std::vector<double> c(2 * (511 + 17), 7.0);
  ASSERT_TRUE(designLowpassPairs(fs, fc, 511, 1.0, 1, c.data()));
  EXPECT_DOUBLE_EQ(c[2 * 255], 2.0 * fc / fs);
  for (int i = 0; i < 511; ++i) {
    EXPECT_EQ(c[2 * i], c[2 * i + 1]) << i;
    EXPECT_EQ(c[2 * i], c[2 * (510 - i)]) << i;
  }
  for (int i = 511; i < 511 + 16; ++i) EXPECT_EQ(c[2 * i], 0.0) << i;
  EXPECT_EQ(c[2 * 527], 7.0);  // nothing written past the padding

  // Even counts write one pair more than asked for.
  EXPECT_EQ(designLength(512), 513);
  EXPECT_EQ(designLowpass(fs, fc, 512, 1.0, 1).size(), 513u);
  // Window edge: w(N/2) is about 0.00006 of the unwindowed sinc.
  const std::vector<double> h = designLowpass(fs, fc, 1023, 1.0, 1);
  const double m = 511, sinc = std::sin(2 * M_PI * fc * m / fs) / (M_PI * m);
  EXPECT_GT(h[0] / sinc, 0.0);
  EXPECT_LT(h[0] / sinc, 1e-3);

  EXPECT_FALSE(designLowpassPairs(0.0, fc, 511, 1.0, 1, c.data()));
  EXPECT_FALSE(designLowpassPairs(fs, NAN, 511, 1.0, 1, c.data()));
  EXPECT_FALSE(designLowpassPairs(fs, fc, 511, 1.0, 1, nullptr));
  EXPECT_TRUE(designLowpass(fs, fc, -3, 1.0, 1).empty());
}

TEST(PrototypeDesign, DcGainIsFactorTimesGain) {
  for (int L : {1, 147, 160}) {
    const std::vector<double> h = designLowpass(7056000.0, 19845.0, 4095, 1.0, L);
    double sum = 0.0;
    for (double v : h) sum += v;
    EXPECT_NEAR(sum / L, 1.0, 1e-6) << L;
    EXPECT_NEAR(prototypeResponse(h.data(), h.size(), 7056000.0, 0.0) / L, 1.0, 1e-6);
  }
  // Output scale for one-bit output rides on the gain.
  const double dsdScale = 18014398509481984.0;
  const std::vector<double> g = designLowpass(5644800.0, 88200.0, 255, dsdScale, 2);
  double sum = 0.0;
  for (double v : g) sum += v;
  EXPECT_NEAR(sum / (2 * dsdScale), 1.0, 1e-4);
}

TEST(FirLengthRule, RatePairsOfTheTable) {
  // 44.1 -> 48 kHz: n = max(20 * 160, 8 * 7056000 / 19845) = 3200.
  EXPECT_EQ(firLengthRule(0, 19845.0, 7056000, 160, 0, 0), 4095);
  EXPECT_EQ(firLengthRule(1, 19845.0, 7056000, 147, 0, 0), 4095);
  // 96 -> 44.1 kHz: 8 * 14112000 / 19845 = 5688.
  EXPECT_EQ(firLengthRule(0, 19845.0, 14112000, 147, 0, 0), 8191);
  // DSD64 -> 176.4 kHz, PCM output: 512.
  EXPECT_EQ(firLengthRule(0, 44100.0, 2822400, 1, 0, 2), 1023);
  // DSD64 -> DSD128, both one-bit: max(10, 128).
  EXPECT_EQ(firLengthRule(0, 88200.0, 5644800, 2, 3, 2), 255);
  EXPECT_EQ(firLengthRule(0, 88200.0, 5644800, 2, 2, 3), 255);
  EXPECT_EQ(firLengthRule(kFilterMethodLongest, 19845.0, 7056000, 160, 0, 0), 32767);
  // Boundaries: exactly 31 stays 31, beyond 16383 is 32767.
  EXPECT_EQ(firLengthRule(0, 1000.0, 1000, 1, 0, 0), 31);      // n = max(20, 8)
  EXPECT_EQ(firLengthRule(0, 1000.0, 4000, 1, 0, 0), 63);      // n = 32
  EXPECT_EQ(firLengthRule(0, 100.0, 204800, 1, 0, 0), 32767);  // n = 16384 > 16383
  EXPECT_EQ(firLengthRule(0, 100.0, 204700, 1, 0, 0), 16383);  // n = 16376
  EXPECT_EQ(firLengthRule(0, 100.0, 204900, 1, 0, 0), 32767);  // n = 16392
  EXPECT_EQ(firLengthRule(0, 0.5, 44100, 1, 0, 0), 32767);     // fc truncates to 0
}

struct RatePair {
  uint32_t L, M;
  int taps;
};

class PolyphaseVsReference : public ::testing::TestWithParam<RatePair> {};

TEST_P(PolyphaseVsReference, MatchesZeroStuffedConvolutionInAnySplit) {
  const RatePair p = GetParam();
  const double rc = 48000.0 * p.L;
  const std::vector<double> h =
      designLowpass(rc, 0.45 * 48000.0 * std::min(1.0, double(p.L) / p.M), p.taps, 1.0, p.L);
  const size_t frames = p.L > 100 ? 200 : 3000;  // keeps the naive reference quick
  const std::vector<double> in = noisePairs(frames, p.L * 31 + p.M);

  PolyphaseResampler whole(h.data(), h.size(), p.L, p.M);
  const std::vector<double> a = runWhole(whole, in);
  // Every output whose last input exists: k M + len - 1 < frames L.
  const size_t expect = (frames * size_t(p.L) - h.size()) / p.M + 1;
  ASSERT_EQ(a.size() / 2, expect);

  const std::vector<double> ref = referenceResample(in, h, p.L, p.M, expect);
  EXPECT_LT(maxAbsDiff(a, ref, a.size()), 1e-12);

  for (uint32_t seed : {1u, 2u, 3u}) {
    PolyphaseResampler split(h.data(), h.size(), p.L, p.M, 64);
    const std::vector<double> b = runRandomBlocks(split, in, seed);
    ASSERT_EQ(b.size(), a.size());
    EXPECT_EQ(b, a) << "seed " << seed;  // bit-identical, no gap or repeat
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, PolyphaseVsReference,
                         ::testing::Values(RatePair{160, 147, 4095}, RatePair{147, 160, 4095},
                                           RatePair{1, 16, 1023}, RatePair{2, 1, 255},
                                           RatePair{512, 1, 16383}, RatePair{3, 2, 127},
                                           RatePair{1, 1, 31}, RatePair{7, 3, 30},
                                           // Filters shorter than L (empty phases), large M.
                                           RatePair{160, 147, 31}, RatePair{1, 1000, 63},
                                           // Integer up-sampling, computed a window at a time.
                                           RatePair{64, 1, 2047}, RatePair{24, 1, 511},
                                           RatePair{8, 1, 63}, RatePair{64, 1, 31}));

TEST(PolyphaseResampler, InputNeededIsExact) {
  const std::vector<double> h = designLowpass(7056000.0, 19845.0, 4095, 1.0, 160);
  PolyphaseResampler r(h.data(), h.size(), 160, 147);
  const std::vector<double> in = noisePairs(20000, 5);
  size_t at = 0;
  for (size_t want : {1u, 7u, 300u, 1000u, 2u, 4999u}) {
    const uint64_t need = r.inputNeeded(want);
    ASSERT_GT(need, 0u);
    r.push(in.data() + 2 * at, size_t(need - 1));
    at += size_t(need - 1);
    EXPECT_LT(r.available(), want);
    r.push(in.data() + 2 * at, 1);
    ++at;
    EXPECT_GE(r.available(), want);
    EXPECT_EQ(r.inputNeeded(want), 0u);
    std::vector<double> out(2 * want);
    EXPECT_EQ(r.pull(out.data(), want), want);
  }
  EXPECT_EQ(r.maxOutputFrames(0), r.available());
  const size_t before = r.available();
  EXPECT_GE(r.maxOutputFrames(1000), before + 1000 * 160 / 147 - 1);
}

TEST(PolyphaseResampler, PipelineBlocksAt22MHzJoinExactly) {
  // 44.1 kHz -> 22.5792 MHz: L = 512, M = 1. A block of 188160 output frames
  // spans 367.5 input frames, so the phase must carry across blocks.
  const uint32_t L = 512, M = 1;
  const std::vector<double> h = designLowpass(22579200.0, 19845.0, 16383, 1.0, L);
  const size_t capacity = 1505280 / (8 * M);
  const size_t blocks = 5;
  const std::vector<double> in = noisePairs(capacity * blocks / L + 64, 9);

  PolyphaseResampler whole(h.data(), h.size(), L, M);
  std::vector<double> a = runWhole(whole, in);
  ASSERT_GE(a.size() / 2, capacity * blocks);

  PolyphaseResampler r(h.data(), h.size(), L, M, capacity * M / L + 64);
  std::vector<double> slot(2 * capacity);
  size_t at = 0;
  for (size_t b = 0; b < blocks; ++b) {
    const size_t need = size_t(r.inputNeeded(capacity));
    r.push(in.data() + 2 * at, need);
    at += need;
    ASSERT_EQ(r.pull(slot.data(), capacity), capacity) << b;
    for (size_t i = 0; i < 2 * capacity; ++i)
      ASSERT_EQ(slot[i], a[2 * capacity * b + i]) << "block " << b << " index " << i;
  }
  // Reads per block alternate around 367.5 frames: the half frame carries.
  EXPECT_EQ(at, size_t(r.pushedFrames()));
  EXPECT_LE(at, blocks * capacity / L + h.size() / L + 2);

  // The naive reference agrees around the first block boundary.
  const size_t k0 = capacity - 600;
  std::vector<double> part(in.begin(), in.begin() + 2 * ((capacity + 600 + h.size()) / L + 2));
  const std::vector<double> ref = referenceResample(part, h, L, M, capacity + 600);
  double m = 0.0;
  for (size_t i = 2 * k0; i < 2 * (capacity + 600); ++i) m = std::max(m, std::fabs(ref[i] - a[i]));
  EXPECT_LT(m, 1e-12);
}

TEST(PolyphaseResampler, ResetStartsAgain) {
  const std::vector<double> h = designLowpass(14112000.0, 19845.0, 8191, 1.0, 147);
  PolyphaseResampler r(h.data(), h.size(), 147, 320);
  const std::vector<double> in = noisePairs(4000, 11);
  const std::vector<double> a = runWhole(r, in);
  r.reset();
  EXPECT_EQ(r.pushedFrames(), 0u);
  EXPECT_EQ(r.available(), 0u);
  EXPECT_EQ(runWhole(r, in), a);
}

TEST(FftResampler, AgreesWithPolyphaseBelowMinus120dB) {
  struct Case {
    uint32_t L, M;
    double rc, fc;
  };
  for (const Case c : {Case{160, 147, 7056000.0, 19845.0}, Case{147, 320, 14112000.0, 19845.0},
                       Case{1, 16, 2822400.0, 44100.0}, Case{147, 1280, 56448000.0, 19845.0}}) {
    const std::vector<double> h = designLowpass(c.rc, c.fc, kFftTaps, 1.0, c.L);
    FftResampler f(h.data(), h.size(), c.L, c.M);
    ASSERT_TRUE(f.valid());
    const uint64_t K = uint64_t(c.L) * c.M;
    if (K <= 65536 - kFftTaps)
      EXPECT_EQ(f.blockSamples(), K * ((65536 - kFftTaps) / K));
    else  // L*M beyond the transform: blocks fall back to whole input frames
      EXPECT_EQ(f.blockSamples() % c.L, 0u);
    PolyphaseResampler p(h.data(), h.size(), c.L, c.M);
    const size_t frames = std::max<size_t>(size_t(4 * f.blockSamples() / c.L + 500), 12000);
    const std::vector<double> in = rcsupport::sinePairs(997.0, c.rc / c.L, frames, 0.5);
    std::vector<double> noise = noisePairs(frames, 3);
    std::vector<double> sig(in);
    for (size_t i = 0; i < sig.size(); ++i) sig[i] += 0.25 * noise[i];
    const std::vector<double> a = runWhole(p, sig);
    const std::vector<double> b = runRandomBlocks(f, sig, 4);
    ASSERT_GT(b.size(), 600u);
    ASSERT_LE(b.size(), a.size());
    double err = 0.0, pow = 0.0;
    for (size_t i = 0; i < b.size(); ++i) {
      err += (a[i] - b[i]) * (a[i] - b[i]);
      pow += a[i] * a[i];
    }
    EXPECT_LT(10 * std::log10(err / pow), -120.0) << c.L << "/" << c.M;
  }
}

TEST(FftResampler, InputNeededDeliversWholeBlocks) {
  const std::vector<double> h = designLowpass(7056000.0, 19845.0, kFftTaps, 1.0, 160);
  FftResampler f(h.data(), h.size(), 160, 147);
  const std::vector<double> in = noisePairs(20000, 8);
  size_t at = 0;
  for (size_t want : {320u, 1u, 1000u}) {
    const uint64_t need = f.inputNeeded(want);
    f.push(in.data() + 2 * at, size_t(need));
    at += size_t(need);
    std::vector<double> out(2 * want);
    EXPECT_EQ(f.pull(out.data(), want), want);
  }
  // A filter longer than the transform is refused.
  const std::vector<double> big = designLowpass(7056000.0, 19845.0, 70000, 1.0, 160);
  EXPECT_FALSE(FftResampler(big.data(), big.size(), 160, 147).valid());
}

TEST(HoldResampler, RepeatsAndPicksFrames) {
  const std::vector<double> in = noisePairs(1000, 12);
  for (auto lm : {std::pair<uint32_t, uint32_t>{1, 4}, {3, 1}, {160, 147}, {147, 160}, {1, 1}}) {
    HoldResampler whole(lm.first, lm.second);
    const std::vector<double> a = runWhole(whole, in);
    EXPECT_EQ(a.size() / 2, (1000 * size_t(lm.first) + lm.second - 1) / lm.second);
    for (size_t k = 0; k < a.size() / 2; ++k) {
      const size_t j = k * lm.second / lm.first;
      ASSERT_EQ(a[2 * k], in[2 * j]);
      ASSERT_EQ(a[2 * k + 1], in[2 * j + 1]);
    }
    HoldResampler split(lm.first, lm.second);
    EXPECT_EQ(runRandomBlocks(split, in, 6), a);
    HoldResampler need(lm.first, lm.second);
    need.pushZeros(size_t(need.inputNeeded(100)));
    EXPECT_GE(need.available(), 100u);
    EXPECT_EQ(need.inputNeeded(100), 0u);
  }
}

TEST(DsdKernels, ExpandBitsToPairs) {
  const uint8_t l[3] = {0x80, 0xF0, 0x01};
  const uint8_t r[3] = {0x7F, 0x0F, 0xFE};
  std::vector<double> out(2 * 20);
  expandDsdToPairs(l, r, 3, 20, out.data());
  for (size_t i = 0; i < 20; ++i) {
    const size_t bit = 3 + i;
    const bool bl = (l[bit / 8] >> (7 - bit % 8)) & 1;
    const bool br = (r[bit / 8] >> (7 - bit % 8)) & 1;
    EXPECT_EQ(out[2 * i], bl ? 2.0 : -2.0) << i;
    EXPECT_EQ(out[2 * i + 1], br ? 2.0 : -2.0) << i;
  }
  expandDsdToPairs(l, nullptr, 0, 8, out.data());
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[2], -2.0);
  EXPECT_EQ(out[1], 0.0);
}

TEST(DsdKernels, ScalePairs) {
  std::vector<double> v{1.0, -2.0, 0.5, 0.25};
  scalePairs(v.data(), 2, 4.0, v.data());
  EXPECT_EQ(v, (std::vector<double>{4.0, -8.0, 2.0, 1.0}));
}

TEST(Fft, MatchesTheDefiningSumAndInverts) {
  std::minstd_rand rng(21);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (uint32_t log2 : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 9u}) {
    const size_t n = size_t(1) << log2;
    std::vector<double> x(2 * n);
    for (auto& v : x) v = d(rng);
    std::vector<double> y(x);
    Fft fft(log2);
    fft.forward(y.data());
    double err = 0.0;
    for (size_t k = 0; k < n; ++k) {
      double re = 0.0, im = 0.0;
      for (size_t j = 0; j < n; ++j) {
        const double a = -2.0 * M_PI * double(j * k % n) / double(n);
        re += x[2 * j] * std::cos(a) - x[2 * j + 1] * std::sin(a);
        im += x[2 * j] * std::sin(a) + x[2 * j + 1] * std::cos(a);
      }
      err = std::max(err, std::max(std::fabs(re - y[2 * k]), std::fabs(im - y[2 * k + 1])));
    }
    EXPECT_LT(err, 1e-12 * double(n)) << "N = " << n;
    fft.inverse(y.data());
    EXPECT_LT(maxAbsDiff(x, y, x.size()), 1e-14) << "N = " << n;
  }
  // The engine's size: round trip only.
  Fft big(16);
  std::vector<double> x(2 << 16);
  for (auto& v : x) v = d(rng);
  std::vector<double> y(x);
  big.forward(y.data());
  big.inverse(y.data());
  EXPECT_LT(maxAbsDiff(x, y, x.size()), 1e-13);
}

TEST(DotPairs, PortableAndSelectedKernelsAgreeWithTheSum) {
  std::minstd_rand rng(33);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (size_t n = 0; n <= 41; ++n) {
    std::vector<double> c(2 * n + 2), x(2 * n + 2);
    for (size_t q = 0; q < n; ++q) {
      c[2 * q] = c[2 * q + 1] = d(rng);
      x[2 * q] = d(rng);
      x[2 * q + 1] = d(rng);
    }
    double l = 0.0, r = 0.0;
    for (size_t q = 0; q < n; ++q) {
      l += c[2 * q] * x[2 * q];
      r += c[2 * q] * x[2 * q + 1];
    }
    double a[2] = {9.0, 9.0}, b[2] = {9.0, 9.0};
    detail::dotPairsPortable(c.data(), x.data(), n, a);
    detail::dotPairsSelected(c.data(), x.data(), n, b);
    EXPECT_NEAR(a[0], l, 1e-13) << n;
    EXPECT_NEAR(a[1], r, 1e-13) << n;
    EXPECT_NEAR(b[0], l, 1e-13) << n;
    EXPECT_NEAR(b[1], r, 1e-13) << n;
  }
}

TEST(UpsampleWindow, PortableAndSelectedKernelsAgreeWithTheSum) {
  std::minstd_rand rng(34);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (size_t count : {8u, 16u})
    for (size_t taps : {0u, 1u, 7u, 32u}) {
      const size_t stride = 48;
      struct alignas(64) Block {
        double v[2 * 48 * 32 + 8];
      };
      auto t = std::make_unique<Block>();
      std::vector<double> x(2 * taps + 2);
      for (double& c : t->v) c = d(rng);
      for (double& v : x) v = d(rng);
      double a[32], b[32];
      std::fill(a, a + 32, 9.0);
      std::fill(b, b + 32, 9.0);
      detail::upsampleWindowPortable(t->v, stride, taps, x.data(), count, a);
      detail::upsampleWindowSelected(t->v, stride, taps, x.data(), count, b);
      for (size_t i = 0; i < 2 * count; ++i) {
        double sum = 0.0;
        for (size_t j = 0; j < taps; ++j) sum += t->v[2 * j * stride + i] * x[2 * j + (i & 1)];
        EXPECT_NEAR(a[i], sum, 1e-13) << count << " " << taps << " " << i;
        EXPECT_NEAR(b[i], sum, 1e-13) << count << " " << taps << " " << i;
      }
    }
}
