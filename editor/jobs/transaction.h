// A queued job of a job thread, and the records a job carries.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>

#include "sonvex.h"

// What a job knows about its source; 48 bytes, derived from AudioFileInfo.
struct SourceDescription {
  uint32_t sampleRate;
  uint32_t bitsPerSample;
  uint32_t channels;
  uint32_t dataOffset;
  uint64_t audioBytes;
  uint64_t totalFrames;
  uint64_t wholeSeconds;
  uint32_t fileType;
  uint32_t formatTag;
};
static_assert(sizeof(SourceDescription) == 48, "SourceDescription is 48 bytes");

// Frames = bytes * 8 / (bits * channels); a header without bits, channels or
// rate describes no frames rather than dividing by zero.
inline SourceDescription describeSource(const AudioFileInfo& info) {
  SourceDescription d{};
  d.sampleRate = info.sampleRate;
  d.bitsPerSample = info.bitsPerSample;
  d.channels = info.channels;
  d.dataOffset = info.dataOffset;
  d.audioBytes = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
  const uint64_t bitsPerFrame = uint64_t(info.bitsPerSample) * info.channels;
  d.totalFrames = bitsPerFrame ? d.audioBytes * 8 / bitsPerFrame : 0;
  d.wholeSeconds = info.sampleRate ? d.totalFrames / info.sampleRate : 0;
  d.fileType = info.fileType;
  d.formatTag = info.formatTag;
  return d;
}

// The conversion request a job runs: both paths by value and the records the
// library reads. The caller's envelope stays outside (see audioThread).
struct JobRequest {
  std::u16string destinationPath;
  std::u16string sourcePath;
  ConvertFormat format{};
  ChannelMatrix matrix{};
  int32_t sourceEnabled[2] = {0, 0};
  ConvertRange range{};
  int32_t dither = kPcmDitherNone;            // integer PCM exports (kPcmDither*)
  int32_t modulator = kDsdModulatorStandard;  // DSD exports (kDsdModulator*)
  int32_t flacLevel = 5;                      // FLAC exports, 0 (fastest) .. 8 (smallest)
};

using ConvertFunction = decltype(&sonvexert);

// Abort and stop requests of one job: raised by the GUI, read by that job's
// conversion callbacks. Each job has its own, so a playback and an export are
// stopped independently and a finishing job never clears another's request.
class JobControl {
 public:
  void requestAbort() noexcept { m_abort.store(1, std::memory_order_release); }
  void requestStop() noexcept { m_stop.store(1, std::memory_order_release); }
  [[nodiscard]] bool stopRequested() const noexcept {
    return m_stop.load(std::memory_order_acquire) != 0;
  }
  // True once per abort request: the export's block callback stops the
  // library with it once.
  [[nodiscard]] bool takeAbort() noexcept { return m_abort.exchange(0) != 0; }

  // Samples of an export beyond `fullScale` (0: not counted), from the
  // library's blocks of `channels` interleaved in pairs.
  void countClipping(double fullScale, int channels) noexcept {
    m_fullScale = fullScale;
    m_channels = channels;
  }
  void addClipped(const double* pcm, int32_t frames) noexcept {
    if (m_fullScale <= 0.0 || !pcm) return;
    uint64_t over = 0;
    for (int32_t i = 0; i < frames; ++i)
      for (int c = 0; c < m_channels; ++c) over += std::fabs(pcm[2 * i + c]) > m_fullScale;
    m_clipped.fetch_add(over, std::memory_order_relaxed);
  }
  [[nodiscard]] uint64_t clipped() const noexcept {
    return m_clipped.load(std::memory_order_relaxed);
  }

 private:
  std::atomic<int> m_abort{0};
  std::atomic<int> m_stop{0};
  std::atomic<uint64_t> m_clipped{0};
  double m_fullScale = 0.0;  // set before the job runs, read by its thread only
  int m_channels = 2;
};

class Transaction {
 public:
  virtual ~Transaction() = default;
  // Negative results are failure codes (the library's, or kJob* below).
  virtual int run(int mode, JobRequest* request, ConvertFunction convertFn,
                  SourceDescription* sourceInfo, int* auxValue, LevelPoint* envelope) = 0;
  JobControl& control() noexcept { return m_control; }

 private:
  JobControl m_control;
};

// Job failures that do not come from the library.
enum : int {
  kJobNoConversionFunction = -1000,  // library or its conversion export missing
  kJobModeNotAvailable = -1001       // no run for this job mode in this build
};
