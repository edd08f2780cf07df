// sonvex-cli play: the program's playback job on a thread of its own, the
// engine's renderers called by the shared output (default) or by the
// bridge's exclusive output (--direct), the position on stderr, and a faded
// stop on SIGINT, SIGTERM or SIGHUP.
#include "cli_play.h"

#include <alsa/asoundlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "asiolink.h"
#include "playback.h"
#include "render.h"
#include "sharedoutput.h"
#include "sonvex.h"
#include "transaction.h"

const char kPlayUsage[] =
    "  sonvex-cli play [options] FILE\n"
    "      Play FILE through the desktop's sound output (ALSA \"default\").\n"
    "      --device PCM  ALSA PCM name; with --direct the first card by default\n"
    "      --direct      the card alone, bit-perfect: DSD natively or as DoP\n"
    "      --dop         force DoP, --native  force native DSD (with --direct)\n"
    "      --in T        start at T; --out T  end at T (seconds or mm:ss.ff)\n"
    "      --volume dB   monitor volume (default 0; -100 mutes)\n"
    "      --rate HZ     play rate; default the file's, else the nearest the\n"
    "                    device takes (44100 ... 384000, DSD with --direct)\n"
    "      Ctrl+C fades out and stops.\n";

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kPollMs = 50;
constexpr int kWatchdogMs = 1000;
constexpr double kPlainProgressSeconds = 10.0;
constexpr int kProducerNice = -10;

struct Options {
  std::string path;
  std::string device;
  bool direct = false;
  int dsdMode = kAsioLinkDsdAuto;
  std::string in, out;
  double volumeDb = 0.0;
  uint32_t rate = 0;  // 0: chosen from the file and the device
};

int usage(const std::string& why) {
  std::fprintf(stderr, "sonvex-cli: %s\nusage:\n%s", why.c_str(), kPlayUsage);
  return kExitUsage;
}

int failure(const std::string& text) {
  std::fprintf(stderr, "sonvex-cli: %s\n", text.c_str());
  return kExitFailure;
}

// Seconds ("75.5"), or minutes and seconds ("1:15.5"), or with hours.
bool parseTime(const std::string& text, double* seconds) {
  double total = 0.0;
  size_t at = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t colon = text.find(':', at);
    const std::string field = text.substr(at, colon == std::string::npos ? colon : colon - at);
    if (field.empty() || field.find_first_not_of("0123456789.") != std::string::npos) return false;
    const bool last = colon == std::string::npos;
    if (!last && field.find('.') != std::string::npos) return false;
    char* end = nullptr;
    const double v = std::strtod(field.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || (part > 0 && v >= 60.0)) return false;
    total = total * 60.0 + v;
    if (last) {
      *seconds = total;
      return true;
    }
    at = colon + 1;
  }
  return false;
}

// mm:ss.ff, with hours in front from an hour on; never rounds up.
std::string clockText(double seconds) {
  const long long cs = static_cast<long long>(std::floor(std::max(0.0, seconds) * 100.0 + 1e-6));
  char buf[48];
  if (cs >= 360000)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60,
                  cs / 100 % 60, cs % 100);
  else
    std::snprintf(buf, sizeof buf, "%02lld:%02lld.%02lld", cs / 6000, cs / 100 % 60, cs % 100);
  return buf;
}

int codeOf(uint32_t hz) {
  for (int c = 0; c < kRateTableSize; ++c)
    if (hz > 1 && sonvexRateForCode(c) == hz) return c;
  return -1;
}

bool isDsdRate(uint32_t hz) { return hz >= SONVEX_DSD_RATE_MIN; }

