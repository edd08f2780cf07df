// Eighth-order double-precision modulator (design in dsdstage.h).
//
// Coefficients: computed offline in double by tools/dsd_ntf_design.py from
// the design in dsdstage.h (Legendre-root zeros at 20 kHz, maximally flat
// poles bisected to |H(-1)| = 1.4 at DSD64 and 1.3 above, the feedback
// vector from a least-squares fit of det(zI - A + a c') to D(z) at 24
// points on |z| = 2). g[k]: resonator k's local feedback, 2 - 2 cos(w_k);
// a[i]: the error gain of state i. The resonator pair (x[2k], x[2k+1]) updates as
//   x[2k]'   = x[2k] - g[k] x[2k+1] + x[2k-1] + a[2k] e
//   x[2k+1]' = x[2k+1] + x[2k]' + a[2k+1] e
// with e = u - v, v = +-1 the output, u the clamped input, and the
// quantiser input w = u + x[7] + dither. For the last pair, whose x[7]
// makes the next w, a e is computed as a u - (|a| with the sign of w) (all
// a[] are positive): the sign of w reaches the next w through an and, an or
// and one subtraction.
#include <algorithm>
#include <cstring>

#include "dsdstage.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#define SONVEX_PRECISION_SSE2 1
#else
#define SONVEX_PRECISION_SSE2 0
#endif

