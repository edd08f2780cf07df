#include "mainwindow.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "audiothread.h"
#include "devicemanager.h"
#include "dialogabout.h"
#include "dialogcombine.h"
#include "dialogedit.h"
#include "dialogoscillator.h"
#include "dialogpeq.h"
#include "eqsettings.h"
#include "faderwidgets.h"
#include "mainwindowui.h"
#include "messagebox.h"
#include "metergraphic.h"
#include "opennote.h"
#include "oscillator.h"
#include "pictureswitch.h"
#include "playback.h"
#include "styledcontrols.h"
#include "timeformat.h"
#include "waveformcontroller.h"
#include "widgettc.h"

namespace {

QString gLibraryDirectory;

constexpr int kPollIntervalMs = 45;
constexpr int kFirstInfoDelayMs = 500;
constexpr int64_t kMinExportFrames = 100;

}  // namespace

void MainWindow::setLibraryDirectory(const QString& dir) { gLibraryDirectory = dir; }

QString MainWindow::libraryDirectory() {
  return gLibraryDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : gLibraryDirectory;
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new MainWindowUi) {
  // 1. Widgets, menus and texts; slots named on_<object>_<signal> connect by name.
  ui->setupUi(this);
  QMetaObject::connectSlotsByName(this);
  ui->comboBox_driver->setCurrentIndex(-1);
  ui->comboBox_driver->view()->setMinimumWidth(130);  // the names are wider than the box

  // 2. Settings file path.
  m_settingsFilePath = settingsFilePath();

  // 3. Waveform summary buffers (with the waveform thread and the zoom state).
  m_waveform = new WaveformController(ui->widgetTrack1, ui->waveScrollBar, this);

  // 4.-6. Export dialog, EQ block and dialog, output and waveform threads,
  // combine dialog, job thread.
  // The library first: everything built below is handed its table.
  m_sonvex.load(libraryDirectory() + QStringLiteral("/libsonvex.so"));
  m_dialogEdit = new DialogEdit(this, m_sonvex.api());
  m_eq = new EqSettingsBlock;
  m_dialogEdit->setEqContext(m_eq->get(), m_playRate);
  m_dialogEdit->setFolder(m_outputDirectory.path());
  // The dialogs follow the session; asked to stop playback, it comes here.
  m_dialogEdit->setSession(&m_session);
  m_session.setStopHook([this] { stopPlaybackAndWait(); });
  m_jobThread = new audioThread(this, m_sonvex.api());
  engine::resetEngine();
  connect(m_jobThread, &audioThread::allTransactionsDone_, this, &MainWindow::allTransactionsDone);
  // >>> dialog and engine hooks
  // The EQ block's master switch lives in the EQ dialog; the engine plays the block.
  m_dialogPeq = new DialogPeq(this);
  m_eq->attachMasterSwitch(m_dialogPeq->masterSwitch());
  engine::setEqSettings(m_eq->get());
  m_dialogOsc = new DialogOscillator(this);
  setAcceptDrops(true);
  qApp->installEventFilter(this);
  ui->labelEqIndicator->setMode(pictureSwitch::Mode::Click);

  connect(ui->waveScrollBar, &QScrollBar::sliderPressed, this, &MainWindow::waveSliderPressed);
  connect(ui->waveScrollBar, &QScrollBar::sliderReleased, this, &MainWindow::waveSliderReleased);
  connect(ui->widgetFadeBase, &WidgetFaderBase::faderMoved, this, &MainWindow::monitorVolumeMoved);
  connect(ui->label_FaderTop, &faderTop::faderMoved, this, &MainWindow::monitorVolumeMoved);
  connect(ui->actionAboutThisApplication, &QAction::triggered, this, &MainWindow::menuAboutClicked);
  connect(ui->actionAboutLicenses, &QAction::triggered, this, &MainWindow::menuLicensesClicked);
  connect(ui->actionEnglishManual, &QAction::triggered, this,
          &MainWindow::menuEnglishManualClicked);
  connect(ui->actionJapaneseManual, &QAction::triggered, this,
          &MainWindow::menuJapaneseManualClicked);
  connect(ui->actionOverHolds2sec, &QAction::toggled, this, &MainWindow::menuOverHolds2sec_toggled);
  connect(ui->actionOverHoldsUntilClicked, &QAction::toggled, this,
          &MainWindow::menuOverHoldsUntilClicked_toggled);
  connect(ui->widgetTrack1, &trackGraphic::editParamChanged, this,
          &MainWindow::trackEditParamChanged);
  connect(ui->widgetTrack1, &trackGraphic::mousePressed, this, &MainWindow::trackMousePressed);
  connect(this, &MainWindow::moveInPoint, ui->widgetTrack1, &trackGraphic::arrangeInPoint);
  connect(this, &MainWindow::moveOutPoint, ui->widgetTrack1, &trackGraphic::arrangeOutPoint);
  connect(ui->lineEditTime, &widgetTc::enterKeyPressed, this, &MainWindow::timeCounterEnterPressed);
  connect(ui->lineEditTime, &widgetTc::escapeKeyPressed, this,
          &MainWindow::timeCounterEscapePressed);
  connect(ui->lineEditTime, &QLineEdit::textEdited, this, [this] { m_counterTyped = true; });
  connect(ui->labelGainVal, &labelGain::doubleClicked, this,
          &MainWindow::labelGainValDoubleClicked);
  // Keys: the menu entries and the window's own keys act as their buttons do.
  connect(ui->actionOpen, &QAction::triggered, this, &MainWindow::on_pushButtonOpen_clicked);
  connect(ui->actionExport, &QAction::triggered, this, &MainWindow::on_pushButtonEdit_clicked);
  connect(ui->actionCombine, &QAction::triggered, this, &MainWindow::on_pushButton_Combine_clicked);
  connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
  connect(ui->actionPlayStop, &QAction::triggered, this, [this] {
    (ui->playButton->isChecked() ? static_cast<QPushButton*>(ui->stopButton)
                                 : static_cast<QPushButton*>(ui->playButton))
        ->click();
  });
  connect(ui->actionSetIn, &QAction::triggered, ui->setPointButtonSetIn, &QPushButton::click);
  connect(ui->actionSetOut, &QAction::triggered, ui->setPointButtonSetOut, &QPushButton::click);
  // >>> connections of the oscillator and EQ dialogs
  connect(m_dialogOsc, &DialogOscillator::selOscOnOff, this, &MainWindow::oscIndicatorChanged);
  connect(m_dialogOsc, &DialogOscillator::freqChanged, this, &MainWindow::oscFreqChanged);
  connect(m_dialogOsc, &DialogOscillator::levelChanged, this, &MainWindow::oscLevelChanged);
  connect(ui->actionOscillator, &QAction::triggered, this, &MainWindow::menuOscillatorClicked);
  connect(m_dialogPeq, &DialogPeq::selectAllEqOnOff, this, &MainWindow::selAllEqOnOff);
  connect(ui->labelEqIndicator, &eqIndicator::eqIndicatorClicked, this,
          &MainWindow::eqIndicatorClicked);

  // 7. The waveform summary through the same binding.
  m_waveform->setSummaryFunction(m_sonvex.getAudioWaveForm);

  // 8. OVER-hold group, output bridge, timers.
  m_overHoldGroup = new QActionGroup(this);
  m_overHoldGroup->setExclusive(true);
  m_overHoldGroup->addAction(ui->actionOverHolds2sec);
  m_overHoldGroup->addAction(ui->actionOverHoldsUntilClicked);
  ui->actionOverHolds2sec->setChecked(true);
  m_asio.load(libraryDirectory() + QStringLiteral("/libasiolink.so"));
  m_devices = new DeviceManager({ui->comboBox_driver, ui->comboBox_asioDev, ui->comboBox_asioFreq,
                                 ui->pushAsioCont, ui->playButton},
                                m_asio, m_session, m_sonvex.api(), m_eq->get(), m_jobThread, this);
  connect(m_devices, &DeviceManager::playRateChanged, this, [this](int hz) {
    m_playRate = hz;
    m_dialogEdit->setEqContext(m_eq->get(), m_playRate);
  });
  connect(m_devices, &DeviceManager::playbackRestarted, this,
          [this](bool started) { m_session.setPlaying(started); });
  m_pollTimer = new QTimer(this);
  connect(m_pollTimer, &QTimer::timeout, this, &MainWindow::takeSeveralHundredMili);
  m_pollTimer->start(kPollIntervalMs);
  ui->widgetMeter->setMeterTick(kPollIntervalMs);
  m_firstInfoTimer = new QTimer(this);
  m_firstInfoTimer->setSingleShot(true);
  connect(m_firstInfoTimer, &QTimer::timeout, this, &MainWindow::showFirstInformationPopup);
  m_firstInfoTimer->start(kFirstInfoDelayMs);

  // 9. The output and job threads win over the GUI.
  QThread::currentThread()->setPriority(QThread::LowPriority);

  // 10. Engine buffers.
  // >>> engine hook

  // 11. Start in the user's music folder with no file open.
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty()) QDir::setCurrent(music);
  m_outputDirectory = QDir::current();

  // 12. Settings file: load and apply.
  loadSettings();

  // 13. Fader, volume text, EQ indicator, no-file state.
  // The fader works in whole dB: -3.7 sits at the -3 dB step.
  ui->widgetFadeBase->placeKnobForDb(std::trunc(m_monitorVolumeDb));
  const MonitorVolume volume = monitorVolumeFor(int(m_monitorVolumeDb));
  ui->label_VolumeDB->setText(volume.text + QStringLiteral(" dB"));
  engine::setMonitorVolume(m_monitorVolumeDb);
  setFileLoadedState(false);

  // 14. Controls whose values come from the settings file stay hidden.
  for (QWidget* w :
       {static_cast<QWidget*>(ui->labelEqIndicator), static_cast<QWidget*>(ui->pushCh1PEQ),
        static_cast<QWidget*>(ui->widgetFadeBase), static_cast<QWidget*>(ui->label_VolumeDB),
        static_cast<QWidget*>(ui->pushButtonPostFader), static_cast<QWidget*>(ui->labelFadeIn),
        static_cast<QWidget*>(ui->labelFadeOut), static_cast<QWidget*>(ui->labelGainVal)}) {
    w->hide();
  }
  ui->waveScrollBar->setStyleSheet(QLatin1String(kWaveScrollBarStyle));
  ui->waveScrollBar->setPageStep(ui->waveScrollBar->maximum() * 4096);
  ui->waveScrollBar->setRange(0, 100);
}

