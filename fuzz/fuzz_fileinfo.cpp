// Hostile input for the file probe: the bytes are written to a temporary file
// under each supported extension and probed; a WAV that probes cleanly also
// goes through the header update paths on a private copy.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fileio.h"
#include "sonvex.h"
#include "wav.h"

namespace {

std::string gDir;

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The library's diagnostics go to stdout; keep the fuzzer's output readable.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  char tmpl[] = "/tmp/fuzz_fileinfo-XXXXXX";
  if (mkdtemp(tmpl)) {
    gDir = tmpl;
    std::atexit([] { ::rmdir(gDir.c_str()); });
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gDir.empty()) return 0;
  for (const char* ext : {".wav", ".dsf", ".dff"}) {
    const std::string path = gDir + "/input" + ext;
    if (!writeFile(path, data, size)) continue;
    AudioFileInfo info;
    const int result = getAudioFileInformation(u16(path).c_str(), &info);
    if (result == 0 && info.fileType == kFileTypeWav) {
      // The update routines must stay inside the file they are given.
      sonvex::FilePtr f(std::fopen(path.c_str(), "rb+"));
      if (f) {
        const uint64_t audio = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
        sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0);
        sonvex::writeTimeReference(f.get(), uint64_t(size) * 48000);
        uint64_t t;
        sonvex::readTimeReference(f.get(), &t);
      }
    }
    ::unlink(path.c_str());
  }
  return 0;
}
