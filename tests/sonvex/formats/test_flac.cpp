// FLAC against the reference tools: files made by `flac` and ffmpeg read to
// the sample (whole and after random seeks) and convert bit-exactly, ours
// pass `flac -t` and decode to what the WAV export holds, damage is
// reported, combine keeps every sample and a matching MD5, and a full disk
// leaves a valid shorter file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "audioreader.h"
#include "audiowriter.h"
#include "bytesink.h"
#include "bytesource.h"
#include "command.h"
#include "dsp/convert_harness.h"
#include "dsp/rawfiles.h"
#include "riff_fixture.h"
#include "sonvex.h"

using fixture::Bytes;
using fixture::putLe;

namespace {

bool run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }
using testsupport::commandOutput;
bool haveTools() { return run("flac --version") && run("ffmpeg -version"); }

// Interleaved samples of `bits` significant bits: two tones and noise below
// half scale (the PCM packer's rounding is exact there).
std::vector<int32_t> signal(size_t frames, uint32_t channels, uint32_t bits, uint32_t seed) {
  std::minstd_rand rng(seed);
  std::uniform_real_distribution<double> noise(-0.05, 0.05);
  const double full = std::ldexp(1.0, int(bits) - 1);
  std::vector<int32_t> v(frames * channels);
  for (size_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c)
      v[i * channels + c] =
          int32_t(std::lround(full * (0.3 * std::sin(0.013 * (c + 1) * double(i)) + noise(rng))));
  return v;
}

// Samples packed as the library delivers them: left-justified in whole
// bytes, 8-bit offset by 128.
Bytes container(const std::vector<int32_t>& v, uint32_t bits) {
  const uint32_t bytes = (bits + 7) / 8, shift = bytes * 8 - bits;
  Bytes out;
  for (int32_t s : v) putLe(out, bytes == 1 ? uint32_t(s + 128) : uint32_t(s) << shift, int(bytes));
  return out;
}

// A WAV `flac` encodes at `bits`: extensible when they do not fill the
// container.
std::string sourceWav(fixture::TempDir& dir, const std::string& name, uint32_t rate,
                      uint32_t channels, uint32_t bits, const std::vector<int32_t>& v) {
  const uint32_t bytes = (bits + 7) / 8;
  Bytes fmt =
      fixture::fmtPayload(bits % 8 ? 0xFFFE : 1, uint16_t(channels), rate, uint16_t(bytes * 8));
  if (bits % 8) {
    putLe(fmt, 22, 2);
    putLe(fmt, bits, 2);
    putLe(fmt, channels == 1 ? 4 : 3, 4);
    putLe(fmt, 1, 2);  // PCM sub-format GUID
    const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), tail, tail + 14);
  }
  Bytes chunks;
  fixture::riffChunk(chunks, "fmt ", fmt);
  fixture::riffChunk(chunks, "data", container(v, bits));
  return dir.write(name, fixture::riffFile(chunks));
}

struct Opened {
  sonvex::FilePtr file;
  std::unique_ptr<sonvex::FileSource> src;
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
};

Opened openFlac(const std::string& path) {
  Opened o;
  o.file = fixture::open(path, "rb");
  o.src = std::make_unique<sonvex::FileSource>(o.file.get());
  EXPECT_EQ(sonvex::openAudio(*o.src, kFileTypeFlac, &o.format, &o.reader), sonvex::OpenStatus::Ok);
  return o;
}

Bytes readFrames(sonvex::AudioReader& r, int64_t first, int64_t count) {
  const auto& f = r.format();
  Bytes out(size_t(count) * f.channels * f.bitsPerSample / 8);
  int64_t got = -1;
  r.seek(first);
  EXPECT_EQ(r.readPcm(out.data(), count, &got), sonvex::ReadStatus::Ok);
  EXPECT_EQ(got, count);
  return out;
}

int32_t exportTo(const std::string& src, const std::string& dst, int type, int bits, int channels,
                 int rate = kRate48000) {
  convtest::Job job(rate, type, bits);
  job.format.channels = channels;
  return job.run(src, dst);
}

