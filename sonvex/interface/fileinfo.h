// getAudioFileInformation over any byte source (files, and memory for the
// fuzz targets).
#pragma once

#include <cstdint>

#include "bytesource.h"
#include "sonvex.h"

namespace sonvex {

// The header of a file of type code `type` (negative: an unknown extension).
// Same results as getAudioFileInformation after the file is open.
[[nodiscard]] int32_t audioFileInformation(ByteSource& src, int type, AudioFileInfo* info);

}  // namespace sonvex
