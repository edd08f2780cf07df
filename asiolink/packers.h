// Pure conversions from what the render callback writes to what a card
// takes. No ALSA types here, so every layout is checkable against bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace asiolink {

// PCM containers a card may take; the renderer always writes Int32 (its
// full-precision result), these only drop or move bytes.
enum class PcmLayout { S32LE, S32BE, S24_3LE, S24_3BE, S24LE, S24BE, S16LE, S16BE };

[[nodiscard]] int pcmBytes(PcmLayout layout);
// Whether a container keeps all 24 DoP bits.
[[nodiscard]] bool carriesDop(PcmLayout layout);

// Interleaves two channels of 32-bit samples into `out` (frames x 2 x bytes).
void packPcm(const int32_t* left, const int32_t* right, size_t frames, PcmLayout layout,
             uint8_t* out);

// Native DSD: each channel is a byte stream, oldest bit in the MSB. A frame
// carries `wordBytes` (1, 2 or 4) per channel as one word whose MSB is the
// oldest bit, stored big- or little-endian.
void packDsd(const uint8_t* left, const uint8_t* right, size_t frames, int wordBytes,
             bool bigEndian, uint8_t* out);

// DSD over PCM: two DSD bytes per channel make one 24-bit word under a
// marker, left-justified in 32 bits for packPcm. `phase` counts frames over
// the whole life of the stream so markers alternate across blocks and
// restarts; returns the phase after the block.
[[nodiscard]] uint64_t packDop(const uint8_t* left, const uint8_t* right, size_t frames,
                               uint64_t phase, int32_t* outLeft, int32_t* outRight);

constexpr uint8_t kDopMarkerEven = 0x05;
constexpr uint8_t kDopMarkerOdd = 0xFA;
// The program's DSD idle byte (DC-free 1-bit silence).
constexpr uint8_t kDsdSilence = 0x96;

}  // namespace asiolink
