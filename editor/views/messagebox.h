// The program's message boxes: Qt's, made wide enough for their titles
// (the window manager cuts a title that is wider than its box).
#pragma once

#include <QMessageBox>

// Shows a modal box and returns the button pressed.
QMessageBox::StandardButton showMessage(QWidget* parent, QMessageBox::Icon icon,
                                        const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Widens `box` so that `title` and the title bar's buttons fit.
void fitTitle(QMessageBox& box);
