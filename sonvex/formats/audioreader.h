// Each format's reader of its own audio, and the one routine that opens a
// file for reading: file information, conversion and the waveform summary
// all go through it, so block layouts, bit orders and the idle byte are known
// to the format drivers alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bytesource.h"

namespace sonvex {

// The byte a DSD stream holds when it carries silence; pads partly filled
// blocks and stands in for audio past a file's end.
constexpr uint8_t kDsdIdleByte = 0x96;

// How samples sit in a WAV frame of block align bytes: `containerBytes` per
// sample (block align / channels), of which `sampleBytes` (the fmt bits,
// rounded up to whole bytes) hold the sample, at the container's top for
// WAVE_FORMAT_EXTENSIBLE (valid bits are left-justified) and at its bottom
// for a plain fmt (24 bits in 4 bytes as those writers store them). A block
// align that cannot hold the stated bits is ignored: samples are packed.
struct WavSampleLayout {
  uint32_t sampleBytes = 0;
  uint32_t containerBytes = 0;
  bool topAligned = false;
  bool padded() const { return containerBytes != sampleBytes; }
};

// What one reading of a header found.
struct AudioFormat {
  int type = -1;  // file type code
  uint32_t sampleRate = 0;
  uint32_t bitsPerSample = 0;  // as the header states (DSD: 1)
  uint32_t channels = 0;
  uint16_t formatTag = 0;     // as the header states
  uint16_t subformatTag = 0;  // extensible WAV: the tag inside its GUID; else formatTag
  uint64_t dataOffset = 0;
  uint64_t chunkSize = 0;   // the data chunk's size as stored
  uint64_t audioBytes = 0;  // the part of it the file holds
  bool hasSampleLayout = false;
  WavSampleLayout wav;  // PCM only, when hasSampleLayout

  bool dsd() const;
  // Bits a sample decodes to: PCM at the width the fmt states.
  uint32_t sampleBits() const;
  // Bits one sample of one channel takes in the file.
  uint32_t storedBits() const;
  // Whole frames in the audio bytes (0 when the header gives no frame size).
  int64_t frames() const;
};

enum class OpenStatus {
  Ok,
  NotThisFormat,  // no driver for the type, or the probe refused the header
  FormatUnreadable,
  DataUnreadable,
  OutOfMemory,
};

enum class ReadStatus {
  Ok,
  SeekFailed,
  ReadFailed,
  Unsupported,  // this reader holds no audio of the kind asked for
  OutOfMemory,
};

// Reads a file's audio from a position in frames. Positioned: a read starts
// where the last one ended, or where seek put it.
class AudioReader {
 public:
  AudioReader(ByteSource& src, const AudioFormat& format)
      : src_(src), format_(format), frames_(format.frames()) {}
  virtual ~AudioReader() = default;
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  const AudioFormat& format() const { return format_; }
  int64_t frames() const { return frames_; }
  int64_t position() const { return position_; }
  void seek(int64_t frame) { position_ = frame; }

  // PCM: `count` frames as packed samples (sampleBits() / 8 bytes each,
  // channels interleaved). `out` must hold count frames of storedBits()
  // samples, which the samples are moved down from. *got = the frames the
  // audio held; the position moves by `count`.
  [[nodiscard]] virtual ReadStatus readPcm(uint8_t* out, int64_t count, int64_t* got);
  // DSD: `count` bytes of every channel (8 frames each) from position / 8
  // into out[channel], most significant bit first. Bytes past the audio are
  // the idle byte. *got = the real bytes; the position moves by 8 x count.
  [[nodiscard]] virtual ReadStatus readDsd(uint8_t* const* out, size_t count, int64_t* got);

 protected:
  ByteSource& src_;
  const AudioFormat format_;
  const int64_t frames_;
  int64_t position_ = 0;
};

// Probes the header of a file of type `type`, reads its format and finds its
// audio, stopping at the first step that fails; `format` keeps what was read
// up to there. On success *reader reads the audio (it refers to `src`).
[[nodiscard]] OpenStatus openAudio(ByteSource& src, int type, AudioFormat* format,
                                   std::unique_ptr<AudioReader>* reader);

// The library's code for a failed open (0 for Ok), with its diagnostic;
// `outOfMemory` is the caller's own code for that case.
[[nodiscard]] int32_t openFailureCode(OpenStatus status, int32_t outOfMemory);

}  // namespace sonvex
