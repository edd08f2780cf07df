#include "sharedoutput.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "alsarecover.h"

using asiolink::Recovery;

namespace {

struct MixCandidate {
  snd_pcm_format_t format;
  uint16_t tag;
  uint16_t bits;
  int code;
};

// What the sound server mixes in, best first; S32 plays as silence since
// the renderer writes only float32 and int16.
constexpr MixCandidate kMixOrder[] = {
    {SND_PCM_FORMAT_FLOAT_LE, 3, 32, 1},
    {SND_PCM_FORMAT_S16_LE, 1, 16, 2},
    {SND_PCM_FORMAT_S32_LE, 1, 32, 0},
};

}  // namespace

SharedOutput::~SharedOutput() {
  requestStop();
  wait();
  closeDevice();
}

void SharedOutput::setRender(Render render) {
  m_render = render;
  m_renderCtx = nullptr;
}

void SharedOutput::setRender(RenderWithContext render, void* ctx) {
  m_renderCtx = render;
  m_ctx = ctx;
  m_render = nullptr;
}

void SharedOutput::setFinishedCallback(Finished finished, void* ctx) {
  m_onFinished = finished;
  m_finishedCtx = ctx;
}

void SharedOutput::addEndpoint(const std::string& pcmName) { m_extra.push_back(pcmName); }

int SharedOutput::enumerateDevices() {
  m_stopRequested.store(false);
  m_names.clear();
  m_ids.clear();
  auto add = [this](const std::string& name, const std::string& id) {
    if (m_ids.size() >= static_cast<size_t>(kMaxDevices)) return;
    m_names.push_back(name);
    m_ids.push_back(id);
  };
  add("Default output (desktop sound)", "default");
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    char* longName = nullptr;
    const std::string id = std::to_string(card);
    std::string name = "Card " + id;
    if (snd_card_get_name(card, &longName) == 0 && longName) {
      name = longName;
      free(longName);
    }
    add(name + " (sysdefault:" + id + ")", "sysdefault:" + id);
    add(name + " (plughw:" + id + ")", "plughw:" + id);
  }
  for (const std::string& pcm : m_extra) add(pcm, pcm);
  return static_cast<int>(m_ids.size());
}

int SharedOutput::openDevice(int index, unsigned preferredRate) {
  closeDevice();
  if (index < 0 || static_cast<size_t>(index) >= m_ids.size()) return kNoDevice;
  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, m_ids[static_cast<size_t>(index)].c_str(), SND_PCM_STREAM_PLAYBACK,
                         SND_PCM_NONBLOCK);
  if (err < 0) return err == -EBUSY ? kInUse : kOpenFailed;
  auto fail = [pcm](int code) {
    snd_pcm_close(pcm);
    return code;
  };
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
      snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      snd_pcm_hw_params_set_channels(pcm, hw, 2) < 0) {
    return fail(kNoFormat);
  }
  const MixCandidate* mix = nullptr;
  for (const MixCandidate& c : kMixOrder) {
    if (snd_pcm_hw_params_set_format(pcm, hw, c.format) == 0) {
      mix = &c;
      break;
    }
  }
  if (!mix) return fail(kNoFormat);
  // 48 kHz unless asked otherwise: what desktops run at.
  unsigned rate = preferredRate ? preferredRate : 48000;
  unsigned bufferUs = kBufferUs;
  snd_pcm_uframes_t frames = 0;
  if (snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr) < 0 ||
      snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr) < 0 ||
      snd_pcm_hw_params(pcm, hw) < 0 || snd_pcm_hw_params_get_buffer_size(hw, &frames) < 0 ||
      frames == 0) {
    return fail(kOpenFailed);
  }
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t boundary = 0;
  // Started by run(), never by filling; woken at half a buffer free.
  if (snd_pcm_sw_params_current(pcm, sw) < 0 || snd_pcm_sw_params_get_boundary(sw, &boundary) < 0 ||
      snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary) < 0 ||
      snd_pcm_sw_params_set_avail_min(pcm, sw, frames / 2) < 0 || snd_pcm_sw_params(pcm, sw) < 0) {
    return fail(kOpenFailed);
  }
  m_format.formatTag = mix->tag;
  m_format.channels = 2;
  m_format.samplesPerSec = rate;
  m_format.bitsPerSample = mix->bits;
  m_format.blockAlign = static_cast<uint16_t>(2 * mix->bits / 8);
  m_format.avgBytesPerSec = rate * m_format.blockAlign;
  m_formatCode = mix->code;
  m_bufferFrames = static_cast<int>(frames);
  m_bufferDurationUs = static_cast<int64_t>(frames) * 1000000 / rate;
  m_buffer.assign(frames * m_format.blockAlign, 0);
  m_recovered.store(0);
  unsigned recovered = 0;
  if (asiolink::writeAll(pcm, m_buffer.data(), frames, m_format.blockAlign, 1000, &recovered) !=
      Recovery::kRecovered) {
    return fail(kOpenFailed);
  }
  m_pcm = pcm;
  return kOk;
}

