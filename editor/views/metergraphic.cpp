#include "metergraphic.h"

#include <QImage>
#include <QMouseEvent>
#include <algorithm>

namespace {

using meter::kBoundaries;

// Segment and lamp colours.
void setColour(meter::SegmentColour c) {
  switch (c) {
    case meter::kGreen:
      glColor3ub(0, 210, 30);
      break;
    case meter::kYellow:
      glColor3ub(255, 245, 85);
      break;
    case meter::kOrange:
      glColor3ub(243, 98, 1);
      break;
  }
}

void quad(double x0, double y0, double x1, double y1) {
  glBegin(GL_QUADS);
  glVertex2d(x0, y0);
  glVertex2d(x1, y0);
  glVertex2d(x1, y1);
  glVertex2d(x0, y1);
  glEnd();
}

constexpr double kLeftY0 = 33, kLeftY1 = 39, kRightY0 = 19, kRightY1 = 25;
constexpr double kHoldWidth = 2.0;

}  // namespace

meterGraphic::meterGraphic(QWidget* parent) : QGLWidget(parent) {}

meterGraphic::~meterGraphic() {
  if (m_background) {
    makeCurrent();
    deleteTexture(m_background);
  }
}

void meterGraphic::updateMeter(double peakL, double peakR, bool isDsd, int tickMs) {
  m_model.updateMeter(peakL, peakR, isDsd, tickMs);
  update();
}

void meterGraphic::resetMeter() {
  m_model.resetMeter();
  update();
}

void meterGraphic::releaseHold(int lamp) {
  m_model.releaseHold(lamp);
  update();
}

void meterGraphic::initializeGL() {
  glClearColor(0.2f, 0.2f, 0.2f, 0.5f);
  const QImage back(QStringLiteral(":/resources/bg/meterBack.png"));
  // Linear filtering keeps the scale legible at fractional screen scales.
  if (!back.isNull())
    m_background =
        bindTexture(back, GL_TEXTURE_2D, GL_RGBA,
                    QGLContext::InvertedYBindOption | QGLContext::LinearFilteringBindOption);
  resizeGL(width(), height());
}

void meterGraphic::resizeGL(int, int) {
  // The framebuffer is in device pixels; the drawing in the fixed 492 x 40
  // space, so every scale shows the same picture.
  m_dpr = devicePixelRatioF();
  glViewport(0, 0, std::max(1, qRound(width() * m_dpr)), std::max(1, qRound(height() * m_dpr)));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, meter::kWidth, 0.0, meter::kHeight, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void meterGraphic::drawBackground() {
  if (!m_background) return;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, m_background);
  glColor4d(1.0, 1.0, 1.0, 1.0);
  glBegin(GL_QUADS);
  glTexCoord2d(0, 0);
  glVertex2d(0, 0);
  glTexCoord2d(1, 0);
  glVertex2d(meter::kWidth, 0);
  glTexCoord2d(1, 1);
  glVertex2d(meter::kWidth, meter::kHeight);
  glTexCoord2d(0, 1);
  glVertex2d(0, meter::kHeight);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void meterGraphic::drawChannel(const meter::Channel& ch, double y0, double y1) {
  for (int k = 0; k < meter::kSegments; ++k) {
    const double x0 = kBoundaries[k], x1 = kBoundaries[k + 1];
    if (ch.segmentLit[k]) {
      setColour(meter::segmentColour(k));
      quad(x0, y0, x1, y1);
    } else if (k >= 1 && ch.segmentLit[k - 1]) {
      setColour(meter::segmentColour(k));
      quad(x0, y0, x0 + (x1 - x0) * ch.partial, y1);
    }
  }
  if (ch.holdX != 0.0) {
    setColour(ch.holdColour);
    if (ch.holdX > meter::kOverLeft)
      quad(kBoundaries[meter::kSegments], y0, meter::kOverLeft, y1);
    else
      quad(ch.holdX - kHoldWidth, y0, ch.holdX, y1);
  }
  if (ch.overLamp == 1) {
    glColor3ub(252, 42, 42);
    quad(meter::kOverLeft, y0, meter::kOverRight, y1);
  }
}

void meterGraphic::paintGL() {
  if (devicePixelRatioF() != m_dpr) resizeGL(width(), height());
  glClear(GL_COLOR_BUFFER_BIT);
  drawBackground();
  drawChannel(m_model.channel(0), kLeftY0, kLeftY1);
  drawChannel(m_model.channel(1), kRightY0, kRightY1);
}

void meterGraphic::mousePressEvent(QMouseEvent* event) {
  releaseHold(0);
  event->accept();
}
