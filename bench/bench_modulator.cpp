// The delta-sigma modulator and the DSD export: quality report, then speed.
//
//   build/bin/bench_modulator                  quality report + benchmarks
//   build/bin/bench_modulator --quality-only   report only
//   build/bin/bench_modulator --benchmark_filter=Modulator
//
// Quality: a 997 Hz sine at -6 dBFS (and other levels) is modulated directly
// and also exported through sonvexert (44.1 kHz/24-bit WAV -> DSF at DSD64,
// 128, 256), decoded back to 88.2 kHz float PCM by the library's own DSD ->
// PCM path and, when ffmpeg is installed, by ffmpeg; each result's SNR over
// 20 Hz..20 kHz (all noise and distortion in the band) and noise by band.
// The same loop equations are also run in long double (no fixed point) and
// as a linear model, to tell the loop's own noise floor from arithmetic.
// Speed: x realtime on one core for the modulator alone (stereo) and for the
// whole export of a 44.1 kHz/24-bit WAV to DSD64 DSF.
//
// Both modulators (standard fixed-point, precision eighth-order) side by
// side: a table of SNR and tone level at -60 .. 0 dBFS and DSD64/128/256,
// each export's bit stream analysed directly and decoded by ffmpeg, and the
// speed benchmarks with the modulator as argument (0 standard, 1 precision).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsdstage.h"
#include "sonvex.h"

using namespace sonvex::dsd;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string tmpDir() {
  static std::string dir;
  if (dir.empty()) {
    char tmpl[] = "/tmp/bench_modulatorXXXXXX";
    const char* d = mkdtemp(tmpl);
    dir = d ? d : "/tmp";
  }
  return dir;
}

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xffff);
  put16(v, x >> 16);
}

