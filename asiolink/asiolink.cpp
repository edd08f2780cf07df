#include "asiolink.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alsarecover.h"
#include "packers.h"
#include "reservation.h"

namespace {

using asiolink::PcmLayout;
using asiolink::Recovery;

constexpr int kHandle = 1;
constexpr int kSampleTypeInt32Lsb = 18;
constexpr int kSampleTypeDsdMsb1 = 33;
constexpr unsigned kPeriodUs = 10000;
constexpr unsigned kPeriodsPerBuffer = 4;

constexpr int kRateCount = 20;
constexpr unsigned kRates[kRateCount] = {44100,  48000, 88200,   96000,   176400,   192000,  352800,
                                         384000, 0,     0,       0,       0,        0,       0,
                                         0,      0,     2822400, 5644800, 11289600, 22579200};
constexpr unsigned kFirstDsdRate = 2822400;

struct PcmCandidate {
  snd_pcm_format_t format;
  PcmLayout layout;
  const char* name;
};

// Own byte order first, then packed 24-bit, then swapped, then wider
// containers; 16-bit last.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr PcmCandidate kPcmOrder[] = {
    {SND_PCM_FORMAT_S32_LE, PcmLayout::S32LE, "S32_LE"},
    {SND_PCM_FORMAT_S24_3LE, PcmLayout::S24_3LE, "S24_3LE"},
    {SND_PCM_FORMAT_S32_BE, PcmLayout::S32BE, "S32_BE"},
    {SND_PCM_FORMAT_S24_3BE, PcmLayout::S24_3BE, "S24_3BE"},
    {SND_PCM_FORMAT_S24_LE, PcmLayout::S24LE, "S24_LE"},
    {SND_PCM_FORMAT_S24_BE, PcmLayout::S24BE, "S24_BE"},
    {SND_PCM_FORMAT_S16_LE, PcmLayout::S16LE, "S16_LE"},
    {SND_PCM_FORMAT_S16_BE, PcmLayout::S16BE, "S16_BE"},
};
#else
constexpr PcmCandidate kPcmOrder[] = {
    {SND_PCM_FORMAT_S32_BE, PcmLayout::S32BE, "S32_BE"},
    {SND_PCM_FORMAT_S24_3BE, PcmLayout::S24_3BE, "S24_3BE"},
    {SND_PCM_FORMAT_S32_LE, PcmLayout::S32LE, "S32_LE"},
    {SND_PCM_FORMAT_S24_3LE, PcmLayout::S24_3LE, "S24_3LE"},
    {SND_PCM_FORMAT_S24_BE, PcmLayout::S24BE, "S24_BE"},
    {SND_PCM_FORMAT_S24_LE, PcmLayout::S24LE, "S24_LE"},
    {SND_PCM_FORMAT_S16_BE, PcmLayout::S16BE, "S16_BE"},
    {SND_PCM_FORMAT_S16_LE, PcmLayout::S16LE, "S16_LE"},
};
#endif

struct DsdCandidate {
  snd_pcm_format_t format;
  int wordBytes;
  bool bigEndian;
  const char* name;
};

// Wider words first: fewer frames a second for the same bits.
constexpr DsdCandidate kDsdOrder[] = {
    {SND_PCM_FORMAT_DSD_U32_BE, 4, true, "DSD_U32_BE"},
    {SND_PCM_FORMAT_DSD_U32_LE, 4, false, "DSD_U32_LE"},
    {SND_PCM_FORMAT_DSD_U16_BE, 2, true, "DSD_U16_BE"},
    {SND_PCM_FORMAT_DSD_U16_LE, 2, false, "DSD_U16_LE"},
    {SND_PCM_FORMAT_DSD_U8, 1, true, "DSD_U8"},
};

enum class Kind { kPcm, kDsdNative, kDop };

struct Choice {
  Kind kind = Kind::kPcm;
  snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
  PcmLayout layout = PcmLayout::S32LE;
  int dsdWordBytes = 0;
  bool dsdBigEndian = true;
  unsigned alsaRate = 0;
  const char* name = "";
};

