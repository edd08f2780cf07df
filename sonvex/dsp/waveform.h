// Waveform summary kernels: per-chunk minimum/maximum of PCM, the DSD display
// filter, and the column plan. getAudioWaveForm (waveform.cpp) drives them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bytesource.h"
#include "sonvex.h"

namespace sonvex {

// Running extremes of one column, per channel, in unpacked units (full scale 1.0).
struct ChannelExtremes {
  double max[2] = {0.0, 0.0};
  double min[2] = {0.0, 0.0};
  void merge(const ChannelExtremes& o) {
    for (int c = 0; c < 2; ++c) {
      if (o.max[c] > max[c]) max[c] = o.max[c];
      if (o.min[c] < min[c]) min[c] = o.min[c];
    }
  }
};

// True when interleaved PCM of this shape can be unpacked: 16, 24, 32 (integer,
// or float with tag 3) and 64-bit float; one or two channels.
bool pcmShapeSupported(uint32_t bits, uint32_t channels);

// Folds `frames` interleaved PCM frames into `ext` with the unpacking scale
// (16-bit x 2^-15, 24-bit in bits 8..31 x 2^-31, 32-bit integer x 2^-31, float
// as is). A mono channel leaves the right channel's extremes alone. The
// extremes are taken on the raw words and scaled once, which gives the same
// result as scaling every sample because the scale is positive.
void pcmExtremes(const uint8_t* data, size_t frames, uint32_t bits, uint32_t channels,
                 uint32_t formatTag, ChannelExtremes* ext);

// Number of display-filter groups: the first 248 taps of the 255-tap table.
constexpr int kDisplayGroups = 31;
constexpr int kDisplayTaps = 255;
constexpr double kPcmDisplayScale = 0.8;
constexpr double kDsdDisplayScale = 1.6;

// The display filter: the first 31 groups of the 255-tap meter table at
// 0.9 * fs / 128, pre-scaled by 1.6 and held in single precision so the whole
// table (31 KB) stays in the first-level cache. Single precision moves a drawn
// value by less than 1e-6 of full scale. `table` holds 31 * 256 floats.
void buildDisplayTable(double sampleRate, float* table);

// Evaluates the display filter at every 16th one-bit sample of a channel:
// p = 0, 16, ... < frames, value = sum_g table[256 g + bytes[p / 8 + g]],
// and folds the values into channel `ch` of `ext`. `bytes` must hold
// frames / 8 + kDisplayGroups bytes.
void dsdExtremes(const float* table, const uint8_t* bytes, size_t frames, int ch,
                 ChannelExtremes* ext);

// Column plan: frames per column and the start of column j.
struct ColumnPlan {
  int64_t start = 0;  // S
  int64_t end = 0;    // E (exclusive)
  int64_t columns = 0;
  int64_t framesPerColumn = 0;  // W
  bool dsd = false;
  int64_t columnStart(int64_t j) const;
};

// Plans N columns over [start, end) of a file of totalFrames frames. The end
// is clamped to totalFrames - 255 (the display filter's reach). Returns false
// when nothing can be summarised (no columns, an empty or inverted range).
bool planColumns(int64_t start, int64_t end, int64_t totalFrames, int64_t columns, bool dsd,
                 ColumnPlan* plan);

// getAudioWaveForm over an open source of type code `type`: same results once
// the file is open.
[[nodiscard]] int32_t waveformSummary(ByteSource& src, int type, int64_t start, int64_t end,
                                      WaveLevels* levels, WaveColumns* maxOut, WaveColumns* minOut,
                                      uint8_t* cancelFlag, int32_t* progress);

}  // namespace sonvex