std::string decoded(const std::string& flacPath, const char* sampleFormat) {
  const std::string raw = flacPath + "." + sampleFormat;
  EXPECT_TRUE(run("ffmpeg -y -loglevel error -i " + flacPath + " -f " + sampleFormat + " " + raw));
  const Bytes b = fixture::readAll(raw);
  std::remove(raw.c_str());
  return std::string(b.begin(), b.end());
}

}  // namespace

class Flac : public testing::Test {
 protected:
  void SetUp() override {
    if (!haveTools()) GTEST_SKIP() << "flac or ffmpeg missing";
  }
  fixture::TempDir dir_;
};

TEST_F(Flac, OurExportsPassFlacAndDecodeToTheWavExportsSamples) {
  const std::vector<int32_t> v = signal(48000 * 3, 2, 24, 1);
  const std::string wavSrc = sourceWav(dir_, "src.wav", 48000, 2, 24, v);
  std::vector<std::vector<uint8_t>> dsd = {testsupport::dsdSine(1000, 2822400, 0.4, 100000),
                                           testsupport::dsdSine(700, 2822400, 0.4, 100000)};
  const std::string dsfSrc = dir_.path("src.dsf");
  testsupport::writeDsf(dsfSrc, 2822400, dsd);
  struct Case {
    std::string src;
    int bits, channels, rate;
  };
  for (const Case& c : {Case{wavSrc, 16, 2, kRate48000}, Case{wavSrc, 24, 1, kRate48000},
                        Case{wavSrc, 24, 2, kRate96000}, Case{dsfSrc, 24, 2, kRate88200},
                        Case{dsfSrc, 16, 1, kRate176400}}) {
    SCOPED_TRACE(c.src + " " + std::to_string(c.bits) + " bits, " + std::to_string(c.channels) +
                 " ch, rate code " + std::to_string(c.rate));
    const std::string flac = dir_.path("out.flac"), wav = dir_.path("out.wav");
    ASSERT_EQ(exportTo(c.src, flac, kFileTypeFlac, c.bits, c.channels, c.rate), 0);
    ASSERT_EQ(exportTo(c.src, wav, kFileTypeWav, c.bits, c.channels, c.rate), 0);
    EXPECT_TRUE(run("flac -t -s " + flac));
    AudioFileInfo fi{}, wi{};
    const std::vector<uint8_t> pcm = convtest::audioBytes(wav, &wi);
    const std::u16string f16 = testsupport::toU16(flac);
    ASSERT_EQ(getAudioFileInformation(f16.c_str(), &fi), 0);
    EXPECT_EQ(fi.fileType, uint32_t(kFileTypeFlac));
    EXPECT_EQ(fi.formatTag, 1u);
    EXPECT_EQ(fi.sampleRate, wi.sampleRate);
    EXPECT_EQ(fi.bitsPerSample, wi.bitsPerSample);
    EXPECT_EQ(fi.channels, wi.channels);
    EXPECT_EQ(fi.dataBytesLow, wi.dataBytesLow);
    const std::string ours = decoded(flac, c.bits == 16 ? "s16le" : "s24le");
    EXPECT_EQ(ours.size(), pcm.size());
    EXPECT_TRUE(ours == std::string(pcm.begin(), pcm.end()));
  }
}

TEST_F(Flac, RefusesWhatItCannotHold) {
  const std::string src = sourceWav(dir_, "src.wav", 48000, 2, 16, signal(4800, 2, 16, 2));
  const std::string out = dir_.path("x.flac");
  EXPECT_EQ(exportTo(src, out, kFileTypeFlac, 32, 2), kConvertErrPcmPack);
  EXPECT_EQ(exportTo(src, out, kFileTypeFlac, 24, 2, kRateDsd64), kConvertErrRatePlan);
  EXPECT_NE(access(out.c_str(), F_OK), 0);

  EXPECT_EQ(getFlacCompressionLevel(), 5);
  EXPECT_EQ(setFlacCompressionLevel(9), kConvertErrPcmPack);
  EXPECT_EQ(setFlacCompressionLevel(-1), kConvertErrPcmPack);
  EXPECT_EQ(getFlacCompressionLevel(), 5);
  ASSERT_EQ(setFlacCompressionLevel(0), 0);
  ASSERT_EQ(exportTo(src, out, kFileTypeFlac, 16, 2), 0);
  const size_t fast = fixture::readAll(out).size();
  ASSERT_EQ(setFlacCompressionLevel(8), 0);
  ASSERT_EQ(exportTo(src, out, kFileTypeFlac, 16, 2), 0);
  EXPECT_LT(fixture::readAll(out).size(), fast);
  EXPECT_EQ(setFlacCompressionLevel(5), 0);
}

