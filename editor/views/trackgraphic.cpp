#include "trackgraphic.h"

#include <QApplication>
#include <QFont>
#include <QMouseEvent>
#include <algorithm>

using waveview::EnvelopeSlot;
using waveview::Lane;
using waveview::Rgb;
using waveview::SummaryEntry;

namespace {

QImage glImage(const QString& path) {
  const QImage image(path);
  return image.isNull() ? QImage() : QGLWidget::convertToGLFormat(image);
}

void glRgb(const Rgb& c) { glColor3d(c.r, c.g, c.b); }

double channelValue(const SummaryEntry& e, int lane) { return lane == 0 ? e.left : e.right; }

}  // namespace

trackGraphic::trackGraphic(QWidget* parent) : QGLWidget(parent) {
  setFixedSize(waveview::kViewWidth, waveview::kViewHeight);
  m_background = glImage(QStringLiteral(":/resources/bg/waveformBack.png"));
  m_markerOff = glImage(QStringLiteral(":/resources/parts/point_BlueFlat_off.png"));
  m_markerOn = glImage(QStringLiteral(":/resources/parts/point_BlueFlat_on.png"));
  m_cursorImage = glImage(QStringLiteral(":/resources/parts/playCursor.png"));
  m_markerRed[0] = glImage(QStringLiteral(":/resources/parts/point_RedFlat_off.png"));
  m_markerRed[1] = glImage(QStringLiteral(":/resources/parts/point_RedFlat_on.png"));
  m_markerGreen[0] = glImage(QStringLiteral(":/resources/parts/point_GreenFlat_off.png"));
  m_markerGreen[1] = glImage(QStringLiteral(":/resources/parts/point_GreenFlat_on.png"));
}

trackGraphic::~trackGraphic() = default;

void trackGraphic::request(RepaintKind kind) {
  // A pending bigger repaint covers a smaller one; appends accumulate.
  const auto rank = [](int k) {
    switch (k) {
      case kRepaintFull:
        return 3;
      case kRepaintAppend:
        return 2;
      case kRepaintOverlay:
        return 1;
      default:
        return 0;
    }
  };
  if (kind == kRepaintAppend && m_repaintKind == kRepaintOverlay) {
    m_repaintKind = kRepaintAppend;  // an append redraws the overlay anyway
  } else if (rank(kind) > rank(m_repaintKind)) {
    m_repaintKind = kind;
  }
  update();
}

void trackGraphic::setFileLoaded(bool loaded) {
  m_noFile = !loaded;
  if (loaded) m_summaryFailed = false;
  request(kRepaintFull);
}

void trackGraphic::setChannels(int channels) {
  m_channels = channels == 1 ? 1 : 2;
  request(kRepaintFull);
}

void trackGraphic::setSummaryFailed(bool failed) {
  m_summaryFailed = failed;
  request(kRepaintFull);
}

void trackGraphic::setWaveData(const SummaryEntry* maxCols, const SummaryEntry* minCols,
                               int64_t firstColumn, int64_t usable, int64_t visible,
                               int64_t levelColumns, int64_t offset, bool progressOnly) {
  const bool sameWindow = maxCols == m_maxCols && minCols == m_minCols &&
                          static_cast<double>(visible) == m_window.visibleColumns &&
                          static_cast<double>(levelColumns) == m_window.levelColumns &&
                          offset == m_window.offset;
  const bool continues = progressOnly && sameWindow && m_waveCacheValid &&
                         m_repaintKind != kRepaintFull && firstColumn <= m_drawnTo;
  m_maxCols = maxCols;
  m_minCols = minCols;
  m_firstColumn = std::max<int64_t>(0, firstColumn);
  // Never more than the level holds, so nothing unwritten is read.
  m_usable = std::clamp<int64_t>(usable, 0, levelColumns);
  m_window.visibleColumns = static_cast<double>(std::max<int64_t>(visible, 1));
  m_window.levelColumns = static_cast<double>(std::max<int64_t>(levelColumns, 1));
  m_window.offset = std::max<int64_t>(offset, 0);
  if (continues) {
    m_appendFrom =
        m_repaintKind == kRepaintAppend ? std::min(m_appendFrom, m_firstColumn) : m_firstColumn;
    request(kRepaintAppend);
  } else {
    request(kRepaintFull);
  }
}

