// PLAY through the outputs from the main window, against an ALSA
// configuration the test writes (no sound card needed): what the fake DAC
// captured must be the file's tone, at its level, without gaps. Also the
// output row without any device, a device that vanishes, the result
// messages and the play-rate model.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>

#include "alsaharness.h"
#include "audiofixtures.h"
#include "devicemanager.h"
#include "dsdcarry.h"
#include "mainwindow.h"
#include "playrates.h"
#include "settings.h"
#include "trackgraphic.h"

using fixtures::MessageCatcher;

namespace {

constexpr double kToneHz = 1000.0;
constexpr double kToneLevel = 0.5;

int32_t toneSample(uint32_t n, uint32_t rate) {
  return int32_t(std::lround(kToneLevel * 8388607.0 * std::sin(2 * M_PI * kToneHz * n / rate)));
}

// One second of a 24-bit stereo tone.
QByteArray toneWav(uint32_t rate) {
  QByteArray f = fixtures::wav(rate, 24, 2, 0);
  QByteArray data;
  for (uint32_t n = 0; n < rate; ++n) {
    const int32_t v = toneSample(n, rate);
    for (int c = 0; c < 2; ++c) fixtures::le(data, uint32_t(v) & 0xFFFFFF, 3);
  }
  QByteArray size, riff;
  fixtures::le(size, uint32_t(data.size()), 4);
  fixtures::le(riff, 36 + uint32_t(data.size()), 4);
  return f.replace(40, 4, size).replace(4, 4, riff) + data;
}

struct Heard {
  double peak = 0;
  double frequency = 0;
  double seconds = 0;
  long longestHole = 0;  // consecutive silent samples inside the tone
};

Heard listen(const std::vector<double>& x, double rate) {
  Heard h;
  size_t first = 0, last = x.size();
  while (first < x.size() && std::fabs(x[first]) < 1e-3) ++first;
  while (last > first && std::fabs(x[last - 1]) < 1e-3) --last;
  long crossings = 0, hole = 0;
  for (size_t i = first; i < last; ++i) {
    h.peak = std::max(h.peak, std::fabs(x[i]));
    if (i > first && x[i - 1] < 0 && x[i] >= 0) ++crossings;
    hole = std::fabs(x[i]) < 1e-4 ? hole + 1 : 0;
    h.longestHole = std::max(h.longestHole, hole);
  }
  h.seconds = double(last - first) / rate;
  h.frequency = h.seconds > 0 ? crossings / h.seconds : 0;
  return h;
}

}  // namespace

class TestPlayback : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void playRateModel();
  void withoutSoundCard();
  void resultMessages();
  void restoresTheSavedOutput();
  void playsThroughTheSharedOutput();
  void playsThroughTheDirectBridge();
  void playsDsdNativeThroughTheDirectBridge();
  void playsFlacBitPerfect();
  void oscillatorSoundsOnTheOpenDevice();
  void deviceThatVanishesGoesOffline();

 private:
  template <typename T>
  T* child(const char* name) const {
    return m_window->findChild<T*>(QLatin1String(name));
  }
  // Adds the configuration's PCM to the driver's list and selects it.
  void choose(int driverType, const char* pcm);
  void playToTheEnd();

  QTemporaryDir m_dir;
  QString m_tone44, m_tone48;
  MainWindow* m_window = nullptr;
};

void TestPlayback::initTestCase() {
  alsatest::installConfig();  // before the first ALSA call of the process
  QStandardPaths::setTestModeEnabled(true);
  QVERIFY(m_dir.isValid());
  m_tone44 = m_dir.path() + "/tone44.wav";
  m_tone48 = m_dir.path() + "/tone48.wav";
  QVERIFY(fixtures::write(m_tone44, toneWav(44100)));
  QVERIFY(fixtures::write(m_tone48, toneWav(48000)));
}

void TestPlayback::init() {
  MainWindow::setLibraryDirectory(QString());
  QFile::remove(settingsFilePath());
  m_window = new MainWindow;
  m_window->setNeverShowFirstInfo(true);
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window));
  if (!m_window->sonvex().sonvexert || !m_window->asioBridge().isUsable())
    QSKIP("libsonvex.so or libasiolink.so not built beside the tests");
}

