// Metadata carried over by exports and combines, checked with ffprobe where
// it reads the container's tags and otherwise with the fixtures' readers,
// written from the container descriptions.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "audiowriter.h"
#include "bytesink.h"
#include "bytesource.h"
#include "command.h"
#include "dsdfixtures.h"
#include "dsp/convert_harness.h"
#include "riff_fixture.h"
#include "sonvex.h"
#include "tags.h"

using dsdtest::Bytes;

namespace {

// title, artist, album and time_reference as ffprobe reports them, the
// names in lower case (FLAC's come as written).
std::map<std::string, std::string> probe(const std::string& path) {
  std::map<std::string, std::string> tags;
  const std::string cmd =
      "ffprobe -v error -show_entries format_tags=title,artist,album,"
      "time_reference -of default=nw=1 '" +
      path + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return tags;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    const size_t eq = s.find('=');
    if (s.rfind("TAG:", 0) != 0 || eq == std::string::npos) continue;
    std::string name = s.substr(4, eq - 4);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    tags[name] = s.substr(eq + 1, s.find_last_not_of("\r\n") - eq);
  }
  pclose(p);
  return tags;
}

bool haveFfprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }
bool haveMetaflac() { return std::system("metaflac --version >/dev/null 2>&1") == 0; }

using testsupport::commandOutput;

using Fields = std::map<std::string, std::string>;
const Fields kFields = {{"title", "Nocturne"}, {"artist", "Ensemble"}, {"album", "Night"}};

Bytes v24Tag() {
  return dsdtest::id3Tag(4, {{"TIT2", dsdtest::textFrame(3, "Nocturne")},
                             {"TPE1", dsdtest::textFrame(3, "Ensemble")},
                             {"TALB", dsdtest::textFrame(3, "Night")}});
}

std::vector<Bytes> dsdAudio(size_t bytes) {
  return {dsdtest::randomBytes(bytes, 1), dsdtest::randomBytes(bytes, 2)};
}

// 16-bit stereo at 48 kHz: fmt, bext, data, then LIST/INFO and `after`.
Bytes taggedWav(uint64_t timeReference, const Bytes& after = {}) {
  Bytes chunks;
  fixture::riffChunk(chunks, "fmt ", fixture::fmtPayload(1, 2, 48000, 16));
  fixture::riffChunk(chunks, "bext", fixture::bextPayload(timeReference));
  fixture::riffChunk(chunks, "data", fixture::pattern(48000 * 4));
  fixture::riffChunk(
      chunks, "LIST",
      fixture::infoList({{"INAM", "Nocturne"}, {"IART", "Ensemble"}, {"IPRD", "Night"}}));
  chunks.insert(chunks.end(), after.begin(), after.end());
  return fixture::riffFile(chunks);
}

sonvex::Tags tagsOf(const Bytes& file, int type) {
  sonvex::MemorySource src(file.data(), file.size());
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  sonvex::Tags tags;
  EXPECT_EQ(sonvex::openAudio(src, type, &format, &reader), sonvex::OpenStatus::Ok);
  EXPECT_EQ(sonvex::readTags(src, format, &tags), 0);
  return tags;
}

Fields fieldsOf(const sonvex::Tags& t) {
  return {{"title", t.title}, {"artist", t.artist}, {"album", t.album}};
}

// A Vorbis comment block: vendor string, count, then each entry.
Bytes vorbisComment(const std::vector<std::string>& entries) {
  Bytes b;
  fixture::putLe(b, 6, 4);
  b.insert(b.end(), {'v', 'e', 'n', 'd', 'o', 'r'});
  fixture::putLe(b, entries.size(), 4);
  for (const std::string& e : entries) {
    fixture::putLe(b, e.size(), 4);
    b.insert(b.end(), e.begin(), e.end());
  }
  return b;
}

