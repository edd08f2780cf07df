#include "dialogabout.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

namespace {

const char* const kNameStyle = "color: rgb(132, 151, 233);\nfont-size: 16px;\nfont-weight: 700;\n";
const char* const kLineStyle = "color: rgb(255, 255, 255);\nfont-size: 12px;\n";

QLabel* aboutLine(QWidget* parent, const char* name, const QString& text, int y,
                  const char* style) {
  QLabel* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setStyleSheet(QLatin1String(style));
  label->setGeometry(40, y, 380, 20);
  return label;
}

}  // namespace

QString versionText() {
  return QCoreApplication::translate("DialogAbout", "Version") +
         QString::asprintf(" %5.2f ", kProgramVersion);
}

QString buildText() {
  return QCoreApplication::translate("DialogAbout", "Build") +
         QString::asprintf(" %04d", kProgramBuild);
}

DialogAbout::DialogAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DialogAbout"));
  setWindowTitle(tr("About This Application"));
  setFixedSize(460, 260);
  QLabel* back = new QLabel(this);
  back->setObjectName(QStringLiteral("labelAboutBack"));
  back->setGeometry(0, 0, 460, 260);
  back->setPixmap(QPixmap(QStringLiteral(":/resources/bg/about_back.png")));
  back->setScaledContents(true);

  aboutLine(this, "labelProductName", QStringLiteral("MALVEC Lumara Editor"), 40, kNameStyle)
      ->setFixedHeight(24);
  aboutLine(this, "labelVersion", tr("Version") + QString::asprintf(" %5.2f", kProgramVersion), 80,
            kLineStyle);
  aboutLine(this, "labelBuild", buildText(), 100, kLineStyle);
  aboutLine(this, "labelNotice1", tr("Copyright (C) MALVEC. All rights reserved."), 140,
            kLineStyle);
  aboutLine(this, "labelNotice2", tr("Hi-res PCM and DSD audio editor."), 160, kLineStyle);

  QPushButton* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName(QStringLiteral("pushButtonOK"));
  ok->setGeometry(350, 212, 83, 26);
  connect(ok, &QPushButton::released, this, &QDialog::accept);
}

dialogLicenses::dialogLicenses(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialogLicenses"));
  setWindowTitle(tr("Licenses"));
  setFixedSize(600, 600);
  QTextBrowser* browser = new QTextBrowser(this);
  browser->setObjectName(QStringLiteral("textBrowser"));
  browser->setGeometry(10, 10, 580, 540);
  browser->setOpenExternalLinks(true);
  browser->setSource(QUrl(QStringLiteral("qrc:/resources/html/license.html")));
  QPushButton* ok = new QPushButton(tr("OK"), this);
  ok->setObjectName(QStringLiteral("pushButtonOK"));
  ok->setGeometry(507, 562, 83, 26);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
