// Fixed-point fifth-order delta-sigma modulator, two lanes.
//
// Per sample and lane, with every right-hand side taken before the update
// (wrap-around 64-bit integers, >> arithmetic):
//   bit = Q >= 0                      (output, most significant bit first)
//   v   = +-2^55 by the sign of S4, +-3*2^55 when |S4| > 3*2^55 (upper word)
//   b   = +-2^55 by bit
//   u   = trunc(p + idleTable[k])
//   S0 += u - v;  S1 += (S0 >> 4) - v;  S2 += (S1 >> 3) - v;
//   S3 += (S2 >> 2) - v;  S4 += (S3 >> 1) - v;  Q += v - b
//
// Choices where the equations leave room, chosen so the produced stream is
// what a listener wants:
// - Stability guard: checked after every output byte on S0, the first
//   integrator of the cascade: it is the one that runs away first under
//   overload (from about +3.5 dB above PCM full scale; a +3 dB sine stays stable
//   thanks to the four-level quantiser), while S1 stays inside its limit even
//   when the loop has long lost track. A trip clears S0..S4 of both lanes.
// - Hold-off: a trip also halves an overload gain applied to the input of
//   both lanes (down to 1/16) and holds it for the 5000 bytes of the
//   hold-off; afterwards the gain recovers smoothly, doubling over 65536
//   bytes, back to exactly 1.0. A sustained overload thus settles at a level
//   the loop can track instead of restarting the loop byte after byte, and
//   the waveform keeps its shape: a per-sample clamp would be wrong for a
//   re-modulated DSD source, whose every sample is at twice PCM full scale.
//   Outside an overload the gain is exactly 1.0 and changes nothing.
// - Inputs beyond +-2^62 (and NaN) are clamped before the integer
//   conversion; only values that could not be converted at all are affected.
// - Shut-down (transition loop), per lane whose output is covered by the
//   idle pattern: the loop is opened (no input, no feedback, Q = 0) and the
//   integrators are run down one after another, S0 first. Each output byte
//   halves the integrator of the current step; the step is done when the
//   sign-folded magnitude shifted right by (55 - shift) is zero, shifts
//   8, 12, 15, 17, 18 for S0..S4 (below 2^47, 2^43, 2^40, 2^38, 2^37), and
//   the integrator is then set to exactly 0. Bits 0..4 of Lane::shutdown
//   record the steps; bit 5 is set once steps 0..2 are done and S0 and S1
//   are exactly zero: the lane is quiescent. Modulation resumes from that
//   state when the lane is wanted again: the loop restarts with empty
//   integrators, so no stored charge turns into a step or thump.
// - Loop choice: the steady-state loop (two lanes in one vector register
//   where SSE2 exists) whenever no lane is shut down, and outside the
//   guard's hold-off; the scalar transition loop while a lane is shut down.
//   A pending switch between source and modulated bits needs nothing from
//   the modulator: it runs on without a break and the splice only chooses
//   which stream goes out, so both loops give the same bits there.
#include <algorithm>
#include <cstring>

#include "dsdstage.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#define SONVEX_DSD_SSE2 1
#else
#define SONVEX_DSD_SSE2 0
#endif

