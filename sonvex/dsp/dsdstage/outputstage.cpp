// Per-channel output choice of the DSD output stage: source bits, modulated
// bits or the idle pattern, and the bit-exact splice back to the source.
//
// Time axis: the modulated stream lags the source by delay() bits (filter
// group delay plus the modulator's own), so the source is always read
// through y[n] = source[n - delay()], the bits before a block coming from the
// three bytes kept from the previous one. Both streams then describe the same
// instant at the same bit position, and a switch at bit n (output[n - 1] from
// one stream, output[n] from the other) leaves no gap and repeats no bit.
//
// Switch rules:
// - into modulation: at a block boundary, as soon as a block's level is not
//   exactly 1.0 on every frame or the source may not be passed through;
// - back to the source: while the level is exactly 1.0 and pass-through is
//   permitted, the modulated stream is searched for the first run of 8
//   agreeing bits with y (2 once more than 1,411,200 samples were searched
//   in vain); the run may begin in an earlier block. From the first bit of
//   that run on the output is y, bit-exact;
// - idle: a block whose level is exactly 0.0 throughout gives 0x96 bytes on
//   both channels and shuts the lane's integrators down (modulator.cpp).
// The history kept for y is always the source's own last three bytes (the
// idle pattern before the first block), whatever was output, so that y stays
// the true delayed source across idle and modulated stretches.
#include <cstring>
#include <new>

#include "dsdstage.h"

