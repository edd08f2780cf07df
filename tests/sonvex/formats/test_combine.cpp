// combineFiles and the three appends: the combined file must read back, through
// the library and through the independent readers of dsdfixtures.h, as exactly
// the head's audio followed by the tail's.
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "dsdfixtures.h"
#include "smalldisk.h"
#include "sonvex.h"
#include "testdata.h"

using namespace dsdtest;

namespace {

struct Combine {
  int result;
  int progress;
};

Combine combine(int type, const std::string& head, const std::string& tail,
                const std::string& scratch, uint16_t channels, uint16_t bits,
                uint64_t timeReference = 0) {
  WriteFormat w{};
  w.channels = channels;
  w.bitsPerSample = bits;
  w.notMono = channels == 1 ? 0 : 1;
  w.timeReference = timeReference;
  int progress = 0;
  const std::u16string h = u16(head), t = u16(tail), s = u16(scratch);
  const int r = combineFiles(type, h.c_str(), t.c_str(), s.c_str(), &w, &progress);
  return {r, progress};
}

AudioFileInfo info(const std::string& path) {
  AudioFileInfo i{};
  const std::u16string p = u16(path);
  EXPECT_EQ(getAudioFileInformation(p.c_str(), &i), 0) << path;
  return i;
}

uint64_t audioBytes(const AudioFileInfo& i) {
  return uint64_t(i.dataBytesHigh) << 32 | i.dataBytesLow;
}

std::vector<Bytes> channelsOf(uint32_t n, size_t perChannel, uint32_t seed) {
  std::vector<Bytes> out;
  for (uint32_t c = 0; c < n; ++c) out.push_back(randomBytes(perChannel, seed * 31 + c));
  return out;
}

// Canonical 44-byte RIFF header in front of `data`, then `after`.
Bytes buildWav(uint16_t channels, uint16_t bits, uint32_t rate, const Bytes& data,
               const Bytes& after = {}) {
  Bytes f;
  wrId(f, "RIFF");
  wrLe32(f, 0);
  wrId(f, "WAVE");
  wrId(f, "fmt ");
  wrLe32(f, 16);
  f.push_back(1);
  f.push_back(0);
  f.push_back(uint8_t(channels));
  f.push_back(uint8_t(channels >> 8));
  wrLe32(f, rate);
  const uint32_t align = channels * bits / 8;
  wrLe32(f, align * rate);
  f.push_back(uint8_t(align));
  f.push_back(uint8_t(align >> 8));
  f.push_back(uint8_t(bits));
  f.push_back(0);
  wrId(f, "data");
  wrLe32(f, uint32_t(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  if (data.size() & 1) f.push_back(0);
  f.insert(f.end(), after.begin(), after.end());
  const uint32_t riff = uint32_t(f.size() - 8);
  for (int i = 0; i < 4; ++i) f[4 + i] = uint8_t(riff >> (8 * i));
  return f;
}

// RIFF/RF64 chunk walk: ids in order, and the data chunk's payload position.
struct WavContent {
  bool ok = false;
  std::string form;
  uint64_t riffSize = 0, dataOffset = 0, dataSize = 0;
  std::vector<std::string> chunks;
};

WavContent parseWav(const Bytes& f) {
  WavContent w;
  if (f.size() < 12) return w;
  w.form.assign(reinterpret_cast<const char*>(f.data()), 4);
  w.riffSize = rdLe32(&f[4]);
  uint64_t ds64Data = 0;
  size_t pos = 12;
  while (pos + 8 <= f.size()) {
    const std::string id(reinterpret_cast<const char*>(&f[pos]), 4);
    uint64_t size = rdLe32(&f[pos + 4]);
    w.chunks.push_back(id);
    if (id == "ds64") {
      w.riffSize = rdLe64(&f[pos + 8]);
      ds64Data = rdLe64(&f[pos + 16]);
    }
    if (id == "data") {
      if (size == 0xFFFFFFFF) size = ds64Data;
      w.dataOffset = pos + 8;
      w.dataSize = size;
    }
    pos += 8 + size + (size & 1);
  }
  w.ok = pos == f.size() && w.riffSize == f.size() - 8 && w.dataOffset != 0;
  return w;
}

class CombineTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string head = dir.file("head"), tail = dir.file("tail"), scratch = dir.file("scratch.bin");
  void name(const std::string& ext) {
    head = dir.file("head" + ext);
    tail = dir.file("tail" + ext);
  }
};

}  // namespace

// Every fill of the head's last block, mono and stereo, against tails that
// fit into the free part, fill it exactly, or run over several blocks.
TEST_F(CombineTest, DsfEveryBlockAlignment) {
  name(".dsf");
  const size_t headSizes[] = {0, 1, 904, 4095, 4096, 5000, 8192};
  const size_t tailSizes[] = {0, 1, 3000, 3192, 4096, 10000};
  uint32_t seed = 1;
  for (uint32_t n : {1u, 2u}) {
    for (size_t h : headSizes) {
      for (size_t t : tailSizes) {
        SCOPED_TRACE("channels " + std::to_string(n) + " head " + std::to_string(h) + " tail " +
                     std::to_string(t));
        const auto headAudio = channelsOf(n, h, seed++), tailAudio = channelsOf(n, t, seed++);
        writeAll(head, buildDsf(2822400, headAudio, h * 8));
        writeAll(tail, buildDsf(2822400, tailAudio, t * 8));
        const Bytes tailBefore = readAll(tail);
        const Combine c = combine(2, head, tail, scratch, uint16_t(n), 1);
        ASSERT_EQ(c.result, 0);
        EXPECT_FALSE(exists(scratch));
        EXPECT_EQ(readAll(tail), tailBefore);

        const Bytes out = readAll(head);
        const DsfContent d = parseDsf(out);
        ASSERT_TRUE(d.ok);
        const uint64_t blocks = (h + t + 4095) / 4096;
        const uint64_t payload = blocks * 4096 * n;
        EXPECT_EQ(d.channels, n);
        EXPECT_EQ(d.sampleCount, (h + t) * 8);
        EXPECT_EQ(d.dataSize, payload + 12);
        EXPECT_EQ(d.metadataPointer, 0u);
        EXPECT_EQ(d.totalSize, out.size());
        EXPECT_EQ(out.size(), 92 + payload);
        for (uint32_t ch = 0; ch < n; ++ch) {
          EXPECT_EQ(d.audio[ch], concat(headAudio[ch], tailAudio[ch])) << "channel " << ch;
          for (uint8_t b : d.tails[ch]) ASSERT_EQ(b, 0x96);
        }
        const AudioFileInfo i = info(head);
        EXPECT_EQ(audioBytes(i), uint64_t(n) * (h + t));
        if (t > 0) {
          EXPECT_GE(c.progress, 1);
          EXPECT_LE(c.progress, 99);
        }
      }
    }
  }
}

TEST_F(CombineTest, DsfHeadWithTagsPartialBytesAndSurplusBlocks) {
  name(".dsf");
  // A head whose sample count ends inside a byte, whose data chunk carries
  // more blocks than the count needs, and which ends in an ID3 chunk.
  auto headAudio = channelsOf(2, 9000, 77);
  const auto tailAudio = channelsOf(2, 100, 78);
  const Bytes id3 = id3Tag(4, {{"TIT2", textFrame(3, "Head")}});
  auto padded = headAudio;
  for (auto& ch : padded) ch.resize(12 * 1024, 0x55);  // surplus blocks
  writeAll(head, buildDsf(5644800, padded, 9000 * 8 + 3, id3));
  writeAll(tail, buildDsf(5644800, tailAudio, 100 * 8, id3Tag(4, {{"TIT2", textFrame(3, "T")}})));
  ASSERT_EQ(combine(2, head, tail, scratch, 2, 1).result, 0);
  const Bytes out = readAll(head);
  const DsfContent d = parseDsf(out);
  ASSERT_TRUE(d.ok);
  // The partial byte of the head's last samples is not audio: the tail follows
  // its whole bytes.
  EXPECT_EQ(d.sampleCount, 9100u * 8);
  for (int c = 0; c < 2; ++c) EXPECT_EQ(d.audio[c], concat(headAudio[c], tailAudio[c]));
  // The surplus is gone, the head's tag follows the audio, the tail's is dropped.
  EXPECT_EQ(d.metadataPointer, 92u + 3 * 8192);
  EXPECT_EQ(Bytes(out.begin() + 92 + 3 * 8192, out.end()), id3);
  EXPECT_EQ(d.totalSize, out.size());
  EXPECT_EQ(d.rate, 5644800u);
}

TEST_F(CombineTest, DsfMismatchedChannelsAreRefused) {
  name(".dsf");
  writeAll(head, buildDsf(2822400, channelsOf(2, 100, 1), 800));
  writeAll(tail, buildDsf(2822400, channelsOf(1, 100, 2), 800));
  const Bytes before = readAll(head);
  EXPECT_EQ(combine(2, head, tail, scratch, 2, 1).result, -1);
  EXPECT_EQ(readAll(head), before);
  EXPECT_EQ(combine(2, head, tail, scratch, 0, 1).result, -1);
  EXPECT_FALSE(exists(scratch));
}

// The head is rewritten and the scratch file truncated and deleted: names
// that meet in one file (however spelled) are refused before either happens.
TEST_F(CombineTest, NamesSharingAFileAreRefusedUntouched) {
  name(".wav");
  writeAll(head, buildWav(2, 16, 44100, randomBytes(400, 31)));
  writeAll(tail, buildWav(2, 16, 44100, randomBytes(400, 32)));
  const Bytes h = readAll(head), t = readAll(tail);
  const std::string alias = dir.file("alias.wav");
  ASSERT_EQ(::link(head.c_str(), alias.c_str()), 0);
  const std::string respelled = dir.path() + "/./" + "tail.wav";
  for (const auto& [hd, tl, sc] :
       {std::tuple{head, tail, head}, std::tuple{head, tail, alias},
        std::tuple{head, tail, respelled}, std::tuple{head, alias, scratch}})
    EXPECT_EQ(combine(0, hd, tl, sc, 2, 16).result, kErrSameFile) << hd << " " << tl << " " << sc;
  EXPECT_EQ(readAll(head), h);
  EXPECT_EQ(readAll(tail), t);
  EXPECT_FALSE(exists(scratch));
}

// A disk that fills during the append: a write error (-28), never success
// or a plain -1, and a head whose header claims no more than it holds.
TEST_F(CombineTest, FullDiskIsAWriteError) {
  testsupport::SmallDisk disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const Bytes big = randomBytes(120000, 41);
  struct Case {
    int type;
    std::string ext;
    Bytes head, tail;
  } cases[] = {
      {0, ".wav", buildWav(2, 16, 44100, randomBytes(4000, 42)), buildWav(2, 16, 44100, big)},
      {2, ".dsf", buildDsf(2822400, channelsOf(2, 100, 43), 800),
       buildDsf(2822400, channelsOf(2, 60000, 44), 480000)},
      {3, ".dff", buildDsdiff(2822400, channelsOf(2, 100, 45)),
       buildDsdiff(2822400, channelsOf(2, 60000, 46))}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ext);
    head = disk.file("head" + c.ext);
    tail = dir.file("tail" + c.ext);
    writeAll(head, c.head);
    writeAll(tail, c.tail);
    EXPECT_EQ(combine(c.type, head, tail, disk.file("scratch.bin"), 2, c.type ? 1 : 16).result,
              kErrWrite);
    EXPECT_FALSE(exists(disk.file("scratch.bin")));
    const AudioFileInfo i = info(head);
    EXPECT_LE(i.dataOffset + audioBytes(i), sizeOf(head));
    std::remove(head.c_str());
  }
}

