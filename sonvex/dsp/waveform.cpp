#include "waveform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "audioreader.h"
#include "diag.h"
#include "extension.h"
#include "fileio.h"
#include "guard.h"
#include "meterfilter.h"
#include "sonvex.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sonvex {

bool pcmShapeSupported(uint32_t bits, uint32_t channels) {
  return (channels == 1 || channels == 2) &&
         (bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64);
}

namespace {

constexpr double kScale15 = 1.0 / 32768.0;
constexpr double kScale31 = 1.0 / 2147483648.0;

template <typename T>
struct Extremes {
  T max[2];
  T min[2];
};

// Interleaved 16-bit: lanes alternate left/right, so eight-lane vectors keep
// the channel in the lane's parity.
void extremes16(const uint8_t* data, size_t frames, uint32_t channels, int32_t mx[2],
                int32_t mn[2]) {
  const size_t samples = frames * channels;
  int16_t vmax[8], vmin[8];
  for (int i = 0; i < 8; ++i) vmax[i] = vmin[i] = 0;
  size_t i = 0;
#if defined(__SSE2__)
  __m128i amax = _mm_setzero_si128(), amin = _mm_setzero_si128();
  for (; i + 8 <= samples; i += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * i));
    amax = _mm_max_epi16(amax, v);
    amin = _mm_min_epi16(amin, v);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(vmax), amax);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(vmin), amin);
#endif
  for (int c = 0; c < 2; ++c) mx[c] = mn[c] = 0;
  for (int lane = 0; lane < 8; ++lane) {
    const int c = channels == 2 ? (lane & 1) : 0;
    mx[c] = std::max<int32_t>(mx[c], vmax[lane]);
    mn[c] = std::min<int32_t>(mn[c], vmin[lane]);
  }
  for (; i < samples; ++i) {
    const int c = channels == 2 ? int(i & 1) : 0;
    const int16_t v = int16_t(uint16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    mx[c] = std::max<int32_t>(mx[c], v);
    mn[c] = std::min<int32_t>(mn[c], v);
  }
}

void extremes24(const uint8_t* data, size_t frames, uint32_t channels, int32_t mx[2],
                int32_t mn[2]) {
  int32_t a[2] = {0, 0}, b[2] = {0, 0};
  const size_t samples = frames * channels;
  if (channels == 2) {
    for (size_t i = 0; i < frames; ++i) {
      const uint8_t* p = data + 6 * i;
      const int32_t l = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
      const int32_t r = int32_t(uint32_t(p[3]) << 8 | uint32_t(p[4]) << 16 | uint32_t(p[5]) << 24);
      a[0] = std::max(a[0], l);
      b[0] = std::min(b[0], l);
      a[1] = std::max(a[1], r);
      b[1] = std::min(b[1], r);
    }
  } else {
    for (size_t i = 0; i < samples; ++i) {
      const uint8_t* p = data + 3 * i;
      const int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
      a[0] = std::max(a[0], v);
      b[0] = std::min(b[0], v);
    }
  }
  for (int c = 0; c < 2; ++c) {
    mx[c] = a[c];
    mn[c] = b[c];
  }
}

template <typename T>
void extremesWords(const uint8_t* data, size_t frames, uint32_t channels, T mx[2], T mn[2]) {
  for (int c = 0; c < 2; ++c) mx[c] = mn[c] = T(0);
  const size_t samples = frames * channels;
  for (size_t i = 0; i < samples; ++i) {
    T v;
    std::memcpy(&v, data + sizeof(T) * i, sizeof(T));
    const int c = channels == 2 ? int(i & 1) : 0;
    // NaN compares false both ways and is skipped.
    if (v > mx[c]) mx[c] = v;
    if (v < mn[c]) mn[c] = v;
  }
}

}  // namespace

