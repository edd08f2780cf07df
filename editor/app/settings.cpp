#include "settings.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QStandardPaths>
#include <QTextStream>
#include <algorithm>

#include "eqsettings.h"

namespace {

const char* const kFileName = "lumaraEditor.txt";

// Tested in this order; the first key whose text is a prefix of the line wins.
enum Key {
  kMonitorVolume,
  kAudioDriver,
  kAudioDevice,
  kPlayFreq,
  kEq1,
  kEq2,
  kEq3,
  kEq4,
  kEqAll,
  kPostFader,
  kNeverShowFirstInfo,
  kBounceFormat,
  kBounceFreq,
  kBounceBit,
  kApplyShortFade,
  kOverHoldTime,
  kOscillatorMode,
  kDsdGain,
  kDither,
  kExportModulator,
  kPlaybackModulator,
  kFlacLevel,
  kKeyCount
};

const char* const kKeys[kKeyCount] = {"//Monitor Volume",
                                      "//Audio Driver",
                                      "//Audio Device",
                                      "//Play Freq",
                                      "//EQ1",
                                      "//EQ2",
                                      "//EQ3",
                                      "//EQ4",
                                      "//EQALL",
                                      "//Post Fader",
                                      "//NeverShowFirstInfo",
                                      "//BounceFormat",
                                      "//BounceFreq",
                                      "//BounceBit",
                                      "//ApplyShortFade",
                                      "//OverHoldTime",
                                      "//OscillatorMode",
                                      "//DsdToPcmGain",
                                      "//Dither",
                                      "//ExportModulator",
                                      "//PlaybackModulator",
                                      "//FlacLevel"};

AppSettings makeDefaults() {
  AppSettings s;
  const double freqs[4] = {100.0, 1000.0, 2000.0, 5000.0};
  for (int i = 0; i < 4; ++i) s.eq[i] = EqBandSetting{false, freqs[i], 0.9, 0.0, 0};
  return s;
}

// Value lines keep their line end; conversions look at the trimmed text, and
// text that is not a number reads as 0. Past the end of the file a value line
// is empty.
class ValueReader {
 public:
  explicit ValueReader(QIODevice& in) : in_(in) {}
  QString line() { return QString::fromUtf8(in_.readLine()); }
  bool startsWithTrue() { return line().startsWith(QLatin1String("true")); }
  double number() { return line().trimmed().toDouble(); }
  int integer() { return line().trimmed().toInt(); }

