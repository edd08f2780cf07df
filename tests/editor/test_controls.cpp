// The styled controls, the monitor fader, the picture switches, the time
// counter and gain label, the time texts, the small windows and the output
// bridge binding.
#include <QClipboard>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include "asiobridge.h"
#include "dialogabout.h"
#include "fadertable.h"
#include "faderwidgets.h"
#include "lmesplashscreen.h"
#include "pictureswitch.h"
#include "styledcontrols.h"
#include "timeformat.h"
#include "widgettc.h"

class TestControls : public QObject {
  Q_OBJECT

 private slots:
  void formatTimeFields();
  void fileInformationTexts();
  void faderTableSteps();
  void faderVolumeTexts();
  void faderKnobDragClamps();
  void faderTrackPressClamps();
  void pictureSwitchModes();
  void timeCounterAcceptsOnlyTimeCharacters();
  void timeCounterEnterAndEscape();
  void timeCounterControlKeys();
  void gainLabel();
  void styledControlsLoadTheirSheets();
  void everyNamedResourceExists();
  void splashAndAboutTexts();
  void licencePageCarriesNotices();
  void bridgeSkipsMissingLibraryAndExports();
};

void TestControls::formatTimeFields() {
  QCOMPARE(formatTime(48000ull * 3723 + 24000, 48000), QStringLiteral("01:02:03.50"));
  QCOMPARE(formatTime(0, 44100), QStringLiteral("00:00:00.00"));
  // Every field truncates: one frame short of a second stays in second 0.
  QCOMPARE(formatTime(44099, 44100), QStringLiteral("00:00:00.99"));
  QCOMPARE(formatTime(44100ull * 59 + 44099, 44100), QStringLiteral("00:00:59.99"));
  // Hours of 100 or more are written in full.
  QCOMPARE(formatTime(44100ull * 3600 * 100, 44100), QStringLiteral("100:00:00.00"));
  // DSD rates and 64-bit frame counts.
  QCOMPARE(formatTime(2822400ull * 7261 + 1411200, 2822400), QStringLiteral("02:01:01.50"));
  QCOMPARE(formatTime(11289600ull * 3600 * 200, 11289600), QStringLiteral("200:00:00.00"));
  QCOMPARE(formatTime(12345, 0), QStringLiteral("00:00:00.00"));
}

void TestControls::fileInformationTexts() {
  const QList<QPair<uint32_t, QString>> rates = {
      {44100, "44.1kHz"},    {48000, "48kHz"},      {88200, "88.2kHz"},   {96000, "96kHz"},
      {176400, "176.4kHz"},  {192000, "192kHz"},    {352800, "352.8kHz"}, {384000, "384kHz"},
      {705600, "705.6kHz"},  {768000, "768kHz"},    {2822400, "2.8MHz"},  {5644800, "5.6MHz"},
      {11289600, "11.2MHz"}, {22579200, "22.5MHz"}, {32000, "32kHz"},     {22050, "22kHz"},
      {8000, "8kHz"}};
  for (const auto& r : rates) QCOMPARE(rateLabelText(r.first), r.second);
  QCOMPARE(bitsLabelText(1), QStringLiteral("1bit"));
  QCOMPARE(bitsLabelText(16), QStringLiteral("16bits"));
  QCOMPARE(bitsLabelText(24), QStringLiteral("24bits"));
  QCOMPARE(bitsLabelText(64), QStringLiteral("64bits"));
  QCOMPARE(bitsLabelText(20), QStringLiteral("20bits"));
  QCOMPARE(channelsLabelText(1), QStringLiteral("MONO"));
  QCOMPARE(channelsLabelText(2), QStringLiteral("STEREO"));
  QCOMPARE(channelsLabelText(6), QStringLiteral("6Channels"));
  QCOMPARE(fileTypeLabelText(0), QStringLiteral("WAV(PCM)"));
  QCOMPARE(fileTypeLabelText(1), QStringLiteral("WAV(PCM)"));
  QCOMPARE(fileTypeLabelText(2), QStringLiteral("DSF(DSD)"));
  QCOMPARE(fileTypeLabelText(3), QStringLiteral("DSDIFF(DSD)"));
  QCOMPARE(fileTypeLabelText(4), QStringLiteral("FLAC"));
  QCOMPARE(fileTypeLabelText(5), QString());
}

