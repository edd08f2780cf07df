// One playback as the program runs it: the playback job on a job thread
// (the real library conversion, or a scripted ring producer), a device
// thread that calls a render callback at its own pace and keeps every byte,
// and the library's own stream output for comparison.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "playback.h"
#include "rawfiles.h"
#include "render.h"
#include "sonvex.h"

namespace enginetest {

using Clock = std::chrono::steady_clock;

inline engine::LibraryFunctions linkedLibrary() {
  engine::LibraryFunctions f;
  f.setDecimationFirParam = setDecimationFirParam;
  f.setMeterFirParam = setMeterFirParam;
  f.gAudioDecimationFir = gAudioDecimationFir;
  return f;
}

inline bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// The device: per-channel buffers of `type` (or interleaved `format` when
// `interleaved`), `frames` per call, `pauseUs` between calls.
struct Device {
  int type = kSampleInt32Lsb;
  bool interleaved = false;
  int formatCode = kInterleavedFloat32;
  int frames = 512;
  int pauseUs = 1000;
  std::vector<uint8_t> left, right;         // everything rendered (interleaved: left only)
  std::vector<uint64_t> consumedAfter;      // engine's consumed count after each call
  std::function<void(size_t call)> onCall;  // run on the device thread before each call

  void start() {
    running = true;
    thread = std::thread([this] {
      const int bytes = bytesPerCall();
      std::vector<uint8_t> l(bytes), r(bytes);
      WaveFormat wf;
      wf.channels = 2;
      wf.bitsPerSample = formatCode == kInterleavedInt16 ? 16 : 32;
      wf.blockAlign = uint16_t(wf.bitsPerSample / 4);
      for (size_t call = 0; running; ++call) {
        if (onCall) onCall(call);
        if (interleaved)
          renderInterleavedBlock(formatCode, &wf, frames, l.data());
        else
          renderDeviceBlock(0, type, frames, l.data(), r.data());
        left.insert(left.end(), l.begin(), l.end());
        if (!interleaved) right.insert(right.end(), r.begin(), r.end());
        consumedAfter.push_back(engine::control().consumed.load());
        ++calls;
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
      }
    });
  }
  void stop() {
    running = false;
    if (thread.joinable()) thread.join();
  }
  // Stops after two more calls, so the last one began after the playback ended.
  void stopAfterTwoCalls() {
    const size_t at = calls;
    waitFor([&] { return calls > at + 1; });
    stop();
  }
  int bytesPerCall() const {
    if (interleaved) return frames * (formatCode == kInterleavedInt16 ? 4 : 8);
    if (type == kSampleDsdInt8Msb1) return frames / 8;
    const int t = type & 15;
    return frames * (t == 0 ? 2 : t == 1 ? 3 : t == 4 ? 8 : 4);
  }
  // Samples of a 32-bit little-endian channel.
  static std::vector<int32_t> int32s(const std::vector<uint8_t>& b) {
    std::vector<int32_t> v(b.size() / 4);
    std::memcpy(v.data(), b.data(), v.size() * 4);
    return v;
  }
  // What the ring delivered, in order: the leading frames of each call that
  // consumed some (an underrun leaves the rest of its call idle).
  std::vector<uint8_t> ringStream(const std::vector<uint8_t>& ch, int bitsPerFrame) const {
    std::vector<uint8_t> out;
    uint64_t before = 0;
    for (size_t i = 0; i < consumedAfter.size(); ++i) {
      const size_t n = (consumedAfter[i] - before) * bitsPerFrame / 8;
      const auto at = ch.begin() + i * (ch.size() / consumedAfter.size());
      out.insert(out.end(), at, at + n);
      before = consumedAfter[i];
    }
    return out;
  }
  ~Device() { stop(); }

  std::atomic<bool> running{false};
  std::atomic<size_t> calls{0};
  std::thread thread;
};

// The playback job: request, source description and envelope as the main
// window queues them, run on its own thread.
struct Playback {
  JobRequest request;
  SourceDescription source{};
  LevelPoint envelope[10]{};
  std::thread job;
  std::atomic<int> result{1};
  std::atomic<bool> done{false};