void trackGraphic::setFineLevel(bool fine) {
  if (fine != m_fineLevel) request(kRepaintFull);
  m_fineLevel = fine;
}

void trackGraphic::setCursorViewX(double x) {
  m_cursorViewX = x;
  request(kRepaintCursor);
}

void trackGraphic::setLevelZoom(double zoom) {
  m_points.levelZoom = std::clamp(zoom, 1.0, waveview::kMaxLevelZoom);
  request(kRepaintFull);
}

void trackGraphic::resetPoints() {
  const double levelZoom = m_points.levelZoom;
  const double cursor = m_points.cursor;
  m_points.reset();
  m_points.levelZoom = levelZoom;
  m_points.cursor = cursor;
  m_mouse.release();
  m_window.visibleColumns = 1.0;
  m_window.levelColumns = 1.0;
  m_window.offset = 0;
  m_usable = m_drawnTo = 0;  // nothing of the new file is summarised yet
  request(kRepaintFull);
  emit editParamChanged();
}

void trackGraphic::resetGain() {
  m_points.gain = 1.0;
  request(kRepaintOverlay);
}

void trackGraphic::arrangeInPoint(F64 inPoint) {
  m_points.arrangeInPoint(inPoint);
  request(kRepaintOverlay);
  emit editParamChanged();
}

void trackGraphic::arrangeOutPoint(F64 outPoint) {
  m_points.arrangeOutPoint(outPoint);
  request(kRepaintOverlay);
  emit editParamChanged();
}

void trackGraphic::initializeGL() {
  glClearColor(0.1f, 0.1f, 0.1f, 0.0f);
  // Window-space raster positions keep cached pictures exactly in place
  // (glRasterPos at the view's corner can fall a hair outside and vanish).
  m_windowPos = reinterpret_cast<WindowPosFn>(context()->getProcAddress("glWindowPos2f"));
  resizeGL(width(), height());
}