bool fits(snd_pcm_t* pcm, const snd_pcm_hw_params_t* base, snd_pcm_format_t format, unsigned rate) {
  snd_pcm_hw_params_t* p;
  snd_pcm_hw_params_alloca(&p);
  snd_pcm_hw_params_copy(p, base);
  return snd_pcm_hw_params_set_format(pcm, p, format) == 0 &&
         snd_pcm_hw_params_test_rate(pcm, p, rate, 0) == 0;
}

// The first container the card takes at `rateHz`, for PCM or DSD.
bool choose(snd_pcm_t* pcm, const snd_pcm_hw_params_t* base, unsigned rateHz, int dsdMode,
            Choice* out) {
  if (rateHz < kFirstDsdRate) {
    for (const PcmCandidate& c : kPcmOrder) {
      if (fits(pcm, base, c.format, rateHz)) {
        *out = Choice{Kind::kPcm, c.format, c.layout, 0, true, rateHz, c.name};
        return true;
      }
    }
    return false;
  }
  if (dsdMode != kAsioLinkDsdDop) {
    for (const DsdCandidate& c : kDsdOrder) {
      const unsigned r = rateHz / (8u * static_cast<unsigned>(c.wordBytes));
      if (fits(pcm, base, c.format, r)) {
        *out = Choice{
            Kind::kDsdNative, c.format, PcmLayout::S32LE, c.wordBytes, c.bigEndian, r, c.name};
        return true;
      }
    }
  }
  if (dsdMode != kAsioLinkDsdNative) {
    for (const PcmCandidate& c : kPcmOrder) {
      if (asiolink::carriesDop(c.layout) && fits(pcm, base, c.format, rateHz / 16)) {
        *out = Choice{Kind::kDop, c.format, c.layout, 2, true, rateHz / 16, c.name};
        return true;
      }
    }
  }
  return false;
}

uint32_t rateMask(snd_pcm_t* pcm, const snd_pcm_hw_params_t* base, int dsdMode) {
  uint32_t mask = 0;
  Choice unused;
  for (int i = 0; i < kRateCount; ++i) {
    if (kRates[i] != 0 && choose(pcm, base, kRates[i], dsdMode, &unused)) mask |= 1u << i;
  }
  return mask;
}

void sayOnce(std::atomic<bool>& said, const char* text) {
  if (!said.exchange(true)) std::fprintf(stderr, "asiolink: %s\n", text);
}

std::atomic<bool> gSaidNoRealtime{false};
std::atomic<bool> gSaidNoMlock{false};

// One open card and the thread that feeds it.
class Stream {
 public:
  Stream(snd_pcm_t* pcm, const Choice& choice, snd_pcm_uframes_t period, snd_pcm_uframes_t buffer,
         AsioLinkRender render, uint64_t* dopPhase)
      : m_pcm(pcm),
        m_choice(choice),
        m_period(period),
        m_buffer(buffer),
        m_render(render),
        m_dopPhase(dopPhase) {}