namespace sonvex {
namespace dsd {
namespace {

constexpr int kIdleSign[8] = {-1, -1, +1, -1, +1, +1, -1, +1};
constexpr int kShutdownShift[5] = {8, 12, 15, 17, 18};
constexpr uint32_t kQuiescent = 0x20;
constexpr double kInputLimit = 4611686018427387904.0;  // 2^62
constexpr double kMinOverloadGain = 1.0 / 16;
constexpr double kGainRecovery = 1.0000105766425498;  // 2^(1/65536) per byte
constexpr int32_t kThreeFeedbackHigh = 0x01800000;    // upper word of 3 * 2^55

inline int64_t wrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t wrapSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int32_t foldedHigh(int64_t x) {
  const int32_t hi = static_cast<int32_t>(x >> 32);
  return hi ^ (hi >> 31);
}
inline int64_t toInteger(double x) {
  // NaN fails the first test and lands on the lower limit.
  const double c = x > -kInputLimit ? (x < kInputLimit ? x : kInputLimit) : -kInputLimit;
  return static_cast<int64_t>(c);
}

struct Regs {
  int64_t s0, s1, s2, s3, s4, q;
};

inline Regs load(const Modulator::Lane& l) {
  return Regs{l.s[0], l.s[1], l.s[2], l.s[3], l.s[4], l.q};
}
inline void store(const Regs& r, Modulator::Lane& l) {
  l.s[0] = r.s0;
  l.s[1] = r.s1;
  l.s[2] = r.s2;
  l.s[3] = r.s3;
  l.s[4] = r.s4;
  l.q = r.q;
}

// One sample of one lane; returns the output bit.
inline unsigned step(Regs& r, int64_t u) {
  const unsigned bit = r.q >= 0;
  const int64_t sign = r.s4 >> 63;
  int64_t v = (kFeedback ^ sign) - sign;
  if (foldedHigh(r.s4) > kThreeFeedbackHigh) v *= 3;
  const int64_t b = bit ? kFeedback : -kFeedback;
  const int64_t s0 = r.s0, s1 = r.s1, s2 = r.s2, s3 = r.s3;
  r.s0 = wrapSub(wrapAdd(s0, u), v);
  r.s1 = wrapSub(wrapAdd(s1, s0 >> 4), v);
  r.s2 = wrapSub(wrapAdd(s2, s1 >> 3), v);
  r.s3 = wrapSub(wrapAdd(s3, s2 >> 2), v);
  r.s4 = wrapSub(wrapAdd(r.s4, s3 >> 1), v);
  r.q = wrapSub(wrapAdd(r.q, v), b);
  return bit;
}

inline void fillTable(Modulator::Lane& l) {
  const double a = static_cast<double>(kFeedback) * l.idleWeight;
  for (int k = 0; k < 8; ++k) l.idleTable[k] = kIdleSign[k] * a;
}

// Once per output byte: weight towards its target, table from the weight.
inline void smoothIdle(Modulator::Lane& l) {
  if (l.idleWeight == l.idleTarget) return;
  l.idleWeight = l.idleTarget + l.smoothing * (l.idleWeight - l.idleTarget);
  fillTable(l);
}

// One byte of the shut-down sequence of a covered lane.
inline void shutdownByte(Modulator::Lane& l) {
  l.q = 0;
  for (int j = 0; j < 5; ++j) {
    const uint32_t bit = 1u << j;
    if (l.shutdown & bit) continue;
    int64_t& s = l.s[j];
    s >>= 1;
    const int64_t folded = s ^ (s >> 63);
    if ((folded >> (55 - kShutdownShift[j])) == 0) {
      s = 0;
      l.shutdown |= bit;
    }
    break;  // one step at a time, in order
  }
  if ((l.shutdown & 0x7) == 0x7 && l.s[0] == 0 && l.s[1] == 0) l.shutdown |= kQuiescent;
}

// Bits of the idle byte for positions >= used (completion of a partial byte).
inline uint8_t idleTail(unsigned used) { return static_cast<uint8_t>(kIdleByte & (0xffu >> used)); }

}  // namespace

void Modulator::reset() {
  for (Lane& l : lane_) {
    std::memset(l.s, 0, sizeof l.s);
    l.q = 0;
    l.idleWeight = 0.0;
    l.idleTarget = 0.0;
    l.smoothing = kIdleSmoothing;
    l.shutdown = 0;
    fillTable(l);
  }
  holdOff_ = 0;
  overloadGain_ = 1.0;
  guardTrips_ = 0;
}

void Modulator::trip() {
  holdOff_ = kGuardHoldOff;
  overloadGain_ = std::max(overloadGain_ * 0.5, kMinOverloadGain);
  ++guardTrips_;
}

void Modulator::setSmoothing(double left, double right) {
  lane_[0].smoothing = left;
  lane_[1].smoothing = right;
}

bool Modulator::inTransition() const {
  for (const Lane& l : lane_)
    if (l.shutdown != 0) return true;
  return false;
}

void Modulator::run(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                    const double idleTarget[2], const bool shutdown[2]) {
  for (int c = 0; c < 2; ++c) {
    Lane& l = lane_[c];
    l.idleTarget = idleTarget[c];
    if (l.idleWeight != l.idleTarget && l.idleWeight - l.idleTarget < 5e-5 &&
        l.idleTarget - l.idleWeight < 5e-5) {
      l.idleWeight = l.idleTarget;
      fillTable(l);
    }
    // A lane that is wanted again restarts from the state the shut-down
    // left (empty integrators once it completed).
    if (!shutdown[c]) l.shutdown = 0;
  }
  if (shutdown[0] || shutdown[1]) {
    loop<true>(pcm, frames, outL, outR, shutdown);
    return;
  }
#if SONVEX_DSD_SSE2
  // Whole bytes outside the guard's hold-off go through the two-lane
  // vector loop; the hold-off and a partial last byte through the scalar one.
  const size_t whole = frames / 8;
  size_t j = 0;
  while (j < whole) {
    if (holdOff_ == 0 && overloadGain_ == 1.0) {
      j += steadyVector(pcm + 16 * j, whole - j, outL + j, outR + j);
    } else {
      const size_t n = std::min(whole - j, static_cast<size_t>(holdOff_ > 0 ? holdOff_ : 4096));
      loop<false>(pcm + 16 * j, 8 * n, outL + j, outR + j, shutdown);
      j += n;
    }
  }
  if (frames > 8 * whole)
    loop<false>(pcm + 16 * whole, frames - 8 * whole, outL + whole, outR + whole, shutdown);
#else
  loop<false>(pcm, frames, outL, outR, shutdown);
#endif
}

#if SONVEX_DSD_SSE2
namespace {

// Arithmetic right shift of both 64-bit lanes (SSE2 has none): with the sign
// bit flipped the value is offset by 2^63, so floor(x / 2^s) is the logical
// shift of that minus 2^(63 - s).
template <int S>
inline __m128i sra64(__m128i x) {
  const __m128i flip = _mm_set1_epi64x(INT64_MIN);
  const __m128i offset = _mm_set1_epi64x(int64_t(1) << (63 - S));
  return _mm_sub_epi64(_mm_srli_epi64(_mm_xor_si128(x, flip), S), offset);
}

// All ones in both halves of a lane whose 64-bit value is negative.
inline __m128i sign64(__m128i x) {
  return _mm_shuffle_epi32(_mm_srai_epi32(x, 31), _MM_SHUFFLE(3, 3, 1, 1));
}

// Even bits (0, 2, .., 14) of x packed into one byte.
inline unsigned evenBits(unsigned x) {
  x &= 0x5555;
  x = (x | (x >> 1)) & 0x3333;
  x = (x | (x >> 2)) & 0x0f0f;
  return (x | (x >> 4)) & 0xff;
}

}  // namespace

// The steady-state loop on both lanes at once (left in the low half). Runs
// up to `bytes` whole output bytes and stops after a guard trip; returns the
// bytes done. Bit-exact with the scalar loop.
size_t Modulator::steadyVector(const double* pcm, size_t bytes, uint8_t* outL, uint8_t* outR) {
  Lane& ll = lane_[0];
  Lane& lr = lane_[1];
  __m128i s0 = _mm_set_epi64x(lr.s[0], ll.s[0]), s1 = _mm_set_epi64x(lr.s[1], ll.s[1]),
          s2 = _mm_set_epi64x(lr.s[2], ll.s[2]), s3 = _mm_set_epi64x(lr.s[3], ll.s[3]),
          s4 = _mm_set_epi64x(lr.s[4], ll.s[4]), q = _mm_set_epi64x(lr.q, ll.q);
  const __m128i feedback = _mm_set1_epi64x(kFeedback);
  const __m128i three = _mm_set1_epi32(kThreeFeedbackHigh);
  const __m128i guard = _mm_set1_epi32(kGuardLimit);
  const __m128d lo = _mm_set1_pd(-kInputLimit), hi = _mm_set1_pd(kInputLimit);
  size_t j = 0;
  while (j < bytes) {
    const double* p = pcm + 16 * j;
    const bool idle = ll.idleWeight != 0.0 || lr.idleWeight != 0.0;
    unsigned negative = 0;  // sign bits of Q, two per sample (left low)
    for (int k = 0; k < 8; ++k) {
      __m128d x = _mm_loadu_pd(p + 2 * k);
      if (idle) x = _mm_add_pd(x, _mm_set_pd(lr.idleTable[k], ll.idleTable[k]));
      // maxpd returns its second operand for NaN: NaN lands on the lower limit.
      x = _mm_min_pd(_mm_max_pd(x, lo), hi);
      const __m128i u = _mm_set_epi64x(_mm_cvttsd_si64(_mm_unpackhi_pd(x, x)), _mm_cvttsd_si64(x));

      const __m128i t = _mm_srai_epi32(s4, 31);
      const __m128i sign = _mm_shuffle_epi32(t, _MM_SHUFFLE(3, 3, 1, 1));
      const __m128i big =
          _mm_shuffle_epi32(_mm_cmpgt_epi32(_mm_xor_si128(s4, t), three), _MM_SHUFFLE(3, 3, 1, 1));
      __m128i v = _mm_sub_epi64(_mm_xor_si128(feedback, sign), sign);
      v = _mm_add_epi64(v, _mm_and_si128(_mm_add_epi64(v, v), big));
      const __m128i qs = sign64(q);
      const __m128i b = _mm_sub_epi64(_mm_xor_si128(feedback, qs), qs);
      negative = (negative << 2) | static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(q)));

      const __m128i n0 = _mm_sub_epi64(_mm_add_epi64(s0, u), v);
      const __m128i n1 = _mm_sub_epi64(_mm_add_epi64(s1, sra64<4>(s0)), v);
      const __m128i n2 = _mm_sub_epi64(_mm_add_epi64(s2, sra64<3>(s1)), v);
      const __m128i n3 = _mm_sub_epi64(_mm_add_epi64(s3, sra64<2>(s2)), v);
      s4 = _mm_sub_epi64(_mm_add_epi64(s4, sra64<1>(s3)), v);
      s0 = n0;
      s1 = n1;
      s2 = n2;
      s3 = n3;
      q = _mm_sub_epi64(_mm_add_epi64(q, v), b);
    }
    outL[j] = static_cast<uint8_t>(~evenBits(negative));
    outR[j] = static_cast<uint8_t>(~evenBits(negative >> 1));
    ++j;
    smoothIdle(ll);
    smoothIdle(lr);
    // Stability guard on the upper words of S0.
    const __m128i t0 = _mm_srai_epi32(s0, 31);
    const __m128i over = _mm_cmpgt_epi32(_mm_xor_si128(s0, t0), guard);
    if (_mm_movemask_ps(_mm_castsi128_ps(over)) & 0xa) {
      s0 = s1 = s2 = s3 = s4 = _mm_setzero_si128();
      trip();
      break;
    }
  }
  alignas(16) int64_t lanes[2];
  __m128i* regs[6] = {&s0, &s1, &s2, &s3, &s4, &q};
  for (int i = 0; i < 6; ++i) {
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), *regs[i]);
    (i < 5 ? ll.s[i] : ll.q) = lanes[0];
    (i < 5 ? lr.s[i] : lr.q) = lanes[1];
  }
  return j;
}
#endif

