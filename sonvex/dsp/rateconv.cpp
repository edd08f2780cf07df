#include "rateconv.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "fft.h"
#include "sonvex.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define SONVEX_HAVE_AVX2_PATH 1
#endif

namespace sonvex {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t gcd32(uint32_t a, uint32_t b) {
  while (b) {
    const uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Sum over n pairs of x[q] * c[q], per lane; c holds each coefficient twice.
inline void dotPairs(const double* c, const double* x, size_t n, double* out) noexcept {
#if defined(__SSE2__)
  __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd(), a2 = _mm_setzero_pd(),
          a3 = _mm_setzero_pd();
  size_t q = 0;
  for (; q + 4 <= n; q += 4) {
    a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(x + 2 * q), _mm_load_pd(c + 2 * q)));
    a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(x + 2 * q + 2), _mm_load_pd(c + 2 * q + 2)));
    a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_loadu_pd(x + 2 * q + 4), _mm_load_pd(c + 2 * q + 4)));
    a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_loadu_pd(x + 2 * q + 6), _mm_load_pd(c + 2 * q + 6)));
  }
  for (; q < n; ++q)
    a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(x + 2 * q), _mm_load_pd(c + 2 * q)));
  _mm_storeu_pd(out, _mm_add_pd(_mm_add_pd(a0, a1), _mm_add_pd(a2, a3)));
#else
  double l0 = 0, r0 = 0, l1 = 0, r1 = 0;
  size_t q = 0;
  for (; q + 2 <= n; q += 2) {
    l0 += x[2 * q] * c[2 * q];
    r0 += x[2 * q + 1] * c[2 * q + 1];
    l1 += x[2 * q + 2] * c[2 * q + 2];
    r1 += x[2 * q + 3] * c[2 * q + 3];
  }
  if (q < n) {
    l0 += x[2 * q] * c[2 * q];
    r0 += x[2 * q + 1] * c[2 * q + 1];
  }
  out[0] = l0 + l1;
  out[1] = r0 + r1;
#endif
}

#if defined(SONVEX_HAVE_AVX2_PATH)
// Two taps (four doubles) per fused multiply-add where the processor has
// AVX2 and FMA; chosen once at run time.
__attribute__((target("avx2,fma"))) void dotPairsAvx2(const double* c, const double* x, size_t n,
                                                      double* out) noexcept {
  __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd(), a2 = _mm256_setzero_pd(),
          a3 = _mm256_setzero_pd();
  size_t q = 0;
  for (; q + 8 <= n; q += 8) {
    a0 = _mm256_fmadd_pd(_mm256_loadu_pd(x + 2 * q), _mm256_loadu_pd(c + 2 * q), a0);
    a1 = _mm256_fmadd_pd(_mm256_loadu_pd(x + 2 * q + 4), _mm256_loadu_pd(c + 2 * q + 4), a1);
    a2 = _mm256_fmadd_pd(_mm256_loadu_pd(x + 2 * q + 8), _mm256_loadu_pd(c + 2 * q + 8), a2);
    a3 = _mm256_fmadd_pd(_mm256_loadu_pd(x + 2 * q + 12), _mm256_loadu_pd(c + 2 * q + 12), a3);
  }
  for (; q + 2 <= n; q += 2)
    a0 = _mm256_fmadd_pd(_mm256_loadu_pd(x + 2 * q), _mm256_loadu_pd(c + 2 * q), a0);
  const __m256d s4 = _mm256_add_pd(_mm256_add_pd(a0, a1), _mm256_add_pd(a2, a3));
  __m128d s2 = _mm_add_pd(_mm256_castpd256_pd128(s4), _mm256_extractf128_pd(s4, 1));
  if (q < n) s2 = _mm_fmadd_pd(_mm_loadu_pd(x + 2 * q), _mm_loadu_pd(c + 2 * q), s2);
  _mm_storeu_pd(out, s2);
}
#endif

#if defined(SONVEX_HAVE_AVX2_PATH)
bool haveAvx2Fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
#endif

using DotPairsFn = void (*)(const double*, const double*, size_t, double*) noexcept;

DotPairsFn pickDotPairs() {
#if defined(SONVEX_HAVE_AVX2_PATH)
  if (haveAvx2Fma()) return dotPairsAvx2;
#endif
  return dotPairs;
}

// Integer up-sampling (M = 1): the L outputs that share one input window are
// computed together, tap by tap, from a table laid out tap-major (tap j of
// output o at pairs j * L + o). Every output is one sequential sum over j, so
// the kernels and the one-output fallback below agree to the last bit.
void groupPortable(const double* t, size_t stride, size_t taps, const double* x, size_t count,
                   double* out) noexcept {
  double acc[32] = {};
  for (size_t j = 0; j < taps; ++j, t += 2 * stride, x += 2)
    for (size_t i = 0; i < 2 * count; ++i) acc[i] = acc[i] + t[i] * x[i & 1];
  std::memcpy(out, acc, sizeof(double) * 2 * count);
}

#if defined(SONVEX_HAVE_AVX2_PATH)
// K accumulators of two outputs each; the loops over K unroll, keeping the
// accumulators in registers.
template <int K>
__attribute__((target("avx2,fma"), always_inline)) inline void groupAvx2Pass(
    const double* t, size_t stride, size_t taps, const double* x, double* out) noexcept {
  __m256d a[K];
#pragma GCC unroll 8
  for (int i = 0; i < K; ++i) a[i] = _mm256_setzero_pd();
  for (size_t j = 0; j < taps; ++j, t += 2 * stride, x += 2) {
    const __m256d v = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(x));
#pragma GCC unroll 8
    for (int i = 0; i < K; ++i) a[i] = _mm256_fmadd_pd(_mm256_load_pd(t + 4 * i), v, a[i]);
  }
#pragma GCC unroll 8
  for (int i = 0; i < K; ++i) _mm256_storeu_pd(out + 4 * i, a[i]);
}

// Sixteen outputs (eight accumulators) per pass keep both FMA ports busy
// through the multiply-add latency.
__attribute__((target("avx2,fma"))) void groupAvx2(const double* t, size_t stride, size_t taps,
                                                   const double* x, size_t count,
                                                   double* out) noexcept {
  if (count == 16)
    groupAvx2Pass<8>(t, stride, taps, x, out);
  else
    groupAvx2Pass<4>(t, stride, taps, x, out);
}
#endif

using GroupFn = void (*)(const double*, size_t, size_t, const double*, size_t, double*) noexcept;

struct GroupKernel {
  GroupFn fn = groupPortable;
  bool fused = false;  // the kernel rounds once per multiply-add
};

