#include "oscillator.h"

#include <cmath>

namespace engine {

namespace {
constexpr double kTwoPi = 6.283185307179586;
}

TestOscillator::TestOscillator() : amplitude_(std::pow(10.0, -16.0 / 20.0)) { recompute(); }

void TestOscillator::recompute() noexcept {
  const double w = kTwoPi * frequency_.load(kRelaxed) / sampleRate_.load(kRelaxed);
  coefficient_.store(2.0 * std::cos(w), kRelaxed);
  kick_.store(std::sin(w), kRelaxed);
}

void TestOscillator::oscillatorOff() noexcept { state_.store(0, std::memory_order_release); }

void TestOscillator::oscillatorOnWithKick() noexcept {
  state_.store(kOn | kKick, std::memory_order_release);
}

void TestOscillator::setOscillatorRate(double fs) noexcept {
  if (!(fs > 0.0)) return;
  sampleRate_.store(fs, kRelaxed);
  recompute();
}

void TestOscillator::setOscillatorFrequency(double f) noexcept {
  frequency_.store(f, kRelaxed);
  recompute();
}

void TestOscillator::setOscillatorLevel(double db) noexcept {
  amplitude_.store(std::pow(10.0, db / 20.0), kRelaxed);
  recompute();
}

bool TestOscillator::isOn() const noexcept {
  return (state_.load(std::memory_order_acquire) & kOn) != 0;
}

void TestOscillator::generate(double* out, int frames) noexcept {
  if (frames <= 0) return;
  double k = 0.0;
  // Taking the kick: the history of an earlier run (or of before a switch-off)
  // is dropped here, on the thread that owns it.
  if (state_.fetch_and(uint16_t(~kKick), std::memory_order_acq_rel) & kKick) {
    y1_ = y2_ = 0.0;
    k = kick_.load(kRelaxed);
  }
  const double c = coefficient_.load(kRelaxed);
  const double a = amplitude_.load(kRelaxed);
  double y1 = y1_, y2 = y2_;
  for (int n = 0; n < frames; ++n) {
    const double y = c * y1 + k - y2;
    k = 0.0;
    out[2 * n] = out[2 * n + 1] = y * a;
    y2 = y1;
    y1 = y;
  }
  y1_ = y1;
  y2_ = y2;
}

TestOscillator& oscillator() {
  static TestOscillator o;
  return o;
}

}  // namespace engine
