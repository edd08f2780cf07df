// sonvexert over mutated sources read from memory. Byte 0 picks the source format and
// the mode (stream, or export to a scratch file), byte 1 the output rate and
// type, byte 2 the filter method and the range; the rest is the file. Blocks
// are capped at 2048 frames and runs stop from the block callback after
// eight of them, so every input stays cheap.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "bytesource.h"
#include "convert_plan.h"
#include "convert_source.h"
#include "sonvex.h"

namespace {

std::string gDir;
int gBlocks = 0;

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int32_t onBlock(uint32_t, uint32_t, int32_t frames, int32_t capacity, int32_t slot, int32_t,
                double** pcm, uint8_t**, int32_t) {
  // Touch the block as a consumer would, so bad slot contents show up.
  volatile double sink = 0;
  if (frames > 0 && frames <= capacity && slot >= 0 && slot < 64) {
    sink = pcm[slot][0] + pcm[slot][2 * size_t(frames) - 1];
  }
  (void)sink;
  return ++gBlocks >= 8 ? -1 : 0;
}

int32_t onDrain() { return 1; }

const int kRates[] = {kRate44100,  kRate48000,  kRate88200,  kRate96000, kRate176400,
                      kRate192000, kRate352800, kRate384000, kRateDsd64, kRateDsd128,
                      kRateDsd256, kRateDsd512, 8,           -1};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/fuzz_convert-XXXXXX";
  if (mkdtemp(tmpl)) gDir = tmpl;
  sonvex::convert::setBlockFramesLimit(2048);  // many block joins per input
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gDir.empty() || size < 3) return 0;
  const uint8_t mode = data[0], out = data[1], opts = data[2];
  data += 3;
  size -= 3;
  const char* ext = (mode & 3) == 0   ? ".wav"
                    : (mode & 3) == 1 ? ".dsf"
                    : (mode & 3) == 2 ? ".dff"
                                      : ".wave";
  const std::string src = gDir + "/source" + ext;
  const std::string dst = gDir + ((out & 0x80) ? "/out.dsf" : "/out.wav");
  sonvex::MemorySource source(data, size);

  ConvertFormat f{};
  int32_t progress = 0;
  f.rateIndex = kRates[(out & 0x7F) % (sizeof kRates / sizeof kRates[0])];
  const bool dsdRate = f.rateIndex >= kRateDsd64;
  f.fileType = dsdRate ? ((out & 0x80) ? kFileTypeDsf : kFileTypeDsdiff) : kFileTypeWav;
  f.bitsPerSample = dsdRate ? 1 : (opts & 0x40 ? 16 : 24);
  f.channels = (mode & 0x10) ? 1 : 2;
  f.progress = &progress;
  f.holdInterpolation = (opts & 0x20) ? 1 : 0;
  f.filterMethod = (opts & 3) == 1 ? 3 : 0;  // the FFT engine now and then
  ChannelMatrix m{{1.0, 0.0, 0.0, 1.0}};
  if (mode & 0x20) m = ChannelMatrix{{0.5, 0.5, 0.5, -0.5}};
  ConvertRange r{};
  r.statusWord = (mode & 0x40) ? kConvertExportMode : 2;
  r.startFrame = (opts >> 2) & 7;
  r.endFrame = (opts & 0x80) ? std::numeric_limits<int64_t>::max() : 5000;
  r.levelActive = (mode >> 7) & 1;
  LevelPoint env[10];
  for (auto& p : env) p = LevelPoint{-1, 0.0, 0.0, 0, 0};
  env[0] = {0, 0.0, 0.01, 1, 0};
  env[1] = {100, 1.0, 0.0, 0, 0};
  env[2] = {std::numeric_limits<int64_t>::max(), 1.0, 0.0, 0, 0};
  const int32_t enabled[1] = {1};
  const std::u16string s16 = u16(src), d16 = u16(dst);
  const SonvexChar* sources[1] = {s16.c_str()};
  gBlocks = 0;
  (void)sonvex::convert::convertFromSource(&source, d16.c_str(), sources, nullptr, &f, &m, enabled,
                                           &r, onBlock, onDrain, env);
  return 0;
}
