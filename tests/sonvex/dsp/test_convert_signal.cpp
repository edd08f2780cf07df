// Signals through sonvexert: frequency, level and distortion of converted
// sines, seamless block joins on a sweep, and the timing of every export
// path against the analytic source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "convert_plan.h"
#include "rateconv_signals.h"
#include "rawfiles.h"
#include "sonvex.h"

using convtest::Job;
using convtest::recorder;
using testsupport::tempPath;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string writeSine24(uint32_t rate, double freq, double amp, size_t frames) {
  std::vector<uint8_t> b;
  b.reserve(frames * 6);
  for (size_t i = 0; i < frames; ++i) {
    const double x = amp * std::sin(2 * kPi * freq * double(i) / rate);
    const int32_t v = int32_t(std::lrint(x * 8388608.0));
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 3; ++k) b.push_back(uint8_t(v >> (8 * k)));
  }
  const std::string path = tempPath("sine", ".wav");
  testsupport::writeWav(path, rate, 24, 2, 1, b);
  return path;
}

// Stereo 64-bit float WAV (no quantisation in the way) of left(t), right(t).
template <typename F, typename G>
std::string writeFloatWav(uint32_t rate, size_t frames, F left, G right) {
  std::vector<uint8_t> b;
  b.reserve(frames * 16);
  for (size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate, v[2] = {left(t), right(t)};
    const auto* raw = reinterpret_cast<const uint8_t*>(v);
    b.insert(b.end(), raw, raw + 16);
  }
  const std::string path = tempPath("float", ".wav");
  testsupport::writeWav(path, rate, 64, 2, 3, b);
  return path;
}

struct Fit {
  double amplitude;
  double residualRms;
};

// Least-squares fit of a cos + b sin + c at `freq` over x[from..to).
Fit fitSine(const std::vector<double>& x, double rate, double freq, size_t from, size_t to) {
  double m[3][4] = {};
  for (size_t i = from; i < to; ++i) {
    const double w = 2 * kPi * freq * double(i) / rate;
    const double basis[3] = {std::cos(w), std::sin(w), 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
      m[r][3] += basis[r] * x[i];
    }
  }
  for (int p = 0; p < 3; ++p)
    for (int r = 0; r < 3; ++r) {
      if (r == p) continue;
      const double f = m[r][p] / m[p][p];
      for (int c = 0; c < 4; ++c) m[r][c] -= f * m[p][c];
    }
  const double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
  double e = 0;
  for (size_t i = from; i < to; ++i) {
    const double w = 2 * kPi * freq * double(i) / rate;
    const double d = x[i] - (a * std::cos(w) + b * std::sin(w) + c);
    e += d * d;
  }
  return {std::hypot(a, b), std::sqrt(e / double(to - from))};
}

// Left channel of a stream conversion, all blocks joined.
std::vector<double> streamLeft(Job& job, const std::string& src, double scale = 1.0) {
  recorder().keepPcm = true;
  const int rc = job.run(src, "");
  recorder().keepPcm = false;
  EXPECT_EQ(rc, 0);
  std::vector<double> out;
  for (const auto& b : recorder().blocks)
    for (int i = 0; i < b.frames; ++i) out.push_back(b.pcm[2 * size_t(i)] / scale);
  recorder().blocks.clear();
  return out;
}

// Left channel of a 24-bit WAV's audio.
std::vector<double> wavLeft24(const std::string& path) {
  const std::vector<uint8_t> a = convtest::audioBytes(path);
  std::vector<double> out;
  for (size_t i = 0; i + 6 <= a.size(); i += 6) {
    const int32_t v =
        int32_t(uint32_t(a[i]) << 8 | uint32_t(a[i + 1]) << 16 | uint32_t(a[i + 2]) << 24) >> 8;
    out.push_back(v / 8388608.0);
  }
  return out;
}

double db(double x) { return 20 * std::log10(x); }

}  // namespace

TEST(ConvertSignal, SineFrequencyAndLevelThroughRateChanges) {
  const double amp = 0.5;
  struct Case {
    uint32_t src;
    int code;
    double dst;
  } cases[] = {{44100, kRate48000, 48000}, {96000, kRate44100, 44100}, {48000, kRate44100, 44100}};
  for (const Case& c : cases) {
    const std::string src = writeSine24(c.src, 997, amp, c.src);  // one second
    Job job(c.code, kFileTypeWav, 24, false);
    const std::vector<double> y = streamLeft(job, src);
    ASSERT_GT(y.size(), size_t(c.dst * 0.9));
    const Fit f = fitSine(y, c.dst, 997, 2000, y.size() - 2000);
    EXPECT_NEAR(db(f.amplitude / amp), 0.0, 0.01) << c.src;
    // A wrong output frequency would leave most of the signal unexplained.
    EXPECT_LT(db(f.residualRms / (amp / std::sqrt(2.0))), -120.0) << c.src;
  }
}

