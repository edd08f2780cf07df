// Cost of the engine's render callback per 10 ms device block, as a fraction
// of the block's duration (block_fraction; 1.0 = the output thread would
// have no time left):
//
//   build/bin/bench_engine
//
// PCM at 192 kHz with all four EQ bands on (Int32 device buffers), and
// DSD256 re-modulated (DSD device buffers, meter filter included). The ring
// is filled once and read round and round; no producer runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "eqsettings.h"
#include "playback.h"
#include "render.h"
#include "sonvex.h"

namespace {

struct Ring {
  std::vector<std::vector<double>> pcm;
  std::vector<std::vector<uint8_t>> dsd;
  double* pcmTable[64];
  uint8_t* dsdTable[128];
};

void setUp(Ring& ring, int rate, int slotFrames, double scale) {
  engine::LibraryFunctions fns;
  fns.setDecimationFirParam = setDecimationFirParam;
  fns.setMeterFirParam = setMeterFirParam;
  fns.gAudioDecimationFir = gAudioDecimationFir;
  if (!engine::prepareEngine(rate, fns, rate / 100)) std::abort();
  ring.pcm.assign(64, std::vector<double>(2 * size_t(slotFrames)));
  ring.dsd.assign(128, std::vector<uint8_t>(size_t(slotFrames) / 8, 0x96));
  for (int s = 0; s < 64; ++s) {
    for (int i = 0; i < slotFrames; ++i) {
      const double t = double(s * slotFrames + i) / rate;
      ring.pcm[s][2 * i] = scale * 0.5 * std::sin(6.283185307179586 * 997.0 * t);
      ring.pcm[s][2 * i + 1] = scale * 0.4 * std::sin(6.283185307179586 * 1499.0 * t);
    }
    ring.pcmTable[s] = ring.pcm[s].data();
  }
  for (int s = 0; s < 128; ++s) ring.dsdTable[s] = ring.dsd[s].data();
  engine::PlaybackControl& pc = engine::control();
  pc.playRate = rate;
  pc.sourceRate = rate;
  pc.playbackJob = -1;  // no end of range
  pc.slotFrames = slotFrames;
  pc.threshold = slotFrames;
  pc.pcmSlots = ring.pcmTable;
  pc.dsdSlots = ring.dsdTable;
  pc.produced = uint64_t(1) << 50;
  pc.consumed = 0;
  pc.rampCommand[0] = pc.rampCommand[1] = engine::kRampIn;
  pc.ramp.set(1.0, 1.0);
  pc.playing = 1;
  pc.outputEnabled = 1;
  pc.primed = 1;
}

void BM_RenderPcm192kEq(benchmark::State& state) {
  EqSettingsBlock eqb;
  EqSettings* eqs = eqb.get();
  const double freq[4] = {80.0, 400.0, 2500.0, 9000.0};
  for (int b = 0; b < 4; ++b) {
    eqs->band[b].type = b == 0 ? eq::kTypeLowShelf : 0;
    setParameters(&eqs->band[b], 3.0 - 2.0 * b, freq[b], 0.9, 192000, eqs->band[b].type);
    eqs->band[b].on = 1;
  }
  setTotalGainDb(eqs, -1.0);
  eqb.setMasterOn(true);
  Ring ring;
  setUp(ring, 192000, 19200, 1.0);
  engine::setEqSettings(eqs);
  const int frames = 1920;
  std::vector<int32_t> l(frames), r(frames);
  for (auto _ : state) {
    renderDeviceBlock(0, kSampleInt32Lsb, frames, l.data(), r.data());
    benchmark::DoNotOptimize(l.data());
  }
  state.counters["block_fraction"] = benchmark::Counter(
      double(state.iterations()) * 0.01, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  engine::setEqSettings(nullptr);
  engine::releaseEngine();
}
BENCHMARK(BM_RenderPcm192kEq)->Unit(benchmark::kMicrosecond);

void BM_RenderDsd256Remodulated(benchmark::State& state) {
  Ring ring;
  const int rate = 11289600;
  setUp(ring, rate, 188160, 18014398509481984.0);
  engine::setDsdDirect(0);
  const int frames = rate / 100;
  std::vector<uint8_t> l(frames / 8), r(frames / 8);
  for (auto _ : state) {
    renderDeviceBlock(0, kSampleDsdInt8Msb1, frames, l.data(), r.data());
    benchmark::DoNotOptimize(l.data());
  }
  state.counters["block_fraction"] = benchmark::Counter(
      double(state.iterations()) * 0.01, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  engine::releaseEngine();
}
BENCHMARK(BM_RenderDsd256Remodulated)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
