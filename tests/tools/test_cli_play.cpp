// sonvex-cli play as a user runs it: a child process against the outputs'
// test configuration (captures over the fake DAC), judged by what it played.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "alsaharness.h"
#include "dsdcarry.h"
#include "rawfiles.h"

using namespace alsatest;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kDsdRate = 2822400;

struct Result {
  int status = -1;  // exit code, or 128 + the signal that ended it
  std::string err;
};

// Runs sonvex-cli; SIGINT after `interruptMs` when given. A child still
// running after 30 s is a hang: killed and failed.
Result run(std::vector<std::string> args, int interruptMs = 0) {
  installConfig();
  const std::string errPath = testsupport::tempPath("cli", ".err");
  posix_spawn_file_actions_t io;
  posix_spawn_file_actions_init(&io);
  posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&io, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  args.insert(args.begin(), SONVEX_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  Result r;
  const int spawned = posix_spawn(&pid, SONVEX_CLI, &io, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&io);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << SONVEX_CLI;
    return r;
  }
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  bool interrupted = interruptMs <= 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (!interrupted && ms >= interruptMs) interrupted = kill(pid, SIGINT) == 0;
    if (ms > 30000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "sonvex-cli hung";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream in(errPath);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// Sine of 16-bit samples: left `freq` at `amplitude`, right half of it.
std::string sineWav(uint32_t rate, double seconds, double freq, double amplitude,
                    std::vector<int16_t>* left = nullptr) {
  std::vector<int16_t> s;
  const long frames = std::lround(seconds * rate);
  for (long n = 0; n < frames; ++n) {
    const double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * freq * n / rate);
    s.push_back(int16_t(std::lround(v)));
    s.push_back(int16_t(std::lround(v / 2)));
    if (left) left->push_back(s[s.size() - 2]);
  }
  const std::string path = testsupport::tempPath("play", ".wav");
  testsupport::writeWav(path, rate, 16, 2, 1, testsupport::pcm16Bytes(s));
  return path;
}

std::vector<float> floatLeft(const Bytes& cap) {
  std::vector<float> l(cap.size() / 8);
  for (size_t i = 0; i < l.size(); ++i) std::memcpy(&l[i], &cap[8 * i], 4);
  return l;
}

float peak(const std::vector<float>& v, size_t from, size_t to) {
  float p = 0.0f;
  for (size_t i = from; i < to && i < v.size(); ++i) p = std::max(p, std::fabs(v[i]));
  return p;
}

// `out` carries `src` unchanged from `from` through `srcEnd`, after an idle lead-in.
void expectCarries(const Bytes& out, const Bytes& src, size_t from, size_t srcEnd) {
  const size_t carried = testsupport::dsdCarriedUpTo(out, src, from, srcEnd);
  EXPECT_EQ(carried, srcEnd) << "the source stops matching at byte " << carried;
  EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 1000, [](uint8_t b) { return b == 0x96; }));
}

}  // namespace

