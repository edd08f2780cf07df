// Position law of the monitor volume fader: up to 64 (pixel position, dB)
// steps from the 0 dB end to the -120 dB end. Plain C++, no widgets.
#pragma once

#include <QString>
#include <array>

class FaderTable {
 public:
  static constexpr int kMaxSteps = 64;
  static constexpr int kMinusInfinityDb = -120;  // last step: silence
  static constexpr double kSilenceDb = -300.0;   // stored value for "-inf"

  struct Step {
    int position;  // knob left edge in track pixels
    int db;
  };

  // Builds the table for a track `width` pixels wide.
  explicit FaderTable(int width = 250);

  int stepCount() const { return m_count; }
  const Step& step(int i) const { return m_steps[i]; }

  // dB for a knob position: the step with the highest index whose position is
  // at or right of `position`. Right of the 0 dB step the volume stays 0 dB.
  int dbAt(int position) const;

  // Knob left edge for a dB value: the first step from the 0 dB end whose dB
  // value is at or below `db`.
  int positionFor(double db) const;

 private:
  std::array<Step, kMaxSteps> m_steps{};
  int m_count = 0;
};

// Monitor volume shown for a fader dB value: -300.0 and "-inf" at -100 dB or
// less, else the whole dB value and its decimal text.
struct MonitorVolume {
  double db;
  QString text;  // without the " dB" unit
};
MonitorVolume monitorVolumeFor(int db);
