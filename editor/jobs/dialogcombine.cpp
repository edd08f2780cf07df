#include "dialogcombine.h"

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

#include "audiothread.h"
#include "lmeprogressdialog.h"
#include "session.h"
#include "timeformat.h"

namespace combineplan {

QString dropPrompt() { return QStringLiteral("Drop a Sound File Here."); }
QString scratchFileName() { return QStringLiteral("_LumaraEditorRiffTemp.bin"); }

bool extensionSupported(const QString& path) {
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  const QString ext = path.mid(dot + 1).toLower();
  return ext == QLatin1String("wav") || ext == QLatin1String("dsf") || ext == QLatin1String("dff");
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
  const int fixed = folder.size() + 1 + p.extension.size();
  if (fixed + p.name.size() >= kMaxPathLength) {
    const int keep = kMaxPathLength - 1 - fixed;
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
  if (!headSet) lines << QStringLiteral("Head file not selected.");
  if (!tailSet) lines << QStringLiteral("Tail file not selected.");
  if (headSet && tailSet) {
    if (head.fileType != tail.fileType) {
      lines << QStringLiteral("File format of two files does not match.");
    } else {
      if (head.sampleRate != tail.sampleRate)
        lines << QStringLiteral("Sampling frequency of two files does not match.");
      if (head.bitsPerSample != tail.bitsPerSample)
        lines << QStringLiteral("Quantization bit length of two files does not match.");
      if (head.channels != tail.channels)
        lines << QStringLiteral("Num. of channels of two files does not match.");
      if (head.formatTag != tail.formatTag)
        lines << QStringLiteral("Format ID of channels of two files does not match.");
    }
  }
  if (lines.isEmpty() && outputPath.size() >= kMaxPathLength)
    lines << QStringLiteral(
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
  progressDialog =
      new lmeProgressDialog(QStringLiteral("Combining files..."), QString(), 0, 100, this);
  progressDialog->setWindowTitle(QStringLiteral("Combining..."));
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
  setWindowTitle(QStringLiteral("Combine Files"));
  setFixedSize(520, 420);
  const auto label = [this](const QString& text, int x, int y, int w, int h) {
    auto* l = new QLabel(text, this);
    l->setGeometry(x, y, w, h);
    return l;
  };
  const auto button = [this](const QString& name, const QString& text, int x, int y, int w, int h) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
  };
  QLabel* title = label(QStringLiteral("Combine Files"), 20, 10, 480, 24);
  QFont big = title->font();
  big.setPixelSize(17);
  title->setFont(big);

  label(QStringLiteral("Head File"), 20, 44, 100, 18);
  headLabel = new labelCombine(this);
  headLabel->setObjectName(QStringLiteral("labelHead"));
  headLabel->setGeometry(20, 64, 390, 44);
  label(QStringLiteral("Tail File"), 20, 116, 100, 18);
  tailLabel = new labelCombine(this);
  tailLabel->setObjectName(QStringLiteral("labelTail"));
  tailLabel->setGeometry(20, 136, 390, 44);
  for (labelCombine* l : {headLabel, tailLabel}) {
    l->setText(dropPrompt());
    l->setAlignment(Qt::AlignCenter);
    l->setFrameStyle(QFrame::Box | QFrame::Plain);
  }
  button(QStringLiteral("pushButtonSelectHead"), QStringLiteral("Select"), 420, 72, 80, 28);
  button(QStringLiteral("pushButtonSelectTail"), QStringLiteral("Select"), 420, 144, 80, 28);

  label(QStringLiteral("Combined File"), 20, 196, 200, 18);
  labelFrequency = label(QStringLiteral("Frequency :"), 40, 218, 150, 18);
  labelFrequency->setObjectName(QStringLiteral("labelFrequency"));
  labelBit = label(QStringLiteral("Bit :"), 200, 218, 120, 18);
  labelBit->setObjectName(QStringLiteral("labelBit"));
  labelChannel = label(QStringLiteral("Channel :"), 330, 218, 170, 18);
  labelChannel->setObjectName(QStringLiteral("labelChannel"));

  label(QStringLiteral("File Name :"), 20, 252, 90, 22);
  editFileName = new QLineEdit(this);
  editFileName->setObjectName(QStringLiteral("lineEditFileName"));
  editFileName->setGeometry(110, 252, 300, 22);
  editExtension = new QLineEdit(this);
  editExtension->setObjectName(QStringLiteral("lineEditExtension"));
  editExtension->setGeometry(420, 252, 80, 22);
  editExtension->setReadOnly(true);

  label(QStringLiteral("Folder :"), 20, 290, 90, 22);
  editFolder = new QLineEdit(this);
  editFolder->setObjectName(QStringLiteral("lineEditFolder"));
  editFolder->setGeometry(110, 290, 300, 22);
  button(QStringLiteral("pushSelDir"), QStringLiteral("Select\nFolder"), 420, 282, 80, 38);

  button(QStringLiteral("pushButton"), QStringLiteral("COMBINE"), 200, 360, 120, 34);
}

void DialogCombine::setHeadFile(const QString& fileName, const QString& path, uint32_t sampleRate,
                                uint32_t bitsPerSample, uint32_t channels, uint32_t fileType,
                                uint32_t formatTag) {
  headDesc = SourceDescription{};
  headDesc.sampleRate = sampleRate;
  headDesc.bitsPerSample = bitsPerSample;
  headDesc.channels = channels;
  headDesc.fileType = fileType;
  headDesc.formatTag = formatTag;
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

QString DialogCombine::outputPath() const {
  return editFolder->text() + QLatin1Char('/') + editFileName->text() + editExtension->text();
}

QString DialogCombine::scratchPath() const {
  return editFolder->text() + QLatin1Char('/') + scratchFileName();
}

bool DialogCombine::isCombining() const { return thread->isRunning(); }

void DialogCombine::warn(const QString& title, const QString& text) {
  QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

int DialogCombine::loadDescription(const QString& path, SourceDescription* desc) {
  if (path.isEmpty()) return 0;
  const QString name = QFileInfo(path).fileName();
  if (!extensionSupported(path)) {
    warn(QStringLiteral("Cannot Open"), name + QStringLiteral("\nUnsupported audio file."));
    return -1;
  }
  AudioFileInfo info{};
  const QString native = QDir::toNativeSeparators(path);
  const int r = sonvex->probe(native, &info);
  if (r < 0) {
    warn(QStringLiteral("Cannot Open"), name + QStringLiteral("\nUnsupported audio file."));
    return -2;
  }
  if (!rateSupported(info.sampleRate)) {
    warn(QStringLiteral("Cannot Open"), QStringLiteral("Unsupported sampling frequency."));
    return -3;
  }
  *desc = describeSource(info);
  return 1;
}

void DialogCombine::showFileName(labelCombine* label) {
  const QString name = QFileInfo(label->filePath()).fileName();
  label->setText(label->fontMetrics().elidedText(name, Qt::ElideMiddle, label->width() - 8));
  label->setToolTip(label->filePath());
}

void DialogCombine::showDescription(const SourceDescription& desc) {
  labelFrequency->setText(QStringLiteral("Frequency : ") + rateLabelText(desc.sampleRate));
  labelBit->setText(QStringLiteral("Bit : ") + bitsLabelText(desc.bitsPerSample));
  labelChannel->setText(QStringLiteral("Channel : ") + channelsLabelText(desc.channels));
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
  showDescription(loaded);
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
    warn(QStringLiteral("Warning"),
         QStringLiteral(
             "Directory name is too long.\nPlease try a location that has a shorter path"));
    return;
  }
  editFileName->setText(p.name);
  editExtension->setText(p.extension);
}

bool DialogCombine::pickFile(labelCombine* label) {
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Select Audio File"), QDir::currentPath(),
      QStringLiteral("Supported files (*.wav *.dsf *.dff);;All files (*.*)"));
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
  const QString dir = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select Folder to Export"), QDir::currentPath());
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
    warn(QStringLiteral("Cannot Combine"), problems.join(QLatin1Char('\n')));
    return;
  }
  // The user's own files are never the output.
  const QString canonicalOut = QFileInfo(output).absoluteFilePath();
  if (canonicalOut == QFileInfo(headPath()).absoluteFilePath() ||
      canonicalOut == QFileInfo(tailPath()).absoluteFilePath()) {
    warn(QStringLiteral("Cannot Combine"),
         QStringLiteral("The combined file cannot replace one of the two files."));
    return;
  }
  const QString scratch = scratchPath();
  if (QFileInfo::exists(output)) {
    const auto answer =
        QMessageBox::question(this, QStringLiteral("Confirmation"),
                              editFileName->text() + editExtension->text() +
                                  QStringLiteral(" already exists.\nDo you want to overwrite?"),
                              QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) return;
    QFile::remove(output);
  }
  QFile::remove(scratch);

  // Start the combine.
  combineProgress = 0;
  combineFormat = writeFormatFor(headDesc);
  runningScratch = scratch;
  progressDialog->setLabelText(QStringLiteral("Combining files..."));
  progressDialog->setValue(progressDialog->minimum());
  progressDialog->show();
  thread->setJob(headPath(), output, tailPath(), scratch, int(headDesc.fileType), combineFormat,
                 &combineProgress, sonvex->combineFiles);
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
  QMessageBox box(status >= 0 ? QMessageBox::Information : QMessageBox::Warning,
                  QStringLiteral("Combine Files"),
                  status >= 0 ? QStringLiteral("Combine completed.")
                              : QStringLiteral("Combine failed.\n[Code = %1]").arg(status),
                  QMessageBox::Ok, this);
  box.exec();
  if (status >= 0) hide();
}