// The order in which play rates are tried: the file's rate, its halvings,
// then every PCM rate by distance from the file's (or its PCM halving).
std::vector<uint32_t> rateOrder(uint32_t fileRate, bool dsdAllowed) {
  std::vector<uint32_t> order;
  const auto add = [&](uint32_t r) {
    if (codeOf(r) >= 0 && (dsdAllowed || !isDsdRate(r)) &&
        std::find(order.begin(), order.end(), r) == order.end())
      order.push_back(r);
  };
  uint32_t target = fileRate;
  for (uint32_t r = fileRate; r >= 44100; r /= 2) {
    add(r);
    if (target > sonvexRateForCode(kRate384000)) target = r;
  }
  std::vector<uint32_t> pcm;
  for (int c = kRate44100; c <= kRate384000; ++c) pcm.push_back(sonvexRateForCode(c));
  std::stable_sort(pcm.begin(), pcm.end(), [target](uint32_t a, uint32_t b) {
    return std::fabs(std::log(double(a) / target)) < std::fabs(std::log(double(b) / target));
  });
  for (uint32_t r : pcm) add(r);
  return order;
}

engine::LibraryFunctions libraryFunctions() {
  engine::LibraryFunctions f;
  f.setDecimationFirParam = setDecimationFirParam;
  f.setMeterFirParam = setMeterFirParam;
  f.gAudioDecimationFir = gAudioDecimationFir;
  return f;
}

// ALSA's own diagnostics would bury the one line that says what failed.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

bool anySoundCard() {
  int card = -1;
  return snd_card_next(&card) == 0 && card >= 0;
}

std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// The rest of the panel text's line that starts with `key`, up to a comma.
std::string panelField(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return {};
  const size_t from = at + key.size();
  return text.substr(from, text.find_first_of(",\n", from) - from);
}

// The output the engine renders into: the shared output or the bridge.
class Output {
 public:
  ~Output() { close(); }

  // Opens at the best rate for `fileRate`; false with `error` set.
  bool open(const Options& o, uint32_t fileRate, std::string* error) {
    return o.direct ? openDirect(o, fileRate, error) : openShared(o, fileRate, error);
  }
  uint32_t playRate() const { return m_rate; }
  const std::string& description() const { return m_description; }

  // Non-empty once the stream has ended on its own.
  std::string streamFailure() const {
    if (m_direct) {
      const int s = asioLinkStatus(m_handle);
      if (s == kAsioLinkDeviceGone) return "the device disappeared";
      if (s < 0) return "the output stream failed";
      return {};
    }
    return m_sharedStarted && !m_shared.isRunning() ? "the output stream failed" : std::string();
  }

  // Lets what was rendered sound, then releases the device.
  void close() {
    if (m_direct && m_directOpen) {
      (void)stopAsioDevice(m_handle, nullptr);
      m_directOpen = false;
    }
    if (m_sharedStarted) {
      // The renderer fills idle frames meanwhile: the last content is in
      // the buffer, which run() plays out only by half.
      std::this_thread::sleep_for(std::chrono::microseconds(m_shared.bufferDurationUs()));
      m_shared.requestStop();
      m_shared.wait();
      m_sharedStarted = false;
    }
    m_shared.closeDevice();
  }

 private:
  bool prepare(uint32_t rate, std::string* error) {
    if (engine::prepareEngine(int(rate), libraryFunctions())) return true;
    *error = "out of memory";
    return false;
  }

