// The WAV/RF64 driver: headers written byte for byte, sizes at both sides of
// the 4 GiB limits (sparse files), foreign layouts, rebuild and bext.
#include <gtest/gtest.h>

#include "chunkio.h"
#include "diagcapture.h"
#include "driver.h"
#include "fileio.h"
#include "riff_fixture.h"
#include "wav.h"

using namespace fixture;

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;
constexpr uint64_t k4GiB = uint64_t(1) << 32;

WriteFormat makeFormat(uint16_t channels, uint16_t bits, uint32_t rate, bool rf64 = false) {
  WriteFormat w{};
  w.channels = channels;
  w.bitsPerSample = bits;
  w.sampleRate = rate;
  w.notMono = channels == 1 ? 0 : 1;
  w.rf64 = rf64 ? 1 : 0;
  return w;
}

// The plain RIFF header as the table lays it out; float carries cbSize 0 and
// a fact chunk with `frames`.
Bytes expectedRiffHeader(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                         uint32_t frames = 0) {
  Bytes b;
  putId(b, "RIFF");
  putLe(b, 32760, 4);
  putId(b, "WAVE");
  putId(b, "fmt ");
  putLe(b, tag == 3 ? 18 : 16, 4);
  const Bytes fmt = fmtPayload(tag, channels, rate, bits);
  b.insert(b.end(), fmt.begin(), fmt.end());
  if (tag == 3) {
    putLe(b, 0, 2);
    putId(b, "fact");
    putLe(b, 4, 4);
    putLe(b, frames, 4);
  }
  putId(b, "JUNK");
  putLe(b, 32760 - 4 - b.size(), 4);
  b.resize(32760, 0);
  putId(b, "data");
  putLe(b, 0, 4);
  return b;
}

struct Located {
  int result;
  uint64_t offset, stored, audio;
};

Located locate(FILE* f) {
  Located l{};
  l.result = sonvex::wavLocateData(f, &l.offset, &l.stored, &l.audio);
  return l;
}

class Wav : public ::testing::Test {
 protected:
  // A file holding a fresh header from the driver, open for update.
  sonvex::FilePtr written(const std::string& name, const WriteFormat& w) {
    auto f = open(dir.path(name), "wb+");
    EXPECT_EQ(sonvex::dispatchWriteHeader(kFileTypeWav, f.get(), &w), 0);
    return f;
  }
  TempDir dir;
};

TEST_F(Wav, HeaderMatchesTheTableByteForByte) {
  auto f = written("a.wav", makeFormat(2, 16, 44100));
  EXPECT_EQ(sonvex::tell64(f.get()), 32768);  // left at the first audio byte
  const Bytes got = readAt(f.get(), 0, 40000);
  const Bytes want = expectedRiffHeader(1, 2, 44100, 16);
  ASSERT_EQ(got.size(), 32768u);
  EXPECT_EQ(got, want);
  EXPECT_EQ(getLe16(got, 32), 4);        // block align
  EXPECT_EQ(getLe32(got, 28), 176400u);  // byte rate

  auto g = written("b.wav", makeFormat(2, 32, 96000));
  EXPECT_EQ(readAt(g.get(), 0, 32768), expectedRiffHeader(3, 2, 96000, 32));
  auto m = written("c.wav", makeFormat(1, 24, 48000));
  EXPECT_EQ(readAt(m.get(), 0, 32768), expectedRiffHeader(1, 1, 48000, 24));
}

TEST_F(Wav, Rf64HeaderCarriesAnEmptyDs64BeforeFmt) {
  auto f = written("a.wav", makeFormat(2, 24, 192000, true));
  const Bytes got = readAt(f.get(), 0, 32768);
  ASSERT_EQ(got.size(), 32768u);
  Bytes want;
  putId(want, "RF64");
  putLe(want, 32760, 4);
  putId(want, "WAVE");
  putId(want, "ds64");
  putLe(want, 28, 4);
  want.resize(48, 0);
  putId(want, "fmt ");
  putLe(want, 16, 4);
  const Bytes fmt = fmtPayload(1, 2, 192000, 24);
  want.insert(want.end(), fmt.begin(), fmt.end());
  putId(want, "JUNK");
  putLe(want, 32680, 4);
  want.resize(32760, 0);
  putId(want, "data");
  putLe(want, 0, 4);
  EXPECT_EQ(got, want);
}

