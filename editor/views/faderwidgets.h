// The monitor volume fader: the track WidgetFaderBase and its knob faderTop.
// Both report the knob's left edge in track pixels with faderMoved(int).
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include "fadertable.h"

class faderTop;

class WidgetFaderBase : public QWidget {
  Q_OBJECT

 public:
  explicit WidgetFaderBase(QWidget* parent = nullptr);

  // The knob is created by the owner (it has its own object name); the track
  // drives it for clicks and drags on the track itself.
  void setKnob(faderTop* knob) { m_knob = knob; }
  faderTop* knob() const { return m_knob; }

  const FaderTable& table() const { return m_table; }
  // Largest left edge the knob may take.
  int knobTravel() const { return width() - 16; }
  // Places the knob for a dB value (start-up and settings).
  void placeKnobForDb(double db);

 signals:
  void faderMoved(int iPosi);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void moveKnobTo(int mouseX);

  QPixmap m_background;
  FaderTable m_table;
  faderTop* m_knob = nullptr;
  bool m_dragging = false;
};

class faderTop : public QLabel {
  Q_OBJECT

 public:
  explicit faderTop(QWidget* parent = nullptr);

 signals:
  void faderMoved(int iPosi);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int travel() const;

  QPixmap m_off;
  QPixmap m_on;
  bool m_held = false;
  int m_pressEdge = 0;
  int m_pressGlobalX = 0;
};
