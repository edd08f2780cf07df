#include "playback.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "eqsettings.h"
#include "oscillator.h"
#include "renderstate.h"

namespace engine {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;
// ln 10 as the single-precision value the ramp constants were tuned with.
constexpr double kLn10 = 2.3025851249694824;
constexpr int kFirPairs = 2045;
constexpr int kMeterTableDoubles = 16384;
constexpr int kIdleBytesMin = 32768;
constexpr int64_t kEnvelopeEnd = INT64_MAX;

double* alignedDoubles(size_t n) {
  const size_t bytes = ((n * sizeof(double) + 15) / 16) * 16;
  void* p = std::aligned_alloc(16, bytes);
  if (p) std::memset(p, 0, bytes);
  return static_cast<double*>(p);
}

}  // namespace

namespace detail {
std::atomic<bool> gPreparing{false};
std::atomic<bool> gInRender{false};
std::atomic<bool> gReady{false};

Resources& resources() {
  static Resources r;
  return r;
}
EqExchange& eqExchange() {
  static EqExchange e;
  return e;
}
}  // namespace detail

double GainRamp::coefficientFor(double seconds, double stepRate) {
  return 1.0 - 2.0 / (1.0 + 2.0 * seconds * stepRate / kLn10);
}

void GainRamp::setCoefficient(double a) {
  for (auto& c : coefficient) c.store(a, kRelaxed);
}

void GainRamp::set(double currentValue, double targetValue) {
  for (int c = 0; c < 2; ++c) {
    current[c].store(currentValue, kRelaxed);
    complement[c].store(1.0 - currentValue, kRelaxed);
    target[c].store(targetValue, kRelaxed);
  }
}

void RampLanes::load(const GainRamp& r) {
  for (int c = 0; c < 2; ++c) {
    a[c] = r.coefficient[c].load(kRelaxed);
    cur[c] = r.current[c].load(kRelaxed);
    tgt[c] = r.target[c].load(kRelaxed);
  }
}

void RampLanes::store(GainRamp& r) const {
  for (int c = 0; c < 2; ++c) {
    r.current[c].store(cur[c], kRelaxed);
    r.complement[c].store(1.0 - cur[c], kRelaxed);
    r.target[c].store(tgt[c], kRelaxed);
  }
}

bool RampLanes::settle() {
  bool settled = true;
  for (int c = 0; c < 2; ++c) {
    if (std::fabs(cur[c] - tgt[c]) < 5e-5)
      cur[c] = tgt[c];
    else
      settled = false;
  }
  return settled;
}

PlaybackControl::PlaybackControl() {
  for (int c = 0; c < 2; ++c) {
    monitorGain[c].store(1.0, kRelaxed);
    meterPeak[c].store(0.0, kRelaxed);
    appliedGain[c].store(0.0, kRelaxed);
    rampCommand[c].store(0, kRelaxed);
    rampState[c].store(0, kRelaxed);
  }
  ramp.setCoefficient(0.0);
  ramp.set(0.0, 0.0);
  for (int i = 0; i < kEnvelopeEntries; ++i) {
    envelopePosition[i].store(i == 0 ? 0 : -1, kRelaxed);
    envelopeLevel[i].store(1.0, kRelaxed);
  }
}

PlaybackControl& control() {
  static PlaybackControl pc;
  return pc;
}

void setMonitorVolume(double db) {
  PlaybackControl& pc = control();
  const bool mute = !(db > -100.0);
  const double g = mute ? 0.0 : std::pow(10.0, db / 20.0);
  pc.monitorGain[0].store(g, kRelaxed);
  pc.monitorGain[1].store(g, kRelaxed);
  pc.monitorGainDb.store(mute ? -300.0 : db, kRelaxed);
}

void setPostFader(int v) {
  if (v < 2) control().postFaderMeter.store(v, kRelaxed);
}

