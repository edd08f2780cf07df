// DSDIFF driver: the 32,768-byte header, finalize, the PROP reader with its
// local chunks in any order, refusals, and real files.
#include <gtest/gtest.h>

#include <cstring>

#include "chunkio.h"
#include "dsdfixtures.h"
#include "dsdiff.h"
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

Bytes writtenHeader(const std::string& path, uint16_t channels, uint32_t rate) {
  FilePtr f = open(path, "wb+");
  const WriteFormat w = dsdFormat(channels, rate);
  EXPECT_EQ(sonvex::kDsdiffDriver.writeHeader(f.get(), &w, 3), 0);
  f.reset();
  return readAll(path);
}

std::string id(const Bytes& b, size_t at) {
  return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

// A chunk with a big-endian 64-bit size and its pad byte.
Bytes chunk(const char* name, const Bytes& payload) {
  Bytes c;
  wrId(c, name);
  wrBe64(c, payload.size());
  c.insert(c.end(), payload.begin(), payload.end());
  if (payload.size() & 1) c.push_back(0);
  return c;
}

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// A file assembled from PROP local chunks and top-level chunks, in the given order.
Bytes assemble(const std::vector<Bytes>& locals, const std::vector<Bytes>& topLevel) {
  Bytes prop = {'S', 'N', 'D', ' '};
  for (const Bytes& l : locals) prop.insert(prop.end(), l.begin(), l.end());
  Bytes f = {'F', 'R', 'M', '8', 0, 0, 0, 0, 0, 0, 0, 0, 'D', 'S', 'D', ' '};
  const Bytes fver = chunk("FVER", {1, 5, 0, 0});
  f.insert(f.end(), fver.begin(), fver.end());
  const Bytes p = chunk("PROP", prop);
  f.insert(f.end(), p.begin(), p.end());
  for (const Bytes& t : topLevel) f.insert(f.end(), t.begin(), t.end());
  const uint64_t form = f.size() - 12;
  for (int i = 0; i < 8; ++i) f[4 + i] = uint8_t(form >> (56 - 8 * i));
  return f;
}

Bytes chnl(uint16_t n) {
  Bytes b = {uint8_t(n >> 8), uint8_t(n)};
  for (uint16_t i = 0; i < n; ++i) wrId(b, i == 0 ? "SLFT" : "SRGT");
  return b;
}

Bytes cmpr(const char* type) {
  Bytes b;
  wrId(b, type);
  b.push_back(14);
  const char* name = "not compressed";
  b.insert(b.end(), name, name + 14);
  return b;
}

}  // namespace

TEST(DsdiffHeader, StereoMatchesTheTable) {
  TempDir dir;
  const Bytes h = writtenHeader(dir.file("s.dff"), 2, 2822400);
  ASSERT_EQ(h.size(), 32768u);
  EXPECT_EQ(id(h, 0), "FRM8");
  EXPECT_EQ(id(h, 12), "DSD ");
  EXPECT_EQ(id(h, 16), "FVER");
  EXPECT_EQ(rdBe64(&h[20]), 4u);
  EXPECT_EQ(rdBe32(&h[28]), 0x01040000u);
  EXPECT_EQ(id(h, 32), "PROP");
  EXPECT_EQ(rdBe64(&h[36]), 74u);
  EXPECT_EQ(id(h, 44), "SND ");
  EXPECT_EQ(id(h, 48), "FS  ");
  EXPECT_EQ(rdBe64(&h[52]), 4u);
  EXPECT_EQ(rdBe32(&h[60]), 2822400u);
  EXPECT_EQ(id(h, 64), "CHNL");
  EXPECT_EQ(rdBe64(&h[68]), 10u);
  EXPECT_EQ(h[76] << 8 | h[77], 2);
  EXPECT_EQ(id(h, 78), "SLFT");
  EXPECT_EQ(id(h, 82), "SRGT");
  EXPECT_EQ(id(h, 86), "CMPR");
  EXPECT_EQ(rdBe64(&h[90]), 19u);
  EXPECT_EQ(id(h, 98), "DSD ");
  EXPECT_EQ(h[102], 14);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[103]), 14), "not compressed");
  EXPECT_EQ(h[117], 0);
  EXPECT_EQ(id(h, 118), "JUNK");
  EXPECT_EQ(rdBe64(&h[122]), 32626u);
  for (size_t i = 130; i < 32756; ++i) ASSERT_EQ(h[i], 0) << i;
  EXPECT_EQ(id(h, 32756), "DSD ");
  EXPECT_EQ(rdBe64(&h[32760]), 0u);
}