void TestPlayback::cleanup() {
  delete m_window;
  m_window = nullptr;
}

void TestPlayback::choose(int driverType, const char* pcm) {
  auto* driver = child<QComboBox>("comboBox_driver");
  auto* devices = child<QComboBox>("comboBox_asioDev");
  MessageCatcher messages;  // the desktop's `default` is not in this configuration
  driver->setCurrentIndex(driverType);
  m_window->devices()->addTypedDevice(QLatin1String(pcm));
  const int index = devices->findText(QLatin1String(pcm));
  QVERIFY(index > 0);
  devices->setCurrentIndex(index);
  emit devices->activated(index);
}

void TestPlayback::playToTheEnd() {
  auto* play = child<QPushButton>("playButton");
  MessageCatcher messages;
  QTest::mouseClick(play, Qt::LeftButton);
  QVERIFY(play->isChecked());
  QTRY_VERIFY_WITH_TIMEOUT(!play->isChecked(), 6000);
  QVERIFY2(messages.count() == 0, qPrintable(messages.last()));
  // Ran to its end: the counter shows the end of the file.
  QCOMPARE(child<QLineEdit>("lineEditTime")->text(), QStringLiteral("00:00:01.00"));
  QTest::qWait(500);  // what was rendered last reaches the capture
}

void TestPlayback::playRateModel() {
  using namespace playrates;
  // A mask of codes without labels offers nothing: the row goes offline.
  QVERIFY(ratesFromMask(0xFF00).empty());
  QCOMPARE(ratesFromMask(0x10005), (std::vector<int>{44100, 88200, 2822400}));
  PlayRateModel m;
  m.setSupportedRates({44100, 88200});
  m.select("352.8kHz", 0);
  m.fit();
  QCOMPARE(m.rate().hz, 88200);
  QCOMPARE(m.rate().code, 2);
  m.setSupportedRates({48000});
  m.select("352.8kHz", 0);
  m.fit();
  QCOMPARE(m.rate().hz, 44100);  // the family's base, which this device lacks
  m.fitToOffered();
  QCOMPARE(m.rate().hz, 48000);
  // AUTO follows the file, "(offline)" changes nothing, DoP names plain DSD.
  m.select("AUTO", 96000);
  QVERIFY(m.autoRate());
  QCOMPARE(m.rate().hz, 96000);
  m.select("(offline)", 44100);
  QCOMPARE(m.rate().hz, 96000);
  m.select("5.6MHzDoP", 0);
  QCOMPARE(m.rate().code, 17);
  QVERIFY(!m.autoRate());
  m.followFile(44100);
  QCOMPARE(m.rate().hz, 5644800);
}

void TestPlayback::withoutSoundCard() {
  // No card and no direct device: the desktop's output is chosen at start,
  // and its `default` (undefined in this configuration) does not open.
  auto* devices = child<QComboBox>("comboBox_asioDev");
  auto* freq = child<QComboBox>("comboBox_asioFreq");
  QCOMPARE(child<QComboBox>("comboBox_driver")->currentText(), QStringLiteral("Desktop (shared)"));
  QCOMPARE(devices->itemText(0), QStringLiteral("(Select Device...)"));
  QCOMPARE(freq->currentText(), QStringLiteral("(offline)"));
  QVERIFY(child<QWidget>("pushAsioCont")->isHidden());
  {
    MessageCatcher messages;
    child<QComboBox>("comboBox_driver")->setCurrentIndex(0);
    QCOMPARE(devices->count(), 1);
    QCOMPARE(devices->itemText(0), QStringLiteral("(No Device)"));
    QCOMPARE(freq->currentText(), QStringLiteral("(offline)"));
    QCOMPARE(messages.count(), 0);
  }
  QVERIFY(m_window->openAudioFile(m_tone44));
  MessageCatcher messages;
  QTest::mouseClick(child<QPushButton>("playButton"), Qt::LeftButton);
  QCOMPARE(messages.last(),
           QStringLiteral("Audio Device Not Selected|Please select audio device."));
  child<QComboBox>("comboBox_driver")->setCurrentIndex(1);
  emit devices->activated(1);  // the user picks it: now the failure is told
  QCOMPARE(messages.last(), QStringLiteral("Select Device Failed|Failed to select this device."));
  QTest::mouseClick(child<QPushButton>("playButton"), Qt::LeftButton);
  QCOMPARE(messages.last(),
           QStringLiteral("Audio Device is Offline|Please connect active audio device."));
  QVERIFY(!child<QPushButton>("playButton")->isChecked());
}

