// Rate, range and block plans of the conversion, and the small kernels that
// need no files: envelope, packing, DSD layouts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "convert_kernels.h"
#include "convert_plan.h"
#include "rateconv.h"
#include "sonvex.h"

using namespace sonvex::convert;
using sonvex::kFilterMethodFft;
using sonvex::kFilterMethodLongest;

namespace {

RatePlan plan(uint32_t src, uint32_t dst, bool exportMode = true, int method = 0, int outType = 0,
              int srcType = 0) {
  RatePlan p;
  EXPECT_EQ(makeRatePlan(src, dst, exportMode, method, outType, srcType, &p), kSonvexOk);
  return p;
}

}  // namespace

TEST(ConvertRatePlan, PcmUpAndDownBetween441And48) {
  const RatePlan up = plan(44100, 48000);
  EXPECT_EQ(up.commonRate, 7056000u);
  EXPECT_EQ(up.up, 160u);
  EXPECT_EQ(up.down, 147u);
  EXPECT_DOUBLE_EQ(up.cutoff, 19845.0);
  EXPECT_EQ(up.taps, 4095);
  EXPECT_EQ(up.preRoll, 4095 / 160);
  EXPECT_EQ(up.outputScale, 1.0);

  const RatePlan down = plan(48000, 44100);
  EXPECT_EQ(down.commonRate, 7056000u);
  EXPECT_EQ(down.up, 147u);
  EXPECT_EQ(down.down, 160u);
  EXPECT_DOUBLE_EQ(down.cutoff, 19845.0);
  EXPECT_EQ(down.taps, 4095);

  EXPECT_DOUBLE_EQ(plan(96000, 44100).cutoff, 19845.0);
}

TEST(ConvertRatePlan, DsdSources) {
  // DSD64 to 176.4 kHz PCM export.
  const RatePlan pcm = plan(2822400, 176400, true, 0, kFileTypeWav, kFileTypeDsf);
  EXPECT_EQ(pcm.commonRate, 2822400u);
  EXPECT_EQ(pcm.up, 1u);
  EXPECT_EQ(pcm.down, 16u);
  EXPECT_DOUBLE_EQ(pcm.cutoff, 44100.0);
  EXPECT_EQ(pcm.taps, 1023);
  EXPECT_EQ(pcm.preRoll, 1023);

  // DSD64 to DSD128: one-bit length rule and the DSD output scale.
  const RatePlan dsd = plan(2822400, 5644800, true, 0, kFileTypeDsf, kFileTypeDsf);
  EXPECT_EQ(dsd.up, 2u);
  EXPECT_EQ(dsd.down, 1u);
  EXPECT_DOUBLE_EQ(dsd.cutoff, 88200.0);
  EXPECT_EQ(dsd.taps, 255);
  EXPECT_EQ(dsd.outputScale, 18014398509481984.0);
  EXPECT_EQ(dsd.preRoll, 255 / 2 + 17);

  // Down from DSD128 to DSD64 lands in the 1.2 MHz row.
  EXPECT_DOUBLE_EQ(plan(5644800, 2822400, true, 0, kFileTypeDsdiff, kFileTypeDsdiff).cutoff,
                   88200.0);
  // Same rate: no filter, no pre-roll.
  const RatePlan same = plan(2822400, 2822400, true, 0, kFileTypeDsf, kFileTypeDsf);
  EXPECT_EQ(same.taps, 0);
  EXPECT_EQ(same.preRoll, 0);
}

TEST(ConvertRatePlan, StreamCutoffsDifferFromExportForOneBitRates) {
  EXPECT_DOUBLE_EQ(cutoffFor(2822400, 352800, false), 88200.0);
  EXPECT_DOUBLE_EQ(cutoffFor(2822400, 352800, true), 44100.0);
  EXPECT_DOUBLE_EQ(cutoffFor(11289600, 22579200, true), 352800.0);
  EXPECT_DOUBLE_EQ(cutoffFor(11289600, 22579200, false), 1411200.0);
  EXPECT_DOUBLE_EQ(cutoffFor(5644800, 11289600, false), 705600.0);
  EXPECT_DOUBLE_EQ(cutoffFor(2822400, 5644800, false), 352800.0);
  EXPECT_DOUBLE_EQ(cutoffFor(44100, 96000, false), 19845.0);
}