TEST_F(Wav, WriterRefusesFormatsItCannotDescribe) {
  auto f = open(dir.path("bad.wav"), "wb+");
  for (const WriteFormat& w :
       {makeFormat(0, 16, 44100), makeFormat(2, 0, 44100), makeFormat(2, 8, 44100),
        makeFormat(2, 16, 0), makeFormat(65535, 32, 384000)})
    EXPECT_EQ(sonvex::wavWriteHeader(f.get(), &w, 0), -1) << w.channels << " " << w.bitsPerSample;
  EXPECT_EQ(sonvex::wavWriteHeader(f.get(), nullptr, 0), -1);
}

TEST_F(Wav, FinalizeOfHundredBytesGivesTheDocumentedSizes) {
  const std::string path = dir.path("a.wav");
  {
    auto f = open(path, "wb+");
    const WriteFormat w = makeFormat(2, 16, 44100);
    ASSERT_EQ(sonvex::dispatchWriteHeader(0, f.get(), &w), 0);
    const Bytes audio = pattern(100);
    ASSERT_EQ(std::fwrite(audio.data(), 1, 100, f.get()), 100u);
    EXPECT_EQ(sonvex::dispatchFinalize(0, f.get(), 100, 0, 25, 0), 0);
  }
  const Bytes b = readAll(path);
  ASSERT_EQ(b.size(), 32868u);
  EXPECT_EQ(getLe32(b, 4), 32860u);
  EXPECT_EQ(getLe32(b, 32764), 100u);
  EXPECT_TRUE(std::equal(b.begin() + 32768, b.end(), pattern(100).begin()));

  auto f = open(path, "rb");
  uint32_t rate, bits, channels;
  uint16_t tag;
  ASSERT_EQ(sonvex::dispatchReadFormat(1, f.get(), &rate, &bits, &channels, &tag), 0);
  EXPECT_EQ(rate, 44100u);
  EXPECT_EQ(bits, 16u);
  EXPECT_EQ(channels, 2u);
  EXPECT_EQ(tag, 1);
  const Located l = locate(f.get());
  EXPECT_EQ(l.offset, 32768u);
  EXPECT_EQ(l.audio, 100u);

  // Float: the fact chunk counts the frames; audio still starts at 32,768.
  const std::string fl = dir.path("f.wav");
  {
    auto g = open(fl, "wb+");
    const WriteFormat w = makeFormat(2, 32, 96000);
    ASSERT_EQ(sonvex::dispatchWriteHeader(0, g.get(), &w), 0);
    ASSERT_EQ(std::fwrite(pattern(96).data(), 1, 96, g.get()), 96u);
    EXPECT_EQ(sonvex::dispatchFinalize(0, g.get(), 96, 0, 12, 0), 0);
  }
  const Bytes fb = readAll(fl);
  Bytes header = expectedRiffHeader(3, 2, 96000, 32, 12);
  header[32764] = 96;
  header[4] = uint8_t(32760 + 96);
  header[5] = uint8_t((32760 + 96) >> 8);
  ASSERT_EQ(fb.size(), 32768u + 96);
  EXPECT_EQ(Bytes(fb.begin(), fb.begin() + 32768), header);
}

TEST_F(Wav, FinalizeWithoutDataChunkSaysSo) {
  Bytes chunks;
  riffChunk(chunks, "fmt ", fmtPayload(1, 2, 44100, 16));
  auto f = open(dir.write("nodata.wav", riffFile(chunks)), "rb+");
  testsupport::captureDiagnostics();
  EXPECT_EQ(sonvex::wavFinalize(f.get(), 0, 0, 0, 0), -1);
  const std::string out = testsupport::capturedDiagnostics();
  EXPECT_NE(out.find("searchSpecifiedChunk Error \n"), std::string::npos) << out;
}