  ~Stream() {
    finish(true);
    if (m_locked) munlock(m_arena.get(), m_arenaBytes);
    snd_pcm_close(m_pcm);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  [[nodiscard]] bool allocate() {
    const size_t frameBytes = this->frameBytes();
    // Per channel: the rendered block (Int32 for PCM, DSD bytes otherwise),
    // the DoP words, then the interleaved period.
    const size_t renderBytes = m_period * (m_choice.kind == Kind::kPcm ? 4 : dsdBytesPerFrame());
    m_channelWords = (renderBytes + 3) / 4;
    const size_t dopWords = m_choice.kind == Kind::kDop ? m_period : 0;
    const size_t words = 2 * m_channelWords + 2 * dopWords + (m_period * frameBytes + 3) / 4;
    m_arena.reset(new (std::nothrow) uint32_t[words]);
    if (!m_arena) return false;
    m_arenaBytes = words * 4;
    std::memset(m_arena.get(), 0, m_arenaBytes);
    m_left = m_arena.get();
    m_right = m_left + m_channelWords;
    m_dopLeft = reinterpret_cast<int32_t*>(m_right + m_channelWords);
    m_dopRight = m_dopLeft + dopWords;
    m_out = reinterpret_cast<uint8_t*>(m_dopRight + dopWords);
    m_locked = mlock(m_arena.get(), m_arenaBytes) == 0;
    if (!m_locked) sayOnce(gSaidNoMlock, "could not lock the audio buffers in memory");
    return true;
  }

  [[nodiscard]] bool start() {
    try {
      m_thread = std::thread([this] { run(); });
    } catch (...) {
      return false;
    }
    return true;
  }

  // Soft: pad with silence and let it play out; hard: drop what is queued.
  void finish(bool hard) {
    if (!m_thread.joinable()) return;
    m_hard.store(hard || m_hard.load());
    m_stop.store(true);
    m_thread.join();
  }

  int status() const { return m_status.load(); }
  unsigned recovered() const { return m_recovered.load(); }
  const Choice& choice() const { return m_choice; }
  snd_pcm_uframes_t period() const { return m_period; }
  snd_pcm_uframes_t buffer() const { return m_buffer; }

 private:
  size_t dsdBytesPerFrame() const { return static_cast<size_t>(m_choice.dsdWordBytes); }
  unsigned frameBytes() const {
    return m_choice.kind == Kind::kDsdNative ? 2u * static_cast<unsigned>(m_choice.dsdWordBytes)
                                             : 2u * asiolink::pcmBytes(m_choice.layout);
  }
  int waitMs() const {
    return static_cast<int>(4 * m_buffer * 1000 / (m_choice.alsaRate ? m_choice.alsaRate : 1)) +
           100;
  }

  static void raisePriority() {
    sched_param sp{};
    const int lo = sched_get_priority_min(SCHED_FIFO);
    const int hi = sched_get_priority_max(SCHED_FIFO);
    sp.sched_priority = lo + (hi - lo) * 2 / 3;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) != 0) {
      sayOnce(gSaidNoRealtime, "no real-time priority granted; playing at normal priority");
    }
  }

  // Fills the period: from the renderer, or silence in the stream's own
  // domain (DSD silence goes through the same packing, so DoP keeps marking).
  void fill(bool silent) {
    uint8_t* l = reinterpret_cast<uint8_t*>(m_left);
    uint8_t* r = reinterpret_cast<uint8_t*>(m_right);
    if (m_choice.kind == Kind::kPcm) {
      if (silent) {
        std::memset(l, 0, m_period * 4);
        std::memset(r, 0, m_period * 4);
      } else {
        m_render(0, kSampleTypeInt32Lsb, static_cast<int>(m_period), l, r);
      }
      asiolink::packPcm(reinterpret_cast<int32_t*>(l), reinterpret_cast<int32_t*>(r), m_period,
                        m_choice.layout, m_out);
      return;
    }
    const size_t bytes = m_period * dsdBytesPerFrame();
    if (silent) {
      std::memset(l, asiolink::kDsdSilence, bytes);
      std::memset(r, asiolink::kDsdSilence, bytes);
    } else {
      m_render(0, kSampleTypeDsdMsb1, static_cast<int>(bytes * 8), l, r);
    }
    if (m_choice.kind == Kind::kDsdNative) {
      asiolink::packDsd(l, r, m_period, m_choice.dsdWordBytes, m_choice.dsdBigEndian, m_out);
    } else {
      *m_dopPhase = asiolink::packDop(l, r, m_period, *m_dopPhase, m_dopLeft, m_dopRight);
      asiolink::packPcm(m_dopLeft, m_dopRight, m_period, m_choice.layout, m_out);
    }
  }

  bool writePeriod() {
    const Recovery r = asiolink::writeAll(m_pcm, m_out, m_period, frameBytes(), waitMs(), &m_count);
    m_recovered.store(m_count);
    if (r == Recovery::kRecovered) return true;
    m_status.store(r == Recovery::kGone ? kAsioLinkDeviceGone : kAsioLinkStreamFailed);
    return false;
  }

  void run() {
    raisePriority();
    fill(true);
    bool alive = writePeriod();  // lead-in: the card settles before content
    while (alive && !m_stop.load()) {
      fill(false);
      alive = writePeriod();
    }
    if (alive && !m_hard.load()) playOut();
    snd_pcm_drop(m_pcm);
  }

  // A period of silence after the content, then wait until it has all sounded.
  void playOut() {
    fill(true);
    if (!writePeriod()) return;
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED) (void)snd_pcm_start(m_pcm);
    const unsigned rate = m_choice.alsaRate ? m_choice.alsaRate : 48000;
    const long limitUs = static_cast<long>(m_buffer * 1000000 / rate) * 2 + 100000;
    for (long waited = 0; waited < limitUs && !m_hard.load(); waited += kPeriodUs / 2) {
      snd_pcm_sframes_t delay = 0;
      if (snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING) break;
      if (snd_pcm_delay(m_pcm, &delay) < 0 || delay <= 0) break;
      usleep(kPeriodUs / 2);
    }
  }

  snd_pcm_t* m_pcm;
  Choice m_choice;
  snd_pcm_uframes_t m_period;
  snd_pcm_uframes_t m_buffer;
  AsioLinkRender m_render;
  uint64_t* m_dopPhase;
  std::unique_ptr<uint32_t[]> m_arena;
  size_t m_arenaBytes = 0;
  size_t m_channelWords = 0;
  bool m_locked = false;
  uint32_t* m_left = nullptr;
  uint32_t* m_right = nullptr;
  int32_t* m_dopLeft = nullptr;
  int32_t* m_dopRight = nullptr;
  uint8_t* m_out = nullptr;
  unsigned m_count = 0;
  std::atomic<unsigned> m_recovered{0};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_hard{false};
  std::atomic<int> m_status{kAsioLinkOk};
  std::thread m_thread;
};

