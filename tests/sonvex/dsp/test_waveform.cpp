// Waveform summaries of PCM and DSD files, read through the exported entry point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "dsp/rawfiles.h"
#include "sonvex.h"
#include "waveform.h"

using namespace testsupport;

namespace {

constexpr double kSentinel = 12345.0;

struct Summary {
  WaveLevels levels;
  std::vector<WavePoint> maxC, maxM, maxF, minC, minM, minF;
  WaveColumns maxOut, minOut;
  uint8_t cancel = 0;
  int32_t progress[2] = {-1, -1};

  Summary(int64_t a, int64_t b, int64_t n)
      : levels{a, b, n},
        maxC(size_t(a), {kSentinel, kSentinel}),
        maxM(size_t(b), {kSentinel, kSentinel}),
        maxF(size_t(n), {kSentinel, kSentinel}),
        minC(size_t(a), {kSentinel, kSentinel}),
        minM(size_t(b), {kSentinel, kSentinel}),
        minF(size_t(n), {kSentinel, kSentinel}) {
    maxOut = {maxC.data(), maxM.data(), maxF.data()};
    minOut = {minC.data(), minM.data(), minF.data()};
  }

  int32_t run(const std::string& path, int64_t start = 0, int64_t end = INT64_MAX) {
    const std::u16string p = toU16(path);
    return getAudioWaveForm(p.c_str(), uint32_t(start), int32_t(start >> 32), uint32_t(end),
                            int32_t(end >> 32), &levels, &maxOut, &minOut, &cancel, progress);
  }
};

std::string pcmFile(const std::vector<int16_t>& interleaved, uint16_t channels,
                    uint32_t rate = 44100) {
  const std::string path = tempPath("pcm", ".wav");
  writeWav(path, rate, 16, channels, 1, pcm16Bytes(interleaved));
  return path;
}

std::vector<int16_t> sine16(size_t frames, double amplitude, double freq = 997.0,
                            double rate = 44100.0) {
  std::vector<int16_t> s(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double v = amplitude * 32767.0 * std::sin(2 * M_PI * freq * double(i) / rate);
    s[2 * i] = s[2 * i + 1] = int16_t(std::lround(v));
  }
  return s;
}

}  // namespace

TEST(WaveformSummary, ZeroColumnsWritesNothing) {
  const std::string path = pcmFile(sine16(10000, 0.5), 2);
  Summary s(0, 0, 0);
  EXPECT_EQ(s.run(path), 0);
  Summary neg(1, 1, 1);
  neg.levels.columnCount = -5;
  EXPECT_EQ(neg.run(path), 0);
  EXPECT_EQ(neg.maxF[0].left, kSentinel);
}

TEST(WaveformSummary, FullScalePcmDrawsAtEightTenths) {
  std::vector<int16_t> square(20000 * 2);
  for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 2) % 100 < 50 ? 32767 : -32768;
  const std::string path = pcmFile(square, 2);
  Summary s(2, 10, 100);
  ASSERT_EQ(s.run(path), 100);
  for (const WavePoint& p : s.maxF) {
    EXPECT_NEAR(p.left, 0.8 * 32767.0 / 32768.0, 1e-12);
    EXPECT_NEAR(p.right, 0.8 * 32767.0 / 32768.0, 1e-12);
  }
  for (const WavePoint& p : s.minF) EXPECT_DOUBLE_EQ(p.left, -0.8);
}

TEST(WaveformSummary, LevelsSummariseTheirGroupsAndProgressCountsCoarseEntries) {
  // A rising ramp makes every column different.
  std::vector<int16_t> ramp(70000 * 2);
  for (size_t i = 0; i < ramp.size() / 2; ++i)
    ramp[2 * i] = ramp[2 * i + 1] = int16_t(i / 3 - 11000);
  const std::string path = pcmFile(ramp, 2);
  Summary s(10, 50, 700);
  ASSERT_EQ(s.run(path), 700);
  for (int m = 0; m < 50; ++m) {
    double mx = 0, mn = 0;
    for (int j = m * 14; j < (m + 1) * 14; ++j) {
      mx = std::max(mx, s.maxF[size_t(j)].left);
      mn = std::min(mn, s.minF[size_t(j)].left);
    }
    EXPECT_DOUBLE_EQ(s.maxM[size_t(m)].left, mx) << m;
    EXPECT_DOUBLE_EQ(s.minM[size_t(m)].left, mn) << m;
  }
  for (int a = 0; a < 10; ++a) {
    double mx = 0;
    for (int j = a * 70; j < (a + 1) * 70; ++j) mx = std::max(mx, s.maxF[size_t(j)].left);
    EXPECT_DOUBLE_EQ(s.maxC[size_t(a)].left, mx) << a;
  }
  EXPECT_EQ(s.progress[0], 9);
  EXPECT_EQ(s.progress[1], 0);
}