TEST(ConvertRatePlan, FilterMethods) {
  EXPECT_EQ(plan(44100, 48000, true, kFilterMethodLongest).taps, 32767);
  const RatePlan fft = plan(96000, 48000, true, kFilterMethodFft);
  EXPECT_EQ(fft.taps, 18496);
  EXPECT_TRUE(fft.fft);
  BlockPlan b;
  RangePlan r;
  ASSERT_EQ(makeRangePlan(fft, 0, 2, 0, 1000000, 1000000, 2, 24, &r), kSonvexOk);
  ASSERT_EQ(makeBlockPlan(fft, r, 0, &b), kSonvexOk);
  EXPECT_EQ(b.fftBlock, 2 * (47040 / 2));
  EXPECT_EQ(b.capacity, b.fftBlock / 2);
  EXPECT_EQ(b.inputPerBlock, b.fftBlock);
  // Where L x M is large (44.1 -> 48 kHz: 160 x 147) the same prototype
  // runs on the polyphase engine, which is faster there.
  for (const uint32_t dst : {48000u, 192000u}) {
    const RatePlan wide = plan(44100, dst, true, kFilterMethodFft);
    EXPECT_EQ(wide.taps, 18496);
    EXPECT_FALSE(wide.fft);
  }
  // Equal rates never filter, whatever the method.
  EXPECT_EQ(plan(48000, 48000, true, kFilterMethodFft).taps, 0);
}

TEST(ConvertRatePlan, UnusableRatesAreRefused) {
  RatePlan p;
  EXPECT_EQ(makeRatePlan(0, 48000, true, 0, 0, 0, &p), kConvertErrRatePlan);
  EXPECT_EQ(makeRatePlan(44100, 0, true, 0, 0, 0, &p), kConvertErrRatePlan);
  // Unused rate codes hold 1.
  EXPECT_EQ(makeRatePlan(44100, sonvexRateForCode(8), true, 0, 0, 0, &p), kConvertErrRatePlan);
  EXPECT_EQ(sonvexRateForCode(19), 22579200u);
  EXPECT_EQ(sonvexRateForCode(32), 0u);
  EXPECT_EQ(sonvexRateForCode(-1), 0u);
  // A down factor so large that a block would hold no frame.
  const RatePlan odd = plan(200003, 48000);
  RangePlan r;
  BlockPlan b;
  ASSERT_EQ(makeRangePlan(odd, 0, 2, 0, 1000000, 1000000, 2, 16, &r), kSonvexOk);
  EXPECT_EQ(makeBlockPlan(odd, r, 0, &b), kConvertErrRatePlan);
}

