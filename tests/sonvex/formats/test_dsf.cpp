// DSF driver: the header it writes, finalize, the probe and the reader, on
// synthetic files and on real ones.
#include <gtest/gtest.h>

#include <cstring>

#include "chunkio.h"
#include "dsdfixtures.h"
#include "dsf.h"
#include "dsp/convert_harness.h"
#include "fileio.h"
#include "sonvex.h"
#include "testdata.h"

using namespace dsdtest;
using sonvex::FilePtr;

namespace {

FilePtr open(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

int fileInfo(const std::string& path, AudioFileInfo* info) {
  const std::u16string p = u16(path);
  return getAudioFileInformation(p.c_str(), info);
}

uint64_t audioBytes(const AudioFileInfo& i) {
  return uint64_t(i.dataBytesHigh) << 32 | i.dataBytesLow;
}

WriteFormat dsdFormat(uint16_t channels, uint32_t rate) {
  WriteFormat w{};
  w.channels = channels;
  w.bitsPerSample = 1;
  w.sampleRate = rate;
  w.notMono = channels == 1 ? 0 : 1;
  return w;
}

}  // namespace

TEST(DsfHeader, WrittenAndFinalizedAsTheTableSays) {
  TempDir dir;
  const std::string path = dir.file("ten.dsf");
  // 10 s of stereo DSD64: 28,224,000 samples a channel, 3,528,000 bytes, 862
  // block groups of 8,192 bytes.
  const uint64_t samples = 28224000, perChannel = samples / 8;
  const uint64_t payload = sonvex::dsfPaddedPayload(perChannel * 2, 2);
  EXPECT_EQ(payload, 7061504u);
  {
    FilePtr f = open(path, "wb+");
    const WriteFormat w = dsdFormat(2, 2822400);
    ASSERT_EQ(sonvex::kDsfDriver.writeHeader(f.get(), &w, 2), 0);
    Bytes header(92);
    ASSERT_EQ(sonvex::seek64(f.get(), 0), 0);
    ASSERT_EQ(std::fread(header.data(), 1, 92, f.get()), 92u);
    EXPECT_EQ(std::memcmp(&header[0], "DSD ", 4), 0);
    EXPECT_EQ(rdLe64(&header[4]), 28u);
    EXPECT_EQ(rdLe64(&header[12]), 92u);
    EXPECT_EQ(rdLe64(&header[20]), 0u);
    EXPECT_EQ(std::memcmp(&header[28], "fmt ", 4), 0);
    EXPECT_EQ(rdLe64(&header[32]), 52u);
    EXPECT_EQ(rdLe32(&header[40]), 1u);
    EXPECT_EQ(rdLe32(&header[44]), 0u);
    EXPECT_EQ(rdLe32(&header[48]), 2u);  // channel type = count
    EXPECT_EQ(rdLe32(&header[52]), 2u);
    EXPECT_EQ(rdLe32(&header[56]), 2822400u);
    EXPECT_EQ(rdLe32(&header[60]), 1u);
    EXPECT_EQ(rdLe64(&header[64]), 0u);
    EXPECT_EQ(rdLe32(&header[72]), 4096u);
    EXPECT_EQ(rdLe32(&header[76]), 0u);
    EXPECT_EQ(std::memcmp(&header[80], "data", 4), 0);
    EXPECT_EQ(rdLe64(&header[84]), 0u);
    // The payload as the pipeline leaves it (its content does not matter here).
    ASSERT_EQ(sonvex::truncateFile(f.get(), 92 + payload), 0);
    ASSERT_EQ(sonvex::kDsfDriver.finalize(f.get(), uint32_t(payload), 0, uint32_t(samples), 0), 0);
  }
  const Bytes head = [&] {
    Bytes b(92);
    FilePtr f = open(path, "rb");
    EXPECT_EQ(std::fread(b.data(), 1, 92, f.get()), 92u);
    return b;
  }();
  EXPECT_EQ(rdLe64(&head[64]), 28224000u);
  EXPECT_EQ(rdLe64(&head[84]), 7061516u);
  EXPECT_EQ(rdLe64(&head[12]), 7061596u);
  EXPECT_EQ(rdLe64(&head[20]), 0u);  // no metadata
  EXPECT_EQ(sizeOf(path), 7061596u);

  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(info.sampleRate, 2822400u);
  EXPECT_EQ(info.bitsPerSample, 1u);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.dataOffset, 92u);
  EXPECT_EQ(audioBytes(info), 7056000u);
  EXPECT_EQ(info.fileType, 2u);
  EXPECT_EQ(info.formatTag, 0u);
}