TEST_F(Flac, FilesFromTheReferenceToolsReadToTheSampleAndConvertExactly) {
  struct Case {
    uint32_t bits, channels, rate;
    std::string options;  // flac's, or "ffmpeg"
  };
  const Case cases[] = {
      {16, 2, 44100, "-0 -b 1152"},
      {16, 1, 48000, "-8 -b 4608"},
      {24, 2, 96000, "-5 -b 192 --no-seektable"},
      {24, 2, 192000, "-5 -b 16384 --lax --padding=300000"},
      {8, 1, 22050, "-5"},
      {12, 2, 48000, "-5"},
      {20, 2, 88200, "-6 -b 2048"},
      {32, 2, 48000, "-5"},
      {16, 2, 48000, "ffmpeg"},
      {24, 1, 655350, "-5 --lax"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.channels) + " ch, " +
                 std::to_string(c.rate) + " Hz, " + c.options);
    const size_t frames = c.rate / 2 + 777;
    const std::vector<int32_t> v = signal(frames, c.channels, c.bits, c.bits + c.channels);
    const std::string wav = sourceWav(dir_, "in.wav", c.rate, c.channels, c.bits, v);
    const std::string flac = dir_.path("in.flac");
    const std::string make = c.options == "ffmpeg"
                                 ? "ffmpeg -y -loglevel error -i " + wav + " -c:a flac " + flac
                                 : "flac -s -f " + c.options + " -o " + flac + " " + wav;
    ASSERT_TRUE(run(make));
    if (c.options.find("padding") != std::string::npos) {
      // A big picture ahead of the audio, skipped like any other block.
      const std::string png = dir_.write("p.png", Bytes(200000, 0x5A));
      ASSERT_TRUE(run("metaflac --import-picture-from='3|image/png||1x1x24|" + png + "' " + flac));
    }

    Opened o = openFlac(flac);
    ASSERT_TRUE(o.reader);
    EXPECT_EQ(o.format.sampleRate, c.rate);
    EXPECT_EQ(o.format.bitsPerSample, (c.bits + 7) / 8 * 8);
    EXPECT_EQ(o.format.channels, c.channels);
    ASSERT_EQ(o.reader->frames(), int64_t(frames));
    const Bytes want = container(v, c.bits);
    EXPECT_EQ(readFrames(*o.reader, 0, int64_t(frames)), want);
    std::minstd_rand rng(c.rate);
    const size_t frameBytes = want.size() / frames;
    for (int i = 0; i < 12; ++i) {
      const int64_t at = int64_t(rng() % (frames - 300)), n = 1 + int64_t(rng() % 299);
      ASSERT_EQ(readFrames(*o.reader, at, n), Bytes(want.begin() + long(at * frameBytes),
                                                    want.begin() + long((at + n) * frameBytes)))
          << "at " << at;
    }

    // Through the conversion at the same rate, into a WAV of the container's width.
    if (c.bits > 8 && c.bits <= 24 && c.rate <= 384000) {
      const int code = c.rate == 44100   ? kRate44100
                       : c.rate == 48000 ? kRate48000
                       : c.rate == 88200 ? kRate88200
                       : c.rate == 96000 ? kRate96000
                                         : kRate192000;
      const std::string out = dir_.path("out.wav");
      ASSERT_EQ(exportTo(flac, out, kFileTypeWav, int((c.bits + 7) / 8 * 8), int(c.channels), code),
                0);
      const std::vector<uint8_t> got = convtest::audioBytes(out);
      EXPECT_TRUE(Bytes(got.begin(), got.end()) == want);
    }
  }
}