TEST_F(Wav, FiveGiBRf64KeepsItsTrueSizesInDs64) {
  auto f = written("big.wav", makeFormat(2, 24, 96000, true));
  const uint64_t audio = 5 * kGiB;
  ASSERT_TRUE(setSize(f.get(), 32768 + audio));
  ASSERT_EQ(sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0), 0);
  const Bytes head = readAt(f.get(), 0, 32768);
  EXPECT_EQ(getLe32(head, 4), 0xFFFFFFFFu);
  EXPECT_EQ(getLe32(head, 32764), 0xFFFFFFFFu);
  EXPECT_EQ(getLe64(head, 20), audio + 32760);  // ds64 RIFF size
  EXPECT_EQ(getLe64(head, 28), audio);          // ds64 data size
  const Located l = locate(f.get());
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.offset, 32768u);
  EXPECT_EQ(l.stored, audio);
  EXPECT_EQ(l.audio, audio);
}

// The RIFF-size rule at 2^32: plain RIFF up to 2^32 - 1 only, RF64 at any size.
TEST_F(Wav, RiffSizeLimitOnBothSidesForBothKinds) {
  for (bool rf64 : {false, true}) {
    SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
    auto f = written(rf64 ? "rf64.wav" : "riff.wav", makeFormat(2, 16, 44100, rf64));
    // RIFF size 2^32 - 1: audio = size + 8 - 32768.
    uint64_t audio = k4GiB - 1 + 8 - 32768;
    ASSERT_TRUE(setSize(f.get(), 32768 + audio));
    EXPECT_EQ(sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0), 0);
    Bytes head = readAt(f.get(), 0, 64);
    EXPECT_EQ(getLe32(head, 4), 0xFFFFFFFFu);  // exactly 2^32 - 1
    if (rf64) {
      EXPECT_EQ(getLe64(head, 20), k4GiB - 1);
    }

    // One byte more: RIFF size 2^32.
    ++audio;
    ASSERT_TRUE(setSize(f.get(), 32768 + audio));
    const int result = sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0);
    head = readAt(f.get(), 0, 64);
    if (rf64) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(getLe64(head, 20), k4GiB);
      EXPECT_EQ(getLe64(head, 28), audio);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(getLe32(head, 4), 0xFFFFFFFFu);  // unchanged from before
    }
    EXPECT_EQ(sonvex::updateRiffSize(f.get(), k4GiB - 1), 0);
    EXPECT_EQ(sonvex::updateRiffSize(f.get(), k4GiB), rf64 ? 0 : -1);
  }
}

TEST_F(Wav, Rf64HeaderBelowFourGiBFinalizesAsAValidFile) {
  // The converter switches to RF64 from 4,294,901,760 expected bytes; such an
  // export ends below a RIFF size of 2^32 and must still finalize.
  for (uint64_t audio : {uint64_t(100), uint64_t(4294901760)}) {
    auto f = written("edge.wav", makeFormat(2, 32, 192000, true));
    ASSERT_TRUE(setSize(f.get(), 32768 + audio));
    ASSERT_EQ(sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0), 0)
        << audio;
    const Bytes head = readAt(f.get(), 0, 64);
    EXPECT_EQ(getLe32(head, 4), uint32_t(audio + 32760));
    EXPECT_EQ(getLe64(head, 20), audio + 32760);
    EXPECT_EQ(getLe64(head, 28), audio);
    const Located l = locate(f.get());
    EXPECT_EQ(l.audio, audio);
  }
}

TEST_F(Wav, UpdateRiffSizeRefusesFilesThatAreNotWav) {
  auto f =
      open(dir.write("x.wav", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}), "rb+");
  EXPECT_EQ(sonvex::updateRiffSize(f.get(), 100), -1);
  auto g = open(dir.write("short.wav", Bytes{'R', 'I'}), "rb+");
  EXPECT_EQ(sonvex::updateRiffSize(g.get(), 100), -1);
}