namespace sonvex {
namespace dsd {
namespace {

constexpr double kGDsd64[4] = {6.6702621462910727e-05, 0.00054747185230819007,
                               0.0012580275514109118, 0.0018277682283593943};
constexpr double kADsd64[8] = {
    6.0924348124310094e-08, 2.4664216630142659e-06, 4.6651988926383475e-05, 0.00059755177277540442,
    0.0055216254662584924,  0.035011367128956153,   0.17967122381613645,    0.49073908222600027};
constexpr double kGDsd128[4] = {1.6675724885617527e-05, 0.00013687264660711129,
                                0.00031453162038741489, 0.00045699426802969789};
constexpr double kADsd128[8] = {
    9.1303625788105488e-09, 4.6423975902205844e-07, 1.1594329213004267e-05, 0.00018749311324390422,
    0.0022292276874610606,  0.017991209601248712,   0.11538565031071918,    0.40855766307277513};
constexpr double kGDsd256[4] = {4.1689355663176997e-06, 3.4218454377121788e-05,
                                7.8634450940917588e-05, 0.00011425183037738762};
constexpr double kADsd256[8] = {
    9.2322525737513331e-09, 4.6453876545428391e-07, 1.1809831985776925e-05, 0.00018898467003644961,
    0.0022642078072025729,  0.018101654387746635,   0.11593838898805917,    0.40835244463084219};

// Input low-pass: fourth-order Butterworth at rate / 28.224 (100 kHz at
// DSD64), two sections 1 + 2/z + 1/z^2 over 1 + a1/z + a2/z^2 after the
// gain kPreGain; it keeps a DSD source's own ultrasonic noise out of the
// loop. Flat to 1e-5 dB at 20 kHz (DSD64); group delay 11.7 samples at
// every rate, so the delay line adds 5.
constexpr double kPreGain = 0.00011659830181559878;
constexpr double kPre[2][2] = {{-1.6201668087464842, 0.6611598072837459},
                               {-1.7986744459409214, 0.84418399380563347}};

constexpr int kIdleSign[8] = {-1, -1, +1, -1, +1, +1, -1, +1};
constexpr double kInputScale = 1.0 / 36028797018963968.0;  // 2^-55: feedback level = 1
constexpr double kDitherScale = 1.0 / 512 / 2147483648.0;  // int32 -> +-2^-9
constexpr size_t kChunkFrames = 512;                       // 8 KB of stack per call

inline uint64_t nextRandom(uint64_t& r) {
  r ^= r << 13;
  r ^= r >> 7;
  r ^= r << 17;
  return r;
}

inline void fillTable(PrecisionModulator::Lane& l) {
  for (int k = 0; k < 8; ++k) l.idleTable[k] = kIdleSign[k] * l.idleWeight;
}

inline void smoothIdle(PrecisionModulator::Lane& l) {
  if (l.idleWeight == l.idleTarget) return;
  l.idleWeight = l.idleTarget + l.smoothing * (l.idleWeight - l.idleTarget);
  fillTable(l);
}

inline uint8_t idleTail(unsigned used) { return static_cast<uint8_t>(kIdleByte & (0xffu >> used)); }

// Two lanes (left, right) of doubles: SSE2 where it exists, else plain.
#if SONVEX_PRECISION_SSE2
struct V2 {
  __m128d v;
};
inline V2 set(double l, double r) { return {_mm_set_pd(r, l)}; }
inline V2 splat(double x) { return {_mm_set1_pd(x)}; }
inline V2 load(const double* p) { return {_mm_loadu_pd(p)}; }
inline void store(double* p, V2 a) { _mm_storeu_pd(p, a.v); }
inline V2 operator+(V2 a, V2 b) { return {_mm_add_pd(a.v, b.v)}; }
inline V2 operator-(V2 a, V2 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline V2 operator*(V2 a, V2 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline V2 operator&(V2 a, V2 b) { return {_mm_and_pd(a.v, b.v)}; }
inline V2 operator|(V2 a, V2 b) { return {_mm_or_pd(a.v, b.v)}; }
// NaN in x lands on lo (maxpd returns its second operand).
inline V2 clamp(V2 x, V2 lo, V2 hi) { return {_mm_min_pd(_mm_max_pd(x.v, lo.v), hi.v)}; }
inline unsigned negativeMask(V2 a) { return static_cast<unsigned>(_mm_movemask_pd(a.v)); }
inline V2 absv(V2 a) { return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)}; }
inline V2 maxv(V2 a, V2 b) { return {_mm_max_pd(a.v, b.v)}; }
inline unsigned greaterMask(V2 a, V2 b) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpgt_pd(a.v, b.v)));
}
// The two signed 32-bit halves of r, as doubles.
inline V2 halves(uint64_t r) {
  return {_mm_cvtepi32_pd(_mm_cvtsi64_si128(static_cast<long long>(r)))};
}
#else
struct V2 {
  double v[2];
};
inline uint64_t bits(double x) {
  uint64_t b;
  std::memcpy(&b, &x, 8);
  return b;
}
inline double real(uint64_t b) {
  double x;
  std::memcpy(&x, &b, 8);
  return x;
}
inline V2 set(double l, double r) { return {{l, r}}; }
inline V2 splat(double x) { return {{x, x}}; }
inline V2 load(const double* p) { return {{p[0], p[1]}}; }
inline void store(double* p, V2 a) { p[0] = a.v[0], p[1] = a.v[1]; }
inline V2 operator+(V2 a, V2 b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1]}}; }
inline V2 operator-(V2 a, V2 b) { return {{a.v[0] - b.v[0], a.v[1] - b.v[1]}}; }
inline V2 operator*(V2 a, V2 b) { return {{a.v[0] * b.v[0], a.v[1] * b.v[1]}}; }
inline V2 operator&(V2 a, V2 b) {
  return {{real(bits(a.v[0]) & bits(b.v[0])), real(bits(a.v[1]) & bits(b.v[1]))}};
}
inline V2 operator|(V2 a, V2 b) {
  return {{real(bits(a.v[0]) | bits(b.v[0])), real(bits(a.v[1]) | bits(b.v[1]))}};
}
inline double clamp1(double x, double lo, double hi) { return x > lo ? (x < hi ? x : hi) : lo; }
inline V2 clamp(V2 x, V2 lo, V2 hi) {
  return {{clamp1(x.v[0], lo.v[0], hi.v[0]), clamp1(x.v[1], lo.v[1], hi.v[1])}};
}
inline unsigned negativeMask(V2 a) {
  return unsigned(bits(a.v[0]) >> 63) | unsigned(bits(a.v[1]) >> 63) << 1;
}
inline V2 absv(V2 a) { return {{a.v[0] < 0 ? -a.v[0] : a.v[0], a.v[1] < 0 ? -a.v[1] : a.v[1]}}; }
inline V2 maxv(V2 a, V2 b) { return {{std::max(a.v[0], b.v[0]), std::max(a.v[1], b.v[1])}}; }
inline unsigned greaterMask(V2 a, V2 b) {
  return unsigned(a.v[0] > b.v[0]) | unsigned(a.v[1] > b.v[1]) << 1;
}
inline V2 halves(uint64_t r) {
  return {{double(static_cast<int32_t>(r)), double(static_cast<int32_t>(r >> 32))}};
}
#endif

// Even bits (0, 2, .., 14) of x packed into one byte.
inline unsigned evenBits(unsigned x) {
  x &= 0x5555;
  x = (x | (x >> 1)) & 0x3333;
  x = (x | (x >> 2)) & 0x0f0f;
  return (x | (x >> 4)) & 0xff;
}

struct Loop {
  V2 x[8];
  V2 f[4];  // input low-pass state, two per section
  V2 pre[2][2];
  V2 g[4], a[8], aFb6, aFb7;  // error gains; |a| of the last pair for the sign trick
  V2 scale, lo, hi, sign, one, ditherScale;

