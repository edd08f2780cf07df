// Planning of a conversion: the rate plan (common rate, up and down factors,
// cut-off, filter length, pre-roll), the range and output length, and the
// block plan. Pure functions, testable without files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sonvex.h"

namespace sonvex::convert {

constexpr int64_t kBlockSpan = 1505280;  // common-rate samples x 8 per FIR block
constexpr int kFftSize = 65536;
// The largest L x M for which FFT convolution beats the polyphase engine.
constexpr uint64_t kFftFasterUpTo = 64;
constexpr int kRingSlots = 64;
constexpr uint64_t kRf64Threshold = 0xFFFF0000u;
constexpr uint32_t kDsdRateMin = 2822400;

inline bool isDsdType(int type) { return type == kFileTypeDsf || type == kFileTypeDsdiff; }

// File type from the path's extension (".wav" 0, ".dsf" 2, ".dff" 3, ".flac" 4, case
// insensitive), or -1. The extension is the text from the last '.'; 16
// characters or more match nothing.
int typeFromPath(const char16_t* path);

uint64_t greatestCommonDivisor(uint64_t a, uint64_t b);

// Cut-off for a conversion from src to dst; export and stream differ only
// for one-bit rates.
double cutoffFor(uint32_t src, uint32_t dst, bool exportMode);

struct RatePlan {
  uint32_t src = 0;
  uint32_t dst = 0;
  uint64_t commonRate = 0;
  uint32_t up = 0;    // L
  uint32_t down = 0;  // M
  double cutoff = 0.0;
  double outputScale = 1.0;
  int taps = 0;  // 0 = no filter (equal rates)
  int64_t preRoll = 0;
  bool fft = false;
};

// 0, or kConvertErrRatePlan when a rate is 0 or L/M cannot be used.
int makeRatePlan(uint32_t src, uint32_t dst, bool exportMode, int method, int outType, int srcType,
                 RatePlan* plan);

struct RangePlan {
  int64_t start = 0;    // first source frame (after rounding)
  int64_t readEnd = 0;  // min(end + pre-roll, source frames)
  int64_t outFrames = 0;
  bool rf64 = false;
};

// Rounds and clips the caller's range and derives the output length.
// kConvertErrNothing when nothing is left, kConvertErrFrameCount on overflow.
int makeRangePlan(const RatePlan& rate, int srcType, uint32_t srcChannels, int64_t startFrame,
                  int64_t endFrame, int64_t sourceFrames, uint32_t outChannels, uint32_t outBits,
                  RangePlan* plan);

struct BlockPlan {
  int64_t capacity = 0;       // output frames per block (ring slot)
  int64_t inputPerBlock = 0;  // source frames per block
  int64_t zeroPrefix = 0;     // zero frames ahead of the first PCM source frame
  int64_t framesToRead = 0;   // source frames read in all (zero prefix excluded)
  int64_t fftBlock = 0;       // common-rate samples per FFT block (FFT only)
};

// Export timing. The prototype is centred taps / 2 common-rate samples into
// its window; a silent lead-in ahead of the range (whole bytes for a DSD
// source) plus zero taps put in front of the prototype take that centre back
// to the range start, so output frame k is the source at time k / dst. Whole
// output frames of the shift are computed and dropped instead of padded, so
// the prototype grows by less than one output frame (none when M = 1). A DSD
// output leads by the modulator's own delay, which the modulator then adds.
struct ExportAlignment {
  int64_t leadFrames = 0;  // silent source frames pushed before the range
  int64_t padTaps = 0;     // zero coefficients ahead of the prototype, < M
  int64_t skipFrames = 0;  // leading output frames to drop
};

// Nothing to align when the plan has no filter.
ExportAlignment exportAlignment(const RatePlan& rate, bool dsdSource, bool dsdOut);

// kConvertErrRatePlan when a block would hold no frame, kConvertErrNothing
// when nothing is to be read. FIR blocks hold at most blockFramesLimit()
// output frames.
int makeBlockPlan(const RatePlan& rate, const RangePlan& range, int srcType, BlockPlan* plan);

// Caps the output frames of a FIR block (a multiple of 8; 0 = no cap). For
// fuzzing and tests that want many small blocks; process-wide.
void setBlockFramesLimit(int64_t frames);
int64_t blockFramesLimit();

// Source frames of a data chunk: bytes x 8 / (bits x channels); 0 when either is 0.
int64_t sourceFrameCount(uint64_t audioBytes, uint32_t bits, uint32_t channels);

}  // namespace sonvex::convert
