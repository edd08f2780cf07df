#include "waveformthread.h"

#include <cstdlib>
#include <cstring>

WaveSummaryBuffers::WaveSummaryBuffers(int width) : m_plan(waveview::ColumnPlan::forWidth(width)) {
  m_counts = WaveLevels{m_plan.columns[0], m_plan.columns[1], m_plan.columns[2]};
  for (int l = 0; l < waveview::kLevels; ++l) {
    const size_t bytes = static_cast<size_t>(m_plan.entries[l]) * sizeof(waveview::SummaryEntry);
    for (int k = 0; k < 2; ++k) {
      // aligned_alloc wants a multiple of the alignment; entries are 16 bytes.
      m_blocks[2 * l + k].reset(
          static_cast<waveview::SummaryEntry*>(std::aligned_alloc(16, bytes)));
    }
  }
  m_max = WaveColumns{m_blocks[0].get(), m_blocks[2].get(), m_blocks[4].get()};
  m_min = WaveColumns{m_blocks[1].get(), m_blocks[3].get(), m_blocks[5].get()};
  clear();
}

void WaveSummaryBuffers::FreeDeleter::operator()(void* p) const noexcept { std::free(p); }

bool WaveSummaryBuffers::valid() const {
  for (const Block& b : m_blocks)
    if (!b) return false;
  return true;
}

void WaveSummaryBuffers::clear() {
  for (int l = 0; l < waveview::kLevels; ++l) {
    const size_t bytes = static_cast<size_t>(m_plan.entries[l]) * sizeof(waveview::SummaryEntry);
    for (const WaveColumns* set : {&m_max, &m_min})
      if (waveview::SummaryEntry* p = levelOf(*set, l)) std::memset(p, 0, bytes);
  }
}

waveFormThread::waveFormThread(QObject* parent) : QThread(parent) {}

waveFormThread::~waveFormThread() {
  requestStop();
  wait();
}

void waveFormThread::setJob(const QString& path, WaveLevels* columnCounts, WaveColumns* maxBuffers,
                            WaveColumns* minBuffers, QObject* view) {
  m_path = path.toStdU16String();
  m_counts = columnCounts;
  m_maxSet = maxBuffers;
  m_minSet = minBuffers;
  m_view = view;
}

void waveFormThread::requestStop() {
  m_stop.store(true, std::memory_order_release);
  __atomic_store_n(&m_cancel, static_cast<uint8_t>(1), __ATOMIC_RELEASE);
}

int64_t waveFormThread::progress() const {
  // Acquire pairs with the library's store after each coarse entry, so the
  // entries up to this index are complete when the GUI reads them.
  return __atomic_load_n(&m_progress[0], __ATOMIC_ACQUIRE);
}

void waveFormThread::run() {
  __atomic_store_n(&m_cancel, static_cast<uint8_t>(0), __ATOMIC_RELEASE);
  __atomic_store_n(&m_progress[0], 0, __ATOMIC_RELEASE);
  __atomic_store_n(&m_progress[1], 0, __ATOMIC_RELEASE);
  m_stop.store(false, std::memory_order_release);
  m_finished.store(false, std::memory_order_release);
  if (!m_maxSet || !m_minSet || !m_counts) {
    m_finished.store(true, std::memory_order_release);
    return;
  }
  int64_t result = kWaveformNoFunction;
  if (m_fn) {
    result = m_fn(m_path.c_str(), 0u, 0, 0xFFFFFFFFu, 0x7FFFFFFF, m_counts, m_maxSet, m_minSet,
                  &m_cancel, m_progress);
  }
  m_result.store(result, std::memory_order_release);
  m_runs.fetch_add(1, std::memory_order_acq_rel);
  emit waveFormPrepared();
  m_finished.store(true, std::memory_order_release);
}
