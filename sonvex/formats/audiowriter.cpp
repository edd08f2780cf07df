#include "audiowriter.h"

#include <algorithm>

#include "diag.h"
#include "driver.h"

namespace sonvex {

int AudioWriter::writePcm(const uint8_t*, int64_t) { return kErrNotSupported; }
int AudioWriter::writeDsd(const uint8_t* const*, int64_t) { return kErrNotSupported; }

int AudioWriter::put(const uint8_t* data, size_t n, int64_t frames) {
  if (finalized_) return kErrWrite;
  sent_ += n;
  framesSent_ += frames;
  if (n && sink_.append(data, n) != kSonvexOk) {
    diag("Write Data to File Error! \n");
    return salvage();
  }
  written_ += n;
  framesWritten_ += frames;
  return kSonvexOk;
}

int AudioWriter::finalize() {
  if (finalized_) return kErrWrite;
  // The header counts every frame written, so a partial block goes out too:
  // a stopped file stays self-consistent.
  if (flushPending() != kSonvexOk) return finalized_ ? kErrWrite : salvage();
  finalized_ = true;
  if (sink_.flush() != kSonvexOk) return salvage();
  const int r = writeSizes(written_, uint64_t(framesWritten_));
  if (r == kErrWrite) return salvage();
  if (r != kSonvexOk) return r;
  return sink_.flush() == kSonvexOk ? kSonvexOk : salvage();
}

// The sink holds an unknown part of what was sent: keep the whole frames
// that are really there.
int AudioWriter::salvage() {
  finalized_ = true;
  uint64_t size = 0;
  if (!sink_.size(&size)) return kErrWrite;
  uint64_t usable = std::min(size > headerBytes_ ? size - headerBytes_ : 0, sent_);
  usable -= usable % unitBytes();
  const uint64_t frames = std::min(uint64_t(framesSent_), framesIn(usable));
  if (sink_.truncate(headerBytes_ + usable) != kSonvexOk ||
      writeSizes(usable, frames) != kSonvexOk || sink_.flush() != kSonvexOk)
    diag("audiofile_updateDataSize Error! \n");
  written_ = usable;
  framesWritten_ = int64_t(frames);
  return kErrWrite;
}

std::unique_ptr<AudioWriter> makeAudioWriter(int type, ByteSink& sink) {
  const FormatDriver* d = driverFor(type);
  return d && d->makeWriter ? d->makeWriter(sink) : nullptr;
}

}  // namespace sonvex
