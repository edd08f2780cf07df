// sonvex-cli: batch front end over the library.
//
//   sonvex-cli info FILE...
//   sonvex-cli convert [options] SOURCE DESTINATION
//   sonvex-cli convert [options] --format F SOURCE... FOLDER
//   sonvex-cli combine HEAD TAIL OUTPUT
//
// Messages go to standard error; `info` prints to standard output. The exit
// status is 0 on success, 1 on a failure, 2 on a usage error and 128 plus the
// signal's number when SIGINT or SIGTERM stopped the work.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fileio.h"
#include "sonvex.h"
#include "tags.h"
#ifdef SONVEX_CLI_PLAY
#include "cli_play.h"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage:\n"
    "  sonvex-cli info FILE...\n"
    "      Describe WAV/RF64 (.wav, .bwf, .rf64), DSF (.dsf), DSDIFF (.dff) and FLAC\n"
    "      (.flac) files.\n"
    "  sonvex-cli convert [options] SOURCE DESTINATION\n"
    "  sonvex-cli convert [options] --format F SOURCE... FOLDER\n"
    "      Convert SOURCE to a new file. The destination's extension picks the\n"
    "      format (.wav, .bwf, .rf64 or .flac PCM; .dsf or .dff 1-bit DSD) unless\n"
    "      --format is given. SIGINT or SIGTERM stops it and leaves the part\n"
    "      converted so far as a complete file.\n"
    "      Into a FOLDER, each source becomes its base name plus the format's\n"
    "      extension; existing files are kept unless --force is given, and a\n"
    "      stop removes the files left unfinished.\n"
    "      -j N          conversions at once into a folder (default: one per core)\n"
    "      --force       replace existing files in the folder\n"
    "      --rate R      output rate in Hz (44100 ... 384000, 2822400 ... 22579200)\n"
    "                    or dsd64, dsd128, dsd256, dsd512; default: the source's\n"
    "      --bits B      16, 24 or 32 (float) for WAV, 16 or 24 for FLAC;\n"
    "                    default 24 (1 for DSD)\n"
    "      --format F    wav, flac, dsf or dff\n"
    "      --flac-level N  FLAC compression 0 (fastest) ... 8 (smallest), default 5\n"
    "      --in T        first frame to convert; --out T  frame where it ends.\n"
    "                    T is a frame count, or seconds with an s (12.5s)\n"
    "      --fade S      fade in and out over S seconds at both ends\n"
    "      --gain G      linear gain (default 1.0)\n"
    "      --dither D    none (default) or tpdf: triangular dither before rounding\n"
    "                    to 16 or 24 bits\n"
    "      --dsd-gain D  0, -3 or -6 dB more for DSD sources going to PCM: hot DSD\n"
    "                    masters peak above the PCM full scale (default 0)\n"
    "      --filter M    0 = length by rates (default), 2 = longest FIR,\n"
    "                    3 = FFT convolution\n"
    "      --mono        one output channel (the left)\n"
    "      --stereo      two channels from a mono source (else it stays mono)\n"
    "      --quiet       no progress line\n"
    "      --modulator M DSD output: standard (default) or precision, an\n"
    "                    eighth-order loop with less in-band noise\n"
    "  sonvex-cli combine HEAD TAIL OUTPUT\n"
    "      Write OUTPUT = HEAD followed by TAIL; both must have the same format,\n"
    "      rate, word length and channel count. OUTPUT appears only when complete.\n";

// The signal that asked us to stop (0: none). Written by the handler only.
std::atomic<int> gStopSignal{0};

extern "C" void onStopSignal(int sig) { gStopSignal.store(sig, std::memory_order_relaxed); }

void installStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int stopStatus() { return 128 + gStopSignal.load(); }

