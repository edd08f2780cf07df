#include "audiothread.h"

#include <QMutexLocker>
#include <QVector>

#include "classsonvex.h"

namespace {

// Entries are cleared, never removed, so an index stays valid for the process.
QMutex& tableLock() {
  static QMutex lock;
  return lock;
}

QVector<audioThread*>& jobTable() {
  static QVector<audioThread*> table;
  return table;
}

}  // namespace

audioThread::audioThread(QObject* parent, const SonvexApi& sonvexApi)
    : QThread(parent), convertFn(sonvexApi.sonvexert), api(&sonvexApi), progress(new int(0)) {
  {
    QMutexLocker lock(&tableLock());
    jobIndex = jobTable().size();
    jobTable().append(this);
  }
}

audioThread::~audioThread() {
  {
    QMutexLocker lock(&queueLock);
    quitting = true;
    if (current)
      rangeMode == 1 ? current->control().requestAbort() : current->control().requestStop();
    queueWake.wakeAll();
  }
  wait();
  {
    QMutexLocker lock(&tableLock());
    jobTable()[jobIndex] = nullptr;
  }
  qDeleteAll(queue);  // never run
  queue.clear();
  delete progress;
}

void audioThread::setJob(int jobMode, const JobRequest& req, const SourceDescription& info,
                         const int* aux, LevelPoint* levels) {
  QMutexLocker lock(&queueLock);
  mode = jobMode;
  request = req;
  sourceInfo = info;
  auxValue = aux ? *aux : 0;
  envelope = levels;
  rangeMode = req.range.statusWord;
}

void audioThread::addTransaction(Transaction* t) {
  QMutexLocker lock(&queueLock);
  queue.append(t);
  start(QThread::InheritPriority);  // no effect while it runs
  queueWake.wakeAll();
}

void audioThread::cancel() {
  QMutexLocker lock(&queueLock);
  cancelled = 1;
  Transaction* job = current ? current : queue.isEmpty() ? nullptr : queue.first();
  if (!job) return;  // a late click after the job ended
  if (rangeMode == 1)
    job->control().requestAbort();
  else
    job->control().requestStop();
}

int audioThread::progressValue() const { return __atomic_load_n(progress, __ATOMIC_RELAXED); }

bool audioThread::isBusy() const {
  QMutexLocker lock(&queueLock);
  return running || !queue.isEmpty();
}

audioThread* audioThread::jobAt(int index) {
  QMutexLocker lock(&tableLock());
  return index >= 0 && index < jobTable().size() ? jobTable()[index] : nullptr;
}

int audioThread::jobCount() {
  QMutexLocker lock(&tableLock());
  return jobTable().size();
}

void audioThread::run() {
  for (;;) {
    QMutexLocker lock(&queueLock);
    // The thread stays alive between jobs: ending it here could race a start()
    // that finds it still running and is then ignored.
    while (queue.isEmpty() && !quitting) queueWake.wait(&queueLock);
    if (quitting) return;
    Transaction* t = queue.takeFirst();
    current = t;
    running = true;
    cancelled = 0;
    lock.unlock();

    emit transactionStarted_(0);
    request.format.progress = progress;
    __atomic_store_n(progress, request.range.statusWord, __ATOMIC_RELAXED);
    int result;
    // The library keeps these choices per thread: set them on the one that exports.
    if (api->setPcmExportDither) (void)api->setPcmExportDither(request.dither);
    if (api->setDsdExportModulator) (void)api->setDsdExportModulator(request.modulator);
    if (api->setFlacCompressionLevel) (void)api->setFlacCompressionLevel(request.flacLevel);
    {
      const jobcontrol::Scope scope(t->control());
      result = t->run(mode, &request, convertFn, &sourceInfo, &auxValue, envelope);
    }

    lastClipped.store(t->control().clipped(), std::memory_order_release);
    lock.relock();
    running = false;
    current = nullptr;
    // Its requests end with it; the next job starts with its own.
    delete t;
    if (queue.isEmpty()) emit allTransactionsDone_(result);
  }
}