TEST_F(CombineTest, DsdiffStereoMonoOddAndTrailingChunks) {
  name(".dff");
  struct Case {
    uint32_t n;
    size_t h, t;
    bool tagged;
  };
  const Case cases[] = {
      {2, 1000, 777, false}, {1, 1001, 500, false}, {1, 1000, 1, true}, {2, 0, 64, true}};
  uint32_t seed = 100;
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.n) + " ch, " + std::to_string(k.h) + " + " + std::to_string(k.t));
    Bytes id3 = {'I', 'D', '3', ' ', 0, 0, 0, 0, 0, 0, 0, 31};
    id3.resize(12 + 31 + 1, 0x44);
    const auto headAudio = channelsOf(k.n, k.h, seed++), tailAudio = channelsOf(k.n, k.t, seed++);
    writeAll(head, buildDsdiff(2822400, headAudio, k.tagged ? id3 : Bytes{}));
    writeAll(tail, buildDsdiff(2822400, tailAudio, id3));
    const Combine c = combine(3, head, tail, scratch, uint16_t(k.n), 1);
    ASSERT_EQ(c.result, 0);
    EXPECT_FALSE(exists(scratch));
    const Bytes out = readAll(head);
    const DsdiffContent d = parseDsdiff(out);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.formSize, out.size() - 12);
    // The head's tag follows the joined audio; the tail's is dropped.
    EXPECT_EQ(std::count(d.topLevel.begin(), d.topLevel.end(), "ID3 "), k.tagged ? 1 : 0);
    EXPECT_EQ(d.topLevel.back(), k.tagged ? "ID3 " : "DSD ");
    if (k.tagged) {
      EXPECT_EQ(d.payloads.back(), Bytes(id3.begin() + 12, id3.end() - 1));
    }
    for (uint32_t ch = 0; ch < k.n; ++ch)
      EXPECT_EQ(d.audio[ch], concat(headAudio[ch], tailAudio[ch]));
    const AudioFileInfo i = info(head);
    EXPECT_EQ(audioBytes(i), uint64_t(k.n) * (k.h + k.t));
    EXPECT_EQ(i.channels, k.n);
  }
  // Channel counts that differ would interleave into noise.
  writeAll(head, buildDsdiff(2822400, channelsOf(2, 10, 1)));
  writeAll(tail, buildDsdiff(2822400, channelsOf(1, 10, 2)));
  EXPECT_EQ(combine(3, head, tail, scratch, 2, 1).result, -1);
}