std::u16string toU16(const std::string& s) {
  // UTF-8 to UTF-16 (invalid bytes become U+FFFD).
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = (c & 0x1Fu) << 6 | (uint8_t(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = (c & 0x0Fu) << 12 | (uint8_t(s[i + 1]) & 0x3Fu) << 6 | (uint8_t(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = (c & 0x07u) << 18 | (uint8_t(s[i + 1]) & 0x3Fu) << 12 |
           (uint8_t(s[i + 2]) & 0x3Fu) << 6 | (uint8_t(s[i + 3]) & 0x3Fu);
      len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += len;
  }
  return out;
}

// Plain words for every code the library returns.
const char* describe(int code) {
  switch (code) {
    case kConvertErrSourceOpen:
      return "the source could not be opened, or a file could not be read or written";
    case kConvertErrSourceDisabled:
      return "the request is incomplete";
    case kConvertErrDestinationOpen:
      return "the destination could not be created";
    case kConvertErrNameBuffer:
    case kConvertErrCoefficients:
    case kConvertErrWorkBuffer:
    case -12:
    case -15:
    case -19:
    case -22:
    case -32:
    case -36:
    case -65:
    case -66:
    case kConvertErrFftBuffer:
    case kConvertErrRingSlot:
      return "out of memory";
    case kConvertErrHeader:
      return "not a supported file (extension or header)";
    case kConvertErrFormatChunk:
      return "the format description is missing or unusable";
    case kConvertErrDataChunk:
      return "the audio data chunk is missing";
    case kConvertErrCreateHeader:
      return "the destination header could not be written";
    case kConvertErrSeek:
      return "seeking in the source failed";
    case kConvertErrRead:
      return "reading the source failed";
    case kConvertErrDsfUnpack:
    case kConvertErrWavUnpack:
    case kConvertErrDsdiffUnpack:
      return "the source's channel count or word length is not supported (1 or 2 channels), "
             "or the operation does not suit this format";
    case kConvertErrUpConvert:
    case kConvertErrDownConvert:
      return "the rate conversion failed";
    case kConvertErrModulator:
      return "DSD modulation failed or is not available in this build";
    case kConvertErrDsfPack:
    case kConvertErrDsdiffPack:
      return "DSD output supports 1 or 2 channels";
    case kConvertErrPcmPack:
      return "PCM output supports 16, 24 or 32 bits and 1 or 2 channels";
    case kConvertErrWrite:
      return "writing the destination failed";
    case kConvertErrDestinationIsSource:
      return "the destination is the source file";
    case kConvertErrFinalize:
      return "the destination header could not be completed";
    case kConvertErrNothing:
      return "nothing to convert (the in point is not before the out point)";
    case kConvertErrRatePlan:
      return "this rate conversion is not possible";
    case kConvertErrIoObject:
    case -34:
      return "I/O object refused the operation";
    case kConvertErrSampleFormat:
      return "32/64-bit samples must be integer or IEEE float";
    case kConvertErrFrameCount:
      return "the frame range is too large";
    case kConvertStoppedPcm:
    case kConvertStoppedDsd:
      return "stopped";
    default:
      return "unexpected failure";
  }
}

// Where messages go: a batch job keeps its own for the summary, everything
// else goes straight to standard error.
thread_local std::string* tMessages = nullptr;

void say(const std::string& line) {
  if (tMessages)
    *tMessages += line + "\n";
  else
    std::fprintf(stderr, "sonvex-cli: %s\n", line.c_str());
}

int fail(const std::string& what, int code, int error = 0) {
  std::string line = what + ": " + describe(code);
  if (error != 0) line += std::string(": ") + std::strerror(error);
  say(line + " [code " + std::to_string(code) + "]");
  return kExitFailure;
}

int failSystem(const std::string& what, int error) {
  say(what + ": " + std::strerror(error));
  return kExitFailure;
}

// 0 when `path` is a file we can read, else the system's reason (errno).
int readableFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat x {
  }, y{};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
}

// 0 when a new file `path` can be written (it may replace a writable file),
// else the system's reason.
int writableDestination(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    // The output is renamed into place: that would replace a device or a pipe.
    if (!S_ISREG(st.st_mode)) return ENOTSUP;
    if (::access(path.c_str(), W_OK) != 0) return errno;
  }
  return ::access(folderOf(path).c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// getAudioFileInformation reports an unopenable file as -3.
int failProbe(const std::string& path, int code) {
  if (code == kErrOpen) {
    const int error = readableFile(path);
    return failSystem(path, error ? error : EIO);
  }
  return fail(path, code);
}

int usage(const std::string& why) {
  if (tMessages) {  // a batch job: the request suits this file, not the whole run
    say(why);
    return kExitFailure;
  }
  if (!why.empty()) std::fprintf(stderr, "sonvex-cli: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? std::string() : lower(path.substr(dot));
}

const char* typeName(uint32_t type, uint32_t tag, uint32_t bits) {
  switch (type) {
    case kFileTypeWav:
    case kFileTypeWavAlt:
      return tag == 3 ? "WAV, IEEE float" : (bits >= 32 && tag != 1 ? "WAV" : "WAV, integer PCM");
    case kFileTypeDsf:
      return "DSF, 1-bit DSD";
    case kFileTypeDsdiff:
      return "DSDIFF, 1-bit DSD";
    case kFileTypeFlac:
      return "FLAC, integer PCM";
    default:
      return "unknown";
  }
}

std::string formatDuration(double seconds) {
  const long long hundredths = (long long)std::llround(seconds * 100.0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
                hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
  return buf;
}

int commandInfo(int argc, char** argv) {
  if (argc < 1) return usage("info needs at least one file");
  int status = 0;
  for (int i = 0; i < argc; ++i) {
    AudioFileInfo info{};
    const std::u16string p = toU16(argv[i]);
    const int rc = getAudioFileInformation(p.c_str(), &info);
    if (rc != 0) {
      status = failProbe(argv[i], rc);
      continue;
    }
    const uint64_t bytes = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
    const uint64_t perFrame = uint64_t(info.bitsPerSample) * info.channels;
    const uint64_t frames = perFrame ? bytes * 8 / perFrame : 0;
    std::printf("%s\n", argv[i]);
    std::printf("  format:       %s\n",
                typeName(info.fileType, info.formatTag, info.bitsPerSample));
    std::printf("  rate:         %u Hz%s\n", info.sampleRate,
                info.sampleRate >= SONVEX_DSD_RATE_MIN ? " (DSD)" : "");
    std::printf("  word length:  %u bit\n", info.bitsPerSample);
    std::printf("  channels:     %u\n", info.channels);
    std::printf("  frames:       %llu\n", (unsigned long long)frames);
    if (info.sampleRate)
      std::printf("  duration:     %s\n", formatDuration(double(frames) / info.sampleRate).c_str());
    std::printf("  audio bytes:  %llu at offset %u\n", (unsigned long long)bytes, info.dataOffset);
    if (info.fileType <= kFileTypeWavAlt) std::printf("  format tag:   %u\n", info.formatTag);
    sonvex::Tags tags;
    sonvex::FilePtr f = sonvex::openFile(p.c_str(), "rb");
    if (f && sonvex::readTags(f.get(), int(info.fileType), &tags) == 0) {
      if (!tags.title.empty()) std::printf("  title:        %s\n", tags.title.c_str());
      if (!tags.artist.empty()) std::printf("  artist:       %s\n", tags.artist.c_str());
      if (!tags.album.empty()) std::printf("  album:        %s\n", tags.album.c_str());
    }
  }
  return status;
}

int rateCode(const std::string& text) {
  const std::string t = lower(text);
  if (t == "dsd64") return kRateDsd64;
  if (t == "dsd128") return kRateDsd128;
  if (t == "dsd256") return kRateDsd256;
  if (t == "dsd512") return kRateDsd512;
  char* end = nullptr;
  const double hz = std::strtod(t.c_str(), &end);
  double value = hz;
  if (end && *end == 'k' && end[1] == '\0')
    value = hz * 1000.0;
  else if (!end || *end != '\0')
    return -1;
  for (int c = 0; c < kRateTableSize; ++c)
    if (sonvexRateForCode(c) > 1 && std::fabs(double(sonvexRateForCode(c)) - value) < 0.5) return c;
  return -1;
}

// A frame count, or seconds when the text ends in 's'. -1 when unreadable.
int64_t parsePosition(const std::string& text, uint32_t rate) {
  if (text.empty()) return -1;
  char* end = nullptr;
  if (text.back() == 's') {
    const double s = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() - 1 || !(s >= 0)) return -1;
    return int64_t(std::llround(s * rate));
  }
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0) return -1;
  return v;
}

struct Outcome {
  int32_t result = 0;
  int error = 0;           // errno as the work left it
  bool abandoned = false;  // a stop signal came and the caller leaves at once
};

// Runs `work` on a worker thread while this one shows progress; returns as
// soon as the work ends. With `abandonOnStop`, a stop signal returns at once
// with `abandoned` set, the work still running: the caller must then clean up
// and leave the process without returning into the frames `work` refers to.
template <typename Fn>
Outcome runWithProgress(Fn work, int32_t* progress, bool quiet, const char* label,
                        bool abandonOnStop) {
  struct Shared {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    Outcome out;
  };
  auto shared = std::make_shared<Shared>();
  std::thread worker([shared, work] {
    const int32_t r = work();
    const int e = errno;
    {
      std::lock_guard<std::mutex> lock(shared->m);
      shared->out.result = r;
      shared->out.error = e;
      shared->done = true;
    }
    shared->cv.notify_one();
  });
  int shown = -1;
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(shared->m);
  // Woken the moment the work ends; the timeout only paces the progress line
  // and the look at the stop signal.
  while (!shared->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return shared->done; })) {
    if (abandonOnStop && gStopSignal.load() != 0) {
      lock.unlock();
      worker.detach();
      if (shown >= 0) std::fputc('\n', stderr);
      Outcome out;
      out.abandoned = true;
      return out;
    }
    const int p = __atomic_load_n(progress, __ATOMIC_ACQUIRE);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet && elapsed > 1.0 && p != shown && p >= 0) {
      std::fprintf(stderr, "\r%s %3d%%", label, p);
      shown = p;
    }
  }
  const Outcome out = shared->out;
  lock.unlock();
  worker.join();
  if (shown >= 0) std::fprintf(stderr, "\r%s %3d%%\n", label, out.result == 0 ? 100 : shown);
  return out;
}

