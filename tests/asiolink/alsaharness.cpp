#include "alsaharness.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace alsatest {

Content gContent;

namespace {

// Removed with everything in it when the test ends.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/alsatest-XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

const std::string& dir() {
  static const TempDir d;
  return d.path;
}

std::string filePcm(const std::string& name, const std::string& slave) {
  return "pcm." + name + " { type file format raw file \"" + capture(name) + "\" slave.pcm " +
         slave + " }\n";
}

std::string dac(const std::string& formats, const std::string& rates,
                const std::string& more = "") {
  return "{ type fakedac formats \"" + formats + "\" rates \"" + rates + "\" " + more + " }";
}

}  // namespace

std::string capture(const std::string& pcm) { return dir() + "/" + pcm + ".raw"; }

void installConfig() {
  static const bool done = [] {
    std::string c = "pcm_type.fakedac { lib \"" FAKEDAC_PATH "\" }\n";
    c += filePcm("nullcap", "{ type null }");
    c += filePcm("dac_s24", dac("S24_3LE S32_BE", "44100 48000"));
    c += filePcm("dac_s24in32", dac("S24_LE S16_LE", "44100"));
    c += filePcm("dac_dop", dac("S32_LE", "176400 352800 44100"));
    c += filePcm("dac_u8", dac("DSD_U8", "352800"));
    c += filePcm("dac_u16le", dac("DSD_U16_LE", "176400"));
    c += filePcm("dac_u16be", dac("DSD_U16_BE", "176400"));
    c += filePcm("dac_u32le", dac("DSD_U32_LE", "88200"));
    c += filePcm("dac_u32be", dac("DSD_U32_BE", "88200"));
    c += filePcm("dac_xrun", dac("S32_LE", "44100", "xrun_after 4410"));
    c += filePcm("dac_gone", dac("S32_LE", "44100", "gone_after 4410"));
    c += "pcm.dac_busy " + dac("S32_LE", "44100", "busy 1") + "\n";
    c += filePcm("dac_float", dac("FLOAT_LE", "48000"));
    const std::string path = dir() + "/asound.conf";
    std::ofstream(path) << c;
    setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    return true;
  }();
  (void)done;
}

std::vector<uint8_t> readCapture(const std::string& pcm) {
  std::ifstream in(capture(pcm), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void startContent(long pcmFrames, long dsdBytes) {
  gContent.rendered = 0;
  gContent.sampleType = -1;
  gContent.pcmFrames = pcmFrames;
  gContent.dsdBytes = dsdBytes;
}

void renderBlock(int, int sampleType, int frames, void* left, void* right) {
  gContent.sampleType = sampleType;
  const long done = gContent.rendered.load();
  if (sampleType == 33) {
    auto* l = static_cast<uint8_t*>(left);
    auto* r = static_cast<uint8_t*>(right);
    const long bytes = frames / 8;
    for (long i = 0; i < bytes; ++i) {
      const long k = done + i;
      const bool content = k < gContent.dsdBytes;
      l[i] = content ? dsdLeft(k) : 0x96;
      r[i] = content ? dsdRight(k) : 0x96;
    }
    gContent.rendered = done + bytes;
    return;
  }
  auto* l = static_cast<int32_t*>(left);
  auto* r = static_cast<int32_t*>(right);
  for (long i = 0; i < frames; ++i) {
    const long n = done + i;
    const int32_t v = n < gContent.pcmFrames ? static_cast<int32_t>((n + 1) << 8) : 0;
    l[i] = v;
    r[i] = -v;
  }
  gContent.rendered = done + frames;
}

bool waitRendered(long amount) {
  for (int i = 0; i < 5000 && gContent.rendered.load() < amount; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return gContent.rendered.load() >= amount;
}

std::vector<int32_t> leftSamples(const std::vector<uint8_t>& b, int bytes, bool bigEndian,
                                 int shift) {
  std::vector<int32_t> out;
  for (size_t f = 0; f + 2 * bytes <= b.size(); f += 2 * bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= uint32_t{b[f + (bigEndian ? bytes - 1 - i : i)]} << (8 * i);
    out.push_back(static_cast<int32_t>(v << shift));
  }
  return out;
}

void expectPcmContent(const std::vector<int32_t>& left, long frames, long leadIn, int32_t step) {
  size_t s = 0;
  while (s < left.size() && left[s] == 0) ++s;
  EXPECT_GE(static_cast<long>(s), leadIn);
  ASSERT_GE(left.size(), s + frames);
  for (long n = 0; n < frames; ++n) ASSERT_EQ(left[s + n], (n + 1) * step) << "frame " << n;
  for (size_t i = s + frames; i < left.size(); ++i) ASSERT_EQ(left[i], 0) << "after content " << i;
}

}  // namespace alsatest
