#include "mainwindowui.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>

#include "faderwidgets.h"
#include "metergraphic.h"
#include "pictureswitch.h"
#include "styledcontrols.h"
#include "trackgraphic.h"
#include "widgettc.h"

const char* const kWaveScrollBarStyle =
    "QScrollBar:horizontal {\n"
    "  border: 1px solid #2B2B2B;\n"
    "  background: #151515;\n"
    "  height: 15px;\n"
    "  margin: 0px 20px 0px 20px;\n"
    "}\n"
    "QScrollBar::handle:horizontal {\n"
    "  background: #373737;\n"
    "  min-width: 20px;\n"
    "}\n"
    "QScrollBar::add-line:horizontal {\n"
    "  border: 1px solid #2B2B2B;\n"
    "  background: #151515;\n"
    "  width: 20px;\n"
    "  subcontrol-position: right;\n"
    "  subcontrol-origin: margin;\n"
    "}\n"
    "QScrollBar::sub-line:horizontal {\n"
    "  border: 1px solid #2B2B2B;\n"
    "  background: #151515;\n"
    "  width: 20px;\n"
    "  subcontrol-position: left;\n"
    "  subcontrol-origin: margin;\n"
    "}\n"
    "QScrollBar:left-arrow:horizontal, QScrollBar::right-arrow:horizontal {\n"
    "  border: 1px solid #373737;\n"
    "  width: 3px;\n"
    "  height: 3px;\n"
    "  background: #373737;\n"
    "}\n"
    "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal {\n"
    "  background: none;\n"
    "}\n";

namespace {

const char* const kGrey130 = "color: rgb(130, 130, 130);";
const char* const kGrey180 = "color: rgb(180, 180, 180);";
const char* const kWhite = "color: rgb(255, 255, 255);";

template <typename W>
W* place(QWidget* parent, const char* name, int x, int y, int w, int h) {
  W* widget = new W(parent);
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h, const char* style) {
  QLabel* l = place<QLabel>(parent, name, x, y, w, h);
  if (style) l->setStyleSheet(QLatin1String(style));
  return l;
}

}  // namespace

