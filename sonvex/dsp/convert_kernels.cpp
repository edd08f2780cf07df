#include "convert_kernels.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sonvex::convert {

namespace {

inline int32_t le24(const uint8_t* p) {
  // Bits 8..31 of a signed word, so the sign comes from the top byte.
  return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
}

inline int32_t le32s(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return int32_t(v);
}

}  // namespace

int unpackPcm(const uint8_t* bytes, size_t frames, uint32_t channels, uint32_t bits,
              uint16_t formatTag, double* out) {
  if (channels != 1 && channels != 2) return kConvertErrWavUnpack;
  const size_t n = frames * channels;
  // Decode every sample into a flat run first, then spread mono.
  double* flat = out;
  if (channels == 1) flat = out + frames;  // upper half; spread downwards below
  switch (bits) {
    case 8:  // unsigned, offset by 128
      for (size_t i = 0; i < n; ++i) flat[i] = double(int(bytes[i]) - 128) * (1.0 / 128.0);
      break;
    case 16:
      for (size_t i = 0; i < n; ++i)
        flat[i] = double(int16_t(uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8))) * (1.0 / 32768.0);
      break;
    case 24:
      for (size_t i = 0; i < n; ++i) flat[i] = double(le24(bytes + 3 * i)) * (1.0 / 2147483648.0);
      break;
    case 32:
      if (formatTag == 3) {
        for (size_t i = 0; i < n; ++i) {
          float f;
          std::memcpy(&f, bytes + 4 * i, 4);
          flat[i] = double(f);
        }
      } else {
        for (size_t i = 0; i < n; ++i)
          flat[i] = double(le32s(bytes + 4 * i)) * (1.0 / 2147483648.0);
      }
      break;
    case 64:
      std::memcpy(flat, bytes, n * 8);
      break;
    default:
      return kConvertErrWavUnpack;
  }
  if (channels == 1) {
    for (size_t i = 0; i < frames; ++i) {
      out[2 * i] = flat[i];  // 2i <= frames + i: never overwrites unread samples
      out[2 * i + 1] = 0.0;
    }
  }
  return kSonvexOk;
}

void dsdToDoubles(const uint8_t* bytes, size_t firstBit, size_t frames, int lane, double* out) {
  for (size_t i = 0; i < frames; ++i) {
    const size_t b = firstBit + i;
    const int bit = (bytes[b >> 3] >> (7 - (b & 7))) & 1;
    out[2 * i + size_t(lane)] = bit ? 2.0 : -2.0;
  }
}

LevelEnvelope::LevelEnvelope(const LevelPoint* points, int64_t firstFrame) {
  std::memset(points_, 0, sizeof(points_));
  if (points) {
    for (int i = 0; i < kLevelPointMax && points[i].position >= 0; ++i)
      points_[count_++] = points[i];
  }
  position_ = firstFrame;
  if (count_ == 0) {
    // No envelope at all: unity throughout.
    level_ = 1.0;
    return;
  }
  if (firstFrame < points_[0].position) {
    segment_ = -1;
    level_ = 0.0;
    return;
  }
  segment_ = count_ - 1;
  level_ = points_[count_ - 1].level;
  for (int i = 1; i < count_; ++i) {
    if (points_[i - 1].position <= firstFrame && firstFrame < points_[i].position) {
      const LevelPoint& a = points_[i - 1];
      const LevelPoint& b = points_[i];
      level_ = a.level + (b.level - a.level) / double(b.position - a.position) *
                             double(firstFrame - a.position);
      segment_ = i - 1;
      break;
    }
  }
}

double LevelEnvelope::next() {
  if (count_ == 0) {
    ++position_;
    return level_;
  }
  while (segment_ + 1 < count_ && position_ >= points_[segment_ + 1].position) ++segment_;
  if (segment_ >= 0) {
    const LevelPoint& p = points_[segment_];
    if (p.shape == 1 || p.shape == -1)
      level_ += p.increment;
    else
      level_ = p.level;
  }
  ++position_;
  return level_;
}