Bytes flacPicture(uint32_t type, const std::string& mime, uint32_t dataClaim, const Bytes& data) {
  Bytes b;
  fixture::putBe(b, type, 4);
  fixture::putBe(b, mime.size(), 4);
  b.insert(b.end(), mime.begin(), mime.end());
  fixture::putBe(b, 0, 4);  // no description
  for (uint32_t v : {1u, 1u, 24u, 0u, dataClaim}) fixture::putBe(b, v, 4);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// A short mono FLAC from our writer, given `tags`.
Bytes ourFlac(const std::vector<sonvex::RawBlock>& tags) {
  sonvex::MemorySink sink;
  auto w = sonvex::makeAudioWriter(kFileTypeFlac, sink);
  WriteFormat wf{};
  wf.channels = 1;
  wf.bitsPerSample = 16;
  wf.sampleRate = 44100;
  w->setTags(tags);
  const Bytes pcm = fixture::pattern(2000);
  EXPECT_EQ(w->begin(wf), 0);
  EXPECT_EQ(w->writePcm(pcm.data(), 1000), 0);
  EXPECT_EQ(w->finalize(), 0);
  return sink.bytes();
}

// Our untagged FLAC with its only block behind STREAMINFO (libFLAC's empty
// comment) replaced by one of `type` holding `payload`.
Bytes flacWith(uint8_t type, const Bytes& payload) {
  const Bytes f = ourFlac({});
  const size_t frames = 46 + (size_t(f[43]) << 16 | size_t(f[44]) << 8 | f[45]);
  Bytes out(f.begin(), f.begin() + 42);
  out.push_back(uint8_t(0x80 | type));  // the last block
  fixture::putBe(out, payload.size(), 3);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), f.begin() + long(frames), f.end());
  return out;
}

class TagsTest : public ::testing::Test {
 protected:
  dsdtest::TempDir dir;
  std::string write(const std::string& name, const Bytes& bytes) {
    dsdtest::writeAll(dir.file(name), bytes);
    return dir.file(name);
  }
};

}  // namespace

TEST(Id3v2, TextInEveryEncodingAndBothVersions) {
  sonvex::Tags t;
  // 2.3: Latin-1 and UTF-16 with a byte order mark, unsynchronised as a whole.
  const Bytes v23 =
      dsdtest::id3Tag(3,
                      {{"TIT2", dsdtest::textFrame(0, "Caf\xE9")},
                       {"TPE1", dsdtest::textFrame(1, std::string("\xFF\xFEO\0\xFF\0", 6))},
                       {"TALB", dsdtest::textFrame(0, "A")}},
                      0x80);
  Bytes unsynced(v23.begin(), v23.begin() + 10);
  for (size_t i = 10; i < v23.size(); ++i) {
    unsynced.push_back(v23[i]);
    if (v23[i] == 0xFF) unsynced.push_back(0);
  }
  unsynced[9] = uint8_t(unsynced.size() - 10);
  ASSERT_TRUE(sonvex::parseId3v2(unsynced.data(), unsynced.size(), &t));
  EXPECT_EQ(fieldsOf(t),
            (Fields{{"title", "Caf\xC3\xA9"}, {"artist", "O\xC3\xBF"}, {"album", "A"}}));
  // 2.4: UTF-16BE and UTF-8, multiple values keep the first.
  t = {};
  const Bytes v24 =
      dsdtest::id3Tag(4, {{"TIT2", dsdtest::textFrame(2, std::string("\0N", 2))},
                          {"TPE1", dsdtest::textFrame(3, std::string("\xE2\x99\xAA\0B", 5))}});
  ASSERT_TRUE(sonvex::parseId3v2(v24.data(), v24.size(), &t));
  EXPECT_EQ(t.title, "N");
  EXPECT_EQ(t.artist, "\xE2\x99\xAA");
  // What we write reads back, here and in an independent reader.
  const std::vector<uint8_t> made = sonvex::makeId3v2(t);
  sonvex::Tags back;
  ASSERT_TRUE(sonvex::parseId3v2(made.data(), made.size(), &back));
  EXPECT_EQ(fieldsOf(back), fieldsOf(t));
  EXPECT_EQ(dsdtest::id3Frames(made)["TPE1"], "\xE2\x99\xAA");
}

