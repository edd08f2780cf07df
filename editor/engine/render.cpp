// The render callbacks and block renderers. Runs on the output thread: no
// locks, no sleeps, no allocation, no I/O. Every buffer was sized by
// prepareEngine; a callback larger than that is rendered in pieces.
#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "eqsettings.h"
#include "oscillator.h"
#include "playback.h"
#include "renderstate.h"

namespace engine {
namespace {

using detail::EqSnapshot;
using detail::Resources;
namespace dsd = sonvex::dsd;

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;
constexpr double kToUnit = 4.656612873077393e-10;   // 1 / 2^31
constexpr double kDsdClamp = 144115188075855872.0;  // 2^57
constexpr int kDsdChunk = 500;
constexpr uint8_t kIdleLsbFirst = 0x69;  // the idle byte with its bits reversed

inline double clampPcm(double v) {
  return v > kPcmFullScale ? kPcmFullScale : (v < -kPcmFullScale ? -kPcmFullScale : v);
}

bool isPcmType(int t) {
  return (t >= 0 && t <= 4) || (t >= 8 && t <= 11) || (t >= 16 && t <= 20) || (t >= 24 && t <= 27);
}
bool bigEndian(int t) { return t < 16; }

// Bits a sample occupies in a device buffer (pointer advance).
int deviceBits(int t) {
  switch (t) {
    case kSampleInt16Msb:
    case kSampleInt16Lsb:
      return 16;
    case kSampleInt24Msb:
    case kSampleInt24Lsb:
      return 24;
    case kSampleFloat64Msb:
    case kSampleFloat64Lsb:
      return 64;
    case kSampleDsdInt8Lsb1:
    case kSampleDsdInt8Msb1:
      return 1;
    case kSampleDsdInt8Ner8:
      return 8;
    default:
      return 32;
  }
}

void zeroMeters(PlaybackControl& pc) {
  pc.meterPeak[0].store(0.0, kRelaxed);
  pc.meterPeak[1].store(0.0, kRelaxed);
}

void fillDevice(int type, int frames, uint8_t* l, uint8_t* r) {
  size_t bytes = 0;
  int value = 0;
  if (isPcmType(type)) {
    bytes = size_t(frames) * deviceBits(type) / 8;
  } else if (type == kSampleDsdInt8Msb1) {
    bytes = size_t(frames) / 8;
    value = dsd::kIdleByte;
  } else if (type == kSampleDsdInt8Lsb1) {
    bytes = size_t(frames) / 8;
    value = kIdleLsbFirst;
  } else if (type == kSampleDsdInt8Ner8) {
    // One sample a byte: the idle pattern's bits one after another.
    for (int i = 0; i < frames; ++i) {
      const uint8_t bit = (dsd::kIdleByte >> (7 - (i & 7))) & 1;
      l[i] = bit;
      r[i] = bit;
    }
    return;
  }
  std::memset(l, value, bytes);
  std::memset(r, value, bytes);
}

// Envelope level at play-rate frame p: segment index (-1 before the first
// point) and level.
void envelopeAt(const PlaybackControl& pc, int64_t p, int* segment, double* level) {
  const int64_t p0 = pc.envelopePosition[0].load(kRelaxed);
  *segment = -1;
  *level = 0.0;
  if (p < p0) return;
  for (int i = 1; i < kEnvelopeEntries; ++i) {
    const int64_t a = pc.envelopePosition[i - 1].load(kRelaxed);
    const int64_t b = pc.envelopePosition[i].load(kRelaxed);
    if (b < 0) break;
    if (a <= p && p < b) {
      const double la = pc.envelopeLevel[i - 1].load(kRelaxed);
      const double lb = pc.envelopeLevel[i].load(kRelaxed);
      *segment = i;
      *level = la + (lb - la) * double(p - a) / double(b - a);
      return;
    }
  }
}

uint8_t envelopeUnityOver(const PlaybackControl& pc, uint64_t p0, int frames) {
  int s0, s1;
  double l0, l1;
  envelopeAt(pc, int64_t(p0), &s0, &l0);
  envelopeAt(pc, int64_t(p0) + frames, &s1, &l1);
  return s0 == s1 && l1 == 1.0 ? 1 : 0;
}

// Takes over a newly published EQ at the block boundary.
const EqSnapshot& takeEq(Resources& res) {
  const EqSnapshot& s = detail::eqExchange().take();
  if (s.serial != res.eqSerial) {
    for (int b = 0; b < 4; ++b) {
      double* bq = res.biquads + b * eq::kBiquadDoubles;
      for (int k = 0; k < 5; ++k) bq[2 * k] = bq[2 * k + 1] = s.coefficients[b][k];
      if (s.resetEpoch != res.eqEpoch) eq::clearState(bq);
    }
    res.eqSerial = s.serial;
    res.eqEpoch = s.resetEpoch;
  }
  return s;
}

struct Block {
  RampLanes ramp;
  double outScale[2];
  double meterScale[2];
};

// Ramp commands, EQ in place over x, and the scales.
void prepareBlock(PlaybackControl& pc, Resources& res, const EqSnapshot& eqs, bool pcm, double* x,
                  int n, Block* b) {
  b->ramp.load(pc.ramp);
  const int cmd = pc.rampCommand[0].load(kRelaxed) | pc.rampCommand[1].load(kRelaxed);
  bool settledIn = false, settledOut = false;
  if (cmd & kRampIn) {
    settledIn = b->ramp.settle();
    b->ramp.tgt[0] = b->ramp.tgt[1] = 1.0;
  }
  if (cmd & kRampOut) {
    settledOut = b->ramp.settle();
    b->ramp.tgt[0] = b->ramp.tgt[1] = 0.0;
  }
  if (pcm) {
    for (int c = 0; c < 2; ++c) {
      if ((cmd & kRampIn) && settledIn) pc.rampState[c].store(1, kRelaxed);
      if ((cmd & kRampOut) && settledOut) pc.rampState[c].store(2, kRelaxed);
    }
  }
  if (eqs.masterOn == 1) {
    for (int band = 3; band >= 0; --band)
      if (eqs.on[band] == 1)
        eq::runBiquad(res.biquads + band * eq::kBiquadDoubles, x, x, size_t(n));
    const double g = eqs.totalGain;
    for (int i = 0; i < 2 * n; ++i) x[i] *= g;
  }
  const int post = pc.postFaderMeter.load(kRelaxed);
  const double unit = pcm ? kPcmFullScale : 1.0;
  for (int c = 0; c < 2; ++c) {
    b->outScale[c] = kPcmFullScale * pc.monitorGain[c].load(kRelaxed);
    b->meterScale[c] = post == 1 ? pc.appliedGain[c].load(kRelaxed) : unit;
  }
}

// Per-sample gain, ramp and meter; x becomes the clamped device values
// (PCM full scale 2147483647), or the unclamped ones when `clamp` is false.
void pcmGain(PlaybackControl& pc, Block& b, double* x, int n, bool clamp) {
  double peak[2] = {0.0, 0.0};
  double gain[2] = {pc.appliedGain[0].load(kRelaxed), pc.appliedGain[1].load(kRelaxed)};
  RampLanes& r = b.ramp;
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 2; ++c) {
      const double in = x[2 * i + c];
      gain[c] = r.cur[c] * b.outScale[c];
      const double y = in * gain[c];
      x[2 * i + c] = clamp ? clampPcm(y) : y;
      peak[c] = std::max(peak[c], std::fabs(clampPcm(in * b.meterScale[c])));
    }
    r.step();
  }
  r.store(pc.ramp);
  for (int c = 0; c < 2; ++c) {
    pc.appliedGain[c].store(gain[c], kRelaxed);
    pc.meterPeak[c].store(peak[c], kRelaxed);
  }
}

