// Start-up picture with the version, build and the maker's notice.
#pragma once

#include <QSplashScreen>

class QLabel;

class lmeSplashScreen : public QSplashScreen {
  Q_OBJECT

 public:
  explicit lmeSplashScreen(const QPixmap& pixmap);

 private:
  QLabel* m_labelVersion;
  QLabel* m_labelNotice;
};
