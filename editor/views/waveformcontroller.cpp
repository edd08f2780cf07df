#include "waveformcontroller.h"

#include <QScrollBar>
#include <QSignalBlocker>

#include "trackgraphic.h"

namespace {
constexpr int kStopPolls = 10;      // x 10 ms before a new summary
constexpr int kShutdownPolls = 29;  // x 100 ms at shutdown
}  // namespace

WaveformController::WaveformController(trackGraphic* view, QScrollBar* scrollBar, QObject* parent)
    : QObject(parent), m_view(view), m_scrollBar(scrollBar), m_buffers(waveview::kViewWidth) {
  // The result is taken once run() has returned (finished, not
  // waveFormPrepared), so that a restart can start the thread again.
  connect(&m_thread, &QThread::finished, this, &WaveformController::waveFormPrepared,
          Qt::QueuedConnection);
  m_progressTimer.setInterval(kProgressIntervalMs);
  connect(&m_progressTimer, &QTimer::timeout, this, &WaveformController::progressTick);
}

WaveformController::~WaveformController() { shutdown(); }

void WaveformController::resetForFile(const QString& path, int channels, bool shortFile) {
  m_path = path;
  m_restarts = 0;
  if (m_view) {
    m_view->setChannels(channels);
    m_view->setShortFile(shortFile);
    m_view->setSummaryFailed(false);
    m_view->setLevelZoom(1.0);
    m_view->resetPoints();
  }
  m_zoom.reset();
  applyScrollBar();
  placeCursor(0.0);
}

bool WaveformController::waitForThread() {
  for (int i = 0; i < kStopPolls && m_thread.isRunning(); ++i) QThread::msleep(10);
  return !m_thread.isRunning();
}

void WaveformController::startWaveformSummary() {
  m_inProgress = false;  // results of the old run are stale from here on
  if (m_thread.isRunning()) {
    m_thread.requestStop();
    if (!waitForThread()) {
      // Still inside a read: start once it has returned rather than zero
      // buffers it is writing.
      m_pendingStart = true;
      return;
    }
  }
  if (!m_buffers.valid() || m_path.isEmpty()) return;
  m_buffers.clear();
  m_ready = false;
  m_columnsProduced = 0;
  m_lastProgress = 0;
  showColumns(m_zoom.offset, false);
  m_inProgress = true;
  launch();
}

void WaveformController::launch() {
  m_expectedRun = m_thread.runCount() + 1;
  m_thread.setJob(m_path, m_buffers.columnCounts(), m_buffers.maxSet(), m_buffers.minSet(), m_view);
  m_thread.start(QThread::NormalPriority);
  m_progressTimer.start();
}

void WaveformController::waveFormPrepared() {
  if (m_pendingStart) {
    m_pendingStart = false;
    startWaveformSummary();
    return;
  }
  // A late report of a cancelled run: the new run reports for itself.
  if (!m_inProgress || m_thread.runCount() != m_expectedRun) return;
  m_expectedRun = 0;
  const int64_t result = m_thread.result();
  if (result >= 0) {
    m_inProgress = false;
    m_ready = true;
    m_columnsProduced = result;
    m_progressTimer.stop();
    showColumns(m_zoom.offset, false);
    return;
  }
  if (result != kWaveformNoFunction && m_restarts < kMaxSummaryRestarts) {
    ++m_restarts;
    launch();  // again at once, keeping what has been drawn
    return;
  }
  m_inProgress = false;
  m_progressTimer.stop();
  if (m_view) m_view->setSummaryFailed(true);
  emit summaryFailed();
}

int64_t WaveformController::usableColumns(int level) const {
  if (m_ready) return m_buffers.plan().columns[level];
  const int64_t p = m_inProgress ? m_thread.progress() : m_lastProgress;
  return waveview::usableColumns(level, p);
}

void WaveformController::showColumns(int64_t offset, bool progressOnly) {
  const int level = waveview::levelForZoom(m_zoom.zoom);
  const int64_t progress = m_ready ? m_buffers.plan().columns[waveview::kCoarse]
                                   : (m_inProgress ? m_thread.progress() : m_lastProgress);
  const int64_t usable = usableColumns(level);
  const waveview::ColumnRange r =
      waveview::planColumns(m_buffers.plan(), m_zoom.zoom, offset, usable,
                            waveview::usableColumns(level, m_lastProgress));
  m_zoom.offset = r.offset;
  if (m_view) {
    m_view->setFineLevel(m_zoom.zoom > 1024);
    m_view->setWaveData(m_buffers.maxLevel(level), m_buffers.minLevel(level), r.firstColumn,
                        r.usable, r.visible, r.levelColumns, r.offset, progressOnly);
    emit m_view->editParamChanged();
  }
  m_lastProgress = progress;
}

void WaveformController::progressTick() {
  if (!m_inProgress) {
    m_progressTimer.stop();
    return;
  }
  showColumns(m_zoom.offset, waveview::levelForZoom(m_zoom.zoom) == waveview::kCoarse);
}

double WaveformController::placeCursor(double fraction) {
  const double columns = static_cast<double>(m_zoom.levelColumns(m_buffers.plan()));
  const double x = waveview::placeCursor(columns, fraction, m_zoom.offset, m_zoom.zoom);
  if (m_view) m_view->setCursorViewX(x);
  return x;
}

void WaveformController::followPlayPosition(double fraction, bool sliderHeld) {
  const double x = placeCursor(fraction);
  if ((x >= 0.0 && x <= 1.0) || sliderHeld || m_zoom.zoom == 1) return;
  m_zoom.follow(fraction, m_buffers.plan());
  showColumns(m_zoom.offset, false);
  applyScrollBar();
  placeCursor(fraction);
}

void WaveformController::applyScrollBar() {
  if (!m_scrollBar) return;
  const QSignalBlocker block(m_scrollBar);
  m_scrollBar->setPageStep(m_zoom.scrollPage);
  m_scrollBar->setMaximum(m_zoom.scrollMax);
  m_scrollBar->setValue(m_zoom.scrollValue);
}

void WaveformController::zoomInTime(double playFraction) {
  m_zoom.zoomIn(playFraction, m_buffers.plan());
  showColumns(m_zoom.offset, false);
  applyScrollBar();
  placeCursor(playFraction);
}

void WaveformController::zoomOutTime(double playFraction) {
  m_zoom.zoomOut(playFraction, m_buffers.plan());
  showColumns(m_zoom.offset, false);
  applyScrollBar();
  placeCursor(playFraction);
}

void WaveformController::zoomInLevel() {
  if (m_view) m_view->setLevelZoom(waveview::zoomLevelIn(m_view->levelZoom()));
  showColumns(m_zoom.offset, false);
}

void WaveformController::zoomOutLevel() {
  if (m_view) m_view->setLevelZoom(waveview::zoomLevelOut(m_view->levelZoom()));
  showColumns(m_zoom.offset, false);
}

void WaveformController::scrollValueChanged(int value, double playFraction) {
  m_zoom.scrollValue = value;
  showColumns(m_zoom.offsetForScroll(value, m_buffers.plan()), false);
  placeCursor(playFraction);
}

void WaveformController::shutdown() {
  m_progressTimer.stop();
  m_inProgress = false;
  m_pendingStart = false;
  m_thread.requestStop();
  for (int i = 0; i < kShutdownPolls && m_thread.isRunning() && !m_thread.finishedFlag(); ++i)
    QThread::msleep(100);
}