TEST(ConvertRangePlan, RoundingAndOutputLength) {
  const RatePlan same = plan(44100, 44100);
  RangePlan r;
  EXPECT_EQ(makeRangePlan(same, 0, 2, 500, 500, 10000, 2, 16, &r), kConvertErrNothing);
  EXPECT_EQ(makeRangePlan(same, 0, 2, 9000, 20000, 9000, 2, 16, &r), kConvertErrNothing);
  ASSERT_EQ(makeRangePlan(same, 0, 2, 100, 1100, 10000, 2, 16, &r), kSonvexOk);
  EXPECT_EQ(r.outFrames, 1000);
  // The end is clipped to the source.
  ASSERT_EQ(makeRangePlan(same, 0, 2, 100, 1 << 30, 10000, 2, 16, &r), kSonvexOk);
  EXPECT_EQ(r.outFrames, 9900);

  // PCM pre-roll: frames beyond the end feed the filter; at the file's end
  // the filter reads silence there, so the whole range still comes out.
  const RatePlan up = plan(44100, 48000);
  ASSERT_EQ(makeRangePlan(up, 0, 2, 0, 44100, 88200, 2, 24, &r), kSonvexOk);
  EXPECT_EQ(r.outFrames, 48000);
  EXPECT_EQ(r.readEnd, 44100 + up.preRoll);
  ASSERT_EQ(makeRangePlan(up, 0, 2, 0, 44100, 44100, 2, 24, &r), kSonvexOk);
  EXPECT_EQ(r.outFrames, 48000);
  EXPECT_EQ(r.readEnd, 44100);
  ASSERT_EQ(makeRangePlan(up, 0, 2, 0, 44090, 44100, 2, 24, &r), kSonvexOk);
  EXPECT_EQ(r.outFrames, 44090 * 160 / 147);

  // DSD, DSF and DSDIFF alike: both ends toward zero to whole bytes.
  const RatePlan dsd = plan(2822400, 2822400, true, 0, kFileTypeDsdiff, kFileTypeDsdiff);
  for (int type : {kFileTypeDsdiff, kFileTypeDsf}) {
    ASSERT_EQ(makeRangePlan(dsd, type, 2, 70013, 1000007, 2000000, 2, 1, &r), kSonvexOk);
    EXPECT_EQ(r.start, 70008);
    EXPECT_EQ(r.outFrames, 1000000 - 70008);
  }
  EXPECT_EQ(makeRangePlan(dsd, kFileTypeDsf, 2, 3, 7, 2000000, 2, 1, &r), kConvertErrNothing);
}

TEST(ConvertRangePlan, Rf64DecisionAtTheThreshold) {
  const RatePlan same = plan(48000, 48000);
  RangePlan r;
  const int64_t frames = int64_t(0xFFFF0000u) / 4;  // 16-bit stereo
  const int64_t big = int64_t(1) << 40;
  ASSERT_EQ(makeRangePlan(same, 0, 2, 0, frames, big, 2, 16, &r), kSonvexOk);
  EXPECT_TRUE(r.rf64);
  ASSERT_EQ(makeRangePlan(same, 0, 2, 0, frames - 1, big, 2, 16, &r), kSonvexOk);
  EXPECT_FALSE(r.rf64);
  ASSERT_EQ(makeRangePlan(same, 0, 2, 0, frames - 1, big, 2, 24, &r), kSonvexOk);
  EXPECT_TRUE(r.rf64);
}

TEST(ConvertRangePlan, OverflowIsACleanError) {
  const int64_t huge = std::numeric_limits<int64_t>::max();
  RangePlan r;
  const RatePlan up = plan(44100, 22579200);
  EXPECT_EQ(makeRangePlan(up, 0, 2, 0, huge, huge, 2, 24, &r), kConvertErrFrameCount);
  const RatePlan same = plan(44100, 44100);
  EXPECT_EQ(makeRangePlan(same, 0, 2, 0, huge, huge, 2, 32, &r), kConvertErrFrameCount);
  EXPECT_EQ(sourceFrameCount(~uint64_t(0), 1, 1), huge);
  EXPECT_EQ(sourceFrameCount(1000, 0, 2), 0);
  EXPECT_EQ(sourceFrameCount(4000, 16, 2), 1000);
}

