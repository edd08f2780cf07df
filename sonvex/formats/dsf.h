// The DSF driver (file type code 2): 1-bit audio in 4,096-byte per-channel
// blocks, bits least significant first. All fields little-endian.
#pragma once

#include <cstdint>
#include <cstdio>

#include "audioreader.h"
#include "driver.h"

namespace sonvex {

constexpr uint32_t kDsfHeaderBytes = 92;   // DSD (28) + fmt (52) + data header (12)
constexpr uint32_t kDsfBlockBytes = 4096;  // per channel

// The parts of a DSF header the driver works with, read fresh on every call.
struct DsfInfo {
  uint32_t channels = 0;    // fmt channel number
  uint32_t sampleRate = 0;  // fmt sampling frequency
  uint32_t bitsPerSample = 0;
  uint64_t sampleCount = 0;  // per channel
  uint32_t blockBytes = 0;   // block size per channel as stored
};

// Reads the DSD and fmt chunks. Same results as the probe slot: 0, -17 (not
// DSF) or -1 (fmt absent or short). A file too short for the DSD chunk is
// accepted with `info` left zero.
[[nodiscard]] int dsfReadInfo(ByteSource& src, DsfInfo* info);
[[nodiscard]] int dsfReadInfo(FILE* f, DsfInfo* info);

// Block-padded payload for `audioBytes` spread over `channels`:
// channels x 4,096 x ceil((audioBytes / channels) / 4,096).
uint64_t dsfPaddedPayload(uint64_t audioBytes, uint32_t channels);

[[nodiscard]] int dsfProbe(FILE* f, int* kind);
[[nodiscard]] int dsfLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize,
                                uint64_t* audioBytes);
[[nodiscard]] int dsfReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample,
                                uint32_t* channels, uint16_t* formatTag);
[[nodiscard]] int dsfWriteHeader(FILE* f, const WriteFormat* format, int type);
// payload = bytes written after the header, padding included; frames per channel.
[[nodiscard]] int dsfFinalize(FILE* f, uint32_t payloadLow, uint32_t payloadHigh,
                              uint32_t framesLow, uint32_t framesHigh);

}  // namespace sonvex
