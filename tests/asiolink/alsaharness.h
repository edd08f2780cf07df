// One ALSA configuration for the output tests: captures through ALSA's
// `file` plugin, over `null` (unpaced) or over the fake DAC (paced, picky).
// Installed before the first ALSA call of the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace alsatest {

// PCM names defined by the configuration; capture(name) is where each one
// writes what it played.
//   nullcap                   any format, any rate
//   dac_s24                   S24_3LE S32_BE at 44100 48000
//   dac_s24in32               S24_LE S16_LE at 44100
//   dac_dop                   S32_LE at 176400 352800 44100 (PCM only)
//   dac_u8 dac_u16le dac_u16be dac_u32le dac_u32be   one DSD layout at its DSD64 rate
//   dac_xrun                  S32_LE at 44100, underruns once after 4410 frames
//   dac_gone                  S32_LE at 44100, vanishes after 4410 frames
//   dac_busy                  always held by someone else
//   dac_float                 FLOAT_LE at 48000
void installConfig();
std::string capture(const std::string& pcm);
std::vector<uint8_t> readCapture(const std::string& pcm);

// Renderers with fixed content: PCM frame n (n < frames) is (n + 1) << 8 on
// the left and its negative on the right, then zeros; DSD byte k (k < bytes)
// of the left channel is 1 + k % 251, the right its complement, then idle.
struct Content {
  std::atomic<long> pcmFrames{0};
  std::atomic<long> dsdBytes{0};
  std::atomic<long> rendered{0};  // frames (PCM) or bytes (DSD) handed out so far
  std::atomic<int> sampleType{-1};
};
extern Content gContent;
void startContent(long pcmFrames, long dsdBytes);
void renderBlock(int unused, int sampleType, int frames, void* left, void* right);
// Waits (bounded) until the renderer has handed out `amount`.
bool waitRendered(long amount);

// Left channel of a stereo capture of `bytes`-byte samples, shifted left
// by `shift` (8 for 24-bit samples) back to 32 bits.
std::vector<int32_t> leftSamples(const std::vector<uint8_t>& capture, int bytes, bool bigEndian,
                                 int shift);
// A lead-in of silence no shorter than `leadIn`, then content frame n equal to
// (n + 1) x step without gap or repeat, then only silence.
void expectPcmContent(const std::vector<int32_t>& left, long frames, long leadIn, int32_t step);

inline uint8_t dsdLeft(long k) { return static_cast<uint8_t>(1 + k % 251); }
inline uint8_t dsdRight(long k) { return static_cast<uint8_t>(~dsdLeft(k)); }

}  // namespace alsatest
