// The main window: its controls, menus, file opening with its refusals, the
// guards in front of EXPORT and PLAY, the monitor volume, the start-up notice,
// and a program that keeps running without its libraries.
#include <QActionGroup>
#include <QComboBox>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "audiofixtures.h"
#include "dialogedit.h"
#include "faderwidgets.h"
#include "mainwindow.h"
#include "pictureswitch.h"
#include "settings.h"
#include "styledcontrols.h"
#include "trackgraphic.h"
#include "waveformcontroller.h"
#include "widgettc.h"

using fixtures::MessageCatcher;

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void windowGeometryTitleAndControls();
  void controlsHiddenAtStart();
  void noFileState();
  void menuTreeWithAndWithoutOscillator();
  void oscillatorEntryFromTheSettingsFile();
  void overHoldActionsAreExclusive();
  void scrollBarStyleAndRange();
  void extensionAndRateChecks();
  void opensWavDsfAndDsdiff();
  void refusalsKeepThePreviousFile();
  void dropOpensTheFirstFile();
  void typedTimeCountsForTheClickedControl();
  void exportGuards();
  void playGuards();
  void monitorVolumeFromFader();
  void firstInformationPopup();
  void missingLibraryOnlyFailsOpening();
  void programRunsWithoutItsLibraries();
  void keysAct();
  void emptyAndCutFilesOpenWithANote();
  void flacOpensAndDrawsAsItsWav();

 private:
  QString file(const QString& name) const { return m_dir.path() + "/" + name; }
  template <typename T>
  T* child(const char* name) const {
    return m_window->findChild<T*>(QLatin1String(name));
  }

  QTemporaryDir m_dir;
  MainWindow* m_window = nullptr;
};

void TestMainWindow::initTestCase() {
  QStandardPaths::setTestModeEnabled(true);
  QVERIFY(m_dir.isValid());
  QVERIFY(fixtures::write(file("tone.wav"), fixtures::wav(44100, 24, 2, 44100 * 3 + 22050)));
  QVERIFY(fixtures::write(file("CAPS.WAV"), fixtures::wav(96000, 16, 1, 9600)));
  QVERIFY(fixtures::write(file("tone.dsf"), fixtures::dsf(2822400, 2, 2822400ull * 2)));
  QVERIFY(fixtures::write(file("tone.dff"), fixtures::dff(5644800, 2, 5644800ull)));
  QVERIFY(fixtures::write(file("short.wav"), fixtures::wav(48000, 16, 2, 99)));
  QVERIFY(fixtures::write(file("low.wav"), fixtures::wav(32000, 16, 2, 32000)));
  QVERIFY(fixtures::write(file("fast.dsf"), fixtures::dsf(22579200, 2, 22579200ull / 4)));
  QVERIFY(fixtures::write(file("song.mp3"), QByteArray(1000, 'x')));
  QVERIFY(fixtures::write(file("noextension"), fixtures::wav(44100, 16, 2, 4410)));
  QVERIFY(fixtures::write(file("broken.wav"), QByteArray("RIFF\x04\0\0\0WAVE", 12)));
}

