// One-bit decimation: the three exports, the byte-table decimator against the
// plain FIR, and a DSD64 sine through DSD64 -> 176.4 kHz.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "dsdstage.h"
#include "rateconv.h"
#include "rateconv_signals.h"
#include "sonvex.h"

using namespace sonvex;

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::minstd_rand rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng() >> 7);
  return v;
}

// Pushes in random byte counts, pulls in random frame counts.
std::vector<double> decimateInPieces(DsdDecimator& d, const std::vector<uint8_t>& l,
                                     const std::vector<uint8_t>& r, uint32_t seed) {
  std::minstd_rand rng(seed);
  std::vector<double> out, tmp;
  size_t at = 0;
  while (at < l.size()) {
    const size_t n = std::min<size_t>(l.size() - at, 1 + rng() % 300);
    d.push(l.data() + at, r.data() + at, n);
    at += n;
    while (d.available()) {
      const size_t want = 1 + rng() % 400;
      tmp.resize(2 * want);
      const size_t got = d.pull(tmp.data(), want);
      out.insert(out.end(), tmp.begin(), tmp.begin() + 2 * got);
    }
  }
  return out;
}

}  // namespace

TEST(DecimationExports, SetDecimationFirParamLayout) {
  alignas(16) double c[2 * (513 + 17)];
  for (double& v : c) v = -9.0;
  EXPECT_EQ(setDecimationFirParam(352800.0, 20000.0, 511, c, 1.0), 0);
  EXPECT_DOUBLE_EQ(c[2 * 255], 2.0 * 20000.0 / 352800.0);
  EXPECT_DOUBLE_EQ(c[2 * 255 + 1], c[2 * 255]);
  EXPECT_EQ(c[0], c[2 * 510]);
  EXPECT_EQ(c[1], c[2 * 510 + 1]);
  for (int i = 511; i < 527; ++i) EXPECT_EQ(c[2 * i], 0.0) << i;
  EXPECT_EQ(c[2 * 527], -9.0);

  for (double& v : c) v = -9.0;
  setDecimationFirParam(352800.0, 20000.0, 512, c, 2.0);
  EXPECT_DOUBLE_EQ(c[2 * 256], 2.0 * 2.0 * 20000.0 / 352800.0);  // centre of 513 pairs
  EXPECT_NE(c[2 * 512], 0.0);
  for (int i = 513; i < 529; ++i) EXPECT_EQ(c[2 * i], 0.0) << i;
  EXPECT_EQ(c[2 * 529], -9.0);

  EXPECT_EQ(setDecimationFirParam(0.0, 20000.0, 511, c, 1.0), -1);
  EXPECT_EQ(setDecimationFirParam(352800.0, 20000.0, 511, nullptr, 1.0), -1);
}

TEST(DecimationExports, FirEvaluationReadsRoundedUpGroups) {
  alignas(16) double c[2 * 12] = {};
  alignas(16) double s[2 * 12];
  for (int k = 0; k < 12; ++k) {
    c[2 * k] = c[2 * k + 1] = double(k + 1);
    s[2 * k] = 1.0;
    s[2 * k + 1] = -2.0;
  }
  alignas(16) double res[2] = {5.0, 5.0};
  const double q = 2.7755575615628914e-17;
  // taps = 1 reads four pairs: 1 + 2 + 3 + 4.
  EXPECT_EQ(gAudioDecimationFir(res, c, s, 1), 0);
  EXPECT_DOUBLE_EQ(res[0], 10.0 * q);
  EXPECT_DOUBLE_EQ(res[1], -20.0 * q);
  EXPECT_EQ(gAudioDecimationFir(res, c, s, 5), 0);  // eight pairs
  EXPECT_DOUBLE_EQ(res[0], 36.0 * q);
  EXPECT_EQ(gAudioDecimationFir(res, nullptr, nullptr, 0), 0);
  EXPECT_EQ(res[0], 0.0);
  EXPECT_EQ(res[1], 0.0);

  // Constant input over a real design: v * 2^-55 * sum of coefficients.
  std::vector<double> d(2 * (1023 + 17));
  setDecimationFirParam(2822400.0, 44100.0, 1023, d.data(), 1.0);
  std::vector<double> v(2 * 1024, 3.0);
  double sum = 0.0;
  for (int k = 0; k < 1023; ++k) sum += d[2 * k];
  gAudioDecimationFir(res, d.data(), v.data(), 1023);
  EXPECT_NEAR(res[0], 3.0 * q * sum, 1e-12 * std::fabs(3.0 * q * sum));
  EXPECT_EQ(res[0], res[1]);
}

