// Job thread: runs queued Transactions one after the other so that the GUI
// stays responsive while the library converts synchronously.
#pragma once

#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>

#include "sonvexbinding.h"
#include "transaction.h"

class audioThread : public QThread {
  Q_OBJECT

 public:
  // `api` must outlive the thread.
  explicit audioThread(QObject* parent = nullptr, const SonvexApi& api = defaultSonvexApi());
  ~audioThread() override;

  // Copies the request and the source description under the lock. Must not be
  // called while a job of this thread runs (the dialogs are modal meanwhile).
  void setJob(int mode, const JobRequest& request, const SourceDescription& sourceInfo,
              const int* aux, LevelPoint* envelope);
  // Takes ownership of t and starts the thread when it is idle.
  void addTransaction(Transaction* t);
  // Ends the running (or else the next queued) job through its own control:
  // an export is aborted, a playback conversion asked to stop. Ignored when
  // nothing is queued or running; other threads' jobs are never touched.
  void cancel();

  int index() const { return jobIndex; }
  bool hasConversionFunction() const { return convertFn != nullptr; }
  const SonvexApi& sonvex() const { return *api; }
  // The library's percentage of the running conversion (written by the job).
  int progressValue() const;
  bool isBusy() const;
  const SourceDescription& source() const { return sourceInfo; }
  JobRequest& jobRequest() { return request; }
  int jobMode() const { return mode; }
  // Samples the last export of this thread clipped (valid once it is done).
  uint64_t clippedSamples() const { return lastClipped.load(std::memory_order_acquire); }

  // The process-wide job table: index -> thread (null once destroyed).
  static audioThread* jobAt(int index);
  static int jobCount();

 signals:
  void transactionStarted_(int progress);
  void allTransactionsDone_(int status);

 protected:
  void run() override;

 private:
  JobRequest request;
  SourceDescription sourceInfo{};
  int auxValue = 0;
  ConvertFunction convertFn = nullptr;
  int mode = 0;
  int jobIndex = -1;
  int cancelled = 0;
  QList<Transaction*> queue;
  mutable QMutex queueLock;
  QWaitCondition queueWake;
  const SonvexApi* api;
  LevelPoint* envelope = nullptr;
  int* progress = nullptr;
  Transaction* current = nullptr;  // the running job, under queueLock

  int rangeMode = 0;  // statusWord of the request as set, read by cancel()
  bool running = false;
  bool quitting = false;
  std::atomic<uint64_t> lastClipped{0};
};