TEST(DsfHeader, MonoHasChannelTypeOneAndOneBlockPerGroup) {
  TempDir dir;
  const std::string path = dir.file("mono.dsf");
  FilePtr f = open(path, "wb+");
  const WriteFormat w = dsdFormat(1, 5644800);
  ASSERT_EQ(sonvex::kDsfDriver.writeHeader(f.get(), &w, 2), 0);
  uint8_t h[92];
  ASSERT_EQ(sonvex::seek64(f.get(), 0), 0);
  ASSERT_EQ(std::fread(h, 1, 92, f.get()), 92u);
  EXPECT_EQ(rdLe32(h + 48), 1u);
  EXPECT_EQ(rdLe32(h + 52), 1u);
  EXPECT_EQ(sonvex::dsfPaddedPayload(4097, 1), 8192u);
  EXPECT_EQ(sonvex::dsfPaddedPayload(4096, 1), 4096u);
  EXPECT_EQ(sonvex::dsfPaddedPayload(0, 2), 0u);
  EXPECT_EQ(sonvex::dsfPaddedPayload(2, 2), 8192u);
  const WriteFormat none = dsdFormat(0, 2822400);
  EXPECT_EQ(sonvex::kDsfDriver.writeHeader(f.get(), &none, 2), -1);
}

TEST(DsfRead, PartlyUsedLastBlockReportsAudioWithoutPadding) {
  TempDir dir;
  const std::string path = dir.file("part.dsf");
  const Bytes l = randomBytes(5000, 1), r = randomBytes(5000, 2);
  writeAll(path, buildDsf(2822400, {l, r}, 5000 * 8));
  FilePtr f = open(path, "rb");
  uint64_t offset = 0, chunk = 0, bytes = 0;
  ASSERT_EQ(sonvex::kDsfDriver.locateData(f.get(), &offset, &chunk, &bytes), 0);
  EXPECT_EQ(offset, 92u);
  EXPECT_EQ(chunk, 12u + 2 * 8192);
  EXPECT_EQ(bytes, 10000u);
  uint32_t rate = 0, bits = 0, channels = 0;
  uint16_t tag = 7;
  ASSERT_EQ(sonvex::kDsfDriver.readFormat(f.get(), &rate, &bits, &channels, &tag), 0);
  EXPECT_EQ(rate, 2822400u);
  EXPECT_EQ(bits, 1u);
  EXPECT_EQ(channels, 2u);
  EXPECT_EQ(tag, 0u);
}

// DSD is one bit per sample whatever the bits field says, everywhere; a file
// cut short reports the audio it holds (per channel: what its last block has).
TEST(DsfRead, BitsFieldIgnoredAndCutFilesReportWhatTheyHold) {
  TempDir dir;
  const std::string path = dir.file("eight.dsf"), out = dir.file("copy.dsf");
  Bytes f = buildDsf(2822400, {randomBytes(10000, 3), randomBytes(10000, 4)}, 10000 * 8);
  f[28 + 32] = 8;
  writeAll(path, f);
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(info.bitsPerSample, 1u);
  EXPECT_EQ(audioBytes(info), 20000u);
  convtest::Job copy(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(copy.run(path, out), 0);
  ASSERT_EQ(fileInfo(out, &info), 0);
  EXPECT_EQ(audioBytes(info), 20000u);
  // One whole group, then the left block of the next and 100 bytes of the right.
  f.resize(92 + 8192 + 4096 + 100);
  writeAll(path, f);
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(audioBytes(info), 2u * (4096 + 100));
}

TEST(DsfRead, Id3ChunkAfterDataIsIgnored) {
  TempDir dir;
  const std::string path = dir.file("tagged.dsf");
  Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10};
  id3.resize(20, 0);
  writeAll(path, buildDsf(2822400, {randomBytes(100, 3)}, 800, id3));
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(info.channels, 1u);
  EXPECT_EQ(audioBytes(info), 100u);
}

