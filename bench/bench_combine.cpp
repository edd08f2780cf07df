// combineFiles throughput: appends a tail of N MB to a head of N MB for each
// format (WAV 24-bit stereo, DSF stereo with a partly filled last block,
// DSDIFF stereo) and reports the tail's megabytes per second. Each head is
// rewritten before its run; the tail is read from the page cache.
// Usage: bench_combine [megabytes] [folder]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sonvex.h"

namespace {

void le(std::vector<uint8_t>& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void be(std::vector<uint8_t>& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

// Header bytes, then `audio` bytes of a pattern.
void writeFile(const std::string& path, const std::vector<uint8_t>& header, uint64_t audio) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::exit(1);
  std::fwrite(header.data(), 1, header.size(), f);
  std::vector<uint8_t> piece(1 << 20);
  for (size_t i = 0; i < piece.size(); ++i) piece[i] = uint8_t(i * 131 + 7);
  for (uint64_t left = audio; left;) {
    const size_t n = left < piece.size() ? size_t(left) : piece.size();
    std::fwrite(piece.data(), 1, n, f);
    left -= n;
  }
  std::fclose(f);
}

std::vector<uint8_t> wavHeader(uint64_t bytes) {
  std::vector<uint8_t> h = {'R', 'I', 'F', 'F'};
  le(h, 36 + bytes, 4);
  for (char c : std::string("WAVEfmt ")) h.push_back(uint8_t(c));
  le(h, 16, 4);
  le(h, 1, 2);
  le(h, 2, 2);
  le(h, 96000, 4);
  le(h, 96000 * 6, 4);
  le(h, 6, 2);
  le(h, 24, 2);
  for (char c : std::string("data")) h.push_back(uint8_t(c));
  le(h, bytes, 4);
  return h;
}

// Stereo DSF whose payload is `payload` bytes (whole block groups) holding
// `perChannel` audio bytes a channel.
std::vector<uint8_t> dsfHeader(uint64_t payload, uint64_t perChannel) {
  std::vector<uint8_t> h = {'D', 'S', 'D', ' '};
  le(h, 28, 8);
  le(h, 92 + payload, 8);
  le(h, 0, 8);
  for (char c : std::string("fmt ")) h.push_back(uint8_t(c));
  le(h, 52, 8);
  le(h, 1, 4);
  le(h, 0, 4);
  le(h, 2, 4);
  le(h, 2, 4);
  le(h, 2822400, 4);
  le(h, 1, 4);
  le(h, perChannel * 8, 8);
  le(h, 4096, 4);
  le(h, 0, 4);
  for (char c : std::string("data")) h.push_back(uint8_t(c));
  le(h, payload + 12, 8);
  return h;
}

std::vector<uint8_t> dffHeader(uint64_t bytes) {
  std::vector<uint8_t> prop = {'S', 'N', 'D', ' ', 'F', 'S', ' ', ' '};
  be(prop, 4, 8);
  be(prop, 2822400, 4);
  for (char c : std::string("CHNL")) prop.push_back(uint8_t(c));
  be(prop, 10, 8);
  be(prop, 2, 2);
  for (char c : std::string("SLFTSRGTCMPR")) prop.push_back(uint8_t(c));
  be(prop, 20, 8);
  for (char c : std::string("DSD ")) prop.push_back(uint8_t(c));
  prop.push_back(15);
  for (char c : std::string("not compressed")) prop.push_back(uint8_t(c));
  prop.push_back(0);
  std::vector<uint8_t> h = {'F', 'R', 'M', '8'};
  be(h, 4 + 16 + 12 + prop.size() + 12 + bytes, 8);
  for (char c : std::string("DSD FVER")) h.push_back(uint8_t(c));
  be(h, 4, 8);
  be(h, 0x01050000, 4);
  for (char c : std::string("PROP")) h.push_back(uint8_t(c));
  be(h, prop.size(), 8);
  h.insert(h.end(), prop.begin(), prop.end());
  for (char c : std::string("DSD ")) h.push_back(uint8_t(c));
  be(h, bytes, 8);
  return h;
}

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const uint64_t bytes = mb << 20;
  struct Case {
    const char* name;
    int type;
    uint16_t bits;
    std::vector<uint8_t> headHeader, tailHeader;
    uint64_t headAudio, tailAudio;
    std::string ext;
  };
  // DSF: the head's last block holds 1,000 of its 4,096 bytes.
  const uint64_t dsfHeadPer = bytes / 2 + 1000, dsfTailPer = bytes / 2;
  const auto padded = [](uint64_t per) { return 2 * 4096 * ((per + 4095) / 4096); };
  std::vector<Case> cases = {
      {"wav", 0, 24, wavHeader(bytes / 6 * 6), wavHeader(bytes / 6 * 6), bytes / 6 * 6,
       bytes / 6 * 6, ".wav"},
      {"dsf", 2, 1, dsfHeader(padded(dsfHeadPer), dsfHeadPer),
       dsfHeader(padded(dsfTailPer), dsfTailPer), padded(dsfHeadPer), padded(dsfTailPer), ".dsf"},
      {"dff", 3, 1, dffHeader(bytes), dffHeader(bytes), bytes, bytes, ".dff"},
  };
  for (const Case& c : cases) {
    const std::string head = dir + "/bench_combine_head" + c.ext;
    const std::string tail = dir + "/bench_combine_tail" + c.ext;
    const std::string scratch = dir + "/bench_combine_scratch.bin";
    writeFile(head, c.headHeader, c.headAudio);
    writeFile(tail, c.tailHeader, c.tailAudio);
    WriteFormat w{};
    w.channels = 2;
    w.bitsPerSample = c.bits;
    w.notMono = 1;
    int progress = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int r = combineFiles(c.type, u16(head).c_str(), u16(tail).c_str(), u16(scratch).c_str(),
                               &w, &progress);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-4s append %llu MB: result %d, %.2f s, %.0f MB/s\n", c.name,
                (unsigned long long)(c.tailAudio >> 20), r, s, double(c.tailAudio >> 20) / s);
    std::remove(head.c_str());
    std::remove(tail.c_str());
  }
  return 0;
}
