#include "eqwidgets.h"

#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "eqsettings.h"

// --- numeric field -----------------------------------------------------------

widgetEqParamText::widgetEqParamText(QWidget* parent) : QLineEdit(parent) {}

void widgetEqParamText::confirm() {
  setText(QString::fromStdString(eqgraph::cutToOneDecimal(text().toStdString())));
  emit enterKeyPressed();
}

void widgetEqParamText::keyPressEvent(QKeyEvent* event) {
  const int k = event->key();
  if (k == Qt::Key_Return || k == Qt::Key_Enter) {
    confirm();
    // Losing the focus would report the same text once more.
    const bool blocked = blockSignals(true);
    clearFocus();
    blockSignals(blocked);
    return;
  }
  const bool allowed = (k >= Qt::Key_0 && k <= Qt::Key_9) || k == Qt::Key_Minus ||
                       k == Qt::Key_Period || k == Qt::Key_Backspace || k == Qt::Key_Delete ||
                       k == Qt::Key_Left || k == Qt::Key_Right || k == Qt::Key_Up ||
                       k == Qt::Key_Down || k == Qt::Key_Home || k == Qt::Key_End;
  if (allowed) QLineEdit::keyPressEvent(event);
}

QColor eqBandColour(int band, double alpha) {
  static const double rgb[4][3] = {
      {1.0, 0.2, 0.1}, {1.0, 0.5, 0.2}, {0.2, 1.0, 0.2}, {0.4, 0.4, 1.0}};
  return QColor::fromRgbF(rgb[band][0], rgb[band][1], rgb[band][2], alpha);
}

// --- response graph ----------------------------------------------------------

namespace {

void colour(const QColor& c) { glColor4d(c.redF(), c.greenF(), c.blueF(), c.alphaF()); }

constexpr double kGridFrequencies[] = {20,   30,   40,   50,   60,   70,   80,    90,   100,  200,
                                       300,  400,  500,  600,  700,  800,  900,   1000, 2000, 3000,
                                       4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000};

}  // namespace

widgetEq::widgetEq(QWidget* parent)
    : QGLWidget(parent), m_frequencies(eqgraph::curveFrequencies()) {}

void widgetEq::setBands(const EqSettings* settings, double sampleRate) {
  m_settings = settings;
  if (sampleRate > 0) m_sampleRate = sampleRate;
  update();
}

eqgraph::GraphGeometry widgetEq::geometryModel() const {
  return eqgraph::GraphGeometry{double(width()), double(height())};
}

std::vector<double> widgetEq::bandCurve(int b) const {
  std::vector<double> db(m_frequencies.size(), 0.0);
  const EqBand* band = m_settings ? &m_settings->band[eq::recordOfRow(b)] : nullptr;
  if (!band || !band->biquad) return db;
  for (size_t i = 0; i < db.size(); ++i) db[i] = magnitudeDb(band, m_sampleRate, m_frequencies[i]);
  return db;
}

std::vector<double> widgetEq::sumCurve() const {
  std::vector<double> sum(m_frequencies.size(), 0.0);
  for (int b = 0; b < eqgraph::kBands; ++b) {
    if (!m_model.pins[b].display) continue;
    const std::vector<double> c = bandCurve(b);
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += c[i];
  }
  return sum;
}

void widgetEq::initializeGL() {
  glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
  resizeGL(width(), height());
}

