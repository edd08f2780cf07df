#include "driver.h"

namespace sonvex {

namespace {

// Indexed by file type code; code 1 is WAV again.
constexpr const FormatDriver* kDrivers[] = {&kWavDriver, &kWavDriver, &kDsfDriver, &kDsdiffDriver,
                                            &kFlacDriver};

}  // namespace

const FormatDriver* driverFor(int type) {
  if (type < 0 || type >= int(sizeof kDrivers / sizeof kDrivers[0])) return nullptr;
  return kDrivers[type];
}

int dispatchProbe(int type, FILE* f, int* kind) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->probe) return kErrNotSupported;
  return d->probe(f, kind);
}

int dispatchLocateData(int type, FILE* f, uint64_t* dataOffset, uint64_t* chunkSize,
                       uint64_t* audioBytes) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->locateData) return kErrNotSupported;
  return d->locateData(f, dataOffset, chunkSize, audioBytes);
}

int dispatchReadFormat(int type, FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample,
                       uint32_t* channels, uint16_t* formatTag) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->readFormat) return kErrNotSupported;
  return d->readFormat(f, sampleRate, bitsPerSample, channels, formatTag);
}

int dispatchWriteHeader(int type, FILE* f, const WriteFormat* format) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->writeHeader) return kErrNotSupported;
  return d->writeHeader(f, format, type);
}

int dispatchFinalize(int type, FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t framesLow,
                     uint32_t framesHigh) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->finalize) return kErrNotSupported;
  return d->finalize(f, bytesLow, bytesHigh, framesLow, framesHigh);
}

int dispatchAppend(int type, FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format,
                   int flags) {
  const FormatDriver* d = driverFor(type);
  if (!d || !d->append) return kErrNotSupported;
  return d->append(head, tail, scratch, format, flags);
}

}  // namespace sonvex