TEST_F(Wav, ProbeReportsKindAndRefusesOtherForms) {
  Bytes fmt;
  riffChunk(fmt, "fmt ", fmtPayload(1, 2, 44100, 16));
  int kind = 0;
  auto riff = open(dir.write("a.wav", riffFile(fmt)), "rb");
  EXPECT_EQ(sonvex::dispatchProbe(0, riff.get(), &kind), 0);
  EXPECT_EQ(kind, sonvex::kRiffKindRiff);
  auto rf = open(dir.write("b.wav", riffFile(fmt, "RF64")), "rb");
  EXPECT_EQ(sonvex::dispatchProbe(0, rf.get(), &kind), 0);
  EXPECT_EQ(kind, sonvex::kRiffKindRf64);
  auto rifx = open(dir.write("c.wav", riffFile(fmt, "RIFX")), "rb");
  EXPECT_EQ(sonvex::wavProbe(rifx.get(), &kind), kErrNotSupported);
  Bytes notWave = riffFile(fmt);
  notWave[11] = ' ';
  auto nw = open(dir.write("d.wav", notWave), "rb");
  EXPECT_EQ(sonvex::wavProbe(nw.get(), &kind), kErrNotSupported);
  Bytes other;
  riffChunk(other, "data", Bytes(4, 0));
  auto nofmt = open(dir.write("e.wav", riffFile(other)), "rb");
  testsupport::captureDiagnostics();
  EXPECT_EQ(sonvex::wavProbe(nofmt.get(), &kind), kErrNotSupported);
  testsupport::capturedDiagnostics();
  // Too short to judge: accepted, the format read refuses it.
  auto tiny = open(dir.write("f.wav", Bytes{'R', 'I', 'F', 'F'}), "rb");
  EXPECT_EQ(sonvex::wavProbe(tiny.get(), &kind), 0);
  uint32_t r, b, c;
  uint16_t t;
  testsupport::captureDiagnostics();
  EXPECT_EQ(sonvex::wavReadFormat(tiny.get(), &r, &b, &c, &t), -1);
  testsupport::capturedDiagnostics();
}

TEST_F(Wav, ForeignLayoutsRead) {
  struct Case {
    const char* name;
    Bytes chunks;
    uint64_t offset, audio;
  };
  std::vector<Case> cases;
  {
    Bytes c;  // the canonical 44-byte header
    riffChunk(c, "fmt ", fmtPayload(1, 2, 44100, 16));
    riffChunk(c, "data", pattern(400));
    cases.push_back({"canonical", c, 44, 400});
  }
  {
    Bytes c;  // LIST, bext, JUNK and odd-sized chunks in front of data
    riffChunk(c, "JUNK", Bytes(28, 0));
    riffChunk(c, "fmt ", fmtPayload(1, 2, 44100, 16));
    riffChunk(c, "bext", Bytes(603, 'b'));
    riffChunk(c, "LIST", Bytes(13, 'l'));
    riffChunk(c, "data", pattern(401));
    cases.push_back({"decorated", c, 12 + 36 + 24 + 612 + 22 + 8, 401});
  }
  {
    Bytes c;  // a header that claims more audio than the file holds
    riffChunk(c, "fmt ", fmtPayload(1, 2, 44100, 16));
    putId(c, "data");
    putLe(c, 1000000, 4);
    const Bytes a = pattern(64);
    c.insert(c.end(), a.begin(), a.end());
    cases.push_back({"cut", c, 44, 64});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto f = open(dir.write(std::string(k.name) + ".wav", riffFile(k.chunks)), "rb");
    int kind = 0;
    EXPECT_EQ(sonvex::wavProbe(f.get(), &kind), 0);
    uint32_t rate = 0, bits = 0, channels = 0;
    uint16_t tag = 0;
    EXPECT_EQ(sonvex::wavReadFormat(f.get(), &rate, &bits, &channels, &tag), 0);
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(channels, 2u);
    const Located l = locate(f.get());
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.offset, k.offset);
    EXPECT_EQ(l.audio, k.audio);
  }
}

