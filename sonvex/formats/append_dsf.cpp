// DSF append: the tail's audio continues the head's per-channel block
// structure, so that channel by channel the head's bytes are followed
// directly by the tail's, whatever the fill of the head's last block.
#include <algorithm>
#include <cstring>
#include <vector>

#include "append.h"
#include "chunkio.h"
#include "dsf.h"
#include "fileio.h"
#include "tags.h"

namespace sonvex {

namespace {

// Block groups are assembled in memory, n blocks at a time; the format itself
// knows at most six channels, this leaves generous room without letting a
// broken header ask for gigabytes.
constexpr uint32_t kMaxChannels = 64;

// Byte offset of per-channel byte `pos` of channel `c` in a payload of n channels.
uint64_t blockGroupOffset(uint64_t pos, uint32_t n) {
  return (pos / kDsfBlockBytes) * n * uint64_t(kDsfBlockBytes);
}

int readExact(FILE* f, uint64_t offset, uint8_t* buf, size_t count) {
  if (count == 0) return kSonvexOk;
  if (seek64(f, offset) != 0) return kErrIo;
  return std::fread(buf, 1, count, f) == count ? kSonvexOk : kErrIo;
}

}  // namespace

int appendDsf(FILE* head, FILE* tail, FILE* /*scratch*/, const WriteFormat* format, int /*flags*/) {
  DsfInfo headInfo, tailInfo;
  if (dsfReadInfo(head, &headInfo) != 0 || dsfReadInfo(tail, &tailInfo) != 0) return kErrIo;
  // The block layout depends on the channel count: mixing counts, or blocks
  // of another size, would scramble both files.
  const uint32_t n = format->channels;
  if (n == 0 || n > kMaxChannels || headInfo.channels != n || tailInfo.channels != n ||
      headInfo.blockBytes != kDsfBlockBytes || tailInfo.blockBytes != kDsfBlockBytes)
    return kErrIo;

  uint64_t headOffset = 0, headChunk = 0, headBytes = 0;
  uint64_t tailOffset = 0, tailChunk = 0, tailBytes = 0;
  if (dsfLocateData(head, &headOffset, &headChunk, &headBytes) != 0 ||
      dsfLocateData(tail, &tailOffset, &tailChunk, &tailBytes) != 0)
    return kErrIo;

  // The head's ID3 tag sits behind its audio, where the tail's blocks go: it
  // moves to the new end. The tail's is dropped.
  Tags tags;
  if (readTags(head, kFileTypeDsf, &tags) != 0) tags.raw.clear();

  const uint64_t group = uint64_t(n) * kDsfBlockBytes;
  const uint64_t headPerChannel = headBytes / n;
  const uint64_t tailPerChannel = tailBytes / n;
  const uint64_t totalPerChannel = headPerChannel + tailPerChannel;
  const uint32_t used = uint32_t(headPerChannel % kDsfBlockBytes);

  // Block groups move in batches of about 1 MiB: whole tail groups are read
  // with one transfer, finished head groups written with one.
  const size_t batch = std::max<size_t>(1, (size_t(1) << 20) / group);
  std::vector<uint8_t> out, in;
  try {
    out.assign(batch * group, kDsdIdleByte);
    in.assign(batch * group, kDsdIdleByte);
  } catch (...) {
    return kErrIo;
  }

  // out[cur] is the head's block group being filled; `fill` bytes of each
  // channel's block are in it. A partly used last group starts with the
  // head's own bytes.
  const uint64_t firstOutGroup = headOffset + blockGroupOffset(headPerChannel, n);
  size_t cur = 0;
  uint32_t fill = used;
  if (used != 0) {
    for (uint32_t c = 0; c < n; ++c)
      if (readExact(head, firstOutGroup + uint64_t(c) * kDsfBlockBytes,
                    out.data() + size_t(c) * kDsfBlockBytes, used) != 0)
        return kErrIo;
  }
  // A head that claims more audio than it holds has nothing to continue.
  uint64_t headSize = 0;
  if (fileSize(head, &headSize) != 0 || headSize < firstOutGroup) return kErrIo;
  // The head is written strictly forwards from here.
  if (seek64(head, firstOutGroup) != 0) return kErrIo;
  auto writeOut = [&](size_t groups) -> int {
    if (std::fwrite(out.data(), 1, groups * group, head) != groups * group) return kErrIo;
    std::fill(out.begin(), out.end(), kDsdIdleByte);
    cur = 0;
    return kSonvexOk;
  };
  // Appends `take` bytes of each channel of one tail group (`in` at `src`).
  auto place = [&](const uint8_t* src, uint32_t take) -> int {
    // Each tail block splits over the free end of the current head block and
    // the start of the next one.
    const uint32_t first = std::min<uint32_t>(take, kDsfBlockBytes - fill);
    for (uint32_t c = 0; c < n; ++c)
      std::memcpy(out.data() + cur * group + size_t(c) * kDsfBlockBytes + fill,
                  src + size_t(c) * kDsfBlockBytes, first);
    fill += first;
    if (fill == kDsfBlockBytes) {
      fill = 0;
      if (++cur == batch && writeOut(batch) != 0) return kErrIo;
    }
    const uint32_t rest = take - first;
    if (rest) {
      for (uint32_t c = 0; c < n; ++c)
        std::memcpy(out.data() + cur * group + size_t(c) * kDsfBlockBytes,
                    src + size_t(c) * kDsfBlockBytes + first, rest);
      fill = rest;
    }
    return kSonvexOk;
  };

  int* progress = appendProgress();
  const uint64_t wholeGroups = tailPerChannel / kDsfBlockBytes;
  const uint32_t lastTake = uint32_t(tailPerChannel % kDsfBlockBytes);
  if (wholeGroups > 0 && seek64(tail, tailOffset) != 0) return kErrIo;
  for (uint64_t k = 0; k < wholeGroups;) {
    const size_t count = size_t(std::min<uint64_t>(batch, wholeGroups - k));
    if (std::fread(in.data(), 1, count * group, tail) != count * group) return kErrIo;
    for (size_t g = 0; g < count; ++g)
      if (place(in.data() + g * group, kDsfBlockBytes) != 0) return kErrIo;
    k += count;
    const int percent = int(k * kDsfBlockBytes * 100 / tailPerChannel);
    storeProgress(progress, std::max(1, percent * 90 / 100));
  }
  if (lastTake) {
    // The tail's own last group: only its used bytes are read.
    for (uint32_t c = 0; c < n; ++c)
      if (readExact(tail, tailOffset + wholeGroups * group + uint64_t(c) * kDsfBlockBytes,
                    in.data() + size_t(c) * kDsfBlockBytes, lastTake) != 0)
        return kErrIo;
    if (place(in.data(), lastTake) != 0) return kErrIo;
    storeProgress(progress, 90);
  }
  // The last block of each channel is padded with the idle pattern.
  if (fill != 0) ++cur;
  if (cur != 0 && writeOut(cur) != 0) return kErrIo;

  // True block-padded payload, so the data size and the file size agree;
  // whatever else the head carried behind it is dropped rather than left half
  // overwritten.
  const uint64_t payload = dsfPaddedPayload(totalPerChannel * n, n);
  if (truncateFile(head, headOffset + payload) != 0) return kErrIo;
  const uint64_t frames = totalPerChannel * 8;
  const int r = dsfFinalize(head, uint32_t(payload), uint32_t(payload >> 32), uint32_t(frames),
                            uint32_t(frames >> 32));
  if (r != 0) return r;
  uint64_t size = 0;
  if (fileSize(head, &size) != 0) return kErrNotSupported;
  uint8_t dsd[28];
  if (seek64(head, 0) != 0 || std::fread(dsd, 1, sizeof dsd, head) != sizeof dsd) return kErrIo;
  if (!tags.raw.empty()) {
    if (appendTagChunks(head, {tags.raw.front()}, TagChunkStyle::Bare) != 0) return kErrIo;
    putLe64(dsd + 20, size);  // the metadata pointer
    size += tags.raw.front().data.size();
  }
  putLe64(dsd + 12, size);
  if (seek64(head, 0) != 0 || std::fwrite(dsd, 1, sizeof dsd, head) != sizeof dsd) return kErrIo;
  return std::fflush(head) == 0 ? 0 : kErrIo;
}

}  // namespace sonvex
