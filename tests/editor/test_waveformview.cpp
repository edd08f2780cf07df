// The waveform view under a display: marker grabs, drags, crossing and
// locating by mouse; the picture caches; the summary thread with its restarts
// (fed by a stand-in summary function) and, end to end, with the library.
// Set LUMARA_SCREENSHOT_DIR to keep pictures of the view.
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dialogedit.h"
#include "mainwindow.h"
#include "sonvexbinding.h"
#include "timeformat.h"
#include "trackgraphic.h"
#include "waveformcontroller.h"
#include "waveformthread.h"

using namespace waveview;

namespace {

// A synthetic coarse level: a few swelling and decaying notes, the right
// channel quieter than the left.
struct SyntheticSummary {
  std::vector<SummaryEntry> max, min;
  explicit SyntheticSummary(int64_t n) : max(size_t(n)), min(size_t(n)) {
    for (int64_t i = 0; i < n; ++i) {
      const double t = double(i) / double(n);
      const double note = std::fmod(t * 6.0, 1.0);
      const double a = 0.8 * std::exp(-4.0 * note) * (0.6 + 0.4 * std::sin(6.283 * t));
      max[size_t(i)] = {a, 0.5 * a};
      min[size_t(i)] = {-0.9 * a, -0.45 * a};
    }
  }
};

// Pixel of a point given in view units.
QPointF pixelOf(const trackGraphic& v, double vx, double vy) {
  const ViewGeometry& g = v.geometryModel();
  return QPointF((vx - g.left) / (g.right - g.left) * g.width,
                 g.height - (vy - g.bottom) / (g.top - g.bottom) * g.height);
}

void sendMouse(QWidget* w, QEvent::Type type, QPointF pos) {
  const Qt::MouseButtons buttons =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent ev(type, pos, w->mapToGlobal(pos.toPoint()), Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &ev);
}

// Writes a 16-bit PCM WAV of `frames` frames; sample(frame, channel) in -1..1.
template <class F>
bool writeWav(const QString& path, int channels, uint32_t rate, uint32_t frames, F sample) {
  FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (!f) return false;
  const uint32_t data = frames * uint32_t(channels) * 2;
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(36 + data);
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16);
  u16(1);
  u16(uint16_t(channels));
  u32(rate);
  u32(rate * uint32_t(channels) * 2);
  u16(uint16_t(channels * 2));
  u16(16);
  std::fwrite("data", 1, 4, f);
  u32(data);
  std::vector<int16_t> block;
  block.reserve(size_t(channels) * 4096);
  for (uint32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double s = std::max(-1.0, std::min(1.0, sample(i, c)));
      block.push_back(int16_t(std::lrint(s * 32767.0)));
    }
    if (block.size() >= size_t(channels) * 4096 || i + 1 == frames) {
      std::fwrite(block.data(), 2, block.size(), f);
      block.clear();
    }
  }
  return std::fclose(f) == 0;
}

// Stand-in for the library's summary: fills the levels coarse entry by
// coarse entry with the synthetic shape, publishing progress as it goes.
std::atomic<int> gFakeCalls{0};
std::atomic<int> gFakeFailures{0};  // calls that fail before one succeeds
int32_t fakeSummary(const SonvexChar*, uint32_t, int32_t, uint32_t, int32_t, WaveLevels* levels,
                    WaveColumns* maxOut, WaveColumns* minOut, uint8_t* cancel, int32_t* progress) {
  const int call = gFakeCalls.fetch_add(1);
  if (call < gFakeFailures.load()) return -14;
  const int64_t a = levels->coarseCount, b = levels->mediumCount, n = levels->columnCount;
  SyntheticSummary shape(n / 64);
  for (int64_t j = 0; j < a; ++j) {
    if (__atomic_load_n(cancel, __ATOMIC_ACQUIRE)) return int32_t(kWaveformCancelled);
    const SummaryEntry mx = shape.max[size_t(j * (n / 64) / a)];
    const SummaryEntry mn = shape.min[size_t(j * (n / 64) / a)];
    for (int64_t k = 0; k < n / a; ++k) {
      maxOut->fine[j * (n / a) + k] = mx;
      minOut->fine[j * (n / a) + k] = mn;
    }
    for (int64_t k = 0; k < b / a; ++k) {
      maxOut->medium[j * (b / a) + k] = mx;
      minOut->medium[j * (b / a) + k] = mn;
    }
    maxOut->coarse[j] = mx;
    minOut->coarse[j] = mn;
    __atomic_store_n(&progress[0], int32_t(j), __ATOMIC_RELEASE);
    if (j % 2048 == 0) QThread::msleep(5);  // slow enough to be seen growing
  }
  return int32_t(n);
}