TEST(ConvertSignal, ThdPlusNoiseAt24BitBothWays) {
  // 44.1 -> 48 kHz and back, written as 24-bit files.
  const double amp = std::pow(10.0, -1.0 / 20);  // -1 dBFS
  const std::string src = writeSine24(44100, 997, amp, 44100 * 2);
  const std::string up = tempPath("thd48", ".wav");
  Job j1(kRate48000, kFileTypeWav, 24);
  ASSERT_EQ(j1.run(src, up), 0);
  const std::vector<double> y = wavLeft24(up);
  const Fit f = fitSine(y, 48000, 997, 4000, y.size() - 4000);
  const double thdn = db(f.residualRms / (f.amplitude / std::sqrt(2.0)));
  EXPECT_LE(thdn, -125.0);
  EXPECT_NEAR(db(f.amplitude / amp), 0.0, 0.01);

  const std::string src48 = writeSine24(48000, 997, amp, 48000 * 2);
  const std::string down = tempPath("thd441", ".wav");
  Job j2(kRate44100, kFileTypeWav, 24);
  ASSERT_EQ(j2.run(src48, down), 0);
  const std::vector<double> z = wavLeft24(down);
  const Fit g = fitSine(z, 44100, 997, 4000, z.size() - 4000);
  EXPECT_LE(db(g.residualRms / (g.amplitude / std::sqrt(2.0))), -125.0);
  std::printf("THD+N 44.1->48: %.1f dB, 48->44.1: %.1f dB\n", thdn,
              db(g.residualRms / (g.amplitude / std::sqrt(2.0))));
}

TEST(ConvertSignal, DsdSineAtTheProjectScale) {
  // 25 % of full one-bit swing = 50 % modulation / 2: PCM level 0.5.
  const double rate = 2822400;
  const std::vector<uint8_t> l = testsupport::dsdSine(997, rate, 0.25, 2822400 / 8);
  const std::string src = tempPath("dsdsine", ".dsf");
  testsupport::writeDsf(src, 2822400, {l, l});
  Job job(kRate176400, kFileTypeWav, 24, false);
  const std::vector<double> y = streamLeft(job, src);
  ASSERT_GT(y.size(), 170000u);
  EXPECT_EQ(job.range.statusWord & kConvertEndOfSource, kConvertEndOfSource);
  const Fit f = fitSine(y, 176400, 997, 5000, y.size() - 5000);
  EXPECT_NEAR(db(f.amplitude / 0.5), 0.0, 0.01);
  // The rest is the loop's shaped noise up to the 44.1 kHz cut-off; a wrong
  // frequency would leave the tone itself in the residual.
  EXPECT_LT(db(f.residualRms / (f.amplitude / std::sqrt(2.0))), -30.0);
}

TEST(ConvertSignal, BlocksJoinWithoutGapOrRepeat) {
  // A sweep, compared frame by frame with its analytic form at the output
  // rate; the join of every block is covered, including 44.1 kHz ->
  // 22.5792 MHz, whose blocks end inside an input frame.
  struct Case {
    uint32_t src;
    int code;
    double dst;
    int taps;
    double scale;
    int method;
  } cases[] = {{44100, kRate48000, 48000, 4095, 1.0, 0},
               {44100, kRate48000, 48000, 18496, 1.0, 3},  // FFT engine
               {44100, kRateDsd512, 22579200, 16383, 18014398509481984.0, 0}};
  for (const Case& c : cases) {
    const size_t frames = c.src / 10;  // 0.1 s
    const double f0 = 200, f1 = 8000, dur = double(frames) / c.src;
    const auto sweep = [&](double t) {
      const double k = (f1 - f0) / dur;
      return 0.5 * std::sin(2 * kPi * (f0 * t + 0.5 * k * t * t));
    };
    const std::string src = writeFloatWav(c.src, frames, sweep, sweep);
    Job job(c.code, c.dst >= 2822400 ? kFileTypeDsdiff : kFileTypeWav, c.dst >= 2822400 ? 1 : 24,
            false);
    job.format.filterMethod = c.method;
    const std::vector<double> y = streamLeft(job, src, c.scale);
    ASSERT_GT(recorder().blocks.size() + y.size(), 0u);
    const uint64_t common =
        uint64_t(c.src) * uint64_t(c.dst) / std::gcd(uint64_t(c.src), uint64_t(c.dst));
    const uint64_t L = common / c.src, M = common / uint64_t(c.dst);
    const uint64_t z = uint64_t(c.taps / 2) / L;
    // Output k is centred at common-rate sample kM + taps/2 of the input
    // that starts with z zero frames.
    double worst = 0;
    size_t worstAt = 0;
    const size_t margin = size_t(0.004 * c.dst);
    for (size_t k = margin; k + margin < y.size(); ++k) {
      const double t = (double(k * M + uint64_t(c.taps / 2)) / double(L) - double(z)) / c.src;
      const double e = std::abs(y[k] - sweep(t));
      if (e > worst) {
        worst = e;
        worstAt = k;
      }
    }
    EXPECT_LT(worst, 1e-4) << c.dst << " method " << c.method << " worst at " << worstAt;
  }
}

