#include "classsonvex.h"

#include <atomic>

#include "playback.h"

namespace jobcontrol {
namespace {
std::atomic<int> gAbortRequested{0};
std::atomic<int> gStopRequested{0};
}  // namespace

void requestAbort() noexcept { gAbortRequested.store(1); }
void requestStop() noexcept { gStopRequested.store(1); }
bool stopRequested() noexcept { return gStopRequested.load() != 0; }

void clearRequests() noexcept {
  gAbortRequested.store(0);
  gStopRequested.store(0);
}

int32_t exportBlockProduced(uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t, double**,
                            uint8_t**, int32_t) {
  // An export is never flow-controlled: the file takes every block at once.
  return gAbortRequested.exchange(0) ? -1 : 0;
}

int32_t exportDrained() { return 1; }

}  // namespace jobcontrol

int ClassSonvex::run(int /*mode*/, JobRequest* request, ConvertFunction convertFn,
                     SourceDescription* sourceInfo, int* /*auxValue*/, LevelPoint* envelope) {
  if (!convertFn) return kJobNoConversionFunction;
  if (mode_ == 8) return engine::runPlayback(mode_, request, convertFn, sourceInfo, envelope);
  if (mode_ != 1 || request->range.statusWord != 1) return kJobModeNotAvailable;
  const SonvexChar* sources[1] = {request->sourcePath.c_str()};
  return convertFn(request->destinationPath.c_str(), sources, nullptr, &request->format,
                   &request->matrix, request->sourceEnabled, &request->range,
                   jobcontrol::exportBlockProduced, jobcontrol::exportDrained, envelope);
}