void TestMainWindow::init() {
  MainWindow::setLibraryDirectory(QString());
  // Every window saves its settings at exit: start each test from the defaults.
  QFile::remove(settingsFilePath());
  m_window = new MainWindow;
  // The start-up notice would block every test; it has its own test.
  m_window->setNeverShowFirstInfo(true);
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestMainWindow::cleanup() {
  delete m_window;
  m_window = nullptr;
}

void TestMainWindow::windowGeometryTitleAndControls() {
  QCOMPARE(m_window->windowTitle(), QStringLiteral("MALVEC Lumara Editor"));
  QCOMPARE(m_window->size(), QSize(800, 624));
  QCOMPARE(m_window->minimumSize(), QSize(800, 624));
  QCOMPARE(m_window->maximumSize(), QSize(800, 624));
  QCOMPARE(m_window->menuBar()->objectName(), QStringLiteral("menuBar"));
  QCOMPARE(m_window->menuBar()->geometry(), QRect(0, 0, 800, 24));
  QCOMPARE(m_window->centralWidget()->geometry(), QRect(0, 24, 800, 600));

  struct Expect {
    const char* name;
    const char* className;
    QRect geometry;
    const char* text;
  };
  const Expect table[] = {
      {"labelBackground", "QLabel", {0, 0, 800, 600}, nullptr},
      {"comboBox_driver", "blackComboBox", {49, 10, 63, 21}, nullptr},
      {"comboBox_asioDev", "blackComboBox", {167, 10, 232, 21}, nullptr},
      {"comboBox_asioFreq", "blackComboBox", {478, 10, 70, 21}, nullptr},
      {"pushAsioCont", "whiteButton", {564, 4, 50, 27}, "Control\nPanel"},
      {"lineEditTime", "widgetTc", {50, 71, 190, 38}, "00:00:00.00"},
      {"widgetMeter", nullptr, {262, 70, 492, 40}, nullptr},
      {"widgetFadeBase", "WidgetFaderBase", {280, 57, 250, 18}, nullptr},
      {"label_VolumeDB", "QLabel", {534, 56, 41, 20}, "0 dB"},  // the volume text
      {"pushButtonPostFader", "QPushButton", {615, 57, 138, 17}, "POST FADER ON"},
      {"labelFadeIn", "QLabel", {50, 140, 141, 21}, nullptr},
      {"labelGainVal", "labelGain", {350, 140, 151, 20}, nullptr},
      {"labelFadeOut", "QLabel", {590, 140, 161, 20}, nullptr},
      {"widgetTrack1", "trackGraphic", {50, 164, 700, 180}, nullptr},
      {"labelInPoint", "QLabel", {50, 349, 141, 21}, nullptr},
      {"labelInOut", "QLabel", {328, 349, 161, 21}, nullptr},
      {"labelOutPoint", "QLabel", {590, 349, 161, 21}, nullptr},
      {"waveScrollBar", "QScrollBar", {50, 373, 665, 10}, nullptr},
      {"zoomOutTimeButton", "zoomOutButton", {717, 372, 16, 16}, nullptr},
      {"zoomInTimeButton", "zoomInButton", {736, 372, 16, 16}, nullptr},
      {"zoomInLevelButton", "zoomInButton", {756, 243, 16, 16}, nullptr},
      {"zoomOutLevelButton", "zoomOutButton", {756, 262, 16, 16}, nullptr},
      {"labelSetPoint", "QLabel", {224, 397, 70, 23}, "SET POINT"},
      {"setPointButtonSetIn", "setPointButton", {296, 397, 110, 23}, "IN"},
      {"setPointButtonSetOut", "setPointButton", {410, 397, 110, 23}, "OUT"},
      {"labelEqIndicator", "eqIndicator", {160, 447, 61, 31}, nullptr},
      {"pushButtonOpen", "QPushButton", {49, 475, 83, 26}, "OPEN"},
      {"pushButtonEdit", "QPushButton", {153, 475, 83, 26}, "EXPORT"},
      {"pushCh1PEQ", "QPushButton", {158, 483, 83, 26}, "EQ"},
      {"zeroPlayButton", "lmeZeroPlayButton", {365, 470, 52, 36}, nullptr},
      {"stopButton", "lmeStopButton", {444, 472, 33, 34}, nullptr},
      {"playButton", "lmePlayButton", {509, 470, 45, 35}, nullptr},
      {"pushButton_Combine", "QPushButton", {668, 475, 83, 26}, "COMBINE"},
      {"labelFileName", "QLabel", {50, 547, 81, 16}, "File Name :"},
      {"label_orgFileNameArea", "QLabel", {123, 543, 376, 21}, nullptr},
      {"label_orgTime", "QLabel", {54, 569, 77, 16}, nullptr},
      {"label_orgFileType", "QLabel", {140, 569, 84, 16}, nullptr},
      {"label_orgFreq", "QLabel", {230, 569, 64, 16}, nullptr},
      {"label_orgBit", "QLabel", {300, 569, 64, 16}, nullptr},
      {"label_orgCh", "QLabel", {370, 569, 64, 16}, nullptr},
  };
  QWidget* central = m_window->centralWidget();
  for (const Expect& e : table) {
    QWidget* w = child<QWidget>(e.name);
    QVERIFY2(w, e.name);
    QCOMPARE(w->parentWidget(), central);
    if (e.className) QCOMPARE(QString(w->metaObject()->className()), QString(e.className));
    QCOMPARE(w->geometry(), e.geometry);
    if (e.text) {
      QString text;
      if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
      if (auto* t = qobject_cast<QLineEdit*>(w)) text = t->text();
      QCOMPARE(text, QString(e.text));
    }
  }
  auto* knob = child<faderTop>("label_FaderTop");
  QVERIFY(knob);
  QCOMPARE(knob->parentWidget(), child<QWidget>("widgetFadeBase"));
  QCOMPARE(knob->size(), QSize(18, 18));

  // Styles and fixed sizes that the table gives.
  QCOMPARE(child<QWidget>("lineEditTime")->styleSheet(),
           QStringLiteral("color: rgb(255, 255, 255);\nbackground-color: rgb(0, 0, 0);\n"
                          "font-size: 31px;"));
  QVERIFY(!child<QLineEdit>("lineEditTime")->hasFrame());
  QCOMPARE(child<QWidget>("labelInPoint")->styleSheet(),
           QStringLiteral("color: rgb(130, 130, 130);"));
  QCOMPARE(child<QWidget>("label_orgTime")->styleSheet(),
           QStringLiteral("color: rgb(180, 180, 180);"));
  QCOMPARE(child<QWidget>("label_orgFileNameArea")->styleSheet(),
           QStringLiteral("color: rgb(255, 255, 255);\nfont-size: 17px;"));
  QVERIFY(child<QLabel>("labelOutPoint")->alignment() & Qt::AlignRight);
  QVERIFY(child<QPushButton>("playButton")->isCheckable());
  QVERIFY(child<QPushButton>("pushButtonPostFader")->isCheckable());
  QCOMPARE(child<QWidget>("comboBox_asioDev")->minimumSize(), QSize(232, 21));
  QCOMPARE(child<QWidget>("comboBox_asioDev")->maximumSize(), QSize(232, 21));

  auto* driver = child<QComboBox>("comboBox_driver");
  QCOMPARE(driver->count(), 2);
  QCOMPARE(driver->itemText(0), QStringLiteral("ALSA direct"));
  QCOMPARE(driver->itemText(1), QStringLiteral("Desktop (shared)"));
  QVERIFY(m_window->acceptDrops());
  QCOMPARE(child<eqIndicator>("labelEqIndicator")->mode(), pictureSwitch::Mode::Click);
}

void TestMainWindow::controlsHiddenAtStart() {
  for (const char* name : {"labelEqIndicator", "pushCh1PEQ", "widgetFadeBase", "label_VolumeDB",
                           "pushButtonPostFader", "labelFadeIn", "labelFadeOut", "labelGainVal"}) {
    QVERIFY2(child<QWidget>(name)->isHidden(), name);
  }
  for (const char* name : {"pushButtonOpen", "pushButtonEdit", "pushButton_Combine", "playButton",
                           "widgetTrack1", "lineEditTime", "waveScrollBar", "labelInOut"}) {
    QVERIFY2(child<QWidget>(name)->isVisible(), name);
  }
}

void TestMainWindow::noFileState() {
  QVERIFY(!m_window->isFileOpen());
  for (const char* name :
       {"setPointButtonSetIn", "setPointButtonSetOut", "pushButtonEdit", "zeroPlayButton",
        "stopButton", "playButton", "lineEditTime", "zoomInTimeButton", "zoomOutTimeButton",
        "zoomInLevelButton", "zoomOutLevelButton"}) {
    QVERIFY2(!child<QWidget>(name)->isEnabled(), name);
  }
  QVERIFY(child<QWidget>("pushButtonOpen")->isEnabled());
  QVERIFY(child<QWidget>("pushButton_Combine")->isEnabled());
  QCOMPARE(child<QLabel>("labelInPoint")->text(), QStringLiteral("In Point = 00:00:00.00"));
  QCOMPARE(child<QLabel>("labelOutPoint")->text(), QStringLiteral("Out Point = 00:00:00.00"));
  QCOMPARE(child<QLabel>("labelInOut")->text(), QStringLiteral("In-Out = --:--:--.--"));
  QCOMPARE(child<QLabel>("labelFadeIn")->text(), QStringLiteral("Fade In = 00:00:00.00"));
  QCOMPARE(child<QLabel>("labelFadeOut")->text(), QStringLiteral("Fade Out = 00:00:00.00"));
  QVERIFY(!child<trackGraphic>("widgetTrack1")->isFileLoaded());
  // The settings' driver type (direct by default) once the settings are
  // applied; without any direct device the desktop's output is taken.
  QCOMPARE(child<QComboBox>("comboBox_driver")->currentIndex(),
           m_window->asioBridge().driverNames().isEmpty() ? 1 : 0);
  // The process starts in the user's music folder.
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (QDir(music).exists()) QCOMPARE(QDir::currentPath(), QDir(music).absolutePath());
}

void TestMainWindow::menuTreeWithAndWithoutOscillator() {
  QList<QAction*> top = m_window->menuBar()->actions();
  QCOMPARE(top.size(), 3);
  QCOMPARE(top[0]->text(), QStringLiteral("&File"));
  QStringList file;
  for (QAction* a : top[0]->menu()->actions()) file << a->text() + " " + a->shortcut().toString();
  QCOMPARE(file, QStringList({"&Open... Ctrl+O", "&Export... Ctrl+E", "&Combine... ", " ",
                              "&Quit Ctrl+Q"}));
  top.removeFirst();
  QCOMPARE(top[0]->text(), QStringLiteral("Tools"));
  QCOMPARE(top[1]->text(), QStringLiteral("&Help"));
  QMenu* tools = top[0]->menu();
  QCOMPARE(tools->objectName(), QStringLiteral("menuTools"));
  auto toolsNames = [&]() {
    QStringList names;
    for (QAction* a : tools->actions())
      names << (a->menu() ? a->menu()->objectName() : a->objectName());
    return names;
  };
  m_window->setOscillatorMode(false);
  QCOMPARE(toolsNames(), QStringList({"menuOVER_Indicator"}));
  QMenu* over = tools->actions()[0]->menu();
  QCOMPARE(over->title(), QStringLiteral("OVER Indicator"));
  QVERIFY(!over->icon().isNull());
  QCOMPARE(over->actions().size(), 2);
  QCOMPARE(over->actions()[0]->objectName(), QStringLiteral("actionOverHolds2sec"));
  QCOMPARE(over->actions()[0]->text(), QStringLiteral("Holds 2 sec."));
  QCOMPARE(over->actions()[1]->objectName(), QStringLiteral("actionOverHoldsUntilClicked"));
  QCOMPARE(over->actions()[1]->text(), QStringLiteral("Holds Until Clicked"));

  m_window->setOscillatorMode(true);
  QCOMPARE(toolsNames(), QStringList({"menuOVER_Indicator", "actionOscillator"}));
  QCOMPARE(tools->actions().last()->text(), QStringLiteral("Oscillator..."));
  m_window->setOscillatorMode(true);  // never twice
  QCOMPARE(tools->actions().size(), 2);
  m_window->setOscillatorMode(false);
  QCOMPARE(toolsNames(), QStringList({"menuOVER_Indicator"}));

  QMenu* help = top[1]->menu();
  QCOMPARE(help->objectName(), QStringLiteral("menuHelp"));
  const QList<QAction*> helpItems = help->actions();
  QCOMPARE(helpItems.size(), 3);
  QCOMPARE(helpItems[0]->menu()->objectName(), QStringLiteral("menu_Manual"));
  QCOMPARE(helpItems[0]->text(), QStringLiteral("&Manual"));
  QVERIFY(helpItems[1]->isSeparator());
  QCOMPARE(helpItems[2]->menu()->objectName(), QStringLiteral("menu_About"));
  QCOMPARE(helpItems[2]->text(), QStringLiteral("&About"));
  const QList<QAction*> manual = helpItems[0]->menu()->actions();
  QCOMPARE(manual[0]->objectName(), QStringLiteral("actionEnglishManual"));
  QCOMPARE(manual[0]->text(), QStringLiteral("English"));
  QCOMPARE(manual[1]->objectName(), QStringLiteral("actionJapaneseManual"));
  QCOMPARE(manual[1]->text(), QStringLiteral("Japanese"));
  const QList<QAction*> about = helpItems[2]->menu()->actions();
  QCOMPARE(about[0]->objectName(), QStringLiteral("actionAboutThisApplication"));
  QCOMPARE(about[0]->text(), QStringLiteral("This Application"));
  QCOMPARE(about[1]->objectName(), QStringLiteral("actionAboutLicenses"));
  QCOMPARE(about[1]->text(), QStringLiteral("Licenses"));
}

void TestMainWindow::oscillatorEntryFromTheSettingsFile() {
  delete m_window;  // this test builds its own windows
  m_window = nullptr;
  const QString path = settingsFilePath();
  for (bool on : {true, false}) {
    QFile settings(path);
    QVERIFY(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write(QByteArray("//NeverShowFirstInfo\ntrue\n//OscillatorMode\n") +
                   (on ? "true\n" : "false\n"));
    settings.close();
    MainWindow window;
    QCOMPARE(window.oscillatorMode(), on);
    const QList<QAction*> tools = window.findChild<QMenu*>("menuTools")->actions();
    QCOMPARE(tools.size(), on ? 2 : 1);
    QAction* last = tools.last();
    QCOMPARE(last->menu() ? last->menu()->objectName() : last->objectName(),
             QString(on ? "actionOscillator" : "menuOVER_Indicator"));
  }
  QFile::remove(path);
}

void TestMainWindow::overHoldActionsAreExclusive() {
  auto* twoSec = child<QAction>("actionOverHolds2sec");
  auto* untilClicked = child<QAction>("actionOverHoldsUntilClicked");
  QVERIFY(twoSec->actionGroup() && twoSec->actionGroup() == untilClicked->actionGroup());
  QVERIFY(twoSec->actionGroup()->isExclusive());
  QVERIFY(twoSec->isChecked());
  QCOMPARE(m_window->overHoldTimeMs(), 2000);

  untilClicked->trigger();
  QVERIFY(untilClicked->isChecked());
  QVERIFY(!twoSec->isChecked());
  QCOMPARE(m_window->overHoldTimeMs(), -1);

  QSignalSpy toggled(untilClicked, &QAction::toggled);
  untilClicked->trigger();  // already checked: nothing changes
  QVERIFY(untilClicked->isChecked());
  QVERIFY(!twoSec->isChecked());
  QCOMPARE(toggled.count(), 0);
  QCOMPARE(m_window->overHoldTimeMs(), -1);

  twoSec->trigger();
  QVERIFY(twoSec->isChecked());
  QVERIFY(!untilClicked->isChecked());
  QCOMPARE(m_window->overHoldTimeMs(), 2000);
}

void TestMainWindow::scrollBarStyleAndRange() {
  auto* bar = child<QScrollBar>("waveScrollBar");
  QCOMPARE(bar->orientation(), Qt::Horizontal);
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 100);
  QCOMPARE(bar->pageStep(), 99 * 4096);  // the default maximum of 99, x 4096
  const QString style = bar->styleSheet();
  for (const char* piece :
       {"#2B2B2B", "#151515", "height: 15px", "margin: 0px 20px 0px 20px", "#373737",
        "min-width: 20px", "width: 20px", "width: 3px", "height: 3px", "background: none"}) {
    QVERIFY2(style.contains(QLatin1String(piece)), piece);
  }
}

void TestMainWindow::extensionAndRateChecks() {
  QVERIFY(MainWindow::checkFileExtension("/a/b/c.wav"));
  QVERIFY(MainWindow::checkFileExtension("/a/b/c.WAV"));
  QVERIFY(MainWindow::checkFileExtension("C:/x.y/song.Dsf"));
  QVERIFY(MainWindow::checkFileExtension("song.dff"));
  QVERIFY(MainWindow::checkFileExtension("/a/b/song.Flac"));
  QVERIFY(MainWindow::checkFileExtension("/a/b/song.dff."));  // empty last part dropped
  QVERIFY(!MainWindow::checkFileExtension("/a/b/song.mp3"));
  QVERIFY(!MainWindow::checkFileExtension("wav"));
  QVERIFY(!MainWindow::checkFileExtension("/music/noextension"));
  QVERIFY(!MainWindow::checkFileExtension("/music.wav/noextension"));
  QVERIFY(!MainWindow::checkFileExtension(""));

  QVERIFY(MainWindow::checkSampleRate(44100));
  QVERIFY(MainWindow::checkSampleRate(384000));
  QVERIFY(MainWindow::checkSampleRate(2822400));
  QVERIFY(MainWindow::checkSampleRate(11289600));
  QVERIFY(!MainWindow::checkSampleRate(32000));
  QVERIFY(!MainWindow::checkSampleRate(44099));
  QVERIFY(!MainWindow::checkSampleRate(768000));
  QVERIFY(!MainWindow::checkSampleRate(384001));
  QVERIFY(!MainWindow::checkSampleRate(22579200));
  QVERIFY(!MainWindow::checkSampleRate(0));
}

void TestMainWindow::opensWavDsfAndDsdiff() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  MessageCatcher messages;
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  QCOMPARE(messages.count(), 0);
  QCOMPARE(child<QLabel>("label_orgFileNameArea")->text(), QStringLiteral("tone.wav"));
  QCOMPARE(child<QLabel>("label_orgFreq")->text(), QStringLiteral("44.1kHz"));
  QCOMPARE(child<QLabel>("label_orgBit")->text(), QStringLiteral("24bits"));
  QCOMPARE(child<QLabel>("label_orgCh")->text(), QStringLiteral("STEREO"));
  QCOMPARE(child<QLabel>("label_orgFileType")->text(), QStringLiteral("WAV(PCM)"));
  QCOMPARE(child<QLabel>("label_orgTime")->text(), QStringLiteral("00:00:03.50"));
  QCOMPARE(m_window->totalFrames(), uint64_t(44100 * 3 + 22050));
  QCOMPARE(m_window->currentFilePath(), file("tone.wav"));
  QVERIFY(child<QWidget>("playButton")->isEnabled());
  QVERIFY(child<QWidget>("pushButtonEdit")->isEnabled());
  QVERIFY(child<QWidget>("lineEditTime")->isEnabled());
  QVERIFY(child<trackGraphic>("widgetTrack1")->isFileLoaded());
  QCOMPARE(child<QLineEdit>("lineEditTime")->text(), QStringLiteral("00:00:00.00"));
  QCOMPARE(child<QScrollBar>("waveScrollBar")->value(), 0);
  QCOMPARE(child<QScrollBar>("waveScrollBar")->maximum(), 100);

  QVERIFY(m_window->openAudioFile(file("tone.dsf")));
  QCOMPARE(child<QLabel>("label_orgFreq")->text(), QStringLiteral("2.8MHz"));
  QCOMPARE(child<QLabel>("label_orgBit")->text(), QStringLiteral("1bit"));
  QCOMPARE(child<QLabel>("label_orgCh")->text(), QStringLiteral("STEREO"));
  QCOMPARE(child<QLabel>("label_orgFileType")->text(), QStringLiteral("DSF(DSD)"));
  QCOMPARE(child<QLabel>("label_orgTime")->text(), QStringLiteral("00:00:02.00"));

  QVERIFY(m_window->openAudioFile(file("tone.dff")));
  QCOMPARE(child<QLabel>("label_orgFreq")->text(), QStringLiteral("5.6MHz"));
  QCOMPARE(child<QLabel>("label_orgBit")->text(), QStringLiteral("1bit"));
  QCOMPARE(child<QLabel>("label_orgFileType")->text(), QStringLiteral("DSDIFF(DSD)"));
  QCOMPARE(child<QLabel>("label_orgTime")->text(), QStringLiteral("00:00:01.00"));

  // The extension in capitals is accepted.
  QVERIFY(m_window->openAudioFile(file("CAPS.WAV")));
  QCOMPARE(child<QLabel>("label_orgFreq")->text(), QStringLiteral("96kHz"));
  QCOMPARE(child<QLabel>("label_orgBit")->text(), QStringLiteral("16bits"));
  QCOMPARE(child<QLabel>("label_orgCh")->text(), QStringLiteral("MONO"));
  QCOMPARE(child<QLabel>("label_orgTime")->text(), QStringLiteral("00:00:00.10"));
  QCOMPARE(messages.count(), 0);
}

