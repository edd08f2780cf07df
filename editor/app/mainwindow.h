// The single main window: owns every other object of the program, opens
// audio files, keeps the open file's information and guards EXPORT, COMBINE
// and PLAY.
#pragma once

#include <QDir>
#include <QMainWindow>
#include <QString>
#include <cstdint>

#include "asiobridge.h"
#include "editpoints.h"
#include "session.h"
#include "settings.h"
#include "sonvex.h"
#include "sonvexbinding.h"
#include "trackgraphic.h"

class DeviceManager;
class DialogEdit;
class DialogOscillator;
class DialogPeq;
class EqSettingsBlock;
class QActionGroup;
class audioThread;
class QTimer;
class WaveformController;
struct MainWindowUi;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Folder that libsonvex.so and libasiolink.so are loaded from; the
  // program's own folder unless set before construction.
  static void setLibraryDirectory(const QString& dir);
  static QString libraryDirectory();

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Opens a file as the OPEN button and drops do. Returns true on success;
  // on failure the previous file stays open.
  bool openAudioFile(const QString& path);
  static bool checkFileExtension(const QString& path);
  static bool checkSampleRate(uint32_t rate);

  // The open file, its range, position and play state live in the session;
  // these read it.
  Session& session() { return m_session; }
  bool isFileOpen() const { return m_session.isFileOpen(); }
  QString currentFilePath() const { return QString::fromStdU16String(m_session.filePath()); }
  const AudioFileInfo& fileInfo() const { return m_session.fileInfo(); }
  uint64_t totalFrames() const { return m_session.totalFrames(); }
  uint64_t playPositionFrames() const { return m_session.playPositionFrames(); }

  double monitorVolumeDb() const { return m_monitorVolumeDb; }
  int overHoldTimeMs() const { return m_overHoldTimeMs; }
  bool oscillatorMode() const { return m_oscillatorMode; }
  // Appends "Oscillator..." to "Tools" when on, removes it when off.
  void setOscillatorMode(bool on);
  bool neverShowFirstInfo() const { return m_neverShowFirstInfo; }
  void setNeverShowFirstInfo(bool never) { m_neverShowFirstInfo = never; }

  // The marked region in source frames (in, fades, out, gain): what EXPORT
  // checks and hands to the export dialog.
  const EditRange& editRange() const { return m_session.editRange(); }
  int64_t exportInFrames() const { return m_session.editRange().inFrames; }
  int64_t exportOutFrames() const { return m_session.editRange().outFrames; }
  double playPositionFraction() const { return m_session.playPositionFraction(); }
  WaveformController* waveform() const { return m_waveform; }

  // Full redraw of the OpenGL views, for when something covered the window
  // while they drew (their pixel caches read back what was on screen).
  void redrawViews();

  const SonvexBinding& sonvex() const { return m_sonvex; }
  DialogEdit* exportDialog() const { return m_dialogEdit; }
  EqSettingsBlock* eqBlock() const { return m_eq; }
  DialogPeq* eqDialog() const { return m_dialogPeq; }
  DialogOscillator* oscillatorDialog() const { return m_dialogOsc; }
  AsioBridge& asioBridge() { return m_asio; }
  DeviceManager* devices() const { return m_devices; }

 signals:
  void moveInPoint(F64 inPoint);
  void moveOutPoint(F64 outPoint);

 public slots:
  void monitorVolumeMoved(int iPosi);
  void showFirstInformationPopup();
  // Edit model and waveform view.
  void trackEditParamChanged();
  void trackMousePressed();
  void timeCounterEnterPressed();
  void timeCounterEscapePressed();
  void labelGainValDoubleClicked();
  // Test oscillator and EQ dialog.
  void oscIndicatorChanged(int on);
  void oscFreqChanged(int hz);
  void oscLevelChanged(int db);
  void selAllEqOnOff(int iSel);
  void eqIndicatorClicked();
  // The playback job's end.
  void allTransactionsDone(int iStatus);

 private slots:
  void on_pushButtonOpen_clicked();
  void on_pushButtonEdit_clicked();
  void on_pushButton_Combine_clicked();
  void on_playButton_clicked();
  void on_stopButton_clicked();
  void on_zeroPlayButton_clicked();
  void on_pushButtonPostFader_toggled(bool checked);
  void on_pushAsioCont_clicked();
  void on_comboBox_driver_currentIndexChanged(int index);
  void on_setPointButtonSetIn_clicked();
  void on_setPointButtonSetOut_clicked();
  void on_zoomInTimeButton_clicked();
  void on_zoomOutTimeButton_clicked();
  void on_zoomInLevelButton_clicked();
  void on_zoomOutLevelButton_clicked();
  void on_waveScrollBar_valueChanged(int value);

  void menuAboutClicked();
  void menuLicensesClicked();
  void menuEnglishManualClicked();
  void menuJapaneseManualClicked();
  void menuOscillatorClicked();
  void on_pushCh1PEQ_clicked();
  void menuOverHolds2sec_toggled(bool checked);
  void menuOverHoldsUntilClicked_toggled(bool checked);
  void waveSliderPressed();
  void waveSliderReleased();
  void takeSeveralHundredMili();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // A press anywhere on the window ends typing in the time counter as Enter
  // does, before the pressed control acts.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Probes `path` into `info`; returns the library's code.
  int32_t prepareFile(const QString& path, AudioFileInfo* info);
  void setFileLoadedState(bool loaded);
  void fillFileLabels();
  // The session's stop hook: ends playback and its job (bounded wait).
  void stopPlaybackAndWait();
  bool checkReadyToPlay();
  bool startPlayback();
  // Time counter and play cursor at the session's position.
  void showPlayPosition();
  // The 45 ms tick's share for the level meter: the engine's peaks.
  void updateLevelMeter();
  void warn(const QString& title, const QString& text);
  // The settings file, read once by the constructor and written once by the
  // destructor.
  void loadSettings();
  void saveSettings();
  void openManual(const QString& fileName);
  // Frames between the in and out points of the export range.
  int64_t exportSpanFrames() const;

  MainWindowUi* ui;
  QActionGroup* m_overHoldGroup = nullptr;
  QTimer* m_pollTimer = nullptr;       // 45 ms engine poll
  QTimer* m_firstInfoTimer = nullptr;  // 500 ms one-shot start-up notice

  WaveformController* m_waveform = nullptr;  // summary buffers, thread, zoom
  SonvexBinding m_sonvex;
  Session m_session;  // outlives the dialogs, deleted in the destructor body
  AsioBridge m_asio;

  QString m_settingsFilePath;
  AppSettings m_settings;  // keeps the values whose owners are not built yet
  DialogEdit* m_dialogEdit = nullptr;
  EqSettingsBlock* m_eq = nullptr;
  DialogPeq* m_dialogPeq = nullptr;
  DialogOscillator* m_dialogOsc = nullptr;
  audioThread* m_jobThread = nullptr;  // playback jobs
  DeviceManager* m_devices = nullptr;  // output row, outputs, playback start
  int m_playRate = 44100;
  double m_monitorVolumeDb = 0.0;
  int m_driverType = 0;
  bool m_neverShowFirstInfo = false;
  bool m_oscillatorMode = false;
  bool m_precisionPlayback = false;  // kept for the settings file
  bool m_sliderHeld = false;
  bool m_counterTyped = false;  // the time counter holds text not yet applied
  int m_overHoldTimeMs = 2000;
  QDir m_outputDirectory;
};