void publishEq(bool resetFilterState) {
  detail::EqExchange& x = detail::eqExchange();
  static uint64_t serial = 0;  // GUI thread only
  static uint32_t epoch = 0;
  detail::EqSnapshot& s = x.back();
  s = detail::EqSnapshot{};
  s.serial = ++serial;
  if (resetFilterState) ++epoch;
  s.resetEpoch = epoch;
  const EqSettings* eqs = control().eqSettings.load(kAcquire);
  if (eqs) {
    s.masterOn = eqs->masterOn && *eqs->masterOn == 1 ? 1 : 0;
    s.totalGain = eqs->totalGain;
    for (int b = 0; b < 4; ++b) {
      const EqBand& band = eqs->band[b];
      s.on[b] = band.on;
      if (!band.biquad) {
        s.on[b] = 0;
        continue;
      }
      for (int k = 0; k < 5; ++k) s.coefficients[b][k] = band.biquad[2 * k];
    }
  }
  x.publish();
}

void setEqSettings(EqSettings* settings) {
  control().eqSettings.store(settings, kRelease);
  publishEq(false);
}

void setDsdDirect(uint8_t v) { control().dsdDirect.store(v, kRelaxed); }

void setPlaybackModulator(bool precision) {
  control().precisionModulator.store(precision ? 1 : 0, kRelaxed);
}
void setPlaybackJob(int index) { control().playbackJob.store(index, kRelaxed); }

void setDeviceWatchdog(int ms) {
  control().deviceWatchdogReload.store(ms, kRelaxed);
  control().deviceWatchdog.store(ms, kRelaxed);
}

bool consumeWatchdog(int ms) {
  std::atomic<int>& w = control().deviceWatchdog;
  int v = w.load(kRelaxed);
  // The renderer may reload the countdown meanwhile; a reload wins.
  while (v >= ms) {
    if (w.compare_exchange_weak(v, v - ms, kRelaxed)) return false;
  }
  return true;
}

void requestStop(JobRequest* job, int* cancelFlag) {
  if (cancelFlag) __atomic_store_n(cancelFlag, 1, __ATOMIC_RELEASE);
  PlaybackControl& pc = control();
  if (job && loadStatus(&job->range.statusWord) == kConvertExportMode)
    pc.abortRequested.store(1, kRelease);
  else
    pc.stopRequested.store(1, kRelease);
}

bool isPlaying() { return control().playing.load(kAcquire) != 0; }
uint64_t getPlayPosition() { return control().playPosition.load(kRelaxed); }

void getMeterPeak(double* left, double* right) {
  PlaybackControl& pc = control();
  const double l = pc.meterPeak[0].load(kRelaxed);
  if (left) *left = l;
  if (right) *right = pc.sourceChannels.load(kRelaxed) == 1 ? l : pc.meterPeak[1].load(kRelaxed);
}

void clearMeterPeaks() {
  control().meterPeak[0].store(0.0, kRelaxed);
  control().meterPeak[1].store(0.0, kRelaxed);
}

void resetEngine() {
  PlaybackControl& pc = control();
  pc.outputEnabled.store(0, kRelease);
  pc.primed.store(0, kRelease);
  pc.threshold.store(0, kRelaxed);
}

