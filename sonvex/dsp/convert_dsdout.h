// The conversion's DSD output stage: PCM blocks at the 2^54 scale become one
// bit per sample (export of DSF/DSDIFF). The one place the pipeline reaches
// the modulator, so the stage behind it can change without touching the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonvex::convert {

class DsdOutput {
 public:
  DsdOutput();
  ~DsdOutput();
  DsdOutput(const DsdOutput&) = delete;
  DsdOutput& operator=(const DsdOutput&) = delete;

  // Before the first block: the largest block, whether the source may pass
  // through bit-exact, the conversion filter's length (0 = none) and the
  // output rate in Hz. The modulator is the calling thread's choice
  // (setDsdExportModulator). false when the stage cannot run (no memory, or
  // no modulator built in).
  bool prepare(size_t maxFrames, bool passThrough, int filterTaps, uint32_t rate = 2822400);

  // The three source bytes per channel that precede the first block's
  // (idle until set); the stage aligns the source with them.
  void setSourceHistory(const uint8_t* left, const uint8_t* right);

  // One block: pcm = frames interleaved pairs with level and matrix applied;
  // levels = the envelope level of every frame; srcL/srcR = the source's DSD
  // bytes of the block or null for a PCM source; out = (frames + 7) / 8 bytes
  // per channel. 0, or -1 when the block cannot be modulated.
  int process(const double* pcm, size_t frames, const double* levels, const uint8_t* srcL,
              const uint8_t* srcR, uint8_t* outL, uint8_t* outR);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sonvex::convert