inline int32_t rounded(double y) { return int32_t(std::lrint(y)); }

template <int Bytes, bool Big>
inline void putInt(uint8_t* p, uint32_t v) {
  for (int k = 0; k < Bytes; ++k) p[Big ? Bytes - 1 - k : k] = uint8_t(v >> (8 * k));
}

template <int Bytes, bool Big, class Conv>
void packChannel(const double* y, int n, int c, uint8_t* out, Conv conv) {
  for (int i = 0; i < n; ++i) putInt<Bytes, Big>(out + size_t(i) * Bytes, conv(y[2 * i + c]));
}

template <int Bytes, bool Big, class Conv>
void packPair(const double* y, int n, uint8_t* l, uint8_t* r, bool mono, Conv conv) {
  packChannel<Bytes, Big>(y, n, 0, l, conv);
  if (mono)
    std::memcpy(r, l, size_t(n) * Bytes);
  else
    packChannel<Bytes, Big>(y, n, 1, r, conv);
}

template <bool Big>
void packPcm(int type, const double* y, int n, uint8_t* l, uint8_t* r, bool mono) {
  auto i32 = [](double v) { return uint32_t(rounded(v)); };
  auto f32 = [](double v) {
    const float f = float(v * kToUnit);
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  switch (type & 15) {
    case 0:  // Int16
      packPair<2, Big>(y, n, l, r, mono, [](double v) { return uint32_t(rounded(v)) >> 16; });
      break;
    case 1:  // Int24
      packPair<3, Big>(y, n, l, r, mono, [](double v) { return uint32_t(rounded(v)) >> 8; });
      break;
    case 3:  // Float32
      packPair<4, Big>(y, n, l, r, mono, f32);
      break;
    case 4: {  // Float64
      for (int c = 0; c < 2; ++c) {
        uint8_t* out = c == 0 ? l : r;
        if (c == 1 && mono) {
          std::memcpy(r, l, size_t(n) * 8);
          break;
        }
        for (int i = 0; i < n; ++i) {
          const double d = y[2 * i + c] * kToUnit;
          uint64_t u;
          std::memcpy(&u, &d, 8);
          for (int k = 0; k < 8; ++k) out[8 * i + (Big ? 7 - k : k)] = uint8_t(u >> (8 * k));
        }
      }
      break;
    }
    default:  // Int32, with or without fewer valid bits
      packPair<4, Big>(y, n, l, r, mono, i32);
      break;
  }
}

// --- DSD output stage -----------------------------------------------------

void outputDsdBlock(PlaybackControl& pc, Resources& res, RampLanes& ramp, bool processed,
                    const double* x, const uint8_t* srcL, const uint8_t* srcR, int count,
                    uint8_t* outL, uint8_t* outR) {
  dsd::OutputStage& stage = res.stage;
  // The playback job sets the idle smoothing for its rate.
  const double smoothing = pc.dsdSmoothing.load(kRelaxed);
  stage.modulator().setSmoothing(smoothing, smoothing);
  // The source's own bits go out only while nothing would change them: the
  // permission given at the start, a unity envelope, and (changeable during
  // playback) neither EQ nor a monitor volume other than 0 dB.
  const bool directOK = pc.dsdDirect.load(kRelaxed) == 1 && pc.envelopeUnity.load(kRelaxed) == 1 &&
                        !processed && srcL && srcR;
  const int delay = pc.alignDelay.load(kRelaxed);
  const uint8_t* idle[2] = {res.idle, res.idle + res.idleBytes};
  const uint8_t* src[2] = {srcL ? srcL : idle[0], srcR ? srcR : idle[1]};
  uint8_t* out[2] = {outL, outR};

  const double r0 = ramp.cur[0];
  const bool quiet = r0 == 0.0;
  const double target = dsd::idleWeightTarget(r0);
  const double targets[2] = {target, target};
  const bool shutdown[2] = {quiet, quiet};
  stage.modulate(x, size_t(count), outL, outR, targets, shutdown);

  for (int c = 0; c < 2; ++c) {
    dsd::ChannelState& s = stage.channel(c);
    const int cmd = pc.rampCommand[c].load(kRelaxed);
    const int st = pc.rampState[c].load(kRelaxed);
    double r = ramp.cur[0];
    const double t = ramp.tgt[0];
    bool useIdle = false;
    if ((cmd & kRampIn) && !(st & kRampIn)) {
      if (!s.isDirect && !s.wantDirect) {
        if (r == 1.0) {
          if (directOK) {
            s.switchMode |= 0x80;
            s.wantDirect = 1;
          } else {
            pc.rampState[c].store(1, kRelaxed);
          }
        } else if (r > 0.0) {
          s.switchMode = 0;
        } else {
          useIdle = true;
        }
      } else if (s.isDirect != s.wantDirect) {
        useIdle = r == 0.0;
      } else if (r == 1.0) {
        pc.rampState[c].store(1, kRelaxed);
        s.switchMode = 0;
      } else {
        s.wantDirect = 0;
        useIdle = true;
      }
    } else if (!(cmd & kRampOut) || (st & kRampOut)) {
      if (t == 0.0 && r == 0.0) {
        s.switchMode |= 0x80;
        s.wantDirect = 1;
        useIdle = true;
      } else if (t == 1.0 && r == 1.0 && directOK) {
        s.switchMode = s.isDirect ? 0 : (s.switchMode | 0x80);
        s.wantDirect = 1;
      } else {
        s.switchMode = 0;
        s.wantDirect = 0;
      }
    } else if (!s.isDirect && !s.wantDirect) {
      ramp.step();
      r = ramp.cur[0];
      if (r == 0.0) {
        s.switchMode |= 0x80;
        s.wantDirect = 1;
        useIdle = true;
      }
    } else if (!s.isDirect && s.wantDirect) {
      if (r == 0.0) {
        useIdle = true;
      } else {
        s.switchMode = 0;
        s.wantDirect = 0;
      }
    } else if (s.isDirect && s.wantDirect) {
      if (r != 0.0) {
        s.wantDirect = 0;
      } else {
        pc.rampState[c].store(2, kRelaxed);
        s.switchMode = 0;
        useIdle = true;
      }
    } else {
      useIdle = r == 0.0;
    }
    if (useIdle)
      (void)stage.splice(c, out[c], idle[c], size_t(count), true, 0);
    else
      (void)stage.splice(c, out[c], src[c], size_t(count), directOK, delay);
  }
}

void renderDsdBlock(PlaybackControl& pc, Resources& res, const EqSnapshot& eqs, int count,
                    const double* pcmIn, const uint8_t* srcL, const uint8_t* srcR, uint8_t* outL,
                    uint8_t* outR, bool mono) {
  double* x = res.work;
  std::memcpy(x, pcmIn, size_t(count) * 16);
  Block b;
  prepareBlock(pc, res, eqs, false, x, count, &b);
  double* m = res.meterCopy;
  for (int i = 0; i < count; ++i) {
    m[2 * i] = x[2 * i] * b.meterScale[0];
    m[2 * i + 1] = x[2 * i + 1] * b.meterScale[1];
  }
  const dsd::OutputStage& stage = res.stage;
  for (int start = 0; start <= count; start += kDsdChunk) {
    const int end = std::min(count, start + kDsdChunk);
    double gain[2];
    for (int c = 0; c < 2; ++c) {
      gain[c] = b.ramp.cur[c] * pc.monitorGain[c].load(kRelaxed);
      pc.appliedGain[c].store(gain[c], kRelaxed);
    }
    for (int i = start; i < end; ++i) {
      const double l = x[2 * i];
      const double r = mono ? l : x[2 * i + 1];
      x[2 * i] = std::clamp(l * gain[0], -kDsdClamp, kDsdClamp);
      x[2 * i + 1] = std::clamp(r * gain[1], -kDsdClamp, kDsdClamp);
    }
    const bool modulated = !stage.channel(0).wantDirect && !stage.channel(0).isDirect &&
                           !stage.channel(1).wantDirect && !stage.channel(1).isDirect;
    if (modulated) b.ramp.step();
  }
  const bool processed = eqs.masterOn == 1 || pc.monitorGain[0].load(kRelaxed) != 1.0 ||
                         pc.monitorGain[1].load(kRelaxed) != 1.0;
  outputDsdBlock(pc, res, b.ramp, processed, x, srcL, srcR, count, outL, outR);
  b.ramp.store(pc.ramp);
  if (mono) std::memcpy(outR, outL, size_t(count) / 8);

  double peak[2] = {0.0, 0.0};
  if (count > 511 && res.fns.gAudioDecimationFir) {
    for (int k = 0; k <= (count - 512) / 16; ++k) {
      double o[2] = {0.0, 0.0};
      (void)res.fns.gAudioDecimationFir(o, res.firPairs, m + 2 * 16 * size_t(k), kDecimationTaps);
      peak[0] = std::max(peak[0], std::fabs(o[0]));
      peak[1] = std::max(peak[1], std::fabs(o[1]));
    }
  }
  pc.meterPeak[0].store(peak[0], kRelaxed);
  pc.meterPeak[1].store(peak[1], kRelaxed);
}

// --- common callback ---------------------------------------------------------

struct Output {
  bool device;  // per-channel device buffers (else interleaved stereo)
  int type;     // sample type, or interleaved format code
  uint8_t* l;
  uint8_t* r;  // device form only
};

void renderAsio(PlaybackControl& pc, Resources& res, const EqSnapshot& eqs, int type, int count,
                int offset, const double* slotPcm, const uint8_t* dsdL, const uint8_t* dsdR,
                uint8_t* l, uint8_t* r, bool mono) {
  const double* in = slotPcm + 2 * size_t(offset);
  if (type == kSampleDsdInt8Msb1) {
    const uint8_t* sl = dsdL ? dsdL + offset / 8 : nullptr;
    const uint8_t* sr = dsdR ? dsdR + offset / 8 : nullptr;
    renderDsdBlock(pc, res, eqs, count, in, sl, sr, l, r, mono);
    return;
  }
  if (!isPcmType(type)) return;
  double* x = res.work;
  std::memcpy(x, in, size_t(count) * 16);
  Block b;
  prepareBlock(pc, res, eqs, true, x, count, &b);
  pcmGain(pc, b, x, count, true);
  if (bigEndian(type))
    packPcm<true>(type, x, count, l, r, mono);
  else
    packPcm<false>(type, x, count, l, r, mono);
}

void renderWasapi(PlaybackControl& pc, Resources& res, const EqSnapshot& eqs, int code, int count,
                  int offset, const double* slotPcm, uint8_t* out, bool mono) {
  if (code != kInterleavedFloat32 && code != kInterleavedInt16) return;
  double* x = res.work;
  std::memcpy(x, slotPcm + 2 * size_t(offset), size_t(count) * 16);
  Block b;
  prepareBlock(pc, res, eqs, true, x, count, &b);
  const bool isFloat = code == kInterleavedFloat32;
  pcmGain(pc, b, x, count, !isFloat);
  for (int i = 0; i < count; ++i) {
    const double yl = x[2 * i];
    const double yr = mono ? yl : x[2 * i + 1];
    if (isFloat) {
      const float f[2] = {float(yl) * 4.656613e-10f, float(yr) * 4.656613e-10f};
      std::memcpy(out + 8 * size_t(i), f, 8);
    } else {
      putInt<2, false>(out + 4 * size_t(i), uint32_t(rounded(yl)) >> 16);
      putInt<2, false>(out + 4 * size_t(i) + 2, uint32_t(rounded(yr)) >> 16);
    }
  }
}

// The test tone in place of the programme (device path only): the same
// encodings, no EQ, ramp or monitor volume; the meters show its amplitude.
void renderOscillator(PlaybackControl& pc, Resources& res, const Output& o, int frames) {
  TestOscillator& osc = oscillator();
  double* x = res.work;
  osc.generate(x, frames);
  const double a = osc.amplitude();
  if (o.type == kSampleDsdInt8Msb1) {
    // Amplitude 1.0 modulates like PCM full scale (the DSD meter's 0.5).
    for (int i = 0; i < 2 * frames; ++i) x[i] *= dsd::kInputFullScale;
    dsd::OutputStage& stage = res.stage;
    const double targets[2] = {0.0, 0.0};
    const bool shutdown[2] = {false, false};
    stage.modulate(x, size_t(frames), o.l, o.r, targets, shutdown);
    // No source: the channels leave any direct stream and stay modulated.
    for (int c = 0; c < 2; ++c)
      (void)stage.splice(c, c == 0 ? o.l : o.r, nullptr, size_t(frames), false);
    pc.meterPeak[0].store(a * 0.5, kRelaxed);
    pc.meterPeak[1].store(a * 0.5, kRelaxed);
    return;
  }
  if (!isPcmType(o.type)) return;
  const bool isFloat = (o.type & 15) == 3 || (o.type & 15) == 4;
  // Integers take the truncated 32-bit value; floats the tone itself.
  for (int i = 0; i < 2 * frames; ++i)
    x[i] = isFloat ? x[i] * 2147483648.0 : std::trunc(x[i] * kPcmFullScale);
  if (bigEndian(o.type))
    packPcm<true>(o.type, x, frames, o.l, o.r, false);
  else
    packPcm<false>(o.type, x, frames, o.l, o.r, false);
  pc.meterPeak[0].store(a * kPcmFullScale, kRelaxed);
  pc.meterPeak[1].store(a * kPcmFullScale, kRelaxed);
}

void fillOutput(PlaybackControl& pc, const Output& o, int frames) {
  if (o.device)
    fillDevice(o.type, frames, o.l, o.r);
  else if (o.type == kInterleavedFloat32 || o.type == kInterleavedInt16)
    std::memset(o.l, 0, size_t(frames) * (o.type == kInterleavedFloat32 ? 8 : 4));
  zeroMeters(pc);
}

void completeStop(PlaybackControl& pc) {
  if (int32_t* w = pc.statusWord.load(kAcquire)) clearStatusBits(w, kStatusPlayback);
  pc.primed.store(0, kRelease);
  pc.playing.store(0, kRelease);
  pc.outputEnabled.store(0, kRelease);
  pc.startRequested.store(0, kRelease);
  pc.stopRequested.store(0, kRelease);
  pc.abortRequested.store(1, kRelease);
}

void endOfPlay(PlaybackControl& pc, bool device) {
  const uint32_t srcRate = pc.sourceRate.load(kRelaxed);
  if (pc.playbackJob.load(kRelaxed) < 0 || srcRate == 0) return;
  if (pc.outputEnabled.load(kAcquire) == 0 && pc.playing.load(kAcquire) == 0) return;
  const int64_t total = int64_t(pc.totalFrames.load(kRelaxed));
  const int64_t frames = device ? total - pc.alignDelay.load(kRelaxed) : total;
  const int64_t end = frames * pc.playRate.load(kRelaxed) / int64_t(srcRate);
  if (int64_t(pc.playPosition.load(kRelaxed)) < end) return;
  pc.playing.store(0, kRelease);
  pc.outputEnabled.store(0, kRelease);
  pc.stopRequested.store(0, kRelease);
  if (int32_t* w = pc.statusWord.load(kAcquire)) clearStatusBits(w, kStatusPlayback);
}

void renderPiece(PlaybackControl& pc, Resources& res, const EqSnapshot& eqs, const Output& o,
                 int frames) {
  const int bits = o.device ? deviceBits(o.type) : (o.type == kInterleavedInt16 ? 16 : 32);
  const int channels = o.device ? 1 : 2;

  if (pc.stopRequested.load(kAcquire) == 1) {
    for (int c = 0; c < 2; ++c) {
      pc.rampCommand[c].store(kRampOut, kRelaxed);
      pc.ramp.target[c].store(0.0, kRelaxed);
    }
    // Nothing reaches the output before priming: it is silent already.
    if (pc.outputEnabled.load(kAcquire) == 0 || pc.primed.load(kAcquire) == 0) {
      pc.ramp.set(0.0, 0.0);
      for (int c = 0; c < 2; ++c) pc.rampState[c].store(2, kRelaxed);
    }
    if (pc.ramp.current[0].load(kRelaxed) == 0.0 && pc.ramp.current[1].load(kRelaxed) == 0.0 &&
        (pc.rampState[0].load(kRelaxed) & kRampOut) && (pc.rampState[1].load(kRelaxed) & kRampOut))
      completeStop(pc);
  }

  const int outputEnabled = pc.outputEnabled.load(kAcquire);
  const uint64_t produced = pc.produced.load(kAcquire);
  const uint64_t consumed = pc.consumed.load(kRelaxed);
  const int slotFrames = pc.slotFrames.load(kRelaxed);
  const int threshold = pc.threshold.load(kRelaxed);
  int offset = 0, slot = 0;
  if (slotFrames > 0) {
    offset = int(consumed % uint64_t(slotFrames));
    slot = int((consumed % (uint64_t(kRingSlots) * slotFrames)) / uint64_t(slotFrames));
  }
  const uint64_t available = produced >= consumed ? produced - consumed : 0;
  int32_t* status = pc.statusWord.load(kAcquire);
  const bool ended = status && (loadStatus(status) & kConvertEndOfSource);
  const bool hasData = available > uint64_t(threshold) || (ended && available != 0);
  const int count = int(std::min<uint64_t>(available, uint64_t(frames)));

  const uint32_t srcRate = pc.sourceRate.load(kRelaxed);
  const int playRate = pc.playRate.load(kRelaxed);
  if (outputEnabled == 1 && pc.primed.load(kAcquire) == 0 && pc.playbackJob.load(kRelaxed) >= 0 &&
      srcRate != 0) {
    if (available > uint64_t(threshold)) {
      pc.primed.store(1, kRelease);
    } else {
      const int64_t end = pc.endFrame.load(kRelaxed) * playRate / int64_t(srcRate);
      const int64_t toPlay = end - int64_t(pc.playPosition.load(kRelaxed));
      const int64_t slack = o.device ? pc.alignDelay.load(kRelaxed) : 0;
      if (toPlay <= int64_t(available) + slack) pc.primed.store(1, kRelease);
    }
  }

  fillOutput(pc, o, frames);
  const bool tone = o.device && oscillator().isOn();
  if (tone) renderOscillator(pc, res, o, frames);

  double** pcmSlots = pc.pcmSlots.load(kRelaxed);
  uint8_t** dsdSlots = pc.dsdSlots.load(kRelaxed);
  if (!tone && outputEnabled == 1 && pc.primed.load(kAcquire) == 1 && hasData && pcmSlots &&
      count > 0) {
    const bool mono = pc.sourceChannels.load(kRelaxed) == 1;
    uint64_t position = pc.playPosition.load(kRelaxed);
    if (o.device) pc.envelopeUnity.store(envelopeUnityOver(pc, position, frames), kRelaxed);
    int left = count;
    uint8_t* l = o.l;
    uint8_t* r = o.r;
    while (left > 0) {
      const int n = std::min(left, slotFrames - offset);
      if (o.device) {
        const uint8_t* dl = dsdSlots ? dsdSlots[2 * slot] : nullptr;
        const uint8_t* dr = dsdSlots ? dsdSlots[2 * slot + 1] : nullptr;
        // Only a DSD source at the play rate brings its own bits along.
        if (srcRate != uint32_t(playRate)) dl = dr = nullptr;
        renderAsio(pc, res, eqs, o.type, n, offset, pcmSlots[slot], dl, dr, l, r, mono);
      } else {
        renderWasapi(pc, res, eqs, o.type, n, offset, pcmSlots[slot], l, mono);
      }
      const size_t advance = size_t(n) * bits / 8 * channels;
      l += advance;
      if (r) r += advance;
      left -= n;
      offset = 0;
      slot = (slot + 1) % kRingSlots;
    }
    pc.consumed.store(consumed + uint64_t(count), kRelease);
    // Source frames played: an underrun's idle stretch must not count, or
    // the end test would cut as much off the end of the range.
    pc.playPosition.store(position + uint64_t(count), kRelaxed);
    if (!o.device) endOfPlay(pc, false);
  }
  if (o.device) endOfPlay(pc, true);
}

// Entry guard against prepareEngine; false: write silence and leave.
bool enter() {
  detail::gInRender.store(true, std::memory_order_seq_cst);
  if (detail::gPreparing.load(std::memory_order_seq_cst) ||
      !detail::gReady.load(std::memory_order_seq_cst)) {
    detail::gInRender.store(false, std::memory_order_seq_cst);
    return false;
  }
  return true;
}

void leave() { detail::gInRender.store(false, std::memory_order_seq_cst); }

void renderAll(const Output& first, int frames, int capacity) {
  PlaybackControl& pc = control();
  Resources& res = detail::resources();
  const EqSnapshot& eqs = takeEq(res);
  Output o = first;
  const int bits = o.device ? deviceBits(o.type) : (o.type == kInterleavedInt16 ? 16 : 32);
  while (frames > 0) {
    const int n = std::min(frames, capacity);
    renderPiece(pc, res, eqs, o, n);
    const size_t advance = size_t(n) * bits / 8 * (o.device ? 1 : 2);
    o.l += advance;
    if (o.r) o.r += advance;
    frames -= n;
  }
}

}  // namespace
}  // namespace engine

