// The arithmetic of the EQ dialog's controls, apart from drawing: value
// clamps and text forms, the response graph's axes, hit test and drag, the
// Q bar's scale and the total-gain knob's steps.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace eqgraph {

constexpr int kBands = 4;
// Graph axes: log10(frequency) across, gain in dB up.
constexpr double kLogLeft = 1.101, kLogRight = 4.351;
constexpr double kDbBottom = -21.0, kDbTop = 18.5;
constexpr double kLogMin = 1.301, kLogMax = 4.301;  // 20 Hz .. 20 kHz
constexpr double kPinHalfWidth = 0.03;              // log10 units
constexpr int kCurvePoints = 301;

double clampFrequency(double f);
double clampGain(double db);
double clampQ(double q);
// The Q typed as text: tenths, truncated (1.25 -> 12).
int qTenths(double typed);
// Texts: frequency 0 decimals, gain 1 decimal, Q rounded half up to tenths.
std::string frequencyText(double f);
std::string gainText(double db);
std::string qText(double q);
// Return in a numeric field: at most one digit after the first ".".
std::string cutToOneDecimal(const std::string& text);

struct Pin {
  double frequency = 1000.0;
  double gain = 0.0;
  double logFrequency = 3.0;
  bool display = false;
};

// Positions in logical pixels of a w x h graph.
struct GraphGeometry {
  double w = 1.0, h = 1.0;
  double logAt(double x) const { return kLogLeft + (kLogRight - kLogLeft) * x / w; }
  double dbAt(double y) const { return (h - y) / h * (kDbTop - kDbBottom) + kDbBottom; }
  double xOf(double logF) const { return (logF - kLogLeft) / (kLogRight - kLogLeft) * w; }
  double yOf(double db) const { return h - (db - kDbBottom) / (kDbTop - kDbBottom) * h; }
  // Half height of a pin and the vertical pick tolerance, in dB.
  double toleranceDb() const { return w * 0.03 * 36.0 / (h * 3.0); }
};

class GraphModel {
 public:
  std::array<Pin, kBands> pins;
  int dragged = 0;  // 1..4, 0 = none

  // Band 1..4 grabbed at (x, y), or 0.
  int press(const GraphGeometry& g, double x, double y);
  // Moves the dragged pin; returns its index 0..3, or -1 when none is dragged.
  int move(const GraphGeometry& g, double x, double y);
  void release() { dragged = 0; }
};

// Frequencies of the response curves: 20 Hz .. 20 kHz, evenly in log10.
std::vector<double> curveFrequencies();

// Q bar: log10(Q) from -1.0 to 1.204 across the width.
constexpr double kQLogMin = -1.0, kQLogMax = 1.204;
double qBarQ(double x, double w);  // Q picked at x, to tenths
double qBarX(double q, double w);  // where Q is shown

// Total-gain knob: 360 steps of 0.1 dB from -18.0, a 270-degree sweep.
constexpr int kKnobSteps = 360;
double knobValue(int step);
double knobAngle(int step);
int knobStepFor(double db);  // first step whose value is at least db

}  // namespace eqgraph
