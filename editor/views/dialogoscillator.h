// The modeless "Oscillator" window: switches the engine's test tone and sets
// its frequency and level. It only forwards clamped values; the main window
// applies them to the engine.
#pragma once

#include <QDialog>

class QLabel;
class oscIndicator;
class widgetEqParamText;

class DialogOscillator : public QDialog {
  Q_OBJECT

 public:
  explicit DialogOscillator(QWidget* parent = nullptr);

  // The output rate that sets the level's upper limit (0 dB PCM, +3 dB DSD).
  void setOutputRate(int rate) { m_outputRate = rate; }
  // Clamps of the two fields; text that is not a number counts as 0.
  static int clampFrequency(const QString& text);
  static int clampLevel(const QString& text, int outputRate);

 signals:
  void selOscOnOff(int on);
  void freqChanged(int hz);
  void levelChanged(int db);

 public slots:
  void oscIndClicked(int on);
  void freqConfirmed();
  void levelConfirmed();

 private:
  oscIndicator* m_indicator = nullptr;
  widgetEqParamText* m_freq = nullptr;
  widgetEqParamText* m_level = nullptr;
  int m_outputRate = 44100;
};
