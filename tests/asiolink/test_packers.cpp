#include <gtest/gtest.h>

#include <vector>

#include "packers.h"

using namespace asiolink;
using Bytes = std::vector<uint8_t>;

namespace {
const uint8_t kL[] = {0x01, 0x02, 0x03, 0x04};
const uint8_t kR[] = {0xA1, 0xA2, 0xA3, 0xA4};
}  // namespace

TEST(Packers, EveryNativeDsdLayoutKeepsTimeOrderInItsWords) {
  struct Case {
    int word;
    bool big;
    Bytes want;
  };
  const Case cases[] = {
      {1, true, {0x01, 0xA1, 0x02, 0xA2, 0x03, 0xA3, 0x04, 0xA4}},   // DSD_U8
      {2, true, {0x01, 0x02, 0xA1, 0xA2, 0x03, 0x04, 0xA3, 0xA4}},   // DSD_U16_BE
      {2, false, {0x02, 0x01, 0xA2, 0xA1, 0x04, 0x03, 0xA4, 0xA3}},  // DSD_U16_LE
      {4, true, {0x01, 0x02, 0x03, 0x04, 0xA1, 0xA2, 0xA3, 0xA4}},   // DSD_U32_BE
      {4, false, {0x04, 0x03, 0x02, 0x01, 0xA4, 0xA3, 0xA2, 0xA1}},  // DSD_U32_LE
  };
  for (const Case& c : cases) {
    Bytes out(8);
    packDsd(kL, kR, 4 / c.word, c.word, c.big, out.data());
    EXPECT_EQ(out, c.want) << "word " << c.word << (c.big ? " BE" : " LE");
  }
}

TEST(Packers, DopMarksEveryFrameAndAlternatesAcrossBlocks) {
  int32_t l[2], r[2];
  EXPECT_EQ(packDop(kL, kR, 2, 0, l, r), 2u);
  Bytes s32(16), s24(12);
  packPcm(l, r, 2, PcmLayout::S32LE, s32.data());
  packPcm(l, r, 2, PcmLayout::S24_3LE, s24.data());
  EXPECT_EQ(s32, (Bytes{0x00, 0x02, 0x01, 0x05, 0x00, 0xA2, 0xA1, 0x05,  //
                        0x00, 0x04, 0x03, 0xFA, 0x00, 0xA4, 0xA3, 0xFA}));
  EXPECT_EQ(s24, (Bytes{0x02, 0x01, 0x05, 0xA2, 0xA1, 0x05, 0x04, 0x03, 0xFA, 0xA4, 0xA3, 0xFA}));
  // A block that begins on an odd frame continues with the odd marker.
  EXPECT_EQ(packDop(kL, kR, 1, 3, l, r), 4u);
  EXPECT_EQ(static_cast<uint32_t>(l[0]) >> 24, kDopMarkerOdd);
  EXPECT_EQ(static_cast<uint32_t>(r[0]) >> 24, kDopMarkerOdd);
}

TEST(Packers, PcmContainersTakeTheRightBytes) {
  const int32_t v[] = {0x12345678, -256};
  struct Case {
    PcmLayout layout;
    Bytes want;
  };
  const Case cases[] = {
      {PcmLayout::S32LE, {0x78, 0x56, 0x34, 0x12, 0x00, 0xFF, 0xFF, 0xFF}},
      {PcmLayout::S32BE, {0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0x00}},
      {PcmLayout::S24_3LE, {0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}},
      {PcmLayout::S24_3BE, {0x12, 0x34, 0x56, 0xFF, 0xFF, 0xFF}},
      {PcmLayout::S24LE, {0x56, 0x34, 0x12, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
      {PcmLayout::S24BE, {0x00, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0xFF, 0xFF}},
      {PcmLayout::S16LE, {0x34, 0x12, 0xFF, 0xFF}},
      {PcmLayout::S16BE, {0x12, 0x34, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    Bytes out(c.want.size());
    packPcm(v, v + 1, 1, c.layout, out.data());
    EXPECT_EQ(out, c.want) << static_cast<int>(c.layout);
    EXPECT_EQ(carriesDop(c.layout), pcmBytes(c.layout) >= 3);
  }
}
