/* Part of sonvex.h; include that header instead.
 *
 * The conversion engine `sonvexert`: one source file (WAV/RF64, DSF, DSDIFF, FLAC)
 * trimmed, rate-converted, levelled, matrixed and (export only) equalised,
 * then either written to a new file (export) or handed block by block to the
 * caller (stream).
 *
 * Layouts on 64-bit (natural C layout; pointers are 8 bytes):
 *   ConvertFormat  40 bytes: rateIndex 0, fileType 4, holdInterpolation 8,
 *                  bitsPerSample 12, unused 16, (pad 20), progress 24,
 *                  channels 32, filterMethod 36.
 *   ChannelMatrix  32 bytes: m[0..3] at 0, 8, 16, 24.
 *   ConvertRange   40 bytes: statusWord 0, reserved 4, startFrame 8,
 *                  endFrame 16, eq 24, levelActive 32, (pad 33..39).
 *   LevelPoint     32 bytes: position 0, level 8, increment 16, shape 24,
 *                  padding 28.
 *   EqBand         48 bytes: on 0, (pad 4), gainDb 8, frequency 16, q 24,
 *                  type 32, (pad 36), biquad 40.
 *   EqSettings    216 bytes: band[4] 0, totalGainDb 192, totalGain 200,
 *                  masterOn 208.
 * On 32-bit platforms the same fields in the same order give the packed
 * 32-bit layouts (ConvertFormat eight words, ConvertRange 32 bytes).
 *
 * Re-entrancy: every piece of conversion state (DSF block assembler, level
 * bookkeeping, pass-through permission, modulator) lives inside one call, so
 * conversions on different threads do not disturb each other. The caller's
 * records are shared only through `statusWord` and the progress int, which
 * the library updates with atomic stores. */
#pragma once

#include <stdint.h>

/* Output rate codes: an index into a 32-entry table. Entries not listed hold 1
 * and are rejected by the conversion. A rate of 2822400 or more is DSD. */
enum {
  kRate44100 = 0,
  kRate48000 = 1,
  kRate88200 = 2,
  kRate96000 = 3,
  kRate176400 = 4,
  kRate192000 = 5,
  kRate352800 = 6,
  kRate384000 = 7,
  kRateDsd64 = 16,  /* 2822400 */
  kRateDsd128 = 17, /* 5644800 */
  kRateDsd256 = 18, /* 11289600 */
  kRateDsd512 = 19, /* 22579200 */
  kRateTableSize = 32
};
#define SONVEX_DSD_RATE_MIN 2822400u

/* Rate in Hz for a rate code; 1 for unused codes, 0 outside 0..31. Shared by
 * the library and the program (header-only, not an export). */
static inline uint32_t sonvexRateForCode(int32_t code) {
  static const uint32_t kRates[kRateTableSize] = {
      44100,   48000,   88200,    96000,    176400, 192000, 352800, 384000, 1, 1, 1, 1, 1, 1, 1, 1,
      2822400, 5644800, 11289600, 22579200, 1,      1,      1,      1,      1, 1, 1, 1, 1, 1, 1, 1};
  return (code >= 0 && code < kRateTableSize) ? kRates[code] : 0u;
}

/* Output format and options. */
typedef struct ConvertFormat {
  int32_t rateIndex;         /* output rate code (table above) */
  int32_t fileType;          /* 0 WAV/RF64 PCM, 2 DSF, 3 DSDIFF (2, 3: 1-bit output),
                                4 FLAC (16 or 24 bits, PCM rates only) */
  int32_t holdInterpolation; /* 1 = repeat/pick frames without a filter */
  int32_t bitsPerSample;     /* low 16 bits: 16, 24 (integer), 32 (float), 1 (DSD) */
  int32_t unused;            /* not read */
  int32_t* progress;         /* receives 0..100 (atomic stores); may be null */
  int32_t channels;          /* low 16 bits: 1 or 2 */
  int32_t filterMethod;      /* 2 = 32767-tap FIR, 3 = FFT convolution, else by rates */
} ConvertFormat;

/* outL = g (m[0] inL + m[2] inR), outR = g (m[1] inL + m[3] inR). */
typedef struct ChannelMatrix {
  double m[4];
} ChannelMatrix;

/* One stereo biquad band: 18 doubles at `biquad` (16-byte aligned) hold the
 * pairs (left, right) c1, c2, b0, b1, b2, x[n-1], x[n-2], y[n-1], y[n-2]. The
 * conversion runs each band whose `on` is 1 and updates the state pairs. */
typedef struct EqBand {
  int32_t on;
  double gainDb;
  double frequency;
  double q;
  int32_t type; /* 1 = low shelf, else peaking */
  double* biquad;
} EqBand;

/* The program's EQ block. The conversion runs bands 4, 3, 2, 1 (band[3]
 * first) in export mode. A null `masterOn` counts as a switch that is off. */
typedef struct EqSettings {
  EqBand band[4];
  double totalGainDb;
  double totalGain;
  uint8_t* masterOn; /* 1 = EQ on */
} EqSettings;

