#include "dsf.h"

#include <cstring>

#include "append.h"
#include "chunkio.h"
#include "fileio.h"

namespace sonvex {

namespace {

constexpr uint32_t kDsdChunkBytes = 28;
constexpr uint32_t kFmtChunkBytes = 52;
constexpr uint32_t kDataHeaderBytes = 12;

// Offsets inside the DSD chunk.
constexpr int kDsdTotalSize = 12;
constexpr int kDsdMetadataPointer = 20;
// Offsets inside the fmt chunk (from its header).
constexpr int kFmtChannelType = 20;
constexpr int kFmtChannelNumber = 24;
constexpr int kFmtSamplingFrequency = 28;
constexpr int kFmtBitsPerSample = 32;
constexpr int kFmtSampleCount = 36;
constexpr int kFmtBlockSize = 44;

// Reads `n` bytes of the chunk at `offset` into `buf`. 0 or -1 (short read too).
int readAt(FILE* f, uint64_t offset, uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return -1;
  return std::fread(buf, 1, n, f) == n ? 0 : -1;
}

int writeAt(FILE* f, uint64_t offset, const uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return -1;
  return std::fwrite(buf, 1, n, f) == n ? 0 : -1;
}

// Read-modify-write of one 64-bit field of the chunk `id`.
int patchField64(FILE* f, const char id[4], uint32_t chunkBytes, int field, uint64_t value) {
  uint64_t offset = 0;
  uint32_t size = 0;
  if (flatChunkSearch(f, id, ChunkLayout::Dsf, &offset, &size) != 0) return -1;
  uint8_t image[kFmtChunkBytes];
  if (readAt(f, offset, image, chunkBytes) != 0) return -1;
  putLe64(image + field, value);
  return writeAt(f, offset, image, chunkBytes);
}

int dsfFindChunk(FILE* f, const char id[4], uint64_t* offset) {
  uint32_t size = 0;
  return flatChunkSearch(f, id, ChunkLayout::Dsf, offset, &size);
}

int dsfRemoveChunk(FILE*, const char*) { return -1; }
int dsfReadTimeReference(FILE*, uint64_t*) { return -1; }
int dsfWriteTimeReference(FILE*, uint64_t) { return -1; }
int dsfReadBextTimeReference(const uint8_t*, uint32_t, uint64_t*) { return -1; }
int dsfSplitFile(FILE*, FILE*, uint64_t) { return -17; }
int dsfHeaderReserve(void) { return int(kDsfHeaderBytes); }

}  // namespace

int dsfReadInfo(FILE* f, DsfInfo* info) {
  *info = DsfInfo{};
  uint8_t dsd[kDsdChunkBytes];
  if (seek64(f, 0) != 0) return 0;
  if (std::fread(dsd, 1, sizeof dsd, f) != sizeof dsd) return 0;
  if (std::memcmp(dsd, "DSD ", 4) != 0) return -17;
  uint64_t offset = 0;
  if (dsfFindChunk(f, "fmt ", &offset) != 0) return -1;
  uint8_t fmt[kFmtChunkBytes];
  if (readAt(f, offset, fmt, sizeof fmt) != 0) return -1;
  info->channels = le32(fmt + kFmtChannelNumber);
  info->sampleRate = le32(fmt + kFmtSamplingFrequency);
  info->bitsPerSample = le32(fmt + kFmtBitsPerSample);
  info->sampleCount = le64(fmt + kFmtSampleCount);
  info->blockBytes = le32(fmt + kFmtBlockSize);
  return 0;
}

uint64_t dsfPaddedPayload(uint64_t audioBytes, uint32_t channels) {
  if (channels == 0) return 0;
  const uint64_t perChannel = audioBytes / channels;
  const uint64_t blocks = perChannel / kDsfBlockBytes + (perChannel % kDsfBlockBytes ? 1 : 0);
  return uint64_t(channels) * kDsfBlockBytes * blocks;
}

int dsfProbe(FILE* f, int* /*kind*/) {
  DsfInfo info;
  return dsfReadInfo(f, &info);
}

int dsfLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes) {
  DsfInfo info;
  if (dsfReadInfo(f, &info) != 0) return -1;
  uint64_t offset = 0;
  if (dsfFindChunk(f, "data", &offset) != 0) return -1;
  uint8_t header[kDataHeaderBytes];
  if (readAt(f, offset, header, sizeof header) != 0) return -1;
  // A channel count times sample count that does not fit 64 bits is no audio
  // size at all.
  uint64_t bits = 0;
  if (__builtin_mul_overflow(uint64_t(info.channels), info.sampleCount, &bits)) return -1;
  *chunkSize = le64(header + 4);
  *dataOffset = offset + kDataHeaderBytes;
  *audioBytes = bits / 8;
  // Never past the end of the file, so a cut-off recording reads up to where
  // it stops: per channel, the bytes that its last block really holds.
  uint64_t total = 0;
  if (info.channels == 0 || fileSize(f, &total) != 0) return -1;
  const uint64_t group = uint64_t(info.channels) * kDsfBlockBytes;
  const uint64_t present = total > *dataOffset ? total - *dataOffset : 0;
  const uint64_t partial = present % group;
  const uint64_t lastChannelStart = group - kDsfBlockBytes;
  const uint64_t perChannel = present / group * kDsfBlockBytes +
                              (partial > lastChannelStart ? partial - lastChannelStart : 0);
  if (perChannel < *audioBytes / info.channels) *audioBytes = perChannel * info.channels;
  return 0;
}

int dsfReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                  uint16_t* formatTag) {
  DsfInfo info;
  if (dsfReadInfo(f, &info) != 0) return -1;
  // A header without channels or rate, or whose audio size overflows, cannot
  // be read or played; refuse it here rather than divide by it later.
  uint64_t bits = 0;
  if (info.channels == 0 || info.sampleRate == 0 ||
      __builtin_mul_overflow(uint64_t(info.channels), info.sampleCount, &bits) ||
      bits / 8 > uint64_t(INT64_MAX))
    return -1;
  *sampleRate = info.sampleRate;
  // DSD is one bit per sample whatever the bits field says (some writers
  // put 8 there); trusting it would cut every length to an eighth.
  *bitsPerSample = 1;
  *channels = info.channels;
  *formatTag = 0;
  return 0;
}

int dsfWriteHeader(FILE* f, const WriteFormat* format, int /*type*/) {
  if (!format || format->channels == 0) return -1;
  uint8_t h[kDsfHeaderBytes] = {};
  std::memcpy(h, "DSD ", 4);
  putLe64(h + 4, kDsdChunkBytes);
  putLe64(h + 12, kDsfHeaderBytes);  // total file size until finalize
  putLe64(h + 20, 0);                // metadata pointer
  uint8_t* fmt = h + kDsdChunkBytes;
  std::memcpy(fmt, "fmt ", 4);
  putLe64(fmt + 4, kFmtChunkBytes);
  putLe32(fmt + 12, 1);  // format version
  putLe32(fmt + 16, 0);  // DSD raw
  putLe32(fmt + kFmtChannelType, format->channels);
  putLe32(fmt + kFmtChannelNumber, format->channels);
  putLe32(fmt + kFmtSamplingFrequency, format->sampleRate);
  putLe32(fmt + kFmtBitsPerSample, 1);
  putLe64(fmt + kFmtSampleCount, 0);
  putLe32(fmt + kFmtBlockSize, kDsfBlockBytes);
  uint8_t* data = fmt + kFmtChunkBytes;
  std::memcpy(data, "data", 4);
  putLe64(data + 4, 0);
  return writeAt(f, 0, h, sizeof h);
}

int dsfFinalize(FILE* f, uint32_t payloadLow, uint32_t payloadHigh, uint32_t framesLow,
                uint32_t framesHigh) {
  const uint64_t payload = (uint64_t(payloadHigh) << 32) | payloadLow;
  const uint64_t frames = (uint64_t(framesHigh) << 32) | framesLow;
  // Nothing follows the data chunk, so the metadata pointer says none (0);
  // pointing it at the end of the file makes readers look for a tag there.
  if (patchField64(f, "DSD ", kDsdChunkBytes, kDsdMetadataPointer, 0) != 0) return -1;
  if (patchField64(f, "data", kDataHeaderBytes, 4, payload + kDataHeaderBytes) != 0) return -1;
  if (patchField64(f, "fmt ", kFmtChunkBytes, kFmtSampleCount, frames) != 0) return -1;
  uint64_t size = 0;
  if (fileSize(f, &size) != 0) return kErrNotSupported;
  if (patchField64(f, "DSD ", kDsdChunkBytes, kDsdTotalSize, size) != 0) return -1;
  return std::fflush(f) == 0 ? 0 : -1;
}

const FormatDriver kDsfDriver = {
    dsfProbe,         dsfLocateData,         dsfFindChunk,
    dsfReadFormat,    dsfReadTimeReference,  dsfRemoveChunk,
    dsfWriteHeader,   dsfFinalize,           dsfSplitFile,
    appendDsf,        dsfWriteTimeReference, dsfReadBextTimeReference,
    dsfHeaderReserve,
};

}  // namespace sonvex
