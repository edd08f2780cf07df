#include "fft.h"

#include <cmath>
#include <utility>

namespace sonvex {

Fft::Fft(uint32_t log2Size) : n_(size_t(1) << log2Size), log2_(log2Size), bitrev_(n_) {
  for (size_t i = 0; i < n_; ++i) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < log2_; ++b) r |= uint32_t((i >> b) & 1u) << (log2_ - 1 - b);
    bitrev_[i] = r;
  }
  twiddles_.reserve(2 * n_);
  const double pi = 3.14159265358979323846;
  for (size_t half = 1; half < n_; half <<= 1) {
    for (size_t j = 0; j < half; ++j) {
      // Angles from the full-size index keep every stage's values identical
      // to the ones a single N-point table would give.
      const double a = 2.0 * pi * double(j) / double(2 * half);
      twiddles_.push_back(std::cos(a));
      twiddles_.push_back(std::sin(a));
    }
  }
}

void Fft::forward(double* data) const noexcept { transform(data, false); }

void Fft::inverse(double* data) const noexcept {
  transform(data, true);
  const double scale = 1.0 / double(n_);
  for (size_t i = 0; i < 2 * n_; ++i) data[i] *= scale;
}

void Fft::transform(double* d, bool inverse) const noexcept {
  for (size_t i = 0; i < n_; ++i) {
    const size_t r = bitrev_[i];
    if (r > i) {
      std::swap(d[2 * i], d[2 * r]);
      std::swap(d[2 * i + 1], d[2 * r + 1]);
    }
  }
  const double sign = inverse ? 1.0 : -1.0;
  const double* tw = twiddles_.data();  // stage with half-size h at tw[2 (h - 1)]
  size_t h = 1;
  if (log2_ & 1) {
    // Odd count of stages: the first (twiddle 1) alone.
    for (size_t i = 0; i < n_; i += 2) {
      const double ar = d[2 * i], ai = d[2 * i + 1];
      const double br = d[2 * i + 2], bi = d[2 * i + 3];
      d[2 * i] = ar + br;
      d[2 * i + 1] = ai + bi;
      d[2 * i + 2] = ar - br;
      d[2 * i + 3] = ai - bi;
    }
    h = 2;
  }
  // Two radix-2 stages (half-sizes h and 2h) per pass over the data: the same
  // arithmetic as one stage at a time, half the memory traffic.
  for (; h < n_; h *= 4) {
    const double* t1 = tw + 2 * (h - 1);
    const double* t2 = tw + 2 * (2 * h - 1);
    for (size_t base = 0; base < n_; base += 4 * h) {
      double* p0 = d + 2 * base;
      double* p1 = p0 + 2 * h;
      double* p2 = p1 + 2 * h;
      double* p3 = p2 + 2 * h;
      for (size_t j = 0; j < h; ++j) {
        const double w1r = t1[2 * j], w1i = sign * t1[2 * j + 1];
        const double w2r = t2[2 * j], w2i = sign * t2[2 * j + 1];
        const double a0r = p0[2 * j], a0i = p0[2 * j + 1];
        const double a1r = p1[2 * j], a1i = p1[2 * j + 1];
        const double a2r = p2[2 * j], a2i = p2[2 * j + 1];
        const double a3r = p3[2 * j], a3i = p3[2 * j + 1];
        // Stage h: (a0, a1) and (a2, a3) with W_2h^j.
        const double m1r = a1r * w1r - a1i * w1i, m1i = a1r * w1i + a1i * w1r;
        const double m3r = a3r * w1r - a3i * w1i, m3i = a3r * w1i + a3i * w1r;
        const double b0r = a0r + m1r, b0i = a0i + m1i;
        const double b1r = a0r - m1r, b1i = a0i - m1i;
        const double b2r = a2r + m3r, b2i = a2i + m3i;
        const double b3r = a2r - m3r, b3i = a2i - m3i;
        // Stage 2h: (b0, b2) with W_4h^j, (b1, b3) with W_4h^(j+h) = W_4h^j * (-+i).
        const double c2r = b2r * w2r - b2i * w2i, c2i = b2r * w2i + b2i * w2r;
        const double e3r = b3r * w2r - b3i * w2i, e3i = b3r * w2i + b3i * w2r;
        // Times -i (forward) or +i (inverse).
        const double c3r = -sign * e3i, c3i = sign * e3r;
        p0[2 * j] = b0r + c2r;
        p0[2 * j + 1] = b0i + c2i;
        p2[2 * j] = b0r - c2r;
        p2[2 * j + 1] = b0i - c2i;
        p1[2 * j] = b1r + c3r;
        p1[2 * j + 1] = b1i + c3i;
        p3[2 * j] = b1r - c3r;
        p3[2 * j + 1] = b1i - c3i;
      }
    }
  }
}

}  // namespace sonvex
