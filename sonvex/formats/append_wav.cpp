// WAV append: the tail's frames follow the head's data chunk; the head is
// rebuilt as RF64 when it grows past what a RIFF size can say.
#include "append.h"
#include "chunkio.h"
#include "fileio.h"
#include "tags.h"
#include "wav.h"

namespace sonvex {

int appendWav(FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format, int /*flags*/) {
  uint32_t headRate = 0, headBits = 0, headChannels = 0, tailRate = 0, tailBits = 0,
           tailChannels = 0;
  uint16_t headTag = 0, tailTag = 0;
  if (wavReadFormat(head, &headRate, &headBits, &headChannels, &headTag) != 0 ||
      wavReadFormat(tail, &tailRate, &tailBits, &tailChannels, &tailTag) != 0)
    return kErrIo;
  // Frames of another size would shift every sample of the tail.
  if (headChannels != tailChannels || headBits != tailBits || headChannels == 0) return kErrIo;

  uint64_t headOffset = 0, headChunk = 0, headBytes = 0;
  uint64_t tailOffset = 0, tailChunk = 0, tailBytes = 0;
  if (wavLocateData(head, &headOffset, &headChunk, &headBytes) != 0 ||
      wavLocateData(tail, &tailOffset, &tailChunk, &tailBytes) != 0)
    return kErrIo;
  // The reader stops a cut-off recording where its bytes stop; keep whole
  // frames only, so the tail's channels stay in step.
  const uint64_t frameBytes = uint64_t(headChannels) * ((headBits + 7) / 8);
  if (frameBytes == 0) return kErrIo;
  headBytes -= headBytes % frameBytes;
  tailBytes -= tailBytes % frameBytes;
  const uint64_t total = headBytes + tailBytes;
  // The head's metadata behind its audio is about to be overwritten: it
  // follows the joined audio instead. The tail's is dropped.
  Tags tags;
  if (readTags(head, kFileTypeWav, &tags) != 0) tags.raw.clear();
  const std::vector<RawBlock> trailing = blocksAfter(tags.raw, headOffset);
  size_t trailingBytes = 0;
  for (const RawBlock& b : trailing) trailingBytes += 8 + b.data.size() + (b.data.size() & 1);

  if (std::fflush(head) != 0 || std::fflush(tail) != 0) return kErrIo;
  if (copyRange(tail, head, tailOffset, headOffset + headBytes, false, int64_t(tailBytes),
                ProgressMode::FirstPhase, appendProgress()) != 0)
    return kErrIo;
  // Whatever followed the head's data is partly overwritten: keep only whole
  // chunks, and give an odd-sized data chunk its pad byte.
  uint64_t end = headOffset + total;
  if (truncateFile(head, end) != 0) return kErrIo;
  if (total & 1) {
    const uint8_t pad = 0;
    if (seek64(head, end) != 0 || std::fwrite(&pad, 1, 1, head) != 1) return kErrIo;
    ++end;
  }

  const uint64_t riffSize = end + trailingBytes - 8;
  int kind = 0;
  if (wavProbe(head, &kind) != 0) return kErrIo;
  // An RF64 head stays RF64 (its ds64 carries any size); a RIFF head that
  // outgrows 32-bit sizes is rebuilt with a ds64 chunk, its metadata all
  // behind the audio then.
  if (kind == kRiffKindRiff && riffSize >= kRiffSizeLimit) {
    if (rebuildWav(head, scratch, riffSize, total, appendProgress()) != 0) return kErrIo;
    if (total & 1) {
      const uint8_t pad = 0;
      if (seekEnd64(head) != 0 || std::fwrite(&pad, 1, 1, head) != 1) return kErrIo;
    }
    if (appendTagChunks(head, tags.raw, TagChunkStyle::Riff) != 0) return kErrIo;
  } else if (appendTagChunks(head, trailing, TagChunkStyle::Riff) != 0 ||
             writeDataSizes(head, kind, total) != 0 || writeRiffSizes(head, kind, riffSize) != 0) {
    return kErrIo;
  }

  uint64_t size = 0;
  if (fileSize(head, &size) != 0) return kErrNotSupported;
  if (updateRiffSize(head, size - 8) != 0) return kErrIo;
  // A head without bext is fine; one whose bext cannot be written is not.
  if (writeTimeReference(head, format->timeReference) == kErrIo) return kErrIo;
  return std::fflush(head) == 0 ? 0 : kErrIo;
}

}  // namespace sonvex
