#include "dialogpeq.h"

#include <QCheckBox>
#include <QLabel>
#include <algorithm>
#include <cmath>

#include "eqgraphmodel.h"
#include "eqsettings.h"
#include "eqwidgets.h"
#include "pictureswitch.h"
#include "playback.h"

namespace {

template <class W>
W* place(QWidget* parent, const char* name, int x, int y, int w, int h) {
  W* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* caption(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  QLabel* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, h);
  l->setStyleSheet(QStringLiteral("color: rgb(220, 220, 220);"));
  return l;
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

DialogPeq::DialogPeq(QWidget* parent) : QDialog(parent) {
  build();
  QMetaObject::connectSlotsByName(this);
  connect(m_type, &eqtypesw::selEqType, this, &DialogPeq::selectEQ1Type);
  connect(m_master, &eqIndicator::selEqOnOff, this, &DialogPeq::selAllEqOnOff);
  connect(m_graph, &widgetEq::eqParamChanged, this, &DialogPeq::eqParamChangedByGraph);
  connect(m_band[0].freq, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq1freqTextEntered);
  connect(m_band[0].gain, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq1GainTextEntered);
  connect(m_band[0].q, &widgetEqParamText::enterKeyPressed, this, &DialogPeq::eq1QTextEntered);
  connect(m_band[0].freq, &QLineEdit::editingFinished, this, &DialogPeq::eq1FreqEditingFinished);
  connect(m_band[0].gain, &QLineEdit::editingFinished, this, &DialogPeq::eq1GainEditingFinished);
  connect(m_band[0].q, &QLineEdit::editingFinished, this, &DialogPeq::eq1QeditingFinished);
  connect(m_band[0].qBar, &WidgetQbar::qValueChanged, this, &DialogPeq::eq1QConfirmed);
  connect(m_band[1].freq, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq2freqTextEntered);
  connect(m_band[1].gain, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq2GainTextEntered);
  connect(m_band[1].q, &widgetEqParamText::enterKeyPressed, this, &DialogPeq::eq2QTextEntered);
  connect(m_band[1].freq, &QLineEdit::editingFinished, this, &DialogPeq::eq2FreqEditingFinished);
  connect(m_band[1].gain, &QLineEdit::editingFinished, this, &DialogPeq::eq2GainEditingFinished);
  connect(m_band[1].q, &QLineEdit::editingFinished, this, &DialogPeq::eq2QeditingFinished);
  connect(m_band[1].qBar, &WidgetQbar::qValueChanged, this, &DialogPeq::eq2QConfirmed);
  connect(m_band[2].freq, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq3freqTextEntered);
  connect(m_band[2].gain, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq3GainTextEntered);
  connect(m_band[2].q, &widgetEqParamText::enterKeyPressed, this, &DialogPeq::eq3QTextEntered);
  connect(m_band[2].freq, &QLineEdit::editingFinished, this, &DialogPeq::eq3FreqEditingFinished);
  connect(m_band[2].gain, &QLineEdit::editingFinished, this, &DialogPeq::eq3GainEditingFinished);
  connect(m_band[2].q, &QLineEdit::editingFinished, this, &DialogPeq::eq3QeditingFinished);
  connect(m_band[2].qBar, &WidgetQbar::qValueChanged, this, &DialogPeq::eq3QConfirmed);
  connect(m_band[3].freq, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq4freqTextEntered);
  connect(m_band[3].gain, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eq4GainTextEntered);
  connect(m_band[3].q, &widgetEqParamText::enterKeyPressed, this, &DialogPeq::eq4QTextEntered);
  connect(m_band[3].freq, &QLineEdit::editingFinished, this, &DialogPeq::eq4FreqEditingFinished);
  connect(m_band[3].gain, &QLineEdit::editingFinished, this, &DialogPeq::eq4GainEditingFinished);
  connect(m_band[3].q, &QLineEdit::editingFinished, this, &DialogPeq::eq4QeditingFinished);
  connect(m_band[3].qBar, &WidgetQbar::qValueChanged, this, &DialogPeq::eq4QConfirmed);
  connect(m_totalGain, &widgetEqParamText::enterKeyPressed, this,
          &DialogPeq::eqGainEditingFinished);
  connect(m_totalGain, &QLineEdit::editingFinished, this, &DialogPeq::eqGainEditingFinished);
  connect(m_knob, &knobGL::valueChanged, this, &DialogPeq::eqGainChanged);
}

void DialogPeq::build() {
  setWindowTitle(tr("Parametric Equalizer"));
  setFixedSize(700, 430);
  setStyleSheet(QStringLiteral("DialogPeq { background-color: rgb(30, 32, 37); }"));
  m_graph = place<widgetEq>(this, "widgetEQ", 10, 10, 560, 250);
  static const char* const names[4][6] = {
      {"checkEq1On", "textEditFreq1", "textEditGain1", "textEditQ1", "widget_Q1", "widget_Mark1"},
      {"checkEq2On", "textEditFreq2", "textEditGain2", "textEditQ2", "widget_Q2", "widget_Mark2"},
      {"checkEq3On", "textEditFreq3", "textEditGain3", "textEditQ3", "widget_Q3", "widget_Mark3"},
      {"checkEq4On", "textEditFreq4", "textEditGain4", "textEditQ4", "widget_Q4", "widget_Mark4"}};
  // Fields wide enough for "20000" in the program's font.
  for (int b = 0; b < 4; ++b) {
    const int x = 10 + 142 * b, y = 272;
    BandControls& c = m_band[b];
    c.mark = place<WidgetMark>(this, names[b][5], x, y + 4, 12, 12);
    c.mark->setBand(b);
    caption(this, tr("EQ%1").arg(b + 1), x + 18, y, 32, 20);
    c.on = place<QCheckBox>(this, names[b][0], x + 52, y, 80, 20);
    c.on->setText(tr("EQ%1 ON").arg(b + 1));
    c.on->setStyleSheet(QStringLiteral("color: rgb(220, 220, 220);"));
    caption(this, tr("Frequency"), x, y + 28, 62, 20);
    c.freq = place<widgetEqParamText>(this, names[b][1], x + 64, y + 28, 56, 20);
    caption(this, tr("Hz"), x + 122, y + 28, 18, 20);
    caption(this, tr("gain"), x, y + 54, 62, 20);
    c.gain = place<widgetEqParamText>(this, names[b][2], x + 64, y + 54, 56, 20);
    caption(this, tr("dB"), x + 122, y + 54, 18, 20);
    caption(this, QStringLiteral("Q"), x, y + 80, 62, 20);
    c.q = place<widgetEqParamText>(this, names[b][3], x + 64, y + 80, 56, 20);
    c.qBar = place<WidgetQbar>(this, names[b][4], x, y + 106, 128, 12);
  }
  m_type = place<eqtypesw>(this, "labelEQ1Type", 10, 396, 61, 31);
  m_master = place<eqIndicator>(this, "labelEQOnOff", 590, 16, 61, 31);
  m_master->setMode(pictureSwitch::Mode::Toggle);
  m_master->setOn(false);
  QLabel* total = caption(this, tr("EQ Total\nGain"), 590, 70, 90, 36);
  total->setAlignment(Qt::AlignCenter);
  m_knob = place<knobGL>(this, "widgetTotalGain", 595, 112, 80, 80);
  m_totalGain = place<widgetEqParamText>(this, "textEditEqGain", 600, 200, 48, 20);
  caption(this, tr("dB"), 652, 200, 20, 20);
}

void DialogPeq::setContext(EqSettings* settings, int playRate, const double* monitorVolumeDb) {
  m_settings = settings;
  if (playRate > 0) m_playRate = playRate;
  m_monitorVolumeDb = monitorVolumeDb;
  m_graph->setBands(settings, m_playRate);
  if (!settings) return;
  copyToGraph();
  for (int b = 0; b < 4; ++b) refreshBand(b);
  m_type->setType(settings->band[eq::recordOfRow(0)].type == 1 ? 1 : 0);
  m_totalGain->setText(qs(eqgraph::gainText(settings->totalGainDb)));
  m_knob->setStep(eqgraph::knobStepFor(settings->totalGainDb));
  checkEqOnOrNot();
}

EqBand& DialogPeq::row(int b) const { return m_settings->band[eq::recordOfRow(b)]; }

void DialogPeq::copyToGraph() {
  for (int b = 0; b < 4; ++b) {
    eqgraph::Pin& p = m_graph->model().pins[b];
    p.frequency = row(b).frequency;
    p.logFrequency = std::log10(p.frequency);
    p.gain = row(b).gainDb;
  }
}

void DialogPeq::refreshBand(int b) {
  const EqBand& band = row(b);
  BandControls& c = m_band[b];
  c.freq->setText(qs(eqgraph::frequencyText(band.frequency)));
  c.gain->setText(qs(eqgraph::gainText(band.gainDb)));
  c.q->setText(qs(eqgraph::qText(band.q)));
  c.qBar->setQ(band.q);
  c.on->setChecked(band.on == 1);
}

void DialogPeq::recompute(int b) {
  EqBand& band = row(b);
  setParameters(&band, band.gainDb, band.frequency, band.q, m_playRate, b == 0 ? band.type : 0);
}

void DialogPeq::bandChanged(int b) {
  if (!m_settings) return;
  recompute(b);
  copyToGraph();
  refreshBand(b);
  m_graph->update();
  engine::publishEq();
}

void DialogPeq::frequencyEntered(int b) {
  if (!m_settings) return;
  // Not a number reads as 0 and ends up clamped.
  row(b).frequency = eqgraph::clampFrequency(m_band[b].freq->text().toDouble());
  bandChanged(b);
}

void DialogPeq::gainEntered(int b) {
  if (!m_settings) return;
  row(b).gainDb = eqgraph::clampGain(m_band[b].gain->text().toDouble());
  bandChanged(b);
}

void DialogPeq::qEntered(int b) { qConfirmed(b, eqgraph::qTenths(m_band[b].q->text().toDouble())); }

void DialogPeq::qConfirmed(int b, int q10) {
  if (!m_settings) return;
  row(b).q = eqgraph::clampQ(q10 / 10.0);
  bandChanged(b);
}

void DialogPeq::switchBand(int b, bool on) {
  if (!m_settings) return;
  row(b).on = on ? 1 : 0;
  recompute(b);
  bool anyOn = false;
  for (const EqBand& band : m_settings->band) anyOn = anyOn || band.on == 1;
  const bool unity = m_monitorVolumeDb && *m_monitorVolumeDb == 0.0;
  engine::setDsdDirect(!anyOn && unity ? 1 : 0);
  checkEqOnOrNot();
  refreshBand(b);
  engine::publishEq();
}

void DialogPeq::checkEqOnOrNot() {
  for (int b = 0; b < 4; ++b)
    m_graph->model().pins[b].display = m_masterOn == 1 && m_settings && row(b).on == 1;
  m_graph->update();
}

void DialogPeq::selectEQ1Type(int iType) {
  if (!m_settings) return;
  m_settings->band[eq::recordOfRow(0)].type = iType == 1 ? 1 : 0;
  bandChanged(0);
}

void DialogPeq::selAllEqOnOff(int iSel) {
  m_masterOn = iSel != 0 ? 1 : 0;
  m_master->setOn(m_masterOn == 1);
  checkEqOnOrNot();
  engine::publishEq();
  emit selectAllEqOnOff(iSel);
}

void DialogPeq::eqParamChangedByGraph(int b) {
  if (!m_settings || b < 0 || b > 3) return;
  const eqgraph::Pin& p = m_graph->model().pins[b];
  row(b).frequency = p.frequency;
  row(b).gainDb = p.gain;
  bandChanged(b);
}

void DialogPeq::setTotalGain(double db) {
  m_totalGain->setText(qs(eqgraph::gainText(db)));
  if (!m_settings) return;
  setTotalGainDb(m_settings, db);
  engine::publishEq();
}

void DialogPeq::eqGainChanged() { setTotalGain(m_knob->value()); }

void DialogPeq::eqGainEditingFinished() {
  const double db = eqgraph::clampGain(m_totalGain->text().toDouble());
  m_knob->setStep(eqgraph::knobStepFor(db));
  setTotalGain(db);
}

void DialogPeq::on_dialGain_valueChanged(int) {}

void DialogPeq::eq1freqTextEntered() { frequencyEntered(0); }
void DialogPeq::eq1GainTextEntered() { gainEntered(0); }
void DialogPeq::eq1QTextEntered() { qEntered(0); }
void DialogPeq::eq1QConfirmed(int q10) { qConfirmed(0, q10); }
void DialogPeq::eq1FreqEditingFinished() { m_band[0].freq->confirm(); }
void DialogPeq::eq1GainEditingFinished() { m_band[0].gain->confirm(); }
void DialogPeq::eq1QeditingFinished() { m_band[0].q->confirm(); }
void DialogPeq::on_checkEq1On_clicked(bool checked) { switchBand(0, checked); }
void DialogPeq::eq2freqTextEntered() { frequencyEntered(1); }
void DialogPeq::eq2GainTextEntered() { gainEntered(1); }
void DialogPeq::eq2QTextEntered() { qEntered(1); }
void DialogPeq::eq2QConfirmed(int q10) { qConfirmed(1, q10); }
void DialogPeq::eq2FreqEditingFinished() { m_band[1].freq->confirm(); }
void DialogPeq::eq2GainEditingFinished() { m_band[1].gain->confirm(); }
void DialogPeq::eq2QeditingFinished() { m_band[1].q->confirm(); }
void DialogPeq::on_checkEq2On_clicked(bool checked) { switchBand(1, checked); }
void DialogPeq::eq3freqTextEntered() { frequencyEntered(2); }
void DialogPeq::eq3GainTextEntered() { gainEntered(2); }
void DialogPeq::eq3QTextEntered() { qEntered(2); }
void DialogPeq::eq3QConfirmed(int q10) { qConfirmed(2, q10); }
void DialogPeq::eq3FreqEditingFinished() { m_band[2].freq->confirm(); }
void DialogPeq::eq3GainEditingFinished() { m_band[2].gain->confirm(); }
void DialogPeq::eq3QeditingFinished() { m_band[2].q->confirm(); }
void DialogPeq::on_checkEq3On_clicked(bool checked) { switchBand(2, checked); }
void DialogPeq::eq4freqTextEntered() { frequencyEntered(3); }
void DialogPeq::eq4GainTextEntered() { gainEntered(3); }
void DialogPeq::eq4QTextEntered() { qEntered(3); }
void DialogPeq::eq4QConfirmed(int q10) { qConfirmed(3, q10); }
void DialogPeq::eq4FreqEditingFinished() { m_band[3].freq->confirm(); }
void DialogPeq::eq4GainEditingFinished() { m_band[3].gain->confirm(); }
void DialogPeq::eq4QeditingFinished() { m_band[3].q->confirm(); }
void DialogPeq::on_checkEq4On_clicked(bool checked) { switchBand(3, checked); }
