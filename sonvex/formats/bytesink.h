// Where the format writers put their bytes: an open file or a block of
// memory. Every failure is reported as kErrWrite with the first errno kept,
// so a full disk can be told from other faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace sonvex {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // All `n` bytes after the last one stored, or kErrWrite (some may be in).
  [[nodiscard]] virtual int append(const void* data, size_t n) = 0;
  // All `n` bytes at `offset`, or kErrWrite.
  [[nodiscard]] virtual int writeAt(uint64_t offset, const void* data, size_t n) = 0;
  // Hands buffered bytes on. 0 or kErrWrite.
  [[nodiscard]] virtual int flush() = 0;
  // Cuts the stored bytes to `size`; later writes may follow a failed one
  // (the sizes of what is kept). 0 or kErrWrite.
  [[nodiscard]] virtual int truncate(uint64_t size) = 0;
  // Bytes really stored (a file's buffered bytes count once flushed); false
  // when it cannot be told.
  [[nodiscard]] virtual bool size(uint64_t* bytes) = 0;

  // errno of the first failure, 0 while there was none.
  int error() const { return errno_; }

 protected:
  int fail(int error);

 private:
  int errno_ = 0;
};

// A stdio stream the caller keeps open and closes.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(FILE* f) : f_(f) {}
  [[nodiscard]] int append(const void* data, size_t n) override;
  [[nodiscard]] int writeAt(uint64_t offset, const void* data, size_t n) override;
  [[nodiscard]] int flush() override;
  [[nodiscard]] int truncate(uint64_t size) override;
  [[nodiscard]] bool size(uint64_t* bytes) override;

 private:
  FILE* f_;
  bool atEnd_ = true;  // appends need no seek while nothing wrote elsewhere
};

// Bytes in memory; with a limit it takes no more than that many and then
// fails as a full disk does (ENOSPC).
class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(size_t limit = SIZE_MAX) : limit_(limit) {}
  [[nodiscard]] int append(const void* data, size_t n) override;
  [[nodiscard]] int writeAt(uint64_t offset, const void* data, size_t n) override;
  [[nodiscard]] int flush() override { return 0; }
  [[nodiscard]] int truncate(uint64_t size) override;
  [[nodiscard]] bool size(uint64_t* bytes) override;

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t limit_;
};

}  // namespace sonvex
