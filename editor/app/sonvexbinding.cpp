#include "sonvexbinding.h"

bool SonvexBinding::load(const QString& libraryPath) {
  m_library.setFileName(libraryPath);
  if (!m_library.load()) return false;
  getAudioFileInformation =
      reinterpret_cast<GetAudioFileInformationFn>(m_library.resolve("getAudioFileInformation"));
  getAudioWaveForm = reinterpret_cast<GetAudioWaveFormFn>(m_library.resolve("getAudioWaveForm"));
  return true;
}

int32_t SonvexBinding::probe(const QString& path, AudioFileInfo* info) const {
  if (!getAudioFileInformation) return kNotBound;
  // QString holds UTF-16 already; utf16() is NUL-terminated.
  return getAudioFileInformation(reinterpret_cast<const SonvexChar*>(path.utf16()), info);
}