TEST(ConvertSignal, PcmToDsdAndBack) {
  // 44.1 kHz sine -> DSD64 DSF -> 176.4 kHz PCM: full-scale PCM is 50 %
  // modulation, so the level survives the round trip.
  const double amp = 0.5;
  const std::string src = writeSine24(44100, 997, amp, 44100);
  const std::string dsf = tempPath("pcm2dsd", ".dsf");
  Job out(kRateDsd64, kFileTypeDsf, 1);
  const int rc = out.run(src, dsf);
  if (rc == kConvertErrModulator) GTEST_SKIP() << "no DSD modulator in this build";
  ASSERT_EQ(rc, 0);
  Job back(kRate176400, kFileTypeWav, 24, false);
  const std::vector<double> y = streamLeft(back, dsf);
  ASSERT_GT(y.size(), 150000u);
  const Fit f = fitSine(y, 176400, 997, 20000, y.size() - 20000);
  EXPECT_NEAR(db(f.amplitude / amp), 0.0, 0.1);
  EXPECT_LT(db(f.residualRms / (f.amplitude / std::sqrt(2.0))), -30.0);
}

namespace {

// Test signals of the timing cases: a smooth step on the left (an error
// function 0.1 ms wide at 20 ms, inside every pass band) and a 1 kHz sine on
// the right, both of amplitude 0.5.
constexpr double kStepAt = 0.02, kStepWidth = 1e-4, kToneHz = 1000;
double step(double t) { return 0.25 * (1 + std::erf((t - kStepAt) / kStepWidth)); }
double stepSlope(double t) {
  const double u = (t - kStepAt) / kStepWidth;
  return 0.5 / (kStepWidth * std::sqrt(kPi)) * std::exp(-u * u);
}
double tone(double t) { return 0.5 * std::sin(2 * kPi * kToneHz * t); }
double toneSlope(double t) { return kPi * kToneHz * std::cos(2 * kPi * kToneHz * t); }

// Delay in output samples of lane `lane` of y against s over [from, to)
// seconds (Gauss-Newton on y[k] = s(k / rate - d)); positive = late.
template <typename S, typename D>
double delayOf(const std::vector<double>& y, int lane, double rate, S s, D ds, double from,
               double to) {
  double d = 0;
  for (int it = 0; it < 4; ++it) {
    double num = 0, den = 0;
    for (size_t k = size_t(from * rate); k < size_t(to * rate) && 2 * k + 1 < y.size(); ++k) {
      const double t = double(k) / rate - d;
      num += (s(t) - y[2 * k + size_t(lane)]) * ds(t);
      den += ds(t) * ds(t);
    }
    d += num / den;
  }
  return d * rate;
}

// Interleaved output of a 32-bit float WAV.
std::vector<double> wavFloat32(const std::string& path) {
  const std::vector<uint8_t> a = convtest::audioBytes(path);
  std::vector<double> out(a.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) {
    float f;
    std::memcpy(&f, a.data() + 4 * i, 4);
    out[i] = f;
  }
  return out;
}

// Exports src to a 32-bit float WAV at rate code `code`, from source frame
// `start`.
std::vector<double> exportFloat(const std::string& src, int code, int64_t start = 0,
                                int method = 0) {
  Job job(code, kFileTypeWav, 32);
  job.range.startFrame = start;
  job.format.filterMethod = method;
  const std::string out = tempPath("timing", ".wav");
  EXPECT_EQ(job.run(src, out), 0) << src;
  return wavFloat32(out);
}

// Expects both lanes of y to be the timing signals shifted by `offset`
// seconds (the range start), within 0.01 output sample.
void expectOnTime(const std::vector<double>& y, double rate, const std::string& what,
                  double offset = 0) {
  ASSERT_GT(y.size(), size_t(2 * 0.08 * rate)) << what;
  const auto s = [&](double t) { return step(t + offset); };
  const auto ds = [&](double t) { return stepSlope(t + offset); };
  const auto u = [&](double t) { return tone(t + offset); };
  const auto du = [&](double t) { return toneSlope(t + offset); };
  const double at = kStepAt - offset;
  EXPECT_NEAR(delayOf(y, 0, rate, s, ds, at - 1e-3, at + 1e-3), 0.0, 0.01) << what << " step";
  EXPECT_NEAR(delayOf(y, 1, rate, u, du, 0.04, 0.08), 0.0, 0.01) << what << " sine";
}

std::string timingWav(uint32_t rate) { return writeFloatWav(rate, rate / 10, step, tone); }

// The timing signals as a DSF at `rate`, from a loop whose signal transfer
// is exactly 1 (one-bit amplitude 0.25 is PCM 0.5).
std::string timingDsf(uint32_t rate) {
  const size_t n = rate / 10;
  std::vector<double> l(n), r(n);
  for (size_t i = 0; i < n; ++i) {
    l[i] = step(double(i) / rate) / 2;
    r[i] = tone(double(i) / rate) / 2;
  }
  const std::string path = tempPath("timing", ".dsf");
  testsupport::writeDsf(path, rate, {rcsupport::modulateOneBit(l), rcsupport::modulateOneBit(r)});
  return path;
}

}  // namespace

