#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "alsaharness.h"
#include "sharedoutput.h"

using namespace alsatest;

namespace {

struct Asked {
  std::atomic<long> frames{0};
  std::atomic<long> most{0};
  std::atomic<int> finished{0};
};

// Float frame n is (n + 1) / 2^16 left and its negative right; int16 (n + 1).
void renderInterleaved(void* ctx, int code, const WaveFormat* fmt, int frames, void* buffer) {
  auto* asked = static_cast<Asked*>(ctx);
  asked->frames += frames;
  if (frames > asked->most) asked->most = frames;
  const long done = gContent.rendered.load();
  for (int i = 0; i < frames && fmt->channels == 2; ++i) {
    const long n = done + i;
    const long v = n < gContent.pcmFrames ? n + 1 : 0;
    if (code == 1) {
      static_cast<float*>(buffer)[2 * i] = static_cast<float>(v) / 65536.0f;
      static_cast<float*>(buffer)[2 * i + 1] = -static_cast<float>(v) / 65536.0f;
    } else if (code == 2) {
      static_cast<int16_t*>(buffer)[2 * i] = static_cast<int16_t>(v);
      static_cast<int16_t*>(buffer)[2 * i + 1] = static_cast<int16_t>(-v);
    }
  }
  gContent.rendered = done + frames;
}

void countFinished(void* ctx) { ++static_cast<Asked*>(ctx)->finished; }

class Shared : public ::testing::Test {
 protected:
  void SetUp() override {
    installConfig();
    for (const char* pcm : {"dac_float", "dac_s24in32", "dac_busy", "dac_xrun", "no_such_pcm"}) {
      out.addEndpoint(pcm);
    }
    out.setRender(renderInterleaved, &asked);
    out.setFinishedCallback(countFinished, &asked);
    count = out.enumerateDevices();
  }
  int index(const std::string& pcm) {
    for (size_t i = 0; i < out.deviceIds().size(); ++i) {
      if (out.deviceIds()[i] == pcm) return static_cast<int>(i);
    }
    return -1;
  }
  // Plays `frames` of content and as much again, then stops as the GUI does.
  void play(const char* pcm, long frames) {
    startContent(frames, 0);
    ASSERT_EQ(out.openDevice(index(pcm)), SharedOutput::kOk);
    ASSERT_TRUE(out.start());
    EXPECT_TRUE(waitRendered(2 * frames));
    out.requestStop();
    for (int i = 0; i < 300 && out.isRunning(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    out.wait();
    out.closeDevice();
  }

  SharedOutput out;
  Asked asked;
  int count = 0;
};

}  // namespace

TEST_F(Shared, ListsTheDesktopOutputFirstAndTypedNamesLast) {
  EXPECT_EQ(out.deviceIds().front(), "default");
  EXPECT_EQ(out.deviceNames().size(), static_cast<size_t>(count));
  EXPECT_EQ(index("no_such_pcm"), count - 1);
  EXPECT_EQ(out.openDevice(count), SharedOutput::kNoDevice);
}

TEST_F(Shared, FloatMixFormatIsFedExactlyTheFreeSpaceWithoutGaps) {
  play("dac_float", 12000);
  EXPECT_EQ(out.formatCode(), 1);
  EXPECT_EQ(out.mixFormat().formatTag, 3);
  EXPECT_EQ(out.mixFormat().samplesPerSec, 48000u);
  EXPECT_EQ(out.mixFormat().blockAlign, 8);
  EXPECT_EQ(out.bufferDurationUs(), out.bufferFrames() * 1000000LL / 48000);
  EXPECT_LE(asked.most, out.bufferFrames());
  EXPECT_EQ(asked.finished, 1);
  EXPECT_TRUE(out.finished());
  const std::vector<uint8_t> cap = readCapture("dac_float");
  // Everything asked for was played after the silent priming, and nothing else.
  EXPECT_EQ(static_cast<long>(cap.size() / 8), out.bufferFrames() + asked.frames);
  std::vector<int32_t> left;
  for (size_t f = 0; f + 8 <= cap.size(); f += 8) {
    float v;
    std::memcpy(&v, &cap[f], 4);
    left.push_back(static_cast<int32_t>(v * 65536.0f));
  }
  expectPcmContent(left, 12000, out.bufferFrames(), 1);
}

TEST_F(Shared, SixteenBitAtTheDevicesOwnRate) {
  play("dac_s24in32", 8000);
  EXPECT_EQ(out.formatCode(), 2);
  EXPECT_EQ(out.mixFormat().samplesPerSec, 44100u);
  EXPECT_EQ(out.mixFormat().bitsPerSample, 16);
  expectPcmContent(leftSamples(readCapture("dac_s24in32"), 2, false, 0), 8000, out.bufferFrames(),
                   1);
}

TEST_F(Shared, BusyAndMissingDevicesSayWhy) {
  EXPECT_EQ(out.openDevice(index("dac_busy")), SharedOutput::kInUse);
  EXPECT_EQ(SharedOutput::failureText(SharedOutput::kInUse),
            "Failed to select this device.\nAlready in use by other application.");
  EXPECT_EQ(out.openDevice(index("no_such_pcm")), SharedOutput::kOpenFailed);
  EXPECT_EQ(SharedOutput::failureText(SharedOutput::kOpenFailed), "Failed to select this device.");
}

TEST_F(Shared, UnderrunRecoversThroughTheSameRoutineAndPlayGoesOn) {
  play("dac_xrun", 22050);  // S32 only: the renderer writes nothing, silence plays
  EXPECT_EQ(out.formatCode(), 0);
  EXPECT_EQ(out.recoveredUnderruns(), 1u);
  EXPECT_EQ(asked.finished, 1);
}

TEST_F(Shared, StopBeforeRunSkipsTheStreamButStillFinishes) {
  ASSERT_EQ(out.openDevice(index("dac_float")), SharedOutput::kOk);
  out.requestStop();
  out.run();
  EXPECT_EQ(asked.frames, 0);
  EXPECT_EQ(asked.finished, 1);
  EXPECT_TRUE(out.finished());
}
