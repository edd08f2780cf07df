// The eighth-order precision modulator: in-band SNR, stability from silence
// to full scale and beyond, idle-tone-free silence, recovery after an
// overload, the splice back to the source, and its choice per export
// through the C interface (the default export unchanged).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "convert_harness.h"
#include "dsdstage.h"
#include "fft.h"
#include "rateconv_signals.h"
#include "rawfiles.h"

using namespace sonvex::dsd;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr double kPi = 3.14159265358979323846;

enum class Signal { Silence, Sine, Noise, Square };

// pcm pairs at the input scale; amplitude in PCM full scale.
std::vector<double> make(Signal s, size_t frames, double rate, double amplitude,
                         double freq = 997) {
  std::vector<double> pcm(2 * frames);
  std::mt19937_64 rng(3);
  std::normal_distribution<double> gauss(0.0, 0.3);
  for (size_t n = 0; n < frames; ++n) {
    const double ph = std::sin(2 * kPi * freq * double(n) / rate);
    double x = 0;
    if (s == Signal::Sine) x = ph;
    if (s == Signal::Square) x = ph >= 0 ? 1 : -1;
    if (s == Signal::Noise) x = std::max(-1.0, std::min(1.0, gauss(rng)));
    pcm[2 * n] = pcm[2 * n + 1] = amplitude * x * kInputFullScale;
  }
  return pcm;
}

struct Run {
  Bytes l, r;
  uint64_t trips;
  double peak;
};

Run modulate(const std::vector<double>& pcm, uint32_t rate, size_t block = 40000) {
  OutputStage st;
  EXPECT_TRUE(st.prepare(block));
  st.setModulator(ModulatorKind::Precision, rate);
  st.reset(false, 0);
  const size_t frames = pcm.size() / 2;
  Run out{Bytes((frames + 7) / 8), Bytes((frames + 7) / 8), 0, 0};
  for (size_t at = 0; at < frames; at += block) {
    const size_t n = std::min(block, frames - at);
    EXPECT_EQ(st.processBlock(pcm.data() + 2 * at, n, BlockLevel::constant(1.0), nullptr, nullptr,
                              out.l.data() + at / 8, out.r.data() + at / 8),
              kStageOk);
  }
  out.trips = st.precision().guardTrips();
  out.peak = st.precision().peakState();
  return out;
}

// +-1 per bit, as pairs (left, right), from bit `first`.
std::vector<double> pairsOf(const Run& run, size_t first = 0) {
  const size_t frames = 8 * run.l.size() - first;
  std::vector<double> x(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const size_t k = first + n;
    x[2 * n] = (run.l[k / 8] >> (7 - k % 8)) & 1 ? 1.0 : -1.0;
    x[2 * n + 1] = (run.r[k / 8] >> (7 - k % 8)) & 1 ? 1.0 : -1.0;
  }
  return x;
}

// Four cascaded 16-sample moving averages: a cheap decoder that removes
// most of the noise above the band; droop() is its gain at freq.
constexpr int kAverage = 16;
std::vector<double> smooth(std::vector<double> x) {
  for (int pass = 0; pass < 4; ++pass) {
    double acc[2] = {0, 0};
    std::vector<double> y(x.size());
    for (size_t n = 0; n < x.size() / 2; ++n)
      for (int c = 0; c < 2; ++c) {
        acc[c] += x[2 * n + c] - (n >= kAverage ? x[2 * (n - kAverage) + c] : 0.0);
        y[2 * n + c] = acc[c] / kAverage;
      }
    x.swap(y);
  }
  return x;
}
double droop(double freq, double rate) {
  const double w = kPi * freq / rate;
  return std::pow(std::sin(kAverage * w) / (kAverage * std::sin(w)), 4);
}

double snrDb(const Run& run, double rate) {
  const auto x = pairsOf(run, 8 * run.l.size() - (size_t(1) << 20));
  return rcsupport::inBandSnrDb(x.data(), 0, 20, 0, 997, rate, 20, 20000);
}

