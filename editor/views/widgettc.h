// The time counter: a line edit that accepts only digits, "." and ":", and
// reports Return/Enter and Escape after dropping its focus.
#pragma once

#include <QLabel>
#include <QLineEdit>

class widgetTc : public QLineEdit {
  Q_OBJECT

 public:
  explicit widgetTc(QWidget* parent = nullptr);

  bool shiftHeld() const { return m_shiftHeld; }
  bool controlHeld() const { return m_controlHeld; }
  // Clears the selection and gives up the keyboard focus.
  void leaveEditing();

 signals:
  void enterKeyPressed();
  void escapeKeyPressed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  bool m_shiftHeld = false;
  bool m_controlHeld = false;
};

class labelGain : public QLabel {
  Q_OBJECT

 public:
  explicit labelGain(QWidget* parent = nullptr);
  // Shows a linear gain factor in dB with one decimal; gains above 0 dB red.
  void setGain(double factor);

 signals:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};