void TestPlayback::resultMessages() {
  MessageCatcher messages;
  for (int silent : {0, -30, -254, -255})
    QMetaObject::invokeMethod(m_window, "allTransactionsDone", Q_ARG(int, silent));
  QCOMPARE(messages.count(), 0);
  QMetaObject::invokeMethod(m_window, "allTransactionsDone", Q_ARG(int, -6));
  QCOMPARE(messages.last(), QStringLiteral("Playback Failed|Unexpected failure.\n[Code = -6]"));
  QMetaObject::invokeMethod(m_window, "allTransactionsDone", Q_ARG(int, -14));
  QCOMPARE(messages.last(), QStringLiteral("Playback Failed|Read file failed.\n[Code = -14]"));
}

void TestPlayback::restoresTheSavedOutput() {
  // A typed PCM name saved last time is offered again and opened at the rate.
  delete m_window;
  AppSettings s = settingsDefaults();
  s.audioDevice = QStringLiteral("dac_s24");
  s.playFreq = QStringLiteral("44.1kHz");
  QVERIFY(saveSettingsFile(settingsFilePath(), s));
  m_window = new MainWindow;
  m_window->setNeverShowFirstInfo(true);
  QCOMPARE(child<QComboBox>("comboBox_driver")->currentIndex(), int(DeviceManager::kDirect));
  QCOMPARE(child<QComboBox>("comboBox_asioDev")->currentText(), QStringLiteral("dac_s24"));
  QCOMPARE(child<QComboBox>("comboBox_asioFreq")->currentText(), QStringLiteral("44.1kHz"));
  QCOMPARE(m_window->devices()->playRate(), 44100);
  QVERIFY(m_window->devices()->deviceOpen());
  delete m_window;
  m_window = nullptr;
  const AppSettings saved = loadSettingsFile(settingsFilePath());
  QCOMPARE(saved.audioDevice, QStringLiteral("dac_s24"));
  QCOMPARE(saved.playFreq, QStringLiteral("44.1kHz"));
}

void TestPlayback::playsThroughTheSharedOutput() {
  // float32 at 48 kHz: a 44.1 kHz file is resampled to the server's rate.
  choose(DeviceManager::kShared, "dac_float");
  QCOMPARE(child<QComboBox>("comboBox_asioFreq")->currentText(), QStringLiteral("48kHz"));
  QVERIFY(m_window->openAudioFile(m_tone44));
  playToTheEnd();

  const std::vector<uint8_t> raw = alsatest::readCapture("dac_float");
  std::vector<double> left;
  for (size_t i = 0; i + 8 <= raw.size(); i += 8) {
    float v;
    std::memcpy(&v, &raw[i], 4);
    left.push_back(v);
  }
  const Heard h = listen(left, 48000);
  QVERIFY2(std::fabs(h.peak - kToneLevel) < 0.01, qPrintable(QString::number(h.peak)));
  QVERIFY2(std::fabs(h.frequency - kToneHz) < 5, qPrintable(QString::number(h.frequency)));
  QVERIFY2(std::fabs(h.seconds - 1.0) < 0.02, qPrintable(QString::number(h.seconds)));
  QVERIFY2(h.longestHole < 3, qPrintable(QString::number(h.longestHole)));

  // A click in the view while playing stops there and locates.
  auto* play = child<QPushButton>("playButton");
  m_window->session().setPlayPosition(0);
  QTest::mouseClick(play, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(m_window->playPositionFrames() > 0, 3000);
  auto* view = child<trackGraphic>("widgetTrack1");
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() * 3 / 4, view->height() / 2));
  QVERIFY(!play->isChecked());
  QVERIFY(!m_window->session().isPlaying());
  const double at = m_window->playPositionFraction();
  QTest::qWait(300);
  QVERIFY2(std::fabs(at - 0.75) < 0.02, qPrintable(QString::number(at)));
  QCOMPARE(m_window->playPositionFraction(), at);  // nothing plays on
}

