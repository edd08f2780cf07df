// The delta-sigma modulator: bit-exact against a plain per-sample rendering
// of its equations, noise shaping and in-band SNR of a sine, stability over
// levels, the guard, the idle weight and the shut-down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "dsdstage.h"

using namespace sonvex::dsd;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Plain rendering of the loop, one sample at a time, written from the
// equations (including the guard on S0, its hold-off with the overload gain
// and the idle weight smoothing) for comparison with the optimised loops.
struct Reference {
  int64_t s[2][5] = {};
  int64_t q[2] = {};
  double w[2] = {0, 0};
  int holdOff = 0;
  double gain = 1.0;
  uint64_t trips = 0;

  static int64_t wrap(__int128 x) { return static_cast<int64_t>(static_cast<uint64_t>(x)); }

  void block(const double* pcm, size_t frames, double target, uint8_t* outL, uint8_t* outR) {
    static const int sign[8] = {-1, -1, 1, -1, 1, 1, -1, 1};
    const int64_t F = int64_t(1) << 55;
    for (int c = 0; c < 2; ++c)
      if (std::fabs(w[c] - target) < 5e-5) w[c] = target;
    for (size_t j = 0; j < (frames + 7) / 8; ++j) {
      for (int c = 0; c < 2; ++c) {
        unsigned byte = 0;
        for (int k = 0; k < 8; ++k) {
          const size_t n = 8 * j + k;
          if (n >= frames) {
            byte = (byte << 1) | ((0x96 >> (7 - k)) & 1);
            continue;
          }
          const double p = pcm[2 * n + c] * gain;
          const unsigned bit = q[c] >= 0;
          byte = (byte << 1) | bit;
          int64_t v = s[c][4] >= 0 ? F : -F;
          const int64_t hi = s[c][4] >> 32;
          if ((hi < 0 ? -hi - 1 : hi) > 0x01800000) v *= 3;
          const int64_t b = bit ? F : -F;
          const int64_t u = static_cast<int64_t>(p + sign[k] * static_cast<double>(F) * w[c]);
          const int64_t o0 = s[c][0], o1 = s[c][1], o2 = s[c][2], o3 = s[c][3];
          s[c][0] = wrap(__int128(o0) + u - v);
          s[c][1] = wrap(__int128(o1) + (o0 >> 4) - v);
          s[c][2] = wrap(__int128(o2) + (o1 >> 3) - v);
          s[c][3] = wrap(__int128(o3) + (o2 >> 2) - v);
          s[c][4] = wrap(__int128(s[c][4]) + (o3 >> 1) - v);
          q[c] = wrap(__int128(q[c]) + v - b);
        }
        (c == 0 ? outL : outR)[j] = static_cast<uint8_t>(byte);
      }
      const int64_t h0 = s[0][0] >> 32, h1 = s[1][0] >> 32;
      if ((h0 < 0 ? -h0 - 1 : h0) > (1 << 27) || (h1 < 0 ? -h1 - 1 : h1) > (1 << 27)) {
        std::memset(s, 0, sizeof s);
        holdOff = 5000;
        gain = std::max(gain / 2, 1.0 / 16);
        ++trips;
      } else if (holdOff > 0) {
        --holdOff;
      } else if (gain < 1.0) {
        gain = std::min(1.0, gain * 1.0000105766425498);  // doubles over 65536 bytes
      }
      for (int c = 0; c < 2; ++c) w[c] = target + 0.9 * (w[c] - target);
    }
  }
};

std::vector<double> sine(size_t frames, double rate, double freq, double amplitude,
                         double phaseR = 0.0) {
  std::vector<double> pcm(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const double t = 2 * kPi * freq * static_cast<double>(n) / rate;
    pcm[2 * n] = amplitude * kInputFullScale * std::sin(t);
    pcm[2 * n + 1] = amplitude * kInputFullScale * std::sin(t + phaseR);
  }
  return pcm;
}

struct Stream {
  std::vector<uint8_t> left, right;
};

Stream modulateAll(Modulator& m, const std::vector<double>& pcm, size_t blockFrames,
                   double target = 0.0) {
  const size_t frames = pcm.size() / 2;
  Stream s{std::vector<uint8_t>((frames + 7) / 8), std::vector<uint8_t>((frames + 7) / 8)};
  const double targets[2] = {target, target};
  const bool none[2] = {false, false};
  for (size_t at = 0; at < frames; at += blockFrames) {
    const size_t n = std::min(blockFrames, frames - at);
    m.run(pcm.data() + 2 * at, n, s.left.data() + at / 8, s.right.data() + at / 8, targets, none);
  }
  return s;
}

