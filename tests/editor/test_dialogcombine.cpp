// The combine dialog: its checks and name proposal as plain functions, its
// drops and boxes on screen, and whole combines from the GUI that must read
// back as the two audio streams in sequence with the sources untouched.
#include <QCryptographicHash>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "audiofixtures.h"
#include "dialogcombine.h"
#include "mainwindow.h"
#include "settings.h"

using namespace combineplan;

namespace {

SourceDescription desc(uint32_t type, uint32_t rate, uint32_t bits, uint32_t channels,
                       uint32_t tag = 1) {
  SourceDescription d{};
  d.fileType = type;
  d.sampleRate = rate;
  d.bitsPerSample = bits;
  d.channels = channels;
  d.formatTag = tag;
  return d;
}

QByteArray randomBytes(int n, quint32 seed) {
  QRandomGenerator rng(seed);
  QByteArray b(n, 0);
  for (int i = 0; i < n; ++i) b[i] = char(rng.generate() & 0xFF);
  return b;
}

void le(QByteArray& b, uint64_t v, int n) { fixtures::le(b, v, n); }
void be(QByteArray& b, uint64_t v, int n) { fixtures::be(b, v, n); }
uint64_t rdLe(const QByteArray& b, int at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + i]);
  return v;
}
uint64_t rdBe(const QByteArray& b, int at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | uint8_t(b[at + i]);
  return v;
}

QByteArray wav(uint16_t channels, uint16_t bits, uint32_t rate, const QByteArray& data) {
  QByteArray f("RIFF");
  le(f, 36 + data.size(), 4);
  f.append("WAVEfmt ");
  le(f, 16, 4);
  le(f, 1, 2);
  le(f, channels, 2);
  le(f, rate, 4);
  le(f, uint64_t(rate) * channels * bits / 8, 4);
  le(f, channels * bits / 8, 2);
  le(f, bits, 2);
  f.append("data");
  le(f, data.size(), 4);
  f.append(data);
  return f;
}

// Planar DSF with the given per-channel bytes, blocks padded with 0x96.
QByteArray dsf(const QList<QByteArray>& channels) {
  const int n = channels.size(), per = channels[0].size();
  const int blocks = (per + 4095) / 4096;
  const uint64_t payload = uint64_t(blocks) * 4096 * n;
  QByteArray f("DSD ");
  le(f, 28, 8);
  le(f, 92 + payload, 8);
  le(f, 0, 8);
  f.append("fmt ");
  le(f, 52, 8);
  le(f, 1, 4);
  le(f, 0, 4);
  le(f, n, 4);
  le(f, n, 4);
  le(f, 2822400, 4);
  le(f, 1, 4);
  le(f, uint64_t(per) * 8, 8);
  le(f, 4096, 4);
  le(f, 0, 4);
  f.append("data");
  le(f, payload + 12, 8);
  for (int b = 0; b < blocks; ++b)
    for (int c = 0; c < n; ++c) {
      QByteArray block = channels[c].mid(b * 4096, 4096);
      block.append(QByteArray(4096 - block.size(), char(0x96)));
      f.append(block);
    }
  return f;
}

// Per-channel bytes of a DSF file, as many as its sample count covers.
QList<QByteArray> dsfChannels(const QByteArray& f) {
  const int n = int(rdLe(f, 52, 4));
  const uint64_t per = (rdLe(f, 64, 8) + 7) / 8;
  QList<QByteArray> out;
  for (int c = 0; c < n; ++c) {
    QByteArray ch;
    for (uint64_t i = 0; i < per; i += 4096)
      ch.append(
          f.mid(int(92 + (i / 4096) * 4096 * n + c * 4096), int(qMin<uint64_t>(4096, per - i))));
    out << ch;
  }
  return out;
}

