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

// Which loop makes the modulated bits. Standard is the fixed-point
// fifth-order loop above (the default: playback and the splice were built
// on it); Precision is the eighth-order loop in precision.cpp.
enum class ModulatorKind : uint8_t { Standard = 0, Precision = 1 };

// Eighth-order delta-sigma modulator in double precision, two lanes.
//
// Design: noise transfer function H(z) = N(z) / D(z) of order 8.
// - Zeros: four conjugate pairs on the unit circle at the band edge (20 kHz)
//   times the positive roots of the Legendre polynomial P8 (0.1834, 0.5255,
//   0.7967, 0.9603): the monic polynomial with least mean square over the
//   band, so these zeros minimise the in-band noise power (the usual
//   "optimised zeros" of NTF synthesis). One set per rate family (DSD64,
//   DSD128, DSD256 and above).
// - Poles: the maximally flat high-pass pole pattern of NTF synthesis,
//   scaled by bisection until |H(-1)| reaches the out-of-band gain: 1.4 at
//   DSD64 (1.5 tripped at PCM full scale, 1.4 holds sines to +1.5 dBFS),
//   1.3 at DSD128 and above, where the noise is far below any need and a
//   square wave at the input limit tripped 1.4 at DSD256.
// - Structure: a cascade of four resonators (two integrators each, local
//   feedback g), every state driven by the loop error e = u - v with gain
//   a[i] and by the previous resonator's output; the quantiser sees the
//   input plus the last state, so the signal transfer is exactly 1 and the
//   states carry only shaped noise. a[] was solved so that the realised
//   denominator det(zI - A + a c') equals D(z) (checked against H on the
//   unit circle to 5e-5 relative). Constants and derivation: precision.cpp.
// - In-band noise power of H over 20 Hz..20 kHz: -137.2 dB (DSD64),
//   -171.6 dB (DSD128) of the quantiser error power.
// - Stable input range: |u| <= kPrecisionInputLimit of the feedback level
//   (0.55, i.e. PCM +0.8 dBFS) for sines, noise, square waves and DC; the
//   loop input is clamped to it, so an overload is clipped, never ducked.
//   PCM full scale (0.5) passes unclipped. Only input far beyond it (white
//   noise clipped at the limit, +20 dBFS before the clamp) has tripped the
//   guard below, a few times a second.
// - Idle: a uniform dither of 2^-9 of full scale at the quantiser, shaped
//   like the quantisation noise, against idle tones and limit cycles on
//   silence and DC (silence showed none even without it).
// - Guard: after every output byte both lanes' last state is checked; one
//   beyond kPrecisionStateLimit (never reached inside the stable range)
//   means the loop has lost track: the states of that lane are cleared,
//   which costs a short burst of unshaped noise but no step in the signal
//   (the states hold noise only).
// - Input low-pass: fourth-order Butterworth at rate / 28.224 (100 kHz at
//   DSD64) in front of the loop, so a DSD source re-modulated at its own
//   rate (whose samples are +-1 with all its ultrasonic noise) reaches the
//   loop band-limited; flat within 1e-5 dB to 20 kHz.
// - Delay: the filter's 11.7 samples plus a 5-sample delay line give the
//   fixed-point loop's 17, so alignDelay() holds for both.
// - Garbage input: NaN lands on the lower input limit; a NaN or infinity
//   caught in the input low-pass restarts it at the next byte.
// - Shut-down: a lane covered by the idle pattern has its states cleared
//   and resumes from rest; while both are covered the loop does not run.
constexpr double kPrecisionInputLimit = 0.55;
constexpr double kPrecisionStateLimit = 64.0;
constexpr size_t kPrecisionLineDelay = 5;

class PrecisionModulator {
 public:
  PrecisionModulator() { reset(2822400); }
  // rate: the output rate in Hz; selects the coefficient set.
  void reset(uint32_t rate);
  // Same contract as Modulator::run().
  void run(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
           const double idleTarget[2], const bool shutdown[2]);
  void setSmoothing(double left, double right);
  uint64_t guardTrips() const { return guardTrips_; }
  // Largest magnitude of the last state seen since reset() (for tests).
  double peakState() const { return peakState_; }

  struct Lane {
    double x[8];
    double f[4];
    double idleWeight;
    double idleTarget;
    double smoothing;
    double idleTable[8];
  };
  const Lane& lane(int c) const { return lane_[c]; }

 private:
  void chunk(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR);

  Lane lane_[2];
  const double* g_ = nullptr;
  const double* a_ = nullptr;
  double delayLine_[2 * kPrecisionLineDelay];
  uint64_t rng_ = 0;
  uint64_t guardTrips_ = 0;
  double peakState_ = 0.0;
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
  // Loop choice; takes effect at the next reset(). rate: the output rate in
  // Hz (chooses the precision loop's coefficients).
  void setModulator(ModulatorKind kind, uint32_t rate);
  ModulatorKind modulatorKind() const { return kind_; }
  PrecisionModulator& precision() { return precise_; }
  const PrecisionModulator& precision() const { return precise_; }
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

  void runModulator(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                    const double idleTarget[2], const bool shutdown[2]);

  Modulator mod_;
  PrecisionModulator precise_;
  ModulatorKind kind_ = ModulatorKind::Standard;
  uint32_t rate_ = 2822400;
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
