/* Part of sonvex.h; include that header instead.
 *
 * Waveform summaries, the meter filter and spectrum analysis. */
#pragma once

/* Column counts of a summary (caller-owned): coarse A, medium B, fine N.
 * One medium entry summarises N / B fine columns, one coarse entry N / A. */
typedef struct WaveLevels {
  int64_t coarseCount;
  int64_t mediumCount;
  int64_t columnCount;
} WaveLevels;

/* One entry: a value per channel (mono files leave right at 0). */
typedef struct WavePoint {
  double left;
  double right;
} WavePoint;

/* Three caller-owned arrays: coarse (A entries), medium (B), fine (N).
 * Natural C layout: three native pointers. */
typedef struct WaveColumns {
  WavePoint* coarse;
  WavePoint* medium;
  WavePoint* fine;
} WaveColumns;

#ifdef __cplusplus
static_assert(sizeof(WaveLevels) == 24, "WaveLevels is three int64");
static_assert(sizeof(WavePoint) == 16, "WavePoint is 16 bytes");
#endif

/* Summary error codes (besides kErrOpen, kErrWorkBuffer, kErrFormat,
 * kErrFormatChunk, kErrDataChunk and kErrNotSupported for WAV unpacking). */
enum {
  kErrWaveSeek = -13,       /* positioning failed five times in a row */
  kErrWaveRead = -14,       /* read error */
  kErrWaveMemory = -15,     /* no memory for the sample work buffers */
  kErrWaveDsfUnpack = -16,  /* DSF with a channel count other than 1 or 2 */
  kErrWaveDsdiffUnpack = -18, /* DSDIFF with a channel count other than 1 or 2 */
  kErrWaveCancelled = -31   /* the cancel flag was set */
};

/* Reads frames [start, end) of a file once and writes the maximum and the
 * minimum of every column at three resolutions. PCM is scaled by 0.8; DSD is
 * low-pass filtered for display and scaled by 1.6, so full scale draws at
 * 0.8 for both. The end is clamped to 255 frames before the file's end.
 * cancelFlag (may be null) is polled before every read; progress (two int32,
 * may be null) receives the index of the coarse entry just written.
 * Returns the number of fine columns (0 when there is nothing to summarise),
 * or a negative code. All state is per call: summaries may run concurrently. */
SONVEX_EXTERN_C SONVEX_API int32_t getAudioWaveForm(const SonvexChar* path, uint32_t startLow,
                                                    int32_t startHigh, uint32_t endLow,
                                                    int32_t endHigh, WaveLevels* levels,
                                                    WaveColumns* maxOut, WaveColumns* minOut,
                                                    uint8_t* cancelFlag, int32_t* progress);

/* Designs a Blackman-windowed low-pass of `taps` (odd) coefficients and turns
 * it into a byte lookup table of (taps / 8 + 1) groups of 256 doubles:
 * table[256 g + k] = sum over b of (bit 7-b of k ? +1 : -1) * c[8 g + b].
 * One-bit data (first sample in the MSB) is then filtered by summing one
 * entry per data byte and group. The result carries no meaning. */
SONVEX_EXTERN_C SONVEX_API int32_t setMeterFirParam(double sampleRate, double cutoffHz,
                                                    int32_t taps, double* table);

/* Builds the library-wide tables of an N-point FFT (N a power of two, at most
 * 32768) and its periodic Hann window. Not to be called while an analysis
 * runs. Returns 0 (-1 for an N outside the contract). */
SONVEX_EXTERN_C SONVEX_API int32_t initAnalyzingFFTparams(int32_t fftSize, int32_t sampleRate);

/* Hann-windowed magnitude spectra (full, mirrored, unnormalised) of two
 * channels of 32-bit integer samples. Needs initAnalyzingFFTparams with the
 * same N first. 0; -65, -66, -67 when a work array cannot be allocated; -68
 * when the FFT's scratch cannot be allocated (or N does not match the set-up).
 * analyzeFFTspectrum2 is the same function under a second name. */
SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum(int32_t fftSize, int32_t log2Size,
                                                      double* magnitudeLeft,
                                                      double* magnitudeRight,
                                                      const int32_t* samplesLeft,
                                                      const int32_t* samplesRight);
SONVEX_EXTERN_C SONVEX_API int32_t analyzeFFTspectrum2(int32_t fftSize, int32_t log2Size,
                                                       double* magnitudeLeft,
                                                       double* magnitudeRight,
                                                       const int32_t* samplesLeft,
                                                       const int32_t* samplesRight);
