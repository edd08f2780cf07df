#include "wav.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "append.h"
#include "chunkio.h"
#include "diag.h"
#include "fileio.h"

namespace sonvex {

namespace {

constexpr uint32_t kSizeUnknown = 0xFFFFFFFFu;  // 32-bit field that defers to ds64
constexpr uint32_t kFmtBytes = 16;              // the fmt fields read; integer PCM writes no more
constexpr uint32_t kFloatFmtBytes = 18;         // float adds cbSize 0, as readers expect
constexpr uint32_t kFactBytes = 4;              // sample frames per channel
constexpr uint32_t kDs64Bytes = 28;             // RIFF size, data size, sample count, table length
constexpr uint32_t kProvisionalRiffSize = kWavHeaderBytes - 8;
// ds64 payload offsets (from the chunk header).
constexpr size_t kDs64RiffSizeAt = 8;
constexpr size_t kDs64DataSizeAt = 16;
constexpr size_t kDs64SampleCountAt = 24;
// bext payload offset of TimeReferenceLow/High and the smallest payload that holds them.
constexpr uint64_t kBextTimeReferenceAt = 338;
constexpr uint64_t kBextMinBytes = kBextTimeReferenceAt + 8;
constexpr uint64_t kSecondsPerDay = 86400;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

constexpr uint32_t fieldFor(uint64_t size) {
  return size < kRiffSizeLimit ? uint32_t(size) : kSizeUnknown;
}

bool readAt(FILE* f, uint64_t offset, void* buffer, size_t n) {
  return seek64(f, offset) == 0 && std::fread(buffer, 1, n, f) == n;
}

bool writeAt(FILE* f, uint64_t offset, const void* buffer, size_t n) {
  return seek64(f, offset) == 0 && std::fwrite(buffer, 1, n, f) == n;
}

// The RF64 ds64 chunk, checked to be large enough for the fields we touch.
int findDs64(ByteSource& src, uint64_t* offset) {
  uint32_t size = 0;
  if (flatChunkSearch(src, "ds64", ChunkLayout::Riff, offset, &size) != 0) return kErrIo;
  return size >= kDs64Bytes ? kSonvexOk : kErrIo;
}

int findDs64(FILE* f, uint64_t* offset) {
  FileSource src(f);
  return findDs64(src, offset);
}

// Stores 64-bit values at the given ds64 offsets.
int patchDs64(FILE* f, const size_t* at, const uint64_t* values, int count) {
  uint64_t offset;
  if (findDs64(f, &offset) != 0) return kErrIo;
  uint8_t image[8 + kDs64Bytes];
  if (!readAt(f, offset, image, sizeof image)) return kErrIo;
  for (int i = 0; i < count; ++i) putLe64(image + at[i], values[i]);
  return writeAt(f, offset, image, sizeof image) ? kSonvexOk : kErrIo;
}

// Builds the 32,768-byte header image: fmt in its 16-byte form (float: 18
// bytes and a fact chunk, which non-PCM tags need), a JUNK chunk that pads to
// the data header at 32,760.
void buildHeader(uint8_t* image, uint16_t channels, uint16_t bits, uint32_t rate, uint16_t tag,
                 bool rf64) {
  std::memset(image, 0, kWavHeaderBytes);
  std::memcpy(image, rf64 ? "RF64" : "RIFF", 4);
  putLe32(image + 4, kProvisionalRiffSize);
  std::memcpy(image + 8, "WAVE", 4);
  size_t at = 12;
  if (rf64) {
    std::memcpy(image + at, "ds64", 4);
    putLe32(image + at + 4, kDs64Bytes);
    at += 8 + kDs64Bytes;  // sizes stay 0 until finalize
  }
  const uint16_t blockAlign = uint16_t(uint32_t(channels) * bits / 8);
  const bool isFloat = tag == 3;
  const uint32_t fmtBytes = isFloat ? kFloatFmtBytes : kFmtBytes;
  std::memcpy(image + at, "fmt ", 4);
  putLe32(image + at + 4, fmtBytes);
  putLe16(image + at + 8, tag);
  putLe16(image + at + 10, channels);
  putLe32(image + at + 12, rate);
  putLe32(image + at + 16, uint32_t(blockAlign) * rate);
  putLe16(image + at + 20, blockAlign);
  putLe16(image + at + 22, bits);
  at += 8 + fmtBytes;  // cbSize stays 0
  if (isFloat) {
    std::memcpy(image + at, "fact", 4);
    putLe32(image + at + 4, kFactBytes);
    at += 8 + kFactBytes;  // count stays 0 until the sizes are known
  }
  std::memcpy(image + at, "JUNK", 4);
  putLe32(image + at + 4, uint32_t(kWavHeaderBytes - 8 - (at + 8)));
  std::memcpy(image + kWavHeaderBytes - 8, "data", 4);
  putLe32(image + kWavHeaderBytes - 4, 0);
}

// Header fields at fixed places of the image buildHeader makes.
constexpr uint64_t kRiffSizeAt = 4;
constexpr uint64_t kDs64At = 12;
constexpr uint64_t kDataSizeAt = kWavHeaderBytes - 4;

// Writes the header image at offset 0 and leaves the stream at the audio.
int writeImage(FILE* f, uint16_t channels, uint16_t bits, uint32_t rate, uint16_t tag, bool rf64) {
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kWavHeaderBytes]);
  if (!image) return kErrIo;
  buildHeader(image.get(), channels, bits, rate, tag, rf64);
  return writeAt(f, 0, image.get(), kWavHeaderBytes) ? kSonvexOk : kErrIo;
}

