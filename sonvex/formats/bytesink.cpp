#include "bytesink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "fileio.h"
#include "sonvex.h"

namespace sonvex {

int ByteSink::fail(int error) {
  if (!errno_) errno_ = error ? error : EIO;
  return kErrWrite;
}

int FileSink::append(const void* data, size_t n) {
  if (!atEnd_) {
    if (seekEnd64(f_) != 0) return fail(errno);
    atEnd_ = true;
  }
  if (n && std::fwrite(data, 1, n, f_) != n) return fail(errno);
  return kSonvexOk;
}

int FileSink::writeAt(uint64_t offset, const void* data, size_t n) {
  atEnd_ = false;
  if (seek64(f_, offset) != 0) return fail(errno);
  if (n && std::fwrite(data, 1, n, f_) != n) return fail(errno);
  return kSonvexOk;
}

int FileSink::flush() { return std::fflush(f_) == 0 ? kSonvexOk : fail(errno); }

int FileSink::truncate(uint64_t size) {
  // After a full disk the stream's error flag would fail the size writes.
  std::clearerr(f_);
  atEnd_ = false;
  return ftruncate(fileno(f_), off_t(size)) == 0 ? kSonvexOk : fail(errno);
}

bool FileSink::size(uint64_t* bytes) {
  struct stat st {};
  if (fstat(fileno(f_), &st) != 0) return false;
  *bytes = uint64_t(st.st_size);
  return true;
}

int MemorySink::append(const void* data, size_t n) { return writeAt(bytes_.size(), data, n); }

int MemorySink::writeAt(uint64_t offset, const void* data, size_t n) {
  if (offset > limit_) return fail(ENOSPC);
  const size_t room = limit_ - size_t(offset);
  const size_t take = n < room ? n : room;
  try {
    if (bytes_.size() < offset + take) bytes_.resize(size_t(offset) + take);
  } catch (const std::bad_alloc&) {
    return fail(ENOMEM);
  }
  if (take) std::memcpy(bytes_.data() + offset, data, take);
  return take == n ? kSonvexOk : fail(ENOSPC);
}

int MemorySink::truncate(uint64_t size) {
  if (size > limit_) return fail(ENOSPC);
  try {
    bytes_.resize(size_t(size));
  } catch (const std::bad_alloc&) {
    return fail(ENOMEM);
  }
  return kSonvexOk;
}

bool MemorySink::size(uint64_t* bytes) {
  *bytes = bytes_.size();
  return true;
}

}  // namespace sonvex
