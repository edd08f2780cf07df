// The engine's render callbacks, called by an output back end from its own
// thread at the device's pace. They never lock, sleep, allocate or do I/O.
#pragma once

#include "waveformat.h"

// Device sample type codes of the per-channel (non-interleaved) form.
enum DeviceSampleType : int {
  kSampleInt16Msb = 0,
  kSampleInt24Msb = 1,
  kSampleInt32Msb = 2,
  kSampleFloat32Msb = 3,
  kSampleFloat64Msb = 4,
  kSampleInt32Msb16 = 8,
  kSampleInt32Msb18 = 9,
  kSampleInt32Msb20 = 10,
  kSampleInt32Msb24 = 11,
  kSampleInt16Lsb = 16,
  kSampleInt24Lsb = 17,
  kSampleInt32Lsb = 18,
  kSampleFloat32Lsb = 19,
  kSampleFloat64Lsb = 20,
  kSampleInt32Lsb16 = 24,
  kSampleInt32Lsb18 = 25,
  kSampleInt32Lsb20 = 26,
  kSampleInt32Lsb24 = 27,
  kSampleDsdInt8Lsb1 = 32,
  kSampleDsdInt8Msb1 = 33,
  kSampleDsdInt8Ner8 = 40
};

// Format codes of the interleaved form: stereo frames of two samples.
enum InterleavedFormat : int {
  kInterleavedOther = 0,
  kInterleavedFloat32 = 1,
  kInterleavedInt16 = 2
};

// `frames` samples into each of left and right, in sampleType's encoding.
// The first argument is not used.
void renderDeviceBlock(int unused, int sampleType, int frames, void* left, void* right);
// `frames` interleaved frames of `format` into buffer.
void renderInterleavedBlock(int formatCode, const WaveFormat* format, int frames, void* buffer);

using DeviceRenderFn = void (*)(int, int, int, void*, void*);
using InterleavedRenderFn = void (*)(int, const WaveFormat*, int, void*);
