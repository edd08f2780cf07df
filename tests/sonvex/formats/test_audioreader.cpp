// The format readers over memory and over files: DSD bytes come out per
// channel, most significant bit first, and stop where the audio or the file
// does; openAudio says which step of a header failed.
#include <gtest/gtest.h>

#include <memory>

#include "audioreader.h"
#include "bytesource.h"
#include "dsdfixtures.h"
#include "riff_fixture.h"
#include "sonvex.h"

using dsdtest::Bytes;

namespace {

// Reads a whole DSD file in odd-sized steps from `firstByte` through both a
// memory and a file source; expects each channel's stored bytes bit-reversed
// (DSF) or as stored (DSDIFF) while every channel's byte is in the file, the
// idle byte after that.
void expectDsdReads(int type, const Bytes& file, const std::vector<Bytes>& channels,
                    const std::vector<std::vector<bool>>& present, size_t firstByte) {
  fixture::TempDir dir;
  const std::string path = dir.write("x", file);
  sonvex::FilePtr f = fixture::open(path, "rb");
  sonvex::FileSource onDisk(f.get());
  sonvex::MemorySource inMemory(file.data(), file.size());
  for (sonvex::ByteSource* src :
       {static_cast<sonvex::ByteSource*>(&inMemory), static_cast<sonvex::ByteSource*>(&onDisk)}) {
    sonvex::AudioFormat format;
    std::unique_ptr<sonvex::AudioReader> reader;
    ASSERT_EQ(sonvex::openAudio(*src, type, &format, &reader), sonvex::OpenStatus::Ok);
    const size_t n = channels.size(), perChannel = channels[0].size();
    size_t real = 0;
    while (real < perChannel && [&] {
      for (size_t c = 0; c < n; ++c)
        if (!present[c][real]) return false;
      return true;
    }())
      ++real;
    reader->seek(int64_t(firstByte) * 8 + 5);  // inside the byte: reads start at its first bit
    std::vector<Bytes> out(n, Bytes(perChannel + 100 - firstByte));
    size_t at = 0;
    int64_t total = 0;
    while (at < out[0].size()) {
      const size_t step = std::min<size_t>(10007, out[0].size() - at);
      uint8_t* dst[8];
      for (size_t c = 0; c < n; ++c) dst[c] = out[c].data() + at;
      int64_t got = -1;
      ASSERT_EQ(reader->readDsd(dst, step, &got), sonvex::ReadStatus::Ok);
      total += got;
      at += step;
    }
    EXPECT_EQ(total, int64_t(real - std::min(real, firstByte)));
    for (size_t c = 0; c < n; ++c)
      for (size_t i = 0; i < out[c].size(); ++i) {
        const size_t b = firstByte + i;
        const uint8_t stored = b < perChannel ? channels[c][b] : 0;
        const uint8_t want = b < real
                                 ? (type == kFileTypeDsf ? dsdtest::reverseBits(stored) : stored)
                                 : sonvex::kDsdIdleByte;
        ASSERT_EQ(out[c][i], want) << "channel " << c << " byte " << b;
      }
  }
}

TEST(AudioReader, DsfAcrossBlockGroupsAndACutOffEnd) {
  const size_t perChannel = 70000;  // more block groups than one read takes
  const std::vector<Bytes> ch = {dsdtest::randomBytes(perChannel, 1),
                                 dsdtest::randomBytes(perChannel, 2)};
  const Bytes whole = dsdtest::buildDsf(2822400, ch, perChannel * 8, {}, 0x00);
  // Cut inside the right channel's last block, 200 bytes into its audio
  // there; the left block before it is whole.
  const Bytes cut(whole.begin(), whole.end() - 4096 + 200);
  for (const Bytes* file : {&whole, &cut}) {
    std::vector<std::vector<bool>> present(2, std::vector<bool>(perChannel));
    for (size_t c = 0; c < 2; ++c)
      for (size_t i = 0; i < perChannel; ++i)
        present[c][i] = 92 + (i / 4096) * 8192 + c * 4096 + i % 4096 < file->size();
    expectDsdReads(kFileTypeDsf, *file, ch, present, 0);
    expectDsdReads(kFileTypeDsf, *file, ch, present, 65530);
  }
}

TEST(AudioReader, DsdiffMonoAndStereoUpToTheLastWholeFrame) {
  for (size_t n : {1u, 2u}) {
    std::vector<Bytes> ch;
    for (size_t c = 0; c < n; ++c) ch.push_back(dsdtest::randomBytes(30001, uint32_t(10 + c)));
    const Bytes whole = dsdtest::buildDsdiff(2822400, ch);
    const size_t audioStart = whole.size() - 30001 * n - ((30001 * n) & 1);
    const Bytes cut(whole.begin(), whole.begin() + ptrdiff_t(audioStart + 20000 * n + n - 1));
    std::vector<std::vector<bool>> present(n, std::vector<bool>(30001));
    for (size_t c = 0; c < n; ++c)
      for (size_t i = 0; i < 30001; ++i) present[c][i] = audioStart + i * n + c < cut.size();
    expectDsdReads(kFileTypeDsdiff, cut, ch, present, 3);
  }
}

TEST(AudioReader, WavSamplesComePackedAndStopAtTheAudio) {
  // 24-bit samples in 4-byte containers, at the container's bottom.
  Bytes fmt = fixture::fmtPayload(1, 2, 48000, 24);
  fmt[12] = 8;  // block align
  Bytes chunks;
  fixture::riffChunk(chunks, "fmt ", fmt);
  fixture::riffChunk(chunks, "data", fixture::pattern(8 * 10));
  const Bytes file = fixture::riffFile(chunks);
  sonvex::MemorySource src(file.data(), file.size());
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  ASSERT_EQ(sonvex::openAudio(src, kFileTypeWav, &format, &reader), sonvex::OpenStatus::Ok);
  EXPECT_EQ(reader->frames(), 10);
  reader->seek(7);
  uint8_t out[8 * 5];
  int64_t got = 0;
  ASSERT_EQ(reader->readPcm(out, 5, &got), sonvex::ReadStatus::Ok);
  ASSERT_EQ(got, 3);
  const Bytes audio = fixture::pattern(8 * 10);
  for (size_t s = 0; s < 6; ++s)
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(out[3 * s + k], audio[56 + 4 * s + k]);
  EXPECT_EQ(reader->position(), 12);
}

TEST(AudioReader, OpenReportsTheStepThatFailed) {
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  Bytes chunks;
  fixture::riffChunk(chunks, "fmt ", fixture::fmtPayload(1, 2, 44100, 16));
  const Bytes noData = fixture::riffFile(chunks);
  sonvex::MemorySource src(noData.data(), noData.size());
  EXPECT_EQ(sonvex::openAudio(src, kFileTypeWav, &format, &reader),
            sonvex::OpenStatus::DataUnreadable);
  EXPECT_EQ(format.sampleRate, 44100u);  // what was read before the failure
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(sonvex::openAudio(src, kFileTypeDsf, &format, &reader),
            sonvex::OpenStatus::NotThisFormat);
  EXPECT_EQ(sonvex::openAudio(src, 7, &format, &reader), sonvex::OpenStatus::NotThisFormat);
  const Bytes shortFmt(noData.begin(), noData.begin() + 30);
  sonvex::MemorySource cut(shortFmt.data(), shortFmt.size());
  EXPECT_EQ(sonvex::openAudio(cut, kFileTypeWav, &format, &reader),
            sonvex::OpenStatus::FormatUnreadable);
}

}  // namespace