MainWindow::~MainWindow() {
  saveSettings();
  stopPlaybackAndWait();
  // Closes the outputs; it uses the bridge, a member that goes before the
  // window's children do.
  delete m_devices;
  m_devices = nullptr;
  m_waveform->shutdown();
  // The export job reads the EQ block: end it before the block goes.
  delete m_dialogEdit;
  delete findChild<DialogCombine*>();  // both use the binding, a member
  delete m_jobThread;
  m_jobThread = nullptr;
  m_dialogPeq->hide();
  engine::oscillator().oscillatorOff();
  engine::setEqSettings(nullptr);
  engine::releaseEngine();
  delete m_eq;
  delete ui;
}

void MainWindow::redrawViews() { ui->widgetTrack1->setFileLoaded(isFileOpen()); }

void MainWindow::setOscillatorMode(bool on) {
  m_oscillatorMode = on;
  ui->menuTools->removeAction(ui->actionOscillator);
  if (on) ui->menuTools->addAction(ui->actionOscillator);
}

// ---------------------------------------------------------------------------
// Opening files

bool MainWindow::checkFileExtension(const QString& path) {
  const QStringList parts = path.split(QLatin1Char('.'), Qt::SkipEmptyParts);
  // A path without any dot is one part: its "extension" is the whole name.
  if (parts.size() < 2) return false;
  const QString ext = parts.last().toLower();
  return ext == QLatin1String("wav") || ext == QLatin1String("dsf") ||
         ext == QLatin1String("dff") || ext == QLatin1String("flac");
}

