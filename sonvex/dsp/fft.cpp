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
  const double* tw = twiddles_.data();
  // First stage separately: its only twiddle is 1.
  if (n_ >= 2) {
    for (size_t i = 0; i < n_; i += 2) {
      const double ar = d[2 * i], ai = d[2 * i + 1];
      const double br = d[2 * i + 2], bi = d[2 * i + 3];
      d[2 * i] = ar + br;
      d[2 * i + 1] = ai + bi;
      d[2 * i + 2] = ar - br;
      d[2 * i + 3] = ai - bi;
    }
    tw += 2;
  }
  for (size_t half = 2; half < n_; half <<= 1) {
    const size_t span = 2 * half;
    for (size_t base = 0; base < n_; base += span) {
      double* a = d + 2 * base;
      double* b = a + 2 * half;
      for (size_t j = 0; j < half; ++j) {
        const double wr = tw[2 * j], wi = sign * tw[2 * j + 1];
        const double br = b[2 * j] * wr - b[2 * j + 1] * wi;
        const double bi = b[2 * j] * wi + b[2 * j + 1] * wr;
        const double ar = a[2 * j], ai = a[2 * j + 1];
        a[2 * j] = ar + br;
        a[2 * j + 1] = ai + bi;
        b[2 * j] = ar - br;
        b[2 * j + 1] = ai - bi;
      }
    }
    tw += 2 * half;
  }
}

}  // namespace sonvex
