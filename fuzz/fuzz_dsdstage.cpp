// The DSD output stage on arbitrary PCM (NaN, infinities, huge values),
// arbitrary source bits, block lengths, levels and switch requests, through
// both the export form and the playback form, with either modulator.
// Buffers are sized exactly so that any access past a block shows up under
// AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dsdstage.h"

using namespace sonvex::dsd;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
  double real() {
    uint64_t bits = uint64_t(u32()) << 32 | u32();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
};

template <typename T>
std::unique_ptr<T[]> exact(size_t n) {
  return std::unique_ptr<T[]>(new T[n ? n : 1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const size_t capacity = 1 + in.u32() % 5000;
  const bool pass = in.byte() & 1;
  const int taps = static_cast<int>(in.byte() % 40);
  const bool engine = in.byte() & 1;
  const uint8_t loop = in.byte();
  OutputStage st;
  if (!st.prepare(capacity)) return 0;
  st.setModulator(loop & 1 ? ModulatorKind::Precision : ModulatorKind::Standard,
                  2822400u << (loop >> 1 & 3));
  st.reset(pass, taps);
  for (int block = 0; block < 12 && in.n > 0; ++block) {
    // Mostly whole bytes, sometimes a partial last byte, sometimes too long.
    size_t frames = in.u32() % (capacity + 64);
    if (in.byte() % 4) frames &= ~size_t(7);
    const size_t bytes = (frames + 7) / 8;
    auto pcm = exact<double>(2 * frames);
    const uint8_t style = in.byte();
    const double scale = style & 1 ? kInputFullScale : 1.0;
    for (size_t i = 0; i < 2 * frames; ++i) {
      if (style & 2)
        pcm[i] = in.real();
      else
        pcm[i] = scale * (static_cast<int8_t>(in.byte()) / 32.0);
    }
    auto srcL = exact<uint8_t>(bytes), srcR = exact<uint8_t>(bytes);
    for (size_t i = 0; i < bytes; ++i) {
      srcL[i] = in.byte();
      srcR[i] = in.byte();
    }
    auto outL = exact<uint8_t>(bytes), outR = exact<uint8_t>(bytes);
    const uint8_t lv = in.byte();
    const double levels[] = {0.0, 1.0, 0.5, 0.005, in.real()};
    const double a = levels[lv % 5], b = levels[(lv / 5) % 5];
    const bool withSource = lv & 0x80;
    if (!engine) {
      const BlockLevel level{b, a < b ? a : b, a < b ? b : a};
      const int rc = st.processBlock(pcm.get(), frames, level, withSource ? srcL.get() : nullptr,
                                     withSource ? srcR.get() : nullptr, outL.get(), outR.get());
      if (rc == kStageOk && level.min == 0.0 && level.max == 0.0)
        for (size_t i = 0; i < bytes; ++i)
          if (outL[i] != kIdleByte || outR[i] != kIdleByte) std::abort();
      if ((rc == kStageOk) != (frames <= capacity)) std::abort();
    } else {
      const double targets[2] = {idleWeightTarget(a), idleWeightTarget(b)};
      const bool shutdown[2] = {(lv & 0x20) != 0, (lv & 0x40) != 0};
      st.modulate(pcm.get(), frames, outL.get(), outR.get(), targets, shutdown);
      for (int c = 0; c < 2; ++c) {
        st.channel(c).wantDirect = (in.byte() & 1);
        st.splice(c, c ? outR.get() : outL.get(), c ? srcR.get() : srcL.get(), frames,
                  (lv & 0x10) != 0);
      }
    }
  }
  return 0;
}
