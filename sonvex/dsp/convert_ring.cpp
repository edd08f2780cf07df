#include "convert_ring.h"

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace sonvex::convert {

namespace {
constexpr size_t kPage = 4096;
constexpr size_t kHugePage = size_t(2) << 20;
}  // namespace

Ring::~Ring() { freeAll(); }

void Ring::freeAll() {
  for (auto& p : pcm_) {
    std::free(p);
    p = nullptr;
  }
  for (auto& p : dsd_) {
    std::free(p);
    p = nullptr;
  }
}

bool Ring::allocate(size_t capacity, bool withDsd, int slots) {
  freeAll();
  capacity_ = capacity;
  count_ = slots < 1 ? 1 : (slots > kSlots ? kSlots : slots);
  // Whole pages, so that released slots give all their memory back. Large
  // slots start on a huge-page boundary: their first megabytes then fill
  // with a few huge-page faults instead of hundreds of small ones.
  pcmBytes_ = ((capacity + 7) & ~size_t(7)) * 16;
  pcmBytes_ = (pcmBytes_ + kPage - 1) & ~(kPage - 1);
  const size_t align = pcmBytes_ >= kHugePage ? kHugePage : kPage;
  const size_t allocBytes = (pcmBytes_ + align - 1) & ~(align - 1);  // aligned_alloc wants it
  for (int i = 0; i < count_; ++i) {
    double*& p = pcm_[i];
    p = static_cast<double*>(std::aligned_alloc(align, allocBytes));
    if (!p) {
      freeAll();
      return false;
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (align == kHugePage) madvise(p, pcmBytes_, MADV_HUGEPAGE);
#endif
  }
  if (withDsd) {
    const size_t bytes = (capacity + 7) / 8 + 8;
    const size_t rounded = (bytes + 15) & ~size_t(15);
    for (int i = 0; i < 2 * count_; ++i) {
      uint8_t*& p = dsd_[i];
      p = static_cast<uint8_t*>(std::aligned_alloc(16, rounded));
      if (!p) {
        freeAll();
        return false;
      }
      std::memset(p, 0x96, rounded);
    }
  }
  return true;
}

void Ring::release(int slot) {
  if (!release_ || count_ == 1 || pcmBytes_ < 64 * kPage) return;
#if defined(__linux__)
  madvise(pcm_[slot % count_], pcmBytes_, MADV_DONTNEED);
#endif
}

}  // namespace sonvex::convert