// Answers the next message box with OK and keeps its text.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        text = box->text();
        seen = true;
        m_timer.stop();
        box->buttons().value(0)->click();
        return;
      }
    });
    m_timer.start();
  }
  bool seen = false;
  QString text;

 private:
  QTimer m_timer;
};

// The interleaved 16-bit samples of a plain PCM WAV.
std::vector<int16_t> readWav16(const QString& path, int& channels) {
  QFile f(path);
  std::vector<int16_t> out;
  if (!f.open(QIODevice::ReadOnly)) return out;
  const QByteArray all = f.readAll();
  int pos = 12;
  while (pos + 8 <= all.size()) {
    const QByteArray id = all.mid(pos, 4);
    uint32_t size = 0;
    std::memcpy(&size, all.constData() + pos + 4, 4);
    if (id == "fmt ") {
      uint16_t ch = 0;
      std::memcpy(&ch, all.constData() + pos + 10, 2);
      channels = ch;
    } else if (id == "data") {
      const int n = int(std::min<int64_t>(size, all.size() - pos - 8) / 2);
      out.resize(size_t(n));
      std::memcpy(out.data(), all.constData() + pos + 8, size_t(n) * 2);
      return out;
    }
    pos += 8 + int(size) + int(size & 1);
  }
  return out;
}

}  // namespace

class TestWaveformView : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void pressNearHandleDrags();
  void pressElsewhereLocates();
  void draggingInPastOutBecomesOutDrag();
  void clicksOutsideAreaLocateToEnds();
  void monoHasOneLaneAndNoDivider();
  void cursorMovesRepaintOnlyFromCache();
  void appendedColumnsMatchFullRedraw();
  void noFileStillMovesCursor();
  void drawingAndMouseAgreeAtScale1And2();
  void summaryGrowsThenCompletes();
  void failingSummaryGivesUpAfterBoundedRestarts();
  void missingFunctionFailsAtOnce();
  void libraryEndToEnd();
  void mainWindowEditFlow();
  void realDsdFile();

 private:
  void showSynthetic(int channels);
  void screenshot(const QString& name);

  trackGraphic* m_view = nullptr;
  SyntheticSummary m_summary{700 * 128};
};

void TestWaveformView::init() {
  m_view = new trackGraphic;
  m_view->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_view));
}

void TestWaveformView::cleanup() {
  delete m_view;
  m_view = nullptr;
}

void TestWaveformView::showSynthetic(int channels) {
  m_view->setFileLoaded(true);
  m_view->setChannels(channels);
  const int64_t c = int64_t(m_summary.max.size());
  m_view->setWaveData(m_summary.max.data(), m_summary.min.data(), 0, c, c, c, 0, false);
  m_view->updateGL();
}

void TestWaveformView::screenshot(const QString& name) {
  const QByteArray dir = qgetenv("LUMARA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  m_view->updateGL();
  QVERIFY(m_view->grabFrameBuffer().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name));
}

void TestWaveformView::pressNearHandleDrags() {
  showSynthetic(2);
  m_view->arrangeOutPoint(0.6);
  m_view->arrangeInPoint(0.3);
  // 8 pixels right and 6 below the in handle's centre: a grab.
  const QPointF in = pixelOf(*m_view, m_view->markerX(0.3), 0.5) + QPointF(8, 6);
  QSignalSpy changed(m_view, &trackGraphic::editParamChanged);
  sendMouse(m_view, QEvent::MouseButtonPress, in);
  QCOMPARE(m_view->mouseMode(), int(kMouseIn));
  QCOMPARE(changed.count(), 0);  // a grab alone changes nothing
  sendMouse(m_view, QEvent::MouseMove, pixelOf(*m_view, 0.2, 0.5));
  QVERIFY(std::fabs(m_view->editPoints().inPoint - 0.2) < 0.002);
  QCOMPARE(changed.count(), 1);
  sendMouse(m_view, QEvent::MouseButtonRelease, pixelOf(*m_view, 0.2, 0.5));
  QCOMPARE(m_view->mouseMode(), int(kMouseNone));
  // The out handle likewise.
  sendMouse(m_view, QEvent::MouseButtonPress, pixelOf(*m_view, 0.6, 0.5) - QPointF(7, 5));
  QCOMPARE(m_view->mouseMode(), int(kMouseOut));
  sendMouse(m_view, QEvent::MouseButtonRelease, pixelOf(*m_view, 0.6, 0.5));
}