void trackGraphic::resizeGL(int, int) {
  // Mouse positions and the model are in logical pixels; the framebuffer,
  // the viewport and the pixel caches in device pixels. Qt hands either size
  // here depending on the caller, so both are derived from the widget itself.
  const int w = width(), h = height();
  if (w <= 0 || h <= 0) return;
  m_dpr = devicePixelRatioF();
  m_deviceWidth = std::max(1, qRound(w * m_dpr));
  m_deviceHeight = std::max(1, qRound(h * m_dpr));
  m_geo = waveview::ViewGeometry::forSize(w, h);
  glViewport(0, 0, m_deviceWidth, m_deviceHeight);
  glLineWidth(static_cast<GLfloat>(m_dpr));
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(m_geo.left, m_geo.right, m_geo.bottom, m_geo.top, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  // Caches and pictures are RGBA rows (multiples of 4 bytes), so the default
  // 4-byte pixel alignment holds; the text renderer relies on it too.
  const size_t bytes = (static_cast<size_t>(m_deviceWidth) * m_deviceHeight * 4 + 7) / 8 * 8;
  m_waveCache.assign(bytes, 0);
  m_markerCache.assign(bytes, 0);
  m_waveCacheValid = m_markerCacheValid = false;
  m_repaintKind = kRepaintFull;
  update();
}

void trackGraphic::windowPos(double px, double py) {
  if (m_windowPos) {
    m_windowPos(static_cast<float>(px * m_dpr), static_cast<float>(py * m_dpr));
  } else {
    glRasterPos2d(m_geo.left + px / m_geo.width * (m_geo.right - m_geo.left),
                  m_geo.bottom + py / m_geo.height * (m_geo.top - m_geo.bottom));
  }
}

void trackGraphic::readCache(std::vector<uint8_t>& cache) {
  if (cache.size() < static_cast<size_t>(m_deviceWidth) * m_deviceHeight * 4) return;
  glReadPixels(0, 0, m_deviceWidth, m_deviceHeight, GL_RGBA, GL_UNSIGNED_BYTE, cache.data());
}

void trackGraphic::drawCache(const std::vector<uint8_t>& cache) {
  if (cache.size() < static_cast<size_t>(m_deviceWidth) * m_deviceHeight * 4) return;
  glDisable(GL_BLEND);
  windowPos(0, 0);
  glDrawPixels(m_deviceWidth, m_deviceHeight, GL_RGBA, GL_UNSIGNED_BYTE, cache.data());
  glEnable(GL_BLEND);
}

void trackGraphic::drawImageAt(const QImage& image, double vx, double vy) {
  const double px = (vx - m_geo.left) / (m_geo.right - m_geo.left) * m_geo.width;
  const double py = (vy - m_geo.bottom) / (m_geo.top - m_geo.bottom) * m_geo.height;
  windowPos(px, py);
  drawPicture(image);
}

void trackGraphic::drawPicture(const QImage& image) {
  // Pictures are drawn at their logical size, as big as the tolerances that
  // grab them.
  const auto zoom = static_cast<GLfloat>(m_dpr);
  glPixelZoom(zoom, zoom);
  glDrawPixels(image.width(), image.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.constBits());
  glPixelZoom(1.0f, 1.0f);
}

void trackGraphic::drawBackground() {
  if (m_background.isNull()) return;
  glDisable(GL_BLEND);
  windowPos(0, 0);
  drawPicture(m_background);
}

void trackGraphic::drawDivider() {
  glRgb(waveview::kDividerColour);
  glBegin(GL_LINES);
  glVertex2d(0.0, 0.5);
  glVertex2d(1.0, 0.5);
  glEnd();
}

int64_t trackGraphic::visibleEnd() const {
  const int64_t end = m_window.offset + static_cast<int64_t>(m_window.visibleColumns);
  return std::min(end, m_usable);
}

int64_t trackGraphic::drawColumns(int64_t from, int64_t to) {
  from = std::max(from, m_window.offset);
  if (!m_maxCols || !m_minCols || from >= to) return 0;
  if (m_fineLevel && m_shortFile)
    drawLines(from, to);
  else
    drawFilled(from, to);
  return to - from;
}

void trackGraphic::drawFilled(int64_t from, int64_t to) {
  // One slot more on the left, so that the first one drawn has its neighbour.
  const int64_t slot = static_cast<int64_t>(m_window.visibleColumns) / m_geo.width + 1;
  std::vector<EnvelopeSlot> envelope = waveview::envelopeSlots(
      m_maxCols, m_minCols, m_window, std::max(m_window.offset, from - slot), to, m_geo.width);
  // A slot shorter than the signal's period holds only part of a cycle, and
  // neighbours alternate high and low: a steady tone would draw as a comb.
  // Each slot reaches to its neighbours' extremes, as a line through the
  // samples would, so it draws as the band it is.
  const std::vector<EnvelopeSlot> own = envelope;
  for (size_t k = 0; k < envelope.size(); ++k) {
    for (size_t n : {k - 1, k + 1}) {
      if (n >= own.size()) continue;  // k - 1 wraps for the first slot
      EnvelopeSlot& e = envelope[k];
      e.max.left = std::max(e.max.left, own[n].max.left);
      e.max.right = std::max(e.max.right, own[n].max.right);
      e.min.left = std::min(e.min.left, own[n].min.left);
      e.min.right = std::min(e.min.right, own[n].min.right);
    }
  }
  const int lanes = waveview::laneCount(m_channels);
  const double zoom = m_points.levelZoom;
  glShadeModel(GL_SMOOTH);
  glBegin(GL_QUADS);
  for (int l = 0; l < lanes; ++l) {
    const Lane lane = waveview::laneFor(m_channels, l);
    const Rgb centre = waveview::shade(lane, lane.centre);
    for (const EnvelopeSlot& s : envelope) {
      // Columns always straddle the centre (the library starts each at 0),
      // so each is one area above and one below the lane centre.
      for (double v : {channelValue(s.max, l), channelValue(s.min, l)}) {
        const double y = waveview::laneY(lane, v, zoom);
        const Rgb edge = waveview::shade(lane, y);
        glRgb(centre);
        glVertex2d(s.x0, lane.centre);
        glVertex2d(s.x1, lane.centre);
        glRgb(edge);
        glVertex2d(s.x1, y);
        glVertex2d(s.x0, y);
      }
    }
  }
  glEnd();
}

void trackGraphic::drawLines(int64_t from, int64_t to) {
  // Join each column to the next; start one early so an append connects.
  const int64_t first = std::max(from - 1, m_window.offset);
  const int lanes = waveview::laneCount(m_channels);
  const double zoom = m_points.levelZoom;
  const double v = m_window.visibleColumns;
  glBegin(GL_LINES);
  for (int l = 0; l < lanes; ++l) {
    const Lane lane = waveview::laneFor(m_channels, l);
    for (const SummaryEntry* cols : {m_maxCols, m_minCols}) {
      for (int64_t i = first; i + 1 < to; ++i) {
        const double y0 = waveview::laneY(lane, channelValue(cols[i], l), zoom);
        const double y1 = waveview::laneY(lane, channelValue(cols[i + 1], l), zoom);
        glRgb(waveview::shade(lane, y0));
        glVertex2d(static_cast<double>(i - m_window.offset) / v, y0);
        glRgb(waveview::shade(lane, y1));
        glVertex2d(static_cast<double>(i + 1 - m_window.offset) / v, y1);
      }
    }
  }
  glEnd();
}

void trackGraphic::drawOverlay() {
  const double in = m_window.xOf(m_points.inPoint);
  const double out = m_window.xOf(m_points.outPoint);
  const double fadeInEnd = m_window.xOf(m_points.fadeInEnd);
  const double fadeOutStart = m_window.xOf(m_points.fadeOutStart);
  const double level = m_points.gain;  // 1.0 at unity gain
  glColor3d(1.0, 1.0, 1.0);
  glBegin(GL_LINES);
  glVertex2d(in, 0.0);
  glVertex2d(fadeInEnd, level);
  glVertex2d(fadeOutStart, level);
  glVertex2d(out, 0.0);
  glVertex2d(in, 0.0);
  glVertex2d(in, 1.0);
  glVertex2d(out, 0.0);
  glVertex2d(out, 1.0);
  glEnd();
  drawMarker(m_points.inPoint, m_mouse.mode == waveview::kMouseIn);
  drawMarker(m_points.outPoint, m_mouse.mode == waveview::kMouseOut);
}

void trackGraphic::drawMarker(double fraction, bool active) {
  const double x = m_window.xOf(fraction);
  const double y = waveview::handleHeight(m_channels);
  const QImage& image = active ? m_markerOn : m_markerOff;
  if (!image.isNull()) {
    drawImageAt(image, x - m_geo.tolX, y - m_geo.tolY);
    return;
  }
  // No picture: a diamond handle of the grab size.
  const double hx = m_geo.tolX * 0.8;
  const double hy = m_geo.tolY * 0.8;
  if (active)
    glColor3d(1.0, 1.0, 1.0);
  else
    glColor3d(0.2, 0.55, 1.0);
  glBegin(GL_QUADS);
  glVertex2d(x, y - hy);
  glVertex2d(x + hx, y);
  glVertex2d(x, y + hy);
  glVertex2d(x - hx, y);
  glEnd();
}

void trackGraphic::drawCursor() {
  const int w = m_geo.width;
  const int p = static_cast<int>(w * m_cursorViewX + 0.5);
  const double x = static_cast<double>(p) / w - 7.0 / w + 0.0015;
  if (!m_cursorImage.isNull()) {
    drawImageAt(m_cursorImage, x, -m_geo.tolY);
    return;
  }
  // No picture: a line with a head, centred where the picture would be.
  const double cx = x + 7.0 / w;
  glColor3d(1.0, 0.55, 0.1);
  glBegin(GL_LINES);
  glVertex2d(cx, m_geo.bottom);
  glVertex2d(cx, 1.0);
  glEnd();
  glBegin(GL_TRIANGLES);
  glVertex2d(cx - 5.0 / w, m_geo.top);
  glVertex2d(cx + 5.0 / w, m_geo.top);
  glVertex2d(cx, 1.0);
  glEnd();
}

void trackGraphic::drawText(double x, double y, const QString& text) {
  // The program's own font (set on the application at start-up).
  QFont font = QApplication::font();
  font.setItalic(true);
  font.setPixelSize(24);
  glColor3d(0.9, 0.9, 0.9);
  // renderText takes view coordinates through the current projection.
  renderText(x, y, 0.0, text, font);
}

void trackGraphic::paintGL() {
  // Moved to a screen of another scale: the device-pixel sizes change.
  if (devicePixelRatioF() != m_dpr) resizeGL(width(), height());
  const int kind = m_repaintKind;
  glClear(GL_COLOR_BUFFER_BIT);
  drawBackground();
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  if (m_channels != 1) drawDivider();

  int64_t drawn = 0;
  if (kind == kRepaintCursor && m_markerCacheValid) {
    drawCache(m_markerCache);
  } else {
    const int64_t end = visibleEnd();
    if (kind == kRepaintAppend && m_waveCacheValid) {
      drawCache(m_waveCache);
      drawn = drawColumns(std::min(m_appendFrom, m_drawnTo), end);
    } else if ((kind == kRepaintOverlay || kind == kRepaintCursor) && m_waveCacheValid) {
      drawCache(m_waveCache);
    } else {
      drawn = drawColumns(m_window.offset, end);
    }
    m_drawnTo = std::max(end, m_window.offset);
    readCache(m_waveCache);
    m_waveCacheValid = true;
    if (!m_noFile) drawOverlay();
    readCache(m_markerCache);
    m_markerCacheValid = true;
  }
  drawCursor();
  if (m_noFile)
    drawText(0.3, 0.3, tr("Drop a Sound File Here."));
  else if (m_summaryFailed)
    drawText(0.3, 0.3, tr("Could Not Read the Sound File."));
  m_lastPaintKind = kind;
  m_lastPaintColumns = drawn;
  m_repaintKind = kRepaintCursor;
}

void trackGraphic::mousePressEvent(QMouseEvent* event) {
  const double px = event->localPos().x();
  const double py = event->localPos().y();
  if (m_noFile) {
    // No markers to grab: every press locates.
    const double x = std::clamp(m_geo.viewX(px), 0.0, 1.0);
    m_mouse.mode = waveview::kMouseLocate;
    m_points.cursor = std::clamp(m_window.fractionAt(x), 0.0, 1.0);
    m_cursorViewX = x;
  } else {
    m_mouse.press(m_points, m_geo, m_window, m_channels, px, py, m_cursorViewX);
  }
  if (m_mouse.mode == waveview::kMouseLocate) {
    setCursorViewX(m_cursorViewX);
    emit editParamChanged();
  }
  request(kRepaintOverlay);
}

void trackGraphic::mouseMoveEvent(QMouseEvent* event) {
  if (!m_mouse.move(m_points, m_geo, m_window, event->localPos().x(), event->localPos().y(),
                    m_cursorViewX))
    return;
  request(m_mouse.mode == waveview::kMouseLocate ? kRepaintCursor : kRepaintOverlay);
  emit editParamChanged();
  emit mousePressed();
}

void trackGraphic::mouseReleaseEvent(QMouseEvent* /*event*/) {
  m_mouse.release();
  request(kRepaintOverlay);
}