void MainWindowUi::setupUi(QMainWindow* window) {
  window->setObjectName(QStringLiteral("MainWindow"));
  window->setFixedSize(800, 624);

  centralWidget = new QWidget(window);
  centralWidget->setObjectName(QStringLiteral("centralWidget"));

  labelBackground = place<QLabel>(centralWidget, "labelBackground", 0, 0, 800, 600);
  labelBackground->setPixmap(QPixmap(QStringLiteral(":/resources/bg/mainWindow_back.png")));

  comboBox_driver = place<blackComboBox>(centralWidget, "comboBox_driver", 49, 10, 63, 21);
  comboBox_driver->setFixedSize(63, 21);
  comboBox_asioDev = place<blackComboBox>(centralWidget, "comboBox_asioDev", 167, 10, 232, 21);
  comboBox_asioDev->setFixedSize(232, 21);
  comboBox_asioFreq = place<blackComboBox>(centralWidget, "comboBox_asioFreq", 478, 10, 70, 21);
  comboBox_asioFreq->setFixedSize(70, 21);
  pushAsioCont = place<whiteButton>(centralWidget, "pushAsioCont", 564, 4, 50, 27);

  lineEditTime = place<widgetTc>(centralWidget, "lineEditTime", 50, 71, 190, 38);
  lineEditTime->setStyleSheet(QStringLiteral(
      "color: rgb(255, 255, 255);\nbackground-color: rgb(0, 0, 0);\nfont-size: 31px;"));
  lineEditTime->setFrame(false);

  widgetMeter = place<meterGraphic>(centralWidget, "widgetMeter", 262, 70, 492, 40);

  widgetFadeBase = place<WidgetFaderBase>(centralWidget, "widgetFadeBase", 280, 57, 250, 18);
  label_FaderTop = place<faderTop>(widgetFadeBase, "label_FaderTop", 30, 0, 18, 18);
  widgetFadeBase->setKnob(label_FaderTop);
  label_VolumeDB = label(centralWidget, "label_VolumeDB", 534, 56, 41, 20, kWhite);
  pushButtonPostFader = place<QPushButton>(centralWidget, "pushButtonPostFader", 615, 57, 138, 17);
  pushButtonPostFader->setCheckable(true);

  labelFadeIn = label(centralWidget, "labelFadeIn", 50, 140, 141, 21, kGrey130);
  labelGainVal = place<labelGain>(centralWidget, "labelGainVal", 350, 140, 151, 20);
  labelGainVal->setStyleSheet(QLatin1String(kGrey130));
  labelFadeOut = label(centralWidget, "labelFadeOut", 590, 140, 161, 20, kGrey130);

  widgetTrack1 = place<trackGraphic>(centralWidget, "widgetTrack1", 50, 164, 700, 180);

  labelInPoint = label(centralWidget, "labelInPoint", 50, 349, 141, 21, kGrey130);
  labelInOut = label(centralWidget, "labelInOut", 328, 349, 161, 21, kGrey130);
  labelInOut->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  labelOutPoint = label(centralWidget, "labelOutPoint", 590, 349, 161, 21, kGrey130);
  labelOutPoint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  waveScrollBar = place<QScrollBar>(centralWidget, "waveScrollBar", 50, 373, 665, 10);
  waveScrollBar->setOrientation(Qt::Horizontal);
  zoomOutTimeButton = place<zoomOutButton>(centralWidget, "zoomOutTimeButton", 717, 372, 16, 16);
  zoomInTimeButton = place<zoomInButton>(centralWidget, "zoomInTimeButton", 736, 372, 16, 16);
  zoomInLevelButton = place<zoomInButton>(centralWidget, "zoomInLevelButton", 756, 243, 16, 16);
  zoomOutLevelButton = place<zoomOutButton>(centralWidget, "zoomOutLevelButton", 756, 262, 16, 16);

  labelSetPoint = label(centralWidget, "labelSetPoint", 224, 397, 70, 23, kWhite);
  setPointButtonSetIn =
      place<setPointButton>(centralWidget, "setPointButtonSetIn", 296, 397, 110, 23);
  setPointButtonSetOut =
      place<setPointButton>(centralWidget, "setPointButtonSetOut", 410, 397, 110, 23);

  labelEqIndicator = place<eqIndicator>(centralWidget, "labelEqIndicator", 160, 447, 61, 31);
  pushButtonOpen = place<QPushButton>(centralWidget, "pushButtonOpen", 49, 475, 83, 26);
  pushButtonEdit = place<QPushButton>(centralWidget, "pushButtonEdit", 153, 475, 83, 26);
  pushCh1PEQ = place<QPushButton>(centralWidget, "pushCh1PEQ", 158, 483, 83, 26);
  zeroPlayButton = place<lmeZeroPlayButton>(centralWidget, "zeroPlayButton", 365, 470, 52, 36);
  stopButton = place<lmeStopButton>(centralWidget, "stopButton", 444, 472, 33, 34);
  playButton = place<lmePlayButton>(centralWidget, "playButton", 509, 470, 45, 35);
  playButton->setCheckable(true);
  pushButton_Combine = place<QPushButton>(centralWidget, "pushButton_Combine", 668, 475, 83, 26);

  labelFileName = label(centralWidget, "labelFileName", 50, 547, 81, 16, kWhite);
  label_orgFileNameArea = label(centralWidget, "label_orgFileNameArea", 123, 543, 376, 21,
                                "color: rgb(255, 255, 255);\nfont-size: 17px;");
  label_orgTime = label(centralWidget, "label_orgTime", 54, 569, 77, 16, kGrey180);
  label_orgFileType = label(centralWidget, "label_orgFileType", 140, 569, 84, 16, kGrey180);
  label_orgFreq = label(centralWidget, "label_orgFreq", 230, 569, 64, 16, kGrey180);
  label_orgBit = label(centralWidget, "label_orgBit", 300, 569, 64, 16, kGrey180);
  label_orgCh = label(centralWidget, "label_orgCh", 370, 569, 64, 16, kGrey180);

  window->setCentralWidget(centralWidget);

  menuBar = new QMenuBar(window);
  menuBar->setObjectName(QStringLiteral("menuBar"));
  menuBar->setGeometry(0, 0, 800, 24);
  // The background picture is 600 high: the bar takes exactly the rest.
  menuBar->setFixedHeight(24);
  menuFile = new QMenu(menuBar);
  menuFile->setObjectName(QStringLiteral("menuFile"));
  const auto action = [window](const char* name, const QKeySequence& keys) {
    auto* a = new QAction(window);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(keys);
    return a;
  };
  actionOpen = action("actionOpen", QKeySequence(Qt::CTRL + Qt::Key_O));
  actionExport = action("actionExport", QKeySequence(Qt::CTRL + Qt::Key_E));
  actionCombine = action("actionCombine", QKeySequence());
  actionQuit = action("actionQuit", QKeySequence(Qt::CTRL + Qt::Key_Q));
  actionPlayStop = action("actionPlayStop", QKeySequence(Qt::Key_Space));
  actionSetIn = action("actionSetIn", QKeySequence(Qt::Key_I));
  actionSetOut = action("actionSetOut", QKeySequence(Qt::Key_O));
  window->addActions({actionPlayStop, actionSetIn, actionSetOut});
  menuTools = new QMenu(menuBar);
  menuTools->setObjectName(QStringLiteral("menuTools"));
  menuOVER_Indicator = new QMenu(menuTools);
  menuOVER_Indicator->setObjectName(QStringLiteral("menuOVER_Indicator"));
  menuOVER_Indicator->setIcon(QIcon(QStringLiteral(":/resources/icons/icon_over.png")));
  actionOverHolds2sec = new QAction(window);
  actionOverHolds2sec->setObjectName(QStringLiteral("actionOverHolds2sec"));
  actionOverHolds2sec->setCheckable(true);
  actionOverHoldsUntilClicked = new QAction(window);
  actionOverHoldsUntilClicked->setObjectName(QStringLiteral("actionOverHoldsUntilClicked"));
  actionOverHoldsUntilClicked->setCheckable(true);
  actionOscillator = new QAction(window);
  actionOscillator->setObjectName(QStringLiteral("actionOscillator"));

  menuHelp = new QMenu(menuBar);
  menuHelp->setObjectName(QStringLiteral("menuHelp"));
  menu_Manual = new QMenu(menuHelp);
  menu_Manual->setObjectName(QStringLiteral("menu_Manual"));
  actionEnglishManual = new QAction(window);
  actionEnglishManual->setObjectName(QStringLiteral("actionEnglishManual"));
  actionJapaneseManual = new QAction(window);
  actionJapaneseManual->setObjectName(QStringLiteral("actionJapaneseManual"));
  menu_About = new QMenu(menuHelp);
  menu_About->setObjectName(QStringLiteral("menu_About"));
  actionAboutThisApplication = new QAction(window);
  actionAboutThisApplication->setObjectName(QStringLiteral("actionAboutThisApplication"));
  actionAboutLicenses = new QAction(window);
  actionAboutLicenses->setObjectName(QStringLiteral("actionAboutLicenses"));

  menuBar->addAction(menuFile->menuAction());
  menuFile->addAction(actionOpen);
  menuFile->addAction(actionExport);
  menuFile->addAction(actionCombine);
  menuFile->addSeparator();
  menuFile->addAction(actionQuit);
  menuBar->addAction(menuTools->menuAction());
  menuBar->addAction(menuHelp->menuAction());
  menuTools->addAction(menuOVER_Indicator->menuAction());
  menuOVER_Indicator->addAction(actionOverHolds2sec);
  menuOVER_Indicator->addAction(actionOverHoldsUntilClicked);
  menuHelp->addAction(menu_Manual->menuAction());
  menuHelp->addSeparator();
  menuHelp->addAction(menu_About->menuAction());
  menu_Manual->addAction(actionEnglishManual);
  menu_Manual->addAction(actionJapaneseManual);
  menu_About->addAction(actionAboutThisApplication);
  menu_About->addAction(actionAboutLicenses);
  window->setMenuBar(menuBar);

  retranslateUi(window);
}

