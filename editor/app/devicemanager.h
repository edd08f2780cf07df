// The output row of the main window and what it drives: the driver type
// (the direct bridge or the desktop's shared output), the device list, the
// play rate, opening and closing the outputs, the checks before playback,
// queueing the playback job, its result message, and the device watchdog.
// Runs on the GUI thread; the decisions without Qt live in playrates.h.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

#include "playrates.h"
#include "sharedoutput.h"
#include "sonvex.h"

class AsioBridge;
class QAbstractButton;
class QComboBox;
class QWidget;
class Session;
class audioThread;
struct EqSettings;
struct SonvexApi;

class DeviceManager : public QObject {
  Q_OBJECT

 public:
  enum DriverType { kDirect = 0, kShared = 1 };

  struct Widgets {
    QComboBox* driver;
    QComboBox* device;
    QComboBox* rate;
    QWidget* controlPanel;
    QAbstractButton* play;
  };

  DeviceManager(const Widgets& widgets, AsioBridge& bridge, Session& session,
                const SonvexApi& sonvex, EqSettings* eq, audioThread* jobs, QWidget* window);
  ~DeviceManager() override;

  // Driver combo index changed (also by hand when the index stays).
  void changeDriverType(int index);
  // Device combo: index 0 is the placeholder, device n is entry n + 1.
  void selectPlayDevice(int index);
  void changePlayFrequency();
  // Start-up: the saved driver, device and play-rate texts.
  void applyAudioSelection(int driverType, const QString& device, const QString& rateText);
  // After a file was opened: AUTO follows its rate.
  void followFileRate();
  // A PCM name of the ALSA configuration added to the current driver's list
  // ("hw:1,0", "iec958:CARD=X", a name the user defined); the list is rebuilt.
  void addTypedDevice(const QString& pcmName);
  void openControlPanel();

  // PLAY: checks, then queues the playback job from the session's position.
  [[nodiscard]] bool checkCanPlay();
  [[nodiscard]] bool startPlayback(double monitorVolumeDb);
  // Fades out a running playback and waits (1.5 s at most) for it to end.
  void stopPlayback();
  // The playback job's end; true when it ran to the end of the file.
  bool reportPlaybackResult(int status);
  // The device part of the 45 ms timer: play position, watchdog, restarts.
  void tick();
  // Ends the outputs before the window goes (playback already stopped).
  void shutdown();

  int driverType() const { return m_driverType; }
  int playRate() const { return m_rates.rate().hz; }
  bool deviceOpen() const { return m_deviceOpen; }
  const playrates::PlayRateModel& rates() const { return m_rates; }
  SharedOutput& sharedOutput() { return m_shared; }

 signals:
  // The EQ bands, the export dialog and the oscillator follow the play rate.
  void playRateChanged(int hz);
  // The play button and the play state after a restart.
  void playbackRestarted(bool started);

 protected:
  // The driver box is narrower than the names: its face shows a short one.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void pollPosition();
  void selectPlayFs();
  void fitPlayRate();
  void applyPlayRate();
  void openDirect(int device);
  void openShared(int device);
  void closeShared();
  void closeOutputs();
  void showOffline();
  void goOffline();
  void fillRates(const QStringList& labels);
  int openBridge(int device, uint32_t* mask);
  void warn(const QString& title, const QString& text);
  QString rateText() const;
  uint32_t fileRate() const;

  Widgets m_w;
  AsioBridge& m_bridge;
  Session& m_session;
  const SonvexApi& m_sonvex;
  EqSettings* m_eq;
  audioThread* m_jobs;
  QWidget* m_window;
  SharedOutput m_shared;
  playrates::PlayRateModel m_rates;

  int m_driverType = kDirect;
  int m_deviceIndex = 0;
  int m_openDevice = -1;  // bridge device open at m_openRate
  int m_openRate = 0;
  bool m_deviceOpen = false;
  bool m_listRebuilding = false;
  bool m_uiReady = false;
  bool m_quiet = false;  // start-up restore: failures show as "(offline)" only
  bool m_userStopped = false;
  int m_bufferCheckTicks = 0;
  int m_restartCountdown = 0;
  double m_monitorVolumeDb = 0.0;
  LevelPoint m_envelope[2] = {};
};
