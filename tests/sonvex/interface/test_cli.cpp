// sonvex-cli as a user runs it: it never destroys an input, stops cleanly on
// a signal, and says why something failed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "dsp/rawfiles.h"
#include "formats/dsdfixtures.h"
#include "smalldisk.h"
#include "sonvex.h"

using dsdtest::Bytes;
using dsdtest::readAll;

namespace {

struct Result {
  int status;  // exit code, or 128 + signal
  std::string err, out;
};

pid_t spawn(const std::vector<std::string>& args, const std::string& err, const std::string& out) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(SONVEX_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    execv(SONVEX_CLI, argv.data());
    _exit(127);
  }
  return pid;
}

Result finish(pid_t pid, const std::string& err, const std::string& out) {
  int st = 0;
  waitpid(pid, &st, 0);
  const Bytes e = readAll(err), o = readAll(out);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), std::string(e.begin(), e.end()),
          std::string(o.begin(), o.end())};
}

class Cli : public ::testing::Test {
 protected:
  dsdtest::TempDir dir;
  Result run(const std::vector<std::string>& args) {
    return finish(spawn(args, dir.file("err.txt"), dir.file("out.txt")), dir.file("err.txt"),
                  dir.file("out.txt"));
  }
  std::string wav(const std::string& name, uint16_t channels, size_t frames, double amplitude) {
    std::vector<int16_t> s(frames * channels);
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = int16_t(std::lround(amplitude * 32767 * std::sin(0.05 * double(i / channels))));
    const std::string path = dir.file(name);
    testsupport::writeWav(path, 44100, 16, channels, 1, testsupport::pcm16Bytes(s));
    return path;
  }
  AudioFileInfo info(const std::string& path) {
    AudioFileInfo i{};
    EXPECT_EQ(getAudioFileInformation(testsupport::toU16(path).c_str(), &i), 0) << path;
    return i;
  }
};

}  // namespace

TEST_F(Cli, CombineNeverWritesOverAnInput) {
  const std::string head = wav("head.wav", 2, 1000, 0.5), tail = wav("tail.wav", 2, 500, 0.5);
  const Bytes h = readAll(head), t = readAll(tail);
  for (const std::string& out : {head, tail, dir.path() + "/./tail.wav"}) {
    const Result r = run({"combine", head, tail, out});
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_NE(r.err.find("OUTPUT is the"), std::string::npos) << r.err;
  }
  EXPECT_EQ(readAll(head), h);
  EXPECT_EQ(readAll(tail), t);
  // A good combine is silent on stdout, however the library fared inside.
  const Result ok = run({"combine", head, tail, dir.file("both.wav")});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "");
  EXPECT_EQ(info(dir.file("both.wav")).dataBytesLow, 1500u * 4);
}