GroupKernel pickGroupKernel() {
  GroupKernel k;
#if defined(SONVEX_HAVE_AVX2_PATH)
  if (haveAvx2Fma()) {
    k.fn = groupAvx2;
    k.fused = true;
  }
#endif
  return k;
}

// Doubles with 64-byte alignment for the coefficient and table arrays.
struct AlignedDoubles {
  double* p = nullptr;
  size_t n = 0;
  AlignedDoubles() = default;
  explicit AlignedDoubles(size_t count) : n(count) {
    const size_t bytes = ((count * sizeof(double) + 63) / 64) * 64;
    p = static_cast<double*>(::operator new(bytes ? bytes : 64, std::align_val_t(64)));
    std::memset(p, 0, bytes ? bytes : 64);
  }
  AlignedDoubles(const AlignedDoubles&) = delete;
  AlignedDoubles& operator=(const AlignedDoubles&) = delete;
  AlignedDoubles(AlignedDoubles&& o) noexcept : p(o.p), n(o.n) { o.p = nullptr; }
  AlignedDoubles& operator=(AlignedDoubles&& o) noexcept {
    std::swap(p, o.p);
    std::swap(n, o.n);
    return *this;
  }
  ~AlignedDoubles() {
    if (p) ::operator delete(p, std::align_val_t(64));
  }
};

// Count of k >= 0 with k * M + D < end (outputs whose last needed sample
// precedes common-rate index `end`).
uint64_t outputsBefore(uint64_t end, uint64_t D, uint64_t M) {
  return end > D ? (end - D + M - 1) / M : 0;
}

}  // namespace

namespace detail {
void dotPairsPortable(const double* c, const double* x, size_t n, double* out) noexcept {
  dotPairs(c, x, n, out);
}
void dotPairsSelected(const double* c, const double* x, size_t n, double* out) noexcept {
  static const DotPairsFn dot = pickDotPairs();
  dot(c, x, n, out);
}
void upsampleWindowPortable(const double* t, size_t stride, size_t taps, const double* x,
                            size_t count, double* out) noexcept {
  groupPortable(t, stride, taps, x, count, out);
}
void upsampleWindowSelected(const double* t, size_t stride, size_t taps, const double* x,
                            size_t count, double* out) noexcept {
  static const GroupKernel kernel = pickGroupKernel();
  kernel.fn(t, stride, taps, x, count, out);
}
}  // namespace detail

// ---------------------------------------------------------------- design --

int designLength(int taps) noexcept { return taps < 0 ? 0 : 2 * (taps / 2) + 1; }

bool designLowpassPairs(double rate, double cutoff, int taps, double gain, int factor,
                        double* pairs) noexcept {
  if (!pairs || !(rate > 0.0) || !std::isfinite(rate) || !std::isfinite(cutoff) ||
      !std::isfinite(gain) || taps < 0)
    return false;
  const int half = taps / 2;
  const double N = double(taps);
  const double scale = double(factor) * gain;
  int i = 0;
  for (int m = -half; m <= half; ++m, ++i) {
    double h;
    if (m == 0) {
      h = scale * 2.0 * cutoff / rate;
    } else {
      const double w = 0.35875 + 0.48829 * std::cos(2.0 * kPi * m / N) +
                       0.14128 * std::cos(4.0 * kPi * m / N) +
                       0.01168 * std::cos(6.0 * kPi * m / N);
      h = w * scale * std::sin(2.0 * kPi * cutoff * m / rate) / (kPi * m);
    }
    pairs[2 * i] = h;
    pairs[2 * i + 1] = h;
  }
  std::memset(pairs + 2 * i, 0, sizeof(double) * 2 * kDesignZeroPairs);
  return true;
}

std::vector<double> designLowpass(double rate, double cutoff, int taps, double gain, int factor) {
  const int n = designLength(taps);
  std::vector<double> pairs(2 * size_t(n + kDesignZeroPairs));
  if (!designLowpassPairs(rate, cutoff, taps, gain, factor, pairs.data())) return {};
  std::vector<double> h(n);
  for (int i = 0; i < n; ++i) h[i] = pairs[2 * i];
  return h;
}

double prototypeResponse(const double* h, size_t len, double rate, double freq) noexcept {
  // Phase referred to the centre keeps the sum real for a symmetric filter;
  // the imaginary part is kept for any other.
  const double c = double(len - 1) / 2.0;
  double re = 0.0, im = 0.0;
  for (size_t t = 0; t < len; ++t) {
    const double a = 2.0 * kPi * freq / rate * (double(t) - c);
    re += h[t] * std::cos(a);
    im -= h[t] * std::sin(a);
  }
  return std::sqrt(re * re + im * im);
}

int firLengthRule(int method, double cutoffHz, uint64_t commonRate, uint32_t up, int outputType,
                  int sourceType) noexcept {
  if (method == kFilterMethodLongest) return kLongestTaps;
  const auto oneBit = [](int t) { return t == kFileTypeDsf || t == kFileTypeDsdiff; };
  const uint64_t fc = cutoffHz >= 1.0 && std::isfinite(cutoffHz) ? uint64_t(cutoffHz) : 0;
  if (fc == 0) return kLongestTaps;
  uint64_t n;
  if (oneBit(outputType) && oneBit(sourceType))
    n = std::max<uint64_t>(5ull * up, 2 * commonRate / fc);
  else
    n = std::max<uint64_t>(20ull * up, 8 * commonRate / fc);
  for (int len = 31; len <= 16383; len = 2 * len + 1)
    if (uint64_t(len) >= n) return len;
  return kLongestTaps;
}

// --------------------------------------------------------------- kernels --

void scalePairs(const double* in, size_t frames, double scale, double* out) noexcept {
  for (size_t i = 0; i < 2 * frames; ++i) out[i] = scale * in[i];
}

void expandDsdToPairs(const uint8_t* left, const uint8_t* right, uint64_t firstBit, size_t frames,
                      double* out) noexcept {
  for (int lane = 0; lane < 2; ++lane) {
    const uint8_t* bytes = lane ? right : left;
    double* o = out + lane;
    if (!bytes) {
      for (size_t i = 0; i < frames; ++i) o[2 * i] = 0.0;
      continue;
    }
    uint64_t bit = firstBit;
    size_t i = 0;
    // Leading bits up to a byte boundary, then whole bytes.
    for (; i < frames && (bit & 7); ++i, ++bit)
      o[2 * i] = ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1) ? 2.0 : -2.0;
    for (; i + 8 <= frames; i += 8, bit += 8) {
      const unsigned b = bytes[bit >> 3];
      for (int k = 0; k < 8; ++k) o[2 * (i + k)] = ((b >> (7 - k)) & 1) ? 2.0 : -2.0;
    }
    for (; i < frames; ++i, ++bit)
      o[2 * i] = ((bytes[bit >> 3] >> (7 - (bit & 7))) & 1) ? 2.0 : -2.0;
  }
}

