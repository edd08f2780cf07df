// Helpers for the format and combine tests: a temporary folder, raw file
// access, and readers of the DSF, DSDIFF and WAV layouts written from the
// container descriptions alone, so the library is checked against them
// rather than against itself.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace dsdtest {

using Bytes = std::vector<uint8_t>;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/sonvex-fmt-XXXXXX";
    const char* d = mkdtemp(tmpl);
    path_ = d ? d : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp") (void)!std::system(cmd.c_str());
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::u16string u16(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(char16_t(c));  // ASCII paths only
  return out;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline uint64_t sizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

inline Bytes readAll(const std::string& path) {
  Bytes out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

inline void writeAll(const std::string& path, const Bytes& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
  std::fclose(f);
}

inline Bytes randomBytes(size_t n, uint32_t seed) {
  std::minstd_rand rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(rng() >> 7);
  return out;
}

inline uint32_t rdLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t rdLe64(const uint8_t* p) { return rdLe32(p) | uint64_t(rdLe32(p + 4)) << 32; }
inline uint32_t rdBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t rdBe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}
inline void wrLe32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void wrLe64(Bytes& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void wrBe64(Bytes& b, uint64_t v) {
  for (int i = 7; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void wrId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }

inline uint8_t reverseBits(uint8_t v) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r |= uint8_t(((v >> i) & 1) << (7 - i));
  return r;
}

// A DSF file as the format describes it: the per-channel bytes (as stored,
// least significant bit first) in 4,096-byte blocks, each block group one
// block per channel, the last block padded with `pad`. `extra` is appended
// after the data chunk (an ID3 chunk, say) with the metadata pointer at it.
inline Bytes buildDsf(uint32_t rate, const std::vector<Bytes>& channels, uint64_t sampleCount,
                      const Bytes& extra = {}, uint8_t pad = 0x96) {
  const uint32_t n = uint32_t(channels.size());
  const size_t perChannel = n ? channels[0].size() : 0;
  const size_t blocks = (perChannel + 4095) / 4096;
  const uint64_t payload = uint64_t(n) * 4096 * blocks;
  Bytes f;
  wrId(f, "DSD ");
  wrLe64(f, 28);
  wrLe64(f, 92 + payload + extra.size());
  wrLe64(f, extra.empty() ? 0 : 92 + payload);
  wrId(f, "fmt ");
  wrLe64(f, 52);
  wrLe32(f, 1);
  wrLe32(f, 0);
  wrLe32(f, n);
  wrLe32(f, n);
  wrLe32(f, rate);
  wrLe32(f, 1);
  wrLe64(f, sampleCount);
  wrLe32(f, 4096);
  wrLe32(f, 0);
  wrId(f, "data");
  wrLe64(f, payload + 12);
  for (size_t b = 0; b < blocks; ++b)
    for (uint32_t c = 0; c < n; ++c)
      for (size_t i = 0; i < 4096; ++i) {
        const size_t at = b * 4096 + i;
        f.push_back(at < perChannel ? channels[c][at] : pad);
      }
  f.insert(f.end(), extra.begin(), extra.end());
  return f;
}

// What a DSF reader takes from a file: the header fields and the channel
// bytes the sample count covers (ceil(samples / 8) per channel).
struct DsfContent {
  bool ok = false;
  uint64_t totalSize = 0, metadataPointer = 0, sampleCount = 0, dataSize = 0;
  uint32_t channelType = 0, channels = 0, rate = 0, blockSize = 0;
  std::vector<Bytes> audio;  // per channel, as stored (LSB first)
  std::vector<Bytes> tails;  // per channel, the bytes behind the audio up to the block end
};

inline DsfContent parseDsf(const Bytes& f) {
  DsfContent d;
  if (f.size() < 92 || std::memcmp(f.data(), "DSD ", 4) != 0) return d;
  d.totalSize = rdLe64(&f[12]);
  d.metadataPointer = rdLe64(&f[20]);
  const uint8_t* fmt = &f[28];
  if (std::memcmp(fmt, "fmt ", 4) != 0) return d;
  d.channelType = rdLe32(fmt + 20);
  d.channels = rdLe32(fmt + 24);
  d.rate = rdLe32(fmt + 28);
  d.sampleCount = rdLe64(fmt + 36);
  d.blockSize = rdLe32(fmt + 44);
  const uint8_t* data = &f[80];
  if (std::memcmp(data, "data", 4) != 0 || d.channels == 0) return d;
  d.dataSize = rdLe64(data + 4);
  const uint64_t perChannel = (d.sampleCount + 7) / 8;
  const uint64_t blocks = (perChannel + 4095) / 4096;
  if (92 + blocks * 4096 * d.channels > f.size()) return d;
  d.audio.assign(d.channels, Bytes());
  d.tails.assign(d.channels, Bytes());
  for (uint64_t i = 0; i < blocks * 4096; ++i)
    for (uint32_t c = 0; c < d.channels; ++c) {
      const uint8_t v = f[92 + (i / 4096) * 4096 * d.channels + c * 4096 + i % 4096];
      (i < perChannel ? d.audio : d.tails)[c].push_back(v);
    }
  d.ok = true;
  return d;
}

// A DSDIFF file: FVER, PROP (SND: FS, CHNL, CMPR "DSD "), the DSD chunk of
// interleaved bytes, and `after` appended as further top-level chunks.
inline Bytes buildDsdiff(uint32_t rate, const std::vector<Bytes>& channels,
                         const Bytes& after = {}) {
  const uint32_t n = uint32_t(channels.size());
  const size_t perChannel = n ? channels[0].size() : 0;
  Bytes prop;
  wrId(prop, "SND ");
  wrId(prop, "FS  ");
  wrBe64(prop, 4);
  for (int i = 3; i >= 0; --i) prop.push_back(uint8_t(rate >> (8 * i)));
  wrId(prop, "CHNL");
  wrBe64(prop, 2 + 4 * n);
  prop.push_back(uint8_t(n >> 8));
  prop.push_back(uint8_t(n));
  for (uint32_t c = 0; c < n; ++c) {
    char id[5];
    std::snprintf(id, sizeof id, "C%03X", c & 0xFFFu);
    wrId(prop, id);
  }
  wrId(prop, "CMPR");
  wrBe64(prop, 20);
  wrId(prop, "DSD ");
  prop.push_back(15);
  const char name[] = "not compressed";  // 14 letters and a NUL: even
  prop.insert(prop.end(), name, name + 15);
  Bytes f;
  wrId(f, "FRM8");
  wrBe64(f, 0);
  wrId(f, "DSD ");
  wrId(f, "FVER");
  wrBe64(f, 4);
  f.insert(f.end(), {1, 5, 0, 0});
  wrId(f, "PROP");
  wrBe64(f, prop.size());
  f.insert(f.end(), prop.begin(), prop.end());
  wrId(f, "DSD ");
  wrBe64(f, uint64_t(perChannel) * n);
  for (size_t i = 0; i < perChannel; ++i)
    for (uint32_t c = 0; c < n; ++c) f.push_back(channels[c][i]);
  if ((perChannel * n) & 1) f.push_back(0);
  f.insert(f.end(), after.begin(), after.end());
  const uint64_t form = f.size() - 12;
  for (int i = 0; i < 8; ++i) f[4 + i] = uint8_t(form >> (56 - 8 * i));
  return f;
}

// Walks the top-level chunks of a DSDIFF file (pads included) and returns the
// DSD chunk's de-interleaved bytes per channel; channels from CHNL.
struct DsdiffContent {
  bool ok = false;
  uint64_t formSize = 0, dsdSize = 0;
  uint32_t channels = 0, rate = 0;
  std::vector<std::string> topLevel;  // chunk ids in order
  std::vector<Bytes> payloads;        // their payloads, in the same order
  std::vector<Bytes> audio;
};

inline DsdiffContent parseDsdiff(const Bytes& f) {
  DsdiffContent d;
  if (f.size() < 16 || std::memcmp(f.data(), "FRM8", 4) != 0) return d;
  d.formSize = rdBe64(&f[4]);
  uint64_t pos = 16;
  uint64_t dsdAt = 0;
  while (pos + 12 <= f.size()) {
    const std::string id(reinterpret_cast<const char*>(&f[pos]), 4);
    const uint64_t size = rdBe64(&f[pos + 4]);
    d.topLevel.push_back(id);
    if (pos + 12 + size <= f.size())
      d.payloads.emplace_back(f.begin() + long(pos + 12), f.begin() + long(pos + 12 + size));
    if (id == "PROP") {
      uint64_t p = pos + 16;
      while (p + 12 <= pos + 12 + size) {
        const std::string lid(reinterpret_cast<const char*>(&f[p]), 4);
        const uint64_t ls = rdBe64(&f[p + 4]);
        if (lid == "FS  ") d.rate = rdBe32(&f[p + 12]);
        if (lid == "CHNL") d.channels = uint32_t(f[p + 12]) << 8 | f[p + 13];
        p += 12 + ls + (ls & 1);
      }
    }
    if (id == "DSD ") {
      dsdAt = pos + 12;
      d.dsdSize = size;
    }
    pos += 12 + size + (size & 1);
  }
  if (pos != f.size() || dsdAt == 0 || d.channels == 0 || dsdAt + d.dsdSize > f.size()) return d;
  d.audio.assign(d.channels, Bytes());
  for (uint64_t i = 0; i < d.dsdSize; ++i) d.audio[i % d.channels].push_back(f[dsdAt + i]);
  d.ok = true;
  return d;
}

inline Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// A DSDIFF chunk: id, 64-bit size, payload and the pad byte an odd size needs.
inline Bytes dsdiffChunk(const char* id, const Bytes& payload) {
  Bytes b;
  wrId(b, id);
  wrBe64(b, payload.size());
  b.insert(b.end(), payload.begin(), payload.end());
  if (payload.size() & 1) b.push_back(0);
  return b;
}

// DIIN text chunks (DITI, DIAR): a 32-bit count, then the characters.
inline Bytes diinText(const char* id, const std::string& text) {
  Bytes p;
  for (int i = 3; i >= 0; --i) p.push_back(uint8_t(text.size() >> (8 * i)));
  p.insert(p.end(), text.begin(), text.end());
  return dsdiffChunk(id, p);
}

// An ID3v2 tag of version 2.`major` (3: plain frame sizes, 4: syncsafe);
// each frame's payload as given (a text frame: encoding byte, then text).
inline Bytes id3Tag(int major, const std::vector<std::pair<std::string, Bytes>>& frames,
                    uint8_t flags = 0) {
  auto size = [&](Bytes& b, uint32_t v, bool safe) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(safe ? (v >> (7 * i)) & 0x7F : v >> (8 * i)));
  };
  Bytes body;
  for (const auto& f : frames) {
    wrId(body, f.first.c_str());
    size(body, uint32_t(f.second.size()), major == 4);
    body.push_back(0);
    body.push_back(0);
    body.insert(body.end(), f.second.begin(), f.second.end());
  }
  Bytes tag = {'I', 'D', '3', uint8_t(major), 0, flags};
  size(tag, uint32_t(body.size()), true);
  return concat(tag, body);
}

inline Bytes textFrame(uint8_t encoding, const std::string& bytes) {
  Bytes b = {encoding};
  b.insert(b.end(), bytes.begin(), bytes.end());
  return b;
}

// The frames of an ID3v2.4 tag: id -> payload after the encoding byte.
inline std::map<std::string, std::string> id3Frames(const Bytes& tag) {
  std::map<std::string, std::string> out;
  auto safe = [](const uint8_t* p) {
    return uint32_t(p[0]) << 21 | uint32_t(p[1]) << 14 | uint32_t(p[2]) << 7 | p[3];
  };
  if (tag.size() < 10 || std::memcmp(tag.data(), "ID3\x04", 4) != 0) return out;
  const size_t end = std::min<size_t>(tag.size(), 10 + safe(&tag[6]));
  for (size_t pos = 10; pos + 10 <= end && tag[pos] != 0;) {
    const size_t n = safe(&tag[pos + 4]);
    if (pos + 10 + n > end || n == 0) break;
    out[std::string(reinterpret_cast<const char*>(&tag[pos]), 4)] =
        std::string(reinterpret_cast<const char*>(&tag[pos + 11]), n - 1);
    pos += 10 + n;
  }
  return out;
}

}  // namespace dsdtest