// The frame count of a fact chunk (and of ds64 in RF64) for `audioBytes`;
// files without fact are left as they are.
int patchFact(FILE* f, uint64_t audioBytes) {
  uint64_t offset;
  uint32_t size;
  if (flatChunkSearch(f, "fact", ChunkLayout::Riff, &offset, &size) != 0) return kSonvexOk;
  if (size < kFactBytes) return kSonvexOk;
  uint8_t fmt[8 + kFmtBytes];
  uint64_t fmtOffset;
  if (flatChunkSearch(f, "fmt ", ChunkLayout::Riff, &fmtOffset, nullptr) != 0 ||
      !readAt(f, fmtOffset, fmt, sizeof fmt))
    return kErrIo;
  const uint32_t blockAlign = le16(fmt + 20);
  if (blockAlign == 0) return kErrIo;
  const uint64_t frames = audioBytes / blockAlign;
  uint8_t count[4];
  putLe32(count, fieldFor(frames));
  if (!writeAt(f, offset + 8, count, sizeof count)) return kErrIo;
  uint64_t ds64;
  if (findDs64(f, &ds64) != 0) return kSonvexOk;
  const size_t at[] = {kDs64SampleCountAt};
  const uint64_t values[] = {frames};
  return patchDs64(f, at, values, 1);
}

// Moves everything from `from` to the end of the file down to `to` and
// truncates the file behind it.
int moveTailDown(FILE* f, uint64_t from, uint64_t to) {
  uint64_t size;
  if (fileSize(f, &size) != 0 || from > size || to > from) return kErrIo;
  constexpr size_t kPiece = 1048576;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(kPiece);
  } catch (const std::bad_alloc&) {
    return kErrIo;
  }
  uint64_t read = from, write = to;
  while (read < size) {
    const size_t n = size - read < kPiece ? size_t(size - read) : kPiece;
    if (!readAt(f, read, buffer.data(), n)) return kErrIo;
    if (!writeAt(f, write, buffer.data(), n)) return kErrIo;
    read += n;
    write += n;
  }
  return truncateFile(f, write);
}

// Integer or float as the source had it; other tags need more than the
// 16-byte fmt, so they fall back to the writer's rule.
uint16_t tagFor(uint16_t tag, uint32_t bits) {
  return (tag == 1 || tag == 3) ? tag : uint16_t(bits < 32 ? 1 : 3);
}

bool fitsFmt(uint32_t channels, uint32_t bits) {
  return channels > 0 && channels <= 0xFFFF && bits > 0 && bits <= 0xFFFF;
}

