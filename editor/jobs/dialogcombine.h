// "Combine Files": joins two audio files of identical format into a new one,
// the head's audio followed by the tail's. The user's two files are only read:
// a combineThread copies the head and appends the tail to the copy.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>
#include <QStringList>

#include "combinethread.h"
#include "sonvex.h"
#include "sonvexbinding.h"
#include "transaction.h"

class QLineEdit;
class Session;
class QPushButton;
class QTimer;
class lmeProgressDialog;

// The dialog's decisions as plain functions, testable without a display.
namespace combineplan {

// Text of a drop area that holds no file.
QString dropPrompt();
// The scratch file's name, created beside the output and deleted again.
QString scratchFileName();

// The extension after the last "." is wav, dsf or dff, in any letter case.
bool extensionSupported(const QString& path);
// 44.1 to 384 kHz PCM and 2.8224 to 11.2896 MHz DSD, both inclusive.
bool rateSupported(uint32_t rate);
// "take.1.wav" -> "take1": every "."-part but the last, joined without dots.
QString baseNameOf(const QString& fileName);
// The last "."-part with its dot and letter case: "a.WAV" -> ".WAV".
QString extensionOf(const QString& fileName);

// What the samples are, however the header spells it: 1 integer PCM, 3
// float. An extensible WAV's tag (0xFFFE) gives way to its sub-format; other
// tags stay as they are.
uint32_t sampleKind(const QString& path, uint32_t formatTag, uint32_t bitsPerSample);

struct Proposal {
  QString name;
  QString extension;
  bool folderTooLong = false;  // no name fits: the name was left as proposed
};
// head base + "_" + tail base (either alone while the other is unset), the
// head's extension; the name is shortened so that folder + "/" + name +
// extension stays within the system's limits.
Proposal proposeName(const QString& folder, const QString& headFileName,
                     const QString& tailFileName);

// Every reason COMBINE refuses, one line each, in the order shown to the user.
QStringList combineProblems(bool headSet, bool tailSet, const SourceDescription& head,
                            const SourceDescription& tail, const QString& outputPath);

// What the library's append needs from the head.
WriteFormat writeFormatFor(const SourceDescription& head);

}  // namespace combineplan

// A drop area: accepts "text/uri-list" drags and keeps the first file's path.
class labelCombine : public QLabel {
  Q_OBJECT

 public:
  explicit labelCombine(QWidget* parent = nullptr);
  const QString& filePath() const { return path; }
  void setFilePath(const QString& p) { path = p; }

 signals:
  void dropedFile();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QString path;
};

class DialogCombine : public QDialog {
  Q_OBJECT

 public:
  // `api` must outlive the dialog.
  explicit DialogCombine(QWidget* parent = nullptr, const SonvexApi& api = defaultSonvexApi());
  ~DialogCombine() override;

  // The session's open file becomes the head (nothing changes without one).
  void takeHeadFrom(const Session& session);
  // The given file becomes the head.
  void setHeadFile(const QString& fileName, const QString& path, uint32_t sampleRate,
                   uint32_t bitsPerSample, uint32_t channels, uint32_t fileType,
                   uint32_t formatTag);
  // The folder field; an empty argument takes the process's current directory.
  void setFolder(const QString& dir = QString());
  // FLAC level of the combined file (the export dialog's), 0..8.
  void setFlacLevel(int level);

  const QString& headPath() const { return headLabel->filePath(); }
  const QString& tailPath() const { return tailLabel->filePath(); }
  QString outputPath() const;
  QString scratchPath() const;
  bool isCombining() const;

 private slots:
  void dropedToHeadFile();
  void dropedToTailFile();
  void takeSeveralHundredMili();
  void combineFinished(int status);
  void on_pushButton_clicked();
  void on_pushSelDir_clicked();
  void on_pushButtonSelectHead_clicked();
  void on_pushButtonSelectTail_clicked();

 private:
  void buildUi();
  // 1 loaded, 0 no path, -1 unsupported extension, -2 unreadable, -3 rate.
  int loadDescription(const QString& path, SourceDescription* desc);
  void fileSet(labelCombine* label, SourceDescription* desc);
  void showDescription(const SourceDescription& desc);
  void showFileName(labelCombine* label);
  void refreshProposedName();
  bool pickFile(labelCombine* label);
  void warn(const QString& title, const QString& text);

  SourceDescription headDesc{};
  SourceDescription tailDesc{};
  int combineProgress = 0;
  int flacLevel_ = 5;
  WriteFormat combineFormat{};
  const SonvexApi* sonvex;
  combineThread* thread = nullptr;
  lmeProgressDialog* progressDialog = nullptr;
  QTimer* timer = nullptr;
  QString runningScratch;
  QString runningOutput;
  // The files the labels show; a refused drop falls back to them.
  QString headShownPath;
  QString tailShownPath;

  labelCombine* headLabel = nullptr;
  labelCombine* tailLabel = nullptr;
  QLabel* labelFrequency = nullptr;
  QLabel* labelBit = nullptr;
  QLabel* labelChannel = nullptr;
  QLineEdit* editFileName = nullptr;
  QLineEdit* editExtension = nullptr;
  QLineEdit* editFolder = nullptr;
};