TEST(ConvertBlockPlan, CapacitiesAndReadCounts) {
  RangePlan r;
  BlockPlan b;
  const RatePlan same = plan(44100, 44100);
  ASSERT_EQ(makeRangePlan(same, 0, 2, 0, 1000, 1000, 2, 16, &r), kSonvexOk);
  ASSERT_EQ(makeBlockPlan(same, r, 0, &b), kSonvexOk);
  EXPECT_EQ(b.capacity, 188160);
  EXPECT_EQ(b.zeroPrefix, 0);
  EXPECT_EQ(b.framesToRead, 1000);

  const RatePlan dsd = plan(2822400, 176400, true, 0, 0, kFileTypeDsf);
  ASSERT_EQ(makeRangePlan(dsd, kFileTypeDsf, 2, 0, 2822400, 2822400, 2, 24, &r), kSonvexOk);
  ASSERT_EQ(makeBlockPlan(dsd, r, kFileTypeDsf, &b), kSonvexOk);
  EXPECT_EQ(b.capacity, 11760);
  EXPECT_EQ(b.inputPerBlock, 188160);
  EXPECT_EQ(b.zeroPrefix, 0);
  EXPECT_EQ(b.framesToRead, 2822400 - 1023);
  EXPECT_EQ(r.outFrames, 2822400 / 16);  // the whole second, up to the file's end

  const RatePlan up = plan(44100, 48000);
  ASSERT_EQ(makeRangePlan(up, 0, 2, 0, 44100, 88200, 2, 24, &r), kSonvexOk);
  ASSERT_EQ(makeBlockPlan(up, r, 0, &b), kSonvexOk);
  EXPECT_EQ(b.capacity, 1505280 / (8 * 147));
  EXPECT_EQ(b.zeroPrefix, (4095 / 2) / 160);
}

TEST(ConvertPaths, ExtensionTest) {
  EXPECT_EQ(typeFromPath(u"/a/b.wav"), kFileTypeWav);
  EXPECT_EQ(typeFromPath(u"X.WAV"), kFileTypeWav);
  EXPECT_EQ(typeFromPath(u"x.Dsf"), kFileTypeDsf);
  EXPECT_EQ(typeFromPath(u"x.dff"), kFileTypeDsdiff);
  EXPECT_EQ(typeFromPath(u"x.wave"), -1);
  EXPECT_EQ(typeFromPath(u"x.mp3"), -1);
  EXPECT_EQ(typeFromPath(u"noext"), -1);
  EXPECT_EQ(typeFromPath(u"dir.wav/file"), -1);
  EXPECT_EQ(typeFromPath(nullptr), -1);
}

TEST(ConvertEnvelope, FadesLandOnTheirFrames) {
  // Fade in over frames 100..109, hold 1.0, fade out over 200..203, then 0.
  LevelPoint pts[10] = {};
  pts[0] = {100, 0.0, 0.1, 1, 0};
  pts[1] = {110, 1.0, 0.0, 0, 0};
  pts[2] = {200, 1.0, -0.25, -1, 0};
  pts[3] = {204, 0.0, 0.0, 0, 0};
  pts[4] = {std::numeric_limits<int64_t>::max(), 0.0, 0.0, 0, 0};
  LevelEnvelope env(pts, 0);
  std::vector<double> lv(300);
  env.fill(lv.data(), lv.size());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(lv[size_t(i)], 0.0) << i;
  EXPECT_NEAR(lv[100], 0.1, 1e-12);
  EXPECT_NEAR(lv[108], 0.9, 1e-12);
  EXPECT_NEAR(lv[109], 1.0, 1e-12);
  for (int i = 110; i < 200; ++i) ASSERT_EQ(lv[size_t(i)], 1.0) << i;
  EXPECT_NEAR(lv[200], 0.75, 1e-12);
  EXPECT_NEAR(lv[203], 0.0, 1e-12);
  for (int i = 204; i < 300; ++i) ASSERT_EQ(lv[size_t(i)], 0.0) << i;

  // Starting inside the fade-in interpolates the level at the first frame.
  LevelEnvelope mid(pts, 105);
  EXPECT_NEAR(mid.level(), 0.5, 1e-12);
  EXPECT_NEAR(mid.next(), 0.6, 1e-12);
  // Before the first point: silence.
  LevelEnvelope before(pts, 50);
  EXPECT_EQ(before.level(), 0.0);
  // No points: unity.
  LevelEnvelope none(nullptr, 0);
  EXPECT_EQ(none.next(), 1.0);
}

