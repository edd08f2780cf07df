// Writes the program's icon at the sizes desktops look for.
//   make_icons SOURCE.png OUT_DIR    -> OUT_DIR/NxN/apps/lumara-editor.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    qWarning("usage: make_icons SOURCE.png OUT_DIR");
    return 2;
  }
  const QImage source(QString::fromLocal8Bit(argv[1]));
  if (source.isNull()) {
    qWarning("make_icons: cannot read %s", argv[1]);
    return 1;
  }
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir =
        QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    if (!QDir().mkpath(dir)) return 1;
    const QImage icon = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!icon.save(dir + QStringLiteral("/lumara-editor.png"))) return 1;
  }
  return 0;
}
