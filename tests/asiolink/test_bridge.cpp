#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "alsaharness.h"
#include "asiolink.h"

using namespace alsatest;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t bit(int code) { return 1u << code; }

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    installConfig();
    ASSERT_EQ(initAsioDriver(&handle), 0);
  }
  void TearDown() override { (void)unSelectAsioDevice(handle, nullptr, 0); }

  int device(const char* pcm) { return asioLinkAddDevice(handle, pcm); }
  std::string panel() {
    char text[1024];
    asioLinkPanelText(handle, text, sizeof text);
    return text;
  }
  long periodFrames() {
    long p = 0;
    const std::string t = panel();
    const size_t at = t.find("Period: ");
    if (at != std::string::npos) std::sscanf(t.c_str() + at, "Period: %ld", &p);
    return p;
  }
  int open(const char* pcm, int rate) {
    return openAsioDevice(handle, nullptr, device(pcm), rate, renderBlock, nullptr, &mask);
  }
  // Plays `amount` of content (and as much again of silence), then stops softly.
  void play(const char* pcm, int rate, long pcmFrames, long dsdBytes) {
    startContent(pcmFrames, dsdBytes);
    ASSERT_EQ(open(pcm, rate), kAsioLinkOk) << panel();
    period = periodFrames();
    ASSERT_TRUE(waitRendered(2 * (pcmFrames + dsdBytes)));
    text = panel();
    EXPECT_EQ(stopAsioDevice(handle, nullptr), kAsioLinkOk);
    captured = readCapture(pcm);
  }

  int handle = 0;
  uint32_t mask = 0;
  std::string text;
  long period = 0;
  Bytes captured;
};

// Splits a DSD capture into per-channel byte streams.
void splitDsd(const Bytes& b, int word, bool bigEndian, Bytes* l, Bytes* r) {
  for (size_t f = 0; f + 2 * word <= b.size(); f += 2 * word) {
    for (int i = 0; i < word; ++i) {
      const int at = bigEndian ? i : word - 1 - i;
      l->push_back(b[f + at]);
      r->push_back(b[f + word + at]);
    }
  }
}

void expectDsdContent(const Bytes& l, const Bytes& r, long bytes, long leadIn) {
  size_t s = 0;
  while (s < l.size() && l[s] == 0x96) ++s;
  EXPECT_GE(static_cast<long>(s), leadIn);
  ASSERT_GE(l.size(), s + bytes);
  for (long k = 0; k < bytes; ++k) {
    ASSERT_EQ(l[s + k], dsdLeft(k)) << k;
    ASSERT_EQ(r[s + k], dsdRight(k)) << k;
  }
  for (size_t i = s + bytes; i < l.size(); ++i) ASSERT_EQ(l[i], 0x96) << "after content " << i;
}

}  // namespace

TEST_F(Bridge, AnswersAtOnceWithoutACard) {
  const int busy = device("dac_busy");
  static std::vector<std::string> names;
  const int count =
      getAsioDriverNames(handle, [](const char** n, int c) { names.assign(n, n + c); });
  ASSERT_EQ(names.size(), static_cast<size_t>(count));
  EXPECT_EQ(names[busy], "dac_busy");  // typed names come after the cards
  EXPECT_EQ(openAsioDevice(handle, nullptr, count, 44100, renderBlock, nullptr, &mask),
            kAsioLinkNoDevice);
  EXPECT_EQ(openAsioDevice(handle, nullptr, busy, 44100, renderBlock, nullptr, &mask),
            kAsioLinkBusy);
  EXPECT_NE(panel().find("in use by another application"), std::string::npos) << panel();
  EXPECT_EQ(open("no_such_pcm", 44100), kAsioLinkOpenFailed);
  EXPECT_EQ(openAsioPanel(handle, nullptr), kAsioLinkNotOpen);
  EXPECT_EQ(stopAsioDevice(handle, nullptr), kAsioLinkOk);
  EXPECT_EQ(initAsioDriver(nullptr), kAsioLinkBadHandle);
  EXPECT_EQ(stopAsioDevice(handle + 1, nullptr), kAsioLinkBadHandle);
}

TEST_F(Bridge, PcmPlaysGaplessAfterALeadInAndPadsAtStop) {
  play("nullcap", 96000, 20000, 0);
  EXPECT_EQ(gContent.sampleType, 18);
  EXPECT_NE(text.find("S32_LE"), std::string::npos) << text;
  EXPECT_EQ(mask & 0xFF, 0xFFu);
  expectPcmContent(leftSamples(captured, 4, false, 0), 20000, period, 256);
}

TEST_F(Bridge, FormatFallsBackToPacked24ThenWiderContainerAndMasksRates) {
  play("dac_s24", 48000, 3000, 0);
  EXPECT_NE(text.find("S24_3LE"), std::string::npos) << text;
  EXPECT_EQ(mask, bit(0) | bit(1));
  expectPcmContent(leftSamples(captured, 3, false, 8), 3000, period, 256);

  play("dac_s24in32", 44100, 3000, 0);
  EXPECT_NE(text.find("S24_LE"), std::string::npos) << text;
  EXPECT_EQ(mask, bit(0));
  expectPcmContent(leftSamples(captured, 4, false, 8), 3000, period, 256);
  EXPECT_EQ(open("dac_s24in32", 48000), kAsioLinkUnsupportedRate);
}

