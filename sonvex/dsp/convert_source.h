// Sequential reader of a conversion source: PCM frames as interleaved stereo
// doubles, DSD as one byte array per channel. Reads stop at a frame limit;
// past it (or past an early end of file) PCM reads give zeros and DSD reads
// the idle byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace sonvex::convert {

struct SourceLayout {
  int type = 0;  // file type code
  uint32_t channels = 0;
  uint32_t bits = 0;
  uint16_t formatTag = 0;
  uint64_t dataOffset = 0;
  uint64_t audioBytes = 0;
  // WAV samples in wider containers (0: packed); see wavSampleLayout.
  uint32_t containerBytes = 0;
  bool topAligned = false;
};

class SourceReader {
 public:
  SourceReader(FILE* f, const SourceLayout& layout, int64_t firstFrame, int64_t limitFrame);

  // Next `frames` PCM frames into out (2 x frames doubles). 0, or
  // kConvertErrSeek / kConvertErrRead / kConvertErrWavUnpack.
  int readPcm(double* out, int64_t frames);
  // Next `bytes` bytes (8 frames each) of both channels. 0, or
  // kConvertErrSeek / kConvertErrRead / kConvertErrDsfUnpack / kConvertErrDsdiffUnpack.
  int readDsd(uint8_t* left, uint8_t* right, int64_t bytes);

  // Source frames taken so far (real and padded) and how many were real.
  int64_t consumed() const { return next_ - first_; }
  int64_t realFrames() const { return real_; }
  // True once the file ended before the limit.
  bool endedEarly() const { return endedEarly_; }

 private:
  int readDsfGroups(uint64_t group, uint64_t count);

  FILE* f_;
  SourceLayout layout_;
  int64_t first_;
  int64_t next_;
  int64_t limit_;
  int64_t real_ = 0;
  bool endedEarly_ = false;
  std::vector<uint8_t> raw_;
  // DSF: decoded groups cached per channel.
  std::vector<uint8_t> dsfLeft_, dsfRight_;
  uint64_t dsfFirstGroup_ = UINT64_MAX;
  uint64_t dsfGroups_ = 0;
  int64_t dsfRealEnd_ = INT64_MAX;  // first per-channel byte not in the file
};

}  // namespace sonvex::convert