TEST_F(CombineTest, WavFramesFollowAndSizesAgree) {
  name(".wav");
  // 1,000 + 500 frames of 16-bit stereo.
  const Bytes a = randomBytes(4000, 5), b = randomBytes(2000, 6);
  Bytes list = {'L', 'I', 'S', 'T', 10, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0};
  writeAll(head, buildWav(2, 16, 44100, a, list));
  writeAll(tail, buildWav(2, 16, 44100, b));
  const Combine c = combine(0, head, tail, scratch, 2, 16);
  ASSERT_EQ(c.result, 0);
  EXPECT_FALSE(exists(scratch));
  const Bytes out = readAll(head);
  const WavContent w = parseWav(out);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.form, "RIFF");
  EXPECT_EQ(w.dataSize, 6000u);
  EXPECT_EQ(Bytes(out.begin() + long(w.dataOffset), out.begin() + long(w.dataOffset) + 6000),
            concat(a, b));
  EXPECT_EQ(Bytes(out.end() - long(list.size()), out.end()), list);  // the head's LIST kept
  const AudioFileInfo i = info(head);
  EXPECT_EQ(audioBytes(i), 6000u);

  // Odd data: the pad byte is written and counted in the RIFF size.
  const Bytes odd1 = randomBytes(1001, 7), odd2 = randomBytes(500, 8);
  writeAll(head, buildWav(1, 8, 8000, odd1));
  writeAll(tail, buildWav(1, 8, 8000, odd2));
  ASSERT_EQ(combine(0, head, tail, scratch, 1, 8).result, 0);
  const Bytes out2 = readAll(head);
  const WavContent w2 = parseWav(out2);
  ASSERT_TRUE(w2.ok);
  EXPECT_EQ(w2.dataSize, 1501u);
  EXPECT_EQ(Bytes(out2.begin() + long(w2.dataOffset), out2.begin() + long(w2.dataOffset) + 1501),
            concat(odd1, odd2));

  // Word lengths that differ would shift every frame.
  writeAll(tail, buildWav(1, 16, 8000, odd2));
  EXPECT_EQ(combine(0, head, tail, scratch, 1, 16).result, -1);
}

