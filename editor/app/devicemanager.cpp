#include "devicemanager.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QThread>
#include <algorithm>

#include "asiobridge.h"
#include "asiolink.h"
#include "audiothread.h"
#include "classsonvex.h"
#include "eqsettings.h"
#include "playback.h"
#include "render.h"
#include "session.h"
#include "sonvexbinding.h"

namespace {

constexpr int kWatchdogMs = 1000;
constexpr int kTickMs = 45;
constexpr int kBufferCheckTicks = 11;
constexpr int kRestartTicks = 22;
constexpr int kStopWaitSteps = 150;  // x 10 ms
constexpr int kJobWaitSteps = 300;   // x 10 ms

// Names the lists produce end in the PCM in brackets; others were typed.
bool isTypedName(const QString& name) {
  return !name.isEmpty() && !name.endsWith(QLatin1Char(')')) &&
         name != QLatin1String(playrates::kNoDevice) &&
         name != QLatin1String(playrates::kSelectDevice);
}

engine::LibraryFunctions libraryFunctions(const SonvexApi& api) {
  engine::LibraryFunctions f;
  f.setDecimationFirParam = api.setDecimationFirParam;
  f.setMeterFirParam = api.setMeterFirParam;
  f.gAudioDecimationFir = api.gAudioDecimationFir;
  return f;
}

}  // namespace

DeviceManager::DeviceManager(const Widgets& widgets, AsioBridge& bridge, Session& session,
                             const SonvexApi& sonvex, EqSettings* eq, audioThread* jobs,
                             QWidget* window)
    : QObject(window),
      m_w(widgets),
      m_bridge(bridge),
      m_session(session),
      m_sonvex(sonvex),
      m_eq(eq),
      m_jobs(jobs),
      m_window(window) {
  m_shared.setRender(&renderInterleavedBlock);
  // The whole playback plays at one level: unity from the first frame on.
  m_envelope[0] = LevelPoint{0, 1.0, 0.0, 0, 0};
  m_envelope[1] = LevelPoint{INT64_MAX, 1.0, 0.0, 0, 0};
  m_w.driver->installEventFilter(this);
  connect(m_w.driver, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          [this](int index) { m_w.driver->setToolTip(m_w.driver->itemText(index)); });
  connect(m_w.device, QOverload<int>::of(&QComboBox::activated), this,
          &DeviceManager::selectPlayDevice);
  connect(m_w.rate, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          [this](int) { changePlayFrequency(); });
}

DeviceManager::~DeviceManager() { shutdown(); }

bool DeviceManager::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_w.driver || event->type() != QEvent::Paint) return false;
  QComboBox* box = m_w.driver;
  QStylePainter painter(box);
  QStyleOptionComboBox opt;
  opt.initFrom(box);
  opt.editable = false;
  opt.frame = true;
  opt.subControls = QStyle::SC_All;
  opt.currentText = box->currentIndex() == kShared   ? tr("Shared")
                    : box->currentIndex() == kDirect ? tr("Direct")
                                                     : QString();
  painter.drawComplexControl(QStyle::CC_ComboBox, opt);
  painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
  return true;
}

void DeviceManager::shutdown() {
  m_deviceOpen = false;
  closeShared();
  (void)m_bridge.unSelectDevice(nullptr);
  m_openDevice = -1;
}

void DeviceManager::warn(const QString& title, const QString& text) {
  QMessageBox::warning(m_window, title, text, QMessageBox::Ok);
}

QString DeviceManager::rateText() const { return m_w.rate->currentText(); }

uint32_t DeviceManager::fileRate() const {
  return m_session.isFileOpen() ? m_session.fileInfo().sampleRate : 0;
}

void DeviceManager::fillRates(const QStringList& labels) {
  const QSignalBlocker block(m_w.rate);
  m_w.rate->clear();
  m_w.rate->addItems(labels);
  m_w.rate->setCurrentIndex(labels.isEmpty() ? -1 : 0);
}

