// Renders a manual page (HTML) to the PDF the Help menu opens.
//   make_manual IN.html OUT.pdf [IMAGE_DIR]
// Pictures named in the page are looked up in IMAGE_DIR (the screenshots).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

int main(int argc, char** argv) {
  // Layout needs fonts but no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3 && argc != 4) {
    qWarning("usage: make_manual IN.html OUT.pdf [IMAGE_DIR]");
    return 2;
  }
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    qWarning("make_manual: cannot read %s", argv[1]);
    return 1;
  }
  QTextDocument doc;
  QFont font(QStringLiteral("IPAPGothic"));
  font.setPointSize(10);
  doc.setDefaultFont(font);
  // Relative picture names resolve against the current directory.
  if (argc == 4 && !QDir::setCurrent(QString::fromLocal8Bit(argv[3]))) {
    qWarning("make_manual: no folder %s", argv[3]);
    return 1;
  }
  doc.setHtml(QString::fromUtf8(in.readAll()));
  QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
  pdf.setTitle(QStringLiteral("MALVEC Lumara Editor"));
  pdf.setCreator(QStringLiteral("MALVEC Lumara Editor"));
  pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
  doc.print(&pdf);
  return QFile::exists(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
