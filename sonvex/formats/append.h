// The append operations behind combineFiles (driver slot 9), and the progress
// sink they report through.
#pragma once

#include <cstdio>

#include "sonvex.h"

namespace sonvex {

// Each appends the tail's audio to the head in place and rewrites the head's
// header for the new length; the tail is only read, the scratch file may be
// used for a rebuild. 0 or a negative code.
[[nodiscard]] int appendWav(FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format,
                            int flags);
[[nodiscard]] int appendDsf(FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format,
                            int flags);
[[nodiscard]] int appendDsdiff(FILE* head, FILE* tail, FILE* scratch, const WriteFormat* format,
                               int flags);

// The percentage sink of the combine running on this thread (null: none).
// Kept per thread so that two combines in one process never share it.
void setAppendProgress(int* progress);
int* appendProgress();

}  // namespace sonvex
