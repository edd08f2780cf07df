// Each format's writer of its own audio over a byte sink: the header, the
// block layout and bit order, and the final sizes are known to the format
// drivers alone. A failed write cuts the output to the whole frames that
// really reached the sink and finalises it for exactly those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bytesink.h"
#include "sonvex.h"

namespace sonvex {

class AudioWriter {
 public:
  AudioWriter(ByteSink& sink, uint64_t headerBytes) : sink_(sink), headerBytes_(headerBytes) {}
  virtual ~AudioWriter() = default;
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;

  // The frames the caller means to write, told before begin(); writers
  // that lay out an index by time (FLAC's seek table) use it.
  virtual void expectFrames(int64_t) {}
  // The provisional header, into an empty sink. 0, kErrIo (a format the
  // header cannot describe) or kErrWrite.
  [[nodiscard]] virtual int begin(const WriteFormat& format) = 0;
  // PCM: `frames` frames of packed little-endian samples as the format
  // states them. 0, kErrNotSupported (a DSD writer) or kErrWrite (then the
  // output is already cut and finalised).
  [[nodiscard]] virtual int writePcm(const uint8_t* samples, int64_t frames);
  // DSD: (frames + 7) / 8 bytes of every channel, most significant bit
  // first. Results as writePcm.
  [[nodiscard]] virtual int writeDsd(const uint8_t* const* channels, int64_t frames);
  // What is pending, then the final sizes. 0, kErrIo (sizes the header
  // cannot hold: a RIFF of 4 GiB) or kErrWrite (cut and finalised as after a
  // failed write).
  [[nodiscard]] int finalize();

  bool finalized() const { return finalized_; }
  // Audio bytes that reached the sink, and the frames they hold.
  uint64_t audioBytes() const { return written_; }
  int64_t frames() const { return framesWritten_; }

 protected:
  // Audio bytes to the sink, counting `frames` once they are in; a failure
  // salvages. 0 or kErrWrite.
  [[nodiscard]] int put(const uint8_t* data, size_t n, int64_t frames);
  // Bytes held back for a whole block, out before the sizes.
  [[nodiscard]] virtual int flushPending() { return kSonvexOk; }
  // Final header fields for `audioBytes` bytes after the header holding
  // `frames` frames. 0, kErrIo or kErrWrite.
  [[nodiscard]] virtual int writeSizes(uint64_t audioBytes, uint64_t frames) = 0;
  // The smallest run of whole frames (bytes) and the frames `bytes` of them hold.
  virtual uint64_t unitBytes() const = 0;
  virtual uint64_t framesIn(uint64_t bytes) const = 0;

  // The sink holds an unknown part of what was sent: keeps what is usable,
  // finalises for it and returns kErrWrite.
  virtual int salvage();
  // For writers that reach the sink other than through put().
  void setWritten(uint64_t audioBytes, int64_t frames) {
    written_ = audioBytes;
    framesWritten_ = frames;
  }
  void markFinalized() { finalized_ = true; }

  ByteSink& sink_;
  std::vector<uint8_t> buffer_;

 private:
  const uint64_t headerBytes_;
  uint64_t sent_ = 0;  // handed to the sink, the failed write included
  uint64_t written_ = 0;
  int64_t framesSent_ = 0;
  int64_t framesWritten_ = 0;
  bool finalized_ = false;
};

// The writer of file type `type` (0..4) over `sink`, or null.
std::unique_ptr<AudioWriter> makeAudioWriter(int type, ByteSink& sink);

}  // namespace sonvex
