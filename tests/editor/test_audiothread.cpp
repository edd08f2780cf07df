// The job thread: queue order, signals, cancellation and the job table.
#include <QSemaphore>
#include <QtTest>
#include <atomic>
#include <vector>

#include "audiothread.h"
#include "classsonvex.h"

namespace {

struct Log {
  QMutex lock;
  std::vector<int> order;
  int* seenProgress = nullptr;
  int progressAtStart = -1;
  std::u16string seenDestination;
  // What the job's conversion callback answered, and its stop request, as
  // the job ends.
  std::vector<int> blockResults;
  std::vector<bool> stops;
};

class RecordingJob final : public Transaction {
 public:
  RecordingJob(Log& log, int id, int result, QSemaphore* gate = nullptr,
               QSemaphore* entered = nullptr)
      : log_(log), id_(id), result_(result), gate_(gate), entered_(entered) {}
  int run(int, JobRequest* request, ConvertFunction, SourceDescription*, int*,
          LevelPoint*) override {
    if (entered_) entered_->release();
    if (gate_) gate_->acquire();
    QMutexLocker l(&log_.lock);
    log_.order.push_back(id_);
    log_.seenProgress = request->format.progress;
    log_.progressAtStart = *request->format.progress;
    log_.seenDestination = request->destinationPath;
    for (int i = 0; i < 2; ++i)
      log_.blockResults.push_back(
          jobcontrol::exportBlockProduced(0, 0, 0, 0, 0, 0, nullptr, nullptr, 0));
    log_.stops.push_back(control().stopRequested());
    return result_;
  }

 private:
  Log& log_;
  int id_, result_;
  QSemaphore* gate_;
  QSemaphore* entered_;
};

JobRequest exportRequest() {
  JobRequest r;
  r.destinationPath = u"/tmp/out.wav";
  r.sourcePath = u"/tmp/in.wav";
  r.range.statusWord = kConvertExportMode;
  return r;
}

// Collects the thread's signals in the test's own thread (queued), so that
// nothing is shared with the job thread.
struct Signals {
  QObject context;
  QList<int> started;
  QList<int> done;
  explicit Signals(audioThread& t) {
    QObject::connect(
        &t, &audioThread::transactionStarted_, &context, [this](int p) { started << p; },
        Qt::QueuedConnection);
    QObject::connect(
        &t, &audioThread::allTransactionsDone_, &context, [this](int s) { done << s; },
        Qt::QueuedConnection);
  }
};

const SonvexApi kNoLibrary{};  // a library that did not load

}  // namespace

class TestAudioThread : public QObject {
  Q_OBJECT

 private slots:
  void backToBackJobsRunInOrder() {
    audioThread t(nullptr, kNoLibrary);
    Signals sig(t);
    Log log;
    QSemaphore gate, entered;
    t.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
    t.addTransaction(new RecordingJob(log, 1, 5, &gate, &entered));
    entered.acquire();  // the first job runs: the second is queued behind it
    t.addTransaction(new RecordingJob(log, 2, -26));
    gate.release();
    QTRY_COMPARE(sig.done.size(), 1);
    QCOMPARE(sig.started.size(), 2);
    QCOMPARE(sig.done.at(0), -26);
    QCOMPARE(log.order, (std::vector<int>{1, 2}));
    QTest::qWait(50);
    QCOMPARE(sig.done.size(), 1);
  }

  void jobQueuedWhileRunningIsPickedUp() {
    audioThread t(nullptr, kNoLibrary);
    Signals sig(t);
    Log log;
    t.addTransaction(new RecordingJob(log, 1, 0));
    QTRY_COMPARE(sig.done.size(), 1);
    QVERIFY(t.isRunning());  // waits for the next job rather than ending
    t.addTransaction(new RecordingJob(log, 2, 3));
    QTRY_COMPARE(sig.done.size(), 2);
    QCOMPARE(sig.done.at(1), 3);
  }

  void jobSeesTheThreadsCopyAndProgressCounter() {
    audioThread t(nullptr, kNoLibrary);
    Signals sig(t);
    Log log;
    JobRequest r = exportRequest();
    t.setJob(194, r, SourceDescription{}, nullptr, nullptr);
    r.destinationPath = u"/changed";  // the thread holds its own copy
    t.addTransaction(new RecordingJob(log, 1, 0));
    QTRY_COMPARE(sig.done.size(), 1);
    QVERIFY(log.seenProgress != nullptr);
    QCOMPARE(log.progressAtStart, 1);  // starts at the range mode
    QVERIFY(log.seenDestination == u"/tmp/out.wav");
    QCOMPARE(t.progressValue(), 1);
  }

  void missingLibraryReportsAFailureCode() {
    audioThread t(nullptr, kNoLibrary);
    QVERIFY(!t.hasConversionFunction());
    Signals sig(t);
    t.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
    t.addTransaction(new ClassSonvex(1));
    QTRY_COMPARE(sig.done.size(), 1);
    QCOMPARE(sig.done.at(0), int(kJobNoConversionFunction));
  }

