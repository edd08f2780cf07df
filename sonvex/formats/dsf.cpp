#include "dsf.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "append.h"
#include "bitreverse.h"
#include "chunkio.h"
#include "fileio.h"

namespace sonvex {

namespace {

constexpr uint32_t kDsdChunkBytes = 28;
constexpr uint32_t kFmtChunkBytes = 52;
constexpr uint32_t kDataHeaderBytes = 12;
// The most channels read or written (no DSF file has more).
constexpr uint32_t kMaxChannels = 64;

// Offsets inside the DSD chunk.
constexpr int kDsdTotalSize = 12;
constexpr int kDsdMetadataPointer = 20;
// Offsets inside the fmt chunk (from its header).
constexpr int kFmtChannelType = 20;
constexpr int kFmtChannelNumber = 24;
constexpr int kFmtSamplingFrequency = 28;
constexpr int kFmtBitsPerSample = 32;
constexpr int kFmtSampleCount = 36;
constexpr int kFmtBlockSize = 44;

// Reads `n` bytes of the chunk at `offset` into `buf`. 0 or -1 (short read too).
int readAt(FILE* f, uint64_t offset, uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return kErrIo;
  return std::fread(buf, 1, n, f) == n ? kSonvexOk : kErrIo;
}

int writeAt(FILE* f, uint64_t offset, const uint8_t* buf, size_t n) {
  if (seek64(f, offset) != 0) return kErrIo;
  return std::fwrite(buf, 1, n, f) == n ? kSonvexOk : kErrIo;
}

// Read-modify-write of one 64-bit field of the chunk `id`.
int patchField64(FILE* f, const char id[4], uint32_t chunkBytes, int field, uint64_t value) {
  uint64_t offset = 0;
  uint32_t size = 0;
  if (flatChunkSearch(f, id, ChunkLayout::Dsf, &offset, &size) != 0) return kErrIo;
  uint8_t image[kFmtChunkBytes];
  if (readAt(f, offset, image, chunkBytes) != 0) return kErrIo;
  putLe64(image + field, value);
  return writeAt(f, offset, image, chunkBytes);
}

int dsfFindChunk(ByteSource& src, const char id[4], uint64_t* offset) {
  uint32_t size = 0;
  return flatChunkSearch(src, id, ChunkLayout::Dsf, offset, &size);
}

int dsfFindChunk(FILE* f, const char id[4], uint64_t* offset) {
  FileSource src(f);
  return dsfFindChunk(src, id, offset);
}

int dsfRemoveChunk(FILE*, const char*) { return kErrIo; }
int dsfReadTimeReference(FILE*, uint64_t*) { return kErrIo; }
int dsfWriteTimeReference(FILE*, uint64_t) { return kErrIo; }
int dsfReadBextTimeReference(const uint8_t*, uint32_t, uint64_t*) { return kErrIo; }
int dsfSplitFile(FILE*, FILE*, uint64_t) { return kErrNotSupported; }
int dsfHeaderReserve(void) { return int(kDsfHeaderBytes); }

OpenStatus dsfReadHeader(ByteSource& src, AudioFormat* format);
std::unique_ptr<AudioReader> dsfMakeReader(ByteSource& src, const AudioFormat& format);

}  // namespace

int dsfReadInfo(ByteSource& src, DsfInfo* info) {
  *info = DsfInfo{};
  uint8_t dsd[kDsdChunkBytes];
  size_t got = 0;
  if (src.readAt(0, dsd, sizeof dsd, &got) != IoStatus::Ok || got != sizeof dsd) return kSonvexOk;
  if (std::memcmp(dsd, "DSD ", 4) != 0) return kErrNotSupported;
  uint64_t offset = 0;
  if (dsfFindChunk(src, "fmt ", &offset) != 0) return kErrIo;
  uint8_t fmt[kFmtChunkBytes];
  if (!src.readExact(offset, fmt, sizeof fmt)) return kErrIo;
  info->channels = le32(fmt + kFmtChannelNumber);
  info->sampleRate = le32(fmt + kFmtSamplingFrequency);
  info->bitsPerSample = le32(fmt + kFmtBitsPerSample);
  info->sampleCount = le64(fmt + kFmtSampleCount);
  info->blockBytes = le32(fmt + kFmtBlockSize);
  return kSonvexOk;
}

int dsfReadInfo(FILE* f, DsfInfo* info) {
  FileSource src(f);
  return dsfReadInfo(src, info);
}

uint64_t dsfPaddedPayload(uint64_t audioBytes, uint32_t channels) {
  if (channels == 0) return 0;
  const uint64_t perChannel = audioBytes / channels;
  const uint64_t blocks = perChannel / kDsfBlockBytes + (perChannel % kDsfBlockBytes ? 1 : 0);
  return uint64_t(channels) * kDsfBlockBytes * blocks;
}

int dsfProbe(FILE* f, int* /*kind*/) {
  DsfInfo info;
  return dsfReadInfo(f, &info);
}

int dsfLocateData(ByteSource& src, uint64_t* dataOffset, uint64_t* chunkSize,
                  uint64_t* audioBytes) {
  DsfInfo info;
  if (dsfReadInfo(src, &info) != 0) return kErrIo;
  uint64_t offset = 0;
  if (dsfFindChunk(src, "data", &offset) != 0) return kErrIo;
  uint8_t header[kDataHeaderBytes];
  if (!src.readExact(offset, header, sizeof header)) return kErrIo;
  // A channel count times sample count that does not fit 64 bits is no audio
  // size at all.
  uint64_t bits = 0;
  if (__builtin_mul_overflow(uint64_t(info.channels), info.sampleCount, &bits)) return kErrIo;
  *chunkSize = le64(header + 4);
  *dataOffset = offset + kDataHeaderBytes;
  *audioBytes = bits / 8;
  // Never past the end of the file, so a cut-off recording reads up to where
  // it stops: per channel, the bytes that its last block really holds.
  uint64_t total = 0;
  if (info.channels == 0 || !src.size(&total)) return kErrIo;
  const uint64_t group = uint64_t(info.channels) * kDsfBlockBytes;
  const uint64_t present = total > *dataOffset ? total - *dataOffset : 0;
  const uint64_t partial = present % group;
  const uint64_t lastChannelStart = group - kDsfBlockBytes;
  const uint64_t perChannel = present / group * kDsfBlockBytes +
                              (partial > lastChannelStart ? partial - lastChannelStart : 0);
  if (perChannel < *audioBytes / info.channels) *audioBytes = perChannel * info.channels;
  return kSonvexOk;
}

int dsfLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes) {
  FileSource src(f);
  return dsfLocateData(src, dataOffset, chunkSize, audioBytes);
}

