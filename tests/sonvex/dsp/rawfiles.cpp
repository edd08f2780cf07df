#include "rawfiles.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

void put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void put64(std::vector<uint8_t>& v, uint64_t x) {
  for (int i = 0; i < 8; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
void putBe32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 3; i >= 0; --i) v.push_back(uint8_t(x >> (8 * i)));
}
void putBe64(std::vector<uint8_t>& v, uint64_t x) {
  for (int i = 7; i >= 0; --i) v.push_back(uint8_t(x >> (8 * i)));
}
void putId(std::vector<uint8_t>& v, const char* id) { v.insert(v.end(), id, id + 4); }

void save(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

uint8_t reverseBits(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1 << i)) r |= uint8_t(1 << (7 - i));
  return r;
}

}  // namespace

std::string tempPath(const std::string& stem, const std::string& ext) {
  static std::string dir = [] {
    char tmpl[] = "/tmp/sonvex-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  static int counter = 0;
  return dir + "/" + stem + "-" + std::to_string(counter++) + ext;
}

std::u16string toU16(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(char16_t(c));  // ASCII paths in tests
  return out;
}

void writeWav(const std::string& path, uint32_t rate, uint16_t bits, uint16_t channels,
              uint16_t formatTag, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> v;
  const uint16_t align = uint16_t(bits / 8 * channels);
  putId(v, "RIFF");
  put32(v, uint32_t(36 + data.size() + (data.size() & 1)));
  putId(v, "WAVE");
  putId(v, "fmt ");
  put32(v, 16);
  put16(v, formatTag);
  put16(v, channels);
  put32(v, rate);
  put32(v, rate * align);
  put16(v, align);
  put16(v, bits);
  putId(v, "data");
  put32(v, uint32_t(data.size()));
  v.insert(v.end(), data.begin(), data.end());
  if (data.size() & 1) v.push_back(0);
  save(path, v);
}

std::vector<uint8_t> pcm16Bytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> v;
  for (int16_t s : samples) put16(v, uint16_t(s));
  return v;
}

void writeDsf(const std::string& path, uint32_t rate,
              const std::vector<std::vector<uint8_t>>& channels, uint64_t sampleCount) {
  const uint32_t n = uint32_t(channels.size());
  const size_t perChannel = channels.empty() ? 0 : channels[0].size();
  if (!sampleCount) sampleCount = uint64_t(perChannel) * 8;
  const size_t blocks = (perChannel + 4095) / 4096;
  const uint64_t payload = uint64_t(blocks) * 4096 * n;
  std::vector<uint8_t> v;
  putId(v, "DSD ");
  put64(v, 28);
  put64(v, 92 + payload);
  put64(v, 0);
  putId(v, "fmt ");
  put64(v, 52);
  put32(v, 1);               // version
  put32(v, 0);               // format id: raw
  put32(v, n == 1 ? 1 : 2);  // channel type
  put32(v, n);
  put32(v, rate);
  put32(v, 1);  // bits per sample
  put64(v, sampleCount);
  put32(v, 4096);
  put32(v, 0);
  putId(v, "data");
  put64(v, payload + 12);
  for (size_t b = 0; b < blocks; ++b)
    for (uint32_t c = 0; c < n; ++c)
      for (size_t k = 0; k < 4096; ++k) {
        const size_t at = b * 4096 + k;
        v.push_back(at < perChannel ? reverseBits(channels[c][at]) : 0x96);
      }
  save(path, v);
}

void writeDsdiff(const std::string& path, uint32_t rate,
                 const std::vector<std::vector<uint8_t>>& channels) {
  const uint16_t n = uint16_t(channels.size());
  const size_t perChannel = channels.empty() ? 0 : channels[0].size();
  std::vector<uint8_t> prop;
  putId(prop, "SND ");
  putId(prop, "FS  ");
  putBe64(prop, 4);
  putBe32(prop, rate);
  putId(prop, "CHNL");
  putBe64(prop, 2 + 4 * uint64_t(n));
  prop.push_back(uint8_t(n >> 8));
  prop.push_back(uint8_t(n));
  for (uint16_t c = 0; c < n; ++c) putId(prop, n == 2 ? (c == 0 ? "SLFT" : "SRGT") : "C000");
  putId(prop, "CMPR");
  putBe64(prop, 4 + 1 + 14 + 1);
  putId(prop, "DSD ");
  prop.push_back(14);
  const char* name = "not compressed";
  prop.insert(prop.end(), name, name + 14);
  prop.push_back(0);  // pad to even
  std::vector<uint8_t> body;
  putId(body, "DSD ");
  putId(body, "FVER");
  putBe64(body, 4);
  putBe32(body, 0x01050000);
  putId(body, "PROP");
  putBe64(body, prop.size());
  body.insert(body.end(), prop.begin(), prop.end());
  putId(body, "DSD ");
  putBe64(body, uint64_t(perChannel) * n);
  for (size_t i = 0; i < perChannel; ++i)
    for (uint16_t c = 0; c < n; ++c) body.push_back(channels[c][i]);
  if (body.size() & 1) body.push_back(0);
  std::vector<uint8_t> v;
  putId(v, "FRM8");
  putBe64(v, body.size());
  v.insert(v.end(), body.begin(), body.end());
  save(path, v);
}

std::vector<uint8_t> dsdSine(double frequency, double rate, double amplitude, size_t bytes) {
  std::vector<uint8_t> out(bytes, 0);
  double i1 = 0, i2 = 0, y = 1;
  const double w = 2 * 3.14159265358979323846 * frequency / rate;
  for (size_t n = 0; n < bytes * 8; ++n) {
    const double x = amplitude * std::sin(w * double(n));
    i1 += x - y;
    i2 += i1 - y;
    y = i2 >= 0 ? 1.0 : -1.0;
    if (y > 0) out[n / 8] |= uint8_t(0x80 >> (n % 8));
  }
  return out;
}

}  // namespace testsupport
