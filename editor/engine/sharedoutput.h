// Shared output: plays through whatever the desktop plays through (ALSA's
// `default`, which reaches the sound server, or a card's `sysdefault` and
// `plughw`), in the mix format the PCM takes, and asks the renderer for
// exactly as many interleaved stereo frames as the device has room for.
// Qt-free; the program may run `run()` from its own thread or call start().
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "waveformat.h"

typedef struct _snd_pcm snd_pcm_t;

class SharedOutput {
 public:
  // The engine's interleaved renderer; format code 1 float32, 2 int16, 0 other.
  typedef void (*Render)(int formatCode, const WaveFormat* format, int frames, void* buffer);
  typedef void (*RenderWithContext)(void* ctx, int formatCode, const WaveFormat* format, int frames,
                                    void* buffer);
  typedef void (*Finished)(void* ctx);

  enum Result {
    kOk = 0,
    kNoDevice = -2,
    kInUse = -16,  // the device is held by another program
    kOpenFailed = -4,
    kNoFormat = -5,  // neither float32, S16 nor S32 in stereo
    kThreadFailed = -7,
  };
  static constexpr int kMaxDevices = 100;
  static constexpr unsigned kBufferUs = 100000;

  SharedOutput() = default;
  ~SharedOutput();
  SharedOutput(const SharedOutput&) = delete;
  SharedOutput& operator=(const SharedOutput&) = delete;

  void setRender(Render render);
  void setRender(RenderWithContext render, void* ctx);
  // Called from the output thread when run() has stopped the stream.
  void setFinishedCallback(Finished finished, void* ctx);
  // An extra PCM listed after the desktop's endpoints (a name the user typed).
  void addEndpoint(const std::string& pcmName);

  // Lists the endpoints and clears a pending stop request; returns the count.
  int enumerateDevices();
  const std::vector<std::string>& deviceNames() const { return m_names; }
  const std::vector<std::string>& deviceIds() const { return m_ids; }

  // Opens endpoint `index` at the rate it takes nearest to `rate` and primes
  // its buffer with silence.
  [[nodiscard]] int openDevice(int index, unsigned rate = 48000);
  // The message the program shows for a failed openDevice.
  static std::string failureText(int result);
  void requestStop() { m_stopRequested.store(true); }
  // Runs run() on a thread of its own at real-time priority when allowed.
  [[nodiscard]] bool start();
  bool isRunning() const { return m_running.load(); }
  void wait();
  void closeDevice();
  void run();

  int bufferFrames() const { return m_bufferFrames; }
  int formatCode() const { return m_formatCode; }
  int64_t bufferDurationUs() const { return m_bufferDurationUs; }
  const WaveFormat& mixFormat() const { return m_format; }
  bool finished() const { return m_finished.load(); }
  unsigned recoveredUnderruns() const { return m_recovered.load(); }

 private:
  void render(int frames);

  Render m_render = nullptr;
  RenderWithContext m_renderCtx = nullptr;
  void* m_ctx = nullptr;
  Finished m_onFinished = nullptr;
  void* m_finishedCtx = nullptr;
  std::vector<std::string> m_extra;
  std::vector<std::string> m_names;
  std::vector<std::string> m_ids;
  snd_pcm_t* m_pcm = nullptr;
  WaveFormat m_format{};
  int m_formatCode = 0;
  int m_bufferFrames = 0;
  int64_t m_bufferDurationUs = 0;
  std::vector<uint8_t> m_buffer;
  std::thread m_thread;
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_running{false};
  std::atomic<unsigned> m_recovered{0};
};
