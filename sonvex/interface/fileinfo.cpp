// getAudioFileInformation: the extension picks the driver, the driver reads
// the header.
#include "fileinfo.h"

#include <memory>

#include "audioreader.h"
#include "diag.h"
#include "extension.h"
#include "fileio.h"
#include "guard.h"

namespace sonvex {
namespace {

// Values that callers divide by or multiply with must be usable: no zero
// rate, word length or channel count, a frame size that fits an int, and an
// audio byte count whose bit count (bytes x 8) fits 64 bits.
bool usableFormat(uint32_t rate, uint32_t bits, uint32_t channels, uint64_t audioBytes,
                  uint64_t dataOffset) {
  if (rate == 0 || bits == 0 || channels == 0) return false;
  if (uint64_t(bits) * channels > uint64_t(INT32_MAX)) return false;
  if (audioBytes > (UINT64_MAX >> 3)) return false;
  if (dataOffset > UINT64_MAX - audioBytes) return false;
  return true;
}

}  // namespace

int32_t audioFileInformation(ByteSource& src, int type, AudioFileInfo* info) {
  if (type < 0) return kErrFormat;
  AudioFormat format;
  std::unique_ptr<AudioReader> reader;
  if (const int32_t failed =
          openFailureCode(openAudio(src, type, &format, &reader), kErrWorkBuffer))
    return failed;
  // WAV: the width of each sample's container, so that callers' frame counts
  // (bytes x 8 / (bits x channels)) step by the block align.
  const uint32_t bits = format.storedBits();
  if (!usableFormat(format.sampleRate, bits, format.channels, format.audioBytes,
                    format.dataOffset)) {
    diag("Search FMT Chunk Error!\n");
    return kErrFormatChunk;
  }
  if (!info) return kSonvexOk;
  // All eight words at once, the byte count high word first.
  *info = AudioFileInfo{format.sampleRate,
                        bits,
                        format.channels,
                        uint32_t(format.dataOffset),
                        uint32_t(format.audioBytes >> 32),
                        uint32_t(format.audioBytes),
                        uint32_t(type),
                        uint32_t(format.formatTag)};
  return kSonvexOk;
}

}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t getAudioFileInformation(const SonvexChar* path,
                                                           AudioFileInfo* info) {
  using namespace sonvex;
  return guarded(kErrWorkBuffer, kErrIo, [&] {
    FilePtr file = openFile(path, "rb");
    if (!file) {
      // The historical text, although the file is opened for reading.
      diag("Write File Open Error!\n");
      return int32_t(kErrOpen);
    }
    FileSource src(file.get());
    return audioFileInformation(src, fileTypeFromPath(path), info);
  });
}
