#include "convert_plan.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "dsdstage.h"
#include "rateconv.h"

namespace sonvex::convert {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
std::atomic<int64_t> gBlockFramesLimit{0};

// a x b / c in 128-bit arithmetic; false when the result does not fit int64.
bool mulDiv(int64_t a, uint64_t b, uint64_t c, int64_t* out) {
  if (c == 0) return false;
  const __int128 r = __int128(a) * __int128(b) / __int128(c);
  if (r > kInt64Max || r < -kInt64Max) return false;
  *out = int64_t(r);
  return true;
}

}  // namespace

int typeFromPath(const char16_t* path) {
  if (!path) return -1;
  const char16_t* dot = nullptr;
  for (const char16_t* p = path; *p; ++p)
    if (*p == u'.') dot = p;
  if (!dot) return -1;
  char ext[16];
  int n = 0;
  for (const char16_t* p = dot; *p; ++p) {
    if (n == 16) return -1;  // 16 characters or more
    char16_t c = *p;
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    ext[n++] = c < 128 ? char(c) : '?';
  }
  const auto is = [&](const char* s) {
    for (int i = 0; i < n; ++i)
      if (s[i] != ext[i]) return false;
    return s[n] == '\0';
  };
  // Broadcast WAV and RF64 files are read by the WAV driver.
  if (is(".wav") || is(".bwf") || is(".rf64")) return kFileTypeWav;
  if (is(".dsf")) return kFileTypeDsf;
  if (is(".dff")) return kFileTypeDsdiff;
  if (is(".flac")) return kFileTypeFlac;
  return -1;
}

