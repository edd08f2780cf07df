#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("MALVEC Lumara Editor"));
  label.resize(800, 624);
  label.show();
  return app.exec();
}
