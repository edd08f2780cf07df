// The program's one binding of libsonvex.so: loaded by file name, every export
// the program calls resolved once into a table typed from the public header.
// Whoever calls the library (main window, job threads, dialogs, waveform
// thread) is handed this table. A missing library or export leaves its entry
// null; the feature that needs it then fails with its message.
#pragma once

#include <QLibrary>
#include <QString>

#include "sonvex.h"

struct SonvexApi {
  decltype(&::getAudioFileInformation) getAudioFileInformation = nullptr;
  decltype(&::getAudioWaveForm) getAudioWaveForm = nullptr;
  decltype(&::sonvexert) sonvexert = nullptr;
  decltype(&::combineFiles) combineFiles = nullptr;
  decltype(&::setDecimationFirParam) setDecimationFirParam = nullptr;
  decltype(&::gAudioDecimationFir) gAudioDecimationFir = nullptr;
  decltype(&::setMeterFirParam) setMeterFirParam = nullptr;
  decltype(&::setPcmExportDither) setPcmExportDither = nullptr;
  decltype(&::setDsdExportModulator) setDsdExportModulator = nullptr;
  // A library built before FLAC lacks these two: exports then go without
  // setting a level (and FLAC, which such a library cannot write, fails with
  // its code).
  decltype(&::setFlacCompressionLevel) setFlacCompressionLevel = nullptr;
  decltype(&::getFlacCompressionLevel) getFlacCompressionLevel = nullptr;

  static constexpr int32_t kNotBound = kErrNotSupported;
  // Probes `path`; kNotBound when the library or the export is missing.
  int32_t probe(const QString& path, AudioFileInfo* info) const;
};

class SonvexBinding : public SonvexApi {
 public:
  bool load(const QString& libraryPath);
  bool isLoaded() const { return m_library.isLoaded(); }
  const SonvexApi& api() const { return *this; }

 private:
  QLibrary m_library;
};

// Path of the library beside the program (QLibrary adds prefix and suffix).
QString sonvexLibraryPath();
// The binding of the library beside the program, loaded on first use; for
// parts built on their own (the main window hands out its own table).
const SonvexApi& defaultSonvexApi();