int dsfReadFormat(ByteSource& src, uint32_t* sampleRate, uint32_t* bitsPerSample,
                  uint32_t* channels, uint16_t* formatTag) {
  DsfInfo info;
  if (dsfReadInfo(src, &info) != 0) return kErrIo;
  // A header without channels or rate, or whose audio size overflows, cannot
  // be read or played; refuse it here rather than divide by it later.
  uint64_t bits = 0;
  if (info.channels == 0 || info.sampleRate == 0 ||
      __builtin_mul_overflow(uint64_t(info.channels), info.sampleCount, &bits) ||
      bits / 8 > uint64_t(INT64_MAX))
    return kErrIo;
  *sampleRate = info.sampleRate;
  // DSD is one bit per sample whatever the bits field says (some writers
  // put 8 there); trusting it would cut every length to an eighth.
  *bitsPerSample = 1;
  *channels = info.channels;
  *formatTag = 0;
  return kSonvexOk;
}

int dsfReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                  uint16_t* formatTag) {
  FileSource src(f);
  return dsfReadFormat(src, sampleRate, bitsPerSample, channels, formatTag);
}

namespace {

void buildHeader(uint8_t* h, const WriteFormat& format) {
  std::memset(h, 0, kDsfHeaderBytes);
  std::memcpy(h, "DSD ", 4);
  putLe64(h + 4, kDsdChunkBytes);
  putLe64(h + 12, kDsfHeaderBytes);  // total file size until finalize
  putLe64(h + 20, 0);                // metadata pointer
  uint8_t* fmt = h + kDsdChunkBytes;
  std::memcpy(fmt, "fmt ", 4);
  putLe64(fmt + 4, kFmtChunkBytes);
  putLe32(fmt + 12, 1);  // format version
  putLe32(fmt + 16, 0);  // DSD raw
  putLe32(fmt + kFmtChannelType, format.channels);
  putLe32(fmt + kFmtChannelNumber, format.channels);
  putLe32(fmt + kFmtSamplingFrequency, format.sampleRate);
  putLe32(fmt + kFmtBitsPerSample, 1);
  putLe64(fmt + kFmtSampleCount, 0);
  putLe32(fmt + kFmtBlockSize, kDsfBlockBytes);
  uint8_t* data = fmt + kFmtChunkBytes;
  std::memcpy(data, "data", 4);
  putLe64(data + 4, 0);
}

}  // namespace

