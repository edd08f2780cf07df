// The DSDIFF driver (file type code 3): an FRM8 form of type "DSD " with
// FVER, PROP and DSD chunks; channels interleaved byte by byte, bits most
// significant first. All fields big-endian.
#pragma once

#include <cstdint>
#include <cstdio>

#include "bytesource.h"
#include "driver.h"

namespace sonvex {

constexpr uint32_t kDsdiffHeaderBytes = 32768;
// Local CHNL and CMPR payloads are read whole into a work buffer this size
// (after its first 12 bytes); larger ones are refused.
constexpr uint32_t kDsdiffWorkBytes = 131072;
// Most channels whose ids still fit the 32,768-byte header.
constexpr uint32_t kDsdiffMaxHeaderChannels = 32634 / 4;

// Channel id written for channel i of n: SLFT/SRGT for stereo, else C000, C001, ...
void dsdiffChannelId(uint32_t i, uint32_t n, char out[4]);

// Top-level chunk walk from offset 16 with 64-bit skips. A chunk of odd size
// is followed by its pad byte; writers that leave the pad out are tolerated
// (a chunk id never starts with a zero byte). 0, or -1 with offset/size 0.
[[nodiscard]] int dsdiffFindChunk(ByteSource& src, const char id[4], uint64_t* offset,
                                  uint64_t* size);
[[nodiscard]] int dsdiffFindChunk(FILE* f, const char id[4], uint64_t* offset, uint64_t* size);

[[nodiscard]] int dsdiffProbe(ByteSource& src, int* kind);
[[nodiscard]] int dsdiffProbe(FILE* f, int* kind);
[[nodiscard]] int dsdiffLocateData(ByteSource& src, uint64_t* dataOffset, uint64_t* chunkSize,
                                   uint64_t* audioBytes);
[[nodiscard]] int dsdiffLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize,
                                   uint64_t* audioBytes);
[[nodiscard]] int dsdiffReadFormat(ByteSource& src, uint32_t* sampleRate, uint32_t* bitsPerSample,
                                   uint32_t* channels, uint16_t* formatTag);
[[nodiscard]] int dsdiffReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample,
                                   uint32_t* channels, uint16_t* formatTag);
[[nodiscard]] int dsdiffWriteHeader(FILE* f, const WriteFormat* format, int type);
[[nodiscard]] int dsdiffFinalize(FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t framesLow,
                                 uint32_t framesHigh);

}  // namespace sonvex