void MainWindowUi::retranslateUi(QMainWindow* window) {
  window->setWindowTitle(QMainWindow::tr("MALVEC Lumara Editor"));
  comboBox_driver->clear();
  comboBox_driver->addItem(QMainWindow::tr("ALSA direct"));
  comboBox_driver->addItem(QMainWindow::tr("Desktop (shared)"));
  comboBox_asioFreq->clear();
  for (const char* rate : {"44.1kHz", "48kHz", "88.2kHz", "96kHz", "176.4kHz", "192kHz", "352.8kHz",
                           "384kHz", "2.8MHz", "5.6MHz"}) {
    comboBox_asioFreq->addItem(QLatin1String(rate));
  }
  pushAsioCont->setText(QMainWindow::tr("Control\nPanel"));
  lineEditTime->setText(QStringLiteral("00:00:00.00"));
  label_VolumeDB->setText(QStringLiteral("  0 dB"));
  pushButtonPostFader->setText(QMainWindow::tr("POST FADER ON"));
  labelFadeIn->setText(QMainWindow::tr("FadeIn ="));
  labelGainVal->setText(QMainWindow::tr("Gain = 0.0 dB"));
  labelFadeOut->setText(QMainWindow::tr("FadeOut ="));
  labelInPoint->setText(QMainWindow::tr("In Point ="));
  labelInOut->setText(QMainWindow::tr("IN-OUT ="));
  labelOutPoint->setText(QMainWindow::tr("Out Point ="));
  labelSetPoint->setText(QMainWindow::tr("SET POINT"));
  setPointButtonSetIn->setText(QMainWindow::tr("IN"));
  setPointButtonSetOut->setText(QMainWindow::tr("OUT"));
  labelEqIndicator->setPixmap(QPixmap(QStringLiteral(":/jpgData/eqOff.png")));
  pushButtonOpen->setText(QMainWindow::tr("OPEN"));
  pushButtonEdit->setText(QMainWindow::tr("EXPORT"));
  pushCh1PEQ->setText(QMainWindow::tr("EQ"));
  pushButton_Combine->setText(QMainWindow::tr("COMBINE"));
  labelFileName->setText(QMainWindow::tr("File Name :"));

  menuFile->setTitle(QMainWindow::tr("&File"));
  actionOpen->setText(QMainWindow::tr("&Open..."));
  actionExport->setText(QMainWindow::tr("&Export..."));
  actionCombine->setText(QMainWindow::tr("&Combine..."));
  actionQuit->setText(QMainWindow::tr("&Quit"));
  actionPlayStop->setText(QMainWindow::tr("Play / Stop"));
  actionSetIn->setText(QMainWindow::tr("Set In Point"));
  actionSetOut->setText(QMainWindow::tr("Set Out Point"));
  menuTools->setTitle(QMainWindow::tr("Tools"));
  menuOVER_Indicator->setTitle(QMainWindow::tr("OVER Indicator"));
  actionOverHolds2sec->setText(QMainWindow::tr("Holds 2 sec."));
  actionOverHoldsUntilClicked->setText(QMainWindow::tr("Holds Until Clicked"));
  actionOscillator->setText(QMainWindow::tr("Oscillator..."));
  menuHelp->setTitle(QMainWindow::tr("&Help"));
  menu_Manual->setTitle(QMainWindow::tr("&Manual"));
  actionEnglishManual->setText(QMainWindow::tr("English"));
  actionJapaneseManual->setText(QMainWindow::tr("Japanese"));
  menu_About->setTitle(QMainWindow::tr("&About"));
  actionAboutThisApplication->setText(QMainWindow::tr("This Application"));
  actionAboutLicenses->setText(QMainWindow::tr("Licenses"));
}