void TestMainWindow::refusalsKeepThePreviousFile() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  auto expectKept = [&]() {
    QCOMPARE(m_window->currentFilePath(), file("tone.wav"));
    QCOMPARE(m_window->fileInfo().sampleRate, 44100u);
    QCOMPARE(m_window->fileInfo().bitsPerSample, 24u);
    QCOMPARE(m_window->totalFrames(), uint64_t(44100 * 3 + 22050));
    QCOMPARE(child<QLabel>("label_orgFileNameArea")->text(), QStringLiteral("tone.wav"));
    QCOMPARE(child<QLabel>("label_orgFreq")->text(), QStringLiteral("44.1kHz"));
    QVERIFY(child<QWidget>("playButton")->isEnabled());
  };
  struct Case {
    const char* name;
    QString text;
  };
  const Case cases[] = {
      {"song.mp3", "song.mp3\nUnsupported audio file."},
      {"noextension", "noextension\nUnsupported audio file."},
      {"broken.wav", "broken.wav\nUnsupported audio file."},
      {"missing.dsf", file("missing.dsf") + "\nThe file does not exist."},
      {"low.wav", "Unsupported sampling frequency."},
      {"fast.dsf", "Unsupported sampling frequency."},
  };
  for (const Case& c : cases) {
    MessageCatcher messages;
    QVERIFY2(!m_window->openAudioFile(file(c.name)), c.name);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.titles[0], QStringLiteral("Cannot Open"));
    QCOMPARE(messages.texts[0], c.text);
    expectKept();
  }
}