TEST(PrecisionModulator, InBandSnrAtDsd64And128) {
  // 997 Hz over 20 Hz..20 kHz; the fixed loop gives 98.6 dB (-6 dBFS) and
  // 71.7 dB (0 dBFS) at DSD64, 132 dB at DSD128 (-6 dBFS).
  const size_t frames = (size_t(1) << 20) + 100000;
  EXPECT_GT(snrDb(modulate(make(Signal::Sine, frames, 2822400, 0.5), 2822400), 2822400), 130.0);
  EXPECT_GT(snrDb(modulate(make(Signal::Sine, frames, 2822400, 1.0), 2822400), 2822400), 130.0);
  EXPECT_GT(snrDb(modulate(make(Signal::Sine, frames, 5644800, 0.5), 5644800), 5644800), 150.0);
}

TEST(PrecisionModulator, StableFromSilenceToFullScaleOnSinesNoiseAndSquares) {
  // Inside the stable range the guard never trips and the last state stays
  // far below its limit; sines keep their level to 0.01 dB. Squares at
  // +6 dBFS are clipped at the input limit and stay stable too.
  struct Case {
    Signal s;
    double amplitude;
  } cases[] = {{Signal::Silence, 0}, {Signal::Sine, 0.001}, {Signal::Sine, 1.0},
               {Signal::Sine, 1.09}, {Signal::Noise, 1.0},  {Signal::Square, 1.0},
               {Signal::Square, 2.0}};
  for (uint32_t rate : {2822400u, 11289600u})
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << rate << " " << int(c.s) << " " << c.amplitude);
      const auto run = modulate(make(c.s, size_t(1) << 20, rate, c.amplitude), rate);
      EXPECT_EQ(run.trips, 0u);
      EXPECT_LT(run.peak, 2.0);
      if (c.s == Signal::Sine && c.amplitude >= 1.0) {
        const auto y = smooth(pairsOf(run));
        const auto fit = rcsupport::fitSine(y.data(), 200000, 800000, 1, 997, rate);
        EXPECT_NEAR(20 * std::log10(2 * fit.amplitude / droop(997, rate) / c.amplitude), 0.0, 0.01);
      }
    }
}

TEST(PrecisionModulator, SilenceHasNoIdleTones) {
  // In-band spectrum of digital silence: no line stands out of its
  // neighbourhood (+-64 bins) by 15 dB; noise alone exceeds that with a
  // probability of about 1e-14 per bin, an idle tone by far.
  const uint32_t log2n = 20;
  const size_t n = size_t(1) << log2n;
  const auto run = modulate(make(Signal::Silence, n + 50000, 2822400, 0), 2822400);
  const auto x = pairsOf(run, 50000);
  std::vector<double> buf(2 * n);
  for (size_t i = 0; i < n; ++i)
    buf[2 * i] = x[2 * i] * (0.5 - 0.5 * std::cos(2 * kPi * double(i) / double(n)));
  sonvex::Fft(log2n).forward(buf.data());
  std::vector<double> p(n / 2);
  for (size_t k = 0; k < n / 2; ++k)
    p[k] = buf[2 * k] * buf[2 * k] + buf[2 * k + 1] * buf[2 * k + 1];
  double worst = -100;
  for (size_t k = 200 * n / 2822400; k < 20000 * n / 2822400; ++k) {
    double local = 0;
    for (size_t j = k - 64; j <= k + 64; ++j) local += p[j];
    worst = std::max(worst, 10 * std::log10(p[k] * 129 / local));
  }
  EXPECT_LT(worst, 15.0);
  EXPECT_EQ(run.trips, 0u);
}

TEST(PrecisionModulator, QuietToneReturnsToItsLevelWithin10msOfAnOverload) {
  // 0.1 s at +6 dBFS, then -20 dBFS: the overload is clipped at the input,
  // not ducked, so 10 ms later the tone has its own level again.
  const double rate = 2822400;
  const size_t over = 282240, total = over + 200000;
  auto pcm = make(Signal::Sine, total, rate, 2.0);
  for (size_t n = 2 * over; n < pcm.size(); ++n) pcm[n] *= 0.05;
  const auto y = smooth(pairsOf(modulate(pcm, 2822400)));
  const size_t after = over + size_t(0.01 * rate);
  const auto fit = rcsupport::fitSine(y.data(), after, 56448, 0, 997, rate);
  EXPECT_NEAR(20 * std::log10(2 * fit.amplitude / droop(997, rate) / 0.1), 0.0, 0.05);
}

