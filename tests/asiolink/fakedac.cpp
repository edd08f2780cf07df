// A stand-in sound card for the tests, loaded by ALSA from the test's
// configuration: it takes only the formats and rates it is given, consumes
// frames at the pace of its rate, and can fail on cue.
//   pcm.x { type fakedac formats "S24_3LE S32_BE" rates "44100 176400"
//           xrun_after 4096  gone_after 8192  busy 0 }
// It never runs dry on its own (a slow test machine must not make xruns):
// the play position waits for the writer instead.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FakeDac {
  snd_pcm_ioplug_t io{};
  uint64_t written = 0;  // frames taken since prepare
  uint64_t played = 0;   // frames consumed since prepare
  uint64_t startPlayed = 0;
  uint64_t reported = 0;  // `played` as the last pointer call gave it
  timespec started{};
  bool running = false;
  long xrunAfter = -1;  // frames since open; fires once
  long goneAfter = -1;
  uint64_t total = 0;  // frames consumed since open
  bool gone = false;
};

FakeDac* dac(snd_pcm_ioplug_t* io) { return static_cast<FakeDac*>(io->private_data); }

uint64_t elapsedFrames(const FakeDac* d) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const double s =
      double(now.tv_sec - d->started.tv_sec) + 1e-9 * double(now.tv_nsec - d->started.tv_nsec);
  return static_cast<uint64_t>(s * d->io.rate);
}

int fdStart(snd_pcm_ioplug_t* io) {
  FakeDac* d = dac(io);
  clock_gettime(CLOCK_MONOTONIC, &d->started);
  d->startPlayed = d->played;
  d->running = true;
  return 0;
}

int fdStop(snd_pcm_ioplug_t* io) {
  dac(io)->running = false;
  return 0;
}

// Consumes what the clock says has played, never more than was written.
void advance(FakeDac* d) {
  if (!d->running) return;
  uint64_t target = d->startPlayed + elapsedFrames(d);
  if (target > d->written) target = d->written;
  // The pointer is reported modulo the buffer: a whole buffer consumed
  // between two reports (poll wake-ups advance the clock too) would read as
  // nothing played, and the writer would find no room while poll says there is.
  if (target > d->reported + d->io.buffer_size - 1) target = d->reported + d->io.buffer_size - 1;
  d->total += target - d->played;
  d->played = target;
}

snd_pcm_sframes_t fdPointer(snd_pcm_ioplug_t* io) {
  FakeDac* d = dac(io);
  if (d->gone) return -ENODEV;
  advance(d);
  if (d->goneAfter >= 0 && d->total >= static_cast<uint64_t>(d->goneAfter)) {
    d->gone = true;
    return -ENODEV;
  }
  if (d->xrunAfter >= 0 && d->total >= static_cast<uint64_t>(d->xrunAfter)) {
    d->xrunAfter = -1;
    return -EPIPE;
  }
  d->reported = d->played;
  return static_cast<snd_pcm_sframes_t>(d->played % io->buffer_size);
}

snd_pcm_sframes_t fdTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t*, snd_pcm_uframes_t,
                             snd_pcm_uframes_t size) {
  FakeDac* d = dac(io);
  if (d->gone) return -ENODEV;
  d->written += size;
  return static_cast<snd_pcm_sframes_t>(size);
}

int fdPrepare(snd_pcm_ioplug_t* io) {
  FakeDac* d = dac(io);
  if (d->gone) return -ENODEV;
  d->written = d->played = d->reported = 0;
  d->running = false;
  return 0;
}

int fdHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  // Wake pollers once a period, as a card's interrupt would.
  const long ns = static_cast<long>(1e9 * double(io->period_size) / io->rate);
  itimerspec t{};
  t.it_interval.tv_sec = ns / 1000000000;
  t.it_interval.tv_nsec = ns % 1000000000;
  t.it_value = t.it_interval;
  return timerfd_settime(io->poll_fd, 0, &t, nullptr) == 0 ? 0 : -errno;
}

int fdPollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int, unsigned short* revents) {
  uint64_t ticks;
  if (pfd[0].revents & POLLIN) (void)!read(io->poll_fd, &ticks, sizeof ticks);
  FakeDac* d = dac(io);
  advance(d);  // faults are the pointer's to report
  const uint64_t queued = d->written - d->played;
  *revents = (d->gone || io->buffer_size - queued >= io->period_size) ? POLLOUT : 0;
  return 0;
}

int fdClose(snd_pcm_ioplug_t* io) {
  close(io->poll_fd);
  delete dac(io);
  return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t c{};
  c.start = fdStart;
  c.stop = fdStop;
  c.pointer = fdPointer;
  c.transfer = fdTransfer;
  c.prepare = fdPrepare;
  c.hw_params = fdHwParams;
  c.poll_revents = fdPollRevents;
  c.close = fdClose;
  return c;
}();

std::vector<unsigned> words(const char* text, bool formats) {
  std::vector<unsigned> out;
  std::istringstream in(text ? text : "");
  std::string w;
  while (in >> w) {
    out.push_back(formats ? static_cast<unsigned>(snd_pcm_format_value(w.c_str()))
                          : static_cast<unsigned>(std::strtoul(w.c_str(), nullptr, 10)));
  }
  return out;
}

}  // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(fakedac) {
  (void)root;
  const char* formats = nullptr;
  const char* rates = nullptr;
  long xrunAfter = -1, goneAfter = -1, busy = 0;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(n, &id) < 0) continue;
    const std::string key = id;
    if (key == "comment" || key == "type" || key == "hint") continue;
    if (key == "formats")
      snd_config_get_string(n, &formats);
    else if (key == "rates")
      snd_config_get_string(n, &rates);
    else if (key == "xrun_after")
      snd_config_get_integer(n, &xrunAfter);
    else if (key == "gone_after")
      snd_config_get_integer(n, &goneAfter);
    else if (key == "busy")
      snd_config_get_integer(n, &busy);
    else
      return -EINVAL;
  }
  if (busy) return -EBUSY;
  if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;
  auto* d = new FakeDac;
  d->xrunAfter = xrunAfter;
  d->goneAfter = goneAfter;
  d->io.version = SND_PCM_IOPLUG_VERSION;
  d->io.name = "fake DAC";
  d->io.callback = &kCallbacks;
  d->io.private_data = d;
  d->io.poll_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  d->io.poll_events = POLLIN;
  int err = snd_pcm_ioplug_create(&d->io, name, stream, mode);
  if (err < 0) {
    close(d->io.poll_fd);
    delete d;
    return err;
  }
  const std::vector<unsigned> fmt = words(formats, true);
  const std::vector<unsigned> rate = words(rates, false);
  const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  snd_pcm_ioplug_t* io = &d->io;
  if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, fmt.size(), fmt.data())) <
          0 ||
      (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_RATE, rate.size(), rate.data())) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128, 4 << 20)) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
    snd_pcm_ioplug_delete(io);
    return err;
  }
  *pcmp = io->pcm;
  return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(fakedac)
}