void TestMainWindow::dropOpensTheFirstFile() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(file("tone.dsf")), QUrl::fromLocalFile(file("tone.wav")),
                QUrl::fromLocalFile(file("tone.dff"))});
  const QPoint at(400, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_window, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_window, &drop);
  QCOMPARE(m_window->currentFilePath(), file("tone.dsf"));
  QCOMPARE(child<QLabel>("label_orgFileType")->text(), QStringLiteral("DSF(DSD)"));

  // A drop without files changes nothing.
  QMimeData text;
  text.setText(QStringLiteral("hello"));
  QDropEvent textDrop(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_window, &textDrop);
  QCOMPARE(m_window->currentFilePath(), file("tone.dsf"));
}

void TestMainWindow::typedTimeCountsForTheClickedControl() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window));
  auto* counter = child<QLineEdit>("lineEditTime");
  counter->setFocus();
  QTRY_VERIFY(counter->hasFocus());
  counter->selectAll();
  QTest::keyClicks(counter, QStringLiteral("2"));
  // No Enter: the press on IN itself must take the typed time first.
  QTest::mouseClick(child<QWidget>("setPointButtonSetIn"), Qt::LeftButton);
  QCOMPARE(m_window->editRange().inFrames, int64_t(2 * 44100));
  QCOMPARE(counter->text(), QStringLiteral("00:00:02.00"));
  QVERIFY(!counter->hasFocus());
}