int kindOf(FILE* f) {
  int kind = 0;
  if (wavProbe(f, &kind) != 0) return 0;  // no kind
  return kind;
}

// Slots the system does not reach through the table.
int wavFindChunk(FILE* f, const char id[4], uint64_t* offset) {
  return flatChunkSearch(f, id, ChunkLayout::Riff, offset, nullptr);
}

int wavRemoveChunk(FILE* f, const char id[4]) {
  uint64_t offset;
  uint32_t size;
  if (flatChunkSearch(f, id, ChunkLayout::Riff, &offset, &size) != 0) return kErrIo;
  // A size deferred to ds64 cannot be removed with 32-bit arithmetic; the
  // header chunks themselves are what makes the file readable.
  if (size == kSizeUnknown || std::memcmp(id, "fmt ", 4) == 0 || std::memcmp(id, "ds64", 4) == 0)
    return kErrIo;
  const uint64_t end = offset + 8 + size + (size & 1);
  uint64_t total;
  if (fileSize(f, &total) != 0 || end > total) return kErrIo;
  if (moveTailDown(f, end, offset) != 0) return kErrIo;
  if (fileSize(f, &total) != 0) return kErrIo;
  return updateRiffSize(f, total - 8);
}

int wavSplitFile(FILE* f, FILE* second, uint64_t atByte) {
  uint64_t dataOffset, stored, audio;
  uint32_t rate, bits, channels;
  uint16_t tag;
  if (wavReadFormat(f, &rate, &bits, &channels, &tag) != 0) return kErrIo;
  if (!fitsFmt(channels, bits) || wavLocateData(f, &dataOffset, &stored, &audio) != 0)
    return kErrIo;
  // Only a file whose data chunk is wholly present can be cut safely.
  if (audio != stored || atByte > audio) return kErrIo;
  const uint64_t rest = audio - atByte;
  const bool rf64 = kWavHeaderBytes - 8 + rest >= kRiffSizeLimit;
  if (writeImage(second, uint16_t(channels), uint16_t(bits), rate, tagFor(tag, bits), rf64) != 0)
    return kErrIo;
  if (rest > 0 && copyRange(f, second, dataOffset + atByte, 0, true, int64_t(rest),
                            ProgressMode::None, nullptr) != 0)
    return kErrIo;
  if (wavFinalize(second, uint32_t(rest), uint32_t(rest >> 32), 0, 0) != 0) return kErrIo;
  // Chunks behind the audio (and its pad byte) move down to the cut.
  const uint64_t cut = dataOffset + atByte;
  const uint64_t keep = cut + (atByte & 1);
  if (moveTailDown(f, dataOffset + stored + (stored & 1), keep) != 0) return kErrIo;
  if ((atByte & 1) && !writeAt(f, cut, "", 1)) return kErrIo;
  const int kind = kindOf(f);
  if (kind == 0 || writeDataSizes(f, kind, atByte) != 0) return kErrIo;
  uint64_t total;
  if (fileSize(f, &total) != 0) return kErrIo;
  return updateRiffSize(f, total - 8);
}

int wavReadBextTimeReference(const uint8_t* image, uint32_t imageSize, uint64_t* timeReference) {
  if (!image || imageSize < kBextMinBytes) return kErrIo;
  *timeReference = le64(image + kBextTimeReferenceAt);
  return kSonvexOk;
}

int wavHeaderReserve(void) { return int(kWavHeaderBytes); }

OpenStatus wavReadHeader(ByteSource& src, AudioFormat* format) {
  int kind = 0;
  if (wavProbe(src, &kind) != 0) return OpenStatus::NotThisFormat;
  if (wavReadFormat(src, &format->sampleRate, &format->bitsPerSample, &format->channels,
                    &format->formatTag) != 0)
    return OpenStatus::FormatUnreadable;
  format->subformatTag =
      format->formatTag == kWaveFormatExtensible ? wavExtensibleSubformat(src) : format->formatTag;
  format->hasSampleLayout = wavSampleLayout(src, &format->wav) == 0;
  if (wavLocateData(src, &format->dataOffset, &format->chunkSize, &format->audioBytes) != 0)
    return OpenStatus::DataUnreadable;
  return OpenStatus::Ok;
}

