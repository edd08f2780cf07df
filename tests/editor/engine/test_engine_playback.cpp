// PCM playback end to end: the library's stream through the ring to the
// device buffers, fades, stop, end of range, flow control, underrun and the
// device sample formats.
#include <cmath>
#include <fstream>
#include <iterator>

#include "engine_harness.h"
#include "eqsettings.h"

using namespace enginetest;

namespace {

constexpr double kFs = 2147483647.0;

// 44.1 kHz 16-bit stereo, never zero: two offset sines.
std::string pcmFile(int frames) {
  std::vector<int16_t> s;
  for (int n = 0; n < frames; ++n) {
    s.push_back(int16_t(16000 + 9000 * std::sin(n * 0.0627)));
    s.push_back(int16_t(-12000 + 5000 * std::sin(n * 0.011)));
  }
  const std::string path = testsupport::tempPath("engine", ".wav");
  testsupport::writeWav(path, 44100, 16, 2, 1, testsupport::pcm16Bytes(s));
  return path;
}

// The EQ as the renderer must apply it: bands 4..1 from a clear state, then the total gain.
std::vector<double> equalised(std::vector<double> x, const EqSettings* eqs) {
  for (int b = 3; b >= 0; --b) {
    double bq[eq::kBiquadDoubles] = {};
    std::memcpy(bq, eqs->band[b].biquad, 10 * sizeof(double));
    if (eqs->band[b].on) eq::runBiquad(bq, x.data(), x.data(), x.size() / 2);
  }
  for (double& v : x) v *= eqs->totalGain;
  return x;
}

TEST(EnginePlayback, PlaysTheLibraryStreamThroughEqWithFadeInAndStopsAtTheEnd) {
  const std::string path = pcmFile(44100);
  EqSettingsBlock eqb;
  EqSettings* eqs = eqb.get();
  setParameters(&eqs->band[3], 6.0, 1000.0, 1.0, 44100, 0);
  eqs->band[0].type = eq::kTypeLowShelf;
  setParameters(&eqs->band[0], -3.0, 200.0, 0.7, 44100, eq::kTypeLowShelf);
  eqs->band[3].on = eqs->band[0].on = 1;
  setTotalGainDb(eqs, -2.0);
  eqb.setMasterOn(true);
  prepare(44100);
  engine::setEqSettings(eqs);
  const std::vector<double> ref = equalised(libraryStream(path, kRate44100), eqs);
  ASSERT_EQ(ref.size(), 2u * 44100);

  Device dev;
  dev.start();
  Playback pb;
  pb.start(path, kRate44100, sonvexert);
  EXPECT_EQ(pb.wait(), 0);
  ASSERT_TRUE(waitFor([] { return !engine::isPlaying(); }));
  dev.stopAfterTwoCalls();
  const auto l = Device::int32s(dev.ringStream(dev.left, 32));
  const auto r = Device::int32s(dev.ringStream(dev.right, 32));
  ASSERT_EQ(l.size(), 44100u);
  const size_t s = 0;
  int wrong = 0;
  double last = 0.0;
  for (size_t k = 0; k < 44100; ++k) {
    const double gain = l[s + k] / (ref[2 * k] * kFs);
    if (k < 4410) {
      EXPECT_GE(gain, last - 1e-8) << k;  // the fade-in rises monotonically
      last = gain;
      if (k == 0) {
        EXPECT_LT(gain, 0.01);
      }
      if (k == 441) {
        EXPECT_NEAR(gain, 0.9, 0.01);  // T = 0.01 s leaves 10 %
      }
    } else {
      wrong +=
          l[s + k] != std::lrint(ref[2 * k] * kFs) || r[s + k] != std::lrint(ref[2 * k + 1] * kFs);
    }
  }
  EXPECT_EQ(wrong, 0);
  const auto tail = Device::int32s(dev.left);
  EXPECT_EQ(std::count(tail.end() - 512, tail.end(), 0), 512) << "idle after the end";
}

// At 48 kHz from 44.1 kHz the library's blocks are short, so it is still
// producing (and flow-controlled) when the stop comes.
TEST(EnginePlayback, StopFadesOutAndEndsTheConversion) {
  const std::string path = pcmFile(3 * 44100);
  prepare(48000);
  const std::vector<double> ref = libraryStream(path, kRate48000);
  Device dev;
  size_t stopCall = 0;
  Playback pb;
  dev.onCall = [&](size_t) {
    if (!stopCall && dev.consumedAfter.size() > 0 && dev.consumedAfter.back() > 20000) {
      stopCall = dev.consumedAfter.back();
      pb.stop();
    }
  };
  dev.pauseUs = 8000;  // about the device's own pace: the library keeps ahead
  dev.start();
  pb.start(path, kRate48000, sonvexert);
  EXPECT_EQ(pb.wait(), kConvertStoppedPcm);
  dev.stopAfterTwoCalls();
  EXPECT_FALSE(engine::isPlaying());
  EXPECT_EQ(pb.request.range.statusWord, 0);
  const auto l = Device::int32s(dev.ringStream(dev.left, 32));
  const size_t at = stopCall;
  ASSERT_GT(l.size(), at + 480);
  EXPECT_LT(l.size(), at + 4000) << "the fade-out ends the reading from the ring";
  EXPECT_NEAR(l[at] / (ref[2 * at] * kFs), 1.0, 1e-3);
  EXPECT_NEAR(l[at + 480] / (ref[2 * (at + 480)] * kFs), 0.1, 0.01);
  EXPECT_EQ(l.back(), 0);
  const auto tail = Device::int32s(dev.left);
  EXPECT_EQ(std::count(tail.end() - 512, tail.end(), 0), 512);
}

// Frame i of the scripted source carries its own index, so a slot read
// after it was rewritten shows up as a jump.
TEST(EnginePlayback, RingNeverReadsAnOverwrittenSlotAndUnderrunsPlayIdle) {
  prepare(44100);
  FakeSource& f = fake();
  const int total = 64 * 256 * 3;
  f.pcm.resize(2 * size_t(total));
  for (int i = 0; i < total; ++i) f.pcm[2 * i] = -(f.pcm[2 * i + 1] = (i + 1) / 65536.0);
  Device dev;
  dev.frames = 384;
  dev.pauseUs = 100;
  uint64_t ahead = 0;
  dev.onCall = [&](size_t call) {
    ahead = std::max(ahead, f.produced.load() - engine::control().consumed.load());
    if (call == 60) f.hold = true;
    if (call == 140) f.hold = false;
  };
  dev.start();
  Playback pb;
  pb.source = SourceDescription{44100, 16, 2, 0, 0, uint64_t(total), 0, 0, 1};
  pb.startWith(u"scripted", kRate44100, fakeConvert);
  EXPECT_EQ(pb.wait(), 0);
  dev.stop();
  EXPECT_LE(ahead, 64u * 256);
  const auto l = Device::int32s(dev.left), r = Device::int32s(dev.right);
  int64_t previous = -1, idle = 0, jumps = 0;
  for (size_t k = firstRenderedFrame(dev) + 4410; k < l.size(); ++k) {
    if (r[k] == 0) {
      idle += previous >= 0;
      continue;
    }
    const int64_t index = std::lrint(r[k] / (kFs / 65536.0)) - 1;
    jumps += previous >= 0 && index != previous + 1;
    EXPECT_EQ(l[k], -r[k]);
    previous = index;
  }
  EXPECT_EQ(jumps, 0);
  EXPECT_GT(idle, 0) << "the held producer must leave an underrun";
  EXPECT_EQ(previous, total - 1) << "an underrun must not cut the end off";
}

TEST(EnginePlayback, StopEndsThePlaybackWhenTheDeviceHasStoppedCalling) {
  prepare(44100);
  fake().pcm.assign(2 * 64 * 256 * 2, 0.5);
  Playback pb;
  pb.source = SourceDescription{44100, 16, 2, 0, 0, 64 * 256 * 2, 0, 0, 1};
  pb.startWith(u"scripted", kRate44100, fakeConvert);
  ASSERT_TRUE(waitFor([] { return engine::isPlaying(); }));
  pb.stop();
  EXPECT_EQ(pb.wait(5000), kConvertStoppedPcm);
  EXPECT_FALSE(engine::isPlaying());
}

// Source 1.0 / -1.0 (mono: 0.5 left only) at 0 dB after the fade-in: the
// bytes of one frame, left then right buffer (interleaved: one buffer).
struct FormatCase {
  int type;
  bool interleaved;
  int channels;
  std::vector<uint8_t> left, right;
};

TEST(EnginePlayback, FullScaleAndMonoInEveryDeviceFormat) {
  const std::vector<FormatCase> cases = {
      {kSampleInt32Lsb, false, 2, {0xff, 0xff, 0xff, 0x7f}, {0x01, 0x00, 0x00, 0x80}},
      {kSampleInt16Lsb, false, 2, {0xff, 0x7f}, {0x00, 0x80}},
      {kSampleInt32Msb, false, 2, {0x7f, 0xff, 0xff, 0xff}, {0x80, 0x00, 0x00, 0x01}},
      // 2147483647 / 2^31 is just below 1.0 as a double, 1.0 as a float.
      {kSampleFloat64Lsb, false, 2, {0x00, 0x00, 0xc0, 0xff, 0xff, 0xff, 0xef, 0x3f}, {}},
      {kSampleFloat32Lsb, false, 2, {0x00, 0x00, 0x80, 0x3f}, {0x00, 0x00, 0x80, 0xbf}},
      {kSampleInt24Msb, false, 1, {0x40, 0x00, 0x00}, {0x40, 0x00, 0x00}},
      {kInterleavedFloat32, true, 2, {0x00, 0x00, 0x80, 0x3f, 0x00, 0x00, 0x80, 0xbf}, {}},
      {kInterleavedInt16, true, 1, {0x00, 0x40, 0x00, 0x40}, {}},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.type);
    prepare(44100);
    FakeSource& f = fake();
    f.pcm.clear();
    for (int i = 0; i < 8192; ++i)
      f.pcm.insert(f.pcm.end(), {c.channels == 1 ? 0.5 : 1.0, c.channels == 1 ? 0.0 : -1.0});
    Device dev;
    dev.interleaved = c.interleaved;
    (c.interleaved ? dev.formatCode : dev.type) = c.type;
    dev.pauseUs = 100;
    dev.start();
    Playback pb;
    pb.source = SourceDescription{44100, 16, uint32_t(c.channels), 0, 0, 8192, 0, 0, 1};
    pb.startWith(u"scripted", kRate44100, fakeConvert);
    EXPECT_EQ(pb.wait(), 0);
    dev.stop();
    const size_t n = c.left.size(), at = (firstRenderedFrame(dev) + 8000) * n;
    EXPECT_EQ(std::vector<uint8_t>(&dev.left[at], &dev.left[at + n]), c.left);
    if (!c.right.empty()) {
      EXPECT_EQ(std::vector<uint8_t>(&dev.right[at], &dev.right[at + n]), c.right);
    }
  }
}