TEST(WaveformSummary, MoreGroupsThanColumnsNeverWritePastTheArrays) {
  const std::string path = pcmFile(sine16(5000, 0.5), 2);
  // 700 / 300 = 2 columns per medium entry would give 350 entries for 300 slots.
  Summary s(3, 300, 700);
  ASSERT_EQ(s.run(path), 700);
  EXPECT_NE(s.maxM[299].left, kSentinel);
  EXPECT_NE(s.maxC[2].left, kSentinel);
}

TEST(WaveformSummary, EndIsClampedBeforeTheFilterReach) {
  // Quiet audio with a loud burst in the last 255 frames, which the summary must not reach.
  std::vector<int16_t> s16(5000 * 2, 1000);
  for (size_t i = 5000 - 200; i < 5000; ++i) s16[2 * i] = s16[2 * i + 1] = 30000;
  const std::string path = pcmFile(s16, 2);
  Summary s(1, 1, 10);
  ASSERT_EQ(s.run(path, 0, int64_t(1) << 40), 10);
  for (const WavePoint& p : s.maxF) EXPECT_NEAR(p.left, 0.8 * 1000 / 32768.0, 1e-12);
}

TEST(WaveformSummary, DegenerateRangesGiveNoColumns) {
  const std::string tiny = pcmFile(sine16(200, 0.5), 2);  // shorter than the filter reach
  Summary a(1, 1, 10);
  EXPECT_EQ(a.run(tiny), 0);
  EXPECT_EQ(a.maxF[0].left, kSentinel);
  const std::string path = pcmFile(sine16(3000, 0.5), 2);
  Summary b(1, 1, 10);
  EXPECT_EQ(b.run(path, 4000, 5000), 0);  // range starts beyond the file
  Summary c(1, 1, 10);
  EXPECT_EQ(c.run(path, 100, 100), 0);
}

TEST(WaveformSummary, MoreColumnsThanFramesStaysInsideTheFile) {
  const std::string path = pcmFile(sine16(600, 0.5), 2);
  Summary s(5, 10, 4000);
  ASSERT_EQ(s.run(path), 4000);
  for (const WavePoint& p : s.maxF) EXPECT_LE(p.left, 0.41);
}

TEST(WaveformSummary, DenseColumnsMatchTheFramesTheyCover) {
  // Far more columns than frames per chunk: every column is one frame, read
  // from the shared chunk rather than the file.
  std::vector<int16_t> s16(3000 * 2);
  for (size_t i = 0; i < 3000; ++i) {
    s16[2 * i] = int16_t((i * 7919) % 65536 - 32768);
    s16[2 * i + 1] = int16_t(-(int(i) % 1000));
  }
  const std::string path = pcmFile(s16, 2);
  const int64_t n = 2745;  // exactly one frame per column: 3000 - 255 frames
  Summary s(5, 9, n);
  ASSERT_EQ(s.run(path), n);
  for (int64_t j = 0; j < n; ++j) {
    const double l = s16[size_t(2 * j)] / 32768.0 * 0.8, r = s16[size_t(2 * j + 1)] / 32768.0 * 0.8;
    EXPECT_DOUBLE_EQ(s.maxF[size_t(j)].left, std::max(0.0, l)) << j;
    EXPECT_DOUBLE_EQ(s.minF[size_t(j)].left, std::min(0.0, l)) << j;
    EXPECT_DOUBLE_EQ(s.minF[size_t(j)].right, std::min(0.0, r)) << j;
  }
}

