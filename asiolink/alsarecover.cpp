#include "alsarecover.h"

#include <unistd.h>

#include <cerrno>

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

Recovery writeAll(snd_pcm_t* pcm, const void* data, snd_pcm_uframes_t frames, unsigned frameBytes,
                  int waitMs, unsigned* recovered) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (frames > 0) {
    const snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, frames);
    if (n >= 0) {
      p += static_cast<size_t>(n) * frameBytes;
      frames -= static_cast<snd_pcm_uframes_t>(n);
      continue;
    }
    const Recovery r = recoverPcm(pcm, static_cast<int>(n));
    if (r == Recovery::kRetry) {
      // A full device that frees no space for this long has stopped running.
      const int w = snd_pcm_wait(pcm, waitMs);
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
