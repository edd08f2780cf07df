// The playback engine's shared state and its non-render entry points: the
// setters and queries of the GUI thread, the playback job's run and the
// library's producer callback on the job thread. Qt-free.
//
// Threads: the GUI writes settings, the job thread starts a conversion whose
// producer callback fills the 64-slot ring, the output thread renders
// (render.h). Nothing is locked: every shared value is one std::atomic with
// one writer at a time; the hand-over flags use acquire/release
// (startRequested -> playing/outputEnabled -> primed; stopRequested ->
// abortRequested), the produced count is written only by the producer and
// the consumed count only by the renderer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "sonvex.h"
#include "transaction.h"

namespace engine {

constexpr int kRingSlots = 64;
constexpr int kEnvelopeEntries = 10;
constexpr int kDecimationTaps = 511;
constexpr double kPcmFullScale = 2147483647.0;
constexpr uint32_t kDsdRateMin = SONVEX_DSD_RATE_MIN;
constexpr int32_t kStatusPlayback = 0x2;
constexpr int kRampIn = 0x1;
constexpr int kRampOut = 0x2;

// Library exports the engine uses, bound by the caller (the program resolves
// them by name at run time; tests may pass the linked functions).
struct LibraryFunctions {
  int32_t (*setDecimationFirParam)(double, double, int32_t, double*, double) = nullptr;
  int32_t (*setMeterFirParam)(double, double, int32_t, double*) = nullptr;
  int32_t (*gAudioDecimationFir)(double*, const double*, const double*, uint32_t) = nullptr;
};

// One-pole start/stop smoother, one lane per channel. Coefficient for T
// seconds at step rate r: after T r steps 10 % of the distance remains.
struct GainRamp {
  std::atomic<double> coefficient[2];
  std::atomic<double> current[2];
  std::atomic<double> complement[2];
  std::atomic<double> target[2];

  static double coefficientFor(double seconds, double stepRate);
  void setCoefficient(double a);
  void set(double currentValue, double targetValue);
};

// The render thread's copy of a ramp for the span of one block.
struct RampLanes {
  double a[2], cur[2], tgt[2];
  void load(const GainRamp& r);
  void store(GainRamp& r) const;
  void step() {
    for (int c = 0; c < 2; ++c) cur[c] = tgt[c] + (cur[c] - tgt[c]) * a[c];
  }
  // Snaps channels within 5e-5 of their target; true when both are.
  bool settle();
};

struct PlaybackControl {
  std::atomic<double> monitorGainDb{0.0};
  std::atomic<double> monitorGain[2];
  std::atomic<int> postFaderMeter{0};
  std::atomic<EqSettings*> eqSettings{nullptr};
  std::atomic<uint8_t> dsdDirect{0};
  std::atomic<uint8_t> envelopeUnity{0};
  std::atomic<int> playbackJob{-1};
  std::atomic<int> playRate{0};
  std::atomic<int> deviceWatchdogReload{0};
  std::atomic<int> deviceWatchdog{0};
  std::atomic<uint8_t> startRequested{0};
  std::atomic<uint8_t> stopRequested{0};
  std::atomic<uint8_t> abortRequested{0};
  std::atomic<int> playing{0};
  std::atomic<int> outputEnabled{0};
  std::atomic<uint8_t> primed{0};
  std::atomic<uint64_t> playPosition{0};
  std::atomic<double> meterPeak[2];
  std::atomic<double> appliedGain[2];
  std::atomic<int> rampCommand[2];
  std::atomic<int> rampState[2];
  std::atomic<int> alignDelay{17};
  std::atomic<int> dsdPhase{0};
  GainRamp ramp;
  // DSD output stage smoothing coefficient (set by the playback job).
  std::atomic<double> dsdSmoothing{0.9};
  // The loop that re-modulates DSD playback; taken at prepareEngine.
  std::atomic<uint8_t> precisionModulator{0};

