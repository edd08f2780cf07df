// The one answer to a failed ALSA call, shared by the direct and the shared
// output so both treat underruns, suspends and lost devices alike.
#pragma once

#include <alsa/asoundlib.h>

namespace asiolink {

enum class Recovery {
  kRetry,      // interrupted or not ready: try the same call again
  kRecovered,  // the stream was prepared again; the next write restarts it
  kGone,       // the device disappeared (unplugged, driver unloaded)
  kFailed,     // anything else; the stream cannot go on
};

// `err` is the negative result of a PCM call.
[[nodiscard]] Recovery recoverPcm(snd_pcm_t* pcm, int err);

// snd_pcm_wait with a bound on the whole wait: > 0 when the device says it
// has room, 0 once `timeoutMs` passed, or the stream's negative error.
// snd_pcm_wait itself keeps waiting for as long as a device wakes its
// pollers without ever freeing room, and a stop would then never return.
[[nodiscard]] int waitForRoom(snd_pcm_t* pcm, int timeoutMs);

// Writes every frame, waiting while the device is full and recovering on the
// way; `recovered` counts underruns and suspends survived. Returns kRecovered
// when all frames went out, else the reason they did not.
[[nodiscard]] Recovery writeAll(snd_pcm_t* pcm, const void* data, snd_pcm_uframes_t frames,
                                unsigned frameBytes, int waitMs, unsigned* recovered);

// Stops ALSA printing its own diagnostics on stderr for the whole process:
// without a sound card it would bury the one line the program says itself.
void quietAlsaDiagnostics();

}  // namespace asiolink