  // One sample; returns the two lanes' sign bits of w (1 = output bit 0).
  template <bool Idle>
  inline unsigned step(V2 in, V2 idle, uint64_t& rng) {
    // Transposed direct form; the idle pattern joins after the filter.
    V2 y = in * scale;
    // Unrolled, so that the state stays in registers.
#pragma GCC unroll 2
    for (int k = 0; k < 2; ++k) {
      const V2 o = y + f[2 * k];
      f[2 * k] = (y + y + f[2 * k + 1]) - pre[k][0] * o;
      f[2 * k + 1] = y - pre[k][1] * o;
      y = o;
    }
    const V2 u = clamp(Idle ? y + idle : y, lo, hi);
    const V2 w = u + x[7] + halves(nextRandom(rng)) * ditherScale;
    const V2 s = w & sign;
    const V2 e = u - (one | s);
    V2 n[8];
    // The last pair feeds the next w: the sign reaches it through the
    // or and one subtraction only; the other pairs take e.
    const V2 t = x[6] - g[3] * x[7] + x[5] + a[6] * u;
    n[6] = t - (aFb6 | s);
    n[7] = x[7] + t + a[7] * u - (aFb7 | s);
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      const int i = 2 * k, j = i + 1;
      n[i] = x[i] - g[k] * x[j] + a[i] * e;
      if (k > 0) n[i] = n[i] + x[i - 1];
      n[j] = x[j] + n[i] + a[j] * e;
    }
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) x[i] = n[i];
    return negativeMask(w);
  }
};

}  // namespace

void PrecisionModulator::reset(uint32_t rate) {
  const bool dsd64 = rate < 4233600, dsd128 = rate < 8467200;
  g_ = dsd64 ? kGDsd64 : dsd128 ? kGDsd128 : kGDsd256;
  a_ = dsd64 ? kADsd64 : dsd128 ? kADsd128 : kADsd256;
  for (int c = 0; c < 2; ++c) {
    Lane& l = lane_[c];
    std::memset(l.x, 0, sizeof l.x);
    std::memset(l.f, 0, sizeof l.f);
    l.idleWeight = 0.0;
    l.idleTarget = 0.0;
    l.smoothing = kIdleSmoothing;
    fillTable(l);
  }
  std::memset(delayLine_, 0, sizeof delayLine_);
  rng_ = 0x9e3779b97f4a7c15ull;
  guardTrips_ = 0;
  peakState_ = 0.0;
}

void PrecisionModulator::setSmoothing(double left, double right) {
  lane_[0].smoothing = left;
  lane_[1].smoothing = right;
}

void PrecisionModulator::run(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                             const double idleTarget[2], const bool shutdown[2]) {
  for (int c = 0; c < 2; ++c) {
    Lane& l = lane_[c];
    l.idleTarget = idleTarget[c];
    if (l.idleWeight != l.idleTarget && l.idleWeight - l.idleTarget < 5e-5 &&
        l.idleTarget - l.idleWeight < 5e-5) {
      l.idleWeight = l.idleTarget;
      fillTable(l);
    }
  }
  const size_t bytes = (frames + 7) / 8;
  if (shutdown[0] && shutdown[1]) {
    // Both covered by the idle pattern: nothing to run (fed the full idle
    // pattern the loop would only clip it and wind up); start from rest.
    std::memset(outL, kIdleByte, bytes);
    std::memset(outR, kIdleByte, bytes);
    std::memset(delayLine_, 0, sizeof delayLine_);
    for (Lane& l : lane_) {
      std::memset(l.x, 0, sizeof l.x);
      std::memset(l.f, 0, sizeof l.f);
      for (size_t j = 0; j < bytes && l.idleWeight != l.idleTarget; ++j) smoothIdle(l);
    }
    return;
  }
  // The delay line: each chunk runs on the kept frames followed by the
  // chunk minus as many at its end, which are kept for the next.
  constexpr size_t kD = kPrecisionLineDelay;
  double buf[2 * (kChunkFrames + kD)];
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(kChunkFrames, frames - done);
    std::memcpy(buf, delayLine_, sizeof delayLine_);
    std::memcpy(buf + 2 * kD, pcm + 2 * done, 2 * n * sizeof(double));
    std::memcpy(delayLine_, buf + 2 * n, sizeof delayLine_);
    chunk(buf, n, outL + done / 8, outR + done / 8);
    done += n;
  }
  for (int c = 0; c < 2; ++c) {
    if (!shutdown[c]) continue;
    std::memset(c == 0 ? outL : outR, kIdleByte, bytes);
    std::memset(lane_[c].x, 0, sizeof lane_[c].x);
  }
}