TEST(EnginePlayback, SettersAndTheDeviceWatchdog) {
  prepare(44100);
  engine::setMonitorVolume(-100.0);
  EXPECT_EQ(engine::control().monitorGain[1].load(), 0.0);
  EXPECT_EQ(engine::control().monitorGainDb.load(), -300.0);
  engine::setMonitorVolume(-99.9);
  EXPECT_DOUBLE_EQ(engine::control().monitorGain[0].load(), std::pow(10.0, -99.9 / 20));
  engine::setPostFader(1);
  engine::setPostFader(2);
  EXPECT_EQ(engine::control().postFaderMeter.load(), 1);
  LevelPoint env[4] = {
      {0, 1.0, 0, 0, 0}, {500, 1.0, 0, 0, 0}, {900, 0.0, 0, 1, 0}, {INT64_MAX, 0, 0, 0, 0}};
  EXPECT_EQ(engine::envelopeActive(env), 0) << "a hold that jumps to 0 does not change the level";
  env[1].shape = 1;
  EXPECT_EQ(engine::envelopeActive(env), 1) << "a ramp from 1 to 0";
  env[0].level = 0.5;
  env[1].shape = 0;
  EXPECT_EQ(engine::envelopeActive(env), 1) << "a level other than 0 and 1";
  engine::setDeviceWatchdog(90);
  EXPECT_FALSE(engine::consumeWatchdog(45));
  EXPECT_FALSE(engine::consumeWatchdog(45));
  EXPECT_TRUE(engine::consumeWatchdog(45)) << "a device that stopped calling";
  int32_t buf[2][64];
  renderDeviceBlock(0, kSampleInt32Lsb, 64, buf[0], buf[1]);
  EXPECT_FALSE(engine::consumeWatchdog(45)) << "every callback reloads the countdown";
}

}  // namespace

