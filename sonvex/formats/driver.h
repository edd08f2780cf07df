// The format driver record and table. Callers pick a driver by file type code
// and never branch on the format themselves.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "audioreader.h"
#include "audiowriter.h"
#include "bytesource.h"
#include "sonvex.h"

namespace sonvex {

// Seventeen operation slots, in this order. A driver never opens or closes the
// stream it is given and leaves its position wherever its last transfer put it.
struct FormatDriver {
  // 0: 0 = accepted, -17 = not this format, -1 (DSF only) = fmt unreadable.
  // kind: WAV 1 = RIFF, 2 = RF64; DSDIFF always 1; DSF leaves it alone.
  int (*probe)(FILE* f, int* kind);
  // 1: offset of the first audio byte, the data chunk's size as stored, and
  // the number of audio bytes.
  int (*locateData)(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes);
  // 2: offset of the first chunk with the given four-character id.
  int (*findChunk)(FILE* f, const char id[4], uint64_t* offset);
  // 3: the format description.
  int (*readFormat)(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                    uint16_t* formatTag);
  // 4: the bext time reference (WAV only).
  int (*readTimeReference)(FILE* f, uint64_t* timeReference);
  // 5: deletes a chunk by moving the rest of the file down and truncating.
  int (*removeChunk)(FILE* f, const char id[4]);
  // 6: provisional header at offset 0; leaves the stream at the first audio byte.
  int (*writeHeader)(FILE* f, const WriteFormat* format, int type);
  // 7: final sizes after the audio has been written (byte count = bytes after
  // the header; frames used by DSF).
  int (*finalize)(FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t framesLow,
                  uint32_t framesHigh);
  // 8: cuts a file in two: the audio from frame `atByte` on moves to `second`.
  int (*splitFile)(FILE* f, FILE* second, uint64_t atByte);
  // 9: appends the tail's audio to the head; flags is always 0.
  int (*append)(FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format, int flags);
  // 10: stores a time reference in an existing bext chunk (WAV).
  int (*writeTimeReference)(FILE* f, uint64_t timeReference);
  // 11: reads the bext time reference from the chunk's fixed-size image.
  int (*readBextTimeReference)(const uint8_t* bextImage, uint32_t imageSize,
                               uint64_t* timeReference);
  // 12: bytes of header room for the format.
  int (*headerReserve)(void);
  // 13: reads a header for openAudio: probe, format, data location, stopping
  // at the first that fails.
  OpenStatus (*readHeader)(ByteSource& src, AudioFormat* format);
  // 14: the reader of the audio a header read by slot 13 describes.
  std::unique_ptr<AudioReader> (*makeReader)(ByteSource& src, const AudioFormat& format);
  // 15: a writer of a new file of this format into `sink`.
  std::unique_ptr<AudioWriter> (*makeWriter)(ByteSink& sink);
  // 16: combine for a format whose audio cannot simply be appended: writes
  // head + tail as a new file and renames it over the head (headPath). Set,
  // it is used instead of slot 9.
  int (*rewriteAppend)(FILE* head, FILE* tail, const char16_t* headPath, const WriteFormat* format);
};

// The driver for a type code, or nullptr outside 0..4.
const FormatDriver* driverFor(int type);

// Dispatchers: -17 for a type outside 0..4 without touching the file, -17 for
// a slot the driver leaves empty, otherwise the operation's result unchanged.
[[nodiscard]] int dispatchProbe(int type, FILE* f, int* kind);
[[nodiscard]] int dispatchLocateData(int type, FILE* f, uint64_t* dataOffset, uint64_t* chunkSize,
                                     uint64_t* audioBytes);
[[nodiscard]] int dispatchReadFormat(int type, FILE* f, uint32_t* sampleRate,
                                     uint32_t* bitsPerSample, uint32_t* channels,
                                     uint16_t* formatTag);
[[nodiscard]] int dispatchWriteHeader(int type, FILE* f, const WriteFormat* format);
[[nodiscard]] int dispatchFinalize(int type, FILE* f, uint32_t bytesLow, uint32_t bytesHigh,
                                   uint32_t framesLow, uint32_t framesHigh);
[[nodiscard]] int dispatchAppend(int type, FILE* head, FILE* tail, FILE* scratch,
                                 const WriteFormat* format, int flags);

// The driver records (one per file).
extern const FormatDriver kWavDriver;
extern const FormatDriver kDsfDriver;
extern const FormatDriver kDsdiffDriver;
extern const FormatDriver kFlacDriver;

}  // namespace sonvex
