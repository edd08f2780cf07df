#include "lmeprogressdialog.h"

lmeProgressDialog::lmeProgressDialog(const QString& labelText, const QString& cancelButtonText,
                                     int minimum, int maximum, QWidget* parent,
                                     Qt::WindowFlags flags)
    : QProgressDialog(labelText, cancelButtonText, minimum, maximum, parent, flags) {
  setModal(true);
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint & ~Qt::WindowCloseButtonHint);
  // Room for a file name in the label and for the title, clear of the edges.
  setMinimumWidth(400);
}
