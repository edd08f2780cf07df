/* sonvex: audio file formats and offline signal processing, as a flat C ABI.
 *
 * This is the one header that the program, the tests and the tools include.
 * Every export is extern "C" with an undecorated name; results are int32,
 * 0 or a count on success and a negative code on failure. Records cross by
 * pointer and stay owned by the caller. Paths are NUL-terminated UTF-16.
 *
 * Layouts: records without pointers keep a fixed little-endian byte layout
 * (checked with static_assert below); records that carry pointers use the
 * natural C layout of their fields, in the order given, on the build's
 * platform (pointers are native, 8 bytes on 64-bit).
 */
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define SONVEX_API __declspec(dllexport)
#else
#define SONVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define SONVEX_EXTERN_C extern "C"
#else
#define SONVEX_EXTERN_C
#endif

/* UTF-16 path character. */
#ifdef __cplusplus
typedef char16_t SonvexChar;
#else
typedef uint16_t SonvexChar;
#endif

/* File type codes: the format everywhere in the library and the index into
 * the format driver table. */
enum {
  kFileTypeWav = 0,    /* RIFF/WAVE, RF64 when the data exceed 4 GiB */
  kFileTypeWavAlt = 1, /* same driver as 0; never produced */
  kFileTypeDsf = 2,
  kFileTypeDsdiff = 3,
  kFileTypeFlac = 4 /* FLAC: 1 or 2 channels, 4..32 bits, to 655350 Hz */
};

/* Error codes shared by the file exports and the format drivers. The
 * conversion and waveform exports add their own in their headers. */
enum {
  kSonvexOk = 0,
  kErrIo = -1,            /* seek/read/write failed, chunk absent, no buffer */
  kErrOpen = -3,          /* a file named by the caller could not be opened */
  kErrWorkBuffer = -4,    /* extension work buffer could not be allocated */
  kErrFormat = -7,        /* unsupported extension or header check failed */
  kErrFormatChunk = -8,   /* format description absent, unreadable or unusable */
  kErrDataChunk = -9,     /* audio data chunk absent or unreadable */
  kErrNotSupported = -17, /* bad type code, wrong format, no such operation,
                             or file size unknown while finalising */
  kErrWrite = -28,        /* writing failed (a full disk): errno says why */
  kErrSameFile = -38,     /* two names given for different roles are one file */
  kErrNoBextChunk = -41   /* internal: WAV has no bext to update */
};

/* Filled by getAudioFileInformation; 8 unsigned 32-bit words. The audio byte
 * count is stored high word first. */
typedef struct AudioFileInfo {
  uint32_t sampleRate;
  uint32_t bitsPerSample; /* 1 for DSD; WAV: bits of a sample's container
                             (block align / channels x 8), so frames =
                             bytes x 8 / (bits x channels); FLAC: the
                             stream's bits rounded up to whole bytes */
  uint32_t channels;
  uint32_t dataOffset;    /* low 32 bits of the first audio byte's offset
                             (FLAC: of the first frame) */
  uint32_t dataBytesHigh; /* FLAC: the decoded audio as packed PCM,
                             frames x channels x bitsPerSample / 8 */
  uint32_t dataBytesLow;
  uint32_t fileType;  /* kFileType* */
  uint32_t formatTag; /* WAV format tag (1 PCM, 3 float), 0 for DSD,
                         1 for FLAC */
} AudioFileInfo;

/* Parameters for a format writer and for appends; 48 bytes, little-endian. */
typedef struct WriteFormat {
  uint16_t channels;
  uint16_t bitsPerSample; /* 16, 24, 32; 1 for DSD */
  uint32_t sampleRate;
  uint16_t notMono; /* 0 when channels is 1, else 1 */
  uint8_t reserved0[22];
  uint64_t timeReference; /* samples since midnight, for bext on WAV appends */
  uint32_t rf64;          /* 1 = RF64 header with ds64 (WAV only) */
  uint32_t reserved1;
} WriteFormat;

#ifdef __cplusplus
static_assert(sizeof(AudioFileInfo) == 32, "AudioFileInfo is 32 bytes");
static_assert(sizeof(WriteFormat) == 48, "WriteFormat is 48 bytes");
static_assert(__builtin_offsetof(WriteFormat, timeReference) == 32, "timeReference at 32");
static_assert(__builtin_offsetof(WriteFormat, rf64) == 40, "rf64 at 40");
#endif

/* Probes a file: extension picks the driver, the driver checks the header.
 * A FLAC whose STREAMINFO gives no sample count is decoded once to count
 * them; one with more than 2 channels gives kErrFormatChunk.
 * Returns 0, or kErrWorkBuffer, kErrOpen, kErrFormat, kErrFormatChunk,
 * kErrDataChunk. The record is written only on success. */
SONVEX_EXTERN_C SONVEX_API int32_t getAudioFileInformation(const SonvexChar* path,
                                                           AudioFileInfo* info);

/* Library self-test exports: always 42; x*x*x (wrapping) and 1; a data word. */
SONVEX_EXTERN_C SONVEX_API int32_t fnWin32Project1(void);
SONVEX_EXTERN_C SONVEX_API int32_t GetData(int32_t x, int32_t* out);
#ifdef __cplusplus
extern "C" {
#endif
SONVEX_API extern int32_t nWin32Project1;
#ifdef __cplusplus
}
#endif

#include "sonvex_combine.h"
#include "sonvex_convert.h"
#include "sonvex_decimation.h"
#include "sonvex_waveform.h"