TEST(WaveformSummary, DenseDsdColumnsAgreeWithCoarseOnes) {
  // 8-frame columns read from the shared chunk give, folded together, what
  // 10 wide columns give.
  const std::vector<uint8_t> sine = dsdSine(5000.0, 2822400.0, 0.4, 2 * 4096 + 100);
  const std::string dsf = tempPath("dense", ".dsf");
  writeDsf(dsf, 2822400, {sine, sine});
  const int64_t frames = int64_t(sine.size()) * 8 - 255;
  const int64_t usable = frames - frames % 160;
  Summary wide(1, 1, 10), dense(1, 10, usable / 16);
  ASSERT_EQ(wide.run(dsf, 0, usable), 10);
  ASSERT_EQ(dense.run(dsf, 0, usable), usable / 16);
  for (size_t m = 0; m < 10; ++m) {
    EXPECT_FLOAT_EQ(float(dense.maxM[m].left), float(wide.maxF[m].left)) << m;
    EXPECT_FLOAT_EQ(float(dense.minM[m].right), float(wide.minF[m].right)) << m;
  }
}

TEST(WaveformSummary, MonoLeavesTheRightChannelSilent) {
  std::vector<int16_t> mono(8000);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = int16_t(i % 2 ? 16384 : -16384);
  const std::string path = pcmFile(mono, 1);
  Summary s(1, 1, 4);
  ASSERT_EQ(s.run(path), 4);
  EXPECT_DOUBLE_EQ(s.maxF[0].left, 0.4);
  EXPECT_DOUBLE_EQ(s.minF[0].left, -0.4);
  EXPECT_DOUBLE_EQ(s.maxF[0].right, 0.0);
  EXPECT_DOUBLE_EQ(s.minF[0].right, 0.0);
}

TEST(WaveformSummary, OtherPcmWordLengths) {
  const float fv[4] = {0.5f, -0.25f, -0.75f, 0.125f};
  std::vector<uint8_t> f32(sizeof(float) * 4 * 200);
  for (size_t i = 0; i < 800; ++i) std::memcpy(&f32[4 * i], &fv[i % 4], 4);
  const std::string fpath = tempPath("f32", ".wav");
  writeWav(fpath, 48000, 32, 2, 3, f32);
  Summary f(1, 1, 2);
  ASSERT_EQ(f.run(fpath), 2);
  EXPECT_DOUBLE_EQ(f.maxF[0].left, 0.8 * 0.5);
  EXPECT_DOUBLE_EQ(f.minF[0].left, 0.8 * -0.75);
  EXPECT_DOUBLE_EQ(f.maxF[0].right, 0.8 * 0.125);

  std::vector<uint8_t> s24;
  for (int i = 0; i < 1000; ++i) {
    const int32_t v = i % 2 ? 0x7FFFFF : -0x800000;
    s24.push_back(uint8_t(v));
    s24.push_back(uint8_t(v >> 8));
    s24.push_back(uint8_t(v >> 16));
  }
  const std::string path24 = tempPath("s24", ".wav");
  writeWav(path24, 96000, 24, 1, 1, s24);
  Summary t(1, 1, 3);
  ASSERT_EQ(t.run(path24), 3);
  EXPECT_DOUBLE_EQ(t.minF[1].left, -0.8);
  EXPECT_NEAR(t.maxF[1].left, 0.8, 1e-6);

  const std::string path8 = tempPath("u8", ".wav");
  std::vector<uint8_t> u8(2000, 128);  // unsigned: 128 is silence
  u8[500] = 0;
  u8[1500] = 255;
  writeWav(path8, 8000, 8, 1, 1, u8);
  Summary e(1, 1, 2);
  ASSERT_EQ(e.run(path8), 2);
  EXPECT_DOUBLE_EQ(e.minF[0].left, -0.8);
  EXPECT_DOUBLE_EQ(e.maxF[0].left, 0.0);
  EXPECT_DOUBLE_EQ(e.maxF[1].left, 0.8 * 127 / 128);
}

TEST(WaveformSummary, FileErrors) {
  Summary s(1, 1, 3);
  EXPECT_EQ(s.run("/nonexistent/file.wav"), kErrOpen);
  const std::string mp3 = tempPath("song", ".mp3");
  writeWav(mp3, 44100, 16, 2, 1, pcm16Bytes(sine16(1000, 0.5)));
  EXPECT_EQ(s.run(mp3), kErrFormat);
  const std::string threeCh = tempPath("three", ".dsf");
  writeDsf(threeCh, 2822400,
           {std::vector<uint8_t>(5000, 0x96), std::vector<uint8_t>(5000, 0x96),
            std::vector<uint8_t>(5000, 0x96)});
  EXPECT_EQ(s.run(threeCh), kErrWaveDsfUnpack);
}