void pcmExtremes(const uint8_t* data, size_t frames, uint32_t bits, uint32_t channels,
                 uint32_t formatTag, ChannelExtremes* ext) {
  if (!frames || !pcmShapeSupported(bits, channels)) return;
  ChannelExtremes chunk;
  if (bits == 8) {
    // Unsigned, offset by 128, as 8-bit WAV and FLAC read.
    int mx[2] = {0, 0}, mn[2] = {0, 0};
    for (size_t i = 0; i < frames * channels; ++i) {
      const int c = channels == 2 ? int(i & 1) : 0, v = int(data[i]) - 128;
      mx[c] = std::max(mx[c], v);
      mn[c] = std::min(mn[c], v);
    }
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c] / 128.0;
      chunk.min[c] = mn[c] / 128.0;
    }
  } else if (bits == 16) {
    int32_t mx[2], mn[2];
    extremes16(data, frames, channels, mx, mn);
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c] * kScale15;
      chunk.min[c] = mn[c] * kScale15;
    }
  } else if (bits == 24) {
    int32_t mx[2], mn[2];
    extremes24(data, frames, channels, mx, mn);
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c] * kScale31;
      chunk.min[c] = mn[c] * kScale31;
    }
  } else if (bits == 32 && formatTag == 3) {
    float mx[2], mn[2];
    extremesWords<float>(data, frames, channels, mx, mn);
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c];
      chunk.min[c] = mn[c];
    }
  } else if (bits == 32) {
    int32_t mx[2], mn[2];
    extremesWords<int32_t>(data, frames, channels, mx, mn);
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c] * kScale31;
      chunk.min[c] = mn[c] * kScale31;
    }
  } else {
    double mx[2], mn[2];
    extremesWords<double>(data, frames, channels, mx, mn);
    for (int c = 0; c < 2; ++c) {
      chunk.max[c] = mx[c];
      chunk.min[c] = mn[c];
    }
  }
  ext->merge(chunk);
}

void buildDisplayTable(double sampleRate, float* table) {
  std::vector<double> t(meterTableSize(kDisplayTaps));
  buildMeterTable(sampleRate, 0.9 * sampleRate * 0.0078125, kDisplayTaps, t.data());
  for (size_t i = 0; i < size_t(kDisplayGroups) * 256; ++i)
    table[i] = float(kDsdDisplayScale * t[i]);
}

void dsdExtremes(const float* table, const uint8_t* bytes, size_t frames, int ch,
                 ChannelExtremes* ext) {
  float mx = float(ext->max[ch]), mn = float(ext->min[ch]);
  for (size_t p = 0; p < frames; p += 16) {
    const uint8_t* b = bytes + p / 8;
    // Independent partial sums; the table (31 KB) stays in the first-level cache.
    float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    size_t g = 0;
    for (; g + 4 <= size_t(kDisplayGroups); g += 4) {
      const float* t = table + 256 * g;
      s0 += t[b[g]];
      s1 += t[256 + b[g + 1]];
      s2 += t[512 + b[g + 2]];
      s3 += t[768 + b[g + 3]];
    }
    for (; g < size_t(kDisplayGroups); ++g) s0 += table[256 * g + b[g]];
    const float v = (s0 + s1) + (s2 + s3);
    mx = v > mx ? v : mx;
    mn = v < mn ? v : mn;
  }
  ext->max[ch] = mx;
  ext->min[ch] = mn;
}

int64_t ColumnPlan::columnStart(int64_t j) const {
  // 128-bit product: (E - S) * j can pass 2^63 on long DSD files.
  const __int128 span = __int128(end - start) * j / columns;
  int64_t c = start + int64_t(span);
  if (dsd) c = (c + 7) & ~int64_t(7);
  return c;
}

bool planColumns(int64_t start, int64_t end, int64_t totalFrames, int64_t columns, bool dsd,
                 ColumnPlan* plan) {
  if (columns <= 0 || start < 0 || totalFrames <= 0) return false;
  const int64_t limit = totalFrames - kDisplayTaps;
  if (end > limit) end = limit;
  if (end <= start) return false;
  const int64_t span = end - start;
  int64_t w = span / columns + (span % columns ? 1 : 0);
  if (dsd) w = (w + 7) & ~int64_t(7);
  if (w == 0) w = 1;
  plan->start = start;
  plan->end = end;
  plan->columns = columns;
  plan->framesPerColumn = w;
  plan->dsd = dsd;
  return true;
}

namespace {

constexpr size_t kReadBytes = 1024000;
constexpr int kLookAheadBytes = 32;
constexpr int kSeekAttempts = 5;  // the summary's reads retry a failed seek

struct AlignedFree {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using AlignedPtr = std::unique_ptr<T, AlignedFree>;

template <typename T>
AlignedPtr<T> allocAligned(size_t count) {
  const size_t bytes = ((count * sizeof(T) + 15) / 16) * 16;
  return AlignedPtr<T>(static_cast<T*>(std::aligned_alloc(16, bytes ? bytes : 16)));
}

bool cancelled(const uint8_t* flag) { return flag && __atomic_load_n(flag, __ATOMIC_RELAXED) == 1; }

int32_t readFailure(ReadStatus r) {
  switch (r) {
    case ReadStatus::SeekFailed:
      return kErrWaveSeek;
    case ReadStatus::OutOfMemory:
      return kErrWaveMemory;
    case ReadStatus::Unsupported:
      return kErrNotSupported;
    default:
      return kErrWaveRead;
  }
}

// Group bookkeeping for the medium and coarse arrays: an entry is written
// after every `every` columns. Entries never go past the array's end: once the
// last one is reached it keeps absorbing the remaining groups.
struct GroupLevel {
  WavePoint* maxOut = nullptr;
  WavePoint* minOut = nullptr;
  int64_t entries = 0;
  int64_t every = 0;
  int64_t next = 0;
  int64_t counted = 0;
  ChannelExtremes ext;

