#include "lmeprogressdialog.h"

lmeProgressDialog::lmeProgressDialog(const QString& labelText, const QString& cancelButtonText,
                                     int minimum, int maximum, QWidget* parent,
                                     Qt::WindowFlags flags)
    : QProgressDialog(labelText, cancelButtonText, minimum, maximum, parent, flags) {
  setModal(true);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint & ~Qt::WindowCloseButtonHint);
}