bool MainWindow::checkSampleRate(uint32_t rate) {
  return (rate >= 44100 && rate <= 384000) || (rate >= 2822400 && rate <= 11289600);
}

int32_t MainWindow::prepareFile(const QString& path, AudioFileInfo* info) {
  const int32_t rc = m_sonvex.probe(path, info);
  if (rc < 0) return rc;
  // A header without channels, word length or rate cannot be shown or played.
  if (uint64_t(info->channels) * info->bitsPerSample == 0 || info->sampleRate == 0)
    return kErrFormatChunk;
  return rc;
}

bool MainWindow::openAudioFile(const QString& path) {
  // 1. Stop playback and wait for it to end.
  m_session.stopPlayback();

  const QString fileName = QFileInfo(path).fileName();
  // A name given on the command line may name nothing at all.
  if (!QFileInfo(path).isFile()) {
    warn(tr("Cannot Open"),
         QDir::toNativeSeparators(path) + QStringLiteral("\n") + tr("The file does not exist."));
    return false;
  }
  if (!checkFileExtension(path)) {
    warn(tr("Cannot Open"), fileName + QStringLiteral("\n") + tr("Unsupported audio file."));
    return false;
  }
  // A refused file leaves the session, and so the previous file, untouched.
  AudioFileInfo info{};
  if (prepareFile(path, &info) < 0) {
    warn(tr("Cannot Open"), fileName + QStringLiteral("\n") + tr("Unsupported audio file."));
    return false;
  }
  if (!checkSampleRate(info.sampleRate)) {
    warn(tr("Cannot Open"), tr("Unsupported sampling frequency."));
    return false;
  }

  // 5. The new file is current: whole file marked, position at the start.
  // >>> playback preparation hook (engine): follows the session's file
  m_session.openFile(path.toStdU16String(), info);
  const AudioFileInfo& fi = m_session.fileInfo();
  m_waveform->resetForFile(path, int(fi.channels), totalFrames() / fi.sampleRate < 901);

  // 6. File labels; a long name loses its middle, the tooltip keeps it all.
  QLabel* nameLabel = ui->label_orgFileNameArea;
  nameLabel->setText(nameLabel->fontMetrics().elidedText(fileName, Qt::ElideMiddle,
                                                         nameLabel->contentsRect().width()));
  nameLabel->setToolTip(QDir::toNativeSeparators(path));
  fillFileLabels();

  // 7. Markers at the ends, zoom 1.
  setFileLoadedState(true);
  emit moveInPoint(0.0);
  emit moveOutPoint(1.0);
  m_counterTyped = false;
  ui->lineEditTime->setText(formatTime(0, fi.sampleRate));
  QScrollBar* bar = ui->waveScrollBar;
  bar->blockSignals(true);
  bar->setPageStep(bar->maximum() * 4096);
  bar->setMaximum(std::max(8 * 1, 100));
  bar->setValue(0);
  bar->blockSignals(false);
  m_waveform->placeCursor(0.0);
  ui->widgetMeter->releaseHold(0);

  // 8. Waveform summary, play rate follows the file.
  m_waveform->startWaveformSummary();
  m_devices->followFileRate();
  const QString note = openNote(path, fi);
  if (!note.isEmpty())
    showMessage(this, QMessageBox::Information, tr("Open Audio File"),
                fileName + QStringLiteral("\n") + note);
  return true;
}

