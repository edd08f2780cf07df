// Every exported function runs its body through guarded(): no C++ exception
// ever crosses the C interface. Out of memory becomes the function's own
// code for it; anything else its general failure code.
#pragma once

#include <cstdint>
#include <new>

namespace sonvex {

template <typename Body>
int32_t guarded(int32_t outOfMemory, int32_t failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return outOfMemory;
  } catch (...) {
    return failure;
  }
}

}  // namespace sonvex
