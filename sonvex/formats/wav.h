// The WAV/RF64 driver (file type codes 0 and 1) and the size routines that
// finalize and the WAV append share. All fields little-endian.
#pragma once

#include <cstdint>
#include <cstdio>

#include "audioreader.h"
#include "bytesource.h"
#include "driver.h"

namespace sonvex {

// Every header this driver writes is this long; audio starts right after it.
constexpr uint32_t kWavHeaderBytes = 32768;
// RIFF kinds reported by probe.
constexpr int kRiffKindRiff = 1;  // "RIFF"
constexpr int kRiffKindRf64 = 2;  // "RF64" with a ds64 chunk
// A RIFF size at or above this needs the 64-bit fields of ds64.
constexpr uint64_t kRiffSizeLimit = uint64_t(1) << 32;

// The individual operations of kWavDriver (same contracts as the slots).
[[nodiscard]] int wavProbe(ByteSource& src, int* kind);
[[nodiscard]] int wavProbe(FILE* f, int* kind);
// chunkSize = the data size as stored (ds64 when the 32-bit field is all
// ones); audioBytes = the same, cut to the bytes the file holds behind the
// data offset, so a cut-off recording reads up to where it stops.
[[nodiscard]] int wavLocateData(ByteSource& src, uint64_t* dataOffset, uint64_t* chunkSize,
                                uint64_t* audioBytes);
[[nodiscard]] int wavLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize,
                                uint64_t* audioBytes);
[[nodiscard]] int wavReadFormat(ByteSource& src, uint32_t* sampleRate, uint32_t* bitsPerSample,
                                uint32_t* channels, uint16_t* formatTag);
[[nodiscard]] int wavReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample,
                                uint32_t* channels, uint16_t* formatTag);
[[nodiscard]] int wavWriteHeader(FILE* f, const WriteFormat* format, int type);
[[nodiscard]] int wavFinalize(FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t framesLow,
                              uint32_t framesHigh);

// The fmt's sample layout (see WavSampleLayout). 0 or -1.
[[nodiscard]] int wavSampleLayout(ByteSource& src, WavSampleLayout* layout);
[[nodiscard]] int wavSampleLayout(FILE* f, WavSampleLayout* layout);

// The format tag inside an extensible fmt's sub-format GUID (its first two
// bytes), so extensible files decode like plain ones; 0xFFFE again when the
// fmt is too short to hold one.
uint16_t wavExtensibleSubformat(ByteSource& src);

// Moves the samples of `frames` frames together in place, so that each frame
// is channels x sampleBytes long and reads as packed samples.
void wavPackFrames(uint8_t* data, size_t frames, uint32_t channels, const WavSampleLayout& layout);

// RIFF size field at offset 4 = riffSize, or 0xFFFFFFFF from 2^32 on; for
// kind 2 also the ds64 RIFF size (64-bit). 0, or -1 on any failed search,
// seek, read or write (ds64 absent included).
[[nodiscard]] int writeRiffSizes(FILE* f, int kind, uint64_t riffSize);

// The data chunk's size field = audioBytes, or 0xFFFFFFFF from 2^32 on; for
// kind 2 also the ds64 data size = audioBytes and the ds64 sample count = 0.
// Needs a readable fmt chunk and a data chunk. 0 or -1.
[[nodiscard]] int writeDataSizes(FILE* f, int kind, uint64_t audioBytes);

// Stores riffSize through writeRiffSizes after checking the header kind:
// a plain RIFF file is refused (-1, nothing written) when riffSize reaches
// 2^32; an RF64 file is accepted at any size, because its ds64 carries the
// true sizes. Also -1 when the file is neither RIFF nor RF64.
[[nodiscard]] int updateRiffSize(FILE* f, uint64_t riffSize);

// Rewrites `head` with the header kind riffSize needs (RF64 from 2^32 on):
// writes a fresh 32,768-byte header to `scratch` (from offset 0), copies
// audioBytes of the head's audio behind it (progress mode 2 through
// `progress`, may be null), sets both sizes, then truncates the head and
// copies the scratch file over it. Chunks other than fmt and data are not
// carried over. A failure after the truncation leaves the head short. 0 or -1.
[[nodiscard]] int rebuildWav(FILE* head, FILE* scratch, uint64_t riffSize, uint64_t audioBytes,
                             int* progress);

// Stores the time reference (wrapped once into one day at the file's rate)
// in an existing bext chunk (payload offsets 338/342). Without a bext chunk
// the RIFF size is refreshed from the file size and kErrNoBextChunk (-41)
// returned. 0, -1 or -41.
[[nodiscard]] int writeTimeReference(FILE* f, uint64_t timeReference);

// Reads the bext time reference from an open file. 0, or -1 when there is no
// bext chunk or it is shorter than 346 bytes.
[[nodiscard]] int readTimeReference(FILE* f, uint64_t* timeReference);

}  // namespace sonvex
