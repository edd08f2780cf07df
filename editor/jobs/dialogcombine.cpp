#include "dialogcombine.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "audiothread.h"
#include "destination.h"
#include "lmeprogressdialog.h"
#include "messagebox.h"
#include "session.h"
#include "timeformat.h"

namespace combineplan {

QString dropPrompt() {
  return QCoreApplication::translate("DialogCombine", "Drop a Sound File Here.");
}
QString scratchFileName() { return QStringLiteral("_LumaraEditorRiffTemp.bin"); }

bool extensionSupported(const QString& path) {
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  const QString ext = path.mid(dot + 1).toLower();
  return ext == QLatin1String("wav") || ext == QLatin1String("dsf") ||
         ext == QLatin1String("dff") || ext == QLatin1String("flac");
}

bool rateSupported(uint32_t rate) {
  return (rate >= 44100 && rate <= 384000) || (rate >= 2822400 && rate <= 11289600);
}

QString baseNameOf(const QString& fileName) {
  QStringList parts = fileName.split(QLatin1Char('.'));
  if (parts.size() > 1) parts.removeLast();
  return parts.join(QString());
}

QString extensionOf(const QString& fileName) {
  const QStringList parts = fileName.split(QLatin1Char('.'));
  return parts.size() > 1 ? QLatin1Char('.') + parts.last() : QString();
}

uint32_t sampleKind(const QString& path, uint32_t formatTag, uint32_t bitsPerSample) {
  constexpr uint32_t kExtensible = 0xFFFE;
  if (formatTag != kExtensible) return formatTag;
  // Below 32 bits an extensible file can only hold integers.
  if (bitsPerSample < 32) return 1;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return formatTag;
  const QByteArray head = file.read(64 * 1024);
  const auto le32 = [&head](int at) {
    return uint32_t(uint8_t(head[at])) | uint32_t(uint8_t(head[at + 1])) << 8 |
           uint32_t(uint8_t(head[at + 2])) << 16 | uint32_t(uint8_t(head[at + 3])) << 24;
  };
  // RIFF and RF64 list their chunks from byte 12; the sub-format GUID starts
  // 24 bytes into an extensible fmt body, its first two bytes the tag.
  for (int at = 12; at + 8 <= head.size();) {
    const uint32_t size = le32(at + 4);
    if (head.mid(at, 4) == "fmt ") {
      if (size < 40 || at + 8 + 26 > head.size()) return formatTag;
      return uint32_t(uint8_t(head[at + 8 + 24])) | uint32_t(uint8_t(head[at + 8 + 25])) << 8;
    }
    if (size > uint32_t(head.size())) break;
    at += 8 + int(size) + int(size & 1);
  }
  return formatTag;
}

Proposal proposeName(const QString& folder, const QString& headFileName,
                     const QString& tailFileName) {
  Proposal p;
  const QString head = baseNameOf(headFileName), tail = baseNameOf(tailFileName);
  if (headFileName.isEmpty())
    p.name = tail;
  else if (tailFileName.isEmpty())
    p.name = head;
  else
    p.name = head + QLatin1Char('_') + tail;
  p.extension = extensionOf(headFileName.isEmpty() ? tailFileName : headFileName);
  // Shorten so that the path COMBINE checks (with its separator) is accepted.
  if (destination::pathTooLong(folder + QLatin1Char('/') + p.name + p.extension)) {
    const int keep = destination::longestNameThatFits(folder, p.name, p.extension);
    if (keep >= 1)
      p.name.truncate(keep);
    else
      p.folderTooLong = true;
  }
  return p;
}

QStringList combineProblems(bool headSet, bool tailSet, const SourceDescription& head,
                            const SourceDescription& tail, const QString& outputPath) {
  QStringList lines;
  if (!headSet) lines << QCoreApplication::translate("DialogCombine", "Head file not selected.");
  if (!tailSet) lines << QCoreApplication::translate("DialogCombine", "Tail file not selected.");
  if (headSet && tailSet) {
    if (head.fileType != tail.fileType) {
      lines << QCoreApplication::translate("DialogCombine",
                                           "File format of two files does not match.");
    } else {
      if (head.sampleRate != tail.sampleRate)
        lines << QCoreApplication::translate("DialogCombine",
                                             "Sampling frequency of two files does not match.");
      if (head.bitsPerSample != tail.bitsPerSample)
        lines << QCoreApplication::translate(
            "DialogCombine", "Quantization bit length of two files does not match.");
      if (head.channels != tail.channels)
        lines << QCoreApplication::translate("DialogCombine",
                                             "Num. of channels of two files does not match.");
      if (head.formatTag != tail.formatTag)
        lines << QCoreApplication::translate("DialogCombine",
                                             "Format ID of channels of two files does not match.");
    }
  }
  if (lines.isEmpty() && destination::pathTooLong(outputPath))
    lines << QCoreApplication::translate(
        "DialogCombine",
        "The file name would be too long.\nYou can shorten the file name and try again,\nor try a "
        "location that has a shorter path.");
  return lines;
}

WriteFormat writeFormatFor(const SourceDescription& head) {
  WriteFormat w{};
  w.channels = uint16_t(head.channels);
  w.bitsPerSample = uint16_t(head.bitsPerSample);
  w.sampleRate = head.sampleRate;
  w.notMono = head.channels == 1 ? 0 : 1;
  w.timeReference = 0;
  return w;
}

}  // namespace combineplan