struct Device {
  std::string pcm;
  std::string label;
  int dsdMode = kAsioLinkDsdAuto;
  uint64_t dopPhase = 0;  // markers run on across blocks, silence and restarts
};

struct Bridge {
  std::mutex mutex;
  std::vector<Device> cards;  // rebuilt on every listing
  std::deque<Device> extra;   // added by the user, kept; grows without moving
  std::vector<const char*> names;
  std::unique_ptr<Stream> stream;
  asiolink::CardReservation reservation;  // held as long as the stream
  std::string streamPcm;
  std::string lastError = "No device opened yet.";
  int lastStatus = kAsioLinkOk;

  Device* device(int index) {
    if (index < 0) return nullptr;
    const size_t i = static_cast<size_t>(index);
    if (i < cards.size()) return &cards[i];
    if (i - cards.size() < extra.size()) return &extra[i - cards.size()];
    return nullptr;
  }

  void listCards() {
    std::vector<Device> found;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
      char ctlName[32];
      std::snprintf(ctlName, sizeof ctlName, "hw:%d", card);
      snd_ctl_t* ctl = nullptr;
      if (snd_ctl_open(&ctl, ctlName, 0) < 0) continue;
      snd_ctl_card_info_t* info;
      snd_ctl_card_info_alloca(&info);
      const std::string cardName =
          snd_ctl_card_info(ctl, info) == 0 ? snd_ctl_card_info_get_name(info) : ctlName;
      int dev = -1;
      while (snd_ctl_pcm_next_device(ctl, &dev) == 0 && dev >= 0) {
        snd_pcm_info_t* pcmInfo;
        snd_pcm_info_alloca(&pcmInfo);
        snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(dev));
        snd_pcm_info_set_subdevice(pcmInfo, 0);
        snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_PLAYBACK);
        if (snd_ctl_pcm_info(ctl, pcmInfo) < 0) continue;  // capture only
        Device d;
        d.pcm = "hw:" + std::to_string(card) + "," + std::to_string(dev);
        d.label = cardName + " - " + snd_pcm_info_get_name(pcmInfo) + " (" + d.pcm + ")";
        for (const Device& old : cards) {
          if (old.pcm == d.pcm) d.dsdMode = old.dsdMode, d.dopPhase = old.dopPhase;
        }
        found.push_back(std::move(d));
      }
      snd_ctl_close(ctl);
    }
    cards = std::move(found);
  }

  int stop(bool hard) {
    if (!stream) return kAsioLinkOk;
    stream->finish(hard);
    const int status = stream->status();
    stream.reset();
    reservation.release();
    lastStatus = status;
    if (status == kAsioLinkDeviceGone) lastError = streamPcm + ": the device disappeared.";
    return status;
  }

  int open(int index, int rate, AsioLinkRender render, uint32_t* mask);
  std::string panelText() const;
};

