// FLAC: libFLAC's stream decoder and encoder over the library's byte source
// and sink. The container's layout is known here alone.
#include "flac.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "append.h"
#include "audioreader.h"
#include "audiowriter.h"
#include "diag.h"
#include "driver.h"
#include "fileio.h"
#include "tags.h"

namespace sonvex {
namespace {

thread_local int32_t tCompressionLevel = 5;

constexpr uint32_t kMaxRate = 655350;
constexpr uint32_t kMaxChannels = 2;
// STREAMINFO sits right after "fLaC" and its 4-byte block header.
constexpr uint64_t kStreamInfoAt = 8;
constexpr uint64_t kTotalSamplesAt = kStreamInfoAt + 13;  // low nibble, then 4 bytes
constexpr uint64_t kMd5At = kStreamInfoAt + 18;
constexpr uint32_t kSeekPointBytes = 18;
constexpr uint8_t kSeekTableType = 3;
// A metadata block's 24-bit length, less room for the vendor string
// libFLAC puts into a comment block in place of the one given.
constexpr uint32_t kMaxMetadataBytes = (1u << 24) - 256;
// Ahead of the decoded frame by less than this, decoding on beats a seek.
constexpr int64_t kDecodeOnFrames = 1 << 16;

uint32_t containerBytes(uint32_t bits) { return (bits + 7) / 8; }

struct MetadataDeleter {
  void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;

MetadataPtr vorbisCommentBlock(const std::vector<uint8_t>& block) {
  std::vector<std::string> entries;
  MetadataPtr m;
  if (!vorbisCommentEntries(block.data(), block.size(), &entries)) return m;
  m.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  if (!m) return m;
  for (std::string& e : entries) {
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    entry.length = uint32_t(e.size());
    entry.entry = reinterpret_cast<FLAC__byte*>(&e[0]);
    // libFLAC refuses an entry that is no FIELD=value; the others stay.
    (void)FLAC__metadata_object_vorbiscomment_append_comment(m.get(), entry, true);
  }
  return m;
}

// `icons`: whether each of the two kinds of file icon, of which a stream
// holds one at most, is already there.
MetadataPtr pictureBlock(const std::vector<uint8_t>& block, bool icons[2]) {
  FlacPicture p;
  MetadataPtr m;
  if (!parseFlacPicture(block, &p)) return m;
  const bool icon = p.type == FLAC__STREAM_METADATA_PICTURE_TYPE_FILE_ICON_STANDARD ||
                    p.type == FLAC__STREAM_METADATA_PICTURE_TYPE_FILE_ICON;
  if (icon && icons[p.type - 1]) return m;
  // The standard icon must be a 32x32 PNG, or the encoder refuses the stream.
  if (p.type == FLAC__STREAM_METADATA_PICTURE_TYPE_FILE_ICON_STANDARD &&
      (p.mime != "image/png" || p.width != 32 || p.height != 32))
    return m;
  m.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE));
  if (!m) return m;
  FLAC__StreamMetadata_Picture& pic = m->data.picture;
  pic.type = FLAC__StreamMetadata_Picture_Type(p.type);
  pic.width = p.width;
  pic.height = p.height;
  pic.depth = p.depth;
  pic.colors = p.colors;
  if (!FLAC__metadata_object_picture_set_mime_type(m.get(), &p.mime[0], true) ||
      !FLAC__metadata_object_picture_set_description(
          m.get(), reinterpret_cast<FLAC__byte*>(&p.description[0]), true) ||
      !FLAC__metadata_object_picture_set_data(m.get(), const_cast<FLAC__byte*>(p.data),
                                              uint32_t(p.bytes), true) ||
      !FLAC__metadata_object_picture_is_legal(m.get(), nullptr))
    return MetadataPtr();
  if (icon) icons[p.type - 1] = true;
  return m;
}

// libFLAC's decoder reading a byte source at its own position.
class Decoder {
 public:
  explicit Decoder(ByteSource& src) : src_(src) { haveSize_ = src_.size(&size_); }
  ~Decoder() {
    if (d_) FLAC__stream_decoder_delete(d_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Up to the first frame. False when the stream has no usable STREAMINFO.
  bool start() {
    d_ = FLAC__stream_decoder_new();
    if (!d_) return false;
    if (FLAC__stream_decoder_init_stream(d_, readCb, seekCb, tellCb, lengthCb, eofCb, writeCb,
                                         metadataCb, errorCb,
                                         this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      return false;
    return FLAC__stream_decoder_process_until_end_of_metadata(d_) && haveInfo_ && !failed_;
  }

  // The next frame into samples(). False on a damaged or unreadable stream;
  // true with ended() at its end.
  bool next() {
    frameLength_ = 0;
    if (!FLAC__stream_decoder_process_single(d_) || failed_) return false;
    return frameLength_ > 0 || ended();
  }

  // The frame holding `sample`, trimmed to start there. 0, or the reason.
  ReadStatus seek(uint64_t sample) {
    frameLength_ = 0;
    if (!FLAC__stream_decoder_seek_absolute(d_, sample)) {
      const bool io = ioFailed_;
      FLAC__stream_decoder_flush(d_);
      return io ? ReadStatus::ReadFailed : ReadStatus::SeekFailed;
    }
    if (failed_) return ReadStatus::ReadFailed;
    return frameLength_ > 0 ? ReadStatus::Ok : ReadStatus::SeekFailed;
  }

  // Samples in the stream counted by decoding it (STREAMINFO may give 0).
  bool count(uint64_t* samples) {
    counting_ = true;
    uint64_t n = 0;
    while (!ended()) {
      if (!next()) return false;
      n += frameLength_;
    }
    counting_ = false;
    *samples = n;
    return true;
  }

  bool ended() const {
    return FLAC__stream_decoder_get_state(d_) == FLAC__STREAM_DECODER_END_OF_STREAM;
  }
  uint64_t position() {
    FLAC__uint64 p = 0;
    return FLAC__stream_decoder_get_decode_position(d_, &p) ? p : 0;
  }

  const FLAC__StreamMetadata_StreamInfo& info() const { return info_; }
  const int32_t* samples() const { return samples_.data(); }
  uint64_t frameStart() const { return frameStart_; }
  uint32_t frameLength() const { return frameLength_; }

 private:
  static FLAC__StreamDecoderReadStatus readCb(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                              size_t* bytes, void* data) {
    auto* self = static_cast<Decoder*>(data);
    size_t got = 0;
    if (self->src_.readAt(self->pos_, buffer, *bytes, &got) != IoStatus::Ok) {
      self->ioFailed_ = true;
      *bytes = 0;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    self->pos_ += got;
    *bytes = got;
    return got ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
               : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  }
  static FLAC__StreamDecoderSeekStatus seekCb(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                              void* data) {
    auto* self = static_cast<Decoder*>(data);
    if (self->haveSize_ && offset > self->size_) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    self->pos_ = offset;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamDecoderTellStatus tellCb(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                              void* data) {
    *offset = static_cast<Decoder*>(data)->pos_;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }
  static FLAC__StreamDecoderLengthStatus lengthCb(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                                  void* data) {
    auto* self = static_cast<Decoder*>(data);
    if (!self->haveSize_) return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
    *length = self->size_;
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }
  static FLAC__bool eofCb(const FLAC__StreamDecoder*, void* data) {
    auto* self = static_cast<Decoder*>(data);
    return self->haveSize_ && self->pos_ >= self->size_;
  }
  static FLAC__StreamDecoderWriteStatus writeCb(const FLAC__StreamDecoder*,
                                                const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data) {
    auto* self = static_cast<Decoder*>(data);
    const FLAC__FrameHeader& h = frame->header;
    // A frame that disagrees with STREAMINFO cannot be placed in the output.
    if (!self->haveInfo_ || h.channels != self->info_.channels ||
        h.bits_per_sample != self->info_.bits_per_sample ||
        h.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
      self->failed_ = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    self->frameStart_ = h.number.sample_number;
    self->frameLength_ = h.blocksize;
    if (self->counting_) return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    const uint32_t ch = h.channels;
    try {
      self->samples_.resize(size_t(h.blocksize) * ch);
    } catch (const std::bad_alloc&) {
      self->failed_ = true;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    int32_t* out = self->samples_.data();
    for (uint32_t i = 0; i < h.blocksize; ++i)
      for (uint32_t c = 0; c < ch; ++c) *out++ = buffer[c][i];
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void metadataCb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
    auto* self = static_cast<Decoder*>(data);
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    self->info_ = m->data.stream_info;
    self->haveInfo_ = true;
  }
  // Lost sync, a bad header or CRC, an unparseable frame: libFLAC goes on
  // with silence, which must never pass for the file's audio.
  static void errorCb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    static_cast<Decoder*>(data)->failed_ = true;
  }

  ByteSource& src_;
  FLAC__StreamDecoder* d_ = nullptr;
  uint64_t pos_ = 0;
  uint64_t size_ = 0;
  bool haveSize_ = false;
  bool haveInfo_ = false;
  bool failed_ = false;
  bool ioFailed_ = false;
  bool counting_ = false;
  FLAC__StreamMetadata_StreamInfo info_{};
  std::vector<int32_t> samples_;
  uint64_t frameStart_ = 0;
  uint32_t frameLength_ = 0;
};

int flacProbe(ByteSource& src) {
  uint8_t magic[4];
  // Too short to tell: accepted; the format read that follows refuses it.
  if (!src.readExact(0, magic, sizeof magic)) return kSonvexOk;
  // libFLAC skips an ID3v2 tag some taggers put in front.
  if (std::memcmp(magic, "fLaC", 4) == 0 || std::memcmp(magic, "ID3", 3) == 0) return kSonvexOk;
  return kErrNotSupported;
}

OpenStatus flacReadHeader(ByteSource& src, AudioFormat* format) {
  if (flacProbe(src) != kSonvexOk) return OpenStatus::NotThisFormat;
  Decoder d(src);
  if (!d.start()) return OpenStatus::FormatUnreadable;
  const FLAC__StreamMetadata_StreamInfo& info = d.info();
  if (info.channels == 0 || info.channels > kMaxChannels || info.sample_rate == 0 ||
      info.sample_rate > kMaxRate || info.bits_per_sample < 4 || info.bits_per_sample > 32)
    return OpenStatus::FormatUnreadable;
  format->sampleRate = info.sample_rate;
  format->bitsPerSample = containerBytes(info.bits_per_sample) * 8;
  format->channels = info.channels;
  format->formatTag = format->subformatTag = 1;
  format->dataOffset = d.position();
  uint64_t total = info.total_samples;
  // An encoder that could not seek back leaves the count at 0.
  if (total == 0 && !d.count(&total)) return OpenStatus::DataUnreadable;
  format->audioBytes = total * info.channels * containerBytes(info.bits_per_sample);
  uint64_t size = 0;
  format->chunkSize =
      src.size(&size) && size > format->dataOffset ? size - format->dataOffset : format->audioBytes;
  return OpenStatus::Ok;
}

// Decodes frame by frame; a read starting outside the decoded frame, and not
// just ahead of it, seeks.
class FlacReader final : public AudioReader {
 public:
  FlacReader(ByteSource& src, const AudioFormat& format) : AudioReader(src, format), dec_(src) {}

  uint32_t streamBits() { return started() ? dec_.info().bits_per_sample : 0; }

  ReadStatus readPcm(uint8_t* out, int64_t count, int64_t* got) override {
    *got = 0;
    const int64_t first = position_;
    position_ += count;
    if (first < 0 || first >= frames_ || count <= 0) return ReadStatus::Ok;
    if (!started()) return ReadStatus::ReadFailed;
    const int64_t wanted = std::min(count, frames_ - first);
    const uint32_t ch = format_.channels, bytes = format_.bitsPerSample / 8;
    const uint32_t shift = bytes * 8 - dec_.info().bits_per_sample;
    int64_t cur = first;
    while (cur < first + wanted) {
      const int64_t start = int64_t(dec_.frameStart()), end = start + dec_.frameLength();
      if (cur >= start && cur < end) {
        const int64_t n = std::min(end - cur, first + wanted - cur);
        const int32_t* s = dec_.samples() + size_t(cur - start) * ch;
        pack(s, size_t(n) * ch, bytes, shift, out);
        out += size_t(n) * ch * bytes;
        cur += n;
        *got += n;
        continue;
      }
      if (dec_.frameLength() > 0 && cur >= end && cur - end < kDecodeOnFrames) {
        // The header promised more than the stream holds (a truncated
        // file), or the frames do not follow on.
        if (!dec_.next() || dec_.frameLength() == 0 || int64_t(dec_.frameStart()) != end)
          return ReadStatus::ReadFailed;
        continue;
      }
      const ReadStatus r = dec_.seek(uint64_t(cur));
      if (r != ReadStatus::Ok) return r;
      // Frames numbered against the stream could land elsewhere for ever.
      if (int64_t(dec_.frameStart()) != cur) return ReadStatus::ReadFailed;
    }
    return ReadStatus::Ok;
  }

 private:
  bool started() {
    if (!tried_) {
      tried_ = true;
      ready_ = dec_.start();
    }
    return ready_;
  }

  static void pack(const int32_t* s, size_t n, uint32_t bytes, uint32_t shift, uint8_t* out) {
    for (size_t i = 0; i < n; ++i) {
      const uint32_t v = uint32_t(s[i]) << shift;
      switch (bytes) {
        case 1:
          *out++ = uint8_t(v + 128);  // unsigned, as 8-bit WAV
          break;
        case 2:
          *out++ = uint8_t(v);
          *out++ = uint8_t(v >> 8);
          break;
        case 3:
          *out++ = uint8_t(v);
          *out++ = uint8_t(v >> 8);
          *out++ = uint8_t(v >> 16);
          break;
        default:
          *out++ = uint8_t(v);
          *out++ = uint8_t(v >> 8);
          *out++ = uint8_t(v >> 16);
          *out++ = uint8_t(v >> 24);
          break;
      }
    }
  }

  Decoder dec_;
  bool tried_ = false;
  bool ready_ = false;
};

std::unique_ptr<AudioReader> flacMakeReader(ByteSource& src, const AudioFormat& format) {
  return std::make_unique<FlacReader>(src, format);
}

// The encoder writes through the sink at its own position: it seeks back to
// fill STREAMINFO (sizes, MD5) and the seek table at the end. Each frame
// reaches the sink in one write, so a failure can cut at the last whole one.
class FlacWriter final : public AudioWriter {
 public:
  explicit FlacWriter(ByteSink& sink) : AudioWriter(sink, 0) {}
  ~FlacWriter() override {
    // An unfinished encoder is deleted without writing anything more.
    if (enc_) FLAC__stream_encoder_delete(enc_);
  }

  void expectFrames(int64_t frames) override { expected_ = frames > 0 ? uint64_t(frames) : 0; }
  // Combine keeps the sources' width inside the container.
  void setStreamBits(uint32_t bits) { streamBits_ = bits; }

  int begin(const WriteFormat& format) override {
    const uint32_t bits = format.bitsPerSample, ch = format.channels;
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || ch == 0 || ch > kMaxChannels ||
        format.sampleRate == 0 || format.sampleRate > kMaxRate)
      return kErrIo;
    if (streamBits_ == 0 || streamBits_ > bits || streamBits_ + 8 <= bits) streamBits_ = bits;
    bytes_ = bits / 8;
    channels_ = ch;
    enc_ = FLAC__stream_encoder_new();
    if (!enc_) return kErrIo;
    bool ok = FLAC__stream_encoder_set_verify(enc_, false) &&
              FLAC__stream_encoder_set_channels(enc_, ch) &&
              FLAC__stream_encoder_set_bits_per_sample(enc_, streamBits_) &&
              FLAC__stream_encoder_set_sample_rate(enc_, format.sampleRate) &&
              FLAC__stream_encoder_set_compression_level(enc_, uint32_t(tCompressionLevel)) &&
              FLAC__stream_encoder_set_streamable_subset(enc_, streamBits_ <= 24) &&
              FLAC__stream_encoder_set_total_samples_estimate(enc_, expected_);
    if (ok && expected_ > 0) {
      // One point every 10 s; points past a shortened end become placeholders.
      seekTable_.reset(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
      ok = seekTable_ &&
           FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
               seekTable_.get(), 10 * format.sampleRate, expected_) &&
           FLAC__metadata_object_seektable_template_sort(seekTable_.get(), true);
    }
    ok = ok && takeTags();
    if (ok && !metadata_.empty())
      ok = FLAC__stream_encoder_set_metadata(enc_, metadata_.data(), uint32_t(metadata_.size()));
    if (!ok) return kErrIo;
    if (FLAC__stream_encoder_init_stream(enc_, writeCb, seekCb, tellCb, nullptr, this) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK)
      return broken_ ? kErrWrite : kErrIo;
    return kSonvexOk;
  }

  int writePcm(const uint8_t* samples, int64_t frames) override {
    if (finalized() || !enc_) return kErrWrite;
    constexpr size_t kChunk = 4096;
    const uint32_t shift = bytes_ * 8 - streamBits_;
    while (frames > 0) {
      const size_t n = size_t(std::min<int64_t>(frames, kChunk));
      try {
        wide_.resize(n * channels_);
      } catch (const std::bad_alloc&) {
        return salvage();
      }
      for (size_t i = 0; i < n * channels_; ++i, samples += bytes_)
        wide_[i] = unpack(samples) >> shift;
      if (!FLAC__stream_encoder_process_interleaved(enc_, wide_.data(), uint32_t(n)))
        return salvage();
      fed_ += n;
      frames -= int64_t(n);
    }
    return kSonvexOk;
  }

 private:
  // The seek table and the tags as libFLAC's blocks. Tags it would refuse
  // are left out: a damaged tag never fails an export. The vendor string
  // becomes libFLAC's, which the encoder writes whatever it is given.
  bool takeTags() {
    try {
      if (seekTable_) metadata_.push_back(seekTable_.get());
      bool haveComment = false, icons[2] = {false, false};
      for (const RawBlock& b : tags_) {
        MetadataPtr m;
        if (std::memcmp(b.id, "VORB", 4) == 0 && !haveComment)
          m = vorbisCommentBlock(b.data);
        else if (std::memcmp(b.id, "PICT", 4) == 0)
          m = pictureBlock(b.data, icons);
        if (!m || m->length > kMaxMetadataBytes) continue;
        haveComment = haveComment || m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT;
        metadata_.push_back(m.get());
        tagBlocks_.push_back(std::move(m));
      }
      tags_.clear();
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  int32_t unpack(const uint8_t* p) const {
    switch (bytes_) {
      case 1:
        return int32_t(p[0]) - 128;
      case 2:
        return int16_t(uint16_t(p[0] | p[1] << 8));
      case 3:
        return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
      default:
        return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                       uint32_t(p[3]) << 24);
    }
  }

  // Seek points the stream never reached would send a decoder astray.
  // `unfilled`: also those the encoder never reached (after a failure).
  void trimSeekTable(uint64_t samples, bool unfilled) {
    if (!seekTable_) return;
    FLAC__StreamMetadata_SeekTable& t = seekTable_->data.seek_table;
    for (uint32_t i = 0; i < t.num_points; ++i) {
      FLAC__StreamMetadata_SeekPoint& p = t.points[i];
      if (p.sample_number != FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER &&
          (p.sample_number >= samples || (unfilled && p.frame_samples == 0))) {
        p.sample_number = FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER;
        p.stream_offset = 0;
        p.frame_samples = 0;
      }
    }
  }

  int flushPending() override {
    if (!enc_) return kErrWrite;
    trimSeekTable(fed_, false);
    if (!FLAC__stream_encoder_finish(enc_)) return salvage();
    setWritten(framesEnd_ > audioStart_ ? framesEnd_ - audioStart_ : 0, int64_t(samplesOut_));
    return sink_.flush();
  }

  // Keeps the whole frames that reached the sink, with a STREAMINFO and a
  // seek table that claim no more: the file stays valid and shorter.
  int salvage() override {
    markFinalized();
    const uint64_t keep = audioStart_ ? framesEnd_ : metadataEnd_;
    bool ok = sink_.truncate(keep) == kSonvexOk;
    if (ok && metadataEnd_ > kMd5At + 16) {
      uint8_t field[16] = {};
      // MD5 0 means "not computed"; the sum of the whole stream is wrong now.
      ok = sink_.writeAt(kMd5At, field, 16) == kSonvexOk;
      // The byte shares its high nibble with the low bits of (bits - 1).
      field[0] = uint8_t(((streamBits_ - 1) & 0x0F) << 4 | ((samplesOut_ >> 32) & 0x0F));
      for (int i = 0; i < 4; ++i) field[1 + i] = uint8_t(samplesOut_ >> (24 - 8 * i));
      ok = ok && sink_.writeAt(kTotalSamplesAt, field, 5) == kSonvexOk;
    }
    if (ok && seekTableAt_ && seekTable_) {
      trimSeekTable(samplesOut_, true);
      const FLAC__StreamMetadata_SeekTable& t = seekTable_->data.seek_table;
      std::vector<uint8_t> body(size_t(t.num_points) * kSeekPointBytes);
      for (uint32_t i = 0; i < t.num_points; ++i) {
        uint8_t* b = body.data() + size_t(i) * kSeekPointBytes;
        for (int k = 0; k < 8; ++k) b[k] = uint8_t(t.points[i].sample_number >> (56 - 8 * k));
        for (int k = 0; k < 8; ++k) b[8 + k] = uint8_t(t.points[i].stream_offset >> (56 - 8 * k));
        b[16] = uint8_t(t.points[i].frame_samples >> 8);
        b[17] = uint8_t(t.points[i].frame_samples);
      }
      ok = sink_.writeAt(seekTableAt_ + 4, body.data(), body.size()) == kSonvexOk;
    }
    if (!ok || sink_.flush() != kSonvexOk) diag("audiofile_updateDataSize Error! \n");
    setWritten(audioStart_ && framesEnd_ > audioStart_ ? framesEnd_ - audioStart_ : 0,
               int64_t(samplesOut_));
    return kErrWrite;
  }

  int writeSizes(uint64_t, uint64_t) override { return kSonvexOk; }
  uint64_t unitBytes() const override { return 1; }
  uint64_t framesIn(uint64_t) const override { return samplesOut_; }

  static FLAC__StreamEncoderWriteStatus writeCb(const FLAC__StreamEncoder*,
                                                const FLAC__byte buffer[], size_t bytes,
                                                uint32_t samples, uint32_t, void* data) {
    auto* self = static_cast<FlacWriter*>(data);
    if (self->broken_) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    const uint64_t at = self->pos_;
    const int r = at == self->end_ ? self->sink_.append(buffer, bytes)
                                   : self->sink_.writeAt(at, buffer, bytes);
    if (r != kSonvexOk) {
      self->broken_ = true;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    self->pos_ += bytes;
    self->end_ = std::max(self->end_, self->pos_);
    if (samples > 0) {
      if (!self->audioStart_) self->audioStart_ = at;
      self->framesEnd_ = self->pos_;
      self->samplesOut_ += samples;
    } else if (!self->audioStart_) {
      // Metadata blocks come one per write, ahead of the first frame.
      if (bytes >= 4 && at > 4 && (buffer[0] & 0x7F) == kSeekTableType) self->seekTableAt_ = at;
      self->metadataEnd_ = self->pos_;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
  static FLAC__StreamEncoderSeekStatus seekCb(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* data) {
    auto* self = static_cast<FlacWriter*>(data);
    if (offset > self->end_) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    self->pos_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }
  static FLAC__StreamEncoderTellStatus tellCb(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* data) {
    *offset = static_cast<FlacWriter*>(data)->pos_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  FLAC__StreamEncoder* enc_ = nullptr;
  MetadataPtr seekTable_;
  std::vector<MetadataPtr> tagBlocks_;
  std::vector<FLAC__StreamMetadata*> metadata_;  // libFLAC reads them until finish
  uint64_t expected_ = 0;
  uint32_t streamBits_ = 0;
  uint32_t bytes_ = 0;
  uint32_t channels_ = 0;
  std::vector<int32_t> wide_;
  uint64_t fed_ = 0;
  bool broken_ = false;
  uint64_t pos_ = 0, end_ = 0;
  uint64_t metadataEnd_ = 0, seekTableAt_ = 0, audioStart_ = 0, framesEnd_ = 0;
  uint64_t samplesOut_ = 0;
};

std::unique_ptr<AudioWriter> flacMakeWriter(ByteSink& sink) {
  return std::make_unique<FlacWriter>(sink);
}

int flacProbeFile(FILE* f, int*) {
  FileSource src(f);
  return flacProbe(src);
}

int flacLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes) {
  FileSource src(f);
  AudioFormat format;
  if (flacReadHeader(src, &format) != OpenStatus::Ok) return kErrIo;
  *dataOffset = format.dataOffset;
  *chunkSize = format.chunkSize;
  *audioBytes = format.audioBytes;
  return kSonvexOk;
}

int flacReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                   uint16_t* formatTag) {
  FileSource src(f);
  AudioFormat format;
  const OpenStatus s = flacReadHeader(src, &format);
  if (s != OpenStatus::Ok && s != OpenStatus::DataUnreadable) return kErrIo;
  *sampleRate = format.sampleRate;
  *bitsPerSample = format.bitsPerSample;
  *channels = format.channels;
  *formatTag = format.formatTag;
  return kSonvexOk;
}

void storeProgress(int percent) {
  if (int* p = appendProgress()) __atomic_store_n(p, percent, __ATOMIC_RELEASE);
}

// Copies every frame of `from` into the writer; progress runs from `base`
// over `span` percent.
int copyAudio(AudioReader& from, AudioWriter& to, int base, int span) {
  constexpr int64_t kChunk = 65536;
  const AudioFormat& f = from.format();
  std::vector<uint8_t> buf(size_t(kChunk) * f.channels * (f.bitsPerSample / 8));
  const int64_t total = from.frames();
  from.seek(0);
  for (int64_t done = 0; done < total;) {
    const int64_t n = std::min(kChunk, total - done);
    int64_t got = 0;
    if (from.readPcm(buf.data(), n, &got) != ReadStatus::Ok || got != n) return kErrIo;
    const int r = to.writePcm(buf.data(), n);
    if (r != kSonvexOk) return r;
    done += n;
    storeProgress(std::max(1, base + int(span * done / total)));
  }
  return kSonvexOk;
}

}  // namespace

int32_t flacCompressionLevel() { return tCompressionLevel; }

int flacCombine(FILE* head, FILE* tail, const char16_t* headPath, const WriteFormat* format) {
  FileSource headSrc(head), tailSrc(tail);
  AudioFormat hf, tf;
  std::unique_ptr<AudioReader> hr, tr;
  if (openAudio(headSrc, kFileTypeFlac, &hf, &hr) != OpenStatus::Ok ||
      openAudio(tailSrc, kFileTypeFlac, &tf, &tr) != OpenStatus::Ok)
    return kErrIo;
  auto& headReader = static_cast<FlacReader&>(*hr);
  auto& tailReader = static_cast<FlacReader&>(*tr);
  const uint32_t bits = headReader.streamBits();
  if (bits == 0 || bits != tailReader.streamBits() || hf.sampleRate != tf.sampleRate ||
      hf.channels != tf.channels ||
      (format && format->channels != 0 && format->channels != hf.channels))
    return kErrIo;
  // The head is replaced, never rewritten in place: it must be writable.
  if (refusesReplacement(headPath)) return kErrIo;
  const std::string target = replacementTarget(headPath);
  std::string temp;
  FilePtr out = createBeside(target, &temp);
  if (!out) return kErrIo;
  FileSink sink(out.get());
  FlacWriter writer(sink);
  writer.expectFrames(hr->frames() + tr->frames());
  writer.setStreamBits(bits);
  Tags tags;
  // A damaged tag never fails the combine; it is just not kept.
  if (readTags(headSrc, hf, &tags) == kSonvexOk)
    writer.setTags(tagBlocksFor(tags, kFileTypeFlac, 0, hf.sampleRate, hf.sampleRate));
  WriteFormat wf{};
  wf.channels = uint16_t(hf.channels);
  wf.bitsPerSample = uint16_t(hf.bitsPerSample);
  wf.sampleRate = hf.sampleRate;
  wf.notMono = hf.channels == 1 ? 0 : 1;
  int r = writer.begin(wf);
  if (r == kSonvexOk) r = copyAudio(*hr, writer, 0, 49);
  if (r == kSonvexOk) r = copyAudio(*tr, writer, 49, 50);
  if (r == kSonvexOk) r = writer.finalize();
  int savedErrno = sink.error();
  if (std::fclose(out.release()) != 0 && r == kSonvexOk) {
    r = kErrWrite;
    savedErrno = errno;
  }
  if (r == kSonvexOk && replaceWith(temp, target) != 0) r = kErrIo;
  if (r != kSonvexOk) std::remove(temp.c_str());
  if (r == kErrWrite && savedErrno) errno = savedErrno;
  return r;
}

const FormatDriver kFlacDriver = {
    flacProbeFile,   // 0
    flacLocateData,  // 1
    nullptr,         // 2: no chunks
    flacReadFormat,  // 3
    nullptr,         // 4
    nullptr,         // 5
    nullptr,         // 6: the writer (15) does headers
    nullptr,         // 7
    nullptr,         // 8
    nullptr,         // 9: combined by re-encoding (16)
    nullptr,         // 10
    nullptr,         // 11
    nullptr,         // 12
    flacReadHeader,  // 13
    flacMakeReader,  // 14
    flacMakeWriter,  // 15
    flacCombine,     // 16
};

}  // namespace sonvex

SONVEX_EXTERN_C SONVEX_API int32_t setFlacCompressionLevel(int32_t level) {
  if (level < 0 || level > 8) return kConvertErrPcmPack;
  sonvex::tCompressionLevel = level;
  return kSonvexOk;
}

SONVEX_EXTERN_C SONVEX_API int32_t getFlacCompressionLevel(void) {
  return sonvex::tCompressionLevel;
}
