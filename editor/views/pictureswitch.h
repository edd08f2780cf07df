// On/off picture switches. In toggle mode a click flips the state, swaps the
// picture and reports the new state; in click mode a click only reports it.
#pragma once

#include <QLabel>
#include <QPixmap>

class pictureSwitch : public QLabel {
  Q_OBJECT

 public:
  enum class Mode { Toggle, Click };

  pictureSwitch(const QString& onPicture, const QString& offPicture, QWidget* parent);

  void setMode(Mode mode) { m_mode = mode; }
  Mode mode() const { return m_mode; }
  // Shows the picture for `on` without reporting anything.
  void setOn(bool on);
  bool isOn() const { return m_on; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  virtual void reportToggled(int on) = 0;
  virtual void reportClicked() = 0;

 private:
  QPixmap m_onPicture;
  QPixmap m_offPicture;
  Mode m_mode = Mode::Toggle;
  bool m_on = false;
};

class eqIndicator : public pictureSwitch {
  Q_OBJECT

 public:
  explicit eqIndicator(QWidget* parent = nullptr);

 signals:
  void selEqOnOff(int on);
  void eqIndicatorClicked();

 protected:
  void reportToggled(int on) override { emit selEqOnOff(on); }
  void reportClicked() override { emit eqIndicatorClicked(); }
};

class oscIndicator : public pictureSwitch {
  Q_OBJECT

 public:
  explicit oscIndicator(QWidget* parent = nullptr);

 signals:
  void selOscOnOff(int on);
  void oscIndicatorClicked();

 protected:
  void reportToggled(int on) override { emit selOscOnOff(on); }
  void reportClicked() override { emit oscIndicatorClicked(); }
};