Bridge gBridge;

int Bridge::open(int index, int rate, AsioLinkRender render, uint32_t* mask) {
  (void)stop(false);
  lastStatus = kAsioLinkOk;
  if (mask) *mask = 0;
  Device* d = device(index);
  if (!d) {
    lastError = "No such device.";
    return kAsioLinkNoDevice;
  }
  int card = -1;
  std::string why;
  if (std::sscanf(d->pcm.c_str(), "hw:%d", &card) == 1 && !reservation.acquire(card, &why)) {
    lastError = d->pcm + " is in use by another application: " + why + ".";
    return kAsioLinkBusy;
  }
  snd_pcm_t* pcm = nullptr;
  const int err = snd_pcm_open(&pcm, d->pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err < 0) {
    reservation.release();
    if (err == -EBUSY) {
      lastError = d->pcm + " is in use by another application.";
      return kAsioLinkBusy;
    }
    lastError = d->pcm + ": cannot open (" + snd_strerror(err) + ").";
    return kAsioLinkOpenFailed;
  }
  auto fail = [&](int code, const std::string& reason) {
    snd_pcm_close(pcm);
    reservation.release();
    lastError = d->pcm + ": " + reason;
    return code;
  };
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
      snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hw, 2) < 0) {
    return fail(kAsioLinkOpenFailed, "does not take interleaved stereo.");
  }
  // Bit-perfect: a PCM that would resample must say no instead.
  (void)snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
  if (mask) *mask = rateMask(pcm, hw, d->dsdMode);
  Choice c;
  if (rate <= 0 || !choose(pcm, hw, static_cast<unsigned>(rate), d->dsdMode, &c)) {
    return fail(kAsioLinkUnsupportedRate, "no usable format at " + std::to_string(rate) + " Hz.");
  }
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
  unsigned periodUs = kPeriodUs;
  unsigned periods = kPeriodsPerBuffer;
  if (snd_pcm_hw_params_set_format(pcm, hw, c.format) < 0 ||
      snd_pcm_hw_params_set_rate(pcm, hw, c.alsaRate, 0) < 0 ||
      snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr) < 0 ||
      snd_pcm_hw_params_set_periods_near(pcm, hw, &periods, nullptr) < 0 ||
      snd_pcm_hw_params(pcm, hw) < 0 ||
      snd_pcm_hw_params_get_period_size(hw, &period, nullptr) < 0 ||
      snd_pcm_hw_params_get_buffer_size(hw, &buffer) < 0 || period == 0) {
    return fail(kAsioLinkOpenFailed, "refused the chosen format.");
  }
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if (snd_pcm_sw_params_current(pcm, sw) < 0 ||
      snd_pcm_sw_params_set_start_threshold(pcm, sw, buffer) < 0 ||
      snd_pcm_sw_params_set_avail_min(pcm, sw, period) < 0 || snd_pcm_sw_params(pcm, sw) < 0 ||
      snd_pcm_prepare(pcm) < 0) {
    return fail(kAsioLinkOpenFailed, "refused the software parameters.");
  }
  auto s = std::unique_ptr<Stream>(new (std::nothrow)
                                       Stream(pcm, c, period, buffer, render, &d->dopPhase));
  if (!s) return fail(kAsioLinkNoMemory, "out of memory.");
  if (!s->allocate() || !s->start()) {
    s.reset();
    reservation.release();
    lastError = d->pcm + ": out of memory.";
    return kAsioLinkNoMemory;  // the stream closes the PCM
  }
  stream = std::move(s);
  streamPcm = d->label.empty() ? d->pcm : d->label;
  return kAsioLinkOk;
}

