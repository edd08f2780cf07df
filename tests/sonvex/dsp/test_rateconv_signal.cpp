// Signals through the polyphase engine with the filters the conversion
// designs: level, frequency and timing of a sine, THD+N at 24 bits, and the
// measured response against the designed prototype.
#include <gtest/gtest.h>

#include <cmath>

#include "rateconv.h"
#include "rateconv_signals.h"

using namespace sonvex;

namespace {

struct Conversion {
  uint32_t src, dst, L, M;
  int taps;  // by the length rule
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.src << " -> " << c.dst; }

std::vector<double> prototypeFor(const Conversion& c) {
  const double fc = std::min(c.src, c.dst) * 0.9 * 0.5;
  return designLowpass(double(c.src) * c.L, fc, c.taps, 1.0, c.L);
}

// Runs `in` through the engine in the pipeline's block size.
std::vector<double> convert(const Conversion& c, const std::vector<double>& h,
                            const std::vector<double>& in, size_t outFrames) {
  PolyphaseResampler r(h.data(), h.size(), c.L, c.M);
  const size_t capacity = 1505280 / (8 * c.M);
  std::vector<double> out(2 * outFrames);
  size_t at = 0, done = 0;
  while (done < outFrames) {
    const size_t want = std::min(capacity, outFrames - done);
    const size_t need = size_t(r.inputNeeded(want));
    const size_t have = std::min(need, in.size() / 2 - at);
    r.push(in.data() + 2 * at, have);
    r.pushZeros(need - have);
    at += have;
    done += r.pull(out.data() + 2 * done, want);
  }
  return out;
}

const Conversion k44to48{44100, 48000, 160, 147, 4095};
const Conversion k48to44{48000, 44100, 147, 160, 4095};
const Conversion k96to44{96000, 44100, 147, 320, 8191};

}  // namespace

class SineThrough : public ::testing::TestWithParam<Conversion> {};

TEST_P(SineThrough, LevelFrequencyAndTiming) {
  const Conversion c = GetParam();
  const std::vector<double> h = prototypeFor(c);
  const double amp = 0.5;
  const std::vector<double> in = rcsupport::sinePairs(997.0, c.src, c.src, amp);  // 1 s
  const std::vector<double> out = convert(c, h, in, c.dst);
  // Skip the filter's start and end.
  const size_t first = c.dst / 10, count = c.dst * 8 / 10;
  const rcsupport::SineFit f = rcsupport::fitSine(out.data(), first, count, 0, 997.0, c.dst);
  EXPECT_NEAR(20 * std::log10(f.amplitude / amp), 0.0, 0.01);
  EXPECT_NEAR(rcsupport::estimateFrequency(out.data(), first, count, 1, 997.0, c.dst), 997.0, 1e-4);
  // Output k is centred (len - 1) / 2 common-rate samples after k M.
  const double t = (double(first) * c.M + (h.size() - 1) / 2.0) / (double(c.src) * c.L);
  EXPECT_NEAR(std::remainder(f.phase - 2 * M_PI * 997.0 * t, 2 * M_PI), 0.0, 1e-6);
  EXPECT_LT(std::fabs(f.dc), 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Rates, SineThrough, ::testing::Values(k44to48, k48to44, k96to44),
                         [](const ::testing::TestParamInfo<Conversion>& i) {
                           return std::to_string(i.param.src) + "to" + std::to_string(i.param.dst);
                         });

class ThdN24Bit : public ::testing::TestWithParam<Conversion> {};

TEST_P(ThdN24Bit, AtMostMinus125dB) {
  const Conversion c = GetParam();
  const std::vector<double> h = prototypeFor(c);
  const double amp = std::pow(10.0, -1.0 / 20);  // -1 dBFS
  std::vector<double> in = rcsupport::sinePairs(997.0, c.src, 2 * c.src, amp);
  for (double& x : in) x = rcsupport::quantise(x, 24);
  std::vector<double> out = convert(c, h, in, 2 * c.dst);
  for (double& x : out) x = rcsupport::quantise(x, 24);
  const uint32_t log2n = 16;
  const size_t first = c.dst / 5;
  ASSERT_GE(out.size() / 2, first + (size_t(1) << log2n));
  const double snr =
      rcsupport::inBandSnrDb(out.data(), first, log2n, 0, 997.0, c.dst, 20.0, 20000.0);
  EXPECT_LE(-snr, -125.0) << "THD+N " << -snr << " dB";
}

INSTANTIATE_TEST_SUITE_P(Rates, ThdN24Bit, ::testing::Values(k44to48, k48to44),
                         [](const ::testing::TestParamInfo<Conversion>& i) {
                           return std::to_string(i.param.src) + "to" + std::to_string(i.param.dst);
                         });

class SweepResponse : public ::testing::TestWithParam<Conversion> {};

TEST_P(SweepResponse, MatchesThePrototypeWithinOneHundredthDb) {
  const Conversion c = GetParam();
  const std::vector<double> h = prototypeFor(c);
  const double rc = double(c.src) * c.L;
  const double nyquist = std::min(c.src, c.dst) / 2.0;
  int measured = 0, belowMinus40 = 0;
  // Stepped sweep, third-octave steps plus dense points through the
  // transition band (the filter is -3 dB near 18.9 kHz by design).
  std::vector<double> freqs;
  for (double f = 20.0; f < 16000.0; f *= std::pow(2.0, 1.0 / 3)) freqs.push_back(f);
  for (double f = 16000.0; f < nyquist - 200.0; f += 250.0) freqs.push_back(f);
  for (double f : freqs) {
    const double designed = prototypeResponse(h.data(), h.size(), rc, f) / c.L;
    const double designedDb = 20 * std::log10(designed);
    if (designedDb <= -40.0) {
      ++belowMinus40;
      continue;
    }
    const std::vector<double> in = rcsupport::sinePairs(f, c.src, c.src / 2, 0.5);
    const std::vector<double> out = convert(c, h, in, c.dst / 2);
    const size_t first = c.dst / 20, count = c.dst * 2 / 5;
    const rcsupport::SineFit fit = rcsupport::fitSine(out.data(), first, count, 0, f, c.dst);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 0.5), designedDb, 0.01) << f << " Hz";
    ++measured;
  }
  EXPECT_GT(measured, 40);
  const double at18900 = prototypeResponse(h.data(), h.size(), rc, 18900.0) / c.L;
  EXPECT_NEAR(20 * std::log10(at18900), -3.0, 0.5);
  (void)belowMinus40;
}

INSTANTIATE_TEST_SUITE_P(Rates, SweepResponse, ::testing::Values(k44to48, k48to44, k96to44),
                         [](const ::testing::TestParamInfo<Conversion>& i) {
                           return std::to_string(i.param.src) + "to" + std::to_string(i.param.dst);
                         });
