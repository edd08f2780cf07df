// The DSD output stage: pass-through, re-modulation, idle, the switch into
// modulation at a block boundary and the bit-exact splice back to the source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsdstage.h"

using namespace sonvex::dsd;

namespace {

using Bytes = std::vector<uint8_t>;

int bitAt(const Bytes& b, size_t n) { return (b[n / 8] >> (7 - n % 8)) & 1; }

// Source stream delayed by d bits, the idle pattern before its start.
Bytes delayed(const Bytes& src, int d) {
  Bytes out(src.size());
  const Bytes idle = {0x96, 0x96, 0x96, 0x96};
  for (size_t n = 0; n < 8 * src.size(); ++n) {
    const long m = static_cast<long>(n) - d;
    const int bit =
        m >= 0 ? bitAt(src, static_cast<size_t>(m)) : bitAt(idle, static_cast<size_t>(32 + m));
    out[n / 8] |= static_cast<uint8_t>(bit << (7 - n % 8));
  }
  return out;
}

// A DSD source: a modulated two-tone signal (independent modulator).
struct Source {
  Bytes l, r;
};

Source makeSource(size_t frames, double amp = 0.5) {
  Modulator m;
  std::vector<double> pcm(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / 2822400.0;
    pcm[2 * n] = amp * kInputFullScale * std::sin(2 * M_PI * 1000 * t);
    pcm[2 * n + 1] = amp * kInputFullScale * std::sin(2 * M_PI * 3100 * t + 0.5);
  }
  Source s{Bytes(frames / 8), Bytes(frames / 8)};
  const double t[2] = {0, 0};
  const bool none[2] = {false, false};
  m.run(pcm.data(), frames, s.l.data(), s.r.data(), t, none);
  return s;
}

// The pipeline's same-rate decoding: 4 * bit - 2 at the 2^54 scale, times the
// envelope level of each frame.
void decode(const Source& s, size_t first, size_t frames, const std::vector<double>& level,
            std::vector<double>& pcm) {
  pcm.resize(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const size_t k = first + n;
    pcm[2 * n] = (4.0 * bitAt(s.l, k) - 2.0) * kInputFullScale * level[k];
    pcm[2 * n + 1] = (4.0 * bitAt(s.r, k) - 2.0) * kInputFullScale * level[k];
  }
}

// Runs the stage over a source with a per-frame envelope in the given
// blocks, recording the output and the modulated stream of every block.
struct Recorded {
  Bytes out[2], mod[2];
  std::vector<size_t> blockStart;
};

Recorded runStage(OutputStage& st, const Source& s, const std::vector<double>& level,
                  const std::vector<size_t>& blocks, bool withSource = true) {
  Recorded r;
  const size_t frames = 8 * s.l.size();
  for (int c = 0; c < 2; ++c) {
    r.out[c].assign(frames / 8, 0);
    r.mod[c].assign(frames / 8, 0);
  }
  std::vector<double> pcm;
  size_t at = 0;
  for (size_t b = 0; at < frames; ++b) {
    const size_t n = std::min(blocks[b % blocks.size()], frames - at);
    decode(s, at, n, level, pcm);
    BlockLevel lv{level[at + n - 1], 2.0, -1.0};
    for (size_t k = at; k < at + n; ++k) {
      lv.min = std::min(lv.min, level[k]);
      lv.max = std::max(lv.max, level[k]);
    }
    r.blockStart.push_back(at);
    EXPECT_EQ(st.processBlock(pcm.data(), n, lv, withSource ? s.l.data() + at / 8 : nullptr,
                              withSource ? s.r.data() + at / 8 : nullptr, r.out[0].data() + at / 8,
                              r.out[1].data() + at / 8),
              kStageOk);
    for (int c = 0; c < 2; ++c) std::memcpy(r.mod[c].data() + at / 8, st.lastModulated(c), n / 8);
    at += n;
  }
  return r;
}

bool sameBits(const Bytes& a, const Bytes& b, size_t from, size_t to) {
  for (size_t n = from; n < to; ++n)
    if (bitAt(a, n) != bitAt(b, n)) return false;
  return true;
}

// First splice point by the plain rule: scanning from bit `from`, the first
// bit at which a run of agreeing bits reaches 8 (2 once more than 1,411,200
// bits were scanned); the splice is at the run's first bit, or at the start
// of the block in which the run completes when it began in an earlier block.
long naiveSplice(const Bytes& mod, const Bytes& y, size_t from, size_t to,
                 const std::vector<size_t>& blockStart) {
  uint64_t run = 0, scanned = 0;
  for (size_t n = from; n < to; ++n) {
    ++scanned;
    const uint64_t need = scanned > 1411200 ? 2 : 8;
    run = bitAt(mod, n) == bitAt(y, n) ? run + 1 : 0;
    if (run >= need) {
      size_t block = 0;
      for (size_t s : blockStart)
        if (s <= n) block = s;
      const size_t start = n + 1 - run;
      return static_cast<long>(std::max(start, block));
    }
  }
  return -1;
}

TEST(DsdOutputStage, UnityPassThroughIsTheSourceDelayedBySeventeenBits) {
  const Source s = makeSource(8 * 40000);
  const std::vector<double> level(8 * 40000, 1.0);
  OutputStage st;
  ASSERT_TRUE(st.prepare(8 * 9000));
  st.reset(true, 0);
  EXPECT_EQ(st.delay(), 17);
  const auto r = runStage(st, s, level, {8 * 9000, 8, 8 * 1777, 8 * 3});
  EXPECT_EQ(r.out[0], delayed(s.l, 17));
  EXPECT_EQ(r.out[1], delayed(s.r, 17));
  EXPECT_EQ(st.channel(0).mode, ChannelMode::PassThrough);
  EXPECT_EQ(st.levelEvents(), 0u);
}

TEST(DsdOutputStage, AlignDelayFollowsTheFilterAndLimitsPassThrough) {
  EXPECT_EQ(alignDelay(0), 17);
  EXPECT_EQ(alignDelay(1), 17);
  EXPECT_EQ(alignDelay(15), 24);
  EXPECT_EQ(alignDelay(511), 272);
  const Source s = makeSource(8 * 4000);
  const std::vector<double> level(8 * 4000, 1.0);
  OutputStage st;
  ASSERT_TRUE(st.prepare(8 * 1000));
  st.reset(true, 15);
  auto r = runStage(st, s, level, {8 * 1000});
  EXPECT_EQ(r.out[0], delayed(s.l, 24));
  // A delay beyond the kept history is never passed through.
  st.reset(true, 17);
  r = runStage(st, s, level, {8 * 1000});
  EXPECT_EQ(r.out[0], r.mod[0]);
  EXPECT_NE(r.out[0], delayed(s.l, 25));
}

TEST(DsdOutputStage, LevelBelowUnityIsRemodulatedAndZeroIsIdle) {
  const size_t frames = 8 * 30000;
  const Source s = makeSource(frames);
  std::vector<double> level(frames, 0.5);
  for (size_t n = 8 * 20000; n < frames; ++n) level[n] = 0.0;
  OutputStage st;
  ASSERT_TRUE(st.prepare(8 * 10000));
  st.reset(true, 0);
  const auto r = runStage(st, s, level, {8 * 10000});
  const Bytes y = delayed(s.l, 17);
  // Re-modulated: the modulator's own bits, not the source's.
  EXPECT_TRUE(std::equal(r.out[0].begin(), r.out[0].begin() + 20000, r.mod[0].begin()));
  EXPECT_FALSE(std::equal(r.out[0].begin(), r.out[0].begin() + 20000, y.begin()));
  // Level 0 over a whole block: the idle byte on both channels.
  for (size_t j = 20000; j < 30000; ++j) {
    ASSERT_EQ(r.out[0][j], kIdleByte);
    ASSERT_EQ(r.out[1][j], kIdleByte);
  }
  EXPECT_EQ(st.channel(1).mode, ChannelMode::Idle);
  EXPECT_EQ(st.levelEvents(), uint32_t(kLevelFirstBelowUnity));
  EXPECT_EQ(st.channel(0).splicedAt, -1);
}

TEST(DsdOutputStage, PcmSourceIsModulatedAndIdleAtZero) {
  const size_t frames = 8 * 6000;
  const Source s = makeSource(frames);
  std::vector<double> level(frames, 1.0);
  for (size_t n = 8 * 4000; n < frames; ++n) level[n] = 0.0;
  OutputStage st;
  ASSERT_TRUE(st.prepare(8 * 2000));
  st.reset(false, 0);
  const auto r = runStage(st, s, level, {8 * 2000}, false);
  EXPECT_TRUE(std::equal(r.out[1].begin(), r.out[1].begin() + 4000, r.mod[1].begin()));
  for (size_t j = 4000; j < 6000; ++j) ASSERT_EQ(r.out[1][j], kIdleByte);
}

TEST(DsdOutputStage, FadeBackToUnityEndsInTheSourceBitsWithoutGapOrRepeat) {
  // Unity, a dip to 0.5 and back (ramps inside blocks), then unity again.
  const size_t frames = 8 * 120000;
  const Source s = makeSource(frames, 0.45);
  std::vector<double> level(frames, 1.0);
  const size_t down = 8 * 21000 + 3, bottom = 8 * 30000, up = 8 * 40000, back = 8 * 52000 + 5;
  for (size_t n = down; n < back; ++n) {
    if (n < bottom)
      level[n] = 1.0 - 0.5 * static_cast<double>(n - down) / static_cast<double>(bottom - down);
    else if (n < up)
      level[n] = 0.5;
    else
      level[n] = 0.5 + 0.5 * static_cast<double>(n - up) / static_cast<double>(back - up);
  }
  level[back - 1] = 0.999;  // the ramp stops short; the next frame holds 1.0
  const std::vector<size_t> blocks = {8 * 10000, 8 * 7001, 8 * 12345};
  OutputStage st;
  ASSERT_TRUE(st.prepare(8 * 12345));
  st.reset(true, 0);
  const auto r = runStage(st, s, level, blocks);
  EXPECT_EQ(st.levelEvents(), uint32_t(kLevelFirstBelowUnity | kLevelDroppedFromUnity));

  // Blocks: the one holding `down` leaves the source at its start; the first
  // block wholly at 1.0 after `back` starts the search.
  size_t leave = 0, search = 0;
  for (size_t b : r.blockStart) {
    if (b <= down) leave = b;
  }
  for (size_t i = 0; i < r.blockStart.size(); ++i) {
    if (r.blockStart[i] >= back) {
      search = r.blockStart[i];
      break;
    }
  }
  ASSERT_GT(search, 0u);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c);
    const Bytes y = delayed(c == 0 ? s.l : s.r, 17);
    const long splice = st.channel(c).splicedAt;
    ASSERT_GE(splice, static_cast<long>(search));
    EXPECT_EQ(splice, naiveSplice(r.mod[c], y, search, frames, r.blockStart));
    // Before the dip: the source; from the dip's block to the splice: the
    // modulated stream; from the splice on: the source, bit-exact, on the
    // same time axis (so no bit missing or repeated at either switch).
    EXPECT_TRUE(sameBits(r.out[c], y, 0, leave));
    EXPECT_TRUE(sameBits(r.out[c], r.mod[c], leave, static_cast<size_t>(splice)));
    EXPECT_TRUE(sameBits(r.out[c], y, static_cast<size_t>(splice), frames));
    EXPECT_TRUE(
        sameBits(r.mod[c], y, static_cast<size_t>(splice), static_cast<size_t>(splice) + 8));
    EXPECT_FALSE(sameBits(r.out[c], y, leave, static_cast<size_t>(splice)));
    EXPECT_EQ(st.channel(c).mode, ChannelMode::PassThrough);
  }
}