void TestControls::faderTableSteps() {
  const FaderTable table(250);
  QCOMPARE(table.stepCount(), 49);
  auto positionOf = [&](int db) {
    for (int i = 0; i < table.stepCount(); ++i)
      if (table.step(i).db == db) return table.step(i).position;
    return -999;
  };
  QCOMPARE(positionOf(0), 240);
  QCOMPARE(positionOf(-6), 193);
  QCOMPARE(positionOf(-12), 147);
  QCOMPARE(positionOf(-36), 55);
  QCOMPARE(positionOf(-58), 13);
  QCOMPARE(positionOf(-120), 9);
  QCOMPARE(positionOf(-37), -999);  // 2 dB apart below -36
  for (int i = 1; i < table.stepCount(); ++i) {
    QVERIFY(table.step(i).position < table.step(i - 1).position);
    QVERIFY(table.step(i).db < table.step(i - 1).db);
  }
  for (int i = table.stepCount(); i < FaderTable::kMaxSteps; ++i) {
    QCOMPARE(table.step(i).position, -1);
    QCOMPARE(table.step(i).db, -120);
  }
  // Lookup: the step with the highest index at or right of the position.
  QCOMPARE(table.dbAt(240), 0);
  QCOMPARE(table.dbAt(233), 0);
  QCOMPARE(table.dbAt(232), -1);
  QCOMPARE(table.dbAt(194), -5);
  QCOMPARE(table.dbAt(193), -6);
  QCOMPARE(table.dbAt(187), -6);
  QCOMPARE(table.dbAt(186), -7);
  QCOMPARE(table.dbAt(13), -58);
  QCOMPARE(table.dbAt(10), -58);
  QCOMPARE(table.dbAt(9), -120);
  QCOMPARE(table.dbAt(0), -120);
  // Right of the 0 dB step the volume never exceeds 0 dB.
  QCOMPARE(table.dbAt(249), 0);
  // Placing the knob for a level: first step from 0 dB at or below it.
  QCOMPARE(table.positionFor(0.0), 240);
  QCOMPARE(table.positionFor(-3.0), 216);
  QCOMPARE(table.positionFor(-37.0), table.step(37).position);  // -38 dB
  QCOMPARE(table.positionFor(-300.0), 9);
}

void TestControls::faderVolumeTexts() {
  const FaderTable table(250);
  for (int pos = -5; pos <= table.step(table.stepCount() - 1).position; ++pos) {
    const MonitorVolume v = monitorVolumeFor(table.dbAt(pos));
    QCOMPARE(v.db, -300.0);
    QCOMPARE(v.text, QStringLiteral("-inf"));
  }
  QCOMPARE(monitorVolumeFor(-100).text, QStringLiteral("-inf"));
  QCOMPARE(monitorVolumeFor(-99).text, QStringLiteral("-99"));
  QCOMPARE(monitorVolumeFor(-99).db, -99.0);
  QCOMPARE(monitorVolumeFor(0).text, QStringLiteral("0"));
}

namespace {

QImage picture(const QLabel& label) { return label.pixmap(Qt::ReturnByValue).toImage(); }

void sendMouse(QWidget* w, QEvent::Type type, int x, Qt::MouseButtons buttons) {
  const QPoint local(x, 5);
  QMouseEvent ev(type, local, w->mapToGlobal(local),
                 type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                 Qt::NoModifier);
  QApplication::sendEvent(w, &ev);
}

}  // namespace

void TestControls::faderKnobDragClamps() {
  WidgetFaderBase track;
  track.resize(250, 18);
  faderTop knob(&track);
  knob.move(30, 0);
  track.setKnob(&knob);
  track.show();
  QVERIFY(QTest::qWaitForWindowExposed(&track));
  QSignalSpy moved(&knob, &faderTop::faderMoved);
  const QImage offPicture = picture(knob);

  sendMouse(&knob, QEvent::MouseButtonPress, 5, Qt::LeftButton);
  QVERIFY(picture(knob) != offPicture);  // "on" picture while held
  sendMouse(&knob, QEvent::MouseMove, 5 + 40, Qt::LeftButton);
  QCOMPARE(knob.x(), 70);
  QCOMPARE(moved.last().at(0).toInt(), 70);
  sendMouse(&knob, QEvent::MouseMove, 5 + 1000, Qt::LeftButton);  // past the right end
  QCOMPARE(knob.x(), 234);
  QCOMPARE(moved.last().at(0).toInt(), 234);
  sendMouse(&knob, QEvent::MouseMove, 5 - 1000, Qt::LeftButton);  // past the left end
  QCOMPARE(knob.x(), 0);
  QCOMPARE(moved.last().at(0).toInt(), 0);
  sendMouse(&knob, QEvent::MouseButtonRelease, 5 - 1000, Qt::NoButton);
  QCOMPARE(picture(knob), offPicture);
  const int count = moved.count();
  sendMouse(&knob, QEvent::MouseMove, 50, Qt::NoButton);  // not held: nothing
  QCOMPARE(moved.count(), count);
}

