// DSD export through sonvexert and the shared output stage: pass-through,
// re-modulation, idle, the splice back to the source bits, overload, and
// every export direction (PCM -> DSD at three rates, DSD rate changes, EQ).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "convert_harness.h"
#include "dsdstage.h"
#include "rawfiles.h"

using convtest::Job;
using convtest::recorder;
using testsupport::tempPath;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kEnd = std::numeric_limits<int64_t>::max();

int bitAt(const Bytes& b, size_t n) { return (b[n / 8] >> (7 - n % 8)) & 1; }

bool sameBits(const Bytes& a, const Bytes& b, size_t from, size_t to) {
  for (size_t n = from; n < to; ++n)
    if (bitAt(a, n) != bitAt(b, n)) return false;
  return true;
}

// Amplitude of the tone at freq in a +-1 bit stream (one DFT bin over a
// whole number of cycles, skipping `skip` leading bits).
double toneAmplitude(const Bytes& bits, double rate, double freq, size_t skip = 0) {
  const double cycle = rate / freq;
  const size_t n = size_t(std::floor(double(8 * bits.size() - skip) / cycle) * cycle);
  std::complex<double> acc = 0;
  const double w = 2 * kPi * freq / rate;
  for (size_t i = 0; i < n; ++i) {
    const double x = bitAt(bits, skip + i) ? 1.0 : -1.0;
    acc += x * std::polar(1.0, -w * double(i));
  }
  return 2.0 * std::abs(acc) / double(n);
}

// Two 1-bit channels at DSD64 from the library's own modulator (a tone per
// channel at `amp` of PCM full scale).
void dsdSource(size_t bytes, double amp, Bytes* l, Bytes* r) {
  sonvex::dsd::Modulator m;
  const size_t frames = 8 * bytes;
  std::vector<double> pcm(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const double t = double(n) / 2822400.0;
    pcm[2 * n] = amp * sonvex::dsd::kInputFullScale * std::sin(2 * kPi * 1000 * t);
    pcm[2 * n + 1] = amp * sonvex::dsd::kInputFullScale * std::sin(2 * kPi * 2000 * t);
  }
  l->assign(bytes, 0);
  r->assign(bytes, 0);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  m.run(pcm.data(), frames, l->data(), r->data(), t, none);
}

// 24-bit stereo WAV with a sine at `amp` of full scale.
void sineWav(const std::string& path, double seconds, double freq, double amp) {
  const size_t frames = size_t(seconds * 44100);
  Bytes data;
  for (size_t n = 0; n < frames; ++n) {
    const int32_t s =
        int32_t(std::lround(amp * 8388607.0 * std::sin(2 * kPi * freq * double(n) / 44100)));
    for (int c = 0; c < 2; ++c) {
      data.push_back(uint8_t(s));
      data.push_back(uint8_t(s >> 8));
      data.push_back(uint8_t(s >> 16));
    }
  }
  testsupport::writeWav(path, 44100, 24, 2, 1, data);
}

void channelsOf(const std::string& path, int type, Bytes* l, Bytes* r) {
  if (type == kFileTypeDsf) {
    convtest::dsfChannels(path, l, r);
    return;
  }
  const Bytes all = convtest::audioBytes(path);
  l->clear();
  r->clear();
  for (size_t i = 0; i + 1 < all.size(); i += 2) {
    l->push_back(all[i]);
    r->push_back(all[i + 1]);
  }
}

// Drops the block records' memory between tests (the recorder is global).
struct RecorderReset {
  ~RecorderReset() {
    recorder().keepPcm = recorder().keepDsd = false;
    recorder().blocks.clear();
  }
};

