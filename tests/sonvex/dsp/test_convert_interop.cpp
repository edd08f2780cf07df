// Real-world files through sonvexert (skipped when the shared test data are
// absent): bit-exact DSD copies, a decoded DSD tone, extensible WAVs, and
// every file converting or failing with one of the documented codes.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "convert_harness.h"
#include "diagcapture.h"
#include "rawfiles.h"
#include "sonvex.h"
#include "testdata.h"

using convtest::Job;
using convtest::recorder;
using testsupport::tempPath;

namespace {

std::string data(const std::string& rel) { return testsupport::testdataDir() + "/" + rel; }

// DSDIFF audio de-interleaved per channel.
void dffChannels(const std::string& path, std::vector<uint8_t>* l, std::vector<uint8_t>* r) {
  AudioFileInfo info{};
  const std::vector<uint8_t> a = convtest::audioBytes(path, &info);
  l->clear();
  r->clear();
  for (size_t i = 0; i + info.channels <= a.size(); i += info.channels) {
    l->push_back(a[i]);
    if (info.channels > 1) r->push_back(a[i + 1]);
  }
}

}  // namespace

class ConvertInterop : public testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::testdataAvailable()) GTEST_SKIP() << "no shared test data";
  }
};

TEST_F(ConvertInterop, DsdCopiesOfRealFilesAreBitExact) {
  const std::string dff = data("dff/dsd2dxd-1kHz_stereo_i.dff");
  std::vector<uint8_t> l, r;
  dffChannels(dff, &l, &r);
  ASSERT_GT(l.size(), 10000u);
  const std::string out = tempPath("real", ".dsf");
  Job job(kRateDsd64, kFileTypeDsf, 1);
  ASSERT_EQ(job.run(dff, out), 0);
  std::vector<uint8_t> ol, orr;
  convtest::dsfChannels(out, &ol, &orr);
  EXPECT_EQ(ol, l);
  EXPECT_EQ(orr, r);

  // Mono DSD128 DSF to DSDIFF at its rate.
  const std::string dsf = data("dsf/dsd2dxd-1kHz_mono_128.dsf");
  std::vector<uint8_t> sl, sr;
  convtest::dsfChannels(dsf, &sl, &sr);
  ASSERT_FALSE(sl.empty());
  const std::string out2 = tempPath("real", ".dff");
  Job mono(kRateDsd128, kFileTypeDsdiff, 1);
  mono.format.channels = 1;
  ASSERT_EQ(mono.run(dsf, out2), 0);
  std::vector<uint8_t> dl, dr;
  dffChannels(out2, &dl, &dr);
  EXPECT_EQ(dl, sl);
}

TEST_F(ConvertInterop, RealDsdToneDecodes) {
  Job job(kRate176400, kFileTypeWav, 24, false);
  recorder().keepPcm = true;
  ASSERT_EQ(job.run(data("dff/dsd2dxd-1kHz_stereo_i.dff"), ""), 0);
  recorder().keepPcm = false;
  std::vector<double> y;
  for (const auto& b : recorder().blocks)
    for (int i = 0; i < b.frames; ++i) y.push_back(b.pcm[2 * size_t(i)]);
  ASSERT_GT(y.size(), 20000u);
  // Least-squares amplitude at 1 kHz against the rest of the signal.
  double cc = 0, ss = 0, cy = 0, sy = 0, yy = 0;
  for (size_t i = 2000; i + 2000 < y.size(); ++i) {
    const double w = 2 * 3.14159265358979323846 * 1000.0 * double(i) / 176400.0;
    cc += std::cos(w) * std::cos(w);
    ss += std::sin(w) * std::sin(w);
    cy += std::cos(w) * y[i];
    sy += std::sin(w) * y[i];
    yy += y[i] * y[i];
  }
  const double tone = cy * cy / cc + sy * sy / ss;  // energy explained by the tone
  EXPECT_GT(tone / yy, 0.99);
  EXPECT_GT(std::sqrt(2 * yy / double(y.size() - 4000)), 0.05);
}

TEST_F(ConvertInterop, ExtensibleWavesDecodeByTheirSubformat) {
  // 64-bit float, extensible: 32-bit float output keeps every sample as float.
  const std::string wavex = data("wav/scipy-test-48000Hz-2ch-64bit-float-le-wavex.wav");
  const std::string out = tempPath("wavex", ".wav");
  Job job(kRate48000, kFileTypeWav, 32);
  ASSERT_EQ(job.run(wavex, out), 0);
  const std::vector<uint8_t> in = convtest::audioBytes(wavex);
  const std::vector<uint8_t> o = convtest::audioBytes(out);
  ASSERT_EQ(o.size() * 2, in.size());
  for (size_t i = 0; i < o.size() / 4; ++i) {
    double d;
    float f;
    std::memcpy(&d, in.data() + 8 * i, 8);
    std::memcpy(&f, o.data() + 4 * i, 4);
    ASSERT_EQ(f, float(d)) << i;
  }
  // 32-bit integer, extensible, mono: 24-bit output is the rounded top bits.
  const std::string i32 = data("wav/scipy-test-44100Hz-le-1ch-4bytes.wav");
  const std::string out24 = tempPath("i32", ".wav");
  Job j2(kRate44100, kFileTypeWav, 24);
  j2.format.channels = 1;
  ASSERT_EQ(j2.run(i32, out24), 0);
  const std::vector<uint8_t> a = convtest::audioBytes(i32), b = convtest::audioBytes(out24);
  ASSERT_EQ(b.size() * 4, a.size() * 3);
  for (size_t i = 0; i < b.size() / 3; ++i) {
    int32_t v;
    std::memcpy(&v, a.data() + 4 * i, 4);
    const int64_t want = std::min<int64_t>(std::llrint(double(v) / 256.0), 8388607);
    const int32_t got = int32_t(uint32_t(b[3 * i]) << 8 | uint32_t(b[3 * i + 1]) << 16 |
                                uint32_t(b[3 * i + 2]) << 24) >>
                        8;
    ASSERT_EQ(got, want) << i;
  }
}

TEST_F(ConvertInterop, EveryFileConvertsOrFailsCleanly) {
  const std::set<int> documented = {
      kConvertErrSourceOpen, kConvertErrHeader,      kConvertErrFormatChunk,  kConvertErrDataChunk,
      kConvertErrWavUnpack,  kConvertErrDsfUnpack,   kConvertErrDsdiffUnpack, kConvertErrNothing,
      kConvertErrRatePlan,   kConvertErrSampleFormat};
  int converted = 0;
  for (const char* sub : {"wav", "rf64", "dsf", "dff"}) {
    const std::string dir = data(sub);
    DIR* d = opendir(dir.c_str());
    ASSERT_TRUE(d) << dir;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const std::string path = dir + "/" + e->d_name;
      for (int code : {kRate48000, kRate176400}) {
        Job job(code, kFileTypeWav, 24, false);
        testsupport::captureDiagnostics();
        const int rc = job.run(path, "");
        testsupport::capturedDiagnostics();
        if (rc == 0) {
          ++converted;
          EXPECT_EQ(job.range.statusWord & kConvertEndOfSource, kConvertEndOfSource);
        } else {
          EXPECT_TRUE(documented.count(rc)) << path << " gave " << rc;
        }
      }
    }
    closedir(d);
  }
  EXPECT_GT(converted, 40);
}
