// Chunk searches, file size and the two copies.
#include <gtest/gtest.h>

#include "chunkio.h"
#include "diagcapture.h"
#include "fileio.h"
#include "riff_fixture.h"

using namespace fixture;
using sonvex::ChunkLayout;
using sonvex::ProgressMode;

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

// FRM8 form: "FRM8", u64 BE size, "DSD ", then the given chunks.
Bytes dsdiffFile(const Bytes& chunks) {
  Bytes b;
  putId(b, "FRM8");
  putBe(b, chunks.size() + 4, 8);
  putId(b, "DSD ");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

void dsdiffChunk(Bytes& b, const char* id, const Bytes& payload) {
  putId(b, id);
  putBe(b, payload.size(), 8);
  b.insert(b.end(), payload.begin(), payload.end());
  if (payload.size() & 1) b.push_back(0);
}

// DSF chunk: id, u64 LE size including the 12-byte header, payload.
void dsfChunk(Bytes& b, const char* id, const Bytes& payload) {
  putId(b, id);
  putLe(b, payload.size() + 12, 8);
  b.insert(b.end(), payload.begin(), payload.end());
}

struct Found {
  int result;
  uint64_t offset;
  uint32_t size;
};

Found flat(FILE* f, const char* id, ChunkLayout layout = ChunkLayout::Riff) {
  Found r{0, 99, 99};
  r.result = sonvex::flatChunkSearch(f, id, layout, &r.offset, &r.size);
  return r;
}

class ChunkSearch : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(ChunkSearch, RiffWalkSkipsPadBytesOfOddChunks) {
  Bytes chunks;
  riffChunk(chunks, "fmt ", fmtPayload(1, 2, 44100, 16));  // at 12
  riffChunk(chunks, "LIST", Bytes(7, 'x'));                // at 36, 7 + pad
  riffChunk(chunks, "bext", Bytes(3, 'b'));                // at 52, 3 + pad
  riffChunk(chunks, "data", Bytes(10, 0));                 // at 64
  auto f = open(dir.write("odd.wav", riffFile(chunks)), "rb");

  Found fmt = flat(f.get(), "fmt ");
  EXPECT_EQ(fmt.result, 0);
  EXPECT_EQ(fmt.offset, 12u);
  EXPECT_EQ(fmt.size, 16u);
  Found list = flat(f.get(), "LIST");
  EXPECT_EQ(list.offset, 36u);
  EXPECT_EQ(list.size, 7u);  // as stored, without the pad
  Found data = flat(f.get(), "data");
  EXPECT_EQ(data.result, 0);
  EXPECT_EQ(data.offset, 64u);
  EXPECT_EQ(data.size, 10u);
}

TEST_F(ChunkSearch, ZeroSizedChunkBeforeTargetStopsTheWalk) {
  Bytes chunks;
  riffChunk(chunks, "fmt ", fmtPayload(1, 2, 44100, 16));
  riffChunk(chunks, "JUNK", {});
  riffChunk(chunks, "data", Bytes(4, 0));
  auto f = open(dir.write("zero.wav", riffFile(chunks)), "rb");

  testsupport::captureDiagnostics();
  Found data = flat(f.get(), "data");
  const std::string out = testsupport::capturedDiagnostics();
  EXPECT_EQ(data.result, -1);
  EXPECT_EQ(data.offset, 0u);
  EXPECT_EQ(data.size, 0u);
  EXPECT_EQ(out, "Cannot search next chunk! \n");
  // A zero-sized chunk that is itself the target is still found.
  EXPECT_EQ(flat(f.get(), "JUNK").offset, 36u);
}

TEST_F(ChunkSearch, AbsentChunkPrintsTheFourReadLines) {
  Bytes chunks;
  riffChunk(chunks, "fmt ", fmtPayload(1, 2, 44100, 16));
  riffChunk(chunks, "data", Bytes(5, 0));  // 5 + pad: ends at 50
  auto f = open(dir.write("absent.wav", riffFile(chunks)), "rb");

  testsupport::captureDiagnostics();
  Found bext = flat(f.get(), "bext");
  const std::string out = testsupport::capturedDiagnostics();
  EXPECT_EQ(bext.result, -1);
  EXPECT_EQ(bext.offset, 0u);
  EXPECT_EQ(out, "totalOffset fread 50 \nnextSize fread 6 \nread size 8 \nkCHUNK_ERR fread \n");
}

TEST_F(ChunkSearch, PartialHeaderFailsSilently) {
  Bytes chunks;
  riffChunk(chunks, "fmt ", fmtPayload(1, 2, 44100, 16));
  putId(chunks, "dat");  // three bytes of a header
  auto f = open(dir.write("cut.wav", riffFile(chunks)), "rb");
  testsupport::captureDiagnostics();
  Found data = flat(f.get(), "data");
  EXPECT_EQ(testsupport::capturedDiagnostics(), "");
  EXPECT_EQ(data.result, -1);
  EXPECT_EQ(data.offset, 0u);
}

TEST_F(ChunkSearch, DsfLayoutSizesIncludeTheHeader) {
  Bytes b;
  dsfChunk(b, "DSD ", Bytes(16, 0));  // 28 bytes at 0
  dsfChunk(b, "fmt ", Bytes(40, 0));  // 52 bytes at 28
  dsfChunk(b, "data", Bytes(9, 0));   // at 80
  auto f = open(dir.write("a.dsf", b), "rb");
  EXPECT_EQ(flat(f.get(), "DSD ", ChunkLayout::Dsf).offset, 0u);
  Found fmt = flat(f.get(), "fmt ", ChunkLayout::Dsf);
  EXPECT_EQ(fmt.offset, 28u);
  EXPECT_EQ(fmt.size, 52u);
  Found data = flat(f.get(), "data", ChunkLayout::Dsf);
  EXPECT_EQ(data.result, 0);
  EXPECT_EQ(data.offset, 80u);
  EXPECT_EQ(data.size, 21u);
}

TEST_F(ChunkSearch, HostileSizesEndTheWalkInsteadOfLooping) {
  // A DSF size near 2^64 would wrap the position backwards.
  Bytes dsf;
  putId(dsf, "DSD ");
  putLe(dsf, uint64_t(0) - 16, 8);
  dsf.resize(28, 0);
  dsfChunk(dsf, "fmt ", Bytes(40, 0));
  auto f = open(dir.write("wrap.dsf", dsf), "rb");
  testsupport::captureDiagnostics();
  EXPECT_EQ(flat(f.get(), "fmt ", ChunkLayout::Dsf).result, -1);
  testsupport::capturedDiagnostics();

  // An odd size of 2^63 - 1 pads to 2^63, past any signed offset.
  for (const uint64_t huge : {uint64_t(INT64_MAX), uint64_t(INT64_MAX) - 1}) {
    Bytes odd;
    putId(odd, "DSD ");
    putLe(odd, huge, 8);
    odd.resize(28, 0);
    dsfChunk(odd, "fmt ", Bytes(40, 0));
    auto h = open(dir.write("odd.dsf", odd), "rb");
    testsupport::captureDiagnostics();
    EXPECT_EQ(flat(h.get(), "fmt ", ChunkLayout::Dsf).result, -1) << huge;
    testsupport::capturedDiagnostics();
  }

  // The same for DSDIFF: a size that points back at its own header.
  Bytes chunks;
  putId(chunks, "FVER");
  putBe(chunks, uint64_t(0) - 12, 8);
  chunks.resize(16, 0);
  dsdiffChunk(chunks, "PROP", Bytes(4, 0));
  auto g = open(dir.write("wrap.dff", dsdiffFile(chunks)), "rb");
  uint64_t offset = 1, size = 1;
  EXPECT_EQ(sonvex::dsdiffChunkSearch(g.get(), "PROP", &offset, &size), -1);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(size, 0u);
}

TEST_F(ChunkSearch, ChunksBehindHugePayloadsAreReached) {
  // RIFF: a 3 GiB JUNK chunk (sparse) in front of data puts data past 2^31.
  const uint64_t junk = 3 * kGiB;
  Bytes head;
  riffChunk(head, "fmt ", fmtPayload(1, 2, 44100, 16));
  putId(head, "JUNK");
  putLe(head, junk, 4);
  const std::string path = dir.write("big.wav", riffFile(head, "RIFF", 0));
  auto f = open(path, "rb+");
  const uint64_t dataAt = 12 + 24 + 8 + junk;
  ASSERT_TRUE(setSize(f.get(), dataAt));
  Bytes data;
  riffChunk(data, "data", Bytes(4, 7));
  ASSERT_EQ(sonvex::seek64(f.get(), dataAt), 0);
  ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f.get()), data.size());
  std::fflush(f.get());
  Found found = flat(f.get(), "data");
  EXPECT_EQ(found.result, 0);
  EXPECT_EQ(found.offset, dataAt);

  // DSDIFF: PROP behind a 5 GiB chunk.
  Bytes chunks;
  dsdiffChunk(chunks, "FVER", Bytes(4, 0));
  putId(chunks, "DSD ");
  putBe(chunks, 5 * kGiB, 8);
  const std::string dff = dir.write("big.dff", dsdiffFile(chunks));
  auto g = open(dff, "rb+");
  const uint64_t propAt = 16 + 16 + 12 + 5 * kGiB;
  ASSERT_TRUE(setSize(g.get(), propAt));
  Bytes prop;
  dsdiffChunk(prop, "PROP", Bytes(3, 1));
  ASSERT_EQ(sonvex::seek64(g.get(), propAt), 0);
  ASSERT_EQ(std::fwrite(prop.data(), 1, prop.size(), g.get()), prop.size());
  std::fflush(g.get());
  uint64_t offset = 0, size = 0;
  EXPECT_EQ(sonvex::dsdiffChunkSearch(g.get(), "PROP", &offset, &size), 0);
  EXPECT_EQ(offset, propAt);
  EXPECT_EQ(size, 3u);
  uint64_t total = 0;
  EXPECT_EQ(sonvex::fileSize(g.get(), &total), 0);
  EXPECT_EQ(total, propAt + prop.size());
}

