// sonvexert: one source file through the rate plan, block by block, into a
// new file (export) or to the caller's block callback (stream).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "audiowriter.h"
#include "bytesink.h"
#include "chunkio.h"
#include "convert_dsdout.h"
#include "convert_kernels.h"
#include "convert_plan.h"
#include "convert_ring.h"
#include "convert_source.h"
#include "diag.h"
#include "driver.h"
#include "dsdstage.h"
#include "fileio.h"
#include "rateconv.h"
#include "sonvex.h"
#include "tags.h"

namespace sonvex::convert {
namespace {

// Pulls and drops the output frames ahead of the range start, through
// `scratch` (room frames).
template <typename Engine>
bool dropLeading(Engine& engine, double* scratch, int64_t room, int64_t* skip) {
  while (*skip > 0) {
    const int64_t k = std::min(*skip, room);
    if (engine.pull(scratch, size_t(k)) != size_t(k)) return false;
    *skip -= k;
  }
  return true;
}

void storeInt(int32_t* p, int32_t v) {
  if (p) __atomic_store_n(p, v, __ATOMIC_RELEASE);
}

struct Request {
  const SonvexChar* destinationPath;
  const SonvexChar* sourcePath;
  const ConvertFormat* format;
  const ChannelMatrix* matrix;
  ConvertRange* range;
  BlockCallback onBlock;
  DrainCallback onDrain;
  const LevelPoint* envelope;
  ByteSource* source;  // read instead of sourcePath's file when set
};

class Conversion {
 public:
  explicit Conversion(const Request& rq) : rq_(rq) {}
  int run();

 private:
  int open();
  int plan();
  int loop();
  int finish();
  int produceBlock(int64_t n, double* slot, int64_t* produced);
  void pushIdleLead(size_t bytes);
  int readDsdAhead(size_t bytes);
  int outputBlock(int slot, int64_t n);
  int written(int r);
  int createDestination();
  int finalizeOutput();
  void finalizeAfterFailure();
  int settle(int result);
  int stopped();

  Request rq_;
  bool export_ = false;
  bool dsdOut_ = false;
  bool dsdSource_ = false;
  bool passThrough_ = false;
  bool remodulate_ = false;
  bool eqOn_ = false;
  int outType_ = 0;
  uint32_t outChannels_ = 2;
  uint32_t outBits_ = 16;
  bool ditherOn_ = false;
  TpdfDither dither_;
  int32_t* progress_ = nullptr;
  WriteFormat wf_{};

  FilePtr src_, dst_;
  std::unique_ptr<FileSource> fileSource_;
  std::unique_ptr<AudioReader> audio_;
  SourceLayout layout_;
  uint32_t srcRate_ = 0;
  int64_t sourceFrames_ = 0;
  RatePlan rate_;
  RangePlan range_;
  BlockPlan blocks_;

  std::vector<double> proto_;
  std::unique_ptr<Resampler> pcmEngine_;
  std::unique_ptr<DsdDecimator> dsdEngine_;
  std::unique_ptr<SourceReader> reader_;
  std::unique_ptr<LevelEnvelope> envelope_;
  Ring ring_;
  DsdOutput dsdStage_;

  std::vector<double> readBuf_;
  std::vector<double> levels_;
  std::vector<uint8_t> dsdInL_, dsdInR_;
  std::vector<uint8_t> writeBuf_;
  std::unique_ptr<FileSink> sink_;
  std::unique_ptr<AudioWriter> writer_;
  Tags tags_;  // the source's metadata, for an export

  int64_t produced_ = 0;
  int filterTapsArg_ = 0;
  int64_t skip_ = 0;  // leading output frames still to drop (export timing)
  // Same-rate re-modulation: the source read this many bits ahead.
  int aheadBits_ = 0;
  std::vector<uint8_t> aheadL_, aheadR_;
  size_t aheadFill_ = 0;
  // The export is written to a file beside the destination and renamed over
  // it at the end, so a failure before any audio leaves the destination as
  // it was.
  std::string target_, tempName_;
  int writeErrno_ = 0;

