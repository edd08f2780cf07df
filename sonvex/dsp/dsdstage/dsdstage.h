// DSD output stage: the fixed-point delta-sigma modulator and the per-channel
// choice between re-modulated bits, the source's own bits (bit-exact
// pass-through) and the idle pattern.
//
// Shared by the library's export pipeline and the program's playback engine,
// so it is plain C++ without file I/O, Qt or allocation in the per-block path:
// call prepare() once with the largest block, then reset() per stream and
// processBlock() (export) or modulate() + splice() (playback) per block.
//
// Bit order: 1-bit data in memory is one byte array per channel, eight samples
// a byte, first sample in the most significant bit.
//
// Input scale: interleaved stereo doubles (left, right) where PCM full scale
// +/-1.0 arrives as +/-2^54 (kInputFullScale), half the modulator's feedback
// level 2^55, so full-scale PCM becomes a 50 % modulated stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvex {
namespace dsd {

constexpr uint8_t kIdleByte = 0x96;
constexpr double kInputFullScale = 18014398509481984.0;  // 2^54
constexpr int64_t kFeedback = int64_t(1) << 55;
// Longest alignment delay the carried history covers (three bytes).
constexpr int kHistoryBytes = 3;
constexpr int kMaxAlignDelay = 8 * kHistoryBytes;
// Splice: agreeing run needed, and the shorter run accepted after this many
// searched samples without a match.
constexpr int kSpliceRun = 8;
constexpr int kSpliceRunFallback = 2;
constexpr uint64_t kSpliceFallbackAfter = 1411200;
// Stability guard: limit on the sign-folded upper word of the first
// integrator (S0), and the hold-off in output bytes after a trip (during
// which the input gain stays halved; see modulator.cpp).
constexpr int32_t kGuardLimit = 1 << 27;
constexpr int kGuardHoldOff = 5000;
constexpr double kIdleSmoothing = 0.9;

// Return codes of processBlock() and splice().
enum : int { kStageOk = 0, kStageNoScratch = -1, kStageBadDelay = -2 };

// Delay in one-bit samples of the re-modulated stream against the source:
// the conversion filter's group delay plus the modulator's own (17 samples).
// filterTaps 0 (no filter) gives 17.
constexpr int alignDelay(int filterTaps) { return (filterTaps - 1) / 2 + 17; }

// Idle weight target for an envelope level x: the idle pattern is mixed into
// the modulator's input as a fade approaches silence (0 above 1 %).
constexpr double idleWeightTarget(double level) { return level > 0.01 ? 0.0 : 1.0 - level; }

enum class ChannelMode : uint8_t { PassThrough, Modulation, Idle };

// The five-integrator, two-lane modulator core. Pure state + loop; knows
// nothing about channel modes except the per-lane shut-down.
class Modulator {
 public:
  struct Lane {
    int64_t s[5];  // integrator cascade S0..S4
    int64_t q;     // one-bit error accumulator
    double idleWeight;
    double idleTarget;
    double smoothing;  // per output byte, 0.9 in export
    double idleTable[8];
    uint32_t shutdown;  // shut-down progress bits (see modulator.cpp)
  };

  Modulator() { reset(); }
  void reset();

  // Runs the modulator over one block. Lanes with shutdown[c] set have their
  // output covered by the idle pattern: their integrators are run down to
  // zero instead (see modulator.cpp) and their bytes read 0x96. The
  // steady-state loop is used when no lane is shut down, the transition loop
  // otherwise; both follow the same equations. frames need not be a
  // multiple of 8, but only the last block of a stream may end inside a byte
  // (the byte is completed with idle-pattern bits).
  // idleTarget[c]: idleWeightTarget() of the lane's level.
  void run(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
           const double idleTarget[2], const bool shutdown[2]);

  // True while either lane's shut-down or restart is in progress.
  bool inTransition() const;
  // Stability guard: trips since reset() and the current hold-off (bytes).
  uint64_t guardTrips() const { return guardTrips_; }
  int holdOff() const { return holdOff_; }
  // Input gain after trips (1.0 outside an overload; see modulator.cpp).
  double overloadGain() const { return overloadGain_; }
  const Lane& lane(int c) const { return lane_[c]; }
  void setSmoothing(double left, double right);

 private:
  size_t steadyVector(const double* pcm, size_t bytes, uint8_t* outL, uint8_t* outR);
  template <bool Transition>
  void loop(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR, const bool shutdown[2]);

  Lane lane_[2];
  void trip();