// 24-bit stereo WAV of a sine, TPDF-dithered.
bool writeSineWav(const std::string& path, double seconds, double freq, double dbfs) {
  const uint32_t rate = 44100;
  const size_t frames = size_t(seconds * rate);
  std::vector<uint8_t> v;
  v.insert(v.end(), {'R', 'I', 'F', 'F'});
  put32(v, uint32_t(36 + frames * 6));
  v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(v, 16);
  put16(v, 1);
  put16(v, 2);
  put32(v, rate);
  put32(v, rate * 6);
  put16(v, 6);
  put16(v, 24);
  v.insert(v.end(), {'d', 'a', 't', 'a'});
  put32(v, uint32_t(frames * 6));
  const double a = std::pow(10.0, dbfs / 20.0) * 8388607.0;
  uint32_t seed = 1;
  auto rnd = [&] {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
  };
  for (size_t n = 0; n < frames; ++n) {
    const double x = a * std::sin(2 * kPi * freq * double(n) / rate);
    for (int c = 0; c < 2; ++c) {
      // Clamped: at 0 dBFS the dither would wrap a peak to the negative end.
      const int32_t s = int32_t(std::clamp(std::lround(x + rnd() - rnd()), -8388608L, 8388607L));
      v.push_back(uint8_t(s));
      v.push_back(uint8_t(s >> 8));
      v.push_back(uint8_t(s >> 16));
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(v.data(), 1, v.size(), f) == v.size();
  return std::fclose(f) == 0 && ok;
}

// Left channel of a WAV file (16/24-bit integer or 32-bit float).
bool readWavLeft(const std::string& path, std::vector<double>* out, uint32_t* rate) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> v;
  uint8_t buf[65536];
  size_t r;
  while ((r = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + r);
  std::fclose(f);
  auto u32 = [&](size_t o) {
    return uint32_t(v[o] | v[o + 1] << 8 | v[o + 2] << 16 | v[o + 3] << 24);
  };
  auto u16v = [&](size_t o) { return uint16_t(v[o] | v[o + 1] << 8); };
  if (v.size() < 12 || std::memcmp(v.data(), "RIFF", 4) != 0) return false;
  uint16_t tag = 0, channels = 0, bits = 0;
  for (size_t o = 12; o + 8 <= v.size();) {
    const uint32_t size = u32(o + 4);
    if (std::memcmp(&v[o], "fmt ", 4) == 0) {
      tag = u16v(o + 8);
      channels = u16v(o + 10);
      *rate = u32(o + 12);
      bits = u16v(o + 22);
      if (tag == 0xfffe) tag = u16v(o + 32);
    } else if (std::memcmp(&v[o], "data", 4) == 0) {
      const size_t frameBytes = size_t(channels) * bits / 8;
      if (!frameBytes) return false;
      const size_t end = std::min(v.size(), o + 8 + size_t(size));
      out->clear();
      for (size_t p = o + 8; p + frameBytes <= end; p += frameBytes) {
        if (tag == 3 && bits == 32) {
          float x;
          std::memcpy(&x, &v[p], 4);
          out->push_back(x);
        } else if (bits == 24) {
          out->push_back(double(int32_t(u32(p - 1) & 0xffffff00u)) / 2147483648.0);
        } else if (bits == 16) {
          out->push_back(double(int16_t(u16v(p))) / 32768.0);
        } else {
          return false;
        }
      }
      return true;
    }
    o += 8 + size + (size & 1);
  }
  return false;
}

void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2 * kPi / double(len);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t j = 0; j < len / 2; ++j) {
        const auto u = a[i + j], v = a[i + j + len / 2] * w;
        a[i + j] = u + v;
        a[i + j + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

double besselI0(double x) {
  double s = 1, t = 1;
  for (int k = 1; k < 300; ++k) {
    t *= (x / (2 * k)) * (x / (2 * k));
    s += t;
    if (t < 1e-18 * s) break;
  }
  return s;
}

struct Analysis {
  double snr = 0;            // dB, signal against everything else in 20 Hz..20 kHz
  double signalDbfs = 0;     // tone level against PCM full scale
  std::vector<double> band;  // noise per band, dBFS
};

const std::vector<double> kEdges = {20, 1000, 5000, 10000, 20000, 40000, 80000, 160000, 640000};

// Spectrum of the last 2^k samples of x (Kaiser window, beta 20); fullScale =
// the amplitude of a 0 dBFS sine in x's units.
Analysis analyse(const std::vector<double>& x, double rate, double freq, double fullScale,
                 size_t maxN = size_t(1) << 24) {
  size_t n = 1;
  while (2 * n <= x.size() && 2 * n <= maxN) n *= 2;
  const size_t first = x.size() - n;
  std::vector<std::complex<double>> a(n);
  const double i0 = besselI0(20.0);
  double w2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = 2.0 * double(i) / double(n - 1) - 1.0;
    const double w = besselI0(20.0 * std::sqrt(std::max(0.0, 1 - t * t))) / i0;
    w2 += w * w;
    a[i] = x[first + i] * w;
  }
  fft(a);
  const double df = rate / double(n);
  // Power of a 0 dBFS sine in the positive bins: N * A^2 * sum(w^2) / 4.
  const double ref = double(n) * fullScale * fullScale * w2 / 4;
  const size_t centre = size_t(freq / df + 0.5), guard = 40;
  Analysis r;
  double sig = 0, inBand = 0;
  for (size_t k = centre - guard; k <= centre + guard; ++k) sig += std::norm(a[k]);
  for (size_t b = 0; b + 1 < kEdges.size(); ++b) {
    double s = 0;
    const size_t k0 = size_t(kEdges[b] / df), k1 = std::min(size_t(kEdges[b + 1] / df), n / 2);
    for (size_t k = k0; k < k1; ++k)
      if (k + guard < centre || k > centre + guard) s += std::norm(a[k]);
    if (kEdges[b + 1] <= 20000) inBand += s;
    r.band.push_back(k0 < k1 ? 10 * std::log10(s / ref) : NAN);
  }
  r.snr = 10 * std::log10(sig / inBand);
  r.signalDbfs = 10 * std::log10(sig / ref);
  return r;
}

void printAnalysis(const char* what, const Analysis& a) {
  std::printf("%-34s tone %6.2f dBFS  SNR %6.1f dB  noise dBFS by band:", what, a.signalDbfs,
              a.snr);
  for (double b : a.band) std::printf(" %7.1f", b);
  std::printf("\n");
}

std::vector<double> bitsToDouble(const std::vector<uint8_t>& bytes) {
  std::vector<double> x(bytes.size() * 8);
  for (size_t n = 0; n < x.size(); ++n) x[n] = (bytes[n / 8] >> (7 - n % 8)) & 1 ? 1.0 : -1.0;
  return x;
}

std::vector<uint8_t> modulateSine(double rate, double freq, double dbfs, size_t frames,
                                  uint64_t* trips) {
  Modulator m;
  const size_t block = 65536;
  std::vector<double> pcm(2 * block);
  std::vector<uint8_t> l(frames / 8), r(block / 8);
  const double a = std::pow(10.0, dbfs / 20.0) * kInputFullScale;
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  for (size_t at = 0; at < frames; at += block) {
    const size_t n = std::min(block, frames - at);
    for (size_t i = 0; i < n; ++i) {
      pcm[2 * i] = pcm[2 * i + 1] = a * std::sin(2 * kPi * freq * double(at + i) / rate);
    }
    m.run(pcm.data(), n, l.data() + at / 8, r.data(), t, none);
  }
  *trips = m.guardTrips();
  return l;
}

// The same loop equations in long double, without the integer word: no
// truncation of the input, no arithmetic shifts, no wrap-around. Its SNR
// tells the loop's own noise shaping apart from the fixed-point details.
std::vector<uint8_t> modulateSineFloat(double rate, double freq, double dbfs, size_t frames) {
  const long double unit = 36028797018963968.0L;  // 2^55, the feedback level
  const long double a = std::pow(10.0L, dbfs / 20.0L) * unit / 2;
  long double s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, q = 0;
  std::vector<uint8_t> out(frames / 8);
  for (size_t n = 0; n < frames; ++n) {
    const bool bit = q >= 0;
    const long double v = (s4 >= 0 ? 1 : -1) * (std::fabs(s4) > 3 * unit ? 3 : 1) * unit;
    const long double b = bit ? unit : -unit;
    const long double u = a * std::sin(2 * kPi * freq * double(n) / rate);
    const long double n0 = s0 + u - v, n1 = s1 + s0 / 16 - v, n2 = s2 + s1 / 8 - v,
                      n3 = s3 + s2 / 4 - v, n4 = s4 + s3 / 2 - v;
    s0 = n0, s1 = n1, s2 = n2, s3 = n3, s4 = n4;
    q += v - b;
    if (bit) out[n / 8] |= uint8_t(0x80 >> (n % 8));
  }
  return out;
}

// In-band noise of the loop's linear model: the quantiser as a gain k plus
// white error of the power the run saw, the error loop Q ignored. Returns
// the noise transfer |NTF|^2 integrated over 20 Hz..20 kHz (per unit error
// power), for the k that the modulated run settles to.
double linearNtfInBand(double rate, double k) {
  double sum = 0;
  const int steps = 20000;
  for (int i = 0; i < steps; ++i) {
    const double f = 20 + (20000.0 - 20) * (i + 0.5) / steps;
    const std::complex<double> z = std::polar(1.0, 2 * kPi * f / rate);
    const std::complex<double> d = 1.0 / (z - 1.0);  // an integrator with one delay
    // S4 = H(z) (u - v): the distributed feedback of v into every stage.
    const std::complex<double> g4 = d, g3 = d * (0.5 * g4), g2 = d * (0.25 * g3),
                               g1 = d * (0.125 * g2), g0 = d * (0.0625 * g1);
    // S4 = -v (g4 + g3 + g2 + g1) + g0 * (u - v): loop filter from v to S4.
    const std::complex<double> loop = g4 + g3 + g2 + g1 + g0;
    const std::complex<double> ntf = 1.0 / (1.0 + k * loop);
    sum += std::norm(ntf) * (20000.0 - 20) / steps;
  }
  return sum * 2 / rate;  // one-sided band over the Nyquist range of a white error
}

int convert(const std::string& src, const std::string& dst, int rateIndex, int fileType, int bits,
            uint8_t levelActive = 0, int modulator = kDsdModulatorStandard) {
  if (setDsdExportModulator(modulator) != 0) return kConvertErrModulator;
  ConvertFormat fmt{};
  fmt.rateIndex = rateIndex;
  fmt.fileType = fileType;
  fmt.bitsPerSample = bits;
  fmt.channels = 2;
  ChannelMatrix matrix{{1, 0, 0, 1}};
  uint8_t master = 0;
  EqSettings eq{};
  eq.masterOn = &master;
  ConvertRange range{};
  range.statusWord = kConvertExportMode;
  range.endFrame = INT64_MAX;
  range.eq = &eq;
  range.levelActive = levelActive;
  LevelPoint env[10];
  for (auto& p : env) p = LevelPoint{-1, 0, 0, 0, 0};
  env[0] = LevelPoint{0, 1.0, 0, 0, 0};
  env[1] = LevelPoint{INT64_MAX, 1.0, 0, 0, 0};
  int32_t enabled[1] = {1};
  const std::u16string s = u16(src), d = u16(dst);
  const SonvexChar* sources[1] = {s.c_str()};
  return sonvexert(d.c_str(), sources, nullptr, &fmt, &matrix, enabled, &range, nullptr, nullptr,
                   env);
}

const char* modulatorName(int m) { return m == kDsdModulatorPrecision ? "precision" : "standard"; }

// The DSD bits of a DSF file's left channel as +-1 (blocks of 4096 bytes
// per channel, least significant bit first).
bool readDsfLeft(const std::string& path, std::vector<double>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> v;
  uint8_t buf[65536];
  size_t r;
  while ((r = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + r);
  std::fclose(f);
  if (v.size() < 92 || std::memcmp(v.data(), "DSD ", 4) != 0) return false;
  auto u32 = [&](size_t o) {
    return uint32_t(v[o] | v[o + 1] << 8 | v[o + 2] << 16 | uint32_t(v[o + 3]) << 24);
  };
  const uint32_t channels = u32(28 + 24), blockSize = u32(28 + 44);
  const uint64_t samples = u32(28 + 36) | uint64_t(u32(28 + 40)) << 32;
  const size_t data = 28 + 52 + 12;
  out->clear();
  out->reserve(samples);
  for (size_t block = data; block + blockSize * channels <= v.size() && out->size() < samples;
       block += size_t(blockSize) * channels)
    for (uint32_t i = 0; i < blockSize && out->size() < samples; ++i)
      for (int b = 0; b < 8 && out->size() < samples; ++b)
        out->push_back((v[block + i] >> b) & 1 ? 1.0 : -1.0);
  return !out->empty();
}

// The output stage alone on a double-precision sine (no 24-bit source
// floor): the modulator's own noise.
Analysis direct(int modulator, double rate, double dbfs) {
  OutputStage st;
  const size_t block = 65536, frames = (size_t(1) << 22) + (size_t(1) << 18);
  st.prepare(block);
  st.setModulator(modulator ? ModulatorKind::Precision : ModulatorKind::Standard, uint32_t(rate));
  st.reset(false, 0);
  std::vector<double> pcm(2 * block);
  std::vector<uint8_t> l(frames / 8), r(block / 8);
  const double a = std::pow(10.0, dbfs / 20.0) * kInputFullScale;
  for (size_t at = 0; at < frames; at += block) {
    for (size_t i = 0; i < block; ++i)
      pcm[2 * i] = pcm[2 * i + 1] = a * std::sin(2 * kPi * 997 * double(at + i) / rate);
    st.processBlock(pcm.data(), block, BlockLevel::constant(1.0), nullptr, nullptr,
                    l.data() + at / 8, r.data());
  }
  return analyse(bitsToDouble(l), rate, 997, 0.5, size_t(1) << 22);
}

// SNR and tone level for both modulators, three rates and five levels: the
// modulator alone on a double sine, and a 44.1 kHz/24-bit WAV -> DSF export
// (whose source has a dithered 24-bit floor near -141 dBFS in the band),
// its bits analysed directly (Kaiser-windowed FFT of the last 2^22 samples)
// and decoded by ffmpeg.
void modulatorTable() {
  const bool haveFfmpeg = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
  std::printf("-- Modulator table: 997 Hz, SNR over 20 Hz..20 kHz, 3 s exports --\n");
  std::printf("%-10s %-7s %6s | %10s %7s | %10s %7s | %10s %7s\n", "modulator", "rate", "dBFS",
              "alone SNR", "level", "export SNR", "level", "ffmpeg SNR", "level");
  const double levels[] = {-60, -20, -6, -1, 0};
  for (int m : {kDsdModulatorStandard, kDsdModulatorPrecision})
    for (int code : {kRateDsd64, kRateDsd128, kRateDsd256})
      for (double dbfs : levels) {
        const std::string wav = tmpDir() + "/t.wav", dsf = tmpDir() + "/t.dsf",
                          ff = tmpDir() + "/tff.wav";
        const double rate = sonvexRateForCode(code);
        if (!writeSineWav(wav, 3.0, 997, dbfs) ||
            convert(wav, dsf, code, kFileTypeDsf, 1, 0, m) != 0) {
          std::printf("%-10s DSD%-4d %6.0f | export failed\n", modulatorName(m), int(rate / 44100),
                      dbfs);
          continue;
        }
        std::vector<double> x;
        Analysis bits{}, dec{};
        bool okBits = readDsfLeft(dsf, &x);
        if (okBits) bits = analyse(x, rate, 997, 0.5, size_t(1) << 22);
        bool okDec = false;
        if (haveFfmpeg) {
          // At the decoder's own rate (rate / 8): resampling with -ar clipped
          // the negative half-waves of a 0 dBFS tone at -0.5 here.
          const std::string cmd =
              "ffmpeg -v error -y -i " + dsf + " -c:a pcm_f32le -f wav " + ff + " > /dev/null 2>&1";
          uint32_t r = 0;
          okDec = std::system(cmd.c_str()) == 0 && readWavLeft(ff, &x, &r);
          // ffmpeg decodes 100 % modulation to full scale: PCM full scale is 0.5.
          if (okDec) dec = analyse(x, r, 997, 0.5, size_t(1) << 22);
        }
        const Analysis alone = direct(m, rate, dbfs);
        std::printf("%-10s DSD%-4d %6.0f | %10.1f %7.2f | %10.1f %7.2f | ", modulatorName(m),
                    int(rate / 44100), dbfs, alone.snr, alone.signalDbfs, okBits ? bits.snr : NAN,
                    okBits ? bits.signalDbfs : NAN);
        if (okDec)
          std::printf("%10.1f %7.2f\n", dec.snr, dec.signalDbfs);
        else
          std::printf("%10s %7s\n", "-", "-");
        std::fflush(stdout);
      }
  if (!haveFfmpeg) std::printf("(ffmpeg not installed: independent decoding skipped)\n");
  (void)setDsdExportModulator(kDsdModulatorStandard);
  std::printf("\n");
}

void qualityReport() {
  std::printf("Noise bands (Hz):");
  for (size_t b = 0; b + 1 < kEdges.size(); ++b) std::printf(" %g-%g", kEdges[b], kEdges[b + 1]);
  std::printf("\n\n-- Modulator alone, bit stream spectrum (997 Hz) --\n");
  for (int mult : {1, 2, 4}) {
    const double rate = 2822400.0 * mult;
    uint64_t trips = 0;
    const auto bits = modulateSine(rate, 997, -6.0, size_t(1) << (21 + mult / 2), &trips);
    char what[64];
    std::snprintf(what, sizeof what, "DSD%d -6 dBFS (trips %llu)", 64 * mult,
                  (unsigned long long)trips);
    // PCM full scale is half the +-1 stream.
    printAnalysis(what, analyse(bitsToDouble(bits), rate, 997, 0.5));
  }
  for (int mult : {1, 2, 4}) {
    const double rate = 2822400.0 * mult;
    const auto bits = modulateSineFloat(rate, 997, -6.0, size_t(1) << (21 + mult / 2));
    char what[64];
    std::snprintf(what, sizeof what, "DSD%d -6 dBFS, long double loop", 64 * mult);
    printAnalysis(what, analyse(bitsToDouble(bits), rate, 997, 0.5));
  }
  std::printf("Linear model of the loop, in-band |NTF|^2 over 20 Hz..20 kHz (DSD64):");
  for (double k : {0.25, 0.5, 1.0, 2.0})
    std::printf("  k=%.2f %.1f dB", k, 10 * std::log10(linearNtfInBand(2822400.0, k)));
  std::printf("\n");
  for (double dbfs : {-60.0, -20.0, 0.0, 3.0, 4.0, 6.0}) {
    uint64_t trips = 0;
    const auto bits = modulateSine(2822400, 997, dbfs, size_t(1) << 21, &trips);
    char what[64];
    std::snprintf(what, sizeof what, "DSD64 %+.0f dBFS (trips %llu)", dbfs,
                  (unsigned long long)trips);
    printAnalysis(what, analyse(bitsToDouble(bits), 2822400, 997, 0.5));
  }

  std::printf("\n-- Export 44.1k/24 WAV -> DSF, decoded back to 88.2 kHz float --\n");
  const std::string wav = tmpDir() + "/sine.wav";
  if (!writeSineWav(wav, 5.0, 997, -6.0)) {
    std::printf("cannot write %s\n", wav.c_str());
    return;
  }
  const bool haveFfmpeg = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
  for (int code : {kRateDsd64, kRateDsd128, kRateDsd256}) {
    const std::string dsf = tmpDir() + "/sine" + std::to_string(code) + ".dsf";
    const std::string back = tmpDir() + "/back" + std::to_string(code) + ".wav";
    const int rc = convert(wav, dsf, code, kFileTypeDsf, 1);
    const int rate = int(sonvexRateForCode(code));
    char what[64];
    if (rc != 0) {
      std::printf("DSD%d export failed: %d\n", rate / 44100, rc);
      continue;
    }
    const int rc2 = convert(dsf, back, kRate88200, kFileTypeWav, 32);
    std::vector<double> x;
    uint32_t r = 0;
    std::snprintf(what, sizeof what, "DSD%d via library decimation", rate / 44100);
    if (rc2 == 0 && readWavLeft(back, &x, &r))
      printAnalysis(what, analyse(x, r, 997, 1.0));
    else
      std::printf("%s: failed (%d)\n", what, rc2);
    if (haveFfmpeg) {
      const std::string ff = tmpDir() + "/ff" + std::to_string(code) + ".wav";
      const std::string cmd = "ffmpeg -v error -y -i " + dsf + " -ar 88200 -c:a pcm_f32le -f wav " +
                              ff + " > /dev/null 2>&1";
      std::snprintf(what, sizeof what, "DSD%d via ffmpeg", rate / 44100);
      // ffmpeg's DSD decoder outputs at half the level of the library's
      // (full scale = 100 % modulation), hence the reference of 0.5.
      if (std::system(cmd.c_str()) == 0 && readWavLeft(ff, &x, &r))
        printAnalysis(what, analyse(x, r, 997, 0.5));
      else
        std::printf("%s: ffmpeg failed\n", what);
    }
  }
  if (!haveFfmpeg) std::printf("(ffmpeg not installed: independent decoding skipped)\n");
  std::printf("\n");
}

// Modulator alone, stereo, x realtime on one core.
// Arguments: rate multiple (1 = DSD64), modulator (0 standard, 1 precision).
void BM_Modulator(benchmark::State& state) {
  const double rate = 2822400.0 * double(state.range(0));
  const size_t block = 65536;
  std::vector<double> pcm(2 * block);
  for (size_t i = 0; i < block; ++i)
    pcm[2 * i] = pcm[2 * i + 1] =
        0.5 * kInputFullScale * std::sin(2 * kPi * 997 * double(i) / rate);
  std::vector<uint8_t> l(block / 8), r(block / 8);
  OutputStage st;
  st.setModulator(state.range(1) ? ModulatorKind::Precision : ModulatorKind::Standard,
                  uint32_t(rate));
  st.reset(false, 0);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  for (auto _ : state) {
    st.modulate(pcm.data(), block, l.data(), r.data(), t, none);
    benchmark::DoNotOptimize(l.data());
    benchmark::DoNotOptimize(r.data());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      double(state.iterations()) * double(block) / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Modulator)
    ->ArgsProduct({{1, 2, 4}, {0, 1}})
    ->ArgNames({"dsd", "precision"})
    ->Unit(benchmark::kMillisecond);

// The output stage in export form at DSD64: re-modulation plus the splice
// search against the source (level 1.0, the worst case for the search).
void BM_StageRemodulateAndSplice(benchmark::State& state) {
  const size_t block = 188160;
  std::vector<double> pcm(2 * block);
  std::vector<uint8_t> src(block / 8), l(block / 8), r(block / 8);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(0x96 ^ (i * 131));
  for (size_t i = 0; i < block; ++i)
    pcm[2 * i] = pcm[2 * i + 1] =
        0.4 * kInputFullScale * std::sin(2 * kPi * 997 * double(i) / 2822400);
  OutputStage st;
  st.prepare(block);
  st.reset(false, 0);
  for (auto _ : state) {
    st.channel(0).wantDirect = st.channel(1).wantDirect = 0;
    st.processBlock(pcm.data(), block, BlockLevel::constant(0.5), src.data(), src.data(), l.data(),
                    r.data());
    benchmark::DoNotOptimize(l.data());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      double(state.iterations()) * double(block) / 2822400.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StageRemodulateAndSplice)->Unit(benchmark::kMillisecond);

// Playback re-modulation of a DSD source at its own rate (samples at
// +-2^55 from its bits, as the engine hands them over) in the engine's form:
// modulate() then splice() per channel, the search for the return to the
// source running. Arguments: rate multiple (1 = DSD64, 4 = DSD256),
// modulator (0 standard, 1 precision).
void BM_PlaybackRemodulate(benchmark::State& state) {
  const double rate = 2822400.0 * double(state.range(0));
  const size_t block = 65536;
  std::vector<double> pcm(2 * block);
  std::vector<uint8_t> src(block / 8), l(block / 8), r(block / 8);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(0x96 ^ (i * 131));
  for (size_t i = 0; i < block; ++i)
    pcm[2 * i] = pcm[2 * i + 1] = (src[i / 8] >> (7 - i % 8) & 1 ? 1.8 : -1.8) * kInputFullScale;
  OutputStage st;
  st.prepare(block);
  st.setModulator(state.range(1) ? ModulatorKind::Precision : ModulatorKind::Standard,
                  uint32_t(rate));
  st.reset(true, 0);
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  for (auto _ : state) {
    st.modulate(pcm.data(), block, l.data(), r.data(), t, none);
    for (int c = 0; c < 2; ++c) {
      st.channel(c).wantDirect = 1;
      st.channel(c).isDirect = 0;
      benchmark::DoNotOptimize(st.splice(c, c ? r.data() : l.data(), src.data(), block, true));
    }
  }
  state.counters["x_realtime"] = benchmark::Counter(
      double(state.iterations()) * double(block) / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlaybackRemodulate)
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->ArgNames({"dsd", "precision"})
    ->Unit(benchmark::kMillisecond);

// Whole export: 60 s of 44.1 kHz/24-bit stereo WAV to a DSD64 DSF file;
// argument: the modulator (0 standard, 1 precision).
void BM_ExportWav44kToDsf64(benchmark::State& state) {
  const std::string wav = tmpDir() + "/long.wav", dsf = tmpDir() + "/long.dsf";
  const double seconds = 60.0;
  if (!writeSineWav(wav, seconds, 997, -6.0)) {
    state.SkipWithError("cannot write the source");
    return;
  }
  for (auto _ : state) {
    if (convert(wav, dsf, kRateDsd64, kFileTypeDsf, 1, 0, int(state.range(0))) != 0) {
      state.SkipWithError("export failed");
      break;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(double(state.iterations()) * seconds, benchmark::Counter::kIsRate);
  std::remove(dsf.c_str());
}
// x_realtime uses CPU time (one core), as the machine may be shared.
BENCHMARK(BM_ExportWav44kToDsf64)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("precision")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  bool qualityOnly = false, quality = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quality-only") == 0) qualityOnly = true;
    if (std::strncmp(argv[i], "--benchmark_filter", 18) == 0) quality = false;
  }
  if (quality || qualityOnly) {
    modulatorTable();
    qualityReport();
  }
  if (qualityOnly) return 0;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