void renderDeviceBlock(int, int sampleType, int frames, void* left, void* right) {
  using namespace engine;
  PlaybackControl& pc = control();
  pc.deviceWatchdog.store(pc.deviceWatchdogReload.load(kRelaxed), kRelaxed);
  if (frames <= 0 || !left || !right) return;
  auto* l = static_cast<uint8_t*>(left);
  auto* r = static_cast<uint8_t*>(right);
  if (!enter()) {
    fillDevice(sampleType, frames, l, r);
    zeroMeters(pc);
    return;
  }
  renderAll(Output{true, sampleType, l, r}, frames, detail::resources().capacity);
  leave();
}

void renderInterleavedBlock(int formatCode, const WaveFormat* format, int frames, void* buffer) {
  using namespace engine;
  PlaybackControl& pc = control();
  pc.deviceWatchdog.store(pc.deviceWatchdogReload.load(kRelaxed), kRelaxed);
  if (frames <= 0 || !buffer || !format) return;
  auto* out = static_cast<uint8_t*>(buffer);
  const bool stereo = format->channels == 2;
  if (!stereo || (formatCode != kInterleavedFloat32 && formatCode != kInterleavedInt16) ||
      !enter()) {
    // Only stereo float or 16-bit frames are rendered; anything else is
    // sent as silence rather than left as it was.
    std::memset(out, 0, size_t(frames) * format->blockAlign);
    zeroMeters(pc);
    return;
  }
  renderAll(Output{false, formatCode, out, nullptr}, frames, detail::resources().capacity);
  leave();
}
