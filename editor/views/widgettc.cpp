#include "widgettc.h"

#include <QKeyEvent>
#include <QRegularExpression>
#include <cmath>

widgetTc::widgetTc(QWidget* parent) : QLineEdit(parent) {}

void widgetTc::leaveEditing() {
  deselect();
  clearFocus();
}

void widgetTc::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const QString text = event->text();
  if (text.size() == 1 &&
      (text[0].isDigit() || text[0] == QLatin1Char('.') || text[0] == QLatin1Char(':')) &&
      !(event->modifiers() & Qt::ControlModifier)) {
    insert(text);
    return;
  }
  const bool shift = m_shiftHeld || (event->modifiers() & Qt::ShiftModifier);
  switch (key) {
    case Qt::Key_Backspace:
      backspace();
      return;
    case Qt::Key_Delete:
      del();
      return;
    case Qt::Key_Left:
      cursorBackward(shift, 1);
      return;
    case Qt::Key_Right:
      cursorForward(shift, 1);
      return;
    case Qt::Key_Home:
      home(shift);
      return;
    case Qt::Key_End:
      end(shift);
      return;
    case Qt::Key_Shift:
      m_shiftHeld = true;
      return;
    case Qt::Key_Control:
      m_controlHeld = true;
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      leaveEditing();
      emit enterKeyPressed();
      return;
    case Qt::Key_Escape:
      leaveEditing();
      emit escapeKeyPressed();
      return;
    default:
      break;
  }
  const bool control = m_controlHeld || (event->modifiers() & Qt::ControlModifier);
  if (!control) return;
  switch (key) {
    case Qt::Key_A:
      selectAll();
      break;
    case Qt::Key_C:
      copy();
      break;
    case Qt::Key_V:
      // Pasted text obeys the same rule as typed text.
      paste();
      {
        QString kept = this->text();
        kept.remove(QRegularExpression(QStringLiteral("[^0-9.:]")));
        if (kept != this->text()) setText(kept);
      }
      break;
    case Qt::Key_X:
      cut();
      break;
    case Qt::Key_Y:
      redo();
      break;
    case Qt::Key_Z:
      undo();
      break;
    default:
      break;
  }
}

void widgetTc::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Shift) m_shiftHeld = false;
  if (event->key() == Qt::Key_Control) m_controlHeld = false;
}

labelGain::labelGain(QWidget* parent) : QLabel(parent) {}

void labelGain::setGain(double factor) {
  const double db = 20.0 * std::log10(factor);
  const QString value = QString::number(db, 'f', 1);
  if (db > 0.0) {
    setText(QStringLiteral("<font color=#828282>") + tr("Gain =") +
            QStringLiteral(" <font color=red>") + value + QStringLiteral(" dB"));
  } else {
    setText(QStringLiteral("<font color=#828282>") + tr("Gain =") + QLatin1Char(' ') + value +
            QStringLiteral(" dB"));
  }
}

void labelGain::mouseDoubleClickEvent(QMouseEvent*) { emit doubleClicked(); }
