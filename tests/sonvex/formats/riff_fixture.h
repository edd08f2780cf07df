// Temporary files and hand-built RIFF images for the format tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fileio.h"

namespace fixture {

using Bytes = std::vector<uint8_t>;

inline void putLe(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(i < 8 ? uint8_t(v >> (8 * i)) : 0);
}
inline void putBe(Bytes& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void putId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }
inline uint32_t getLe32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
inline uint16_t getLe16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline uint64_t getLe64(const Bytes& b, size_t at) {
  return getLe32(b, at) | uint64_t(getLe32(b, at + 4)) << 32;
}

// A RIFF chunk: id, u32 size, payload and the pad byte an odd size needs.
inline void riffChunk(Bytes& b, const char* id, const Bytes& payload, int64_t sizeField = -1) {
  putId(b, id);
  putLe(b, sizeField < 0 ? payload.size() : uint64_t(sizeField), 4);
  b.insert(b.end(), payload.begin(), payload.end());
  if (payload.size() & 1) b.push_back(0);
}

inline Bytes fmtPayload(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes p;
  const uint16_t align = uint16_t(uint32_t(channels) * bits / 8);
  putLe(p, tag, 2);
  putLe(p, channels, 2);
  putLe(p, rate, 4);
  putLe(p, uint64_t(align) * rate, 4);
  putLe(p, align, 2);
  putLe(p, bits, 2);
  return p;
}

// "RIFF"/"RF64", size field (file size - 8 unless given), "WAVE", chunks.
inline Bytes riffFile(const Bytes& chunks, const char* form = "RIFF", int64_t sizeField = -1) {
  Bytes b;
  putId(b, form);
  putLe(b, sizeField < 0 ? chunks.size() + 4 : uint64_t(sizeField), 4);
  putId(b, "WAVE");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

inline Bytes pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    b[i] = uint8_t(seed >> 24);
  }
  return b;
}

// The top-level chunks of a RIFF/WAVE file as (id, payload), pads skipped;
// empty unless the chunks end exactly where the file and its RIFF size do.
inline std::vector<std::pair<std::string, Bytes>> riffChunks(const Bytes& f) {
  std::vector<std::pair<std::string, Bytes>> out;
  if (f.size() < 12 || getLe32(f, 4) != f.size() - 8) return {};
  size_t pos = 12;
  while (pos + 8 <= f.size()) {
    const size_t size = getLe32(f, pos + 4);
    if (pos + 8 + size > f.size()) return {};
    out.emplace_back(std::string(reinterpret_cast<const char*>(&f[pos]), 4),
                     Bytes(f.begin() + long(pos + 8), f.begin() + long(pos + 8 + size)));
    pos += 8 + size + (size & 1);
  }
  if (pos != f.size()) return {};
  return out;
}

// LIST/INFO payload with the given sub-chunks (INAM, IART, IPRD, ...).
inline Bytes infoList(const std::vector<std::pair<std::string, std::string>>& items) {
  Bytes p = {'I', 'N', 'F', 'O'};
  for (const auto& i : items) {
    Bytes text(i.second.begin(), i.second.end());
    text.push_back(0);
    riffChunk(p, i.first.c_str(), text);
  }
  return p;
}

// A bext payload (602 bytes, no coding history) with its time reference.
inline Bytes bextPayload(uint64_t timeReference) {
  Bytes p(338, 'd');
  putLe(p, timeReference, 8);
  p.resize(602, 0);
  return p;
}

inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A private folder under the temp directory, removed with its files.
class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/sonvex-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) dir_ = buf.data();
  }
  ~TempDir() {
    for (const auto& f : files_) ::unlink(f.c_str());
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string path(const std::string& name) {
    const std::string p = dir_ + "/" + name;
    files_.push_back(p);
    return p;
  }
  std::string write(const std::string& name, const Bytes& bytes) {
    const std::string p = path(name);
    FILE* f = std::fopen(p.c_str(), "wb");
    EXPECT_NE(f, nullptr) << p;
    if (f) {
      if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      }
      std::fclose(f);
    }
    return p;
  }

 private:
  std::string dir_;
  std::vector<std::string> files_;
};

inline sonvex::FilePtr open(const std::string& path, const char* mode) {
  return sonvex::FilePtr(std::fopen(path.c_str(), mode));
}

inline Bytes readAll(const std::string& path) {
  Bytes b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return b;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  std::fclose(f);
  return b;
}

inline Bytes readAt(FILE* f, uint64_t offset, size_t n) {
  Bytes b(n);
  if (sonvex::seek64(f, offset) != 0) return {};
  b.resize(std::fread(b.data(), 1, n, f));
  return b;
}

// Grows (sparsely) or cuts the file to `size` bytes.
inline bool setSize(FILE* f, uint64_t size) { return sonvex::truncateFile(f, size) == 0; }

}  // namespace fixture
