#include "convert_dsdout.h"

namespace sonvex::convert {

// Re-modulation is not built in yet: every request for it fails, so the
// pipeline reports a modulator failure instead of writing wrong bits. The
// bit-exact copy of a DSD source does not come through here.
struct DsdOutput::Impl {};

DsdOutput::DsdOutput() = default;
DsdOutput::~DsdOutput() = default;

bool DsdOutput::prepare(size_t, bool, int) { return false; }

int DsdOutput::process(const double*, size_t, const double*, const uint8_t*, const uint8_t*,
                       uint8_t*, uint8_t*) {
  return -1;
}

}  // namespace sonvex::convert