namespace {
// An export of the whole of `path` to a 96 kHz 24-bit WAV, as the export dialog queues it.
std::vector<char> exportTo96k(const std::string& path, const std::string& out) {
  AudioFileInfo info{};
  const std::u16string p = testsupport::toU16(path);
  EXPECT_EQ(getAudioFileInformation(p.c_str(), &info), 0);
  JobRequest rq;
  engine::buildPlaybackRequest(&rq, p, kRate96000, 0, describeSource(info), nullptr);
  rq.range.statusWord = kConvertExportMode;
  LevelPoint env[10];
  for (auto& e : env) e = LevelPoint{INT64_MAX, 1.0, 0.0, 0, 0};
  env[0] = LevelPoint{0, 1.0, 0.0, 0, 0};
  const std::u16string dst = testsupport::toU16(out);
  const SonvexChar* src[1] = {p.c_str()};
  EXPECT_EQ(sonvexert(dst.c_str(), src, nullptr, &rq.format, &rq.matrix, rq.sourceEnabled,
                      &rq.range, nullptr, nullptr, env),
            0);
  std::ifstream in(out, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
}  // namespace

// The library runs a playback stream and an export side by side: neither
// disturbs the other's samples.
TEST(EnginePlayback, PlaybackAndAnExportRunAtOnce) {
  const std::string path = pcmFile(2 * 44100);
  const std::vector<char> alone = exportTo96k(path, testsupport::tempPath("alone", ".wav"));
  ASSERT_GT(alone.size(), 32768u);
  prepare(44100);
  const std::vector<double> ref = libraryStream(path, kRate44100);

  Device dev;
  dev.pauseUs = 3000;
  dev.start();
  Playback pb;
  pb.start(path, kRate44100, sonvexert);
  ASSERT_TRUE(waitFor([] { return engine::control().consumed.load() > 4096; }));
  std::vector<char> together;
  std::thread exporter(
      [&] { together = exportTo96k(path, testsupport::tempPath("together", ".wav")); });
  ASSERT_TRUE(waitFor([] { return engine::control().consumed.load() > 44100; }));
  pb.stop();
  const int played = pb.wait();  // the library may have produced the whole file by now
  EXPECT_TRUE(played == 0 || played == kConvertStoppedPcm) << played;
  exporter.join();
  dev.stop();
  EXPECT_TRUE(together == alone) << "the export written during playback differs";
  const auto l = Device::int32s(dev.ringStream(dev.left, 32));
  ASSERT_GT(l.size(), 44100u);
  int wrong = 0;
  for (size_t k = 4410; k < 44100; ++k) wrong += l[k] != std::lrint(ref[2 * k] * kFs);
  EXPECT_EQ(wrong, 0);
}
