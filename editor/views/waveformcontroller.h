// Drives the waveform view for the main window: owns the summary buffers and
// the summary thread, restarts a failing summary a bounded number of times,
// shows the growing envelope, and applies time zoom, level zoom and the
// scroll bar.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

#include "waveformmodel.h"
#include "waveformthread.h"

class QScrollBar;
class trackGraphic;

class WaveformController : public QObject {
  Q_OBJECT

 public:
  // Restarts after a failed summary before the view gives up.
  static constexpr int kMaxSummaryRestarts = 3;
  // Envelope refresh while a summary runs.
  static constexpr int kProgressIntervalMs = 45;

  WaveformController(trackGraphic* view, QScrollBar* scrollBar, QObject* parent = nullptr);
  ~WaveformController() override;

  void setSummaryFunction(GetAudioWaveFormFn fn) { m_thread.setFunction(fn); }
  // A file was opened: reset points, zoom, level zoom and scroll bar; the
  // summary starts with startWaveformSummary().
  void resetForFile(const QString& path, int channels, bool shortFile);
  void startWaveformSummary();
  // Gives the view the window of the current level that starts at offset.
  void showColumns(int64_t offset, bool progressOnly);
  // Play cursor for a file fraction; the result is inside the view when 0..1.
  double placeCursor(double fraction);
  // During playback: place the cursor and scroll when it leaves the view.
  void followPlayPosition(double fraction, bool sliderHeld);

  void zoomInTime(double playFraction);
  void zoomOutTime(double playFraction);
  void zoomInLevel();
  void zoomOutLevel();
  void scrollValueChanged(int value, double playFraction);

  // Asks the thread to stop and polls its finished byte (100 ms steps, at
  // most 29 of them), as at shutdown.
  void shutdown();

  int timeZoom() const { return m_zoom.zoom; }
  int64_t scrollOffset() const { return m_zoom.offset; }
  bool summaryInProgress() const { return m_inProgress; }
  bool summaryReady() const { return m_ready; }
  int64_t summaryColumns() const { return m_columnsProduced; }
  const WaveSummaryBuffers& buffers() const { return m_buffers; }
  waveFormThread& thread() { return m_thread; }

 signals:
  // The summary failed kMaxSummaryRestarts + 1 times (or cannot run at all).
  void summaryFailed();

 public slots:
  void waveFormPrepared();

 private:
  void launch();
  bool waitForThread();
  void applyScrollBar();
  int64_t usableColumns(int level) const;
  void progressTick();

  trackGraphic* m_view;
  QScrollBar* m_scrollBar;
  WaveSummaryBuffers m_buffers;
  waveFormThread m_thread;
  QTimer m_progressTimer;
  waveview::TimeZoom m_zoom;
  QString m_path;
  bool m_inProgress = false;
  bool m_ready = false;
  bool m_pendingStart = false;
  int m_restarts = 0;
  uint64_t m_expectedRun = 0;  // runCount() once the current run has ended
  int64_t m_columnsProduced = 0;
  int64_t m_lastProgress = 0;
};
