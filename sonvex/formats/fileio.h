// RAII file streams opened by UTF-16 name, and 64-bit positioning.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace sonvex {

struct FileCloser {
  void operator()(FILE* f) const noexcept {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// UTF-16 (NUL-terminated) to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text);
// Length of a NUL-terminated UTF-16 string.
size_t utf16Length(const char16_t* text);

// Opens by UTF-16 name with a stdio mode ("rb", "rb+", "wb+"). Null on failure.
FilePtr openFile(const char16_t* path, const char* mode);
// Deletes a file named in UTF-16. 0 or -1.
int removeFile(const char16_t* path);

// 64-bit seeks and tells. 0 on success.
int seek64(FILE* f, uint64_t offset);
int seekEnd64(FILE* f);
int seekCur64(FILE* f, int64_t delta);
int64_t tell64(FILE* f);
// True when `path` names the file already open as `f` (same device and
// inode), whatever the spelling of the path. False when `path` does not exist.
bool isSameFile(FILE* f, const char16_t* path);

// Truncates the stream's file to `size` bytes (flushes first). 0 or -1.
int truncateFile(FILE* f, uint64_t size);

}  // namespace sonvex