void DeviceManager::showOffline() {
  m_rates.setSupportedRates({});
  fillRates({QString::fromLatin1(playrates::kOffline)});
}

void DeviceManager::closeShared() {
  m_shared.requestStop();
  m_shared.wait();
  m_shared.closeDevice();
}

// ---------------------------------------------------------------------------
// Driver type and device

void DeviceManager::changeDriverType(int index) {
  if (index < 0) return;
  closeOutputs();
  m_driverType = index == kShared ? kShared : kDirect;
  m_uiReady = false;

  QStringList names;
  if (m_driverType == kShared) {
    m_shared.enumerateDevices();
    for (const std::string& n : m_shared.deviceNames()) names << QString::fromStdString(n);
    m_w.controlPanel->hide();
  } else {
    m_listRebuilding = true;
    int rc = 0;
    if (m_bridge.isUsable()) names = m_bridge.driverNames(&rc);
    if (rc < 0) names.clear();
    m_listRebuilding = false;
    m_w.controlPanel->show();
  }
  {
    const QSignalBlocker block(m_w.device);
    m_w.device->clear();
    m_w.device->addItem(QString::fromLatin1(playrates::devicePlaceholder(int(names.size()))));
    m_w.device->addItems(names);
    m_w.device->setCurrentIndex(names.size() == 1 ? 1 : 0);
  }
  m_uiReady = true;
  m_deviceIndex = m_w.device->currentIndex();
  selectPlayDevice(m_deviceIndex);
}

void DeviceManager::selectPlayDevice(int index) {
  if (!m_uiReady) return;
  m_deviceIndex = index;
  if (index > 0) {
    m_driverType == kShared ? openShared(index - 1) : openDirect(index - 1);
    return;
  }
  // The placeholder: nothing plays.
  closeOutputs();
  showOffline();
}

// Stops what plays and closes both outputs, before another one opens.
void DeviceManager::closeOutputs() {
  engine::setDeviceWatchdog(kWatchdogMs);
  m_deviceOpen = false;
  stopPlayback();
  closeShared();
  (void)m_bridge.stopDevice(nullptr);
  m_openDevice = -1;
}

int DeviceManager::openBridge(int device, uint32_t* mask) {
  if (!engine::prepareEngine(playRate(), libraryFunctions(m_sonvex))) return kAsioLinkNoMemory;
  *mask = 0;
  const int rc = m_bridge.openDevice(nullptr, device, playRate(), &renderDeviceBlock, mask);
  m_openDevice = rc == kAsioLinkOk ? device : -1;
  m_openRate = rc == kAsioLinkOk ? playRate() : 0;
  return rc;
}

void DeviceManager::openDirect(int device) {
  if (m_listRebuilding || !m_bridge.isUsable()) return;
  closeOutputs();
  uint32_t mask = 0;
  const int rc = openBridge(device, &mask);
  const std::vector<int> offered = playrates::ratesFromMask(mask);
  // A device that does not take the present rate still says which it takes:
  // the rate is fitted to them below and the device opened again.
  if ((rc == kAsioLinkOk || rc == kAsioLinkUnsupportedRate) && !offered.empty()) {
    m_deviceOpen = rc == kAsioLinkOk;
    engine::setDeviceWatchdog(kWatchdogMs);
    m_rates.setSupportedRates(offered);
    QStringList labels{QString::fromLatin1(playrates::kAuto)};
    for (int hz : offered) labels << QString::fromStdString(playrates::labelFor(hz));
    fillRates(labels);
  } else {
    if (rc == kAsioLinkOk) (void)m_bridge.stopDevice(nullptr);
    m_openDevice = -1;
    showOffline();
    if (!m_quiet) {
      QString text = tr("Failed to select this device.");
      if (rc == kAsioLinkBusy)
        text += QStringLiteral("\n") + tr("Already in use by other application.");
      warn(tr("Select Device Failed"), text);
    }
  }
  selectPlayFs();
  fitPlayRate();
  applyPlayRate();
}

