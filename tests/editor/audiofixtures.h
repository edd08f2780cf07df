// Small WAV, DSF and DSDIFF files written from the container layouts, FLAC
// made of them by the reference tool, and a catcher for the program's
// message boxes, for the program's Qt tests.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>

namespace fixtures {

inline void le(QByteArray& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}
inline void be(QByteArray& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.append(char((v >> (8 * i)) & 0xFF));
}

// PCM WAV: 16-byte fmt, then data holding `frames` frames of a ramp.
inline QByteArray wav(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t frames) {
  const uint32_t align = channels * bits / 8;
  const uint32_t dataBytes = frames * align;
  QByteArray f("RIFF");
  le(f, 36 + dataBytes, 4);
  f.append("WAVEfmt ");
  le(f, 16, 4);
  le(f, 1, 2);
  le(f, channels, 2);
  le(f, rate, 4);
  le(f, uint64_t(rate) * align, 4);
  le(f, align, 2);
  le(f, bits, 2);
  f.append("data");
  le(f, dataBytes, 4);
  for (uint32_t i = 0; i < dataBytes; ++i) f.append(char(i * 7));
  return f;
}

// DSF: one 4096-byte block per channel per block group, LSB first.
inline QByteArray dsf(uint32_t rate, uint32_t channels, uint64_t samples) {
  const uint64_t perChannel = (samples + 7) / 8;
  const uint64_t blocks = (perChannel + 4095) / 4096;
  const uint64_t payload = blocks * 4096 * channels;
  QByteArray f("DSD ");
  le(f, 28, 8);
  le(f, 92 + payload, 8);
  le(f, 0, 8);
  f.append("fmt ");
  le(f, 52, 8);
  le(f, 1, 4);
  le(f, 0, 4);
  le(f, channels == 1 ? 1 : 2, 4);
  le(f, channels, 4);
  le(f, rate, 4);
  le(f, 1, 4);
  le(f, samples, 8);
  le(f, 4096, 4);
  le(f, 0, 4);
  f.append("data");
  le(f, payload + 12, 8);
  f.append(QByteArray(int(payload), char(0x69)));
  return f;
}

// DSDIFF: FVER, PROP/SND with FS, CHNL and CMPR "DSD ", then the DSD chunk.
inline QByteArray dff(uint32_t rate, uint16_t channels, uint64_t samples) {
  const uint64_t dataBytes = (samples / 8) * channels;
  QByteArray prop("SND ");
  prop.append("FS  ");
  be(prop, 4, 8);
  be(prop, rate, 4);
  prop.append("CHNL");
  be(prop, 2 + 4 * channels, 8);
  be(prop, channels, 2);
  for (uint16_t c = 0; c < channels; ++c) prop.append(c == 0 ? "SLFT" : c == 1 ? "SRGT" : "C   ");
  prop.append("CMPR");
  be(prop, 19, 8);
  prop.append("DSD ");
  prop.append(char(14));
  prop.append("not compressed");
  prop.append(char(0));  // pad byte of the odd-sized chunk
  QByteArray body("DSD ");
  body.append("FVER");
  be(body, 4, 8);
  be(body, 0x01050000, 4);
  body.append("PROP");
  be(body, prop.size() - 1, 8);  // the pad byte is not counted
  body.append(prop);
  body.append("DSD ");
  be(body, dataBytes, 8);
  body.append(QByteArray(int(dataBytes), char(0x69)));
  QByteArray f("FRM8");
  be(f, body.size(), 8);
  f.append(body);
  return f;
}

inline bool write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The reference FLAC tool; tests that need it skip where it is missing.
inline bool haveFlacTool() { return !QStandardPaths::findExecutable("flac").isEmpty(); }

inline int runFlac(const QStringList& args, QByteArray* out = nullptr) {
  QProcess p;
  p.start(QStandardPaths::findExecutable("flac"), QStringList{"--silent"} + args);
  if (!p.waitForFinished(60000)) return -1;
  if (out) *out = p.readAllStandardOutput();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// FLAC at `path` of the audio of a WAV builder's bytes.
inline bool flac(const QString& path, const QByteArray& wavBytes) {
  const QString source = path + ".source.wav";
  const bool ok = write(source, wavBytes) && runFlac({"--force", "-o", path, source}) == 0;
  QFile::remove(source);
  return ok;
}

// The decoder's check of every frame's CRC and of the MD5 of the whole audio.
inline bool flacTestPasses(const QString& path) { return runFlac({"--test", path}) == 0; }

// Interleaved little-endian signed samples, as a WAV data chunk holds them.
inline QByteArray flacSamples(const QString& path) {
  QByteArray pcm;
  const int rc = runFlac(
      {"--decode", "--stdout", "--force-raw-format", "--endian=little", "--sign=signed", path},
      &pcm);
  return rc == 0 ? pcm : QByteArray();
}

// Answers every modal message box that opens while it lives, keeping its
// title and text; `checkBoxes` ticks a box's check box before answering.
class MessageCatcher : public QObject {
 public:
  explicit MessageCatcher(bool checkBoxes = false) : m_checkBoxes(checkBoxes) {
    connect(&m_timer, &QTimer::timeout, this, &MessageCatcher::poll);
    m_timer.start(10);
  }
  QStringList titles;
  QStringList texts;
  QString last() const { return titles.isEmpty() ? QString() : titles.last() + "|" + texts.last(); }
  int count() const { return titles.size(); }

 private:
  void poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    titles << box->windowTitle();
    texts << box->text();
    if (m_checkBoxes && box->checkBox()) box->checkBox()->setChecked(true);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box->reject();
    }
  }
  QTimer m_timer;
  bool m_checkBoxes;
};

}  // namespace fixtures