TEST(DsdiffHeader, OtherChannelCountsUseNumberedIds) {
  TempDir dir;
  const Bytes mono = writtenHeader(dir.file("m.dff"), 1, 5644800);
  EXPECT_EQ(rdBe64(&mono[36]), 70u);
  EXPECT_EQ(id(mono, 78), "C000");
  EXPECT_EQ(id(mono, 82), "CMPR");
  EXPECT_EQ(id(mono, 114), "JUNK");
  EXPECT_EQ(rdBe64(&mono[118]), 32630u);
  EXPECT_EQ(id(mono, 32756), "DSD ");

  const Bytes six = writtenHeader(dir.file("6.dff"), 6, 2822400);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(id(six, 78 + 4 * i), "C00" + std::to_string(i));
  EXPECT_EQ(id(six, 32756), "DSD ");
  char ids[4];
  sonvex::dsdiffChannelId(16, 20, ids);
  EXPECT_EQ(std::string(ids, 4), "C010");
  sonvex::dsdiffChannelId(255, 300, ids);
  EXPECT_EQ(std::string(ids, 4), "C0FF");

  // Every header parses back with the independent reader.
  const DsdiffContent d = parseDsdiff(six);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.channels, 6u);
  EXPECT_EQ(d.rate, 2822400u);

  FilePtr f = open(dir.file("x.dff"), "wb+");
  const WriteFormat none = dsdFormat(0, 2822400), many = dsdFormat(9000, 2822400);
  EXPECT_EQ(sonvex::kDsdiffDriver.writeHeader(f.get(), &none, 3), -1);
  EXPECT_EQ(sonvex::kDsdiffDriver.writeHeader(f.get(), &many, 3), -1);
}

TEST(DsdiffFinalize, TenSecondsOfStereoDsd64) {
  TempDir dir;
  const std::string path = dir.file("ten.dff");
  writtenHeader(path, 2, 2822400);
  {
    FilePtr f = open(path, "rb+");
    ASSERT_EQ(sonvex::truncateFile(f.get(), 32768 + 7056000), 0);
    ASSERT_EQ(sonvex::kDsdiffDriver.finalize(f.get(), 7056000, 0, 28224000, 0), 0);
  }
  EXPECT_EQ(sizeOf(path), 7088768u);
  const Bytes b = readAll(path);
  EXPECT_EQ(rdBe64(&b[4]), 7088756u);
  EXPECT_EQ(rdBe64(&b[32760]), 7056000u);
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(info.sampleRate, 2822400u);
  EXPECT_EQ(info.bitsPerSample, 1u);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(info.dataOffset, 32768u);
  EXPECT_EQ(audioBytes(info), 7056000u);
  EXPECT_EQ(info.fileType, 3u);
  EXPECT_EQ(info.formatTag, 0u);
}

TEST(DsdiffFinalize, OddAudioGetsItsPadByteAndLargeFilesTheFullFormSize) {
  TempDir dir;
  const std::string odd = dir.file("odd.dff");
  writtenHeader(odd, 1, 2822400);
  {
    FilePtr f = open(odd, "rb+");
    ASSERT_EQ(sonvex::truncateFile(f.get(), 32768 + 1001), 0);
    ASSERT_EQ(sonvex::kDsdiffDriver.finalize(f.get(), 1001, 0, 8008, 0), 0);
  }
  EXPECT_EQ(sizeOf(odd), 32768u + 1002);
  EXPECT_TRUE(parseDsdiff(readAll(odd)).ok);

  // 5 GiB of (sparse) audio: the form size needs all 64 bits.
  const std::string big = dir.file("big.dff");
  writtenHeader(big, 2, 2822400);
  const uint64_t bytes = uint64_t(5) << 30;
  {
    FilePtr f = open(big, "rb+");
    ASSERT_EQ(sonvex::truncateFile(f.get(), 32768 + bytes), 0);
    ASSERT_EQ(sonvex::kDsdiffDriver.finalize(f.get(), uint32_t(bytes), uint32_t(bytes >> 32), 0, 0),
              0);
    uint8_t h[12];
    ASSERT_EQ(sonvex::seek64(f.get(), 0), 0);
    ASSERT_EQ(std::fread(h, 1, 12, f.get()), 12u);
    EXPECT_EQ(rdBe64(h + 4), 32768 + bytes - 12);
  }
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(big, &info), 0);
  EXPECT_EQ(info.dataBytesHigh, 1u);
  EXPECT_EQ(info.dataBytesLow, 1u << 30);
}