// Frames are block align bytes; samples come out packed at their stated width.
class WavReader final : public AudioReader {
 public:
  using AudioReader::AudioReader;

  ReadStatus readPcm(uint8_t* out, int64_t count, int64_t* got) override {
    *got = 0;
    const uint32_t channels = format_.channels;
    if (!format_.hasSampleLayout || channels == 0) return ReadStatus::Unsupported;
    const int64_t first = position_;
    position_ += count;
    if (first < 0 || first >= frames_ || count <= 0) return ReadStatus::Ok;
    const int64_t wanted = std::min(count, frames_ - first);
    const uint64_t frameBytes = uint64_t(channels) * format_.wav.containerBytes;
    size_t n = 0;
    const IoStatus io = src_.readAt(format_.dataOffset + uint64_t(first) * frameBytes, out,
                                    size_t(wanted) * frameBytes, &n);
    if (io == IoStatus::SeekFailed) return ReadStatus::SeekFailed;
    if (io == IoStatus::ReadFailed) return ReadStatus::ReadFailed;
    *got = int64_t(n / frameBytes);
    wavPackFrames(out, size_t(*got), channels, format_.wav);
    return ReadStatus::Ok;
  }
};

std::unique_ptr<AudioReader> wavMakeReader(ByteSource& src, const AudioFormat& format) {
  return std::make_unique<WavReader>(src, format);
}

// Payload offset of a bext chunk that holds a time reference, or -1.
int locateBext(FILE* f, uint64_t* payload) {
  uint64_t offset;
  uint32_t size;
  if (flatChunkSearch(f, "bext", ChunkLayout::Riff, &offset, &size) != 0) return kErrIo;
  if (size < kBextMinBytes) return kErrIo;
  *payload = offset + 8;
  return kSonvexOk;
}

}  // namespace

int wavProbe(ByteSource& src, int* kind) {
  uint8_t header[12];
  // Too short to tell: accepted; the format read that follows refuses it.
  if (!src.readExact(0, header, sizeof header)) return kSonvexOk;
  int k;
  if (std::memcmp(header, "RIFF", 4) == 0)
    k = kRiffKindRiff;
  else if (std::memcmp(header, "RF64", 4) == 0)
    k = kRiffKindRf64;
  else
    return kErrNotSupported;
  if (std::memcmp(header + 8, "WAVE", 4) != 0) return kErrNotSupported;
  uint64_t offset;
  if (flatChunkSearch(src, "fmt ", ChunkLayout::Riff, &offset, nullptr) != 0)
    return kErrNotSupported;
  if (kind) *kind = k;
  return kSonvexOk;
}

int wavProbe(FILE* f, int* kind) {
  FileSource src(f);
  return wavProbe(src, kind);
}

int wavLocateData(ByteSource& src, uint64_t* dataOffset, uint64_t* chunkSize,
                  uint64_t* audioBytes) {
  *dataOffset = *chunkSize = *audioBytes = 0;
  uint64_t offset;
  if (flatChunkSearch(src, "data", ChunkLayout::Riff, &offset, nullptr) != 0) return kErrIo;
  uint8_t header[8];
  if (!src.readExact(offset, header, sizeof header)) return kErrIo;
  *dataOffset = offset + 8;
  uint64_t size = le32(header + 4);
  // Only an all-ones 32-bit size defers to ds64, whatever the form id says.
  if (size == kSizeUnknown) {
    uint64_t ds64;
    if (findDs64(src, &ds64) != 0) return kErrIo;
    uint8_t image[8 + kDs64Bytes];
    if (src.readExact(ds64, image, sizeof image)) size = le64(image + kDs64DataSizeAt);
  }
  *chunkSize = size;
  // Audio bytes: what the header claims, but never past the end of the file,
  // so readers of a cut-off recording stop where its audio stops.
  uint64_t total;
  if (!src.size(&total)) return kErrIo;
  const uint64_t present = total > *dataOffset ? total - *dataOffset : 0;
  *audioBytes = size < present ? size : present;
  return kSonvexOk;
}