TEST_F(ChunkSearch, DsdiffWalkPadsOddSizesAndReportsAbsence) {
  Bytes chunks;
  dsdiffChunk(chunks, "FVER", Bytes(4, 0));  // at 16
  dsdiffChunk(chunks, "COMT", Bytes(5, 0));  // at 32, 5 + pad
  dsdiffChunk(chunks, "PROP", Bytes(2, 0));  // at 50
  auto f = open(dir.write("a.dff", dsdiffFile(chunks)), "rb");
  uint64_t offset = 0, size = 0;
  EXPECT_EQ(sonvex::dsdiffChunkSearch(f.get(), "COMT", &offset, &size), 0);
  EXPECT_EQ(offset, 32u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(sonvex::dsdiffChunkSearch(f.get(), "PROP", &offset, &size), 0);
  EXPECT_EQ(offset, 50u);
  EXPECT_EQ(sonvex::dsdiffChunkSearch(f.get(), "DSD ", &offset, &size), -1);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(size, 0u);
}

class Copy : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST(Progress, MappingOfBothPhases) {
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::FirstPhase, 40), 36);
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::FirstPhase, 79), 71);
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::FirstPhase, 0), 1);
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::LastPhase, 40), 94);
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::LastPhase, 79), 97);
  EXPECT_EQ(sonvex::mapProgress(ProgressMode::LastPhase, 100), 99);
}

