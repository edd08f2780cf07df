#include "extension.h"

#include <cstddef>

#include "sonvex.h"

namespace sonvex {

int fileTypeFromPath(const char16_t* path) {
  constexpr size_t kMaxExtension = 16;  // including the "."
  if (!path) return -1;
  const char16_t* dot = nullptr;
  for (const char16_t* p = path; *p; ++p)
    if (*p == u'.') dot = p;
  if (!dot) return -1;
  char16_t ext[kMaxExtension];
  size_t n = 0;
  for (const char16_t* p = dot; *p; ++p) {
    if (n == kMaxExtension) return -1;
    const char16_t c = *p;
    ext[n++] = (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
  }
  struct Entry {
    const char16_t* text;
    int type;
  };
  static constexpr Entry kKnown[] = {{u".wav", kFileTypeWav},
                                     {u".bwf", kFileTypeWav},
                                     {u".rf64", kFileTypeWav},
                                     {u".dsf", kFileTypeDsf},
                                     {u".dff", kFileTypeDsdiff},
                                     {u".flac", kFileTypeFlac}};
  for (const Entry& e : kKnown) {
    size_t i = 0;
    while (i < n && e.text[i] == ext[i]) ++i;
    if (i == n && e.text[i] == 0) return e.type;
  }
  return -1;
}

}  // namespace sonvex