/* Range and mode. statusWord exactly 1 = export, anything else = stream. On
 * normal completion the library ORs kConvertEndOfSource into statusWord. A
 * null `eq` means no EQ and a master switch that is off. */
typedef struct ConvertRange {
  int32_t statusWord;
  int32_t reserved;
  int64_t startFrame; /* first source frame */
  int64_t endFrame;   /* source frame where conversion ends (exclusive) */
  EqSettings* eq;
  uint8_t levelActive; /* 1 = the envelope changes the level: forces DSD re-modulation */
} ConvertRange;

enum { kConvertExportMode = 1, kConvertEndOfSource = 0x10000 };

/* Level envelope point; up to 10 form the envelope, which ends at the tenth
 * point or the first negative position. */
typedef struct LevelPoint {
  int64_t position; /* output frame at which the segment begins */
  double level;     /* linear level at the point */
  double increment; /* level change per output frame in a ramp segment */
  int32_t shape;    /* 1 or -1 = ramp, else hold */
  int32_t padding;
} LevelPoint;

enum { kLevelPointMax = 10 };

/* Called once per finished block on the converting thread.
 *   positionLow/High  output frames produced so far including this block
 *   frames            frames in this block
 *   capacity          frames per ring slot
 *   slot              0..63, the slot holding this block
 *   slotBytes         PCM output: capacity x 16; DSD output: (capacity + 7) / 8
 *   pcmSlots          64 pointers; a slot holds interleaved L/R doubles,
 *                     16-byte aligned (DSD output rates: at 2^54 x signal)
 *   dsdSlots          64 x 2 pointers (L, R): 1-bit data, first frame in the
 *                     most significant bit (export DSD output; in stream mode
 *                     the source bytes when a DSD source keeps its rate)
 *   filterTaps        conversion filter length for a rate-converted DSD
 *                     source, else 0
 * The slots are owned by the library; a slot is rewritten 64 blocks later.
 * Return >= 0 to continue, < 0 to stop the conversion. */
typedef int32_t (*BlockCallback)(uint32_t positionLow, uint32_t positionHigh, int32_t frames,
                                 int32_t capacity, int32_t slot, int32_t slotBytes,
                                 double** pcmSlots, uint8_t** dsdSlots, int32_t filterTaps);

/* Called at the end: repeatedly until non-zero after a normal end (the ring
 * stays valid until then), once after a stop. */
typedef int32_t (*DrainCallback)(void);

/* Conversion result codes (besides kSonvexOk). */
enum {
  kConvertErrSourceOpen = -1,      /* "Read File Open Error!" */
  kConvertErrSourceDisabled = -2,  /* sourceEnabled[0] != 1 */
  kConvertErrDestinationOpen = -3, /* "Write File Open Error!" */
  kConvertErrNameBuffer = -4,
  kConvertErrCoefficients = -5, /* "malloc Error11!" */
  kConvertErrHeader = -7,       /* unknown extension or probe failed */
  kConvertErrFormatChunk = -8,
  kConvertErrDataChunk = -9,
  kConvertErrCreateHeader = -10,
  kConvertErrWorkBuffer = -11, /* a working buffer could not be allocated */
  kConvertErrSeek = -13,
  kConvertErrRead = -14,
  kConvertErrDsfUnpack = -16,
  kConvertErrWavUnpack = -17,
  kConvertErrDsdiffUnpack = -18,
  kConvertErrUpConvert = -20,
  kConvertErrDownConvert = -21,
  kConvertErrModulator = -23, /* also: DSD re-modulation not available */
  kConvertErrDsfPack = -24,
  kConvertErrDsdiffPack = -25,
  kConvertErrPcmPack = -27,
  kConvertErrWrite = -28,
  kConvertErrFinalize = -29,
  kConvertErrNothing = -30,  /* start frame not below the read end */
  kConvertErrRatePlan = -31, /* rate 0, unused rate code, or unworkable L/M */
  kConvertErrIoObject = -33, /* a non-null ioObject is not supported */
  kConvertErrSampleFormat = -35,
  kConvertErrFrameCount = -37,          /* frame arithmetic would overflow */
  kConvertErrDestinationIsSource = -38, /* the destination names the source file:
                                           "Destination Is Source Error!" */
  kConvertErrFftBuffer = -67,
  kConvertErrRingSlot = -122,
  kConvertStoppedDsd = -254,
  kConvertStoppedPcm = -255
};

/* Dither of integer PCM exports (16 and 24 bits). kPcmDitherNone rounds to
 * the nearest step (the default: a same-word-length copy stays bit-exact);
 * kPcmDitherTpdf adds triangular noise of +-1 step before rounding, so quiet
 * passages keep their level and lose their quantisation distortion. The noise
 * is the same for every run of the same export. The choice applies to the
 * exports the calling thread starts from now on; every thread starts with
 * kPcmDitherNone. Returns 0, or kConvertErrPcmPack for an unknown kind. */
enum { kPcmDitherNone = 0, kPcmDitherTpdf = 1 };
SONVEX_EXTERN_C SONVEX_API int32_t setPcmExportDither(int32_t kind);
SONVEX_EXTERN_C SONVEX_API int32_t getPcmExportDither(void);

