// Rate-conversion kernels: the windowed-sinc prototype, the polyphase FIR
// engine, the FFT block-convolution engine, the filterless hold mode and the
// one-bit decimator that filters eight DSD samples per table lookup.
//
// Signals are stereo frames of two doubles (left, right), interleaved.
// Every engine is a streaming object: push input, pull output. The state
// (input history, polyphase phase, FFT overlap) is carried across calls, so
// any split of the input into blocks gives bit-identical output.
//
// Time base of all filtering engines. With L the up factor, M the down factor,
// h[0..len-1] the prototype and v the pushed input with L-1 zeros inserted
// after every frame (v[j*L] = frame j), output frame k is
//     y[k] = sum_t h[t] * v[k*M + t]
// i.e. the first output needs the first pushed frame, and output k is centred
// (len-1)/2 common-rate samples after k*M. Callers that want output 0 to sit on
// a given source frame push the matching number of zero frames first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sonvex {

// ---------------------------------------------------------------- design --

// Coefficients written by a design of `taps`: 2 * (taps / 2) + 1
// (511 -> 511, 512 -> 513). 0 for a negative tap count.
int designLength(int taps) noexcept;

// Zero pairs written after the coefficient pairs of a design.
constexpr int kDesignZeroPairs = 16;

// Linear-phase low-pass: four-term Blackman-Harris window on a centred index,
// w(m) = 0.35875 + 0.48829 cos(2 pi m/N) + 0.14128 cos(4 pi m/N)
//        + 0.01168 cos(6 pi m/N),  m = -(N/2) .. N/2,
// h(m) = w(m) * factor * gain * sin(2 pi fc m / rate) / (pi m),
// h(0) = factor * gain * 2 fc / rate. DC gain is about factor * gain.
// Stores coefficient i in both doubles of pair i and 16 zero pairs after them;
// `pairs` needs 2 * (designLength(taps) + kDesignZeroPairs) doubles.
// Returns false (nothing written) for rate <= 0, non-finite input or null.
bool designLowpassPairs(double rate, double cutoff, int taps, double gain, int factor,
                        double* pairs) noexcept;

// The same design as single coefficients, designLength(taps) of them.
// Empty for the inputs designLowpassPairs rejects.
std::vector<double> designLowpass(double rate, double cutoff, int taps, double gain, int factor);

// Magnitude of a prototype's response at `freq` Hz for coefficients at `rate`
// (direct evaluation; for tests and the EQ graph, not for the block loop).
double prototypeResponse(const double* h, size_t len, double rate, double freq) noexcept;

// Filter methods of the conversion request.
enum : int { kFilterMethodLongest = 2, kFilterMethodFft = 3 };
// Tap count of the FFT engine and the longest FIR.
constexpr int kFftTaps = 18496;
constexpr int kLongestTaps = 32767;

// Tap-count rule of the FIR engine: method 2 -> 32767; when both the output
// and the source type are one-bit types (2, 3, 4) n = max(5 L, 2 Rc / fc),
// otherwise n = max(20 L, 8 Rc / fc); the result is the smallest 2^k - 1 in
// 31 .. 32767 that is >= n (32767 above 16383). fc is truncated to an integer;
// fc == 0 counts as an unbounded n (32767). The caller applies the overrides
// for equal rates and the FFT engine.
int firLengthRule(int method, double cutoffHz, uint64_t commonRate, uint32_t up, int outputType,
                  int sourceType) noexcept;

// --------------------------------------------------------------- kernels --

// out[i] = scale * in[i] over 2 * frames doubles (equal rates). In place is fine.
void scalePairs(const double* in, size_t frames, double scale, double* out) noexcept;

// One-bit data (first sample in the most significant bit) to stereo frames of
// +2.0 (bit 1) / -2.0 (bit 0). Frame i comes from bit firstBit + i of each
// channel's byte array; a null `right` gives 0.0 on the right lane.
void expandDsdToPairs(const uint8_t* left, const uint8_t* right, uint64_t firstBit, size_t frames,
                      double* out) noexcept;

// ------------------------------------------------------------- engines --

// Common streaming interface of the PCM engines.
//   inputNeeded(n): frames still to push before pull() can return n frames;
//   push():         append input frames (copied; no size limit);
//   pull():         write up to n output frames, returns how many;
//   available():    output frames computable from what has been pushed.
// Typical block loop: push(read(inputNeeded(capacity))); pull(slot, capacity).
class Resampler {
 public:
  virtual ~Resampler() = default;
  // Back to the constructed state: no input, output counter 0.
  virtual void reset() = 0;
  virtual uint64_t inputNeeded(size_t outFrames) const = 0;
  virtual void push(const double* frames, size_t count) = 0;
  void pushZeros(size_t count);
  virtual size_t pull(double* out, size_t maxFrames) = 0;
  virtual size_t available() const = 0;
  // Largest pull() result that pushing `inFrames` more can make possible.
  virtual size_t maxOutputFrames(size_t inFrames) const = 0;
  // Output frame k is centred this many input frames after input frame
  // k * M / L (the group delay of the prototype, at the input rate).
  virtual double delayInputFrames() const = 0;
  uint64_t pushedFrames() const { return pushed_; }
  uint64_t pulledFrames() const { return pulled_; }

 protected:
  uint64_t pushed_ = 0;
  uint64_t pulled_ = 0;
};