// Engine form: hand-made modulated bits against a source, to pin the search.
struct SpliceRig {
  OutputStage st;
  Bytes y;  // delayed source over the whole stream
  Bytes src, mod;
  std::vector<size_t> starts;
  SpliceRig(const Bytes& source, const Bytes& modulated) : src(source), mod(modulated) {
    y = delayed(src, 17);
    EXPECT_TRUE(st.prepare(8 * src.size()));
    st.reset(false, 0);
    st.channel(0).wantDirect = 1;
  }
  Bytes run(const std::vector<size_t>& blocks) {
    Bytes out(src.size());
    size_t at = 0;
    for (size_t b = 0; at < 8 * src.size(); ++b) {
      const size_t n = std::min(blocks[b % blocks.size()], 8 * src.size() - at);
      starts.push_back(at);
      std::memcpy(out.data() + at / 8, mod.data() + at / 8, (n + 7) / 8);
      EXPECT_EQ(st.splice(0, out.data() + at / 8, src.data() + at / 8, n, true), kStageOk);
      at += n;
    }
    return out;
  }
};

TEST(DsdOutputStage, SpliceSearchMatchesThePlainRuleOnRandomStreams) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t bytes = 64 + rng() % 400;
    Bytes src(bytes);
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    const Bytes y = delayed(src, 17);
    // Modulated = y with flips; sparse enough that runs of 8 come and go.
    Bytes mod = y;
    const unsigned density = 2 + rng() % 5;
    for (size_t n = 0; n < 8 * bytes; ++n)
      if (rng() % density == 0) mod[n / 8] ^= static_cast<uint8_t>(0x80 >> (n % 8));
    SpliceRig rig(src, mod);
    std::vector<size_t> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(8 * (1 + rng() % 40));
    const Bytes out = rig.run(blocks);
    const long expect = naiveSplice(mod, y, 0, 8 * bytes, rig.starts);
    ASSERT_EQ(rig.st.channel(0).splicedAt, expect) << "trial " << trial;
    const size_t at = expect < 0 ? 8 * bytes : static_cast<size_t>(expect);
    ASSERT_TRUE(sameBits(out, mod, 0, at));
    ASSERT_TRUE(sameBits(out, y, at, 8 * bytes));
  }
}