template <bool Transition>
void Modulator::loop(const double* pcm, size_t frames, uint8_t* outL, uint8_t* outR,
                     const bool shutdown[2]) {
  Lane& ll = lane_[0];
  Lane& lr = lane_[1];
  Regs rl = load(ll), rr = load(lr);
  const bool runL = !Transition || !shutdown[0];
  const bool runR = !Transition || !shutdown[1];
  const size_t bytes = (frames + 7) / 8;
  for (size_t j = 0; j < bytes; ++j) {
    const double* p = pcm + 16 * j;
    const unsigned used = frames - 8 * j < 8 ? static_cast<unsigned>(frames - 8 * j) : 8u;
    unsigned byteL = 0, byteR = 0;
    if (used == 8 && overloadGain_ == 1.0) {
      for (int k = 0; k < 8; ++k) {
        if (runL) byteL = (byteL << 1) | step(rl, toInteger(p[2 * k] + ll.idleTable[k]));
        if (runR) byteR = (byteR << 1) | step(rr, toInteger(p[2 * k + 1] + lr.idleTable[k]));
      }
    } else {
      for (unsigned k = 0; k < used; ++k) {
        double inL = p[2 * k], inR = p[2 * k + 1];
        if (overloadGain_ != 1.0) {
          inL *= overloadGain_;
          inR *= overloadGain_;
        }
        if (runL) byteL = (byteL << 1) | step(rl, toInteger(inL + ll.idleTable[k]));
        if (runR) byteR = (byteR << 1) | step(rr, toInteger(inR + lr.idleTable[k]));
      }
      byteL = (byteL << (8 - used)) | idleTail(used);
      byteR = (byteR << (8 - used)) | idleTail(used);
    }
    if (Transition) {
      if (!runL) {
        store(rl, ll);
        shutdownByte(ll);
        rl = load(ll);
        byteL = kIdleByte;
      }
      if (!runR) {
        store(rr, lr);
        shutdownByte(lr);
        rr = load(lr);
        byteR = kIdleByte;
      }
    }
    outL[j] = static_cast<uint8_t>(byteL);
    outR[j] = static_cast<uint8_t>(byteR);

    // Stability guard on the first integrator of both lanes.
    if (foldedHigh(rl.s0) > kGuardLimit || foldedHigh(rr.s0) > kGuardLimit) {
      rl.s0 = rl.s1 = rl.s2 = rl.s3 = rl.s4 = 0;
      rr.s0 = rr.s1 = rr.s2 = rr.s3 = rr.s4 = 0;
      trip();
    } else if (holdOff_ > 0) {
      --holdOff_;
    } else if (overloadGain_ != 1.0) {
      overloadGain_ *= kGainRecovery;
      if (overloadGain_ >= 1.0) overloadGain_ = 1.0;
    }
    smoothIdle(ll);
    smoothIdle(lr);
  }
  store(rl, ll);
  store(rr, lr);
}

}  // namespace dsd
}  // namespace sonvex