void Resampler::pushZeros(size_t count) {
  static const double zeros[2 * 1024] = {};
  while (count) {
    const size_t n = std::min<size_t>(count, 1024);
    push(zeros, n);
    count -= n;
  }
}

// ------------------------------------------------------------- polyphase --

struct PolyphaseResampler::Impl {
  uint32_t L, M;
  size_t len;
  AlignedDoubles coef;         // phase after phase, each coefficient twice
  std::vector<size_t> offset;  // first pair of each phase, L + 1 entries
  std::vector<double> buf;     // input pairs; frame bufStart at index 0
  uint64_t bufStart = 0;
  size_t bufFrames = 0;
  uint64_t nextOut = 0;
  uint64_t pushed = 0;
  // Integer up-sampling by a multiple of 8: outputs in groups of L.
  bool grouped = false;
  size_t groupTaps = 0;   // taps of the longest phase, ceil(len / L)
  size_t groupChunk = 0;  // outputs per kernel pass, 16 or 8
  AlignedDoubles table;   // tap-major, each coefficient twice, zero-padded

  // First input frame output k reads: ceil(k M / L).
  uint64_t firstInput(uint64_t k) const { return (k * M + L - 1) / L; }

  uint64_t availableFor(uint64_t pushedFrames) const {
    const uint64_t end = pushedFrames * L;  // outputs need k M + len - 1 < end
    const uint64_t total = outputsBefore(end, len - 1, M);
    return total > nextOut ? total - nextOut : 0;
  }

  void reserveFrames(size_t frames) {
    if (buf.size() < 2 * frames) buf.resize(2 * frames);
  }

  void compact() {
    const uint64_t keepFrom = std::min<uint64_t>(firstInput(nextOut), bufStart + bufFrames);
    const size_t drop = size_t(keepFrom - bufStart);
    if (!drop) return;
    std::memmove(buf.data(), buf.data() + 2 * drop, sizeof(double) * 2 * (bufFrames - drop));
    bufFrames -= drop;
    bufStart += drop;
  }
};

PolyphaseResampler::PolyphaseResampler(const double* h, size_t len, uint32_t up, uint32_t down,
                                       size_t blockFrames)
    : impl_(new Impl), up_(up ? up : 1), down_(down ? down : 1), len_(len ? len : 1) {
  Impl& s = *impl_;
  s.L = up_;
  s.M = down_;
  s.len = len_;
  s.coef = AlignedDoubles(2 * (len_ + 4 * size_t(s.L)));
  s.offset.resize(s.L + 1);
  size_t at = 0;
  for (uint32_t a = 0; a < s.L; ++a) {
    s.offset[a] = at;
    for (size_t t = a; t < len_; t += s.L, ++at) {
      const double v = len ? h[t] : 0.0;
      s.coef.p[2 * at] = v;
      s.coef.p[2 * at + 1] = v;
    }
  }
  s.offset[s.L] = at;
  s.reserveFrames(blockFrames + len_ / s.L + 2);

  if (s.M == 1 && s.L >= 8 && s.L % 8 == 0 && len) {
    // Output k = (w - 1) L + 1 + o reads x[w + j] with phase L - 1 - o.
    s.grouped = true;
    s.groupTaps = (len_ + s.L - 1) / s.L;
    s.groupChunk = s.L % 16 == 0 ? 16 : 8;
    s.table = AlignedDoubles(2 * s.groupTaps * s.L);
    for (size_t j = 0; j < s.groupTaps; ++j)
      for (size_t o = 0; o < s.L; ++o) {
        const size_t tap = (s.L - 1 - o) + j * s.L;
        const double v = tap < len_ ? h[tap] : 0.0;
        s.table.p[2 * (j * s.L + o)] = v;
        s.table.p[2 * (j * s.L + o) + 1] = v;
      }
  }
}

PolyphaseResampler::~PolyphaseResampler() = default;

void PolyphaseResampler::reset() {
  impl_->bufStart = 0;
  impl_->bufFrames = 0;
  impl_->nextOut = 0;
  impl_->pushed = 0;
  pushed_ = pulled_ = 0;
}

uint64_t PolyphaseResampler::inputNeeded(size_t outFrames) const {
  if (!outFrames) return 0;
  const Impl& s = *impl_;
  const uint64_t k = s.nextOut + outFrames - 1;
  const uint64_t need = (k * s.M + s.len - 1) / s.L + 1;
  return need > s.pushed ? need - s.pushed : 0;
}

void PolyphaseResampler::push(const double* frames, size_t count) {
  Impl& s = *impl_;
  if (!count) return;
  if (2 * (s.bufFrames + count) > s.buf.size()) {
    s.compact();
    s.reserveFrames(s.bufFrames + count);
  }
  std::memcpy(s.buf.data() + 2 * s.bufFrames, frames, sizeof(double) * 2 * count);
  s.bufFrames += count;
  s.pushed += count;
  pushed_ = s.pushed;
}

size_t PolyphaseResampler::available() const { return size_t(impl_->availableFor(impl_->pushed)); }

size_t PolyphaseResampler::maxOutputFrames(size_t inFrames) const {
  return size_t(impl_->availableFor(impl_->pushed + inFrames));
}

double PolyphaseResampler::delayInputFrames() const { return double(len_ - 1) / 2.0 / double(up_); }

size_t PolyphaseResampler::pull(double* out, size_t maxFrames) {
  Impl& s = *impl_;
  const size_t n = size_t(std::min<uint64_t>(maxFrames, s.availableFor(s.pushed)));
  if (!n) return 0;
  if (s.grouped) {
    pullGrouped(out, n);
    return n;
  }
  const uint64_t L = s.L, M = s.M;
  // s = k M kept as quotient and remainder by L so no division per frame.
  const uint64_t sPos = s.nextOut * M;
  uint64_t q = sPos / L, r = sPos % L;
  const uint64_t stepQ = M / L, stepR = M % L;
  const double* c = s.coef.p;
  const size_t* off = s.offset.data();
  const double* x = s.buf.data();
  const uint64_t base = s.bufStart;
  static const DotPairsFn dot = pickDotPairs();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = r ? uint32_t(L - r) : 0;
    const uint64_t i0 = q + (r ? 1 : 0);
    dot(c + 2 * off[a], x + 2 * (i0 - base), off[a + 1] - off[a], out + 2 * i);
    q += stepQ;
    r += stepR;
    if (r >= L) {
      r -= L;
      ++q;
    }
  }
  s.nextOut += n;
  pulled_ = s.nextOut;
  // Drop spent input once it is a large share of the buffer.
  if (2 * (s.firstInput(s.nextOut) - s.bufStart) > s.bufFrames) s.compact();
  return n;
}