QByteArray dff(uint16_t channels, const QByteArray& interleaved) {
  QByteArray prop("SND FS  ");
  be(prop, 4, 8);
  be(prop, 2822400, 4);
  prop.append("CHNL");
  be(prop, 2 + 4 * channels, 8);
  be(prop, channels, 2);
  for (uint16_t c = 0; c < channels; ++c) prop.append(c == 0 ? "SLFT" : "SRGT");
  prop.append("CMPR");
  be(prop, 20, 8);
  prop.append("DSD ");
  prop.append(char(15));
  prop.append("not compressed", 14);
  prop.append(char(0));
  QByteArray body("DSD FVER");
  be(body, 4, 8);
  be(body, 0x01050000, 4);
  body.append("PROP");
  be(body, prop.size(), 8);
  body.append(prop);
  body.append("DSD ");
  be(body, interleaved.size(), 8);
  body.append(interleaved);
  QByteArray f("FRM8");
  be(f, body.size(), 8);
  return f + body;
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray sha(const QString& path) {
  return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

void dropOn(QWidget* target, const QString& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  enter.ignore();
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

}  // namespace

class TestDialogCombine : public QObject {
  Q_OBJECT

 private slots:
  void mismatchesAreCollectedInOneMessage();
  void nameProposalAndPathLimits();
  void extensionsAndRates();
  void dropsAndRefusals();
  void combinesFromTheGui_data();
  void combinesFromTheGui();
  void flacDoesNotCombineWithWav();
  void overwriteNeedsConfirmationAndSourcesAreNeverTheOutput();
  void mainWindowHandsOverTheOpenFile();
  void headerVariantsCombineAndFailuresSayWhy();
};

void TestDialogCombine::mismatchesAreCollectedInOneMessage() {
  const QString out = "/tmp/a_b.wav";
  // 44.1 kHz/16-bit stereo against 48 kHz/24-bit mono: three lines.
  QCOMPARE(combineProblems(true, true, desc(0, 44100, 16, 2), desc(0, 48000, 24, 1), out),
           QStringList({"Sampling frequency of two files does not match.",
                        "Quantization bit length of two files does not match.",
                        "Num. of channels of two files does not match."}));
  // Different formats: that line only, whatever else differs.
  QCOMPARE(combineProblems(true, true, desc(0, 44100, 16, 2), desc(2, 2822400, 1, 2, 0), out),
           QStringList({"File format of two files does not match."}));
  QCOMPARE(combineProblems(false, false, desc(0, 0, 0, 0), desc(0, 0, 0, 0), out),
           QStringList({"Head file not selected.", "Tail file not selected."}));
  QCOMPARE(combineProblems(true, true, desc(0, 44100, 32, 2, 3), desc(0, 44100, 32, 2, 1), out),
           QStringList({"Format ID of channels of two files does not match."}));
  QVERIFY(
      combineProblems(true, true, desc(3, 2822400, 1, 2), desc(3, 2822400, 1, 2), out).isEmpty());

  // Path length: a name of NAME_MAX bytes passes, one more does not, and only
  // when nothing else is wrong; the whole path may be far longer.
  const QString deep = "/" + QString(200, 'd') + "/" + QString(200, 'e') + "/";
  const QString p254 = deep + QString(251, 'x') + ".wav", p255 = deep + QString(252, 'x') + ".wav";
  QVERIFY(
      combineProblems(true, true, desc(0, 44100, 16, 2), desc(0, 44100, 16, 2), p254).isEmpty());
  QCOMPARE(combineProblems(true, true, desc(0, 44100, 16, 2), desc(0, 44100, 16, 2), p255),
           QStringList({"The file name would be too long.\nYou can shorten the file name and try "
                        "again,\nor try a location that has a shorter path."}));
  QCOMPARE(combineProblems(false, true, desc(0, 0, 0, 0), desc(0, 44100, 16, 2), p255),
           QStringList({"Head file not selected."}));

  const WriteFormat w = writeFormatFor(desc(2, 5644800, 1, 1, 0));
  QCOMPARE(int(w.channels), 1);
  QCOMPARE(int(w.bitsPerSample), 1);
  QCOMPARE(w.sampleRate, 5644800u);
  QCOMPARE(int(w.notMono), 0);
  QCOMPARE(w.timeReference, uint64_t(0));
}

void TestDialogCombine::nameProposalAndPathLimits() {
  Proposal p = proposeName("/music", "take.1.wav", "take.2.wav");
  QCOMPARE(p.name, QString("take1_take2"));
  QCOMPARE(p.extension, QString(".wav"));
  p = proposeName("/music", "Song.WAV", "other.wav");
  QCOMPARE(p.name, QString("Song_other"));
  QCOMPARE(p.extension, QString(".WAV"));
  QCOMPARE(proposeName("/music", "a.dsf", QString()).name, QString("a"));
  QCOMPARE(baseNameOf("no_dot"), QString("no_dot"));
  QCOMPARE(extensionOf("x.y.DfF"), QString(".DfF"));

  // A long name is cut so that the output path passes COMBINE's check.
  const QString folder = "/" + QString(200, 'd');
  p = proposeName(folder, QString(200, 'h') + ".wav", QString(200, 't') + ".wav");
  const QString full = folder + "/" + p.name + p.extension;
  QCOMPARE(p.name.size() + p.extension.size(), 255);
  QVERIFY(!p.folderTooLong);
  QVERIFY(
      combineProblems(true, true, desc(0, 44100, 16, 2), desc(0, 44100, 16, 2), full).isEmpty());
  // No name fits behind this folder: warned, name left as proposed.
  p = proposeName("/" + QString(260, 'd'), "a.wav", "b.wav");
  QVERIFY(p.folderTooLong);
  QCOMPARE(p.name, QString("a_b"));
}

void TestDialogCombine::extensionsAndRates() {
  QVERIFY(extensionSupported("/x/take.WAV"));
  QVERIFY(extensionSupported("/x/a.b.Dsf"));
  QVERIFY(extensionSupported("/x/c.dff"));
  QVERIFY(extensionSupported("/x/d.FLAC"));
  QVERIFY(!extensionSupported("/x/song.mp3"));
  QVERIFY(!extensionSupported("/x/song.wave"));
  QVERIFY(!extensionSupported("/x/noextension"));
  QVERIFY(rateSupported(2822400));
  QVERIFY(rateSupported(11289600));
  QVERIFY(rateSupported(44100));
  QVERIFY(rateSupported(384000));
  QVERIFY(!rateSupported(32000));
  QVERIFY(!rateSupported(22579200));
  QVERIFY(!rateSupported(1000000));
}

void TestDialogCombine::dropsAndRefusals() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString upper = dir.filePath("take.1.WAV"), tail = dir.filePath("take.2.wav"),
                mp3 = dir.filePath("song.mp3"), slow = dir.filePath("slow.wav");
  QVERIFY(fixtures::write(upper, wav(2, 16, 44100, randomBytes(400, 1))));
  QVERIFY(fixtures::write(tail, wav(2, 16, 44100, randomBytes(400, 2))));
  QVERIFY(fixtures::write(mp3, QByteArray(100, 'x')));
  QVERIFY(fixtures::write(slow, wav(1, 16, 32000, randomBytes(400, 3))));

  DialogCombine dlg;
  dlg.setFolder(dir.path());
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  auto* head = dlg.findChild<labelCombine*>("labelHead");
  auto* tailLabel = dlg.findChild<labelCombine*>("labelTail");
  QVERIFY(head && tailLabel);
  QCOMPARE(head->text(), dropPrompt());

  fixtures::MessageCatcher catcher;
  // Neither file set: both lines in one box.
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_COMPARE(catcher.count(), 1);
  QCOMPARE(catcher.last(),
           QString("Cannot Combine|Head file not selected.\nTail file not selected."));

  dropOn(head, upper);
  QCOMPARE(catcher.count(), 1);
  QCOMPARE(dlg.headPath(), upper);
  QVERIFY(head->text().contains("take.1") || head->text().contains(QChar(0x2026)));
  QCOMPARE(dlg.findChild<QLabel*>("labelFrequency")->text(), QString("Frequency : 44.1kHz"));

  dropOn(tailLabel, mp3);
  QTRY_COMPARE(catcher.count(), 2);
  QCOMPARE(catcher.last(), QString("Cannot Open|song.mp3\nUnsupported audio file."));
  QCOMPARE(tailLabel->text(), dropPrompt());
  QVERIFY(dlg.tailPath().isEmpty());

  dropOn(tailLabel, slow);
  QTRY_COMPARE(catcher.count(), 3);
  QCOMPARE(catcher.last(), QString("Cannot Open|Unsupported sampling frequency."));

  dropOn(tailLabel, tail);
  QCOMPARE(catcher.count(), 3);
  QCOMPARE(dlg.findChild<QLineEdit*>("lineEditFileName")->text(), QString("take1_take2"));
  QCOMPARE(dlg.findChild<QLineEdit*>("lineEditExtension")->text(), QString(".WAV"));
  QCOMPARE(dlg.outputPath(), dir.path() + "/take1_take2.WAV");
}

void TestDialogCombine::combinesFromTheGui_data() {
  QTest::addColumn<int>("format");
  QTest::newRow("wav") << 0;
  QTest::newRow("dsf, head's last block partly filled") << 2;
  QTest::newRow("dff") << 3;
  QTest::newRow("flac, decoded and encoded again") << 4;
}

void TestDialogCombine::combinesFromTheGui() {
  QFETCH(int, format);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const char* ext = format == 0 ? ".wav" : format == 2 ? ".dsf" : format == 3 ? ".dff" : ".flac";
  const QString headPath = dir.filePath(QString("head") + ext),
                tailPath = dir.filePath(QString("tail") + ext);
  QList<QByteArray> headCh, tailCh;
  QByteArray headPcm, tailPcm;
  if (format == 0) {
    headPcm = randomBytes(4000, 10);
    tailPcm = randomBytes(2000, 11);
    QVERIFY(fixtures::write(headPath, wav(2, 16, 44100, headPcm)));
    QVERIFY(fixtures::write(tailPath, wav(2, 16, 44100, tailPcm)));
  } else if (format == 2) {
    headCh = {randomBytes(5000, 12), randomBytes(5000, 13)};  // 904 bytes into block 2
    tailCh = {randomBytes(6000, 14), randomBytes(6000, 15)};
    QVERIFY(fixtures::write(headPath, dsf(headCh)));
    QVERIFY(fixtures::write(tailPath, dsf(tailCh)));
  } else if (format == 3) {
    headPcm = randomBytes(3000, 16);
    tailPcm = randomBytes(1234, 17);
    QVERIFY(fixtures::write(headPath, dff(2, headPcm)));
    QVERIFY(fixtures::write(tailPath, dff(2, tailPcm)));
  } else {
    if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
    headPcm = randomBytes(6 * 5000, 18);  // 24-bit stereo frames
    tailPcm = randomBytes(6 * 1234, 19);
    QVERIFY(fixtures::flac(headPath, wav(2, 24, 96000, headPcm)));
    QVERIFY(fixtures::flac(tailPath, wav(2, 24, 96000, tailPcm)));
  }
  // Read-only sources: they are only read, and the copy must still be writable.
  for (const QString& p : {headPath, tailPath})
    QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
  const QByteArray headSum = sha(headPath), tailSum = sha(tailPath);

  DialogCombine dlg;
  dlg.setFolder(dir.path());
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  fixtures::MessageCatcher catcher;  // a refused drop fails the test, not blocks it
  dropOn(dlg.findChild<labelCombine*>("labelHead"), headPath);
  dropOn(dlg.findChild<labelCombine*>("labelTail"), tailPath);
  QCOMPARE(catcher.texts, QStringList());
  const QString out = dlg.outputPath();
  QCOMPARE(out, dir.path() + "/head_tail" + ext);

  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_VERIFY_WITH_TIMEOUT(catcher.titles.contains("Combine Files"), 20000);
  QCOMPARE(catcher.last(), QString("Combine Files|Combine completed."));
  QVERIFY(!dlg.isVisible());
  QVERIFY(!QFileInfo::exists(dlg.scratchPath()));
  QCOMPARE(sha(headPath), headSum);
  QCOMPARE(sha(tailPath), tailSum);

  const QByteArray result = readFile(out);
  if (format == 0) {
    QCOMPARE(result.mid(44), headPcm + tailPcm);
    QCOMPARE(rdLe(result, 40, 4), uint64_t(6000));
    QCOMPARE(rdLe(result, 4, 4), uint64_t(result.size() - 8));
  } else if (format == 2) {
    const QList<QByteArray> ch = dsfChannels(result);
    QCOMPARE(ch.size(), 2);
    QCOMPARE(ch[0], headCh[0] + tailCh[0]);
    QCOMPARE(ch[1], headCh[1] + tailCh[1]);
    QCOMPARE(rdLe(result, 12, 8), uint64_t(result.size()));
    QCOMPARE(result.size(), 92 + 3 * 8192);
  } else if (format == 4) {
    // Lossless, and the stream's MD5 is that of the joined audio.
    QVERIFY(fixtures::flacTestPasses(out));
    QVERIFY(fixtures::flacSamples(out) == headPcm + tailPcm);
  } else {
    // FVER at 16, PROP at 32, then the DSD chunk.
    const int dataAt = 32 + 12 + int(rdBe(result, 36, 8));
    QCOMPARE(result.mid(dataAt, 4), QByteArray("DSD "));
    QCOMPARE(rdBe(result, dataAt + 4, 8), uint64_t(3000 + 1234));
    QCOMPARE(result.mid(dataAt + 12), headPcm + tailPcm);
    QCOMPARE(rdBe(result, 4, 8), uint64_t(result.size() - 12));
  }
}

// The files' types decide: the same audio as WAV and as FLAC does not combine.
void TestDialogCombine::flacDoesNotCombineWithWav() {
  if (!fixtures::haveFlacTool()) QSKIP("flac is not installed");
  QTemporaryDir dir;
  const QByteArray same = wav(2, 16, 44100, randomBytes(4000, 30));
  QVERIFY(fixtures::write(dir.filePath("a.wav"), same));
  QVERIFY(fixtures::flac(dir.filePath("b.flac"), same));
  DialogCombine dlg;
  dlg.setFolder(dir.path());
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  fixtures::MessageCatcher catcher;
  dropOn(dlg.findChild<labelCombine*>("labelHead"), dir.filePath("b.flac"));
  dropOn(dlg.findChild<labelCombine*>("labelTail"), dir.filePath("a.wav"));
  QCOMPARE(dlg.outputPath(), dir.filePath("b_a.flac"));
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_COMPARE(catcher.count(), 1);
  QCOMPARE(catcher.last(), QString("Cannot Combine|File format of two files does not match."));
}

void TestDialogCombine::overwriteNeedsConfirmationAndSourcesAreNeverTheOutput() {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.wav"), b = dir.filePath("b.wav");
  QVERIFY(fixtures::write(a, wav(1, 16, 48000, randomBytes(200, 20))));
  QVERIFY(fixtures::write(b, wav(1, 16, 48000, randomBytes(200, 21))));
  QVERIFY(fixtures::write(dir.filePath("a_b.wav"), "old"));
  const QByteArray aSum = sha(a);

  DialogCombine dlg;
  dlg.setFolder(dir.path());
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  dropOn(dlg.findChild<labelCombine*>("labelHead"), a);
  dropOn(dlg.findChild<labelCombine*>("labelTail"), b);

  fixtures::MessageCatcher catcher;
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_VERIFY_WITH_TIMEOUT(catcher.titles.contains("Combine Files"), 20000);
  QCOMPARE(catcher.titles.first(), QString("Confirmation"));
  QCOMPARE(catcher.texts.first(), QString("a_b.wav already exists.\nDo you want to overwrite?"));
  QCOMPARE(catcher.last(), QString("Combine Files|Combine completed."));
  QCOMPARE(readFile(dir.filePath("a_b.wav")).size(), 44 + 400);

  // A name that points at the head itself is refused before anything is deleted.
  dlg.show();
  dlg.findChild<QLineEdit*>("lineEditFileName")->setText("a");
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_COMPARE(catcher.titles.last(), QString("Cannot Combine"));
  QCOMPARE(sha(a), aSum);
}

void TestDialogCombine::mainWindowHandsOverTheOpenFile() {
  // The window reads and saves its settings file: keep it in a folder of
  // this test's own, apart from every other test and from the user's.
  QTemporaryDir home;
  QVERIFY(home.isValid());
  qputenv("XDG_DATA_HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  QTemporaryDir dir;
  const QString open = dir.filePath("take.1.wav");
  QVERIFY(fixtures::write(open, wav(2, 24, 96000, randomBytes(600, 30))));
  {
    MainWindow window;
    window.setNeverShowFirstInfo(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!window.sonvex().getAudioFileInformation) QSKIP("libsonvex.so not loaded");
    QVERIFY(window.openAudioFile(open));
    window.findChild<QPushButton*>("pushButton_Combine")->click();
    auto* dlg = window.findChild<DialogCombine*>();
    QVERIFY(dlg);
    QVERIFY(dlg->isVisible());
    QCOMPARE(dlg->headPath(), open);
    QCOMPARE(dlg->findChild<QLabel*>("labelFrequency")->text(), QString("Frequency : 96kHz"));
    QCOMPARE(dlg->findChild<QLineEdit*>("lineEditFileName")->text(), QString("take1"));
    QVERIFY(!dlg->findChild<QLineEdit*>("lineEditFolder")->text().isEmpty());
    // A second COMBINE reuses the same dialog.
    window.findChild<QPushButton*>("pushButton_Combine")->click();
    QCOMPARE(window.findChildren<DialogCombine*>().size(), 1);
  }
  QVERIFY(settingsFilePath().startsWith(home.path()));
}

void TestDialogCombine::headerVariantsCombineAndFailuresSayWhy() {
  QTemporaryDir dir;
  // Another tool's 96 kHz/24-bit file with an extensible header (integer
  // sub-format) and one of ours with the plain PCM tag.
  const QByteArray headPcm = randomBytes(1200, 40), tailPcm = randomBytes(600, 41);
  QByteArray ext("RIFF");
  le(ext, 60 + headPcm.size(), 4);
  ext.append("WAVEfmt ");
  le(ext, 40, 4);
  for (const auto& [v, n] :
       std::initializer_list<std::pair<uint64_t, int>>{{0xFFFE, 2},
                                                       {2, 2},
                                                       {96000, 4},
                                                       {96000 * 6, 4},
                                                       {6, 2},
                                                       {24, 2},
                                                       {22, 2},
                                                       {24, 2},
                                                       {3, 4},
                                                       {1, 2}})  // ... mask, sub-format 1 (PCM)
    le(ext, v, n);
  ext.append(QByteArray::fromHex("000000001000800000AA00389B71"));
  ext.append("data");
  le(ext, headPcm.size(), 4);
  const QString head = dir.filePath("theirs.wav"), tail = dir.filePath("ours.wav");
  QVERIFY(fixtures::write(head, ext + headPcm));
  QVERIFY(fixtures::write(tail, wav(2, 24, 96000, tailPcm)));
  QCOMPARE(sampleKind(head, 0xFFFE, 32), 1u);

  DialogCombine dlg;
  dlg.setFolder(dir.filePath("missing"));
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  dropOn(dlg.findChild<labelCombine*>("labelTail"), tail);
  dropOn(dlg.findChild<labelCombine*>("labelHead"), head);
  fixtures::MessageCatcher catcher;
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_VERIFY_WITH_TIMEOUT(catcher.titles.contains("Combine Files"), 20000);
  QCOMPARE(catcher.last(), "Combine Files|Combine failed.\nThe folder \"" +
                               dir.filePath("missing") +
                               "\" does not exist (No such file or directory).\n[Code = -1]");

  dlg.setFolder(dir.path());
  dlg.findChild<QPushButton*>("pushButton")->click();
  QTRY_COMPARE_WITH_TIMEOUT(catcher.count(), 2, 20000);
  QCOMPARE(catcher.last(), QString("Combine Files|Combine completed."));
  const QByteArray result = readFile(dlg.outputPath());
  QCOMPARE(result.mid(ext.size()), headPcm + tailPcm);
}

QTEST_MAIN(TestDialogCombine)
#include "test_dialogcombine.moc"