void DeviceManager::openShared(int device) {
  if (m_bridge.isUsable()) {
    engine::setDeviceWatchdog(kWatchdogMs);
    m_deviceOpen = false;
    stopPlayback();
    (void)m_bridge.unSelectDevice(nullptr);
    m_openDevice = -1;
  }
  if (m_driverType != kShared || m_deviceIndex <= 0) return;
  stopPlayback();
  engine::setDeviceWatchdog(kWatchdogMs);
  m_deviceOpen = false;
  closeShared();
  fillRates({});
  m_shared.enumerateDevices();
  int rc = m_shared.openDevice(device);
  const int mixRate = rc == SharedOutput::kOk ? int(m_shared.mixFormat().samplesPerSec) : 0;
  // The engine renders at the play rate: a mix rate without a rate code
  // would play at the wrong speed.
  if (rc == SharedOutput::kOk && playrates::codeFor(mixRate) < 0) {
    m_shared.closeDevice();
    rc = SharedOutput::kNoFormat;
  }
  if (rc == SharedOutput::kOk &&
      !engine::prepareEngine(mixRate, libraryFunctions(m_sonvex), m_shared.bufferFrames())) {
    m_shared.closeDevice();
    rc = SharedOutput::kOpenFailed;
  }
  if (rc == SharedOutput::kOk && !m_shared.start()) {
    m_shared.closeDevice();
    rc = SharedOutput::kThreadFailed;
  }
  if (rc != SharedOutput::kOk) {
    showOffline();
    if (!m_quiet) {
      QString text = tr("Failed to select this device.");
      if (rc == SharedOutput::kInUse)
        text += QStringLiteral("\n") + tr("Already in use by other application.");
      warn(tr("Select Device Failed"), text);
    }
    return;
  }
  engine::setDeviceWatchdog(kWatchdogMs);
  m_deviceOpen = true;
  m_rates.setSupportedRates({mixRate});
  fillRates({QString::fromStdString(playrates::labelFor(mixRate))});
  selectPlayFs();
  fitPlayRate();
  applyPlayRate();
}

// ---------------------------------------------------------------------------
// Play rate

void DeviceManager::changePlayFrequency() {
  selectPlayFs();
  fitPlayRate();
  applyPlayRate();
}

void DeviceManager::selectPlayFs() { m_rates.select(rateText().toStdString(), fileRate()); }

void DeviceManager::fitPlayRate() {
  m_rates.fit();
  m_rates.fitToOffered();
}

void DeviceManager::applyPlayRate() {
  if (!m_uiReady || m_deviceIndex <= 0 || rateText() == QLatin1String(playrates::kOffline)) return;
  engine::clearMeterPeaks();
  if (m_driverType == kDirect && (m_openDevice != m_deviceIndex - 1 || m_openRate != playRate())) {
    closeOutputs();
    uint32_t mask = 0;
    const int rc = openBridge(m_deviceIndex - 1, &mask);
    engine::setDeviceWatchdog(kWatchdogMs);
    m_deviceOpen = rc == kAsioLinkOk;
    if (rc != kAsioLinkOk && !m_quiet) {
      QString text = tr("Failed to select this device.");
      if (rc == kAsioLinkBusy)
        text += QStringLiteral("\n") + tr("Already in use by other application.");
      warn(tr("Select Device Failed"), text);
    }
  }
  if (m_eq) {
    retuneEq(m_eq, double(playRate()));
    engine::publishEq(true);
  }
  emit playRateChanged(playRate());
}

void DeviceManager::followFileRate() {
  m_rates.followFile(fileRate());
  fitPlayRate();
  if (m_deviceIndex > 0) applyPlayRate();
}

// ---------------------------------------------------------------------------
// Start-up selection, typed devices, control panel

