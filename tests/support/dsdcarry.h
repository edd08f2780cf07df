// Whether a played DSD stream carries its source's bits unchanged: the
// output may lag the source by any number of bits, so every bit offset is
// tried.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// `out` and `src` hold MSB-first bits. Returns the source byte where the
// agreement ends, searching from source byte `from` (at least 64 bytes
// before `srcEnd`) up to `srcEnd`: `srcEnd` when it carries all of it.
inline size_t dsdCarriedUpTo(const std::vector<uint8_t>& out, const std::vector<uint8_t>& src,
                             size_t from, size_t srcEnd) {
  if (out.size() < 2 || from + 64 > src.size()) return from;
  const std::vector<uint8_t> probe(src.begin() + long(from), src.begin() + long(from) + 64);
  size_t best = from;
  for (int shift = 0; shift < 8; ++shift) {
    std::vector<uint8_t> s(out.size() - 1);
    for (size_t i = 0; i + 1 < out.size(); ++i)
      s[i] = uint8_t(out[i] << shift | (shift ? out[i + 1] >> (8 - shift) : 0));
    for (auto at = s.begin();
         (at = std::search(at, s.end(), probe.begin(), probe.end())) != s.end(); ++at) {
      const size_t base = size_t(at - s.begin()) - from;  // where source byte 0 lies
      size_t k = from;
      while (k < srcEnd && base + k < s.size() && s[base + k] == src[k]) ++k;
      best = std::max(best, k);
    }
  }
  return best;
}

}  // namespace testsupport