  static GroupLevel make(WavePoint* maxOut, WavePoint* minOut, int64_t entries, int64_t columns) {
    GroupLevel g;
    g.maxOut = maxOut;
    g.minOut = minOut;
    g.entries = entries;
    g.every = entries > 0 ? columns / entries : 0;
    return g;
  }

  // Returns the index written, or -1 when this column completes no entry.
  int64_t add(const ChannelExtremes& column) {
    if (every <= 0 || entries <= 0) return -1;
    ext.merge(column);
    if (++counted < every) return -1;
    counted = 0;
    const int64_t at = next;
    if (maxOut) maxOut[at] = {ext.max[0], ext.max[1]};
    if (minOut) minOut[at] = {ext.min[0], ext.min[1]};
    if (next + 1 < entries) {
      ++next;
      ext = ChannelExtremes();
    }
    return at;
  }
};

}  // namespace

int32_t waveformSummary(ByteSource& src, int type, int64_t start, int64_t end, WaveLevels* levels,
                        WaveColumns* maxOut, WaveColumns* minOut, uint8_t* cancelFlag,
                        int32_t* progress) {
  if (!levels) return kErrOpen;
  const int64_t n = levels->columnCount;
  if (n <= 0) return 0;

  AudioFormat format;
  std::unique_ptr<AudioReader> reader;
  if (const int32_t failed =
          openFailureCode(openAudio(src, type, &format, &reader), kErrWaveMemory))
    return failed;
  const bool dsd = format.dsd();
  const uint32_t channels = format.channels;
  // WAV frames are block align bytes; samples decode at their stated width.
  const uint32_t bits = format.sampleBits();
  if (dsd && channels != 1 && channels != 2) {
    if (type == kFileTypeDsf) {
      diag("ch is not 1 or 2  %d\n", int(channels));
      return kErrWaveDsfUnpack;
    }
    diag("DSDIFF to DSD Error!\n");
    return kErrWaveDsdiffUnpack;
  }
  if (!dsd && !pcmShapeSupported(bits, channels)) return kErrNotSupported;
  const int64_t totalFrames = reader->frames();

  ColumnPlan plan;
  if (!planColumns(start, end, totalFrames, n, dsd, &plan)) return 0;

  std::vector<float> table;
  const int64_t chunkFrames =
      dsd ? int64_t(2048000 / channels) : int64_t(8192000 / (format.storedBits() * channels));
  AlignedPtr<uint8_t> channelBytes[2];
  if (dsd) {
    table.resize(size_t(kDisplayGroups) * 256);
    buildDisplayTable(format.sampleRate, table.data());
    for (auto& b : channelBytes) {
      b = allocAligned<uint8_t>(size_t(chunkFrames / 8 + kLookAheadBytes));
      if (!b) return kErrWaveMemory;
    }
  }
  // PCM frames in their containers; DSD readers keep their own buffers.
  AlignedPtr<uint8_t> scratch = allocAligned<uint8_t>(dsd ? 0 : kReadBytes);
  if (!scratch) return kErrWorkBuffer;

  GroupLevel medium = GroupLevel::make(maxOut ? maxOut->medium : nullptr,
                                       minOut ? minOut->medium : nullptr, levels->mediumCount, n);
  GroupLevel coarse = GroupLevel::make(maxOut ? maxOut->coarse : nullptr,
                                       minOut ? minOut->coarse : nullptr, levels->coarseCount, n);
  const uint32_t frameBytes = dsd ? 0 : bits / 8 * channels;

  // Columns follow each other through the file, so whole chunks are read once
  // and served to as many columns as they cover: with thousands of columns
  // per second of audio the file is still read sequentially, a chunk at a time.
  int64_t winFirst = -1;  // PCM: first frame held; DSD: first per-channel byte held
  int64_t winCount = 0;   // PCM: frames held; DSD: real bytes held per channel
  const int64_t dsdCapacity = chunkFrames / 8 + kLookAheadBytes;
  uint8_t* const out[2] = {channelBytes[0].get(), channelBytes[1].get()};

  for (int64_t j = 0; j < n; ++j) {
    ChannelExtremes col;
    const int64_t c = plan.columnStart(j);
    int64_t done = 0;
    while (done < plan.framesPerColumn) {
      const int64_t pos = c + done;
      int64_t want = std::min(chunkFrames, plan.framesPerColumn - done);
      if (dsd) {
        const int64_t first = pos / 8;
        const int64_t need = want / 8 + kLookAheadBytes;
        if (winFirst < 0 || first < winFirst || first + need > winFirst + dsdCapacity) {
          if (cancelled(cancelFlag)) return kErrWaveCancelled;
          int64_t got = 0;
          reader->seek(first * 8);
          const ReadStatus r = reader->readDsd(out, size_t(dsdCapacity), &got);
          if (r != ReadStatus::Ok) return readFailure(r);
          winFirst = first;
          winCount = got;
        }
        const int64_t real = winFirst + winCount - first;
        if (real <= 0) break;
        const size_t frames = size_t(std::min<int64_t>(want, real * 8));
        for (uint32_t ch = 0; ch < channels; ++ch)
          dsdExtremes(table.data(), out[ch] + (first - winFirst), frames, int(ch), &col);
        done += want;
      } else {
        // Never read past the audio into trailing chunks.
        want = std::min<int64_t>(want, totalFrames - pos);
        if (want <= 0) break;
        if (winFirst < 0 || pos < winFirst || pos + want > winFirst + winCount) {
          if (cancelled(cancelFlag)) return kErrWaveCancelled;
          const int64_t frames = std::min<int64_t>(chunkFrames, totalFrames - pos);
          int64_t got = 0;
          reader->seek(pos);
          const ReadStatus r = reader->readPcm(scratch.get(), frames, &got);
          if (r != ReadStatus::Ok) return readFailure(r);
          winFirst = pos;
          winCount = got;
        }
        const int64_t take = std::min(want, winFirst + winCount - pos);
        if (take <= 0) break;
        pcmExtremes(scratch.get() + size_t(pos - winFirst) * frameBytes, size_t(take), bits,
                    channels, format.formatTag, &col);
        done += take;
        if (take < want) break;  // the file ended early
      }
    }
    if (!dsd)
      for (int ch = 0; ch < 2; ++ch) {
        col.max[ch] *= kPcmDisplayScale;
        col.min[ch] *= kPcmDisplayScale;
      }
    if (maxOut && maxOut->fine) maxOut->fine[j] = {col.max[0], col.max[1]};
    if (minOut && minOut->fine) minOut->fine[j] = {col.min[0], col.min[1]};
    medium.add(col);
    const int64_t written = coarse.add(col);
    if (written >= 0 && progress) {
      // Release: a reader that sees the index also sees the entries before it.
      __atomic_store_n(&progress[1], int32_t(written >> 32), __ATOMIC_RELAXED);
      __atomic_store_n(&progress[0], int32_t(written), __ATOMIC_RELEASE);
    }
  }
  return int32_t(std::min<int64_t>(n, INT32_MAX));
}

int32_t waveformSummary(const char16_t* path, int64_t start, int64_t end, WaveLevels* levels,
                        WaveColumns* maxOut, WaveColumns* minOut, uint8_t* cancelFlag,
                        int32_t* progress) {
  if (!path || !levels) return kErrOpen;
  if (levels->columnCount <= 0) return 0;
  FilePtr file = openFile(path, "rb");
  if (!file) {
    diag("Write File Open Error!\n");
    return kErrOpen;
  }
  const int type = fileTypeFromPath(path);
  if (type < 0) {
    diag("Check Header Error!\n");
    return kErrFormat;
  }
  FileSource src(file.get(), kSeekAttempts);
  return waveformSummary(src, type, start, end, levels, maxOut, minOut, cancelFlag, progress);
}

}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t getAudioWaveForm(const SonvexChar* path, uint32_t startLow,
                                                    int32_t startHigh, uint32_t endLow,
                                                    int32_t endHigh, WaveLevels* levels,
                                                    WaveColumns* maxOut, WaveColumns* minOut,
                                                    uint8_t* cancelFlag, int32_t* progress) {
  const int64_t start = int64_t((uint64_t(uint32_t(startHigh)) << 32) | startLow);
  const int64_t end = int64_t((uint64_t(uint32_t(endHigh)) << 32) | endLow);
  return sonvex::guarded(kErrWaveMemory, kErrIo, [&] {
    return sonvex::waveformSummary(path, start, end, levels, maxOut, minOut, cancelFlag, progress);
  });
}
