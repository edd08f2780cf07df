// An export never damages what is there: its own source, however the path
// is spelled, an existing file of the destination's name, or a full disk's
// last bytes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "convert_harness.h"
#include "diagcapture.h"
#include "formats/dsdfixtures.h"
#include "smalldisk.h"

using namespace convtest;
using namespace testsupport;

TEST(ConvertGuard, DestinationNamingTheSourceIsRefusedAndTheSourceKept) {
  std::vector<int16_t> s(2 * 4410);
  for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(8000 * std::sin(0.01 * double(i)));
  const std::string src = tempPath("take", ".wav");
  writeWav(src, 44100, 16, 2, 1, pcm16Bytes(s));
  const std::vector<uint8_t> before = readAll(src);

  const size_t slash = src.rfind('/');
  const std::string respelled = src.substr(0, slash) + "/./" + src.substr(slash + 1);
  const std::string link = tempPath("take-link", ".wav");
  ASSERT_EQ(::link(src.c_str(), link.c_str()), 0);
  for (const std::string& dst : {src, respelled, link}) {
    Job job(kRate48000, kFileTypeWav, 24);
    testsupport::captureDiagnostics();
    EXPECT_EQ(job.run(src, dst), kConvertErrDestinationIsSource) << dst;
    EXPECT_EQ(testsupport::capturedDiagnostics(), "Destination Is Source Error!\n");
    EXPECT_EQ(readAll(src), before) << dst;
  }

  // A different file is fine, and stream mode writes nothing at all.
  Job ok(kRate48000, kFileTypeWav, 24);
  EXPECT_EQ(ok.run(src, tempPath("take-48k", ".wav")), 0);
  Job stream(kRate44100, kFileTypeWav, 24, false);
  EXPECT_EQ(stream.run(src, src), 0);
  EXPECT_EQ(readAll(src), before);
}

namespace {
std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.' || std::strlen(e->d_name) > 2) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

// Whatever can be checked is checked before a file is made: a failure before
// any audio leaves no file, and an existing one of that name as it was.
TEST(ConvertGuard, FailureBeforeAudioLeavesTheFolderAsItWas) {
  dsdtest::TempDir dir;
  const std::string take = dir.file("take.wav"), empty = dir.file("empty.wav"),
                    odd = dir.file("take.mp3"), keep = dir.file("keep.wav");
  writeWav(take, 44100, 16, 2, 1, pcm16Bytes(std::vector<int16_t>(2 * 1000, 100)));
  writeWav(empty, 44100, 16, 2, 1, {});
  writeWav(odd, 44100, 16, 2, 1, pcm16Bytes({1, 2}));
  const dsdtest::Bytes old = {'o', 'l', 'd'};
  dsdtest::writeAll(keep, old);
  const struct {
    std::string source;
    int64_t start;
    int code;
  } cases[] = {{take, 5000, kConvertErrNothing},
               {empty, 0, kConvertErrNothing},
               {odd, 0, kConvertErrHeader}};
  for (const auto& c : cases)
    for (int type : {kFileTypeWav, kFileTypeDsf, kFileTypeDsdiff}) {
      Job job(type == kFileTypeWav ? kRate44100 : kRateDsd64, type, type == kFileTypeWav ? 16 : 1);
      job.range.startFrame = c.start;
      EXPECT_EQ(job.run(c.source, keep), c.code) << c.source;
      EXPECT_EQ(job.run(c.source, dir.file("new.wav")), c.code) << c.source;
      EXPECT_EQ(dsdtest::readAll(keep), old);
    }
  EXPECT_EQ(listing(dir.path()),
            (std::vector<std::string>{"empty.wav", "keep.wav", "take.mp3", "take.wav"}));
}

// A disk that fills during an export: -28, never success, and a finalised
// file whose header counts exactly the whole frames (DSF: block groups) it
// holds. WAV fills inside the last stdio buffer, which only the final
// flush writes.
TEST(ConvertGuard, FullDiskGivesWriteErrorAndAConsistentFile) {
  testsupport::SmallDisk disk(68 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const std::string pcm = tempPath("fill", ".wav"), dsd = tempPath("fill", ".dsf");
  writeWav(pcm, 44100, 16, 2, 1, pcm16Bytes(std::vector<int16_t>(2 * 10000, 1234)));
  writeDsf(dsd, 2822400, {dsdSine(1000, 2822400, 0.5, 40000), dsdSine(1000, 2822400, 0.5, 40000)});
  for (const std::string ext : {".wav", ".dsf", ".dff"}) {
    SCOPED_TRACE(ext);
    const std::string out = disk.file("out" + ext);
    const int type = ext == ".wav" ? kFileTypeWav : ext == ".dsf" ? kFileTypeDsf : kFileTypeDsdiff;
    Job job(type ? kRateDsd64 : kRate44100, type, type ? 1 : 16);
    EXPECT_EQ(job.run(type ? dsd : pcm, out), kConvertErrWrite);
    EXPECT_EQ(errno, ENOSPC);
    const dsdtest::Bytes file = dsdtest::readAll(out);
    AudioFileInfo info{};
    const std::vector<uint8_t> audio = audioBytes(out, &info);
    ASSERT_FALSE(audio.empty());
    if (type == kFileTypeDsf) {
      const dsdtest::DsfContent d = dsdtest::parseDsf(file);
      ASSERT_TRUE(d.ok);
      EXPECT_EQ(d.totalSize, file.size());
      EXPECT_EQ(d.dataSize + 80, file.size());
    } else {
      EXPECT_EQ(info.dataOffset + audio.size(), file.size());
    }
    EXPECT_EQ(listing(disk.file("")), std::vector<std::string>{"out" + ext});
    std::remove(out.c_str());
  }
}
