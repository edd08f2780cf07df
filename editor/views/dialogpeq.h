// The modeless "Parametric Equalizer": edits the EQ block that the main
// window owns and the engine plays. Every edit recomputes the band's
// coefficients at the play rate, redraws the graph and hands the block to the
// renderer, which takes it over at its next block.
#pragma once

#include <QDialog>

#include "sonvex.h"

class QCheckBox;
class QLabel;
class widgetEq;
class widgetEqParamText;
class WidgetQbar;
class WidgetMark;
class eqtypesw;
class eqIndicator;
class knobGL;

class DialogPeq : public QDialog {
  Q_OBJECT

 public:
  explicit DialogPeq(QWidget* parent = nullptr);

  // The byte the EQ block's master pointer points at; always starts off.
  unsigned char* masterSwitch() { return &m_masterOn; }
  // The block, the play rate for its coefficients and the main window's
  // monitor volume; refreshes every control from the block.
  void setContext(EqSettings* settings, int playRate, const double* monitorVolumeDb);
  widgetEq* graph() const { return m_graph; }
  // The old dial's handler; the knob replaced it (no action).
  void on_dialGain_valueChanged(int value);

 signals:
  void selectAllEqOnOff(int iSel);

 public slots:
  void eq1freqTextEntered();
  void eq1GainTextEntered();
  void eq1QTextEntered();
  void eq1QConfirmed(int q10);
  void eq1FreqEditingFinished();
  void eq1GainEditingFinished();
  void eq1QeditingFinished();
  void on_checkEq1On_clicked(bool checked);
  void eq2freqTextEntered();
  void eq2GainTextEntered();
  void eq2QTextEntered();
  void eq2QConfirmed(int q10);
  void eq2FreqEditingFinished();
  void eq2GainEditingFinished();
  void eq2QeditingFinished();
  void on_checkEq2On_clicked(bool checked);
  void eq3freqTextEntered();
  void eq3GainTextEntered();
  void eq3QTextEntered();
  void eq3QConfirmed(int q10);
  void eq3FreqEditingFinished();
  void eq3GainEditingFinished();
  void eq3QeditingFinished();
  void on_checkEq3On_clicked(bool checked);
  void eq4freqTextEntered();
  void eq4GainTextEntered();
  void eq4QTextEntered();
  void eq4QConfirmed(int q10);
  void eq4FreqEditingFinished();
  void eq4GainEditingFinished();
  void eq4QeditingFinished();
  void on_checkEq4On_clicked(bool checked);
  void selectEQ1Type(int iType);
  void selAllEqOnOff(int iSel);
  void eqParamChangedByGraph(int band);
  void checkEqOnOrNot();
  void eqGainChanged();
  void eqGainEditingFinished();

 private:
  struct BandControls {
    QCheckBox* on = nullptr;
    widgetEqParamText* freq = nullptr;
    widgetEqParamText* gain = nullptr;
    widgetEqParamText* q = nullptr;
    WidgetQbar* qBar = nullptr;
    WidgetMark* mark = nullptr;
  };
  void build();
  void frequencyEntered(int b);
  void gainEntered(int b);
  void qEntered(int b);
  void qConfirmed(int b, int q10);
  void switchBand(int b, bool on);
  // Coefficients, graph, the band's controls, repaint, hand-over.
  void bandChanged(int b);
  void recompute(int b);
  void refreshBand(int b);
  void copyToGraph();
  // The band record that row b of the dialog (EQ b+1) edits.
  EqBand& row(int b) const;
  void setTotalGain(double db);

  EqSettings* m_settings = nullptr;
  double m_playRate = 44100.0;
  const double* m_monitorVolumeDb = nullptr;
  unsigned char m_masterOn = 0;
  BandControls m_band[4];
  widgetEq* m_graph = nullptr;
  eqtypesw* m_type = nullptr;
  eqIndicator* m_master = nullptr;
  widgetEqParamText* m_totalGain = nullptr;
  knobGL* m_knob = nullptr;
};