  int holdOff_ = 0;
  double overloadGain_ = 1.0;
  uint64_t guardTrips_ = 0;
};

// Per-channel switching state (also driven directly by the playback engine).
struct ChannelState {
  ChannelMode mode = ChannelMode::Modulation;
  uint8_t wantDirect = 0;  // the output should become the source stream
  uint8_t isDirect = 0;    // the output is the source stream (set by the splice)
  uint8_t switchMode = 0;  // bit 0x80: a switch of the output source was requested
  uint8_t lastBytes[kHistoryBytes] = {kIdleByte, kIdleByte, kIdleByte};  // source history
  uint32_t run = 0;        // agreeing bits so far (kept across blocks)
  uint64_t searched = 0;   // samples searched without a splice
  int64_t splicedAt = -1;  // bit of the last splice, counted from reset()
  uint64_t position = 0;   // bits output on this channel since reset()
};

// Level of the envelope over one block, as the pipeline saw it.
struct BlockLevel {
  double end = 1.0;  // level after the block's last frame
  double min = 1.0;  // smallest level applied in the block
  double max = 1.0;  // largest level applied in the block
  static BlockLevel constant(double x) { return BlockLevel{x, x, x}; }
};

// Level-change events (one bit each, same bit for both channels).
enum : uint32_t {
  kLevelFirstBelowUnity = 1,  // the level is below 1.0 for the first time
  kLevelDroppedFromUnity = 2  // the level fell below 1.0 after being exactly 1.0
};

class OutputStage {
 public:
  OutputStage();
  ~OutputStage();
  OutputStage(const OutputStage&) = delete;
  OutputStage& operator=(const OutputStage&) = delete;

  // Scratch for blocks of up to maxFrames frames; false when out of memory.
  // Not real-time safe; call before the stream starts.
  bool prepare(size_t maxFrames);
  size_t capacity() const { return capacityFrames_; }

  // Start of a stream: modulator zeroed, idle history, idle smoothing 0.9.
  // passThrough: the source is DSD at the output rate and nothing but the
  // level alters it; both channels then start as the source stream.
  // filterTaps: the conversion filter's length (0 = none), for alignDelay().
  void reset(bool passThrough, int filterTaps);

  // Export form, one block: pcm = frames interleaved pairs at the input
  // scale with the level applied; srcL/srcR = the source's DSD bytes of the
  // same frames ((frames + 7) / 8 each) or null for a PCM source; out =
  // (frames + 7) / 8 bytes per channel. A block whose level is exactly 0
  // throughout gives the idle pattern; one exactly at 1.0 throughout lets the
  // channels return to the source; anything else is re-modulated (switch
  // rules in outputstage.cpp). Returns kStageOk or kStageNoScratch when
  // frames exceeds the prepared capacity.
  int processBlock(const double* pcm, size_t frames, const BlockLevel& level, const uint8_t* srcL,
                   const uint8_t* srcR, uint8_t* outL, uint8_t* outR);

  // Playback form. modulate() writes the modulated bits of both channels
  // (Modulator::run); shutdown[c] marks a lane whose output is the idle
  // pattern. splice() then makes channel c's final output in out from those
  // bits and the source bytes src (this block's; the history supplies the
  // delayBits bits before it, delayBits -1 = delay()): the source stream
  // while direct, the modulated one otherwise, and it performs a pending
  // switch (wantDirect != isDirect) at a bit-exact splice point. An idle
  // buffer as src with delayBits 0 lines up with a shut-down lane's 0x96
  // bytes, so a channel reaches the idle pattern the same way. directOK is
  // the permission to output src at all (pass true for an idle buffer);
  // without it the channel leaves the source at this block. Returns
  // kStageOk; kStageNoScratch when frames exceeds the prepared capacity,
  // kStageBadDelay when delayBits exceeds kMaxAlignDelay (out left modulated).
  void modulate(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                const double idleTarget[2], const bool shutdown[2]);
  int splice(int c, uint8_t* out, const uint8_t* src, size_t frames, bool directOK,
             int delayBits = -1);

  ChannelState& channel(int c) { return ch_[c]; }
  const ChannelState& channel(int c) const { return ch_[c]; }
  Modulator& modulator() { return mod_; }
  const Modulator& modulator() const { return mod_; }
  int delay() const { return delay_; }
  // Level-change events seen since reset() (kLevel* bits).
  uint32_t levelEvents() const { return levelEvents_; }
  // Modulated bits of the last block, channel c, before the output choice.
  const uint8_t* lastModulated(int c) const { return modScratch_[c]; }

 private:
  void noteLevel(const BlockLevel& level);
  void choose(int c, const uint8_t* mod, const uint8_t* src, size_t frames, bool directOK,
              int delay, uint8_t* out);
  long search(ChannelState& s, const uint8_t* mod, const uint8_t* y, size_t frames) const;
  void delayedSource(int c, const uint8_t* src, size_t frames, int delay, uint8_t* dst) const;
  void keepHistory(int c, const uint8_t* src, size_t frames);

  Modulator mod_;
  ChannelState ch_[2];
  bool passThrough_ = false;
  int delay_ = 17;
  uint32_t levelEvents_ = 0;
  bool wasUnity_ = false;
  size_t capacityFrames_ = 0;
  uint8_t* scratch_ = nullptr;
  uint8_t* modScratch_[2] = {nullptr, nullptr};
  uint8_t* srcScratch_[2] = {nullptr, nullptr};
};

}  // namespace dsd
}  // namespace sonvex
