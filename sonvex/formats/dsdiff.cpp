#include "dsdiff.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "append.h"
#include "chunkio.h"
#include "fileio.h"

namespace sonvex {

namespace {

constexpr uint32_t kChunkHeaderBytes = 12;
constexpr uint64_t kFirstChunk = 16;  // after "FRM8", its size and "DSD "

int readAt(FILE* f, uint64_t offset, uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return kErrIo;
  return std::fread(buf, 1, n, f) == n ? kSonvexOk : kErrIo;
}

int writeAt(FILE* f, uint64_t offset, const uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return kErrIo;
  return std::fwrite(buf, 1, n, f) == n ? kSonvexOk : kErrIo;
}

// Where the chunk after one ending at `end` starts: behind the pad byte of an
// odd-sized chunk, unless the writer left the pad out (the byte there is then
// the first letter of the next id, never zero).
uint64_t nextChunkAfter(ByteSource& src, uint64_t end) {
  if ((end & 1) == 0) return end;
  uint8_t b = 0;
  if (src.readExact(end, &b, 1) && b != 0) return end;
  return end + 1;
}

// Calls visit(offset, id, size) for each top-level chunk until it returns true.
template <typename Visit>
int walkTopLevel(ByteSource& src, Visit visit) {
  uint64_t pos = kFirstChunk;
  for (;;) {
    uint8_t h[kChunkHeaderBytes];
    if (!src.readExact(pos, h, sizeof h)) return kErrIo;
    const uint64_t size = be64(h + 4);
    if (visit(pos, h, size)) return kSonvexOk;
    uint64_t end = 0;
    if (__builtin_add_overflow(pos + kChunkHeaderBytes, size, &end) || end > uint64_t(INT64_MAX))
      return kErrIo;
    pos = nextChunkAfter(src, end);
  }
}

int dsdiffNoTimeReference(FILE*, uint64_t*) { return kSonvexOk; }
int dsdiffWriteNoTimeReference(FILE*, uint64_t) { return kSonvexOk; }
int dsdiffBextTimeReference(const uint8_t*, uint32_t, uint64_t* t) {
  if (t) *t = 0;
  return kSonvexOk;
}
int dsdiffRemoveChunk(FILE*, const char*) { return kErrNotSupported; }
int dsdiffSplitFile(FILE*, FILE*, uint64_t) { return kErrNotSupported; }
int dsdiffHeaderReserve(void) { return int(kDsdiffHeaderBytes); }
int dsdiffFindChunkSlot(FILE* f, const char id[4], uint64_t* offset) {
  uint64_t size = 0;
  return dsdiffFindChunk(f, id, offset, &size);
}

}  // namespace

void dsdiffChannelId(uint32_t i, uint32_t n, char out[4]) {
  if (n == 2) {
    std::memcpy(out, i == 0 ? "SLFT" : "SRGT", 4);
    return;
  }
  static const char kHex[] = "0123456789ABCDEF";
  out[0] = 'C';
  out[1] = kHex[(i >> 8) & 15];
  out[2] = kHex[(i >> 4) & 15];
  out[3] = kHex[i & 15];
}

int dsdiffFindChunk(ByteSource& src, const char id[4], uint64_t* offset, uint64_t* size) {
  *offset = 0;
  *size = 0;
  uint64_t foundOffset = 0, foundSize = 0;
  const int r = walkTopLevel(src, [&](uint64_t pos, const uint8_t* h, uint64_t s) {
    if (std::memcmp(h, id, 4) != 0) return false;
    foundOffset = pos;
    foundSize = s;
    return true;
  });
  if (r != 0) return kErrIo;
  *offset = foundOffset;
  *size = foundSize;
  return kSonvexOk;
}

int dsdiffFindChunk(FILE* f, const char id[4], uint64_t* offset, uint64_t* size) {
  FileSource src(f);
  return dsdiffFindChunk(src, id, offset, size);
}

int dsdiffProbe(ByteSource& src, int* kind) {
  if (kind) *kind = 1;
  uint8_t h[16];
  if (!src.readExact(0, h, sizeof h)) return kSonvexOk;
  if (std::memcmp(h, "FRM8", 4) != 0 || std::memcmp(h + 12, "DSD ", 4) != 0)
    return kErrNotSupported;
  uint64_t offset = 0, size = 0;
  if (dsdiffFindChunk(src, "PROP", &offset, &size) != 0) return kErrNotSupported;
  return kSonvexOk;
}

int dsdiffProbe(FILE* f, int* kind) {
  FileSource src(f);
  return dsdiffProbe(src, kind);
}

int dsdiffLocateData(ByteSource& src, uint64_t* dataOffset, uint64_t* chunkSize,
                     uint64_t* audioBytes) {
  uint64_t offset = 0, size = 0;
  if (dsdiffFindChunk(src, "DSD ", &offset, &size) != 0) return kErrIo;
  if (offset + kChunkHeaderBytes > uint64_t(INT64_MAX)) return kErrIo;
  *dataOffset = offset + kChunkHeaderBytes;
  *chunkSize = size;
  // Never past the end of the file, so a cut-off recording reads up to where
  // it stops.
  uint64_t total = 0;
  if (!src.size(&total)) return kErrIo;
  const uint64_t present = total > *dataOffset ? total - *dataOffset : 0;
  *audioBytes = size < present ? size : present;
  return kSonvexOk;
}

int dsdiffLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes) {
  FileSource src(f);
  if (dsdiffLocateData(src, dataOffset, chunkSize, audioBytes) != 0) return kErrIo;
  // Callers of the stream form read on from the first audio byte.
  return seek64(f, *dataOffset) == 0 ? kSonvexOk : kErrIo;
}

