// Chunk searches and the small file helpers the format drivers are built on.
#pragma once

#include <cstdint>
#include <cstdio>

#include "bytesource.h"

namespace sonvex {

enum class ChunkLayout {
  Riff,  // 8-byte header: id, u32 LE size excluding header; first chunk at 12
  Dsf    // 12-byte header: id, u64 LE size including header; first chunk at 0
};

// Flat top-level search. offset = header offset of the first chunk with `id`,
// size = low 32 bits of its size field. 0 or -1 (offset and size 0 on failure).
[[nodiscard]] int flatChunkSearch(ByteSource& src, const char id[4], ChunkLayout layout,
                                  uint64_t* offset, uint32_t* size);
[[nodiscard]] int flatChunkSearch(FILE* f, const char id[4], ChunkLayout layout, uint64_t* offset,
                                  uint32_t* size);

// DSDIFF top-level search inside FRM8 with 64-bit skips. size as stored, no pad.
[[nodiscard]] int dsdiffChunkSearch(FILE* f, const char id[4], uint64_t* offset, uint64_t* size);

// Size of the stream (seeks to its end). 0 or -1.
[[nodiscard]] int fileSize(FILE* f, uint64_t* size);

// Progress sink for copies and appends: an int that another thread polls.
// Stores are atomic so the reader never sees a torn value.
void storeProgress(int* progress, int value);

enum class ProgressMode { None = 0, FirstPhase = 1, LastPhase = 2 };
constexpr int kNoPercentage = -1;

// Percentage done (0..100) as stored for a mode: first phase max(1, done*0.9),
// last phase 90 + done/10 capped at 99; -1 for None.
[[nodiscard]] int mapProgress(ProgressMode mode, int done);

// Copies `count` bytes (negative: up to the source's end) from srcOffset to
// dstOffset (or the destination's end when dstAtEnd). Transfers of at most
// 98,304 bytes; after each transfer that leaves bytes to copy, the percentage
// is mapped by `mode` and stored through `progress` (may be null). A source
// that ends early gives -1.
[[nodiscard]] int copyRange(FILE* src, FILE* dst, uint64_t srcOffset, uint64_t dstOffset,
                            bool dstAtEnd, int64_t count, ProgressMode mode, int* progress);

// Copies the whole of `src` over the start of `dst` in 1 MiB pieces. 0 or -1.
[[nodiscard]] int copyWhole(FILE* dst, FILE* src);

// Little- and big-endian field helpers.
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }
inline uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t be64(const uint8_t* p) { return (uint64_t(be32(p)) << 32) | uint64_t(be32(p + 4)); }
inline void putLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void putBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void putBe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (56 - 8 * i));
}

}  // namespace sonvex