int wavLocateData(FILE* f, uint64_t* dataOffset, uint64_t* chunkSize, uint64_t* audioBytes) {
  FileSource src(f);
  return wavLocateData(src, dataOffset, chunkSize, audioBytes);
}

int wavReadFormat(ByteSource& src, uint32_t* sampleRate, uint32_t* bitsPerSample,
                  uint32_t* channels, uint16_t* formatTag) {
  uint64_t offset;
  uint32_t size;
  if (flatChunkSearch(src, "fmt ", ChunkLayout::Riff, &offset, &size) != 0) return kErrIo;
  // A shorter fmt would make us read its fields from the next chunk.
  if (size < kFmtBytes) return kErrIo;
  uint8_t image[8 + kFmtBytes];
  if (!src.readExact(offset, image, sizeof image)) return kErrIo;
  *formatTag = le16(image + 8);
  *channels = le16(image + 10);
  *sampleRate = le32(image + 12);
  *bitsPerSample = le16(image + 22);
  return kSonvexOk;
}

int wavReadFormat(FILE* f, uint32_t* sampleRate, uint32_t* bitsPerSample, uint32_t* channels,
                  uint16_t* formatTag) {
  FileSource src(f);
  return wavReadFormat(src, sampleRate, bitsPerSample, channels, formatTag);
}

int wavSampleLayout(ByteSource& src, WavSampleLayout* layout) {
  uint64_t offset;
  uint32_t size;
  if (flatChunkSearch(src, "fmt ", ChunkLayout::Riff, &offset, &size) != 0 || size < kFmtBytes)
    return kErrIo;
  uint8_t image[8 + kFmtBytes];
  if (!src.readExact(offset, image, sizeof image)) return kErrIo;
  const uint32_t tag = le16(image + 8), channels = le16(image + 10), align = le16(image + 20),
                 bits = le16(image + 22);
  if (channels == 0 || bits == 0) return kErrIo;
  layout->sampleBytes = (bits + 7) / 8;
  layout->containerBytes = layout->sampleBytes;
  layout->topAligned = tag == 0xFFFE;
  if (align % channels == 0 && align / channels > layout->sampleBytes && align / channels <= 8)
    layout->containerBytes = align / channels;
  return kSonvexOk;
}

int wavSampleLayout(FILE* f, WavSampleLayout* layout) {
  FileSource src(f);
  return wavSampleLayout(src, layout);
}

uint16_t wavExtensibleSubformat(ByteSource& src) {
  uint64_t offset = 0;
  if (flatChunkSearch(src, "fmt ", ChunkLayout::Riff, &offset, nullptr) != 0)
    return kWaveFormatExtensible;
  uint8_t fmt[8 + 40];
  if (!src.readExact(offset, fmt, sizeof fmt)) return kWaveFormatExtensible;
  const uint32_t size = le32(fmt + 4);
  const uint16_t extra = le16(fmt + 8 + 16);
  if (size < 40 || extra < 22) return kWaveFormatExtensible;
  return le16(fmt + 8 + 24);
}

void wavPackFrames(uint8_t* data, size_t frames, uint32_t channels, const WavSampleLayout& layout) {
  if (!layout.padded()) return;
  const size_t sample = layout.sampleBytes, container = layout.containerBytes;
  const size_t skip = layout.topAligned ? container - sample : 0;
  // Forwards: every write lands at or before the bytes it came from.
  uint8_t* out = data;
  for (size_t i = 0; i < frames * channels; ++i, out += sample)
    std::memmove(out, data + i * container + skip, sample);
}

