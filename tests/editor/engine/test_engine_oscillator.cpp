// The test tone: the generator's recursion, its restarts and parameter
// changes, and what the device callback writes while it plays.
#include <cmath>
#include <cstring>

#include "engine_harness.h"
#include "oscillator.h"

using namespace enginetest;

namespace {

constexpr double kW = 2 * 3.141592653589793 * 1000.0 / 44100.0;
const double kAmp = std::pow(10.0, -0.8);

std::vector<double> run(engine::TestOscillator& o, int frames) {
  std::vector<double> v(2 * size_t(frames));
  o.generate(v.data(), frames);
  return v;
}

TEST(Oscillator, SineFromRestRestartsAtPhaseZeroAndKeepsStateAcrossChanges) {
  engine::TestOscillator o;
  o.oscillatorOnWithKick();
  std::vector<double> a = run(o, 300);
  for (int n = 0; n < 300; ++n) {
    ASSERT_NEAR(a[2 * n], std::sin((n + 1) * kW) * kAmp, 1e-12) << n;
    ASSERT_EQ(a[2 * n + 1], a[2 * n]);
  }
  // Off and on again: a fresh kick from an empty history.
  o.oscillatorOff();
  EXPECT_FALSE(o.isOn());
  o.oscillatorOnWithKick();
  EXPECT_EQ(run(o, 300), a);

  // A new level scales the running tone: no phase jump, no transient.
  o.setOscillatorLevel(-6.0);
  const double amp = std::pow(10.0, -6.0 / 20.0);
  std::vector<double> b = run(o, 50);
  for (int n = 0; n < 50; ++n) EXPECT_NEAR(b[2 * n], std::sin((n + 301) * kW) * amp, 1e-9) << n;

  // A new frequency continues from the last two values with the new coefficient.
  o.setOscillatorFrequency(3000.0);
  const double c = 2 * std::cos(2 * 3.141592653589793 * 3000.0 / 44100.0);
  double y1 = b[2 * 49] / amp, y2 = b[2 * 48] / amp;
  std::vector<double> d = run(o, 50);
  for (int n = 0; n < 50; ++n) {
    const double y = c * y1 - y2;
    EXPECT_NEAR(d[2 * n], y * amp, 1e-9) << n;
    y2 = y1;
    y1 = y;
  }
}

// The device path plays the tone in place of the ring: bit-exact integer and
// float encodings, its amplitude on the meters, nothing taken from the ring;
// on a DSD device a modulated stream. A rate change restarts it for that rate.
TEST(Oscillator, DeviceCallbackWritesTheToneInEveryEncodingAndMetersIt) {
  engine::TestOscillator& o = engine::oscillator();
  o.setOscillatorFrequency(1000.0);
  o.setOscillatorLevel(-16.0);
  prepare(44100);
  EXPECT_DOUBLE_EQ(o.sampleRate(), 44100.0);
  o.oscillatorOnWithKick();
  const uint64_t consumed = engine::control().consumed;
  std::vector<uint8_t> l(512 * 4), r(512 * 4);
  renderDeviceBlock(0, kSampleInt32Lsb, 512, l.data(), r.data());
  const std::vector<int32_t> s = Device::int32s(l);
  for (int n = 0; n < 512; ++n)
    ASSERT_EQ(s[n], int32_t(std::trunc(std::sin((n + 1) * kW) * kAmp * engine::kPcmFullScale)))
        << n;
  EXPECT_EQ(r, l);
  double pl = 0, pr = 0;
  engine::getMeterPeak(&pl, &pr);
  EXPECT_DOUBLE_EQ(pl, kAmp * engine::kPcmFullScale);
  EXPECT_DOUBLE_EQ(pr, pl);

  renderDeviceBlock(0, kSampleFloat32Msb, 512, l.data(), r.data());
  uint32_t u = uint32_t(l[4]) << 24 | uint32_t(l[5]) << 16 | uint32_t(l[6]) << 8 | l[7];
  float f;
  std::memcpy(&f, &u, 4);
  EXPECT_FLOAT_EQ(f, float(std::sin(514 * kW) * kAmp));
  EXPECT_EQ(engine::control().consumed.load(), consumed);

  // A DSD rate: the tone is modulated; a 0 dB tone reads 0.5 on the meter.
  prepare(2822400, 4096);
  EXPECT_TRUE(o.isOn());
  o.setOscillatorLevel(0.0);
  std::vector<uint8_t> dl(512), dr(512);
  int ones = 0, changes = 0;
  for (int call = 0; call < 8; ++call) {
    renderDeviceBlock(0, kSampleDsdInt8Msb1, 4096, dl.data(), dr.data());
    for (uint8_t b : dl) ones += __builtin_popcount(b);
  }
  for (size_t i = 1; i < dl.size(); ++i) changes += dl[i] != dl[i - 1];
  EXPECT_NEAR(ones / (8.0 * 4096), 0.5, 0.02);  // a sine averages to zero
  EXPECT_GT(changes, 100);                      // not a stuck or idle pattern
  engine::getMeterPeak(&pl, &pr);
  EXPECT_DOUBLE_EQ(pl, 0.5);
  o.oscillatorOff();
}

}  // namespace