  bool openDirect(const Options& o, uint32_t fileRate, std::string* error) {
    m_direct = true;
    if (initAsioDriver(&m_handle) < 0) {
      *error = "the direct output could not start";
      return false;
    }
    int device = 0;
    std::string name = o.device;
    if (o.device.empty()) {
      static std::string first;
      if (getAsioDriverNames(m_handle, [](const char** names, int count) {
            first = count > 0 ? names[0] : "";
          }) <= 0) {
        *error = "no sound card found (name an ALSA PCM with --device)";
        return false;
      }
      name = first;
    } else {
      device = asioLinkAddDevice(m_handle, o.device.c_str());
    }
    if (device < 0 || asioLinkSetDsdMode(m_handle, device, o.dsdMode) != kAsioLinkOk) {
      *error = name + ": no such device";
      return false;
    }
    std::vector<uint32_t> order =
        o.rate ? std::vector<uint32_t>{o.rate} : rateOrder(fileRate, true);
    if (o.dsdMode != kAsioLinkDsdAuto)  // forced DSD never falls back to PCM
      order.erase(
          std::remove_if(order.begin(), order.end(), [](uint32_t r) { return !isDsdRate(r); }),
          order.end());
    if (order.empty()) {
      *error = "--dop and --native play DSD: a PCM file needs a DSD --rate";
      return false;
    }
    uint32_t mask = 0;
    if (!prepare(order[0], error)) return false;
    int rc =
        openAsioDevice(m_handle, nullptr, device, int(order[0]), renderDeviceBlock, nullptr, &mask);
    m_rate = order[0];
    if (rc == kAsioLinkUnsupportedRate && !o.rate) {
      // The first answer lists every rate the device takes.
      for (uint32_t r : order) {
        if (r == m_rate || !(mask & (1u << codeOf(r)))) continue;
        if (!prepare(r, error)) return false;
        rc = openAsioDevice(m_handle, nullptr, device, int(r), renderDeviceBlock, nullptr, &mask);
        m_rate = r;
        break;
      }
    }
    char panel[1024];
    asioLinkPanelText(m_handle, panel, sizeof panel);
    if (rc != kAsioLinkOk) {
      if (rc == kAsioLinkBusy)
        *error = name + ": " + oneLine(SharedOutput::failureText(SharedOutput::kInUse));
      else if (rc == kAsioLinkOpenFailed && o.device.empty() && !anySoundCard())
        *error = "no sound card found";
      else
        *error = oneLine(panel);
      return false;
    }
    m_directOpen = true;
    m_description = name + " (direct, " + panelField(panel, "Mode: ") + ", " +
                    panelField(panel, "Format: ") + ", " + panelField(panel, "Rate: ") + ")";
    return true;
  }

  bool openShared(const Options& o, uint32_t fileRate, std::string* error) {
    const std::string name = o.device.empty() ? "default" : o.device;
    if (name != "default") m_shared.addEndpoint(name);
    m_shared.enumerateDevices();
    const auto& ids = m_shared.deviceIds();
    const int index = int(std::find(ids.rbegin(), ids.rend(), name).base() - ids.begin()) - 1;
    const std::vector<uint32_t> order =
        o.rate ? std::vector<uint32_t>{o.rate} : rateOrder(fileRate, false);
    int rc = m_shared.openDevice(index, order[0]);
    // Near the asked rate is what the device takes; a rate the engine cannot
    // play is tried away from, in order.
    for (size_t i = 1; rc == SharedOutput::kOk && codeOf(currentRate()) < 0 && i < order.size();
         ++i)
      rc = m_shared.openDevice(index, order[i]);
    if (rc != SharedOutput::kOk) {
      if (rc == SharedOutput::kOpenFailed && name == "default" && !anySoundCard()) {
        *error = "no sound card found";
      } else {
        *error = name + ": " + oneLine(SharedOutput::failureText(rc));
        snd_pcm_t* pcm = nullptr;  // ALSA's own words for why
        const int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (err < 0 && err != -EBUSY) *error += std::string(" (") + snd_strerror(err) + ")";
        if (pcm) snd_pcm_close(pcm);
      }
      return false;
    }
    m_rate = currentRate();
    if (codeOf(m_rate) < 0 || (o.rate && m_rate != o.rate)) {
      *error = name + ": does not take " + std::to_string(o.rate ? o.rate : fileRate) +
               " Hz (it plays at " + std::to_string(m_rate) + " Hz)";
      return false;
    }
    if (m_shared.formatCode() == 0) {
      *error = name + ": takes neither 32-bit float nor 16-bit samples";
      return false;
    }
    if (!prepare(m_rate, error)) return false;
    m_shared.setRender(renderInterleavedBlock);
    if (!m_shared.start()) {
      *error = "the output thread could not start";
      return false;
    }
    m_sharedStarted = true;
    const WaveFormat& f = m_shared.mixFormat();
    m_description = name + " (shared, " + (f.formatTag == 3 ? "32-bit float" : "16-bit") + ", " +
                    std::to_string(f.samplesPerSec) + " Hz)";
    return true;
  }

  uint32_t currentRate() const { return m_shared.mixFormat().samplesPerSec; }

  bool m_direct = false;
  bool m_directOpen = false;
  int m_handle = 0;
  SharedOutput m_shared;
  bool m_sharedStarted = false;
  uint32_t m_rate = 0;
  std::string m_description;
};

