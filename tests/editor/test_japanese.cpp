// The Japanese translation as a Japanese system gets it: the .qm built beside
// the program loads, its texts reach the window and the dialogs, they fit the
// fixed geometry, and Help -> Manual says why no manual opened.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTranslator>
#include <QtTest>

#include "audiofixtures.h"
#include "dialogcombine.h"
#include "dialogedit.h"
#include "dialogoscillator.h"
#include "dialogpeq.h"
#include "mainwindow.h"
#include "timeformat.h"

class TestJapanese : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void translationReachesWindowAndDialogs();
  void textsFitTheirControls();
  void manualWithoutFileOrViewerSaysSo();

 private:
  // Texts of `top`'s visible labels, buttons and combo boxes that their
  // controls cut, or controls that stick out of `top`.
  static QStringList overflows(QWidget* top);
  // Made on the first COMBINE.
  DialogCombine* combineDialog() {
    m_window->findChild<QAbstractButton*>("pushButton_Combine")->click();
    return m_window->findChild<DialogCombine*>();
  }
  QTranslator m_translator;
  MainWindow* m_window = nullptr;
};

void TestJapanese::initTestCase() {
  QStandardPaths::setTestModeEnabled(true);
  const QString dir = QCoreApplication::applicationDirPath();
  QVERIFY(m_translator.load(QLocale(QLocale::Japanese), "LumaraEditor", "_", dir));
  QCoreApplication::installTranslator(&m_translator);
  // The program's font and style sheet decide the widths, as in main().
  const int id = QFontDatabase::addApplicationFont(dir + "/ipagp.ttf");
  QVERIFY2(id >= 0, "ipagp.ttf beside the program");
  QFont font(QFontDatabase::applicationFontFamilies(id).value(0));
  font.setPixelSize(13);
  QApplication::setFont(font);
  QFile qss(":/resources/qss/default.qss");
  QVERIFY(qss.open(QIODevice::ReadOnly));
  qApp->setStyleSheet(QString::fromLatin1(qss.readAll()));
}

void TestJapanese::init() {
  MainWindow::setLibraryDirectory(QString());
  m_window = new MainWindow;
  m_window->setNeverShowFirstInfo(true);
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestJapanese::cleanup() {
  MainWindow::setLibraryDirectory(QString());
  delete m_window;
  m_window = nullptr;
}

void TestJapanese::translationReachesWindowAndDialogs() {
  const auto japanese = [this](const char* context, const char* text) {
    const QString t = m_translator.translate(context, text);
    return t.isEmpty() || t == QLatin1String(text) ? QString() : t;
  };
  const auto* open = m_window->findChild<QAbstractButton*>("pushButtonOpen");
  QVERIFY(!japanese("QMainWindow", "OPEN").isEmpty());
  QCOMPARE(open->text(), japanese("QMainWindow", "OPEN"));
  QCOMPARE(m_window->menuBar()->actions().last()->text(), japanese("QMainWindow", "&Help"));
  QVERIFY(!japanese("DialogEdit", "Export File").isEmpty());
  QCOMPARE(m_window->exportDialog()->windowTitle(), japanese("DialogEdit", "Export File"));
  auto* combine = combineDialog();
  QVERIFY(combine);
  QCOMPARE(combine->windowTitle(), japanese("DialogCombine", "Combine Files"));
  QCOMPARE(m_window->eqDialog()->windowTitle(), japanese("DialogPeq", "Parametric Equalizer"));
  QCOMPARE(channelsLabelText(2), japanese("timeformat", "STEREO"));
  QVERIFY(!japanese("destination", "The destination is one of the source files.").isEmpty());
}

QStringList TestJapanese::overflows(QWidget* top) {
  QStringList bad;
  const QRect area = top->rect();
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top) || w->window() != top) continue;
    const QRect inTop(w->mapTo(top, QPoint(0, 0)), w->size());
    if (!area.contains(inTop)) bad << w->objectName() + " outside";
    QString text;
    int needed = 0;
    const QFontMetrics fm(w->font());
    const auto widest = [&fm](const QString& t) {
      int width = 0;
      for (const QString& line : t.split('\n')) width = std::max(width, fm.horizontalAdvance(line));
      return width;
    };
    if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->wordWrap() || l->textFormat() == Qt::RichText || Qt::mightBeRichText(l->text()))
        continue;
      text = l->text();
      needed = widest(text) + 2 * l->margin();
      needed -= l->width() - l->contentsRect().width();  // frames are outside the text
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      text = b->text();
      needed = qobject_cast<QCheckBox*>(b) ? b->sizeHint().width() : widest(text) + 4;
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
      text = e->text();
      // The edit's own margins, and the dialogs' frame and padding.
      needed = widest(text) + 4 + (e->hasFrame() ? 10 : 0);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      text = c->currentText();
      needed = widest(text) + 20;  // the arrow
    }
    if (!text.isEmpty() && needed > w->width())
      bad << QString("%1 \"%2\" needs %3 px, has %4")
                 .arg(w->objectName(), text)
                 .arg(needed)
                 .arg(w->width());
  }
  return bad;
}

void TestJapanese::textsFitTheirControls() {
  QCOMPARE(m_window->size(), QSize(800, 624));
  QStringList bad = overflows(m_window);
  QVERIFY(QTest::qWaitForWindowExposed(m_window));
  QDialog* dialogs[] = {m_window->exportDialog(), combineDialog(), m_window->eqDialog(),
                        m_window->oscillatorDialog()};
  // The EQ fields' widest values.
  for (QLineEdit* e : m_window->eqDialog()->findChildren<QLineEdit*>())
    e->setText(e->objectName().startsWith("textEditFreq") ? "20000" : "-18.0");
  for (QDialog* d : dialogs) {
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    bad << overflows(d);
    d->hide();
  }
  QVERIFY2(bad.isEmpty(), qPrintable(bad.join('\n')));
}

void TestJapanese::manualWithoutFileOrViewerSaysSo() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  MainWindow::setLibraryDirectory(dir.path());
  auto* english = m_window->findChild<QAction*>("actionEnglishManual");
  {
    fixtures::MessageCatcher messages;
    english->trigger();
    QTRY_COMPARE(messages.count(), 1);
    QVERIFY(messages.texts[0].contains(dir.path() + "/D77000020.pdf"));
  }
  // A manual, but a desktop that names no PDF viewer.
  QVERIFY(fixtures::write(dir.filePath("D77000001.pdf"), "%PDF-1.4\n"));
  QVERIFY(QDir(dir.path()).mkdir("bin"));
  QVERIFY(fixtures::write(dir.filePath("bin/xdg-mime"), "#!/bin/sh\nexit 0\n"));
  QFile(dir.filePath("bin/xdg-mime")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", dir.filePath("bin").toLocal8Bit());
  fixtures::MessageCatcher messages;
  m_window->findChild<QAction*>("actionJapaneseManual")->trigger();
  qputenv("PATH", path);
  QTRY_COMPARE(messages.count(), 1);
  QVERIFY(messages.texts[0].contains(dir.path() + "/D77000001.pdf"));
  QVERIFY(messages.texts[0].contains("PDF"));
}

QTEST_MAIN(TestJapanese)
#include "test_japanese.moc"
