// The EQ and oscillator dialogs: clamps of the typed values, the graph's
// drag, pins drawn where the mouse picks them, curves from the band
// coefficients, the knob, and an EQ edit reaching a playing engine. The main
// window's menu entry, indicator and oscillator slots.
// Set LUMARA_SCREENSHOT_DIR to keep pictures of the dialogs.
// clang-format off
// Before any Qt header: the harness uses the word "slots".
#include "engine_harness.h"
// clang-format on

#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <cmath>

#include "dialogoscillator.h"
#include "dialogpeq.h"
#include "eqsettings.h"
#include "eqwidgets.h"
#include "mainwindow.h"
#include "mainwindowui.h"
#include "oscillator.h"
#include "pictureswitch.h"

namespace {

template <class W>
W* child(QWidget& w, const char* name) {
  return w.findChild<W*>(QString::fromLatin1(name));
}

void type(widgetEqParamText* field, const QString& text) {
  field->clear();
  QTest::keyClicks(field, text);
  QTest::keyClick(field, Qt::Key_Return);
}

// A pin's centre in the graph's logical pixels.
QPointF pinAt(widgetEq* g, int b) {
  const eqgraph::Pin& p = g->model().pins[b];
  const eqgraph::GraphGeometry geo = g->geometryModel();
  return QPointF(geo.xOf(p.logFrequency), geo.yOf(p.gain));
}

void shoot(QWidget& w, const char* name) {
  const QByteArray dir = qgetenv("LUMARA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QTest::qWait(200);
  const QPixmap shot = w.screen()->grabWindow(w.winId());
  QVERIFY(shot.save(QStringLiteral("%1/%2-scale%3.png")
                        .arg(QString::fromLocal8Bit(dir), QLatin1String(name))
                        .arg(qRound(w.devicePixelRatioF()))));
}

}  // namespace

class TestEqDialogs : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_block = new EqSettingsBlock;
    m_dialog = new DialogPeq;
    m_block->attachMasterSwitch(m_dialog->masterSwitch());
    EqSettings* s = m_block->get();
    const double freq[4] = {100, 1000, 2000, 5000};
    for (int b = 0; b < 4; ++b) setParameters(row(b), 0.0, freq[b], 0.9, 44100, 0);
    m_dialog->setContext(s, 44100, &m_volumeDb);
    m_dialog->show();
    // A loaded machine (tests run side by side) can take a while to map it.
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog, 30000));
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog, 30000));
  }
  void cleanup() {
    delete m_dialog;
    delete m_block;
  }

  void typedValuesAreClampedAndShownClamped() {
    // EQ1 is the last record, as the settings file and the engine's order have it.
    QCOMPARE(child<widgetEqParamText>(*m_dialog, "textEditFreq1")->text(), QStringLiteral("100"));
    auto* freq = child<widgetEqParamText>(*m_dialog, "textEditFreq2");
    type(freq, QStringLiteral("25000"));
    QCOMPARE(freq->text(), QStringLiteral("20000"));
    QCOMPARE(row(1)->frequency, 20000.0);
    type(freq, QStringLiteral("5"));
    QCOMPARE(freq->text(), QStringLiteral("20"));
    auto* q = child<widgetEqParamText>(*m_dialog, "textEditQ3");
    type(q, QStringLiteral("1.25"));
    QCOMPARE(q->text(), QStringLiteral("1.2"));
    QCOMPARE(row(2)->q, 1.2);
    QCOMPARE(child<WidgetQbar>(*m_dialog, "widget_Q3")->q(), 1.2);
    auto* bar = child<WidgetQbar>(*m_dialog, "widget_Q3");
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() + 5, 5));
    QCOMPARE(q->text(), QStringLiteral("16.0"));
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() / 2, 5));
    QCOMPARE(row(2)->q, 1.3);  // 10^0.102 = 1.26, + 0.05, to tenths
    auto* gain = child<widgetEqParamText>(*m_dialog, "textEditGain1");
    type(gain, QStringLiteral("-30"));
    QCOMPARE(gain->text(), QStringLiteral("-18.0"));
    // Letters never reach the field; losing the focus confirms like Return.
    gain->setFocus();
    gain->clear();
    QTest::keyClicks(gain, QStringLiteral("a4x.56"));
    QCOMPARE(gain->text(), QStringLiteral("4.56"));
    child<widgetEqParamText>(*m_dialog, "textEditGain2")->setFocus();
    QCOMPARE(gain->text(), QStringLiteral("4.5"));
    QCOMPARE(row(0)->gainDb, 4.5);
    // The band's coefficients follow at the play rate.
    QVERIFY(std::fabs(magnitudeDb(row(0), 44100, 100.0) - 4.5) < 1e-6);
  }

  // Pins are drawn where the mouse grabs them (at the test's screen scale);
  // a drag past the top and far left pins the band at +18 dB and 20 Hz.
  void pinsAreDrawnWherePicksLandAndDragsClamp() {
    widgetEq* g = m_dialog->graph();
    g->updateGL();
    const QImage img = g->grabFrameBuffer();
    const double dpr = g->devicePixelRatioF();
    auto pinColour = [](int b) {
      return b == 3 ? QColor::fromRgbF(0.5, 0.5, 1.0) : eqBandColour(b, 1.0);
    };
    for (int b = 0; b < 4; ++b) {
      const QColor c = img.pixelColor((pinAt(g, b) * dpr).toPoint());
      // The nearest of the four pin colours is this band's.
      int nearest = -1, best = INT_MAX;
      for (int k = 0; k < 4; ++k) {
        const QColor w = pinColour(k);
        const int d = std::abs(c.red() - w.red()) + std::abs(c.green() - w.green()) +
                      std::abs(c.blue() - w.blue());
        if (d < best) best = d, nearest = k;
      }
      QVERIFY2(nearest == b && best < 90,
               qPrintable(QStringLiteral("band %1: %2").arg(b).arg(c.name())));
    }
    const QPointF start = pinAt(g, 1);
    QTest::mousePress(g, Qt::LeftButton, Qt::NoModifier, start.toPoint());
    QCOMPARE(g->model().dragged, 2);
    QMouseEvent move(QEvent::MouseMove, QPointF(-100, -50), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(g, &move);
    QTest::mouseRelease(g, Qt::LeftButton, Qt::NoModifier, QPoint(0, 0));
    const EqBand& band = *row(1);
    QCOMPARE(band.gainDb, 18.0);
    QCOMPARE(band.frequency, 20.0);
    QCOMPARE(child<widgetEqParamText>(*m_dialog, "textEditGain2")->text(), QStringLiteral("18.0"));
    QCOMPARE(child<widgetEqParamText>(*m_dialog, "textEditFreq2")->text(), QStringLiteral("20"));
    // A press away from every pin drags nothing.
    QTest::mousePress(g, Qt::LeftButton, Qt::NoModifier, QPoint(g->width() / 2, 5));
    QCOMPARE(g->model().dragged, 0);
    QTest::mouseRelease(g, Qt::LeftButton);
  }

  // The curves are the bands' responses as designed from their values; with
  // the master switch off nothing shows although the bands stay on.
  void curvesFollowTheBandsAndTheMasterSwitch() {
    type(child<widgetEqParamText>(*m_dialog, "textEditGain1"), QStringLiteral("6"));
    type(child<widgetEqParamText>(*m_dialog, "textEditGain3"), QStringLiteral("-9"));
    QTest::mouseClick(child<eqtypesw>(*m_dialog, "labelEQ1Type"), Qt::LeftButton);
    QCOMPARE(row(0)->type, 1);
    for (const char* name : {"checkEq1On", "checkEq3On"})
      QTest::mouseClick(child<QCheckBox>(*m_dialog, name), Qt::LeftButton);
    widgetEq* g = m_dialog->graph();
    QVERIFY(!g->model().pins[0].display);
    QTest::mouseClick(child<eqIndicator>(*m_dialog, "labelEQOnOff"), Qt::LeftButton);
    QCOMPARE(int(*m_dialog->masterSwitch()), 1);
    QVERIFY(g->model().pins[0].display && g->model().pins[2].display);
    QVERIFY(!g->model().pins[1].display);
    const std::vector<double> f = eqgraph::curveFrequencies();
    const std::vector<double> sum = g->sumCurve();
    double ref[2][eq::kBiquadDoubles] = {};
    eq::storeCoefficients(ref[0], eq::design(eq::kTypeLowShelf, 6.0, 100.0, 0.9, 44100));
    eq::storeCoefficients(ref[1], eq::design(0, -9.0, 2000.0, 0.9, 44100));
    for (size_t i = 0; i < f.size(); i += 10) {
      const double a = eq::responseDb(ref[0], 44100, f[i]), b = eq::responseDb(ref[1], 44100, f[i]);
      QVERIFY(std::fabs(g->bandCurve(0)[i] - a) < 1e-9);
      QVERIFY(std::fabs(sum[i] - (a + b)) < 1e-9);
    }
    shoot(*m_dialog, "eq-dialog");
    QTest::mouseClick(child<eqIndicator>(*m_dialog, "labelEQOnOff"), Qt::LeftButton);
    QVERIFY(!g->model().pins[0].display && row(0)->on == 1);
  }

  void knobAndTotalGainText() {
    auto* text = child<widgetEqParamText>(*m_dialog, "textEditEqGain");
    knobGL* knob = child<knobGL>(*m_dialog, "widgetTotalGain");
    type(text, QStringLiteral("3.3"));
    QCOMPARE(knob->value(), 3.3);
    type(text, QStringLiteral("0.0"));
    QCOMPARE(knob->value(), 0.0);
    QTest::mousePress(knob, Qt::LeftButton, Qt::NoModifier, QPoint(40, 60));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 50), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(knob, &move);
    QTest::mouseRelease(knob, Qt::LeftButton);
    QCOMPARE(text->text(), QStringLiteral("1.0"));
    QCOMPARE(m_block->get()->totalGain, std::pow(10.0, 1.0 / 20));
    type(text, QStringLiteral("40"));
    QCOMPARE(text->text(), QStringLiteral("18.0"));
    QCOMPARE(knob->value(), 17.9);  // the last step
  }

  // An edit during playback reaches the renderer at its next block: a 1 kHz
  // tone through band 2 cut by 12 dB comes out 12 dB lower.
  void eqEditReachesThePlayingEngine() {
    using namespace enginetest;
    engine::setEqSettings(m_block->get());
    engine::setMonitorVolume(0.0);
    engine::control().producerWaitMs = 1;
    engine::control().consumed = 0;
    QVERIFY(engine::prepareEngine(44100, engine::LibraryFunctions{}));
    FakeSource& f = fake();
    const int frames = 44100 * 2;
    f.pcm.resize(2 * size_t(frames));
    for (int n = 0; n < frames; ++n)
      f.pcm[2 * n] = f.pcm[2 * n + 1] = 0.25 * std::sin(2 * 3.141592653589793 * 1000 * n / 44100);
    Device dev;
    dev.pauseUs = 4000;
    Playback pb;
    pb.source = SourceDescription{44100, 16, 2, 0, 0, uint64_t(frames), 2, 0, 1};
    dev.start();
    pb.startWith(u"scripted", kRate44100, fakeConvert);
    QVERIFY(QTest::qWaitFor([&] { return dev.calls > 60; }, 20000));
    QTest::mouseClick(child<QCheckBox>(*m_dialog, "checkEq2On"), Qt::LeftButton);
    QTest::mouseClick(child<eqIndicator>(*m_dialog, "labelEQOnOff"), Qt::LeftButton);
    type(child<widgetEqParamText>(*m_dialog, "textEditGain2"), QStringLiteral("-12"));
    const size_t changed = dev.calls;
    QVERIFY(QTest::qWaitFor([&] { return pb.done.load(); }, 30000));
    pb.wait();
    dev.stop();
    engine::setEqSettings(nullptr);
    auto peak = [&](size_t from, size_t to) {
      const std::vector<int32_t> s = Device::int32s(dev.left);
      double p = 0;
      for (size_t i = from * 512; i < to * 512 && i < s.size(); ++i)
        p = std::max(p, std::fabs(double(s[i])));
      return p;
    };
    const double before = peak(changed - 30, changed - 5);
    const double after = peak(changed + 10, changed + 60);
    QVERIFY2(std::fabs(before / (0.25 * engine::kPcmFullScale) - 1) < 0.01,
             qPrintable(QString::number(before)));
    QVERIFY2(std::fabs(20 * std::log10(after / before) + 12.0) < 0.2,
             qPrintable(QString::number(after)));
  }

  void oscillatorDialogClampsAndForwards() {
    DialogOscillator osc;
    QSignalSpy freq(&osc, &DialogOscillator::freqChanged);
    QSignalSpy level(&osc, &DialogOscillator::levelChanged);
    QSignalSpy onOff(&osc, &DialogOscillator::selOscOnOff);
    auto* f = child<widgetEqParamText>(osc, "lineEditFreq");
    auto* l = child<widgetEqParamText>(osc, "lineEditLevel");
    QCOMPARE(f->text(), QStringLiteral("1000"));
    QCOMPARE(l->text(), QStringLiteral("-16"));
    for (auto [typed, shown] : {std::pair{"10", 40}, {"30000", 20000}, {"-", 40}}) {
      type(f, QLatin1String(typed));
      QCOMPARE(f->text().toInt(), shown);
      QCOMPARE(freq.takeLast().at(0).toInt(), shown);
    }
    type(l, QStringLiteral("-200"));
    QCOMPARE(l->text(), QStringLiteral("-100"));
    type(l, QStringLiteral("5"));
    QCOMPARE(l->text(), QStringLiteral("0"));
    osc.setOutputRate(2822400);
    type(l, QStringLiteral("5"));
    QCOMPARE(level.takeLast().at(0).toInt(), 3);
    type(f, QStringLiteral("1000"));
    type(l, QStringLiteral("-16"));
    osc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&osc));
    QTest::mouseClick(child<oscIndicator>(osc, "labelOscIndicator"), Qt::LeftButton);
    QCOMPARE(onOff.takeLast().at(0).toInt(), 1);
    shoot(osc, "oscillator-dialog");
    QTest::mouseClick(child<oscIndicator>(osc, "labelOscIndicator"), Qt::LeftButton);
    QCOMPARE(onOff.takeLast().at(0).toInt(), 0);
  }

  // The window: "Oscillator..." shows the dialog, whose switch and values
  // drive the engine's tone; the EQ dialog's master switch lights the
  // window's indicator picture.
  void mainWindowWiresTheDialogsToTheEngine() {
    QStandardPaths::setTestModeEnabled(true);
    MainWindow w;
    w.setNeverShowFirstInfo(true);
    w.setOscillatorMode(true);
    QAction* entry = w.findChild<QAction*>(QStringLiteral("actionOscillator"));
    QVERIFY(w.findChild<QMenu*>(QStringLiteral("menuTools"))->actions().contains(entry));
    entry->trigger();
    DialogOscillator* osc = w.oscillatorDialog();
    QVERIFY(osc->isVisible());
    type(child<widgetEqParamText>(*osc, "lineEditFreq"), QStringLiteral("440"));
    type(child<widgetEqParamText>(*osc, "lineEditLevel"), QStringLiteral("-6"));
    QTest::mouseClick(child<oscIndicator>(*osc, "labelOscIndicator"), Qt::LeftButton);
    engine::TestOscillator& tone = engine::oscillator();
    QVERIFY(tone.isOn());
    QCOMPARE(tone.frequency(), 440.0);
    QCOMPARE(tone.amplitude(), std::pow(10.0, -6.0 / 20));
    // The post-fader switch moves the engine's meter point.
    w.findChild<QPushButton*>(QStringLiteral("pushButtonPostFader"))->setChecked(true);
    QCOMPARE(engine::control().postFaderMeter.load(), 1);
    QTest::mouseClick(child<oscIndicator>(*osc, "labelOscIndicator"), Qt::LeftButton);
    QVERIFY(!tone.isOn());
    w.eqDialog()->selAllEqOnOff(1);
    QVERIFY(w.findChild<eqIndicator*>(QStringLiteral("labelEqIndicator"))->isOn());
  }

 private:
  // The record the dialog's row r (EQ r+1) edits.
  EqBand* row(int r) { return &m_block->get()->band[eq::recordOfRow(r)]; }
  EqSettingsBlock* m_block = nullptr;
  DialogPeq* m_dialog = nullptr;
  double m_volumeDb = 0.0;
};

QTEST_MAIN(TestEqDialogs)
#include "test_eqdialogs.moc"
