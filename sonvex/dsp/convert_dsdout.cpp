#include "convert_dsdout.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dsdstage.h"
#include "sonvex.h"

namespace {
// Per thread, so that concurrent exports keep their own choice.
thread_local int32_t tModulator = kDsdModulatorStandard;
}  // namespace

SONVEX_EXTERN_C SONVEX_API int32_t setDsdExportModulator(int32_t kind) {
  if (kind != kDsdModulatorStandard && kind != kDsdModulatorPrecision) return kConvertErrModulator;
  tModulator = kind;
  return 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t getDsdExportModulator(void) { return tModulator; }

namespace sonvex::convert {

// The shared DSD output stage (modulator, idle pattern and the bit-exact
// return to the source), fed the envelope of each block as its smallest,
// largest and last level.
struct DsdOutput::Impl {
  dsd::OutputStage stage;
  bool passThrough = false;
};

DsdOutput::DsdOutput() = default;
DsdOutput::~DsdOutput() = default;

bool DsdOutput::prepare(size_t maxFrames, bool passThrough, int filterTaps, uint32_t rate) {
  if (!impl_) impl_.reset(new (std::nothrow) Impl);
  if (!impl_ || !impl_->stage.prepare(maxFrames)) return false;
  impl_->passThrough = passThrough;
  impl_->stage.setModulator(tModulator == kDsdModulatorPrecision ? dsd::ModulatorKind::Precision
                                                                 : dsd::ModulatorKind::Standard,
                            rate);
  impl_->stage.reset(passThrough, filterTaps);
  return true;
}

void DsdOutput::setSourceHistory(const uint8_t* left, const uint8_t* right) {
  if (!impl_) return;
  std::memcpy(impl_->stage.channel(0).lastBytes, left, dsd::kHistoryBytes);
  std::memcpy(impl_->stage.channel(1).lastBytes, right, dsd::kHistoryBytes);
}

int DsdOutput::process(const double* pcm, size_t frames, const double* levels, const uint8_t* srcL,
                       const uint8_t* srcR, uint8_t* outL, uint8_t* outR) {
  if (!impl_ || frames == 0) return impl_ ? 0 : -1;
  // Smallest and largest level, four independent lanes (blocks are long).
  double lo[4] = {levels[0], levels[0], levels[0], levels[0]};
  double hi[4] = {levels[0], levels[0], levels[0], levels[0]};
  size_t i = 0;
  for (; i + 4 <= frames; i += 4)
    for (int k = 0; k < 4; ++k) {
      lo[k] = levels[i + k] < lo[k] ? levels[i + k] : lo[k];
      hi[k] = levels[i + k] > hi[k] ? levels[i + k] : hi[k];
    }
  for (; i < frames; ++i) {
    lo[0] = levels[i] < lo[0] ? levels[i] : lo[0];
    hi[0] = levels[i] > hi[0] ? levels[i] : hi[0];
  }
  const dsd::BlockLevel level{levels[frames - 1],
                              std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3])),
                              std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]))};
  // The source's bits line up with the output only when nothing but the
  // level changes the signal (same rate, EQ off).
  if (!impl_->passThrough) srcL = srcR = nullptr;
  return impl_->stage.processBlock(pcm, frames, level, srcL, srcR, outL, outR) == dsd::kStageOk
             ? 0
             : -1;
}

}  // namespace sonvex::convert