TEST_F(CombineTest, WavTimeReferenceGoesIntoAnExistingBext) {
  name(".wav");
  Bytes f;
  const Bytes a = randomBytes(400, 9), b = randomBytes(400, 10);
  const Bytes plain = buildWav(2, 16, 48000, a);
  // fmt, then bext (602 bytes), then data.
  Bytes bext = {'b', 'e', 'x', 't', 0x5A, 0x02, 0, 0};
  bext.resize(8 + 602, 0);
  f.insert(f.end(), plain.begin(), plain.begin() + 36);
  f.insert(f.end(), bext.begin(), bext.end());
  f.insert(f.end(), plain.begin() + 36, plain.end());
  const uint32_t riff = uint32_t(f.size() - 8);
  for (int i = 0; i < 4; ++i) f[4 + i] = uint8_t(riff >> (8 * i));
  writeAll(head, f);
  writeAll(tail, buildWav(2, 16, 48000, b));
  ASSERT_EQ(combine(0, head, tail, scratch, 2, 16, 123456789).result, 0);
  const Bytes out = readAll(head);
  ASSERT_TRUE(parseWav(out).ok);
  EXPECT_EQ(rdLe64(&out[36 + 8 + 338]), 123456789u);
}

TEST_F(CombineTest, FailuresCloseEverythingAndLeaveFilesAlone) {
  name(".wav");
  writeAll(head, buildWav(2, 16, 44100, randomBytes(400, 11)));
  writeAll(tail, buildWav(2, 16, 44100, randomBytes(400, 12)));
  const Bytes h = readAll(head), t = readAll(tail);
  // Type 5: the three files are opened and closed, the scratch file deleted.
  EXPECT_EQ(combine(5, head, tail, scratch, 2, 16).result, -17);
  EXPECT_FALSE(exists(scratch));
  EXPECT_EQ(readAll(head), h);
  EXPECT_EQ(readAll(tail), t);
  EXPECT_EQ(combine(-1, head, tail, scratch, 2, 16).result, -17);
  EXPECT_EQ(combine(0, head, dir.file("missing.wav"), scratch, 2, 16).result, -3);
  EXPECT_EQ(combine(0, dir.file("missing.wav"), tail, scratch, 2, 16).result, -1);
  EXPECT_EQ(combine(0, head, tail, dir.file("no/such/dir/scratch.bin"), 2, 16).result, -1);
  EXPECT_FALSE(exists(scratch));
  EXPECT_EQ(readAll(head), h);
  // A cut-off tail (its data chunk claims 400 bytes, 257 are there): its
  // whole frames follow, the broken one is left out.
  const Bytes cutAudio = randomBytes(400, 13);
  Bytes shortTail = buildWav(2, 16, 44100, cutAudio);
  shortTail.resize(44 + 257);
  writeAll(tail, shortTail);
  ASSERT_EQ(combine(0, head, tail, scratch, 2, 16).result, 0);
  EXPECT_FALSE(exists(scratch));
  const Bytes out = readAll(head);
  const WavContent w = parseWav(out);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.dataSize, 400u + 256);
  EXPECT_EQ(Bytes(out.begin() + 44 + 400, out.end()),
            Bytes(cutAudio.begin(), cutAudio.begin() + 256));
}