// The DSF bits field is not trusted: DSD is one bit per sample, so a wild
// value there must neither stall the summary nor change what it draws.
TEST(WaveformSummary, DsfBitsFieldDoesNotShapeTheSummary) {
  const std::vector<uint8_t> idle(20000, 0x96);
  const std::string good = tempPath("bits", ".dsf");
  writeDsf(good, 2822400, {idle, idle});
  Summary ref(1, 2, 8);
  ASSERT_EQ(ref.run(good), 8);
  for (uint32_t bits : {0u, 8u, 0x60000001u, 0xFFFFFFFFu}) {
    const std::string wild = tempPath("bits", ".dsf");
    writeDsf(wild, 2822400, {idle, idle});
    FILE* f = std::fopen(wild.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const uint8_t le[4] = {uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16),
                           uint8_t(bits >> 24)};
    ASSERT_EQ(std::fseek(f, 60, SEEK_SET), 0);  // fmt chunk: bits per sample
    ASSERT_EQ(std::fwrite(le, 1, 4, f), 4u);
    std::fclose(f);
    Summary s(1, 2, 8);
    ASSERT_EQ(s.run(wild), 8) << bits;
    for (size_t j = 0; j < 8; ++j) {
      EXPECT_EQ(s.maxF[j].left, ref.maxF[j].left) << bits;
      EXPECT_EQ(s.minF[j].right, ref.minF[j].right) << bits;
    }
  }
}

TEST(WaveformSummary, IdleDsdDrawsNearZero) {
  const std::vector<uint8_t> idle(100000, 0x96);
  const std::string dsf = tempPath("idle", ".dsf");
  writeDsf(dsf, 2822400, {idle, idle});
  const std::string dff = tempPath("idle", ".dff");
  writeDsdiff(dff, 2822400, {idle, idle});
  for (const std::string& path : {dsf, dff}) {
    Summary s(1, 5, 50);
    ASSERT_EQ(s.run(path), 50) << path;
    for (size_t j = 0; j < 50; ++j) {
      EXPECT_LT(std::fabs(s.maxF[j].left), 0.02) << path;
      EXPECT_LT(std::fabs(s.minF[j].right), 0.02) << path;
    }
  }
}

TEST(WaveformSummary, DsdAndPcmOfTheSameSineDrawAlike) {
  // Half of DSD full scale (50 % modulation) and half of PCM full scale both
  // draw at 0.4.
  const size_t bytes = 2822400 / 8;  // one second
  const std::vector<uint8_t> sine = dsdSine(997.0, 2822400.0, 0.25, bytes);
  const std::string dsf = tempPath("sine", ".dsf");
  writeDsf(dsf, 2822400, {sine, sine});
  const std::string dff = tempPath("sine", ".dff");
  writeDsdiff(dff, 2822400, {sine, sine});
  const std::string wav = pcmFile(sine16(44100, 0.5), 2);
  for (const std::string& path : {dsf, dff, wav}) {
    Summary s(1, 1, 20);
    ASSERT_EQ(s.run(path), 20) << path;
    for (size_t j = 0; j < 20; ++j) {
      EXPECT_NEAR(s.maxF[j].left, 0.4, 0.02) << path << " column " << j;
      EXPECT_NEAR(s.minF[j].right, -0.4, 0.02) << path << " column " << j;
    }
  }
}

TEST(WaveformSummary, DsfAndDsdiffOfTheSameStreamAgreeAcrossBlocks) {
  // A mono stream whose length is not a multiple of the 4096-byte block.
  const std::vector<uint8_t> sine = dsdSine(3000.0, 5644800.0, 0.4, 3 * 4096 + 777);
  const std::string dsf = tempPath("mono", ".dsf");
  writeDsf(dsf, 5644800, {sine});
  const std::string dff = tempPath("mono", ".dff");
  writeDsdiff(dff, 5644800, {sine});
  Summary a(1, 1, 37), b(1, 1, 37);
  ASSERT_EQ(a.run(dsf), 37);
  ASSERT_EQ(b.run(dff), 37);
  for (size_t j = 0; j < 37; ++j) {
    EXPECT_DOUBLE_EQ(a.maxF[j].left, b.maxF[j].left) << j;
    EXPECT_DOUBLE_EQ(a.minF[j].left, b.minF[j].left) << j;
    EXPECT_GT(a.maxF[j].left, 0.5);
    EXPECT_EQ(a.maxF[j].right, 0.0);
  }
}