TEST_F(Flac, DamageAndTruncationAreReportedNotHidden) {
  const std::vector<int32_t> v = signal(96000, 2, 16, 3);
  const std::string flac = dir_.path("good.flac");
  ASSERT_TRUE(run("flac -s -f -o " + flac + " " + sourceWav(dir_, "in.wav", 48000, 2, 16, v)));
  Bytes good = fixture::readAll(flac);
  AudioFileInfo info{};
  const std::u16string g16 = testsupport::toU16(flac);
  ASSERT_EQ(getAudioFileInformation(g16.c_str(), &info), 0);

  Bytes flipped = good;
  flipped[info.dataOffset + (good.size() - info.dataOffset) / 2] ^= 0x10;
  Bytes cut(good.begin(), good.begin() + long(good.size() * 6 / 10));
  for (const Bytes& bad : {flipped, cut}) {
    const std::string path = dir_.write("bad.flac", bad);
    EXPECT_EQ(exportTo(path, dir_.path("out.wav"), kFileTypeWav, 16, 2), kConvertErrRead);
  }
  Bytes noInfo(good.begin(), good.begin() + 4);
  noInfo.resize(64, 0xFF);
  const std::string junk = dir_.write("junk.flac", noInfo),
                    notFlac = dir_.write("x.flac", Bytes(64, 1));
  const std::u16string j16 = testsupport::toU16(junk), n16 = testsupport::toU16(notFlac);
  EXPECT_EQ(getAudioFileInformation(j16.c_str(), &info), kErrFormatChunk);
  EXPECT_EQ(getAudioFileInformation(n16.c_str(), &info), kErrFormat);

  const std::string three = dir_.path("three.flac");
  ASSERT_TRUE(
      run("flac -s -f --force-raw-format --endian=little --sign=signed --channels=3 "
          "--bps=16 --sample-rate=48000 -o " +
          three + " " + dir_.write("3.raw", container(signal(4800, 3, 16, 4), 16))));
  const std::u16string t16 = testsupport::toU16(three);
  EXPECT_EQ(getAudioFileInformation(t16.c_str(), &info), kErrFormatChunk);
}

TEST_F(Flac, CombineKeepsEverySampleAndSignsTheJoinedAudio) {
  const std::vector<int32_t> a = signal(70001, 2, 20, 5), b = signal(33333, 2, 20, 6);
  const std::string head = dir_.path("head.flac"), tail = dir_.path("tail.flac");
  ASSERT_TRUE(run("flac -s -f -o " + head + " " + sourceWav(dir_, "a.wav", 48000, 2, 20, a)));
  ASSERT_TRUE(run("flac -s -f -o " + tail + " " + sourceWav(dir_, "b.wav", 48000, 2, 20, b)));
  // The head's comments and cover stay; the tail's are dropped.
  const std::string cover = dir_.write("cover.png", fixture::pattern(3000, 5));
  ASSERT_TRUE(
      run("metaflac --set-tag=TITLE=Head --set-tag=GENRE=x "
          "--import-picture-from='3|image/png||1x1x24|" +
          cover + "' " + head));
  ASSERT_TRUE(run("metaflac --set-tag=TITLE=Tail " + tail));
  const std::string headTags = commandOutput("metaflac --export-tags-to=- " + head);
  const std::u16string h16 = testsupport::toU16(head), t16 = testsupport::toU16(tail),
                       s16 = testsupport::toU16(dir_.path("scratch.bin"));
  WriteFormat wf{};
  wf.channels = 2;
  int32_t progress = 0;
  ASSERT_EQ(combineFiles(kFileTypeFlac, h16.c_str(), t16.c_str(), s16.c_str(), &wf, &progress), 0);
  EXPECT_GE(progress, 90);
  EXPECT_TRUE(run("flac -t -s " + head));  // checks the MD5 against the decoded audio
  EXPECT_EQ(commandOutput("metaflac --export-tags-to=- " + head), headTags);
  EXPECT_TRUE(run("metaflac --export-picture-to=- " + head + " | cmp -s - " + cover));
  std::vector<int32_t> joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  Opened o = openFlac(head);
  ASSERT_EQ(o.reader->frames(), 70001 + 33333);
  EXPECT_EQ(readFrames(*o.reader, 0, o.reader->frames()), container(joined, 20));
  // The signature covers the samples right-justified in whole bytes.
  const std::string raw = dir_.write("joined.raw", container(joined, 24));
  EXPECT_TRUE(run("test \"$(metaflac --show-md5sum " + head + ")\" = \"$(md5sum < " + raw +
                  " | cut -c1-32)\""));

  // A 16-bit tail does not join a 20-bit head, which stays as it was.
  const std::string other = dir_.path("other.flac");
  ASSERT_TRUE(run("flac -s -f -o " + other + " " +
                  sourceWav(dir_, "c.wav", 48000, 2, 16, signal(1000, 2, 16, 7))));
  const Bytes before = fixture::readAll(head);
  const std::u16string o16 = testsupport::toU16(other);
  EXPECT_EQ(combineFiles(kFileTypeFlac, h16.c_str(), o16.c_str(), s16.c_str(), &wf, &progress),
            kErrIo);
  EXPECT_EQ(fixture::readAll(head), before);
}

