// The one Transaction: a run of the library's conversion.
#pragma once

#include "transaction.h"

// The library calls a conversion's callbacks on the thread that runs it, so
// they find their job's control through the thread (the callbacks carry no
// context pointer).
namespace jobcontrol {
// The control of the job the calling thread runs; null outside a job.
[[nodiscard]] JobControl* current() noexcept;

// Makes `control` the calling thread's current job for its lifetime.
class Scope {
 public:
  explicit Scope(JobControl& control) noexcept;
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  JobControl* m_previous;
};

// The export form's callbacks (BlockCallback / DrainCallback).
int32_t exportBlockProduced(uint32_t positionLow, uint32_t positionHigh, int32_t frames,
                            int32_t capacity, int32_t slot, int32_t slotBytes, double** pcmSlots,
                            uint8_t** dsdSlots, int32_t filterTaps);
int32_t exportDrained();
}  // namespace jobcontrol

class ClassSonvex final : public Transaction {
 public:
  explicit ClassSonvex(int mode) : mode_(mode) {}
  int run(int mode, JobRequest* request, ConvertFunction convertFn, SourceDescription* sourceInfo,
          int* auxValue, LevelPoint* envelope) override;

 private:
  int mode_;
};