/* Compression level of FLAC exports and combines, 0 (fastest) to 8
 * (smallest), for what the calling thread starts from now on; every thread
 * starts with 5. The audio is lossless at every level. Returns 0, or
 * kConvertErrPcmPack for a level outside 0..8 (the level is kept). A FLAC
 * export of 32-bit samples gives kConvertErrPcmPack, one at a DSD rate
 * kConvertErrRatePlan, before any file is made. */
SONVEX_EXTERN_C SONVEX_API int32_t setFlacCompressionLevel(int32_t level);
SONVEX_EXTERN_C SONVEX_API int32_t getFlacCompressionLevel(void);

/* Converts sourcePaths[0] (only element 0 is used). ioObject must be null.
 * matrix, range and envelope (10 points) are required; format->progress,
 * onBlock and onDrain may be null. Returns 0 or a kConvert* code.
 *
 * Timing. With src and dst the rates, L and M the up and down factors to
 * their common rate Rc, and taps the conversion filter's length (its centre
 * lies taps / 2 samples of Rc into it):
 * - Export: no net delay. Output frame k is the source at time k / dst after
 *   startFrame (to well within 0.01 output frame), for PCM and DSD sources
 *   and outputs alike; a DSD output includes the modulator's own delay of 17
 *   one-bit samples, taken back too. Before startFrame the filter sees
 *   silence (zeros, or the DSD idle pattern), after endFrame the source as
 *   far as the file goes. The output has (endFrame - startFrame) x L / M
 *   frames. Same-rate copies (PCM, and DSD passed through) are the source
 *   frames themselves; a DSD source re-modulated at its own rate returns to
 *   the source's bits on the same time axis.
 * - Stream (as playback expects it): equal rates pass the source frames as
 *   they are. Otherwise a PCM source gets (taps / 2) / L zero frames ahead
 *   of startFrame, so output frame k shows the source ((taps / 2) mod L) / Rc
 *   seconds after k / dst (less than one source frame early). A rate-converted DSD source gets no
 * lead-in: output frame k shows the source taps / 2 / Rc seconds after k / dst; onBlock's
 *   filterTaps reports taps so the caller can align to it (its DSD stage
 *   expects (taps - 1) / 2 + 17 one-bit samples). DSD output rates are not
 *   modulated in this form, so no modulator delay is involved.
 * - holdInterpolation 1 (either form): output frame k is source frame
 *   k x M / L (rounded down); no filter, no lead-in.
 *
 * An export is written to a hidden file in the destination's folder and
 * renamed over the destination at the end. A failure before any audio was
 * written leaves no file and an existing destination untouched; a stop from
 * onBlock, or a failure after audio was written, leaves the destination
 * finalised with what it holds. A failed write (kConvertErrWrite, errno set)
 * cuts the file to the whole frames that reached it. A destination that is
 * a folder, a device or a write-protected file is refused (-3). */
SONVEX_EXTERN_C SONVEX_API int32_t sonvexert(
    const SonvexChar* destinationPath, const SonvexChar* const* sourcePaths, void* ioObject,
    const ConvertFormat* format, const ChannelMatrix* matrix, const int32_t* sourceEnabled,
    ConvertRange* range, BlockCallback onBlock, DrainCallback onDrain, const LevelPoint* envelope);

/* DSD export modulator. kDsdModulatorStandard is the fixed-point fifth-order
 * loop every export used so far (and still the default); kDsdModulatorPrecision
 * an eighth-order double-precision loop with its noise zeros spread over
 * 20 Hz..20 kHz (about 35 dB less in-band noise at DSD64, input clipped at
 * +0.8 dBFS instead of ducked after an overload). */
enum { kDsdModulatorStandard = 0, kDsdModulatorPrecision = 1 };

/* Chooses the modulator of the DSD exports the calling thread starts from now
 * on (sonvexert in export mode with a DSD output rate). The choice is kept per
 * thread, so exports running on different threads each keep their own; a
 * thread starts with kDsdModulatorStandard. Returns 0, or
 * kConvertErrModulator for an unknown kind (the choice is then unchanged). */
SONVEX_EXTERN_C SONVEX_API int32_t setDsdExportModulator(int32_t kind);

/* The calling thread's current choice (kDsdModulator*). */
SONVEX_EXTERN_C SONVEX_API int32_t getDsdExportModulator(void);

#ifdef __cplusplus
static_assert(sizeof(LevelPoint) == 32, "LevelPoint is 32 bytes");
static_assert(__builtin_offsetof(LevelPoint, shape) == 24, "shape at 24");
static_assert(sizeof(ChannelMatrix) == 32, "ChannelMatrix is 32 bytes");
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(ConvertFormat) == 40, "ConvertFormat natural layout");
static_assert(__builtin_offsetof(ConvertFormat, progress) == 24, "progress at 24");
static_assert(sizeof(ConvertRange) == 40, "ConvertRange natural layout");
static_assert(__builtin_offsetof(ConvertRange, eq) == 24, "eq at 24");
static_assert(sizeof(EqBand) == 48, "EqBand natural layout");
static_assert(sizeof(EqSettings) == 216, "EqSettings natural layout");
#endif
#endif