int wavWriteHeader(FILE* f, const WriteFormat* format, int /*type*/) {
  if (!format) return kErrIo;
  const uint32_t bits = format->bitsPerSample;
  const uint32_t channels = format->channels;
  // Only the word lengths the converter produces; anything else would give a
  // header whose block align or byte rate is wrong.
  if ((bits != 16 && bits != 24 && bits != 32) || channels == 0 || format->sampleRate == 0)
    return kErrIo;
  const uint64_t blockAlign = uint64_t(channels) * bits / 8;
  if (blockAlign > 0xFFFF || blockAlign * format->sampleRate > 0xFFFFFFFFull) return kErrIo;
  const uint16_t tag = bits < 32 ? 1 : 3;
  return writeImage(f, uint16_t(channels), uint16_t(bits), format->sampleRate, tag,
                    format->rf64 == 1);
}

int wavFinalize(FILE* f, uint32_t bytesLow, uint32_t bytesHigh, uint32_t /*framesLow*/,
                uint32_t /*framesHigh*/) {
  const uint64_t audioBytes = (uint64_t(bytesHigh) << 32) | bytesLow;
  uint64_t offset;
  if (flatChunkSearch(f, "data", ChunkLayout::Riff, &offset, nullptr) != 0) {
    diag("searchSpecifiedChunk Error \n");
    return kErrIo;
  }
  if (seek64(f, offset) != 0) {
    diag("v_lseek Error \n");
    return kErrIo;
  }
  uint8_t header[8];
  const size_t got = std::fread(header, 1, sizeof header, f);
  if (got != sizeof header) {
    diag(std::ferror(f) ? "v_read Error \n" : "readSize Error \n");
    return kErrIo;
  }
  putLe32(header + 4, bytesHigh == 0 ? bytesLow : kSizeUnknown);
  if (seek64(f, offset) != 0) {
    diag("v_lseek 2 Error \n");
    return kErrIo;
  }
  if (std::fwrite(header, 1, sizeof header, f) != sizeof header) {
    diag("v_write Error \n");
    return kErrIo;
  }
  uint8_t form[4];
  if (!readAt(f, 0, form, sizeof form)) return kErrIo;
  if (std::memcmp(form, "RF64", 4) == 0) {
    const size_t at[] = {kDs64DataSizeAt};
    const uint64_t values[] = {audioBytes};
    if (patchDs64(f, at, values, 1) != 0) return kErrIo;
  }
  if (patchFact(f, audioBytes) != 0) return kErrIo;
  uint64_t size;
  if (fileSize(f, &size) != 0 || size < 8) {
    diag("v_getFileSize Error \n");
    return kErrNotSupported;
  }
  return updateRiffSize(f, size - 8);
}

