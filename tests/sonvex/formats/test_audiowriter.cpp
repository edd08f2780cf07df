// The format writers into memory and files, read back through the format
// readers: headers, block layout and bit order agree with what the readers
// expect, and a sink that fills up leaves a finalised file of whole frames.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "audioreader.h"
#include "audiowriter.h"
#include "bytesink.h"
#include "bytesource.h"
#include "riff_fixture.h"

using fixture::Bytes;

namespace {

WriteFormat formatOf(uint16_t channels, uint16_t bits, uint32_t rate, uint32_t rf64 = 0) {
  WriteFormat w{};
  w.channels = channels;
  w.bitsPerSample = bits;
  w.sampleRate = rate;
  w.rf64 = rf64;
  return w;
}

// Writes `audio` (packed PCM or per-channel DSD) in two uneven calls.
int writeAll(sonvex::AudioWriter& w, const WriteFormat& f, int64_t frames,
             const std::vector<Bytes>& audio) {
  const int64_t first = frames / 3 / 8 * 8;
  if (f.bitsPerSample != 1) {
    const size_t align = size_t(f.channels) * f.bitsPerSample / 8;
    const int r = w.writePcm(audio[0].data(), first);
    return r ? r : w.writePcm(audio[0].data() + first * align, frames - first);
  }
  const uint8_t* a[2] = {audio[0].data(), audio.back().data()};
  const uint8_t* b[2] = {a[0] + first / 8, a[1] + first / 8};
  const int r = w.writeDsd(a, first);
  return r ? r : w.writeDsd(b, frames - first);
}

// Opens `bytes` as `type` and expects `frames` frames that read back as `audio`.
void expectReadsBack(int type, const Bytes& bytes, const WriteFormat& f, int64_t frames,
                     const std::vector<Bytes>& audio) {
  sonvex::MemorySource src(bytes.data(), bytes.size());
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  ASSERT_EQ(sonvex::openAudio(src, type, &format, &reader), sonvex::OpenStatus::Ok);
  EXPECT_EQ(format.sampleRate, f.sampleRate);
  EXPECT_EQ(format.channels, f.channels);
  // Readers count DSD in whole bytes.
  EXPECT_EQ(reader->frames(), f.bitsPerSample == 1 ? frames / 8 * 8 : frames);
  int64_t got = 0;
  if (f.bitsPerSample != 1) {
    Bytes out(size_t(frames) * f.channels * 4 + 1);
    ASSERT_EQ(reader->readPcm(out.data(), frames, &got), sonvex::ReadStatus::Ok);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + frames * f.channels * f.bitsPerSample / 8,
                           audio[0].begin()));
  } else {
    std::vector<Bytes> out(f.channels, Bytes(size_t(frames + 7) / 8));
    uint8_t* dst[2] = {out[0].data(), out.back().data()};
    ASSERT_EQ(reader->readDsd(dst, out[0].size(), &got), sonvex::ReadStatus::Ok);
    for (size_t c = 0; c < f.channels; ++c)
      EXPECT_TRUE(std::equal(out[c].begin(), out[c].begin() + frames / 8, audio[c].begin()));
  }
}

struct Case {
  int type;
  WriteFormat format;
  int64_t frames;
};

const Case kCases[] = {
    {kFileTypeWav, formatOf(2, 16, 44100), 1001},
    {kFileTypeWav, formatOf(1, 24, 96000), 777},
    {kFileTypeWav, formatOf(2, 32, 48000, 1), 500},         // RF64, float: ds64 and fact
    {kFileTypeDsf, formatOf(2, 1, 2822400), 5000 * 8 + 3},  // across block groups
    {kFileTypeDsf, formatOf(1, 1, 5644800), 3 * 4096 * 8},
    {kFileTypeDsdiff, formatOf(1, 1, 2822400), 1001 * 8},  // odd: pad byte
    {kFileTypeDsdiff, formatOf(2, 1, 2822400), 999 * 8},
};

std::vector<Bytes> audioFor(const Case& c) {
  if (c.format.bitsPerSample != 1)
    return {fixture::pattern(size_t(c.frames) * c.format.channels * c.format.bitsPerSample / 8)};
  return {fixture::pattern(size_t(c.frames + 7) / 8, 3),
          fixture::pattern(size_t(c.frames + 7) / 8, 5)};
}

