#include "packers.h"

#include <initializer_list>

namespace asiolink {

int pcmBytes(PcmLayout layout) {
  switch (layout) {
    case PcmLayout::S24_3LE:
    case PcmLayout::S24_3BE:
      return 3;
    case PcmLayout::S16LE:
    case PcmLayout::S16BE:
      return 2;
    default:
      return 4;
  }
}

bool carriesDop(PcmLayout layout) { return pcmBytes(layout) >= 3; }

namespace {

// Writes the top `bytes` bytes of v (or v >> 8 for the low-justified
// 24-in-32 containers) in the wanted byte order.
inline uint8_t* putSample(int32_t v, PcmLayout layout, uint8_t* p) {
  uint32_t u = static_cast<uint32_t>(v);
  if (layout == PcmLayout::S24LE || layout == PcmLayout::S24BE) {
    u = static_cast<uint32_t>(v >> 8);  // sign-extends into the top byte
  }
  switch (layout) {
    case PcmLayout::S32LE:
    case PcmLayout::S24LE:
      p[0] = u & 0xFF, p[1] = (u >> 8) & 0xFF, p[2] = (u >> 16) & 0xFF, p[3] = u >> 24;
      return p + 4;
    case PcmLayout::S32BE:
    case PcmLayout::S24BE:
      p[0] = u >> 24, p[1] = (u >> 16) & 0xFF, p[2] = (u >> 8) & 0xFF, p[3] = u & 0xFF;
      return p + 4;
    case PcmLayout::S24_3LE:
      p[0] = (u >> 8) & 0xFF, p[1] = (u >> 16) & 0xFF, p[2] = u >> 24;
      return p + 3;
    case PcmLayout::S24_3BE:
      p[0] = u >> 24, p[1] = (u >> 16) & 0xFF, p[2] = (u >> 8) & 0xFF;
      return p + 3;
    case PcmLayout::S16LE:
      p[0] = (u >> 16) & 0xFF, p[1] = u >> 24;
      return p + 2;
    case PcmLayout::S16BE:
      p[0] = u >> 24, p[1] = (u >> 16) & 0xFF;
      return p + 2;
  }
  return p;
}

}  // namespace

void packPcm(const int32_t* left, const int32_t* right, size_t frames, PcmLayout layout,
             uint8_t* out) {
  for (size_t i = 0; i < frames; ++i) {
    out = putSample(left[i], layout, out);
    out = putSample(right[i], layout, out);
  }
}

void packDsd(const uint8_t* left, const uint8_t* right, size_t frames, int wordBytes,
             bool bigEndian, uint8_t* out) {
  const size_t w = static_cast<size_t>(wordBytes);
  for (size_t f = 0; f < frames; ++f) {
    for (const uint8_t* ch : {left + f * w, right + f * w}) {
      for (size_t b = 0; b < w; ++b) *out++ = ch[bigEndian ? b : w - 1 - b];
    }
  }
}

uint64_t packDop(const uint8_t* left, const uint8_t* right, size_t frames, uint64_t phase,
                 int32_t* outLeft, int32_t* outRight) {
  for (size_t f = 0; f < frames; ++f, ++phase) {
    const uint32_t marker = (phase & 1) ? kDopMarkerOdd : kDopMarkerEven;
    const auto word = [marker](const uint8_t* b) {
      return static_cast<int32_t>(marker << 24 | uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8);
    };
    outLeft[f] = word(left + 2 * f);
    outRight[f] = word(right + 2 * f);
  }
  return phase;
}

}  // namespace asiolink