void TestMainWindow::exportGuards() {
  auto* exportButton = child<QPushButton>("pushButtonEdit");
  {
    // Without a file the button is disabled; the guard still holds if reached.
    MessageCatcher messages;
    QMetaObject::invokeMethod(m_window, "on_pushButtonEdit_clicked");
    QCOMPARE(messages.last(), QStringLiteral("File Not Opened|Please open audio file."));
    QVERIFY(!child<QPushButton>("playButton")->isChecked());
  }
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(m_window->openAudioFile(file("short.wav")));  // 99 frames
  {
    MessageCatcher messages;
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last(), QStringLiteral("Cannot Export|IN - OUT too short."));
  }
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  {
    MessageCatcher messages;
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(messages.count(), 0);
  }
}

void TestMainWindow::playGuards() {
  auto* play = child<QPushButton>("playButton");
  {
    MessageCatcher messages;
    QMetaObject::invokeMethod(m_window, "on_playButton_clicked");
    QCOMPARE(messages.last(), QStringLiteral("File Not Opened|Please open audio file."));
    QVERIFY(!play->isChecked());
  }
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  auto* devices = child<QComboBox>("comboBox_asioDev");
  auto* freq = child<QComboBox>("comboBox_asioFreq");
  devices->clear();
  devices->addItem(QStringLiteral("(select a device)"));
  devices->setCurrentIndex(0);
  {
    MessageCatcher messages;
    QTest::mouseClick(play, Qt::LeftButton);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last(),
             QStringLiteral("Audio Device Not Selected|Please select audio device."));
    QVERIFY(!play->isChecked());
  }
  devices->blockSignals(true);
  devices->addItem(QStringLiteral("Test device"));
  devices->setCurrentIndex(1);
  devices->blockSignals(false);
  freq->blockSignals(true);
  freq->clear();
  freq->addItem(QStringLiteral("(offline)"));
  freq->setCurrentIndex(0);
  freq->blockSignals(false);
  {
    MessageCatcher messages;
    QTest::mouseClick(play, Qt::LeftButton);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last(),
             QStringLiteral("Audio Device is Offline|Please connect active audio device."));
    QVERIFY(!play->isChecked());
  }
}