TEST(AudioWriter, EachFormatReadsBackFromMemoryAndFile) {
  fixture::TempDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.format.channels << "ch " << c.frames);
    const std::vector<Bytes> audio = audioFor(c);
    sonvex::MemorySink memory;
    auto w = sonvex::makeAudioWriter(c.type, memory);
    ASSERT_EQ(w->begin(c.format), kSonvexOk);
    ASSERT_EQ(writeAll(*w, c.format, c.frames, audio), kSonvexOk);
    ASSERT_EQ(w->finalize(), kSonvexOk);
    expectReadsBack(c.type, memory.bytes(), c.format, c.frames, audio);
    // Every size field agrees with the file's length.
    const Bytes& b = memory.bytes();
    if (c.type == kFileTypeWav) {
      EXPECT_EQ(fixture::getLe32(b, 4), b.size() - 8);
    } else if (c.type == kFileTypeDsf) {
      EXPECT_EQ(fixture::getLe64(b, 12), b.size());
      EXPECT_EQ(fixture::getLe64(b, 64), uint64_t(c.frames));  // the exact sample count
    } else {
      EXPECT_EQ(b.size() % 2, 0u);
    }

    // A file gets the same bytes, though the sizes are written out of order.
    const std::string path = dir.path("w" + std::to_string(&c - kCases));
    sonvex::FilePtr f = fixture::open(path, "w+b");
    sonvex::FileSink file(f.get());
    auto fw = sonvex::makeAudioWriter(c.type, file);
    ASSERT_EQ(fw->begin(c.format), kSonvexOk);
    ASSERT_EQ(writeAll(*fw, c.format, c.frames, audio), kSonvexOk);
    ASSERT_EQ(fw->finalize(), kSonvexOk);
    f.reset();
    EXPECT_EQ(fixture::readAll(path), b);
  }
}

TEST(AudioWriter, AFullSinkLeavesWholeFramesFinalised) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.format.channels << "ch " << c.frames);
    const std::vector<Bytes> audio = audioFor(c);
    sonvex::MemorySink whole;
    auto ref = sonvex::makeAudioWriter(c.type, whole);
    ASSERT_EQ(ref->begin(c.format), kSonvexOk);
    const uint64_t header = whole.bytes().size();
    ASSERT_EQ(writeAll(*ref, c.format, c.frames, audio), kSonvexOk);
    ASSERT_EQ(ref->finalize(), kSonvexOk);
    // Room for the header and a little more than half the audio.
    sonvex::MemorySink sink(header + (whole.bytes().size() - header) / 2 + 3);
    auto w = sonvex::makeAudioWriter(c.type, sink);
    ASSERT_EQ(w->begin(c.format), kSonvexOk);
    int r = writeAll(*w, c.format, c.frames, audio);
    if (r == kSonvexOk) r = w->finalize();  // DSF: the last group fails
    ASSERT_EQ(r, kErrWrite);
    EXPECT_EQ(sink.error(), ENOSPC);
    EXPECT_TRUE(w->finalized());
    EXPECT_EQ(w->finalize(), kErrWrite);  // once only
    const Bytes& b = sink.bytes();
    const uint64_t unit = c.type == kFileTypeDsf ? 4096u * c.format.channels
                          : c.type == kFileTypeWav
                              ? uint64_t(c.format.channels) * c.format.bitsPerSample / 8
                              : c.format.channels;
    const uint64_t kept = w->audioBytes();
    EXPECT_GT(kept, 0u);
    EXPECT_EQ(kept % unit, 0u);
    EXPECT_EQ(b.size(), header + kept + (c.type == kFileTypeDsdiff ? kept & 1 : 0));
    const int64_t frames =
        c.type == kFileTypeWav ? int64_t(kept / unit) : int64_t(kept / c.format.channels * 8);
    EXPECT_EQ(w->frames(), frames);
    expectReadsBack(c.type, b, c.format, frames, audio);
  }
}

TEST(AudioWriter, RefusesWhatItCannotWrite) {
  sonvex::MemorySink sink;
  EXPECT_EQ(sonvex::makeAudioWriter(kFileTypeWav, sink)->begin(formatOf(2, 8, 44100)), kErrIo);
  EXPECT_EQ(sonvex::makeAudioWriter(kFileTypeDsf, sink)->begin(formatOf(0, 1, 2822400)), kErrIo);
  EXPECT_EQ(sonvex::makeAudioWriter(kFileTypeDsdiff, sink)->begin(formatOf(9000, 1, 2822400)),
            kErrIo);
  EXPECT_TRUE(sink.bytes().empty());
  const uint8_t byte = 0;
  EXPECT_EQ(sonvex::makeAudioWriter(kFileTypeDsf, sink)->writePcm(&byte, 1), kErrNotSupported);
  EXPECT_EQ(sonvex::makeAudioWriter(5, sink), nullptr);
}

}  // namespace
