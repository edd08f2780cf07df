// The export dialog: its choices and plan (without files), its message boxes
// under a display, and exports driven through the dialog end to end.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "audiofixtures.h"
#include "dialogedit.h"
#include "eqsettings.h"
#include "lmeprogressdialog.h"
#include "mainwindow.h"
#include "session.h"
#include "settings.h"
#include "smalldisk.h"
#include "testdata.h"

namespace {

constexpr double kPi = 3.141592653589793;

// ---- files written and read by the test itself -----------------------------

void putLe(QByteArray& b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}
void putBe(QByteArray& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.append(char((v >> (8 * i)) & 0xFF));
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// 16-bit stereo WAV; sample(ch, n) in -1..1.
bool writeWav16(const QString& path, uint32_t rate, int64_t frames,
                const std::function<double(int, int64_t)>& sample) {
  QByteArray b;
  const uint64_t dataBytes = uint64_t(frames) * 4;
  b.append("RIFF");
  putLe(b, 36 + dataBytes, 4);
  b.append("WAVEfmt ");
  putLe(b, 16, 4);
  putLe(b, 1, 2);
  putLe(b, 2, 2);
  putLe(b, rate, 4);
  putLe(b, rate * 4, 4);
  putLe(b, 4, 2);
  putLe(b, 16, 2);
  b.append("data");
  putLe(b, dataBytes, 4);
  b.reserve(int(b.size() + dataBytes));
  for (int64_t n = 0; n < frames; ++n)
    for (int ch = 0; ch < 2; ++ch)
      putLe(b, uint16_t(int16_t(std::lround(sample(ch, n) * 32767.0))), 2);
  return writeFile(path, b);
}

// One byte array per channel, first sample in the most significant bit:
// a second-order delta-sigma of x(ch, n), stable for |x| < 0.5.
std::vector<QByteArray> modulate(int64_t samples, const std::function<double(int, int64_t)>& x) {
  std::vector<QByteArray> out(2, QByteArray(int(samples / 8), 0));
  for (int ch = 0; ch < 2; ++ch) {
    double i1 = 0.0, i2 = 0.0, y = 0.0;
    for (int64_t n = 0; n < samples; ++n) {
      i1 += x(ch, n) - y;
      i2 += i1 - y;
      y = i2 >= 0.0 ? 1.0 : -1.0;
      if (y > 0) out[ch][int(n / 8)] = char(out[ch][int(n / 8)] | (0x80 >> (n % 8)));
    }
  }
  return out;
}

uint8_t reverseBits(uint8_t v) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = uint8_t(r | (((v >> i) & 1) << (7 - i)));
  return r;
}

bool writeDsf(const QString& path, uint32_t rate, const std::vector<QByteArray>& ch) {
  const uint64_t bytesPerChannel = uint64_t(ch[0].size());
  const uint64_t blocks = (bytesPerChannel + 4095) / 4096;
  const uint64_t payload = blocks * 4096 * 2;
  QByteArray b;
  b.append("DSD ");
  putLe(b, 28, 8);
  putLe(b, 28 + 52 + 12 + payload, 8);
  putLe(b, 0, 8);
  b.append("fmt ");
  putLe(b, 52, 8);
  putLe(b, 1, 4);  // version
  putLe(b, 0, 4);  // DSD raw
  putLe(b, 2, 4);  // stereo
  putLe(b, 2, 4);
  putLe(b, rate, 4);
  putLe(b, 1, 4);
  putLe(b, bytesPerChannel * 8, 8);
  putLe(b, 4096, 4);
  putLe(b, 0, 4);
  b.append("data");
  putLe(b, 12 + payload, 8);
  for (uint64_t k = 0; k < blocks; ++k)
    for (int c = 0; c < 2; ++c)
      for (uint64_t i = 0; i < 4096; ++i) {
        const uint64_t at = k * 4096 + i;
        b.append(char(at < bytesPerChannel ? reverseBits(uint8_t(ch[c][int(at)])) : 0));
      }
  return writeFile(path, b);
}

bool writeDff(const QString& path, uint32_t rate, const std::vector<QByteArray>& ch) {
  const uint64_t audio = uint64_t(ch[0].size()) * 2;
  QByteArray prop;
  prop.append("SND ");
  prop.append("FS  ");
  putBe(prop, 4, 8);
  putBe(prop, rate, 4);
  prop.append("CHNL");
  putBe(prop, 10, 8);
  putBe(prop, 2, 2);
  prop.append("SLFTSRGT");
  prop.append("CMPR");
  putBe(prop, 19, 8);
  prop.append("DSD ");
  prop.append(char(14));
  prop.append("not compressed");
  prop.append(char(0));  // pad byte
  QByteArray body;
  body.append("FVER");
  putBe(body, 4, 8);
  putBe(body, 0x01050000, 4);
  body.append("PROP");
  putBe(body, uint64_t(prop.size()), 8);
  body.append(prop);
  body.append("DSD ");
  putBe(body, audio, 8);
  for (int i = 0; i < ch[0].size(); ++i) {
    body.append(ch[0][i]);
    body.append(ch[1][i]);
  }
  QByteArray b("FRM8");
  putBe(b, 4 + uint64_t(body.size()), 8);
  b.append("DSD ");
  b.append(body);
  return writeFile(path, b);
}

struct Decoded {
  AudioFileInfo info{};
  int32_t rc = -1;
  QByteArray audio;  // the data chunk's bytes
};

Decoded readBack(const QString& path) {
  Decoded d;
  QLibrary lib(sonvexLibraryPath());
  auto probe =
      reinterpret_cast<decltype(&getAudioFileInformation)>(lib.resolve("getAudioFileInformation"));
  if (!probe) return d;
  const std::u16string p = path.toStdU16String();
  d.rc = probe(p.c_str(), &d.info);
  if (d.rc < 0) return d;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || !f.seek(d.info.dataOffset)) return d;
  const uint64_t bytes = (uint64_t(d.info.dataBytesHigh) << 32) | d.info.dataBytesLow;
  // DSF keeps whole 4096-byte blocks per channel: the last ones run past the
  // audio byte count.
  const uint64_t perChannel = d.info.channels ? bytes / d.info.channels : 0;
  const uint64_t stored =
      d.info.fileType == kFileTypeDsf ? (perChannel + 4095) / 4096 * 4096 * d.info.channels : bytes;
  d.audio = f.read(qint64(stored));
  return d;
}

