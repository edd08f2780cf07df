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
[[nodiscard]] int removeFile(const char16_t* path);

// 64-bit seeks and tells. 0 on success.
[[nodiscard]] int seek64(FILE* f, uint64_t offset);
[[nodiscard]] int seekEnd64(FILE* f);
[[nodiscard]] int seekCur64(FILE* f, int64_t delta);
[[nodiscard]] int64_t tell64(FILE* f);
// True when `path` names the file already open as `f` (same device and
// inode), whatever the spelling of the path. False when `path` does not exist.
[[nodiscard]] bool isSameFile(FILE* f, const char16_t* path);

// Truncates the stream's file to `size` bytes (flushes first). 0 or -1.
[[nodiscard]] int truncateFile(FILE* f, uint64_t size);

// True when `path` exists but is not a regular file this process may write
// (a folder, a device, a write-protected file): such a destination is never
// replaced.
[[nodiscard]] bool refusesReplacement(const char16_t* path);

// The file an export to `path` replaces: where a symbolic link leads, or
// `path` itself (UTF-8) when nothing is there yet.
std::string replacementTarget(const char16_t* path);

// Creates a fresh, empty file ("w+b") in the folder of `target`, to be
// renamed over it once complete; *name receives its path. Null on failure.
FilePtr createBeside(const std::string& target, std::string* name);

// Renames the file `from` over `to`. 0 or -1.
[[nodiscard]] int replaceWith(const std::string& from, const std::string& to);

}  // namespace sonvex