TEST(PrecisionModulator, FadeToSilenceAndBackStaysStable) {
  // A fade from 0 dBFS through the idle-pattern mix to level 0 (idle
  // bytes) and up again: the guard never trips and the tone comes back.
  OutputStage st;
  const size_t block = 8192;
  ASSERT_TRUE(st.prepare(block));
  st.setModulator(ModulatorKind::Precision, 2822400);
  st.reset(false, 0);
  Bytes l(block / 8), r(block / 8);
  for (int b = 0; b < 260; ++b) {
    const double level = b < 200 ? std::max(0.0, 1.0 - b / 190.0) : (b - 230) / 30.0;
    auto pcm = make(Signal::Sine, block, 2822400, std::max(level, 0.0));
    ASSERT_EQ(st.processBlock(pcm.data(), block, BlockLevel::constant(std::max(level, 0.0)),
                              nullptr, nullptr, l.data(), r.data()),
              kStageOk);
    if (level <= 0) {
      EXPECT_EQ(l, Bytes(block / 8, kIdleByte)) << b;
    }
  }
  EXPECT_NE(l, Bytes(block / 8, kIdleByte));
  EXPECT_EQ(st.precision().guardTrips(), 0u);
  EXPECT_LT(st.precision().peakState(), 2.0);
}

TEST(PrecisionModulator, NanAndInfinityDoNotStick) {
  // Garbage in one block; the next second of a sine is modulated at its
  // level again.
  const double rate = 2822400;
  auto pcm = make(Signal::Sine, 400000, rate, 0.5);
  for (size_t n = 1000; n < 1100; ++n) pcm[n] = n % 3 ? NAN : -INFINITY;
  pcm[2001] = INFINITY;
  const auto y = smooth(pairsOf(modulate(pcm, 2822400)));
  for (int c = 0; c < 2; ++c) {
    const auto fit = rcsupport::fitSine(y.data(), 100000, 282240, c, 997, rate);
    EXPECT_NEAR(20 * std::log10(2 * fit.amplitude / droop(997, rate) / 0.5), 0.0, 0.01) << c;
  }
}

// Source bits for the splice: a DSD64 two-tone from the fixed loop.
Bytes sourceBits(size_t frames, double freq) {
  Modulator m;
  auto pcm = make(Signal::Sine, frames, 2822400, 0.45, freq);
  Bytes l(frames / 8), r(frames / 8);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  m.run(pcm.data(), frames, l.data(), r.data(), t, none);
  return l;
}

