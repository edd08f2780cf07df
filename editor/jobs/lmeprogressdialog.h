// Modal progress dialog without context-help and close buttons.
#pragma once

#include <QProgressDialog>

class lmeProgressDialog : public QProgressDialog {
  Q_OBJECT

 public:
  lmeProgressDialog(const QString& labelText, const QString& cancelButtonText, int minimum,
                    int maximum, QWidget* parent = nullptr,
                    Qt::WindowFlags flags = Qt::WindowFlags());
};
