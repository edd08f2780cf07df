#include "eqsettings.h"

#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <new>

namespace eq {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

void setPair(double* biquad, int slot, double v) noexcept {
  biquad[slot] = v;
  biquad[slot + 1] = v;
}

}  // namespace

double dbToLinear(double db) noexcept { return std::pow(10.0, db / 20.0); }

Coefficients lowShelf(double gainDb, double frequency, double q, double fs) noexcept {
  const double a = std::pow(10.0, gainDb / 40.0);
  const double sqrtA = std::pow(10.0, gainDb / 80.0);
  const double w0 = kTwoPi * frequency / fs;
  // The slope term is sin(w0)/q, not sin(w0)/(2q): the dialog's q values are
  // tuned to this form.
  const double alpha = std::sin(w0) / q;
  const double c = std::cos(w0);
  const double p = (a + 1.0) + (a - 1.0) * c;
  const double m = (a + 1.0) - (a - 1.0) * c;
  const double s = 2.0 * sqrtA * alpha;
  const double a0 = p + s;
  Coefficients k;
  k.c1 = 2.0 * ((a + 1.0) * c + (a - 1.0)) / a0;
  k.c2 = -(p - s) / a0;
  k.b0 = a * (m + s) / a0;
  k.b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * c) / a0;
  k.b2 = a * (m - s) / a0;
  return k;
}

Coefficients peaking(double gainDb, double frequency, double q, double fs) noexcept {
  const double a = std::pow(10.0, gainDb / 40.0);
  const double k = std::tan(kPi * frequency / fs);
  const double k2 = k * k;
  const double d = 1.0 + k / (q * a) + k2;
  Coefficients c;
  c.c1 = -2.0 * (k2 - 1.0) / d;
  c.c2 = -(1.0 - k / (q * a) + k2) / d;
  c.b0 = (1.0 + k * a / q + k2) / d;
  c.b1 = 2.0 * (k2 - 1.0) / d;
  c.b2 = (1.0 - k * a / q + k2) / d;
  return c;
}

Coefficients design(int type, double gainDb, double frequency, double q, double fs) noexcept {
  return type == kTypeLowShelf ? lowShelf(gainDb, frequency, q, fs)
                               : peaking(gainDb, frequency, q, fs);
}

void storeCoefficients(double* biquad, const Coefficients& c) noexcept {
  setPair(biquad, kC1, c.c1);
  setPair(biquad, kC2, c.c2);
  setPair(biquad, kB0, c.b0);
  setPair(biquad, kB1, c.b1);
  setPair(biquad, kB2, c.b2);
}

void clearState(double* biquad) noexcept {
  for (int i = kX1; i < kBiquadDoubles; ++i) biquad[i] = 0.0;
}

void runBiquad(double* bq, double* out, const double* in, std::size_t frames) noexcept {
  for (int ch = 0; ch < 2; ++ch) {
    const double c1 = bq[kC1 + ch], c2 = bq[kC2 + ch];
    const double b0 = bq[kB0 + ch], b1 = bq[kB1 + ch], b2 = bq[kB2 + ch];
    double x1 = bq[kX1 + ch], x2 = bq[kX2 + ch];
    double y1 = bq[kY1 + ch], y2 = bq[kY2 + ch];
    for (std::size_t n = 0; n < frames; ++n) {
      const double x = in[2 * n + ch];
      // The order of the sums is part of the result (bit-identical with the
      // library's export filter).
      const double y = ((c1 * y1 + b2 * x2) + c2 * y2) + (b1 * x1 + b0 * x);
      y2 = y1;
      x2 = x1;
      x1 = x;
      y1 = y;
      out[2 * n + ch] = y;
    }
    bq[kX1 + ch] = x1;
    bq[kX2 + ch] = x2;
    bq[kY1 + ch] = y1;
    bq[kY2 + ch] = y2;
  }
}

double responseDb(const double* bq, double sampleRate, double f) noexcept {
  const double w = kTwoPi * f / sampleRate;
  const std::complex<double> z1 = std::polar(1.0, -w);
  const std::complex<double> z2 = z1 * z1;
  const std::complex<double> num = bq[kB0] + bq[kB1] * z1 + bq[kB2] * z2;
  const std::complex<double> den = 1.0 - bq[kC1] * z1 - bq[kC2] * z2;
  return 20.0 * std::log10(std::abs(num / den));
}

}  // namespace eq

void setParameters(EqBand* band, double gainDb, double frequency, double q, double sampleRate,
                   int type) {
  band->gainDb = gainDb;
  band->frequency = frequency;
  band->q = q;
  eq::storeCoefficients(band->biquad, eq::design(type, gainDb, frequency, q, sampleRate));
}

void setSampleRate(EqBand* band, double sampleRate) {
  setParameters(band, band->gainDb, band->frequency, band->q, sampleRate, band->type);
}

void resetState(EqBand* band) { eq::clearState(band->biquad); }

void process(EqBand* band, double* out, const double* in, std::size_t frames) {
  eq::runBiquad(band->biquad, out, in, frames);
}

double magnitudeDb(const EqBand* band, double sampleRate, double f) {
  return eq::responseDb(band->biquad, sampleRate, f);
}

void retuneEq(EqSettings* settings, double sampleRate) {
  for (int i = eq::kBandCount - 1; i >= 0; --i) setSampleRate(&settings->band[i], sampleRate);
  for (int i = eq::kBandCount - 1; i >= 0; --i) resetState(&settings->band[i]);
}

void setTotalGainDb(EqSettings* settings, double gainDb) {
  settings->totalGainDb = gainDb;
  settings->totalGain = eq::dbToLinear(gainDb);
}

EqSettingsBlock::EqSettingsBlock() {
  const std::size_t bytes = sizeof(double) * eq::kBiquadDoubles * eq::kBandCount;
  storage_ = static_cast<double*>(std::aligned_alloc(16, bytes));
  if (!storage_) throw std::bad_alloc();
  std::memset(storage_, 0, bytes);
  for (int i = 0; i < eq::kBandCount; ++i) {
    EqBand& b = settings_.band[i];
    b.on = 0;
    b.gainDb = 0.0;
    b.frequency = 100.0;
    b.q = 0.7;
    b.type = 0;
    b.biquad = storage_ + i * eq::kBiquadDoubles;
  }
  settings_.totalGainDb = 0.0;
  settings_.totalGain = 1.0;
  settings_.masterOn = &ownMaster_;
}

EqSettingsBlock::~EqSettingsBlock() { std::free(storage_); }

void EqSettingsBlock::attachMasterSwitch(unsigned char* masterOn) noexcept {
  settings_.masterOn = masterOn ? masterOn : &ownMaster_;
}

bool EqSettingsBlock::masterOn() const noexcept { return *settings_.masterOn == 1; }

void EqSettingsBlock::setMasterOn(bool on) noexcept { *settings_.masterOn = on ? 1 : 0; }
