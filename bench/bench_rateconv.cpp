// Rate-conversion kernels on 60 seconds of stereo, in the pipeline's block
// sizes; the counter x_realtime is seconds of audio per second of one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "rateconv.h"

using namespace sonvex;

namespace {

constexpr double kSeconds = 60.0;

std::vector<double> testSignal(size_t frames, double rate) {
  std::vector<double> v(2 * frames);
  std::minstd_rand rng(1);
  std::uniform_real_distribution<double> d(-0.01, 0.01);
  for (size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    v[2 * i] = 0.5 * std::sin(2 * M_PI * 997.0 * t) + d(rng);
    v[2 * i + 1] = 0.5 * std::sin(2 * M_PI * 3001.0 * t) + d(rng);
  }
  return v;
}

// Block loop as the pipeline runs it: capacity = 1,505,280 / (8 M) frames.
void runPcm(benchmark::State& state, uint32_t src, uint32_t dst, uint32_t L, uint32_t M, int taps,
            bool fft) {
  const double rc = double(src) * L;
  const double fc = std::min(src, dst) * 0.9 * 0.5;
  const std::vector<double> h = designLowpass(rc, fc, taps, 1.0, L);
  const size_t frames = size_t(kSeconds * src);
  const std::vector<double> in = testSignal(frames, src);
  const size_t capacity = 1505280 / (8 * M);
  std::vector<double> slot(2 * capacity);
  std::vector<int32_t> packed(2 * capacity);
  for (auto _ : state) {
    std::unique_ptr<Resampler> r;
    if (fft)
      r.reset(new FftResampler(h.data(), h.size(), L, M));
    else
      r.reset(new PolyphaseResampler(h.data(), h.size(), L, M, capacity * M / L + 8));
    size_t at = 0;
    const size_t outTotal = size_t(kSeconds * dst);
    size_t produced = 0;
    while (produced < outTotal) {
      const size_t want = std::min(capacity, outTotal - produced);
      size_t need = size_t(r->inputNeeded(want));
      const size_t have = std::min(need, frames - at);
      r->push(in.data() + 2 * at, have);
      at += have;
      if (need > have) r->pushZeros(need - have);
      const size_t got = r->pull(slot.data(), want);
      // 24-bit packing, as the file output does it.
      for (size_t i = 0; i < 2 * got; ++i) {
        double v = std::nearbyint(slot[i] * 8388608.0);
        v = v > 8388607.0 ? 8388607.0 : (v < -8388608.0 ? -8388608.0 : v);
        packed[i] = int32_t(v);
      }
      benchmark::DoNotOptimize(packed.data());
      produced += got;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["taps"] = double(h.size());
}

void BM_Pcm44to48(benchmark::State& s) { runPcm(s, 44100, 48000, 160, 147, 4095, false); }
void BM_Pcm48to44(benchmark::State& s) { runPcm(s, 48000, 44100, 147, 160, 4095, false); }
void BM_Pcm96to44(benchmark::State& s) { runPcm(s, 96000, 44100, 147, 320, 8191, false); }
// The up-sampling stage of a PCM -> DSD64 export (L 64, M 1, 2047 taps).
void BM_Pcm44toDsd64(benchmark::State& s) { runPcm(s, 44100, 2822400, 64, 1, 2047, false); }
void BM_Pcm44to48Fft(benchmark::State& s) { runPcm(s, 44100, 48000, 160, 147, kFftTaps, true); }

// One-bit source through the decimator: DSD64 -> 176.4 kHz (L 1, M 16,
// 1023 taps) and DSD64 -> DSD128 at the DSD output scale (L 2, M 1, 255 taps).
void runDsd(benchmark::State& state, uint32_t L, uint32_t M, double fc, int taps, double gain) {
  const std::vector<double> h = designLowpass(2822400.0 * L, fc, taps, gain, L);
  const size_t bytes = size_t(kSeconds * 2822400 / 8);
  std::vector<uint8_t> l(bytes), r(bytes);
  std::minstd_rand rng(2);
  for (size_t i = 0; i < bytes; ++i) {
    l[i] = uint8_t(rng());
    r[i] = uint8_t(rng());
  }
  const size_t capacity = 1505280 / (8 * M);
  std::vector<double> slot(2 * capacity);
  for (auto _ : state) {
    DsdDecimator d(h.data(), h.size(), L, M, capacity * M / (8 * L) + 256);
    size_t at = 0;
    while (true) {
      const size_t need = size_t(d.inputBytesNeeded(capacity));
      if (at + need > bytes) break;
      d.push(l.data() + at, r.data() + at, need);
      at += need;
      benchmark::DoNotOptimize(d.pull(slot.data(), capacity));
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Dsd64to176(benchmark::State& s) { runDsd(s, 1, 16, 44100.0, 1023, 1.0); }
// The export's other byte-aligned factors: 352.8, 88.2 and 44.1 kHz.
void BM_Dsd64to352(benchmark::State& s) { runDsd(s, 1, 8, 44100.0, 1023, 1.0); }
void BM_Dsd64to88(benchmark::State& s) { runDsd(s, 1, 32, 39690.0, 1023, 1.0); }
void BM_Dsd64to44(benchmark::State& s) { runDsd(s, 1, 64, 19845.0, 2047, 1.0); }
void BM_Dsd64toDsd128(benchmark::State& s) { runDsd(s, 2, 1, 88200.0, 255, 18014398509481984.0); }

}  // namespace

BENCHMARK(BM_Pcm44to48)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Pcm48to44)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Pcm96to44)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dsd64to176)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dsd64to352)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dsd64to88)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Dsd64to44)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Pcm44toDsd64)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Dsd64toDsd128)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Pcm44to48Fft)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