void TestPlayback::playsThroughTheDirectBridge() {
  // Packed 24-bit at 44.1 or 48 kHz, opened at the file's rate.
  choose(DeviceManager::kDirect, "dac_s24");
  auto* freq = child<QComboBox>("comboBox_asioFreq");
  QCOMPARE(freq->count(), 3);
  QCOMPARE(freq->currentText(), QStringLiteral("AUTO"));
  QVERIFY(m_window->openAudioFile(m_tone48));
  QCOMPARE(m_window->devices()->playRate(), 48000);
  QCOMPARE(freq->currentText(), QStringLiteral("AUTO"));

  playToTheEnd();
  const std::vector<int32_t> samples =
      alsatest::leftSamples(alsatest::readCapture("dac_s24"), 3, false, 8);
  std::vector<double> left;
  for (int32_t s : samples) left.push_back(s / 2147483648.0);
  const Heard h = listen(left, 48000);
  QVERIFY2(std::fabs(h.peak - kToneLevel) < 0.001, qPrintable(QString::number(h.peak)));
  QVERIFY2(std::fabs(h.frequency - kToneHz) < 5, qPrintable(QString::number(h.frequency)));
  QVERIFY2(std::fabs(h.seconds - 1.0) < 0.02, qPrintable(QString::number(h.seconds)));
  QVERIFY2(h.longestHole < 3, qPrintable(QString::number(h.longestHole)));

  // The row while playing, for the documentation.
  const QString shots = qEnvironmentVariable("LUMARA_SCREENSHOT_DIR");
  if (!shots.isEmpty()) {
    m_window->session().setPlayPosition(0);
    auto* play = child<QPushButton>("playButton");
    QTest::mouseClick(play, Qt::LeftButton);
    QTest::qWait(300);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    QVERIFY(m_window->grab(QRect(0, 0, 800, 64))
                .save(shots + "/device-row-playing-scale" + scale + ".png"));
    QTest::mouseClick(child<QPushButton>("stopButton"), Qt::LeftButton);
  }

  // The panel tells what the card plays.
  MessageCatcher messages;
  QMetaObject::invokeMethod(m_window, "on_pushAsioCont_clicked");
  QCOMPARE(messages.titles.value(0), QStringLiteral("Control Panel"));
  QVERIFY2(messages.texts.value(0).contains("S24_3LE"), qPrintable(messages.texts.value(0)));
}

// A FLAC of the tone plays as the WAV does, and the card gets its very samples.
void TestPlayback::playsFlacBitPerfect() {
  if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
  const QString flac = m_dir.path() + "/tone48.flac";
  QVERIFY(fixtures::flac(flac, toneWav(48000)));
  choose(DeviceManager::kDirect, "dac_s24");
  QVERIFY(m_window->openAudioFile(flac));
  QCOMPARE(m_window->devices()->playRate(), 48000);
  playToTheEnd();
  const std::vector<int32_t> heard =
      alsatest::leftSamples(alsatest::readCapture("dac_s24"), 3, false, 8);
  // Half a second in, past the start ramp: a tenth of a second equal to the
  // tone at some phase.
  size_t from = 0;
  while (from < heard.size() && heard[from] == 0) ++from;
  from += 24000;
  QVERIFY(from + 4800 <= heard.size());
  bool exact = false;
  for (uint32_t phase = 0; phase < 48 && !exact; ++phase) {
    exact = true;
    for (size_t i = 0; i < 4800 && exact; ++i)
      exact = heard[from + i] >> 8 == toneSample(uint32_t(phase + i), 48000);
  }
  QVERIFY(exact);
}