std::string SharedOutput::failureText(int result) {
  std::string text = "Failed to select this device.";
  if (result == kInUse) text += "\nAlready in use by other application.";
  return text;
}

bool SharedOutput::start() {
  if (m_thread.joinable() || !m_pcm) return false;
  m_running.store(true);
  try {
    m_thread = std::thread([this] {
      sched_param sp{};
      sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
      (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);  // normal priority otherwise
      run();
      m_running.store(false);
    });
  } catch (...) {
    m_running.store(false);
    return false;
  }
  return true;
}

void SharedOutput::wait() {
  if (m_thread.joinable()) m_thread.join();
}

void SharedOutput::closeDevice() {
  if (!m_pcm) return;
  snd_pcm_close(m_pcm);
  m_pcm = nullptr;
}

void SharedOutput::render(int frames) {
  // Zeros first: a renderer that cannot write this format leaves silence.
  std::memset(m_buffer.data(), 0, static_cast<size_t>(frames) * m_format.blockAlign);
  if (m_render) {
    m_render(m_formatCode, &m_format, frames, m_buffer.data());
  } else if (m_renderCtx) {
    m_renderCtx(m_ctx, m_formatCode, &m_format, frames, m_buffer.data());
  }
}

void SharedOutput::run() {
  m_finished.store(false);
  if (m_pcm && !m_stopRequested.load() && snd_pcm_start(m_pcm) == 0) {
    const int halfMs = static_cast<int>(m_bufferDurationUs / 2000) + 1;
    unsigned recovered = 0;
    bool alive = true;
    while (alive && !m_stopRequested.load()) {
      const int w = snd_pcm_wait(m_pcm, halfMs);
      snd_pcm_sframes_t avail = w < 0 ? w : snd_pcm_avail_update(m_pcm);
      if (avail < 0) {
        const Recovery r = asiolink::recoverPcm(m_pcm, static_cast<int>(avail));
        if (r == Recovery::kRecovered) m_recovered.store(++recovered);
        if (r == Recovery::kRetry && avail == -ESTRPIPE) usleep(10000);  // still suspended
        alive = r == Recovery::kRetry || r == Recovery::kRecovered;
        if (r != Recovery::kRecovered) continue;
        avail = m_bufferFrames;  // prepared again: the whole buffer is free
      }
      const int free = static_cast<int>(std::min<snd_pcm_sframes_t>(avail, m_bufferFrames));
      if (free == 0) continue;
      render(free);
      const Recovery r =
          asiolink::writeAll(m_pcm, m_buffer.data(), static_cast<snd_pcm_uframes_t>(free),
                             m_format.blockAlign, 4 * halfMs, &recovered);
      m_recovered.store(recovered);
      alive = r == Recovery::kRecovered;
      if (alive && snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
        alive = snd_pcm_start(m_pcm) == 0;
    }
  }
  // Let what was written play out, then stop.
  usleep(static_cast<useconds_t>(m_bufferDurationUs / 2));
  if (m_pcm) snd_pcm_drop(m_pcm);
  if (m_onFinished) m_onFinished(m_finishedCtx);
  m_finished.store(true);
}