TEST(DsdiffRead, LocalChunksInAnyOrderAndForeignChunksAreRead) {
  TempDir dir;
  const Bytes audio = randomBytes(1000, 7);
  const Bytes usual =
      assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2)), chunk("CMPR", cmpr("DSD "))},
               {chunk("DSD ", audio)});
  // CHNL, FS, an unknown chunk, CMPR, then LSCO and ABSS; top level with COMT,
  // DIIN and an unknown chunk before the audio, ID3 after it.
  Bytes abss = {0, 1, 2, 3, 0, 0, 0, 0};
  const Bytes shuffled =
      assemble({chunk("CHNL", chnl(2)), chunk("FS  ", be32(2822400)), chunk("XYZW", {1, 2, 3}),
                chunk("CMPR", cmpr("DSD ")), chunk("LSCO", {0, 0}), chunk("ABSS", abss)},
               {chunk("COMT", {0, 0}), chunk("DIIN", chunk("DIAR", {0, 0, 0, 1, 'x'})),
                chunk("ABCD", Bytes(33, 9)), chunk("DSD ", audio), chunk("ID3 ", Bytes(31, 1))});
  writeAll(dir.file("usual.dff"), usual);
  writeAll(dir.file("shuffled.dff"), shuffled);
  AudioFileInfo a{}, b{};
  ASSERT_EQ(fileInfo(dir.file("usual.dff"), &a), 0);
  ASSERT_EQ(fileInfo(dir.file("shuffled.dff"), &b), 0);
  EXPECT_EQ(a.sampleRate, b.sampleRate);
  EXPECT_EQ(a.channels, b.channels);
  EXPECT_EQ(audioBytes(a), 1000u);
  EXPECT_EQ(audioBytes(b), 1000u);
  // The audio itself is where the library says.
  const Bytes file = readAll(dir.file("shuffled.dff"));
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), file.begin() + b.dataOffset));
}

TEST(DsdiffRead, OddChunksWithoutPadBytesAreTolerated) {
  TempDir dir;
  // CMPR of odd size 19 and an odd PROP, both without their pad bytes.
  Bytes prop = {'S', 'N', 'D', ' '};
  for (const Bytes& l : {chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2))})
    prop.insert(prop.end(), l.begin(), l.end());
  Bytes c = chunk("CMPR", cmpr("DSD "));
  c.pop_back();  // drop the pad
  prop.insert(prop.end(), c.begin(), c.end());
  const Bytes lsco = chunk("LSCO", {0, 0});
  prop.insert(prop.end(), lsco.begin(), lsco.end());
  ASSERT_EQ(prop.size() % 2, 1u);  // odd PROP as well
  Bytes f = {'F', 'R', 'M', '8', 0, 0, 0, 0, 0, 0, 0, 0, 'D', 'S', 'D', ' '};
  Bytes p = chunk("PROP", prop);
  p.pop_back();
  f.insert(f.end(), p.begin(), p.end());
  const size_t dataAt = f.size() + 12;
  const Bytes d = chunk("DSD ", randomBytes(40, 8));
  f.insert(f.end(), d.begin(), d.end());
  writeAll(dir.file("nopad.dff"), f);
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(dir.file("nopad.dff"), &info), 0);
  EXPECT_EQ(info.dataOffset, dataAt);
  EXPECT_EQ(info.channels, 2u);
  EXPECT_EQ(audioBytes(info), 40u);
}

TEST(DsdiffRead, CutFileReportsTheAudioItHolds) {
  TempDir dir;
  const std::string path = dir.file("cut.dff");
  Bytes f = buildDsdiff(2822400, {randomBytes(5000, 5), randomBytes(5000, 6)});
  f.resize(f.size() - 1000);
  writeAll(path, f);
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(path, &info), 0);
  EXPECT_EQ(audioBytes(info), 9000u);
}

