// The one Transaction: a run of the library's conversion.
#pragma once

#include "transaction.h"

// Abort and stop requests of the running conversion. The export's block
// callback answers an abort request by stopping the library once.
namespace jobcontrol {
void requestAbort() noexcept;
void requestStop() noexcept;
bool stopRequested() noexcept;
void clearRequests() noexcept;
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