TEST(DsfProbe, RefusesWhatIsNotDsfAndCutHeaders) {
  TempDir dir;
  FilePtr f;
  int kind = 5;
  // Not "DSD ": not this format.
  writeAll(dir.file("riff.dsf"),
           Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 0, 0,
                 0,   0,   0,   0,   0, 0, 0, 0, 0,   0,   0,   0,   0, 0, 0});
  f = open(dir.file("riff.dsf"), "rb");
  EXPECT_EQ(sonvex::kDsfDriver.probe(f.get(), &kind), -17);
  EXPECT_EQ(kind, 5);  // the DSF probe leaves the kind alone
  // fmt chunk cut short: -1 from the probe, -7 from file information.
  Bytes cut = buildDsf(2822400, {randomBytes(10, 4)}, 80);
  cut.resize(60);
  writeAll(dir.file("cut.dsf"), cut);
  f = open(dir.file("cut.dsf"), "rb");
  EXPECT_EQ(sonvex::kDsfDriver.probe(f.get(), &kind), -1);
  AudioFileInfo info{};
  EXPECT_EQ(fileInfo(dir.file("cut.dsf"), &info), -7);
  // Too short for the DSD chunk: accepted; the next step fails.
  writeAll(dir.file("tiny.dsf"), Bytes{'D', 'S', 'D', ' '});
  f = open(dir.file("tiny.dsf"), "rb");
  EXPECT_EQ(sonvex::kDsfDriver.probe(f.get(), &kind), 0);
  EXPECT_LT(fileInfo(dir.file("tiny.dsf"), &info), 0);
}

TEST(DsfRead, UnusableHeadersAreRefusedAsFormatErrors) {
  TempDir dir;
  const auto withFields = [&](const std::string& name, uint32_t channels, uint32_t rate,
                              uint64_t samples) {
    Bytes b = buildDsf(2822400, {randomBytes(64, 5), randomBytes(64, 6)}, 512);
    for (int i = 0; i < 4; ++i) b[52 + i] = uint8_t(channels >> (8 * i));
    for (int i = 0; i < 4; ++i) b[56 + i] = uint8_t(rate >> (8 * i));
    for (int i = 0; i < 8; ++i) b[64 + i] = uint8_t(samples >> (8 * i));
    writeAll(dir.file(name), b);
    AudioFileInfo info{};
    return fileInfo(dir.file(name), &info);
  };
  EXPECT_EQ(withFields("ok.dsf", 2, 2822400, 512), 0);
  EXPECT_EQ(withFields("nochannels.dsf", 0, 2822400, 512), -8);
  EXPECT_EQ(withFields("norate.dsf", 2, 0, 512), -8);
  EXPECT_EQ(withFields("overflow.dsf", 6, 2822400, UINT64_MAX / 3), -8);
  EXPECT_EQ(withFields("huge.dsf", 2, 2822400, uint64_t(1) << 63), -8);
}

TEST(DsfDriver, SlotsOutsideTheFormatAnswerAsDocumented) {
  uint64_t t = 0;
  EXPECT_EQ(sonvex::kDsfDriver.readTimeReference(nullptr, &t), -1);
  EXPECT_EQ(sonvex::kDsfDriver.writeTimeReference(nullptr, 0), -1);
  EXPECT_EQ(sonvex::kDsfDriver.removeChunk(nullptr, "ID3 "), -1);
  EXPECT_EQ(sonvex::kDsfDriver.readBextTimeReference(nullptr, 0, &t), -1);
  EXPECT_EQ(sonvex::kDsfDriver.headerReserve(), 92);
  EXPECT_NE(sonvex::kDsfDriver.append, nullptr);
}

// Real files: values from the collection's manifest.
TEST(DsfInterop, RealFilesProbeWithTheirListedValues) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  struct Case {
    const char* name;
    uint32_t rate, channels;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"taglib-empty10ms.dsf", 2822400, 2, 7056},
      {"mutagen-2822400-1ch-0s-silence.dsf", 2822400, 1, 0},
      {"mutagen-5644800-2ch-s01-silence.dsf", 5644800, 2, 14112},
      {"mutagen-with-id3.dsf", 2822400, 1, 0},
      {"mediafile-full.dsf", 5644800, 2, 14112},
      {"mediafile-unparseable.dsf", 2822400, 1, 0},
      {"dhowden-tag-sample.dsf", 2822400, 2, 4144753ull * 2 / 8},
      {"lofty-full_test.dsf", 2822400, 2, 705600},
      {"dsd2dxd-1kHz_mono_128.dsf", 5644800, 1, 1411200},
      {"dsd2dxd-1kHz_mono_brokenid3.dsf", 2822400, 1, 1764000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioFileInfo info{};
    ASSERT_EQ(fileInfo(testsupport::testdataDir() + "/dsf/" + c.name, &info), 0);
    EXPECT_EQ(info.sampleRate, c.rate);
    EXPECT_EQ(info.bitsPerSample, 1u);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_EQ(info.dataOffset, 92u);
    EXPECT_EQ(audioBytes(info), c.bytes);
    EXPECT_EQ(info.fileType, 2u);
  }
}
