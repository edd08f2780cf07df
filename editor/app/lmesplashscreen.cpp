#include "lmesplashscreen.h"

#include <QLabel>

#include "dialogabout.h"

lmeSplashScreen::lmeSplashScreen(const QPixmap& pixmap) : QSplashScreen(pixmap) {
  setObjectName(QStringLiteral("lmeSplashScreen"));
  const int w = pixmap.isNull() ? 480 : pixmap.width();
  const int h = pixmap.isNull() ? 300 : pixmap.height();
  m_labelVersion = new QLabel(versionText() + buildText(), this);
  m_labelVersion->setObjectName(QStringLiteral("labelVersion"));
  m_labelVersion->setStyleSheet(QStringLiteral("color: rgb(200, 200, 200);\nfont-size: 12px;"));
  m_labelVersion->setGeometry(24, h - 56, w - 48, 18);
  m_labelNotice = new QLabel(tr("Copyright (C) MALVEC. All rights reserved."), this);
  m_labelNotice->setObjectName(QStringLiteral("labelNotice"));
  m_labelNotice->setStyleSheet(QStringLiteral("color: rgb(130, 130, 130);\nfont-size: 11px;"));
  m_labelNotice->setGeometry(24, h - 34, w - 48, 16);
}
