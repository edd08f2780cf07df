// Waveform summaries over mutated files read from memory. The first input
// byte picks the type and the column counts; the rest is the file.
#include <cstdint>
#include <vector>

#include "bytesource.h"
#include "sonvex.h"
#include "waveform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const int kTypes[] = {kFileTypeWav, kFileTypeDsf, kFileTypeDsdiff};
  const uint8_t selector = data[0];
  sonvex::MemorySource src(data + 1, size - 1);

  const int64_t n = 1 + (selector >> 2) % 40;
  WaveLevels levels{1 + (selector >> 5) % 3, 1 + (selector >> 3) % 7, n};
  std::vector<WavePoint> buf(6 * 48);
  WaveColumns mx{&buf[0], &buf[48], &buf[96]}, mn{&buf[144], &buf[192], &buf[240]};
  uint8_t cancel = 0;
  int32_t progress[2] = {0, 0};
  const int type = kTypes[selector % 3];
  (void)sonvex::waveformSummary(src, type, 0, INT64_MAX, &levels, &mx, &mn, &cancel, progress);
  // A range that starts inside the file.
  (void)sonvex::waveformSummary(src, type, 1000, INT64_MAX, &levels, &mx, &mn, &cancel, progress);
  return 0;
}
