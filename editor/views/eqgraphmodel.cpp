#include "eqgraphmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace eqgraph {

double clampFrequency(double f) { return std::clamp(f, 20.0, 20000.0); }
double clampGain(double db) { return std::clamp(db, -18.0, 18.0); }
double clampQ(double q) { return std::clamp(q, 0.1, 16.0); }

int qTenths(double typed) {
  const double t = typed * 10.0;
  // Truncation toward zero; absurd inputs end up clamped anyway.
  return std::isfinite(t) ? int(std::clamp(t, -1e6, 1e6)) : 0;
}

std::string frequencyText(double f) {
  char b[32];
  std::snprintf(b, sizeof b, "%.0f", f);
  return b;
}

std::string gainText(double db) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", db);
  return b;
}

std::string qText(double q) {
  const int t = int((q + 0.05) * 10.0);
  char b[32];
  std::snprintf(b, sizeof b, "%d.%d", t / 10, t % 10);
  return b;
}

std::string cutToOneDecimal(const std::string& text) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot + 1 >= text.size()) return text;
  return text.substr(0, dot + 2);
}

int GraphModel::press(const GraphGeometry& g, double x, double y) {
  const double fx = g.logAt(x), gain = g.dbAt(y);
  dragged = 0;
  for (int b = 0; b < kBands; ++b) {
    if (std::fabs(pins[b].logFrequency - fx) <= kPinHalfWidth &&
        std::fabs(pins[b].gain - gain) <= g.toleranceDb()) {
      dragged = b + 1;
      break;
    }
  }
  return dragged;
}

int GraphModel::move(const GraphGeometry& g, double x, double y) {
  if (dragged == 0) return -1;
  Pin& p = pins[dragged - 1];
  p.gain = clampGain(g.dbAt(y));
  p.logFrequency = std::clamp(g.logAt(x), kLogMin, kLogMax);
  // 10^1.301 is a hair below 20 Hz: keep the block inside the typed range.
  p.frequency = clampFrequency(std::pow(10.0, p.logFrequency));
  return dragged - 1;
}

std::vector<double> curveFrequencies() {
  std::vector<double> f(kCurvePoints);
  for (int i = 0; i < kCurvePoints; ++i)
    f[i] = std::pow(10.0, kLogMin + (kLogMax - kLogMin) * i / (kCurvePoints - 1));
  return f;
}

double qBarQ(double x, double w) {
  const double v = std::clamp(kQLogMin + (kQLogMax - kQLogMin) * x / w, kQLogMin, kQLogMax);
  return std::floor((std::pow(10.0, v) + 0.05) * 10.0) / 10.0;
}

double qBarX(double q, double w) {
  return (std::log10(clampQ(q)) - kQLogMin) / (kQLogMax - kQLogMin) * w;
}

double knobValue(int step) { return std::round((-18.0 + step * 36.0 / kKnobSteps) * 10.0) / 10.0; }

double knobAngle(int step) {
  constexpr double kPi = 3.141592653589793;
  return 5.0 * kPi / 4.0 - step * (6.0 * kPi / (4.0 * kKnobSteps));
}

int knobStepFor(double db) {
  for (int i = 0; i < kKnobSteps; ++i)
    if (knobValue(i) >= db - 1e-9) return i;
  return kKnobSteps - 1;
}

}  // namespace eqgraph
