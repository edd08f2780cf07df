// The main window's widgets, built in code with their object names so that
// slots named on_<object>_<signal> connect by name.
#pragma once

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollBar;
class QWidget;
class blackComboBox;
class whiteButton;
class widgetTc;
class WidgetFaderBase;
class faderTop;
class labelGain;
class trackGraphic;
class zoomInButton;
class zoomOutButton;
class setPointButton;
class eqIndicator;
class meterGraphic;
class lmeZeroPlayButton;
class lmeStopButton;
class lmePlayButton;

struct MainWindowUi {
  QWidget* centralWidget = nullptr;
  QLabel* labelBackground = nullptr;
  QMenuBar* menuBar = nullptr;
  blackComboBox* comboBox_driver = nullptr;
  blackComboBox* comboBox_asioDev = nullptr;
  blackComboBox* comboBox_asioFreq = nullptr;
  whiteButton* pushAsioCont = nullptr;
  widgetTc* lineEditTime = nullptr;
  meterGraphic* widgetMeter = nullptr;
  WidgetFaderBase* widgetFadeBase = nullptr;
  faderTop* label_FaderTop = nullptr;
  QLabel* label_VolumeDB = nullptr;
  QPushButton* pushButtonPostFader = nullptr;
  QLabel* labelFadeIn = nullptr;
  labelGain* labelGainVal = nullptr;
  QLabel* labelFadeOut = nullptr;
  trackGraphic* widgetTrack1 = nullptr;
  QLabel* labelInPoint = nullptr;
  QLabel* labelInOut = nullptr;
  QLabel* labelOutPoint = nullptr;
  QScrollBar* waveScrollBar = nullptr;
  zoomOutButton* zoomOutTimeButton = nullptr;
  zoomInButton* zoomInTimeButton = nullptr;
  zoomInButton* zoomInLevelButton = nullptr;
  zoomOutButton* zoomOutLevelButton = nullptr;
  QLabel* labelSetPoint = nullptr;
  setPointButton* setPointButtonSetIn = nullptr;
  setPointButton* setPointButtonSetOut = nullptr;
  eqIndicator* labelEqIndicator = nullptr;
  QPushButton* pushButtonOpen = nullptr;
  QPushButton* pushButtonEdit = nullptr;
  QPushButton* pushCh1PEQ = nullptr;
  lmeZeroPlayButton* zeroPlayButton = nullptr;
  lmeStopButton* stopButton = nullptr;
  lmePlayButton* playButton = nullptr;
  QPushButton* pushButton_Combine = nullptr;
  QLabel* labelFileName = nullptr;
  QLabel* label_orgFileNameArea = nullptr;
  QLabel* label_orgTime = nullptr;
  QLabel* label_orgFileType = nullptr;
  QLabel* label_orgFreq = nullptr;
  QLabel* label_orgBit = nullptr;
  QLabel* label_orgCh = nullptr;

  QMenu* menuFile = nullptr;
  QAction* actionOpen = nullptr;    // Ctrl+O
  QAction* actionExport = nullptr;  // Ctrl+E
  QAction* actionCombine = nullptr;
  QAction* actionQuit = nullptr;  // Ctrl+Q
  // Keys without a menu entry, held by the window.
  QAction* actionPlayStop = nullptr;  // Space
  QAction* actionSetIn = nullptr;     // I
  QAction* actionSetOut = nullptr;    // O
  QMenu* menuTools = nullptr;
  QMenu* menuOVER_Indicator = nullptr;
  QAction* actionOverHolds2sec = nullptr;
  QAction* actionOverHoldsUntilClicked = nullptr;
  QAction* actionOscillator = nullptr;  // in "Tools" only in oscillator mode
  QMenu* menuHelp = nullptr;
  QMenu* menu_Manual = nullptr;
  QAction* actionEnglishManual = nullptr;
  QAction* actionJapaneseManual = nullptr;
  QMenu* menu_About = nullptr;
  QAction* actionAboutThisApplication = nullptr;
  QAction* actionAboutLicenses = nullptr;

  void setupUi(QMainWindow* window);
  void retranslateUi(QMainWindow* window);
};

// Inline style of the time scroll bar.
extern const char* const kWaveScrollBarStyle;