int dsdiffReadFormat(ByteSource& src, uint32_t* sampleRate, uint32_t* bitsPerSample,
                     uint32_t* channels, uint16_t* formatTag) {
  std::vector<uint8_t> work;
  try {
    work.assign(kDsdiffWorkBytes, 0);
  } catch (...) {
    return kErrIo;
  }
  uint32_t rate = 0, chans = 0;

  // The first PROP chunk of form type "SND "; others are walked over.
  uint64_t prop = 0, propSize = 0;
  bool found = false;
  bool failed = false;
  walkTopLevel(src, [&](uint64_t pos, const uint8_t* h, uint64_t s) {
    if (std::memcmp(h, "PROP", 4) != 0) return false;
    uint8_t type[4];
    if (!src.readExact(pos + kChunkHeaderBytes, type, 4)) {
      failed = true;
      return true;
    }
    if (std::memcmp(type, "SND ", 4) != 0) return false;
    prop = pos;
    propSize = s;
    found = true;
    return true;
  });
  if (failed || !found) return kErrIo;

  if (propSize < 4) return kErrIo;
  uint64_t remaining = propSize - 4;
  uint64_t pos = prop + kChunkHeaderBytes + 4;
  while (remaining >= kChunkHeaderBytes) {
    uint8_t h[kChunkHeaderBytes];
    if (!src.readExact(pos, h, sizeof h)) return kErrIo;
    const uint64_t size = be64(h + 4);
    remaining -= kChunkHeaderBytes;
    pos += kChunkHeaderBytes;
    // A local chunk reaching past its PROP chunk is a broken header.
    if (size > remaining) return kErrIo;
    if (std::memcmp(h, "FS  ", 4) == 0) {
      uint8_t v[4];
      if (size < 4 || !src.readExact(pos, v, 4)) return kErrIo;
      rate = be32(v);
    } else if (std::memcmp(h, "CHNL", 4) == 0 || std::memcmp(h, "CMPR", 4) == 0) {
      // Read whole behind the first 12 bytes of the work buffer; a payload
      // that would not fit is a format error, never an overflow.
      if (size > kDsdiffWorkBytes - kChunkHeaderBytes) return kErrIo;
      uint8_t* payload = work.data() + kChunkHeaderBytes;
      if (!src.readExact(pos, payload, size_t(size))) return kErrIo;
      if (h[1] == 'H') {
        if (size < 2) return kErrIo;
        chans = be16(payload);
      } else if (size < 4 || std::memcmp(payload, "DSD ", 4) != 0) {
        return kErrIo;  // compressed (DST) or unreadable compression type
      }
    }
    remaining -= size;
    pos += size;
    if (size & 1) {
      const uint64_t next = nextChunkAfter(src, pos);
      if (next != pos && remaining > 0) --remaining;
      pos = next;
    }
  }
  // Without channels or rate nothing can be read or played; an audio size is
  // checked against the channel count by the callers that divide by it.
  if (rate == 0 || chans == 0) return kErrIo;
  *sampleRate = rate;
  *bitsPerSample = 1;
  *channels = chans;
  *formatTag = 0;
  return kSonvexOk;
}

int dsdiffReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                     uint16_t* formatTag) {
  FileSource src(f);
  return dsdiffReadFormat(src, sampleRate, bitsPerSample, channels, formatTag);
}

