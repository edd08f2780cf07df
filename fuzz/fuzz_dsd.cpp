// Hostile DSF and DSDIFF input: the probe on mutated bytes in memory,
// finalize on a file copy of those that probed cleanly, and combineFiles on a
// mutated head and tail.
// Byte 0 picks the format (WAV heads and tails join in the combine runs),
// byte 1 where the rest splits into head and tail.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bytesource.h"
#include "dsdiff.h"
#include "dsf.h"
#include "fileinfo.h"
#include "fileio.h"
#include "sonvex.h"

namespace {

std::string gDir;

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

uint64_t audioBytes(const AudioFileInfo& i) {
  return (uint64_t(i.dataBytesHigh) << 32) | i.dataBytesLow;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/fuzz_dsd-XXXXXX";
  if (mkdtemp(tmpl)) gDir = tmpl;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gDir.empty() || size < 2) return 0;
  const uint8_t mode = data[0];
  const size_t split = 2 + (size - 2) * data[1] / 256;
  data += 2;
  size -= 2;
  const bool combine = mode & 0x80;
  const int type = combine ? (mode % 3 == 0   ? kFileTypeWav
                              : mode % 3 == 1 ? kFileTypeDsf
                                              : kFileTypeDsdiff)
                           : (mode & 1 ? kFileTypeDsf : kFileTypeDsdiff);
  const char* ext = type == kFileTypeWav ? ".wav" : type == kFileTypeDsf ? ".dsf" : ".dff";

  if (!combine) {
    sonvex::MemorySource src(data, size);
    AudioFileInfo info;
    if (sonvex::audioFileInformation(src, type, &info) != 0) return 0;
    const std::string path = gDir + "/input" + ext;
    if (writeFile(path, data, size)) {
      // Finalize must stay inside the file and never trust the header's sizes.
      sonvex::FilePtr f(std::fopen(path.c_str(), "rb+"));
      if (f) {
        const uint64_t bytes = audioBytes(info);
        if (type == kFileTypeDsf) {
          const uint64_t payload = sonvex::dsfPaddedPayload(bytes, info.channels);
          const uint64_t frames = bytes * 8 / info.channels;
          (void)sonvex::dsfFinalize(f.get(), uint32_t(payload), uint32_t(payload >> 32),
                                    uint32_t(frames), uint32_t(frames >> 32));
        } else {
          (void)sonvex::dsdiffFinalize(f.get(), uint32_t(bytes), uint32_t(bytes >> 32), 0, 0);
        }
      }
    }
    ::unlink(path.c_str());
    return 0;
  }

  const size_t headSize = split - 2;
  const std::string head = gDir + "/head" + ext, tail = gDir + "/tail" + ext,
                    scratch = gDir + "/scratch.bin";
  if (!writeFile(head, data, headSize) || !writeFile(tail, data + headSize, size - headSize))
    return 0;
  AudioFileInfo info;
  WriteFormat w{};
  w.channels = 2;
  sonvex::MemorySource headSource(data, headSize);
  if (sonvex::audioFileInformation(headSource, type, &info) == 0) {
    w.channels = uint16_t(info.channels);
    w.bitsPerSample = uint16_t(info.bitsPerSample);
    w.sampleRate = info.sampleRate;
  }
  w.notMono = w.channels == 1 ? 0 : 1;
  int progress = 0;
  combineFiles(type, u16(head).c_str(), u16(tail).c_str(), u16(scratch).c_str(), &w, &progress);
  if (progress < 0 || progress > 100) __builtin_trap();
  if (::access(scratch.c_str(), F_OK) == 0) __builtin_trap();  // the scratch file must be gone
  ::unlink(head.c_str());
  ::unlink(tail.c_str());
  return 0;
}