void TestWaveformView::pressElsewhereLocates() {
  showSynthetic(2);
  m_view->arrangeInPoint(0.3);
  QSignalSpy changed(m_view, &trackGraphic::editParamChanged);
  int modeAtSignal = -1;
  connect(m_view, &trackGraphic::editParamChanged, this,
          [&] { modeAtSignal = m_view->mouseMode(); });
  // On the in marker's line but 14 pixels above its handle: a locate.
  sendMouse(m_view, QEvent::MouseButtonPress, pixelOf(*m_view, 0.3, 0.5) - QPointF(0, 14));
  QCOMPARE(m_view->mouseMode(), int(kMouseLocate));
  QCOMPARE(modeAtSignal, int(kMouseLocate));  // the main window locates on it
  QVERIFY(changed.count() >= 1);
  QVERIFY(std::fabs(m_view->editPoints().cursor - 0.3) < 0.002);
  QCOMPARE(m_view->editPoints().inPoint, 0.3);
  sendMouse(m_view, QEvent::MouseMove, pixelOf(*m_view, 0.75, 0.2));
  QVERIFY(std::fabs(m_view->editPoints().cursor - 0.75) < 0.002);
  QVERIFY(std::fabs(m_view->cursorViewX() - 0.75) < 0.002);
  sendMouse(m_view, QEvent::MouseButtonRelease, pixelOf(*m_view, 0.75, 0.2));
}

void TestWaveformView::draggingInPastOutBecomesOutDrag() {
  showSynthetic(2);
  m_view->arrangeOutPoint(0.5);
  m_view->arrangeInPoint(0.4);
  sendMouse(m_view, QEvent::MouseButtonPress, pixelOf(*m_view, 0.4, 0.5));
  QCOMPARE(m_view->mouseMode(), int(kMouseIn));
  for (double x = 0.4; x <= 0.9; x += 0.01) {
    sendMouse(m_view, QEvent::MouseMove, pixelOf(*m_view, x, 0.5));
    const EditPoints& p = m_view->editPoints();
    QVERIFY(p.valid());
    QVERIFY(p.outPoint - p.inPoint >= 0.0);
  }
  QCOMPARE(m_view->mouseMode(), int(kMouseOut));
  QCOMPARE(m_view->editPoints().inPoint, 0.5);  // the old out point
  QVERIFY(std::fabs(m_view->editPoints().outPoint - 0.9) < 0.012);
  sendMouse(m_view, QEvent::MouseMove, QPointF(760, 90));  // far right: stops at the end
  QCOMPARE(m_view->editPoints().outPoint, 1.0);
  sendMouse(m_view, QEvent::MouseButtonRelease, QPointF(760, 90));
}

void TestWaveformView::clicksOutsideAreaLocateToEnds() {
  showSynthetic(2);
  sendMouse(m_view, QEvent::MouseButtonPress, QPointF(2, 40));
  QCOMPARE(m_view->editPoints().cursor, 0.0);
  QCOMPARE(m_view->cursorViewX(), 0.0);
  sendMouse(m_view, QEvent::MouseButtonRelease, QPointF(2, 40));
  sendMouse(m_view, QEvent::MouseButtonPress, QPointF(698, 40));
  QCOMPARE(m_view->editPoints().cursor, 1.0);
  QCOMPARE(m_view->cursorViewX(), 1.0);
  sendMouse(m_view, QEvent::MouseButtonRelease, QPointF(698, 40));
}

void TestWaveformView::monoHasOneLaneAndNoDivider() {
  // A column range with silence, so the divider row shows what lies under it.
  std::vector<SummaryEntry> mx(89600, SummaryEntry{0.0, 0.0}), mn(89600, SummaryEntry{0.0, 0.0});
  for (size_t i = 0; i < 44800; ++i) {
    mx[i] = {0.6, 0.6};
    mn[i] = {-0.6, -0.6};
  }
  m_view->setFileLoaded(true);
  for (int channels : {2, 1}) {
    m_view->setChannels(channels);
    m_view->setWaveData(mx.data(), mn.data(), 0, 89600, 89600, 89600, 0, false);
    m_view->updateGL();
    const QImage img = m_view->grabFrameBuffer();
    const QPoint divider = pixelOf(*m_view, 0.75, 0.5).toPoint();
    bool dividerDrawn = false;
    for (int dy = -1; dy <= 1; ++dy) {
      const QColor at = img.pixelColor(divider + QPoint(0, dy));
      dividerDrawn |= std::abs(at.red() - 56) <= 2 && std::abs(at.green() - 63) <= 2 &&
                      std::abs(at.blue() - 88) <= 2;
    }
    QCOMPARE(dividerDrawn, channels == 2);
    // Where there is signal: one lane's centre colour at 0.5 for mono, the
    // two lane centres at 0.75 and 0.25 for stereo.
    for (double y : channels == 2 ? std::vector<double>{0.75, 0.25} : std::vector<double>{0.5}) {
      const QColor c = img.pixelColor(pixelOf(*m_view, 0.25, y).toPoint());
      QVERIFY2(std::abs(c.blue() - 255) <= 3 && std::abs(c.green() - 186) <= 8,
               qPrintable(QStringLiteral("%1 %2 %3").arg(c.red()).arg(c.green()).arg(c.blue())));
    }
    // Stereo: the lanes are apart; mono fills across the middle.
    const QColor mid = img.pixelColor(pixelOf(*m_view, 0.25, 0.5).toPoint());
    QCOMPARE(mid.blue() > 200, channels == 1);
  }
}