void TestMainWindow::monitorVolumeFromFader() {
  auto* volume = child<QLabel>("label_VolumeDB");
  auto* track = child<WidgetFaderBase>("widgetFadeBase");
  m_window->monitorVolumeMoved(193);
  QCOMPARE(m_window->monitorVolumeDb(), -6.0);
  QCOMPARE(volume->text(), QStringLiteral("-6 dB"));
  m_window->monitorVolumeMoved(0);  // left of every step
  QCOMPARE(m_window->monitorVolumeDb(), -300.0);
  QCOMPARE(volume->text(), QStringLiteral("-inf dB"));
  m_window->monitorVolumeMoved(240);
  QCOMPARE(m_window->monitorVolumeDb(), 0.0);
  QCOMPARE(volume->text(), QStringLiteral("0 dB"));
  // The knob's own signal reaches the slot.
  emit track->faderMoved(55);
  QCOMPARE(m_window->monitorVolumeDb(), -36.0);
  emit child<faderTop>("label_FaderTop")->faderMoved(13);
  QCOMPARE(m_window->monitorVolumeDb(), -58.0);
  QCOMPARE(volume->text(), QStringLiteral("-58 dB"));
}

void TestMainWindow::firstInformationPopup() {
  m_window->setNeverShowFirstInfo(false);
  {
    MessageCatcher messages;  // answers with the box unticked
    m_window->showFirstInformationPopup();
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.titles[0], QStringLiteral("MALVEC Lumara Editor Information"));
    QVERIFY(messages.texts[0].startsWith(
        QStringLiteral("For bit-perfect playback and native DSD, choose the driver type")));
    QVERIFY(messages.texts[0].contains(QStringLiteral("<p>See Help -> Manual for detail.")));
    QVERIFY(!m_window->neverShowFirstInfo());
  }
  {
    MessageCatcher messages(true);  // ticks "Do not show again"
    m_window->showFirstInformationPopup();
    QCOMPARE(messages.count(), 1);
    QVERIFY(m_window->neverShowFirstInfo());
  }
  {
    MessageCatcher messages;
    m_window->showFirstInformationPopup();
    QTest::qWait(50);
    QCOMPARE(messages.count(), 0);
  }
}