TEST_F(CombineTest, RealDsdFilesCombine) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  const std::string dsf = testsupport::testdataDir() + "/dsf/";
  const std::string dff = testsupport::testdataDir() + "/dff/";
  // A head with a partial last block, odd sample count and an ID3 tag.
  name(".dsf");
  writeAll(head, readAll(dsf + "dhowden-tag-sample.dsf"));
  writeAll(tail, readAll(dsf + "taglib-empty10ms.dsf"));
  const DsfContent h = parseDsf(readAll(head)), t = parseDsf(readAll(tail));
  ASSERT_EQ(combine(2, head, tail, scratch, 2, 1).result, 0);
  const DsfContent d = parseDsf(readAll(head));
  ASSERT_TRUE(d.ok);
  const size_t headWhole = size_t(h.sampleCount / 8);
  for (int c = 0; c < 2; ++c) {
    Bytes expect(h.audio[c].begin(), h.audio[c].begin() + long(headWhole));
    expect = concat(expect, t.audio[c]);
    EXPECT_EQ(d.audio[c], expect);
  }
  EXPECT_EQ(d.totalSize, sizeOf(head));

  name(".dff");
  writeAll(head, readAll(dff + "dsd2dxd-1kHz_stereo_i.dff"));
  writeAll(tail, readAll(dff + "taglib-empty10ms.dff"));
  const DsdiffContent hd = parseDsdiff(readAll(head)), td = parseDsdiff(readAll(tail));
  ASSERT_EQ(combine(3, head, tail, scratch, 2, 1).result, 0);
  const DsdiffContent dd = parseDsdiff(readAll(head));
  ASSERT_TRUE(dd.ok);
  for (int c = 0; c < 2; ++c) EXPECT_EQ(dd.audio[c], concat(hd.audio[c], td.audio[c]));
  EXPECT_EQ(dd.formSize, sizeOf(head) - 12);
}

