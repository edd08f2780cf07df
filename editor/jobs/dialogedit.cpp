#include "dialogedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "classsonvex.h"
#include "destination.h"
#include "eqsettings.h"
#include "lmeprogressdialog.h"
#include "messagebox.h"
#include "session.h"
#include "timeformat.h"

namespace exportplan {

const std::vector<FormatChoice>& formatChoices() {
  // FLAC comes last: the settings file keeps the index.
  static const std::vector<FormatChoice> formats = {{"WAV(PCM)", kFileTypeWav, ".wav"},
                                                    {"DSDIFF(DSD)", kFileTypeDsdiff, ".dff"},
                                                    {"DSF(DSD)", kFileTypeDsf, ".dsf"},
                                                    {"FLAC", kFileTypeFlac, ".flac"}};
  return formats;
}

const FormatChoice& formatForIndex(int index) {
  const auto& f = formatChoices();
  return (index > 0 && index < int(f.size())) ? f[size_t(index)] : f[0];
}

bool isDsdType(int fileType) { return fileType == kFileTypeDsf || fileType == kFileTypeDsdiff; }

namespace {

const std::vector<RateChoice>& pcmRates() {
  static const std::vector<RateChoice> rates = {
      {"44.1kHz", kRate44100, 44100, "_44k"},     {"48kHz", kRate48000, 48000, "_48k"},
      {"88.2kHz", kRate88200, 88200, "_88k"},     {"96kHz", kRate96000, 96000, "_96k"},
      {"176.4kHz", kRate176400, 176400, "_176k"}, {"192kHz", kRate192000, 192000, "_192k"},
      {"352.8kHz", kRate352800, 352800, "_352k"}, {"384kHz", kRate384000, 384000, "_384k"}};
  return rates;
}

const std::vector<RateChoice>& dsdRates() {
  static const std::vector<RateChoice> rates = {{"2.8MHz", kRateDsd64, 2822400, "_2.8M"},
                                                {"5.6MHz", kRateDsd128, 5644800, "_5.6M"},
                                                {"11.2MHz", kRateDsd256, 11289600, "_11.2M"}};
  return rates;
}

}  // namespace

const std::vector<RateChoice>& ratesFor(int fileType) {
  return isDsdType(fileType) ? dsdRates() : pcmRates();
}

const std::vector<BitChoice>& bitsFor(int fileType) {
  static const std::vector<BitChoice> pcm = {{"16bit", 16}, {"24bit", 24}, {"32bit Float", 32}};
  static const std::vector<BitChoice> integer = {{"16bit", 16}, {"24bit", 24}};
  static const std::vector<BitChoice> dsd = {{"1bit", 1}};
  if (fileType == kFileTypeFlac) return integer;  // FLAC holds integers only
  return isDsdType(fileType) ? dsd : pcm;
}

const RateChoice& rateForText(const QString& text) {
  for (const auto* list : {&pcmRates(), &dsdRates()})
    for (const RateChoice& r : *list)
      if (text == QLatin1String(r.label)) return r;
  return pcmRates()[0];
}

int bitsForText(const QString& text) {
  for (int type : {kFileTypeWav, kFileTypeDsf})
    for (const BitChoice& b : bitsFor(type))
      if (text == QLatin1String(b.label)) return b.bits;
  return 16;
}

QString baseNameOf(const QString& fileName) {
  const QString name = fileName.section(QLatin1Char('/'), -1);
  QStringList parts = name.split(QLatin1Char('.'));
  parts.removeLast();
  return parts.join(QString());
}

EditRange wholeFile(uint64_t totalFrames) {
  EditRange r;
  r.outFrames = int64_t(std::min<uint64_t>(totalFrames, uint64_t(INT64_MAX)));
  return r;
}

int64_t shortFadeFrames(uint32_t sourceRate, bool apply) {
  return apply ? int64_t(double(sourceRate) * 0.1) : 0;
}

int64_t toOutputFrames(int64_t x, uint32_t exportRate, uint32_t sourceRate) {
  if (sourceRate == 0) return 0;
  return int64_t(__int128(x) * exportRate / sourceRate);
}

void buildEnvelope(LevelPoint* p, const EditRange& edit, int64_t shortFade, uint32_t exportRate,
                   uint32_t sourceRate) {
  int64_t fadeIn = std::max(edit.fadeInFrames, shortFade);
  int64_t fadeOut = std::max(edit.fadeOutFrames, shortFade);
  // Fades longer than the range would put the fade-out's start before the
  // fade-in's end; share the range between them instead.
  const int64_t span = std::max<int64_t>(edit.outFrames - edit.inFrames, 0);
  if (fadeIn + fadeOut > span) {
    const int64_t total = fadeIn + fadeOut;
    fadeIn = int64_t(__int128(fadeIn) * span / total);
    fadeOut = span - fadeIn;
  }
  auto out = [&](int64_t x) { return toOutputFrames(x, exportRate, sourceRate); };
  const double g = edit.gain;
  const int64_t inOut = out(edit.inFrames), outOut = out(edit.outFrames);
  const int64_t pos[5] = {0, inOut, inOut + out(fadeIn), outOut - out(fadeOut), outOut};
  const double level[5] = {0.0, 0.0, g, g, 0.0};
  const int32_t shape[5] = {0, 1, 0, -1, 0};
  for (int i = 0; i < 5; ++i) {
    p[i] = LevelPoint{pos[i], level[i], 0.0, shape[i], 0};
  }
  // A ramp of no length is a step: its increment is the whole difference.
  p[1].increment = pos[2] == pos[1] ? g : g / double(pos[2] - pos[1]);
  p[3].increment = pos[4] == pos[3] ? -g : -g / double(pos[4] - pos[3]);
  p[5] = LevelPoint{INT64_MAX, 0.0, 0.0, 0, 0};
}

bool envelopeChangesLevel(const LevelPoint* p, int count) {
  for (int i = 0; i < count && p[i].position != INT64_MAX && p[i].position >= 0; ++i) {
    if (p[i].level != 0.0 && p[i].level != 1.0) return true;
    if (i > 0 && p[i].level != p[i - 1].level && p[i].position != p[i - 1].position &&
        p[i - 1].shape != 0)
      return true;
  }
  return false;
}

JobRequest buildRequest(const QString& destination, const QString& source,
                        const ExportChoice& choice, uint32_t sourceChannels, const EditRange& edit,
                        EqSettings* eq) {
  JobRequest r;
  r.destinationPath = destination.toStdU16String();
  r.sourcePath = source.toStdU16String();
  r.format.rateIndex = choice.rateCode;
  r.format.fileType = choice.fileType;
  r.format.holdInterpolation = 0;
  r.format.bitsPerSample = choice.bits;
  r.format.unused = int32_t(sourceChannels);
  r.format.progress = nullptr;  // the job thread points it at its counter
  r.format.channels = 2;
  r.format.filterMethod = 0;
  // A mono source goes to both output channels rather than leaving the right
  // one silent.
  if (sourceChannels == 1)
    r.matrix = ChannelMatrix{{1.0, 1.0, 0.0, 0.0}};
  else
    r.matrix = ChannelMatrix{{1.0, 0.0, 0.0, 1.0}};
  r.sourceEnabled[0] = 1;
  r.range.statusWord = kConvertExportMode;
  r.range.startFrame = edit.inFrames;
  r.range.endFrame = edit.outFrames;
  r.range.eq = eq;
  r.range.levelActive = 0;
  return r;
}

Outcome classify(int status) {
  if (status >= 0) return Outcome::Completed;
  if (status == kConvertStoppedDsd || status == kConvertStoppedPcm) return Outcome::Aborted;
  return Outcome::Failed;
}

QString resultText(int status) {
  switch (classify(status)) {
    case Outcome::Completed:
      return QCoreApplication::translate("DialogEdit", "Export completed.");
    case Outcome::Aborted:
      return QCoreApplication::translate("DialogEdit", "Export aborted.");
    case Outcome::Failed:
      break;
  }
  return QCoreApplication::translate("DialogEdit", "Export failed.") + QLatin1Char('\n') +
         QCoreApplication::translate("DialogEdit", "[Code = %1]").arg(status);
}

bool pathTooLong(const QString& path) { return destination::pathTooLong(path); }

QString resultMessage(int status, const QString& destinationPath) {
  switch (classify(status)) {
    case Outcome::Completed:
      return resultText(status);
    case Outcome::Aborted:
      // The library finalises what it wrote before the stop.
      if (!QFileInfo::exists(destinationPath)) return resultText(status);
      return resultText(status) + QLatin1Char('\n') +
             QCoreApplication::translate("DialogEdit", "The part exported so far was kept in\n%1")
                 .arg(QDir::toNativeSeparators(destinationPath));
    case Outcome::Failed:
      break;
  }
  return destination::failureText(QCoreApplication::translate("DialogEdit", "Export failed."),
                                  destinationPath, status);
}

}  // namespace exportplan