using namespace combineplan;

// ---------------------------------------------------------------------------

labelCombine::labelCombine(QWidget* parent) : QLabel(parent) { setAcceptDrops(true); }

void labelCombine::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) event->acceptProposedAction();
}

void labelCombine::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty()) return;
  event->acceptProposedAction();
  path = urls.first().toLocalFile();
  emit dropedFile();
}

// ---------------------------------------------------------------------------

DialogCombine::DialogCombine(QWidget* parent, const SonvexApi& api)
    : QDialog(parent), sonvex(&api) {
  buildUi();
  QMetaObject::connectSlotsByName(this);

  thread = new combineThread(this);
  timer = new QTimer(this);
  progressDialog = new lmeProgressDialog(tr("Combining files..."), QString(), 0, 100, this);
  progressDialog->setWindowTitle(tr("Combining..."));
  progressDialog->setCancelButton(nullptr);
  progressDialog->setAutoReset(false);
  progressDialog->setAutoClose(false);
  progressDialog->reset();
  progressDialog->hide();
  // Escape and the window manager reject it; it comes straight back.
  connect(progressDialog, &QDialog::rejected, progressDialog, &QWidget::show);

  connect(headLabel, &labelCombine::dropedFile, this, &DialogCombine::dropedToHeadFile);
  connect(tailLabel, &labelCombine::dropedFile, this, &DialogCombine::dropedToTailFile);
  connect(thread, &combineThread::allTransactionsDone_, this, &DialogCombine::combineFinished);
  connect(timer, &QTimer::timeout, this, &DialogCombine::takeSeveralHundredMili);
}

DialogCombine::~DialogCombine() {
  // A combine cannot be aborted; let it end before its buffers go.
  thread->wait();
}

void DialogCombine::buildUi() {
  setWindowTitle(tr("Combine Files"));
  setFixedSize(520, 392);
  const auto label = [this](const QString& text, int x, int y, int w, int h) {
    auto* l = new QLabel(text, this);
    l->setGeometry(x, y, w, h);
    return l;
  };
  // Section headings as the main window's: small grey capitals.
  const auto heading = [&label](const QString& text, int y) {
    QLabel* l = label(text.toUpper(), 20, y, 300, 18);
    l->setProperty("heading", true);
  };
  const auto button = [this](const QString& name, const QString& text, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
  };

  heading(tr("Head File"), 16);
  headLabel = new labelCombine(this);
  headLabel->setObjectName(QStringLiteral("labelHead"));
  headLabel->setGeometry(20, 38, 390, 40);
  heading(tr("Tail File"), 90);
  tailLabel = new labelCombine(this);
  tailLabel->setObjectName(QStringLiteral("labelTail"));
  tailLabel->setGeometry(20, 112, 390, 40);
  for (labelCombine* l : {headLabel, tailLabel}) {
    l->setText(dropPrompt());
    l->setAlignment(Qt::AlignCenter);
    l->setProperty("dropArea", true);
  }
  button(QStringLiteral("pushButtonSelectHead"), tr("Select"), 420, 44, 80, 28);
  button(QStringLiteral("pushButtonSelectTail"), tr("Select"), 420, 118, 80, 28);

  heading(tr("Combined File"), 170);
  labelFrequency = label(tr("Frequency :"), 20, 192, 170, 20);
  labelFrequency->setObjectName(QStringLiteral("labelFrequency"));
  labelBit = label(tr("Bit :"), 200, 192, 120, 20);
  labelBit->setObjectName(QStringLiteral("labelBit"));
  labelChannel = label(tr("Channel :"), 330, 192, 170, 20);
  labelChannel->setObjectName(QStringLiteral("labelChannel"));

  label(tr("File Name :"), 20, 230, 86, 24);
  editFileName = new QLineEdit(this);
  editFileName->setObjectName(QStringLiteral("lineEditFileName"));
  editFileName->setGeometry(110, 230, 300, 24);
  editExtension = new QLineEdit(this);
  editExtension->setObjectName(QStringLiteral("lineEditExtension"));
  editExtension->setGeometry(420, 230, 80, 24);
  editExtension->setReadOnly(true);

  label(tr("Folder :"), 20, 274, 86, 24);
  editFolder = new QLineEdit(this);
  editFolder->setObjectName(QStringLiteral("lineEditFolder"));
  editFolder->setGeometry(110, 274, 300, 24);
  button(QStringLiteral("pushSelDir"), tr("Select\nFolder"), 420, 267, 80, 38);

  QPushButton* close = button(QStringLiteral("pushClose"), tr("CLOSE"), 290, 340, 100, 30);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  button(QStringLiteral("pushButton"), tr("COMBINE"), 400, 340, 100, 30);
}

