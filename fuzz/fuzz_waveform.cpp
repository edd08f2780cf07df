// Waveform summaries over mutated files. The first input byte picks the
// extension and the column counts; the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sonvex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const kExt[] = {".wav", ".dsf", ".dff"};
  const uint8_t selector = data[0];
  const std::string path = "/tmp/fuzz_waveform_" + std::to_string(getpid()) + kExt[selector % 3];
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  const int64_t n = 1 + (selector >> 2) % 40;
  WaveLevels levels{1 + (selector >> 5) % 3, 1 + (selector >> 3) % 7, n};
  std::vector<WavePoint> buf(6 * 48);
  WaveColumns mx{&buf[0], &buf[48], &buf[96]}, mn{&buf[144], &buf[192], &buf[240]};
  uint8_t cancel = 0;
  int32_t progress[2] = {0, 0};
  const std::u16string p(path.begin(), path.end());
  getAudioWaveForm(p.c_str(), 0, 0, 0xFFFFFFFFu, 0x7FFFFFFF, &levels, &mx, &mn, &cancel, progress);
  // A range that starts inside the file.
  getAudioWaveForm(p.c_str(), 1000, 0, 0xFFFFFFFFu, 0x7FFFFFFF, &levels, &mx, &mn, &cancel,
                   progress);
  std::remove(path.c_str());
  return 0;
}