DialogEdit::DialogEdit(QWidget* parent, const SonvexApi& api) : QDialog(parent), sonvex(&api) {
  setObjectName(QStringLiteral("DialogEdit"));
  buildUi();

  jobThread = new audioThread(this, api);
  connect(jobThread, &audioThread::transactionStarted_, this, &DialogEdit::transactionStarted,
          Qt::QueuedConnection);
  connect(jobThread, &audioThread::allTransactionsDone_, this, &DialogEdit::allTransactionsDone,
          Qt::QueuedConnection);

  progressDialog = new lmeProgressDialog(QString(), tr("Abort"), 0, 100, this);
  progressDialog->setObjectName(QStringLiteral("progressExport"));
  progressDialog->setWindowTitle(tr("Exporting..."));
  progressDialog->reset();  // stops Qt's show-after-a-while timer: hidden until a job runs
  progressDialog->hide();
  connect(progressDialog, &QProgressDialog::canceled, this, &DialogEdit::cancelExporting);

  timer = new QTimer(this);
  timer->setInterval(200);
  connect(timer, &QTimer::timeout, this, &DialogEdit::takeSeveralHundredMili);

  QMetaObject::connectSlotsByName(this);
  on_BounceFormat_currentIndexChanged(comboFormat->currentIndex());
}

