#include "audioreader.h"

#include <new>

#include "diag.h"
#include "driver.h"

namespace sonvex {

bool AudioFormat::dsd() const { return type == kFileTypeDsf || type == kFileTypeDsdiff; }

uint32_t AudioFormat::sampleBits() const {
  if (dsd()) return 1;
  return hasSampleLayout ? wav.sampleBytes * 8 : bitsPerSample;
}

uint32_t AudioFormat::storedBits() const {
  if (dsd()) return 1;
  return hasSampleLayout ? wav.containerBytes * 8 : bitsPerSample;
}

int64_t AudioFormat::frames() const {
  const uint64_t perFrame = uint64_t(storedBits()) * channels;
  if (perFrame == 0 || (!dsd() && storedBits() % 8 != 0)) return 0;
  const unsigned __int128 n = (unsigned __int128)audioBytes * 8 / perFrame;
  return n > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(n);
}

ReadStatus AudioReader::readPcm(uint8_t*, int64_t, int64_t* got) {
  *got = 0;
  return ReadStatus::Unsupported;
}

ReadStatus AudioReader::readDsd(uint8_t* const*, size_t, int64_t* got) {
  *got = 0;
  return ReadStatus::Unsupported;
}

OpenStatus openAudio(ByteSource& src, int type, AudioFormat* format,
                     std::unique_ptr<AudioReader>* reader) {
  *format = AudioFormat{};
  format->type = type;
  reader->reset();
  const FormatDriver* d = driverFor(type);
  if (!d || !d->readHeader || !d->makeReader) return OpenStatus::NotThisFormat;
  const OpenStatus s = d->readHeader(src, format);
  if (s != OpenStatus::Ok) return s;
  try {
    *reader = d->makeReader(src, *format);
  } catch (const std::bad_alloc&) {
    return OpenStatus::OutOfMemory;
  }
  return *reader ? OpenStatus::Ok : OpenStatus::OutOfMemory;
}

int32_t openFailureCode(OpenStatus status, int32_t outOfMemory) {
  switch (status) {
    case OpenStatus::Ok:
      return kSonvexOk;
    case OpenStatus::NotThisFormat:
      diag("Check Header Error!\n");
      return kErrFormat;
    case OpenStatus::FormatUnreadable:
      diag("Search FMT Chunk Error!\n");
      return kErrFormatChunk;
    case OpenStatus::DataUnreadable:
      diag("Search DATA Chunk Error!\n");
      return kErrDataChunk;
    case OpenStatus::OutOfMemory:
      break;
  }
  return outOfMemory;
}

}  // namespace sonvex