void DialogCombine::setHeadFile(const QString& fileName, const QString& path, uint32_t sampleRate,
                                uint32_t bitsPerSample, uint32_t channels, uint32_t fileType,
                                uint32_t formatTag) {
  headDesc = SourceDescription{};
  headDesc.sampleRate = sampleRate;
  headDesc.bitsPerSample = bitsPerSample;
  headDesc.channels = channels;
  headDesc.fileType = fileType;
  headDesc.formatTag = sampleKind(path, formatTag, bitsPerSample);
  headLabel->setFilePath(path);
  headShownPath = path;
  headLabel->setFont(font());
  headLabel->setText(fileName);
  showFileName(headLabel);
  showDescription(headDesc);
  refreshProposedName();
}

void DialogCombine::takeHeadFrom(const Session& session) {
  if (!session.isFileOpen()) return;
  const QString path = QString::fromStdU16String(session.filePath());
  const AudioFileInfo& info = session.fileInfo();
  setHeadFile(QFileInfo(path).fileName(), path, info.sampleRate, info.bitsPerSample, info.channels,
              info.fileType, info.formatTag);
}

void DialogCombine::setFolder(const QString& dir) {
  editFolder->setText(dir.isEmpty() ? QDir::currentPath() : dir);
  refreshProposedName();
}

void DialogCombine::setFlacLevel(int level) { flacLevel_ = std::clamp(level, 0, 8); }

QString DialogCombine::outputPath() const {
  return editFolder->text() + QLatin1Char('/') + editFileName->text() + editExtension->text();
}

QString DialogCombine::scratchPath() const {
  return editFolder->text() + QLatin1Char('/') + scratchFileName();
}

bool DialogCombine::isCombining() const { return thread->isRunning(); }

void DialogCombine::warn(const QString& title, const QString& text) {
  showMessage(this, QMessageBox::Warning, title, text);
}

int DialogCombine::loadDescription(const QString& path, SourceDescription* desc) {
  if (path.isEmpty()) return 0;
  const QString name = QFileInfo(path).fileName();
  if (!extensionSupported(path)) {
    warn(tr("Cannot Open"), name + QLatin1Char('\n') + tr("Unsupported audio file."));
    return -1;
  }
  AudioFileInfo info{};
  const QString native = QDir::toNativeSeparators(path);
  const int r = sonvex->probe(native, &info);
  if (r < 0) {
    warn(tr("Cannot Open"), name + QLatin1Char('\n') + tr("Unsupported audio file."));
    return -2;
  }
  if (!rateSupported(info.sampleRate)) {
    warn(tr("Cannot Open"), tr("Unsupported sampling frequency."));
    return -3;
  }
  *desc = describeSource(info);
  // Compared by what the samples are, not how the header spells them.
  desc->formatTag = sampleKind(path, info.formatTag, info.bitsPerSample);
  return 1;
}

void DialogCombine::showFileName(labelCombine* label) {
  const QString name = QFileInfo(label->filePath()).fileName();
  label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, label->width() - 8));
  label->setToolTip(label->filePath());
}

void DialogCombine::showDescription(const SourceDescription& desc) {
  labelFrequency->setText(tr("Frequency : ") + rateLabelText(desc.sampleRate));
  labelBit->setText(tr("Bit : ") + bitsLabelText(desc.bitsPerSample));
  labelChannel->setText(tr("Channel : ") + channelsLabelText(desc.channels));
}

void DialogCombine::fileSet(labelCombine* label, SourceDescription* desc) {
  SourceDescription loaded{};
  if (loadDescription(label->filePath(), &loaded) != 1) {
    // Refused: the label keeps showing (and naming) what it showed before.
    label->setFilePath(label == headLabel ? headShownPath : tailShownPath);
    return;
  }
  *desc = loaded;
  (label == headLabel ? headShownPath : tailShownPath) = label->filePath();
  label->setFont(font());
  showFileName(label);
  // The head decides the result's format.
  if (label == headLabel) showDescription(loaded);
  refreshProposedName();
}