TEST(DsdStageExport, SameRateCopiesExactlyAndLevelActiveLeavesTheCopy) {
  Bytes l, r;
  dsdSource(30000, 0.5, &l, &r);
  for (int type : {kFileTypeDsf, kFileTypeDsdiff}) {
    SCOPED_TRACE(type);
    const std::string ext = type == kFileTypeDsf ? ".dsf" : ".dff";
    const std::string src = tempPath("src", ext), copy = tempPath("copy", ext),
                      remod = tempPath("remod", ext);
    if (type == kFileTypeDsf)
      testsupport::writeDsf(src, 2822400, {l, r});
    else
      testsupport::writeDsdiff(src, 2822400, {l, r});
    Job job(kRateDsd64, type, 1);
    ASSERT_EQ(job.run(src, copy), 0);
    Bytes ol, orr;
    channelsOf(copy, type, &ol, &orr);
    EXPECT_EQ(ol, l);
    EXPECT_EQ(orr, r);

    // levelActive at a flat 1.0: the stage's own pass-through, on the
    // source's time axis, so the copy again.
    Job flat(kRateDsd64, type, 1);
    flat.range.levelActive = 1;
    ASSERT_EQ(flat.run(src, remod), 0);
    channelsOf(remod, type, &ol, &orr);
    EXPECT_EQ(ol, l);
    EXPECT_EQ(orr, r);

    // levelActive with the level held at 0.5: re-modulated at half the level.
    Job half(kRateDsd64, type, 1);
    half.range.levelActive = 1;
    half.envelope[0] = {0, 0.5, 0.0, 0, 0};
    half.envelope[1] = {kEnd, 0.5, 0.0, 0, 0};
    ASSERT_EQ(half.run(src, remod), 0);
    channelsOf(remod, type, &ol, &orr);
    ASSERT_EQ(ol.size(), l.size());
    EXPECT_NE(ol, l);
    EXPECT_NEAR(toneAmplitude(ol, 2822400, 1000), 0.5 * toneAmplitude(l, 2822400, 1000), 0.002);
    EXPECT_NEAR(toneAmplitude(orr, 2822400, 2000), 0.5 * toneAmplitude(r, 2822400, 2000), 0.002);
  }
}

TEST(DsdStageExport, ZeroLevelGivesTheIdlePatternOnBothChannels) {
  Bytes l, r;
  dsdSource(50000, 0.5, &l, &r);
  const std::string src = tempPath("z", ".dsf");
  testsupport::writeDsf(src, 2822400, {l, r});
  for (int type : {kFileTypeDsf, kFileTypeDsdiff}) {
    const std::string out = tempPath("z-out", type == kFileTypeDsf ? ".dsf" : ".dff");
    Job job(kRateDsd64, type, 1);
    job.range.levelActive = 1;
    job.envelope[0] = {0, 0.0, 0.0, 0, 0};
    job.envelope[1] = {kEnd, 0.0, 0.0, 0, 0};
    ASSERT_EQ(job.run(src, out), 0);
    Bytes ol, orr;
    channelsOf(out, type, &ol, &orr);
    ASSERT_EQ(ol.size(), l.size());
    for (size_t i = 0; i < ol.size(); ++i) {
      ASSERT_EQ(ol[i], 0x96) << i;
      ASSERT_EQ(orr[i], 0x96) << i;
    }
  }
}