void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2 * kPi / static_cast<double>(len);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t j = 0; j < len / 2; ++j) {
        const auto u = a[i + j], v = a[i + j + len / 2] * w;
        a[i + j] = u + v;
        a[i + j + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

double besselI0(double x) {
  double s = 1, t = 1;
  for (int k = 1; k < 300; ++k) {
    t *= (x / (2 * k)) * (x / (2 * k));
    s += t;
    if (t < 1e-18 * s) break;
  }
  return s;
}

// Power spectrum of the last 2^log2n bits (Kaiser window, beta 20, whose
// side lobes lie far below the modulator's noise).
std::vector<double> spectrum(const std::vector<uint8_t>& bytes, int log2n) {
  const size_t n = size_t(1) << log2n;
  const size_t total = bytes.size() * 8;
  const size_t first = total - n;
  std::vector<std::complex<double>> a(n);
  const double i0 = besselI0(20.0);
  for (size_t i = 0; i < n; ++i) {
    const size_t b = first + i;
    const double bit = (bytes[b / 8] >> (7 - b % 8)) & 1 ? 1.0 : -1.0;
    const double x = 2.0 * static_cast<double>(i) / static_cast<double>(n - 1) - 1.0;
    a[i] = bit * besselI0(20.0 * std::sqrt(std::max(0.0, 1 - x * x))) / i0;
  }
  fft(a);
  std::vector<double> p(n / 2);
  for (size_t k = 0; k < n / 2; ++k) p[k] = std::norm(a[k]);
  return p;
}

struct BandPower {
  double signal = 0;
  std::vector<double> bands;  // power in [edges[i], edges[i+1]) without the signal
};

BandPower analyse(const std::vector<double>& p, double rate, double freq,
                  const std::vector<double>& edges) {
  const double df = rate / (2.0 * static_cast<double>(p.size()));
  const size_t centre = static_cast<size_t>(freq / df + 0.5);
  const size_t guard = 40;
  BandPower r;
  for (size_t k = centre - guard; k <= centre + guard; ++k) r.signal += p[k];
  for (size_t i = 0; i + 1 < edges.size(); ++i) {
    double s = 0;
    for (size_t k = static_cast<size_t>(edges[i] / df); k < static_cast<size_t>(edges[i + 1] / df);
         ++k)
      if (k + guard < centre || k > centre + guard) s += p[k];
    r.bands.push_back(s);
  }
  return r;
}

double db(double x) { return 10 * std::log10(x); }

// Power that spectrum() shows for a PCM sine of amplitude a (a/2 of the +-1
// stream): N * A^2 * sum(w^2) / 4 in the positive-frequency bins.
double tonePower(double a, int log2n) {
  const size_t n = size_t(1) << log2n;
  double w2 = 0;
  const double i0 = besselI0(20.0);
  for (size_t k = 0; k < n; ++k) {
    const double x = 2.0 * static_cast<double>(k) / static_cast<double>(n - 1) - 1.0;
    const double w = besselI0(20.0 * std::sqrt(std::max(0.0, 1 - x * x))) / i0;
    w2 += w * w;
  }
  return static_cast<double>(n) * (a / 2) * (a / 2) * w2 / 4;
}

TEST(DsdModulator, MatchesPlainEquationsOverLevelsIdleAndOverload) {
  // Random PCM at several levels, idle targets that change between blocks
  // and a stretch of overload that trips the guard.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const size_t frames = 8 * 20000;
  std::vector<double> pcm = sine(frames, 2822400, 1234.5, 0.7, 1.0);
  for (size_t n = 0; n < frames; ++n) {
    pcm[2 * n] += 0.05 * kInputFullScale * uni(rng);
    if (n > 60000 && n < 90000) pcm[2 * n + 1] *= 3.0;  // overload on the right
  }
  Modulator m;
  Reference ref;
  std::vector<uint8_t> l(frames / 8), r(frames / 8), rl(frames / 8), rr(frames / 8);
  const double targets[] = {0.0, 1.0, 0.995, 0.0, 0.3};
  size_t at = 0, i = 0;
  const bool none[2] = {false, false};
  while (at < frames) {
    const size_t n = std::min<size_t>(8 * (1 + rng() % 3000), frames - at);
    const double t[2] = {targets[i % 5], targets[i % 5]};
    m.run(pcm.data() + 2 * at, n, l.data() + at / 8, r.data() + at / 8, t, none);
    ref.block(pcm.data() + 2 * at, n, t[0], rl.data() + at / 8, rr.data() + at / 8);
    at += n;
    ++i;
  }
  EXPECT_EQ(l, rl);
  EXPECT_EQ(r, rr);
  EXPECT_GT(ref.trips, 0u);
  EXPECT_EQ(m.guardTrips(), ref.trips);
}

TEST(DsdModulator, PartialLastByteIsCompletedWithIdleBits) {
  Modulator m, ref;
  const auto pcm = sine(8 * 100 + 5, 2822400, 1000, 0.5);
  std::vector<uint8_t> l(101), r(101), wl(101), wr(101);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  m.run(pcm.data(), 805, l.data(), r.data(), t, none);
  // The same 805 frames followed by 3 more give the same first 805 bits.
  auto longer = sine(808, 2822400, 1000, 0.5);
  ref.run(longer.data(), 808, wl.data(), wr.data(), t, none);
  EXPECT_TRUE(std::equal(l.begin(), l.begin() + 100, wl.begin()));
  EXPECT_EQ(l[100] & 0xf8, wl[100] & 0xf8);
  EXPECT_EQ(l[100] & 0x07, 0x96 & 0x07);
  EXPECT_EQ(r[100] & 0x07, 0x96 & 0x07);
}

TEST(DsdModulator, InBandNoiseIsShapedAndSnrHoldsAtAllRates) {
  // 997 Hz at -6 dBFS. The fixed loop's noise rises at 30 dB per octave
  // (fifth order); SNR over 20 Hz..20 kHz measured at about 98.6, 131.8 and
  // 164.7 dB at DSD64, 128 and 256 (bench_modulator prints them).
  const std::vector<double> edges = {20, 1000, 5000, 10000, 20000, 40000, 80000, 160000};
  const double floorDb[3] = {97.0, 128.0, 158.0};
  for (int mult = 1, i = 0; mult <= 4; mult *= 2, ++i) {
    const double rate = 2822400.0 * mult;
    Modulator m;
    const int log2n = 20;
    const size_t frames = (size_t(1) << log2n) + 65536;
    const auto st = modulateAll(m, sine(frames, rate, 997, 0.5), 65536);
    const auto p = spectrum(st.left, log2n);
    const auto bp = analyse(p, rate, 997, edges);
    double inBand = 0;
    for (int b = 0; b < 4; ++b) inBand += bp.bands[b];
    SCOPED_TRACE(mult);
    EXPECT_GT(db(bp.signal / inBand), floorDb[i]);
    // Shape: every band above 5 kHz holds more noise than the one below it.
    for (int b = 2; b + 1 < 7; ++b) EXPECT_GT(bp.bands[b + 1], bp.bands[b]) << "band " << b;
    EXPECT_EQ(m.guardTrips(), 0u);
  }
}

TEST(DsdModulator, StableFromSilenceToThreeDbOverFullScale) {
  // -60 dBFS .. +3 dBFS: no guard trip, bounded integrators, the sine's
  // level survives (tone power within 0.5 dB of the input's).
  const double levels[] = {0.001, 0.01, 0.1, 0.5, 1.0, 1.2, 1.4125};
  for (double a : levels) {
    SCOPED_TRACE(a);
    Modulator m;
    const auto st = modulateAll(m, sine(size_t(1) << 19, 2822400, 1000, a), 32768);
    EXPECT_EQ(m.guardTrips(), 0u);
    for (int c = 0; c < 2; ++c)
      for (int64_t s : m.lane(c).s) EXPECT_LT(std::fabs(static_cast<double>(s)), 16.0 * kFeedback);
    const auto p = spectrum(st.left, 18);
    const auto bp = analyse(p, 2822400, 1000, {20, 20000});
    EXPECT_NEAR(db(bp.signal / tonePower(a, 18)), 0.0, 0.5);
  }
}

TEST(DsdModulator, FullScaleSineSwingsBetweenQuarterAndThreeQuarterOnes) {
  Modulator m;
  const double rate = 2822400;
  const auto st = modulateAll(m, sine(size_t(1) << 18, rate, 100, 1.0), 65536);
  // Density over 64-bit windows follows the sine: 50 % +- 25 %.
  double lo = 1, hi = 0;
  for (size_t w = 1024; w + 8 <= st.left.size(); w += 8) {
    int ones = 0;
    for (size_t j = w; j < w + 8; ++j) ones += __builtin_popcount(st.left[j]);
    lo = std::min(lo, ones / 64.0);
    hi = std::max(hi, ones / 64.0);
  }
  EXPECT_GE(lo, 0.17);
  EXPECT_LE(hi, 0.83);
  EXPECT_LT(lo, 0.30);
  EXPECT_GT(hi, 0.70);
}

TEST(DsdModulator, OverloadTripsTheGuardAndTheStreamRecovers) {
  // 0.1 s at +6 dBFS, then -6 dBFS: the guard trips during the overload, the
  // output never sticks, the overload gain settles where the loop tracks
  // (the tone stays near full scale), and once the overload is over the
  // gain returns to exactly 1 and the tone comes back clean.
  const double rate = 2822400;
  const size_t over = 282240, after = (size_t(1) << 22) + (size_t(1) << 19);
  auto pcm = sine(over + after, rate, 997, 2.0);
  for (size_t n = over; n < over + after; ++n) {
    pcm[2 * n] *= 0.25;
    pcm[2 * n + 1] *= 0.25;
  }
  Modulator m;
  const std::vector<double> loud(pcm.begin(), pcm.begin() + 2 * over);
  const auto st = modulateAll(m, loud, 47040);
  EXPECT_GT(m.guardTrips(), 0u);
  EXPECT_LT(m.overloadGain(), 1.0);
  // The output never sticks: no 64-bit stretch of all ones or all zeros.
  for (size_t j = 0; j + 8 <= st.left.size(); j += 8) {
    int ones = 0;
    for (size_t k = j; k < j + 8; ++k) ones += __builtin_popcount(st.left[k]);
    ASSERT_TRUE(ones > 0 && ones < 64) << "at byte " << j;
  }
  const auto pl = analyse(spectrum(st.left, 18), rate, 997, {20, 20000});
  // The tone stays between -3 and +4 dB re PCM full scale.
  EXPECT_GT(db(pl.signal / tonePower(1.0, 18)), -3.0);
  EXPECT_LT(db(pl.signal / tonePower(1.0, 18)), 4.0);
  const uint64_t tripsAtEnd = m.guardTrips();
  const std::vector<double> quiet(pcm.begin() + 2 * over, pcm.end());
  const auto sq = modulateAll(m, quiet, 65536);
  EXPECT_EQ(m.guardTrips(), tripsAtEnd);
  EXPECT_EQ(m.holdOff(), 0);
  EXPECT_EQ(m.overloadGain(), 1.0);
  const auto bp = analyse(spectrum(sq.left, 19), rate, 997, {20, 20000});
  EXPECT_GT(db(bp.signal / bp.bands[0]), 97.0);
}

TEST(DsdModulator, ThreeDbOverFullScaleSquareTripsTheGuard) {
  // A +3 dBFS sine is carried (above); a square wave at +3 dBFS kicks the
  // first integrator past the guard's limit at its edges. The guard clears
  // the loop, the stream goes on without sticking, and a quiet tone after it
  // is clean again.
  const double rate = 2822400;
  auto square = sine(size_t(rate), rate, 1000, 1.0);
  for (double& v : square) v = (v > 0 ? 1.4125 : -1.4125) * kInputFullScale;
  Modulator m;
  const auto st = modulateAll(m, square, 47040);
  EXPECT_GT(m.guardTrips(), 0u);
  for (size_t j = 0; j + 8 <= st.left.size(); j += 8) {
    int ones = 0;
    for (size_t k = j; k < j + 8; ++k) ones += __builtin_popcount(st.left[k]);
    ASSERT_TRUE(ones > 0 && ones < 64) << "at byte " << j;
  }
  const uint64_t trips = m.guardTrips();
  const auto sq =
      modulateAll(m, sine((size_t(1) << 20) + (size_t(1) << 19), rate, 997, 0.5), 65536);
  EXPECT_EQ(m.guardTrips(), trips);
  EXPECT_EQ(m.overloadGain(), 1.0);
  const auto bp = analyse(spectrum(sq.left, 19), rate, 997, {20, 20000});
  EXPECT_GT(db(bp.signal / bp.bands[0]), 97.0);
}

TEST(DsdModulator, OverloadedDsdSourceKeepsItsWaveform) {
  // A re-modulated 1-bit source has every sample at twice PCM full scale;
  // boosted 3x it overloads the loop. The guard's gain must shrink the
  // whole waveform (tone well above the unboosted source), not clip each
  // sample (which would leave half the source's level).
  const double rate = 2822400;
  const size_t frames = size_t(1) << 20;
  Modulator src;
  const auto bits = modulateAll(src, sine(frames, rate, 997, 0.5), 65536);
  std::vector<double> boosted(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const int b = (bits.left[n / 8] >> (7 - n % 8)) & 1;
    boosted[2 * n] = boosted[2 * n + 1] = 3.0 * (4.0 * b - 2.0) * kInputFullScale;
  }
  Modulator m;
  const auto out = modulateAll(m, boosted, 65536);
  EXPECT_GT(m.guardTrips(), 0u);
  const double source = analyse(spectrum(bits.left, 19), rate, 997, {20, 20000}).signal;
  const double result = analyse(spectrum(out.left, 19), rate, 997, {20, 20000}).signal;
  EXPECT_GT(db(result / source), 3.0);
  EXPECT_LT(db(result / source), 9.6);
}

TEST(DsdModulator, IdleWeightSmoothsPerByteAndSnapsNearTarget) {
  Modulator m;
  std::vector<double> zeros(2 * 8 * 10, 0.0);
  std::vector<uint8_t> l(10), r(10);
  const bool none[2] = {false, false};
  const double one[2] = {1.0, 1.0};
  m.run(zeros.data(), 80, l.data(), r.data(), one, none);
  // Ten bytes: w = 1 - 0.9^10.
  EXPECT_NEAR(m.lane(0).idleWeight, 1.0 - std::pow(0.9, 10), 1e-12);
  EXPECT_DOUBLE_EQ(m.lane(0).idleTable[2], static_cast<double>(kFeedback) * m.lane(0).idleWeight);
  EXPECT_DOUBLE_EQ(m.lane(0).idleTable[0], -static_cast<double>(kFeedback) * m.lane(0).idleWeight);
  for (int i = 0; i < 9; ++i) m.run(zeros.data(), 80, l.data(), r.data(), one, none);
  // 1 - 0.9^100 is within 5e-5 of 1: the next block starts on the target.
  m.run(zeros.data(), 8, l.data(), r.data(), one, none);
  EXPECT_EQ(m.lane(1).idleWeight, 1.0);
  EXPECT_EQ(idleWeightTarget(0.02), 0.0);
  EXPECT_DOUBLE_EQ(idleWeightTarget(0.004), 0.996);
  EXPECT_EQ(idleWeightTarget(0.0), 1.0);
}

TEST(DsdModulator, ShutDownEmptiesIntegratorsAndRestartsCleanly) {
  Modulator m;
  const auto pcm = sine(65536, 2822400, 997, 0.9);
  std::vector<uint8_t> l(8192), r(8192);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  const bool leftIdle[2] = {true, false};
  m.run(pcm.data(), 65536, l.data(), r.data(), t, none);
  ASSERT_NE(m.lane(0).s[0], 0);
  m.run(pcm.data(), 65536, l.data(), r.data(), t, leftIdle);
  EXPECT_TRUE(m.inTransition());
  for (uint8_t b : l) ASSERT_EQ(b, kIdleByte);
  for (int64_t s : m.lane(0).s) EXPECT_EQ(s, 0);
  EXPECT_EQ(m.lane(0).q, 0);
  EXPECT_EQ(m.lane(0).shutdown, 0x3fu);
  // The right lane went on modulating: not idle, and its tone is intact.
  int idleBytes = 0;
  for (uint8_t b : r) idleBytes += b == kIdleByte;
  EXPECT_LT(idleBytes, 1000);
  // Restart: the lane resumes from empty integrators and is bit-exact with a
  // fresh modulator fed the same left signal.
  Modulator fresh;
  std::vector<uint8_t> l2(8192), r2(8192);
  m.run(pcm.data(), 65536, l.data(), r.data(), t, none);
  EXPECT_FALSE(m.inTransition());
  fresh.run(pcm.data(), 65536, l2.data(), r2.data(), t, none);
  EXPECT_EQ(l, l2);
}

}  // namespace