namespace {

// The 32,768-byte header: FVER, PROP (rate, channel ids, no compression), a
// JUNK pad and the DSD chunk header the audio follows. kErrIo for a channel
// count the header cannot hold.
int buildHeader(const WriteFormat& format, std::vector<uint8_t>* image) {
  const uint32_t n = format.channels;
  if (n == 0 || n > kDsdiffMaxHeaderChannels) return kErrIo;
  try {
    image->assign(kDsdiffHeaderBytes, 0);
  } catch (...) {
    return kErrIo;
  }
  uint8_t* p = image->data();
  std::memcpy(p, "FRM8", 4);
  putBe64(p + 4, kDsdiffHeaderBytes - 12);  // provisional form size
  std::memcpy(p + 12, "DSD ", 4);
  std::memcpy(p + 16, "FVER", 4);
  putBe64(p + 20, 4);
  p[28] = 1;
  p[29] = 4;
  std::memcpy(p + 32, "PROP", 4);
  putBe64(p + 36, 66 + 4 * uint64_t(n));
  std::memcpy(p + 44, "SND ", 4);
  std::memcpy(p + 48, "FS  ", 4);
  putBe64(p + 52, 4);
  putBe32(p + 60, format.sampleRate);
  std::memcpy(p + 64, "CHNL", 4);
  putBe64(p + 68, 2 + 4 * uint64_t(n));
  putBe16(p + 76, uint16_t(n));
  for (uint32_t i = 0; i < n; ++i) dsdiffChannelId(i, n, reinterpret_cast<char*>(p + 78 + 4 * i));
  uint8_t* c = p + 78 + 4 * n;
  std::memcpy(c, "CMPR", 4);
  putBe64(c + 4, 19);
  std::memcpy(c + 12, "DSD ", 4);
  c[16] = 14;
  std::memcpy(c + 17, "not compressed", 14);
  c[31] = 0;  // pad byte of the odd-sized CMPR chunk
  uint8_t* junk = c + 32;
  std::memcpy(junk, "JUNK", 4);
  putBe64(junk + 4, 32634 - 4 * uint64_t(n));
  uint8_t* dsd = p + kDsdiffHeaderBytes - kChunkHeaderBytes;
  std::memcpy(dsd, "DSD ", 4);
  putBe64(dsd + 4, 0);
  return kSonvexOk;
}

}  // namespace

int dsdiffWriteHeader(FILE* f, const WriteFormat* format, int /*type*/) {
  std::vector<uint8_t> h;
  if (!format || buildHeader(*format, &h) != kSonvexOk) return kErrIo;
  return writeAt(f, 0, h.data(), kDsdiffHeaderBytes);
}