TEST(CliPlay, SharedOutputPlaysTheWavSampleExactBetweenItsRamps) {
  std::vector<int16_t> src;
  const std::string wav = sineWav(48000, 1.0, 1000.0, 0.5, &src);
  const Result r = run({"play", "--device", "dac_float", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("at 48000 Hz"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("00:01.00 / 00:01.00"), std::string::npos) << r.err;
  const std::vector<float> out = floatLeft(readCapture("dac_float"));
  size_t s = 0;
  while (s < out.size() && out[s] == 0.0f) ++s;
  ASSERT_GT(s, 1000u) << "silent priming first";
  --s;  // source frame 0 is a zero crossing
  ASSERT_GE(out.size(), s + src.size());
  // Fade in over a few ms (10 % left after 10 ms), then every frame as is.
  EXPECT_LT(peak(out, s, s + 48), 0.5f * 0.5f);
  EXPECT_GT(peak(out, s + 960, s + 1008), 0.9f * 0.5f);
  for (size_t n = 2400; n < src.size(); ++n)
    ASSERT_EQ(out[s + n], float(src[n] / 32768.0)) << "frame " << n;
  EXPECT_EQ(peak(out, s + src.size(), out.size()), 0.0f) << "only silence after the end";

  // A 44.1 kHz file on a 48 kHz-only device: at 48 kHz, same pitch and level.
  const Result r44 = run({"play", "--device", "dac_float", sineWav(44100, 1.0, 1000.0, 0.5)});
  ASSERT_EQ(r44.status, 0) << r44.err;
  EXPECT_NE(r44.err.find("at 48000 Hz"), std::string::npos) << r44.err;
  const std::vector<float> o44 = floatLeft(readCapture("dac_float"));
  s = 0;
  while (s < o44.size() && o44[s] == 0.0f) ++s;
  ASSERT_GT(o44.size(), s + 48000);
  int rising = 0;
  for (size_t i = s + 4800; i < s + 4800 + 38400; ++i) rising += o44[i] <= 0 && o44[i + 1] > 0;
  EXPECT_NEAR(rising, 800, 1) << "1 kHz over 0.8 s";
  EXPECT_NEAR(peak(o44, s + 4800, s + 43200), 0.5f, 0.01f);
}

TEST(CliPlay, DirectDsdIsBitExactNativeAndAsWellFormedDop) {
  const size_t bytes = kDsdRate / 8;  // one second
  const Bytes l = testsupport::dsdSine(997.0, kDsdRate, 0.5, bytes);
  const Bytes rr = testsupport::dsdSine(701.0, kDsdRate, 0.4, bytes);
  const std::string dsf = testsupport::tempPath("play", ".dsf");
  testsupport::writeDsf(dsf, kDsdRate, {l, rr});
  // The source goes out as it is from 0.4 s on (after the fade-in) to its last bytes.
  const size_t from = bytes * 4 / 10, to = bytes - 8;

  Result r = run({"play", "--direct", "--device", "dac_u32be", dsf});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("DSD native, DSD_U32_BE"), std::string::npos) << r.err;
  Bytes cap = readCapture("dac_u32be"), outL, outR;
  for (size_t f = 0; f + 8 <= cap.size(); f += 8) {
    outL.insert(outL.end(), &cap[f], &cap[f + 4]);
    outR.insert(outR.end(), &cap[f + 4], &cap[f + 8]);
  }
  expectCarries(outL, l, from, to);
  expectCarries(outR, rr, from, to);

  r = run({"play", "--direct", "--device", "dac_dop", dsf});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("DoP"), std::string::npos) << r.err;
  cap = readCapture("dac_dop");
  outL.clear();
  outR.clear();
  for (size_t f = 0; f + 8 <= cap.size(); f += 8) {
    const uint8_t marker = (f / 8) % 2 == (cap[3] == 0x05 ? 0 : 1) ? 0x05 : 0xFA;
    ASSERT_EQ(cap[f + 3], marker) << "frame " << f / 8;
    ASSERT_EQ(cap[f + 7], marker) << "frame " << f / 8;
    ASSERT_EQ(cap[f] | cap[f + 4], 0);
    outL.insert(outL.end(), {cap[f + 2], cap[f + 1]});
    outR.insert(outR.end(), {cap[f + 6], cap[f + 5]});
  }
  expectCarries(outL, l, from, to);
  expectCarries(outR, rr, from, to);

  // Forced native on a card without it says so rather than falling back.
  r = run({"play", "--direct", "--native", "--device", "dac_dop", dsf});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no usable format at 2822400 Hz"), std::string::npos) << r.err;
}

TEST(CliPlay, FailuresSayWhyAndNeverHang) {
  const std::string wav = sineWav(48000, 0.2, 1000.0, 0.5);
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"play", "--device", "no_such_pcm", wav}, "no_such_pcm: Failed to select this device."},
      {{"play", "--direct", "--device", "no_such_pcm", wav}, "no_such_pcm: cannot open"},
      {{"play", "--device", "dac_busy", wav}, "Already in use by other application."},
      {{"play", "--direct", "--device", "dac_busy", wav}, "Already in use by other application."},
      {{"play", "--direct", "--device", "dac_gone", wav}, "the device disappeared"},
      {{"play", wav}, "cannot play: "},  // the configuration has no `default`
      {{"play", "--device", "dac_float", wav + ".missing"}, "No such file or directory"},
      {{"play", "--device", "dac_float", SONVEX_CLI}, "not a supported audio file"},
      {{"play", "--device", "dac_float", "--in", "0:01", wav}, "nothing to play"},
  };
  for (const Case& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[c.args.size() - 2];
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(run({"play", "--in", "1:75", wav}).status, 2);
  EXPECT_EQ(run({"play", "--dop", wav}).status, 2);
}

TEST(CliPlay, InterruptFadesOutAndExitsNonZero) {
  const std::string wav = sineWav(48000, 5.0, 1000.0, 0.5);
  const Result r = run({"play", "--device", "dac_float", "--in", "0:00.5", wav}, 1000);
  EXPECT_EQ(r.status, 128 + SIGINT) << r.err;
  EXPECT_NE(r.err.find("stopped at"), std::string::npos) << r.err;
  const std::vector<float> out = floatLeft(readCapture("dac_float"));
  size_t end = out.size();
  while (end > 0 && out[end - 1] == 0.0f) --end;
  ASSERT_GT(end, 48000u * 3 / 10) << "played for a while";
  ASSERT_LT(end, 48000u * 4) << "stopped before the end";
  // Full level until the stop, then a fade (not a cut) to nothing.
  EXPECT_GT(peak(out, end - 9600, end - 4800), 0.49f);
  EXPECT_LT(peak(out, end - 960, end), 0.5f * 0.05f);
  bool fading = false;
  for (size_t w = end - 2880; w < end; w += 48) {
    const float p = peak(out, w, w + 48);
    fading = fading || (p > 0.05f && p < 0.45f);
  }
  EXPECT_TRUE(fading) << "no fade-out in the last 60 ms";
}
