// Waveform summary throughput from the page cache: a 1 GB 24-bit stereo WAV
// and a 1 GB stereo DSD64 DSF, 700 and 700 x 8192 columns, one core.
// Usage: bench_waveform [megabytes] [folder]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "sonvex.h"

namespace {

void put32(FILE* f, uint32_t v) { std::fwrite(&v, 4, 1, f); }
void put64(FILE* f, uint64_t v) { std::fwrite(&v, 8, 1, f); }

void writeWav(const std::string& path, uint64_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite("RIFF", 1, 4, f);
  put32(f, uint32_t(36 + bytes));
  std::fwrite("WAVEfmt ", 1, 8, f);
  put32(f, 16);
  const uint16_t tag = 1, ch = 2, align = 6, bits = 24;
  std::fwrite(&tag, 2, 1, f);
  std::fwrite(&ch, 2, 1, f);
  put32(f, 96000);
  put32(f, 96000 * 6);
  std::fwrite(&align, 2, 1, f);
  std::fwrite(&bits, 2, 1, f);
  std::fwrite("data", 1, 4, f);
  put32(f, uint32_t(bytes));
  std::vector<uint8_t> buf(6 * 65536);
  for (size_t i = 0; i < 65536; ++i) {
    const int32_t v = int32_t(std::lround(8000000.0 * std::sin(i * 0.01)));
    for (int c = 0; c < 2; ++c)
      for (int b = 0; b < 3; ++b) buf[6 * i + 3 * size_t(c) + size_t(b)] = uint8_t(v >> (8 * b));
  }
  for (uint64_t done = 0; done < bytes; done += buf.size())
    std::fwrite(buf.data(), 1, size_t(std::min<uint64_t>(buf.size(), bytes - done)), f);
  std::fclose(f);
}

void writeDsf(const std::string& path, uint64_t bytes) {
  const uint64_t groups = bytes / 8192;
  const uint64_t payload = groups * 8192;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite("DSD ", 1, 4, f);
  put64(f, 28);
  put64(f, 92 + payload);
  put64(f, 0);
  std::fwrite("fmt ", 1, 4, f);
  put64(f, 52);
  for (uint32_t v : {1u, 0u, 2u, 2u, 2822400u, 1u}) put32(f, v);
  put64(f, payload / 2 * 8);
  put32(f, 4096);
  put32(f, 0);
  std::fwrite("data", 1, 4, f);
  put64(f, payload + 12);
  std::vector<uint8_t> block(8192);
  uint32_t x = 12345;
  for (auto& b : block) b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  for (uint64_t g = 0; g < groups; ++g) std::fwrite(block.data(), 1, block.size(), f);
  std::fclose(f);
}

double cpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// Returns CPU seconds (one core, so a busy machine does not distort it).
double summarise(const std::string& path, int64_t columns) {
  std::u16string p(path.begin(), path.end());
  WaveLevels levels{700, 700 * 32, columns};
  const size_t n = size_t(columns);
  std::vector<WavePoint> a(700), b(700 * 32), c(n), d(700), e(700 * 32), g(n);
  WaveColumns mx{a.data(), b.data(), c.data()}, mn{d.data(), e.data(), g.data()};
  uint8_t cancel = 0;
  int32_t progress[2];
  const double t0 = cpuSeconds();
  const int rc = getAudioWaveForm(p.c_str(), 0, 0, 0xFFFFFFFFu, 0x7FFFFFFF, &levels, &mx, &mn,
                                  &cancel, progress);
  const double t1 = cpuSeconds();
  if (rc != columns) std::fprintf(stderr, "summary failed: %d\n", rc);
  return t1 - t0;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const uint64_t bytes = mb * 1000 * 1000;
  const std::string wav = dir + "/bench_waveform.wav", dsf = dir + "/bench_waveform.dsf";
  writeWav(wav, bytes / 6 * 6);
  writeDsf(dsf, bytes);
  // 700 columns, and the 700 x 8192 the waveform view asks for at full zoom.
  for (const std::string& path : {wav, dsf}) {
    summarise(path, 700);  // warm the page cache
    for (int64_t columns : {int64_t(700), int64_t(700) * 8192}) {
      double best = 1e9;
      for (int i = 0; i < 3; ++i) best = std::min(best, summarise(path, columns));
      std::printf("%s, %lld columns: %.0f MB/s (%.3f CPU s for %llu MB)\n", path.c_str(),
                  (long long)columns, double(bytes) / 1e6 / best, best, (unsigned long long)mb);
    }
  }
  std::remove(wav.c_str());
  std::remove(dsf.c_str());
  return 0;
}
