// The level meter's ballistics and segment mapping, apart from drawing: a
// falling bar, a peak hold with its line position and colour, and the OVER
// lamps, fed once per timer tick with the engine's peaks.
#pragma once

#include <array>

namespace meter {

constexpr int kThresholds = 24;   // 0..22 segments, 23 OVER
constexpr int kSegments = 23;     // drawn segments 0..22
constexpr double kWidth = 492.0;  // coordinate space of the widget
constexpr double kHeight = 40.0;
constexpr double kOverLeft = 451.656;
constexpr double kOverRight = 488.556;
constexpr double kHoldMinX = 20.664;
constexpr double kPcmLimit = 4294967296.0;
constexpr double kDsdLimit = 2.0;

// Segment boundaries x0..x24 (segment k spans xk..x(k+1)).
extern const std::array<double, kThresholds + 1> kBoundaries;

enum SegmentColour { kGreen = 0, kYellow = 1, kOrange = 2 };
SegmentColour segmentColour(int k);

// Thresholds in dB of the linear level, PCM (reference 2^31) or DSD (0.5).
const std::array<double, kThresholds>& thresholds(bool dsd);

struct Channel {
  double barLevel = 0.0;
  double holdLevel = 0.0;
  double holdDb = 0.0;
  int holdTicks = 0;
  std::array<bool, kThresholds> segmentLit{};
  double partial = 0.0;
  double holdX = 0.0;  // 0: no line
  SegmentColour holdColour = kGreen;
  int overTicks = 0;
  int overLamp = 0;
};

class MeterModel final {
 public:
  MeterModel();

  void setMeterTick(int ms);
  void setOverHoldTime(int ms);
  // One tick: peaks in the engine's scale (PCM 2147483647 = full scale, DSD
  // 0.5 = reference).
  void updateMeter(double peakL, double peakR, bool isDsd, int tickMs);
  void resetMeter();
  void releaseHold(int lamp);

  const Channel& channel(int c) const { return ch_[c]; }
  int tickMs() const { return tickMs_; }
  int holdTimeTicks() const { return holdTimeTicks_; }
  int overHoldTicks() const { return overHoldTicks_; }
  double decay() const { return decay_; }
  bool lastWasDsd() const { return lastWasDsd_; }

 private:
  Channel ch_[2];
  int tickMs_ = 45;
  int holdTimeTicks_ = 22;
  double decay_ = 0.0;
  int overHoldTicks_ = 22;
  bool lastWasDsd_ = false;
};

}  // namespace meter
