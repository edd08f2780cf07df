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
  jobcontrol::clearRequests();
}

audioThread::~audioThread() {
  {
    QMutexLocker lock(&queueLock);
    quitting = true;
    if (running) rangeMode == 1 ? jobcontrol::requestAbort() : jobcontrol::requestStop();
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
  if (!running && queue.isEmpty()) return;  // a late click after the job ended
  if (rangeMode == 1)
    jobcontrol::requestAbort();
  else
    jobcontrol::requestStop();
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
    running = true;
    cancelled = 0;
    lock.unlock();

    emit transactionStarted_(0);
    request.format.progress = progress;
    __atomic_store_n(progress, request.range.statusWord, __ATOMIC_RELAXED);
    const int result = t->run(mode, &request, convertFn, &sourceInfo, &auxValue, envelope);
    delete t;

    lock.relock();
    running = false;
    // A request the conversion did not see any more must not hit the next job.
    jobcontrol::clearRequests();
    if (queue.isEmpty()) emit allTransactionsDone_(result);
  }
}