TEST(DecimationExports, DsdDataExpandsMostSignificantBitFirst) {
  const uint8_t a[2] = {0x80, 0xF0};
  const uint8_t b[2] = {0x01, 0x00};
  int32_t outA[16], outB[16];
  for (int32_t& x : outA) x = 1;
  ASSERT_EQ(decimationDsdData(12, 0, outA, outB, a, b), 0);
  const int32_t p = 2147483647, m = -2147483647;
  const int32_t wantA[12] = {p, m, m, m, m, m, m, m, p, p, p, p};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(outA[i], wantA[i]) << i;
  EXPECT_EQ(outA[12], 1);  // only `count` values written
  EXPECT_EQ(outB[7], p);
  EXPECT_EQ(outB[6], m);
  EXPECT_EQ(decimationDsdData(0, 0, outA, outB, a, b), 0);
  EXPECT_EQ(decimationDsdData(8, 0, nullptr, outB, a, b), -1);
}

struct DecimCase {
  uint32_t L, M;
  int taps;
  double rc, fc;
  bool tables;  // expected to fit the byte-table path
};

class DsdDecimatorVsFir : public ::testing::TestWithParam<DecimCase> {};

TEST_P(DsdDecimatorVsFir, TablesMatchThePlainFilterInAnySplit) {
  const DecimCase c = GetParam();
  const std::vector<double> h = designLowpass(c.rc, c.fc, c.taps, 1.0, c.L);
  const size_t bytes = 3000;
  const std::vector<uint8_t> l = randomBytes(bytes, c.M), r = randomBytes(bytes, c.M + 100);

  // Reference: bits as +-2.0 through the polyphase engine.
  std::vector<double> pairs(2 * 8 * bytes);
  expandDsdToPairs(l.data(), r.data(), 0, 8 * bytes, pairs.data());
  PolyphaseResampler ref(h.data(), h.size(), c.L, c.M);
  ref.push(pairs.data(), 8 * bytes);
  std::vector<double> want(2 * ref.available());
  want.resize(2 * ref.pull(want.data(), want.size() / 2));

  DsdDecimator whole(h.data(), h.size(), c.L, c.M);
  EXPECT_EQ(whole.usesTables(), c.tables);
  whole.push(l.data(), r.data(), bytes);
  std::vector<double> got(2 * whole.available());
  got.resize(2 * whole.pull(got.data(), got.size() / 2));
  ASSERT_EQ(got.size(), want.size());
  double err = 0.0;
  for (size_t i = 0; i < got.size(); ++i) err = std::max(err, std::fabs(got[i] - want[i]));
  EXPECT_LT(err, 1e-12);

  // The portable kernel, which processors without AVX2 run, to the same bound.
  detail::setPortableSlabKernel(true);
  DsdDecimator portable(h.data(), h.size(), c.L, c.M);
  detail::setPortableSlabKernel(false);
  portable.push(l.data(), r.data(), bytes);
  std::vector<double> p(got.size());
  ASSERT_EQ(portable.pull(p.data(), p.size() / 2), p.size() / 2);
  err = 0.0;
  for (size_t i = 0; i < p.size(); ++i) err = std::max(err, std::fabs(p[i] - want[i]));
  EXPECT_LT(err, 1e-12);

  for (uint32_t seed : {1u, 2u}) {
    DsdDecimator split(h.data(), h.size(), c.L, c.M, 16);
    EXPECT_EQ(decimateInPieces(split, l, r, seed), got) << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, DsdDecimatorVsFir,
                         ::testing::Values(
                             // DSD64 -> 176.4, 44.1, 352.8 and 88.2 kHz; DSD128 -> DSD64.
                             DecimCase{1, 16, 1023, 2822400.0, 44100.0, true},
                             DecimCase{1, 32, 1023, 2822400.0, 39690.0, true},
                             DecimCase{1, 64, 2047, 2822400.0, 19845.0, true},
                             DecimCase{1, 8, 511, 2822400.0, 88200.0, true},
                             DecimCase{1, 2, 255, 5644800.0, 88200.0, true},
                             // Odd factors: every bit offset in use.
                             DecimCase{1, 3, 100, 2822400.0, 50000.0, true},
                             DecimCase{1, 5, 64, 2822400.0, 50000.0, true},
                             // DSD64 -> DSD128 and DSD256: one set per phase and offset.
                             DecimCase{2, 1, 255, 5644800.0, 88200.0, true},
                             DecimCase{4, 1, 511, 11289600.0, 88200.0, true},
                             DecimCase{3, 7, 200, 8467200.0, 60000.0, true},
                             // DSD64 -> 48 kHz: tables too large, expanded path.
                             DecimCase{5, 294, 8191, 14112000.0, 21600.0, false}));

TEST(DsdDecimator, InputBytesNeededIsExact) {
  const std::vector<double> h = designLowpass(2822400.0, 44100.0, 1023, 1.0, 1);
  DsdDecimator d(h.data(), h.size(), 1, 16);
  const std::vector<uint8_t> l = randomBytes(40000, 3);
  size_t at = 0;
  for (size_t want : {1u, 11760u, 5u, 333u}) {
    const size_t need = size_t(d.inputBytesNeeded(want));
    d.push(l.data() + at, l.data() + at, need - 1);
    at += need - 1;
    EXPECT_LT(d.available(), want);
    d.push(l.data() + at, nullptr, 1);
    ++at;
    EXPECT_GE(d.available(), want);
    std::vector<double> out(2 * want);
    EXPECT_EQ(d.pull(out.data(), want), want);
  }
  EXPECT_EQ(d.pushedBytes(), at);
}

TEST(DsdDecimator, MissingRightChannelIsIdlePattern) {
  const std::vector<double> h = designLowpass(2822400.0, 44100.0, 1023, 1.0, 1);
  const std::vector<uint8_t> l = randomBytes(2000, 4), idle(2000, 0x96);
  DsdDecimator a(h.data(), h.size(), 1, 16), b(h.data(), h.size(), 1, 16);
  a.push(l.data(), nullptr, l.size());
  b.push(l.data(), idle.data(), l.size());
  std::vector<double> x(2 * a.available()), y(2 * b.available());
  ASSERT_EQ(a.pull(x.data(), x.size() / 2), b.pull(y.data(), y.size() / 2));
  EXPECT_EQ(x, y);
  // 0x96 carries as many ones as zeros: the idle lane sits near zero.
  double m = 0.0;
  for (size_t i = 1; i < x.size(); i += 2) m = std::max(m, std::fabs(x[i]));
  EXPECT_LT(m, 1e-3);
}

// DSD64 sine through the 1023-tap filter to 176.4 kHz. Two bit streams: the
// second-order test modulator at 50 % modulation (full scale after
// decimation), and the project's five-integrator modulator at 25 %.
class Dsd64To176 : public ::testing::TestWithParam<bool> {
 protected:
  static constexpr double kDsdRate = 2822400.0;
  static constexpr double kFreq = 997.0;
  static constexpr uint32_t kLog2Bits = 20;  // 0.37 s measured
  static constexpr size_t kLead = 2048;      // settles the filter and the loop

  void SetUp() override {
    const bool project = GetParam();
    const size_t bits = (size_t(1) << kLog2Bits) + 16 * kLead + 4096;
    amplitude = project ? 0.25 : 0.5;
    std::vector<double> u(bits);
    for (size_t n = 0; n < bits; ++n)
      u[n] = amplitude * std::sin(2 * M_PI * kFreq * double(n) / kDsdRate);
    if (project) {
      // Input scale: PCM full scale (2^54) is a 50 % modulated stream.
      std::vector<double> pcmIn(2 * bits);
      for (size_t n = 0; n < bits; ++n)
        pcmIn[2 * n] = pcmIn[2 * n + 1] = 2.0 * u[n] * dsd::kInputFullScale;
      stream.assign(bits / 8, 0);
      std::vector<uint8_t> right(bits / 8);
      dsd::Modulator mod;
      const double idle[2] = {0.0, 0.0};
      const bool off[2] = {false, false};
      mod.run(pcmIn.data(), bits, stream.data(), right.data(), idle, off);
      ASSERT_EQ(mod.guardTrips(), 0u);
      modulatorDelay = 17;
    } else {
      stream = rcsupport::modulateOneBit(u);
    }
    const std::vector<double> h = designLowpass(kDsdRate, 44100.0, 1023, 1.0, 1);
    DsdDecimator d(h.data(), h.size(), 1, 16);
    ASSERT_TRUE(d.usesTables());
    d.push(stream.data(), stream.data(), stream.size());
    pcm.resize(2 * d.available());
    pcm.resize(2 * d.pull(pcm.data(), pcm.size() / 2));
    delay = d.delayInputFrames();
  }

  std::vector<uint8_t> stream;
  std::vector<double> pcm;
  double amplitude = 0.0;
  double delay = 0.0;
  int modulatorDelay = 0;
};

TEST_P(Dsd64To176, LevelAndFrequency) {
  const size_t first = kLead, count = size_t(1) << (kLog2Bits - 4);
  ASSERT_GE(pcm.size() / 2, first + count);
  const rcsupport::SineFit f = rcsupport::fitSine(pcm.data(), first, count, 0, kFreq, 176400.0);
  // 50 % modulation decodes to full scale.
  EXPECT_NEAR(20 * std::log10(f.amplitude / (2.0 * amplitude)), 0.0, 0.01);
  EXPECT_NEAR(rcsupport::estimateFrequency(pcm.data(), first, count, 0, kFreq, 176400.0), kFreq,
              1e-3);
  // Output k is centred (len - 1) / 2 = 511 bits after bit 16 k.
  EXPECT_DOUBLE_EQ(delay, 511.0);
  const double expectPhase = 2 * M_PI * kFreq * (16.0 * first + 511.0 - modulatorDelay) / kDsdRate;
  EXPECT_NEAR(std::remainder(f.phase - expectPhase, 2 * M_PI), 0.0, 1e-3);
}

TEST_P(Dsd64To176, InBandSnrIsKept) {
  // The bit stream itself as +-1 samples, over the same span as the output.
  const size_t n = size_t(1) << kLog2Bits;
  const size_t firstBit = 16 * kLead + 511;  // the bit output kLead is centred on
  std::vector<double> bitsPairs(2 * n);
  expandDsdToPairs(stream.data(), stream.data(), firstBit, n, bitsPairs.data());
  const double snrBits =
      rcsupport::inBandSnrDb(bitsPairs.data(), 0, kLog2Bits, 0, kFreq, kDsdRate, 20.0, 20000.0);
  const double snrPcm =
      rcsupport::inBandSnrDb(pcm.data(), kLead, kLog2Bits - 4, 0, kFreq, 176400.0, 20.0, 20000.0);
  // Kept in the XML report (--gtest_output=xml) to compare builds.
  RecordProperty("snr_bits_db", std::to_string(snrBits));
  RecordProperty("snr_pcm_db", std::to_string(snrPcm));
  EXPECT_GT(snrBits, GetParam() ? 90.0 : 70.0);
  EXPECT_NEAR(snrPcm, snrBits, 0.5) << "bits " << snrBits << " dB, pcm " << snrPcm << " dB";
}

INSTANTIATE_TEST_SUITE_P(Modulators, Dsd64To176, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "ProjectModulator" : "SecondOrder";
                         });