void PolyphaseResampler::pullGrouped(double* out, size_t n) {
  Impl& s = *impl_;
  static const GroupKernel kernel = pickGroupKernel();
  const uint64_t L = s.L, P = s.groupTaps, chunk = s.groupChunk;
  const double* x = s.buf.data();
  const uint64_t base = s.bufStart;
  const uint64_t end = s.nextOut + n;
  // Window w serves outputs (w - 1) L + 1 .. w L; output 0 is the last of w = 0.
  uint64_t k = s.nextOut;
  while (k < end) {
    const uint64_t w = (k + L - 1) / L;
    const uint64_t o = k + L - 1 - w * L;
    const double* xw = x + 2 * (w - base);
    const uint64_t take = std::min<uint64_t>(L - o, end - k);
    if (take == L) {
      for (uint64_t c = 0; c < L; c += chunk)
        kernel.fn(s.table.p + 2 * c, size_t(L), size_t(P), xw, size_t(chunk), out + 2 * c);
    } else {
      // Part of a window, at either end of the pull: the taps that reach past
      // the pushed input have zero coefficients and are left out, so each
      // output is the same sequential sum as in a whole window.
      for (uint64_t i = 0; i < take; ++i) {
        const uint64_t oi = o + i;
        const uint64_t phase = L - 1 - oi;
        const uint64_t taps = phase < s.len ? (s.len - phase + L - 1) / L : 0;
        const double* t = s.table.p + 2 * oi;
        double l = 0.0, r = 0.0;
        for (uint64_t j = 0; j < taps; ++j, t += 2 * L) {
          if (kernel.fused) {
            l = std::fma(t[0], xw[2 * j], l);
            r = std::fma(t[1], xw[2 * j + 1], r);
          } else {
            l = l + t[0] * xw[2 * j];
            r = r + t[1] * xw[2 * j + 1];
          }
        }
        out[2 * i] = l;
        out[2 * i + 1] = r;
      }
    }
    out += 2 * take;
    k += take;
  }
  s.nextOut = end;
  pulled_ = s.nextOut;
  if (2 * (s.firstInput(s.nextOut) - s.bufStart) > s.bufFrames) s.compact();
}

// ------------------------------------------------------------------- FFT --

struct FftResampler::Impl {
  uint32_t L, M;
  size_t len, D, N;
  uint64_t B = 0;
  bool ok = false;
  Fft fft;
  std::vector<double> H;       // spectrum of the reversed prototype, (re, im)
  std::vector<double> stream;  // common-rate pairs: D history + B new
  std::vector<double> work;    // N complex values
  std::vector<double> inQ;     // pending input frames
  size_t inHead = 0;           // first pending frame in inQ
  std::vector<double> outQ;    // computed output frames not yet pulled
  size_t outHead = 0;
  uint64_t blocks = 0;    // transforms done
  uint64_t computed = 0;  // outputs computed so far (next k)
  uint64_t pushed = 0;

  explicit Impl(uint32_t log2) : fft(log2) {}

  size_t pendingFrames() const { return inQ.size() / 2 - inHead; }
  size_t outFill() const { return outQ.size() / 2 - outHead; }
  uint64_t framesPerBlock() const { return B / L; }

  void runBlock() {
    const size_t f = size_t(framesPerBlock());
    double* st = stream.data();
    std::fill(st + 2 * D, st + 2 * (D + B), 0.0);
    const double* in = inQ.data() + 2 * inHead;
    for (size_t j = 0; j < f; ++j) {
      st[2 * (D + j * L)] = in[2 * j];
      st[2 * (D + j * L) + 1] = in[2 * j + 1];
    }
    inHead += f;
    // Left lane as real part, right lane as imaginary: h is real, so one
    // complex transform filters both.
    double* w = work.data();
    std::memcpy(w, st, sizeof(double) * 2 * (D + B));
    std::fill(w + 2 * (D + B), w + 2 * N, 0.0);
    fft.forward(w);
    for (size_t i = 0; i < N; ++i) {
      const double xr = w[2 * i], xi = w[2 * i + 1];
      const double hr = H[2 * i], hi = H[2 * i + 1];
      w[2 * i] = xr * hr - xi * hi;
      w[2 * i + 1] = xr * hi + xi * hr;
    }
    fft.inverse(w);
    // Buffer index n holds y at common-rate position blocks*B - 2D + n;
    // valid for n in [D, D + B).
    const uint64_t blockStart = blocks * B;
    const uint64_t end = outputsBefore(blockStart + B, D, M);
    if (outHead > 0 && 2 * outHead >= outQ.size() / 2) {
      outQ.erase(outQ.begin(), outQ.begin() + 2 * outHead);
      outHead = 0;
    }
    for (; computed < end; ++computed) {
      const size_t n = size_t(computed * M + 2 * D - blockStart);
      outQ.push_back(w[2 * n]);
      outQ.push_back(w[2 * n + 1]);
    }
    std::memmove(st, st + 2 * B, sizeof(double) * 2 * D);
    ++blocks;
    if (inHead > 0 && 2 * inHead >= inQ.size() / 2) {
      inQ.erase(inQ.begin(), inQ.begin() + 2 * inHead);
      inHead = 0;
    }
  }
};

FftResampler::FftResampler(const double* h, size_t len, uint32_t up, uint32_t down,
                           uint32_t log2Size)
    : impl_(new Impl(log2Size)) {
  Impl& s = *impl_;
  s.L = up ? up : 1;
  s.M = down ? down : 1;
  s.len = len ? len : 1;
  s.D = s.len - 1;
  s.N = size_t(1) << log2Size;
  if (s.len > s.N || s.L > s.N - s.D) return;
  const uint64_t K = uint64_t(s.L) * s.M;
  const uint64_t room = s.N - s.D;
  s.B = K * (room / K);
  if (!s.B) s.B = uint64_t(s.L) * (room / s.L);
  s.H.assign(2 * s.N, 0.0);
  for (size_t t = 0; t < s.len && len; ++t) s.H[2 * t] = h[s.D - t];
  s.fft.forward(s.H.data());
  s.stream.assign(2 * (s.D + s.B), 0.0);
  s.work.assign(2 * s.N, 0.0);
  s.ok = true;
}

FftResampler::~FftResampler() = default;

bool FftResampler::valid() const { return impl_->ok; }
uint64_t FftResampler::blockSamples() const { return impl_->B; }

