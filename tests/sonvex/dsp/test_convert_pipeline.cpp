// sonvexert end to end on small files: export and stream plumbing, failure
// codes with their diagnostic lines, bit-exact paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "diagcapture.h"
#include "formats/riff_fixture.h"
#include "rawfiles.h"
#include "sonvex.h"

using convtest::Job;
using convtest::recorder;
using testsupport::tempPath;

namespace {

std::vector<uint8_t> le16(const std::vector<int>& v) {
  std::vector<uint8_t> b;
  for (int x : v) {
    b.push_back(uint8_t(x));
    b.push_back(uint8_t(x >> 8));
  }
  return b;
}

// Every 16-bit value once, left rising and right falling.
std::string allSixteenBitValues() {
  std::vector<int> s;
  for (int v = -32768; v < 32768; ++v) {
    s.push_back(v);
    s.push_back(-1 - v);
  }
  const std::string path = tempPath("all16", ".wav");
  testsupport::writeWav(path, 44100, 16, 2, 1, le16(s));
  return path;
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = uint8_t(seed >> 24);
  }
  return v;
}

}  // namespace

TEST(ConvertExport, SixteenBitAtEqualRateIsBitExact) {
  const std::string src = allSixteenBitValues();
  const std::string dst = tempPath("out16", ".wav");
  Job job(kRate44100, kFileTypeWav, 16);
  recorder().drainReturnsZero = 2;
  ASSERT_EQ(job.run(src, dst), 0);
  EXPECT_EQ(convtest::audioBytes(dst), convtest::audioBytes(src));
  EXPECT_EQ(job.progress, 100);
  EXPECT_EQ(job.range.statusWord, 1 | kConvertEndOfSource);
  EXPECT_EQ(recorder().drainCalls, 3);  // until it returns non-zero
  ASSERT_EQ(recorder().blocks.size(), 1u);
  EXPECT_EQ(recorder().blocks[0].frames, 65536);
  EXPECT_EQ(recorder().blocks[0].capacity, 188160);
  EXPECT_EQ(recorder().blocks[0].taps, 0);
  recorder().drainReturnsZero = 0;
}

TEST(ConvertExport, WordLengthChangeAndTrimAreExact) {
  const std::string src = allSixteenBitValues();
  // 16 -> 24 bit, frames 1000..40999: every sample moves up by 8 bits.
  const std::string dst = tempPath("out24", ".wav");
  Job job(kRate44100, kFileTypeWav, 24);
  job.range.startFrame = 1000;
  job.range.endFrame = 41000;
  ASSERT_EQ(job.run(src, dst), 0);
  AudioFileInfo info{};
  const std::vector<uint8_t> out = convtest::audioBytes(dst, &info);
  EXPECT_EQ(info.bitsPerSample, 24u);
  EXPECT_EQ(info.sampleRate, 44100u);
  ASSERT_EQ(out.size(), 40000u * 6);
  const std::vector<uint8_t> in = convtest::audioBytes(src);
  for (size_t i = 0; i < 80000; ++i) {
    const size_t j = 2 * 2000 + 2 * i;
    ASSERT_EQ(out[3 * i], 0) << i;
    ASSERT_EQ(out[3 * i + 1], in[j]) << i;
    ASSERT_EQ(out[3 * i + 2], in[j + 1]) << i;
  }
  // And back to 16 bits: the original samples.
  const std::string back = tempPath("back16", ".wav");
  Job job2(kRate44100, kFileTypeWav, 16);
  ASSERT_EQ(job2.run(dst, back), 0);
  const std::vector<uint8_t> b = convtest::audioBytes(back);
  ASSERT_EQ(b.size(), 160000u);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), in.begin() + 4000));
}