int dsfWriteHeader(FILE* f, const WriteFormat* format, int /*type*/) {
  if (!format || format->channels == 0) return kErrIo;
  uint8_t h[kDsfHeaderBytes];
  buildHeader(h, *format);
  return writeAt(f, 0, h, sizeof h);
}

int dsfFinalize(FILE* f, uint32_t payloadLow, uint32_t payloadHigh, uint32_t framesLow,
                uint32_t framesHigh) {
  const uint64_t payload = (uint64_t(payloadHigh) << 32) | payloadLow;
  const uint64_t frames = (uint64_t(framesHigh) << 32) | framesLow;
  // Nothing follows the data chunk, so the metadata pointer says none (0);
  // pointing it at the end of the file makes readers look for a tag there.
  if (patchField64(f, "DSD ", kDsdChunkBytes, kDsdMetadataPointer, 0) != 0) return kErrIo;
  if (patchField64(f, "data", kDataHeaderBytes, 4, payload + kDataHeaderBytes) != 0) return kErrIo;
  if (patchField64(f, "fmt ", kFmtChunkBytes, kFmtSampleCount, frames) != 0) return kErrIo;
  uint64_t size = 0;
  if (fileSize(f, &size) != 0) return kErrNotSupported;
  if (patchField64(f, "DSD ", kDsdChunkBytes, kDsdTotalSize, size) != 0) return kErrIo;
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

namespace {

OpenStatus dsfReadHeader(ByteSource& src, AudioFormat* format) {
  DsfInfo info;
  if (dsfReadInfo(src, &info) != 0) return OpenStatus::NotThisFormat;
  if (dsfReadFormat(src, &format->sampleRate, &format->bitsPerSample, &format->channels,
                    &format->formatTag) != 0)
    return OpenStatus::FormatUnreadable;
  format->subformatTag = format->formatTag;
  if (dsfLocateData(src, &format->dataOffset, &format->chunkSize, &format->audioBytes) != 0)
    return OpenStatus::DataUnreadable;
  return OpenStatus::Ok;
}

// Each channel's bytes sit in 4,096-byte blocks, one block of every channel
// to a group, bits least significant first. Whole groups are read and turned
// round a few at a time, so sequential reads touch the file once per group.
class DsfReader final : public AudioReader {
 public:
  using AudioReader::AudioReader;

  ReadStatus readDsd(uint8_t* const* out, size_t count, int64_t* got) override {
    *got = 0;
    const uint32_t channels = format_.channels;
    // The cache holds a block run per channel: a channel count no DSF file
    // has would only ask for memory.
    if (channels == 0 || channels > kMaxChannels) return ReadStatus::Unsupported;
    const int64_t firstFrame = position_;
    position_ += int64_t(count) * 8;
    const uint64_t perChannel = format_.audioBytes / channels;
    if (firstFrame < 0 || uint64_t(firstFrame) / 8 >= perChannel) {
      for (uint32_t c = 0; c < channels; ++c) std::memset(out[c], kDsdIdleByte, count);
      return ReadStatus::Ok;
    }
    const uint64_t first = uint64_t(firstFrame) / 8;
    const uint64_t real = std::min<uint64_t>(count, perChannel - first);
    uint64_t done = 0;
    while (done < real) {
      const uint64_t b = first + done;
      const uint64_t group = b / kDsfBlockBytes;
      if (group < cacheFirst_ || group >= cacheFirst_ + cacheGroups_) {
        const ReadStatus r = load(group);
        if (r != ReadStatus::Ok) {
          for (uint32_t c = 0; c < channels; ++c)
            std::memset(out[c] + done, kDsdIdleByte, count - done);
          return r;
        }
      }
      const uint64_t at = b - cacheFirst_ * kDsfBlockBytes;
      if (at >= cacheHeld_) break;  // the file ends here
      const size_t take = size_t(std::min(real - done, cacheHeld_ - at));
      for (uint32_t c = 0; c < channels; ++c)
        std::memcpy(out[c] + done, cache_.data() + c * cacheBytes() + at, take);
      done += take;
    }
    // Past the end of the file: silence.
    for (uint32_t c = 0; c < channels; ++c) std::memset(out[c] + done, kDsdIdleByte, count - done);
    *got = int64_t(done);
    return ReadStatus::Ok;
  }

 private:
  static constexpr uint64_t kGroupsPerLoad = 16;

  size_t cacheBytes() const { return size_t(kGroupsPerLoad * kDsfBlockBytes); }

  ReadStatus load(uint64_t group) {
    const uint32_t channels = format_.channels;
    const uint64_t groupBytes = uint64_t(channels) * kDsfBlockBytes;
    cacheFirst_ = group;
    cacheGroups_ = 0;
    cacheHeld_ = 0;
    try {
      raw_.resize(size_t(kGroupsPerLoad * groupBytes));
      cache_.resize(size_t(channels) * cacheBytes());
    } catch (const std::bad_alloc&) {
      return ReadStatus::OutOfMemory;
    }
    size_t n = 0;
    const IoStatus io =
        src_.readAt(format_.dataOffset + group * groupBytes, raw_.data(), raw_.size(), &n);
    if (io == IoStatus::SeekFailed) return ReadStatus::SeekFailed;
    if (io == IoStatus::ReadFailed) return ReadStatus::ReadFailed;
    // Per-channel bytes present: whole groups, then what the last channel's
    // block of a cut-off group received.
    const uint64_t rem = n % groupBytes;
    const uint64_t lastBlockStart = groupBytes - kDsfBlockBytes;
    cacheHeld_ =
        n / groupBytes * kDsfBlockBytes + (rem > lastBlockStart ? rem - lastBlockStart : 0);
    cacheGroups_ = kGroupsPerLoad;
    for (uint64_t at = 0; at < cacheHeld_; at += kDsfBlockBytes) {
      const size_t run = size_t(std::min<uint64_t>(kDsfBlockBytes, cacheHeld_ - at));
      const uint8_t* in = raw_.data() + at / kDsfBlockBytes * groupBytes;
      for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t* from = in + c * kDsfBlockBytes;
        uint8_t* to = cache_.data() + c * cacheBytes() + at;
        for (size_t k = 0; k < run; ++k) to[k] = kBitReverse[from[k]];
      }
    }
    return ReadStatus::Ok;
  }

  std::vector<uint8_t> raw_;
  std::vector<uint8_t> cache_;  // per channel, most significant bit first
  uint64_t cacheFirst_ = 0;
  uint64_t cacheGroups_ = 0;
  uint64_t cacheHeld_ = 0;  // per-channel bytes of the cache the file held
};

std::unique_ptr<AudioReader> dsfMakeReader(ByteSource& src, const AudioFormat& format) {
  return std::make_unique<DsfReader>(src, format);
}

// Each channel's bytes gather into its 4,096-byte block of the group, bits
// turned round; a group goes out when full, the last one idle-padded.
class DsfWriter final : public AudioWriter {
 public:
  explicit DsfWriter(ByteSink& sink) : AudioWriter(sink, kDsfHeaderBytes) {}

  int begin(const WriteFormat& format) override {
    if (format.channels == 0 || format.channels > kMaxChannels) return kErrIo;
    channels_ = format.channels;
    uint8_t h[kDsfHeaderBytes];
    buildHeader(h, format);
    try {
      buffer_.resize(size_t(channels_) * kDsfBlockBytes);
    } catch (const std::bad_alloc&) {
      return kErrIo;
    }
    return sink_.append(h, sizeof h);
  }

  int writeDsd(const uint8_t* const* channels, int64_t frames) override {
    const size_t bytes = size_t((frames + 7) / 8);
    groups_.clear();
    size_t done = 0;
    while (done < bytes) {
      const size_t take = std::min(bytes - done, kDsfBlockBytes - pending_);
      for (uint32_t c = 0; c < channels_; ++c) {
        uint8_t* block = buffer_.data() + size_t(c) * kDsfBlockBytes + pending_;
        for (size_t i = 0; i < take; ++i) block[i] = kBitReverse[channels[c][done + i]];
      }
      pending_ += take;
      done += take;
      if (pending_ == kDsfBlockBytes) {
        groups_.insert(groups_.end(), buffer_.begin(), buffer_.end());
        pending_ = 0;
      }
    }
    // The frames of an open group count already; finalize pads it out.
    return put(groups_.data(), groups_.size(), frames);
  }

 private:
  int flushPending() override {
    if (pending_ == 0) return kSonvexOk;
    for (uint32_t c = 0; c < channels_; ++c)
      std::memset(buffer_.data() + size_t(c) * kDsfBlockBytes + pending_, kDsdIdleByte,
                  kDsfBlockBytes - pending_);
    pending_ = 0;
    return put(buffer_.data(), buffer_.size(), 0);
  }

  int writeSizes(uint64_t payload, uint64_t frames) override {
    // The ID3 tag, if any, follows the data chunk; without one the metadata
    // pointer says none (0): pointing it at the end of the file makes
    // readers look for a tag there.
    uint64_t end = kDsfHeaderBytes + payload, pointer = 0;
    if (!tags_.empty()) {  // the format has room for one
      const std::vector<uint8_t>& tag = tags_.front().data;
      if (sink_.writeAt(end, tag.data(), tag.size()) != kSonvexOk) return kErrWrite;
      pointer = end;
      end += tag.size();
    }
    uint8_t field[8];
    putLe64(field, pointer);
    if (sink_.writeAt(kDsdMetadataPointer, field, 8) != kSonvexOk) return kErrWrite;
    putLe64(field, payload + kDataHeaderBytes);
    if (sink_.writeAt(kDsdChunkBytes + kFmtChunkBytes + 4, field, 8) != kSonvexOk) return kErrWrite;
    putLe64(field, frames);
    if (sink_.writeAt(kDsdChunkBytes + kFmtSampleCount, field, 8) != kSonvexOk) return kErrWrite;
    putLe64(field, end);
    return sink_.writeAt(kDsdTotalSize, field, 8) == kSonvexOk ? kSonvexOk : kErrWrite;
  }
  uint64_t unitBytes() const override { return uint64_t(channels_) * kDsfBlockBytes; }
  uint64_t framesIn(uint64_t bytes) const override { return bytes / channels_ * 8; }

  uint32_t channels_ = 0;
  size_t pending_ = 0;  // bytes of every channel in the open group
  std::vector<uint8_t> groups_;
};

std::unique_ptr<AudioWriter> dsfMakeWriter(ByteSink& sink) {
  return std::make_unique<DsfWriter>(sink);
}

}  // namespace

const FormatDriver kDsfDriver = {
    dsfProbe,         dsfLocateData,         dsfFindChunk,
    dsfReadFormat,    dsfReadTimeReference,  dsfRemoveChunk,
    dsfWriteHeader,   dsfFinalize,           dsfSplitFile,
    appendDsf,        dsfWriteTimeReference, dsfReadBextTimeReference,
    dsfHeaderReserve, dsfReadHeader,         dsfMakeReader,
    dsfMakeWriter,
    nullptr,
};

}  // namespace sonvex