void TestWaveformView::cursorMovesRepaintOnlyFromCache() {
  showSynthetic(2);
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintFull));
  QVERIFY(m_view->lastPaintColumns() > 0);
  const QImage before = m_view->grabFrameBuffer();
  m_view->setCursorViewX(0.5);
  m_view->updateGL();
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintCursor));
  QCOMPARE(m_view->lastPaintColumns(), int64_t{0});
  // Only the old and the new cursor strip changed.
  const QImage after = m_view->grabFrameBuffer();
  const int cursorPx = int(pixelOf(*m_view, 0.5, 0).x());
  const int oldPx = int(pixelOf(*m_view, 0.0, 0).x());
  for (int x = 0; x < after.width(); x += 3) {
    if (std::abs(x - cursorPx) <= 16 || std::abs(x - oldPx) <= 16) continue;
    for (int y = 0; y < after.height(); y += 3)
      QVERIFY2(before.pixel(x, y) == after.pixel(x, y),
               qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
  }
}

void TestWaveformView::appendedColumnsMatchFullRedraw() {
  const int64_t c = int64_t(m_summary.max.size());
  m_view->setFileLoaded(true);
  m_view->setWaveData(m_summary.max.data(), m_summary.min.data(), 0, 30000, c, c, 0, true);
  m_view->updateGL();
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintFull));  // first window
  m_view->setWaveData(m_summary.max.data(), m_summary.min.data(), 30000 - c / 32, 50000, c, c, 0,
                      true);
  m_view->updateGL();
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintAppend));
  QVERIFY(m_view->lastPaintColumns() <= 50000 - (30000 - c / 32));
  const QImage appended = m_view->grabFrameBuffer();
  m_view->setWaveData(m_summary.max.data(), m_summary.min.data(), 0, 50000, c, c, 0, false);
  m_view->updateGL();
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintFull));
  QCOMPARE(m_view->lastPaintColumns(), int64_t{50000});
  QCOMPARE(appended, m_view->grabFrameBuffer());
  // A different window never appends.
  m_view->setWaveData(m_summary.max.data(), m_summary.min.data(), 49000, 50000, c / 2, c, 100,
                      true);
  m_view->updateGL();
  QCOMPARE(m_view->lastPaintKind(), int(trackGraphic::kRepaintFull));
}

void TestWaveformView::noFileStillMovesCursor() {
  m_view->setFileLoaded(false);
  m_view->updateGL();
  sendMouse(m_view, QEvent::MouseButtonPress, pixelOf(*m_view, 0.5, 0.5));
  QCOMPARE(m_view->mouseMode(), int(kMouseLocate));
  QVERIFY(std::fabs(m_view->cursorViewX() - 0.5) < 0.002);
  sendMouse(m_view, QEvent::MouseButtonRelease, pixelOf(*m_view, 0.5, 0.5));
  screenshot(QStringLiteral("waveform-nofile.png"));
}

void TestWaveformView::drawingAndMouseAgreeAtScale1And2() {
  if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) {
    // The scale is fixed when the application starts: run this case again at 2.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("drawingAndMouseAgreeAtScale1And2")});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitCode() == 0, child.readAll().constData());
  }
  const double scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
  QCOMPARE(m_view->devicePixelRatioF(), scale);
  showSynthetic(2);
  // The divider spans the whole view, drawn in device pixels.
  QImage img = m_view->grabFrameBuffer();
  QCOMPARE(img.width(), qRound(kViewWidth * scale));
  const QColor divider = img.pixelColor((pixelOf(*m_view, 0.9, 0.5) * scale).toPoint());
  QVERIFY2(std::abs(divider.red() - 56) <= 2 && std::abs(divider.blue() - 88) <= 2,
           qPrintable(divider.name()));
  // A click in the centre locates half-way, and the cursor is drawn there.
  sendMouse(m_view, QEvent::MouseButtonPress, QPointF(kViewWidth / 2.0, 30));
  sendMouse(m_view, QEvent::MouseButtonRelease, QPointF(kViewWidth / 2.0, 30));
  QVERIFY(std::fabs(m_view->editPoints().cursor - 0.5) < 0.002);
  m_view->updateGL();
  img = m_view->grabFrameBuffer();
  int cursorColumns = 0;
  for (int dx = -3; dx <= 3; ++dx) {
    const QColor c = img.pixelColor(qRound((kViewWidth / 2.0 + dx) * scale), qRound(20 * scale));
    cursorColumns += c.red() > 200 && c.green() > 150 && c.blue() < 120;
  }
  QVERIFY(cursorColumns > 0);
  // The in handle is grabbed where it is drawn.
  m_view->arrangeInPoint(0.3);
  sendMouse(m_view, QEvent::MouseButtonPress, pixelOf(*m_view, 0.3, 0.5) + QPointF(8, 6));
  QCOMPARE(m_view->mouseMode(), int(kMouseIn));
  sendMouse(m_view, QEvent::MouseButtonRelease, pixelOf(*m_view, 0.3, 0.5));
}