void PrecisionModulator::chunk(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR) {
  Lane& ll = lane_[0];
  Lane& lr = lane_[1];
  Loop L;
  for (int i = 0; i < 8; ++i) L.x[i] = set(ll.x[i], lr.x[i]);
  for (int i = 0; i < 4; ++i) L.f[i] = set(ll.f[i], lr.f[i]);
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 2; ++i) L.pre[k][i] = splat(kPre[k][i]);
  for (int k = 0; k < 4; ++k) L.g[k] = splat(g_[k]);
  for (int i = 0; i < 8; ++i) L.a[i] = splat(a_[i]);
  L.aFb6 = splat(a_[6]);
  L.aFb7 = splat(a_[6] + a_[7]);
  L.one = splat(1.0);
  L.scale = splat(kInputScale * kPreGain);
  L.lo = splat(-kPrecisionInputLimit);
  L.hi = splat(kPrecisionInputLimit);
  L.sign = splat(-0.0);
  L.ditherScale = splat(kDitherScale);
  const V2 limit = splat(kPrecisionStateLimit);
  const V2 filterLimit = splat(1e300);
  V2 peak = splat(0.0);
  uint64_t rng = rng_;
  const size_t bytes = (frames + 7) / 8;
  for (size_t j = 0; j < bytes; ++j) {
    const double* p = pcm + 16 * j;
    const unsigned used = frames - 8 * j < 8 ? static_cast<unsigned>(frames - 8 * j) : 8u;
    unsigned negative = 0;  // two bits per sample, left low
    const bool idle = ll.idleWeight != 0.0 || lr.idleWeight != 0.0;
    if (used == 8 && !idle) {
      const V2 zero = splat(0.0);
      for (int k = 0; k < 8; ++k)
        negative = (negative << 2) | L.step<false>(load(p + 2 * k), zero, rng);
    } else {
      for (unsigned k = 0; k < used; ++k)
        negative = (negative << 2) |
                   L.step<true>(load(p + 2 * k), set(ll.idleTable[k], lr.idleTable[k]), rng);
    }
    unsigned byteL = ~evenBits(negative) & ((1u << used) - 1);
    unsigned byteR = ~evenBits(negative >> 1) & ((1u << used) - 1);
    if (used < 8) {
      byteL = (byteL << (8 - used)) | idleTail(used);
      byteR = (byteR << (8 - used)) | idleTail(used);
    }
    outL[j] = static_cast<uint8_t>(byteL);
    outR[j] = static_cast<uint8_t>(byteR);
    const V2 mag = absv(L.x[7]);
    peak = maxv(peak, mag);
    // Lost track: clear the lane (greaterMask is false for NaN, so test
    // the negation of the in-range case).
    const unsigned inRange = greaterMask(limit, mag);
    if (inRange != 3) {
      alignas(16) double xs[8][2];
      for (int i = 0; i < 8; ++i) store(xs[i], L.x[i]);
      for (int c = 0; c < 2; ++c)
        if (!(inRange & (1u << c)))
          for (int i = 0; i < 8; ++i) xs[i][c] = 0.0;
      for (int i = 0; i < 8; ++i) L.x[i] = load(xs[i]);
      ++guardTrips_;
    }
    // A NaN or infinity in the input would stay in the low-pass for good
    // (the clamp keeps it out of the loop): start the filter afresh.
    const unsigned finite =
        greaterMask(filterLimit, absv(L.f[0])) & greaterMask(filterLimit, absv(L.f[2]));
    if (finite != 3) {
      alignas(16) double fs[4][2];
      for (int i = 0; i < 4; ++i) store(fs[i], L.f[i]);
      for (int c = 0; c < 2; ++c)
        if (!(finite & (1u << c)))
          for (int i = 0; i < 4; ++i) fs[i][c] = 0.0;
      for (int i = 0; i < 4; ++i) L.f[i] = load(fs[i]);
    }
    smoothIdle(ll);
    smoothIdle(lr);
  }
  rng_ = rng;
  alignas(16) double xs[8][2];
  for (int i = 0; i < 8; ++i) {
    store(xs[i], L.x[i]);
    ll.x[i] = xs[i][0];
    lr.x[i] = xs[i][1];
  }
  for (int i = 0; i < 4; ++i) {
    store(xs[i], L.f[i]);
    ll.f[i] = xs[i][0];
    lr.f[i] = xs[i][1];
  }
  alignas(16) double pk[2];
  store(pk, peak);
  peakState_ = std::max(peakState_, std::max(pk[0], pk[1]));
}

}  // namespace dsd
}  // namespace sonvex
