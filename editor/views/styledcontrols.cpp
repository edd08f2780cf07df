#include "styledcontrols.h"

#include <QFile>

QString loadStyleSheet(const QString& resourcePath) {
  QFile file(resourcePath);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromLatin1(file.readAll());
}

blackButton::blackButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

whiteButton::whiteButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

blackComboBox::blackComboBox(QWidget* parent) : QComboBox(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

lmePlayButton::lmePlayButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

lmeStopButton::lmeStopButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

lmeZeroPlayButton::lmeZeroPlayButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

zoomInButton::zoomInButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

zoomOutButton::zoomOutButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}

setPointButton::setPointButton(QWidget* parent) : QPushButton(parent) {
  setStyleSheet(loadStyleSheet(QLatin1String(kStyleSheet)));
}
