// Styled buttons and combo boxes: each loads one style-sheet resource whole
// and applies it to itself; they add no behaviour.
#pragma once

#include <QComboBox>
#include <QPushButton>

// Reads a compiled-in style sheet (Latin-1); empty when the resource is absent.
QString loadStyleSheet(const QString& resourcePath);

class blackButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/blackButton.qss";
  explicit blackButton(QWidget* parent = nullptr);
};

class whiteButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/whiteButton.qss";
  explicit whiteButton(QWidget* parent = nullptr);
};

class blackComboBox : public QComboBox {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/blackComboBox.qss";
  explicit blackComboBox(QWidget* parent = nullptr);
};

class lmePlayButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/lmePlayButton.qss";
  explicit lmePlayButton(QWidget* parent = nullptr);
};

class lmeStopButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/lmeStopButton.qss";
  explicit lmeStopButton(QWidget* parent = nullptr);
};

class lmeZeroPlayButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/lmeZeroPlayButton.qss";
  explicit lmeZeroPlayButton(QWidget* parent = nullptr);
};

class zoomInButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/zoomInButton.qss";
  explicit zoomInButton(QWidget* parent = nullptr);
};

class zoomOutButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/zoomOutButton.qss";
  explicit zoomOutButton(QWidget* parent = nullptr);
};

class setPointButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr const char* kStyleSheet = ":/resources/qss/setpointbutton.qss";
  explicit setPointButton(QWidget* parent = nullptr);
};
