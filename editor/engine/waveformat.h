// The parts of a shared-mode mix format that the interleaved renderer needs
// (the layout of a WAVEFORMATEX, without the platform header).
#pragma once

#include <cstdint>

struct WaveFormat {
  uint16_t formatTag = 0;  // 1 PCM, 3 IEEE float
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;  // bytes per frame, all channels
  uint16_t bitsPerSample = 0;
};