TEST(DsdOutputStage, PartialRunIsKeptAcrossBlocks) {
  // Mismatch everywhere except 7 bits at the end of block 1 and the first
  // bit of block 2: the run completes at bit 0 of block 2.
  const size_t bytes = 32;
  Bytes src(bytes);
  for (size_t i = 0; i < bytes; ++i) src[i] = static_cast<uint8_t>(i * 37 + 5);
  const Bytes y = delayed(src, 17);
  Bytes mod(bytes);
  for (size_t i = 0; i < bytes; ++i) mod[i] = static_cast<uint8_t>(~y[i]);
  mod[15] = static_cast<uint8_t>((y[15] & 0x7f) | (~y[15] & 0x80));  // bits 121..127 agree
  mod[16] = static_cast<uint8_t>((y[16] & 0x80) | (~y[16] & 0x7f));  // bit 128 agrees
  SpliceRig rig(src, mod);
  const Bytes out = rig.run({128});
  EXPECT_EQ(rig.st.channel(0).splicedAt, 128);
  EXPECT_TRUE(sameBits(out, mod, 0, 128));
  EXPECT_TRUE(sameBits(out, y, 128, 8 * bytes));
}

TEST(DsdOutputStage, MatchFallsToTwoBitsAfterTheSearchLimit) {
  // Agreeing runs of at most 6 bits (XOR pattern 1000 0001): no run of 8
  // ever, so the splice waits for the limit and takes the first run of 2.
  const size_t bytes = 1411200 / 8 + 4096;
  Bytes src(bytes);
  std::mt19937 rng(3);
  for (auto& b : src) b = static_cast<uint8_t>(rng());
  const Bytes y = delayed(src, 17);
  Bytes mod(bytes);
  for (size_t i = 0; i < bytes; ++i) mod[i] = y[i] ^ 0x81;
  SpliceRig rig(src, mod);
  const Bytes out = rig.run({8 * 50000, 8 * 33333});
  // Bits 0..1411200 scanned; the next run of two agreeing bits is bits
  // 1411201..1411202 (positions 1 and 2 of a byte).
  EXPECT_EQ(rig.st.channel(0).splicedAt, naiveSplice(mod, y, 0, 8 * bytes, rig.starts));
  EXPECT_EQ(rig.st.channel(0).splicedAt, 1411201);
  EXPECT_TRUE(sameBits(out, y, 1411201, 8 * bytes));
}

