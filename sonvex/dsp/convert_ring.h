// The 64-slot ring a conversion owns for its whole call: PCM slots of
// interleaved stereo doubles and, when one-bit data are involved, two DSD
// byte slots (left, right) per PCM slot.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvex::convert {

class Ring {
 public:
  static constexpr int kSlots = 64;

  Ring() = default;
  ~Ring();
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;

  // capacity frames per slot; false (nothing kept) when a slot cannot be had.
  // `slots` physical slots back the 64 slot numbers: 64 whenever a caller
  // can see the ring, 1 when nobody can (no block callback).
  bool allocate(size_t capacity, bool withDsd, int slots = kSlots);
  // Export runs hand slots to nobody after the callback: their pages may go
  // back to the system, which keeps a long export's memory flat.
  void setReleaseAfterUse(bool on) { release_ = on; }
  void release(int slot);

  size_t capacity() const { return capacity_; }
  double* pcm(int slot) const { return pcm_[slot % count_]; }
  uint8_t* dsd(int slot, int channel) const { return dsd_[2 * (slot % count_) + channel]; }
  double** pcmTable() { return pcm_; }
  uint8_t** dsdTable() { return dsd_; }

 private:
  void freeAll();

  size_t capacity_ = 0;
  int count_ = kSlots;
  size_t pcmBytes_ = 0;
  bool release_ = false;
  double* pcm_[kSlots] = {};
  uint8_t* dsd_[2 * kSlots] = {};
};

}  // namespace sonvex::convert