TEST_F(Flac, AFullDiskLeavesAValidShorterFile) {
  const std::vector<int32_t> v = signal(48000 * 30, 2, 16, 8);
  const Bytes pcm = container(v, 16);
  for (size_t limit : {size_t(300000), size_t(1500000)}) {
    sonvex::MemorySink sink(limit);
    auto w = sonvex::makeAudioWriter(kFileTypeFlac, sink);
    ASSERT_TRUE(w);
    w->expectFrames(int64_t(v.size() / 2));
    WriteFormat wf{};
    wf.channels = 2;
    wf.bitsPerSample = 16;
    wf.sampleRate = 48000;
    ASSERT_EQ(w->begin(wf), 0);
    int r = 0;
    for (size_t at = 0; r == 0 && at < v.size() / 2; at += 10000)
      r = w->writePcm(pcm.data() + at * 4, int64_t(std::min<size_t>(10000, v.size() / 2 - at)));
    if (r == 0) r = w->finalize();
    ASSERT_EQ(r, kErrWrite);
    EXPECT_EQ(sink.error(), ENOSPC);
    ASSERT_GT(w->frames(), 0);
    const std::string path = dir_.write("cut.flac", sink.bytes());
    EXPECT_TRUE(run("flac -t -s " + path));
    Opened o = openFlac(path);
    ASSERT_EQ(o.reader->frames(), w->frames());
    const int64_t mid = w->frames() / 2;
    EXPECT_EQ(readFrames(*o.reader, mid, 100),
              Bytes(pcm.begin() + long(mid * 4), pcm.begin() + long((mid + 100) * 4)));
  }
}

TEST_F(Flac, AStreamWithoutItsSampleCountIsCountedByDecoding) {
  const std::vector<int32_t> v = signal(50000, 2, 24, 9);
  const std::string flac = dir_.path("n.flac");
  ASSERT_TRUE(run("flac -s -f -o " + flac + " " + sourceWav(dir_, "n.wav", 48000, 2, 24, v)));
  Bytes b = fixture::readAll(flac);
  b[21] &= 0xF0;  // STREAMINFO: total samples (36 bits) unknown
  std::fill(b.begin() + 22, b.begin() + 26, 0);
  Opened o = openFlac(dir_.write("u.flac", b));
  ASSERT_TRUE(o.reader);
  EXPECT_EQ(o.format.audioBytes, v.size() * 3);
  const Bytes want = container(v, 24);
  EXPECT_EQ(readFrames(*o.reader, 0, 50000), want);
  EXPECT_EQ(readFrames(*o.reader, 31234, 10),
            Bytes(want.begin() + 31234 * 6, want.begin() + 31244 * 6));
}