TEST(ConvertPacking, SixteenBitRoundTripIsTransparent) {
  std::vector<uint8_t> bytes(65536 * 2);
  for (int v = -32768; v < 32768; ++v) {
    const size_t i = size_t(v + 32768);
    bytes[2 * i] = uint8_t(v);
    bytes[2 * i + 1] = uint8_t(v >> 8);
  }
  std::vector<double> frames(65536);  // 32768 stereo frames
  ASSERT_EQ(unpackPcm(bytes.data(), 32768, 2, 16, 1, frames.data()), kSonvexOk);
  std::vector<uint8_t> out(bytes.size());
  ASSERT_EQ(packPcm(frames.data(), 32768, 2, 16, out.data()), kSonvexOk);
  EXPECT_EQ(out, bytes);
}

TEST(ConvertPacking, TwentyFourBitSweepIsTransparentAndClamps) {
  std::vector<uint8_t> bytes;
  for (int64_t v = -8388608; v < 8388608; v += 61) {
    for (int k = 0; k < 3; ++k) bytes.push_back(uint8_t(v >> (8 * k)));
  }
  for (int64_t v : {int64_t(8388607), int64_t(8388606), int64_t(-1), int64_t(1)})
    for (int k = 0; k < 3; ++k) bytes.push_back(uint8_t(v >> (8 * k)));
  while ((bytes.size() / 3) % 2) bytes.push_back(0);
  const size_t frames = bytes.size() / 6;
  std::vector<double> d(2 * frames);
  ASSERT_EQ(unpackPcm(bytes.data(), frames, 2, 24, 1, d.data()), kSonvexOk);
  std::vector<uint8_t> out(bytes.size());
  ASSERT_EQ(packPcm(d.data(), frames, 2, 24, out.data()), kSonvexOk);
  EXPECT_EQ(out, bytes);

  // Out of range and NaN clamp instead of wrapping.
  const double over[4] = {1.5, -1.5, std::nan(""), 0.99999999};
  uint8_t o16[8];
  ASSERT_EQ(packPcm(over, 2, 2, 16, o16), kSonvexOk);
  EXPECT_EQ(int16_t(o16[0] | o16[1] << 8), 32767);
  EXPECT_EQ(int16_t(o16[2] | o16[3] << 8), -32768);
  EXPECT_EQ(int16_t(o16[4] | o16[5] << 8), -32768);
  EXPECT_EQ(int16_t(o16[6] | o16[7] << 8), 32767);
  EXPECT_EQ(packPcm(over, 2, 2, 20, o16), kConvertErrPcmPack);
  EXPECT_EQ(packPcm(over, 2, 3, 16, o16), kConvertErrPcmPack);
}

