// Pictures of the main window with a file open, the export, combine, EQ and
// oscillator dialogs and an export error for the docs and the manuals, taken
// from the program's own widgets with its style, font and (on a Japanese
// system) translation; with a FLAC file also that file open and the export
// dialog with FLAC chosen. tools/screenshots.sh runs it under a virtual display:
//   lumara_shots OUT_DIR SUFFIX AUDIO_FILE [FLAC_FILE]
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include "dialogcombine.h"
#include "dialogedit.h"
#include "dialogoscillator.h"
#include "dialogpeq.h"
#include "eqsettings.h"
#include "mainwindow.h"

namespace {

void settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool save(QWidget* w, const QString& path) {
  // The screen's pixels: the OpenGL view included.
  return QGuiApplication::primaryScreen()->grabWindow(w->winId()).save(path);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
  if (argc < 4) return 2;
  const QString out = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
  const QString suffix = QString::fromLocal8Bit(argv[2]);
  const QString audio = QString::fromLocal8Bit(argv[3]);
  const QString flac = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
  QTranslator translator;
  if (QLocale().language() == QLocale::Japanese &&
      translator.load(QLocale(), QStringLiteral("LumaraEditor"), QStringLiteral("_"),
                      QCoreApplication::applicationDirPath())) {
    app.installTranslator(&translator);
  }
  const int fontId =
      QFontDatabase::addApplicationFont(QCoreApplication::applicationDirPath() + "/ipagp.ttf");
  if (fontId >= 0) {
    QFont font(QFontDatabase::applicationFontFamilies(fontId).value(0));
    font.setPixelSize(13);
    app.setFont(font);
  }
  QFile qss(QStringLiteral(":/resources/qss/default.qss"));
  if (qss.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromLatin1(qss.readAll()));

  MainWindow window;
  window.setNeverShowFirstInfo(true);
  window.move(0, 0);
  window.show();
  settle(1500);
  if (!window.openAudioFile(audio)) return 1;
  settle(8000);  // the waveform summary
  int failures = 0;
  failures += !save(&window, out + "main-window-" + suffix + ".png");

  window.findChild<QAction*>(QStringLiteral("actionExport"))->trigger();
  DialogEdit* exportDialog = window.exportDialog();
  // A folder as a user's would read, not wherever the tool ran.
  exportDialog->setFolder(QStringLiteral("/home/user/Music"));
  settle(800);
  failures += !save(exportDialog, out + "export-dialog-" + suffix + ".png");

  // An export into a folder that does not exist: the error as the user sees it.
  exportDialog->findChild<QLineEdit*>(QStringLiteral("lineEditFolder"))
      ->setText(QStringLiteral("/home/user/Music/no such folder"));
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    settle(500);
    failures += !save(box, out + "export-error-" + suffix + ".png");
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(50);
  exportDialog->findChild<QPushButton*>(QStringLiteral("pushBounce"))->click();
  for (int i = 0; i < 200 && poll.isActive(); ++i) settle(50);
  exportDialog->hide();

  window.findChild<QAction*>(QStringLiteral("actionCombine"))->trigger();
  settle(800);
  failures += !save(window.findChild<DialogCombine*>(), out + "combine-dialog-" + suffix + ".png");
  window.findChild<DialogCombine*>()->hide();

  // The EQ dialog on its own block (the window's EQ is off and unreachable):
  // a low shelf lifted and a cut at 2 kHz, so the graph shows curves.
  EqSettingsBlock block;
  DialogPeq peq;
  block.attachMasterSwitch(peq.masterSwitch());
  EqSettings* eq = block.get();
  const double freqs[4] = {100.0, 1000.0, 2000.0, 5000.0};
  const double gains[4] = {6.0, 0.0, -9.0, 0.0};
  for (int b = 0; b < 4; ++b)
    setParameters(&eq->band[b], gains[b], freqs[b], 0.9, 44100, b == 0 ? 1 : 0);
  eq->band[0].type = 1;
  eq->band[0].on = eq->band[2].on = 1;
  *peq.masterSwitch() = 1;
  const double volumeDb = 0.0;
  peq.setContext(eq, 44100, &volumeDb);
  peq.move(0, 0);
  peq.show();
  settle(2000);
  failures += !save(&peq, out + "eq-dialog-" + suffix + ".png");
  peq.hide();
  window.oscillatorDialog()->show();
  settle(800);
  failures += !save(window.oscillatorDialog(), out + "oscillator-dialog-" + suffix + ".png");
  window.oscillatorDialog()->hide();
  if (flac.isEmpty()) return failures == 0 ? 0 : 1;

  window.activateWindow();
  if (!window.openAudioFile(flac)) return 1;
  settle(8000);
  failures += !save(&window, out + "main-window-flac-" + suffix + ".png");
  window.findChild<QAction*>(QStringLiteral("actionExport"))->trigger();
  exportDialog->setFolder(QStringLiteral("/home/user/Music"));
  exportDialog->restoreChoices(3, 3, 1, true);  // FLAC, 96 kHz, 24 bit
  settle(800);
  failures += !save(exportDialog, out + "export-dialog-flac-" + suffix + ".png");
  return failures == 0 ? 0 : 1;
}