TEST_F(Wav, AllOnesDataSizeNeedsDs64) {
  Bytes fmt;
  riffChunk(fmt, "fmt ", fmtPayload(1, 2, 44100, 16));
  Bytes noDs64 = fmt;
  riffChunk(noDs64, "data", pattern(16), 0xFFFFFFFF);
  auto f = open(dir.write("a.wav", riffFile(noDs64)), "rb");
  testsupport::captureDiagnostics();
  EXPECT_EQ(locate(f.get()).result, -1);
  testsupport::capturedDiagnostics();

  // With ds64 the 64-bit size is used, whatever the form id says.
  Bytes ds64Payload;
  putLe(ds64Payload, 0, 8);
  putLe(ds64Payload, 12, 8);  // data size
  putLe(ds64Payload, 0, 12);
  Bytes with;
  riffChunk(with, "ds64", ds64Payload);
  with.insert(with.end(), fmt.begin(), fmt.end());
  riffChunk(with, "data", pattern(16), 0xFFFFFFFF);
  auto g = open(dir.write("b.wav", riffFile(with, "RIFF")), "rb");
  const Located l = locate(g.get());
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.offset, 12u + 36 + 24 + 8);
  EXPECT_EQ(l.stored, 12u);
  EXPECT_EQ(l.audio, 12u);
}

TEST_F(Wav, SizeRoutinesWriteBothFieldSetsOfRf64) {
  auto f = written("a.wav", makeFormat(2, 16, 44100, true));
  ASSERT_EQ(sonvex::writeDataSizes(f.get(), sonvex::kRiffKindRf64, 6 * kGiB), 0);
  ASSERT_EQ(sonvex::writeRiffSizes(f.get(), sonvex::kRiffKindRf64, 6 * kGiB + 32760), 0);
  Bytes head = readAt(f.get(), 0, 32768);
  EXPECT_EQ(getLe32(head, 4), 0xFFFFFFFFu);
  EXPECT_EQ(getLe32(head, 32764), 0xFFFFFFFFu);
  EXPECT_EQ(getLe64(head, 20), 6 * kGiB + 32760);
  EXPECT_EQ(getLe64(head, 28), 6 * kGiB);
  EXPECT_EQ(getLe64(head, 36), 0u);  // sample count
  ASSERT_EQ(sonvex::writeDataSizes(f.get(), sonvex::kRiffKindRf64, 10), 0);
  head = readAt(f.get(), 0, 32768);
  EXPECT_EQ(getLe32(head, 32764), 10u);
  // Kind 2 on a file without ds64 fails.
  auto g = written("b.wav", makeFormat(2, 16, 44100));
  testsupport::captureDiagnostics();
  EXPECT_EQ(sonvex::writeRiffSizes(g.get(), sonvex::kRiffKindRf64, 100), -1);
  testsupport::capturedDiagnostics();
}

// A RIFF head with a 44-byte header, bext and LIST, and 1,000 bytes of audio.
Bytes smallHead(const Bytes& audio) {
  Bytes c;
  riffChunk(c, "fmt ", fmtPayload(1, 2, 48000, 24));
  Bytes bext(602, 0);
  riffChunk(c, "bext", bext);
  riffChunk(c, "data", audio);
  riffChunk(c, "LIST", Bytes(10, 'l'));
  return riffFile(c);
}