void DialogCombine::dropedToHeadFile() { fileSet(headLabel, &headDesc); }
void DialogCombine::dropedToTailFile() { fileSet(tailLabel, &tailDesc); }

void DialogCombine::refreshProposedName() {
  const bool headSet = headLabel->text() != dropPrompt();
  const bool tailSet = tailLabel->text() != dropPrompt();
  if (!headSet && !tailSet) return;
  const Proposal p = proposeName(editFolder->text(),
                                 headSet ? QFileInfo(headLabel->filePath()).fileName() : QString(),
                                 tailSet ? QFileInfo(tailLabel->filePath()).fileName() : QString());
  if (p.folderTooLong) {
    warn(tr("Warning"),
         tr("Directory name is too long.\nPlease try a location that has a shorter path"));
    return;
  }
  editFileName->setText(p.name);
  editExtension->setText(p.extension);
}

bool DialogCombine::pickFile(labelCombine* label) {
  const QString path = QFileDialog::getOpenFileName(
      this, tr("Select Audio File"), QDir::currentPath(),
      tr("Supported files (*.wav *.dsf *.dff *.flac);;All files (*.*)"));
  if (path.isEmpty()) return false;
  QDir::setCurrent(QFileInfo(path).absolutePath());
  label->setFilePath(path);
  return true;
}

void DialogCombine::on_pushButtonSelectHead_clicked() {
  if (pickFile(headLabel)) dropedToHeadFile();
}

void DialogCombine::on_pushButtonSelectTail_clicked() {
  if (pickFile(tailLabel)) dropedToTailFile();
}

void DialogCombine::on_pushSelDir_clicked() {
  const QString dir =
      QFileDialog::getExistingDirectory(this, tr("Select Folder to Export"), QDir::currentPath());
  if (dir.isEmpty()) return;
  QDir::setCurrent(dir);
  editFolder->setText(dir);
  refreshProposedName();
}

void DialogCombine::on_pushButton_clicked() {
  if (isCombining()) return;
  const QString output = outputPath();
  const QStringList problems =
      combineProblems(headLabel->text() != dropPrompt(), tailLabel->text() != dropPrompt(),
                      headDesc, tailDesc, output);
  if (!problems.isEmpty()) {
    warn(tr("Cannot Combine"), problems.join(QLatin1Char('\n')));
    return;
  }
  // The user's own files are never the output.
  const QString canonicalOut = QFileInfo(output).absoluteFilePath();
  if (canonicalOut == QFileInfo(headPath()).absoluteFilePath() ||
      canonicalOut == QFileInfo(tailPath()).absoluteFilePath()) {
    warn(tr("Cannot Combine"), tr("The combined file cannot replace one of the two files."));
    return;
  }
  const QString scratch = scratchPath();
  if (QFileInfo::exists(output)) {
    const auto answer = showMessage(this, QMessageBox::Question, tr("Confirmation"),
                                    tr("%1 already exists.\nDo you want to overwrite?")
                                        .arg(editFileName->text() + editExtension->text()),
                                    QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) return;
    QFile::remove(output);
  }
  QFile::remove(scratch);

  // Start the combine.
  combineProgress = 0;
  combineFormat = writeFormatFor(headDesc);
  runningScratch = scratch;
  runningOutput = output;
  progressDialog->setLabelText(tr("Combining files..."));
  progressDialog->setValue(progressDialog->minimum());
  progressDialog->show();
  thread->setJob(headPath(), output, tailPath(), scratch, int(headDesc.fileType), combineFormat,
                 &combineProgress, *sonvex, flacLevel_);
  timer->start(200);
  thread->start();
  thread->setPriority(QThread::NormalPriority);
}

void DialogCombine::takeSeveralHundredMili() {
  progressDialog->setValue(__atomic_load_n(&combineProgress, __ATOMIC_RELAXED));
}

void DialogCombine::combineFinished(int status) {
  thread->wait();
  timer->stop();
  progressDialog->hide();
  // The library deletes it; a combine that never reached the library must
  // not leave one behind either.
  if (!runningScratch.isEmpty()) QFile::remove(runningScratch);
  showMessage(this, status >= 0 ? QMessageBox::Information : QMessageBox::Warning,
              tr("Combine Files"),
              status >= 0 ? tr("Combine completed.")
                          : destination::failureText(tr("Combine failed."), runningOutput, status));
  if (status >= 0) hide();
}