void TestMainWindow::missingLibraryOnlyFailsOpening() {
  QTemporaryDir empty;
  MainWindow::setLibraryDirectory(empty.path());
  MainWindow window;
  window.setNeverShowFirstInfo(true);
  MainWindow::setLibraryDirectory(QString());
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(!window.sonvex().isLoaded());
  QVERIFY(!window.sonvex().getAudioFileInformation);
  QVERIFY(!window.asioBridge().isLoaded());
  QVERIFY(!window.asioBridge().isUsable());
  MessageCatcher messages;
  QVERIFY(!window.openAudioFile(file("tone.wav")));
  QCOMPARE(messages.last(), QStringLiteral("Cannot Open|tone.wav\nUnsupported audio file."));
  QVERIFY(!window.isFileOpen());
  // Still usable: the other controls answer.
  QMetaObject::invokeMethod(&window, "on_playButton_clicked");
  QCOMPARE(messages.last(), QStringLiteral("File Not Opened|Please open audio file."));
  window.monitorVolumeMoved(147);
  QCOMPARE(window.monitorVolumeDb(), -12.0);
  QMetaObject::invokeMethod(&window, "on_pushAsioCont_clicked");  // bridge missing: skipped
}

void TestMainWindow::programRunsWithoutItsLibraries() {
  const QString program = QCoreApplication::applicationDirPath() + "/LumaraEditor";
  if (!QFile::exists(program)) QSKIP("LumaraEditor not built beside the tests");
  const QString sonvex = QCoreApplication::applicationDirPath() + "/libsonvex.so";
  // Once with neither library beside the program, once with the library only.
  for (bool withLibrary : {false, true}) {
    QTemporaryDir dir;
    QVERIFY(QFile::copy(program, dir.path() + "/LumaraEditor"));
    if (withLibrary && QFile::exists(sonvex))
      QVERIFY(QFile::copy(sonvex, dir.path() + "/libsonvex.so"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    env.insert("XDG_DATA_HOME", dir.path() + "/data");
    process.setProcessEnvironment(env);
    process.start(dir.path() + "/LumaraEditor", {file("tone.wav")});
    QVERIFY(process.waitForStarted(5000));
    // Still running after start-up, the open attempt and its message.
    QVERIFY2(!process.waitForFinished(2500), qPrintable(process.readAllStandardError()));
    QCOMPARE(process.state(), QProcess::Running);
    process.terminate();
    if (!process.waitForFinished(3000)) process.kill();
  }
}

void TestMainWindow::keysAct() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(m_window->openAudioFile(file("tone.wav")));
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window));
  // I and O mark the play position.
  m_window->session().setPlayPosition(44100);
  QTest::keyClick(m_window, Qt::Key_I);
  m_window->session().setPlayPosition(88200);
  QTest::keyClick(m_window, Qt::Key_O);
  QCOMPARE(m_window->exportInFrames(), int64_t(44100));
  QCOMPARE(m_window->exportOutFrames(), int64_t(88200));
  // Space plays (here: no device to play on) and, while playing, stops.
  auto* play = child<QPushButton>("playButton");
  auto* devices = child<QComboBox>("comboBox_asioDev");
  devices->blockSignals(true);
  devices->setCurrentIndex(0);
  devices->blockSignals(false);
  {
    MessageCatcher messages;
    QTest::keyClick(m_window, Qt::Key_Space);
    QCOMPARE(messages.last(),
             QStringLiteral("Audio Device Not Selected|Please select audio device."));
  }
  play->setChecked(true);
  m_window->activateWindow();  // back from the message box
  QVERIFY(QTest::qWaitForWindowActive(m_window));
  QTest::keyClick(m_window, Qt::Key_Space);
  QVERIFY(!play->isChecked());
  // Home and End in the time counter.
  auto* counter = child<widgetTc>("lineEditTime");
  counter->setFocus();
  counter->setCursorPosition(3);
  QTest::keyClick(counter, Qt::Key_End);
  QCOMPARE(counter->cursorPosition(), counter->text().size());
  QTest::keyClick(counter, Qt::Key_Home, Qt::ShiftModifier);
  QCOMPARE(counter->selectedText(), counter->text());
  counter->clearFocus();
  QTest::keyClick(m_window, Qt::Key_E, Qt::ControlModifier);
  QVERIFY(m_window->exportDialog()->isVisible());
  m_window->exportDialog()->hide();
  m_window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(m_window));
  QTest::keyClick(m_window, Qt::Key_Q, Qt::ControlModifier);
  QVERIFY(!m_window->isVisible());
}