TEST(Tags, HostileBlocksAreLeftOutSafely) {
  // A LIST claiming 4 GiB, a tag over the cap, an ID3 chunk cut short, and a
  // bext that is fine.
  Bytes chunks;
  fixture::riffChunk(chunks, "fmt ", fixture::fmtPayload(1, 1, 8000, 16));
  fixture::riffChunk(chunks, "data", fixture::pattern(100));
  fixture::riffChunk(chunks, "bext", fixture::bextPayload(7));
  Bytes cut = v24Tag();
  cut.resize(cut.size() - 3);
  fixture::riffChunk(chunks, "ID3 ", cut);
  fixture::riffChunk(chunks, "id3 ", Bytes(sonvex::kMaxTagBytes + 2, 0));  // there, but too big
  fixture::riffChunk(chunks, "LIST", fixture::infoList({{"INAM", "x"}}), 0xFFFFFFF0);
  const sonvex::Tags wav = tagsOf(fixture::riffFile(chunks), kFileTypeWav);
  ASSERT_EQ(wav.raw.size(), 2u);  // bext and the chunk's bytes; the ID3 inside is no tag
  EXPECT_EQ(fieldsOf(wav), (Fields{{"title", ""}, {"artist", ""}, {"album", ""}}));

  // DSF: a tag running past the end, a 256 MiB one, a pointer past the end.
  for (const uint64_t claim : {uint64_t(1000), uint64_t(0x0FFFFFFF)}) {
    Bytes tag = v24Tag();
    for (int i = 0; i < 4; ++i) tag[6 + i] = uint8_t((claim >> (21 - 7 * i)) & 0x7F);
    EXPECT_TRUE(tagsOf(dsdtest::buildDsf(2822400, dsdAudio(10), 80, tag), kFileTypeDsf).empty());
  }
  Bytes dsf = dsdtest::buildDsf(2822400, dsdAudio(10), 80, v24Tag());
  dsf[27] = 0x7F;
  EXPECT_TRUE(tagsOf(dsf, kFileTypeDsf).empty());

  // DSDIFF: a DIIN whose text chunk overruns it keeps the whole block only.
  Bytes diin = dsdtest::diinText("DITI", "Nocturne");
  diin[11] = 200;
  const sonvex::Tags dff =
      tagsOf(dsdtest::buildDsdiff(2822400, dsdAudio(10), dsdtest::dsdiffChunk("DIIN", diin)),
             kFileTypeDsdiff);
  ASSERT_EQ(dff.raw.size(), 1u);
  EXPECT_TRUE(dff.title.empty());
}

TEST_F(TagsTest, SameContainerExportsKeepTheBlocks) {
  if (!haveFfprobe()) GTEST_SKIP() << "no ffprobe";
  // WAV: a cover too large for the header's spare room follows the audio.
  Bytes cover;
  fixture::riffChunk(cover, "id3 ", dsdtest::id3Tag(4, {{"APIC", Bytes(40000, 0x5A)}}));
  const std::string wav = write("in.wav", taggedWav(1000, cover));
  convtest::Job job(kRate48000, kFileTypeWav, 24);
  job.range.startFrame = 4800;
  const std::string out = dir.file("out.wav");
  ASSERT_EQ(job.run(wav, out), 0);
  Fields expect = kFields;
  expect["time_reference"] = "5800";
  EXPECT_EQ(probe(out), expect);
  std::vector<std::string> ids;
  for (const auto& c : fixture::riffChunks(dsdtest::readAll(out))) ids.push_back(c.first);
  EXPECT_EQ(ids, (std::vector<std::string>{"fmt ", "bext", "LIST", "JUNK", "data", "id3 "}));

  // DSF: the ID3 tag behind the audio, the pointer at it.
  const Bytes tag = v24Tag();
  const std::string dsf = write("in.dsf", dsdtest::buildDsf(2822400, dsdAudio(5000), 40000, tag));
  convtest::Job copy(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(copy.run(dsf, dir.file("out.dsf")), 0);
  const Bytes outDsf = dsdtest::readAll(dir.file("out.dsf"));
  const dsdtest::DsfContent d = dsdtest::parseDsf(outDsf);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.metadataPointer, 92 + d.dataSize - 12);
  EXPECT_EQ(Bytes(outDsf.begin() + long(d.metadataPointer), outDsf.end()), tag);
  EXPECT_EQ(d.totalSize, outDsf.size());
  EXPECT_EQ(probe(dir.file("out.dsf")), kFields);

  // DSDIFF: DIIN and COMT kept whole, the form size right.
  const Bytes diin =
      dsdtest::concat(dsdtest::diinText("DITI", "Nocturne"), dsdtest::diinText("DIAR", "Ensemble"));
  const Bytes comt = {0, 1, 0x07, 0xE6, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 1, 'c'};
  const std::string dff =
      write("in.dff", dsdtest::buildDsdiff(2822400, dsdAudio(5000),
                                           dsdtest::concat(dsdtest::dsdiffChunk("DIIN", diin),
                                                           dsdtest::dsdiffChunk("COMT", comt))));
  convtest::Job dcopy(kRateDsd64, kFileTypeDsdiff, 1);
  ASSERT_EQ(dcopy.run(dff, dir.file("out.dff")), 0);
  const dsdtest::DsdiffContent c = dsdtest::parseDsdiff(dsdtest::readAll(dir.file("out.dff")));
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.topLevel, (std::vector<std::string>{"FVER", "PROP", "DIIN", "COMT", "JUNK", "DSD "}));
  EXPECT_EQ(c.payloads[2], diin);
  EXPECT_EQ(c.payloads[3], comt);
  EXPECT_EQ(probe(dir.file("out.dff")), (Fields{{"title", "Nocturne"}, {"artist", "Ensemble"}}));
}