// 24-bit samples in 4-byte containers: at the bottom under a plain fmt, at
// the top (valid bits left-justified) under an extensible one. Frames step by
// the block align and every sample comes out exact.
TEST(ConvertExport, TwentyFourBitsInFourByteContainers) {
  const std::vector<uint8_t> packed = pattern(3 * 2 * 500, 9);
  for (const bool extensible : {false, true}) {
    SCOPED_TRACE(extensible ? "extensible" : "plain");
    fixture::Bytes fmt = fixture::fmtPayload(extensible ? 0xFFFE : 1, 2, 44100, 32);
    fmt[14] = extensible ? 32 : 24;
    if (extensible) {
      fixture::putLe(fmt, 22, 2);
      fixture::putLe(fmt, 24, 2);
      fixture::putLe(fmt, 3, 4);
      fmt.insert(fmt.end(), {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
    }
    fixture::Bytes data, chunks;
    for (size_t i = 0; i < packed.size(); i += 3) {
      if (extensible) data.push_back(0);
      data.insert(data.end(), packed.begin() + long(i), packed.begin() + long(i) + 3);
      if (!extensible) data.push_back(0);
    }
    fixture::riffChunk(chunks, "fmt ", fmt);
    fixture::riffChunk(chunks, "data", data);
    const std::string src = tempPath("in4", ".wav"), dst = tempPath("out3", ".wav");
    const fixture::Bytes file = fixture::riffFile(chunks);
    FILE* f = std::fopen(src.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    Job job(kRate44100, kFileTypeWav, 24);
    ASSERT_EQ(job.run(src, dst), 0);
    EXPECT_EQ(convtest::audioBytes(dst), packed);
  }
}

TEST(ConvertExport, MonoOutputAndFloatOutput) {
  const std::string src = allSixteenBitValues();
  const std::string mono = tempPath("mono", ".wav");
  Job job(kRate44100, kFileTypeWav, 16);
  job.format.channels = 1;
  job.range.endFrame = 100;
  ASSERT_EQ(job.run(src, mono), 0);
  AudioFileInfo info{};
  const std::vector<uint8_t> m = convtest::audioBytes(mono, &info);
  EXPECT_EQ(info.channels, 1u);
  ASSERT_EQ(m.size(), 200u);
  EXPECT_EQ(int16_t(m[2] | m[3] << 8), -32767);  // left lane of frame 1

  const std::string fl = tempPath("float", ".wav");
  Job job2(kRate44100, kFileTypeWav, 32);
  job2.range.endFrame = 100;
  ASSERT_EQ(job2.run(src, fl), 0);
  const std::vector<uint8_t> f = convtest::audioBytes(fl, &info);
  EXPECT_EQ(info.formatTag, 3u);
  ASSERT_EQ(f.size(), 800u);
  float x;
  std::memcpy(&x, f.data() + 8, 4);
  EXPECT_EQ(x, -32767.0f / 32768.0f);
}

TEST(ConvertStream, MonoSourceGivesSilentRight) {
  std::vector<int> s;
  for (int i = 0; i < 5000; ++i) s.push_back((i * 37) % 20000 - 10000);
  const std::string src = tempPath("mono16", ".wav");
  testsupport::writeWav(src, 48000, 16, 1, 1, le16(s));
  Job job(kRate48000, kFileTypeWav, 24, false);
  recorder().keepPcm = true;
  ASSERT_EQ(job.run(src, ""), 0);
  recorder().keepPcm = false;
  ASSERT_EQ(recorder().blocks.size(), 1u);
  const auto& pcm = recorder().blocks[0].pcm;
  ASSERT_EQ(pcm.size(), 10000u);
  for (size_t i = 0; i < 5000; ++i) {
    ASSERT_EQ(pcm[2 * i], s[i] / 32768.0) << i;
    ASSERT_EQ(pcm[2 * i + 1], 0.0) << i;
  }
  EXPECT_EQ(job.range.statusWord, 2 | kConvertEndOfSource);
}

TEST(ConvertStream, SlotsPositionsAndCapacities) {
  std::vector<int> s(2 * 44100 * 3, 0);
  const std::string src = tempPath("three", ".wav");
  testsupport::writeWav(src, 44100, 16, 2, 1, le16(s));
  Job job(kRate48000, kFileTypeWav, 24, false);
  ASSERT_EQ(job.run(src, ""), 0);
  const auto& blocks = recorder().blocks;
  ASSERT_GT(blocks.size(), 64u);
  const int cap = 1505280 / (8 * 147);
  uint64_t pos = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    pos += uint64_t(blocks[i].frames);
    ASSERT_EQ(blocks[i].position, pos) << i;
    ASSERT_EQ(blocks[i].capacity, cap);
    ASSERT_EQ(blocks[i].slotBytes, cap * 16);
    ASSERT_EQ(blocks[i].slot, int(i % 64));
    ASSERT_EQ(blocks[i].taps, 0);  // PCM source
    if (i + 1 < blocks.size()) {
      ASSERT_EQ(blocks[i].frames, cap);
    }
  }
  // The whole three seconds, although the range ends at the file's end.
  EXPECT_EQ(pos, uint64_t(3 * 48000));
}

TEST(ConvertStream, DsdRateOutputCarriesDoublesAtTheModulatorScale) {
  const std::vector<uint8_t> l = pattern(30000, 1), r = pattern(30000, 2);
  const std::string src = tempPath("dsd64", ".dsf");
  testsupport::writeDsf(src, 2822400, {l, r});
  Job job(kRateDsd64, kFileTypeDsdiff, 1, false);
  recorder().keepPcm = true;
  recorder().keepDsd = true;
  ASSERT_EQ(job.run(src, ""), 0);
  recorder().keepPcm = recorder().keepDsd = false;
  ASSERT_EQ(recorder().blocks.size(), 2u);
  const auto& b = recorder().blocks[0];
  EXPECT_EQ(b.capacity, 188160);
  EXPECT_EQ(b.slotBytes, (188160 + 7) / 8);
  const double full = 2.0 * 18014398509481984.0;
  for (size_t i = 0; i < 1000; ++i) {
    const int bitL = (l[i / 8] >> (7 - i % 8)) & 1, bitR = (r[i / 8] >> (7 - i % 8)) & 1;
    ASSERT_EQ(b.pcm[2 * i], bitL ? full : -full) << i;
    ASSERT_EQ(b.pcm[2 * i + 1], bitR ? full : -full) << i;
  }
  // The source bits ride along for the monitor's direct path.
  EXPECT_TRUE(std::equal(b.dsdL.begin(), b.dsdL.end(), l.begin()));
  EXPECT_TRUE(std::equal(b.dsdR.begin(), b.dsdR.end(), r.begin()));
  EXPECT_EQ(recorder().blocks[1].position, 240000u);
}

TEST(ConvertStream, StopFromTheBlockCallback) {
  std::vector<int> s(2 * 44100 * 2, 100);
  const std::string src = tempPath("stop", ".wav");
  testsupport::writeWav(src, 44100, 16, 2, 1, le16(s));
  recorder().stopAfter = 1;
  recorder().drainReturnsZero = 5;  // would loop if called "until non-zero"
  Job job(kRate48000, kFileTypeWav, 24, false);
  EXPECT_EQ(job.run(src, ""), kConvertStoppedPcm);
  EXPECT_EQ(recorder().drainCalls, 1);
  EXPECT_EQ(recorder().blocks.size(), 2u);
  EXPECT_EQ(job.range.statusWord, 2);  // untouched by a stop

  const std::string dsf = tempPath("stopdsd", ".dsf");
  testsupport::writeDsf(dsf, 2822400, {pattern(80000, 3), pattern(80000, 4)});
  Job dsd(kRateDsd64, kFileTypeDsf, 1, false);
  EXPECT_EQ(dsd.run(dsf, ""), kConvertStoppedDsd);
  EXPECT_EQ(recorder().drainCalls, 1);

  // An export stopped by the second block's callback leaves a finalised file
  // of exactly the first block (blocks of 188160 frames).
  const std::string part = tempPath("partial", ".wav");
  recorder().stopAfter = 1;
  Job ex(kRate44100, kFileTypeWav, 16);
  std::vector<int> longer(2 * 200000, 7);
  const std::string src2 = tempPath("long", ".wav");
  testsupport::writeWav(src2, 44100, 16, 2, 1, le16(longer));
  ex.range.endFrame = 200000;
  EXPECT_EQ(ex.run(src2, part), kConvertStoppedPcm);
  EXPECT_EQ(convtest::audioBytes(part).size(), 188160u * 4);
  recorder().stopAfter = -1;
  recorder().drainReturnsZero = 0;
}

TEST(ConvertExport, SameRateDsdCopiesAreBitExact) {
  const size_t bytes = 3 * 4096 * 8 + 1234;  // several DSF groups and a partial one
  const std::vector<uint8_t> l = pattern(bytes, 11), r = pattern(bytes, 12);
  const std::string dsf = tempPath("src", ".dsf");
  const std::string dff = tempPath("src", ".dff");
  testsupport::writeDsf(dsf, 2822400, {l, r});
  testsupport::writeDsdiff(dff, 2822400, {l, r});
  EqSettings eq{};
  uint8_t master = 0;
  eq.masterOn = &master;

  // DSF -> DSF from a start inside a block group and a byte: from that byte.
  const std::string out1 = tempPath("copy", ".dsf");
  Job a(kRateDsd64, kFileTypeDsf, 1);
  a.range.eq = &eq;
  a.range.startFrame = 65536 + 805;
  a.range.endFrame = int64_t(bytes) * 8 - 999;  // rounds down to a byte
  ASSERT_EQ(a.run(dsf, out1), 0);
  std::vector<uint8_t> ol, orr;
  convtest::dsfChannels(out1, &ol, &orr);
  const size_t first = (65536 + 800) / 8, last = (size_t(a.range.endFrame) / 8);
  ASSERT_EQ(ol.size(), last - first);
  EXPECT_TRUE(std::equal(ol.begin(), ol.end(), l.begin() + long(first)));
  EXPECT_TRUE(std::equal(orr.begin(), orr.end(), r.begin() + long(first)));
  // The last group is padded with the idle byte; the header keeps the true count.
  const std::vector<uint8_t> file = convtest::readAll(out1);
  EXPECT_EQ(file.back(), 0x96);
  AudioFileInfo info{};
  convtest::audioBytes(out1, &info);
  EXPECT_EQ(info.dataBytesLow, 2 * (last - first));
  // Two pieces cut at one point join into the source without overlap.
  std::vector<uint8_t> joinedL, joinedR;
  for (int piece = 0; piece < 2; ++piece) {
    Job p(kRateDsd64, kFileTypeDsf, 1);
    p.range.eq = &eq;
    p.range.startFrame = piece == 0 ? 0 : 100000;
    p.range.endFrame = piece == 0 ? 100000 : int64_t(bytes) * 8;
    const std::string out = tempPath("piece", ".dsf");
    ASSERT_EQ(p.run(dsf, out), 0);
    convtest::dsfChannels(out, &ol, &orr);
    joinedL.insert(joinedL.end(), ol.begin(), ol.end());
    joinedR.insert(joinedR.end(), orr.begin(), orr.end());
  }
  EXPECT_EQ(joinedL, l);
  EXPECT_EQ(joinedR, r);

  // DSDIFF -> DSDIFF with a start inside a byte: rounded to whole bytes.
  const std::string out2 = tempPath("copy", ".dff");
  Job b(kRateDsd64, kFileTypeDsdiff, 1);
  b.range.startFrame = 8 * 100 + 5;
  b.range.endFrame = 8 * 5000;
  ASSERT_EQ(b.run(dff, out2), 0);
  const std::vector<uint8_t> d = convtest::audioBytes(out2);
  ASSERT_EQ(d.size(), 2u * 4900);
  for (size_t i = 0; i < 4900; ++i) {
    ASSERT_EQ(d[2 * i], l[100 + i]) << i;
    ASSERT_EQ(d[2 * i + 1], r[100 + i]) << i;
  }

  // DSDIFF -> DSF at the same rate: the same bits in the other container.
  const std::string out3 = tempPath("cross", ".dsf");
  Job c(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(c.run(dff, out3), 0);
  convtest::dsfChannels(out3, &ol, &orr);
  EXPECT_EQ(ol, l);
  EXPECT_EQ(orr, r);
}

TEST(ConvertExport, DsdReModulationWhenTheLevelChanges) {
  const std::vector<uint8_t> l = pattern(20000, 21), r = pattern(20000, 22);
  const std::string dsf = tempPath("lvl", ".dsf");
  testsupport::writeDsf(dsf, 2822400, {l, r});
  const std::string out = tempPath("lvl-out", ".dsf");
  Job job(kRateDsd64, kFileTypeDsf, 1);
  job.range.levelActive = 1;
  // A flat 1.0 would pass the source through on its own time axis: a copy.
  job.envelope[0].level = job.envelope[1].level = 0.9;
  testsupport::captureDiagnostics();
  const int rc = job.run(dsf, out);
  const std::string text = testsupport::capturedDiagnostics();
  if (rc == kConvertErrModulator) {
    EXPECT_NE(text.find("DeltaSigmaModulation Error! \n"), std::string::npos);
  } else {
    ASSERT_EQ(rc, 0);
    std::vector<uint8_t> ol, orr;
    convtest::dsfChannels(out, &ol, &orr);
    ASSERT_EQ(ol.size(), l.size());
    EXPECT_NE(ol, l);  // re-modulated, not copied
  }
}

TEST(ConvertExport, FadesLandOnTheExpectedFrames) {
  std::vector<int> s(2 * 1000, 16384);  // 0.5 on both channels
  const std::string src = tempPath("fade", ".wav");
  testsupport::writeWav(src, 48000, 16, 2, 1, le16(s));
  const std::string dst = tempPath("fade-out", ".wav");
  Job job(kRate48000, kFileTypeWav, 24);
  job.range.startFrame = 100;
  job.range.endFrame = 900;
  // Output frames (from the source's frame 0): fade in 100..199, unity,
  // fade out 800..899. The conversion starts at output frame 100.
  job.envelope[0] = {100, 0.0, 0.01, 1, 0};
  job.envelope[1] = {200, 1.0, 0.0, 0, 0};
  job.envelope[2] = {800, 1.0, -0.01, -1, 0};
  job.envelope[3] = {900, 0.0, 0.0, 0, 0};
  job.envelope[4] = {std::numeric_limits<int64_t>::max(), 0.0, 0.0, 0, 0};
  ASSERT_EQ(job.run(src, dst), 0);
  const std::vector<uint8_t> out = convtest::audioBytes(dst);
  ASSERT_EQ(out.size(), 800u * 6);
  const auto sample = [&](size_t frame) {
    const uint8_t* p = out.data() + 6 * frame;
    return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
  };
  EXPECT_EQ(sample(0), int32_t(std::nearbyint(0.01 * 0.5 * 8388608)));
  EXPECT_EQ(sample(49), int32_t(std::nearbyint(0.5 * 0.5 * 8388608)));
  EXPECT_EQ(sample(99), 4194304);  // fade complete on its last frame
  EXPECT_EQ(sample(100), 4194304);
  EXPECT_EQ(sample(699), 4194304);
  EXPECT_EQ(sample(700), int32_t(std::nearbyint(0.99 * 0.5 * 8388608)));
  EXPECT_EQ(sample(799), 0);
}

TEST(ConvertExport, EqFollowsTheMasterSwitch) {
  std::vector<int> s(2 * 2000, 8192);
  const std::string src = tempPath("eq", ".wav");
  testsupport::writeWav(src, 44100, 16, 2, 1, le16(s));
  alignas(16) double halve[18] = {0, 0, 0, 0, 0.5, 0.5};  // b0 = 0.5
  EqSettings eq{};
  eq.band[2].on = 1;
  eq.band[2].biquad = halve;
  uint8_t master = 1;
  eq.masterOn = &master;
  for (uint8_t m : {uint8_t(1), uint8_t(0)}) {
    master = m;
    const std::string dst = tempPath("eq-out", ".wav");
    Job job(kRate44100, kFileTypeWav, 16);
    job.range.eq = &eq;
    ASSERT_EQ(job.run(src, dst), 0);
    const std::vector<uint8_t> out = convtest::audioBytes(dst);
    ASSERT_EQ(out.size(), 8000u);
    EXPECT_EQ(int16_t(out[4000] | out[4001] << 8), m ? 4096 : 8192);
  }
}

TEST(ConvertFailures, CodesAndDiagnosticLines) {
  const std::string src = allSixteenBitValues();
  const auto expectFailure = [&](Job& job, const std::string& s, const std::string& d, int code,
                                 const std::string& lines) {
    testsupport::captureDiagnostics();
    EXPECT_EQ(job.run(s, d), code);
    const std::string text = testsupport::capturedDiagnostics();
    EXPECT_NE(text.find(lines), std::string::npos) << text;
  };
  {
    Job job(kRate44100, kFileTypeWav, 16);
    expectFailure(job, "/nonexistent/x.wav", tempPath("x", ".wav"), kConvertErrSourceOpen,
                  "Read File Open Error!\n");
  }
  {
    Job job(kRate44100, kFileTypeWav, 16);
    expectFailure(job, src, "/nonexistent/dir/y.wav", kConvertErrDestinationOpen,
                  "Write File Open Error!\n");
  }
  {
    const std::string odd = tempPath("odd", ".mp3");
    testsupport::writeWav(odd, 44100, 16, 2, 1, le16({1, 2}));
    Job job(kRate44100, kFileTypeWav, 16);
    expectFailure(job, odd, tempPath("y", ".wav"), kConvertErrHeader, "Check Header Error!\n");
  }
  {
    std::vector<int> s(3 * 100, 5);
    const std::string three = tempPath("three", ".wav");
    testsupport::writeWav(three, 44100, 16, 3, 1, le16(s));
    Job job(kRate44100, kFileTypeWav, 16);
    expectFailure(job, three, tempPath("y", ".wav"), kConvertErrWavUnpack,
                  "ch is not 1 or 2  3\nWav to PCM Error!\n");
  }
  {
    Job job(kRate44100, kFileTypeWav, 16);
    job.range.startFrame = job.range.endFrame = 500;
    EXPECT_EQ(job.run(src, tempPath("y", ".wav")), kConvertErrNothing);
  }
  {
    Job job(kRate44100, kFileTypeWav, 20);
    expectFailure(job, src, tempPath("y", ".wav"), kConvertErrPcmPack, "PCM to WAV Error! \n");
  }
  {
    Job job(8, kFileTypeWav, 16);  // unused rate code
    EXPECT_EQ(job.run(src, tempPath("y", ".wav")), kConvertErrRatePlan);
  }
  {
    const std::string zero = tempPath("zero", ".wav");
    testsupport::writeWav(zero, 0, 16, 2, 1, le16({1, 2, 3, 4}));
    Job job(kRate44100, kFileTypeWav, 16);
    const int rc = job.run(zero, tempPath("y", ".wav"));
    EXPECT_EQ(rc, kConvertErrRatePlan);
  }
  {
    Job job(kRate44100, kFileTypeWav, 16);
    job.enabled[0] = 0;
    EXPECT_EQ(job.run(src, tempPath("y", ".wav")), kConvertErrSourceDisabled);
  }
  {
    Job job(kRate44100, kFileTypeWav, 16);
    int dummy = 0;
    job.ioObject = &dummy;
    EXPECT_EQ(job.run(src, tempPath("y", ".wav")), kConvertErrIoObject);
  }
  {
    Job job(kRate44100, 7, 16);  // no writer for this type
    expectFailure(job, src, tempPath("y", ".wav"), kConvertErrCreateHeader,
                  "Create Header Error!\n");
  }
  {
    Job job(kRate48000, kFileTypeWav, 16);
    testsupport::captureDiagnostics();
    job.range.endFrame = 1000;
    EXPECT_EQ(job.run(src, tempPath("y", ".wav")), 0);
    const std::string text = testsupport::capturedDiagnostics();
    EXPECT_NE(text.find("Source File Number = 0\nUp Convert FS = 7056000\n"), std::string::npos);
  }
  // Unasked, the library prints nothing anywhere, failing or not.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Job quiet(kRate48000, kFileTypeWav, 16);
  EXPECT_EQ(quiet.run(src, tempPath("q", ".wav")), 0);
  EXPECT_EQ(quiet.run("/nonexistent/x.wav", tempPath("q", ".wav")), kConvertErrSourceOpen);
  EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
}

TEST(ConvertExport, SourceShorterThanItsHeaderEndsEarly) {
  std::vector<int> s(2 * 3000, 1000);
  const std::string src = tempPath("trunc", ".wav");
  testsupport::writeWav(src, 44100, 16, 2, 1, le16(s));
  // Cut the file: the data chunk claims 3000 frames, 1000 remain.
  std::vector<uint8_t> all = convtest::readAll(src);
  all.resize(all.size() - 2000 * 4);
  FILE* f = std::fopen(src.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(all.data(), 1, all.size(), f);
  std::fclose(f);
  const std::string dst = tempPath("trunc-out", ".wav");
  Job job(kRate44100, kFileTypeWav, 16);
  ASSERT_EQ(job.run(src, dst), 0);
  EXPECT_EQ(convtest::audioBytes(dst).size(), 1000u * 4);
}

TEST(ConvertExport, HoldDownFromAWholeDsfKeepsItsEnd) {
  // The reader's read-ahead runs past the end of the file; that is no early end.
  const size_t bytes = 20 * 4096 + 1000;  // blocks beyond the first read-ahead
  const std::string dsf = tempPath("holdend", ".dsf"), out = tempPath("holdend", ".wav");
  testsupport::writeDsf(dsf, 2822400, {pattern(bytes, 51), pattern(bytes, 52)});
  Job job(kRate176400, kFileTypeWav, 24);
  job.format.holdInterpolation = 1;
  ASSERT_EQ(job.run(dsf, out), 0);
  EXPECT_EQ(convtest::audioBytes(out).size(), bytes * 8 / 16 * 6);
}

TEST(ConvertStream, DsdSourcesReportTheirFilter) {
  const std::vector<uint8_t> l = pattern(40000, 31), r = pattern(40000, 32);
  const std::string dff = tempPath("taps", ".dff");
  testsupport::writeDsdiff(dff, 2822400, {l, r});
  // DSD64 -> 176.4 kHz export: L 1, M 16, 1023 taps, blocks of 11760 frames.
  Job pcm(kRate176400, kFileTypeWav, 24);
  testsupport::captureDiagnostics();
  ASSERT_EQ(pcm.run(dff, tempPath("taps", ".wav")), 0);
  EXPECT_NE(testsupport::capturedDiagnostics().find("Up Convert FS = 2822400\n"),
            std::string::npos);
  ASSERT_FALSE(recorder().blocks.empty());
  EXPECT_EQ(recorder().blocks[0].taps, 1023);
  EXPECT_EQ(recorder().blocks[0].capacity, 11760);
  EXPECT_EQ(recorder().blocks.back().position, uint64_t(320000 / 16));
  // Playback of the same: the stream cut-off (79380 Hz) gives 511 taps.
  Job play(kRate176400, kFileTypeWav, 24, false);
  ASSERT_EQ(play.run(dff, ""), 0);
  EXPECT_EQ(recorder().blocks[0].taps, 511);
  // DSD64 -> DSD128 stream: cut-off 352800 Hz, one-bit rule: 63 taps;
  // doubles at the modulator scale.
  Job dsd(kRateDsd128, kFileTypeDsdiff, 1, false);
  recorder().keepPcm = true;
  ASSERT_EQ(dsd.run(dff, ""), 0);
  recorder().keepPcm = false;
  ASSERT_FALSE(recorder().blocks.empty());
  EXPECT_EQ(recorder().blocks[0].taps, 63);
  double peak = 0;
  for (double v : recorder().blocks[0].pcm) peak = std::max(peak, std::abs(v));
  EXPECT_GT(peak, 0.05 * 18014398509481984.0);
  EXPECT_LT(peak, 4.0 * 18014398509481984.0);
  // Same-rate DSD to PCM rates never filter.
  Job same(kRateDsd64, kFileTypeDsdiff, 1, false);
  ASSERT_EQ(same.run(dff, ""), 0);
  EXPECT_EQ(recorder().blocks[0].taps, 0);
}

TEST(ConvertStream, HoldModeRepeatsAndPicksFrames) {
  std::vector<int> s;
  for (int i = 0; i < 2000; ++i) {
    s.push_back(i);
    s.push_back(-i);
  }
  const std::string src = tempPath("hold", ".wav");
  testsupport::writeWav(src, 48000, 16, 2, 1, le16(s));
  Job up(kRate96000, kFileTypeWav, 24, false);  // L 2, M 1: every frame twice
  up.format.holdInterpolation = 1;
  recorder().keepPcm = true;
  ASSERT_EQ(up.run(src, ""), 0);
  ASSERT_FALSE(recorder().blocks.empty());
  const auto& a = recorder().blocks[0].pcm;
  ASSERT_GE(a.size(), 2000u);
  for (size_t k = 0; k < 1000; ++k) {
    ASSERT_EQ(a[2 * k], double(k / 2) / 32768.0) << k;
    ASSERT_EQ(a[2 * k + 1], -double(k / 2) / 32768.0) << k;
  }
  Job down(kRate44100, kFileTypeWav, 24, false);  // 48 -> 44.1: frame floor(k 160 / 147)
  down.format.holdInterpolation = 1;
  ASSERT_EQ(down.run(src, ""), 0);
  recorder().keepPcm = false;
  const auto& b = recorder().blocks[0].pcm;
  for (size_t k = 0; k < 1000; ++k) ASSERT_EQ(b[2 * k], double(k * 160 / 147) / 32768.0) << k;
}

TEST(ConvertExport, StoppedDsfExportIsSelfConsistent) {
  const size_t bytes = 60000;  // more than one block of 188160 frames
  const std::vector<uint8_t> l = pattern(bytes, 41), r = pattern(bytes, 42);
  const std::string dsf = tempPath("stopsrc", ".dsf");
  testsupport::writeDsf(dsf, 2822400, {l, r});
  const std::string out = tempPath("stopped", ".dsf");
  recorder().stopAfter = 1;
  Job job(kRateDsd64, kFileTypeDsf, 1);
  EXPECT_EQ(job.run(dsf, out), kConvertStoppedDsd);
  recorder().stopAfter = -1;
  // The first block (23520 bytes a channel: 5 whole blocks and a partial
  // one) is in the file, padded, and the header counts exactly it.
  std::vector<uint8_t> ol, orr;
  convtest::dsfChannels(out, &ol, &orr);
  ASSERT_EQ(ol.size(), 188160u / 8);
  EXPECT_TRUE(std::equal(ol.begin(), ol.end(), l.begin()));
  EXPECT_TRUE(std::equal(orr.begin(), orr.end(), r.begin()));
  AudioFileInfo info{};
  convtest::audioBytes(out, &info);
  EXPECT_EQ(convtest::readAll(out).size(), info.dataOffset + 6u * 8192);
}