struct ConvertOptions {
  std::string rate, bits, format, in, out, fade, gain = "1.0", filter = "0", dsdGain = "0",
                                                 dither = "none", modulator, flacLevel = "5";
  bool mono = false, stereo = false, quiet = false, force = false;
  int jobs = 0;  // batch: conversions at once (0: one per core)
};

// One conversion, made ready by prepareConversion. Its address is fixed
// (the library keeps a pointer to `progress`).
struct Conversion {
  std::string source, destination;
  std::u16string src16, dst16;
  ConvertFormat format{};
  ChannelMatrix matrix{{1.0, 0.0, 0.0, 1.0}};
  ConvertRange range{};
  LevelPoint envelope[10];
  int32_t progress = 0;
  uint32_t outChannels = 2;
  double fullScale = 1.0;
  bool dsdCopy = false;  // carries the source's bits: nothing can clip
  int32_t dither = kPcmDitherNone;
  int32_t modulator = kDsdModulatorStandard;
  int32_t flacLevel = 5;
  std::atomic<uint64_t> clipped{0};
};

// The conversion the calling thread runs: the library calls its block
// callback on that thread, without a context pointer.
thread_local Conversion* tConversion = nullptr;

// Block callback of an export: stops it on SIGINT/SIGTERM (the library then
// finalises what it wrote) and counts samples beyond full scale.
int32_t onExportBlock(uint32_t, uint32_t, int32_t frames, int32_t, int32_t slot, int32_t,
                      double** pcm, uint8_t**, int32_t) {
  if (gStopSignal.load(std::memory_order_relaxed) != 0) return -1;
  Conversion* c = tConversion;
  if (c && pcm && pcm[slot] && frames > 0) {
    // Frames are stereo pairs even for a mono output; one flat loop over
    // the lanes that count vectorises where a loop per frame does not.
    const double* p = pcm[slot];
    const double limit = c->fullScale;
    uint64_t over = 0;
    if (c->outChannels >= 2) {
      for (int64_t i = 0; i < 2 * int64_t(frames); ++i) over += std::fabs(p[i]) > limit;
    } else {
      for (int64_t i = 0; i < frames; ++i) over += std::fabs(p[2 * i]) > limit;
    }
    c->clipped.fetch_add(over, std::memory_order_relaxed);
  }
  return 0;
}

