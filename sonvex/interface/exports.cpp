// The library's self-test exports, kept for callers that check the binding.
#include "sonvex.h"

extern "C" {
SONVEX_API int32_t nWin32Project1 = 0;
}

SONVEX_EXTERN_C SONVEX_API int32_t fnWin32Project1(void) { return 42; }

SONVEX_EXTERN_C SONVEX_API int32_t GetData(int32_t x, int32_t* out) {
  // Unsigned arithmetic: the cube wraps instead of overflowing.
  const uint32_t u = uint32_t(x);
  if (out) *out = int32_t(u * u * u);
  return 1;
}
