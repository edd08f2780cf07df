#include "classsonvex.h"

#include "playback.h"

namespace jobcontrol {
namespace {
thread_local JobControl* tCurrent = nullptr;
}  // namespace

JobControl* current() noexcept { return tCurrent; }

Scope::Scope(JobControl& control) noexcept : m_previous(tCurrent) { tCurrent = &control; }

Scope::~Scope() { tCurrent = m_previous; }

int32_t exportBlockProduced(uint32_t, uint32_t, int32_t frames, int32_t, int32_t slot, int32_t,
                            double** pcm, uint8_t**, int32_t) {
  // An export is never flow-controlled: the file takes every block at once.
  JobControl* job = current();
  if (!job) return 0;
  if (pcm && frames > 0) job->addClipped(pcm[slot], frames);
  return job->takeAbort() ? -1 : 0;
}

int32_t exportDrained() { return 1; }

}  // namespace jobcontrol

int ClassSonvex::run(int /*mode*/, JobRequest* request, ConvertFunction convertFn,
                     SourceDescription* sourceInfo, int* /*auxValue*/, LevelPoint* envelope) {
  if (!convertFn) return kJobNoConversionFunction;
  if (mode_ == 8) return engine::runPlayback(mode_, request, convertFn, sourceInfo, envelope);
  if (mode_ != 1 || request->range.statusWord != 1) return kJobModeNotAvailable;
  if (JobControl* job = jobcontrol::current()) {
    const ConvertFormat& f = request->format;
    const bool dsdOut = f.fileType == kFileTypeDsf || f.fileType == kFileTypeDsdiff;
    // A DSD copy carries the source's bits: nothing there can clip.
    const bool dsdCopy = dsdOut && sonvexRateForCode(f.rateIndex) == sourceInfo->sampleRate &&
                         !request->range.levelActive;
    // DSD blocks arrive at 2^54 times the signal.
    job->countClipping(dsdCopy ? 0.0 : dsdOut ? 18014398509481984.0 : 1.0, f.channels);
  }
  const SonvexChar* sources[1] = {request->sourcePath.c_str()};
  return convertFn(request->destinationPath.c_str(), sources, nullptr, &request->format,
                   &request->matrix, request->sourceEnabled, &request->range,
                   jobcontrol::exportBlockProduced, jobcontrol::exportDrained, envelope);
}
