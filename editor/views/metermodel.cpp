#include "metermodel.h"

#include <algorithm>
#include <cmath>

namespace meter {

const std::array<double, kThresholds + 1> kBoundaries = {
    20.664,  20.664,  35.424,  49.2,   69.864,  88.56,   112.176, 137.76, 155.964,
    177.12,  193.848, 216.48,  236.16, 255.84,  270.6,   295.2,   314.88, 328.656,
    347.352, 366.54,  385.728, 405.9,  424.104, 443.784, 451.656};

namespace {

constexpr double kRelative[23] = {-54, -48, -44, -36, -30, -24, -22, -20, -18, -16, -14, -12,
                                  -10, -9,  -8,  -6,  -4,  -3,  -2,  -1,  0,   1,   3};

double toDb(double v) { return 20.0 * std::log10(v); }

std::array<double, kThresholds> makeTable(bool dsd) {
  std::array<double, kThresholds> t{};
  const double ref = dsd ? toDb(0.5) : toDb(2147483648.0);
  for (int k = 0; k < 23; ++k) t[k] = ref + kRelative[k];
  // PCM: OVER is the level 0x7FFF0000, just below full scale.
  t[23] = dsd ? ref : toDb(2147418112.0);
  return t;
}

}  // namespace

const std::array<double, kThresholds>& thresholds(bool dsd) {
  static const std::array<double, kThresholds> pcm = makeTable(false);
  static const std::array<double, kThresholds> dsdTable = makeTable(true);
  return dsd ? dsdTable : pcm;
}

SegmentColour segmentColour(int k) { return k <= 9 ? kGreen : (k <= 20 ? kYellow : kOrange); }

MeterModel::MeterModel() { setMeterTick(45); }

void MeterModel::setMeterTick(int ms) {
  if (ms < 1) return;
  tickMs_ = ms;
  holdTimeTicks_ = 1000 / ms;
  decay_ = std::pow(10.0, -20.0 * ms / 20000.0);  // 20 dB per second
}

void MeterModel::setOverHoldTime(int ms) {
  if (ms < 0 || tickMs_ < 1)
    overHoldTicks_ = -1;
  else
    overHoldTicks_ = ms > 1000 ? (ms - 1000) / tickMs_ : 0;
}

void MeterModel::resetMeter() {
  for (Channel& c : ch_) c.barLevel = 0.0;
}

void MeterModel::releaseHold(int lamp) {
  for (Channel& c : ch_) {
    c.holdTicks = holdTimeTicks_;
    c.overLamp = lamp;
  }
}

void MeterModel::updateMeter(double peakL, double peakR, bool isDsd, int /*tickMs*/) {
  const double raw[2] = {peakL, peakR};
  double p[2] = {peakL, peakR};
  const double limit = isDsd ? kDsdLimit : kPcmLimit;
  const bool switched = isDsd != lastWasDsd_;
  for (int c = 0; c < 2; ++c) {
    Channel& ch = ch_[c];
    if (switched) {
      // The other kind of scale: start empty for one tick.
      ch.barLevel = ch.holdLevel = ch.holdDb = 0.0;
      p[c] = 0.0;
    } else {
      p[c] = std::min(p[c], limit);
      ch.barLevel = std::min(ch.barLevel, limit);
    }
  }
  lastWasDsd_ = isDsd;
  const std::array<double, kThresholds>& thr = thresholds(isDsd);

  for (int c = 0; c < 2; ++c) {
    Channel& ch = ch_[c];
    ch.barLevel *= decay_;
    const bool below = p[c] < ch.holdLevel;
    ch.holdLevel = std::max(p[c], ch.holdLevel);
    ch.barLevel = std::max(p[c], ch.barLevel);

    ch.holdTicks = below ? ch.holdTicks + 1 : 0;
    if (ch.holdTicks > holdTimeTicks_) {
      ch.holdTicks = 0;
      ch.holdLevel = switched ? 0.0 : raw[c];
      // The dropped hold's level is the one to show and to test for OVER;
      // keeping the old dB would relight a lamp that a click just cleared.
      ch.holdDb = toDb(ch.holdLevel);
    }
    if (!below) ch.holdDb = toDb(ch.holdLevel);

    if (overHoldTicks_ >= 0) {
      if (ch.overTicks <= overHoldTicks_)
        ++ch.overTicks;
      else
        ch.overLamp = 0;
    }

    const double barDb = toDb(ch.barLevel);
    ch.partial = 0.0;
    for (int k = 0; k < kThresholds; ++k) {
      ch.segmentLit[k] = thr[k] <= barDb;
      if (k >= 1 && !ch.segmentLit[k] && ch.segmentLit[k - 1])
        ch.partial = (barDb - thr[k - 1]) / (thr[k] - thr[k - 1]);
    }

    ch.holdX = 0.0;
    int k = 0;
    while (k < kThresholds && !(thr[k] > ch.holdDb)) ++k;
    if (k >= 1 && k <= 22) {
      const double x = kBoundaries[k] + (kBoundaries[k + 1] - kBoundaries[k]) *
                                            (ch.holdDb - thr[k - 1]) / (thr[k] - thr[k - 1]);
      ch.holdX = std::max(x, kHoldMinX);
      ch.holdColour = segmentColour(k);
    }

    if (ch.holdDb > thr[23]) {
      ch.overTicks = 0;
      ch.overLamp = 1;
    }
  }
}

}  // namespace meter
