#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "alsarecover.h"
#include "lmesplashscreen.h"
#include "mainwindow.h"

int main(int argc, char* argv[]) {
  // The window has fixed geometry: on a high-DPI screen it must grow with the
  // screen's scale rather than shrink to a few centimetres.
  QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
  asiolink::quietAlsaDiagnostics();
  QCoreApplication::setOrganizationName(QStringLiteral("MALVEC"));
  QCoreApplication::setApplicationName(QStringLiteral("LumaraEditor"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/icons/lumara.png")));

  // 1. Japanese systems get the Japanese texts when the translation exists:
  // first in the current directory, then beside the program (installed).
  QTranslator translator;
  QTranslator qtTranslator;
  const QLocale locale;
  if (locale.language() == QLocale::Japanese) {
    const QString dir = QCoreApplication::applicationDirPath();
    if (translator.load(QStringLiteral("LumaraEditor")) ||
        translator.load(locale, QStringLiteral("LumaraEditor"), QStringLiteral("_"), dir) ||
        translator.load(QStringLiteral("LumaraEditor"), dir)) {
      app.installTranslator(&translator);
    }
    // Qt's own texts (message box buttons, file dialogs), when installed.
    if (qtTranslator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
      app.installTranslator(&qtTranslator);
    }
  }

  // 2. The application font lies beside the program.
  const int fontId =
      QFontDatabase::addApplicationFont(QCoreApplication::applicationDirPath() + "/ipagp.ttf");
  if (fontId >= 0) {
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (!families.isEmpty()) {
      QFont font(families.first());
      font.setPixelSize(13);
      app.setFont(font);
    }
  }

  // 3. Application style sheet.
  QFile qss(QStringLiteral(":/resources/qss/default.qss"));
  if (qss.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromLatin1(qss.readAll()));

  // 4. Splash screen until the main window is up.
  lmeSplashScreen splash(QPixmap(QStringLiteral(":/resources/bg/Lumara_splash.png")));
  splash.show();
  app.processEvents();

  // 5. The main window; a file named on the command line opens like a drop
  // (file managers and the desktop entry pass files this way).
  MainWindow window;
  window.show();
  splash.finish(&window);
  window.redrawViews();  // the splash covered the window's first paint
  if (argc > 1) {
    const QString path = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QTimer::singleShot(0, &window, [&window, path]() { window.openAudioFile(path); });
  }
  return app.exec();
}