// PCM frames of a 16/24-bit stereo data chunk, channel ch, as -1..1.
std::vector<double> pcmChannel(const Decoded& d, int ch) {
  const int bytes = int(d.info.bitsPerSample / 8);
  const int frameBytes = bytes * 2;
  std::vector<double> v(size_t(d.audio.size() / frameBytes));
  const auto* a = reinterpret_cast<const uint8_t*>(d.audio.constData());
  for (size_t n = 0; n < v.size(); ++n) {
    const uint8_t* s = a + n * frameBytes + ch * bytes;
    int32_t x = 0;
    for (int i = 0; i < bytes; ++i) x |= int32_t(s[i]) << (8 * (4 - bytes + i));
    v[n] = double(x) / 2147483648.0;
  }
  return v;
}

// DSF channel bytes (MSB first) from its 4096-byte interleaved blocks.
QByteArray dsfChannel(const Decoded& d, int ch, int64_t samples) {
  QByteArray out;
  const int64_t bytes = samples / 8;
  for (int64_t i = 0; i < bytes; ++i) {
    const int64_t block = i / 4096, at = i % 4096;
    out.append(char(reverseBits(uint8_t(d.audio[int(block * 8192 + ch * 4096 + at)]))));
  }
  return out;
}

// Amplitude of frequency f in x[from, from + count) (Goertzel, rectangular).
double toneAmplitude(const std::vector<double>& x, size_t from, size_t count, double f,
                     double rate) {
  double re = 0.0, im = 0.0;
  for (size_t n = 0; n < count; ++n) {
    const double w = 2 * kPi * f * double(n) / rate;
    re += x[from + n] * std::cos(w);
    im -= x[from + n] * std::sin(w);
  }
  return 2.0 * std::hypot(re, im) / double(count);
}

// One-bit stream to a PCM level (4 * bit - 2 scale), averaged over 64 samples.
std::vector<double> decimateDsd(const QByteArray& bytes) {
  std::vector<double> out(size_t(bytes.size() / 8));
  for (size_t k = 0; k < out.size(); ++k) {
    int ones = 0;
    for (int i = 0; i < 8; ++i) ones += __builtin_popcount(uint8_t(bytes[int(k * 8 + i)]));
    out[k] = (4.0 * ones / 64.0) - 2.0;
  }
  return out;
}

// ---- modal message boxes ---------------------------------------------------

// Answers the next QMessageBox with `button` and keeps its title and text.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start();
  }
  bool seen = false;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;

 private:
  void poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible()) continue;
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      seen = true;
      timer_.stop();
      QAbstractButton* b = box->button(button_);
      if (!b) b = box->buttons().value(0);
      b->click();
      return;
    }
  }
  QMessageBox::StandardButton button_;
  QTimer timer_;
};

template <typename T>
T* child(QObject& parent, const char* name) {
  return parent.findChild<T*>(QLatin1String(name));
}

bool libraryHasConversion() {
  QLibrary lib(sonvexLibraryPath());
  return lib.resolve("sonvexert") && lib.resolve("getAudioFileInformation");
}

}  // namespace