// The file type a --format names (or a destination's extension), or -1.
int typeForFormat(std::string f) {
  f = lower(f);
  if (!f.empty() && f[0] == '.') f.erase(0, 1);
  if (f == "wav" || f == "bwf" || f == "rf64") return kFileTypeWav;
  if (f == "dsf") return kFileTypeDsf;
  if (f == "dff" || f == "dsdiff") return kFileTypeDsdiff;
  if (f == "flac") return kFileTypeFlac;
  return -1;
}

// Checks the request against the source and fills `c`; an exit status
// (0: ready to run).
int prepareConversion(const ConvertOptions& o, Conversion& c) {
  const std::string& source = c.source;
  const std::string& destination = c.destination;
  if (const int e = readableFile(source)) return failSystem(source, e);
  if (sameFile(source, destination)) {
    say(destination + ": the destination is the source file");
    return kExitFailure;
  }
  if (const int e = writableDestination(destination)) return failSystem(destination, e);

  AudioFileInfo info{};
  c.src16 = toU16(source);
  c.dst16 = toU16(destination);
  int rc = getAudioFileInformation(c.src16.c_str(), &info);
  if (rc != 0) return failProbe(source, rc);
  const uint64_t bytes = (uint64_t(info.dataBytesHigh) << 32) | info.dataBytesLow;
  const uint64_t perFrame = uint64_t(info.bitsPerSample) * info.channels;
  const int64_t totalFrames = perFrame ? int64_t(bytes * 8 / perFrame) : 0;

  const int type = typeForFormat(o.format.empty() ? extension(destination) : o.format);
  if (type < 0) return usage("cannot tell the output format; use --format wav|flac|dsf|dff");
  const bool dsdOut = type == kFileTypeDsf || type == kFileTypeDsdiff;

  int code = -1;
  if (o.rate.empty()) {
    code = rateCode(std::to_string(info.sampleRate));
    if (code < 0) return usage("the source's rate is not an output rate; give --rate");
  } else {
    code = rateCode(o.rate);
    if (code < 0) return usage("unknown rate " + o.rate);
  }
  if (dsdOut != (sonvexRateForCode(code) >= SONVEX_DSD_RATE_MIN))
    return usage(dsdOut ? "DSD files need a DSD rate (dsd64 ...)"
                        : "PCM files need a PCM rate (44100 ... 384000)");
  int bits = dsdOut ? 1 : 24;
  if (!o.bits.empty()) bits = std::atoi(o.bits.c_str());
  if (dsdOut ? bits != 1 : (bits != 16 && bits != 24 && (bits != 32 || type == kFileTypeFlac)))
    return usage("unsupported word length " + o.bits);
  char* levelEnd = nullptr;
  const long level = std::strtol(o.flacLevel.c_str(), &levelEnd, 10);
  if (*levelEnd != '\0' || o.flacLevel.empty() || level < 0 || level > 8)
    return usage("--flac-level takes 0 .. 8");
  c.flacLevel = int32_t(level);
  const int filter = std::atoi(o.filter.c_str());
  if (filter != 0 && filter != 2 && filter != 3) return usage("--filter takes 0, 2 or 3");
  if (o.modulator == "precision")
    c.modulator = kDsdModulatorPrecision;
  else if (o.modulator.empty() || o.modulator == "standard")
    c.modulator = kDsdModulatorStandard;
  else
    return usage("--modulator takes standard or precision");
  double gain = std::strtod(o.gain.c_str(), nullptr);
  if (!(gain >= 0.0 && gain <= 16.0)) return usage("--gain takes 0 .. 16");
  if (o.dither != "none" && o.dither != "tpdf") return usage("--dither takes none or tpdf");
  c.dither = o.dither == "tpdf" ? kPcmDitherTpdf : kPcmDitherNone;
  const int dsdGainDb = std::atoi(o.dsdGain.c_str());
  if (o.dsdGain != "0" && o.dsdGain != "-3" && o.dsdGain != "-6")
    return usage("--dsd-gain takes 0, -3 or -6");
  if (info.sampleRate >= SONVEX_DSD_RATE_MIN && !dsdOut) gain *= std::pow(10.0, dsdGainDb / 20.0);

  int64_t in = 0, out = totalFrames;
  if (!o.in.empty() && (in = parsePosition(o.in, info.sampleRate)) < 0)
    return usage("unreadable --in " + o.in);
  if (!o.out.empty() && (out = parsePosition(o.out, info.sampleRate)) < 0)
    return usage("unreadable --out " + o.out);
  out = std::min(out, totalFrames);
  double fade = 0.0;
  if (!o.fade.empty()) {
    fade = std::strtod(o.fade.c_str(), nullptr);
    if (!(fade >= 0.0 && fade <= 60.0)) return usage("--fade takes 0 .. 60 seconds");
  }

  ConvertFormat& cf = c.format;
  cf.rateIndex = code;
  cf.fileType = type;
  cf.bitsPerSample = bits;
  cf.unused = int32_t(info.channels);
  cf.progress = &c.progress;
  // A mono source stays mono unless two channels are asked for.
  const bool oneChannel = o.mono || (info.channels == 1 && !o.stereo);
  cf.channels = oneChannel ? 1 : 2;
  cf.filterMethod = filter;
  if (info.channels == 1 && !oneChannel) c.matrix = ChannelMatrix{{1.0, 1.0, 0.0, 0.0}};  // both
  c.range.statusWord = kConvertExportMode;
  c.range.startFrame = in;
  c.range.endFrame = out;
  c.range.eq = nullptr;

  // The envelope of an export: silence outside [in, out), fades inside it.
  const uint64_t dstRate = sonvexRateForCode(code);
  const auto toOut = [&](int64_t frames) {
    return int64_t(__int128(frames) * dstRate / info.sampleRate);
  };
  const int64_t fadeFrames = int64_t(fade * info.sampleRate);
  const int64_t p1 = toOut(in), p2 = toOut(in + fadeFrames), p4 = toOut(out),
                p3 = toOut(out - fadeFrames);
  LevelPoint* env = c.envelope;
  for (int i = 0; i < 10; ++i) env[i] = LevelPoint{-1, 0.0, 0.0, 0, 0};
  env[0] = {0, 0.0, 0.0, 0, 0};
  env[1] = {p1, 0.0, p2 == p1 ? gain : gain / double(p2 - p1), 1, 0};
  env[2] = {p2, gain, 0.0, 0, 0};
  env[3] = {p3, gain, p4 == p3 ? -gain : -gain / double(p4 - p3), -1, 0};
  env[4] = {p4, 0.0, 0.0, 0, 0};
  env[5] = {std::numeric_limits<int64_t>::max(), 0.0, 0.0, 0, 0};
  c.range.levelActive = (fadeFrames > 0 || gain != 1.0) ? 1 : 0;

  c.outChannels = uint32_t(cf.channels);
  c.fullScale = dsdOut ? 18014398509481984.0 : 1.0;  // DSD blocks arrive at 2^54 x signal
  c.dsdCopy = dsdOut && dstRate == info.sampleRate && !c.range.levelActive;
  return 0;
}

