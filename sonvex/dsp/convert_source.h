// Sequential reader of a conversion source: PCM frames as interleaved stereo
// doubles, DSD as one byte array per channel. Reads stop at a frame limit;
// past it (or past an early end of file) PCM reads give zeros and DSD reads
// the idle byte.
#pragma once

#include <cstdint>
#include <vector>

#include "audioreader.h"
#include "bytesource.h"
#include "sonvex.h"

namespace sonvex::convert {

struct SourceLayout {
  int type = 0;  // file type code
  uint32_t channels = 0;
  uint32_t bits = 0;  // as a sample decodes
};

class SourceReader {
 public:
  SourceReader(AudioReader& audio, int64_t firstFrame, int64_t limitFrame);

  // Next `frames` PCM frames into out (2 x frames doubles). 0, or
  // kConvertErrSeek / kConvertErrRead / kConvertErrWavUnpack.
  [[nodiscard]] int readPcm(double* out, int64_t frames);
  // Next `bytes` bytes (8 frames each) of both channels. 0, or
  // kConvertErrSeek / kConvertErrRead / kConvertErrDsfUnpack / kConvertErrDsdiffUnpack.
  [[nodiscard]] int readDsd(uint8_t* left, uint8_t* right, int64_t bytes);

  // Source frames taken so far (real and padded) and how many were real.
  int64_t consumed() const { return next_ - first_; }
  int64_t realFrames() const { return real_; }
  // True once the file ended before the limit.
  bool endedEarly() const { return endedEarly_; }

 private:
  AudioReader& audio_;
  int64_t first_;
  int64_t next_;
  int64_t limit_;
  int64_t real_ = 0;
  bool endedEarly_ = false;
  std::vector<uint8_t> raw_;
};

// sonvexert with its one source read from `source` (when not null) instead
// of the file sourcePaths[0] names; that name's extension still gives the
// source's type.
[[nodiscard]] int32_t convertFromSource(ByteSource* source, const SonvexChar* destinationPath,
                                        const SonvexChar* const* sourcePaths, void* ioObject,
                                        const ConvertFormat* format, const ChannelMatrix* matrix,
                                        const int32_t* sourceEnabled, ConvertRange* range,
                                        BlockCallback onBlock, DrainCallback onDrain,
                                        const LevelPoint* envelope);

}  // namespace sonvex::convert
