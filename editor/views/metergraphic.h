// The stereo level meter of the main window: segments, a partly lit first
// unlit segment, the hold line and the OVER lamps over the scale picture.
// The ballistics live in metermodel.h; this class only draws them.
#pragma once

#include <QGLWidget>

#include "metermodel.h"

class meterGraphic : public QGLWidget {
  Q_OBJECT

 public:
  explicit meterGraphic(QWidget* parent = nullptr);
  ~meterGraphic() override;

  void setMeterTick(int ms) { m_model.setMeterTick(ms); }
  void setOverHoldTime(int ms) { m_model.setOverHoldTime(ms); }
  // One timer tick; repaints.
  void updateMeter(double peakL, double peakR, bool isDsd, int tickMs);
  void resetMeter();
  void releaseHold(int lamp);
  const meter::MeterModel& model() const { return m_model; }

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void drawBackground();
  void drawChannel(const meter::Channel& ch, double y0, double y1);

  meter::MeterModel m_model;
  GLuint m_background = 0;
  qreal m_dpr = 1.0;
};