int32_t runConversion(Conversion& c) {
  tConversion = &c;
  // The library keeps these choices per thread: set them on the one that converts.
  (void)setPcmExportDither(c.dither);
  (void)setDsdExportModulator(c.modulator);
  (void)setFlacCompressionLevel(c.flacLevel);
  const int32_t enabled[1] = {1};
  const SonvexChar* sources[1] = {c.src16.c_str()};
  const int32_t r = sonvexert(c.dst16.c_str(), sources, nullptr, &c.format, &c.matrix, enabled,
                              &c.range, onExportBlock, nullptr, c.envelope);
  tConversion = nullptr;
  return r;
}

bool stopped(int32_t result) {
  return result == kConvertStoppedPcm || result == kConvertStoppedDsd;
}

// Reports how a conversion ended; its exit status.
int finishConversion(Conversion& c, int32_t result, int error, bool quiet) {
  const uint64_t clipped = c.clipped.load();
  if (clipped > 0 && !c.dsdCopy)
    say(std::to_string(clipped) + (clipped == 1 ? " sample" : " samples") +
        " beyond full scale were clipped" + (tMessages ? " in " + c.destination : ""));
  if (stopped(result)) {
    if (exists(c.destination))
      say("stopped by signal " + std::to_string(gStopSignal.load()) + "; " + c.destination +
          " holds what was converted");
    else
      say("stopped by signal " + std::to_string(gStopSignal.load()) + "; nothing written");
    return stopStatus();
  }
  if (result == kConvertErrWrite) {
    fail(c.destination, result, error);
    if (exists(c.destination)) say(c.destination + " holds the frames written before, complete");
    return kExitFailure;
  }
  if (result != 0) return fail(c.source + " -> " + c.destination, result);
  if (!quiet) std::fprintf(stderr, "wrote %s\n", c.destination.c_str());
  return 0;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string baseStem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string clockText(double seconds) {
  const long long s = (long long)std::llround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", s / 60, s % 60);
  return buf;
}

// Converts every source into `folder`, `jobs` at a time, with one progress
// line for the whole run and the failures listed at the end.
int convertBatch(const ConvertOptions& o, const std::vector<std::string>& sources,
                 const std::string& folder) {
  const int type = typeForFormat(o.format);
  if (o.format.empty() || type < 0)
    return usage("converting into a folder needs --format wav|bwf|rf64|flac|dsf|dff");
  std::string ext = lower(o.format);
  if (ext[0] == '.') ext.erase(0, 1);
  if (ext == "dsdiff") ext = "dff";
  const int jobs = o.jobs > 0 ? o.jobs : int(std::max(1u, std::thread::hardware_concurrency()));

  struct Item {
    Conversion c;
    std::string messages;
    uint64_t weight = 1;        // source size: a fair share of the progress line
    std::atomic<int> state{0};  // 0 waiting, 1 running, 2 done
    int status = 0;
  };
  std::vector<std::unique_ptr<Item>> items;
  for (const std::string& src : sources) {
    auto item = std::make_unique<Item>();
    item->c.source = src;
    item->c.destination = folder + "/" + baseStem(src) + "." + ext;
    struct stat st {};
    if (::stat(src.c_str(), &st) == 0 && S_ISREG(st.st_mode)) item->weight += uint64_t(st.st_size);
    items.push_back(std::move(item));
  }

  std::atomic<size_t> next{0};
  std::atomic<int> running{jobs};
  auto work = [&] {
    for (size_t i; gStopSignal.load() == 0 && (i = next.fetch_add(1)) < items.size();) {
      Item& it = *items[i];
      tMessages = &it.messages;
      it.state.store(1, std::memory_order_release);
      for (size_t k = 0; k < i; ++k)
        if (items[k]->c.destination == it.c.destination) {
          say(it.c.destination + ": also the name for " + items[k]->c.source + "; skipped");
          it.status = kExitFailure;
        }
      if (it.status == 0 && exists(it.c.destination) && !o.force) {
        say(it.c.destination + ": exists; --force replaces it");
        it.status = kExitFailure;
      }
      if (it.status == 0) it.status = prepareConversion(o, it.c);
      if (it.status == 0) {
        const int32_t r = runConversion(it.c);
        const int e = errno;
        it.status = finishConversion(it.c, r, e, true);
        // Half a file in the folder would pass for a whole one next time.
        if (stopped(r) && ::unlink(it.c.destination.c_str()) == 0)
          it.messages = "stopped; the unfinished " + it.c.destination + " was removed\n";
      }
      tMessages = nullptr;
      it.state.store(2, std::memory_order_release);
    }
    running.fetch_sub(1);
  };
  std::vector<std::thread> threads;
  for (int j = 0; j < jobs; ++j) threads.emplace_back(work);

  const auto start = std::chrono::steady_clock::now();
  uint64_t total = 0;
  for (const auto& it : items) total += it->weight;
  bool shown = false;
  while (running.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    double doneWeight = 0;
    size_t done = 0;
    for (const auto& it : items) {
      const int st = it->state.load(std::memory_order_acquire);
      if (st == 2) {
        ++done;
        doneWeight += double(it->weight);
      } else if (st == 1) {
        const int p = __atomic_load_n(&it->c.progress, __ATOMIC_ACQUIRE);
        doneWeight += double(it->weight) * std::clamp(p, 0, 100) / 100.0;
      }
    }
    const double f = doneWeight / double(total);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!o.quiet && elapsed > 0.5) {
      std::string left = f > 0.01 ? clockText(elapsed * (1.0 - f) / f) + " left" : "";
      std::fprintf(stderr, "\rconverting: %zu/%zu files, %3d%% %s   ", done, items.size(),
                   int(f * 100.0), left.c_str());
      shown = true;
    }
  }
  for (auto& t : threads) t.join();
  if (shown) std::fputc('\n', stderr);

  size_t converted = 0, failed = 0, notStarted = 0;
  for (const auto& it : items) {
    if (it->state.load() == 0)
      ++notStarted;
    else if (it->status == 0)
      ++converted;
    else if (it->status == kExitFailure)
      ++failed;
    // Notes of successful files (clipping) matter too.
    size_t at = 0;
    for (size_t nl; (nl = it->messages.find('\n', at)) != std::string::npos; at = nl + 1)
      std::fprintf(stderr, "sonvex-cli: %s\n", it->messages.substr(at, nl - at).c_str());
  }
  if (gStopSignal.load() != 0) {
    std::fprintf(stderr,
                 "sonvex-cli: stopped by signal %d: %zu of %zu files converted, %zu not started\n",
                 gStopSignal.load(), converted, items.size(), notStarted);
    return stopStatus();
  }
  if (failed > 0) {
    std::fprintf(stderr, "sonvex-cli: %zu of %zu files converted into %s; %zu failed (above)\n",
                 converted, items.size(), folder.c_str(), failed);
    return kExitFailure;
  }
  if (!o.quiet)
    std::fprintf(stderr, "converted %zu file%s into %s\n", converted, converted == 1 ? "" : "s",
                 folder.c_str());
  return 0;
}