void TestControls::faderTrackPressClamps() {
  WidgetFaderBase track;
  track.resize(250, 18);
  faderTop knob(&track);
  track.setKnob(&knob);
  track.show();
  QVERIFY(QTest::qWaitForWindowExposed(&track));
  QSignalSpy moved(&track, &WidgetFaderBase::faderMoved);
  sendMouse(&track, QEvent::MouseButtonPress, 100, Qt::LeftButton);
  QCOMPARE(knob.x(), 95);
  QCOMPARE(moved.last().at(0).toInt(), 95);
  sendMouse(&track, QEvent::MouseMove, 249, Qt::LeftButton);
  QCOMPARE(knob.x(), 234);
  QCOMPARE(moved.last().at(0).toInt(), 234);  // the clamped edge, never above 0 dB
  sendMouse(&track, QEvent::MouseMove, 2, Qt::LeftButton);
  QCOMPARE(knob.x(), 0);
  sendMouse(&track, QEvent::MouseButtonRelease, 2, Qt::NoButton);
  const int count = moved.count();
  sendMouse(&track, QEvent::MouseMove, 120, Qt::NoButton);
  QCOMPARE(moved.count(), count);
  track.placeKnobForDb(-6.0);
  QCOMPARE(knob.x(), 193);
  track.placeKnobForDb(0.0);
  QCOMPARE(knob.x(), 234);  // kept inside the track
}

void TestControls::pictureSwitchModes() {
  eqIndicator eq;
  eq.show();
  QVERIFY(QTest::qWaitForWindowExposed(&eq));
  const QImage off = picture(eq);
  QCOMPARE(off, QImage(":/jpgData/eqOff.png").convertToFormat(off.format()));
  QSignalSpy toggled(&eq, &eqIndicator::selEqOnOff);
  QSignalSpy clicked(&eq, &eqIndicator::eqIndicatorClicked);
  QTest::mouseClick(&eq, Qt::LeftButton);
  QVERIFY(eq.isOn());
  QCOMPARE(picture(eq), QImage(":/jpgData/eqOn.png").convertToFormat(off.format()));
  QTest::mouseClick(&eq, Qt::LeftButton);
  QVERIFY(!eq.isOn());
  QCOMPARE(picture(eq), off);
  QCOMPARE(toggled.count(), 2);
  QCOMPARE(toggled.at(0).at(0).toInt(), 1);
  QCOMPARE(toggled.at(1).at(0).toInt(), 0);
  QCOMPARE(clicked.count(), 0);

  eq.setMode(pictureSwitch::Mode::Click);
  QTest::mouseClick(&eq, Qt::LeftButton);
  QCOMPARE(clicked.count(), 1);
  QCOMPARE(toggled.count(), 2);
  QVERIFY(!eq.isOn());
  eq.setOn(true);  // the main window mirrors the dialog's master switch
  QCOMPARE(picture(eq), QImage(":/jpgData/eqOn.png").convertToFormat(off.format()));
  QCOMPARE(toggled.count(), 2);

  oscIndicator osc;
  QSignalSpy oscToggled(&osc, &oscIndicator::selOscOnOff);
  QSignalSpy oscClicked(&osc, &oscIndicator::oscIndicatorClicked);
  QTest::mouseClick(&osc, Qt::LeftButton);
  QCOMPARE(oscToggled.count(), 1);
  QCOMPARE(oscToggled.at(0).at(0).toInt(), 1);
  QCOMPARE(picture(osc), QImage(":/jpgData/oscOn.png").convertToFormat(picture(osc).format()));
  osc.setMode(pictureSwitch::Mode::Click);
  QTest::mouseClick(&osc, Qt::LeftButton);
  QCOMPARE(oscClicked.count(), 1);
  QCOMPARE(oscToggled.count(), 1);
}

