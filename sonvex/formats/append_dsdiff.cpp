// DSDIFF append: the tail's interleaved bytes continue the head's DSD chunk.
#include <cstring>

#include "append.h"
#include "chunkio.h"
#include "dsdiff.h"
#include "fileio.h"
#include "tags.h"

namespace sonvex {

namespace {
// Audio bytes that are really there and form whole frames: a header may
// claim more than the file holds, and a partial frame would shift every
// channel of what follows.
uint64_t usableBytes(FILE* f, uint64_t dataOffset, uint64_t audioBytes, uint32_t channels) {
  uint64_t size = 0;
  if (fileSize(f, &size) == 0) {
    const uint64_t present = size > dataOffset ? size - dataOffset : 0;
    if (audioBytes > present) audioBytes = present;
  }
  return audioBytes - audioBytes % channels;
}
}  // namespace

int appendDsdiff(FILE* head, FILE* tail, FILE* /*scratch*/, const WriteFormat* format,
                 int /*flags*/) {
  uint32_t headRate = 0, headBits = 0, headChannels = 0, tailRate = 0, tailBits = 0,
           tailChannels = 0;
  uint16_t tag = 0;
  if (dsdiffReadFormat(head, &headRate, &headBits, &headChannels, &tag) != 0 ||
      dsdiffReadFormat(tail, &tailRate, &tailBits, &tailChannels, &tag) != 0)
    return kErrIo;
  // Interleaving depends on the channel count: mixing counts corrupts both.
  const uint32_t n = format->channels;
  if (n == 0 || headChannels != n || tailChannels != n) return kErrIo;

  uint64_t headOffset = 0, headChunk = 0, headBytes = 0;
  uint64_t tailOffset = 0, tailChunk = 0, tailBytes = 0;
  if (dsdiffLocateData(head, &headOffset, &headChunk, &headBytes) != 0 ||
      dsdiffLocateData(tail, &tailOffset, &tailChunk, &tailBytes) != 0)
    return kErrIo;
  // The head's metadata behind its audio is about to be overwritten: it
  // follows the joined audio instead. The tail's is dropped.
  Tags tags;
  const std::vector<RawBlock> trailing = readTags(head, kFileTypeDsdiff, &tags) == 0
                                             ? blocksAfter(tags.raw, headOffset)
                                             : std::vector<RawBlock>{};
  headBytes = usableBytes(head, headOffset, headBytes, n);
  tailBytes = usableBytes(tail, tailOffset, tailBytes, n);
  const uint64_t total = headBytes + tailBytes;

  if (std::fflush(head) != 0) return kErrIo;
  if (copyRange(tail, head, tailOffset, headOffset + headBytes, false, int64_t(tailBytes),
                ProgressMode::FirstPhase, appendProgress()) != 0)
    return kErrIo;
  // Chunks that followed the head's audio are partly overwritten now; drop
  // what is left of them so the form holds only whole chunks.
  if (truncateFile(head, headOffset + total) != 0) return kErrIo;
  if (!trailing.empty()) {
    const uint8_t pad = 0;
    if ((total & 1) && (seekEnd64(head) != 0 || std::fwrite(&pad, 1, 1, head) != 1)) return kErrIo;
    if (appendTagChunks(head, trailing, TagChunkStyle::Dsdiff) != 0) return kErrIo;
  }

  const uint64_t frames = total * 8 / n;
  const int r = dsdiffFinalize(head, uint32_t(total), uint32_t(total >> 32), uint32_t(frames),
                               uint32_t(frames >> 32));
  if (r != 0) return r;
  uint64_t size = 0;
  if (fileSize(head, &size) != 0) return kErrNotSupported;
  uint8_t form[16];
  if (seek64(head, 0) != 0 || std::fread(form, 1, sizeof form, head) != sizeof form) return kErrIo;
  putBe64(form + 4, size - 12);
  if (seek64(head, 0) != 0 || std::fwrite(form, 1, sizeof form, head) != sizeof form) return kErrIo;
  return std::fflush(head) == 0 ? 0 : kErrIo;
}

}  // namespace sonvex
