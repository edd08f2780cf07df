#include "dialogoscillator.h"

#include <QLabel>
#include <algorithm>

#include "eqwidgets.h"
#include "pictureswitch.h"

namespace {

constexpr int kDsdRateMin = 2822400;

QLabel* caption(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
  QLabel* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(x, y, w, 22);
  l->setStyleSheet(QStringLiteral("color: rgb(220, 220, 220);"));
  return l;
}

}  // namespace

DialogOscillator::DialogOscillator(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Oscillator"));
  setFixedSize(260, 88);
  setStyleSheet(QStringLiteral("DialogOscillator { background-color: rgb(30, 32, 37); }"));
  m_indicator = new oscIndicator(this);
  m_indicator->setObjectName(QStringLiteral("labelOscIndicator"));
  m_indicator->setGeometry(16, 16, 61, 31);
  m_indicator->setMode(pictureSwitch::Mode::Toggle);
  m_indicator->setOn(false);
  caption(this, "label_Freq", tr("Frequency"), 100, 14, 70);
  m_freq = new widgetEqParamText(this);
  m_freq->setObjectName(QStringLiteral("lineEditFreq"));
  m_freq->setGeometry(170, 14, 52, 22);
  m_freq->setText(QStringLiteral("1000"));
  caption(this, "label_Hz", tr("Hz"), 228, 14, 24);
  caption(this, "label_Level", tr("Level"), 100, 50, 70);
  m_level = new widgetEqParamText(this);
  m_level->setObjectName(QStringLiteral("lineEditLevel"));
  m_level->setGeometry(170, 50, 52, 22);
  m_level->setText(QStringLiteral("-16"));
  caption(this, "label_dB", tr("dB"), 228, 50, 24);

  connect(m_indicator, &oscIndicator::selOscOnOff, this, &DialogOscillator::oscIndClicked);
  connect(m_freq, &widgetEqParamText::enterKeyPressed, this, &DialogOscillator::freqConfirmed);
  connect(m_level, &widgetEqParamText::enterKeyPressed, this, &DialogOscillator::levelConfirmed);
}

int DialogOscillator::clampFrequency(const QString& text) {
  return std::clamp(text.trimmed().toInt(), 40, 20000);
}

int DialogOscillator::clampLevel(const QString& text, int outputRate) {
  return std::clamp(text.trimmed().toInt(), -100, outputRate >= kDsdRateMin ? 3 : 0);
}

void DialogOscillator::oscIndClicked(int on) { emit selOscOnOff(on); }

void DialogOscillator::freqConfirmed() {
  const int hz = clampFrequency(m_freq->text());
  m_freq->setText(QString::number(hz));
  emit freqChanged(hz);
}

void DialogOscillator::levelConfirmed() {
  const int db = clampLevel(m_level->text(), m_outputRate);
  m_level->setText(QString::number(db));
  emit levelChanged(db);
}
