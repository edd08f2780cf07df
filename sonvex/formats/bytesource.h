// Where the format readers get their bytes: an open file or a block of
// memory, read at absolute offsets so a reader never depends on a stream
// position another reader left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sonvex {

enum class IoStatus {
  Ok,
  SeekFailed,
  ReadFailed,
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `n` bytes at `offset` into `buffer`; *got is what arrived,
  // short only where the source ends.
  [[nodiscard]] virtual IoStatus readAt(uint64_t offset, void* buffer, size_t n, size_t* got) = 0;
  // The source's length in bytes; false when it cannot be told.
  [[nodiscard]] virtual bool size(uint64_t* bytes) = 0;

  // All `n` bytes or false.
  [[nodiscard]] bool readExact(uint64_t offset, void* buffer, size_t n);
};

// A stdio stream the caller keeps open. Reads move its position. A failed
// seek is tried `seekAttempts` times in all before a read gives up.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(FILE* f, int seekAttempts = 1) : f_(f), seekAttempts_(seekAttempts) {}
  [[nodiscard]] IoStatus readAt(uint64_t offset, void* buffer, size_t n, size_t* got) override;
  [[nodiscard]] bool size(uint64_t* bytes) override;

 private:
  FILE* f_;
  int seekAttempts_;
};

// Bytes the caller keeps alive for the source's lifetime.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  [[nodiscard]] IoStatus readAt(uint64_t offset, void* buffer, size_t n, size_t* got) override;
  [[nodiscard]] bool size(uint64_t* bytes) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace sonvex
