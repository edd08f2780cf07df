// Whole-process conversion speed on 60-second stereo signals.
//
//   bench_convert [--dir DIR] [--compare] [OPERATION...]
//
// Operations: up48 (44.1 -> 48 kHz, 24-bit), up882 (44.1 -> 88.2 kHz, 24-bit),
// down441 (96 -> 44.1 kHz, 24-bit),
// dsd176 (DSD64 DSF -> 176.4 kHz/24-bit WAV), dsd128_176 (the same from
// DSD128), trim24 (same rate, 16 -> 24-bit,
// 0.5 s .. 59.5 s). Each run is a child process (the library call alone, and
// sonvex-cli when it sits beside this program); wall time, CPU time and peak
// resident memory come from the child. "+callback" repeats the library call
// with a block callback, as the editor makes it. Wall time on a shared
// machine includes waiting; the CPU figure is the one-core cost. Rate changes
// also run with --filter 2 (longest FIR) and --filter 3 (FFT method) side by
// side. --compare adds sox (rate -v) and
// ffmpeg runs of the same operation when those programs are installed.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sonvex.h"

namespace {

constexpr double kSeconds = 60.0;
constexpr double kPi = 3.14159265358979323846;

void put(std::vector<uint8_t>& v, uint64_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// Two tones and a little noise, so nothing is trivially compressible.
double signal(int ch, double t, uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  const double noise = (double(seed >> 8) / 16777216.0 - 0.5) * 1e-3;
  return 0.45 * std::sin(2 * kPi * (ch ? 440.0 : 997.0) * t) +
         0.2 * std::sin(2 * kPi * 6000.0 * t) + noise;
}

void writeWav(const std::string& path, uint32_t rate, int bits) {
  const uint64_t frames = uint64_t(rate * kSeconds);
  const uint32_t block = uint32_t(2 * bits / 8);
  std::vector<uint8_t> h;
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  put(h, 36 + frames * block, 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(h, 16, 4);
  put(h, 1, 2);
  put(h, 2, 2);
  put(h, rate, 4);
  put(h, rate * block, 4);
  put(h, block, 2);
  put(h, uint64_t(bits), 2);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put(h, frames * block, 4);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(h.data(), 1, h.size(), f);
  std::vector<uint8_t> buf;
  uint32_t seed = 1;
  const double scale = bits == 16 ? 32767.0 : 8388607.0;
  for (uint64_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c)
      put(buf, uint64_t(int64_t(std::lrint(signal(c, double(i) / rate, seed) * scale))), bits / 8);
    if (buf.size() > (1u << 20)) {
      std::fwrite(buf.data(), 1, buf.size(), f);
      buf.clear();
    }
  }
  std::fwrite(buf.data(), 1, buf.size(), f);
  std::fclose(f);
}

// DSD DSF from a second-order sigma-delta loop at 50 % modulation.
void writeDsf(const std::string& path, uint32_t rate) {
  const uint64_t bytesPerChannel = uint64_t(rate * kSeconds) / 8;
  const uint64_t groups = (bytesPerChannel + 4095) / 4096;
  std::vector<uint8_t> h;
  h.insert(h.end(), {'D', 'S', 'D', ' '});
  put(h, 28, 8);
  put(h, 28 + 52 + 12 + groups * 8192, 8);
  put(h, 0, 8);
  h.insert(h.end(), {'f', 'm', 't', ' '});
  put(h, 52, 8);
  put(h, 1, 4);
  put(h, 0, 4);
  put(h, 2, 4);
  put(h, 2, 4);
  put(h, rate, 4);
  put(h, 1, 4);
  put(h, bytesPerChannel * 8, 8);
  put(h, 4096, 4);
  put(h, 0, 4);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put(h, 12 + groups * 8192, 8);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(h.data(), 1, h.size(), f);
  double i1[2] = {0, 0}, i2[2] = {0, 0};
  uint32_t seed = 7;
  std::vector<uint8_t> group(8192);
  uint64_t sample = 0;
  for (uint64_t g = 0; g < groups; ++g) {
    for (int c = 0; c < 2; ++c) {
      for (int b = 0; b < 4096; ++b) {
        uint8_t byte = 0;
        for (int k = 0; k < 8; ++k) {
          const double x = 0.5 * signal(c, double(sample + uint64_t(b * 8 + k)) / rate, seed);
          const double y = i2[c] >= 0 ? 1.0 : -1.0;
          i1[c] += x - y;
          i2[c] += i1[c] - 2 * y;
          if (y > 0) byte |= uint8_t(1 << k);  // DSF: first sample in bit 0
        }
        group[size_t(c) * 4096 + size_t(b)] = byte;
      }
    }
    sample += 4096 * 8;
    std::fwrite(group.data(), 1, group.size(), f);
  }
  std::fclose(f);
}

struct Op {
  const char* name;
  const char* what;
  const char* source;
  int rateCode;
  int bits;
  double inSeconds, outSeconds;  // out < 0: whole file
  double outputSeconds;
  const char* soxArgs;     // after "sox SRC", before nothing; empty: not applicable
  const char* ffmpegArgs;  // after "-i SRC"
};

const Op kOps[] = {
    {"up48", "44.1 -> 48 kHz, 24-bit", "src441_24.wav", kRate48000, 24, 0, -1, 60,
     "-b 24 %s rate -v 48000", "-ar 48000 -c:a pcm_s24le"},
    {"up882", "44.1 -> 88.2 kHz, 24-bit", "src441_24.wav", kRate88200, 24, 0, -1, 60,
     "-b 24 %s rate -v 88200", "-ar 88200 -c:a pcm_s24le"},
    {"down441", "96 -> 44.1 kHz, 24-bit", "src96_24.wav", kRate44100, 24, 0, -1, 60,
     "-b 24 %s rate -v 44100", "-ar 44100 -c:a pcm_s24le"},
    {"dsd176", "DSD64 DSF -> 176.4 kHz/24-bit WAV", "src_dsd64.dsf", kRate176400, 24, 0, -1, 60, "",
     "-ar 176400 -c:a pcm_s24le"},
    {"dsd128_176", "DSD128 DSF -> 176.4 kHz/24-bit WAV", "src_dsd128.dsf", kRate176400, 24, 0, -1,
     60, "", "-ar 176400 -c:a pcm_s24le"},
    {"trim24", "same rate 16 -> 24-bit, 0.5 s .. 59.5 s", "src441_16.wav", kRate44100, 24, 0.5,
     59.5, 59, "-b 24 %s trim 0.5 =59.5", "-ss 0.5 -to 59.5 -c:a pcm_s24le"},
};

struct Result {
  double wall = 0, cpu = 0, maxRssMb = 0;
  int status = -1;
};

// Runs fn in a child process and measures it.
template <typename Fn>
Result measure(Fn fn) {
  Result r;
  std::fflush(stdout);  // the child must not repeat buffered lines
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.maxRssMb = double(ru.ru_maxrss) / 1024.0;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

int32_t keepGoing(uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t, double**, uint8_t**,
                  int32_t) {
  return 0;
}

// withCallback: a block callback as the editor passes one, so the library
// keeps its whole 64-slot ring (the memory figure a program run sees).
int runLibrary(const Op& op, const std::string& src, const std::string& dst, bool withCallback) {
  std::u16string s(src.begin(), src.end()), d(dst.begin(), dst.end());
  AudioFileInfo info{};
  if (getAudioFileInformation(s.c_str(), &info) != 0) return 3;
  const uint32_t rate = info.sampleRate;
  ConvertFormat f{};
  int32_t progress = 0;
  f.rateIndex = op.rateCode;
  f.fileType = kFileTypeWav;
  f.bitsPerSample = op.bits;
  f.channels = 2;
  f.progress = &progress;
  ChannelMatrix m{{1, 0, 0, 1}};
  ConvertRange r{};
  r.statusWord = kConvertExportMode;
  r.startFrame = int64_t(op.inSeconds * rate);
  r.endFrame =
      op.outSeconds < 0 ? std::numeric_limits<int64_t>::max() : int64_t(op.outSeconds * rate);
  LevelPoint env[10];
  for (auto& p : env) p = LevelPoint{-1, 0, 0, 0, 0};
  env[0] = {0, 1.0, 0, 0, 0};
  env[1] = {std::numeric_limits<int64_t>::max(), 1.0, 0, 0, 0};
  const int32_t enabled[1] = {1};
  const SonvexChar* sources[1] = {s.c_str()};
  // The library's diagnostic lines are not part of the measurement.
  if (!std::freopen("/dev/null", "w", stdout)) return 4;
  return sonvexert(d.c_str(), sources, nullptr, &f, &m, enabled, &r,
                   withCallback ? keepGoing : nullptr, nullptr, env) == 0
             ? 0
             : 1;
}

int runCommand(const std::string& cmd) {
  const std::string quiet = cmd + " >/dev/null 2>&1";
  execl("/bin/sh", "sh", "-c", quiet.c_str(), static_cast<char*>(nullptr));
  return 127;
}

bool onPath(const char* program) {
  const std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

void report(const char* who, const Op& op, const Result& r) {
  if (r.status != 0) {
    std::printf("  %-12s failed (status %d)\n", who, r.status);
    return;
  }
  std::printf("  %-12s wall %7.3f s  %7.1f x realtime   cpu %7.3f s  %7.1f x   peak %6.1f MB\n",
              who, r.wall, op.outputSeconds / r.wall, r.cpu, op.outputSeconds / r.cpu, r.maxRssMb);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = "/tmp/sonvex-bench";
  bool compare = false;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else if (a == "--compare")
      compare = true;
    else
      wanted.push_back(a);
  }
  ::mkdir(dir.c_str(), 0755);
  std::string self = argv[0];
  const std::string cli = self.substr(0, self.find_last_of('/') + 1) + "sonvex-cli";
  const bool haveCli = exists(cli);

  if (!exists(dir + "/src441_24.wav")) writeWav(dir + "/src441_24.wav", 44100, 24);
  if (!exists(dir + "/src96_24.wav")) writeWav(dir + "/src96_24.wav", 96000, 24);
  if (!exists(dir + "/src441_16.wav")) writeWav(dir + "/src441_16.wav", 44100, 16);
  if (!exists(dir + "/src_dsd64.dsf")) writeDsf(dir + "/src_dsd64.dsf", 2822400);
  if (!exists(dir + "/src_dsd128.dsf")) writeDsf(dir + "/src_dsd128.dsf", 5644800);

  const bool haveSox = compare && onPath("sox");
  const bool haveFfmpeg = compare && onPath("ffmpeg");
  for (const Op& op : kOps) {
    if (!wanted.empty()) {
      bool hit = false;
      for (const auto& w : wanted) hit = hit || w == op.name;
      if (!hit) continue;
    }
    const std::string src = dir + "/" + op.source;
    const std::string dst = dir + "/out_" + op.name + ".wav";
    std::printf("%s (%s), %.0f s of stereo output\n", op.name, op.what, op.outputSeconds);
    report("library", op, measure([&] { return runLibrary(op, src, dst, false); }));
    report("+callback", op, measure([&] { return runLibrary(op, src, dst, true); }));
    if (haveCli) {
      char range[128] = "";
      if (op.outSeconds >= 0)
        std::snprintf(range, sizeof range, "--in %gs --out %gs", op.inSeconds, op.outSeconds);
      const std::string cmd = cli + " convert --quiet --rate " +
                              std::to_string(sonvexRateForCode(op.rateCode)) + " --bits " +
                              std::to_string(op.bits) + " " + range + " " + src + " " + dst;
      report("sonvex-cli", op, measure([&] { return runCommand(cmd); }));
      // The longest FIR against the FFT method's prototype (on whichever
      // engine is faster for the ratio).
      if (op.outSeconds < 0 && std::string(op.name).compare(0, 3, "dsd") != 0)
        for (const char* m : {"2", "3"})
          report((std::string("--filter ") + m).c_str(), op,
                 measure([&] { return runCommand(cmd + " --filter " + m); }));
    }
    if (haveSox && op.soxArgs[0]) {
      char args[256];
      const std::string out = dir + "/sox_" + op.name + ".wav";
      std::snprintf(args, sizeof args, op.soxArgs, out.c_str());
      report("sox", op, measure([&] { return runCommand("sox " + src + " " + args); }));
    }
    if (haveFfmpeg) {
      const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -i " + src + " " +
                              op.ffmpegArgs + " " + dir + "/ffmpeg_" + op.name + ".wav";
      report("ffmpeg", op, measure([&] { return runCommand(cmd); }));
    }
  }
  return 0;
}
