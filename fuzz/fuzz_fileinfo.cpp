// Hostile input for the file probe: the bytes are read from memory as each
// supported type; a WAV that probes cleanly also goes through the header
// update paths on a private copy in a temporary file. The tags each type
// reads are written into a new file of every type.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "audiowriter.h"
#include "bytesink.h"
#include "bytesource.h"
#include "fileinfo.h"
#include "fileio.h"
#include "sonvex.h"
#include "tags.h"
#include "wav.h"

namespace {

std::string gDir;

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void carryTags(sonvex::ByteSource& src, int type, int64_t startFrame) {
  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  sonvex::Tags tags;
  if (sonvex::openAudio(src, type, &format, &reader) != sonvex::OpenStatus::Ok ||
      sonvex::readTags(src, format, &tags) != 0)
    return;
  for (const int out : {kFileTypeWav, kFileTypeDsf, kFileTypeDsdiff, kFileTypeFlac}) {
    sonvex::MemorySink sink;
    auto writer = sonvex::makeAudioWriter(out, sink);
    const bool pcm = out == kFileTypeWav || out == kFileTypeFlac;
    WriteFormat wf{};
    wf.channels = 2;
    wf.bitsPerSample = pcm ? 16 : 1;
    wf.sampleRate = pcm ? 44100 : 2822400;
    writer->setTags(sonvex::tagBlocksFor(tags, out, startFrame, format.sampleRate, wf.sampleRate));
    if (writer->begin(wf) == 0) (void)writer->finalize();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/fuzz_fileinfo-XXXXXX";
  if (mkdtemp(tmpl)) {
    gDir = tmpl;
    std::atexit([] { ::rmdir(gDir.c_str()); });
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const int type : {kFileTypeWav, kFileTypeDsf, kFileTypeDsdiff}) {
    sonvex::MemorySource src(data, size);
    AudioFileInfo info;
    const int result = sonvex::audioFileInformation(src, type, &info);
    carryTags(src, type, int64_t(size) * 997);
    if (result != 0 || type != kFileTypeWav || gDir.empty()) continue;
    // The update routines must stay inside the file they are given.
    const std::string path = gDir + "/input.wav";
    if (writeFile(path, data, size)) {
      sonvex::FilePtr f(std::fopen(path.c_str(), "rb+"));
      if (f) {
        const uint64_t audio = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
        (void)sonvex::wavFinalize(f.get(), uint32_t(audio), uint32_t(audio >> 32), 0, 0);
        (void)sonvex::writeTimeReference(f.get(), uint64_t(size) * 48000);
        uint64_t t;
        (void)sonvex::readTimeReference(f.get(), &t);
      }
    }
    ::unlink(path.c_str());
  }
  return 0;
}