void TestWaveformView::summaryGrowsThenCompletes() {
  gFakeCalls = 0;
  gFakeFailures = 0;
  QScrollBar bar(Qt::Horizontal);
  WaveformController ctl(m_view, &bar);
  ctl.setSummaryFunction(&fakeSummary);
  m_view->setFileLoaded(true);
  ctl.resetForFile(QStringLiteral("/nonexistent.wav"), 2, true);
  ctl.startWaveformSummary();
  QVERIFY(ctl.summaryInProgress());
  // The envelope grows: some paints append only the new columns.
  bool sawAppend = false;
  QElapsedTimer t;
  t.start();
  while (!ctl.summaryReady() && t.elapsed() < 20000) {
    QTest::qWait(20);
    sawAppend |= m_view->lastPaintKind() == trackGraphic::kRepaintAppend;
  }
  QVERIFY(ctl.summaryReady());
  QVERIFY(sawAppend);
  QCOMPARE(gFakeCalls.load(), 1);
  QCOMPARE(ctl.summaryColumns(), int64_t{700 * 8192});
  // Zoom and scroll only change the window.
  ctl.zoomInTime(0.5);
  QCOMPARE(ctl.timeZoom(), 2);
  QCOMPARE(bar.maximum(), 100);
  for (int i = 0; i < 11; ++i) ctl.zoomInTime(0.5);
  QCOMPARE(ctl.timeZoom(), 4096);
  QCOMPARE(m_view->viewWindow().levelColumns, double(700 * 8192));
  QVERIFY(std::fabs(ctl.placeCursor(0.5) - 0.5) < 0.01);
  bar.setValue(0);  // blocked signals in the controller, so drive it by hand
  ctl.scrollValueChanged(0, 0.5);
  QCOMPARE(ctl.scrollOffset(), int64_t{0});
  QVERIFY(ctl.placeCursor(0.5) > 1.0);  // outside the view now
  ctl.followPlayPosition(0.5, false);   // playback brings it back
  QVERIFY(std::fabs(m_view->cursorViewX()) < 0.01);
  ctl.zoomInLevel();
  QCOMPARE(m_view->levelZoom(), 2.0);
}

void TestWaveformView::failingSummaryGivesUpAfterBoundedRestarts() {
  gFakeCalls = 0;
  gFakeFailures = 1000;
  QScrollBar bar(Qt::Horizontal);
  WaveformController ctl(m_view, &bar);
  ctl.setSummaryFunction(&fakeSummary);
  QSignalSpy failed(&ctl, &WaveformController::summaryFailed);
  m_view->setFileLoaded(true);
  ctl.resetForFile(QStringLiteral("/unreadable.wav"), 2, true);
  ctl.startWaveformSummary();
  QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
  QCOMPARE(gFakeCalls.load(), WaveformController::kMaxSummaryRestarts + 1);
  QVERIFY(m_view->summaryFailed());
  QVERIFY(!ctl.summaryInProgress());
  m_view->updateGL();
  screenshot(QStringLiteral("waveform-unreadable.png"));
  // Two failures, then success: the restarts hide a passing fault.
  gFakeCalls = 0;
  gFakeFailures = 2;
  ctl.resetForFile(QStringLiteral("/flaky.wav"), 2, true);
  QVERIFY(!m_view->summaryFailed());
  ctl.startWaveformSummary();
  QTRY_VERIFY_WITH_TIMEOUT(ctl.summaryReady(), 20000);
  QCOMPARE(gFakeCalls.load(), 3);
  QCOMPARE(failed.count(), 1);
}

