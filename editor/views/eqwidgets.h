// The EQ dialog's controls: the numeric field, the response graph, the Q
// bar, the colour mark, band 1's type switch and the total-gain knob. Their
// arithmetic is in eqgraphmodel.h.
#pragma once

#include <QGLWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>
#include <vector>

#include "eqgraphmodel.h"
#include "sonvex.h"

// Numeric entry: "-", ".", digits and editing keys only; Return or Enter cut
// the text to one decimal, report it and drop the focus.
class widgetEqParamText : public QLineEdit {
  Q_OBJECT

 public:
  explicit widgetEqParamText(QWidget* parent = nullptr);
  // Normalises the text as Return does and reports it.
  void confirm();

 signals:
  void enterKeyPressed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// Band colours of the graph, the marks and the pins.
QColor eqBandColour(int band, double alpha);

class widgetEq : public QGLWidget {
  Q_OBJECT

 public:
  explicit widgetEq(QWidget* parent = nullptr);

  // The bands drawn (their coefficients) and the rate they are designed for.
  void setBands(const EqSettings* settings, double sampleRate);
  eqgraph::GraphModel& model() { return m_model; }
  eqgraph::GraphGeometry geometryModel() const;
  // Response in dB of band b (0..3) at the curve frequencies, and of the
  // displayed bands together; what the graph draws.
  std::vector<double> bandCurve(int b) const;
  std::vector<double> sumCurve() const;

 signals:
  void eqParamChanged(int band);

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void drawGrid();
  void drawLabels();

  eqgraph::GraphModel m_model;
  const EqSettings* m_settings = nullptr;
  double m_sampleRate = 44100.0;
  std::vector<double> m_frequencies;
  qreal m_dpr = 1.0;
};

class WidgetQbar : public QWidget {
  Q_OBJECT

 public:
  explicit WidgetQbar(QWidget* parent = nullptr);
  void setQ(double q);
  double q() const { return m_q; }

 signals:
  void qValueChanged(int qTimes10);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void pick(double x);
  double m_q = 0.9;
  double m_logQ = -0.0457574905606751;
};

class WidgetMark : public QWidget {
  Q_OBJECT

 public:
  explicit WidgetMark(QWidget* parent = nullptr);
  void setBand(int band) { m_band = band; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int m_band = 0;
};

// Band 1's filter type: each click flips peaking / shelving.
class eqtypesw : public QLabel {
  Q_OBJECT

 public:
  explicit eqtypesw(QWidget* parent = nullptr);
  void setType(int type);
  int type() const { return m_type; }

 signals:
  void selEqType(int type);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int m_type = 0;
};

class knobGL : public QGLWidget {
  Q_OBJECT

 public:
  explicit knobGL(QWidget* parent = nullptr);
  int step() const { return m_step; }
  double value() const { return eqgraph::knobValue(m_step); }
  void setStep(int step);

 signals:
  void valueChanged();

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int m_step = 180;
  bool m_dragging = false;
  double m_lastY = 0.0;
  qreal m_dpr = 1.0;
};