TEST(ConvertTiming, PcmRateChangesAreOnTime) {
  struct Case {
    uint32_t src;
    int code;
    double dst;
  } cases[] = {{44100, kRate48000, 48000}, {44100, kRate88200, 88200},
               {44100, kRate96000, 96000}, {44100, kRate192000, 192000},
               {96000, kRate44100, 44100}, {192000, kRate48000, 48000}};
  for (const Case& c : cases) {
    const std::string src = timingWav(c.src);
    expectOnTime(exportFloat(src, c.code), c.dst,
                 std::to_string(c.src) + " -> " + std::to_string(int(c.dst)));
  }
  // Output frame 0 is the range's first source frame.
  expectOnTime(exportFloat(timingWav(44100), kRate48000, 441), 48000, "from frame 441",
               441.0 / 44100);
  expectOnTime(exportFloat(timingWav(44100), kRate48000, 0, 3), 48000, "FFT engine");
}

TEST(ConvertTiming, DsdToPcmIsOnTime) {
  const struct {
    int code;
    double dst;
  } outs[] = {{kRate44100, 44100}, {kRate88200, 88200}, {kRate176400, 176400}, {kRate48000, 48000}};
  for (uint32_t rate : {2822400u, 5644800u}) {
    const std::string src = timingDsf(rate);
    for (const auto& o : outs)
      expectOnTime(exportFloat(src, o.code), o.dst,
                   std::to_string(rate) + " -> " + std::to_string(int(o.dst)));
  }
}

