// DSD playback: the source's bits straight to the device, the re-modulated
// stream while anything alters the signal, the splice back, the stop, and
// the DSD block's ramp chunks and meter.
#include "dsdstage.h"
#include "engine_harness.h"
#include "renderstate.h"

using namespace enginetest;

namespace {

constexpr int kRate = 2822400;

struct DsdFile {
  std::string path;
  std::vector<uint8_t> l, r;
};

const DsdFile& dsdFile() {
  static DsdFile f;
  if (f.path.empty()) {
    const size_t bytes = size_t(kRate) * 8 / 5 / 8;  // 1.6 s
    f.l = testsupport::dsdSine(1000.0, kRate, 0.5, bytes);
    f.r = testsupport::dsdSine(700.0, kRate, 0.4, bytes);
    f.path = testsupport::tempPath("engine", ".dsf");
    testsupport::writeDsf(f.path, kRate, {f.l, f.r});
  }
  return f;
}

int bitAt(const std::vector<uint8_t>& b, int64_t n) {
  return n < 0 ? -1 : (b[size_t(n / 8)] >> (7 - n % 8)) & 1;
}

// Per output byte: does it carry the source delayed by 17 bits?
std::vector<bool> direct(const std::vector<uint8_t>& out, const std::vector<uint8_t>& src,
                         size_t bytes) {
  std::vector<bool> same;
  for (size_t j = 0; j < bytes; ++j) {
    bool eq = true;
    for (int64_t n = int64_t(8 * j); n < int64_t(8 * j + 8); ++n)
      eq = eq && bitAt(out, n) == bitAt(src, n - 17);
    same.push_back(eq);
  }
  return same;
}

// With either re-modulation loop.
TEST(EngineDsd, DirectIsBitExactAndVolumeSwitchesThroughTheModulatorAndBack) {
  for (const bool precision : {false, true}) {
    SCOPED_TRACE(precision ? "precision loop" : "standard loop");
    engine::setPlaybackModulator(precision);
    const DsdFile& f = dsdFile();
    prepare(kRate, 4096);
    EXPECT_EQ(
        engine::detail::resources().stage.modulatorKind(),
        precision ? sonvex::dsd::ModulatorKind::Precision : sonvex::dsd::ModulatorKind::Standard);
    engine::setDsdDirect(1);
    Device dev;
    dev.type = kSampleDsdInt8Msb1;
    dev.frames = 4096;
    size_t volDown = 0, volUp = 0;  // output bytes at the volume changes
    dev.onCall = [&](size_t) {
      const size_t at = dev.consumedAfter.empty() ? 0 : dev.consumedAfter.back() / 8;
      if (!volDown && at > 150000) {
        volDown = at;
        engine::setMonitorVolume(-6.0);
      } else if (volDown && !volUp && at > volDown + 60000) {
        volUp = at;
        engine::setMonitorVolume(0.0);
      }
    };
    dev.start();
    Playback pb;
    pb.start(f.path, kRateDsd64, sonvexert);
    EXPECT_EQ(pb.wait(), 0);
    dev.stop();
    ASSERT_GT(volUp, 0u);
    const size_t played = f.l.size() - 16;
    for (const auto* device : {&dev.left, &dev.right}) {
      const std::vector<uint8_t> ch = dev.ringStream(*device, 1);
      ASSERT_GE(ch.size(), played);
      const auto same = direct(ch, device == &dev.left ? f.l : f.r, played);
      size_t firstDirect = volDown;
      while (firstDirect > 0 && same[firstDirect - 1]) --firstDirect;
      EXPECT_LT(firstDirect, size_t(kRate / 8 * 2 / 5)) << "direct within 0.4 s of the start";
      // -6 dB: re-modulated, never idle, then spliced back for good.
      EXPECT_LT(std::count(same.begin() + volDown + 1024, same.begin() + volUp, true),
                long(volUp - volDown) / 10);
      size_t lastModulated = volUp;
      for (size_t j = volUp; j < same.size(); ++j)
        if (!same[j]) lastModulated = j;
      // The splice settles for a 2-bit agreement after 0.5 s of searching.
      EXPECT_LT(lastModulated, volUp + kRate / 8 * 6 / 10) << "back to direct within 0.6 s";
      for (size_t j = volDown; j + 8 < lastModulated; ++j)
        ASSERT_FALSE(std::all_of(&ch[j], &ch[j + 8], [](uint8_t b) { return b == 0x96; }))
            << "gap in the switch at byte " << j;
    }
  }
  engine::setPlaybackModulator(false);
}

TEST(EngineDsd, StopFadesOutOnTheModulatorAndEndsInIdleBytes) {
  prepare(kRate, 4096);
  engine::setDsdDirect(1);
  Device dev;
  dev.type = kSampleDsdInt8Msb1;
  dev.frames = 4096;
  Playback pb;
  // Stop once programme is flowing: a slow (sanitized) start may still be idle at any fixed call.
  size_t stopCall = 0;
  auto idle = [](const uint8_t* p) {
    return std::all_of(p, p + 512, [](uint8_t b) { return b == 0x96; });
  };
  dev.onCall = [&](size_t call) {
    if (!stopCall && call >= 200 && !idle(&dev.left[(call - 1) * 512])) {
      stopCall = call;
      pb.stop();
    }
  };
  dev.start();
  pb.start(dsdFile().path, kRateDsd64, sonvexert);
  pb.wait();
  dev.stop();
  const size_t done = dev.calls;
  dev.onCall = nullptr;
  dev.start();
  ASSERT_TRUE(waitFor([&] { return dev.calls > done + 16; }));
  dev.stop();
  ASSERT_GT(stopCall, 0u);
  for (const auto* ch : {&dev.left, &dev.right}) {
    EXPECT_FALSE(idle(ch->data() + stopCall * 512)) << "the stop fades rather than cuts";
    EXPECT_TRUE(std::all_of(ch->end() - 4096, ch->end(), [](uint8_t b) { return b == 0x96; }));
  }
}

// 1000-frame blocks step the ramp after each of the chunks 500, 500, 0;
// meters need 512 frames.
TEST(EngineDsd, RampStepsPerChunkAndShortBlocksMeterNothing) {
  for (int frames : {1000, 256}) {
    SCOPED_TRACE(frames);
    prepare(kRate, 4096);
    FakeSource& f = fake();
    f.capacity = 4000;
    f.pcm.assign(2 * 64000, 0.25 * sonvex::dsd::kInputFullScale);
    Device dev;
    dev.type = kSampleDsdInt8Msb1;
    dev.frames = frames;
    dev.pauseUs = 50;
    std::vector<double> ramp;
    double peak = 0.0;
    dev.onCall = [&](size_t) {
      ramp.push_back(engine::control().ramp.current[0].load());
      peak = std::max(peak, engine::control().meterPeak[0].load());
    };
    dev.start();
    Playback pb;
    pb.source = SourceDescription{44100, 16, 2, 0, 0, 64000ull * 44100 / kRate, 0, 0, 1};
    pb.startWith(u"scripted", kRateDsd64, fakeConvert);
    while (!pb.done) {  // hand-overs racing the renderer (for TSan)
      engine::publishEq();
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    EXPECT_EQ(pb.wait(), 0);
    dev.stop();
    f.capacity = 256;
    if (frames == 256) {
      EXPECT_EQ(peak, 0.0);
      continue;
    }
    EXPECT_GT(peak, 0.0);
    const double a = engine::control().ramp.coefficient[0].load();
    int checked = 0;
    for (size_t k = 0; k + 1 < ramp.size(); ++k) {
      if (ramp[k] <= 0.0 || ramp[k + 1] >= 1.0 || ramp[k + 1] == ramp[k]) continue;
      EXPECT_NEAR(1.0 - ramp[k + 1], (1.0 - ramp[k]) * a * a * a, 1e-12) << k;
      ++checked;
    }
    EXPECT_GT(checked, 3);
  }
}

}  // namespace