void TestControls::timeCounterAcceptsOnlyTimeCharacters() {
  widgetTc tc;
  tc.show();
  QVERIFY(QTest::qWaitForWindowExposed(&tc));
  tc.setFocus();
  QTest::keyClicks(&tc, "a1b2:-3x.4 5+/;");
  QCOMPARE(tc.text(), QStringLiteral("12:3.45"));
  QTest::keyClick(&tc, Qt::Key_Backspace);
  QCOMPARE(tc.text(), QStringLiteral("12:3.4"));
  QTest::keyClick(&tc, Qt::Key_Left);
  QTest::keyClick(&tc, Qt::Key_Left);
  QTest::keyClick(&tc, Qt::Key_Delete);
  QCOMPARE(tc.text(), QStringLiteral("12:34"));
  QTest::keyClick(&tc, Qt::Key_Home);
  QTest::keyClick(&tc, '9');
  QCOMPARE(tc.text(), QStringLiteral("912:34"));
  QTest::keyClick(&tc, Qt::Key_PageUp);  // not in the list: ignored
  QTest::keyClick(&tc, Qt::Key_End);
  QTest::keyClick(&tc, '0');
  QCOMPARE(tc.text(), QStringLiteral("912:340"));
  // Pasted text obeys the same rule.
  QApplication::clipboard()->setText(QStringLiteral("7a:8"));
  tc.clear();
  QTest::keyClick(&tc, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(tc.text(), QStringLiteral("7:8"));
}

void TestControls::timeCounterEnterAndEscape() {
  widgetTc tc;
  tc.show();
  QVERIFY(QTest::qWaitForWindowExposed(&tc));
  tc.activateWindow();
  QSignalSpy enter(&tc, &widgetTc::enterKeyPressed);
  QSignalSpy escape(&tc, &widgetTc::escapeKeyPressed);
  tc.setText(QStringLiteral("00:00:01.00"));
  tc.setFocus();
  tc.selectAll();
  QTest::keyClick(&tc, Qt::Key_Return);
  QCOMPARE(enter.count(), 1);
  QVERIFY(!tc.hasSelectedText());
  QVERIFY(!tc.hasFocus());
  tc.setFocus();
  tc.selectAll();
  QTest::keyClick(&tc, Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(enter.count(), 2);
  tc.setFocus();
  tc.selectAll();
  QTest::keyClick(&tc, Qt::Key_Escape);
  QCOMPARE(escape.count(), 1);
  QCOMPARE(enter.count(), 2);
  QVERIFY(!tc.hasSelectedText());
}

void TestControls::timeCounterControlKeys() {
  widgetTc tc;
  tc.show();
  QVERIFY(QTest::qWaitForWindowExposed(&tc));
  tc.setText(QStringLiteral("01:02"));
  QTest::keyPress(&tc, Qt::Key_Shift);
  QVERIFY(tc.shiftHeld());
  QTest::keyRelease(&tc, Qt::Key_Shift);
  QVERIFY(!tc.shiftHeld());
  QTest::keyPress(&tc, Qt::Key_Control);
  QVERIFY(tc.controlHeld());
  QTest::keyClick(&tc, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(tc.selectedText(), QStringLiteral("01:02"));
  QTest::keyClick(&tc, Qt::Key_X, Qt::ControlModifier);
  QCOMPARE(tc.text(), QString());
  QTest::keyClick(&tc, Qt::Key_Z, Qt::ControlModifier);
  QCOMPARE(tc.text(), QStringLiteral("01:02"));
  QTest::keyRelease(&tc, Qt::Key_Control);
  QVERIFY(!tc.controlHeld());
  // Shift+Left extends the selection.
  tc.end(false);
  QTest::keyClick(&tc, Qt::Key_Left, Qt::ShiftModifier);
  QTest::keyClick(&tc, Qt::Key_Left, Qt::ShiftModifier);
  QCOMPARE(tc.selectedText(), QStringLiteral("02"));
}

void TestControls::gainLabel() {
  labelGain label;
  label.setGain(1.0);
  QCOMPARE(label.text(), QStringLiteral("<font color=#828282>Gain = 0.0 dB"));
  label.setGain(0.5);
  QCOMPARE(label.text(), QStringLiteral("<font color=#828282>Gain = -6.0 dB"));
  label.setGain(2.0);
  QCOMPARE(label.text(), QStringLiteral("<font color=#828282>Gain = <font color=red>6.0 dB"));
  QSignalSpy doubleClicked(&label, &labelGain::doubleClicked);
  label.show();
  QVERIFY(QTest::qWaitForWindowExposed(&label));
  QTest::mouseDClick(&label, Qt::LeftButton);
  QCOMPARE(doubleClicked.count(), 1);
}

void TestControls::styledControlsLoadTheirSheets() {
  auto sheetOf = [](const char* path) {
    QFile f{QLatin1String(path)};
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
  };
  const QList<QPair<QWidget*, const char*>> controls = {
      {new blackButton, blackButton::kStyleSheet},
      {new whiteButton, whiteButton::kStyleSheet},
      {new blackComboBox, blackComboBox::kStyleSheet},
      {new lmePlayButton, lmePlayButton::kStyleSheet},
      {new lmeStopButton, lmeStopButton::kStyleSheet},
      {new lmeZeroPlayButton, lmeZeroPlayButton::kStyleSheet},
      {new zoomInButton, zoomInButton::kStyleSheet},
      {new zoomOutButton, zoomOutButton::kStyleSheet},
      {new setPointButton, setPointButton::kStyleSheet}};
  for (const auto& c : controls) {
    const QString sheet = sheetOf(c.second);
    QVERIFY2(!sheet.isEmpty(), c.second);
    QCOMPARE(c.first->styleSheet(), sheet);
    delete c.first;
  }
  QCOMPARE(QString(setPointButton::kStyleSheet),
           QStringLiteral(":/resources/qss/setpointbutton.qss"));
}

void TestControls::everyNamedResourceExists() {
  const QStringList named = {":/resources/qss/default.qss",
                             ":/resources/bg/mainWindow_back.png",
                             ":/resources/bg/Lumara_splash.png",
                             ":/resources/bg/about_back.png",
                             ":/resources/bg/waveformBack.png",
                             ":/resources/parts/volume_off.png",
                             ":/resources/parts/volume_on.png",
                             ":/resources/parts/button_off.png",
                             ":/resources/parts/button_on.png",
                             ":/resources/parts/button_disable.png",
                             ":/resources/parts/button_control-panel_off.png",
                             ":/resources/parts/button_control-panel_on.png",
                             ":/resources/parts/button_control-panel_disable.png",
                             ":/resources/parts/blackDownArrow.png",
                             ":/resources/parts/grayDownArrow.png",
                             ":/resources/parts/blackButton.png",
                             ":/resources/parts/Operation-play_off.png",
                             ":/resources/parts/Operation-play_on.png",
                             ":/resources/parts/Operation-play_off-on.png",
                             ":/resources/parts/Operation-play_onon.png",
                             ":/resources/parts/Operation-play_disable.png",
                             ":/resources/parts/point_BlueFlat_off.png",
                             ":/resources/parts/point_BlueFlat_on.png",
                             ":/resources/parts/point_RedFlat_off.png",
                             ":/resources/parts/point_RedFlat_on.png",
                             ":/resources/parts/point_GreenFlat_off.png",
                             ":/resources/parts/point_GreenFlat_on.png",
                             ":/resources/parts/playCursor.png",
                             ":/resources/icons/icon_over.png",
                             ":/resources/html/license.html",
                             ":/jpgData/eqOn.png",
                             ":/jpgData/eqOff.png",
                             ":/jpgData/oscOn.png",
                             ":/jpgData/oscOff.png"};
  for (const QString& path : named) {
    QVERIFY2(QFile::exists(path), qPrintable(path));
    if (path.endsWith(QLatin1String(".png"))) QVERIFY2(!QImage(path).isNull(), qPrintable(path));
  }
  // Every picture a style sheet refers to is compiled in.
  const QRegularExpression url(QStringLiteral("url\\((:/[^)]+)\\)"));
  int refs = 0;
  QDirIterator it(QStringLiteral(":/resources/qss"));
  while (it.hasNext()) {
    QFile f(it.next());
    QVERIFY(f.open(QIODevice::ReadOnly));
    auto matches = url.globalMatch(QString::fromLatin1(f.readAll()));
    while (matches.hasNext()) {
      const QString ref = matches.next().captured(1);
      QVERIFY2(!QImage(ref).isNull(), qPrintable(it.filePath() + " -> " + ref));
      ++refs;
    }
  }
  QVERIFY(refs > 40);
  QCOMPARE(QImage(":/resources/bg/mainWindow_back.png").size(), QSize(800, 600));
  QCOMPARE(QImage(":/resources/bg/waveformBack.png").size(), QSize(700, 180));
}

void TestControls::splashAndAboutTexts() {
  QCOMPARE(versionText() + buildText(), QStringLiteral("Version  1.02 Build 0040"));
  lmeSplashScreen splash(QPixmap(":/resources/bg/Lumara_splash.png"));
  auto* version = splash.findChild<QLabel*>(QStringLiteral("labelVersion"));
  QVERIFY(version);
  QCOMPARE(version->text(), QStringLiteral("Version  1.02 Build 0040"));
  QVERIFY(version->geometry().bottom() < splash.pixmap().height());

  DialogAbout about;
  QCOMPARE(about.windowTitle(), QStringLiteral("About This Application"));
  auto* name = about.findChild<QLabel*>(QStringLiteral("labelProductName"));
  QVERIFY(name);
  QCOMPARE(name->text(), QStringLiteral("MALVEC Lumara Editor"));
  QCOMPARE(name->styleSheet(),
           QStringLiteral("color: rgb(132, 151, 233);\nfont-size: 16px;\nfont-weight: 700;\n"));
  QCOMPARE(about.findChild<QLabel*>(QStringLiteral("labelVersion"))->text(),
           QStringLiteral("Version  1.02"));
  QCOMPARE(about.findChild<QLabel*>(QStringLiteral("labelBuild"))->text(),
           QStringLiteral("Build 0040"));
  about.show();
  QVERIFY(QTest::qWaitForWindowExposed(&about));
  auto* ok = about.findChild<QPushButton*>(QStringLiteral("pushButtonOK"));
  QVERIFY(ok);
  QTest::mouseClick(ok, Qt::LeftButton);
  QVERIFY(!about.isVisible());
  QCOMPARE(about.result(), int(QDialog::Accepted));
}

void TestControls::licencePageCarriesNotices() {
  dialogLicenses licences;
  QCOMPARE(licences.windowTitle(), QStringLiteral("Licenses"));
  QCOMPARE(licences.size(), QSize(600, 600));
  auto* browser = licences.findChild<QTextBrowser*>();
  QVERIFY(browser);
  const QString text = browser->toPlainText();
  QVERIFY(text.contains(QStringLiteral("GNU LESSER GENERAL PUBLIC LICENSE")));
  QVERIFY(text.contains(QStringLiteral("GNU GENERAL PUBLIC LICENSE")));
  QVERIFY(text.contains(QStringLiteral("IPA Font License Agreement v1.0")));
  QVERIFY(text.contains(QStringLiteral("Article 3")));  // the whole agreement, not a pointer
  QVERIFY(text.contains(QStringLiteral("Qt")));
}

void TestControls::bridgeSkipsMissingLibraryAndExports() {
  QTemporaryDir empty;
  AsioBridge missing;
  QVERIFY(!missing.load(empty.path() + "/libasiolink.so"));
  QVERIFY(!missing.isUsable());
  QCOMPARE(missing.boundCount(), 0);
  int rc = 0;
  QVERIFY(missing.driverNames(&rc).isEmpty());
  QCOMPARE(rc, AsioBridge::kSkipped);
  uint32_t mask = 0xDEADBEEF;
  QCOMPARE(missing.openDevice(nullptr, 0, 44100, nullptr, &mask), AsioBridge::kSkipped);
  QCOMPARE(mask, 0xDEADBEEFu);
  QCOMPARE(missing.stopDevice(nullptr), AsioBridge::kSkipped);
  QCOMPARE(missing.unSelectDevice(nullptr), AsioBridge::kSkipped);
  QCOMPARE(missing.openPanel(nullptr), AsioBridge::kSkipped);
  QCOMPARE(missing.bufferSizeRequest(nullptr, 0), AsioBridge::kSkipped);

  // A library that loads but has none of the exports: every call skipped.
  const QString other = QCoreApplication::applicationDirPath() + "/libsonvex.so";
  if (!QFile::exists(other)) QSKIP("libsonvex.so not built beside the tests");
  AsioBridge noExports;
  QVERIFY(noExports.load(other));
  QVERIFY(noExports.isLoaded());
  QCOMPARE(noExports.boundCount(), 0);
  QCOMPARE(noExports.handle(), 0);
  QVERIFY(!noExports.isUsable());
  QCOMPARE(noExports.openPanel(nullptr), AsioBridge::kSkipped);
  QCOMPARE(noExports.bufferSizeRequest(nullptr, 1), AsioBridge::kSkipped);

  // The real bridge, when it has been built: all eight exports bind.
  const QString bridge = QCoreApplication::applicationDirPath() + "/libasiolink.so";
  if (QFile::exists(bridge)) {
    AsioBridge real;
    QVERIFY(real.load(bridge));
    QCOMPARE(real.boundCount(), 8);
    QVERIFY(real.initResult() != AsioBridge::kSkipped);
  }
}

QTEST_MAIN(TestControls)
#include "test_controls.moc"