 public:
  int writeErrno() const { return writeErrno_; }
};

int Conversion::run() {
  int r = open();
  if (r == kSonvexOk) r = plan();
  if (r == kSonvexOk) r = loop();
  if (r == kSonvexOk) r = finish();
  return settle(r);
}

int Conversion::createDestination() {
  target_ = replacementTarget(rq_.destinationPath);
  dst_ = createBeside(target_, &tempName_);
  if (!dst_) {
    diag("Write File Open Error!\n");
    return kConvertErrDestinationOpen;
  }
  sink_ = std::make_unique<FileSink>(dst_.get());
  writer_ = makeAudioWriter(outType_, *sink_);
  if (writer_) {
    writer_->setTags(tagBlocksFor(tags_, outType_, range_.start, srcRate_, wf_.sampleRate));
    writer_->expectFrames(range_.outFrames);
  }
  if (!writer_ || writer_->begin(wf_) != kSonvexOk) {
    diag("Create Header Error!\n");
    return kConvertErrCreateHeader;
  }
  return kSonvexOk;
}

// Keeps the file when the user stopped the export or audio reached it (then
// finalised, so it reads back consistently), else removes it; the
// destination's name is taken only by a file that is kept.
int Conversion::settle(int result) {
  if (!dst_) return result;
  const bool stop = result == kConvertStoppedDsd || result == kConvertStoppedPcm;
  const bool keep = result == kSonvexOk || stop || (writer_ && writer_->audioBytes() > 0);
  if (keep && writer_ && !writer_->finalized()) (void)finalizeOutput();
  if (std::fclose(dst_.release()) != 0 && result == kSonvexOk) {
    if (!writeErrno_) writeErrno_ = errno;
    result = kConvertErrWrite;
  }
  if (!keep) {
    std::remove(tempName_.c_str());
    return result;
  }
  if (replaceWith(tempName_, target_) != 0) {
    std::remove(tempName_.c_str());
    diag("Write File Open Error!\n");
    if (result == kSonvexOk) result = kConvertErrDestinationOpen;
  }
  return result;
}

int Conversion::open() {
  const ConvertFormat& f = *rq_.format;
  export_ = __atomic_load_n(&rq_.range->statusWord, __ATOMIC_ACQUIRE) == kConvertExportMode;
  outType_ = f.fileType;
  dsdOut_ = outType_ == kFileTypeDsf || outType_ == kFileTypeDsdiff;
  outChannels_ = uint32_t(f.channels) & 0xFFFFu;
  outBits_ = uint32_t(f.bitsPerSample) & 0xFFFFu;
  ditherOn_ = export_ && !dsdOut_ && outBits_ != 32 && pcmExportDither() == kPcmDitherTpdf;
  progress_ = f.progress;

  // Step 3: the source's type by its extension (unknown: -7 after opening).
  const int srcType = typeFromPath(rq_.sourcePath);
  layout_.type = srcType;
  dsdSource_ = isDsdType(srcType);

  // An output the packer cannot produce is refused before any file is made.
  if (!dsdOut_ && (outChannels_ < 1 || outChannels_ > 2 ||
                   (outBits_ != 16 && outBits_ != 24 && outBits_ != 32))) {
    diag("PCM to WAV Error! \n");
    return kConvertErrPcmPack;
  }
  // FLAC holds integers only, at PCM rates.
  if (export_ && outType_ == kFileTypeFlac &&
      (outBits_ == 32 || sonvexRateForCode(f.rateIndex) >= kDsdRateMin)) {
    diag("Create Header Error!\n");
    return outBits_ == 32 ? kConvertErrPcmPack : kConvertErrRatePlan;
  }
  if (dsdOut_ && (outChannels_ < 1 || outChannels_ > 2)) {
    if (outType_ == kFileTypeDsf) {
      diag("Convert DSD to DSF file Error! \n");
      return kConvertErrDsfPack;
    }
    diag("Convert DSD to DSDIFF file Error! \n");
    return kConvertErrDsdiffPack;
  }

  ByteSource* source = rq_.source;
  if (!source) {
    src_ = openFile(rq_.sourcePath, "rb");
    if (!src_) {
      diag("Read File Open Error!\n");
      return kConvertErrSourceOpen;
    }
    fileSource_ = std::make_unique<FileSource>(src_.get());
    source = fileSource_.get();
  }
  const uint32_t dstRate = sonvexRateForCode(f.rateIndex);
  wf_.channels = uint16_t(outChannels_);
  wf_.bitsPerSample = uint16_t(outBits_);
  wf_.sampleRate = dstRate;
  wf_.notMono = (f.channels & 0xFFFF) == 1 ? 0 : 1;
  wf_.timeReference = 0;
  if (export_) {
    // Opening the destination truncates it: never when it is the source.
    if (src_ && isSameFile(src_.get(), rq_.destinationPath)) {
      diag("Destination Is Source Error!\n");
      return kConvertErrDestinationIsSource;
    }
    // A folder or a write-protected file of that name is never replaced.
    if (refusesReplacement(rq_.destinationPath)) {
      diag("Write File Open Error!\n");
      return kConvertErrDestinationOpen;
    }
  }

  AudioFormat format;
  const OpenStatus opened =
      srcType < 0 ? OpenStatus::NotThisFormat : openAudio(*source, srcType, &format, &audio_);
  if (opened == OpenStatus::NotThisFormat) {
    diag("Check Header Error!\n");
    return kConvertErrHeader;
  }
  if (opened == OpenStatus::FormatUnreadable) {
    diag("Search FMT Chunk Error!\n");
    return kConvertErrFormatChunk;
  }
  if (opened == OpenStatus::OutOfMemory) return kConvertErrWorkBuffer;
  const uint16_t tag = format.subformatTag;
  if (format.bitsPerSample >= 32 && tag != 1 && tag != 3) {
    diag("Search FMT Chunk Error!\n");
    return kConvertErrSampleFormat;
  }
  if (opened == OpenStatus::DataUnreadable) {
    diag("Search DATA Chunk Error!\n");
    return kConvertErrDataChunk;
  }
  // A damaged tag never fails an export: it is just not carried over.
  if (export_) (void)readTags(*source, format, &tags_);
  srcRate_ = format.sampleRate;
  layout_.channels = format.channels;
  layout_.bits = format.sampleBits();
  sourceFrames_ = audio_->frames();

  // Pass-through permission: export at the source's rate with the EQ master off.
  const EqSettings* eq = rq_.range->eq;
  const bool master = eq && eq->masterOn && *eq->masterOn != 0;
  passThrough_ = export_ && dstRate == srcRate_ && !master;
  // The bands follow the master switch, as on playback.
  eqOn_ = export_ && eq && eq->masterOn && *eq->masterOn == 1;
  return kSonvexOk;
}

int Conversion::plan() {
  const ConvertFormat& f = *rq_.format;
  const uint32_t dstRate = wf_.sampleRate;
  const uint64_t g = srcRate_ && dstRate ? greatestCommonDivisor(srcRate_, dstRate) : 0;
  const uint64_t common = g ? uint64_t(srcRate_ / g) * dstRate : 0;
  diag("Source File Number = %d\n", 0);
  diag("Up Convert FS = %d\n", int(common));
  int r = makeRatePlan(srcRate_, dstRate, export_, f.filterMethod, outType_, layout_.type, &rate_);
  if (r != kSonvexOk) return r;
  r = makeRangePlan(rate_, layout_.type, layout_.channels, rq_.range->startFrame,
                    rq_.range->endFrame, sourceFrames_, outChannels_, outBits_, &range_);
  if (r != kSonvexOk) return r;
  wf_.rf64 = range_.rf64 ? 1 : 0;
  r = makeBlockPlan(rate_, range_, layout_.type, &blocks_);
  if (r != kSonvexOk) return r;
  if (export_ && (outType_ < 0 || outType_ > kFileTypeFlac)) {
    diag("Create Header Error!\n");
    return kConvertErrCreateHeader;
  }

  const bool hold = f.holdInterpolation == 1;
  // Stream mode keeps the delay the playback engine aligns to (filterTaps).
  ExportAlignment align;
  if (export_ && !hold) align = exportAlignment(rate_, dsdSource_, dsdOut_);
  if (rate_.taps != 0 && !hold) {
    proto_ = designLowpass(double(rate_.commonRate), rate_.cutoff, rate_.taps, rate_.outputScale,
                           int(rate_.up));
    if (proto_.empty()) {
      diag("malloc Error11!\n");
      return kConvertErrCoefficients;
    }
    try {
      proto_.insert(proto_.begin(), size_t(align.padTaps), 0.0);
    } catch (const std::bad_alloc&) {
      diag("malloc Error11!\n");
      return kConvertErrCoefficients;
    }
  }
  const size_t cap = size_t(blocks_.capacity);
  try {
    if (rate_.taps != 0) {
      if (hold) {
        pcmEngine_ = std::make_unique<HoldResampler>(rate_.up, rate_.down);
      } else if (rate_.fft) {
        auto fft =
            std::make_unique<FftResampler>(proto_.data(), proto_.size(), rate_.up, rate_.down);
        if (!fft->valid()) return kConvertErrFftBuffer;
        pcmEngine_ = std::move(fft);
      } else if (dsdSource_) {
        dsdEngine_ = std::make_unique<DsdDecimator>(proto_.data(), proto_.size(), rate_.up,
                                                    rate_.down, size_t(blocks_.inputPerBlock / 8));
      } else {
        pcmEngine_ = std::make_unique<PolyphaseResampler>(
            proto_.data(), proto_.size(), rate_.up, rate_.down, size_t(blocks_.inputPerBlock));
      }
      if (pcmEngine_ && !dsdSource_ && !hold)
        pcmEngine_->pushZeros(size_t(export_ ? align.leadFrames : blocks_.zeroPrefix));
      if (dsdSource_ && align.leadFrames > 0) pushIdleLead(size_t(align.leadFrames / 8));
      skip_ = align.skipFrames;
    }
    levels_.resize(cap);
    if (dsdOut_ || dsdSource_) {
      dsdInL_.resize(cap / 8 + 8);
      dsdInR_.resize(cap / 8 + 8);
    }
  } catch (const std::bad_alloc&) {
    return kConvertErrWorkBuffer;
  }
  if (!ring_.allocate(cap, dsdOut_ || dsdSource_, rq_.onBlock ? Ring::kSlots : 1))
    return kConvertErrRingSlot;
  ring_.setReleaseAfterUse(export_);

  int64_t readLimit = range_.readEnd;
  if (dsdOut_ && export_) {
    remodulate_ = rq_.range->levelActive == 1 || !passThrough_;
    if (remodulate_) dsdStage_.prepare(cap, passThrough_, rate_.taps, uint32_t(dstRate));
    if (remodulate_ && dsdSource_ && rate_.taps == 0) {
      // No filter to lead with: the source is read ahead instead, up to the
      // range end's look-ahead where the file has it.
      aheadBits_ = dsd::alignDelay(0);
      const size_t extra = size_t(aheadBits_ + 7) / 8;
      readLimit = std::min(range_.readEnd + 8 * int64_t(extra), sourceFrames_);
      try {
        aheadL_.resize(cap / 8 + 8 + extra);
        aheadR_.resize(cap / 8 + 8 + extra);
      } catch (const std::bad_alloc&) {
        return kConvertErrWorkBuffer;
      }
    }
  }
  reader_ = std::make_unique<SourceReader>(*audio_, range_.start, readLimit);
  const int64_t firstOut = int64_t(__int128(range_.start) * dstRate / srcRate_);
  envelope_ = std::make_unique<LevelEnvelope>(rq_.envelope, firstOut);
  filterTapsArg_ = dsdSource_ && rate_.taps != 0 ? rate_.taps : 0;
  // Everything that can be checked or allocated has been: only now is a
  // file made.
  return export_ ? createDestination() : kSonvexOk;
}

// The next `bytes` of the source as they stand aheadBits_ later, into
// dsdInL_/dsdInR_: the modulator and the stage's aligned source both lag by
// that much, so output bit k is source bit k. The look-ahead bytes carry over
// to the next block.
int Conversion::readDsdAhead(size_t bytes) {
  const size_t q = size_t(aheadBits_ / 8), s = size_t(aheadBits_ % 8);
  const size_t extra = q + (s ? 1 : 0);
  const size_t need = bytes + extra;
  if (aheadFill_ < need) {
    const int r = reader_->readDsd(aheadL_.data() + aheadFill_, aheadR_.data() + aheadFill_,
                                   int64_t(need - aheadFill_));
    if (r != kSonvexOk) return r;
  }
  if (aheadFill_ == 0) {
    // Before the first block the stage's aligned source is the range's
    // first bits (the history's older bits are never reached).
    uint8_t hist[2][dsd::kHistoryBytes];
    for (int c = 0; c < 2; ++c) {
      const uint8_t* a = (c == 0 ? aheadL_ : aheadR_).data();
      const uint32_t first = uint32_t(a[0]) << 16 | uint32_t(a[1]) << 8 | a[2];
      const uint32_t h = (0x969696u << aheadBits_ | first >> (24 - aheadBits_)) & 0xFFFFFFu;
      for (int i = 0; i < dsd::kHistoryBytes; ++i) hist[c][i] = uint8_t(h >> (16 - 8 * i));
    }
    dsdStage_.setSourceHistory(hist[0], hist[1]);
  }
  for (int c = 0; c < 2; ++c) {
    const uint8_t* a = (c == 0 ? aheadL_ : aheadR_).data() + q;
    uint8_t* out = (c == 0 ? dsdInL_ : dsdInR_).data();
    for (size_t i = 0; i < bytes; ++i) out[i] = s ? uint8_t(a[i] << s | a[i + 1] >> (8 - s)) : a[i];
  }
  std::memmove(aheadL_.data(), aheadL_.data() + bytes, extra);
  std::memmove(aheadR_.data(), aheadR_.data() + bytes, extra);
  aheadFill_ = extra;
  return kSonvexOk;
}

// A one-bit source's silence ahead of the range: the idle pattern, which
// the filter turns into nothing.
void Conversion::pushIdleLead(size_t bytes) {
  const std::vector<uint8_t> idle(bytes, kIdleByte);
  if (dsdEngine_) {
    dsdEngine_->push(idle.data(), idle.data(), bytes);
    return;
  }
  std::vector<double> pairs(2 * 8 * bytes);
  expandDsdToPairs(idle.data(), idle.data(), 0, 8 * bytes, pairs.data());
  pcmEngine_->push(pairs.data(), 8 * bytes);
}

// Fills `slot` with n output frames before level and matrix; *produced gets
// how many came from the source (fewer only when the file ended early).
int Conversion::produceBlock(int64_t n, double* slot, int64_t* produced) {
  *produced = n;
  if (rate_.taps == 0) {
    if (dsdSource_) {
      const size_t bytes = size_t((n + 7) / 8);
      const int r = aheadBits_ ? readDsdAhead(bytes)
                               : reader_->readDsd(dsdInL_.data(), dsdInR_.data(), int64_t(bytes));
      if (r != kSonvexOk) return r;
      expandDsdToPairs(dsdInL_.data(), dsdInR_.data(), 0, size_t(n), slot);
    } else {
      const int r = reader_->readPcm(slot, n);
      if (r != kSonvexOk) return r;
    }
    return kSonvexOk;
  }
  if (dsdEngine_) {
    const uint64_t bytes = dsdEngine_->inputBytesNeeded(size_t(n + skip_));
    if (bytes > 0) {
      if (dsdInL_.size() < bytes) {
        dsdInL_.resize(bytes);
        dsdInR_.resize(bytes);
      }
      const int r = reader_->readDsd(dsdInL_.data(), dsdInR_.data(), int64_t(bytes));
      if (r != kSonvexOk) return r;
      dsdEngine_->push(dsdInL_.data(), dsdInR_.data(), size_t(bytes));
    }
    if (!dropLeading(*dsdEngine_, slot, n, &skip_)) return kConvertErrDownConvert;
    if (dsdEngine_->pull(slot, size_t(n)) != size_t(n)) return kConvertErrDownConvert;
    return kSonvexOk;
  }
  const uint64_t need = pcmEngine_->inputNeeded(size_t(n + skip_));
  if (need > 0) {
    if (readBuf_.size() < 2 * need) readBuf_.resize(2 * need);
    if (dsdSource_) {
      // One-bit source on the hold or FFT engine: whole bytes, expanded.
      const uint64_t bytes = (need + 7) / 8;
      if (dsdInL_.size() < bytes) {
        dsdInL_.resize(bytes);
        dsdInR_.resize(bytes);
      }
      const int r = reader_->readDsd(dsdInL_.data(), dsdInR_.data(), int64_t(bytes));
      if (r != kSonvexOk) return r;
      if (readBuf_.size() < 2 * bytes * 8) readBuf_.resize(2 * bytes * 8);
      expandDsdToPairs(dsdInL_.data(), dsdInR_.data(), 0, size_t(bytes * 8), readBuf_.data());
      pcmEngine_->push(readBuf_.data(), size_t(bytes * 8));
    } else {
      const int r = reader_->readPcm(readBuf_.data(), int64_t(need));
      if (r != kSonvexOk) return r;
      pcmEngine_->push(readBuf_.data(), size_t(need));
    }
  }
  if (!dropLeading(*pcmEngine_, slot, n, &skip_) || pcmEngine_->pull(slot, size_t(n)) != size_t(n))
    return rate_.fft ? kConvertErrUpConvert : kConvertErrDownConvert;
  return kSonvexOk;
}

// A writer's failure has already cut and finalised the file.
int Conversion::written(int r) {
  if (r == kSonvexOk) return r;
  if (r == kErrWrite) {
    if (!writeErrno_) writeErrno_ = sink_->error();
    return kConvertErrWrite;
  }
  return kConvertErrFinalize;
}

// 0, kConvertErrWrite or kConvertErrFinalize.
int Conversion::finalizeOutput() { return written(writer_->finalize()); }

void Conversion::finalizeAfterFailure() {
  if (!export_ || !writer_ || writer_->finalized()) return;
  if (finalizeOutput() == kConvertErrFinalize) diag("audiofile_updateDataSize Error! \n");
}

int Conversion::stopped() {
  finalizeAfterFailure();
  if (rq_.onDrain) rq_.onDrain();
  return dsdOut_ ? kConvertStoppedDsd : kConvertStoppedPcm;
}

int Conversion::outputBlock(int slot, int64_t n) {
  double* pcm = ring_.pcm(slot);
  const uint64_t pos = uint64_t(produced_ + n);
  if (dsdOut_ && export_) {
    uint8_t* outL = ring_.dsd(slot, 0);
    uint8_t* outR = ring_.dsd(slot, 1);
    const size_t bytes = size_t((n + 7) / 8);
    if (remodulate_) {
      if (dsdStage_.process(pcm, size_t(n), levels_.data(), dsdSource_ ? dsdInL_.data() : nullptr,
                            dsdSource_ ? dsdInR_.data() : nullptr, outL, outR) != 0) {
        diag("DeltaSigmaModulation Error! \n");
        return kConvertErrModulator;
      }
    } else {
      std::memcpy(outL, dsdInL_.data(), bytes);
      std::memcpy(outR, dsdInR_.data(), bytes);
    }
    if (rq_.onBlock &&
        rq_.onBlock(uint32_t(pos), uint32_t(pos >> 32), int32_t(n), int32_t(ring_.capacity()), slot,
                    int32_t((ring_.capacity() + 7) / 8), ring_.pcmTable(), ring_.dsdTable(),
                    filterTapsArg_) < 0)
      return stopped();
    const uint8_t* channels[2] = {outL, outR};
    return written(writer_->writeDsd(channels, n));
  }
  if (dsdOut_ && dsdSource_ && rate_.taps == 0) {
    // Stream at the source's DSD rate: the source bits ride along for a
    // bit-exact monitor path.
    const size_t bytes = size_t((n + 7) / 8);
    std::memcpy(ring_.dsd(slot, 0), dsdInL_.data(), bytes);
    std::memcpy(ring_.dsd(slot, 1), dsdInR_.data(), bytes);
  }
  if (rq_.onBlock) {
    const int32_t slotBytes =
        dsdOut_ ? int32_t((ring_.capacity() + 7) / 8) : int32_t(ring_.capacity() * 16);
    if (rq_.onBlock(uint32_t(pos), uint32_t(pos >> 32), int32_t(n), int32_t(ring_.capacity()), slot,
                    slotBytes, ring_.pcmTable(), ring_.dsdTable(), filterTapsArg_) < 0)
      return stopped();
  }
  if (export_) {
    writeBuf_.resize(size_t(n) * outChannels_ * outBits_ / 8);
    if (packPcm(pcm, size_t(n), outChannels_, outBits_, writeBuf_.data(),
                ditherOn_ ? &dither_ : nullptr) != kSonvexOk) {
      diag("PCM to WAV Error! \n");
      return kConvertErrPcmPack;
    }
    return written(writer_->writePcm(writeBuf_.data(), n));
  }
  return kSonvexOk;
}

int Conversion::loop() {
  int64_t remaining = range_.outFrames;
  const int64_t cap = ring_.capacity();
  const int64_t total = blocks_.framesToRead;
  const double scale =
      rate_.taps == 0 || rq_.format->holdInterpolation == 1 ? rate_.outputScale : 1.0;
  const bool eqHere = eqOn_ && !rate_.fft;
  while (remaining > 0) {
    const int slot = int((produced_ / cap) % kRingSlots);
    const int64_t left = std::max<int64_t>(0, total - reader_->consumed());
    storeInt(progress_, total / 100 == 0 ? 100 : int32_t(100 - left / (total / 100)));
    int64_t n = std::min(cap, remaining);
    double* pcm = ring_.pcm(slot);
    // The block's frames are all written below; only the rest of the slot
    // needs clearing.
    std::memset(pcm + 2 * n, 0, size_t(cap - n) * 16);
    int64_t got = n;
    int r = produceBlock(n, pcm, &got);
    if (r != kSonvexOk) {
      switch (r) {
        case kConvertErrSeek:
          diag("Seek Error!\n");
          break;
        case kConvertErrRead:
          diag("Read Data Error!\n");
          finalizeAfterFailure();
          break;
        case kConvertErrWavUnpack:
          if (layout_.bits == 16) diag("ch is not 1 or 2  %d\n", int(layout_.channels));
          diag("Wav to PCM Error!\n");
          break;
        case kConvertErrDsfUnpack:
          diag("ch is not 1 or 2  %d\n", int(layout_.channels));
          diag("DSF to DSD Error!\n");
          break;
        case kConvertErrDsdiffUnpack:
          diag("DSDIFF to DSD Error!\n");
          break;
        case kConvertErrUpConvert:
          diag("Up-Convert Error! \n");
          break;
        case kConvertErrDownConvert:
          diag("Down-Convert Error! \n");
          break;
        default:
          break;
      }
      return r;
    }
    if (reader_->endedEarly()) {
      // The file is shorter than its header says: the output ends with the
      // last frame that real input reaches.
      const int64_t real = reader_->realFrames();
      const int64_t reachable = int64_t(__int128(real) * rate_.up / rate_.down);
      const int64_t limit = std::max<int64_t>(reachable - produced_, 0);
      if (limit < n) {
        n = limit;
        remaining = n;
      }
      if (n == 0) break;
    }
    const bool flat = envelope_->fill(levels_.data(), size_t(n));
    applyLevelMatrix(pcm, size_t(n), flat ? nullptr : levels_.data(), *rq_.matrix, scale);
    if (eqHere) applyEq(rq_.range->eq, pcm, size_t(n));
    r = outputBlock(slot, n);
    if (r != kSonvexOk) return r;
    // Short exports keep their slots; long ones give pages back once the
    // ring has gone round a quarter, so memory stays flat.
    if (export_ && produced_ / cap >= kRingSlots / 4) ring_.release(slot);
    produced_ += n;
    remaining -= n;
  }
  return kSonvexOk;
}

int Conversion::finish() {
  if (export_) {
    const int r = finalizeOutput();
    if (r != kSonvexOk) return r;
  }
  storeInt(progress_, 100);
  __atomic_fetch_or(&rq_.range->statusWord, kConvertEndOfSource, __ATOMIC_ACQ_REL);
  if (rq_.onDrain) {
    while (rq_.onDrain() == 0) {
    }
  }
  return kSonvexOk;
}

}  // namespace

int32_t convertFromSource(ByteSource* source, const SonvexChar* destinationPath,
                          const SonvexChar* const* sourcePaths, void* ioObject,
                          const ConvertFormat* format, const ChannelMatrix* matrix,
                          const int32_t* sourceEnabled, ConvertRange* range, BlockCallback onBlock,
                          DrainCallback onDrain, const LevelPoint* envelope) {
  if (!sourceEnabled || sourceEnabled[0] != 1 || !sourcePaths || !format || !matrix || !range)
    return kConvertErrSourceDisabled;
  if (ioObject) return kConvertErrIoObject;
  if (!sourcePaths[0]) {
    sonvex::diag("Read File Open Error!\n");
    return kConvertErrSourceOpen;
  }
  if (__atomic_load_n(&range->statusWord, __ATOMIC_ACQUIRE) == kConvertExportMode &&
      !destinationPath) {
    sonvex::diag("Write File Open Error!\n");
    return kConvertErrDestinationOpen;
  }
  try {
    Conversion c(Request{destinationPath, sourcePaths[0], format, matrix, range, onBlock, onDrain,
                         envelope, source});
    const int r = c.run();
    // The caller can tell a full disk from other write failures.
    if (r == kConvertErrWrite && c.writeErrno()) errno = c.writeErrno();
    return r;
  } catch (const std::bad_alloc&) {
    return kConvertErrWorkBuffer;
  } catch (...) {
    return kConvertErrWorkBuffer;
  }
}

}  // namespace sonvex::convert

SONVEX_EXTERN_C SONVEX_API int32_t sonvexert(
    const SonvexChar* destinationPath, const SonvexChar* const* sourcePaths, void* ioObject,
    const ConvertFormat* format, const ChannelMatrix* matrix, const int32_t* sourceEnabled,
    ConvertRange* range, BlockCallback onBlock, DrainCallback onDrain, const LevelPoint* envelope) {
  return sonvex::convert::convertFromSource(nullptr, destinationPath, sourcePaths, ioObject, format,
                                            matrix, sourceEnabled, range, onBlock, onDrain,
                                            envelope);
}