TEST_F(TagsTest, OtherContainersGetTheCommonFields) {
  if (!haveFfprobe()) GTEST_SKIP() << "no ffprobe";
  const std::string wav = write("in.wav", taggedWav(0));
  convtest::Job toDsf(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(toDsf.run(wav, dir.file("out.dsf")), 0);
  EXPECT_EQ(probe(dir.file("out.dsf")), kFields);

  // DSDIFF gets an ID3 chunk: DIIN has no place for the album.
  convtest::Job toDff(kRateDsd64, kFileTypeDsdiff, 1);
  ASSERT_EQ(toDff.run(wav, dir.file("out.dff")), 0);
  const dsdtest::DsdiffContent c = dsdtest::parseDsdiff(dsdtest::readAll(dir.file("out.dff")));
  ASSERT_TRUE(c.ok);
  ASSERT_EQ(c.topLevel[2], "ID3 ");
  const auto frames = dsdtest::id3Frames(c.payloads[2]);
  EXPECT_EQ(frames, (std::map<std::string, std::string>{
                        {"TIT2", "Nocturne"}, {"TPE1", "Ensemble"}, {"TALB", "Night"}}));

  // A DSF's own ID3 tag goes to DSDIFF whole, pictures and all.
  const Bytes tag =
      dsdtest::id3Tag(4, {{"TIT2", dsdtest::textFrame(3, "N")}, {"APIC", Bytes(50, 1)}});
  const std::string dsf = write("in.dsf", dsdtest::buildDsf(2822400, dsdAudio(5000), 40000, tag));
  convtest::Job dsfToDff(kRateDsd64, kFileTypeDsdiff, 1);
  ASSERT_EQ(dsfToDff.run(dsf, dir.file("whole.dff")), 0);
  const dsdtest::DsdiffContent whole =
      dsdtest::parseDsdiff(dsdtest::readAll(dir.file("whole.dff")));
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(whole.payloads[2], tag);

  // And back to WAV: LIST/INFO from the DSDIFF's ID3.
  convtest::Job toWav(kRate88200, kFileTypeWav, 24);
  ASSERT_EQ(toWav.run(dir.file("out.dff"), dir.file("back.wav")), 0);
  EXPECT_EQ(probe(dir.file("back.wav")), kFields);

  // An untagged source gives no tag at all.
  const std::string plain = write("plain.dsf", dsdtest::buildDsf(2822400, dsdAudio(5000), 40000));
  convtest::Job plainToWav(kRate88200, kFileTypeWav, 24);
  ASSERT_EQ(plainToWav.run(plain, dir.file("plain.wav")), 0);
  std::vector<std::string> ids;
  for (const auto& c : fixture::riffChunks(dsdtest::readAll(dir.file("plain.wav"))))
    ids.push_back(c.first);
  EXPECT_EQ(ids, (std::vector<std::string>{"fmt ", "JUNK", "data"}));
}

TEST(Tags, FlacCommentsAndTheirDamage) {
  // Field names in any case; a repeated field keeps its first value.
  const Bytes good =
      vorbisComment({"title=Nocturne", "Artist=Ensemble", "ARTIST=Other", "ALBUM=Night", "X=y"});
  const sonvex::Tags t = tagsOf(flacWith(4, good), kFileTypeFlac);
  EXPECT_EQ(fieldsOf(t), kFields);
  ASSERT_EQ(t.raw.size(), 1u);
  EXPECT_EQ(t.raw[0].data, good);

  // An entry running past the block, a count no block could hold, and a
  // picture whose data runs past its block are left out.
  Bytes past = vorbisComment({"TITLE=x"}), lying = past;
  past[14] = 0xF0;
  lying[13] = 0x7F;
  const Bytes png(64, 0x5A);
  const Bytes cut = flacPicture(3, "image/png", 65, png);
  EXPECT_EQ(tagsOf(flacWith(6, flacPicture(3, "image/png", 64, png)), kFileTypeFlac).raw.size(),
            1u);
  const std::pair<uint8_t, Bytes> damaged[] = {{4, past}, {4, lying}, {6, cut}};
  for (const auto& bad : damaged)
    EXPECT_TRUE(tagsOf(flacWith(bad.first, bad.second), kFileTypeFlac).empty());

  // Blocks libFLAC would refuse never reach the encoder: the stream is
  // written with its own empty comment only.
  std::vector<sonvex::RawBlock> blocks(3);
  blocks[0].data = past;
  blocks[1].data = cut;
  blocks[2].data = flacPicture(1, "image/jpeg", 64, png);  // an icon must be a PNG
  std::memcpy(blocks[0].id, "VORB", 4);
  std::memcpy(blocks[1].id, "PICT", 4);
  std::memcpy(blocks[2].id, "PICT", 4);
  const sonvex::Tags written = tagsOf(ourFlac(blocks), kFileTypeFlac);
  ASSERT_EQ(written.raw.size(), 1u);
  std::vector<std::string> entries;
  ASSERT_TRUE(sonvex::vorbisCommentEntries(written.raw[0].data.data(), written.raw[0].data.size(),
                                           &entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(TagsTest, FlacCommentsCrossTheContainers) {
  if (!haveFfprobe() || !haveMetaflac()) GTEST_SKIP() << "no ffprobe or metaflac";
  const auto tagsIn = [](const std::string& path) {
    return commandOutput("metaflac --export-tags-to=- '" + path + "'");
  };
  // WAV LIST/INFO to FLAC: the three fields as Vorbis comments.
  const std::string a = dir.file("a.flac"), b = dir.file("b.flac");
  convtest::Job toFlac(kRate48000, kFileTypeFlac, 16);
  ASSERT_EQ(toFlac.run(write("in.wav", taggedWav(0)), a), 0);
  EXPECT_EQ(tagsIn(a), "TITLE=Nocturne\nARTIST=Ensemble\nALBUM=Night\n");
  EXPECT_EQ(probe(a), kFields);

  // FLAC to FLAC keeps every comment (any name, repeated, lower case) and
  // the cover.
  const Bytes cover = fixture::pattern(30000, 7);
  const std::string png = write("cover.png", cover);
  ASSERT_EQ(std::system(("metaflac --remove-tag=ALBUM --set-tag=album=Night "
                         "--set-tag=ARTIST=Other --set-tag=GENRE=Chamber "
                         "--import-picture-from='3|image/png|Front|1x1x24|" +
                         png + "' " + a)
                            .c_str()),
            0);
  convtest::Job again(kRate48000, kFileTypeFlac, 16);
  ASSERT_EQ(again.run(a, b), 0);
  EXPECT_EQ(tagsIn(b), tagsIn(a));
  EXPECT_TRUE(commandOutput("metaflac --export-picture-to=- " + b) ==
              std::string(cover.begin(), cover.end()));
  EXPECT_EQ(std::system(("flac -t -s " + b).c_str()), 0);

  // FLAC to DSF and WAV: the first of each field, whatever its name's case.
  convtest::Job toDsf(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(toDsf.run(b, dir.file("c.dsf")), 0);
  EXPECT_EQ(probe(dir.file("c.dsf")), kFields);
  convtest::Job toWav(kRate48000, kFileTypeWav, 24);
  ASSERT_EQ(toWav.run(b, dir.file("c.wav")), 0);
  EXPECT_EQ(probe(dir.file("c.wav")), kFields);
}
