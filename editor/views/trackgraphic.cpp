#include "trackgraphic.h"

#include <QFont>

trackGraphic::trackGraphic(QWidget* parent) : QGLWidget(parent) {
  setFixedSize(700, 180);
  const QImage back(QStringLiteral(":/resources/bg/waveformBack.png"));
  if (!back.isNull()) m_background = QGLWidget::convertToGLFormat(back);
}

trackGraphic::~trackGraphic() = default;

void trackGraphic::setFileLoaded(bool loaded) {
  m_noFile = !loaded;
  update();
}

void trackGraphic::initializeGL() {
  glClearColor(0.1f, 0.1f, 0.1f, 0.0f);
  resizeGL(width(), height());
}

void trackGraphic::resizeGL(int w, int h) {
  if (w <= 0 || h <= 0) return;
  glViewport(0, 0, w, h);
  m_tolX = 10.0 / w;
  m_tolY = 10.0 / h;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-m_tolX, 1.0 + m_tolX, -m_tolY, 1.0 + m_tolY + 10.0 / h, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void trackGraphic::paintGL() {
  glClear(GL_COLOR_BUFFER_BIT);
  drawBackground();
  if (m_noFile) drawPrompt();
}

void trackGraphic::drawBackground() {
  if (m_background.isNull()) return;
  glRasterPos2d(-m_tolX, -m_tolY);
  glDrawPixels(m_background.width(), m_background.height(), GL_RGBA, GL_UNSIGNED_BYTE,
               m_background.constBits());
}

void trackGraphic::drawPrompt() {
  QFont font(QStringLiteral("Meiryo"), 18, QFont::Normal, true);
  font.setPixelSize(24);
  glColor3d(0.9, 0.9, 0.9);
  // renderText takes view coordinates through the current projection.
  renderText(0.3, 0.3, 0.0, tr("Drop a Sound File Here."), font);
}
