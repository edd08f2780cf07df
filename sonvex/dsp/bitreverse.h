// 8-bit bit reversal: DSF stores the first sample of a byte in the least
// significant bit, memory keeps it in the most significant bit.
#pragma once

#include <array>
#include <cstdint>

namespace sonvex {

constexpr std::array<uint8_t, 256> makeBitReverseTable() {
  std::array<uint8_t, 256> t{};
  for (int k = 0; k < 256; ++k) {
    int r = 0;
    for (int b = 0; b < 8; ++b)
      if (k & (1 << b)) r |= 1 << (7 - b);
    t[size_t(k)] = uint8_t(r);
  }
  return t;
}

inline constexpr std::array<uint8_t, 256> kBitReverse = makeBitReverseTable();

}  // namespace sonvex