  void cancelAbortsTheRunningJobOnce() {
    audioThread t(nullptr, kNoLibrary);
    Signals sig(t);
    Log log;
    QSemaphore gate, entered;
    t.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
    t.addTransaction(new RecordingJob(log, 1, 0, &gate, &entered));
    entered.acquire();
    t.cancel();
    gate.release();
    QTRY_COMPARE(sig.done.size(), 1);
    // The conversion's block callback sees the abort exactly once.
    QCOMPARE(log.blockResults, (std::vector<int>{-1, 0}));
    QCOMPARE(log.stops, std::vector<bool>{false});
  }

  void lateCancelDoesNotHitTheNextJob() {
    audioThread t(nullptr, kNoLibrary);
    Signals sig(t);
    Log log;
    t.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
    t.addTransaction(new RecordingJob(log, 1, 0));
    QTRY_COMPARE(sig.done.size(), 1);
    QTRY_VERIFY(!t.isBusy());
    t.cancel();  // the user clicked after the job had ended
    t.addTransaction(new RecordingJob(log, 2, 0));
    QTRY_COMPARE(sig.done.size(), 2);
    QCOMPARE(log.blockResults, (std::vector<int>{0, 0, 0, 0}));
  }

  void playbackAndExportStopIndependently() {
    audioThread play(nullptr, kNoLibrary), exporter(nullptr, kNoLibrary);
    Signals playSig(play), exportSig(exporter);
    Log playLog, exportLog;
    QSemaphore playGate, playEntered, exportGate, exportEntered;
    JobRequest r = exportRequest();
    r.range.statusWord = 2;
    play.setJob(8, r, SourceDescription{}, nullptr, nullptr);
    exporter.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
    play.addTransaction(new RecordingJob(playLog, 1, 0, &playGate, &playEntered));
    exporter.addTransaction(new RecordingJob(exportLog, 2, 0, &exportGate, &exportEntered));
    playEntered.acquire();
    exportEntered.acquire();
    play.cancel();  // a stop request for the playback only
    exportGate.release();
    QTRY_COMPARE(exportSig.done.size(), 1);  // the export ends first, unaborted
    QCOMPARE(exportLog.blockResults, (std::vector<int>{0, 0}));
    QCOMPARE(exportLog.stops, std::vector<bool>{false});
    playGate.release();
    QTRY_COMPARE(playSig.done.size(), 1);  // its stop request outlived the export
    QCOMPARE(playLog.stops, std::vector<bool>{true});
    QCOMPARE(playLog.blockResults, (std::vector<int>{0, 0}));
  }

  void jobTable() {
    const int before = audioThread::jobCount();
    auto* a = new audioThread(nullptr, kNoLibrary);
    auto* b = new audioThread(nullptr, kNoLibrary);
    QCOMPARE(a->index(), before);
    QCOMPARE(b->index(), before + 1);
    QCOMPARE(audioThread::jobAt(a->index()), a);
    QCOMPARE(audioThread::jobAt(b->index()), b);
    delete a;
    QCOMPARE(audioThread::jobAt(before), static_cast<audioThread*>(nullptr));  // no dangling entry
    QCOMPARE(audioThread::jobAt(before + 1), b);
    QCOMPARE(audioThread::jobCount(), before + 2);  // indexes stay stable
    delete b;
    QCOMPARE(audioThread::jobAt(-1), static_cast<audioThread*>(nullptr));
  }

  void destroyingAnIdleOrQueuedThreadReturns() {
    Log log;
    QSemaphore gate, entered;
    {
      audioThread t(nullptr, kNoLibrary);
      t.setJob(194, exportRequest(), SourceDescription{}, nullptr, nullptr);
      t.addTransaction(new RecordingJob(log, 1, 0, &gate, &entered));
      t.addTransaction(new RecordingJob(log, 2, 0));
      entered.acquire();
      gate.release();
    }  // the second job is either done or dropped, never run after this
    QVERIFY(log.order.size() >= 1);
    QCOMPARE(log.order.front(), 1);
  }

  void describeSourceDerivesFrames() {
    AudioFileInfo info{96000, 24, 2, 32768, 1, 0x00000010, kFileTypeWav, 1};
    const SourceDescription d = describeSource(info);
    QCOMPARE(d.audioBytes, (uint64_t(1) << 32) + 16);
    QCOMPARE(d.totalFrames, ((uint64_t(1) << 32) + 16) * 8 / 48);
    QCOMPARE(d.wholeSeconds, d.totalFrames / 96000);
    const SourceDescription empty = describeSource(AudioFileInfo{});
    QCOMPARE(empty.totalFrames, uint64_t(0));
    QCOMPARE(empty.wholeSeconds, uint64_t(0));
  }
};

QTEST_GUILESS_MAIN(TestAudioThread)
#include "test_audiothread.moc"