void MainWindow::fillFileLabels() {
  const AudioFileInfo& fi = m_session.fileInfo();
  ui->label_orgTime->setText(formatTime(totalFrames(), fi.sampleRate));
  ui->label_orgFileType->setText(fileTypeLabelText(fi.fileType));
  ui->label_orgFreq->setText(rateLabelText(fi.sampleRate));
  ui->label_orgBit->setText(bitsLabelText(fi.bitsPerSample));
  ui->label_orgCh->setText(channelsLabelText(fi.channels));
}

void MainWindow::setFileLoadedState(bool loaded) {
  for (QWidget* w :
       {static_cast<QWidget*>(ui->setPointButtonSetIn),
        static_cast<QWidget*>(ui->setPointButtonSetOut), static_cast<QWidget*>(ui->pushButtonEdit),
        static_cast<QWidget*>(ui->zeroPlayButton), static_cast<QWidget*>(ui->stopButton),
        static_cast<QWidget*>(ui->playButton), static_cast<QWidget*>(ui->lineEditTime),
        static_cast<QWidget*>(ui->zoomInTimeButton), static_cast<QWidget*>(ui->zoomOutTimeButton),
        static_cast<QWidget*>(ui->zoomInLevelButton),
        static_cast<QWidget*>(ui->zoomOutLevelButton)}) {
    w->setEnabled(loaded);
  }
  ui->widgetTrack1->setFileLoaded(loaded);
  if (!loaded) {
    ui->labelFadeIn->setText(tr("Fade In = 00:00:00.00"));
    ui->labelFadeOut->setText(tr("Fade Out = 00:00:00.00"));
    ui->labelInPoint->setText(tr("In Point = 00:00:00.00"));
    ui->labelOutPoint->setText(tr("Out Point = 00:00:00.00"));
    ui->labelInOut->setText(tr("In-Out = --:--:--.--"));
  }
}

