// Test files written byte by byte, independently of the library's writers, so
// readers are checked against the container layouts themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh path in a per-process temporary folder, with the given extension.
std::string tempPath(const std::string& stem, const std::string& ext);
std::u16string toU16(const std::string& utf8);

// Canonical 44-byte RIFF/WAVE with interleaved little-endian samples.
void writeWav(const std::string& path, uint32_t rate, uint16_t bits, uint16_t channels,
              uint16_t formatTag, const std::vector<uint8_t>& data);
// 16-bit interleaved samples as bytes.
std::vector<uint8_t> pcm16Bytes(const std::vector<int16_t>& samples);

// DSF with 4096-byte channel blocks. `channels` holds one MSB-first byte array
// per channel (all the same length); sampleCount = bytes * 8 unless given.
void writeDsf(const std::string& path, uint32_t rate,
              const std::vector<std::vector<uint8_t>>& channels, uint64_t sampleCount = 0);
// DSDIFF (FRM8/DSD) with FVER, PROP (FS, CHNL, CMPR "DSD ") and a DSD chunk of
// byte-interleaved MSB-first data.
void writeDsdiff(const std::string& path, uint32_t rate,
                 const std::vector<std::vector<uint8_t>>& channels);

// One-bit stream (MSB first) of a sine of `amplitude` (1.0 = all ones/zeros)
// from a second-order sigma-delta loop. For tests only.
std::vector<uint8_t> dsdSine(double frequency, double rate, double amplitude, size_t bytes);

}  // namespace testsupport