int commandConvert(int argc, char** argv) {
  ConvertOptions o;
  std::string jobsText;
  std::vector<std::string> paths;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--rate")
      ok = value(&o.rate);
    else if (a == "--bits")
      ok = value(&o.bits);
    else if (a == "--format")
      ok = value(&o.format);
    else if (a == "--in")
      ok = value(&o.in);
    else if (a == "--out")
      ok = value(&o.out);
    else if (a == "--fade")
      ok = value(&o.fade);
    else if (a == "--gain")
      ok = value(&o.gain);
    else if (a == "--dsd-gain")
      ok = value(&o.dsdGain);
    else if (a == "--dither")
      ok = value(&o.dither);
    else if (a == "--filter")
      ok = value(&o.filter);
    else if (a == "--modulator")
      ok = value(&o.modulator);
    else if (a == "--flac-level")
      ok = value(&o.flacLevel);
    else if (a == "-j" || a == "--jobs")
      ok = value(&jobsText);
    else if (a == "--mono")
      o.mono = true;
    else if (a == "--stereo")
      o.stereo = true;
    else if (a == "--quiet")
      o.quiet = true;
    else if (a == "--force")
      o.force = true;
    else if (a.size() > 1 && a[0] == '-')
      return usage("unknown option " + a);
    else
      paths.push_back(a);
    if (!ok) return usage(a + " needs a value");
  }
  if (o.mono && o.stereo) return usage("--mono and --stereo exclude each other");
  if (!jobsText.empty()) {
    char* end = nullptr;
    const long j = std::strtol(jobsText.c_str(), &end, 10);
    if (*end != '\0' || j < 1 || j > 256) return usage("-j takes 1 .. 256");
    o.jobs = int(j);
  }
  if (paths.size() < 2) return usage("convert needs SOURCE and DESTINATION");
  if (paths.size() > 2 || isDirectory(paths.back())) {
    if (!isDirectory(paths.back()))
      return usage(paths.back() + " is not a folder: several sources go into a folder");
    return convertBatch(o, {paths.begin(), paths.end() - 1}, paths.back());
  }
  Conversion c;
  c.source = paths[0];
  c.destination = paths[1];
  if (const int status = prepareConversion(o, c)) return status;
  const Outcome out =
      runWithProgress([&] { return runConversion(c); }, &c.progress, o.quiet, "converting", false);
  return finishConversion(c, out.result, out.error, o.quiet);
}