DialogEdit::~DialogEdit() {
  setSession(nullptr);
  timer->stop();
  delete jobThread;  // aborts a running export and waits for it
  jobThread = nullptr;
}

void DialogEdit::buildUi() {
  setWindowTitle(tr("Export File"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(20, 16, 20, 16);
  grid->setHorizontalSpacing(10);
  grid->setColumnStretch(1, 1);
  int row = 0;
  // Section headings as the main window's: small grey capitals.
  auto heading = [&](const QString& text) {
    auto* l = new QLabel(text.toUpper(), this);
    l->setProperty("heading", true);
    if (row > 0) grid->setRowMinimumHeight(row++, 8);
    grid->addWidget(l, row++, 0, 1, 3);
  };
  auto field = [&](const QString& caption, QWidget* w, QWidget* extra = nullptr) {
    grid->addWidget(new QLabel(caption, this), row, 0);
    grid->addWidget(w, row, 1, 1, extra ? 1 : 2);
    if (extra) grid->addWidget(extra, row, 2);
    ++row;
  };
  auto named = [this](QLabel* l, const char* name) {
    l->setObjectName(QLatin1String(name));
    l->setParent(this);
    return l;
  };

  heading(tr("Original File"));
  labelOrgFileName = named(new QLabel, "labelOrgFileName");
  labelOrgFileName->setMinimumWidth(120);
  labelOrgFileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  labelOrgType = named(new QLabel, "labelOrgFileType");
  labelOrgFreq = named(new QLabel, "labelOrgFreq");
  labelOrgBit = named(new QLabel, "labelOrgBit");
  labelOrgCh = named(new QLabel, "labelOrgCh");
  field(tr("File Name :"), labelOrgFileName);
  field(tr("File Format :"), labelOrgType);
  field(tr("Frequency :"), labelOrgFreq);
  field(tr("Quantization Bit :"), labelOrgBit);
  field(tr("Channel :"), labelOrgCh);

  heading(tr("Export To"));
  comboFormat = new QComboBox(this);
  comboFormat->setObjectName(QStringLiteral("BounceFormat"));
  for (const auto& f : exportplan::formatChoices()) comboFormat->addItem(QLatin1String(f.label));
  comboFreq = new QComboBox(this);
  comboFreq->setObjectName(QStringLiteral("BounceFreq"));
  comboBit = new QComboBox(this);
  comboBit->setObjectName(QStringLiteral("BounceBit"));
  labelExportCh = named(new QLabel(tr("STEREO")), "labelExportCh");
  field(tr("File Format :"), comboFormat);
  field(tr("Frequency :"), comboFreq);
  field(tr("Quantization Bit :"), comboBit);
  field(tr("Channel :"), labelExportCh);
  comboDsdGain = new QComboBox(this);
  comboDsdGain->setObjectName(QStringLiteral("comboDsdGain"));
  comboDsdGain->addItems({tr("0 dB"), tr("-3 dB"), tr("-6 dB")});
  comboDsdGain->setToolTip(
      tr("DSD at more than half modulation goes beyond PCM full scale and clips.\n"
         "Hot DSD masters need -3 or -6 dB when they go to PCM."));
  field(tr("DSD to PCM Gain :"), comboDsdGain);
  comboModulator = new QComboBox(this);
  comboModulator->setObjectName(QStringLiteral("comboModulator"));
  comboModulator->addItems({tr("Standard"), tr("Precision")});
  comboModulator->setToolTip(
      tr("The modulator that makes DSD from PCM. Precision: eighth order,\n"
         "far less noise in the audio band; Standard: the classic fifth-order loop."));
  field(tr("DSD Modulator :"), comboModulator);

  checkShortFade = new QCheckBox(tr("Apply Short Fade"), this);
  checkShortFade->setObjectName(QStringLiteral("checkBoxShortFade"));
  checkShortFade->setChecked(true);
  grid->addWidget(checkShortFade, row++, 1, 1, 2);
  checkDither = new QCheckBox(tr("TPDF Dither"), this);
  checkDither->setObjectName(QStringLiteral("checkBoxDither"));
  checkDither->setToolTip(
      tr("Adds a little noise before rounding to 16 or 24 bits, so that\n"
         "quiet passages keep their level without distortion."));
  grid->addWidget(checkDither, row++, 1, 1, 2);

  editFileName = new QLineEdit(this);
  editFileName->setObjectName(QStringLiteral("lineEditFileName"));
  editExtension = new QLineEdit(this);
  editExtension->setObjectName(QStringLiteral("lineEditExtension"));
  editExtension->setReadOnly(true);
  editExtension->setFixedWidth(80);
  field(tr("File Name :"), editFileName, editExtension);

  editFolder = new QLineEdit(this);
  editFolder->setObjectName(QStringLiteral("lineEditFolder"));
  buttonSelDir = new QPushButton(tr("Select\nFolder"), this);
  buttonSelDir->setObjectName(QStringLiteral("pushSelDir"));
  buttonSelDir->setFixedSize(80, 38);
  field(tr("Folder :"), editFolder, buttonSelDir);

  grid->setRowMinimumHeight(row++, 8);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* close = new QPushButton(tr("CLOSE"), this);
  close->setObjectName(QStringLiteral("pushClose"));
  close->setAutoDefault(false);
  close->setFixedSize(100, 30);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  buttonBounce = new QPushButton(tr("EXPORT"), this);
  buttonBounce->setObjectName(QStringLiteral("pushBounce"));
  buttonBounce->setFixedSize(100, 30);
  buttons->addWidget(close);
  buttons->addWidget(buttonBounce);
  grid->addLayout(buttons, row++, 0, 1, 3);
  setMinimumWidth(500);
}

void DialogEdit::setSource(const QString& path, int channels, const QString& channelText,
                           const QString& bitText, const QString& freqText,
                           const QString& typeText) {
  sourcePath = path;
  sourceChannels = channels > 0 ? uint32_t(channels) : 2;
  const QString fileName = path.section(QLatin1Char('/'), -1);
  baseName = exportplan::baseNameOf(fileName);
  labelOrgFileName->setText(
      labelOrgFileName->fontMetrics().elidedText(fileName, Qt::ElideMiddle, 300));
  labelOrgFileName->setToolTip(QDir::toNativeSeparators(path));
  labelOrgType->setText(typeText);
  labelOrgFreq->setText(freqText);
  labelOrgBit->setText(bitText);
  labelOrgCh->setText(channelText);
  const QString ext = QFileInfo(path).suffix().toLower();
  sourceIsDsd = ext == QLatin1String("dsf") || ext == QLatin1String("dff");
  comboDsdGain->setEnabled(sourceIsDsd && !exportplan::isDsdType(exportType));
  on_BounceFreq_currentIndexChanged(comboFreq->currentIndex());
}

int DialogEdit::dsdGainDb() const { return -3 * comboDsdGain->currentIndex(); }

void DialogEdit::setDsdGainDb(int db) {
  if (db == 0 || db == -3 || db == -6) comboDsdGain->setCurrentIndex(-db / 3);
}

void DialogEdit::setFolder(const QString& dir) {
  editFolder->setText(dir.isEmpty() ? QDir::currentPath() : dir);
}

void DialogEdit::setEqContext(EqSettings* eq, int rate) {
  eqSettings = eq;
  playRate = rate;
}

void DialogEdit::setEditRange(const EditRange& range) { edit_ = range; }

void DialogEdit::setSession(Session* session) {
  if (session_) session_->removeListener(sessionListener_);
  session_ = session;
  if (!session_) return;
  sessionListener_ = session_->addListener([this](unsigned changes) { followSession(changes); });
  followSession(Session::kFile | Session::kRange);
}

void DialogEdit::followSession(unsigned changes) {
  if (!session_ || isExporting()) return;
  if ((changes & Session::kFile) && session_->isFileOpen()) {
    const AudioFileInfo& info = session_->fileInfo();
    setSource(QString::fromStdU16String(session_->filePath()), int(info.channels),
              channelsLabelText(info.channels), bitsLabelText(info.bitsPerSample),
              rateLabelText(info.sampleRate), fileTypeLabelText(info.fileType));
  }
  if (changes & Session::kRange) setEditRange(session_->editRange());
}

int DialogEdit::formatIndex() const { return comboFormat->currentIndex(); }
int DialogEdit::rateIndex() const { return comboFreq->currentIndex(); }
int DialogEdit::bitIndex() const { return comboBit->currentIndex(); }
bool DialogEdit::shortFadeChecked() const { return checkShortFade->isChecked(); }

void DialogEdit::restoreChoices(int format, int rate, int bits, bool shortFade) {
  // An index the combo does not hold would leave it without a current item.
  if (format >= 0 && format < comboFormat->count()) comboFormat->setCurrentIndex(format);
  if (rate >= 0 && rate < comboFreq->count()) comboFreq->setCurrentIndex(rate);
  if (bits >= 0 && bits < comboBit->count()) comboBit->setCurrentIndex(bits);
  checkShortFade->setChecked(shortFade);
}

QString DialogEdit::destinationPath() const {
  return editFolder->text() + QLatin1Char('/') + editFileName->text() + extension;
}

bool DialogEdit::isExporting() const { return jobThread->isBusy(); }

void DialogEdit::refreshFileName() { editFileName->setText(baseName + rateSuffix); }

void DialogEdit::on_BounceFormat_currentIndexChanged(int index) {
  const exportplan::FormatChoice& f = exportplan::formatForIndex(index);
  exportType = f.fileType;
  extension = QLatin1String(f.extension);
  editExtension->setText(extension);
  comboFreq->clear();
  comboBit->clear();
  for (const auto& r : exportplan::ratesFor(exportType)) comboFreq->addItem(QLatin1String(r.label));
  for (const auto& b : exportplan::bitsFor(exportType)) comboBit->addItem(QLatin1String(b.label));
  comboFreq->setCurrentIndex(0);
  comboBit->setCurrentIndex(0);
  comboDsdGain->setEnabled(sourceIsDsd && !exportplan::isDsdType(exportType));
  comboModulator->setEnabled(exportplan::isDsdType(exportType));
  refreshFileName();
}

void DialogEdit::on_BounceFreq_currentIndexChanged(int) {
  const exportplan::RateChoice& r = exportplan::rateForText(comboFreq->currentText());
  exportRate = r.hz;
  exportRateIndex = r.code;
  rateSuffix = QLatin1String(r.suffix);
  refreshFileName();
}

void DialogEdit::on_BounceBit_currentIndexChanged(int) {
  exportBits = exportplan::bitsForText(comboBit->currentText());
  checkDither->setEnabled(!exportplan::isDsdType(exportType) && exportBits != 32);
}

bool DialogEdit::ditherChecked() const { return checkDither->isChecked(); }

bool DialogEdit::precisionModulator() const { return comboModulator->currentIndex() == 1; }

void DialogEdit::setPrecisionModulator(bool on) { comboModulator->setCurrentIndex(on ? 1 : 0); }

void DialogEdit::setDitherChecked(bool on) { checkDither->setChecked(on); }

void DialogEdit::setFlacLevel(int level) { flacLevel_ = std::clamp(level, 0, 8); }

void DialogEdit::on_pushSelDir_clicked() {
  const QString dir = QFileDialog::getExistingDirectory(
      this, tr("Select Folder to Export"), QDir::currentPath(), QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return;
  QDir::setCurrent(dir);
  editFolder->setText(dir);
}

void DialogEdit::on_pushBounce_released() {
  const QString name = editFileName->text() + extension;
  const QString path = editFolder->text() + QLatin1Char('/') + name;
  if (exportplan::pathTooLong(path)) {
    showMessage(this, QMessageBox::Critical, tr("Error"),
                tr("The file name would be too long.") + QLatin1Char('\n') +
                    tr("You can shorten the file name and try again,\n"
                       "or try a location that has a shorter path."));
    return;
  }
  // Writing the export truncates its destination: it must never be the source.
  if (QFileInfo::exists(path) &&
      QFileInfo(path).canonicalFilePath() == QFileInfo(sourcePath).canonicalFilePath()) {
    showMessage(this, QMessageBox::Critical, tr("Error"),
                tr("The exported file cannot replace the source file."));
    return;
  }
  if (QFileInfo::exists(path)) {
    const auto answer = showMessage(this, QMessageBox::Question, tr("Confirmation"),
                                    tr("%1 already exists.\nDo you want to overwrite?").arg(name),
                                    QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) return;
  }
  if (!session_) {
    emit convertExecute();
    return;
  }
  // Playback and export never convert at the same time.
  session_->stopPlayback();
  startJob(1);
}

void DialogEdit::startJob(int mode) {
  // The running conversion reads the job's request without a lock.
  if (jobThread->isBusy()) return;
  const QString name = editFileName->text() + extension;
  const QString destination = editFolder->text() + QLatin1Char('/') + name;

  // A failing probe is left to the conversion, which reports it as its code.
  sourceInfo = AudioFileInfo{};
  (void)sonvex->probe(sourcePath, &sourceInfo);
  sourceDescription = describeSource(sourceInfo);

  exportplan::ExportChoice choice;
  choice.fileType = exportType;
  choice.rateCode = exportRateIndex;
  choice.bits = exportBits;
  JobRequest request = exportplan::buildRequest(
      destination, sourcePath, choice, sourceInfo.channels ? sourceInfo.channels : sourceChannels,
      edit_, eqSettings);
  const int64_t shortFade =
      exportplan::shortFadeFrames(sourceInfo.sampleRate, checkShortFade->isChecked());
  request.dither =
      checkDither->isEnabled() && checkDither->isChecked() ? kPcmDitherTpdf : kPcmDitherNone;
  request.modulator = precisionModulator() ? kDsdModulatorPrecision : kDsdModulatorStandard;
  request.flacLevel = flacLevel_;
  EditRange edit = edit_;
  if (comboDsdGain->isEnabled()) edit.gain *= std::pow(10.0, dsdGainDb() / 20.0);
  exportplan::buildEnvelope(envelope, edit, shortFade, exportRate, sourceInfo.sampleRate);
  request.range.levelActive = exportplan::envelopeChangesLevel(envelope, kLevelPointMax) ? 1 : 0;

  runningDestination = destination;
  int aux = 0;
  jobThread->setJob(mode == 1 ? 194 : 8, request, sourceDescription, &aux, envelope);
  if (eqSettings) retuneEq(eqSettings, exportRate);
  jobThread->addTransaction(new ClassSonvex(mode));
  jobThread->setPriority(QThread::LowPriority);

  if (mode == 8) return;
  progressDialog->setLabelText(tr("Exporting \"%1\" ...").arg(name));
  progressDialog->setValue(progressDialog->minimum());
  progressDialog->show();
  timer->start();
}

void DialogEdit::transactionStarted(int) {}

void DialogEdit::allTransactionsDone(int status) {
  progressDialog->reset();
  progressDialog->hide();
  timer->stop();
  QString text = exportplan::resultMessage(status, runningDestination);
  const uint64_t clipped = jobThread->clippedSamples();
  if (clipped > 0 && exportplan::classify(status) != exportplan::Outcome::Failed)
    text += QLatin1Char('\n') +
            (clipped == 1 ? tr("1 sample beyond full scale was clipped.")
                          : tr("%1 samples beyond full scale were clipped.").arg(clipped));
  switch (exportplan::classify(status)) {
    case exportplan::Outcome::Completed:
      showMessage(this, QMessageBox::Information, tr("Export File"), text);
      hide();
      break;
    case exportplan::Outcome::Aborted:
      showMessage(this, QMessageBox::Information, tr("Export File"), text);
      break;
    case exportplan::Outcome::Failed:
      showMessage(this, QMessageBox::Warning, tr("Export File"), text);
      break;
  }
  if (eqSettings && playRate > 0) retuneEq(eqSettings, playRate);
  // A file opened meanwhile shows now.
  followSession(Session::kFile | Session::kRange);
}

void DialogEdit::cancelExporting() { jobThread->cancel(); }

void DialogEdit::takeSeveralHundredMili() {
  const int value = jobThread->progressValue();
  if (value >= progressDialog->minimum() && value < progressDialog->maximum())
    progressDialog->setValue(value);
}
