// combineFiles: appends one file's audio to another of the same format.
#include <cerrno>

#include "append.h"
#include "chunkio.h"
#include "driver.h"
#include "fileio.h"
#include "guard.h"

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

namespace sonvex {
namespace {

int32_t combine(int32_t type, const SonvexChar* headPath, const SonvexChar* tailPath,
                const SonvexChar* scratchPath, const WriteFormat* format, int32_t* progress) {
  ProgressScope scope(progress);
  // Read-only until the names are known to be three different files: the
  // head is rewritten in place and the scratch file truncated and deleted.
  FilePtr head = openFile(headPath, "rb");
  if (!head) return kErrIo;
  FilePtr tail = openFile(tailPath, "rb");
  if (!tail) return kErrOpen;
  if (isSameFile(head.get(), tailPath) || isSameFile(head.get(), scratchPath) ||
      isSameFile(tail.get(), scratchPath))
    return kErrSameFile;
  const FormatDriver* driver = driverFor(type);
  if (driver && driver->rewriteAppend)
    return format ? driver->rewriteAppend(head.get(), tail.get(), headPath, format)
                  : kErrNotSupported;
  head = openFile(headPath, "rb+");
  if (!head) return kErrIo;
  FilePtr scratch = openFile(scratchPath, "wb+");
  if (!scratch) return kErrIo;

  int result = kErrNotSupported;
  if (format) result = dispatchAppend(type, head.get(), tail.get(), scratch.get(), format, 0);
  // An I/O error on a stream the append writes is a failed write (a full
  // disk), told apart from a refused or unreadable input.
  const bool writeFailed = std::ferror(head.get()) || std::ferror(scratch.get());
  int savedErrno = writeFailed ? errno : 0;

  // Close before deleting; a head that cannot be flushed has not been written.
  if (std::fclose(head.release()) != 0 && result == 0) {
    result = kErrWrite;
    savedErrno = errno;
  }
  tail.reset();
  scratch.reset();
  // A scratch file left behind is no reason to fail a finished combine.
  (void)removeFile(scratchPath);
  if (result != 0 && writeFailed) result = kErrWrite;
  if (result == kErrWrite && savedErrno) errno = savedErrno;
  return result;
}

}  // namespace
}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t combineFiles(int32_t type, const SonvexChar* headPath,
                                                const SonvexChar* tailPath,
                                                const SonvexChar* scratchPath,
                                                const WriteFormat* format, int32_t* progress) {
  return sonvex::guarded(kErrIo, kErrIo, [&] {
    return sonvex::combine(type, headPath, tailPath, scratchPath, format, progress);
  });
}