  // Ring, as the producer callback last described it.
  std::atomic<uint64_t> produced{0};
  std::atomic<uint64_t> consumed{0};
  std::atomic<int> slotFrames{0};
  std::atomic<int> threshold{0};
  std::atomic<int> filterTaps{0};
  std::atomic<double**> pcmSlots{nullptr};
  std::atomic<uint8_t**> dsdSlots{nullptr};

  // The running job's source and range (source frames) and its status word.
  std::atomic<uint32_t> sourceRate{0};
  std::atomic<uint32_t> sourceChannels{2};
  std::atomic<uint64_t> totalFrames{0};
  std::atomic<int64_t> endFrame{0};
  std::atomic<int32_t*> statusWord{nullptr};
  std::atomic<int64_t> envelopePosition[kEnvelopeEntries];
  std::atomic<double> envelopeLevel[kEnvelopeEntries];

  // Producer's flow-control poll step; 100 ms in the program.
  std::atomic<int> producerWaitMs{100};

  PlaybackControl();
};

PlaybackControl& control();

// --- GUI thread -----------------------------------------------------------
void setMonitorVolume(double db);
void setPostFader(int v);
// Also publishes the block's current coefficients to the renderer.
void setEqSettings(EqSettings* settings);
// Hands the EQ block's present values (master switch, bands, total gain) to
// the renderer, which takes them over at its next block boundary;
// resetFilterState also clears the renderer's filter history (rate change).
void publishEq(bool resetFilterState = false);
void setDsdDirect(uint8_t v);
// Re-modulates DSD playback with the precision loop (else the standard one)
// from the next prepareEngine on.
void setPlaybackModulator(bool precision);
void setPlaybackJob(int index);
void setDeviceWatchdog(int ms);
[[nodiscard]] bool consumeWatchdog(int ms);
// The job's status word and cancel flag: an export (status 1) is aborted, a
// playback faded out.
void requestStop(JobRequest* job, int* cancelFlag);
[[nodiscard]] bool isPlaying();
[[nodiscard]] uint64_t getPlayPosition();
void getMeterPeak(double* left, double* right);
void clearMeterPeaks();
void resetEngine();
// After a device or play rate is chosen, with the output stopped: resets the
// ramps and the DSD stage, designs the meter filters through the library and
// sizes every render buffer for callbacks of up to maxFrames frames (larger
// callbacks are rendered in pieces). Returns false when memory is short.
[[nodiscard]] bool prepareEngine(int deviceRate, const LibraryFunctions& fns, int maxFrames = 0);
// Frees the render buffers (the output must be stopped).
void releaseEngine();

// --- playback job -----------------------------------------------------------
// The request the main window queues for a start at startFrame (source
// frames) of `path`, played at the rate of rateIndex.
void buildPlaybackRequest(JobRequest* out, const std::u16string& path, int rateIndex,
                          int64_t startFrame, const SourceDescription& source, EqSettings* eq);
// 1 when an envelope of up to 100 entries changes the level somewhere.
[[nodiscard]] uint8_t envelopeActive(const LevelPoint* envelope);
// The playback job's run (job mode 8): starts the stream conversion and
// returns its result once it has ended; the engine flags are reset whatever
// the result.
int runPlayback(int mode, JobRequest* request, ConvertFunction convertFn,
                const SourceDescription* source, LevelPoint* envelope);

// --- library callbacks (job thread) ----------------------------------------
int32_t onBlockProduced(uint32_t positionLow, uint32_t positionHigh, int32_t frames,
                        int32_t capacity, int32_t slot, int32_t slotBytes, double** pcmSlots,
                        uint8_t** dsdSlots, int32_t filterTaps);
int32_t isPlaybackDrained();

// Status-word access shared with the library (which uses atomic builtins).
inline int32_t loadStatus(const int32_t* w) { return __atomic_load_n(w, __ATOMIC_ACQUIRE); }
inline void clearStatusBits(int32_t* w, int32_t bits) {
  __atomic_fetch_and(w, ~bits, __ATOMIC_ACQ_REL);
}

}  // namespace engine
