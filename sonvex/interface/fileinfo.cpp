// getAudioFileInformation: the extension picks the driver, the driver reads
// the header.
#include <cstdio>

#include "diag.h"
#include "driver.h"
#include "extension.h"
#include "fileio.h"
#include "sonvex.h"
#include "wav.h"

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
}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t getAudioFileInformation(const SonvexChar* path,
                                                           AudioFileInfo* info) {
  using namespace sonvex;
  FilePtr file = openFile(path, "rb");
  if (!file) {
    // The historical text, although the file is opened for reading.
    diag("Write File Open Error!\n");
    return kErrOpen;
  }
  const int type = fileTypeFromPath(path);
  if (type < 0) return kErrFormat;

  int kind = 0;
  if (dispatchProbe(type, file.get(), &kind) != 0) {
    diag("Check Header Error!\n");
    return kErrFormat;
  }
  uint32_t rate = 0, bits = 0, channels = 0;
  uint16_t tag = 0;
  if (dispatchReadFormat(type, file.get(), &rate, &bits, &channels, &tag) != 0) {
    diag("Search FMT Chunk Error!\n");
    return kErrFormatChunk;
  }
  // WAV: the width of each sample's container, so that callers' frame counts
  // (bytes x 8 / (bits x channels)) step by the block align.
  WavSampleLayout wav;
  if (type == kFileTypeWav && wavSampleLayout(file.get(), &wav) == 0) bits = wav.containerBytes * 8;
  uint64_t dataOffset = 0, chunkSize = 0, audioBytes = 0;
  if (dispatchLocateData(type, file.get(), &dataOffset, &chunkSize, &audioBytes) != 0) {
    diag("Search DATA Chunk Error!\n");
    return kErrDataChunk;
  }
  if (!usableFormat(rate, bits, channels, audioBytes, dataOffset)) {
    diag("Search FMT Chunk Error!\n");
    return kErrFormatChunk;
  }
  if (!info) return kSonvexOk;
  // All eight words at once, the byte count high word first.
  *info = AudioFileInfo{rate,
                        bits,
                        channels,
                        uint32_t(dataOffset),
                        uint32_t(audioBytes >> 32),
                        uint32_t(audioBytes),
                        uint32_t(type),
                        uint32_t(tag)};
  return kSonvexOk;
}