int dsdiffFinalize(FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t /*framesLow*/,
                   uint32_t /*framesHigh*/) {
  const uint64_t bytes = (uint64_t(bytesHigh) << 32) | bytesLow;
  uint64_t offset = 0, size = 0;
  if (dsdiffFindChunk(f, "DSD ", &offset, &size) != 0) return kErrIo;
  uint8_t h[kChunkHeaderBytes];
  if (readAt(f, offset, h, sizeof h) != 0) return kErrIo;
  putBe64(h + 4, bytes);
  if (writeAt(f, offset, h, sizeof h) != 0) return kErrIo;
  uint64_t total = 0;
  if (fileSize(f, &total) != 0) return kErrNotSupported;
  // An odd-sized chunk that ends the file still needs its pad byte.
  const uint64_t end = offset + kChunkHeaderBytes + bytes;
  if ((bytes & 1) && total == end) {
    const uint8_t pad = 0;
    if (writeAt(f, end, &pad, 1) != 0) return kErrIo;
    ++total;
  }
  uint8_t form[16];
  if (readAt(f, 0, form, sizeof form) != 0) return kErrIo;
  putBe64(form + 4, total - 12);
  if (writeAt(f, 0, form, sizeof form) != 0) return kErrIo;
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

namespace {

OpenStatus dsdiffReadHeader(ByteSource& src, AudioFormat* format) {
  if (dsdiffProbe(src, nullptr) != 0) return OpenStatus::NotThisFormat;
  if (dsdiffReadFormat(src, &format->sampleRate, &format->bitsPerSample, &format->channels,
                       &format->formatTag) != 0)
    return OpenStatus::FormatUnreadable;
  format->subformatTag = format->formatTag;
  if (dsdiffLocateData(src, &format->dataOffset, &format->chunkSize, &format->audioBytes) != 0)
    return OpenStatus::DataUnreadable;
  return OpenStatus::Ok;
}

// Channels alternate byte by byte, bits most significant first.
class DsdiffReader final : public AudioReader {
 public:
  using AudioReader::AudioReader;

  ReadStatus readDsd(uint8_t* const* out, size_t count, int64_t* got) override {
    *got = 0;
    const uint32_t channels = format_.channels;
    if (channels == 0) return ReadStatus::Unsupported;
    const int64_t firstFrame = position_;
    position_ += int64_t(count) * 8;
    for (uint32_t c = 0; c < channels; ++c) std::memset(out[c], kDsdIdleByte, count);
    const uint64_t perChannel = format_.audioBytes / channels;
    if (firstFrame < 0 || uint64_t(firstFrame) / 8 >= perChannel) return ReadStatus::Ok;
    const uint64_t first = uint64_t(firstFrame) / 8;
    const size_t real = size_t(std::min<uint64_t>(count, perChannel - first));
    try {
      raw_.resize(real * channels);
    } catch (const std::bad_alloc&) {
      return ReadStatus::OutOfMemory;
    }
    size_t n = 0;
    const IoStatus io =
        src_.readAt(format_.dataOffset + first * channels, raw_.data(), raw_.size(), &n);
    if (io == IoStatus::SeekFailed) return ReadStatus::SeekFailed;
    if (io == IoStatus::ReadFailed) return ReadStatus::ReadFailed;
    const size_t frames = n / channels;
    for (size_t i = 0; i < frames; ++i)
      for (uint32_t c = 0; c < channels; ++c) out[c][i] = raw_[i * channels + c];
    *got = int64_t(frames);
    return ReadStatus::Ok;
  }

 private:
  std::vector<uint8_t> raw_;
};

std::unique_ptr<AudioReader> dsdiffMakeReader(ByteSource& src, const AudioFormat& format) {
  return std::make_unique<DsdiffReader>(src, format);
}

// Channels alternate byte by byte behind the fixed header.
class DsdiffWriter final : public AudioWriter {
 public:
  explicit DsdiffWriter(ByteSink& sink) : AudioWriter(sink, kDsdiffHeaderBytes) {}

  int begin(const WriteFormat& format) override {
    if (buildHeader(format, &buffer_) != kSonvexOk) return kErrIo;
    channels_ = format.channels;
    return sink_.append(buffer_.data(), buffer_.size());
  }

  int writeDsd(const uint8_t* const* channels, int64_t frames) override {
    const size_t bytes = size_t((frames + 7) / 8);
    buffer_.resize(bytes * channels_);
    for (uint32_t c = 0; c < channels_; ++c)
      for (size_t i = 0; i < bytes; ++i) buffer_[i * channels_ + c] = channels[c][i];
    return put(buffer_.data(), buffer_.size(), frames);
  }

 private:
  int writeSizes(uint64_t bytes, uint64_t) override {
    uint8_t field[8];
    putBe64(field, bytes);
    if (sink_.writeAt(kDsdiffHeaderBytes - 8, field, 8) != kSonvexOk) return kErrWrite;
    uint64_t total = kDsdiffHeaderBytes + bytes;
    // An odd-sized chunk that ends the file still needs its pad byte.
    if (bytes & 1) {
      const uint8_t pad = 0;
      if (sink_.writeAt(total, &pad, 1) != kSonvexOk) return kErrWrite;
      ++total;
    }
    putBe64(field, total - 12);
    return sink_.writeAt(4, field, 8) == kSonvexOk ? kSonvexOk : kErrWrite;
  }
  uint64_t unitBytes() const override { return channels_; }
  uint64_t framesIn(uint64_t bytes) const override { return bytes / channels_ * 8; }

  uint32_t channels_ = 0;
};

std::unique_ptr<AudioWriter> dsdiffMakeWriter(ByteSink& sink) {
  return std::make_unique<DsdiffWriter>(sink);
}

}  // namespace

const FormatDriver kDsdiffDriver = {
    dsdiffProbe,           dsdiffLocateData,  dsdiffFindChunkSlot,        dsdiffReadFormat,
    dsdiffNoTimeReference, dsdiffRemoveChunk, dsdiffWriteHeader,          dsdiffFinalize,
    dsdiffSplitFile,       appendDsdiff,      dsdiffWriteNoTimeReference, dsdiffBextTimeReference,
    dsdiffHeaderReserve,   dsdiffReadHeader,  dsdiffMakeReader,           dsdiffMakeWriter,
    nullptr,
};

}  // namespace sonvex