TEST(PrecisionModulator, ReturnToTheSourceIsBitExactAfterTheSplice) {
  // A same-rate DSD source at level 0.5 for a while (re-modulated by the
  // precision loop, samples at +-2^55 through its input low-pass), then 1.0:
  // from the splice on the output is the source delayed by 17 bits, and
  // before it the modulated stream, with nothing lost or repeated.
  const size_t block = 8 * 5000, frames = 12 * block;
  const Bytes src = sourceBits(frames, 1000);
  OutputStage st;
  ASSERT_TRUE(st.prepare(block));
  st.setModulator(ModulatorKind::Precision, 2822400);
  st.reset(true, 0);
  Bytes out(frames / 8), mod(frames / 8);
  std::vector<double> pcm(2 * block);
  for (size_t at = 0; at < frames; at += block) {
    const double level = at >= block && at < 4 * block ? 0.5 : 1.0;
    for (size_t n = 0; n < block; ++n) {
      const int bit = (src[(at + n) / 8] >> (7 - (at + n) % 8)) & 1;
      pcm[2 * n] = pcm[2 * n + 1] = (4.0 * bit - 2.0) * kInputFullScale * level;
    }
    Bytes right(block / 8);
    ASSERT_EQ(st.processBlock(pcm.data(), block, BlockLevel::constant(level), src.data() + at / 8,
                              src.data() + at / 8, out.data() + at / 8, right.data()),
              kStageOk);
    std::memcpy(mod.data() + at / 8, st.lastModulated(0), block / 8);
  }
  const long splice = st.channel(0).splicedAt;
  ASSERT_GE(splice, long(4 * block));
  auto bit = [](const Bytes& b, size_t n) { return (b[n / 8] >> (7 - n % 8)) & 1; };
  auto y = [&](size_t n) { return n >= 17 ? bit(src, n - 17) : (0x96 >> (7 - (n + 15) % 8)) & 1; };
  size_t differ = 0;
  for (size_t n = block; n < size_t(splice); ++n) {
    ASSERT_EQ(bit(out, n), bit(mod, n)) << n;
    differ += bit(out, n) != y(n);
  }
  for (size_t n = size_t(splice); n < frames; ++n) ASSERT_EQ(bit(out, n), y(n)) << n;
  EXPECT_GT(differ, 1000u);  // it really was re-modulated
  EXPECT_EQ(st.precision().guardTrips(), 0u);
}

TEST(PrecisionModulator, ChosenPerExportThroughTheCInterface) {
  // Default: the fixed loop, bit for bit as before; the precision loop
  // when chosen, with the level of a 997 Hz tone kept within 0.05 dB
  // through PCM -> DSD64 -> PCM.
  EXPECT_EQ(getDsdExportModulator(), kDsdModulatorStandard);
  EXPECT_EQ(setDsdExportModulator(7), kConvertErrModulator);
  const std::string wav = testsupport::tempPath("precision_src", ".wav");
  Bytes data;
  const double amp = 0.5;
  for (size_t n = 0; n < 44100; ++n) {
    const int32_t s = int32_t(std::lround(amp * 8388607.0 * std::sin(2 * kPi * 997 * n / 44100.0)));
    for (int c = 0; c < 2; ++c)
      for (int b = 0; b < 3; ++b) data.push_back(uint8_t(s >> (8 * b)));
  }
  testsupport::writeWav(wav, 44100, 24, 2, 1, data);
  Bytes dsd[3][2];
  const int kinds[3] = {-1, kDsdModulatorStandard, kDsdModulatorPrecision};
  double level = 0;
  for (int i = 0; i < 3; ++i) {
    if (kinds[i] >= 0) {
      ASSERT_EQ(setDsdExportModulator(kinds[i]), 0);
    }
    const std::string dsf = testsupport::tempPath("precision_" + std::to_string(i), ".dsf");
    convtest::Job job(kRateDsd64, kFileTypeDsf, 1);
    ASSERT_EQ(job.run(wav, dsf), 0);
    convtest::dsfChannels(dsf, &dsd[i][0], &dsd[i][1]);
    if (i == 2) {
      const std::string back = testsupport::tempPath("precision_back", ".wav");
      convtest::Job decode(kRate88200, kFileTypeWav, 32);
      ASSERT_EQ(decode.run(dsf, back), 0);
      const Bytes pcm = convtest::audioBytes(back);
      std::vector<double> x(pcm.size() / 4);
      for (size_t k = 0; k < x.size(); ++k) {
        float f;
        std::memcpy(&f, &pcm[4 * k], 4);
        x[k] = f;
      }
      level = rcsupport::fitSine(x.data(), 20000, 44100, 0, 997, 88200).amplitude;
      std::remove(back.c_str());
    }
    std::remove(dsf.c_str());
  }
  std::remove(wav.c_str());
  ASSERT_EQ(setDsdExportModulator(kDsdModulatorStandard), 0);
  EXPECT_EQ(dsd[0][0], dsd[1][0]);
  EXPECT_EQ(dsd[0][1], dsd[1][1]);
  EXPECT_NE(dsd[0][0], dsd[2][0]);
  EXPECT_NEAR(20 * std::log10(level / amp), 0.0, 0.05);
}

}  // namespace