void DeviceManager::applyAudioSelection(int driverType, const QString& device,
                                        const QString& rateText) {
  m_quiet = true;
  auto setDriver = [this](int type) {
    if (m_w.driver->currentIndex() == type)
      changeDriverType(type);
    else
      m_w.driver->setCurrentIndex(type);  // its handler builds the list
  };
  setDriver(driverType == kShared ? kShared : kDirect);
  // A saved name the lists do not produce was typed once: offer it again.
  if (isTypedName(device) && m_w.device->findText(device, Qt::MatchExactly) < 0) {
    if (m_driverType == kDirect && m_bridge.addDevice(device) >= 0) changeDriverType(kDirect);
    if (m_driverType == kShared) {
      m_shared.addEndpoint(device.toStdString());
      changeDriverType(kShared);
    }
  }
  if (m_driverType == kDirect && m_w.device->count() <= 1) setDriver(kShared);
  const int count = m_w.device->count();
  if (count > 2) {
    const int found = m_w.device->findText(device, Qt::MatchExactly | Qt::MatchCaseSensitive);
    const int index = found > 0 ? found : 0;
    {
      const QSignalBlocker block(m_w.device);
      m_w.device->setCurrentIndex(index);
    }
    if (index > 0) selectPlayDevice(index);
  }
  if (count >= 2 && m_w.rate->count() > 1) {
    const int found = m_w.rate->findText(rateText, Qt::MatchExactly | Qt::MatchCaseSensitive);
    {
      const QSignalBlocker block(m_w.rate);
      m_w.rate->setCurrentIndex(found >= 0 ? found : 0);
    }
    changePlayFrequency();
  }
  m_quiet = false;
}

void DeviceManager::addTypedDevice(const QString& pcmName) {
  if (pcmName.isEmpty()) return;
  if (m_driverType == kShared)
    m_shared.addEndpoint(pcmName.toStdString());
  else if (m_bridge.addDevice(pcmName) < 0)
    return;
  changeDriverType(m_driverType);
}

void DeviceManager::openControlPanel() {
  if (m_driverType != kDirect || !m_bridge.isUsable()) return;
  (void)m_bridge.openPanel(nullptr);
  const QString text = m_bridge.panelText();
  if (text.isEmpty()) return;
  QMessageBox box(QMessageBox::Information, tr("Control Panel"), text, QMessageBox::Ok, m_window);
  box.exec();
}

// ---------------------------------------------------------------------------
// Playback

bool DeviceManager::checkCanPlay() {
  if (!m_session.isFileOpen()) {
    warn(tr("File Not Opened"), tr("Please open audio file."));
  } else if (m_w.device->currentIndex() < 1) {
    warn(tr("Audio Device Not Selected"), tr("Please select audio device."));
  } else if (rateText() == QLatin1String(playrates::kOffline) || !m_deviceOpen) {
    // An open that failed at the chosen rate leaves the list but no device.
    warn(tr("Audio Device is Offline"), tr("Please connect active audio device."));
  } else {
    return true;
  }
  return false;
}

bool DeviceManager::startPlayback(double monitorVolumeDb) {
  m_monitorVolumeDb = monitorVolumeDb;
  if (!checkCanPlay()) return false;
  bool eqIdle = !m_eq || !m_eq->masterOn || *m_eq->masterOn == 0;
  if (!eqIdle) {
    eqIdle = true;
    for (const EqBand& b : m_eq->band) eqIdle = eqIdle && b.on == 0;
  }
  engine::setDsdDirect(eqIdle && monitorVolumeDb == 0.0 && uint32_t(playRate()) == fileRate() ? 1
                                                                                              : 0);
  if (engine::isPlaying()) return true;
  // A stopped playback's conversion may still be winding down.
  for (int i = 0; i < kJobWaitSteps && m_jobs->isBusy(); ++i) QThread::msleep(10);
  if (m_jobs->isBusy()) return false;
  JobRequest request;
  const SourceDescription& source = m_session.source();
  engine::buildPlaybackRequest(&request, m_session.filePath(), m_rates.rate().code,
                               int64_t(m_session.playPositionFrames()), source, m_eq);
  m_jobs->setJob(8, request, source, nullptr, m_envelope);
  engine::setPlaybackJob(m_jobs->index());
  m_userStopped = false;
  m_jobs->addTransaction(new ClassSonvex(8));
  m_session.setPlaying(true);
  return true;
}

