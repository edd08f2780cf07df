// FLAC through libFLAC: the driver record, the per-thread compression level
// and the combine that re-encodes two streams into one.
//
// Samples come out as the WAV reader delivers them: packed little-endian in
// the stream's width rounded up to whole bytes (8, 16, 24, 32), left-
// justified so full scale stays full scale (a 20-bit sample v is v << 4 in
// 24 bits, as an extensible 20-in-24 WAV reads), and 8-bit samples offset
// by 128 as in an 8-bit WAV.
#pragma once

#include <cstdint>
#include <cstdio>

#include "sonvex.h"

namespace sonvex {

// The level (0..8) the calling thread's FLAC exports use.
int32_t flacCompressionLevel();

// Appends the tail's audio to the head by decoding both and encoding a new
// file beside the head, renamed over it at the end; the head is untouched on
// any failure. Both must agree in rate, channels and stream bits. 0, kErrIo
// (unreadable, mismatched, or the head cannot be replaced) or kErrWrite
// (errno says why).
[[nodiscard]] int flacCombine(FILE* head, FILE* tail, const char16_t* headPath,
                              const WriteFormat* format);

}  // namespace sonvex