  void start(const std::string& path, int rateIndex, ConvertFunction convert,
             int64_t startFrame = 0) {
    AudioFileInfo info{};
    const std::u16string p = testsupport::toU16(path);
    ASSERT_EQ(getAudioFileInformation(p.c_str(), &info), 0) << path;
    source = describeSource(info);
    startWith(p, rateIndex, convert, startFrame);
  }
  void startWith(const std::u16string& path, int rateIndex, ConvertFunction convert,
                 int64_t startFrame = 0) {
    engine::buildPlaybackRequest(&request, path, rateIndex, startFrame, source,
                                 engine::control().eqSettings.load());
    for (auto& e : envelope) e = LevelPoint{INT64_MAX, 1.0, 0.0, 0, 0};
    envelope[0] = LevelPoint{0, 1.0, 0.0, 0, 0};
    engine::setPlaybackJob(0);
    job = std::thread([this, convert] {
      result = engine::runPlayback(8, &request, convert, &source, envelope);
      done = true;
    });
  }
  int wait(int ms = 30000) {
    EXPECT_TRUE(waitFor([this] { return done.load(); }, ms)) << "playback did not end";
    if (job.joinable()) job.join();
    return result;
  }
  void stop() { engine::requestStop(&request, nullptr); }
  ~Playback() {
    if (job.joinable()) {
      stop();
      job.join();
    }
  }
};

// The library's own stream output of a file at a rate, as doubles (L, R).
inline std::vector<double>& streamSink() {
  static std::vector<double> v;
  return v;
}
inline std::vector<double> libraryStream(const std::string& path, int rateIndex) {
  streamSink().clear();
  AudioFileInfo info{};
  const std::u16string p = testsupport::toU16(path);
  if (getAudioFileInformation(p.c_str(), &info) != 0) return {};
  JobRequest rq;
  engine::buildPlaybackRequest(&rq, p, rateIndex, 0, describeSource(info), nullptr);
  LevelPoint env[10];
  for (auto& e : env) e = LevelPoint{INT64_MAX, 1.0, 0.0, 0, 0};
  env[0] = LevelPoint{0, 1.0, 0.0, 0, 0};
  const SonvexChar* src[1] = {p.c_str()};
  auto block = [](uint32_t, uint32_t, int32_t frames, int32_t, int32_t slot, int32_t, double** pcm,
                  uint8_t**, int32_t) -> int32_t {
    streamSink().insert(streamSink().end(), pcm[slot], pcm[slot] + 2 * size_t(frames));
    return 0;
  };
  auto drain = []() -> int32_t { return 1; };
  if (sonvexert(rq.destinationPath.c_str(), src, nullptr, &rq.format, &rq.matrix, rq.sourceEnabled,
                &rq.range, block, drain, env) != 0)
    return {};
  return streamSink();
}

// A scripted producer in place of the library: serves `pcm` (and the DSD
// bytes, when given) through a 64-slot ring of `capacity` frames, waiting
// while `hold` is set, and stamps each slot it writes.
struct FakeSource {
  std::vector<double> pcm;
  std::vector<uint8_t> dsdL, dsdR;
  int capacity = 256;
  std::atomic<bool> hold{false};
  std::atomic<uint64_t> produced{0};
};
inline FakeSource& fake() {
  static FakeSource f;
  return f;
}
inline int32_t fakeConvert(const SonvexChar*, const SonvexChar* const*, void*,
                           const ConvertFormat* format, const ChannelMatrix*, const int32_t*,
                           ConvertRange* range, BlockCallback onBlock, DrainCallback onDrain,
                           const LevelPoint*) {
  FakeSource& f = fake();
  const int cap = f.capacity;
  std::vector<std::vector<double>> slots(64, std::vector<double>(2 * size_t(cap)));
  std::vector<std::vector<uint8_t>> bytes(128, std::vector<uint8_t>(size_t(cap) / 8 + 8, 0x96));
  double* pcmTable[64];
  uint8_t* dsdTable[128];
  for (int i = 0; i < 64; ++i) pcmTable[i] = slots[i].data();
  for (int i = 0; i < 128; ++i) dsdTable[i] = bytes[i].data();
  const uint64_t total = f.pcm.size() / 2;
  uint64_t produced = 0;
  while (produced < total) {
    while (f.hold) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const int slot = int((produced / cap) % 64);
    const uint64_t n = std::min<uint64_t>(cap, total - produced);
    std::memcpy(pcmTable[slot], &f.pcm[2 * produced], n * 16);
    if (!f.dsdL.empty()) {
      std::memcpy(dsdTable[2 * slot], &f.dsdL[produced / 8], n / 8);
      std::memcpy(dsdTable[2 * slot + 1], &f.dsdR[produced / 8], n / 8);
    }
    produced += n;
    f.produced = produced;
    if (onBlock(uint32_t(produced), uint32_t(produced >> 32), int32_t(n), cap, slot,
                format->fileType == kFileTypeDsdiff ? (cap + 7) / 8 : cap * 16, pcmTable, dsdTable,
                0) < 0) {
      onDrain();
      return format->fileType == kFileTypeDsdiff ? kConvertStoppedDsd : kConvertStoppedPcm;
    }
  }
  __atomic_fetch_or(&range->statusWord, kConvertEndOfSource, __ATOMIC_ACQ_REL);
  while (onDrain() == 0) {
  }
  return 0;
}

// Fresh engine for a device at `rate` Hz, EQ off, 0 dB.
inline void prepare(int rate, int maxFrames = 0) {
  engine::setEqSettings(nullptr);
  engine::setMonitorVolume(0.0);
  engine::setPostFader(0);
  engine::control().producerWaitMs = 1;
  engine::control().consumed = 0;
  engine::clearMeterPeaks();
  ASSERT_TRUE(engine::prepareEngine(rate, linkedLibrary(), maxFrames));
}

// Index of the first device frame taken from the ring.
inline size_t firstRenderedFrame(const Device& d) {
  for (size_t i = 0; i < d.consumedAfter.size(); ++i)
    if (d.consumedAfter[i] > 0) return i * size_t(d.frames);
  return SIZE_MAX;
}

}  // namespace enginetest
