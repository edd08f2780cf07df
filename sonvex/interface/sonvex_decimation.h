/* Part of sonvex.h; include that header instead.
 *
 * DSD-to-PCM decimation helpers: the low-pass design shared with the
 * conversion engine, one-frame FIR evaluation on stereo pairs, and one-bit
 * expansion. All three keep no state and may run on any thread.
 */
#pragma once

/* Designs a linear-phase windowed-sinc low-pass (four-term Blackman-Harris
 * window on a centred index) and stores coefficient i in both doubles of pair
 * i: 2 * (taps / 2) + 1 pairs followed by 16 zero pairs, so the array must
 * hold 2 * (taps / 2) + 17 pairs (16-byte aligned). Centre pair taps / 2 is
 * gain * 2 * cutoffHz / sampleRate; the DC gain is about `gain`.
 * Returns 0; -1 (nothing written) when the array is null, sampleRate <= 0 or
 * an argument is not finite. */
SONVEX_EXTERN_C SONVEX_API int32_t setDecimationFirParam(double sampleRate, double cutoffHz,
                                                         int32_t taps, double* coefficientPairs,
                                                         double gain);

/* One output frame: per lane sum of sample pair k times coefficient pair k
 * over 4 * ((taps + 3) / 4) pairs (so up to three of the zero pairs after a
 * design are read), times 2^-55. Sample pairs are interleaved left/right,
 * oldest first. Writes the (left, right) result pair; taps = 0 gives
 * (0.0, 0.0). Returns 0; -1 when a pointer is null. */
SONVEX_EXTERN_C SONVEX_API int32_t gAudioDecimationFir(double* resultPair,
                                                       const double* coefficientPairs,
                                                       const double* samplePairs, uint32_t taps);

/* Expands `count` one-bit samples per channel (first sample in the most
 * significant bit) into int32: bit 1 -> +2147483647, bit 0 -> -2147483647.
 * Reads (count + 7) / 8 bytes of each input; the second argument is not used.
 * Returns 0 (also for count <= 0, writing nothing); -1 when scratch memory
 * cannot be allocated or a needed pointer is null. */
SONVEX_EXTERN_C SONVEX_API int32_t decimationDsdData(int32_t count, int32_t unused, int32_t* outA,
                                                     int32_t* outB, const uint8_t* bytesA,
                                                     const uint8_t* bytesB);