TEST(WaveformSummary, CancelFromAnotherThreadKeepsEarlierColumns) {
  const std::string path = pcmFile(sine16(2000000, 0.5), 2);
  Summary pre(10, 100, 20000);
  pre.cancel = 1;
  EXPECT_EQ(pre.run(path), kErrWaveCancelled);
  EXPECT_EQ(pre.maxF[0].left, kSentinel);

  // A sparse 4 GB recording of silence takes seconds to summarise, so the
  // watcher, cancelling once the first coarse entry is out, always wins.
  const std::string big = tempPath("long", ".wav");
  writeWav(big, 44100, 16, 2, 1, {});
  {
    const uint32_t dataBytes = 0xFFFFFFF0u;
    FILE* f = std::fopen(big.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const uint32_t riff = 36 + dataBytes;
    std::fseek(f, 4, SEEK_SET);
    std::fwrite(&riff, 4, 1, f);
    std::fseek(f, 40, SEEK_SET);
    std::fwrite(&dataBytes, 4, 1, f);
    std::fflush(f);
    ASSERT_EQ(ftruncate(fileno(f), off_t(44) + dataBytes), 0);
    std::fclose(f);
  }
  Summary s(100, 1000, 20000);
  std::thread watcher([&] {
    while (__atomic_load_n(&s.progress[0], __ATOMIC_ACQUIRE) < 1) std::this_thread::yield();
    __atomic_store_n(&s.cancel, uint8_t(1), __ATOMIC_RELAXED);
  });
  const int32_t rc = s.run(big);
  watcher.join();
  std::remove(big.c_str());
  ASSERT_EQ(rc, kErrWaveCancelled);
  // Columns before the cancel keep their (silent) values; the last was never reached.
  EXPECT_EQ(s.maxF[0].left, 0.0);
  EXPECT_EQ(s.maxF[399].left, 0.0);
  EXPECT_EQ(s.maxC[1].left, 0.0);
  EXPECT_EQ(s.maxF[19999].left, kSentinel);
}

TEST(WaveformSummary, ConcurrentSummariesAgree) {
  const std::vector<uint8_t> sine = dsdSine(440.0, 2822400.0, 0.3, 200000);
  const std::string dsf = tempPath("conc", ".dsf");
  writeDsf(dsf, 2822400, {sine, sine});
  Summary a(2, 10, 100), b(2, 10, 100);
  std::thread t([&] { EXPECT_EQ(a.run(dsf), 100); });
  EXPECT_EQ(b.run(dsf), 100);
  t.join();
  for (size_t j = 0; j < 100; ++j) EXPECT_EQ(a.maxF[j].left, b.maxF[j].left);
}

TEST(WaveformPlan, ColumnStartsAndWidths) {
  sonvex::ColumnPlan p;
  ASSERT_TRUE(sonvex::planColumns(0, 1000, 100000, 7, false, &p));
  EXPECT_EQ(p.framesPerColumn, 143);
  EXPECT_EQ(p.columnStart(6), 857);
  ASSERT_TRUE(sonvex::planColumns(3, 1003, 100000, 7, true, &p));
  EXPECT_EQ(p.framesPerColumn, 144);
  EXPECT_EQ(p.columnStart(0), 8);
  EXPECT_EQ(p.columnStart(1) % 8, 0);
  // Huge DSD span: (E - S) * j passes 2^63.
  ASSERT_TRUE(sonvex::planColumns(0, int64_t(1) << 50, int64_t(1) << 51, 1 << 20, true, &p));
  EXPECT_EQ(p.columnStart((1 << 20) - 1), (int64_t(1) << 50) - (int64_t(1) << 30));
  EXPECT_FALSE(sonvex::planColumns(0, 1000, 254, 7, false, &p));
}
