#include "pictureswitch.h"

#include <QMouseEvent>

pictureSwitch::pictureSwitch(const QString& onPicture, const QString& offPicture, QWidget* parent)
    : QLabel(parent), m_onPicture(onPicture), m_offPicture(offPicture) {
  setPixmap(m_offPicture);
}

void pictureSwitch::setOn(bool on) {
  m_on = on;
  setPixmap(on ? m_onPicture : m_offPicture);
}

void pictureSwitch::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (m_mode == Mode::Click) {
    reportClicked();
    return;
  }
  setOn(!m_on);
  reportToggled(m_on ? 1 : 0);
}

eqIndicator::eqIndicator(QWidget* parent)
    : pictureSwitch(QStringLiteral(":/jpgData/eqOn.png"), QStringLiteral(":/jpgData/eqOff.png"),
                    parent) {}

oscIndicator::oscIndicator(QWidget* parent)
    : pictureSwitch(QStringLiteral(":/jpgData/oscOn.png"), QStringLiteral(":/jpgData/oscOff.png"),
                    parent) {}