TEST(DsdStageExport, FadeThatReturnsToUnityEndsInTheSourceBits) {
  RecorderReset cleanup;
  Bytes l, r;
  dsdSource(200000, 0.45, &l, &r);  // 1.6 M samples: several 188160-frame blocks
  const std::string src = tempPath("fade", ".dsf"), out = tempPath("fade-out", ".dsf");
  testsupport::writeDsf(src, 2822400, {l, r});
  Job job(kRateDsd64, kFileTypeDsf, 1);
  job.range.levelActive = 1;
  // 1.0 until 250000, down to 0.6 by 290000, hold, up from 500000 to 1.0 at 540000.
  job.envelope[0] = {0, 1.0, 0.0, 0, 0};
  job.envelope[1] = {250000, 1.0, -0.4 / 40000, 1, 0};
  job.envelope[2] = {290000, 0.6, 0.0, 0, 0};
  job.envelope[3] = {500000, 0.6, 0.4 / 40000, 1, 0};
  job.envelope[4] = {540000, 1.0, 0.0, 0, 0};
  job.envelope[5] = {kEnd, 1.0, 0.0, 0, 0};
  recorder().keepPcm = true;
  ASSERT_EQ(job.run(src, out), 0);
  Bytes ol, orr;
  convtest::dsfChannels(out, &ol, &orr);
  ASSERT_EQ(ol.size(), l.size());

  // The modulated stream, rebuilt from the blocks the stage was given.
  const size_t frames = 8 * l.size();
  Bytes ml(l.size()), mr(l.size());
  std::vector<size_t> starts;
  {
    sonvex::dsd::Modulator m;
    const double t[2] = {0, 0};
    const bool none[2] = {false, false};
    size_t at = 0;
    for (const auto& b : recorder().blocks) {
      starts.push_back(at);
      m.run(b.pcm.data(), size_t(b.frames), ml.data() + at / 8, mr.data() + at / 8, t, none);
      at += size_t(b.frames);
    }
    ASSERT_EQ(at, frames);
  }
  size_t leave = 0, search = 0;
  for (size_t s : starts) {
    if (s <= 250000) leave = s;
    if (search == 0 && s >= 540000) search = s;
  }
  ASSERT_GT(search, leave);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c);
    const Bytes& o = c == 0 ? ol : orr;
    const Bytes& mod = c == 0 ? ml : mr;
    const Bytes& y = c == 0 ? l : r;
    // First run of 8 agreeing bits from the search's start.
    size_t run = 0, splice = 0;
    for (size_t n = search; n < frames; ++n) {
      run = bitAt(mod, n) == bitAt(y, n) ? run + 1 : 0;
      if (run == 8) {
        splice = std::max(n - 7, search);
        break;
      }
    }
    ASSERT_GT(splice, 0u);
    // Source until the block that starts the fade, modulated bits from that
    // block to the splice, the source bit-exact from the splice to the end:
    // one time axis, so nothing is dropped or repeated at either switch.
    EXPECT_TRUE(sameBits(o, y, 0, leave));
    EXPECT_TRUE(sameBits(o, mod, leave, splice));
    EXPECT_TRUE(sameBits(o, y, splice, frames));
    EXPECT_FALSE(sameBits(o, y, leave, splice));
    EXPECT_LT(splice, search + 1000);
  }
}

TEST(DsdStageExport, OverloadTripsTheGuardAndTheExportCarriesOn) {
  RecorderReset cleanup;
  const std::string src = tempPath("loud", ".wav"), out = tempPath("loud-out", ".dsf");
  sineWav(src, 0.5, 997, 1.0);
  Job job(kRateDsd64, kFileTypeDsf, 1);
  job.matrix = ChannelMatrix{{2.0, 0.0, 0.0, 2.0}};  // +6 dB over full scale
  recorder().keepPcm = true;
  ASSERT_EQ(job.run(src, out), 0);
  Bytes ol, orr;
  convtest::dsfChannels(out, &ol, &orr);
  ASSERT_GT(ol.size(), size_t(0.45 * 2822400 / 8));
  // The same blocks through a modulator of our own give the same bits, and
  // that one reports the guard's trips.
  sonvex::dsd::Modulator m;
  Bytes ml(ol.size()), mr(ol.size());
  size_t at = 0;
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  for (const auto& b : recorder().blocks) {
    m.run(b.pcm.data(), size_t(b.frames), ml.data() + at / 8, mr.data() + at / 8, t, none);
    at += size_t(b.frames);
  }
  EXPECT_EQ(ml, ol);
  EXPECT_EQ(mr, orr);
  EXPECT_GT(m.guardTrips(), 0u);
  // Output keeps going: no stuck stretch, and the tone is there, clipped
  // near full scale (amplitude 0.5 of the +-1 stream).
  for (size_t j = 0; j + 8 <= ol.size(); j += 8) {
    int ones = 0;
    for (size_t k = j; k < j + 8; ++k) ones += __builtin_popcount(ol[k]);
    ASSERT_TRUE(ones > 0 && ones < 64) << j;
  }
  const double a = toneAmplitude(ol, 2822400, 997, 80000);
  EXPECT_GT(a, 0.5);
  EXPECT_LT(a, 0.75);
}