int writeRiffSizes(FILE* f, int kind, uint64_t riffSize) {
  uint8_t header[12];
  if (!readAt(f, 0, header, sizeof header)) return kErrIo;
  putLe32(header + 4, fieldFor(riffSize));
  if (!writeAt(f, 0, header, sizeof header)) return kErrIo;
  if (kind == kRiffKindRf64) {
    const size_t at[] = {kDs64RiffSizeAt};
    const uint64_t values[] = {riffSize};
    if (patchDs64(f, at, values, 1) != 0) return kErrIo;
  }
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

int writeDataSizes(FILE* f, int kind, uint64_t audioBytes) {
  uint32_t rate, bits, channels;
  uint16_t tag;
  if (wavReadFormat(f, &rate, &bits, &channels, &tag) != 0) return kErrIo;
  uint64_t offset;
  if (flatChunkSearch(f, "data", ChunkLayout::Riff, &offset, nullptr) != 0) return kErrIo;
  uint8_t header[8];
  if (!readAt(f, offset, header, sizeof header)) return kErrIo;
  putLe32(header + 4, fieldFor(audioBytes));
  if (!writeAt(f, offset, header, sizeof header)) return kErrIo;
  if (kind == kRiffKindRf64) {
    const size_t at[] = {kDs64DataSizeAt, kDs64SampleCountAt};
    const uint64_t values[] = {audioBytes, 0};
    if (patchDs64(f, at, values, 2) != 0) return kErrIo;
  }
  if (patchFact(f, audioBytes) != 0) return kErrIo;
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

int updateRiffSize(FILE* f, uint64_t riffSize) {
  const int kind = kindOf(f);
  // RF64 carries its true sizes in ds64 and is valid at any length; a plain
  // RIFF cannot describe 2^32 bytes or more.
  if (kind == kRiffKindRf64) return writeRiffSizes(f, kind, riffSize) == 0 ? kSonvexOk : kErrIo;
  if (kind == kRiffKindRiff && riffSize < kRiffSizeLimit)
    return writeRiffSizes(f, kind, riffSize) == 0 ? kSonvexOk : kErrIo;
  return kErrIo;
}

int rebuildWav(FILE* head, FILE* scratch, uint64_t riffSize, uint64_t audioBytes, int* progress) {
  // The rebuilt file's own RIFF size decides its kind: its header is 32,768
  // bytes whatever the head's was.
  const uint64_t rebuiltRiffSize = kWavHeaderBytes - 8 + audioBytes;
  const int kind = (riffSize >= kRiffSizeLimit || rebuiltRiffSize >= kRiffSizeLimit)
                       ? kRiffKindRf64
                       : kRiffKindRiff;
  uint32_t rate, bits, channels;
  uint16_t tag;
  if (wavReadFormat(head, &rate, &bits, &channels, &tag) != 0) return kErrIo;
  if (!fitsFmt(channels, bits)) return kErrIo;
  if (writeImage(scratch, uint16_t(channels), uint16_t(bits), rate, tagFor(tag, bits),
                 kind == kRiffKindRf64) != 0)
    return kErrIo;
  uint64_t dataOffset, stored, present;
  if (wavLocateData(head, &dataOffset, &stored, &present) != 0) return kErrIo;
  if (audioBytes > INT64_MAX) return kErrIo;
  if (audioBytes > 0 && copyRange(head, scratch, dataOffset, 0, true, int64_t(audioBytes),
                                  ProgressMode::LastPhase, progress) != 0)
    return kErrIo;
  if (writeRiffSizes(scratch, kind, rebuiltRiffSize) != 0) return kErrIo;
  if (writeDataSizes(scratch, kind, audioBytes) != 0) return kErrIo;
  if (truncateFile(head, 0) != 0) return kErrIo;
  return copyWhole(head, scratch);
}

int writeTimeReference(FILE* f, uint64_t timeReference) {
  uint32_t rate, bits, channels;
  uint16_t tag;
  if (wavReadFormat(f, &rate, &bits, &channels, &tag) != 0) return kErrIo;
  const uint64_t samplesPerDay = uint64_t(rate) * kSecondsPerDay;
  if (timeReference >= samplesPerDay) timeReference -= samplesPerDay;
  uint64_t offset;
  if (flatChunkSearch(f, "bext", ChunkLayout::Riff, &offset, nullptr) != 0) {
    uint64_t size;
    // Best effort: the missing chunk is what the caller hears about.
    if (fileSize(f, &size) == 0 && size >= 8) (void)updateRiffSize(f, size - 8);
    return kErrNoBextChunk;
  }
  uint64_t payload, size;
  // The chunk must hold the field and the file must hold the chunk, or the
  // write would land in the next chunk or grow the file.
  if (locateBext(f, &payload) != 0 || fileSize(f, &size) != 0 || size < payload + kBextMinBytes)
    return kErrIo;
  uint8_t field[8];
  putLe64(field, timeReference);  // TimeReferenceLow then TimeReferenceHigh
  if (!writeAt(f, payload + kBextTimeReferenceAt, field, sizeof field)) return kErrIo;
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

int readTimeReference(FILE* f, uint64_t* timeReference) {
  uint64_t payload;
  if (locateBext(f, &payload) != 0) return kErrIo;
  uint8_t image[kBextMinBytes];
  if (!readAt(f, payload, image, sizeof image)) return kErrIo;
  return wavReadBextTimeReference(image, sizeof image, timeReference);
}

namespace {

// Packed samples behind the fixed header; the sizes go where buildHeader put
// their fields.
class WavWriter final : public AudioWriter {
 public:
  explicit WavWriter(ByteSink& sink) : AudioWriter(sink, kWavHeaderBytes) {}

  int begin(const WriteFormat& format) override {
    const uint32_t bits = format.bitsPerSample, channels = format.channels;
    if ((bits != 16 && bits != 24 && bits != 32) || channels == 0 || format.sampleRate == 0)
      return kErrIo;
    blockAlign_ = uint64_t(channels) * bits / 8;
    if (blockAlign_ > 0xFFFF || blockAlign_ * format.sampleRate > 0xFFFFFFFFull) return kErrIo;
    rf64_ = format.rf64 == 1;
    float_ = bits == 32;
    try {
      buffer_.resize(kWavHeaderBytes);
    } catch (const std::bad_alloc&) {
      return kErrIo;
    }
    buildHeader(buffer_.data(), uint16_t(channels), uint16_t(bits), format.sampleRate,
                float_ ? 3 : 1, rf64_);
    return sink_.append(buffer_.data(), kWavHeaderBytes);
  }

  int writePcm(const uint8_t* samples, int64_t frames) override {
    return put(samples, size_t(uint64_t(frames) * blockAlign_), frames);
  }

 private:
  int writeSizes(uint64_t audioBytes, uint64_t) override {
    uint8_t field[8];
    putLe32(field, fieldFor(audioBytes));
    if (sink_.writeAt(kDataSizeAt, field, 4) != kSonvexOk) return kErrWrite;
    if (rf64_) {
      putLe64(field, audioBytes);
      if (sink_.writeAt(kDs64At + kDs64DataSizeAt, field, 8) != kSonvexOk) return kErrWrite;
    }
    if (float_) {
      // The fact chunk follows ds64 (RF64) and the 18-byte fmt.
      const uint64_t frames = audioBytes / blockAlign_;
      const uint64_t fact = 12 + (rf64_ ? 8 + kDs64Bytes : 0) + 8 + kFloatFmtBytes;
      putLe32(field, fieldFor(frames));
      if (sink_.writeAt(fact + 8, field, 4) != kSonvexOk) return kErrWrite;
      putLe64(field, frames);
      if (rf64_ && sink_.writeAt(kDs64At + kDs64SampleCountAt, field, 8) != kSonvexOk)
        return kErrWrite;
    }
    const uint64_t riffSize = kWavHeaderBytes + audioBytes - 8;
    // A plain RIFF cannot describe 4 GiB or more; RF64 carries the truth in ds64.
    if (!rf64_ && riffSize >= kRiffSizeLimit) return kErrIo;
    putLe32(field, fieldFor(riffSize));
    if (sink_.writeAt(kRiffSizeAt, field, 4) != kSonvexOk) return kErrWrite;
    putLe64(field, riffSize);
    if (rf64_ && sink_.writeAt(kDs64At + kDs64RiffSizeAt, field, 8) != kSonvexOk) return kErrWrite;
    return kSonvexOk;
  }
  uint64_t unitBytes() const override { return blockAlign_; }
  uint64_t framesIn(uint64_t bytes) const override { return bytes / blockAlign_; }

  uint64_t blockAlign_ = 0;
  bool rf64_ = false;
  bool float_ = false;
};

std::unique_ptr<AudioWriter> wavMakeWriter(ByteSink& sink) {
  return std::make_unique<WavWriter>(sink);
}

}  // namespace

const FormatDriver kWavDriver = {
    wavProbe,                  // 0
    wavLocateData,             // 1
    wavFindChunk,              // 2
    wavReadFormat,             // 3
    readTimeReference,         // 4
    wavRemoveChunk,            // 5
    wavWriteHeader,            // 6
    wavFinalize,               // 7
    wavSplitFile,              // 8
    appendWav,                 // 9: append_wav.cpp
    writeTimeReference,        // 10
    wavReadBextTimeReference,  // 11
    wavHeaderReserve,          // 12
    wavReadHeader,             // 13
    wavMakeReader,             // 14
    wavMakeWriter,             // 15
    nullptr,                   // 16: appended in place (9)
};

}  // namespace sonvex
