// "About This Application" and "Licenses".
#pragma once

#include <QDialog>

// Program version and build as the about box and the splash screen show them.
constexpr double kProgramVersion = 1.02;
constexpr int kProgramBuild = 40;
QString versionText();  // "Version  1.02 "
QString buildText();    // "Build 0040"

class DialogAbout : public QDialog {
  Q_OBJECT

 public:
  explicit DialogAbout(QWidget* parent = nullptr);
};

class dialogLicenses : public QDialog {
  Q_OBJECT

 public:
  explicit dialogLicenses(QWidget* parent = nullptr);
};