// Copies `from` into the open descriptor `fd` in 1 MiB pieces; 0 or errno
// (EINTR when a stop signal came).
int copyInto(const std::string& from, int fd) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return errno;
  std::vector<char> buf(1 << 20);
  int error = 0;
  size_t n;
  while (error == 0 && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
    for (size_t done = 0; done < n && error == 0;) {
      const ssize_t w = ::write(fd, buf.data() + done, n - done);
      if (w < 0 && errno != EINTR) error = errno;
      if (w > 0) done += size_t(w);
    }
    if (gStopSignal.load() != 0) error = EINTR;
  }
  if (error == 0 && std::ferror(in)) error = EIO;
  std::fclose(in);
  return error;
}

int commandCombine(int argc, char** argv) {
  if (argc != 3) return usage("combine needs HEAD, TAIL and OUTPUT");
  const std::string head = argv[0], tail = argv[1], output = argv[2];
  if (const int e = readableFile(head)) return failSystem(head, e);
  if (const int e = readableFile(tail)) return failSystem(tail, e);
  // Nothing is opened for writing before the names are known to differ.
  for (const std::string* input : {&head, &tail})
    if (sameFile(output, *input)) {
      std::fprintf(stderr, "sonvex-cli: %s: OUTPUT is the %s file; choose another name\n",
                   output.c_str(), input == &head ? "head" : "tail");
      return kExitFailure;
    }
  AudioFileInfo a{}, b{};
  const std::u16string h16 = toU16(head), t16 = toU16(tail);
  int rc = getAudioFileInformation(h16.c_str(), &a);
  if (rc != 0) return failProbe(head, rc);
  rc = getAudioFileInformation(t16.c_str(), &b);
  if (rc != 0) return failProbe(tail, rc);
  if (a.fileType != b.fileType || a.sampleRate != b.sampleRate ||
      a.bitsPerSample != b.bitsPerSample || a.channels != b.channels ||
      a.formatTag != b.formatTag) {
    std::fprintf(stderr, "sonvex-cli: %s and %s differ in format, rate, word length or channels\n",
                 head.c_str(), tail.c_str());
    return kExitFailure;
  }
  if (extension(output) != extension(head)) return usage("OUTPUT must have the head's extension");
  if (const int e = writableDestination(output)) return failSystem(output, e);
  const std::string folder = folderOf(output);
  const std::string scratch = folder + "/_LumaraEditorRiffTemp.bin";
  if (sameFile(scratch, head) || sameFile(scratch, tail)) {
    std::fprintf(stderr, "sonvex-cli: %s is an input; combine elsewhere\n", scratch.c_str());
    return kExitFailure;
  }

  // The append works in place on a copy of the head, which becomes OUTPUT
  // only when complete: a failure or a stop leaves OUTPUT as it was.
  const std::string work = folder + "/.sonvex-cli-" + std::to_string(getpid()) + ".part";
  const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return failSystem(output, errno);
  int error = copyInto(head, fd);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(work.c_str());
    if (gStopSignal.load() != 0) {
      std::fprintf(stderr, "sonvex-cli: stopped by signal %d; %s not written\n", gStopSignal.load(),
                   output.c_str());
      return stopStatus();
    }
    return failSystem("copying " + head + " for " + output, error);
  }
  const std::u16string w16 = toU16(work), s16 = toU16(scratch);
  WriteFormat wf{};
  wf.channels = uint16_t(a.channels);
  wf.bitsPerSample = uint16_t(a.bitsPerSample);
  wf.sampleRate = a.sampleRate;
  wf.notMono = a.channels == 1 ? 0 : 1;
  int32_t progress = 0;
  const Outcome o = runWithProgress(
      [&] {
        return combineFiles(int32_t(a.fileType), w16.c_str(), t16.c_str(), s16.c_str(), &wf,
                            &progress);
      },
      &progress, false, "combining", true);
  if (o.abandoned) {
    // The append cannot be interrupted; its files are unlinked and the
    // process leaves without waiting for it.
    ::unlink(work.c_str());
    ::unlink(scratch.c_str());
    std::fprintf(stderr, "sonvex-cli: stopped by signal %d; %s not written\n", gStopSignal.load(),
                 output.c_str());
    std::fflush(stderr);
    std::_Exit(stopStatus());
  }
  if (o.result != 0) {
    ::unlink(work.c_str());
    return fail(output, o.result, o.result == kErrWrite ? o.error : 0);
  }
  if (std::rename(work.c_str(), output.c_str()) != 0) {
    const int e = errno;
    ::unlink(work.c_str());
    return failSystem(output, e);
  }
  std::fprintf(stderr, "wrote %s\n", output.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("");
  installStopHandlers();
  const std::string cmd = argv[1];
  if (cmd == "info") return commandInfo(argc - 2, argv + 2);
  if (cmd == "convert") return commandConvert(argc - 2, argv + 2);
  if (cmd == "combine") return commandCombine(argc - 2, argv + 2);
  if (cmd == "-h" || cmd == "--help" || cmd == "help") {
    std::fputs(kUsage, stdout);
#ifdef SONVEX_CLI_PLAY
    std::fputs(kPlayUsage, stdout);
#endif
    return 0;
  }
#ifdef SONVEX_CLI_PLAY
  if (cmd == "play") return commandPlay(argc - 2, argv + 2, PlayHelpers{describe, toU16});
#endif
  return usage("unknown command " + cmd);
}