TEST(DsdiffRead, RefusalsAreFormatErrors) {
  TempDir dir;
  const auto info = [&](const std::string& name, const Bytes& b) {
    writeAll(dir.file(name), b);
    AudioFileInfo i{};
    return fileInfo(dir.file(name), &i);
  };
  const Bytes dsd = chunk("DSD ", Bytes(64, 0x69));
  // DST-compressed: the probe path refuses it as a format error.
  EXPECT_EQ(info("dst.dff", assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2)),
                                      chunk("CMPR", cmpr("DST "))},
                                     {dsd})),
            -8);
  // No channels, no rate.
  EXPECT_EQ(info("nochnl.dff", assemble({chunk("FS  ", be32(2822400))}, {dsd})), -8);
  EXPECT_EQ(info("zero.dff", assemble({chunk("FS  ", be32(0)), chunk("CHNL", chnl(2))}, {dsd})),
            -8);
  // CHNL and CMPR payloads beyond the work buffer: refused, not copied.
  Bytes bigChnl = chnl(2);
  bigChnl.resize(sonvex::kDsdiffWorkBytes, 'x');
  EXPECT_EQ(
      info("bigchnl.dff", assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", bigChnl)}, {dsd})),
      -8);
  Bytes bigCmpr = cmpr("DSD ");
  bigCmpr.resize(sonvex::kDsdiffWorkBytes - 11, 0);
  EXPECT_EQ(info("bigcmpr.dff", assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2)),
                                          chunk("CMPR", bigCmpr)},
                                         {dsd})),
            -8);
  // The largest payload that fits is still read.
  Bytes fits = cmpr("DSD ");
  fits.resize(sonvex::kDsdiffWorkBytes - 12, 0);
  EXPECT_EQ(info("fits.dff", assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2)),
                                       chunk("CMPR", fits)},
                                      {dsd})),
            0);
  // A local chunk claiming more than its PROP holds.
  Bytes lying = chunk("CHNL", chnl(2));
  lying[11] = 200;
  EXPECT_EQ(info("lying.dff", assemble({chunk("FS  ", be32(2822400)), lying}, {dsd})), -8);
  // Form type DSD without PROP: not this format.
  Bytes noProp = {'F', 'R', 'M', '8', 0, 0, 0, 0, 0, 0, 0, 76, 'D', 'S', 'D', ' '};
  noProp.insert(noProp.end(), dsd.begin(), dsd.end());
  EXPECT_EQ(info("noprop.dff", noProp), -7);
  FilePtr f = open(dir.file("noprop.dff"), "rb");
  int kind = 0;
  EXPECT_EQ(sonvex::kDsdiffDriver.probe(f.get(), &kind), -17);
  EXPECT_EQ(kind, 1);
  // No audio chunk.
  EXPECT_EQ(
      info("noaudio.dff", assemble({chunk("FS  ", be32(2822400)), chunk("CHNL", chnl(2))}, {})),
      -9);
}

TEST(DsdiffDriver, SlotsOutsideTheFormatAnswerAsDocumented) {
  uint64_t t = 99;
  EXPECT_EQ(sonvex::kDsdiffDriver.readTimeReference(nullptr, &t), 0);
  EXPECT_EQ(sonvex::kDsdiffDriver.writeTimeReference(nullptr, 5), 0);
  EXPECT_EQ(sonvex::kDsdiffDriver.readBextTimeReference(nullptr, 0, &t), 0);
  EXPECT_EQ(t, 0u);
  EXPECT_EQ(sonvex::kDsdiffDriver.splitFile(nullptr, nullptr, 0), -17);
  EXPECT_EQ(sonvex::kDsdiffDriver.headerReserve(), 32768);
}

TEST(DsdiffInterop, RealFilesProbeWithTheirListedValues) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  struct Case {
    const char* name;
    uint32_t rate, channels, offset;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"taglib-empty10ms.dff", 2822400, 2, 0, 7056},
      {"mutagen-2822400-1ch-0s-silence.dff", 2822400, 1, 0, 0},
      {"mutagen-5644800-2ch-s01-silence.dff", 5644800, 2, 0, 14112},
      {"lofty-full_test.dff", 2822400, 2, 129, 2758},
      {"dsd2dxd-1kHz_stereo_i.dff", 2822400, 2, 0, 2116800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioFileInfo info{};
    ASSERT_EQ(fileInfo(testsupport::testdataDir() + "/dff/" + c.name, &info), 0);
    EXPECT_EQ(info.sampleRate, c.rate);
    EXPECT_EQ(info.bitsPerSample, 1u);
    EXPECT_EQ(info.channels, c.channels);
    if (c.offset) {
      EXPECT_EQ(info.dataOffset, c.offset);
    }
    EXPECT_EQ(audioBytes(info), c.bytes);
    EXPECT_EQ(info.fileType, 3u);
  }
  AudioFileInfo info{};
  EXPECT_EQ(
      fileInfo(testsupport::testdataDir() + "/dff/mutagen-5644800-2ch-s01-silence-dst.dff", &info),
      -8);
}

TEST(DsdiffInterop, DsfTwinHoldsTheSameSamples) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  const DsfContent dsf =
      parseDsf(readAll(testsupport::testdataDir() + "/dsf/taglib-empty10ms.dsf"));
  const Bytes dffFile = readAll(testsupport::testdataDir() + "/dff/taglib-empty10ms.dff");
  ASSERT_TRUE(dsf.ok);
  AudioFileInfo info{};
  ASSERT_EQ(fileInfo(testsupport::testdataDir() + "/dff/taglib-empty10ms.dff", &info), 0);
  ASSERT_EQ(dsf.channels, 2u);
  for (size_t i = 0; i < 3528; ++i)
    for (int c = 0; c < 2; ++c)
      ASSERT_EQ(reverseBits(dsf.audio[c][i]), dffFile[info.dataOffset + 2 * i + c]) << i;
}
