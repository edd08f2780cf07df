// Radix-2 complex FFT with precomputed tables, for the FFT convolution engine
// and for signal measurements in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonvex {

// In-place transform of N = 2^log2Size complex values stored as interleaved
// (re, im) doubles. forward(): X[k] = sum x[n] e^(-2 pi i n k / N), no scaling;
// inverse(): the conjugate transform times 1/N, so inverse(forward(x)) == x.
class Fft {
 public:
  explicit Fft(uint32_t log2Size);
  size_t size() const { return n_; }
  void forward(double* data) const noexcept;
  void inverse(double* data) const noexcept;

 private:
  void transform(double* data, bool inverse) const noexcept;
  size_t n_;
  uint32_t log2_;
  std::vector<uint32_t> bitrev_;
  // Twiddles per stage, laid out stage after stage so every pass reads them
  // in order: stage with half-size h holds h values cos/sin(2 pi j / 2h).
  std::vector<double> twiddles_;
};

}  // namespace sonvex
