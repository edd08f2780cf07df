// Picks a file type code from a path's extension.
#pragma once

namespace sonvex {

// The text from the path's last "." to its end, lower-cased, compared with
// ".wav" (".bwf", ".rf64"), ".dsf", ".dff" and ".flac": kFileTypeWav,
// kFileTypeDsf, kFileTypeDsdiff or kFileTypeFlac.
// -1 for no ".", an extension of 16 characters or more, or no match.
int fileTypeFromPath(const char16_t* path);

}  // namespace sonvex
