#include "bytesource.h"

#include <cstring>

#include "chunkio.h"
#include "fileio.h"

namespace sonvex {

bool ByteSource::readExact(uint64_t offset, void* buffer, size_t n) {
  size_t got = 0;
  return readAt(offset, buffer, n, &got) == IoStatus::Ok && got == n;
}

IoStatus FileSource::readAt(uint64_t offset, void* buffer, size_t n, size_t* got) {
  *got = 0;
  int attempt = 0;
  while (seek64(f_, offset) != 0)
    if (++attempt >= seekAttempts_) return IoStatus::SeekFailed;
  *got = std::fread(buffer, 1, n, f_);
  return std::ferror(f_) ? IoStatus::ReadFailed : IoStatus::Ok;
}

bool FileSource::size(uint64_t* bytes) { return fileSize(f_, bytes) == 0; }

IoStatus MemorySource::readAt(uint64_t offset, void* buffer, size_t n, size_t* got) {
  *got = 0;
  if (offset >= size_) return IoStatus::Ok;
  const size_t available = size_ - size_t(offset);
  *got = n < available ? n : available;
  if (*got) std::memcpy(buffer, data_ + offset, *got);
  return IoStatus::Ok;
}

bool MemorySource::size(uint64_t* bytes) {
  *bytes = size_;
  return true;
}

}  // namespace sonvex