TEST_F(Wav, RebuildMovesAudioBehindANewHeaderOfTheNeededKind) {
  const Bytes audio = pattern(1002, 5);
  for (bool toRf64 : {false, true}) {
    SCOPED_TRACE(toRf64 ? "to RF64" : "to RIFF");
    const std::string headPath = dir.write(toRf64 ? "h2.wav" : "h1.wav", smallHead(audio));
    auto head = open(headPath, "rb+");
    auto scratch = open(dir.path(toRf64 ? "s2.bin" : "s1.bin"), "wb+");
    int progress = 0;
    const uint64_t riffSize = toRf64 ? k4GiB : 1002 + 32760;
    ASSERT_EQ(sonvex::rebuildWav(head.get(), scratch.get(), riffSize, 1002, &progress), 0);
    head.reset();
    const Bytes b = readAll(headPath);
    ASSERT_EQ(b.size(), 32768u + 1002);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), toRf64 ? "RF64" : "RIFF");
    EXPECT_TRUE(std::equal(b.begin() + 32768, b.end(), audio.begin()));
    auto f = open(headPath, "rb");
    uint32_t rate, bits, channels;
    uint16_t tag;
    ASSERT_EQ(sonvex::wavReadFormat(f.get(), &rate, &bits, &channels, &tag), 0);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(bits, 24u);
    EXPECT_EQ(tag, 1);
    const Located l = locate(f.get());
    EXPECT_EQ(l.offset, 32768u);
    EXPECT_EQ(l.audio, 1002u);
    uint64_t at;
    testsupport::captureDiagnostics();
    EXPECT_EQ(sonvex::flatChunkSearch(f.get(), "bext", sonvex::ChunkLayout::Riff, &at, nullptr),
              -1);
    testsupport::capturedDiagnostics();
    EXPECT_EQ(getLe32(b, 4), 1002u + 32760);
    if (toRf64) {
      EXPECT_EQ(getLe64(b, 20), 1002u + 32760);
      EXPECT_EQ(getLe64(b, 28), 1002u);
    }
  }
}

TEST_F(Wav, TimeReferenceGoesIntoBextWrappedOnceToADay) {
  const Bytes audio = pattern(60);
  const std::string path = dir.write("t.wav", smallHead(audio));
  auto f = open(path, "rb+");
  const uint64_t day = 48000ull * 86400;
  ASSERT_EQ(sonvex::writeTimeReference(f.get(), day + 123456789), 0);
  uint64_t t = 0;
  ASSERT_EQ(sonvex::readTimeReference(f.get(), &t), 0);
  EXPECT_EQ(t, 123456789u);
  ASSERT_EQ(sonvex::writeTimeReference(f.get(), 3 * day), 0);  // only one day comes off
  ASSERT_EQ(sonvex::kWavDriver.readTimeReference(f.get(), &t), 0);
  EXPECT_EQ(t, 2 * day);
  f.reset();
  const Bytes b = readAll(path);
  const size_t payload = 12 + 24 + 8;
  EXPECT_EQ(getLe32(b, payload + 338), uint32_t(2 * day));
  EXPECT_EQ(getLe32(b, payload + 342), uint32_t((2 * day) >> 32));
  EXPECT_EQ(b.size(), smallHead(audio).size());

  uint64_t image = 0;
  EXPECT_EQ(sonvex::kWavDriver.readBextTimeReference(b.data() + payload, 602, &image), 0);
  EXPECT_EQ(image, 2 * day);
  EXPECT_EQ(sonvex::kWavDriver.readBextTimeReference(b.data() + payload, 345, &image), -1);
}

TEST_F(Wav, TimeReferenceWithoutBextRefreshesTheRiffSize) {
  Bytes c;
  riffChunk(c, "fmt ", fmtPayload(1, 2, 44100, 16));
  riffChunk(c, "data", pattern(8));
  const std::string path = dir.write("n.wav", riffFile(c, "RIFF", 5));
  auto f = open(path, "rb+");
  testsupport::captureDiagnostics();
  EXPECT_EQ(sonvex::writeTimeReference(f.get(), 1), kErrNoBextChunk);
  testsupport::capturedDiagnostics();
  f.reset();
  const Bytes b = readAll(path);
  EXPECT_EQ(getLe32(b, 4), b.size() - 8);

  // A bext too short to hold the field is left alone.
  Bytes s;
  riffChunk(s, "fmt ", fmtPayload(1, 2, 44100, 16));
  riffChunk(s, "bext", Bytes(100, 0));
  riffChunk(s, "data", pattern(8));
  auto g = open(dir.write("s.wav", riffFile(s)), "rb+");
  EXPECT_EQ(sonvex::writeTimeReference(g.get(), 1), -1);
}

