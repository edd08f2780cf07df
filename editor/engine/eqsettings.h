// Four-band parametric EQ of the monitor path and of exports: the coefficient
// routines over one band's biquad block, and the owner of the EqSettings block
// that the main window shares with the engine and with the library's export.
#pragma once

#include <cstddef>

#include "sonvex.h"

namespace eq {

constexpr int kBandCount = 4;
constexpr int kBiquadDoubles = 18;  // five coefficient pairs, four state pairs
constexpr int kTypeLowShelf = 1;    // any other type is peaking

// The dialog and the settings file number bands from the one processed first,
// which is the last record of the block.
constexpr int recordOfRow(int row) { return kBandCount - 1 - row; }

// Offsets into a biquad block; every entry is a (left, right) pair.
enum BiquadSlot : int {
  kC1 = 0,  // -a1/a0
  kC2 = 2,  // -a2/a0
  kB0 = 4,
  kB1 = 6,
  kB2 = 8,
  kX1 = 10,
  kX2 = 12,
  kY1 = 14,
  kY2 = 16
};

struct Coefficients {
  double c1, c2, b0, b1, b2;
};

// Pure design routines; fs in Hz.
Coefficients lowShelf(double gainDb, double frequency, double q, double fs) noexcept;
Coefficients peaking(double gainDb, double frequency, double q, double fs) noexcept;
Coefficients design(int type, double gainDb, double frequency, double q, double fs) noexcept;

// Kernels over a biquad block (18 doubles, 16-byte aligned).
void storeCoefficients(double* biquad, const Coefficients& c) noexcept;
void clearState(double* biquad) noexcept;
// Direct Form I over interleaved stereo frames; out may equal in.
void runBiquad(double* biquad, double* out, const double* in, std::size_t frames) noexcept;
double responseDb(const double* biquad, double sampleRate, double f) noexcept;

// 10^(dB/20).
double dbToLinear(double db) noexcept;

}  // namespace eq

// Band operations. setParameters stores gain, frequency and q and recomputes
// the coefficients; it leaves the band's `type` and `on` to the caller.
void setParameters(EqBand* band, double gainDb, double frequency, double q, double sampleRate,
                   int type);
void setSampleRate(EqBand* band, double sampleRate);
void resetState(EqBand* band);
void process(EqBand* band, double* out, const double* in, std::size_t frames);
double magnitudeDb(const EqBand* band, double sampleRate, double f);

// Recomputes bands 4..1 for a new rate, then clears their state (a rate
// change invalidates the filter history).
void retuneEq(EqSettings* settings, double sampleRate);
void setTotalGainDb(EqSettings* settings, double gainDb);

// Owns one EqSettings block with its four aligned biquad blocks. The master
// switch lives with the EQ dialog; until one is attached the block points at
// its own switch, which is off.
class EqSettingsBlock final {
 public:
  EqSettingsBlock();
  ~EqSettingsBlock();
  EqSettingsBlock(const EqSettingsBlock&) = delete;
  EqSettingsBlock& operator=(const EqSettingsBlock&) = delete;

  EqSettings* get() noexcept { return &settings_; }
  const EqSettings* get() const noexcept { return &settings_; }
  // Points the block at the switch byte of the EQ dialog (null: own switch).
  void attachMasterSwitch(unsigned char* masterOn) noexcept;
  bool masterOn() const noexcept;
  void setMasterOn(bool on) noexcept;

 private:
  EqSettings settings_{};
  unsigned char ownMaster_ = 0;
  double* storage_ = nullptr;
};