TEST_F(Cli, MonoStaysMonoAndClippingIsCounted) {
  const std::string mono = wav("mono.wav", 1, 4410, 1.0);
  const Result quiet = run({"convert", "--quiet", mono, dir.file("m.wav"), "--bits", "16"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err + quiet.out, "");
  EXPECT_EQ(info(dir.file("m.wav")).channels, 1u);
  EXPECT_EQ(run({"convert", "--stereo", mono, dir.file("s.bwf")}).status, 0);
  EXPECT_EQ(info(dir.file("s.bwf")).channels, 2u);
  const Result loud = run({"convert", "--gain", "4", mono, dir.file("loud.rf64")});
  EXPECT_EQ(loud.status, 0);
  EXPECT_NE(loud.err.find("samples beyond full scale were clipped"), std::string::npos) << loud.err;
}

TEST_F(Cli, FailuresSayTheSystemsReason) {
  const std::string src = wav("src.wav", 2, 1000, 0.5);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {{{"convert", dir.file("none.wav"), dir.file("x.wav")}, "No such file or directory"},
               {{"convert", dir.path(), dir.file("x.wav")}, "Is a directory"},
               {{"convert", src, dir.file("no/x.wav")}, "No such file or directory"},
               {{"convert", src, dir.path() + "/./src.wav"}, "the destination is the source"},
               {{"combine", src, dir.file("none.wav"), dir.file("y.wav")}, "No such file"}};
  for (const auto& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  testsupport::SmallDisk disk(40 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const Result full = run({"convert", wav("big.wav", 2, 20000, 0.5), disk.file("x.wav")});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
}

// SIGTERM mid-export: the export stops at the next block and the part done
// is a complete file; the exit status tells the signal.
TEST_F(Cli, SignalStopsWithAFinalisedFile) {
  const std::string src = wav("long.wav", 2, 44100 * 40, 0.5), dst = dir.file("long.dsf");
  const pid_t pid =
      spawn({"convert", "--rate", "dsd128", src, dst}, dir.file("err.txt"), dir.file("out.txt"));
  // Audio reaching the hidden file beside the destination shows the export
  // under way.
  const std::string part = dir.file(".sonvex-" + std::to_string(pid) + "-0.part");
  for (int i = 0; i < 4000 && dsdtest::sizeOf(part) < 100000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(dsdtest::sizeOf(part), 100000u);
  kill(pid, SIGTERM);
  const Result r = finish(pid, dir.file("err.txt"), dir.file("out.txt"));
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
  const dsdtest::DsfContent d = dsdtest::parseDsf(readAll(dst));
  ASSERT_TRUE(d.ok);
  EXPECT_GT(d.sampleCount, 0u);
  EXPECT_LT(d.sampleCount, 40u * 5644800);
  EXPECT_EQ(d.totalSize, dsdtest::sizeOf(dst));
}

// A folder of mixed files converted two at a time: each output is what a
// single conversion of its source gives, a bad file is reported and skipped,
// and existing outputs stay unless --force.
TEST_F(Cli, BatchConvertsEverySourceIntoAFolder) {
  const std::string out = dir.file("out");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  const Bytes l = testsupport::dsdSine(997.0, 2822400, 0.5, 44100),
              r = testsupport::dsdSine(701.0, 2822400, 0.4, 44100);
  const std::string dsf = dir.file("a.dsf"), dff = dir.file("b.dff"), bad = dir.file("c.wav");
  dsdtest::writeAll(dsf, dsdtest::buildDsf(2822400, {l, r}, 44100 * 8));
  dsdtest::writeAll(dff, dsdtest::buildDsdiff(2822400, {l, r}));
  dsdtest::writeAll(bad, Bytes(100, 7));
  const std::vector<std::string> sources{wav("d.wav", 1, 30000, 0.5), dsf, dff, bad};
  std::vector<std::string> args{"convert", "--format", "wav", "--rate", "48000", "-j", "2"};
  args.insert(args.end(), sources.begin(), sources.end());
  args.push_back(out);
  Result batch = run(args);
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.err.find("c.wav: not a supported file"), std::string::npos) << batch.err;
  EXPECT_NE(batch.err.find("3 of 4 files converted"), std::string::npos) << batch.err;
  EXPECT_FALSE(dsdtest::exists(out + "/c.wav"));
  for (const std::string& src : {dsf, dff, sources[0]}) {
    const std::string name = src.substr(src.size() - 5, 1), alone = dir.file(name + "-alone.wav");
    ASSERT_EQ(run({"convert", "--rate", "48000", src, alone}).status, 0);
    EXPECT_EQ(readAll(out + "/" + name + ".wav"), readAll(alone)) << name;
  }
  dsdtest::writeAll(out + "/a.wav", Bytes{1, 2, 3});
  batch = run({"convert", "--format", "wav", "--rate", "48000", dsf, out});
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.err.find("exists; --force replaces it"), std::string::npos) << batch.err;
  EXPECT_EQ(readAll(out + "/a.wav"), (Bytes{1, 2, 3}));
  EXPECT_EQ(run({"convert", "--format", "wav", "--rate", "48000", "--force", dsf, out}).status, 0);
  EXPECT_EQ(readAll(out + "/a.wav"), readAll(dir.file("a-alone.wav")));
  // A folder needs the format named; several sources need a folder.
  EXPECT_EQ(run({"convert", dsf, out}).status, 2);
  EXPECT_EQ(run({"convert", dsf, dff, dir.file("x.wav")}).status, 2);
}

// A stop in a batch leaves no half-written file in the folder to pass for a whole one.
TEST_F(Cli, BatchStopRemovesTheUnfinished) {
  const std::string out = dir.file("out"), src = wav("long.wav", 2, 44100 * 40, 0.5);
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  const pid_t pid = spawn({"convert", "--format", "dsf", "--rate", "dsd128", src, src, out},
                          dir.file("err.txt"), dir.file("out.txt"));
  const std::string part = out + "/.sonvex-" + std::to_string(pid) + "-0.part";
  for (int i = 0; i < 4000 && dsdtest::sizeOf(part) < 100000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(dsdtest::sizeOf(part), 100000u);
  kill(pid, SIGINT);
  const Result r = finish(pid, dir.file("err.txt"), dir.file("out.txt"));
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_NE(r.err.find("was removed"), std::string::npos) << r.err;
  EXPECT_FALSE(dsdtest::exists(out + "/long.dsf"));
  EXPECT_FALSE(dsdtest::exists(part));
}

// --dsd-gain lowers DSD going to PCM by what it says, and nothing else.
TEST_F(Cli, DsdGainLowersDsdGoingToPcm) {
  // 25 % modulation: half the PCM full scale, so 0 dB does not clip.
  const Bytes l = testsupport::dsdSine(997.0, 2822400, 0.25, 44100);
  const std::string dsf = dir.file("g.dsf");
  dsdtest::writeAll(dsf, dsdtest::buildDsf(2822400, {l, l}, 44100 * 8));
  auto peak = [&](const std::string& gainDb) {
    const std::string out = dir.file("g" + gainDb + ".wav");
    EXPECT_EQ(run({"convert", "--dsd-gain", gainDb, dsf, out, "--rate", "88200"}).status, 0);
    const Bytes b = readAll(out);  // 24-bit audio from byte 32768
    int32_t p = 0;
    for (size_t i = 32768; i + 3 <= b.size(); i += 3)
      p = std::max(p,
                   std::abs(int32_t(uint32_t(b[i] << 8 | b[i + 1] << 16 | b[i + 2] << 24)) >> 8));
    return double(p);
  };
  const double full = peak("0");
  ASSERT_GT(full, 1e6);
  EXPECT_NEAR(peak("-6") / full, std::pow(10.0, -6.0 / 20.0), 1e-4);
  EXPECT_NEAR(peak("-3") / full, std::pow(10.0, -3.0 / 20.0), 1e-4);
  EXPECT_EQ(run({"convert", "--dsd-gain", "-4", dsf, dir.file("x.wav")}).status, 2);
}

TEST_F(Cli, ModulatorIsChosenPerExport) {
  // Standard is the default; precision makes other bits of the same length;
  // anything else is a usage error.
  const std::string src = wav("tone.wav", 2, 8820, 0.5);
  const char* names[] = {"", "standard", "precision"};
  Bytes out[3];
  for (int i = 0; i < 3; ++i) {
    std::vector<std::string> args = {
        "convert", "--quiet", src, dir.file(std::to_string(i) + ".dsf"), "--rate", "dsd64"};
    if (*names[i]) args.insert(args.end(), {"--modulator", names[i]});
    ASSERT_EQ(run(args).status, 0) << names[i];
    out[i] = readAll(dir.file(std::to_string(i) + ".dsf"));
  }
  EXPECT_EQ(out[0], out[1]);
  EXPECT_EQ(out[0].size(), out[2].size());
  EXPECT_NE(out[0], out[2]);
  const Result bad =
      run({"convert", src, dir.file("x.dsf"), "--rate", "dsd64", "--modulator", "fast"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--modulator takes"), std::string::npos) << bad.err;
}

TEST_F(Cli, InfoShowsTheTags) {
  const Bytes tag = dsdtest::id3Tag(
      3, {{"TIT2", dsdtest::textFrame(0, "Caf\xE9")}, {"TALB", dsdtest::textFrame(3, "Night")}});
  const std::vector<Bytes> audio(2, Bytes(8192, 0x69));
  dsdtest::writeAll(dir.file("t.dsf"), dsdtest::buildDsf(2822400, audio, 65536, tag));
  // And from a FLAC converted from it, the tag as Vorbis comments.
  const Result flac = run(
      {"convert", "--format", "flac", "--rate", "88200", dir.file("t.dsf"), dir.file("t.flac")});
  ASSERT_EQ(flac.status, 0) << flac.err;
  for (const char* name : {"t.dsf", "t.flac"}) {
    const Result r = run({"info", dir.file(name)});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  title:        Caf\xC3\xA9\n  album:        Night\n"), std::string::npos)
        << r.out;
  }
}

TEST_F(Cli, FlacConvertsInBatchesAndCombines) {
  const std::string out = dir.file("flac");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  const std::string a = wav("a.wav", 2, 30000, 0.4), b = wav("b.wav", 1, 20000, 0.4);
  const Result batch = run(
      {"convert", "--format", "flac", "--bits", "16", "--flac-level", "8", "-j", "2", a, b, out});
  ASSERT_EQ(batch.status, 0) << batch.err;
  for (const std::string name : {"a", "b"}) {
    const std::string flac = out + "/" + name + ".flac", back = dir.file(name + "-back.wav"),
                      direct = dir.file(name + "-direct.wav");
    EXPECT_EQ(info(flac).fileType, uint32_t(kFileTypeFlac));
    ASSERT_EQ(run({"convert", "--bits", "16", flac, back}).status, 0);
    ASSERT_EQ(run({"convert", "--bits", "16", dir.file(name + ".wav"), direct}).status, 0);
    EXPECT_EQ(readAll(back), readAll(direct)) << name;
  }
  EXPECT_EQ(run({"convert", "--format", "flac", "--bits", "32", a, dir.file("x.flac")}).status, 2);
  EXPECT_EQ(run({"convert", "--flac-level", "9", a, dir.file("x.flac")}).status, 2);

  const Result joined = run({"combine", out + "/a.flac", out + "/a.flac", dir.file("aa.flac")});
  ASSERT_EQ(joined.status, 0) << joined.err;
  EXPECT_EQ(info(dir.file("aa.flac")).dataBytesLow, 60000u * 4);
  EXPECT_NE(run({"combine", out + "/a.flac", out + "/b.flac", dir.file("ab.flac")}).status, 0);
}