std::string Bridge::panelText() const {
  if (!stream) return lastError;
  const Choice& c = stream->choice();
  char text[512];
  const char* mode = c.kind == Kind::kPcm         ? "PCM"
                     : c.kind == Kind::kDsdNative ? "DSD native"
                                                  : "DSD over PCM (DoP)";
  const unsigned rate = c.alsaRate ? c.alsaRate : 1;
  std::snprintf(text, sizeof text,
                "Device: %s\nMode: %s\nFormat: %s, 2 channels\nRate: %u Hz\n"
                "Period: %lu frames (%.1f ms)\nBuffer: %lu frames (%.1f ms)\n"
                "Underruns recovered: %u%s",
                streamPcm.c_str(), mode, c.name, c.alsaRate,
                static_cast<unsigned long>(stream->period()), 1000.0 * stream->period() / rate,
                static_cast<unsigned long>(stream->buffer()), 1000.0 * stream->buffer() / rate,
                stream->recovered(),
                stream->status() == kAsioLinkDeviceGone ? "\nThe device disappeared." : "");
  return text;
}

}  // namespace

int initAsioDriver(int* handle) {
  if (!handle) return kAsioLinkBadHandle;
  *handle = kHandle;
  return kAsioLinkOk;
}

int getAsioDriverNames(int handle, AsioLinkNames callback) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  if (!gBridge.stream) gBridge.listCards();  // an open card keeps its index
  gBridge.names.clear();
  for (const Device& d : gBridge.cards) gBridge.names.push_back(d.label.c_str());
  for (const Device& d : gBridge.extra) gBridge.names.push_back(d.pcm.c_str());
  if (callback) callback(gBridge.names.data(), static_cast<int>(gBridge.names.size()));
  return static_cast<int>(gBridge.names.size());
}

int openAsioDevice(int handle, void*, int device, int rate, AsioLinkRender render, int*,
                   uint32_t* rateMask) {
  if (handle != kHandle || !render) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  if (gBridge.cards.empty() && gBridge.extra.empty()) gBridge.listCards();
  return gBridge.open(device, rate, render, rateMask);
}

int stopAsioDevice(int handle, void*) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  return gBridge.stop(false);
}

int unSelectAsioDevice(int handle, void*, int) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  return gBridge.stop(true);
}

int openAsioPanel(int handle, void*) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  return gBridge.stream ? kAsioLinkOk : kAsioLinkNotOpen;
}

int getAndSetAsioBufferSize(int handle, void*, int apply) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  if (apply) return kAsioLinkOk;
  return asioLinkStatus(handle) == kAsioLinkDeviceGone ? kAsioLinkDeviceGone : kAsioLinkOk;
}

int exitAsioDevice(int handle, void*) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  return gBridge.stop(true);
}

int asioLinkAddDevice(int handle, const char* pcmName) {
  if (handle != kHandle || !pcmName || !*pcmName) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  for (size_t i = 0; i < gBridge.extra.size(); ++i) {
    if (gBridge.extra[i].pcm == pcmName) return static_cast<int>(gBridge.cards.size() + i);
  }
  Device d;
  d.pcm = pcmName;
  gBridge.extra.push_back(std::move(d));
  return static_cast<int>(gBridge.cards.size() + gBridge.extra.size() - 1);
}

int asioLinkSetDsdMode(int handle, int device, int mode) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  if (mode < kAsioLinkDsdAuto || mode > kAsioLinkDsdDop) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  Device* d = gBridge.device(device);
  if (!d) return kAsioLinkNoDevice;
  d->dsdMode = mode;
  return kAsioLinkOk;
}

int asioLinkPanelText(int handle, char* buffer, int size) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  const std::string text = gBridge.panelText();
  if (buffer && size > 0) {
    const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int>(text.size());
}

int asioLinkStatus(int handle) {
  if (handle != kHandle) return kAsioLinkBadHandle;
  std::lock_guard<std::mutex> lock(gBridge.mutex);
  return gBridge.stream ? gBridge.stream->status() : gBridge.lastStatus;
}