TEST_F(Copy, RangeCopiesBytesAndReportsProgressOfTheLastTransferWithBytesLeft) {
  const Bytes src = pattern(300000, 7);
  const std::string s = dir.write("src.bin", src);
  const std::string d = dir.write("dst.bin", Bytes(10, 0xEE));
  for (ProgressMode mode : {ProgressMode::FirstPhase, ProgressMode::LastPhase}) {
    auto in = open(s, "rb");
    auto out = open(d, "rb+");
    int progress = -5;
    ASSERT_EQ(sonvex::copyRange(in.get(), out.get(), 1000, 4, false, 250000, mode, &progress), 0);
    // 98,304 + 98,304 + 53,392: done 40 then 79, nothing after the last piece.
    EXPECT_EQ(progress, mode == ProgressMode::FirstPhase ? 71 : 97);
    out.reset();
    const Bytes got = readAll(d);
    ASSERT_EQ(got.size(), 250004u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 4, Bytes(4, 0xEE).begin()));
    EXPECT_TRUE(std::equal(got.begin() + 4, got.end(), src.begin() + 1000));
  }
}

TEST_F(Copy, RangeAppendsToTheEndAndCountsToTheSourceEnd) {
  const Bytes src = pattern(5000, 3);
  const std::string s = dir.write("src.bin", src);
  const std::string d = dir.write("dst.bin", Bytes(100, 1));
  auto in = open(s, "rb");
  auto out = open(d, "rb+");
  int progress = -5;
  ASSERT_EQ(
      sonvex::copyRange(in.get(), out.get(), 4000, 0, true, -1, ProgressMode::None, &progress), 0);
  EXPECT_EQ(progress, -5);  // mode 0 stores nothing
  out.reset();
  const Bytes got = readAll(d);
  ASSERT_EQ(got.size(), 1100u);
  EXPECT_TRUE(std::equal(got.begin() + 100, got.end(), src.begin() + 4000));
}

TEST_F(Copy, RangeStopsWhenTheSourceEndsEarly) {
  const std::string s = dir.write("src.bin", pattern(100000));
  const std::string d = dir.write("dst.bin", {});
  auto in = open(s, "rb");
  auto out = open(d, "rb+");
  EXPECT_EQ(
      sonvex::copyRange(in.get(), out.get(), 0, 0, false, 200000, ProgressMode::None, nullptr), -1);
  // A source offset past the end gives nothing to read at all.
  EXPECT_EQ(
      sonvex::copyRange(in.get(), out.get(), 500000, 0, false, 10, ProgressMode::None, nullptr),
      -1);
  // Nothing to copy is not a failure.
  EXPECT_EQ(sonvex::copyRange(in.get(), out.get(), 0, 0, false, 0, ProgressMode::None, nullptr), 0);
}

TEST_F(Copy, WholeCopiesOverTheStartInLargePieces) {
  const Bytes src = pattern(2621440 + 17, 11);  // 2.5 MiB + a tail: three pieces
  const std::string s = dir.write("src.bin", src);
  const std::string d = dir.write("dst.bin", {});
  auto in = open(s, "rb");
  auto out = open(d, "rb+");
  ASSERT_EQ(sonvex::copyWhole(out.get(), in.get()), 0);
  out.reset();
  EXPECT_EQ(readAll(d), src);
}

TEST_F(Copy, WholeOfAnEmptySourceCopiesNothing) {
  const std::string s = dir.write("src.bin", {});
  const std::string d = dir.write("dst.bin", Bytes(3, 9));
  auto in = open(s, "rb");
  auto out = open(d, "rb+");
  EXPECT_EQ(sonvex::copyWhole(out.get(), in.get()), 0);
  out.reset();
  EXPECT_EQ(readAll(d), Bytes(3, 9));
}

}  // namespace
