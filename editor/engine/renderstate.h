// Engine-internal: what the render thread owns, and the EQ hand-over from the
// GUI. Not for use outside editor/engine.
#pragma once

#include <atomic>
#include <cstdint>

#include "dsdstage.h"
#include "playback.h"

namespace engine {
namespace detail {

// The EQ values the renderer runs: coefficients only (the filter history
// stays with the renderer).
struct EqSnapshot {
  uint64_t serial = 0;
  uint32_t resetEpoch = 0;  // changes when the renderer must clear its history
  uint8_t masterOn = 0;
  int on[4] = {0, 0, 0, 0};
  double coefficients[4][5] = {};  // c1, c2, b0, b1, b2 per band
  double totalGain = 1.0;
};

// Single-writer, single-reader triple buffer: the GUI fills its back slot and
// swaps it into the middle; the renderer swaps the middle out at a block
// boundary when it is new. Neither side ever touches a slot the other holds.
class EqExchange {
 public:
  EqSnapshot& back() { return slots_[back_]; }
  void publish() { back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex; }
  const EqSnapshot& take() {
    if (middle_.load(std::memory_order_relaxed) & kFresh)
      front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
    return slots_[front_];
  }

 private:
  static constexpr int kFresh = 4, kIndex = 3;
  EqSnapshot slots_[3];
  std::atomic<int> middle_{1};
  int back_ = 2;   // GUI thread only
  int front_ = 0;  // render thread only
};

// Render-thread resources, sized by prepareEngine.
struct Resources {
  int capacity = 0;             // frames per render piece (multiple of 8)
  double* work = nullptr;       // capacity stereo frames
  double* meterCopy = nullptr;  // capacity stereo frames (DSD metering)
  uint8_t* idle = nullptr;      // two idle-byte buffers of idleBytes each
  int idleBytes = 0;
  double* firPairs = nullptr;    // decimation coefficient pairs (2045)
  double* meterTable = nullptr;  // 64 x 256 meter lookup
  double* biquads = nullptr;     // 4 blocks of 18 doubles
  uint64_t eqSerial = ~uint64_t(0);
  uint32_t eqEpoch = 0;
  LibraryFunctions fns;
  sonvex::dsd::OutputStage stage;
};

Resources& resources();
EqExchange& eqExchange();
// Render/prepare handshake: the renderer never waits; prepareEngine waits
// (bounded) for a callback in flight to leave.
extern std::atomic<bool> gPreparing;
extern std::atomic<bool> gInRender;
extern std::atomic<bool> gReady;

}  // namespace detail
}  // namespace engine