bool LevelEnvelope::fill(double* levels, size_t n) {
  // Fast path: a hold segment (or no envelope) that lasts the whole block.
  if (count_ == 0 || segment_ >= 0) {
    const bool hold =
        count_ == 0 || !(points_[segment_].shape == 1 || points_[segment_].shape == -1);
    const int nextPoint = count_ == 0 ? 0 : segment_ + 1;
    const bool noPointInBlock = count_ == 0 || nextPoint >= count_ ||
                                points_[nextPoint].position > position_ + int64_t(n) - 1;
    // The first frame may still enter the segment's level from an
    // interpolated start; next() handles that frame.
    if (hold && noPointInBlock && n > 0) {
      const double v = next();
      for (size_t i = 0; i < n; ++i) levels[i] = v;
      position_ += int64_t(n) - 1;
      return v == 1.0;
    }
  }
  bool unity = true;
  for (size_t i = 0; i < n; ++i) {
    levels[i] = next();
    unity = unity && levels[i] == 1.0;
  }
  return unity;
}

void applyLevelMatrix(double* frames, size_t n, const double* levels, const ChannelMatrix& m,
                      double scale) {
  if (scale == 1.0 && m.m[0] == 1.0 && m.m[1] == 0.0 && m.m[2] == 0.0 && m.m[3] == 1.0) {
    if (!levels) return;
    for (size_t i = 0; i < n; ++i) {
      frames[2 * i] *= levels[i];
      frames[2 * i + 1] *= levels[i];
    }
    return;
  }
  const double m0 = m.m[0] * scale, m1 = m.m[1] * scale, m2 = m.m[2] * scale, m3 = m.m[3] * scale;
  for (size_t i = 0; i < n; ++i) {
    const double l = frames[2 * i], r = frames[2 * i + 1], g = levels ? levels[i] : 1.0;
    frames[2 * i] = g * (m0 * l + m2 * r);
    frames[2 * i + 1] = g * (m1 * l + m3 * r);
  }
}

void runBiquad(double* s, double* frames, size_t n) {
  // Pairs: S0 c1, S1 c2, S2 b0, S3 b1, S4 b2, S5 x1, S6 x2, S7 y1, S8 y2.
  for (int lane = 0; lane < 2; ++lane) {
    const double c1 = s[0 + lane], c2 = s[2 + lane], b0 = s[4 + lane], b1 = s[6 + lane],
                 b2 = s[8 + lane];
    double x1 = s[10 + lane], x2 = s[12 + lane], y1 = s[14 + lane], y2 = s[16 + lane];
    for (size_t i = 0; i < n; ++i) {
      const double x = frames[2 * i + size_t(lane)];
      const double y = b0 * x + b1 * x1 + b2 * x2 + c1 * y1 + c2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      frames[2 * i + size_t(lane)] = y;
    }
    s[10 + lane] = x1;
    s[12 + lane] = x2;
    s[14 + lane] = y1;
    s[16 + lane] = y2;
  }
}

void applyEq(EqSettings* eq, double* frames, size_t n) {
  if (!eq) return;
  for (int b = 3; b >= 0; --b) {
    EqBand& band = eq->band[b];
    if (band.on == 1 && band.biquad) runBiquad(band.biquad, frames, n);
  }
}

namespace {

template <int Bits>
inline int32_t quantise(double x, double ditherSteps = 0.0) {
  constexpr double kScale = double(1u << (Bits - 1));
  constexpr double kMax = kScale - 1.0;
  // Round to nearest even by the 2^52 + 2^51 trick: exact for |v| < 2^51
  // and much cheaper than a library call per sample.
  constexpr double kMagic = 6755399441055744.0;
  double v = x * kScale + ditherSteps;
#if defined(__SSE2__)
  // maxsd hands back its second operand for a NaN; no branches.
  __m128d w = _mm_max_sd(_mm_set_sd(v), _mm_set_sd(-kScale));
  w = _mm_min_sd(w, _mm_set_sd(kMax));
  v = _mm_cvtsd_f64(w);
#else
  if (!(v >= -kScale)) v = -kScale;  // also catches NaN
  if (v > kMax) v = kMax;
#endif
  return int32_t((v + kMagic) - kMagic);
}

}  // namespace

