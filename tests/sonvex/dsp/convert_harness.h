// A conversion request with recording callbacks, and file helpers, for the
// end-to-end tests of sonvexert.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "rawfiles.h"
#include "sonvex.h"

namespace convtest {

struct BlockRecord {
  uint64_t position;
  int32_t frames, capacity, slot, slotBytes, taps;
  std::vector<double> pcm;  // the block's frames, when kept
  std::vector<uint8_t> dsdL, dsdR;
};

// Callback state (the callbacks are plain C function pointers).
struct Recorder {
  std::vector<BlockRecord> blocks;
  bool keepPcm = false;
  bool keepDsd = false;
  int stopAfter = -1;  // return -1 from this block on (0-based)
  int drainCalls = 0;
  int drainReturnsZero = 0;  // how many drain calls return 0 first
  double** lastPcmTable = nullptr;
};

inline Recorder& recorder() {
  static Recorder r;
  return r;
}

inline int32_t onBlock(uint32_t lo, uint32_t hi, int32_t frames, int32_t capacity, int32_t slot,
                       int32_t slotBytes, double** pcm, uint8_t** dsd, int32_t taps) {
  Recorder& r = recorder();
  BlockRecord b{(uint64_t(hi) << 32) | lo, frames, capacity, slot, slotBytes, taps, {}, {}, {}};
  if (r.keepPcm) b.pcm.assign(pcm[slot], pcm[slot] + 2 * size_t(frames));
  if (r.keepDsd && dsd[2 * slot]) {
    const size_t bytes = (size_t(frames) + 7) / 8;
    b.dsdL.assign(dsd[2 * slot], dsd[2 * slot] + bytes);
    b.dsdR.assign(dsd[2 * slot + 1], dsd[2 * slot + 1] + bytes);
  }
  r.lastPcmTable = pcm;
  r.blocks.push_back(std::move(b));
  if (r.stopAfter >= 0 && int(r.blocks.size()) > r.stopAfter) return -1;
  return 0;
}

inline int32_t onDrain() {
  Recorder& r = recorder();
  ++r.drainCalls;
  return r.drainCalls > r.drainReturnsZero ? 1 : 0;
}

struct Job {
  ConvertFormat format{};
  ChannelMatrix matrix{{1.0, 0.0, 0.0, 1.0}};
  ConvertRange range{};
  LevelPoint envelope[10]{};
  int32_t progress = -1;
  int32_t enabled[1] = {1};
  void* ioObject = nullptr;

  Job(int rateIndex, int fileType, int bits, bool exportMode = true) {
    format.rateIndex = rateIndex;
    format.fileType = fileType;
    format.bitsPerSample = bits;
    format.channels = 2;
    format.progress = &progress;
    range.statusWord = exportMode ? 1 : 2;
    range.startFrame = 0;
    range.endFrame = std::numeric_limits<int64_t>::max();
    unity();
  }
  // Level 1.0 throughout.
  void unity() {
    for (auto& p : envelope) p = LevelPoint{-1, 0.0, 0.0, 0, 0};
    envelope[0] = LevelPoint{0, 1.0, 0.0, 0, 0};
    envelope[1] = LevelPoint{std::numeric_limits<int64_t>::max(), 1.0, 0.0, 0, 0};
  }
  int32_t run(const std::string& source, const std::string& destination) {
    recorder().blocks.clear();
    recorder().drainCalls = 0;
    const std::u16string s = testsupport::toU16(source), d = testsupport::toU16(destination);
    const SonvexChar* sources[1] = {s.c_str()};
    return sonvexert(d.c_str(), sources, ioObject, &format, &matrix, enabled, &range, onBlock,
                     onDrain, envelope);
  }
};

inline std::vector<uint8_t> readAll(const std::string& path) {
  std::vector<uint8_t> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  std::fseek(f, 0, SEEK_END);
  v.resize(size_t(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(v.data(), 1, v.size(), f) != v.size()) v.clear();
  std::fclose(f);
  return v;
}

// The audio bytes of a file as the library's probe locates them.
inline std::vector<uint8_t> audioBytes(const std::string& path, AudioFileInfo* infoOut = nullptr) {
  AudioFileInfo info{};
  const std::u16string p = testsupport::toU16(path);
  if (getAudioFileInformation(p.c_str(), &info) != 0) return {};
  if (infoOut) *infoOut = info;
  const std::vector<uint8_t> all = readAll(path);
  const uint64_t bytes = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
  if (info.dataOffset + bytes > all.size()) return {};
  return std::vector<uint8_t>(all.begin() + info.dataOffset,
                              all.begin() + info.dataOffset + long(bytes));
}

// The per-channel DSD bytes of a DSF file (blocks de-interleaved, bits
// turned most significant first), sampleCount / 8 bytes each.
inline void dsfChannels(const std::string& path, std::vector<uint8_t>* l, std::vector<uint8_t>* r) {
  AudioFileInfo info{};
  const std::u16string p = testsupport::toU16(path);
  l->clear();
  r->clear();
  if (getAudioFileInformation(p.c_str(), &info) != 0) return;
  const std::vector<uint8_t> all = readAll(path);
  const uint64_t perChannel = info.dataBytesLow / info.channels;
  for (uint64_t b = 0; b < perChannel; ++b) {
    const uint64_t group = b / 4096, at = b % 4096;
    for (uint32_t c = 0; c < info.channels; ++c) {
      const uint64_t off = info.dataOffset + group * 4096 * info.channels + c * 4096 + at;
      if (off >= all.size()) return;
      uint8_t v = all[off], rev = 0;
      for (int i = 0; i < 8; ++i)
        if (v & (1 << i)) rev |= uint8_t(1 << (7 - i));
      (c == 0 ? l : r)->push_back(rev);
    }
  }
}

}  // namespace convtest
