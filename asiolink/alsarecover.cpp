#include "alsarecover.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace asiolink {

Recovery recoverPcm(snd_pcm_t* pcm, int err) {
  switch (err) {
    case -EAGAIN:
    case -EINTR:
      return Recovery::kRetry;
    case -ENODEV:
    case -ENOTTY:  // what some drivers answer once the card is unbound
      return Recovery::kGone;
    case -ESTRPIPE: {
      const int r = snd_pcm_resume(pcm);
      if (r == -EAGAIN) return Recovery::kRetry;  // still waking up
      if (r == 0) return Recovery::kRecovered;
      if (r == -ENODEV) return Recovery::kGone;
      break;  // no resume support: prepare as after an underrun
    }
    case -EPIPE:
      break;
    default:
      return Recovery::kFailed;
  }
  const int r = snd_pcm_prepare(pcm);
  if (r == 0) return Recovery::kRecovered;
  return r == -ENODEV ? Recovery::kGone : Recovery::kFailed;
}

int waitForRoom(snd_pcm_t* pcm, int timeoutMs) {
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  snd_pcm_uframes_t availMin = 1;
  if (snd_pcm_sw_params_current(pcm, sw) != 0 ||
      snd_pcm_sw_params_get_avail_min(sw, &availMin) != 0)
    availMin = 1;
  constexpr int kMaxFds = 16;
  pollfd fds[kMaxFds];
  const int count = snd_pcm_poll_descriptors(pcm, fds, kMaxFds);
  if (count <= 0) return count < 0 ? count : -EIO;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
  if (avail < 0) return static_cast<int>(avail);
  if (static_cast<snd_pcm_uframes_t>(avail) >= availMin) return 1;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    const int p = poll(fds, static_cast<nfds_t>(count), static_cast<int>(left));
    if (p < 0 && errno != EINTR) return -errno;
    if (p <= 0) continue;
    unsigned short revents = 0;
    const int e =
        snd_pcm_poll_descriptors_revents(pcm, fds, static_cast<unsigned>(count), &revents);
    if (e < 0) return e;
    if (revents & (POLLERR | POLLNVAL)) {
      switch (snd_pcm_state(pcm)) {
        case SND_PCM_STATE_XRUN:
          return -EPIPE;
        case SND_PCM_STATE_SUSPENDED:
          return -ESTRPIPE;
        case SND_PCM_STATE_DISCONNECTED:
          return -ENODEV;
        default:
          return -EIO;
      }
    }
    if (revents & (POLLOUT | POLLIN)) return 1;
  }
}

Recovery writeAll(snd_pcm_t* pcm, const void* data, snd_pcm_uframes_t frames, unsigned frameBytes,
                  int waitMs, unsigned* recovered) {
  const auto* p = static_cast<const unsigned char*>(data);
  // A device that takes nothing for this long has stopped running, whatever
  // its poll says: the caller must hear so, or a stop would wait forever.
  using Clock = std::chrono::steady_clock;
  Clock::time_point progress = Clock::now();
  const auto stalled = [&] { return Clock::now() - progress > std::chrono::milliseconds(waitMs); };
  while (frames > 0) {
    const snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, frames);
    if (n > 0) {
      p += static_cast<size_t>(n) * frameBytes;
      frames -= static_cast<snd_pcm_uframes_t>(n);
      progress = Clock::now();
      continue;
    }
    if (stalled()) return Recovery::kFailed;
    if (n == 0) continue;
    const Recovery r = recoverPcm(pcm, static_cast<int>(n));
    if (r == Recovery::kRetry) {
      const int w = waitForRoom(pcm, waitMs);
      if (w == 0) return Recovery::kFailed;
      if (w == -ESTRPIPE) usleep(10000);  // still suspended: nothing can play meanwhile
      if (w < 0 && w != -EPIPE && w != -ESTRPIPE) {
        const Recovery rw = recoverPcm(pcm, w);
        if (rw == Recovery::kGone || rw == Recovery::kFailed) return rw;
      }
    } else if (r == Recovery::kRecovered) {
      if (recovered) ++*recovered;
    } else {
      return r;
    }
  }
  return Recovery::kRecovered;
}

namespace {
void dropDiagnostic(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

void quietAlsaDiagnostics() { snd_lib_error_set_handler(dropDiagnostic); }

}  // namespace asiolink
