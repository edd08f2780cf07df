// Runs one combine off the GUI thread: copies the head file to the output
// path, then appends the tail with the library's combineFiles.
#pragma once

#include <QString>
#include <QThread>
#include <string>

#include "sonvexbinding.h"

class combineThread : public QThread {
  Q_OBJECT

 public:
  using CombineFunction = decltype(&::combineFiles);

  explicit combineThread(QObject* parent = nullptr);

  // Everything the run needs, copied before start(); `progress` is written
  // here (by the library) and polled by the GUI. A FLAC is encoded again at
  // `flacLevel`.
  void setJob(const QString& headPath, const QString& outputPath, const QString& tailPath,
              const QString& scratchPath, int fileType, const WriteFormat& format, int* progress,
              const SonvexApi& api, int flacLevel);

 signals:
  void allTransactionsDone_(int status);

 protected:
  void run() override;

 private:
  QString headSourcePath;
  QString outputPath;
  QString scratchPath;
  std::u16string outputText;
  std::u16string tailText;
  std::u16string scratchText;
  int fileType = 0;
  WriteFormat combineFormat{};
  int* progress = nullptr;
  CombineFunction combineFn = nullptr;
  decltype(SonvexApi::setFlacCompressionLevel) setFlacLevelFn = nullptr;
  int flacLevel = 5;
};