void widgetEq::resizeGL(int, int) {
  // Device pixels for the framebuffer, graph units for drawing: the pins
  // land where the mouse (logical pixels, GraphGeometry) finds them.
  m_dpr = devicePixelRatioF();
  glViewport(0, 0, std::max(1, qRound(width() * m_dpr)), std::max(1, qRound(height() * m_dpr)));
  glLineWidth(GLfloat(m_dpr));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(eqgraph::kLogLeft, eqgraph::kLogRight, eqgraph::kDbBottom, eqgraph::kDbTop, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void widgetEq::drawGrid() {
  glBegin(GL_LINES);
  for (double f : kGridFrequencies) {
    const bool major = f == 100 || f == 1000 || f == 10000;
    glColor3d(major ? 0.6 : 0.4, major ? 0.6 : 0.4, major ? 0.6 : 0.4);
    glVertex2d(std::log10(f), -18.0);
    glVertex2d(std::log10(f), 18.0);
  }
  for (int db = -18; db <= 18; db += 6) {
    const double g = db == 0 ? 0.6 : 0.4;
    glColor3d(g, g, g);
    glVertex2d(eqgraph::kLogMin, db);
    glVertex2d(eqgraph::kLogMax, db);
  }
  glEnd();
}

void widgetEq::drawLabels() {
  QFont font(QStringLiteral("Meiryo"));
  font.setPointSize(9);
  glColor3d(1.0, 1.0, 1.0);
  static const char* const fLabels[] = {"20", "50", "100", "200", "500",
                                        "1k", "2k", "5k",  "10k", "20k"};
  static const double fValues[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
  for (int i = 0; i < 10; ++i)
    renderText(std::log10(fValues[i]) - (i == 9 ? 0.1 : 0.04), -20.5, 0.0,
               QString::fromLatin1(fLabels[i]), font);
  static const char* const gLabels[] = {"+18", "+12", "+6", "0", "-6", "-12", "-18"};
  for (int i = 0; i < 7; ++i)
    renderText(eqgraph::kLogLeft + 0.01, 18.0 - 6.0 * i - (i == 0 ? 1.6 : 0.5), 0.0,
               QString::fromLatin1(gLabels[i]), font);
}

void widgetEq::paintGL() {
  if (devicePixelRatioF() != m_dpr) resizeGL(width(), height());
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  drawGrid();
  bool any = false;
  for (int b = 0; b < eqgraph::kBands; ++b) {
    if (!m_model.pins[b].display) continue;
    any = true;
    const std::vector<double> c = bandCurve(b);
    colour(eqBandColour(b, 0.5));
    glBegin(GL_QUAD_STRIP);
    for (size_t i = 0; i < c.size(); ++i) {
      const double x = std::log10(m_frequencies[i]);
      glVertex2d(x, 0.0);
      glVertex2d(x, c[i]);
    }
    glEnd();
  }
  if (any) {
    const std::vector<double> sum = sumCurve();
    glColor4d(1.0, 1.0, 1.0, 0.8);
    glBegin(GL_LINE_STRIP);
    for (size_t i = 0; i < sum.size(); ++i) glVertex2d(std::log10(m_frequencies[i]), sum[i]);
    glEnd();
  }
  const double half = geometryModel().toleranceDb();
  for (int b = eqgraph::kBands - 1; b >= 0; --b) {
    const eqgraph::Pin& p = m_model.pins[b];
    QColor c = b == 3 ? QColor::fromRgbF(0.5, 0.5, 1.0) : eqBandColour(b, 1.0);
    c.setAlphaF(0.9);
    colour(c);
    glRectd(p.logFrequency - eqgraph::kPinHalfWidth, p.gain - half,
            p.logFrequency + eqgraph::kPinHalfWidth, p.gain + half);
  }
  drawLabels();
}

void widgetEq::mousePressEvent(QMouseEvent* event) {
  m_model.press(geometryModel(), event->localPos().x(), event->localPos().y());
}

void widgetEq::mouseMoveEvent(QMouseEvent* event) {
  const int band = m_model.move(geometryModel(), event->localPos().x(), event->localPos().y());
  if (band < 0) return;
  emit eqParamChanged(band);
  update();
}

void widgetEq::mouseReleaseEvent(QMouseEvent*) { m_model.release(); }

// --- Q bar, mark, type switch ---------------------------------------------------

WidgetQbar::WidgetQbar(QWidget* parent) : QWidget(parent) {}

void WidgetQbar::setQ(double q) {
  m_q = q;
  m_logQ = std::log10(eqgraph::clampQ(q));
  update();
}

void WidgetQbar::pick(double x) {
  const double q = eqgraph::qBarQ(x, width());
  emit qValueChanged(int(std::lround(q * 10.0)));
  update();
}

void WidgetQbar::mousePressEvent(QMouseEvent* event) { pick(event->localPos().x()); }

void WidgetQbar::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) pick(event->localPos().x());
}

void WidgetQbar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setPen(QColor(80, 84, 94));
  p.setBrush(QColor(26, 27, 31));
  p.drawRoundedRect(r, 3, 3);
  const double x = eqgraph::qBarX(m_q, width());
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(75, 186, 255));
  p.drawRoundedRect(QRectF(1.5, 2.5, std::max(0.0, x - 1.5), height() - 5.0), 2, 2);
}

