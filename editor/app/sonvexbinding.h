// The main window's binding of libsonvex.so: loaded from the program's folder
// by file name, the two functions it needs resolved by export name. A missing
// library or export leaves the pointer unset; opening a file then fails.
#pragma once

#include <QLibrary>
#include <QString>

#include "sonvex.h"

class SonvexBinding {
 public:
  typedef int32_t (*GetAudioFileInformationFn)(const SonvexChar* path, AudioFileInfo* info);
  typedef decltype(&::getAudioWaveForm) GetAudioWaveFormFn;

  static constexpr int32_t kNotBound = kErrNotSupported;

  bool load(const QString& libraryPath);
  bool isLoaded() const { return m_library.isLoaded(); }

  GetAudioFileInformationFn getAudioFileInformation = nullptr;
  GetAudioWaveFormFn getAudioWaveForm = nullptr;

  // Probes `path`; kNotBound when the library or the export is missing.
  int32_t probe(const QString& path, AudioFileInfo* info) const;

 private:
  QLibrary m_library;
};
