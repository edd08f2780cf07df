// getAudioFileInformation: the extension test, refusals with their codes,
// large files, concurrent probes and the real-world WAV/RF64 files.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../formats/riff_fixture.h"
#include "diagcapture.h"
#include "extension.h"
#include "sonvex.h"
#include "testdata.h"

using namespace fixture;

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

const AudioFileInfo kUntouched = {0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA,
                                  0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA};

bool same(const AudioFileInfo& a, const AudioFileInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Calls the probe with stdout captured; returns the code, keeps the output.
int probe(const std::string& path, AudioFileInfo* info, std::string* out = nullptr) {
  testsupport::captureDiagnostics();
  const int r = getAudioFileInformation(u16(path).c_str(), info);
  const std::string text = testsupport::capturedDiagnostics();
  if (out) *out = text;
  return r;
}

Bytes wavWith(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, size_t audio) {
  Bytes c;
  riffChunk(c, "fmt ", fmtPayload(tag, channels, rate, bits));
  riffChunk(c, "data", pattern(audio));
  return riffFile(c);
}

TEST(Extension, LastDotLowerCasedAndShort) {
  using sonvex::fileTypeFromPath;
  EXPECT_EQ(fileTypeFromPath(u"/a/b/take.wav"), kFileTypeWav);
  EXPECT_EQ(fileTypeFromPath(u"TAKE.WAV"), kFileTypeWav);
  EXPECT_EQ(fileTypeFromPath(u"x.DsF"), kFileTypeDsf);
  EXPECT_EQ(fileTypeFromPath(u"x.dff"), kFileTypeDsdiff);
  EXPECT_EQ(fileTypeFromPath(u"take.1.wav"), kFileTypeWav);
  EXPECT_EQ(fileTypeFromPath(u"x.wave"), -1);
  EXPECT_EQ(fileTypeFromPath(u"x.wav.bak"), -1);
  EXPECT_EQ(fileTypeFromPath(u"/music.wav/take"), -1);
  EXPECT_EQ(fileTypeFromPath(u"noextension"), -1);
  EXPECT_EQ(fileTypeFromPath(u"x."), -1);
  EXPECT_EQ(fileTypeFromPath(u"x.wavxxxxxxxxxxxxxxxxxxx"), -1);
  EXPECT_EQ(fileTypeFromPath(u"x.abcdefghijklmnopq"), -1);  // 16+ characters
  EXPECT_EQ(fileTypeFromPath(u""), -1);
  EXPECT_EQ(fileTypeFromPath(nullptr), -1);
}

class FileInfo : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(FileInfo, FillsAllEightWords) {
  const std::string path = dir.write("a.wav", wavWith(3, 2, 96000, 32, 800));
  AudioFileInfo info = kUntouched;
  ASSERT_EQ(probe(path, &info), 0);
  const AudioFileInfo want = {96000, 32, 2, 44, 0, 800, kFileTypeWav, 3};
  EXPECT_TRUE(same(info, want));
  // Upper-case extension picks the same driver.
  const std::string upper = dir.write("B.WAV", wavWith(1, 1, 44100, 16, 10));
  ASSERT_EQ(probe(upper, &info), 0);
  EXPECT_EQ(info.fileType, uint32_t(kFileTypeWav));
  EXPECT_EQ(info.channels, 1u);
}

TEST_F(FileInfo, RefusalsKeepTheRecordAndPrintTheirLine) {
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    const char* line;
  };
  Bytes dsd = {'D', 'S', 'D', ' ', 28, 0, 0, 0, 0, 0, 0, 0};
  dsd.resize(92, 0);
  Bytes noData;
  riffChunk(noData, "fmt ", fmtPayload(1, 2, 44100, 16));
  const Case cases[] = {
      {"a.mp3", wavWith(1, 2, 44100, 16, 8), kErrFormat, ""},
      {"a.wave", wavWith(1, 2, 44100, 16, 8), kErrFormat, ""},
      {"noext", wavWith(1, 2, 44100, 16, 8), kErrFormat, ""},
      {"dsd.wav", dsd, kErrFormat, "Check Header Error!\n"},
      {"short.wav", Bytes{'R', 'I', 'F', 'F'}, kErrFormatChunk, "Search FMT Chunk Error!\n"},
      {"nodata.wav", riffFile(noData), kErrDataChunk, "Search DATA Chunk Error!\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    AudioFileInfo info = kUntouched;
    std::string out;
    EXPECT_EQ(probe(dir.write(k.name, k.bytes), &info, &out), k.code);
    EXPECT_TRUE(same(info, kUntouched));
    if (*k.line) {
      EXPECT_NE(out.find(k.line), std::string::npos) << out;
    }
  }
  AudioFileInfo info = kUntouched;
  std::string out;
  EXPECT_EQ(probe(dir.path("missing.wav"), &info, &out), kErrOpen);
  EXPECT_EQ(out, "Write File Open Error!\n");
  EXPECT_TRUE(same(info, kUntouched));
}

TEST_F(FileInfo, UnusableFormatValuesAreRefused) {
  struct Case {
    const char* name;
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
  };
  const Case cases[] = {{"nochannels.wav", 0, 44100, 16},
                        {"norate.wav", 2, 0, 16},
                        {"nobits.wav", 2, 44100, 0},
                        {"hugeframe.wav", 65535, 44100, 65535}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    AudioFileInfo info = kUntouched;
    EXPECT_EQ(probe(dir.write(k.name, wavWith(1, k.channels, k.rate, k.bits, 16)), &info),
              kErrFormatChunk);
    EXPECT_TRUE(same(info, kUntouched));
  }
}

// An RF64 file whose ds64 data size is `dataSize`, with the file sparsely
// grown to hold `present` audio bytes.
std::string rf64File(TempDir& dir, const char* name, uint64_t dataSize, uint64_t present) {
  Bytes ds64;
  putLe(ds64, dataSize + 72, 8);
  putLe(ds64, dataSize, 8);
  putLe(ds64, 0, 12);
  Bytes c;
  riffChunk(c, "ds64", ds64);
  riffChunk(c, "fmt ", fmtPayload(1, 2, 48000, 24));
  putId(c, "data");
  putLe(c, 0xFFFFFFFF, 4);
  const std::string path = dir.write(name, riffFile(c, "RF64", 0xFFFFFFFF));
  auto f = open(path, "rb+");
  EXPECT_TRUE(setSize(f.get(), 80 + present));
  return path;
}

TEST_F(FileInfo, FiveGiBOfAudioSplitsIntoHighAndLowWords) {
  const uint64_t audio = 5 * kGiB + 6;
  AudioFileInfo info = kUntouched;
  ASSERT_EQ(probe(rf64File(dir, "big.wav", audio, audio), &info), 0);
  EXPECT_EQ(info.dataOffset, 80u);
  EXPECT_EQ(info.dataBytesHigh, 1u);
  EXPECT_EQ(info.dataBytesLow, uint32_t(kGiB + 6));
}

TEST_F(FileInfo, AbsurdDs64SizeIsCutToTheAudioPresent) {
  // 2^62 bytes claimed: bytes x 8 would not even fit 64 bits. Callers get the
  // bytes the file holds, so no product downstream can overflow.
  AudioFileInfo info = kUntouched;
  ASSERT_EQ(probe(rf64File(dir, "huge.wav", uint64_t(1) << 62, 1000), &info), 0);
  EXPECT_EQ(info.dataBytesHigh, 0u);
  EXPECT_EQ(info.dataBytesLow, 1000u);
}

TEST_F(FileInfo, TwoThreadsProbeAtOnce) {
  const std::string a = dir.write("a.wav", wavWith(1, 2, 44100, 16, 4000));
  const std::string b = rf64File(dir, "b.wav", 3 * kGiB, 3 * kGiB);
  const std::u16string pa = u16(a), pb = u16(b);
  std::atomic<int> wrong{0};
  auto worker = [&](const std::u16string& path, AudioFileInfo want) {
    for (int i = 0; i < 300; ++i) {
      AudioFileInfo info{};
      if (getAudioFileInformation(path.c_str(), &info) != 0 || !same(info, want)) ++wrong;
    }
  };
  testsupport::captureDiagnostics();
  std::thread t1(worker, pa, AudioFileInfo{44100, 16, 2, 44, 0, 4000, 0, 1});
  std::thread t2(worker, pb, AudioFileInfo{48000, 24, 2, 80, 0, uint32_t(3 * kGiB), 0, 1});
  t1.join();
  t2.join();
  testsupport::capturedDiagnostics();
  EXPECT_EQ(wrong.load(), 0);
}

// Real-world files: refused ones with a sensible code, all others with the
// values their headers give (audio bytes cut to what the file holds).
struct RealFile {
  const char* path;
  int code;
  uint32_t rate, bits, channels, offset, audio, tag;
};

const RealFile kRealFiles[] = {
    {"wav/hound-nonstandard-01.wav", 0, 48000, 24, 2, 802, 6, 1},
    {"wav/hound-nonstandard-02.wav", 0, 48000, 32, 2, 68, 16, 0xFFFE},
    // 24 bits in 4-byte containers: the container width, so frames = bytes / block align.
    {"wav/hound-pcmwaveformat-24bit-4byte-48kHz-stereo.wav", 0, 48000, 32, 2, 44, 16, 1},
    {"wav/hound-waveformatex-8bit-11025Hz-mono.wav", 0, 11025, 8, 1, 46, 4, 1},
    {"wav/hound-waveformatex-ieeefloat-44100Hz-mono.wav", 0, 44100, 32, 1, 46, 16, 3},
    {"wav/hound-waveformatextensible-24bit-192kHz-mono.wav", 0, 192000, 24, 1, 68, 12, 0xFFFE},
    {"wav/hound-waveformatextensible-24bit-4byte-48kHz-stereo.wav", 0, 48000, 32, 2, 68, 16,
     0xFFFE},
    {"wav/hound-waveformatextensible-ieeefloat-44100Hz-mono.wav", 0, 44100, 32, 1, 80, 16, 0xFFFE},
    {"wav/libbw64-noise_24bit_uneven_data_chunk_size.wav", 0, 44100, 24, 1, 44, 39, 1},
    {"wav/libbw64-rect_24bit_bext.wav", 0, 44100, 24, 2, 654, 132300, 1},
    // fmt size 17 with a 16-byte body: the walk loses step and finds no data.
    {"wav/libbw64-rect_24bit_wrong_fmt_size.wav", kErrDataChunk, 0, 0, 0, 0, 0, 0},
    // 0xFFFFFFFF data size in a plain RIFF without ds64.
    {"wav/music-metadata-ffmpeg-missing-chunksize.wav", kErrDataChunk, 0, 0, 0, 0, 0, 0},
    // Broadcast WAV under its own extension: JUNK, bext, a 40-byte fmt, minf
    // and elm1 in front of an empty data chunk.
    {"wav/music-metadata-issue-1163.bwf", 0, 48000, 24, 2, 16384, 0, 1},
    {"wav/music-metadata-issue-819.wav", 0, 16000, 16, 1, 44, 4956, 1},
    {"wav/music-metadata-issue_75.wav", 0, 44100, 16, 2, 44, 88200, 1},
    {"wav/music-metadata-odd-list-type.wav", 0, 44100, 24, 2, 80, 20, 1},
    {"wav/music-metadata-riff_adobe_audition.wav", 0, 48000, 24, 2, 46, 79026, 1},
    {"wav/scipy-test-1234Hz-le-1ch-10S-20bit-extra.wav", 0, 1234, 24, 1, 44, 30, 1},
    {"wav/scipy-test-44100Hz-2ch-32bit-float-be.wav", kErrFormat, 0, 0, 0, 0, 0, 0},
    {"wav/scipy-test-44100Hz-2ch-32bit-float-le.wav", 0, 44100, 32, 2, 58, 3528, 3},
    {"wav/scipy-test-44100Hz-le-1ch-4bytes-early-eof-no-data.wav", kErrDataChunk, 0, 0, 0, 0, 0, 0},
    {"wav/scipy-test-44100Hz-le-1ch-4bytes-early-eof.wav", 0, 44100, 32, 1, 80, 944, 0xFFFE},
    {"wav/scipy-test-44100Hz-le-1ch-4bytes-incomplete-chunk.wav", kErrFormat, 0, 0, 0, 0, 0, 0},
    {"wav/scipy-test-44100Hz-le-1ch-4bytes.wav", 0, 44100, 32, 1, 80, 17640, 0xFFFE},
    {"wav/scipy-test-48000Hz-2ch-64bit-float-le-wavex.wav", 0, 48000, 64, 2, 112, 7680, 0xFFFE},
    {"wav/scipy-test-8000Hz-le-1ch-1byte-ulaw.wav", 0, 8000, 8, 1, 60, 9, 7},
    {"wav/scipy-test-8000Hz-le-3ch-5S-24bit-inconsistent.wav", 0, 8000, 24, 3, 44, 45, 1},
    {"wav/scipy-test-8000Hz-le-3ch-5S-24bit.wav", 0, 8000, 24, 3, 44, 45, 1},
    {"wav/scipy-test-8000Hz-le-5ch-9S-5bit.wav", 0, 8000, 8, 5, 44, 45, 1},
    {"wav/taglib-duplicate_tags.wav", 0, 1000, 16, 2, 44, 14700, 1},
    {"wav/taglib-infloop.wav", 0, 11025, 8, 1, 44, 14083, 1},
    {"wav/taglib-invalid-chunk.wav", kErrFormat, 0, 0, 0, 0, 0, 0},
    {"wav/taglib-pcm_with_fact_chunk.wav", 0, 1000, 16, 2, 44, 14700, 1},
    // fmt chunk of 2 bytes.
    {"wav/taglib-segfault.wav", kErrFormatChunk, 0, 0, 0, 0, 0, 0},
    {"wav/taglib-zero-size-chunk.wav", 0, 44100, 16, 2, 44, 0, 1},
    {"wav/tinytag-16bit_pcm.wav", 0, 8000, 16, 2, 44, 3200, 1},
    {"wav/tinytag-24bit_pcm.wav", 0, 8000, 24, 2, 44, 4800, 1},
    {"wav/tinytag-24bit_pcm_extended.wav", 0, 8000, 24, 2, 102, 6144, 0xFFFE},
    {"wav/tinytag-32bit_float.wav", 0, 8000, 32, 2, 88, 6400, 3},
    {"wav/tinytag-32bit_pcm_extended.wav", 0, 8000, 32, 2, 102, 8192, 0xFFFE},
    {"wav/tinytag-no_audio_data_uncompressed.wav", 0, 8000, 16, 2, 44, 0, 1},
    {"wav/tinytag-silence-22khz-mono-1s.wav", 0, 22050, 16, 1, 4096, 44064, 1},
    {"wav/tinytag-test-riff-tags.wav", 0, 44100, 16, 2, 44, 176400, 1},
    {"wav/tinytag-wav_with_image.wav", 0, 8000, 8, 1, 44, 17157, 1},
    {"wav/tinytag-xmp_data.wav", 0, 44100, 16, 1, 44, 8820, 1},
    {"wav/tinytag-zero_value_properties.wav", kErrFormatChunk, 0, 0, 0, 0, 0, 0},
    {"wav/wavefile-16bit-8kHz-1c-reaper-utf8cue.wav", 0, 8000, 16, 1, 44, 18356, 1},
    {"wav/wavefile-24bit-16kHz-bext-mono.wav", 0, 16000, 24, 1, 736, 658287, 1},
    {"wav/wavefile-32bitIEEE-16kHz-bext-mono.wav", 0, 16000, 32, 1, 736, 109716, 3},
    // RF64 magic without ds64: its real 32-bit sizes still read.
    {"rf64/libbw64-rect_24bit_nods64.wav", 0, 44100, 24, 2, 44, 132300, 1},
    {"rf64/libbw64-rect_24bit_noriff.wav", kErrFormat, 0, 0, 0, 0, 0, 0},
    {"rf64/libbw64-rect_24bit_nowave.wav", kErrFormat, 0, 0, 0, 0, 0, 0},
    {"rf64/libbw64-rect_24bit_rf64.wav", 0, 44100, 24, 2, 80, 132300, 1},
    {"rf64/scipy-test-44100Hz-le-1ch-4bytes-rf64.wav", 0, 44100, 32, 1, 116, 17640, 0xFFFE},
    {"rf64/scipy-test-8000Hz-le-3ch-5S-24bit-rf64.wav", 0, 8000, 24, 3, 80, 45, 1},
    {"rf64/taglib-rf64.wav", 0, 48000, 16, 2, 80, 9600, 1},
    {"rf64/wavefile-RF64-16bit-8kHz-stereo-reaper.wav", 0, 8000, 16, 2, 80, 309996, 1},
    {"rf64/wavefile-RF64-64-bit-8kHz--mono-bext.wav", 0, 8000, 64, 1, 690, 384000, 3},
};

TEST(RealFiles, ReadOrRefusedAsTheirHeadersDemand) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  int checked = 0;
  for (const RealFile& k : kRealFiles) {
    const std::string path = testsupport::testdataDir() + "/" + k.path;
    if (access(path.c_str(), R_OK) != 0) continue;
    SCOPED_TRACE(k.path);
    AudioFileInfo info = kUntouched;
    ASSERT_EQ(probe(path, &info), k.code);
    ++checked;
    if (k.code != 0) {
      EXPECT_TRUE(same(info, kUntouched));
      continue;
    }
    const AudioFileInfo want = {k.rate, k.bits,  k.channels,   k.offset,
                                0,      k.audio, kFileTypeWav, k.tag};
    EXPECT_TRUE(same(info, want)) << info.sampleRate << " " << info.bitsPerSample << " "
                                  << info.channels << " " << info.dataOffset << " "
                                  << info.dataBytesLow << " " << info.formatTag;
  }
  if (checked == 0) GTEST_SKIP() << "no WAV/RF64 files present";
}

TEST(RealFiles, BwfReadsUnderAWavName) {
  if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  const Bytes b = readAll(testsupport::testdataDir() + "/wav/music-metadata-issue-1163.bwf");
  if (b.empty()) GTEST_SKIP() << "file absent";
  TempDir dir;
  AudioFileInfo info = kUntouched;
  ASSERT_EQ(probe(dir.write("issue-1163.wav", b), &info), 0);
  // JUNK, bext, a 40-byte fmt, minf and elm1 in front of an empty data chunk.
  const AudioFileInfo want = {48000, 24, 2, 16384, 0, 0, kFileTypeWav, 1};
  EXPECT_TRUE(same(info, want));
}

}  // namespace
