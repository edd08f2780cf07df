#include "waveform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "bitreverse.h"
#include "diag.h"
#include "driver.h"
#include "extension.h"
#include "fileio.h"
#include "meterfilter.h"
#include "sonvex.h"
#include "wav.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sonvex {

bool pcmShapeSupported(uint32_t bits, uint32_t channels) {
  return (channels == 1 || channels == 2) && (bits == 16 || bits == 24 || bits == 32 || bits == 64);
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
  if (bits == 16) {
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
constexpr int kSeekAttempts = 5;
constexpr int kLookAheadBytes = 32;

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

// Positions with the bounded retries the summary allows.
bool seekWithRetry(FILE* f, uint64_t offset) {
  for (int i = 0; i < kSeekAttempts; ++i)
    if (seek64(f, offset) == 0) return true;
  return false;
}

struct Source {
  FILE* file = nullptr;
  int type = 0;
  uint32_t rate = 0, bits = 0, channels = 0;
  uint16_t tag = 0;
  uint64_t dataOffset = 0, audioBytes = 0;
  int64_t frames = 0;
  WavSampleLayout wav;  // PCM: samples in wider containers
  bool dsd() const { return type == kFileTypeDsf || type == kFileTypeDsdiff; }
  uint64_t bytesPerChannel() const { return audioBytes / channels; }
};

// Reads `count` bytes of every channel from per-channel byte `first` on, into
// out[c] (MSB-first). Bytes beyond the channel's audio become the idle
// pattern, so the display filter's look-ahead never reads trailing chunks.
// Returns the number of real bytes per channel read, or a negative code.
int64_t readDsdBytes(const Source& src, uint64_t first, size_t count, uint8_t* scratch,
                     uint8_t* out[2]) {
  const uint32_t n = src.channels;
  const uint64_t perChannel = src.bytesPerChannel();
  for (uint32_t c = 0; c < 2; ++c) std::memset(out[c], 0x96, count);
  if (first >= perChannel) return 0;
  const size_t real = size_t(std::min<uint64_t>(count, perChannel - first));
  if (src.type == kFileTypeDsdiff) {
    // Channels alternate byte by byte.
    if (!seekWithRetry(src.file, src.dataOffset + first * n)) return kErrWaveSeek;
    const size_t want = real * n;
    const size_t got = std::fread(scratch, 1, want, src.file);
    if (got < want && std::ferror(src.file)) return kErrWaveRead;
    const size_t frames = got / n;
    for (size_t i = 0; i < frames; ++i)
      for (uint32_t c = 0; c < n; ++c) out[c][i] = scratch[i * n + c];
    return int64_t(frames);
  }
  // DSF: 4096-byte blocks per channel, grouped; bits stored LSB first.
  const uint64_t block = 4096;
  const uint64_t g0 = first / block;
  const uint64_t g1 = (first + real - 1) / block;
  const size_t groups = size_t(g1 - g0 + 1);
  if (!seekWithRetry(src.file, src.dataOffset + g0 * n * block)) return kErrWaveSeek;
  const size_t want = groups * n * block;
  const size_t got = std::fread(scratch, 1, want, src.file);
  if (got < want && std::ferror(src.file)) return kErrWaveRead;
  // Copy block segment by block segment: each channel's bytes are contiguous
  // inside a block.
  size_t done = 0;
  while (done < real) {
    const uint64_t b = first + done;
    const size_t at = size_t((b / block - g0) * n * block + (b % block));
    const size_t run = std::min<size_t>(real - done, size_t(block - b % block));
    if (at + (n - 1) * block + run > got) break;
    for (uint32_t c = 0; c < n; ++c) {
      const uint8_t* in = scratch + at + c * block;
      uint8_t* o = out[c] + done;
      for (size_t k = 0; k < run; ++k) o[k] = kBitReverse[in[k]];
    }
    done += run;
  }
  return int64_t(done);
}

int openSource(const char16_t* path, FilePtr* file, Source* src) {
  *file = openFile(path, "rb");
  if (!*file) {
    diag("Write File Open Error!\n");
    return kErrOpen;
  }
  const int type = fileTypeFromPath(path);
  int kind = 0;
  if (type < 0 || dispatchProbe(type, file->get(), &kind) != 0) {
    diag("Check Header Error!\n");
    return kErrFormat;
  }
  src->file = file->get();
  src->type = type;
  if (dispatchReadFormat(type, src->file, &src->rate, &src->bits, &src->channels, &src->tag) != 0) {
    diag("Search FMT Chunk Error!\n");
    return kErrFormatChunk;
  }
  uint64_t chunkSize = 0;
  if (dispatchLocateData(type, src->file, &src->dataOffset, &chunkSize, &src->audioBytes) != 0) {
    diag("Search DATA Chunk Error!\n");
    return kErrDataChunk;
  }
  // DSD is one bit per sample whatever the header's bits field claims; a
  // wild value there would otherwise size the read chunks to nothing.
  if (src->dsd()) src->bits = 1;
  // WAV frames are block align bytes; samples decode at their stated width.
  uint32_t rawBits = src->bits;
  if (type == kFileTypeWav && wavSampleLayout(src->file, &src->wav) == 0) {
    src->bits = src->wav.sampleBytes * 8;
    rawBits = src->wav.containerBytes * 8;
  }
  // A header with no channels or bits describes no frames: nothing to divide by.
  if (src->bits == 0 || src->channels == 0 || (src->bits % 8 != 0 && !src->dsd())) {
    src->frames = 0;
  } else {
    const unsigned __int128 frames =
        (unsigned __int128)src->audioBytes * 8 / (uint64_t(rawBits) * src->channels);
    src->frames = frames > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(frames);
  }
  return 0;
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

int32_t waveformSummary(const char16_t* path, int64_t start, int64_t end, WaveLevels* levels,
                        WaveColumns* maxOut, WaveColumns* minOut, uint8_t* cancelFlag,
                        int32_t* progress) {
  if (!path || !levels) return kErrOpen;
  const int64_t n = levels->columnCount;
  if (n <= 0) return 0;

  FilePtr file;
  Source src;
  if (const int rc = openSource(path, &file, &src); rc != 0) return rc;

  const bool dsd = src.dsd();
  if (dsd && src.channels != 1 && src.channels != 2) {
    if (src.type == kFileTypeDsf) {
      diag("ch is not 1 or 2  %d\n", int(src.channels));
      return kErrWaveDsfUnpack;
    }
    diag("DSDIFF to DSD Error!\n");
    return kErrWaveDsdiffUnpack;
  }
  if (!dsd && !pcmShapeSupported(src.bits, src.channels)) return kErrNotSupported;

  ColumnPlan plan;
  if (!planColumns(start, end, src.frames, n, dsd, &plan)) return 0;

  std::vector<float> table;
  const int64_t chunkFrames =
      dsd ? int64_t(2048000 / (src.bits * src.channels))
          : int64_t(8192000 / (std::max(src.bits, src.wav.containerBytes * 8) * src.channels));
  AlignedPtr<uint8_t> channelBytes[2];
  if (dsd) {
    table.resize(size_t(kDisplayGroups) * 256);
    buildDisplayTable(src.rate, table.data());
    for (auto& b : channelBytes) {
      b = allocAligned<uint8_t>(size_t(chunkFrames / 8 + kLookAheadBytes));
      if (!b) return kErrWaveMemory;
    }
  }
  // The read buffer; DSF reads whole block groups, so it has room for the
  // blocks a chunk may straddle.
  const size_t scratchBytes =
      dsd ? size_t((chunkFrames / 8 + kLookAheadBytes) / 4096 + 2) * 4096 * src.channels
          : kReadBytes;
  AlignedPtr<uint8_t> scratch = allocAligned<uint8_t>(scratchBytes);
  if (!scratch) return kErrWorkBuffer;

  GroupLevel medium = GroupLevel::make(maxOut ? maxOut->medium : nullptr,
                                       minOut ? minOut->medium : nullptr, levels->mediumCount, n);
  GroupLevel coarse = GroupLevel::make(maxOut ? maxOut->coarse : nullptr,
                                       minOut ? minOut->coarse : nullptr, levels->coarseCount, n);
  const uint32_t frameBytes = dsd ? 0 : src.bits / 8 * src.channels;
  const uint32_t rawFrameBytes =
      dsd ? 0 : (src.wav.padded() ? src.wav.containerBytes * src.channels : frameBytes);

  // Columns follow each other through the file, so whole chunks are read once
  // and served to as many columns as they cover: with thousands of columns
  // per second of audio the file is still read sequentially, a chunk at a time.
  int64_t winFirst = -1;  // PCM: first frame held; DSD: first per-channel byte held
  int64_t winCount = 0;   // PCM: frames held; DSD: real bytes held per channel
  const int64_t dsdCapacity = chunkFrames / 8 + kLookAheadBytes;
  uint8_t* out[2] = {channelBytes[0].get(), channelBytes[1].get()};

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
          const int64_t got =
              readDsdBytes(src, uint64_t(first), size_t(dsdCapacity), scratch.get(), out);
          if (got < 0) return int32_t(got);
          winFirst = first;
          winCount = got;
        }
        const int64_t real = winFirst + winCount - first;
        if (real <= 0) break;
        const size_t frames = size_t(std::min<int64_t>(want, real * 8));
        for (uint32_t ch = 0; ch < src.channels; ++ch)
          dsdExtremes(table.data(), out[ch] + (first - winFirst), frames, int(ch), &col);
        done += want;
      } else {
        // Never read past the audio into trailing chunks.
        want = std::min<int64_t>(want, src.frames - pos);
        if (want <= 0) break;
        if (winFirst < 0 || pos < winFirst || pos + want > winFirst + winCount) {
          if (cancelled(cancelFlag)) return kErrWaveCancelled;
          const int64_t frames = std::min<int64_t>(chunkFrames, src.frames - pos);
          if (!seekWithRetry(src.file, src.dataOffset + uint64_t(pos) * rawFrameBytes))
            return kErrWaveSeek;
          const size_t got = std::fread(scratch.get(), 1, size_t(frames) * rawFrameBytes, src.file);
          if (got < size_t(frames) * rawFrameBytes && std::ferror(src.file)) return kErrWaveRead;
          winFirst = pos;
          winCount = int64_t(got / rawFrameBytes);
          wavPackFrames(scratch.get(), size_t(winCount), src.channels, src.wav);
        }
        const int64_t take = std::min(want, winFirst + winCount - pos);
        if (take <= 0) break;
        pcmExtremes(scratch.get() + size_t(pos - winFirst) * frameBytes, size_t(take), src.bits,
                    src.channels, src.tag, &col);
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

}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t getAudioWaveForm(const SonvexChar* path, uint32_t startLow,
                                                    int32_t startHigh, uint32_t endLow,
                                                    int32_t endHigh, WaveLevels* levels,
                                                    WaveColumns* maxOut, WaveColumns* minOut,
                                                    uint8_t* cancelFlag, int32_t* progress) {
  const int64_t start = int64_t((uint64_t(uint32_t(startHigh)) << 32) | startLow);
  const int64_t end = int64_t((uint64_t(uint32_t(endHigh)) << 32) | endLow);
  return sonvex::waveformSummary(path, start, end, levels, maxOut, minOut, cancelFlag, progress);
}