 private:
  QIODevice& in_;
};

QString text(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
QString text(double d) { return QString::number(d, 'g', 6); }

}  // namespace

const AppSettings& settingsDefaults() {
  static const AppSettings defaults = makeDefaults();
  return defaults;
}

void parseSettings(QIODevice& in, AppSettings& s) {
  ValueReader v(in);
  bool volumeSeen = false;
  while (!in.atEnd()) {
    const QString line = v.line();
    int key = 0;
    while (key < kKeyCount && !line.startsWith(QLatin1String(kKeys[key]))) ++key;
    switch (key) {
      case kMonitorVolume:
        s.monitorVolumeDb = v.number();
        volumeSeen = true;
        break;
      case kAudioDriver:
        s.driverType = v.line().startsWith(QLatin1String("WASA")) ? 1 : 0;
        break;
      case kAudioDevice:
        s.audioDevice = v.line().simplified();
        break;
      case kPlayFreq:
        s.playFreq = v.line().simplified();
        break;
      case kEq1:
      case kEq2:
      case kEq3:
      case kEq4: {
        EqBandSetting& b = s.eq[key - kEq1];
        b.on = v.startsWithTrue();
        b.frequency = v.number();
        b.q = v.number();
        b.gainDb = v.number();
        b.type = v.integer();
        break;
      }
      case kEqAll:
        v.line();  // the saved switch: the EQ always starts off
        s.eqMaster = false;
        s.eqTotalGainDb = v.number();
        break;
      case kPostFader:
        s.postFader = v.startsWithTrue();
        break;
      case kNeverShowFirstInfo:
        s.neverShowFirstInfo = v.startsWithTrue();
        break;
      case kBounceFormat:
        s.bounceFormat = v.integer();
        break;
      case kBounceFreq:
        s.bounceFreq = v.integer();
        break;
      case kBounceBit:
        s.bounceBit = v.integer();
        break;
      case kApplyShortFade:
        s.applyShortFade = v.startsWithTrue();
        break;
      case kOverHoldTime:
        s.overHolds2sec = v.integer() >= 0;
        break;
      case kOscillatorMode:
        s.oscillatorMode = v.startsWithTrue();
        break;
      case kDither:
        s.dither = v.startsWithTrue();
        break;
      case kExportModulator:
        s.precisionExport = v.line().startsWith(QLatin1String("precision"));
        break;
      case kPlaybackModulator:
        s.precisionPlayback = v.line().startsWith(QLatin1String("precision"));
        break;
      case kFlacLevel:
        s.flacLevel = std::clamp(v.integer(), 0, 8);
        break;
      case kDsdGain: {
        const int db = v.integer();
        s.dsdGainDb = db == -3 || db == -6 ? db : 0;
        break;
      }
      default:
        break;  // unknown line
    }
  }
  if (!volumeSeen) s.monitorVolumeDb = settingsDefaults().monitorVolumeDb;
}

QByteArray formatSettings(const AppSettings& s) {
  QString out;
  QTextStream t(&out);
  auto entry = [&t](int key) { t << kKeys[key] << '\n'; };
  auto value = [&t](const QString& v) { t << v << '\n'; };
  entry(kMonitorVolume);
  value(text(s.monitorVolumeDb));
  entry(kAudioDriver);
  value(s.driverType == 1 ? QStringLiteral("WASAPI") : QStringLiteral("ASIO"));
  entry(kAudioDevice);
  value(s.audioDevice);
  entry(kPlayFreq);
  value(s.playFreq);
  for (int i = 0; i < 4; ++i) {
    entry(kEq1 + i);
    value(text(s.eq[i].on));
    value(text(s.eq[i].frequency));
    value(text(s.eq[i].q));
    value(text(s.eq[i].gainDb));
    value(QString::number(s.eq[i].type));
  }
  entry(kEqAll);
  value(text(s.eqMaster));
  value(text(s.eqTotalGainDb));
  entry(kPostFader);
  value(text(s.postFader));
  entry(kNeverShowFirstInfo);
  value(text(s.neverShowFirstInfo));
  entry(kBounceFormat);
  value(QString::number(s.bounceFormat));
  entry(kBounceFreq);
  value(QString::number(s.bounceFreq));
  entry(kBounceBit);
  value(QString::number(s.bounceBit));
  entry(kApplyShortFade);
  value(text(s.applyShortFade));
  entry(kOverHoldTime);
  value(s.overHolds2sec ? QStringLiteral("2000") : QStringLiteral("-1"));
  entry(kOscillatorMode);
  value(text(s.oscillatorMode));
  entry(kDsdGain);
  value(QString::number(s.dsdGainDb));
  entry(kDither);
  value(text(s.dither));
  auto loop = [](bool precision) {
    return precision ? QStringLiteral("precision") : QStringLiteral("standard");
  };
  entry(kExportModulator);
  value(loop(s.precisionExport));
  entry(kPlaybackModulator);
  value(loop(s.precisionPlayback));
  entry(kFlacLevel);
  value(QString::number(s.flacLevel));
  t.flush();
  return out.toUtf8();
}

AppSettings loadSettingsFile(const QString& path) {
  AppSettings s = settingsDefaults();
  QFile f(path);
  if (f.open(QIODevice::ReadOnly)) parseSettings(f, s);
  return s;
}

bool saveSettingsFile(const QString& path, const AppSettings& s) {
  QFile::remove(path);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = formatSettings(s);
  return f.write(bytes) == bytes.size();
}

QString settingsFilePathFor(const QString& dataLocation) {
  QString dir = dataLocation + QLatin1Char('/');
  dir.replace(QLatin1String("Local/Orbelo/"), QLatin1String("Roaming/MALVEC/"));
  QDir().mkpath(dir);
  return dir + QLatin1String(kFileName);
}

QString settingsFilePath() {
  return settingsFilePathFor(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
}

void applyEqSettings(const AppSettings& s, EqSettings* eqs, double sampleRate) {
  for (int n = 0; n < eq::kBandCount; ++n) {
    const EqBandSetting& b = s.eq[n];
    EqBand* band = &eqs->band[eq::recordOfRow(n)];
    band->on = b.on ? 1 : 0;
    band->type = b.type;
    setParameters(band, b.gainDb, b.frequency, b.q, sampleRate, b.type);
  }
  setTotalGainDb(eqs, s.eqTotalGainDb);
  if (eqs->masterOn) *eqs->masterOn = 0;
}

void captureEqSettings(const EqSettings* eqs, AppSettings& s) {
  for (int n = 0; n < eq::kBandCount; ++n) {
    const EqBand& band = eqs->band[eq::recordOfRow(n)];
    s.eq[n] = EqBandSetting{band.on == 1, band.frequency, band.q, band.gainDb, band.type};
  }
  s.eqMaster = eqs->masterOn && *eqs->masterOn == 1;
  s.eqTotalGainDb = eqs->totalGainDb;
}