// Large: a RIFF head just under 4 GiB (sparse) plus a small tail becomes an
// RF64 file with its audio at 32,768 and only ds64, fmt, JUNK and data ahead
// of it; the head's LIST follows the audio.
TEST_F(CombineTest, Large_RiffPast4GiBBecomesRf64) {
  struct statvfs fs;
  if (statvfs(dir.path().c_str(), &fs) != 0 || uint64_t(fs.f_bavail) * fs.f_frsize < (12ull << 30))
    GTEST_SKIP() << "needs 12 GiB of free disk";
  name(".wav");
  const uint64_t headBytes = 0xFFFF0000ull;  // frames of 16-bit stereo
  const Bytes first = randomBytes(4096, 21), last = randomBytes(4096, 22),
              tailAudio = randomBytes(200000, 23);
  const Bytes list = {'L', 'I', 'S', 'T', 10,  0,   0,   0, 'I',
                      'N', 'F', 'O', 'I', 'N', 'A', 'M', 1, 0};
  {
    Bytes h = buildWav(2, 16, 44100, {});
    for (int i = 0; i < 4; ++i) h[40 + i] = uint8_t(headBytes >> (8 * i));
    const uint32_t riff = uint32_t(36 + headBytes + list.size());
    for (int i = 0; i < 4; ++i) h[4 + i] = uint8_t(riff >> (8 * i));
    FILE* f = std::fopen(head.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(h.data(), 1, h.size(), f);
    std::fwrite(first.data(), 1, first.size(), f);
    ASSERT_EQ(fseeko(f, off_t(44 + headBytes - last.size()), SEEK_SET), 0);
    std::fwrite(last.data(), 1, last.size(), f);
    std::fwrite(list.data(), 1, list.size(), f);
    std::fclose(f);
  }
  writeAll(tail, buildWav(2, 16, 44100, tailAudio));
  const Combine c = combine(0, head, tail, scratch, 2, 16);
  ASSERT_EQ(c.result, 0);
  EXPECT_FALSE(exists(scratch));
  const uint64_t total = headBytes + tailAudio.size();
  EXPECT_EQ(sizeOf(head), 32768 + total + list.size());

  FILE* f = std::fopen(head.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Bytes hdr(32768);
  ASSERT_EQ(std::fread(hdr.data(), 1, hdr.size(), f), hdr.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&hdr[0]), 4), "RF64");
  EXPECT_EQ(rdLe32(&hdr[4]), 0xFFFFFFFFu);
  std::vector<std::string> ids;
  for (size_t pos = 12; pos + 8 <= hdr.size();) {
    ids.emplace_back(reinterpret_cast<char*>(&hdr[pos]), 4);
    const uint32_t size = rdLe32(&hdr[pos + 4]);
    if (ids.back() == "ds64") {
      EXPECT_EQ(rdLe64(&hdr[pos + 8]), 32768 + total + list.size() - 8);
      EXPECT_EQ(rdLe64(&hdr[pos + 16]), total);
    }
    if (ids.back() == "data") {
      EXPECT_EQ(pos + 8, 32768u);
      EXPECT_EQ(size, 0xFFFFFFFFu);
      break;
    }
    pos += 8 + size + (size & 1);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"ds64", "fmt ", "JUNK", "data"}));
  const auto at = [&](uint64_t offset, size_t n) {
    Bytes b(n);
    EXPECT_EQ(fseeko(f, off_t(offset), SEEK_SET), 0);
    EXPECT_EQ(std::fread(b.data(), 1, n, f), n);
    return b;
  };
  EXPECT_EQ(at(32768, first.size()), first);
  EXPECT_EQ(at(32768 + headBytes - last.size(), last.size()), last);
  EXPECT_EQ(at(32768 + headBytes, tailAudio.size()), tailAudio);
  EXPECT_EQ(at(32768 + total, list.size()), list);
  std::fclose(f);
  const AudioFileInfo i = info(head);
  EXPECT_EQ(audioBytes(i), total);
  EXPECT_EQ(i.dataOffset, 32768u);
}