TEST(DsdOutputStage, RefusesBlocksBeyondItsCapacity) {
  OutputStage st;
  std::vector<double> pcm(2 * 1024, 0.0);
  Bytes l(128), r(128);
  EXPECT_EQ(st.processBlock(pcm.data(), 1024, BlockLevel::constant(1.0), nullptr, nullptr, l.data(),
                            r.data()),
            kStageNoScratch);
  ASSERT_TRUE(st.prepare(512));
  st.reset(false, 0);
  EXPECT_EQ(st.processBlock(pcm.data(), 1024, BlockLevel::constant(1.0), nullptr, nullptr, l.data(),
                            r.data()),
            kStageNoScratch);
  EXPECT_EQ(st.processBlock(pcm.data(), 512, BlockLevel::constant(1.0), nullptr, nullptr, l.data(),
                            r.data()),
            kStageOk);
}

}  // namespace

namespace {

// Playback form, driven the way the engine drives it: idle at start, a fade
// in on the modulated stream, the splice into the source, a stop that fades
// out and ends in the idle pattern.
TEST(DsdOutputStage, EngineFormFadeInToSourceAndStopToIdle) {
  const size_t block = 8 * 4096, blocks = 40, frames = block * blocks;
  const Source s = makeSource(frames, 0.4);
  OutputStage st;
  ASSERT_TRUE(st.prepare(block));
  st.reset(false, 0);
  for (int c = 0; c < 2; ++c) st.channel(c).wantDirect = st.channel(c).isDirect = 1;
  const Bytes idle(block / 8, kIdleByte);
  Bytes out[2] = {Bytes(frames / 8), Bytes(frames / 8)};
  Bytes mod[2] = {Bytes(frames / 8), Bytes(frames / 8)};
  std::vector<double> ramp(frames, 0.0), pcm;
  // Blocks 0-3 silent, 4-11 fade in, 12-27 at 1.0, 28-33 fade out, then 0.
  for (size_t n = 0; n < frames; ++n) {
    const double b = static_cast<double>(n) / block;
    ramp[n] = b < 4 ? 0.0 : b < 12 ? (b - 4) / 8 : b < 28 ? 1.0 : b < 34 ? (34 - b) / 6 : 0.0;
  }
  size_t directFrom = 0, idleFrom = 0;
  for (size_t i = 0; i < blocks; ++i) {
    const size_t at = i * block;
    const double r = ramp[at + block - 1];
    const bool silent = r == 0.0 && ramp[at] == 0.0;
    decode(s, at, block, ramp, pcm);
    const double targets[2] = {idleWeightTarget(r), idleWeightTarget(r)};
    const bool shutdown[2] = {silent, silent};
    uint8_t* o[2] = {out[0].data() + at / 8, out[1].data() + at / 8};
    st.modulate(pcm.data(), block, o[0], o[1], targets, shutdown);
    for (int c = 0; c < 2; ++c) {
      std::memcpy(mod[c].data() + at / 8, o[c], block / 8);
      const Bytes& src = c == 0 ? s.l : s.r;
      if (silent) {
        st.channel(c).wantDirect = 1;
        ASSERT_EQ(st.splice(c, o[c], idle.data(), block, true, 0), kStageOk);
        std::memset(st.channel(c).lastBytes, kIdleByte, kHistoryBytes);
      } else {
        st.channel(c).wantDirect = ramp[at] == 1.0 && r == 1.0;
        ASSERT_EQ(st.splice(c, o[c], src.data() + at / 8, block, true), kStageOk);
      }
    }
    if (i == 27) directFrom = static_cast<size_t>(st.channel(0).splicedAt);
    if (i == 35) idleFrom = static_cast<size_t>(st.channel(0).splicedAt);
  }
  const Bytes y = delayed(s.l, 17);
  // Idle, then the fade on the modulated stream from block 4 on.
  for (size_t j = 0; j < 4 * block / 8; ++j) ASSERT_EQ(out[0][j], kIdleByte);
  EXPECT_TRUE(sameBits(out[0], mod[0], 4 * block, directFrom));
  // Direct from the splice (searched from block 12) to the end of block 27.
  EXPECT_GE(directFrom, 12 * block);
  EXPECT_LT(directFrom, 13 * block);
  EXPECT_TRUE(sameBits(out[0], y, directFrom, 28 * block));
  // Stop: modulated fade-out from block 28, the idle pattern once silent.
  EXPECT_TRUE(sameBits(out[0], mod[0], 28 * block, idleFrom));
  EXPECT_EQ(idleFrom, 34 * block);
  for (size_t j = 34 * block / 8; j < frames / 8; ++j) {
    ASSERT_EQ(out[0][j], kIdleByte);
    ASSERT_EQ(out[1][j], kIdleByte);
  }
  EXPECT_EQ(st.splice(0, out[0].data(), idle.data(), 8, true, 25), kStageBadDelay);
}

}  // namespace