void MainWindow::on_pushButtonOpen_clicked() {
  const QString path = QFileDialog::getOpenFileName(
      this, tr("Open Audio File"), QDir::currentPath(),
      tr("Supported files (*.wav *.dsf *.dff *.flac);;All files (*.*)"));
  if (path.isEmpty()) return;
  QDir::setCurrent(QFileInfo(path).absolutePath());
  openAudioFile(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (!mime->hasUrls() || mime->urls().isEmpty()) return;
  event->acceptProposedAction();
  openAudioFile(mime->urls().first().toLocalFile());
}

// ---------------------------------------------------------------------------
// Guards in front of EXPORT, COMBINE and PLAY

int64_t MainWindow::exportSpanFrames() const { return exportOutFrames() - exportInFrames(); }

void MainWindow::on_pushButtonEdit_clicked() {
  if (!isFileOpen()) {
    warn(tr("File Not Opened"), tr("Please open audio file."));
    ui->playButton->setChecked(false);
    return;
  }
  if (exportSpanFrames() < kMinExportFrames) {
    warn(tr("Cannot Export"), tr("IN - OUT too short."));
    return;
  }
  m_dialogEdit->setFolder();
  m_dialogEdit->setEqContext(m_eq->get(), m_playRate);
  m_dialogEdit->show();
  m_dialogEdit->raise();
  m_dialogEdit->activateWindow();
}

void MainWindow::on_pushButton_Combine_clicked() {
  // One dialog for the window's lifetime, owned by it; made on first use.
  auto* combine = findChild<DialogCombine*>();
  if (!combine) combine = new DialogCombine(this, m_sonvex.api());
  combine->takeHeadFrom(m_session);
  combine->setFlacLevel(m_dialogEdit->flacLevel());
  combine->setFolder(m_outputDirectory.absolutePath());
  combine->show();
  combine->raise();
}

bool MainWindow::checkReadyToPlay() {
  const bool ready = m_devices->checkCanPlay();
  if (!ready) ui->playButton->setChecked(false);
  return ready;
}

bool MainWindow::startPlayback() {
  if (!checkReadyToPlay()) return false;
  trackEditParamChanged();
  const bool started = m_devices->startPlayback(m_monitorVolumeDb);
  // Until playback runs, the button must not claim that it does.
  ui->playButton->setChecked(m_session.isPlaying());
  return started;
}

void MainWindow::showPlayPosition() {
  m_counterTyped = false;
  ui->lineEditTime->setText(formatTime(playPositionFrames(), m_session.fileInfo().sampleRate));
  m_waveform->placeCursor(playPositionFraction());
}

void MainWindow::allTransactionsDone(int iStatus) {
  if (m_devices->reportPlaybackResult(iStatus)) showPlayPosition();
}

void MainWindow::on_playButton_clicked() {
  if (!ui->playButton->isChecked()) ui->playButton->setChecked(true);
  startPlayback();
}

void MainWindow::on_stopButton_clicked() {
  m_devices->stopPlayback();
  ui->playButton->setChecked(false);
}

void MainWindow::on_zeroPlayButton_clicked() {
  const int64_t in = exportInFrames();
  m_devices->stopPlayback();
  m_session.setPlayPosition(uint64_t(std::max<int64_t>(0, in)));
  showPlayPosition();
  if (startPlayback()) ui->playButton->setChecked(true);
}

void MainWindow::on_pushButtonPostFader_toggled(bool checked) {
  // The meter reads the level after the monitor volume when checked.
  engine::setPostFader(checked ? 1 : 0);
}

void MainWindow::on_comboBox_driver_currentIndexChanged(int index) {
  if (index < 0 || !m_devices) return;
  m_driverType = index;
  m_devices->changeDriverType(index);
}

void MainWindow::on_pushAsioCont_clicked() { m_devices->openControlPanel(); }

// ---------------------------------------------------------------------------
// Monitor volume, menus, timers

void MainWindow::monitorVolumeMoved(int iPosi) {
  const MonitorVolume volume = monitorVolumeFor(ui->widgetFadeBase->table().dbAt(iPosi));
  m_monitorVolumeDb = volume.db;
  ui->label_VolumeDB->setText(volume.text + QStringLiteral(" dB"));
  engine::setMonitorVolume(m_monitorVolumeDb);
  // >>> tell the export dialog the new volume.
}

void MainWindow::showFirstInformationPopup() {
  m_firstInfoTimer->stop();
  if (m_neverShowFirstInfo) return;
  QMessageBox box(QMessageBox::Information, tr("MALVEC Lumara Editor Information"),
                  tr("For bit-perfect playback and native DSD, choose the driver type "
                     "'ALSA direct': the sound card plays the file's own rate and is held for "
                     "this program alone.<p>'Desktop (shared)' plays through the desktop's "
                     "sound server, which mixes with other programs and resamples to its own "
                     "rate (often 48 kHz).<p>If noise occurs, close other programs that use "
                     "the sound card.<p>See Help -> Manual for detail."),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::RichText);
  fitTitle(box);
  QCheckBox* never = new QCheckBox(tr("Do not show again"), &box);
  box.setCheckBox(never);
  box.exec();
  if (never->isChecked()) m_neverShowFirstInfo = true;
}

void MainWindow::menuAboutClicked() {
  DialogAbout dialog(this);
  dialog.exec();
}

void MainWindow::menuLicensesClicked() {
  dialogLicenses dialog(this);
  dialog.exec();
}

namespace {

// xdg-open starts and then fails on its own when nothing shows PDFs, so
// openUrl alone cannot tell; ask the desktop's MIME table first.
bool noPdfViewer() {
  QProcess query;
  query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                           QStringLiteral("application/pdf")});
  if (!query.waitForFinished(3000) || query.exitCode() != 0) return false;  // unknown: just try
  return query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

void MainWindow::openManual(const QString& fileName) {
  const QString path = libraryDirectory() + QLatin1Char('/') + fileName;
  const QString shown = QDir::toNativeSeparators(path);
  if (!QFileInfo::exists(path)) {
    warn(tr("Cannot Open"), tr("The manual is not installed.") + QLatin1Char('\n') + shown);
    return;
  }
  // Silence would leave the user guessing why nothing opened.
  if (noPdfViewer() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    warn(tr("Cannot Open"), tr("No program to view PDF files is installed.\n"
                               "The manual can be opened with any PDF viewer:") +
                                QLatin1Char('\n') + shown);
  }
}

void MainWindow::menuEnglishManualClicked() { openManual(QStringLiteral("D77000020.pdf")); }

void MainWindow::menuJapaneseManualClicked() { openManual(QStringLiteral("D77000001.pdf")); }

void MainWindow::menuOscillatorClicked() {
  m_dialogOsc->setOutputRate(m_playRate);
  m_dialogOsc->show();
  m_dialogOsc->raise();
}

void MainWindow::oscIndicatorChanged(int on) {
  engine::TestOscillator& osc = engine::oscillator();
  osc.oscillatorOff();
  if (on) osc.oscillatorOnWithKick();
}

void MainWindow::oscFreqChanged(int hz) { engine::oscillator().setOscillatorFrequency(hz); }

void MainWindow::oscLevelChanged(int db) { engine::oscillator().setOscillatorLevel(db); }

void MainWindow::on_pushCh1PEQ_clicked() {
  m_dialogPeq->setContext(m_eq->get(), m_playRate, &m_monitorVolumeDb);
  m_dialogPeq->show();
  m_dialogPeq->raise();
}

void MainWindow::eqIndicatorClicked() { on_pushCh1PEQ_clicked(); }

void MainWindow::selAllEqOnOff(int iSel) { ui->labelEqIndicator->setOn(iSel != 0); }

void MainWindow::menuOverHolds2sec_toggled(bool checked) {
  if (!checked) return;
  m_overHoldTimeMs = 2000;
  ui->widgetMeter->setOverHoldTime(m_overHoldTimeMs);
}

void MainWindow::menuOverHoldsUntilClicked_toggled(bool checked) {
  if (!checked) return;
  m_overHoldTimeMs = -1;
  ui->widgetMeter->setOverHoldTime(m_overHoldTimeMs);
}

void MainWindow::waveSliderPressed() { m_sliderHeld = true; }

void MainWindow::waveSliderReleased() { m_sliderHeld = false; }

void MainWindow::updateLevelMeter() {
  double left = 0.0, right = 0.0;
  engine::getMeterPeak(&left, &right);
  if (m_session.fileInfo().channels == 1) right = left;
  ui->widgetMeter->updateMeter(left, right, uint32_t(m_playRate) >= engine::kDsdRateMin,
                               kPollIntervalMs);
}

void MainWindow::takeSeveralHundredMili() {
  updateLevelMeter();
  // >>> engine poll hooks: play position, meter peaks, device watchdog,
  // waveform progress, output buffer-size requests.
  m_devices->tick();
  if (m_session.isPlaying()) {
    if (!ui->lineEditTime->hasFocus())
      ui->lineEditTime->setText(formatTime(playPositionFrames(), m_session.fileInfo().sampleRate));
    m_waveform->followPlayPosition(playPositionFraction(), m_sliderHeld);
  }
}

void MainWindow::warn(const QString& title, const QString& text) {
  showMessage(this, QMessageBox::Warning, title, text);
}

// ---------------------------------------------------------------------------
// Edit model and waveform view

void MainWindow::trackEditParamChanged() {
  const EditPoints& points = ui->widgetTrack1->editPoints();
  const uint32_t rate = m_session.fileInfo().sampleRate;
  m_session.setEditRange(editRangeFrames(points, totalFrames()));
  const EditRange& range = m_session.editRange();
  if (isFileOpen()) {
    ui->labelFadeIn->setText(tr("Fade In = ") + formatTime(uint64_t(range.fadeInFrames), rate));
    ui->labelFadeOut->setText(tr("Fade Out = ") + formatTime(uint64_t(range.fadeOutFrames), rate));
    ui->labelInPoint->setText(tr("In Point = ") + formatTime(uint64_t(range.inFrames), rate));
    ui->labelOutPoint->setText(tr("Out Point = ") + formatTime(uint64_t(range.outFrames), rate));
    // The span counts both ends.
    ui->labelInOut->setText(tr("In-Out = ") +
                            formatTime(uint64_t(range.outFrames - range.inFrames + 1), rate));
  }
  ui->labelGainVal->setGain(points.gain);
  // >>> export dialog hook: recompute its estimate

  if (ui->widgetTrack1->mouseMode() != waveview::kMouseLocate) return;
  // The user clicked or dragged the play cursor: stop and locate there.
  m_session.stopPlayback();
  m_session.setPlayPosition(
      uint64_t(std::max<int64_t>(0, fractionToFrames(totalFrames(), points.cursor))));
  m_counterTyped = false;  // the locate replaces whatever was typed
  ui->lineEditTime->setText(formatTime(playPositionFrames(), rate));
  ui->playButton->setChecked(false);
  if (ui->lineEditTime->hasFocus()) ui->lineEditTime->leaveEditing();
}

void MainWindow::trackMousePressed() {}

void MainWindow::timeCounterEnterPressed() {
  m_counterTyped = false;
  const std::optional<uint64_t> frames = parseTimeCounter(
      ui->lineEditTime->text().toStdString(), m_session.fileInfo().sampleRate, totalFrames());
  if (!frames) {
    timeCounterEscapePressed();
    return;
  }
  m_session.setPlayPosition(*frames);
  ui->lineEditTime->setText(formatTime(*frames, m_session.fileInfo().sampleRate));
  m_waveform->placeCursor(playPositionFraction());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Seen before the pressed control acts, so IN, OUT, PLAY and the view work
  // from the typed time rather than the one it replaces.
  // The counter has already lost its focus to the pressed control here, so
  // the typed-but-unapplied text is tracked by its own flag.
  if (event->type() == QEvent::MouseButtonPress && m_counterTyped && watched != ui->lineEditTime &&
      watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
    ui->lineEditTime->leaveEditing();
    timeCounterEnterPressed();
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::timeCounterEscapePressed() {
  m_counterTyped = false;
  ui->lineEditTime->setText(formatTime(playPositionFrames(), m_session.fileInfo().sampleRate));
}

void MainWindow::labelGainValDoubleClicked() {
  ui->widgetTrack1->resetGain();
  ui->labelGainVal->setText(tr("Gain = 0.0 dB"));
}

void MainWindow::on_setPointButtonSetIn_clicked() { emit moveInPoint(playPositionFraction()); }

void MainWindow::on_setPointButtonSetOut_clicked() { emit moveOutPoint(playPositionFraction()); }

void MainWindow::on_zoomInTimeButton_clicked() { m_waveform->zoomInTime(playPositionFraction()); }

void MainWindow::on_zoomOutTimeButton_clicked() { m_waveform->zoomOutTime(playPositionFraction()); }

void MainWindow::on_zoomInLevelButton_clicked() { m_waveform->zoomInLevel(); }

void MainWindow::on_zoomOutLevelButton_clicked() { m_waveform->zoomOutLevel(); }

void MainWindow::on_waveScrollBar_valueChanged(int value) {
  m_waveform->scrollValueChanged(value, playPositionFraction());
}

// ---------------------------------------------------------------------------
// Export and settings

void MainWindow::stopPlaybackAndWait() {
  // Wait only while a playback conversion is still ending, at most 3 s.
  on_stopButton_clicked();
  if (m_jobThread->isBusy()) {
    m_jobThread->cancel();
    for (int i = 0; i < 300 && m_jobThread->isBusy(); ++i) QThread::msleep(10);
  }
}

void MainWindow::loadSettings() {
  m_settings = loadSettingsFile(m_settingsFilePath);
  const AppSettings& s = m_settings;
  m_monitorVolumeDb = s.monitorVolumeDb;
  m_driverType = s.driverType;
  applyEqSettings(s, m_eq->get(), m_playRate);
  engine::publishEq(true);  // the renderer works from its own copy
  ui->pushButtonPostFader->setChecked(s.postFader);
  m_neverShowFirstInfo = s.neverShowFirstInfo;
  m_dialogEdit->restoreChoices(s.bounceFormat, s.bounceFreq, s.bounceBit, s.applyShortFade);
  m_dialogEdit->setDsdGainDb(s.dsdGainDb);
  m_dialogEdit->setDitherChecked(s.dither);
  m_dialogEdit->setPrecisionModulator(s.precisionExport);
  m_dialogEdit->setFlacLevel(s.flacLevel);
  m_precisionPlayback = s.precisionPlayback;
  engine::setPlaybackModulator(s.precisionPlayback);
  (s.overHolds2sec ? ui->actionOverHolds2sec : ui->actionOverHoldsUntilClicked)->setChecked(true);
  setOscillatorMode(s.oscillatorMode);
  m_devices->applyAudioSelection(m_driverType, s.audioDevice, s.playFreq);
  m_driverType = m_devices->driverType();
  m_playRate = m_devices->playRate();
}

void MainWindow::saveSettings() {
  AppSettings s = m_settings;
  s.audioDevice = ui->comboBox_asioDev->currentText();
  s.playFreq = ui->comboBox_asioFreq->currentText();
  s.monitorVolumeDb = m_monitorVolumeDb;
  s.driverType = m_driverType;
  captureEqSettings(m_eq->get(), s);
  s.postFader = ui->pushButtonPostFader->isChecked();
  s.neverShowFirstInfo = m_neverShowFirstInfo;
  s.bounceFormat = m_dialogEdit->formatIndex();
  s.bounceFreq = m_dialogEdit->rateIndex();
  s.bounceBit = m_dialogEdit->bitIndex();
  s.applyShortFade = m_dialogEdit->shortFadeChecked();
  s.dsdGainDb = m_dialogEdit->dsdGainDb();
  s.dither = m_dialogEdit->ditherChecked();
  s.precisionExport = m_dialogEdit->precisionModulator();
  s.flacLevel = m_dialogEdit->flacLevel();
  s.precisionPlayback = m_precisionPlayback;
  s.overHolds2sec = ui->actionOverHolds2sec->isChecked();
  s.oscillatorMode = m_oscillatorMode;
  saveSettingsFile(m_settingsFilePath, s);
}
