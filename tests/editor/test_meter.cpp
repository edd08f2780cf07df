// The level meter: segment mapping against the PCM and DSD references, the
// OVER lamp and its hold times, the bar's fall, the peak hold, the switch of
// scales, and what the view draws at the current screen scale.
// Set LUMARA_SCREENSHOT_DIR to keep pictures of the meter.
#include <QtTest>
#include <cmath>

#include "metergraphic.h"
#include "metermodel.h"

using meter::MeterModel;

namespace {

constexpr double kFull = 2147483647.0;

void ticks(MeterModel& m, int n, double l, double r, bool dsd = false) {
  for (int i = 0; i < n; ++i) m.updateMeter(l, r, dsd, 45);
}

int litCount(const meter::Channel& c) {
  int n = 0;
  for (int k = 0; k < meter::kSegments; ++k) n += c.segmentLit[k];
  return n;
}

}  // namespace

class TestMeter : public QObject {
  Q_OBJECT

 private slots:
  void fullScaleLightsEntry19AndOverButNotJustBelow() {
    MeterModel m;
    m.updateMeter(kFull, 2147418112.0, false, 45);
    for (int c = 0; c < 2; ++c) {
      const meter::Channel& ch = m.channel(c);
      for (int k = 0; k < meter::kSegments; ++k) QCOMPARE(ch.segmentLit[k], k <= 19);
      QVERIFY(ch.partial > 0.999 && ch.partial < 1.0);
    }
    QCOMPARE(m.channel(0).overLamp, 1);
    QCOMPARE(m.channel(1).overLamp, 0);
    // DSD: +1 dB over the 0.5 reference reaches segment 21.
    ticks(m, 2, 0.5 * std::pow(10.0, 1.05 / 20), 0.5, true);
    QVERIFY(m.channel(0).segmentLit[21] && !m.channel(0).segmentLit[22]);
    QCOMPARE(m.channel(0).overLamp, 1);
  }

  void switchingPcmAndDsdEmptiesForOneTick() {
    MeterModel m;
    ticks(m, 5, 1e9, 1e9);
    QVERIFY(litCount(m.channel(0)) > 10);
    m.updateMeter(0.3, 0.3, true, 45);
    QCOMPARE(litCount(m.channel(0)), 0);
    QCOMPARE(m.channel(0).holdX, 0.0);
    m.updateMeter(0.3, 0.3, true, 45);
    QVERIFY(litCount(m.channel(0)) > 10);
    QVERIFY(m.channel(0).holdX > 0.0);
  }

  void barFallsTwentyDbPerSecondAndHoldStays22Ticks() {
    MeterModel m;
    ticks(m, 10, 1e9, 1e9);
    QCOMPARE(m.channel(0).barLevel, 1e9);  // constant input: the bar stays
    const double heldX = m.channel(0).holdX;
    // Silence on the left, a lower level on the right.
    QVector<double> xs;
    for (int t = 1; t <= 23; ++t) {
      m.updateMeter(0.0, 1e8, false, 45);
      xs.append(m.channel(1).holdX);
      if (t == 22) QCOMPARE(m.channel(0).holdX, heldX);
    }
    QCOMPARE(20 * std::log10(m.channel(0).barLevel / 1e9), -20.0 * 23 * 45 / 1000);
    for (int t = 0; t < 22; ++t) QCOMPARE(xs[t], heldX);
    MeterModel fresh;
    fresh.updateMeter(1e8, 1e8, false, 45);
    QCOMPARE(xs[22], fresh.channel(1).holdX);  // dropped to the current level
  }

  void overHoldsTwoSecondsOrUntilClicked() {
    MeterModel m;
    m.setOverHoldTime(2000);
    m.updateMeter(kFull, kFull, false, 45);
    ticks(m, 45, 0.0, 0.0);
    QCOMPARE(m.channel(0).overLamp, 1);  // 22 ticks of hold, then 22 more
    ticks(m, 1, 0.0, 0.0);
    QCOMPARE(m.channel(0).overLamp, 0);

    m.setOverHoldTime(-1);
    m.updateMeter(kFull, kFull, false, 45);
    ticks(m, 200, 1e6, 1e6);
    QCOMPARE(m.channel(1).overLamp, 1);
    // A click: lamps out now, the hold drops at the next tick and stays out.
    m.releaseHold(0);
    QCOMPARE(m.channel(0).overLamp + m.channel(1).overLamp, 0);
    m.updateMeter(kFull * 0.9, 1e6, false, 45);
    QCOMPARE(m.channel(0).overLamp + m.channel(1).overLamp, 0);
    QVERIFY(m.channel(0).holdX < meter::kBoundaries[21]);
  }

  // What the view draws: OVER lamp pixels lit and cleared by a click, at
  // the screen scale the test runs with.
  void viewDrawsLampsAndAClickClearsThem() {
    meterGraphic view;
    view.resize(492, 40);
    view.setMeterTick(45);
    view.setOverHoldTime(-1);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const double dpr = view.devicePixelRatioF();
    auto lampRed = [&](int channelY) {
      view.updateGL();
      const QImage img = view.grabFrameBuffer();
      const QColor c = img.pixelColor(qRound(470 * dpr), qRound((40 - channelY) * dpr));
      return c.red() > 200 && c.green() < 80;
    };
    view.updateMeter(kFull, 5e8, false, 45);
    view.updateMeter(kFull, 4e8, false, 45);
    QVERIFY(lampRed(36));
    QVERIFY(!lampRed(22));
    save(view, "meter-pcm-over");
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(200, 20));
    view.updateMeter(1e9, 4e8, false, 45);
    QVERIFY(!lampRed(36));

    view.updateMeter(0.7, 0.2, true, 45);
    view.updateMeter(0.7, 0.2, true, 45);
    view.updateMeter(0.45, 0.15, true, 45);
    QVERIFY(lampRed(36));
    save(view, "meter-dsd-over");
  }

 private:
  static void save(meterGraphic& view, const char* name) {
    const QByteArray dir = qgetenv("LUMARA_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    view.updateGL();
    const QString file = QStringLiteral("%1/%2-scale%3.png")
                             .arg(QString::fromLocal8Bit(dir), QLatin1String(name))
                             .arg(qRound(view.devicePixelRatioF()));
    QVERIFY(view.grabFrameBuffer().save(file));
  }
};

QTEST_MAIN(TestMeter)
#include "test_meter.moc"
