// Hostile FLAC streams from memory: the probe, a decode from the start,
// seeks the input picks, and what decodes encoded again with the stream's
// tags, so the reader's frame bookkeeping, the tag reader and libFLAC's
// callbacks and metadata meet every kind of damage.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "audioreader.h"
#include "audiowriter.h"
#include "bytesink.h"
#include "bytesource.h"
#include "fileinfo.h"
#include "sonvex.h"
#include "tags.h"

namespace {

// Enough to cross several frames of the largest block size.
constexpr int64_t kDecodeLimit = 1 << 18;
constexpr int64_t kChunk = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sonvex::MemorySource src(data, size);
  AudioFileInfo info;
  (void)sonvex::audioFileInformation(src, kFileTypeFlac, &info);

  sonvex::AudioFormat format;
  std::unique_ptr<sonvex::AudioReader> reader;
  if (sonvex::openAudio(src, kFileTypeFlac, &format, &reader) != sonvex::OpenStatus::Ok) return 0;
  const int64_t frames = reader->frames();
  const size_t frameBytes = size_t(format.channels) * format.bitsPerSample / 8;
  std::vector<uint8_t> buf(size_t(kChunk) * frameBytes);

  sonvex::MemorySink sink;
  std::unique_ptr<sonvex::AudioWriter> writer;
  if (format.bitsPerSample == 16 || format.bitsPerSample == 24) {
    writer = sonvex::makeAudioWriter(kFileTypeFlac, sink);
    sonvex::Tags tags;
    if (sonvex::readTags(src, format, &tags) == kSonvexOk)
      writer->setTags(
          sonvex::tagBlocksFor(tags, kFileTypeFlac, 0, format.sampleRate, format.sampleRate));
    writer->expectFrames(std::min(frames, kDecodeLimit));
    WriteFormat wf{};
    wf.channels = uint16_t(format.channels);
    wf.bitsPerSample = uint16_t(format.bitsPerSample);
    wf.sampleRate = format.sampleRate;
    if (writer->begin(wf) != kSonvexOk) writer.reset();
  }
  for (int64_t at = 0; at < std::min(frames, kDecodeLimit); at += kChunk) {
    int64_t got = 0;
    if (reader->readPcm(buf.data(), kChunk, &got) != sonvex::ReadStatus::Ok || got == 0) break;
    if (writer && writer->writePcm(buf.data(), got) != kSonvexOk) writer.reset();
  }
  if (writer) (void)writer->finalize();

  // Seeks to places the input's last bytes choose, back and forth.
  for (size_t i = 0; i < 4 && frames > 0 && size > i; ++i) {
    int64_t got = 0;
    reader->seek(int64_t(uint64_t(data[size - 1 - i]) * uint64_t(frames) / 256));
    if (reader->readPcm(buf.data(), 64, &got) != sonvex::ReadStatus::Ok) break;
  }
  return 0;
}