void FftResampler::reset() {
  Impl& s = *impl_;
  std::fill(s.stream.begin(), s.stream.end(), 0.0);
  s.inQ.clear();
  s.outQ.clear();
  s.inHead = s.outHead = 0;
  s.blocks = s.computed = s.pushed = 0;
  pushed_ = pulled_ = 0;
}

uint64_t FftResampler::inputNeeded(size_t outFrames) const {
  const Impl& s = *impl_;
  if (!s.ok || outFrames <= s.outFill()) return 0;
  const uint64_t k = s.computed + (outFrames - s.outFill()) - 1;
  const uint64_t blocksNeeded = (k * s.M + s.D) / s.B + 1;
  const uint64_t need = blocksNeeded * s.framesPerBlock();
  return need > s.pushed ? need - s.pushed : 0;
}

void FftResampler::push(const double* frames, size_t count) {
  Impl& s = *impl_;
  s.inQ.insert(s.inQ.end(), frames, frames + 2 * count);
  s.pushed += count;
  pushed_ = s.pushed;
}

size_t FftResampler::maxOutputFrames(size_t inFrames) const {
  const Impl& s = *impl_;
  if (!s.ok) return 0;
  const uint64_t blocksPossible = s.blocks + (s.pendingFrames() + inFrames) / s.framesPerBlock();
  return size_t(outputsBefore(blocksPossible * s.B, s.D, s.M) - pulled_);
}

size_t FftResampler::available() const { return maxOutputFrames(0); }

size_t FftResampler::pull(double* out, size_t maxFrames) {
  Impl& s = *impl_;
  if (!s.ok) return 0;
  while (s.outFill() < maxFrames && s.pendingFrames() >= s.framesPerBlock()) s.runBlock();
  const size_t n = std::min(maxFrames, s.outFill());
  std::memcpy(out, s.outQ.data() + 2 * s.outHead, sizeof(double) * 2 * n);
  s.outHead += n;
  pulled_ += n;
  return n;
}

double FftResampler::delayInputFrames() const { return double(impl_->D) / 2.0 / double(impl_->L); }

// ------------------------------------------------------------------ hold --

HoldResampler::HoldResampler(uint32_t up, uint32_t down)
    : up_(up ? up : 1), down_(down ? down : 1) {}

void HoldResampler::reset() {
  buf_.clear();
  base_ = 0;
  pushed_ = pulled_ = 0;
}

uint64_t HoldResampler::inputNeeded(size_t outFrames) const {
  if (!outFrames) return 0;
  const uint64_t need = (pulled_ + outFrames - 1) * down_ / up_ + 1;
  return need > pushed_ ? need - pushed_ : 0;
}

void HoldResampler::push(const double* frames, size_t count) {
  buf_.insert(buf_.end(), frames, frames + 2 * count);
  pushed_ += count;
}

size_t HoldResampler::maxOutputFrames(size_t inFrames) const {
  // Output k exists once input floor(k M / L) does: k < ceil(P L / M).
  const uint64_t total = ((pushed_ + inFrames) * up_ + down_ - 1) / down_;
  return size_t(total - pulled_);
}

size_t HoldResampler::available() const { return maxOutputFrames(0); }

size_t HoldResampler::pull(double* out, size_t maxFrames) {
  const size_t n = std::min(maxFrames, available());
  for (size_t i = 0; i < n; ++i) {
    const uint64_t j = (pulled_ + i) * down_ / up_ - base_;
    out[2 * i] = buf_[2 * j];
    out[2 * i + 1] = buf_[2 * j + 1];
  }
  pulled_ += n;
  const uint64_t keep = pulled_ * down_ / up_;
  if (keep > base_ && 2 * (keep - base_) >= buf_.size() / 2) {
    const size_t drop = size_t(std::min<uint64_t>(keep - base_, buf_.size() / 2));
    buf_.erase(buf_.begin(), buf_.begin() + 2 * drop);
    base_ += drop;
  }
  return n;
}

// ------------------------------------------------------------ one-bit ----

