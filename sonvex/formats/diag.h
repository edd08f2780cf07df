// The library's diagnostic lines. Never on standard output (a host may use it
// for its own data); on standard error only when the environment variable
// SONVEX_DEBUG is set to something other than "" or "0".
#pragma once

namespace sonvex {

void diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sonvex