bool parseOptions(int argc, char** argv, Options* o, std::string* why) {
  std::vector<std::string> files;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *why = a + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--device") {
      if (!value(&o->device)) return false;
    } else if (a == "--in") {
      if (!value(&o->in)) return false;
    } else if (a == "--out") {
      if (!value(&o->out)) return false;
    } else if (a == "--volume") {
      if (!value(&v)) return false;
      char* end = nullptr;
      o->volumeDb = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !std::isfinite(o->volumeDb) || o->volumeDb > 24.0) {
        *why = "--volume takes dB up to +24";
        return false;
      }
    } else if (a == "--rate") {
      if (!value(&v)) return false;
      char* end = nullptr;
      const unsigned long hz = std::strtoul(v.c_str(), &end, 10);
      o->rate = *end == '\0' && hz <= UINT32_MAX ? uint32_t(hz) : 0;
      if (codeOf(o->rate) < 0) {
        *why = "unknown play rate " + v;
        return false;
      }
    } else if (a == "--direct") {
      o->direct = true;
    } else if (a == "--dop") {
      o->dsdMode = kAsioLinkDsdDop;
    } else if (a == "--native") {
      o->dsdMode = kAsioLinkDsdNative;
    } else if (a.size() > 1 && a[0] == '-') {
      *why = "unknown option " + a;
      return false;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 1) {
    *why = "play needs one FILE";
    return false;
  }
  o->path = files[0];
  if (o->dsdMode != kAsioLinkDsdAuto && !o->direct) {
    *why = "--dop and --native need --direct";
    return false;
  }
  if (o->rate && isDsdRate(o->rate) && !o->direct) {
    *why = "DSD play rates need --direct";
    return false;
  }
  return true;
}

}  // namespace

