// Sample kernels of the conversion pipeline: unpacking source bytes, the
// level envelope, the channel matrix, the export EQ, packing of PCM words and
// the DSF/DSDIFF byte layouts. Small pure functions over buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audioreader.h"
#include "sonvex.h"

namespace sonvex::convert {

constexpr uint8_t kIdleByte = kDsdIdleByte;

// PCM bytes (channels 1 or 2) to interleaved stereo doubles, full scale 1.0;
// mono gives right = 0. 0, or kConvertErrWavUnpack for an unsupported word
// length or channel count.
int unpackPcm(const uint8_t* bytes, size_t frames, uint32_t channels, uint32_t bits,
              uint16_t formatTag, double* out);

// One-bit bytes (most significant bit first) to doubles +-2.0 into lane
// `lane` (0 or 1) of interleaved stereo pairs, starting at bit `firstBit`.
void dsdToDoubles(const uint8_t* bytes, size_t firstBit, size_t frames, int lane, double* out);

// The level envelope: position, level and segment advance once per output
// frame.
class LevelEnvelope {
 public:
  // Up to 10 points; the list ends at the first negative position.
  LevelEnvelope(const LevelPoint* points, int64_t firstFrame);
  // Level of the next output frame (after advancing by one frame).
  double next();
  // Levels of the next n frames; true when they are all exactly 1.0.
  bool fill(double* levels, size_t n);
  double level() const { return level_; }
  int64_t position() const { return position_; }

 private:
  LevelPoint points_[kLevelPointMax];
  int count_ = 0;
  int segment_ = -1;  // -1 before the first point
  int64_t position_ = 0;
  double level_ = 0.0;
};

// out = level x matrix x (scale x in), in place allowed; null levels are all
// 1.0, which leaves a plain matrix at unit scale nothing to do.
void applyLevelMatrix(double* frames, size_t n, const double* levels, const ChannelMatrix& m,
                      double scale);

// The export EQ: bands 4, 3, 2, 1, each on-flagged band as a direct-form-I
// biquad over interleaved stereo, state kept in the band's block.
void applyEq(EqSettings* eq, double* frames, size_t n);
void runBiquad(double* biquad, double* frames, size_t n);

// Transparent PCM packing: x scaled by 2^(bits-1), rounded to nearest and
// clamped, so that every integer sample that was unpacked comes back
// unchanged. 32 bits: IEEE single. Mono writes the left lane only.
// 0 or kConvertErrPcmPack.
// With `dither`, triangular noise of +-1 step is added before the rounding
// (integer sizes only).
class TpdfDither;
int packPcm(const double* frames, size_t n, uint32_t channels, uint32_t bits, uint8_t* out,
            TpdfDither* dither = nullptr);

// Two uniform values per sample from a 64-bit xorshift*: their difference is
// triangular on (-1, 1). A fixed seed makes every run of an export alike.
class TpdfDither {
 public:
  double next() { return uniform() - uniform(); }

 private:
  double uniform() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return double((state_ * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
  }
  uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

// The calling thread's dither choice for the exports it starts (kPcmDither*).
int32_t pcmExportDither();

}  // namespace sonvex::convert
