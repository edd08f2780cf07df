// The waveform view: the summary envelope of the open file, the in and out
// markers and the play cursor; a click locates. Without a file it shows the
// drop prompt. The arithmetic lives in waveformmodel.h; this class draws it.
#pragma once

#include <QGLWidget>
#include <QImage>
#include <cstdint>
#include <vector>

#include "editpoints.h"
#include "waveformmodel.h"

// Position type of the in/out signals: a fraction 0..1 of the file.
typedef double F64;

class trackGraphic : public QGLWidget {
  Q_OBJECT

 public:
  // What the next paint has to do; the cheapest that shows every change.
  enum RepaintKind {
    kRepaintFull = 0,     // background, every visible column, overlay
    kRepaintCursor = 1,   // cached picture with markers, then the cursor
    kRepaintAppend = 2,   // cached waveform plus the newly summarised columns
    kRepaintOverlay = 3,  // cached waveform, then markers and cursor
  };

  explicit trackGraphic(QWidget* parent = nullptr);
  ~trackGraphic() override;

  // Clears or sets the no-file flag; without a file the prompt is drawn.
  void setFileLoaded(bool loaded);
  bool isFileLoaded() const { return !m_noFile; }
  void setShortFile(bool shortFile) { m_shortFile = shortFile; }
  void setChannels(int channels);
  int channels() const { return m_channels; }
  // The summary failed for good: say so instead of drawing a partial picture.
  void setSummaryFailed(bool failed);
  bool summaryFailed() const { return m_summaryFailed; }

  // The window of the current level: buffers, the first column to (re)draw,
  // how many columns are ready, visible and in total, and the scroll offset.
  // Appends when progressOnly and the window continues the one drawn before.
  void setWaveData(const waveview::SummaryEntry* maxCols, const waveview::SummaryEntry* minCols,
                   int64_t firstColumn, int64_t usable, int64_t visible, int64_t levelColumns,
                   int64_t offset, bool progressOnly);
  void setFineLevel(bool fine);
  void setCursorViewX(double x);
  double cursorViewX() const { return m_cursorViewX; }
  void setLevelZoom(double zoom);
  double levelZoom() const { return m_points.levelZoom; }
  // Whole file marked, no drag in progress (on every open).
  void resetPoints();
  // Gain back to unity (the gain label's double-click).
  void resetGain();

  const EditPoints& editPoints() const { return m_points; }
  int mouseMode() const { return m_mouse.mode; }
  const waveview::ViewWindow& viewWindow() const { return m_window; }
  const waveview::ViewGeometry& geometryModel() const { return m_geo; }
  // What the last paint did, for checks of the caching.
  int lastPaintKind() const { return m_lastPaintKind; }
  int64_t lastPaintColumns() const { return m_lastPaintColumns; }
  // Marker x in view units.
  double markerX(double fraction) const { return m_window.xOf(fraction); }

 public slots:
  void arrangeInPoint(F64 inPoint);
  void arrangeOutPoint(F64 outPoint);

 signals:
  void mousePressed();
  void editParamChanged();

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void request(RepaintKind kind);
  void drawBackground();
  void drawDivider();
  int64_t drawColumns(int64_t from, int64_t to);
  void drawFilled(int64_t from, int64_t to);
  void drawLines(int64_t from, int64_t to);
  void drawOverlay();
  void drawMarker(double fraction, bool active);
  void drawCursor();
  void drawText(double x, double y, const QString& text);
  void drawImageAt(const QImage& image, double vx, double vy);
  void drawPicture(const QImage& image);
  void windowPos(double px, double py);
  void readCache(std::vector<uint8_t>& cache);
  void drawCache(const std::vector<uint8_t>& cache);
  int64_t visibleEnd() const;

  EditPoints m_points;
  waveview::MouseEdit m_mouse;
  waveview::ViewGeometry m_geo;  // logical pixels, as the mouse reports them
  double m_dpr = 1.0;
  int m_deviceWidth = waveview::kViewWidth;
  int m_deviceHeight = waveview::kViewHeight;
  waveview::ViewWindow m_window;

  const waveview::SummaryEntry* m_maxCols = nullptr;
  const waveview::SummaryEntry* m_minCols = nullptr;
  int64_t m_firstColumn = 0;
  int64_t m_usable = 0;
  int64_t m_drawnTo = 0;     // columns in the waveform cache end here
  int64_t m_appendFrom = 0;  // first column of a pending append
  double m_cursorViewX = 0.0;
  int m_repaintKind = kRepaintFull;
  int m_lastPaintKind = -1;
  int64_t m_lastPaintColumns = 0;
  int m_channels = 2;
  bool m_noFile = true;
  bool m_shortFile = true;
  bool m_fineLevel = false;
  bool m_summaryFailed = false;
  bool m_waveCacheValid = false;
  bool m_markerCacheValid = false;

  std::vector<uint8_t> m_waveCache;    // waveform only
  std::vector<uint8_t> m_markerCache;  // waveform with markers

  QImage m_background;  // GL-format copies of the pictures
  QImage m_markerOff;
  QImage m_markerOn;
  QImage m_cursorImage;
  QImage m_markerRed[2];
  QImage m_markerGreen[2];

  using WindowPosFn = void (*)(float, float);
  WindowPosFn m_windowPos = nullptr;
};