TEST(DsdStageExport, FullScaleSineSwingsBetweenQuarterAndThreeQuarterOnes) {
  const std::string src = tempPath("fs", ".wav"), out = tempPath("fs-out", ".dsf");
  sineWav(src, 0.3, 100, 1.0);
  Job job(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(job.run(src, out), 0);
  Bytes ol, orr;
  convtest::dsfChannels(out, &ol, &orr);
  double lo = 1, hi = 0;
  for (size_t j = 1024; j + 8 <= ol.size(); j += 8) {
    int ones = 0;
    for (size_t k = j; k < j + 8; ++k) ones += __builtin_popcount(ol[k]);
    lo = std::min(lo, ones / 64.0);
    hi = std::max(hi, ones / 64.0);
  }
  EXPECT_GE(lo, 0.17);
  EXPECT_LE(hi, 0.83);
  EXPECT_LT(lo, 0.30);
  EXPECT_GT(hi, 0.70);
}

TEST(DsdStageExport, PcmToEveryDsdRateAndContainer) {
  const std::string src = tempPath("pcm", ".wav");
  sineWav(src, 0.25, 1000, 0.5);  // -6 dBFS: a quarter of the +-1 stream
  for (int code : {kRateDsd64, kRateDsd128, kRateDsd256}) {
    for (int type : {kFileTypeDsf, kFileTypeDsdiff}) {
      SCOPED_TRACE(code * 10 + type);
      const std::string out = tempPath("pcm-out", type == kFileTypeDsf ? ".dsf" : ".dff");
      Job job(code, type, 1);
      ASSERT_EQ(job.run(src, out), 0);
      AudioFileInfo info{};
      convtest::audioBytes(out, &info);
      const uint32_t rate = sonvexRateForCode(code);
      EXPECT_EQ(info.sampleRate, rate);
      EXPECT_EQ(info.bitsPerSample, 1u);
      Bytes ol, orr;
      channelsOf(out, type, &ol, &orr);
      ASSERT_GT(ol.size(), size_t(0.23 * rate / 8));
      EXPECT_NEAR(toneAmplitude(ol, rate, 1000, rate / 100), 0.25, 0.002);
      EXPECT_NEAR(toneAmplitude(orr, rate, 1000, rate / 100), 0.25, 0.002);
    }
  }
}

TEST(DsdStageExport, DsdRateChangesAndEqAreReModulated) {
  Bytes l, r;
  dsdSource(40000, 0.25, &l, &r);
  const double amp = toneAmplitude(l, 2822400, 1000);
  const std::string src = tempPath("d64", ".dff");
  testsupport::writeDsdiff(src, 2822400, {l, r});
  // DSD64 -> DSD128 -> DSD64.
  const std::string up = tempPath("d128", ".dff"), down = tempPath("d64b", ".dsf");
  Job j1(kRateDsd128, kFileTypeDsdiff, 1);
  ASSERT_EQ(j1.run(src, up), 0);
  Bytes ul, ur;
  channelsOf(up, kFileTypeDsdiff, &ul, &ur);
  EXPECT_NEAR(ul.size(), 2 * l.size(), 64);
  EXPECT_NEAR(toneAmplitude(ul, 5644800, 1000, 50000), amp, 0.003);
  Job j2(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(j2.run(up, down), 0);
  Bytes dl, dr;
  channelsOf(down, kFileTypeDsf, &dl, &dr);
  EXPECT_NEAR(toneAmplitude(dl, 2822400, 1000, 50000), amp, 0.003);
  EXPECT_NEAR(toneAmplitude(dr, 2822400, 2000, 50000), toneAmplitude(r, 2822400, 2000), 0.003);

  // Same rate with the EQ on: a band of pure gain 2 doubles the tone.
  alignas(16) double biquad[18] = {0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t master = 1;
  EqSettings eq{};
  eq.band[0].on = 1;
  eq.band[0].biquad = biquad;
  eq.masterOn = &master;
  const std::string eqOut = tempPath("eq", ".dsf");
  Job j3(kRateDsd64, kFileTypeDsf, 1);
  j3.range.eq = &eq;
  ASSERT_EQ(j3.run(src, eqOut), 0);
  Bytes el, er;
  channelsOf(eqOut, kFileTypeDsf, &el, &er);
  ASSERT_EQ(el.size(), l.size());
  EXPECT_NE(el, l);
  EXPECT_NEAR(toneAmplitude(el, 2822400, 1000), 2 * amp, 0.004);
}

}  // namespace