TEST_F(Bridge, NativeDsdIsByteExactInEveryLayout) {
  struct Case {
    const char* pcm;
    const char* format;
    int word;
    bool big;
  };
  const Case cases[] = {{"dac_u8", "DSD_U8", 1, true},        {"dac_u16le", "DSD_U16_LE", 2, false},
                        {"dac_u16be", "DSD_U16_BE", 2, true}, {"dac_u32le", "DSD_U32_LE", 4, false},
                        {"dac_u32be", "DSD_U32_BE", 4, true}, {"nullcap", "DSD_U32_BE", 4, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pcm);
    ASSERT_NO_FATAL_FAILURE(play(c.pcm, 2822400, 0, 6000));
    EXPECT_EQ(gContent.sampleType, 33);
    EXPECT_NE(text.find(c.format), std::string::npos) << text;
    EXPECT_TRUE(mask & bit(16));
    Bytes l, r;
    splitDsd(captured, c.word, c.big, &l, &r);
    expectDsdContent(l, r, 6000, period * c.word);
  }
}

TEST_F(Bridge, PcmOnlyCardGetsWellFormedDopAndMarkersRunOnAcrossRestarts) {
  play("dac_dop", 2822400, 0, 4000);
  EXPECT_NE(text.find("DoP"), std::string::npos) << text;
  EXPECT_NE(text.find("176400"), std::string::npos) << text;
  EXPECT_EQ(mask, bit(0) | bit(4) | bit(6) | bit(16) | bit(17));
  const auto check = [](const Bytes& cap) {
    Bytes l, r;
    for (size_t f = 0; f + 8 <= cap.size(); f += 8) {
      const uint8_t want = (cap[3] == 0x05) == ((f / 8) % 2 == 0) ? 0x05 : 0xFA;
      EXPECT_EQ(cap[f + 3], want) << "frame " << f / 8;
      EXPECT_EQ(cap[f + 7], want) << "frame " << f / 8;
      if (cap[f + 3] != want || cap[f + 7] != want) return;
      EXPECT_EQ(cap[f], 0);
      l.insert(l.end(), {cap[f + 2], cap[f + 1]});
      r.insert(r.end(), {cap[f + 6], cap[f + 5]});
    }
    expectDsdContent(l, r, 4000, 0);
  };
  check(captured);
  const uint8_t lastMarker = captured[captured.size() - 1];
  play("dac_dop", 2822400, 0, 4000);
  check(captured);
  EXPECT_NE(captured[3], lastMarker);

  // Forced either way per device.
  ASSERT_EQ(asioLinkSetDsdMode(handle, device("dac_dop"), kAsioLinkDsdNative), kAsioLinkOk);
  EXPECT_EQ(open("dac_dop", 2822400), kAsioLinkUnsupportedRate);
  EXPECT_EQ(mask & bit(16), 0u);
  ASSERT_EQ(asioLinkSetDsdMode(handle, device("nullcap"), kAsioLinkDsdDop), kAsioLinkOk);
  play("nullcap", 5644800, 0, 4000);
  EXPECT_NE(text.find("DoP"), std::string::npos) << text;
  EXPECT_NE(text.find("352800"), std::string::npos) << text;
  EXPECT_EQ(asioLinkSetDsdMode(handle, device("nullcap"), 7), kAsioLinkBadHandle);
  (void)asioLinkSetDsdMode(handle, device("nullcap"), kAsioLinkDsdAuto);
  (void)asioLinkSetDsdMode(handle, device("dac_dop"), kAsioLinkDsdAuto);
}

TEST_F(Bridge, UnderrunIsRecoveredWithoutGapOrRepeat) {
  play("dac_xrun", 44100, 13000, 0);
  EXPECT_NE(text.find("Underruns recovered: 1"), std::string::npos) << text;
  expectPcmContent(leftSamples(captured, 4, false, 0), 13000, period, 256);
}

TEST_F(Bridge, VanishedDeviceIsReportedAndRenderingStops) {
  startContent(0, 0);
  ASSERT_EQ(open("dac_gone", 44100), kAsioLinkOk);
  for (int i = 0; i < 300 && asioLinkStatus(handle) != kAsioLinkDeviceGone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(getAndSetAsioBufferSize(handle, nullptr, 0), kAsioLinkDeviceGone);
  const long rendered = gContent.rendered;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(gContent.rendered, rendered);
  EXPECT_EQ(stopAsioDevice(handle, nullptr), kAsioLinkDeviceGone);
  EXPECT_NE(panel().find("disappeared"), std::string::npos) << panel();
  EXPECT_EQ(getAndSetAsioBufferSize(handle, nullptr, 0), kAsioLinkDeviceGone);
}
