#include "convert_source.h"

#include <algorithm>
#include <cstring>

#include "convert_kernels.h"
#include "fileio.h"
#include "sonvex.h"
#include "wav.h"

namespace sonvex::convert {

namespace {

constexpr uint64_t kDsfBlock = 4096;
constexpr uint64_t kDsfGroupsPerRead = 16;

}  // namespace

SourceReader::SourceReader(FILE* f, const SourceLayout& layout, int64_t firstFrame,
                           int64_t limitFrame)
    : f_(f), layout_(layout), first_(firstFrame), next_(firstFrame), limit_(limitFrame) {}

int SourceReader::readPcm(double* out, int64_t frames) {
  const uint32_t ch = layout_.channels, bits = layout_.bits;
  if ((ch != 1 && ch != 2) || (bits != 16 && bits != 24 && bits != 32 && bits != 64))
    return kConvertErrWavUnpack;
  const WavSampleLayout wav{bits / 8, layout_.containerBytes ? layout_.containerBytes : bits / 8,
                            layout_.topAligned};
  const uint64_t frameBytes = uint64_t(ch) * wav.containerBytes;
  int64_t avail = std::max<int64_t>(0, std::min(frames, limit_ - next_));
  if (endedEarly_) avail = 0;
  int64_t got = 0;
  if (avail > 0) {
    if (seek64(f_, layout_.dataOffset + uint64_t(next_) * frameBytes) != 0) return kConvertErrSeek;
    raw_.resize(size_t(avail) * frameBytes);
    const size_t n = std::fread(raw_.data(), 1, raw_.size(), f_);
    if (std::ferror(f_)) return kConvertErrRead;
    got = int64_t(n / frameBytes);
    if (got < avail) endedEarly_ = true;
    wavPackFrames(raw_.data(), size_t(got), ch, wav);
    const int r = unpackPcm(raw_.data(), size_t(got), ch, bits, layout_.formatTag, out);
    if (r != kSonvexOk) return r;
  }
  std::memset(out + 2 * got, 0, size_t(frames - got) * 2 * sizeof(double));
  real_ += got;
  next_ += frames;
  return kSonvexOk;
}

int SourceReader::readDsfGroups(uint64_t group, uint64_t count) {
  const uint64_t ch = layout_.channels;
  const uint64_t groupBytes = ch * kDsfBlock;
  dsfLeft_.assign(count * kDsfBlock, kIdleByte);
  dsfRight_.assign(count * kDsfBlock, kIdleByte);
  dsfFirstGroup_ = group;
  dsfGroups_ = count;
  if (endedEarly_) return kSonvexOk;
  if (seek64(f_, layout_.dataOffset + group * groupBytes) != 0) return kConvertErrSeek;
  raw_.resize(size_t(count * groupBytes));
  const size_t n = std::fread(raw_.data(), 1, raw_.size(), f_);
  if (std::ferror(f_)) return kConvertErrRead;
  if (n < raw_.size()) {
    std::memset(raw_.data() + n, kIdleByte, raw_.size() - n);
    // Per-channel bytes that came from the file: whole groups, then what the
    // last channel block of the partial group received. The read-ahead runs
    // past the end of every file; only a file that stops before its audio
    // does has ended early.
    const uint64_t rem = n % groupBytes;
    const uint64_t lastChannel = ch == 2 ? (rem > kDsfBlock ? rem - kDsfBlock : 0) : rem;
    const uint64_t realEnd = (group + n / groupBytes) * kDsfBlock + lastChannel;
    if (realEnd < layout_.audioBytes / ch) {
      endedEarly_ = true;
      dsfRealEnd_ = int64_t(realEnd);
    }
  }
  for (uint64_t g = 0; g < count; ++g) {
    const int r =
        deinterleaveDsfGroup(raw_.data() + g * groupBytes, kDsfBlock, uint32_t(ch),
                             dsfLeft_.data() + g * kDsfBlock, dsfRight_.data() + g * kDsfBlock);
    if (r != kSonvexOk) return r;
  }
  return kSonvexOk;
}

int SourceReader::readDsd(uint8_t* left, uint8_t* right, int64_t bytes) {
  const uint32_t ch = layout_.channels;
  const bool dsf = layout_.type == 2;
  if (ch != 1 && ch != 2) return dsf ? kConvertErrDsfUnpack : kConvertErrDsdiffUnpack;
  const int64_t firstByte = next_ / 8;
  const int64_t limitByte = limit_ / 8;
  const int64_t avail = std::max<int64_t>(0, std::min(bytes, limitByte - firstByte));
  int64_t got = 0;
  if (dsf) {
    while (got < avail) {
      const uint64_t b = uint64_t(firstByte + got);
      const uint64_t g = b / kDsfBlock;
      if (g < dsfFirstGroup_ || g >= dsfFirstGroup_ + dsfGroups_) {
        if (endedEarly_) break;
        const int r = readDsfGroups(g, kDsfGroupsPerRead);
        if (r != kSonvexOk) return r;
      }
      const uint64_t at = b - dsfFirstGroup_ * kDsfBlock;
      const uint64_t take = std::min<uint64_t>(uint64_t(avail - got), dsfGroups_ * kDsfBlock - at);
      std::memcpy(left + got, dsfLeft_.data() + at, size_t(take));
      std::memcpy(right + got, dsfRight_.data() + at, size_t(take));
      got += int64_t(take);
    }
    // Bytes past an early end were filled with the idle byte while decoding.
  } else if (avail > 0 && !endedEarly_) {
    if (seek64(f_, layout_.dataOffset + uint64_t(firstByte) * ch) != 0) return kConvertErrSeek;
    raw_.resize(size_t(avail) * ch);
    const size_t n = std::fread(raw_.data(), 1, raw_.size(), f_);
    if (std::ferror(f_)) return kConvertErrRead;
    got = int64_t(n / ch);
    if (got < avail) endedEarly_ = true;
    const int r = deinterleaveDsdiff(raw_.data(), size_t(got), ch, left, right);
    if (r != kSonvexOk) return r;
  }
  std::memset(left + got, kIdleByte, size_t(bytes - got));
  std::memset(right + got, kIdleByte, size_t(bytes - got));
  const int64_t realBytes =
      dsf ? std::min(got, std::max<int64_t>(0, dsfRealEnd_ - firstByte)) : got;
  real_ += realBytes * 8;
  next_ += bytes * 8;
  return kSonvexOk;
}

}  // namespace sonvex::convert
