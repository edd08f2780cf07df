// The settings file: defaults, strict positional parsing, formatting, path.
#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

#include "eqsettings.h"
#include "settings.h"

namespace {

AppSettings parse(const QByteArray& text) {
  AppSettings s = settingsDefaults();
  QBuffer buf;
  buf.setData(text);
  buf.open(QIODevice::ReadOnly);
  parseSettings(buf, s);
  return s;
}

QStringList keyLines(const QByteArray& text) {
  QStringList keys;
  for (const QString& line : QString::fromUtf8(text).split('\n'))
    if (line.startsWith("//")) keys << line;
  return keys;
}

const char* const kDefaultFile =
    "//Monitor Volume\n0\n"
    "//Audio Driver\nASIO\n"
    "//Audio Device\n\n"
    "//Play Freq\n\n"
    "//EQ1\nfalse\n100\n0.9\n0\n0\n"
    "//EQ2\nfalse\n1000\n0.9\n0\n0\n"
    "//EQ3\nfalse\n2000\n0.9\n0\n0\n"
    "//EQ4\nfalse\n5000\n0.9\n0\n0\n"
    "//EQALL\nfalse\n0\n"
    "//Post Fader\nfalse\n"
    "//NeverShowFirstInfo\nfalse\n"
    "//BounceFormat\n0\n"
    "//BounceFreq\n1\n"
    "//BounceBit\n1\n"
    "//ApplyShortFade\ntrue\n"
    "//OverHoldTime\n2000\n"
    "//OscillatorMode\nfalse\n"
    "//DsdToPcmGain\n0\n"
    "//Dither\nfalse\n"
    "//ExportModulator\nstandard\n"
    "//PlaybackModulator\nstandard\n"
    "//FlacLevel\n5\n";

}  // namespace

class TestSettings : public QObject {
  Q_OBJECT

