// EQ coefficients and filtering against analytic expectations.
#include <QtTest>
#include <cmath>
#include <random>
#include <vector>

#include "eqsettings.h"

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<double> noise(std::size_t frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(frames * 2);
  for (double& x : v) x = d(rng);
  return v;
}

// Steady-state gain of a sine through the band, measured on the output.
double measuredGainDb(EqBand* band, double fs, double f) {
  const std::size_t frames = std::size_t(fs);  // one second: settles long before
  std::vector<double> buf(frames * 2);
  for (std::size_t n = 0; n < frames; ++n)
    buf[2 * n] = buf[2 * n + 1] = std::sin(2 * kPi * f * n / fs);
  resetState(band);
  process(band, buf.data(), buf.data(), frames);
  double peak = 0.0;
  for (std::size_t n = frames / 2; n < frames; ++n) peak = std::max(peak, std::fabs(buf[2 * n]));
  return 20.0 * std::log10(peak);
}

}  // namespace

class TestEq : public QObject {
  Q_OBJECT

 private slots:
  void blockDefaults() {
    EqSettingsBlock block;
    const EqSettings* s = block.get();
    for (const EqBand& b : s->band) {
      QCOMPARE(b.on, 0);
      QCOMPARE(b.gainDb, 0.0);
      QCOMPARE(b.frequency, 100.0);
      QCOMPARE(b.q, 0.7);
      QCOMPARE(b.type, 0);
      QCOMPARE(reinterpret_cast<uintptr_t>(b.biquad) % 16, uintptr_t(0));
      for (int i = 0; i < eq::kBiquadDoubles; ++i) QCOMPARE(b.biquad[i], 0.0);
    }
    QCOMPARE(s->totalGain, 1.0);
    QVERIFY(!block.masterOn());
    unsigned char dialogSwitch = 1;
    block.attachMasterSwitch(&dialogSwitch);
    QVERIFY(block.masterOn());
    block.setMasterOn(false);
    QCOMPARE(int(dialogSwitch), 0);
  }