void TestMainWindow::emptyAndCutFilesOpenWithANote() {
  if (!m_window->sonvex().getAudioFileInformation) QSKIP("libsonvex.so has no probe yet");
  QVERIFY(fixtures::write(file("empty.wav"), fixtures::wav(44100, 16, 2, 0)));
  QVERIFY(fixtures::write(file("cut.wav"), fixtures::wav(44100, 16, 2, 44100).left(44 + 88200)));
  MessageCatcher messages;
  QVERIFY(m_window->openAudioFile(file("empty.wav")));
  QVERIFY(m_window->openAudioFile(file("cut.wav")));
  QCOMPARE(m_window->totalFrames(), uint64_t(22050));
  QCOMPARE(messages.texts,
           QStringList({"empty.wav\nThe file holds no audio (0 samples).",
                        "cut.wav\nThe file is cut short: it holds 00:00:00.50 of the "
                        "00:00:01.00 its header announces."}));
}

// The same audio as WAV and as FLAC: the same labels (bar the type), frames and
// waveform, and no note on the FLAC, whose size says nothing of its length.
void TestMainWindow::flacOpensAndDrawsAsItsWav() {
  if (!m_window->sonvex().getAudioWaveForm) QSKIP("libsonvex.so has no summary yet");
  if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
  const QByteArray wav = fixtures::wav(96000, 24, 2, 96000 * 2 + 4800);
  QVERIFY(fixtures::write(file("same.wav"), wav));
  QVERIFY(fixtures::flac(file("same.flac"), wav));
  const auto openAndSummarise = [&](const QString& path) {
    std::vector<double> v;
    WaveformController* w = m_window->waveform();
    if (!m_window->openAudioFile(path) ||
        !QTest::qWaitFor([w] { return w->summaryReady(); }, 60000))
      return v;
    const waveview::SummaryEntry* mx = w->buffers().maxLevel(waveview::kCoarse);
    const waveview::SummaryEntry* mn = w->buffers().minLevel(waveview::kCoarse);
    for (int64_t i = 0; i < w->buffers().plan().columns[waveview::kCoarse]; ++i)
      v.insert(v.end(), {mx[i].left, mx[i].right, mn[i].left, mn[i].right});
    return v;
  };
  MessageCatcher messages;
  const std::vector<double> fromWav = openAndSummarise(file("same.wav"));
  const QStringList labels = {"label_orgTime", "label_orgFreq", "label_orgBit", "label_orgCh"};
  QStringList wavTexts;
  for (const QString& l : labels) wavTexts << child<QLabel>(qPrintable(l))->text();
  const std::vector<double> fromFlac = openAndSummarise(file("same.flac"));
  QCOMPARE(messages.count(), 0);
  QCOMPARE(m_window->currentFilePath(), file("same.flac"));
  QCOMPARE(child<QLabel>("label_orgFileType")->text(), QStringLiteral("FLAC"));
  for (int i = 0; i < labels.size(); ++i)
    QCOMPARE(child<QLabel>(qPrintable(labels[i]))->text(), wavTexts[i]);
  QCOMPARE(m_window->totalFrames(), uint64_t(96000 * 2 + 4800));
  QVERIFY(std::any_of(fromFlac.begin(), fromFlac.end(), [](double x) { return x != 0.0; }));
  QVERIFY(fromFlac == fromWav);
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
