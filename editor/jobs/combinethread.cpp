#include "combinethread.h"

#include <QFile>

namespace {
std::u16string utf16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}
}  // namespace

combineThread::combineThread(QObject* parent) : QThread(parent) {}

void combineThread::setJob(const QString& headPath, const QString& output, const QString& tailPath,
                           const QString& scratch, int type, const WriteFormat& format,
                           int* progressOut, const SonvexApi& api, int level) {
  headSourcePath = headPath;
  outputPath = output;
  scratchPath = scratch;
  outputText = utf16(output);
  tailText = utf16(tailPath);
  scratchText = utf16(scratch);
  fileType = type;
  combineFormat = format;
  progress = progressOut;
  combineFn = api.combineFiles;
  setFlacLevelFn = api.setFlacCompressionLevel;
  flacLevel = level;
}

void combineThread::run() {
  if (progress) __atomic_store_n(progress, 1, __ATOMIC_RELAXED);
  int status = kErrIo;
  if (QFile::copy(headSourcePath, outputPath)) {
    // The copy takes the head's permissions; a read-only head must still give
    // a copy the library can extend.
    QFile::setPermissions(outputPath, QFile::permissions(outputPath) | QFileDevice::WriteOwner);
    // The library keeps the level per thread: set it on the one that combines.
    if (setFlacLevelFn) (void)setFlacLevelFn(flacLevel);
    if (combineFn)
      status = combineFn(fileType, outputText.c_str(), tailText.c_str(), scratchText.c_str(),
                         &combineFormat, progress);
  }
  emit allTransactionsDone_(status);
}