// Polyphase FIR: up by L, filter with h, down by M, never touching the
// inserted zeros. Per output frame ceil(len / L) two-lane multiply-adds. The
// phase is exact across pushes, including rates whose blocks end inside an
// input frame (44100 -> 22579200: L = 512, M = 1).
class PolyphaseResampler final : public Resampler {
 public:
  // h: prototype (designLowpass with factor L); L, M >= 1; blockFrames sizes
  // the internal buffer up front (it grows if pushes exceed it).
  PolyphaseResampler(const double* h, size_t len, uint32_t up, uint32_t down,
                     size_t blockFrames = 0);
  ~PolyphaseResampler() override;
  void reset() override;
  uint64_t inputNeeded(size_t outFrames) const override;
  void push(const double* frames, size_t count) override;
  size_t pull(double* out, size_t maxFrames) override;
  size_t available() const override;
  size_t maxOutputFrames(size_t inFrames) const override;
  double delayInputFrames() const override;
  uint32_t up() const { return up_; }
  uint32_t down() const { return down_; }
  size_t taps() const { return len_; }

 private:
  void pullGrouped(double* out, size_t n);
  struct Impl;
  std::unique_ptr<Impl> impl_;
  uint32_t up_, down_;
  size_t len_;
};

// Overlap-save FFT convolution at the common rate (filter method 3): N-point
// transforms (N = 65536 by default), blocks of B = L*M*floor((N - D) / (L*M))
// new common-rate samples where D = len - 1 (falls back to the largest
// multiple of L when L*M > N - D). Both lanes go through one complex
// transform (left = real, right = imaginary; h is real). Output is the same
// y[k] as PolyphaseResampler, to rounding; it is released a whole FFT block
// at a time, which inputNeeded() accounts for.
class FftResampler final : public Resampler {
 public:
  FftResampler(const double* h, size_t len, uint32_t up, uint32_t down, uint32_t log2Size = 16);
  ~FftResampler() override;
  // False when the filter does not fit the transform (len > N or L > N - D).
  bool valid() const;
  void reset() override;
  uint64_t inputNeeded(size_t outFrames) const override;
  void push(const double* frames, size_t count) override;
  size_t pull(double* out, size_t maxFrames) override;
  size_t available() const override;
  size_t maxOutputFrames(size_t inFrames) const override;
  double delayInputFrames() const override;
  // New common-rate samples per transform.
  uint64_t blockSamples() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Filterless rate change: output k is input frame floor(k * M / L), i.e. every
// frame repeated L times at the common rate and every M-th taken. Output
// frame 0 is input frame 0. For one-bit sources expand with expandDsdToPairs
// first.
class HoldResampler final : public Resampler {
 public:
  HoldResampler(uint32_t up, uint32_t down);
  void reset() override;
  uint64_t inputNeeded(size_t outFrames) const override;
  void push(const double* frames, size_t count) override;
  size_t pull(double* out, size_t maxFrames) override;
  size_t available() const override;
  size_t maxOutputFrames(size_t inFrames) const override;
  double delayInputFrames() const override { return 0.0; }

 private:
  uint32_t up_, down_;
  std::vector<double> buf_;  // pairs from input frame base_
  uint64_t base_ = 0;
};

// One-bit source to PCM (or to a higher DSD rate at the DSD output scale):
// y[k] = sum_t h[t] * v[k*M + t] over the samples +-2.0 of the bit stream,
// zero-stuffed by L as in PolyphaseResampler. The FIR is evaluated from byte
// tables, eight taps per lookup: one table set per polyphase phase a and bit
// offset o of the phase's first input bit, table[g][byte] =
// sum_b (+-2) * h[a + (8g + b - o) L]. L = 1 with M = 8, 16, 32 or 64 (DSD to
// the 44.1 kHz family) runs transposed: each input word adds a row of table
// values into every output it reaches, several outputs per vector add
// (other multiples of 8 take a cache-blocked path over one set). When the sets
// would exceed 8 MiB (e.g. DSD64 -> 48 kHz) the bits are expanded to +-2.0 and
// run through the polyphase engine instead; the results agree to rounding.
class DsdDecimator {
 public:
  DsdDecimator(const double* h, size_t len, uint32_t up, uint32_t down, size_t blockBytes = 0);
  ~DsdDecimator();
  void reset();
  // True when the byte-table path is in use.
  bool usesTables() const;
  // Whole bytes per channel still to push before pull() can return n frames.
  uint64_t inputBytesNeeded(size_t outFrames) const;
  // `count` bytes of each channel, first sample in the most significant bit.
  // A null `right` is taken as the idle pattern 0x96.
  void push(const uint8_t* left, const uint8_t* right, size_t count);
  size_t pull(double* out, size_t maxFrames);
  size_t available() const;
  size_t maxOutputFrames(size_t inBytes) const;
  double delayInputFrames() const;
  uint64_t pushedBytes() const;
  uint64_t pulledFrames() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

namespace detail {
// The polyphase engine's two-lane dot product, sum over n pairs of x[q] * c[q]
// per lane: the portable form and the one chosen for this processor (AVX2 and
// FMA where present). Exposed so both can be checked.
void dotPairsPortable(const double* c, const double* x, size_t n, double* out) noexcept;
void dotPairsSelected(const double* c, const double* x, size_t n, double* out) noexcept;
// The integer up-sampler's window kernel: `count` (8 or 16) two-lane outputs,
// out[2o + lane] = sum over j < taps of t[2(j stride + o) + lane] * x[2j + lane],
// t 32-byte aligned. Portable and selected forms, as above.
void upsampleWindowPortable(const double* t, size_t stride, size_t taps, const double* x,
                            size_t count, double* out) noexcept;
void upsampleWindowSelected(const double* t, size_t stride, size_t taps, const double* x,
                            size_t count, double* out) noexcept;
// While set, decimators built take the byte-aligned path's portable kernel
// (what processors without AVX2 run) instead of this processor's. For tests.
void setPortableSlabKernel(bool on) noexcept;
}  // namespace detail

}  // namespace sonvex