void TestWaveformView::missingFunctionFailsAtOnce() {
  QScrollBar bar(Qt::Horizontal);
  WaveformController ctl(m_view, &bar);
  QSignalSpy failed(&ctl, &WaveformController::summaryFailed);
  m_view->setFileLoaded(true);
  ctl.resetForFile(QStringLiteral("/any.wav"), 1, true);
  ctl.startWaveformSummary();
  QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 2000);
  QVERIFY(m_view->summaryFailed());
}

void TestWaveformView::libraryEndToEnd() {
  const GetAudioWaveFormFn fn = defaultSonvexApi().getAudioWaveForm;
  if (!fn) QSKIP("libsonvex.so or its summary export is missing");
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const uint32_t rate = 48000;
  const uint32_t frames = rate * 40;
  // Stereo: a 440 Hz tone swelling from silence to full scale on the left,
  // half-second bursts at half scale on the right.
  const QString stereo = dir.filePath(QStringLiteral("stereo.wav"));
  QVERIFY(writeWav(stereo, 2, rate, frames, [&](uint32_t i, int c) {
    const double t = double(i) / rate;
    if (c == 0) return (double(i) / frames) * std::sin(6.283185307 * 440.0 * t);
    const double note = std::fmod(t, 1.0);
    return note < 0.5 ? 0.5 * std::exp(-3.0 * note) * std::sin(6.283185307 * 220.0 * t) : 0.0;
  }));
  QScrollBar bar(Qt::Horizontal);
  WaveformController ctl(m_view, &bar);
  ctl.setSummaryFunction(fn);
  m_view->setFileLoaded(true);
  ctl.resetForFile(stereo, 2, true);
  ctl.startWaveformSummary();
  QTRY_VERIFY_WITH_TIMEOUT(ctl.summaryReady(), 60000);
  const SummaryEntry* coarseMax = ctl.buffers().maxLevel(kCoarse);
  const SummaryEntry* coarseMin = ctl.buffers().minLevel(kCoarse);
  const int64_t c = ctl.buffers().plan().columns[kCoarse];
  // Full scale draws at 0.8: the left channel's last columns reach it.
  // A coarse column holds about 21 frames, less than a period: look at 12.
  auto peak = [&](int64_t from, bool right) {
    double m = 0.0;
    for (int64_t i = from; i < from + 12; ++i)
      m = std::max({m, right ? coarseMax[i].right : coarseMax[i].left,
                    -(right ? coarseMin[i].right : coarseMin[i].left)});
    return m;
  };
  // Full scale draws at 0.8: the left channel's last columns reach it.
  QVERIFY(std::fabs(peak(c - 12, false) - 0.8) < 0.01);
  QVERIFY(std::fabs(peak(c / 2, false) - 0.4) < 0.01);
  // Right: a burst's start at 0.5 x 0.8, silence in its second half-second.
  QVERIFY(std::fabs(peak(c / 40, true) - 0.4) < 0.02);
  QCOMPARE(peak(c / 40 + c / 80 + 100, true), 0.0);
  screenshot(QStringLiteral("waveform-stereo-zoom1.png"));
  for (int i = 0; i < 13; ++i) ctl.zoomInTime(0.3);
  QCOMPARE(ctl.timeZoom(), 8192);
  screenshot(QStringLiteral("waveform-stereo-zoom8192.png"));
  // Mono: a decaying pluck every 1.5 s.
  const QString mono = dir.filePath(QStringLiteral("mono.wav"));
  QVERIFY(writeWav(mono, 1, rate, frames, [&](uint32_t i, int) {
    const double t = double(i) / rate;
    const double since = std::fmod(t, 1.5);
    const double f = 110.0 * (1 + int(t / 1.5) % 4);
    return 0.9 * std::exp(-2.5 * since) *
           (std::sin(6.283185307 * f * t) + 0.3 * std::sin(6.283185307 * 3.0 * f * t)) / 1.3;
  }));
  ctl.resetForFile(mono, 1, true);
  m_view->arrangeOutPoint(0.62);
  m_view->arrangeInPoint(0.25);
  ctl.startWaveformSummary();
  QTRY_VERIFY_WITH_TIMEOUT(ctl.summaryReady(), 60000);
  QCOMPARE(ctl.timeZoom(), 1);
  QCOMPARE(ctl.buffers().maxLevel(kCoarse)[c / 3].right, 0.0);  // mono: right stays 0
  ctl.placeCursor(0.4);
  screenshot(QStringLiteral("waveform-mono-zoom1.png"));
  // A note's attack (t = 12 s) at 1024: the medium level, filled areas.
  for (int i = 0; i < 10; ++i) ctl.zoomInTime(0.3);
  QCOMPARE(ctl.timeZoom(), 1024);
  ctl.placeCursor(0.3);
  screenshot(QStringLiteral("waveform-mono-zoom1024.png"));
}