TEST_F(Wav, RemoveChunkMovesTheRestDown) {
  const Bytes audio = pattern(33, 9);
  const std::string path = dir.write("r.wav", smallHead(audio));
  auto f = open(path, "rb+");
  ASSERT_EQ(sonvex::kWavDriver.removeChunk(f.get(), "bext"), 0);
  const Located l = locate(f.get());
  EXPECT_EQ(l.offset, 44u);
  EXPECT_EQ(l.audio, 33u);
  EXPECT_EQ(sonvex::kWavDriver.removeChunk(f.get(), "fmt "), -1);
  f.reset();
  const Bytes b = readAll(path);
  EXPECT_EQ(b.size(), smallHead(audio).size() - 610);
  EXPECT_EQ(getLe32(b, 4), b.size() - 8);
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), b.begin() + 44));
}

TEST_F(Wav, SplitKeepsTrailingChunksAndMovesTheRestOfTheAudio) {
  const Bytes audio = pattern(600, 4);
  const std::string path = dir.write("s.wav", smallHead(audio));
  auto f = open(path, "rb+");
  auto second = open(dir.path("s2.wav"), "wb+");
  ASSERT_EQ(sonvex::kWavDriver.splitFile(f.get(), second.get(), 240), 0);
  Located a = locate(f.get());
  EXPECT_EQ(a.audio, 240u);
  Located b = locate(second.get());
  EXPECT_EQ(b.offset, 32768u);
  EXPECT_EQ(b.audio, 360u);
  EXPECT_EQ(readAt(second.get(), 32768, 360), Bytes(audio.begin() + 240, audio.end()));
  EXPECT_EQ(readAt(f.get(), a.offset, 240), Bytes(audio.begin(), audio.begin() + 240));
  uint64_t list;
  ASSERT_EQ(sonvex::flatChunkSearch(f.get(), "LIST", sonvex::ChunkLayout::Riff, &list, nullptr), 0);
  EXPECT_EQ(list, a.offset + 240);
  EXPECT_EQ(sonvex::kWavDriver.splitFile(f.get(), second.get(), 241), -1);  // past the audio
}

TEST(WavTable, SlotsAndDispatch) {
  EXPECT_EQ(sonvex::driverFor(0), &sonvex::kWavDriver);
  EXPECT_EQ(sonvex::driverFor(1), &sonvex::kWavDriver);
  EXPECT_EQ(sonvex::driverFor(2), &sonvex::kDsfDriver);
  EXPECT_EQ(sonvex::driverFor(3), &sonvex::kDsdiffDriver);
  EXPECT_EQ(sonvex::driverFor(4), &sonvex::kFlacDriver);
  EXPECT_EQ(sonvex::kWavDriver.headerReserve(), 32768);
  for (int type : {-1, 5, 1000}) {
    int kind = 0;
    uint64_t a, b, c;
    uint32_t r, bits, ch;
    uint16_t tag;
    const WriteFormat w = makeFormat(2, 16, 44100);
    EXPECT_EQ(sonvex::driverFor(type), nullptr);
    // A null stream proves the file is never touched.
    EXPECT_EQ(sonvex::dispatchProbe(type, nullptr, &kind), -17);
    EXPECT_EQ(sonvex::dispatchLocateData(type, nullptr, &a, &b, &c), -17);
    EXPECT_EQ(sonvex::dispatchReadFormat(type, nullptr, &r, &bits, &ch, &tag), -17);
    EXPECT_EQ(sonvex::dispatchWriteHeader(type, nullptr, &w), -17);
    EXPECT_EQ(sonvex::dispatchFinalize(type, nullptr, 0, 0, 0, 0), -17);
    EXPECT_EQ(sonvex::dispatchAppend(type, nullptr, nullptr, nullptr, &w, 0), -17);
  }
}

}  // namespace
