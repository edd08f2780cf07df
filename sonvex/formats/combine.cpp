// combineFiles: appends one file's audio to another of the same format.
#include "append.h"
#include "chunkio.h"
#include "driver.h"
#include "fileio.h"

namespace sonvex {

namespace {
thread_local int* tProgress = nullptr;

// Clears the sink when the combine ends, however it ends.
struct ProgressScope {
  explicit ProgressScope(int* p) { setAppendProgress(p); }
  ~ProgressScope() { setAppendProgress(nullptr); }
};
}  // namespace

void setAppendProgress(int* progress) { tProgress = progress; }
int* appendProgress() { return tProgress; }

}  // namespace sonvex

using namespace sonvex;

SONVEX_EXTERN_C SONVEX_API int32_t combineFiles(int32_t type, const SonvexChar* headPath,
                                                const SonvexChar* tailPath,
                                                const SonvexChar* scratchPath,
                                                const WriteFormat* format, int32_t* progress) {
  ProgressScope scope(progress);
  FilePtr head = openFile(headPath, "rb+");
  if (!head) return kErrIo;
  FilePtr tail = openFile(tailPath, "rb");
  if (!tail) return kErrOpen;
  FilePtr scratch = openFile(scratchPath, "wb+");
  if (!scratch) return kErrIo;

  int result = kErrNotSupported;
  if (format) result = dispatchAppend(type, head.get(), tail.get(), scratch.get(), format, 0);

  // Close before deleting; a head that cannot be flushed has not been written.
  if (std::fclose(head.release()) != 0 && result == 0) result = kErrIo;
  tail.reset();
  scratch.reset();
  removeFile(scratchPath);
  return result;
}