void TestWaveformView::mainWindowEditFlow() {
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("ten.wav"));
  const uint32_t rate = 48000;
  QVERIFY(
      writeWav(path, 2, rate, rate * 10, [](uint32_t i, int) { return 0.5 * std::sin(i * 0.05); }));
  MainWindow::setLibraryDirectory(QString());
  MainWindow mw;
  mw.setNeverShowFirstInfo(true);
  mw.show();
  QVERIFY(QTest::qWaitForWindowExposed(&mw));
  if (!mw.sonvex().isLoaded()) QSKIP("libsonvex.so is not built beside the tests");
  auto child = [&](const char* name) { return mw.findChild<QWidget*>(QLatin1String(name)); };
  auto text = [&](const char* name) { return mw.findChild<QLabel*>(QLatin1String(name))->text(); };
  auto* counter = mw.findChild<QLineEdit*>(QStringLiteral("lineEditTime"));
  auto* view = mw.findChild<trackGraphic*>(QStringLiteral("widgetTrack1"));
  QVERIFY(counter && view && mw.waveform());
  QCOMPARE(text("labelInOut"), QStringLiteral("In-Out = --:--:--.--"));
  QVERIFY(mw.openAudioFile(path));
  QCOMPARE(text("labelInPoint"), QStringLiteral("In Point = 00:00:00.00"));
  QCOMPARE(text("labelOutPoint"), QStringLiteral("Out Point = 00:00:10.00"));
  QCOMPARE(mw.exportOutFrames() - mw.exportInFrames(), int64_t{480000});

  // Type a position, Enter, then IN; another, then OUT.
  auto locate = [&](const char* typed) {
    counter->setFocus();
    counter->selectAll();
    QTest::keyClick(counter, Qt::Key_Backspace);
    QTest::keyClicks(counter, QLatin1String(typed));
    QTest::keyClick(counter, Qt::Key_Return);
  };
  locate("2.5");
  QCOMPARE(counter->text(), QStringLiteral("00:00:02.50"));
  QCOMPARE(mw.playPositionFrames(), uint64_t{120000});
  QVERIFY(std::fabs(view->cursorViewX() - 0.25) < 1e-6);
  QTest::mouseClick(child("setPointButtonSetIn"), Qt::LeftButton);
  locate("7.25");
  QTest::mouseClick(child("setPointButtonSetOut"), Qt::LeftButton);
  QCOMPARE(mw.editRange().inFrames, int64_t{120000});
  QCOMPARE(mw.editRange().outFrames, int64_t{348000});
  QCOMPARE(text("labelInOut"), QStringLiteral("In-Out = 00:00:04.75"));

  // EXPORT writes exactly the marked frames.
  auto* dialog = mw.findChild<DialogEdit*>();
  QVERIFY(dialog);
  QTest::mouseClick(child("pushButtonEdit"), Qt::LeftButton);
  QTRY_VERIFY(dialog->isVisible());
  dialog->setFolder(dir.path());
  dialog->restoreChoices(0, 1, 0, false);  // WAV, 48 kHz, 16 bits, no fades
  dialog->findChild<QLineEdit*>(QStringLiteral("lineEditFileName"))
      ->setText(QStringLiteral("marked"));
  const QString output = dialog->destinationPath();
  BoxAnswerer box;
  dialog->findChild<QPushButton*>(QStringLiteral("pushBounce"))->click();
  QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 120000));
  QCOMPARE(box.text, QStringLiteral("Export completed."));
  int outChannels = 0;
  const std::vector<int16_t> exported = readWav16(output, outChannels);
  QCOMPARE(outChannels, 2);
  QCOMPARE(int64_t(exported.size() / 2), int64_t{348000 - 120000});
  int worst = 0;
  for (size_t k = 0; k < exported.size(); ++k) {
    const uint32_t frame = 120000 + uint32_t(k / 2);
    const int expected = int(std::lrint(0.5 * std::sin(frame * 0.05) * 32767.0));
    worst = std::max(worst, std::abs(exported[k] - expected));
  }
  QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
  dialog->hide();
  // IN beyond OUT moves the region, keeping its length up to the file end.
  locate("9");
  QTest::mouseClick(child("setPointButtonSetIn"), Qt::LeftButton);
  QCOMPARE(mw.editRange().inFrames, int64_t{432000});
  QCOMPARE(mw.editRange().outFrames, int64_t{480000});
  QCOMPARE(text("labelInPoint"), QStringLiteral("In Point = 00:00:09.00"));
  // Escape throws the typed text away.
  counter->setFocus();
  QTest::keyClicks(counter, QStringLiteral("1"));
  QTest::keyClick(counter, Qt::Key_Escape);
  QCOMPARE(counter->text(), QStringLiteral("00:00:09.00"));
  // A press elsewhere on the window takes the typed text as Enter does.
  // Back from the dialog: on a loaded display activation takes a while.
  mw.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&mw, 30000));
  counter->setFocus();
  QTRY_VERIFY_WITH_TIMEOUT(counter->hasFocus(), 30000);
  counter->selectAll();
  QTest::keyClick(counter, Qt::Key_Backspace);
  QTest::keyClicks(counter, QStringLiteral("8"));
  QTest::mouseClick(mw.centralWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(780, 450));
  QCOMPARE(counter->text(), QStringLiteral("00:00:08.00"));
  QCOMPARE(mw.playPositionFrames(), uint64_t{8 * 48000});
  QVERIFY(!counter->hasFocus());
  locate("9");

  // Zoom and level zoom through the buttons.
  for (int i = 0; i < 3; ++i) QTest::mouseClick(child("zoomInTimeButton"), Qt::LeftButton);
  QCOMPARE(mw.waveform()->timeZoom(), 8);
  QTest::mouseClick(child("zoomInLevelButton"), Qt::LeftButton);
  QCOMPARE(view->levelZoom(), 2.0);
  // Zoom 8 around 9 s of 10: the view starts 1/16 before the position.
  QCOMPARE(mw.waveform()->scrollOffset(), int64_t((0.9 - 1.0 / 16) * 700 * 128));

  // A click on the waveform locates: counter and play position follow.
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(350, 30));
  const double expect = 0.9;  // the middle of that window
  QVERIFY(std::fabs(mw.playPositionFraction() - expect) < 0.003);
  QCOMPARE(counter->text(), formatTime(mw.playPositionFrames(), rate));

  // Opening a file resets points, zoom, level zoom and the scroll bar.
  QVERIFY(mw.openAudioFile(path));
  QCOMPARE(mw.waveform()->timeZoom(), 1);
  QCOMPARE(view->levelZoom(), 1.0);
  QCOMPARE(mw.editRange().inFrames, int64_t{0});
  QCOMPARE(mw.editRange().outFrames, int64_t{480000});
  QCOMPARE(mw.findChild<QScrollBar*>(QStringLiteral("waveScrollBar"))->value(), 0);
  QCOMPARE(mw.playPositionFrames(), uint64_t{0});
}