int commandPlay(int argc, char** argv, const PlayHelpers& helpers) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kPlayUsage, stdout);
      return 0;
    }
  }
  Options o;
  std::string why;
  if (!parseOptions(argc, argv, &o, &why)) return usage(why);
  snd_lib_error_set_handler(quietAlsa);

  // Every thread started from here on inherits the blocked stop signals; the
  // main loop takes them with sigtimedwait, so no ALSA call sees EINTR.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  struct stat st;
  if (::stat(o.path.c_str(), &st) != 0) return failure(o.path + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return failure(o.path + ": not a file");
  const std::u16string path16 = helpers.toU16(o.path);
  AudioFileInfo info{};
  const int probe = getAudioFileInformation(path16.c_str(), &info);
  if (probe == kErrOpen) return failure(o.path + ": cannot be opened");
  if (probe != 0)
    return failure(o.path + ": not a supported audio file (WAV/RF64, DSF, DSDIFF, FLAC) [code " +
                   std::to_string(probe) + "]");
  SourceDescription source = describeSource(info);
  if (info.channels < 1 || info.channels > 2 || source.totalFrames == 0 || info.sampleRate == 0)
    return failure(o.path + ": unsupported file (" + std::to_string(info.channels) + " channels, " +
                   std::to_string(source.totalFrames) + " frames)");
  const uint32_t fileRate = info.sampleRate;
  double inSeconds = 0.0, outSeconds = double(source.totalFrames) / fileRate;
  if (!o.in.empty() && !parseTime(o.in, &inSeconds)) return usage("unreadable --in " + o.in);
  if (!o.out.empty() && !parseTime(o.out, &outSeconds)) return usage("unreadable --out " + o.out);
  // Clamped before rounding: a time past the end must not overflow.
  const double length = double(source.totalFrames) / fileRate;
  const int64_t inFrame = std::llround(std::min(inSeconds, length) * fileRate);
  const int64_t outFrame = std::min<int64_t>(std::llround(std::min(outSeconds, length) * fileRate),
                                             int64_t(source.totalFrames));
  if (inFrame >= outFrame)
    return failure("nothing to play: " +
                   (inSeconds >= length
                        ? "--in " + o.in + " is past the end (" + clockText(length) + ")"
                        : "--in " + o.in + " is not before --out " + o.out));

  Output output;
  if (!output.open(o, fileRate, &why)) return failure("cannot play: " + why);
  const uint32_t playRate = output.playRate();

  engine::setEqSettings(nullptr);
  engine::setPostFader(0);
  engine::setMonitorVolume(o.volumeDb);
  engine::setPlaybackJob(0);
  engine::setDeviceWatchdog(kWatchdogMs);
  // The source's bits go out unchanged only where nothing alters them.
  engine::setDsdDirect(
      o.direct && isDsdRate(fileRate) && playRate == fileRate && o.volumeDb == 0.0 ? 1 : 0);

  JobRequest request;
  engine::buildPlaybackRequest(&request, path16, codeOf(playRate), inFrame, source, nullptr);
  request.range.endFrame = outFrame;
  source.totalFrames = uint64_t(outFrame);  // where the renderer ends the play
  LevelPoint envelope[10];
  for (auto& e : envelope) e = LevelPoint{INT64_MAX, 1.0, 0.0, 0, 0};
  envelope[0] = LevelPoint{0, 1.0, 0.0, 0, 0};

  const double endSeconds = double(outFrame) / fileRate;
  std::fprintf(stderr, "playing %s (%s, %u Hz, %u ch) on %s at %u Hz\n", o.path.c_str(),
               isDsdRate(fileRate) ? "DSD" : "PCM", fileRate, info.channels,
               output.description().c_str(), playRate);

  std::atomic<bool> jobDone{false};
  int result = 0;
  std::thread job([&] {
    // The producer keeps the ring ahead of the device only if a busy machine
    // does not starve it; raised where allowed (root or RLIMIT_NICE).
    (void)setpriority(PRIO_PROCESS, id_t(gettid()), kProducerNice);
    result = engine::runPlayback(8, &request, sonvexert, &source, envelope);
    jobDone.store(true, std::memory_order_release);
  });

  const bool terminal = isatty(fileno(stderr)) == 1;
  int interruptedBy = 0;
  std::string failed;
  std::string shown;
  double nextPlain = 0.0;
  const auto position = [&] {
    return std::min(endSeconds, double(engine::getPlayPosition()) / playRate);
  };
  while (!jobDone.load(std::memory_order_acquire)) {
    const timespec step{0, kPollMs * 1000000L};
    const int sig = sigtimedwait(&stopSignals, nullptr, &step);
    if (sig > 0) {
      if (interruptedBy) std::_Exit(128 + sig);  // a second signal does not wait for the fade
      interruptedBy = sig;
      engine::requestStop(&request, nullptr);
    }
    if (failed.empty()) {
      failed = output.streamFailure();
      if (failed.empty() && engine::consumeWatchdog(kPollMs)) failed = "the output stopped playing";
      if (!failed.empty()) engine::requestStop(&request, nullptr);
    }
    const double pos = position();
    const std::string line = clockText(pos) + " / " + clockText(endSeconds);
    if (terminal && line != shown) {
      std::fprintf(stderr, "\r%s ", line.c_str());
      shown = line;
    } else if (!terminal && pos >= nextPlain) {
      std::fprintf(stderr, "%s\n", line.c_str());
      nextPlain = (std::floor(pos / kPlainProgressSeconds) + 1.0) * kPlainProgressSeconds;
    }
  }
  job.join();
  const double stoppedAt = position();
  output.close();
  engine::releaseEngine();
  const bool ended = failed.empty() && !interruptedBy &&
                     (result >= 0 || result == kConvertStoppedPcm || result == kConvertStoppedDsd);
  if (terminal && !ended) std::fputc('\n', stderr);  // keep the last position shown

  if (!failed.empty()) return failure("playback stopped: " + failed);
  if (interruptedBy) {
    std::fprintf(stderr, "stopped at %s (%s)\n", clockText(stoppedAt).c_str(),
                 interruptedBy == SIGINT ? "interrupted" : "terminated");
    return 128 + interruptedBy;
  }
  if (!ended)
    return failure(o.path + ": " + helpers.describe(result) + " [code " + std::to_string(result) +
                   "]");
  std::fprintf(stderr, "%s%s / %s, done\n", terminal ? "\r" : "", clockText(endSeconds).c_str(),
               clockText(endSeconds).c_str());
  return 0;
}