namespace {
constexpr size_t kTableLimitBytes = size_t(8) << 20;

// Byte-aligned decimation (L = 1, M = 8 S) in transposed form. Filter word j
// covers taps 8 S j .. 8 S j + 8 S - 1, and input word m (S bytes) meets
// output m - j through it. A slab holds W consecutive filter words (8 with
// AVX-512, else 8 / S up to 4); for one byte r of an input word and its
// value v the slab's tables give a row of W doubles, ready to add into the W
// outputs that word reaches. Every add is W wide, and a slab (S x 256 x W
// doubles, 8 to 64 KiB) stays in cache while a chunk of outputs runs through
// it. The work is bound by the table bytes read, so rows stay double: single
// precision would halve them but move outputs by about a 24-bit step.
typedef double Vec8 __attribute__((vector_size(64)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec2 __attribute__((vector_size(16)));

template <int W>
struct SlabVec;
template <>
struct SlabVec<8> {
  using type = Vec8;
};
template <>
struct SlabVec<4> {
  using type = Vec4;
};
template <>
struct SlabVec<2> {
  using type = Vec2;
};
template <>
struct SlabVec<1> {
  using type = double;
};

constexpr size_t kSlabChunk = 256;
// Slabs summed in registers before one read-modify-write of the outputs.
constexpr int kSlabsPerPass = 2;
// The last word of a filter may stretch past its last tap: the slab kernel
// reads those bytes (through rows of zeros), so the byte buffers keep this
// much beyond the data (slabs per pass x W x S).
constexpr size_t kByteSlack = 32;

// The S bytes of one input word, first byte lowest.
template <int S>
inline uint64_t loadWord(const uint8_t* p) noexcept {
  uint64_t w = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(&w, p, S);
#else
  for (int b = 0; b < S; ++b) w |= uint64_t(p[b]) << (8 * b);
#endif
  return w;
}

// Rows of slab `slab` sit at slabs + ((slab * S + r) * 256 + v) * W; nSlabs
// is a multiple of P. acc* hold W - 1 doubles of margin ahead of the chunk's
// cn outputs and as many behind; bl/br point at the chunk's first output's
// first byte, whose absolute word index is `word0`. Window a (W outputs
// from acc index a) takes word a + k W through slab k. An output receives,
// for each pass of P slabs, its W windows in the order of their absolute
// residue, so a result never depends on how the stream was cut into chunks.
template <int S, int W, int P>
__attribute__((always_inline)) inline void slabChunk(const double* slabs, size_t nSlabs,
                                                     const uint8_t* bl, const uint8_t* br,
                                                     uint64_t word0, size_t cn, double* accL,
                                                     double* accR) noexcept {
  using V = typename SlabVec<W>::type;
  const size_t end = cn + W - 1;  // windows start at 0 .. cn + W - 2
  for (size_t s0 = 0; s0 < nSlabs; s0 += P) {
    const double* rows = slabs + s0 * S * 256 * W;
    const uint8_t* pl = bl + s0 * W * S;
    const uint8_t* pr = br + s0 * W * S;
    for (int rho = 0; rho < W; ++rho) {
      // Windows of one residue are disjoint: no store waits on the one
      // before. Window a takes word a + k W through slab k, which is the
      // word window a + W takes through slab k - 1.
      size_t a = size_t((uint64_t(rho) + W - word0 % W) % W);
      uint64_t wl[P], wr[P];
#pragma GCC unroll 8
      for (int k = 0; k + 1 < P; ++k) {
        wl[k + 1] = loadWord<S>(pl + (a + size_t(k) * W) * S);
        wr[k + 1] = loadWord<S>(pr + (a + size_t(k) * W) * S);
      }
      for (; a < end; a += W) {
#pragma GCC unroll 8
        for (int k = 0; k + 1 < P; ++k) {
          wl[k] = wl[k + 1];
          wr[k] = wr[k + 1];
        }
        wl[P - 1] = loadWord<S>(pl + (a + size_t(P - 1) * W) * S);
        wr[P - 1] = loadWord<S>(pr + (a + size_t(P - 1) * W) * S);
        V l = {}, r = {};
#pragma GCC unroll 8
        for (int k = 0; k < P; ++k) {
          const double* t = rows + size_t(k) * S * 256 * W;
#pragma GCC unroll 8
          for (int b = 0; b < S; ++b) {
            V x, y;
            std::memcpy(&x, t + (size_t(b) * 256 + ((wl[k] >> (8 * b)) & 0xFF)) * W, sizeof(V));
            std::memcpy(&y, t + (size_t(b) * 256 + ((wr[k] >> (8 * b)) & 0xFF)) * W, sizeof(V));
            l += x;
            r += y;
          }
        }
        V p, q;
        std::memcpy(&p, accL + a, sizeof(V));
        std::memcpy(&q, accR + a, sizeof(V));
        p += l;
        q += r;
        std::memcpy(accL + a, &p, sizeof(V));
        std::memcpy(accR + a, &q, sizeof(V));
      }
    }
  }
}

using SlabChunkFn = void (*)(const double*, size_t, const uint8_t*, const uint8_t*, uint64_t,
                             size_t, double*, double*) noexcept;

// Four-wide rows at most without AVX-512: wider vectors only split there.
template <int S>
constexpr int kNarrowWidth = 8 / S < 4 ? 8 / S : 4;

template <int S>
void slabChunkPortable(const double* slabs, size_t nSlabs, const uint8_t* bl, const uint8_t* br,
                       uint64_t word0, size_t cn, double* accL, double* accR) noexcept {
  slabChunk<S, kNarrowWidth<S>, kSlabsPerPass>(slabs, nSlabs, bl, br, word0, cn, accL, accR);
}

#if defined(SONVEX_HAVE_AVX2_PATH)
// Only adds, in the same order: bit-identical to the portable form.
template <int S>
__attribute__((target("avx2"))) void slabChunkAvx2(const double* slabs, size_t nSlabs,
                                                   const uint8_t* bl, const uint8_t* br,
                                                   uint64_t word0, size_t cn, double* accL,
                                                   double* accR) noexcept {
  slabChunk<S, kNarrowWidth<S>, kSlabsPerPass>(slabs, nSlabs, bl, br, word0, cn, accL, accR);
}

// With AVX-512, rows of eight doubles, one register each. Two slabs per
// pass while a slab is 32 KiB or less, else one: fewer read-modify-writes
// of the outputs save more than the second-level cache misses cost.
template <int S>
constexpr int kWidePerPass = S <= 2 ? 2 : 1;

template <int S>
__attribute__((target("avx512f"))) void slabChunkAvx512(const double* slabs, size_t nSlabs,
                                                        const uint8_t* bl, const uint8_t* br,
                                                        uint64_t word0, size_t cn, double* accL,
                                                        double* accR) noexcept {
  slabChunk<S, 8, kWidePerPass<S>>(slabs, nSlabs, bl, br, word0, cn, accL, accR);
}

bool haveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
#endif

// A kernel and the slab geometry it was built for.
struct SlabKernel {
  SlabChunkFn fn = nullptr;
  uint32_t width = 0;    // W
  uint32_t perPass = 0;  // P
};

template <int S>
SlabKernel pickSlabKernel() {
#if defined(SONVEX_HAVE_AVX2_PATH)
  if (S <= 4 && haveAvx512()) return {slabChunkAvx512<S>, 8, kWidePerPass<S>};
  if (haveAvx2Fma()) return {slabChunkAvx2<S>, kNarrowWidth<S>, kSlabsPerPass};
#endif
  return {slabChunkPortable<S>, kNarrowWidth<S>, kSlabsPerPass};
}

std::atomic<bool> gPortableSlabKernel{false};

SlabKernel slabKernelFor(uint32_t bytesPerWord) {
  static const SlabKernel kernels[4] = {pickSlabKernel<1>(), pickSlabKernel<2>(),
                                        pickSlabKernel<4>(), pickSlabKernel<8>()};
  static const SlabKernel portable[4] = {{slabChunkPortable<1>, kNarrowWidth<1>, kSlabsPerPass},
                                         {slabChunkPortable<2>, kNarrowWidth<2>, kSlabsPerPass},
                                         {slabChunkPortable<4>, kNarrowWidth<4>, kSlabsPerPass},
                                         {slabChunkPortable<8>, kNarrowWidth<8>, kSlabsPerPass}};
  const SlabKernel* k = gPortableSlabKernel.load() ? portable : kernels;
  switch (bytesPerWord) {
    case 1:
      return k[0];
    case 2:
      return k[1];
    case 4:
      return k[2];
    case 8:
      return k[3];
    default:
      return {};
  }
}
}  // namespace

struct DsdDecimator::Impl {
  uint32_t L, M;
  size_t len;
  bool tables = false;
  // Byte-table path: one table set per (phase, bit offset), index 8 a + o;
  // set a*8+o serves outputs of polyphase phase a whose first input bit sits
  // at offset o of its byte.
  std::vector<AlignedDoubles> table;
  std::vector<size_t> groups;
  std::vector<uint8_t> bytes[2];
  uint64_t byteStart = 0;
  size_t byteCount = 0;
  uint64_t nextOut = 0;
  uint64_t pushedBytes = 0;
  // Byte-aligned path in slabs (M = 8, 16, 32 or 64 with L = 1).
  AlignedDoubles slabs;
  size_t nSlabs = 0;
  uint32_t wordBytes = 0;  // S
  uint32_t slabWidth = 0;  // W
  SlabChunkFn slabFn = nullptr;
  // Expanded path.
  std::unique_ptr<PolyphaseResampler> poly;
  std::vector<double> expanded;

  uint64_t availableFor(uint64_t bytesPushed) const {
    const uint64_t total = outputsBefore(bytesPushed * 8 * L, len - 1, M);
    return total > nextOut ? total - nextOut : 0;
  }

  // First input bit output k reads: ceil(k M / L).
  uint64_t firstBit(uint64_t k) const { return (k * M + L - 1) / L; }

  void compact() {
    const uint64_t keep = std::min<uint64_t>(firstBit(nextOut) >> 3, byteStart + byteCount);
    const size_t drop = size_t(keep - byteStart);
    if (!drop) return;
    for (auto& b : bytes) std::memmove(b.data(), b.data() + drop, byteCount - drop);
    byteCount -= drop;
    byteStart += drop;
  }

  // Eight consecutive groups of one output.
  static inline double sum8(const double* t, const uint8_t* q) noexcept {
    return ((t[q[0]] + t[256 + q[1]]) + (t[512 + q[2]] + t[768 + q[3]])) +
           ((t[1024 + q[4]] + t[1280 + q[5]]) + (t[1536 + q[6]] + t[1792 + q[7]]));
  }

  // Byte-aligned outputs (M a multiple of 8): one table set. The sum runs
  // group-major over a chunk of outputs so that the eight tables in use
  // (16 KiB) stay in the first-level cache; the whole set does not.
  void computeAligned(double* out, size_t n) {
    constexpr size_t kChunk = 256;
    double acc[2][kChunk];
    const size_t step = M / 8;
    const double* table0 = table[0].p;
    const size_t G = groups[0];
    for (size_t c0 = 0; c0 < n; c0 += kChunk) {
      const size_t cn = std::min(kChunk, n - c0);
      const size_t first = size_t(((nextOut + c0) * M >> 3) - byteStart);
      std::fill(acc[0], acc[0] + cn, 0.0);
      std::fill(acc[1], acc[1] + cn, 0.0);
      const uint8_t* pl = bytes[0].data() + first;
      const uint8_t* pr = bytes[1].data() + first;
      size_t g = 0;
      for (; g + 16 <= G; g += 16) {
        const double* t = table0 + 256 * g;
        for (size_t k = 0; k < cn; ++k) {
          const uint8_t* q = pl + k * step + g;
          const uint8_t* u = pr + k * step + g;
          acc[0][k] += sum8(t, q) + sum8(t + 2048, q + 8);
          acc[1][k] += sum8(t, u) + sum8(t + 2048, u + 8);
        }
      }
      for (; g + 8 <= G; g += 8) {
        const double* t = table0 + 256 * g;
        for (size_t k = 0; k < cn; ++k) {
          acc[0][k] += sum8(t, pl + k * step + g);
          acc[1][k] += sum8(t, pr + k * step + g);
        }
      }
      for (; g < G; ++g) {
        const double* t = table0 + 256 * g;
        for (size_t k = 0; k < cn; ++k) {
          acc[0][k] += t[pl[k * step + g]];
          acc[1][k] += t[pr[k * step + g]];
        }
      }
      for (size_t k = 0; k < cn; ++k) {
        out[2 * (c0 + k)] = acc[0][k];
        out[2 * (c0 + k) + 1] = acc[1][k];
      }
    }
  }

  // Lays the single table set out as slabs for the byte-aligned kernel.
  void buildSlabs() {
    const uint32_t S = M / 8;
    const SlabKernel kernel = slabKernelFor(S);
    if (!kernel.fn) return;
    const size_t W = kernel.width, P = kernel.perPass, G = groups[0];
    const size_t words = (G + S - 1) / S;
    nSlabs = (words + W * P - 1) / (W * P) * P;
    slabs = AlignedDoubles(nSlabs * S * 256 * W);
    const double* t = table[0].p;
    for (size_t slab = 0; slab < nSlabs; ++slab)
      for (size_t r = 0; r < S; ++r)
        for (size_t v = 0; v < 256; ++v)
          for (size_t jj = 0; jj < W; ++jj) {
            const size_t g = S * (slab * W + W - 1 - jj) + r;
            slabs.p[((slab * S + r) * 256 + v) * W + jj] = g < G ? t[256 * g + v] : 0.0;
          }
    wordBytes = S;
    slabWidth = uint32_t(W);
    slabFn = kernel.fn;
    table[0] = AlignedDoubles();
  }

  void computeSlabs(double* out, size_t n) {
    const size_t W = slabWidth;
    alignas(64) double acc[2][kSlabChunk + 14];
    for (size_t c0 = 0; c0 < n; c0 += kSlabChunk) {
      const size_t cn = std::min(kSlabChunk, n - c0);
      const uint64_t word0 = nextOut + c0;
      const size_t first = size_t(word0 * wordBytes - byteStart);
      std::fill(acc[0], acc[0] + cn + 2 * (W - 1), 0.0);
      std::fill(acc[1], acc[1] + cn + 2 * (W - 1), 0.0);
      slabFn(slabs.p, nSlabs, bytes[0].data() + first, bytes[1].data() + first, word0, cn, acc[0],
             acc[1]);
      for (size_t k = 0; k < cn; ++k) {
        out[2 * (c0 + k)] = acc[0][k + W - 1];
        out[2 * (c0 + k) + 1] = acc[1][k + W - 1];
      }
    }
  }

  void compute(double* out, size_t n) {
    if (slabFn) {
      computeSlabs(out, n);
      return;
    }
    if (L == 1 && M % 8 == 0) {
      computeAligned(out, n);
      return;
    }
    const uint8_t* bl = bytes[0].data();
    const uint8_t* br = bytes[1].data();
    // k M kept as quotient and remainder by L, as in the polyphase engine.
    const uint64_t sPos = nextOut * M;
    uint64_t q = sPos / L, r = sPos % L;
    const uint64_t stepQ = M / L, stepR = M % L;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t a = r ? L - r : 0;
      const uint64_t bit = q + (r ? 1 : 0);
      const size_t set = size_t(8 * a + (bit & 7));
      const size_t b0 = size_t((bit >> 3) - byteStart);
      const double* t = table[set].p;
      const size_t G = groups[set];
      const uint8_t* pl = bl + b0;
      const uint8_t* pr = br + b0;
      double l0 = 0, l1 = 0, r0 = 0, r1 = 0;
      size_t g = 0;
      for (; g + 2 <= G; g += 2, t += 512) {
        l0 += t[pl[g]];
        r0 += t[pr[g]];
        l1 += t[256 + pl[g + 1]];
        r1 += t[256 + pr[g + 1]];
      }
      if (g < G) {
        l0 += t[pl[g]];
        r0 += t[pr[g]];
      }
      out[2 * i] = l0 + l1;
      out[2 * i + 1] = r0 + r1;
      q += stepQ;
      r += stepR;
      if (r >= L) {
        r -= L;
        ++q;
      }
    }
  }
};

DsdDecimator::DsdDecimator(const double* h, size_t len, uint32_t up, uint32_t down,
                           size_t blockBytes)
    : impl_(new Impl) {
  Impl& s = *impl_;
  s.L = up ? up : 1;
  s.M = down ? down : 1;
  s.len = len ? len : 1;
  const double zero = 0.0;
  const double* coef = len ? h : &zero;
  // Phase a takes taps a, a + L, a + 2L, ...; with L = 1 only the offsets
  // that k M mod 8 can reach are needed.
  const uint32_t step = s.L == 1 ? gcd32(s.M, 8) : 1;
  const auto phaseTaps = [&](uint32_t a) { return a < s.len ? (s.len - 1 - a) / s.L + 1 : 0; };
  size_t bytesNeeded = 0;
  for (uint32_t a = 0; a < s.L && bytesNeeded <= kTableLimitBytes; ++a)
    for (uint32_t o = 0; o < 8; o += step) bytesNeeded += ((phaseTaps(a) + o + 7) / 8) * 256 * 8;
  if (bytesNeeded <= kTableLimitBytes) {
    s.tables = true;
    s.table.resize(8 * size_t(s.L));
    s.groups.assign(8 * size_t(s.L), 0);
    for (uint32_t a = 0; a < s.L; ++a) {
      const size_t taps = phaseTaps(a);
      for (uint32_t o = 0; o < 8; o += step) {
        const size_t G = (taps + o + 7) / 8;
        const size_t set = 8 * size_t(a) + o;
        s.groups[set] = G;
        s.table[set] = AlignedDoubles(G * 256);
        double* t = s.table[set].p;
        for (size_t g = 0; g < G; ++g) {
          double c[8];
          for (int b = 0; b < 8; ++b) {
            const int64_t j = int64_t(8 * g + b) - int64_t(o);  // tap index within the phase
            c[b] = j >= 0 && size_t(j) < taps ? coef[a + size_t(j) * s.L] : 0.0;
          }
          for (int v = 0; v < 256; ++v) {
            double sum = 0.0;
            for (int b = 0; b < 8; ++b) sum += ((v >> (7 - b)) & 1) ? 2.0 * c[b] : -2.0 * c[b];
            t[256 * g + v] = sum;
          }
        }
      }
    }
    if (s.L == 1 && s.M % 8 == 0) s.buildSlabs();
    const size_t room = blockBytes + s.len / (8 * s.L) + 4 + kByteSlack;
    for (auto& b : s.bytes) b.resize(room);
    return;
  }
  s.poly.reset(new PolyphaseResampler(coef, s.len, s.L, s.M, 8 * blockBytes));
}

DsdDecimator::~DsdDecimator() = default;

bool DsdDecimator::usesTables() const { return impl_->tables; }

void DsdDecimator::reset() {
  Impl& s = *impl_;
  s.byteStart = 0;
  s.byteCount = 0;
  s.nextOut = 0;
  s.pushedBytes = 0;
  if (s.poly) s.poly->reset();
}

uint64_t DsdDecimator::inputBytesNeeded(size_t outFrames) const {
  const Impl& s = *impl_;
  if (!outFrames) return 0;
  if (s.poly) {
    const uint64_t frames = s.poly->inputNeeded(outFrames);
    return (frames + 7) / 8;
  }
  const uint64_t k = s.nextOut + outFrames - 1;
  const uint64_t lastBit = (k * s.M + s.len - 1) / s.L;
  const uint64_t need = lastBit / 8 + 1;
  return need > s.pushedBytes ? need - s.pushedBytes : 0;
}

void DsdDecimator::push(const uint8_t* left, const uint8_t* right, size_t count) {
  Impl& s = *impl_;
  if (!count) return;
  s.pushedBytes += count;
  if (s.poly) {
    // Idle pattern for a missing right channel, as the unpacking does.
    static const uint8_t idle[1] = {0x96};
    s.expanded.resize(2 * 8 * count);
    if (right) {
      expandDsdToPairs(left, right, 0, 8 * count, s.expanded.data());
    } else {
      std::vector<uint8_t> fill(count, idle[0]);
      expandDsdToPairs(left, fill.data(), 0, 8 * count, s.expanded.data());
    }
    s.poly->push(s.expanded.data(), 8 * count);
    return;
  }
  if (s.byteCount + count + kByteSlack > s.bytes[0].size()) {
    s.compact();
    if (s.byteCount + count + kByteSlack > s.bytes[0].size())
      for (auto& b : s.bytes) b.resize(s.byteCount + count + kByteSlack);
  }
  std::memcpy(s.bytes[0].data() + s.byteCount, left, count);
  if (right)
    std::memcpy(s.bytes[1].data() + s.byteCount, right, count);
  else
    std::memset(s.bytes[1].data() + s.byteCount, 0x96, count);
  s.byteCount += count;
}

size_t DsdDecimator::available() const {
  const Impl& s = *impl_;
  return s.poly ? s.poly->available() : size_t(s.availableFor(s.pushedBytes));
}

size_t DsdDecimator::maxOutputFrames(size_t inBytes) const {
  const Impl& s = *impl_;
  return s.poly ? s.poly->maxOutputFrames(8 * inBytes)
                : size_t(s.availableFor(s.pushedBytes + inBytes));
}

size_t DsdDecimator::pull(double* out, size_t maxFrames) {
  Impl& s = *impl_;
  if (s.poly) return s.poly->pull(out, maxFrames);
  const size_t n = size_t(std::min<uint64_t>(maxFrames, s.availableFor(s.pushedBytes)));
  if (!n) return 0;
  s.compute(out, n);
  s.nextOut += n;
  if (2 * ((s.firstBit(s.nextOut) >> 3) - s.byteStart) > s.byteCount) s.compact();
  return n;
}

double DsdDecimator::delayInputFrames() const {
  return double(impl_->len - 1) / 2.0 / double(impl_->L);
}

uint64_t DsdDecimator::pushedBytes() const { return impl_->pushedBytes; }

uint64_t DsdDecimator::pulledFrames() const {
  return impl_->poly ? impl_->poly->pulledFrames() : impl_->nextOut;
}

namespace detail {
void setPortableSlabKernel(bool on) noexcept { gPortableSlabKernel.store(on); }
}  // namespace detail

}  // namespace sonvex