void TestPlayback::playsDsdNativeThroughTheDirectBridge() {
  choose(DeviceManager::kDirect, "dac_u32be");
  // One second of DSD64 whose bytes all differ from idle; DSF stores each
  // byte's oldest bit lowest, the card takes it highest.
  constexpr int kBytes = 2822400 / 8;
  QByteArray f = fixtures::dsf(2822400, 2, 2822400);
  auto source = [](int channel, int k) {
    return uint8_t(channel ? 0xA5 ^ (k % 199) : 3 + k % 241);
  };
  for (int k = 0; k < kBytes; ++k)
    for (int c = 0; c < 2; ++c)
      f[92 + (k / 4096) * 8192 + c * 4096 + k % 4096] = char(source(c, k));
  const QString path = m_dir.path() + "/pattern.dsf";
  QVERIFY(fixtures::write(path, f));
  QVERIFY(m_window->openAudioFile(path));
  QCOMPARE(m_window->devices()->playRate(), 2822400);
  playToTheEnd();

  const std::vector<uint8_t> cap = alsatest::readCapture("dac_u32be");
  for (int c = 0; c < 2; ++c) {
    std::vector<uint8_t> heard, expected;
    for (size_t w = size_t(c) * 4; w + 4 <= cap.size(); w += 8)
      heard.insert(heard.end(), &cap[w], &cap[w + 4]);
    for (int k = 0; k < kBytes; ++k) {
      uint8_t b = source(c, k), r = 0;
      for (int i = 0; i < 8; ++i) r = uint8_t(r | (((b >> i) & 1) << (7 - i)));
      expected.push_back(r);
    }
    // After the fade-in the source goes out untouched, to its last bytes.
    const size_t to = kBytes - 8;
    QCOMPARE(testsupport::dsdCarriedUpTo(heard, expected, kBytes * 4 / 10, to), to);
  }
}

void TestPlayback::oscillatorSoundsOnTheOpenDevice() {
  choose(DeviceManager::kDirect, "dac_s24");
  QVERIFY(m_window->openAudioFile(m_tone48));
  QMetaObject::invokeMethod(m_window, "oscFreqChanged", Q_ARG(int, 3000));
  QMetaObject::invokeMethod(m_window, "oscLevelChanged", Q_ARG(int, -6));
  QMetaObject::invokeMethod(m_window, "oscIndicatorChanged", Q_ARG(int, 1));
  QTest::qWait(600);
  QMetaObject::invokeMethod(m_window, "oscIndicatorChanged", Q_ARG(int, 0));
  QTest::qWait(300);
  std::vector<double> left;
  for (int32_t s : alsatest::leftSamples(alsatest::readCapture("dac_s24"), 3, false, 8))
    left.push_back(s / 2147483648.0);
  const Heard h = listen(left, 48000);
  QVERIFY2(std::fabs(h.peak - std::pow(10.0, -6.0 / 20.0)) < 0.001,
           qPrintable(QString::number(h.peak)));
  QVERIFY2(std::fabs(h.frequency - 3000) < 5, qPrintable(QString::number(h.frequency)));
  QVERIFY2(h.seconds > 0.4, qPrintable(QString::number(h.seconds)));
  QVERIFY2(h.longestHole < 3, qPrintable(QString::number(h.longestHole)));
}

void TestPlayback::deviceThatVanishesGoesOffline() {
  MessageCatcher messages;
  choose(DeviceManager::kDirect, "dac_gone");
  QVERIFY(m_window->devices()->deviceOpen());
  QTRY_COMPARE_WITH_TIMEOUT(messages.last(),
                            QStringLiteral("Audio Device is Offline|Selected audio device goes "
                                           "offline."),
                            4000);
  QCOMPARE(child<QComboBox>("comboBox_asioFreq")->currentText(), QStringLiteral("(offline)"));
  QVERIFY(!m_window->devices()->deviceOpen());
}

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