 private slots:
  void emptyFileGivesDefaultsAndSavesAllEntries() {
    QTemporaryDir dir;
    const QString path = dir.filePath("lumaraEditor.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const AppSettings s = loadSettingsFile(path);
    QCOMPARE(formatSettings(s), QByteArray(kDefaultFile));
    QVERIFY(saveSettingsFile(path, s));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    QCOMPARE(written, QByteArray(kDefaultFile));
    QCOMPARE(keyLines(written).size(), 22);
    QVERIFY(!written.contains('\r'));
  }

  void missingFileGivesDefaults() {
    QTemporaryDir dir;
    const AppSettings s = loadSettingsFile(dir.filePath("absent.txt"));
    QCOMPARE(formatSettings(s), QByteArray(kDefaultFile));
  }

  void roundTrip() {
    AppSettings s = settingsDefaults();
    s.monitorVolumeDb = -3.7;
    s.driverType = 1;
    s.audioDevice = QString::fromUtf8("Studio Interface \xc3\xa9");
    s.playFreq = "96kHz";
    s.eq[0] = EqBandSetting{true, 63.5, 0.707, -4.25, 1};
    s.eq[3] = EqBandSetting{true, 12000.0, 2.0, 1e-05, 0};
    s.eqTotalGainDb = -1.5;
    s.postFader = true;
    s.neverShowFirstInfo = true;
    s.bounceFormat = 2;
    s.bounceFreq = 0;
    s.bounceBit = 0;
    s.applyShortFade = false;
    s.overHolds2sec = false;
    s.oscillatorMode = true;
    s.dsdGainDb = -6;
    s.dither = true;
    s.precisionPlayback = true;
    s.flacLevel = 8;
    QTemporaryDir dir;
    const QString path = dir.filePath("lumaraEditor.txt");
    QVERIFY(saveSettingsFile(path, s));
    const AppSettings r = loadSettingsFile(path);
    QCOMPARE(formatSettings(r), formatSettings(s));
    QCOMPARE(r.audioDevice, s.audioDevice);
    QCOMPARE(r.dsdGainDb, -6);
    QVERIFY(r.dither);
    QVERIFY(r.precisionPlayback && !r.precisionExport);
    QCOMPARE(r.flacLevel, 8);
    QCOMPARE(r.eq[3].gainDb, 1e-05);
    QVERIFY(formatSettings(s).contains("\n1e-05\n"));
    QVERIFY(formatSettings(s).contains("//OverHoldTime\n-1\n"));
  }

  void numbersUseTheCLocaleAndSixDigits() {
    QLocale::setDefault(QLocale(QLocale::German));
    AppSettings s = settingsDefaults();
    s.monitorVolumeDb = -12.3456789;
    s.eq[1].frequency = 123456789.0;
    const QByteArray text = formatSettings(s);
    QVERIFY(text.startsWith("//Monitor Volume\n-12.3457\n"));
    QVERIFY(text.contains("//EQ2\nfalse\n1.23457e+08\n0.9\n"));
    QCOMPARE(parse("//Monitor Volume\n -2.5 \n").monitorVolumeDb, -2.5);
    QLocale::setDefault(QLocale::c());
  }

  void flacLevelStaysInItsRange() {
    QCOMPARE(parse("//FlacLevel\n 3 \n").flacLevel, 3);
    QCOMPARE(parse("//FlacLevel\n12\n").flacLevel, 8);
    QCOMPARE(parse("//FlacLevel\n-1\n").flacLevel, 0);
    QCOMPARE(parse("//BounceBit\n0\n").flacLevel, 5);
  }

  void eqAllNeverStartsTheEqOn() {
    const AppSettings s = parse("//EQALL\ntrue\n4.5\n");
    QCOMPARE(s.eqMaster, false);
    QCOMPARE(s.eqTotalGainDb, 4.5);
  }

  void driverNeedsCapitalWasa_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("driver");
    QTest::newRow("WASAPI") << QByteArray("WASAPI") << 1;
    QTest::newRow("WASA prefix") << QByteArray("WASAnything") << 1;
    QTest::newRow("lower case") << QByteArray("wasapi") << 0;
    QTest::newRow("ASIO") << QByteArray("ASIO") << 0;
    QTest::newRow("leading blank") << QByteArray(" WASAPI") << 0;
  }
  void driverNeedsCapitalWasa() {
    QFETCH(QByteArray, value);
    QFETCH(int, driver);
    AppSettings start = settingsDefaults();
    start.driverType = 1 - driver;
    QBuffer buf;
    buf.setData("//Audio Driver\n" + value + "\n");
    buf.open(QIODevice::ReadOnly);
    parseSettings(buf, start);
    QCOMPARE(start.driverType, driver);
  }

