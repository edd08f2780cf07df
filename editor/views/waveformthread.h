// Background summary of the open file for the waveform view: the buffers of
// the three levels and the thread that asks the library to fill them.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "waveformmodel.h"

// The library's summary export, as its table entry (SonvexApi).
using GetAudioWaveFormFn = decltype(&::getAudioWaveForm);

// Level l (coarse, medium, fine) of a column set.
inline waveview::SummaryEntry* levelOf(const WaveColumns& set, int l) {
  return l == waveview::kCoarse ? set.coarse : l == waveview::kMedium ? set.medium : set.fine;
}

// Result of a run that could not call the library at all.
constexpr int64_t kWaveformNoFunction = -1000;
// Result of the library when the cancel byte stopped it.
constexpr int64_t kWaveformCancelled = -31;

// Max and min buffers of the three levels for a view `width` pixels wide,
// 16-byte aligned and zeroed; freed with the object.
class WaveSummaryBuffers {
 public:
  explicit WaveSummaryBuffers(int width = waveview::kViewWidth);
  WaveSummaryBuffers(const WaveSummaryBuffers&) = delete;
  WaveSummaryBuffers& operator=(const WaveSummaryBuffers&) = delete;

  void clear();
  [[nodiscard]] bool valid() const;
  const waveview::ColumnPlan& plan() const { return m_plan; }
  WaveLevels* columnCounts() { return &m_counts; }
  WaveColumns* maxSet() { return &m_max; }
  WaveColumns* minSet() { return &m_min; }
  const waveview::SummaryEntry* maxLevel(int level) const { return levelOf(m_max, level); }
  const waveview::SummaryEntry* minLevel(int level) const { return levelOf(m_min, level); }

 private:
  struct FreeDeleter {
    void operator()(void* p) const noexcept;
  };
  using Block = std::unique_ptr<waveview::SummaryEntry, FreeDeleter>;

  waveview::ColumnPlan m_plan;
  WaveLevels m_counts{};
  Block m_blocks[2 * waveview::kLevels];
  WaveColumns m_max{};
  WaveColumns m_min{};
};

class waveFormThread : public QThread {
  Q_OBJECT

 public:
  explicit waveFormThread(QObject* parent = nullptr);
  ~waveFormThread() override;

  void setFunction(GetAudioWaveFormFn fn) { m_fn = fn; }
  [[nodiscard]] bool hasFunction() const { return m_fn != nullptr; }
  // The job of the next run(): the whole file, into the given buffers.
  void setJob(const QString& path, WaveLevels* columnCounts, WaveColumns* maxBuffers,
              WaveColumns* minBuffers, QObject* view);
  // Sets the stop-requested and the cancel byte together.
  void requestStop();

  [[nodiscard]] bool finishedFlag() const { return m_finished.load(std::memory_order_acquire); }
  [[nodiscard]] bool stopRequested() const { return m_stop.load(std::memory_order_acquire); }
  [[nodiscard]] int64_t result() const { return m_result.load(std::memory_order_acquire); }
  // Index of the last coarse entry written (0 before the first one).
  [[nodiscard]] int64_t progress() const;
  // Counts finished runs, so a late signal of an old run can be told apart.
  [[nodiscard]] uint64_t runCount() const { return m_runs.load(std::memory_order_acquire); }
  QObject* view() const { return m_view; }

 signals:
  void waveFormPrepared();

 protected:
  void run() override;

 private:
  std::u16string m_path;
  WaveLevels* m_counts = nullptr;
  WaveColumns* m_maxSet = nullptr;
  WaveColumns* m_minSet = nullptr;
  QObject* m_view = nullptr;
  GetAudioWaveFormFn m_fn = nullptr;
  uint8_t m_cancel = 0;            // polled by the library; byte stores only
  int32_t m_progress[2] = {0, 0};  // written by the library
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{true};
  std::atomic<int64_t> m_result{0};
  std::atomic<uint64_t> m_runs{0};
};
