#include "faderwidgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

WidgetFaderBase::WidgetFaderBase(QWidget* parent)
    : QWidget(parent), m_background(QStringLiteral(":/resources/parts/volume_base.png")) {}

void WidgetFaderBase::resizeEvent(QResizeEvent* event) {
  m_table = FaderTable(width());
  QWidget::resizeEvent(event);
}

void WidgetFaderBase::placeKnobForDb(double db) {
  if (!m_knob) return;
  const int edge = std::clamp(m_table.positionFor(db), 0, std::max(0, knobTravel()));
  m_knob->move(edge, m_knob->y());
}

void WidgetFaderBase::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!m_background.isNull()) painter.drawPixmap(rect(), m_background);
}

void WidgetFaderBase::moveKnobTo(int mouseX) {
  const int edge = std::clamp(mouseX - 5, 0, std::max(0, knobTravel()));
  if (m_knob) m_knob->move(edge, m_knob->y());
  // The clamped edge, not the raw mouse x: a click right of the 0 dB step
  // must not read as a level above the table.
  emit faderMoved(edge);
}

void WidgetFaderBase::mousePressEvent(QMouseEvent* event) {
  m_dragging = true;
  moveKnobTo(event->pos().x());
}

void WidgetFaderBase::mouseMoveEvent(QMouseEvent* event) {
  if (m_dragging) moveKnobTo(event->pos().x());
}

void WidgetFaderBase::mouseReleaseEvent(QMouseEvent*) { m_dragging = false; }

faderTop::faderTop(QWidget* parent)
    : QLabel(parent),
      m_off(QStringLiteral(":/resources/parts/volume_off.png")),
      m_on(QStringLiteral(":/resources/parts/volume_on.png")) {
  resize(18, 18);
  setPixmap(m_off);
}

int faderTop::travel() const {
  const QWidget* track = parentWidget();
  return track ? std::max(0, track->width() - 16) : 0;
}

void faderTop::mousePressEvent(QMouseEvent* event) {
  m_held = true;
  setPixmap(m_on);
  m_pressEdge = x();
  m_pressGlobalX = event->globalPos().x();
}

void faderTop::mouseMoveEvent(QMouseEvent* event) {
  if (!m_held) return;
  const int edge = std::clamp(m_pressEdge + (event->globalPos().x() - m_pressGlobalX), 0, travel());
  move(edge, y());
  emit faderMoved(edge);
}

void faderTop::mouseReleaseEvent(QMouseEvent*) {
  m_held = false;
  setPixmap(m_off);
}