  void peakingAtZeroDbIsTransparent() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[0];
    setParameters(b, 0.0, 1234.0, 0.9, 48000.0, 0);
    const double* c = b->biquad;
    QVERIFY(std::fabs(c[eq::kB0] - 1.0) < 1e-15);
    QVERIFY(std::fabs(c[eq::kB1] + c[eq::kC1]) < 1e-15);
    QVERIFY(std::fabs(c[eq::kB2] + c[eq::kC2]) < 1e-15);
    std::vector<double> in = noise(4096, 1), out(in.size());
    process(b, out.data(), in.data(), 4096);
    for (std::size_t i = 0; i < in.size(); ++i) QVERIFY(std::fabs(out[i] - in[i]) < 1e-12);
  }

  void peakingHasItsGainAtTheCentre_data() {
    QTest::addColumn<double>("gainDb");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("q");
    QTest::addColumn<double>("fs");
    QTest::newRow("+6 dB 1 kHz") << 6.0 << 1000.0 << 0.9 << 44100.0;
    QTest::newRow("-12 dB 5 kHz") << -12.0 << 5000.0 << 2.0 << 96000.0;
    QTest::newRow("+18 dB 100 Hz") << 18.0 << 100.0 << 0.5 << 192000.0;
  }
  void peakingHasItsGainAtTheCentre() {
    QFETCH(double, gainDb);
    QFETCH(double, frequency);
    QFETCH(double, q);
    QFETCH(double, fs);
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[1];
    setParameters(b, gainDb, frequency, q, fs, 0);
    QVERIFY(std::fabs(magnitudeDb(b, fs, frequency) - gainDb) < 1e-9);
    QVERIFY(std::fabs(magnitudeDb(b, fs, 0.0)) < 1e-9);       // unity at DC
    QVERIFY(std::fabs(magnitudeDb(b, fs, fs / 2.0)) < 1e-6);  // and at Nyquist
    // The filter itself does what the magnitude function says.
    QVERIFY(std::fabs(measuredGainDb(b, fs, frequency) - gainDb) < 0.05);
  }

  void lowShelf() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[2];
    setParameters(b, 6.0, 100.0, 0.7, 44100.0, eq::kTypeLowShelf);
    QVERIFY(std::fabs(magnitudeDb(b, 44100.0, 10.0) - 6.0) < 0.3);
    QVERIFY(std::fabs(magnitudeDb(b, 44100.0, 10000.0)) < 0.1);
    QVERIFY(std::fabs(magnitudeDb(b, 44100.0, 0.0) - 6.0) < 1e-9);  // exact shelf at DC
    QVERIFY(std::fabs(measuredGainDb(b, 44100.0, 40.0) - magnitudeDb(b, 44100.0, 40.0)) < 0.05);
    // A cut mirrors the boost.
    setParameters(b, -6.0, 100.0, 0.7, 44100.0, eq::kTypeLowShelf);
    QVERIFY(std::fabs(magnitudeDb(b, 44100.0, 0.0) + 6.0) < 1e-9);
  }

  void setParametersLeavesTypeAndOn() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[0];
    b->on = 1;
    b->type = 0;
    setParameters(b, 3.0, 200.0, 1.5, 48000.0, eq::kTypeLowShelf);
    QCOMPARE(b->on, 1);
    QCOMPARE(b->type, 0);
    QCOMPARE(b->gainDb, 3.0);
    QCOMPARE(b->frequency, 200.0);
    QCOMPARE(b->q, 1.5);
    // ... but the coefficients are the shelf's (DC gain 3 dB, not 0 dB).
    QVERIFY(std::fabs(magnitudeDb(b, 48000.0, 0.0) - 3.0) < 1e-9);
  }

  void stateCarriesAcrossBlocks() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[0];
    setParameters(b, 9.0, 3000.0, 1.2, 48000.0, 0);
    const std::vector<double> in = noise(1000, 7);
    std::vector<double> whole(in.size()), split(in.size());
    process(b, whole.data(), in.data(), 1000);
    resetState(b);
    process(b, split.data(), in.data(), 333);
    process(b, split.data() + 666, in.data() + 666, 667);
    for (std::size_t i = 0; i < in.size(); ++i) QCOMPARE(split[i], whole[i]);
    // In place (how the engine calls it) gives the same result.
    std::vector<double> inPlace = in;
    resetState(b);
    process(b, inPlace.data(), inPlace.data(), 1000);
    for (std::size_t i = 0; i < in.size(); ++i) QCOMPARE(inPlace[i], whole[i]);
  }

  void channelsAreIndependent() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[0];
    setParameters(b, 6.0, 1000.0, 0.9, 44100.0, 0);
    std::vector<double> in(2 * 512, 0.0), out(in.size());
    in[0] = 1.0;  // impulse on the left only
    process(b, out.data(), in.data(), 512);
    double right = 0.0;
    for (int n = 0; n < 512; ++n) right += std::fabs(out[2 * n + 1]);
    QCOMPARE(right, 0.0);
    QCOMPARE(out[0], b->biquad[eq::kB0]);
  }

  void resetStateKeepsCoefficients() {
    EqSettingsBlock block;
    EqBand* b = &block.get()->band[0];
    setParameters(b, 6.0, 1000.0, 0.9, 44100.0, 0);
    std::vector<double> in = noise(64, 3);
    process(b, in.data(), in.data(), 64);
    const double b0 = b->biquad[eq::kB0];
    resetState(b);
    for (int i = eq::kX1; i < eq::kBiquadDoubles; ++i) QCOMPARE(b->biquad[i], 0.0);
    QCOMPARE(b->biquad[eq::kB0], b0);
  }

  void retuneFollowsTheRate() {
    EqSettingsBlock block;
    EqSettings* s = block.get();
    for (int i = 0; i < 4; ++i) {
      s->band[i].type = i % 2;
      setParameters(&s->band[i], 2.0 * i - 3.0, 300.0 * (i + 1), 0.8, 44100.0, s->band[i].type);
    }
    retuneEq(s, 2822400.0);
    EqSettingsBlock reference;
    for (int i = 0; i < 4; ++i) {
      EqBand* r = &reference.get()->band[i];
      setParameters(r, 2.0 * i - 3.0, 300.0 * (i + 1), 0.8, 2822400.0, i % 2);
      for (int k = 0; k < eq::kBiquadDoubles; ++k) QCOMPARE(s->band[i].biquad[k], r->biquad[k]);
    }
    setTotalGainDb(s, -6.0);
    QVERIFY(std::fabs(s->totalGain - 0.501187233627) < 1e-9);
  }
};

QTEST_APPLESS_MAIN(TestEq)
#include "test_eq.moc"
