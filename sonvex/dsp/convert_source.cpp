#include "convert_source.h"

#include <algorithm>
#include <cstring>

#include "convert_kernels.h"
#include "sonvex.h"

namespace sonvex::convert {

namespace {

int readFailure(ReadStatus r, int unsupported) {
  switch (r) {
    case ReadStatus::SeekFailed:
      return kConvertErrSeek;
    case ReadStatus::OutOfMemory:
      return kConvertErrWorkBuffer;
    case ReadStatus::Unsupported:
      return unsupported;
    default:
      return kConvertErrRead;
  }
}

}  // namespace

SourceReader::SourceReader(AudioReader& audio, int64_t firstFrame, int64_t limitFrame)
    : audio_(audio), first_(firstFrame), next_(firstFrame), limit_(limitFrame) {}

int SourceReader::readPcm(double* out, int64_t frames) {
  const AudioFormat& format = audio_.format();
  const uint32_t ch = format.channels, bits = format.sampleBits();
  if ((ch != 1 && ch != 2) || (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64))
    return kConvertErrWavUnpack;
  int64_t avail = std::max<int64_t>(0, std::min(frames, limit_ - next_));
  if (endedEarly_) avail = 0;
  int64_t got = 0;
  if (avail > 0) {
    raw_.resize(size_t(avail) * ch * (format.storedBits() / 8));
    audio_.seek(next_);
    const ReadStatus r = audio_.readPcm(raw_.data(), avail, &got);
    if (r != ReadStatus::Ok) return readFailure(r, kConvertErrWavUnpack);
    if (got < avail) endedEarly_ = true;
    const int u = unpackPcm(raw_.data(), size_t(got), ch, bits, format.subformatTag, out);
    if (u != kSonvexOk) return u;
  }
  std::memset(out + 2 * got, 0, size_t(frames - got) * 2 * sizeof(double));
  real_ += got;
  next_ += frames;
  return kSonvexOk;
}

int SourceReader::readDsd(uint8_t* left, uint8_t* right, int64_t bytes) {
  const uint32_t ch = audio_.format().channels;
  const int unsupported =
      audio_.format().type == kFileTypeDsf ? kConvertErrDsfUnpack : kConvertErrDsdiffUnpack;
  if (ch != 1 && ch != 2) return unsupported;
  const int64_t firstByte = next_ / 8;
  const int64_t limitByte = limit_ / 8;
  int64_t avail = std::max<int64_t>(0, std::min(bytes, limitByte - firstByte));
  if (endedEarly_) avail = 0;
  int64_t got = 0;
  if (avail > 0) {
    uint8_t* const out[2] = {left, right};
    audio_.seek(next_);
    const ReadStatus r = audio_.readDsd(out, size_t(avail), &got);
    if (r != ReadStatus::Ok) return readFailure(r, unsupported);
    if (got < avail) endedEarly_ = true;
  }
  std::memset(left + got, kIdleByte, size_t(bytes - got));
  // Mono: the right lane is silence throughout.
  const int64_t rightFrom = ch == 1 ? 0 : got;
  std::memset(right + rightFrom, kIdleByte, size_t(bytes - rightFrom));
  real_ += got * 8;
  next_ += bytes * 8;
  return kSonvexOk;
}

}  // namespace sonvex::convert