TEST(ConvertPacking, MonoAndFloatAndUnpackFormats) {
  const double frames[4] = {0.5, -0.25, -1.0, 0.75};
  uint8_t mono[4];
  ASSERT_EQ(packPcm(frames, 2, 1, 16, mono), kSonvexOk);  // left lane only
  EXPECT_EQ(int16_t(mono[0] | mono[1] << 8), 16384);
  EXPECT_EQ(int16_t(mono[2] | mono[3] << 8), -32768);
  uint8_t fl[16];
  ASSERT_EQ(packPcm(frames, 2, 2, 32, fl), kSonvexOk);
  float f;
  std::memcpy(&f, fl + 4, 4);
  EXPECT_EQ(f, -0.25f);

  // Mono 16-bit unpacks to (x, 0).
  const uint8_t m16[4] = {0x00, 0x40, 0x00, 0xC0};
  double d[4];
  ASSERT_EQ(unpackPcm(m16, 2, 1, 16, 1, d), kSonvexOk);
  EXPECT_EQ(d[0], 0.5);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_EQ(d[2], -0.5);
  EXPECT_EQ(d[3], 0.0);
  // 32-bit integer and float, 64-bit float.
  uint8_t i32[8] = {0, 0, 0, 0x40, 0, 0, 0, 0xC0};
  ASSERT_EQ(unpackPcm(i32, 1, 2, 32, 1, d), kSonvexOk);
  EXPECT_EQ(d[0], 0.5);
  EXPECT_EQ(d[1], -0.5);
  const float fs[2] = {0.125f, -2.0f};
  ASSERT_EQ(unpackPcm(reinterpret_cast<const uint8_t*>(fs), 1, 2, 32, 3, d), kSonvexOk);
  EXPECT_EQ(d[0], 0.125);
  EXPECT_EQ(d[1], -2.0);
  const double ds[2] = {0.3, -0.7};
  ASSERT_EQ(unpackPcm(reinterpret_cast<const uint8_t*>(ds), 1, 2, 64, 3, d), kSonvexOk);
  EXPECT_EQ(d[0], 0.3);
  EXPECT_EQ(d[1], -0.7);
  EXPECT_EQ(unpackPcm(m16, 1, 3, 16, 1, d), kConvertErrWavUnpack);
  EXPECT_EQ(unpackPcm(m16, 1, 2, 12, 1, d), kConvertErrWavUnpack);
  // 8-bit samples are unsigned, 128 = silence.
  const uint8_t u8[2] = {0, 192};
  ASSERT_EQ(unpackPcm(u8, 1, 2, 8, 1, d), kSonvexOk);
  EXPECT_EQ(d[0], -1.0);
  EXPECT_EQ(d[1], 0.5);
}

TEST(ConvertKernels, LevelMatrixAndEq) {
  double f[4] = {1.0, 0.5, -1.0, 0.25};
  const double lv[2] = {0.5, 2.0};
  const ChannelMatrix leftOnBoth = {{1.0, 1.0, 0.0, 0.0}};
  applyLevelMatrix(f, 2, lv, leftOnBoth, 1.0);
  EXPECT_EQ(f[0], 0.5);
  EXPECT_EQ(f[1], 0.5);
  EXPECT_EQ(f[2], -2.0);
  EXPECT_EQ(f[3], -2.0);
  const ChannelMatrix swap = {{0.0, 1.0, 1.0, 0.0}};
  double g[2] = {0.25, -0.5};
  applyLevelMatrix(g, 1, nullptr, swap, 4.0);  // no levels: all 1.0
  EXPECT_EQ(g[0], -2.0);
  EXPECT_EQ(g[1], 1.0);

  // A one-pole-ish biquad (y = x + 0.5 y1) on the left, identity on the right,
  // with state carried between calls; bands run 4, 3, 2, 1; off bands idle.
  alignas(16) double q[18] = {0.5, 0.0, 0, 0, 1.0, 1.0, 0, 0, 0, 0};
  alignas(16) double gain2[18] = {0, 0, 0, 0, 2.0, 2.0};
  EqSettings eq{};
  eq.band[3].on = 1;
  eq.band[3].biquad = q;
  eq.band[0].on = 0;
  eq.band[0].biquad = gain2;
  double s[6] = {1.0, 1.0, 0.0, 0.0, 0.0, 0.0};
  applyEq(&eq, s, 2);
  applyEq(&eq, s + 4, 1);
  EXPECT_EQ(s[0], 1.0);
  EXPECT_EQ(s[2], 0.5);
  EXPECT_EQ(s[4], 0.25);
  EXPECT_EQ(s[1], 1.0);
  EXPECT_EQ(s[3], 0.0);
  eq.band[0].on = 1;
  double t[2] = {1.0, 1.0};
  applyEq(&eq, t, 1);  // band 4 first (state y1 = 0.25), then band 1 doubles
  EXPECT_EQ(t[0], 2.0 * (1.0 + 0.5 * 0.25));
  EXPECT_EQ(t[1], 2.0);
}
