// The test-tone generator: a recursive sine, y[n] = 2 cos(w) y[n-1] - y[n-2],
// started from rest by adding sin(w) once, which gives y[n] = sin((n+1) w).
//
// Threads: the GUI sets frequency, level and rate and switches it; the output
// thread generates. Parameters are single atomics; the history belongs to the
// generating thread alone, which clears it when it takes a fresh kick, so a
// restart always begins at phase 0 without the GUI touching it.
#pragma once

#include <atomic>
#include <cstdint>

namespace engine {

class TestOscillator final {
 public:
  TestOscillator();

  void oscillatorOff() noexcept;
  // Switches on and asks for a kick (one 16-bit store of both bytes).
  void oscillatorOnWithKick() noexcept;
  void setOscillatorRate(double fs) noexcept;
  void setOscillatorFrequency(double f) noexcept;
  void setOscillatorLevel(double db) noexcept;
  // `frames` stereo frames (L, R equal) into out. Real-time safe.
  void generate(double* out, int frames) noexcept;

  [[nodiscard]] bool isOn() const noexcept;
  [[nodiscard]] double amplitude() const noexcept { return amplitude_.load(kRelaxed); }
  [[nodiscard]] double frequency() const noexcept { return frequency_.load(kRelaxed); }
  [[nodiscard]] double sampleRate() const noexcept { return sampleRate_.load(kRelaxed); }

 private:
  static constexpr auto kRelaxed = std::memory_order_relaxed;
  static constexpr uint16_t kOn = 0x0001;    // oscillatorOn
  static constexpr uint16_t kKick = 0x0100;  // kickPending
  void recompute() noexcept;

  std::atomic<double> coefficient_;
  std::atomic<double> kick_;
  std::atomic<double> sampleRate_{44100.0};
  std::atomic<double> amplitude_;
  std::atomic<double> frequency_{1000.0};
  std::atomic<uint16_t> state_{0};
  // Generating thread only.
  double y1_ = 0.0;
  double y2_ = 0.0;
};

// The process-wide instance the render path plays.
TestOscillator& oscillator();

}  // namespace engine