WidgetMark::WidgetMark(QWidget* parent) : QWidget(parent) {}

void WidgetMark::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(20, 20, 20));
  p.setBrush(eqBandColour(m_band, 1.0));
  p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
}

eqtypesw::eqtypesw(QWidget* parent) : QLabel(parent) { setType(0); }

void eqtypesw::setType(int type) {
  m_type = type == 1 ? 1 : 0;
  setPixmap(QPixmap(m_type ? QStringLiteral(":/jpgData/eqShelving.png")
                           : QStringLiteral(":/jpgData/eqPeaking.png")));
}

void eqtypesw::mousePressEvent(QMouseEvent*) {
  setType(1 - m_type);
  emit selEqType(m_type);
}

// --- knob -------------------------------------------------------------------------

knobGL::knobGL(QWidget* parent) : QGLWidget(parent) { m_step = eqgraph::knobStepFor(0.0); }

void knobGL::setStep(int step) {
  m_step = std::clamp(step, 0, eqgraph::kKnobSteps - 1);
  update();
}

void knobGL::initializeGL() {
  glClearColor(0.13f, 0.14f, 0.16f, 1.0f);
  resizeGL(width(), height());
}

void knobGL::resizeGL(int, int) {
  m_dpr = devicePixelRatioF();
  glViewport(0, 0, std::max(1, qRound(width() * m_dpr)), std::max(1, qRound(height() * m_dpr)));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1.0, 1.0, -1.0, 1.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void knobGL::paintGL() {
  if (devicePixelRatioF() != m_dpr) resizeGL(width(), height());
  glClear(GL_COLOR_BUFFER_BIT);
  constexpr double kPi = 3.141592653589793;
  // Scale arc, body, pointer.
  glColor3d(0.3, 0.32, 0.36);
  glBegin(GL_TRIANGLE_FAN);
  glVertex2d(0, 0);
  for (int i = 0; i <= 64; ++i)
    glVertex2d(0.95 * std::cos(2 * kPi * i / 64), 0.95 * std::sin(2 * kPi * i / 64));
  glEnd();
  glColor3d(0.29, 0.73, 1.0);
  glLineWidth(GLfloat(2 * m_dpr));
  glBegin(GL_LINE_STRIP);
  for (int i = 0; i <= m_step; i += 4)
    glVertex2d(0.95 * std::cos(eqgraph::knobAngle(i)), 0.95 * std::sin(eqgraph::knobAngle(i)));
  glVertex2d(0.95 * std::cos(eqgraph::knobAngle(m_step)),
             0.95 * std::sin(eqgraph::knobAngle(m_step)));
  glEnd();
  glColor3d(0.16, 0.17, 0.2);
  glBegin(GL_TRIANGLE_FAN);
  glVertex2d(0, 0);
  for (int i = 0; i <= 64; ++i)
    glVertex2d(0.8 * std::cos(2 * kPi * i / 64), 0.8 * std::sin(2 * kPi * i / 64));
  glEnd();
  const double a = eqgraph::knobAngle(m_step);
  glColor3d(0.95, 0.95, 0.95);
  glBegin(GL_LINES);
  glVertex2d(0.25 * std::cos(a), 0.25 * std::sin(a));
  glVertex2d(0.8 * std::cos(a), 0.8 * std::sin(a));
  glEnd();
}

void knobGL::mousePressEvent(QMouseEvent* event) {
  m_dragging = true;
  m_lastY = event->localPos().y();
}

void knobGL::mouseMoveEvent(QMouseEvent* event) {
  if (!m_dragging) return;
  const int pixels = int(std::lround(m_lastY - event->localPos().y()));
  if (pixels == 0) return;
  m_lastY -= pixels;
  setStep(m_step + pixels);
  emit valueChanged();
}

void knobGL::mouseReleaseEvent(QMouseEvent*) { m_dragging = false; }