void releaseEngine() {
  using namespace detail;
  gPreparing.store(true, std::memory_order_seq_cst);
  for (int i = 0; i < 1000 && gInRender.load(std::memory_order_seq_cst); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  gReady.store(false, std::memory_order_seq_cst);
  Resources& r = resources();
  std::free(r.work);
  std::free(r.meterCopy);
  std::free(r.firPairs);
  std::free(r.meterTable);
  std::free(r.biquads);
  delete[] r.idle;
  r.work = r.meterCopy = r.firPairs = r.meterTable = r.biquads = nullptr;
  r.idle = nullptr;
  r.capacity = 0;
  gPreparing.store(false, std::memory_order_seq_cst);
}

bool prepareEngine(int deviceRate, const LibraryFunctions& fns, int maxFrames) {
  using namespace detail;
  PlaybackControl& pc = control();
  if (maxFrames <= 0) maxFrames = std::max(10240, deviceRate / 10);
  const int capacity = ((maxFrames + 7) / 8) * 8;
  releaseEngine();
  gPreparing.store(true, std::memory_order_seq_cst);
  Resources& r = resources();
  r.capacity = capacity;
  r.work = alignedDoubles(2 * size_t(capacity));
  r.meterCopy = alignedDoubles(2 * size_t(capacity));
  r.firPairs = alignedDoubles(2 * kFirPairs);
  r.meterTable = alignedDoubles(kMeterTableDoubles);
  r.biquads = alignedDoubles(4 * eq::kBiquadDoubles);
  r.idleBytes = std::max(kIdleBytesMin, capacity / 8 + 8);
  r.idle = new (std::nothrow) uint8_t[2 * size_t(r.idleBytes)];
  const bool ok = r.work && r.meterCopy && r.firPairs && r.meterTable && r.biquads && r.idle &&
                  r.stage.prepare(size_t(capacity));
  if (!ok) {
    gPreparing.store(false, std::memory_order_seq_cst);
    releaseEngine();
    return false;
  }
  std::memset(r.idle, sonvex::dsd::kIdleByte, 2 * size_t(r.idleBytes));
  r.fns = fns;
  r.eqSerial = ~uint64_t(0);

  // A new rate: the tone restarts at phase 0 with coefficients for it.
  TestOscillator& osc = oscillator();
  const bool toneOn = osc.isOn();
  osc.oscillatorOff();
  osc.setOscillatorRate(double(deviceRate));
  if (toneOn) osc.oscillatorOnWithKick();

  pc.ramp.setCoefficient(GainRamp::coefficientFor(0.01, deviceRate));
  pc.ramp.set(0.0, 0.0);
  for (int c = 0; c < 2; ++c) {
    pc.rampCommand[c].store(0, kRelaxed);
    pc.rampState[c].store(0, kRelaxed);
  }
  pc.dsdDirect.store(0, kRelaxed);
  pc.envelopeUnity.store(0, kRelaxed);
  // Both channels want and are direct: a first fade-in leaves the source.
  r.stage.setModulator(pc.precisionModulator.load(kRelaxed) ? sonvex::dsd::ModulatorKind::Precision
                                                            : sonvex::dsd::ModulatorKind::Standard,
                       uint32_t(deviceRate));
  r.stage.reset(true, 0);
  r.stage.modulator().setSmoothing(pc.dsdSmoothing.load(kRelaxed), pc.dsdSmoothing.load(kRelaxed));
  if (fns.setDecimationFirParam)
    (void)fns.setDecimationFirParam(double(deviceRate), deviceRate * 0.0078125, kDecimationTaps,
                                    r.firPairs, 1.0);
  if (fns.setMeterFirParam)
    (void)fns.setMeterFirParam(double(deviceRate), deviceRate * 0.9 * 0.0078125, kDecimationTaps,
                               r.meterTable);
  gReady.store(true, std::memory_order_seq_cst);
  gPreparing.store(false, std::memory_order_seq_cst);
  publishEq(true);
  return true;
}

void buildPlaybackRequest(JobRequest* out, const std::u16string& path, int rateIndex,
                          int64_t startFrame, const SourceDescription& source, EqSettings* eq) {
  *out = JobRequest{};
  const bool dsd = sonvexRateForCode(rateIndex) >= kDsdRateMin;
  out->sourcePath = path;
  out->destinationPath = dsd ? u"converted.dff" : u"converted.wav";
  out->format.rateIndex = rateIndex;
  out->format.fileType = dsd ? kFileTypeDsdiff : kFileTypeWav;
  out->format.bitsPerSample = dsd ? 1 : 24;
  out->format.holdInterpolation = 0;
  out->format.channels = 2;
  out->format.filterMethod = 0;
  out->matrix = ChannelMatrix{{1.0, 0.0, 0.0, 1.0}};
  out->sourceEnabled[0] = 1;
  out->range.statusWord = kStatusPlayback;
  out->range.startFrame = startFrame;
  out->range.endFrame = int64_t(source.totalFrames);
  out->range.eq = eq;
}

uint8_t envelopeActive(const LevelPoint* envelope) {
  if (!envelope) return 0;
  for (int i = 0; i < 100 && envelope[i].position != kEnvelopeEnd; ++i) {
    const double level = envelope[i].level;
    if (level != 0.0 && level != 1.0) return 1;
    if (i > 0 && level != envelope[i - 1].level &&
        envelope[i].position != envelope[i - 1].position && envelope[i - 1].shape != 0)
      return 1;
  }
  return 0;
}

namespace {
// A stop that no renderer answers (the output stopped calling) would keep
// the job waiting for ever: after a second without consumption the job
// ends the playback itself. Job thread only.
constexpr int kUnansweredStopMs = 1000;
uint64_t gLastConsumed = 0;
int gStopWaitedMs = 0;

bool stopUnanswered(int stepMs) {
  PlaybackControl& pc = control();
  const uint64_t consumed = pc.consumed.load(kAcquire);
  if (pc.stopRequested.load(kAcquire) == 0 || consumed != gLastConsumed) {
    gLastConsumed = consumed;
    gStopWaitedMs = 0;
    return false;
  }
  gStopWaitedMs += stepMs;
  if (gStopWaitedMs < kUnansweredStopMs) return false;
  pc.playing.store(0, kRelease);
  pc.outputEnabled.store(0, kRelease);
  pc.primed.store(0, kRelease);
  pc.stopRequested.store(0, kRelease);
  if (int32_t* w = pc.statusWord.load(kAcquire)) clearStatusBits(w, kStatusPlayback);
  return true;
}

// The library polls its drain callback without pause while the renderer
// plays out the ring, which can take minutes: poll gently instead.
int32_t playbackDrainPoll() {
  const int32_t drained = isPlaybackDrained();
  if (drained != 0) return drained;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return stopUnanswered(2) ? -1 : 0;
}
}  // namespace

int runPlayback(int mode, JobRequest* request, ConvertFunction convertFn,
                const SourceDescription* source, LevelPoint* envelope) {
  if (!convertFn) return kJobNoConversionFunction;
  if (!request || !source || !envelope) return kConvertErrSourceDisabled;
  PlaybackControl& pc = control();
  const uint32_t playRate = sonvexRateForCode(request->format.rateIndex);
  const uint32_t srcRate = source->sampleRate;
  pc.playRate.store(int(playRate), kRelaxed);
  if (playRate < kDsdRateMin) {
    const double a = GainRamp::coefficientFor(0.01, playRate);
    pc.ramp.setCoefficient(a);
    pc.dsdDirect.store(0, kRelaxed);
    pc.dsdSmoothing.store(a, kRelaxed);
  } else {
    pc.ramp.setCoefficient(GainRamp::coefficientFor(0.03, double(playRate / 500)));
    pc.dsdSmoothing.store(1.0 - 2.0 / (1.0 + playRate * 0.125 * 0.06 / kLn10), kRelaxed);
    if (srcRate != playRate) pc.dsdDirect.store(0, kRelaxed);
  }
  if (srcRate >= kDsdRateMin) {
    request->range.startFrame &= ~int64_t(7);
    request->range.endFrame &= ~int64_t(7);
  }
  pc.sourceRate.store(srcRate, kRelaxed);
  pc.sourceChannels.store(source->channels, kRelaxed);
  pc.totalFrames.store(source->totalFrames, kRelaxed);
  pc.endFrame.store(request->range.endFrame, kRelaxed);
  // A stop or abort meant for an earlier playback must not end this one.
  pc.stopRequested.store(0, kRelaxed);
  pc.abortRequested.store(0, kRelaxed);
  // Every start fades in from silence, also after a playback that ran to
  // its end at full level.
  pc.ramp.set(0.0, 0.0);
  for (int c = 0; c < 2; ++c) {
    pc.rampState[c].store(0, kRelaxed);
    pc.rampCommand[c].store(mode == 8 ? kRampIn : 0, kRelaxed);
  }
  pc.slotFrames.store(0, kRelaxed);
  pc.produced.store(0, kRelaxed);
  pc.consumed.store(0, kRelaxed);
  pc.pcmSlots.store(nullptr, kRelaxed);
  pc.dsdSlots.store(nullptr, kRelaxed);
  pc.playPosition.store(srcRate ? uint64_t(request->range.startFrame) * playRate / srcRate : 0,
                        kRelaxed);
  for (int i = 0; i < kEnvelopeEntries; ++i) {
    pc.envelopePosition[i].store(envelope[i].position, kRelaxed);
    pc.envelopeLevel[i].store(envelope[i].level, kRelaxed);
  }
  pc.statusWord.store(&request->range.statusWord, kRelease);
  gLastConsumed = 0;
  gStopWaitedMs = 0;
  request->range.levelActive = envelopeActive(envelope);
  if (mode == 8) pc.startRequested.store(1, kRelease);

  const SonvexChar* sources[1] = {request->sourcePath.c_str()};
  const int result = convertFn(request->destinationPath.c_str(), sources, nullptr, &request->format,
                               &request->matrix, request->sourceEnabled, &request->range,
                               onBlockProduced, playbackDrainPoll, envelope);

  __atomic_store_n(&request->range.statusWord, 0, __ATOMIC_RELEASE);
  pc.startRequested.store(0, kRelaxed);
  pc.playing.store(0, kRelease);
  pc.outputEnabled.store(0, kRelease);
  pc.primed.store(0, kRelease);
  pc.abortRequested.store(0, kRelease);
  pc.statusWord.store(nullptr, kRelease);
  return result;
}

int32_t onBlockProduced(uint32_t positionLow, uint32_t positionHigh, int32_t /*frames*/,
                        int32_t capacity, int32_t /*slot*/, int32_t slotBytes, double** pcmSlots,
                        uint8_t** dsdSlots, int32_t filterTaps) {
  PlaybackControl& pc = control();
  int32_t* status = pc.statusWord.load(kAcquire);
  if (status && loadStatus(status) == kConvertExportMode) {
    uint8_t one = 1;
    return pc.abortRequested.compare_exchange_strong(one, 0, std::memory_order_acq_rel) ? -1 : 0;
  }
  pc.filterTaps.store(filterTaps, kRelaxed);
  pc.dsdPhase.store(0, kRelaxed);
  pc.alignDelay.store((filterTaps - 1) / 2 + 17, kRelaxed);
  pc.pcmSlots.store(pcmSlots, kRelaxed);
  pc.dsdSlots.store(dsdSlots, kRelaxed);
  pc.slotFrames.store(capacity, kRelaxed);
  const bool dsd = pc.playRate.load(kRelaxed) >= int(kDsdRateMin);
  const int64_t threshold = dsd ? int64_t(slotBytes) * 8 : slotBytes / 16;
  pc.threshold.store(int(threshold), kRelaxed);
  // Publishes the slot contents and the fields above to the renderer.
  const uint64_t produced = (uint64_t(positionHigh) << 32) | positionLow;
  pc.produced.store(produced, kRelease);

  uint8_t one = 1;
  if (pc.abortRequested.compare_exchange_strong(one, 0, std::memory_order_acq_rel)) return -1;
  if (pc.startRequested.load(kAcquire) == 0 && pc.playing.load(kAcquire) == 0) return -1;
  // Flow control: never more than 63 slots ahead, so the slot the library
  // writes next has been read completely.
  while (produced - pc.consumed.load(kAcquire) > uint64_t(63 * threshold)) {
    if (pc.playing.load(kAcquire) == 0 && pc.startRequested.load(kAcquire) == 0) {
      pc.stopRequested.store(0, kRelaxed);
      if (status) clearStatusBits(status, kStatusPlayback);
      return -1;
    }
    const int waitMs = pc.producerWaitMs.load(kRelaxed);
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    if (stopUnanswered(waitMs)) return -1;
  }
  uint8_t start = 1;
  if (pc.startRequested.compare_exchange_strong(start, 0, std::memory_order_acq_rel)) {
    pc.playing.store(1, kRelease);
    pc.outputEnabled.store(1, kRelease);
  }
  return 0;
}

int32_t isPlaybackDrained() {
  PlaybackControl& pc = control();
  if (pc.playing.load(kAcquire) != 1) return -1;
  return pc.consumed.load(kAcquire) >= pc.produced.load(kAcquire) ? -1 : 0;
}

}  // namespace engine