  void overHoldTimeSavesBackAsTwoSeconds_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("0") << QByteArray("0") << QByteArray("2000");
    QTest::newRow("5000") << QByteArray("5000") << QByteArray("2000");
    QTest::newRow("-1") << QByteArray("-1") << QByteArray("-1");
    QTest::newRow("-7") << QByteArray("-7") << QByteArray("-1");
    QTest::newRow("not a number") << QByteArray("abc") << QByteArray("2000");
  }
  void overHoldTimeSavesBackAsTwoSeconds() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, saved);
    const AppSettings s = parse("//OverHoldTime\n" + value + "\n");
    QVERIFY(formatSettings(s).contains("//OverHoldTime\n" + saved + "\n"));
  }

  void keysInAnyOrderLastWins() {
    const AppSettings s = parse(
        "//BounceBit\n2\n"
        "//Play Freq\n  192kHz \n"
        "some stray line\n"
        "//BounceBit\n0\n"
        "//Audio Device\n  My   Device  \n"
        "//EQ3\ntrue\n2500\n1.1\n-3\n1\n"
        "//EQ3\ntrueish\n2600\n1.2\n-2\n0\n");
    QCOMPARE(s.bounceBit, 0);
    QCOMPARE(s.playFreq, QString("192kHz"));
    QCOMPARE(s.audioDevice, QString("My Device"));
    QCOMPARE(s.eq[2].on, true);  // a prefix test: "trueish" counts
    QCOMPARE(s.eq[2].frequency, 2600.0);
    QCOMPARE(s.eq[2].q, 1.2);
    QCOMPARE(s.eq[2].gainDb, -2.0);
    QCOMPARE(s.eq[2].type, 0);
    QCOMPARE(s.eq[0].frequency, 100.0);  // untouched bands keep their defaults
  }

  void tooFewValueLinesConsumeTheNextKeys() {
    // BounceFormat takes "//BounceFreq" as its value (not a number: 0); the
    // "2" that was meant for BounceFreq is then an unknown line.
    const AppSettings s = parse(
        "//BounceFormat\n//BounceFreq\n2\n"
        "//EQ1\ntrue\n250\n//ApplyShortFade\nfalse\n");
    QCOMPARE(s.bounceFormat, 0);
    QCOMPARE(s.bounceFreq, 1);
    QCOMPARE(s.eq[0].on, true);
    QCOMPARE(s.eq[0].frequency, 250.0);
    QCOMPARE(s.eq[0].q, 0.0);       // "//ApplyShortFade" read as a number
    QCOMPARE(s.eq[0].gainDb, 0.0);  // "false" read as a number
    QCOMPARE(s.applyShortFade, true);
  }

  void truncatedFileStopsAtItsEnd() {
    const AppSettings s = parse("//Monitor Volume\n-6\n//EQ2\ntrue\n440");
    QCOMPARE(s.monitorVolumeDb, -6.0);
    QCOMPARE(s.eq[1].on, true);
    QCOMPARE(s.eq[1].frequency, 440.0);
    QCOMPARE(s.eq[1].q, 0.0);
  }

  void pathRule() {
    QTemporaryDir dir;
    const QString windowsLike = dir.path() + "/AppData/Local/Orbelo";
    QCOMPARE(settingsFilePathFor(windowsLike),
             dir.path() + "/AppData/Roaming/MALVEC/lumaraEditor.txt");
    QVERIFY(QDir(dir.path() + "/AppData/Roaming/MALVEC").exists());
    const QString plain = dir.path() + "/share/LumaraEditor";
    QCOMPARE(settingsFilePathFor(plain), plain + "/lumaraEditor.txt");
    QVERIFY(QDir(plain).exists());
    QVERIFY(settingsFilePath().endsWith("/lumaraEditor.txt"));
  }

  void unwritableFileIsSilentlySkipped() {
    QTemporaryDir dir;
    QVERIFY(!saveSettingsFile(dir.filePath("no/such/dir/lumaraEditor.txt"), settingsDefaults()));
  }

  void eqBandsAreStoredInReverse() {
    EqSettingsBlock block;
    unsigned char master = 1;
    block.attachMasterSwitch(&master);
    AppSettings s = settingsDefaults();
    s.eq[0] = EqBandSetting{true, 80.0, 0.7, 6.0, 1};
    s.eq[3] = EqBandSetting{false, 9000.0, 3.0, -2.0, 0};
    s.eqTotalGainDb = -6.0;
    applyEqSettings(s, block.get(), 48000.0);
    const EqSettings* e = block.get();
    QCOMPARE(e->band[3].on, 1);
    QCOMPARE(e->band[3].frequency, 80.0);
    QCOMPARE(e->band[3].type, 1);
    QCOMPARE(e->band[0].frequency, 9000.0);
    QCOMPARE(e->band[0].gainDb, -2.0);
    QVERIFY(std::fabs(magnitudeDb(&e->band[3], 48000.0, 0.0) - 6.0) < 1e-9);  // shelf applied
    QVERIFY(std::fabs(e->totalGain - 0.501187233627) < 1e-9);
    QCOMPARE(int(master), 0);  // the EQ always starts off
    master = 1;
    AppSettings back = settingsDefaults();
    captureEqSettings(e, back);
    QCOMPARE(back.eq[0].frequency, 80.0);
    QCOMPARE(back.eq[3].q, 3.0);
    QCOMPARE(back.eqMaster, true);
    QCOMPARE(back.eqTotalGainDb, -6.0);
  }
};

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