namespace {
thread_local int32_t tDither = kPcmDitherNone;
}  // namespace

int32_t pcmExportDither() { return tDither; }

int packPcm(const double* frames, size_t n, uint32_t channels, uint32_t bits, uint8_t* out,
            TpdfDither* dither) {
  if (channels != 1 && channels != 2) return kConvertErrPcmPack;
  const size_t step = channels == 2 ? 1 : 2;  // mono takes the left lane
  const size_t count = n * channels;
  switch (bits) {
    case 16:
      for (size_t i = 0; i < count; ++i) {
        const int32_t v = quantise<16>(frames[i * step], dither ? dither->next() : 0.0);
        out[2 * i] = uint8_t(v);
        out[2 * i + 1] = uint8_t(v >> 8);
      }
      return kSonvexOk;
    case 24:
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      if (!dither && count > 0) {
        // One four-byte store a sample; its top byte is overwritten by the
        // next sample, and the last sample goes byte by byte.
        size_t i = 0;
#if defined(__SSE2__)
        if (step == 1) {
          // Two samples at a time; cvtpd2dq rounds to nearest even as
          // quantise does, and maxpd takes its second operand for a NaN.
          const __m128d lo = _mm_set1_pd(-8388608.0), hi = _mm_set1_pd(8388607.0);
          const __m128d scale = _mm_set1_pd(8388608.0);
          for (; i + 2 < count; i += 2) {
            __m128d x = _mm_mul_pd(_mm_loadu_pd(frames + i), scale);
            x = _mm_min_pd(_mm_max_pd(x, lo), hi);
            const __m128i q = _mm_cvtpd_epi32(x);
            const uint32_t v0 = uint32_t(_mm_cvtsi128_si32(q));
            const uint32_t v1 = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(q, 4)));
            std::memcpy(out + 3 * i, &v0, 4);
            std::memcpy(out + 3 * i + 3, &v1, 4);
          }
        }
#endif
        for (; i + 1 < count; ++i) {
          const uint32_t v = uint32_t(quantise<24>(frames[i * step]));
          std::memcpy(out + 3 * i, &v, 4);
        }
        const int32_t v = quantise<24>(frames[(count - 1) * step]);
        out[3 * count - 3] = uint8_t(v);
        out[3 * count - 2] = uint8_t(v >> 8);
        out[3 * count - 1] = uint8_t(v >> 16);
        return kSonvexOk;
      }
#endif
      for (size_t i = 0; i < count; ++i) {
        const int32_t v = quantise<24>(frames[i * step], dither ? dither->next() : 0.0);
        out[3 * i] = uint8_t(v);
        out[3 * i + 1] = uint8_t(v >> 8);
        out[3 * i + 2] = uint8_t(v >> 16);
      }
      return kSonvexOk;
    case 32:
      for (size_t i = 0; i < count; ++i) {
        const float f = float(frames[i * step]);
        std::memcpy(out + 4 * i, &f, 4);
      }
      return kSonvexOk;
    default:
      return kConvertErrPcmPack;
  }
}

}  // namespace sonvex::convert

SONVEX_EXTERN_C SONVEX_API int32_t setPcmExportDither(int32_t kind) {
  if (kind != kPcmDitherNone && kind != kPcmDitherTpdf) return kConvertErrPcmPack;
  sonvex::convert::tDither = kind;
  return 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t getPcmExportDither(void) { return sonvex::convert::tDither; }