namespace sonvex {
namespace dsd {
namespace {

inline int leadingZeros8(unsigned x) { return __builtin_clz(x) - 24; }
inline int trailingZeros8(unsigned x) { return __builtin_ctz(x); }

}  // namespace

OutputStage::OutputStage() { reset(false, 0); }

OutputStage::~OutputStage() { delete[] scratch_; }

bool OutputStage::prepare(size_t maxFrames) {
  if (scratch_ && maxFrames <= capacityFrames_) return true;
  const size_t bytes = (maxFrames + 7) / 8 + 8;
  uint8_t* p = new (std::nothrow) uint8_t[4 * bytes];
  if (!p) return false;
  delete[] scratch_;
  scratch_ = p;
  modScratch_[0] = p;
  modScratch_[1] = p + bytes;
  srcScratch_[0] = p + 2 * bytes;
  srcScratch_[1] = p + 3 * bytes;
  capacityFrames_ = maxFrames;
  return true;
}

void OutputStage::setModulator(ModulatorKind kind, uint32_t rate) {
  kind_ = kind;
  rate_ = rate;
}

void OutputStage::runModulator(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                               const double idleTarget[2], const bool shutdown[2]) {
  if (kind_ == ModulatorKind::Precision)
    precise_.run(pcm, frames, outL, outR, idleTarget, shutdown);
  else
    mod_.run(pcm, frames, outL, outR, idleTarget, shutdown);
}

void OutputStage::reset(bool passThrough, int filterTaps) {
  mod_.reset();
  precise_.reset(rate_);
  delay_ = alignDelay(filterTaps);
  // A delay beyond the kept history cannot be aligned; such a stream is
  // rate-converted anyway and never passed through.
  passThrough_ = passThrough && delay_ >= 0 && delay_ <= kMaxAlignDelay;
  for (ChannelState& s : ch_) {
    s = ChannelState{};
    if (passThrough_) {
      s.mode = ChannelMode::PassThrough;
      s.wantDirect = 1;
      s.isDirect = 1;
    }
  }
  levelEvents_ = 0;
  wasUnity_ = false;
}

void OutputStage::noteLevel(const BlockLevel& level) {
  if (!passThrough_) return;
  if (level.min < 1.0) {
    levelEvents_ |= kLevelFirstBelowUnity;
    if (wasUnity_) levelEvents_ |= kLevelDroppedFromUnity;
  }
  wasUnity_ = level.end == 1.0;
}

int OutputStage::processBlock(const double* pcm, size_t frames, const BlockLevel& level,
                              const uint8_t* srcL, const uint8_t* srcR, uint8_t* outL,
                              uint8_t* outR) {
  if (!scratch_ || frames > capacityFrames_) return kStageNoScratch;
  noteLevel(level);
  const bool silent = level.min == 0.0 && level.max == 0.0;
  const bool unity = level.min == 1.0 && level.max == 1.0;
  const bool direct = passThrough_ && srcL && srcR;
  bool shutdown[2];
  for (int c = 0; c < 2; ++c) {
    ChannelState& s = ch_[c];
    if (silent) {
      s.mode = ChannelMode::Idle;
      s.wantDirect = 0;
      s.isDirect = 0;
    } else if (direct && unity) {
      if (s.mode == ChannelMode::Idle) s.mode = ChannelMode::Modulation;
      s.wantDirect = 1;
    } else {
      s.wantDirect = 0;
      s.isDirect = 0;
      s.mode = ChannelMode::Modulation;
    }
    if (s.wantDirect != s.isDirect) s.switchMode |= 0x80;
    shutdown[c] = s.mode == ChannelMode::Idle;
  }
  const double target = idleWeightTarget(level.end);
  const double targets[2] = {target, target};
  runModulator(pcm, frames, modScratch_[0], modScratch_[1], targets, shutdown);
  const uint8_t* src[2] = {srcL, srcR};
  uint8_t* out[2] = {outL, outR};
  const size_t bytes = (frames + 7) / 8;
  for (int c = 0; c < 2; ++c) {
    if (ch_[c].mode == ChannelMode::Idle) {
      std::memset(out[c], kIdleByte, bytes);
      ch_[c].run = 0;
      ch_[c].searched = 0;
      if (src[c]) keepHistory(c, src[c], frames);
      ch_[c].position += frames;
    } else {
      choose(c, modScratch_[c], src[c], frames, direct, delay_, out[c]);
    }
  }
  return kStageOk;
}

void OutputStage::modulate(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                           const double idleTarget[2], const bool shutdown[2]) {
  runModulator(pcm, frames, outL, outR, idleTarget, shutdown);
}

int OutputStage::splice(int c, uint8_t* out, const uint8_t* src, size_t frames, bool directOK,
                        int delayBits) {
  if (!scratch_ || frames > capacityFrames_) return kStageNoScratch;
  const int delay = delayBits < 0 ? delay_ : delayBits;
  choose(c, out, src, frames, directOK, delay, out);
  return delay <= kMaxAlignDelay ? kStageOk : kStageBadDelay;
}

void OutputStage::choose(int c, const uint8_t* mod, const uint8_t* src, size_t frames,
                         bool directOK, int delay, uint8_t* out) {
  ChannelState& s = ch_[c];
  const size_t bytes = (frames + 7) / 8;
  const bool usable = src != nullptr && delay >= 0 && delay <= kMaxAlignDelay;
  if (!usable || !directOK) {
    s.isDirect = 0;
    if (s.mode == ChannelMode::PassThrough) s.mode = ChannelMode::Modulation;
  }
  if (!usable) {
    if (out != mod) std::memcpy(out, mod, bytes);
    s.run = 0;
    s.searched = 0;
    s.position += frames;
    return;
  }
  uint8_t* y = srcScratch_[c];
  delayedSource(c, src, frames, delay, y);
  if (s.isDirect && !s.wantDirect) {
    // Leaving the source: at this block boundary.
    s.isDirect = 0;
    s.switchMode = 0;
    s.mode = ChannelMode::Modulation;
  }
  if (s.isDirect) {
    std::memcpy(out, y, bytes);
  } else if (s.wantDirect && directOK) {
    s.switchMode |= 0x80;
    const long at = search(s, mod, y, frames);
    if (at < 0) {
      if (out != mod) std::memcpy(out, mod, bytes);
    } else {
      const size_t first = static_cast<size_t>(at) / 8;
      const unsigned bit = static_cast<unsigned>(at) % 8;
      if (out != mod) std::memcpy(out, mod, first);
      const unsigned keep = bit == 0 ? 0u : (0xff00u >> bit) & 0xffu;
      out[first] = static_cast<uint8_t>((mod[first] & keep) | (y[first] & ~keep & 0xffu));
      std::memcpy(out + first + 1, y + first + 1, bytes - first - 1);
      s.isDirect = 1;
      s.mode = ChannelMode::PassThrough;
      s.switchMode = 0;
      s.splicedAt = static_cast<int64_t>(s.position) + at;
      s.run = 0;
      s.searched = 0;
    }
  } else {
    if (out != mod) std::memcpy(out, mod, bytes);
    s.run = 0;
    s.searched = 0;
  }
  keepHistory(c, src, frames);
  s.position += frames;
}

// First bit of the agreeing run that completes the match, or -1. The run
// may have started in an earlier block; the result is then 0.
long OutputStage::search(ChannelState& s, const uint8_t* mod, const uint8_t* y,
                         size_t frames) const {
  const size_t whole = frames / 8;
  const size_t bytes = (frames + 7) / 8;
  for (size_t j = 0; j < bytes; ++j) {
    const unsigned x = (mod[j] ^ y[j]) & 0xffu;
    const unsigned bits = j < whole ? 8u : static_cast<unsigned>(frames % 8);
    if (bits == 8 && s.searched + 8 <= kSpliceFallbackAfter) {
      // The full run of 8 is needed for the whole byte: XOR and zero counts.
      const unsigned agreeing = x == 0 ? 8u : static_cast<unsigned>(leadingZeros8(x));
      if (s.run + agreeing >= static_cast<unsigned>(kSpliceRun)) {
        const long last = static_cast<long>(8 * j) + (kSpliceRun - 1 - static_cast<long>(s.run));
        const long start = last - kSpliceRun + 1;
        return start < 0 ? 0 : start;
      }
      s.run = static_cast<uint32_t>(trailingZeros8(x));
      s.searched += 8;
      continue;
    }
    for (unsigned i = 0; i < bits; ++i) {
      ++s.searched;
      const uint32_t need = s.searched > kSpliceFallbackAfter ? kSpliceRunFallback : kSpliceRun;
      s.run = (x >> (7 - i)) & 1u ? 0 : s.run + 1;
      if (s.run >= need) {
        const long start = static_cast<long>(8 * j + i) - static_cast<long>(s.run) + 1;
        return start < 0 ? 0 : start;
      }
    }
  }
  return -1;
}

// y[n] = source[n - delay] for the block's bits, from the kept history and
// this block's source bytes.
void OutputStage::delayedSource(int c, const uint8_t* src, size_t frames, int delay,
                                uint8_t* dst) const {
  const uint8_t* hist = ch_[c].lastBytes;
  const size_t bytes = (frames + 7) / 8;
  const unsigned offset = static_cast<unsigned>(8 * kHistoryBytes - delay);
  const size_t a = offset / 8;
  const unsigned r = offset % 8;
  auto ext = [&](size_t i) -> unsigned {
    return i < kHistoryBytes ? hist[i] : src[i - kHistoryBytes];
  };
  if (r == 0) {
    for (size_t j = 0; j < bytes; ++j) dst[j] = static_cast<uint8_t>(ext(a + j));
    return;
  }
  size_t j = 0;
  for (; j < bytes && a + j + 1 < kHistoryBytes + 1; ++j)
    dst[j] = static_cast<uint8_t>((ext(a + j) << r) | (ext(a + j + 1) >> (8 - r)));
  // From here both bytes lie in src.
  for (; j < bytes; ++j) {
    const uint8_t* p = src + (a + j - kHistoryBytes);
    dst[j] = static_cast<uint8_t>((p[0] << r) | (p[1] >> (8 - r)));
  }
}

void OutputStage::keepHistory(int c, const uint8_t* src, size_t frames) {
  uint8_t* hist = ch_[c].lastBytes;
  const size_t bytes = (frames + 7) / 8;
  uint8_t next[kHistoryBytes];
  for (size_t i = 0; i < kHistoryBytes; ++i) {
    const size_t e = bytes + i;  // index into history ++ src
    next[i] = e < kHistoryBytes ? hist[e] : src[e - kHistoryBytes];
  }
  std::memcpy(hist, next, sizeof next);
}

}  // namespace dsd
}  // namespace sonvex
