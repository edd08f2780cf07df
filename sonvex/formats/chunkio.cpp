#include "chunkio.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "diag.h"
#include "fileio.h"
#include "sonvex.h"

namespace sonvex {

namespace {

constexpr size_t kCopyPiece = 98304;        // per read/write pair in copyRange
constexpr size_t kCopyBackPiece = 1048576;  // per read/write pair in copyWhole
constexpr uint64_t kMaxSeek = uint64_t(INT64_MAX);

// Per-call scratch so that concurrent calls never share a buffer.
std::unique_ptr<uint8_t[]> allocate(size_t n) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[n]);
}

int failSearch(uint64_t* offset, uint32_t* size) {
  *offset = 0;
  if (size) *size = 0;
  return kErrIo;
}

}  // namespace

int flatChunkSearch(ByteSource& src, const char id[4], ChunkLayout layout, uint64_t* offset,
                    uint32_t* size) {
  const bool riff = layout == ChunkLayout::Riff;
  const size_t headerLength = riff ? 8 : 12;
  uint8_t header[12];
  uint64_t pos = riff ? 12 : 0;
  int64_t lastSkip = 0;
  for (;;) {
    size_t got = 0;
    const IoStatus io = src.readAt(pos, header, headerLength, &got);
    if (io == IoStatus::SeekFailed) {
      diag("kCHUNK_ERR fseek \n");
      return failSearch(offset, size);
    }
    if (got == 0) {
      diag("totalOffset fread %d \n", int(pos));
      diag("nextSize fread %d \n", int(lastSkip));
      diag("read size %d \n", int(headerLength));
      diag("kCHUNK_ERR fread \n");
      return failSearch(offset, size);
    }
    if (got < headerLength) return failSearch(offset, size);

    const uint32_t low = le32(header + 4);
    if (std::memcmp(header, id, 4) == 0) {
      *offset = pos;
      if (size) *size = low;
      return kSonvexOk;
    }
    // DSF sizes are 64-bit and include the header; skip with all of it so
    // chunks behind a payload of 4 GiB or more are still reached.
    const uint64_t stored = riff ? uint64_t(low) : le64(header + 4);
    if (stored >= kMaxSeek) {  // also keeps the padded size below 2^63
      diag("kCHUNK_ERR fseek \n");
      return failSearch(offset, size);
    }
    const uint64_t padded = stored + (stored & 1);  // odd sizes carry a pad byte
    if (padded == 0) {
      diag("Cannot search next chunk! \n");
      return failSearch(offset, size);
    }
    // RIFF: header + payload; DSF: the size already covers the header. Both
    // advance by at least two bytes, so the walk always ends.
    const uint64_t advance = riff ? headerLength + padded : padded;
    lastSkip = riff ? int64_t(padded) : int64_t(padded) - int64_t(headerLength);
    if (advance > kMaxSeek - pos) {
      diag("kCHUNK_ERR fseek \n");
      return failSearch(offset, size);
    }
    pos += advance;
  }
}

int flatChunkSearch(FILE* f, const char id[4], ChunkLayout layout, uint64_t* offset,
                    uint32_t* size) {
  FileSource src(f);
  return flatChunkSearch(src, id, layout, offset, size);
}

int dsdiffChunkSearch(FILE* f, const char id[4], uint64_t* offset, uint64_t* size) {
  *offset = 0;
  *size = 0;
  uint8_t header[12];
  // Past "FRM8", its 64-bit size and the form type "DSD ".
  uint64_t pos = 16;
  for (;;) {
    if (seek64(f, pos) != 0) return kErrIo;
    if (std::fread(header, 1, sizeof header, f) != sizeof header) return kErrIo;
    const uint64_t chunkSize = be64(header + 4);
    if (std::memcmp(header, id, 4) == 0) {
      *offset = pos;
      *size = chunkSize;
      return kSonvexOk;
    }
    // A size that would run past the largest seek (or wrap) ends the walk
    // instead of moving backwards.
    if (chunkSize > kMaxSeek) return kErrIo;
    const uint64_t step = 12 + chunkSize + (chunkSize & 1);
    if (step > kMaxSeek - pos) return kErrIo;
    pos += step;
  }
}

int fileSize(FILE* f, uint64_t* size) {
  if (seekEnd64(f) != 0) return kErrIo;
  const int64_t end = tell64(f);
  if (end < 0) return kErrIo;
  *size = uint64_t(end);
  return kSonvexOk;
}

void storeProgress(int* progress, int value) {
  if (progress) __atomic_store_n(progress, value, __ATOMIC_RELEASE);
}

int mapProgress(ProgressMode mode, int done) {
  switch (mode) {
    case ProgressMode::FirstPhase: {
      const int v = done * 90 / 100;
      return v < 1 ? 1 : v;
    }
    case ProgressMode::LastPhase: {
      const int v = 90 + done * 10 / 100;
      return v >= 100 ? 99 : v;
    }
    case ProgressMode::None:
      break;
  }
  return kNoPercentage;
}

int copyRange(FILE* src, FILE* dst, uint64_t srcOffset, uint64_t dstOffset, bool dstAtEnd,
              int64_t count, ProgressMode mode, int* progress) {
  uint64_t total;
  if (count < 0) {
    uint64_t srcSize;
    if (fileSize(src, &srcSize) != 0) return kErrIo;
    total = srcSize > srcOffset ? srcSize - srcOffset : 0;
  } else {
    total = uint64_t(count);
  }
  if (seek64(src, srcOffset) != 0) return kErrIo;
  if ((dstAtEnd ? seekEnd64(dst) : seek64(dst, dstOffset)) != 0) return kErrIo;

  auto buffer = allocate(kCopyPiece);
  if (!buffer) return kErrIo;
  uint64_t remaining = total;
  while (remaining > 0) {
    const size_t n = remaining < kCopyPiece ? size_t(remaining) : kCopyPiece;
    const size_t got = std::fread(buffer.get(), 1, n, src);
    // A source that ends before the count is a failure, not an endless loop.
    if (got == 0) return kErrIo;
    if (std::fwrite(buffer.get(), 1, got, dst) != got) return kErrIo;
    remaining -= got;
    if (remaining > 0 && mode != ProgressMode::None) {
      const int done = int(100 - uint64_t((unsigned __int128)remaining * 100 / total));
      storeProgress(progress, mapProgress(mode, done));
    }
  }
  if (std::fflush(src) != 0 || std::fflush(dst) != 0) return kErrIo;
  return kSonvexOk;
}

int copyWhole(FILE* dst, FILE* src) {
  uint64_t size;
  if (fileSize(src, &size) != 0) return kErrIo;
  if (seek64(src, 0) != 0 || seek64(dst, 0) != 0) return kErrIo;
  auto buffer = allocate(kCopyBackPiece);
  if (!buffer) return kErrIo;
  uint64_t remaining = size;
  while (remaining > 0) {
    const size_t n = remaining < kCopyBackPiece ? size_t(remaining) : kCopyBackPiece;
    const size_t got = std::fread(buffer.get(), 1, n, src);
    if (got == 0) return kErrIo;
    if (std::fwrite(buffer.get(), 1, got, dst) != got) return kErrIo;
    remaining -= got;
  }
  return std::fflush(dst) == 0 ? kSonvexOk : kErrIo;
}

}  // namespace sonvex