TEST(ConvertTiming, DsdOutputsAreOnTime) {
  const std::string src = timingWav(44100), dsf = tempPath("timing64", ".dsf");
  const int rc = Job(kRateDsd64, kFileTypeDsf, 1).run(src, dsf);
  if (rc == kConvertErrModulator) GTEST_SKIP() << "no DSD modulator in this build";
  ASSERT_EQ(rc, 0);
  expectOnTime(exportFloat(dsf, kRate44100), 44100, "44.1k -> DSD64 -> 44.1k");
  const std::string precise = tempPath("timing_precise", ".dsf");
  ASSERT_EQ(setDsdExportModulator(kDsdModulatorPrecision), 0);
  EXPECT_EQ(Job(kRateDsd64, kFileTypeDsf, 1).run(src, precise), 0);
  ASSERT_EQ(setDsdExportModulator(kDsdModulatorStandard), 0);
  expectOnTime(exportFloat(precise, kRate44100), 44100, "44.1k -> DSD64 (precision) -> 44.1k");
  const std::string d2 = tempPath("timing128", ".dsf"), d3 = tempPath("timing", ".dsf");
  EXPECT_EQ(Job(kRateDsd128, kFileTypeDsf, 1).run(dsf, d2), 0);
  expectOnTime(exportFloat(d2, kRate44100), 44100, "DSD64 -> DSD128 -> 44.1k");
  EXPECT_EQ(Job(kRateDsd64, kFileTypeDsf, 1).run(d2, d3), 0);
  expectOnTime(exportFloat(d3, kRate44100), 44100, "DSD128 -> DSD64 -> 44.1k");
  EXPECT_EQ(Job(kRateDsd64, kFileTypeDsf, 1).run(timingWav(48000), d3), 0);
  expectOnTime(exportFloat(d3, kRate48000), 48000, "48k -> DSD64 -> 48k");
  // Re-modulated at its own rate (the EQ master forbids the copy).
  uint8_t master = 1;
  EqSettings eq{};
  eq.masterOn = &master;
  const auto remodulate = [&](const std::string& out) {
    Job same(kRateDsd64, kFileTypeDsf, 1);
    same.range.eq = &eq;
    EXPECT_EQ(same.run(dsf, out), 0);
  };
  remodulate(d3);
  expectOnTime(exportFloat(d3, kRate44100), 44100, "DSD64 re-modulated -> 44.1k");

  // With tiny blocks the frames dropped at the start and the source read
  // ahead span many blocks; the bits stay the same.
  sonvex::convert::setBlockFramesLimit(8);
  const std::string small = tempPath("small", ".dsf"), smallSame = tempPath("small", ".dsf");
  EXPECT_EQ(Job(kRateDsd64, kFileTypeDsf, 1).run(src, small), 0);
  remodulate(smallSame);
  sonvex::convert::setBlockFramesLimit(0);
  EXPECT_EQ(convtest::audioBytes(small), convtest::audioBytes(dsf));
  EXPECT_EQ(convtest::audioBytes(smallSame), convtest::audioBytes(d3));
}

// A -90 dBFS tone at 16 bits spans about two steps: rounded, it turns into a
// buzz of odd harmonics; with TPDF dither it keeps its level and the
// harmonics sink into the noise.
TEST(ConvertDither, TpdfKeepsAQuietToneAndRemovesItsDistortion) {
  const double amp = std::pow(10.0, -90.0 / 20.0);
  const auto quiet = [&](double t) { return amp * std::sin(2 * kPi * 1000.0 * t); };
  const std::string src = writeFloatWav(44100, 44100, quiet, quiet);
  auto export16 = [&](int dither) {
    EXPECT_EQ(setPcmExportDither(dither), 0);
    Job job(kRate44100, kFileTypeWav, 16);
    const std::string out = tempPath("dither", ".wav");
    EXPECT_EQ(job.run(src, out), 0);
    EXPECT_EQ(setPcmExportDither(kPcmDitherNone), 0);
    const std::vector<uint8_t> a = convtest::audioBytes(out);
    std::vector<double> left;
    for (size_t i = 0; i + 4 <= a.size(); i += 4)
      left.push_back(int16_t(a[i] | a[i + 1] << 8) / 32768.0);
    return left;
  };
  // Noise from the bins halfway between the lines a 1 kHz tone's error can
  // have (100 Hz apart: its pattern repeats every 441 samples).
  auto noise = [](const std::vector<double>& x) {
    double sum = 0;
    for (int k = 1; k <= 50; ++k) sum += fitSine(x, 44100, 100.0 * k - 50.0, 0, x.size()).amplitude;
    return sum / 50;
  };
  // The strongest of those lines up to 5 kHz, the tone's own left out.
  auto strongestLine = [](const std::vector<double>& x) {
    double m = 0;
    for (int k = 1; k <= 50; ++k)
      if (k != 10) m = std::max(m, fitSine(x, 44100, 100.0 * k, 0, x.size()).amplitude);
    return m;
  };
  const std::vector<double> plain = export16(kPcmDitherNone), dithered = export16(kPcmDitherTpdf);
  ASSERT_EQ(dithered.size(), 44100u);
  EXPECT_GT(strongestLine(plain), 10 * noise(dithered));
  EXPECT_LT(strongestLine(dithered), 5 * noise(dithered));
  EXPECT_NEAR(db(fitSine(dithered, 44100, 1000.0, 0, 44100).amplitude / amp), 0.0, 0.1);
  EXPECT_EQ(export16(kPcmDitherTpdf), dithered);  // the same noise every run
  EXPECT_EQ(setPcmExportDither(7), kConvertErrPcmPack);
}
