// Writes the demo file that the editor opens on its first run: about six
// seconds of a short phrase (an arpeggio over a held chord, with a decaying
// bell-like timbre and a little stereo spread) as 1-bit DSD at 2.8224 MHz in
// a DSF file, modulated by the program's own DSD output stage.
//
//   make_demo OUT.dsf
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bitreverse.h"
#include "dsdstage.h"

namespace {

constexpr uint32_t kRate = 2822400;  // DSD64
constexpr double kSeconds = 6.0;
constexpr uint32_t kBlockBytes = 4096;  // DSF block size per channel
constexpr size_t kChunkFrames = 8 * kBlockBytes;
constexpr double kPeak = 0.5;  // about -6 dBFS at the loudest

struct Note {
  double start;  // seconds
  double freq;   // Hz
  double pan;    // 0 left .. 1 right
  double gain;
};

// A major-seventh arpeggio in A, then the chord held.
const Note kNotes[] = {
    {0.00, 220.00, 0.35, 1.0}, {0.40, 277.18, 0.55, 0.8}, {0.80, 329.63, 0.65, 0.8},
    {1.20, 415.30, 0.45, 0.7}, {1.60, 440.00, 0.50, 0.8}, {2.00, 554.37, 0.70, 0.6},
    {2.40, 659.26, 0.30, 0.6}, {2.80, 880.00, 0.60, 0.5}, {3.40, 110.00, 0.50, 0.9},
    {3.40, 220.00, 0.40, 0.5}, {3.40, 329.63, 0.60, 0.5}, {3.40, 415.30, 0.55, 0.4},
    {3.40, 554.37, 0.45, 0.4}};

// One note: a few inharmonic-free partials, each decaying faster than the
// one below it, with a 5 ms attack so nothing clicks.
double voice(const Note& n, double t) {
  const double dt = t - n.start;
  if (dt < 0.0) return 0.0;
  const double attack = dt < 0.005 ? dt / 0.005 : 1.0;
  double v = 0.0;
  const double partials[] = {1.0, 2.0, 3.0, 4.0};
  const double levels[] = {1.0, 0.35, 0.15, 0.06};
  for (int k = 0; k < 4; ++k) {
    const double decay = std::exp(-dt * (1.4 + 1.2 * k));
    v += levels[k] * decay * std::sin(2.0 * M_PI * n.freq * partials[k] * dt);
  }
  return attack * n.gain * v;
}

// Whole-file fade so the stream starts and ends in silence.
double envelope(double t) {
  const double fadeOut = 0.6;
  if (t > kSeconds - fadeOut) return std::max(0.0, (kSeconds - t) / fadeOut);
  return 1.0;
}

void putLe(std::string& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(char((v >> (8 * i)) & 0xFF));
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.dsf\n", argv[0]);
    return 2;
  }
  const uint64_t samples = uint64_t(kSeconds * kRate);
  const uint64_t bytesPerChannel = (samples + 7) / 8;
  const uint64_t blocks = (bytesPerChannel + kBlockBytes - 1) / kBlockBytes;
  const uint64_t payload = blocks * kBlockBytes * 2;

  // Normalise the phrase to the peak level (the chord's sum can exceed 1).
  double loudest = 0.0;
  for (uint64_t i = 0; i < samples; i += 64) {
    const double t = double(i) / kRate;
    double l = 0.0, r = 0.0;
    for (const Note& n : kNotes) {
      const double v = voice(n, t);
      l += v * std::cos(n.pan * M_PI / 2);
      r += v * std::sin(n.pan * M_PI / 2);
    }
    loudest = std::max({loudest, std::fabs(l), std::fabs(r)});
  }
  const double scale = loudest > 0.0 ? kPeak / loudest : 0.0;

  sonvex::dsd::OutputStage stage;
  if (!stage.prepare(kChunkFrames)) {
    std::fprintf(stderr, "make_demo: out of memory\n");
    return 1;
  }
  stage.reset(false, 0);
  std::vector<uint8_t> left(bytesPerChannel, sonvex::dsd::kIdleByte);
  std::vector<uint8_t> right(bytesPerChannel, sonvex::dsd::kIdleByte);
  std::vector<double> pcm(2 * kChunkFrames);
  for (uint64_t at = 0; at < samples; at += kChunkFrames) {
    const size_t frames = size_t(std::min<uint64_t>(kChunkFrames, samples - at));
    for (size_t i = 0; i < frames; ++i) {
      const double t = double(at + i) / kRate;
      double l = 0.0, r = 0.0;
      for (const Note& n : kNotes) {
        const double v = voice(n, t);
        l += v * std::cos(n.pan * M_PI / 2);
        r += v * std::sin(n.pan * M_PI / 2);
      }
      const double e = envelope(t) * scale * sonvex::dsd::kInputFullScale;
      pcm[2 * i] = l * e;
      pcm[2 * i + 1] = r * e;
    }
    if (stage.processBlock(pcm.data(), frames, sonvex::dsd::BlockLevel::constant(1.0), nullptr,
                           nullptr, &left[at / 8], &right[at / 8]) != sonvex::dsd::kStageOk) {
      std::fprintf(stderr, "make_demo: modulator failed\n");
      return 1;
    }
  }

  // DSF: "DSD " chunk, "fmt " chunk, "data" chunk with 4096-byte blocks per
  // channel, least significant bit first; the last block padded with idle.
  std::string header;
  header += "DSD ";
  putLe(header, 28, 8);
  putLe(header, 28 + 52 + 12 + payload, 8);
  putLe(header, 0, 8);  // no metadata chunk
  header += "fmt ";
  putLe(header, 52, 8);
  putLe(header, 1, 4);  // format version
  putLe(header, 0, 4);  // DSD raw
  putLe(header, 2, 4);  // channel type: stereo
  putLe(header, 2, 4);  // channel count
  putLe(header, kRate, 4);
  putLe(header, 1, 4);  // bits per sample
  putLe(header, samples, 8);
  putLe(header, kBlockBytes, 4);
  putLe(header, 0, 4);
  header += "data";
  putLe(header, 12 + payload, 8);

  const std::string tmp = std::string(argv[1]) + ".part";
  std::unique_ptr<FILE, FileCloser> out(std::fopen(tmp.c_str(), "wb"));
  if (!out) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", tmp.c_str());
    return 1;
  }
  bool ok = std::fwrite(header.data(), 1, header.size(), out.get()) == header.size();
  std::vector<uint8_t> block(kBlockBytes);
  for (uint64_t b = 0; ok && b < blocks; ++b) {
    for (const std::vector<uint8_t>* ch : {&left, &right}) {
      for (uint32_t i = 0; i < kBlockBytes; ++i) {
        const uint64_t at = b * kBlockBytes + i;
        block[i] = sonvex::kBitReverse[at < bytesPerChannel ? (*ch)[at] : sonvex::dsd::kIdleByte];
      }
      ok = ok && std::fwrite(block.data(), 1, block.size(), out.get()) == block.size();
    }
  }
  ok = (std::fflush(out.get()) == 0) && ok;
  out.reset();
  // Replace the old demo only with a complete file.
  if (!ok || std::rename(tmp.c_str(), argv[1]) != 0) {
    std::remove(tmp.c_str());
    std::fprintf(stderr, "make_demo: writing %s failed\n", argv[1]);
    return 1;
  }
  return 0;
}