void DeviceManager::stopPlayback() {
  const bool wasPlaying = m_session.isPlaying() || engine::isPlaying();
  if (wasPlaying) m_userStopped = true;
  // A job that has not reached its first block yet would miss the request.
  for (int i = 0;
       i < kStopWaitSteps && m_session.isPlaying() && m_jobs->isBusy() && !engine::isPlaying(); ++i)
    QThread::msleep(10);
  if (engine::isPlaying()) {
    pollPosition();  // where it stops
    engine::requestStop(&m_jobs->jobRequest(), nullptr);
    for (int i = 0; i < kStopWaitSteps && engine::isPlaying(); ++i) QThread::msleep(10);
  }
  m_w.play->setChecked(false);
  m_session.setPlaying(false);
}

bool DeviceManager::reportPlaybackResult(int status) {
  // A result that arrives after a newer playback started belongs to the past.
  if (m_jobs->isBusy()) return false;
  const std::string text = playrates::failureText(status);
  if (!text.empty()) {
    warn(tr("Playback Failed"),
         tr(text.c_str()) + QStringLiteral("\n") + tr("[Code = %1]").arg(status));
  }
  const bool ranToEnd =
      text.empty() && !m_userStopped && m_restartCountdown == 0 && m_session.isPlaying();
  if (ranToEnd) m_session.setPlayPosition(m_session.totalFrames());
  m_w.play->setChecked(false);
  m_session.setPlaying(false);
  return ranToEnd;
}

void DeviceManager::goOffline() {
  engine::setDeviceWatchdog(kWatchdogMs);
  m_deviceOpen = false;
  stopPlayback();
  closeShared();
  (void)m_bridge.unSelectDevice(nullptr);
  m_openDevice = -1;
  m_deviceIndex = 0;
  showOffline();
}

void DeviceManager::pollPosition() {
  // Only while the engine plays: before that it still holds the last run's.
  if (!m_session.isPlaying() || !engine::isPlaying()) return;
  const engine::PlaybackControl& pc = engine::control();
  const uint64_t src = pc.sourceRate.load(std::memory_order_relaxed);
  const uint64_t rate = uint64_t(std::max(1, pc.playRate.load(std::memory_order_relaxed)));
  const uint64_t frames = engine::getPlayPosition() * src / rate;
  m_session.setPlayPosition(std::min(frames, m_session.totalFrames()));
}

void DeviceManager::tick() {
  pollPosition();
  if (m_deviceOpen && engine::consumeWatchdog(kTickMs)) {
    goOffline();
    warn(tr("Audio Device is Offline"), tr("Selected audio device goes offline."));
    return;
  }
  if (m_driverType != kDirect || !m_bridge.isUsable()) return;
  if (m_restartCountdown == 0 && ++m_bufferCheckTicks >= kBufferCheckTicks) {
    m_bufferCheckTicks = 0;
    const int rc = m_bridge.bufferSizeRequest(nullptr, 0);
    if (rc == kAsioLinkBufferSizeChanged) {
      if (m_session.isPlaying()) {
        stopPlayback();
        m_restartCountdown = kRestartTicks;
      } else {
        (void)m_bridge.bufferSizeRequest(nullptr, 1);
      }
    } else if (rc == kAsioLinkDeviceGone && m_deviceOpen) {
      goOffline();
      warn(tr("Audio Device is Offline"), tr("Selected audio device goes offline."));
      return;
    }
  }
  if (m_restartCountdown > 0) {
    --m_restartCountdown;
    if (m_restartCountdown == kBufferCheckTicks) (void)m_bridge.bufferSizeRequest(nullptr, 1);
    if (m_restartCountdown == 0) {
      const bool started = startPlayback(m_monitorVolumeDb);
      m_w.play->setChecked(started);
      emit playbackRestarted(started);
    }
  }
}
