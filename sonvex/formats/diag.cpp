#include "diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sonvex {

void diag(const char* format, ...) {
  // Read on every line, so a host or a test can switch it at run time.
  const char* on = std::getenv("SONVEX_DEBUG");
  if (!on || !*on || (on[0] == '0' && !on[1])) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

}  // namespace sonvex