void TestWaveformView::realDsdFile() {
  const QString path =
      QStringLiteral(LUMARA_TESTDATA_DIR) + QStringLiteral("/dff/dsd2dxd-1kHz_stereo_i.dff");
  if (!QFileInfo::exists(path)) QSKIP("shared test data absent");
  const GetAudioWaveFormFn fn = defaultSonvexApi().getAudioWaveForm;
  if (!fn) QSKIP("libsonvex.so or its summary export is missing");
  QScrollBar bar(Qt::Horizontal);
  WaveformController ctl(m_view, &bar);
  ctl.setSummaryFunction(fn);
  m_view->setFileLoaded(true);
  ctl.resetForFile(path, 2, true);
  ctl.startWaveformSummary();
  QTRY_VERIFY_WITH_TIMEOUT(ctl.summaryReady(), 120000);
  // A steady 1 kHz tone: both channels show the same level all along the file.
  const SummaryEntry* mx = ctl.buffers().maxLevel(kCoarse);
  const SummaryEntry* mn = ctl.buffers().minLevel(kCoarse);
  const int64_t c = ctl.buffers().plan().columns[kCoarse];
  double lo = 10.0, hi = 0.0;
  for (int64_t i = c / 10; i < c * 9 / 10; i += 997) {
    double m = 0.0;  // 40 columns span more than one period
    for (int64_t k = i; k < i + 40; ++k)
      m = std::max({m, mx[k].left, mx[k].right, -mn[k].left, -mn[k].right});
    lo = std::min(lo, m);
    hi = std::max(hi, m);
  }
  QVERIFY2(lo > 0.05 && hi < 1.0 && hi / lo < 1.2,
           qPrintable(QStringLiteral("%1 .. %2").arg(lo).arg(hi)));
  screenshot(QStringLiteral("waveform-dsd-stereo-zoom1.png"));
  for (int i = 0; i < 9; ++i) ctl.zoomInTime(0.5);
  ctl.placeCursor(0.5);
  screenshot(QStringLiteral("waveform-dsd-stereo-zoom512.png"));
}

QTEST_MAIN(TestWaveformView)
#include "test_waveformview.moc"
