#include "fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace sonvex {

size_t utf16Length(const char16_t* text) {
  size_t n = 0;
  if (text)
    while (text[n]) ++n;
  return n;
}

std::string utf16ToUtf8(const char16_t* text) {
  std::string out;
  if (!text) return out;
  for (size_t i = 0; text[i]; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

FilePtr openFile(const char16_t* path, const char* mode) {
  if (!path || !mode) return nullptr;
  return FilePtr(std::fopen(utf16ToUtf8(path).c_str(), mode));
}

int removeFile(const char16_t* path) {
  if (!path) return -1;
  return std::remove(utf16ToUtf8(path).c_str()) == 0 ? 0 : -1;
}

int seek64(FILE* f, uint64_t offset) {
  if (offset > uint64_t(INT64_MAX)) return -1;
  return fseeko(f, off_t(offset), SEEK_SET) == 0 ? 0 : -1;
}

int seekEnd64(FILE* f) { return fseeko(f, 0, SEEK_END) == 0 ? 0 : -1; }

int seekCur64(FILE* f, int64_t delta) { return fseeko(f, off_t(delta), SEEK_CUR) == 0 ? 0 : -1; }

int64_t tell64(FILE* f) { return int64_t(ftello(f)); }

bool isSameFile(FILE* f, const char16_t* path) {
  if (!f || !path) return false;
  struct stat open {
  }, named{};
  if (fstat(fileno(f), &open) != 0) return false;
  if (stat(utf16ToUtf8(path).c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

int truncateFile(FILE* f, uint64_t size) {
  if (std::fflush(f) != 0) return -1;
  return ftruncate(fileno(f), off_t(size)) == 0 ? 0 : -1;
}

bool refusesReplacement(const char16_t* path) {
  const std::string name = utf16ToUtf8(path);
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return false;
  return !S_ISREG(st.st_mode) || access(name.c_str(), W_OK) != 0;
}

std::string replacementTarget(const char16_t* path) {
  const std::string name = utf16ToUtf8(path);
  char* real = realpath(name.c_str(), nullptr);
  if (!real) return name;
  std::string out(real);
  std::free(real);
  return out;
}

FilePtr createBeside(const std::string& target, std::string* name) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 16; ++attempt) {
    // Hidden and short, so a long destination name cannot push it past the
    // file-name limit; O_EXCL never reuses anything that is already there.
    const std::string candidate = folder + ".sonvex-" + std::to_string(getpid()) + "-" +
                                  std::to_string(counter.fetch_add(1)) + ".part";
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    // A replaced file keeps its permissions.
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) (void)!fchmod(fd, old.st_mode & 07777);
    FILE* f = fdopen(fd, "w+b");
    if (!f) {
      ::close(fd);
      ::unlink(candidate.c_str());
      return nullptr;
    }
    *name = candidate;
    return FilePtr(f);
  }
  return nullptr;
}

int replaceWith(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

}  // namespace sonvex
