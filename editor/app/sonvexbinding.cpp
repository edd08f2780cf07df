#include "sonvexbinding.h"

#include <QCoreApplication>

namespace {

template <typename Fn>
void bind(QLibrary& library, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(library.resolve(name));
}

}  // namespace

bool SonvexBinding::load(const QString& libraryPath) {
  m_library.setFileName(libraryPath);
  if (!m_library.load()) return false;
  bind(m_library, getAudioFileInformation, "getAudioFileInformation");
  bind(m_library, getAudioWaveForm, "getAudioWaveForm");
  bind(m_library, sonvexert, "sonvexert");
  bind(m_library, combineFiles, "combineFiles");
  bind(m_library, setDecimationFirParam, "setDecimationFirParam");
  bind(m_library, gAudioDecimationFir, "gAudioDecimationFir");
  bind(m_library, setMeterFirParam, "setMeterFirParam");
  bind(m_library, setPcmExportDither, "setPcmExportDither");
  bind(m_library, setDsdExportModulator, "setDsdExportModulator");
  bind(m_library, setFlacCompressionLevel, "setFlacCompressionLevel");
  bind(m_library, getFlacCompressionLevel, "getFlacCompressionLevel");
  return true;
}

int32_t SonvexApi::probe(const QString& path, AudioFileInfo* info) const {
  if (!getAudioFileInformation) return kNotBound;
  // QString holds UTF-16 already; utf16() is NUL-terminated.
  return getAudioFileInformation(reinterpret_cast<const SonvexChar*>(path.utf16()), info);
}

QString sonvexLibraryPath() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/sonvex");
}

const SonvexApi& defaultSonvexApi() {
  static SonvexBinding binding;
  static const bool loaded = binding.load(sonvexLibraryPath());
  (void)loaded;
  return binding;
}
