// The waveform view. Without a file it shows the drop prompt.
#pragma once

#include <QGLWidget>
#include <QImage>

// Position type of the in/out signals: a fraction 0..1 of the file.
typedef double F64;

class trackGraphic : public QGLWidget {
  Q_OBJECT

 public:
  explicit trackGraphic(QWidget* parent = nullptr);
  ~trackGraphic() override;

  // Clears or sets the no-file flag; without a file the prompt is drawn.
  void setFileLoaded(bool loaded);
  bool isFileLoaded() const { return !m_noFile; }

 signals:
  void mousePressed();
  void editParamChanged();

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;

 private:
  void drawBackground();
  void drawPrompt();

  bool m_noFile = true;
  QImage m_background;  // GL-format copy of the background picture
  double m_tolX = 0.0;  // hit tolerance and view margin, in view units
  double m_tolY = 0.0;
};