uint64_t greatestCommonDivisor(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

double cutoffFor(uint32_t src, uint32_t dst, bool exportMode) {
  double fc = double(std::min(src, dst)) * 0.9 * 0.5;
  if (exportMode) {
    if (fc >= 5000000.0)
      fc = 352800.0;
    else if (fc >= 2500000.0)
      fc = 176400.0;
    else if (fc >= 1200000.0)
      fc = 88200.0;
    if (src == kDsdRateMin && dst >= 176400 && dst < 1411200) fc = 44100.0;
  } else {
    if (fc >= 5000000.0)
      fc = 1411200.0;
    else if (fc >= 2500000.0)
      fc = 705600.0;
    else if (fc >= 1200000.0)
      fc = 352800.0;
    if (src == kDsdRateMin && dst >= 352800 && dst < 1411200) fc = 88200.0;
  }
  return fc;
}

int makeRatePlan(uint32_t src, uint32_t dst, bool exportMode, int method, int outType, int srcType,
                 RatePlan* plan) {
  RatePlan p;
  p.src = src;
  p.dst = dst;
  // Unused table entries hold 1: no conversion can reach such a rate.
  if (src == 0 || dst <= 1) return kConvertErrRatePlan;
  const uint64_t g = greatestCommonDivisor(src, dst);
  p.commonRate = uint64_t(src / g) * dst;
  p.up = uint32_t(p.commonRate / src);
  p.down = uint32_t(p.commonRate / dst);
  if (p.up == 0 || p.down == 0) return kConvertErrRatePlan;
  p.cutoff = cutoffFor(src, dst, exportMode);
  const bool dsdOut = isDsdType(outType);
  p.outputScale = dsdOut ? 18014398509481984.0 : 1.0;
  if (src == dst)
    p.taps = 1;
  else if (method == kFilterMethodFft)
    p.taps = kFftTaps;
  else
    p.taps = firLengthRule(method, p.cutoff, p.commonRate, p.up, outType, srcType);
  if (p.up == 1 && p.down == 1) p.taps = 0;
  // The FFT engine works through every sample of the common rate, the
  // polyphase engine through taps / L per output frame: past L x M of about
  // 64 the same prototype runs faster on the polyphase engine (measured:
  // 44.1 -> 48 kHz, 6.7 s against 0.03 s for 10 s of stereo), and there it
  // runs. It also needs an FFT block to hold one L x M period.
  p.fft = method == kFilterMethodFft && p.taps != 0 &&
          uint64_t(p.up) * p.down <= std::min<uint64_t>(kFftFasterUpTo, kFftSize - p.taps);
  if (dsdOut)
    p.preRoll = p.taps == 0 ? 0 : p.taps / int64_t(p.up) + 17;
  else
    p.preRoll = p.taps / int64_t(p.up);
  *plan = p;
  return kSonvexOk;
}

void setBlockFramesLimit(int64_t frames) {
  gBlockFramesLimit.store(frames > 0 ? std::max<int64_t>(8, frames & ~int64_t(7)) : 0);
}

int64_t blockFramesLimit() { return gBlockFramesLimit.load(); }

int64_t sourceFrameCount(uint64_t audioBytes, uint32_t bits, uint32_t channels) {
  const uint64_t perFrame = uint64_t(bits) * channels;
  if (perFrame == 0) return 0;
  const unsigned __int128 frames = (unsigned __int128)(audioBytes)*8 / perFrame;
  return frames > (unsigned __int128)(kInt64Max) ? kInt64Max : int64_t(frames);
}

int makeRangePlan(const RatePlan& rate, int srcType, uint32_t /*srcChannels*/, int64_t startFrame,
                  int64_t endFrame, int64_t sourceFrames, uint32_t outChannels, uint32_t outBits,
                  RangePlan* plan) {
  RangePlan r;
  int64_t start = std::max<int64_t>(startFrame, 0);
  int64_t end = endFrame;
  if (isDsdType(srcType)) {
    start -= start % 8;
    end -= end % 8;  // toward zero
  }
  // A DSF start stays on the byte holding its frame, as for DSDIFF: the
  // reader de-interleaves from any byte, and rounding to a block group would
  // start early and make cut pieces overlap.
  r.start = start;
  const int64_t endPlus = end > kInt64Max - rate.preRoll ? kInt64Max : end + rate.preRoll;
  r.readEnd = std::min(endPlus, sourceFrames);
  // The output covers the whole requested range, clamped to the file. Near the
  // file's end the filter's look-ahead reads silence (the reader pads past
  // readEnd), so the last source frames are not cut off by the pre-roll.
  const int64_t span = std::min(end, sourceFrames) - start;
  if (r.readEnd <= start || span <= 0) return kConvertErrNothing;
  if (!mulDiv(span, rate.up, rate.down, &r.outFrames)) return kConvertErrFrameCount;
  if (r.outFrames <= 0) return kConvertErrNothing;
  const uint64_t perFrame = uint64_t(outChannels) * outBits;
  const unsigned __int128 bytes = (unsigned __int128)(uint64_t(r.outFrames)) * perFrame / 8;
  if (bytes > (unsigned __int128)(kInt64Max)) return kConvertErrFrameCount;
  r.rf64 = uint64_t(bytes) >= kRf64Threshold;
  *plan = r;
  return kSonvexOk;
}

ExportAlignment exportAlignment(const RatePlan& rate, bool dsdSource, bool dsdOut) {
  ExportAlignment a;
  if (rate.taps == 0) return a;
  const int64_t L = rate.up;
  const int64_t centre = rate.taps / 2;
  const int64_t lead = dsdOut ? int64_t(dsd::alignDelay(0)) * rate.down : 0;
  // Lead-in in whole input units: frames, or bytes of a one-bit source.
  const int64_t unit = (dsdSource ? 8 : 1) * L;
  const int64_t units = centre > lead ? (centre - lead + unit - 1) / unit : 0;
  a.leadFrames = units * (dsdSource ? 8 : 1);
  const int64_t shift = units * unit + lead - centre;
  a.skipFrames = shift / rate.down;
  a.padTaps = shift % rate.down;
  return a;
}

int makeBlockPlan(const RatePlan& rate, const RangePlan& range, int srcType, BlockPlan* plan) {
  BlockPlan b;
  if (rate.fft) {
    const int64_t k = int64_t(rate.up) * rate.down;
    b.fftBlock = k * ((kFftSize - rate.taps) / k);
    if (b.fftBlock == 0) return kConvertErrRatePlan;
    b.capacity = b.fftBlock / rate.down;
    b.inputPerBlock = b.fftBlock / rate.up;
  } else {
    b.capacity = kBlockSpan / (8 * int64_t(rate.down));
    if (b.capacity == 0) return kConvertErrRatePlan;
    const int64_t limit = blockFramesLimit();
    if (limit > 0) b.capacity = std::min(b.capacity, limit);
    b.inputPerBlock = int64_t(rate.down) * b.capacity / rate.up;
  }
  const bool dsdSource = isDsdType(srcType);
  if (!dsdSource) {
    b.zeroPrefix = (rate.taps / 2) / int64_t(rate.up);
    b.framesToRead = range.readEnd - range.start;
  } else if (rate.taps != 0) {
    b.framesToRead = range.readEnd - rate.taps / int64_t(rate.up) - range.start;
  } else {
    b.framesToRead = range.readEnd - range.start;
  }
  if (b.framesToRead <= 0) return kConvertErrNothing;
  *plan = b;
  return kSonvexOk;
}

}  // namespace sonvex::convert