class TestDialogEdit : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp;

  // Opens `source` in a fresh dialog, picks the choices, runs EXPORT and
  // returns the result box's text.
  struct Run {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString output;
    bool dialogHidden = false;
  };
  Run exportThroughDialog(const QString& source, int format, int rate, int bits, bool fade,
                          const QString& name, int timeoutMs = 120000, int dsdGainDb = 0,
                          bool dither = false, bool precision = false, int flacLevel = 5) {
    DialogEdit dialog;
    QObject::connect(&dialog, &DialogEdit::convertExecute, &dialog, [&] { dialog.startJob(1); });
    Decoded src = readBack(source);
    dialog.setSource(source, int(src.info.channels), "STEREO", "", "", "");
    dialog.setFolder(tmp.path());
    dialog.setEditRange(exportplan::wholeFile(describeSource(src.info).totalFrames));
    dialog.restoreChoices(format, rate, bits, fade);
    dialog.setDsdGainDb(dsdGainDb);
    dialog.setDitherChecked(dither);
    dialog.setPrecisionModulator(precision);
    dialog.setFlacLevel(flacLevel);
    child<QLineEdit>(dialog, "lineEditFileName")->setText(name);
    dialog.show();
    Run r;
    r.output = dialog.destinationPath();
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(dialog, "pushBounce")->click();
    if (!QTest::qWaitFor([&] { return box.seen; }, timeoutMs)) return r;
    r.text = box.text;
    r.icon = box.icon;
    r.dialogHidden = !dialog.isVisible();
    return r;
  }

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

  // ---- the plan, without a display ----

  void baseNames() {
    QCOMPARE(exportplan::baseNameOf("live.2016.wav"), QString("live2016"));
    QCOMPARE(exportplan::baseNameOf("/music/my.take.wav"), QString("mytake"));
    QCOMPARE(exportplan::baseNameOf("/a.b/plain.dsf"), QString("plain"));
    QCOMPARE(exportplan::baseNameOf("noext"), QString(""));
  }

  void choiceTables() {
    QCOMPARE(exportplan::formatForIndex(1).fileType, int(kFileTypeDsdiff));
    QCOMPARE(exportplan::formatForIndex(2).fileType, int(kFileTypeDsf));
    QCOMPARE(exportplan::formatForIndex(-1).fileType, int(kFileTypeWav));
    QCOMPARE(exportplan::formatForIndex(3).fileType, int(kFileTypeFlac));
    QCOMPARE(exportplan::formatForIndex(4).fileType, int(kFileTypeWav));
    // FLAC: every PCM rate, integer samples only.
    QCOMPARE(exportplan::ratesFor(kFileTypeFlac).size(), exportplan::ratesFor(kFileTypeWav).size());
    QCOMPARE(exportplan::bitsFor(kFileTypeFlac).back().bits, 24);
    QCOMPARE(int(exportplan::ratesFor(kFileTypeWav).size()), 8);
    QCOMPARE(int(exportplan::ratesFor(kFileTypeDsf).size()), 3);
    for (const auto& r : exportplan::ratesFor(kFileTypeWav))
      QCOMPARE(sonvexRateForCode(r.code), r.hz);  // the library's table agrees
    for (const auto& r : exportplan::ratesFor(kFileTypeDsdiff))
      QCOMPARE(sonvexRateForCode(r.code), r.hz);
    QCOMPARE(exportplan::rateForText("176.4kHz").hz, 176400u);
    QCOMPARE(QString(exportplan::rateForText("11.2MHz").suffix), QString("_11.2M"));
    QCOMPARE(exportplan::rateForText("nonsense").hz, 44100u);
    QCOMPARE(exportplan::bitsForText("32bit Float"), 32);
    QCOMPARE(exportplan::bitsForText("1bit"), 1);
    QCOMPARE(exportplan::bitsForText(""), 16);
  }

  void envelopeWithShortFades() {
    // 96 kHz source, exported at 96 kHz: 9,600-frame fades.
    EditRange e = exportplan::wholeFile(960000);
    const int64_t fade = exportplan::shortFadeFrames(96000, true);
    QCOMPARE(fade, int64_t(9600));
    QCOMPARE(exportplan::shortFadeFrames(96000, false), int64_t(0));
    QCOMPARE(exportplan::shortFadeFrames(44100, true), int64_t(4410));
    LevelPoint p[kLevelPointMax] = {};
    exportplan::buildEnvelope(p, e, fade, 96000, 96000);
    QCOMPARE(p[1].position, int64_t(0));
    QCOMPARE(p[2].position, int64_t(9600));
    QCOMPARE(p[3].position, int64_t(960000 - 9600));
    QCOMPARE(p[4].position, int64_t(960000));
    QCOMPARE(p[5].position, int64_t(INT64_MAX));
    QCOMPARE(p[1].increment, 1.0 / 9600.0);
    QCOMPARE(p[3].increment, -1.0 / 9600.0);
    QCOMPARE(p[1].shape, 1);
    QCOMPARE(p[3].shape, -1);
    QCOMPARE(p[2].level, 1.0);
    QVERIFY(exportplan::envelopeChangesLevel(p, kLevelPointMax));
    // The same at 44.1 kHz output: positions in output frames.
    exportplan::buildEnvelope(p, e, fade, 44100, 96000);
    QCOMPARE(p[2].position - p[1].position, int64_t(4410));
    QCOMPARE(p[4].position, int64_t(441000));
  }

  void envelopeEdges() {
    LevelPoint p[kLevelPointMax] = {};
    EditRange e;
    e.inFrames = 1000;
    e.outFrames = 5000;
    e.gain = 0.5;
    // No fades: steps whose increment is the whole level change.
    exportplan::buildEnvelope(p, e, 0, 44100, 44100);
    QCOMPARE(p[1].position, p[2].position);
    QCOMPARE(p[1].increment, 0.5);
    QCOMPARE(p[3].increment, -0.5);
    QVERIFY(exportplan::envelopeChangesLevel(p, kLevelPointMax));  // gain 0.5
    e.gain = 1.0;
    exportplan::buildEnvelope(p, e, 0, 44100, 44100);
    QVERIFY(!exportplan::envelopeChangesLevel(p, kLevelPointMax));  // bit-exact copy stays possible
    // Fades longer than the range share it instead of crossing.
    e.fadeInFrames = 3000;
    exportplan::buildEnvelope(p, e, 4410, 44100, 44100);
    for (int i = 1; i < 5; ++i) QVERIFY(p[i].position >= p[i - 1].position);
    QCOMPARE(p[4].position - p[1].position, int64_t(4000));
    // Huge positions do not overflow when converted.
    QCOMPARE(exportplan::toOutputFrames(int64_t(1) << 50, 11289600, 44100),
             int64_t((__int128(1) << 50) * 11289600 / 44100));
    QCOMPARE(exportplan::toOutputFrames(100, 48000, 0), int64_t(0));
  }

  void requestRecords() {
    EditRange e;
    e.inFrames = 10;
    e.outFrames = 999;
    exportplan::ExportChoice c{kFileTypeDsf, kRateDsd128, 1};
    EqSettings eq{};
    const JobRequest r = exportplan::buildRequest("/out/x.dsf", "/in/y.wav", c, 2, e, &eq);
    QVERIFY(r.destinationPath == u"/out/x.dsf");
    QCOMPARE(r.format.rateIndex, int(kRateDsd128));
    QCOMPARE(r.format.fileType, int(kFileTypeDsf));
    QCOMPARE(r.format.bitsPerSample, 1);
    QCOMPARE(r.format.channels, 2);
    QCOMPARE(r.format.unused, 2);
    QCOMPARE(r.range.statusWord, 1);
    QCOMPARE(r.range.startFrame, int64_t(10));
    QCOMPARE(r.range.endFrame, int64_t(999));
    QCOMPARE(r.range.eq, &eq);
    QCOMPARE(r.sourceEnabled[0], 1);
    QCOMPARE(r.matrix.m[3], 1.0);
    // A mono source feeds both output channels.
    const JobRequest mono = exportplan::buildRequest("/o.wav", "/i.wav", c, 1, e, nullptr);
    QCOMPARE(mono.matrix.m[0], 1.0);
    QCOMPARE(mono.matrix.m[1], 1.0);
    QCOMPARE(mono.matrix.m[3], 0.0);
  }

  void resultTexts() {
    QCOMPARE(exportplan::resultText(0), QString("Export completed."));
    QCOMPARE(exportplan::resultText(-255), QString("Export aborted."));
    QCOMPARE(exportplan::resultText(-254), QString("Export aborted."));
    QCOMPARE(exportplan::resultText(-26), QString("Export failed.\n[Code = -26]"));
    QVERIFY(exportplan::classify(kJobNoConversionFunction) == exportplan::Outcome::Failed);
  }

  // ---- the dialog under a display ----

  void switchingToDsf() {
    DialogEdit d;
    d.setSource("/music/live.2016.wav", 2, "STEREO", "16bits", "44.1kHz", "WAV(PCM)");
    auto* format = child<QComboBox>(d, "BounceFormat");
    QCOMPARE(format->currentText(), QString("WAV(PCM)"));
    QCOMPARE(child<QLineEdit>(d, "lineEditFileName")->text(), QString("live2016_44k"));
    format->setCurrentIndex(2);
    QCOMPARE(format->currentText(), QString("DSF(DSD)"));
    QCOMPARE(child<QComboBox>(d, "BounceFreq")->currentText(), QString("2.8MHz"));
    QCOMPARE(child<QComboBox>(d, "BounceBit")->currentText(), QString("1bit"));
    QCOMPARE(child<QLineEdit>(d, "lineEditExtension")->text(), QString(".dsf"));
    QVERIFY(child<QLineEdit>(d, "lineEditFileName")->text().endsWith("_2.8M"));
    QCOMPARE(d.exportTypeCode(), int(kFileTypeDsf));
    QCOMPARE(d.exportRateCode(), int(kRateDsd64));
    QCOMPARE(d.exportBitsValue(), 1);
    // Back to WAV: PCM lists, first items.
    format->setCurrentIndex(0);
    QCOMPARE(child<QComboBox>(d, "BounceBit")->count(), 3);
    QCOMPARE(d.exportBitsValue(), 16);
    QCOMPARE(d.exportRateHz(), 44100u);
  }

  void switchingToFlac() {
    DialogEdit d;
    d.setSource("/music/take.wav", 2, "STEREO", "16bits", "44.1kHz", "WAV(PCM)");
    d.restoreChoices(0, 3, 2, true);  // 96 kHz, 32-bit float
    child<QComboBox>(d, "BounceFormat")->setCurrentIndex(3);
    QCOMPARE(child<QComboBox>(d, "BounceFormat")->currentText(), QString("FLAC"));
    auto* bits = child<QComboBox>(d, "BounceBit");
    QCOMPARE(bits->count(), 2);
    QCOMPARE(bits->itemText(1), QString("24bit"));
    QCOMPARE(d.exportRateHz(), 44100u);
    QVERIFY(d.destinationPath().endsWith("/take_44k.flac"));
    // Rows as for WAV: dither and headroom yes, the DSD modulator no.
    QVERIFY(child<QCheckBox>(d, "checkBoxDither")->isEnabled());
    QVERIFY(!child<QComboBox>(d, "comboModulator")->isEnabled());
    d.setSource("/music/take.dsf", 2, "STEREO", "1bit", "2.8MHz", "DSF(DSD)");
    QVERIFY(child<QComboBox>(d, "comboDsdGain")->isEnabled());
  }

  void restoredChoicesRunTheHandlers() {
    DialogEdit d;
    d.setSource("/x/take.dff", 2, "", "", "", "");
    d.restoreChoices(1, 2, 0, false);
    QCOMPARE(d.exportTypeCode(), int(kFileTypeDsdiff));
    QCOMPARE(d.exportRateHz(), 11289600u);
    QCOMPARE(child<QLineEdit>(d, "lineEditFileName")->text(), QString("take_11.2M"));
    QVERIFY(!d.shortFadeChecked());
    d.restoreChoices(0, 4, 1, true);
    QCOMPARE(d.exportRateHz(), 176400u);
    QCOMPARE(d.exportBitsValue(), 24);
    d.restoreChoices(9, 42, -3, true);  // out-of-range indexes keep the choices
    QCOMPARE(d.formatIndex(), 0);
    QCOMPARE(d.rateIndex(), 4);
    QCOMPARE(d.bitIndex(), 1);
  }

  void pathLengthLimit() {
    // The system's limits: NAME_MAX bytes a part, however long the whole.
    DialogEdit d;
    d.setSource("/x/a.wav", 2, "", "", "", "");
    int requests = 0;
    QObject::connect(&d, &DialogEdit::convertExecute, [&] { ++requests; });
    auto* name = child<QLineEdit>(d, "lineEditFileName");
    d.setFolder("/nonexistent-export-folder/" + QString(200, 'd') + "/" + QString(200, 'e'));
    name->setText(QString(251, 'n'));  // + ".wav": 255 bytes
    QVERIFY(d.destinationPath().size() > 600);
    child<QPushButton>(d, "pushBounce")->click();
    QCOMPARE(requests, 1);
    name->setText(QString(126, QChar(0x00E9)));  // 252 bytes in UTF-8 + ".wav"
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(d, "pushBounce")->click();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QString("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, QString("The file name would be too long.\nYou can shorten the file name "
                               "and try again,\nor try a location that has a shorter path."));
    QCOMPARE(requests, 1);
  }

  void failuresSayWhy() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("why.wav");
    QVERIFY(writeWav16(src, 44100, 4410, [](int, int64_t) { return 0.1; }));
    // Root writes anywhere but in sysfs.
    const QString readOnly = ::geteuid() == 0 ? QString("/sys") : tmp.filePath("locked");
    if (::geteuid() != 0) {
      QVERIFY(QDir().mkpath(readOnly));
      QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    // Room for the header but not the audio.
    testsupport::SmallDisk full(36 * 1024);
    const struct {
      QString folder, reason;
      int code;
    } cases[] = {{tmp.filePath("missing"), "does not exist (No such file or directory).", -3},
                 {readOnly, "cannot be written: Permission denied.", -3},
                 {QString::fromStdString(full.file("")).chopped(1),
                  "cannot be written: No space left on device.", -28}};
    for (const auto& c : cases) {
      if (c.reason.contains("space") && !full.mounted()) continue;
      DialogEdit d;
      QObject::connect(&d, &DialogEdit::convertExecute, &d, [&] { d.startJob(1); });
      d.setSource(src, 2, "", "", "", "");
      d.setFolder(c.folder);
      d.setEditRange(exportplan::wholeFile(4410));
      d.show();
      BoxAnswerer box(QMessageBox::Ok);
      child<QPushButton>(d, "pushBounce")->click();
      QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 30000));
      QCOMPARE(box.text, "Export failed.\nThe folder \"" + c.folder + "\" " + c.reason +
                             QString("\n[Code = %1]").arg(c.code));
    }
  }

  void overwriteConfirmation() {
    DialogEdit d;
    d.setSource("/x/song.wav", 2, "", "", "", "");
    d.setFolder(tmp.path());
    int requests = 0;
    QObject::connect(&d, &DialogEdit::convertExecute, [&] { ++requests; });
    const QString existing = d.destinationPath();
    QVERIFY(existing.endsWith("/song_44k.wav"));
    QVERIFY(writeFile(existing, "keep me"));
    {
      BoxAnswerer box(QMessageBox::Cancel);
      child<QPushButton>(d, "pushBounce")->click();
      QVERIFY(box.seen);
      QCOMPARE(box.title, QString("Confirmation"));
      QCOMPARE(box.text, QString("song_44k.wav already exists.\nDo you want to overwrite?"));
    }
    QCOMPARE(requests, 0);
    QCOMPARE(readFile(existing), QByteArray("keep me"));
    BoxAnswerer ok(QMessageBox::Ok);
    child<QPushButton>(d, "pushBounce")->click();
    QVERIFY(ok.seen);
    QCOMPARE(requests, 1);
  }

  void exportOverItsOwnSourceIsRefused() {
    // The user names the export after the source itself (another spelling of
    // the same path): no confirmation, no job, the source untouched.
    const QString src = tmp.filePath("own.wav");
    QVERIFY(writeFile(src, "original audio"));
    DialogEdit d;
    d.setSource(src, 2, "", "", "", "");
    d.setFolder(tmp.path() + "/.");
    int requests = 0;
    QObject::connect(&d, &DialogEdit::convertExecute, [&] { ++requests; });
    child<QLineEdit>(d, "lineEditFileName")->setText("own");
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(d, "pushBounce")->click();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QString("Error"));
    QCOMPARE(box.text, QString("The exported file cannot replace the source file."));
    QCOMPARE(requests, 0);
    QCOMPARE(readFile(src), QByteArray("original audio"));
  }

  void shortFadesFollowTheSourceRate() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("hires.wav");
    QVERIFY(writeWav16(src, 96000, 96000, [](int, int64_t) { return 0.0; }));
    DialogEdit d;
    d.setSource(src, 2, "", "", "", "");
    d.setFolder(tmp.path());
    d.setEditRange(exportplan::wholeFile(96000));
    d.restoreChoices(0, 3, 1, true);  // 96 kHz, 24 bit
    BoxAnswerer box(QMessageBox::Ok);
    d.startJob(1);
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text, QString("Export completed."));
    const LevelPoint* p = d.exportEnvelope();
    QCOMPARE(p[2].position - p[1].position, int64_t(9600));
    QCOMPARE(p[4].position - p[3].position, int64_t(9600));
  }

  // ---- end to end through the dialog ----

  void wavToWavAtAnotherRate() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("tone.wav");
    QVERIFY(writeWav16(src, 44100, 44100, [](int ch, int64_t n) {
      return ch == 0 ? 0.5 * std::sin(2 * kPi * 1000.0 * n / 44100.0)
                     : 0.25 * std::sin(2 * kPi * 3000.0 * n / 44100.0);
    }));
    const Run r = exportThroughDialog(src, 0, 1, 1, false, "tone48");  // 48 kHz, 24 bit
    QCOMPARE(r.text, QString("Export completed."));
    QVERIFY(r.dialogHidden);
    const Decoded out = readBack(r.output);
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.sampleRate, 48000u);
    QCOMPARE(out.info.bitsPerSample, 24u);
    QCOMPARE(out.info.channels, 2u);
    const std::vector<double> left = pcmChannel(out, 0), right = pcmChannel(out, 1);
    // 44100 frames at 44.1 kHz make 48000 at 48 kHz, also when the range
    // ends at the end of the file.
    QVERIFY2(left.size() == 48000, qPrintable(QString::number(left.size())));
    // 1000 Hz and 3000 Hz keep their levels and stay in their channels.
    QVERIFY(std::fabs(toneAmplitude(left, 12000, 24000, 1000.0, 48000.0) - 0.5) < 0.005);
    QVERIFY(std::fabs(toneAmplitude(right, 12000, 24000, 3000.0, 48000.0) - 0.25) < 0.005);
    QVERIFY(toneAmplitude(left, 12000, 24000, 3000.0, 48000.0) < 1e-3);
    QVERIFY(toneAmplitude(right, 12000, 24000, 1000.0, 48000.0) < 1e-3);
  }

  void wavToDsf() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("forDsd.wav");
    QVERIFY(writeWav16(src, 44100, 22050, [](int ch, int64_t n) {
      return (ch == 0 ? 0.5 : -0.5) * std::sin(2 * kPi * 1000.0 * n / 44100.0);
    }));
    const Run r = exportThroughDialog(src, 2, 0, 0, true, "forDsd_dsd");
    QCOMPARE(r.text, QString("Export completed."));
    const Decoded out = readBack(r.output);
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.fileType, uint32_t(kFileTypeDsf));
    QCOMPARE(out.info.sampleRate, 2822400u);
    QCOMPARE(out.info.bitsPerSample, 1u);
    const int64_t samples = 22050 * 64;
    const std::vector<double> left = decimateDsd(dsfChannel(out, 0, samples));
    const std::vector<double> right = decimateDsd(dsfChannel(out, 1, samples));
    // Past the short fade the tone is there at its level (a coarse decoder:
    // 64-sample averages droop 0.3 dB at 1 kHz), in opposite phase.
    const double a = toneAmplitude(left, 8820, 8820, 1000.0, 44100.0);
    QVERIFY2(std::fabs(a - 0.5) < 0.03, qPrintable(QString::number(a)));
    QVERIFY(std::fabs(toneAmplitude(right, 8820, 8820, 1000.0, 44100.0) - 0.5) < 0.03);
    double sum = 0.0;
    for (size_t n = 8820; n < 17640; ++n) sum += left[n] + right[n];
    QVERIFY(std::fabs(sum / 8820.0) < 0.02);
    // The short fade starts from silence.
    QVERIFY(toneAmplitude(left, 0, 441, 1000.0, 44100.0) < 0.05);
  }

  void dsfToWav24At176k() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const int64_t samples = 2822400 / 2;  // 0.5 s
    const auto bits = modulate(samples, [](int ch, int64_t n) {
      return (ch == 0 ? 0.25 : 0.125) * std::sin(2 * kPi * 1000.0 * n / 2822400.0);
    });
    const QString src = tmp.filePath("source.dsf");
    QVERIFY(writeDsf(src, 2822400, bits));
    const Run r = exportThroughDialog(src, 0, 4, 1, false, "source_pcm");
    QCOMPARE(r.text, QString("Export completed."));
    const Decoded out = readBack(r.output);
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.sampleRate, 176400u);
    QCOMPARE(out.info.bitsPerSample, 24u);
    const std::vector<double> left = pcmChannel(out, 0), right = pcmChannel(out, 1);
    QVERIFY(left.size() > 80000 && left.size() <= 88200);
    // DSD density x decodes to PCM 2x.
    const double a = toneAmplitude(left, 17640, 52920, 1000.0, 176400.0);
    QVERIFY2(std::fabs(a - 0.5) < 0.01, qPrintable(QString::number(a)));
    QVERIFY(std::fabs(toneAmplitude(right, 17640, 52920, 1000.0, 176400.0) - 0.25) < 0.01);
  }

  // Dither reaches the export: a 16-bit copy stays bit-exact without it and
  // moves its samples by at most one step with it.
  void ditherChoiceReachesTheExport() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("quiet.wav");
    QVERIFY(writeWav16(src, 44100, 4410, [](int, int64_t n) { return 0.01 * std::sin(0.1 * n); }));
    const Run plain = exportThroughDialog(src, 0, 0, 0, false, "quiet_plain");
    const Run dithered = exportThroughDialog(src, 0, 0, 0, false, "quiet_tpdf", 120000, 0, true);
    QCOMPARE(dithered.text, QString("Export completed."));
    const QByteArray a = readBack(src).audio, b = readBack(plain.output).audio,
                     c = readBack(dithered.output).audio;
    QCOMPARE(b, a);
    QCOMPARE(c.size(), a.size());
    int moved = 0;
    for (int i = 0; i + 1 < a.size(); i += 2) {
      const int d = int16_t(uint8_t(c[i]) | uint8_t(c[i + 1]) << 8) -
                    int16_t(uint8_t(a[i]) | uint8_t(a[i + 1]) << 8);
      QVERIFY(std::abs(d) <= 1);
      moved += d != 0;
    }
    QVERIFY(moved > a.size() / 16);  // a quarter of the samples, a.size() / 8
  }

  // FLAC holds exactly what a WAV export of the same choices holds, at both
  // word lengths, and the reference decoder accepts it (CRCs and MD5).
  void flacExportMatchesTheWavExport() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
    const QString src = tmp.filePath("forFlac.wav");
    QVERIFY(writeWav16(src, 44100, 44100, [](int ch, int64_t n) {
      return (ch ? 0.3 : 0.6) * std::sin(2 * kPi * (ch ? 700.0 : 440.0) * n / 44100.0);
    }));
    for (int bits : {0, 1}) {
      const QString tag = QString::number(bits);
      const Run wav = exportThroughDialog(src, 0, 1, bits, true, "ref" + tag);
      const Run flac = exportThroughDialog(src, 3, 1, bits, true, "flac" + tag);
      QCOMPARE(flac.text, QString("Export completed."));
      QVERIFY(flac.output.endsWith(".flac"));
      QVERIFY(fixtures::flacTestPasses(flac.output));
      const Decoded info = readBack(flac.output), ref = readBack(wav.output);
      QCOMPARE(info.rc, 0);
      QCOMPARE(info.info.fileType, uint32_t(kFileTypeFlac));
      QCOMPARE(info.info.sampleRate, 48000u);
      QCOMPARE(info.info.bitsPerSample, ref.info.bitsPerSample);
      QCOMPARE(info.info.dataBytesLow, ref.info.dataBytesLow);
      QVERIFY(ref.audio.size() >= 48000 * 4);  // a second of stereo
      QVERIFY(fixtures::flacSamples(flac.output) == ref.audio);
    }
    // The level from the settings reaches the exporting thread: the same
    // samples, fewer bytes at 8 than at 0.
    const Run fast = exportThroughDialog(src, 3, 1, 1, true, "level0", 120000, 0, false, false, 0);
    const Run small = exportThroughDialog(src, 3, 1, 1, true, "level8", 120000, 0, false, false, 8);
    QVERIFY(fixtures::flacSamples(fast.output) == fixtures::flacSamples(small.output));
    QVERIFY2(QFileInfo(small.output).size() < QFileInfo(fast.output).size(),
             qPrintable(QString("%1 vs %2")
                            .arg(QFileInfo(small.output).size())
                            .arg(QFileInfo(fast.output).size())));
  }

  // A FLAC source trims as a WAV does: the marked frames, bit-exact.
  void flacSourceTrimsBitExact() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
    const QString wav = tmp.filePath("trimmed.wav"), flac = tmp.filePath("trimmed.flac");
    QVERIFY(writeWav16(wav, 44100, 44100,
                       [](int ch, int64_t n) { return (ch ? -0.2 : 0.4) * std::sin(0.03 * n); }));
    QVERIFY(fixtures::flac(flac, readFile(wav)));
    DialogEdit d;
    d.setSource(flac, 2, "", "", "", "");
    d.setFolder(tmp.path());
    EditRange r = exportplan::wholeFile(44100);
    r.inFrames = 1000;
    r.outFrames = 31000;
    d.setEditRange(r);
    d.restoreChoices(0, 0, 0, false);  // WAV, 44.1 kHz, 16 bit, no fades
    BoxAnswerer box(QMessageBox::Ok);
    d.startJob(1);
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text, QString("Export completed."));
    QVERIFY(readBack(d.destinationPath()).audio == readBack(wav).audio.mid(1000 * 4, 30000 * 4));
  }

  // The modulator choice reaches the export: the same audio, other bits.
  void modulatorChoiceReachesTheExport() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("toDsd.wav");
    QVERIFY(writeWav16(src, 44100, 4410, [](int, int64_t n) { return 0.3 * std::sin(0.1 * n); }));
    const Run standard = exportThroughDialog(src, 2, 0, 0, false, "toDsd_std");
    const Run precise =
        exportThroughDialog(src, 2, 0, 0, false, "toDsd_prec", 120000, 0, false, true);
    QCOMPARE(precise.text, QString("Export completed."));
    const Decoded a = readBack(standard.output), b = readBack(precise.output);
    QCOMPARE(b.info.sampleRate, a.info.sampleRate);
    QCOMPARE(b.audio.size(), a.audio.size());
    QVERIFY(b.audio != a.audio);
  }

  // A hot DSD master (above 50 % modulation) clips in PCM: the user is told how much.
  void clippedSamplesAreReported() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const auto bits = modulate(2822400 / 10, [](int, int64_t n) {
      return 0.7 * std::sin(2 * kPi * 1000.0 * n / 2822400.0);
    });
    const QString src = tmp.filePath("hot.dsf");
    QVERIFY(writeDsf(src, 2822400, bits));
    const Run r = exportThroughDialog(src, 0, 4, 1, false, "hot_pcm");
    QVERIFY2(r.text.startsWith("Export completed.\n") &&
                 r.text.endsWith(" samples beyond full scale were clipped."),
             qPrintable(r.text));
    QVERIFY(r.text.split('\n').value(1).section(' ', 0, 0).toInt() > 1000);
    // 6 dB less fits it: the level drops by exactly that, and nothing clips.
    const Run lower = exportThroughDialog(src, 0, 4, 1, false, "hot_lower", 120000, -6);
    QCOMPARE(lower.text, QString("Export completed."));
    const std::vector<double> left = pcmChannel(readBack(lower.output), 0);
    const double a = toneAmplitude(left, 2000, 14112, 1000.0, 176400.0);
    QVERIFY2(std::fabs(a - 1.4 * std::pow(10.0, -6.0 / 20.0)) < 0.01,
             qPrintable(QString::number(a)));
  }

  void dsdiffToDsfSameRateIsBitExact() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const int64_t samples = 4096 * 8 * 5 + 8 * 100;  // five whole DSF blocks and a part
    const auto bits = modulate(samples, [](int ch, int64_t n) {
      return 0.3 * std::sin(2 * kPi * (ch ? 440.0 : 5000.0) * n / 2822400.0);
    });
    const QString src = tmp.filePath("master.dff");
    QVERIFY(writeDff(src, 2822400, bits));
    const Run r = exportThroughDialog(src, 2, 0, 0, false, "master_copy");
    QCOMPARE(r.text, QString("Export completed."));
    const Decoded out = readBack(r.output);
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.fileType, uint32_t(kFileTypeDsf));
    QCOMPARE(out.info.sampleRate, 2822400u);
    for (int ch = 0; ch < 2; ++ch) {
      const QByteArray got = dsfChannel(out, ch, samples);
      int first = -1;
      for (int i = 0; i < got.size() && first < 0; ++i)
        if (got[i] != bits[ch][i]) first = i;
      QVERIFY2(
          first < 0,
          qPrintable(
              QString("channel %1 differs from byte %2 of %3").arg(ch).arg(first).arg(got.size())));
    }
  }

  void libraryFailureShowsItsCode() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    DialogEdit d;
    QObject::connect(&d, &DialogEdit::convertExecute, &d, [&] { d.startJob(1); });
    d.setSource(tmp.filePath("vanished.wav"), 2, "", "", "", "");
    d.setFolder(tmp.path());
    d.setEditRange(exportplan::wholeFile(44100));
    d.show();
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(d, "pushBounce")->click();
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 30000));
    QCOMPARE(box.title, QString("Export File"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.text, QString("Export failed.\n[Code = -1]"));
    QVERIFY(d.isVisible());  // open for another attempt
  }

  void abortLeavesAFinalisedPartialFile() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const int64_t frames = 44100 * 240;  // four minutes to DSD128: long enough to abort
    const QString src = tmp.filePath("long.wav");
    QVERIFY(writeWav16(src, 44100, frames, [](int, int64_t n) {
      return 0.3 * std::sin(2 * kPi * 440.0 * n / 44100.0);
    }));
    DialogEdit d;
    QObject::connect(&d, &DialogEdit::convertExecute, &d, [&] { d.startJob(1); });
    d.setSource(src, 2, "", "", "", "");
    d.setFolder(tmp.path());
    d.setEditRange(exportplan::wholeFile(uint64_t(frames)));
    d.restoreChoices(2, 1, 0, true);
    d.show();

    // Watch the event loop while the export runs: it must keep turning and
    // the progress must advance.
    QElapsedTimer clock;
    qint64 last = 0, worstGap = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      worstGap = std::max(worstGap, now - last);
      last = now;
    });
    auto* progress = child<lmeProgressDialog>(d, "progressExport");
    QVERIFY(progress);
    child<QPushButton>(d, "pushBounce")->click();
    clock.start();
    tick.start();
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->labelText(), QString("Exporting \"long_5.6M.dsf\" ..."));
    QVERIFY(QTest::qWaitFor([&] { return progress->value() >= 3; }, 120000));
    const int seen = progress->value();
    QVERIFY(QTest::qWaitFor([&] { return progress->value() > seen; }, 120000));
    tick.stop();
    qInfo("event loop: worst gap %lld ms over %lld ms of export, progress %d%%", worstGap,
          clock.elapsed(), progress->value());

    BoxAnswerer box(QMessageBox::Ok);
    QPushButton* abort = progress->findChild<QPushButton*>();
    QVERIFY(abort);
    QCOMPARE(abort->text(), QString("Abort"));
    abort->click();
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text,
             "Export aborted.\nThe part exported so far was kept in\n" + d.destinationPath());
    QVERIFY(d.isVisible());
    const Decoded out = readBack(d.destinationPath());
    QCOMPARE(out.rc, 0);  // a valid file with the part written so far
    const uint64_t bytes = (uint64_t(out.info.dataBytesHigh) << 32) | out.info.dataBytesLow;
    QVERIFY(bytes > 0);
    QVERIFY(bytes < uint64_t(frames) * 128 / 8 * 2);
  }

  // ---- from the main window ----

  void mainWindowExportsTheOpenFile() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    QFile::remove(settingsFilePath());
    const QString src = tmp.filePath("opened.wav");
    QVERIFY(writeWav16(src, 44100, 22050, [](int ch, int64_t n) {
      return (ch ? 0.2 : 0.4) * std::sin(2 * kPi * 2000.0 * n / 44100.0);
    }));
    MainWindow w;
    w.setNeverShowFirstInfo(true);
    w.show();
    QVERIFY(w.openAudioFile(src));
    child<QPushButton>(w, "pushButtonEdit")->click();
    DialogEdit* d = w.exportDialog();
    QVERIFY(d->isVisible());
    QCOMPARE(d->editRange().outFrames - d->editRange().inFrames, int64_t(22050));
    d->restoreChoices(0, 5, 2, false);  // 192 kHz, 32-bit float
    child<QLineEdit>(*d, "lineEditFolder")->setText(tmp.path());
    QCOMPARE(d->destinationPath(), tmp.filePath("opened_192k.wav"));
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(*d, "pushBounce")->click();
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text, QString("Export completed."));
    QVERIFY(!d->isVisible());
    const Decoded out = readBack(tmp.filePath("opened_192k.wav"));
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.sampleRate, 192000u);
    QCOMPARE(out.info.bitsPerSample, 32u);
    QCOMPARE(out.info.formatTag, 3u);
    std::vector<double> left(size_t(out.audio.size() / 8));
    for (size_t n = 0; n < left.size(); ++n) {
      float f;
      std::memcpy(&f, out.audio.constData() + n * 8, 4);
      left[n] = f;
    }
    QVERIFY2(left.size() >= 95850 && left.size() <= 96000,
             qPrintable(QString::number(left.size())));
    QVERIFY(std::fabs(toneAmplitude(left, 19200, 48000, 2000.0, 192000.0) - 0.4) < 0.005);
  }

  void openingAnotherFileRetargetsTheOpenDialog() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    QFile::remove(settingsFilePath());
    const QString a = tmp.filePath("first.wav"), b = tmp.filePath("second.wav");
    QVERIFY(writeWav16(a, 44100, 44100, [](int, int64_t n) {
      return 0.4 * std::sin(2 * kPi * 1000.0 * n / 44100.0);
    }));
    QVERIFY(writeWav16(b, 48000, 24000, [](int, int64_t n) {
      return 0.3 * std::sin(2 * kPi * 3000.0 * n / 48000.0);
    }));
    MainWindow w;
    w.setNeverShowFirstInfo(true);
    w.show();
    QVERIFY(w.openAudioFile(a));
    child<QPushButton>(w, "pushButtonEdit")->click();
    DialogEdit* d = w.exportDialog();
    d->restoreChoices(0, 1, 0, false);  // 48 kHz, 16-bit
    child<QLineEdit>(*d, "lineEditFolder")->setText(tmp.path());
    QVERIFY(w.openAudioFile(b));
    QVERIFY(d->isVisible());
    QCOMPARE(d->destinationPath(), tmp.filePath("second_48k.wav"));
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(*d, "pushBounce")->click();
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text, QString("Export completed."));
    const Decoded out = readBack(tmp.filePath("second_48k.wav"));
    QCOMPARE(out.rc, 0);
    const std::vector<double> left = pcmChannel(out, 0);
    QCOMPARE(left.size(), size_t(24000));
    QVERIFY(std::fabs(toneAmplitude(left, 4800, 14400, 3000.0, 48000.0) - 0.3) < 0.005);
    QVERIFY(toneAmplitude(left, 4800, 14400, 1000.0, 48000.0) < 0.005);
  }

  void dialogFollowsTheSessionAndStopsPlaybackFirst() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString a = tmp.filePath("sessA.wav"), b = tmp.filePath("sessB.wav");
    QVERIFY(writeWav16(a, 44100, 44100, [](int, int64_t) { return 0.0; }));
    QVERIFY(writeWav16(b, 48000, 9600, [](int, int64_t n) { return 0.1 * std::sin(0.01 * n); }));
    Session session;
    int stops = 0;
    session.setStopHook([&] { ++stops; });
    session.openFile(a.toStdU16String(), readBack(a).info);
    {
      DialogEdit d;
      d.setSession(&session);
      d.setFolder(tmp.path());
      session.openFile(b.toStdU16String(), readBack(b).info);
      EditRange r = session.editRange();
      r.inFrames = 2400;
      session.setEditRange(r);
      QCOMPARE(d.destinationPath(), tmp.filePath("sessB_44k.wav"));
      QCOMPARE(d.editRange().inFrames, int64_t(2400));
      session.setPlaying(true);
      d.show();
      BoxAnswerer box(QMessageBox::Ok);
      child<QPushButton>(d, "pushBounce")->click();
      QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
      QCOMPARE(box.text, QString("Export completed."));
      QCOMPARE(stops, 1);
      QVERIFY(!session.isPlaying());
      const Decoded out = readBack(tmp.filePath("sessB_44k.wav"));
      QCOMPARE(out.rc, 0);
      const int64_t frames = out.audio.size() / 4;  // 16-bit stereo
      QVERIFY2(std::abs(frames - 6615) <= 50, qPrintable(QString::number(frames)));
    }
    session.openFile(a.toStdU16String(), readBack(a).info);  // nobody listens any more
  }

  void settingsSurviveTheMainWindow() {
    QFile::remove(settingsFilePath());
    {
      MainWindow w;
      w.setNeverShowFirstInfo(true);
      QCOMPARE(w.exportDialog()->formatIndex(), 0);  // defaults: WAV, 48 kHz, 24 bit
      QCOMPARE(w.exportDialog()->rateIndex(), 1);
      QCOMPARE(w.exportDialog()->bitIndex(), 1);
      QVERIFY(w.exportDialog()->shortFadeChecked());
      w.exportDialog()->restoreChoices(2, 1, 0, false);
      w.exportDialog()->setFlacLevel(2);
      EqSettings* eq = w.eqBlock()->get();
      eq->band[3].on = 1;
      setParameters(&eq->band[3], -4.5, 250.0, 1.5, 44100.0, 0);
    }
    QFile f(settingsFilePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.contains("//EQ1\ntrue\n250\n1.5\n-4.5\n0\n"));
    QVERIFY(text.contains("//BounceFormat\n2\n//BounceFreq\n1\n//BounceBit\n0\n"));
    QVERIFY(text.contains("//NeverShowFirstInfo\ntrue\n"));
    QVERIFY(text.contains("//FlacLevel\n2\n"));
    MainWindow again;
    QCOMPARE(again.exportDialog()->exportTypeCode(), int(kFileTypeDsf));
    QCOMPARE(again.exportDialog()->exportRateHz(), 5644800u);
    QVERIFY(!again.exportDialog()->shortFadeChecked());
    QCOMPARE(again.exportDialog()->flacLevel(), 2);
    QCOMPARE(again.eqBlock()->get()->band[3].frequency, 250.0);
    QCOMPARE(again.eqBlock()->get()->band[3].on, 1);
    QVERIFY(!again.eqBlock()->masterOn());
    QVERIFY(again.neverShowFirstInfo());
  }

  void progressDialogIsModalWithoutCloseButtons() {
    lmeProgressDialog p("label", "Abort", 0, 100);
    QVERIFY(p.isModal());
    QVERIFY(!(p.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(p.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(p.maximum(), 100);
    QCOMPARE(p.labelText(), QString("label"));
  }

  void realMonoDsdGoesToBothChannels() {
    const QString src =
        QString::fromStdString(testsupport::testdataDir()) + "/dsf/dsd2dxd-1kHz_mono_128.dsf";
    if (!testsupport::testdataAvailable() || !QFile::exists(src))
      QSKIP("shared test data not available");
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const Run r = exportThroughDialog(src, 0, 2, 1, true, "mono_pcm");  // 88.2 kHz, 24 bit
    QCOMPARE(r.text, QString("Export completed."));
    const Decoded out = readBack(r.output);
    QCOMPARE(out.rc, 0);
    QCOMPARE(out.info.channels, 2u);
    const std::vector<double> left = pcmChannel(out, 0), right = pcmChannel(out, 1);
    QVERIFY(left.size() > 170000);  // 2 s
    const double a = toneAmplitude(left, 44100, 88200, 1000.0, 88200.0);
    QVERIFY2(a > 0.05, qPrintable(QString::number(a)));
    for (size_t n = 0; n < left.size(); ++n) QCOMPARE(right[n], left[n]);
  }

  void eqFollowsTheExportRateAndComesBack() {
    if (!libraryHasConversion()) QSKIP("libsonvex.so with sonvexert not beside the test");
    const QString src = tmp.filePath("eq.wav");
    QVERIFY(writeWav16(src, 44100, 44100, [](int, int64_t n) {
      return 0.25 * std::sin(2 * kPi * 1000.0 * n / 44100.0);
    }));
    EqSettingsBlock eq;
    eq.setMasterOn(true);
    EqBand* band = &eq.get()->band[3];
    band->on = 1;
    setParameters(band, 6.0, 1000.0, 0.9, 44100.0, 0);
    DialogEdit d;
    QObject::connect(&d, &DialogEdit::convertExecute, &d, [&] { d.startJob(1); });
    d.setSource(src, 2, "", "", "", "");
    d.setFolder(tmp.path());
    d.setEditRange(exportplan::wholeFile(44100));
    d.setEqContext(eq.get(), 44100);
    d.restoreChoices(0, 3, 1, false);  // 96 kHz, 24 bit
    BoxAnswerer box(QMessageBox::Ok);
    child<QPushButton>(d, "pushBounce")->click();
    QVERIFY(QTest::qWaitFor([&] { return box.seen; }, 60000));
    QCOMPARE(box.text, QString("Export completed."));
    const Decoded out = readBack(d.destinationPath());
    QCOMPARE(out.rc, 0);
    const std::vector<double> left = pcmChannel(out, 0);
    // +6 dB at the centre: 0.25 becomes about 0.5.
    const double a = toneAmplitude(left, 24000, 48000, 1000.0, 96000.0);
    QVERIFY2(std::fabs(a - 0.25 * std::pow(10.0, 6.0 / 20.0)) < 0.005,
             qPrintable(QString::number(a)));
    // Afterwards the band is tuned for the play rate again.
    QVERIFY(std::fabs(magnitudeDb(band, 44100.0, 1000.0) - 6.0) < 1e-9);
    EqSettingsBlock reference;
    setParameters(&reference.get()->band[0], 6.0, 1000.0, 0.9, 44100.0, 0);
    for (int k = 0; k < eq::kX1; ++k) QCOMPARE(band->biquad[k], reference.get()->band[0].biquad[k]);
  }
};

QTEST_MAIN(TestDialogEdit)
#include "test_dialogedit.moc"
