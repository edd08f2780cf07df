#include "tags.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "chunkio.h"
#include "fileio.h"
#include "sonvex.h"

namespace sonvex {

namespace {

// A walk over a hostile file of empty chunks must end long before its size
// would stop it.
constexpr int kMaxChunksWalked = 4096;
// bext payload offset of TimeReferenceLow/High.
constexpr size_t kBextTimeReferenceAt = 338;
constexpr size_t kId3HeaderBytes = 10;
constexpr uint8_t kFlacVorbisComment = 4;
constexpr uint8_t kFlacPicture = 6;
constexpr uint32_t kFlacLastPictureType = 20;

bool sameId(const char* a, const char* b) { return std::memcmp(a, b, 4) == 0; }
bool sameId(const uint8_t* a, const char* b) { return std::memcmp(a, b, 4) == 0; }

bool isWav(int type) { return type == kFileTypeWav || type == kFileTypeWavAlt; }

void keepFirst(std::string* field, const std::string& value) {
  if (field->empty()) *field = value;
}

void putUtf8(std::string* out, uint32_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
  if (c < 0x80) {
    out->push_back(char(c));
  } else if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (c >> 18)));
    out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  }
}

// Length of the well-formed UTF-8 sequence at p, or 0.
size_t utf8Sequence(const uint8_t* p, size_t n) {
  const uint8_t b = p[0];
  size_t len;
  uint32_t c;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    c = b & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  const bool overlong = (len == 3 && c < 0x800) || (len == 4 && c < 0x10000);
  if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return len;
}

std::string latin1(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) putUtf8(&s, p[i]);
  return s;
}

// Text up to its first NUL; UTF-8 kept, anything else read as Latin-1 (how
// RIFF INFO and DSDIFF texts are usually written).
std::string text8(const uint8_t* p, size_t n, bool utf8Only) {
  n = size_t(std::find(p, p + n, 0) - p);
  bool valid = true;
  for (size_t i = 0; i < n && valid;) {
    const size_t len = utf8Sequence(p + i, n - i);
    valid = len != 0;
    i += len;
  }
  if (valid) return std::string(reinterpret_cast<const char*>(p), n);
  if (!utf8Only) return latin1(p, n);
  std::string s;
  for (size_t i = 0; i < n;) {
    const size_t len = utf8Sequence(p + i, n - i);
    if (len) {
      s.append(reinterpret_cast<const char*>(p + i), len);
      i += len;
    } else {
      putUtf8(&s, 0xFFFD);
      ++i;
    }
  }
  return s;
}

std::string text16(const uint8_t* p, size_t n, bool bigEndian) {
  std::string s;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t c = bigEndian ? uint32_t(p[i] << 8 | p[i + 1]) : uint32_t(p[i] | p[i + 1] << 8);
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < n) {
      const uint32_t lo =
          bigEndian ? uint32_t(p[i + 2] << 8 | p[i + 3]) : uint32_t(p[i + 2] | p[i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    putUtf8(&s, c);
  }
  return s;
}

// An ID3 text frame's first value.
std::string id3Text(const uint8_t* p, size_t n) {
  if (n == 0) return {};
  const uint8_t encoding = p[0];
  ++p;
  --n;
  switch (encoding) {
    case 0:
      return latin1(p, size_t(std::find(p, p + n, 0) - p));
    case 1:
      if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return text16(p + 2, n - 2, true);
      if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return text16(p + 2, n - 2, false);
      return text16(p, n, false);
    case 2:
      return text16(p, n, true);
    case 3:
      return text8(p, n, true);
    default:
      return {};
  }
}

uint32_t syncsafe(const uint8_t* p) {
  return uint32_t(p[0] & 0x7F) << 21 | uint32_t(p[1] & 0x7F) << 14 | uint32_t(p[2] & 0x7F) << 7 |
         uint32_t(p[3] & 0x7F);
}

void putSyncsafe(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t((v >> (21 - 7 * i)) & 0x7F);
}

// Undoes the unsynchronisation scheme: FF 00 back to FF.
std::vector<uint8_t> resync(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
  }
  return out;
}

// Reads a block's payload unless it is too large, runs past the file or
// would take the blocks read so far past four times the cap of one.
bool loadBlock(ByteSource& src, const char* id, uint64_t at, uint64_t size, uint64_t fileBytes,
               Tags* tags) {
  if (size > kMaxTagBytes || at > fileBytes || size > fileBytes - at) return false;
  uint64_t held = size;
  for (const RawBlock& b : tags->raw) held += b.data.size();
  if (held > 4 * kMaxTagBytes) return false;
  RawBlock b;
  std::memcpy(b.id, id, 4);
  b.at = at;
  try {
    b.data.resize(size_t(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!src.readExact(at, b.data.data(), b.data.size())) return false;
  tags->raw.push_back(std::move(b));
  return true;
}

// The common fields of the ID3 tag just loaded, where still empty.
void takeId3Fields(Tags* tags) {
  const std::vector<uint8_t>& tag = tags->raw.back().data;
  (void)parseId3v2(tag.data(), tag.size(), tags);
}

void parseInfoList(const std::vector<uint8_t>& list, Tags* tags) {
  size_t pos = 4;  // behind "INFO"
  while (pos + 8 <= list.size()) {
    const uint8_t* h = list.data() + pos;
    const uint32_t size = le32(h + 4);
    pos += 8;
    if (size > list.size() - pos) break;
    const std::string value = text8(list.data() + pos, size, false);
    if (sameId(h, "INAM")) keepFirst(&tags->title, value);
    if (sameId(h, "IART")) keepFirst(&tags->artist, value);
    if (sameId(h, "IPRD")) keepFirst(&tags->album, value);
    pos += size + (size & 1);
  }
}

// Where the chunk after one ending at `end` starts: behind the pad byte of
// an odd-sized chunk, unless the writer left it out (a chunk id never starts
// with a zero byte).
uint64_t afterPad(ByteSource& src, uint64_t end) {
  if ((end & 1) == 0) return end;
  uint8_t b = 0;
  if (src.readExact(end, &b, 1) && b != 0) return end;
  return end + 1;
}

void readWavTags(ByteSource& src, const AudioFormat& format, uint64_t fileBytes, Tags* tags) {
  uint64_t pos = 12;
  for (int n = 0; n < kMaxChunksWalked && pos + 8 <= fileBytes; ++n) {
    uint8_t h[8];
    if (!src.readExact(pos, h, sizeof h)) break;
    const uint64_t at = pos + 8;
    // RF64 keeps the data size in ds64; the reader has resolved it.
    const uint64_t size =
        sameId(h, "data") && at == format.dataOffset ? format.chunkSize : le32(h + 4);
    const char* id = reinterpret_cast<const char*>(h);
    if (sameId(h, "LIST")) {
      uint8_t type[4];
      if (size >= 4 && src.readExact(at, type, 4) && sameId(type, "INFO") &&
          loadBlock(src, id, at, size, fileBytes, tags))
        parseInfoList(tags->raw.back().data, tags);
    } else if (sameId(h, "id3 ") || sameId(h, "ID3 ")) {
      if (loadBlock(src, id, at, size, fileBytes, tags)) takeId3Fields(tags);
    } else if (sameId(h, "bext")) {
      (void)loadBlock(src, id, at, size, fileBytes, tags);
    }
    if (size > fileBytes - at) break;
    pos = afterPad(src, at + size);
  }
}

void readDsfTags(ByteSource& src, uint64_t fileBytes, Tags* tags) {
  uint8_t dsd[28];
  if (!src.readExact(0, dsd, sizeof dsd)) return;
  const uint64_t pointer = le64(dsd + 20);
  // 0 says none; a pointer into the header or past the end is no tag either.
  if (pointer < 28 || pointer >= fileBytes) return;
  uint8_t h[kId3HeaderBytes];
  if (!src.readExact(pointer, h, sizeof h)) return;
  const uint64_t size = id3v2TagBytes(h, sizeof h);
  if (size != 0 && loadBlock(src, "ID3 ", pointer, size, fileBytes, tags)) takeId3Fields(tags);
}

void parseDiin(const std::vector<uint8_t>& diin, Tags* tags) {
  size_t pos = 0;
  while (pos + 12 <= diin.size()) {
    const uint8_t* h = diin.data() + pos;
    const uint64_t size = be64(h + 4);
    pos += 12;
    if (size > diin.size() - pos) break;
    // DITI and DIAR: a 32-bit count, then that many characters.
    if ((sameId(h, "DITI") || sameId(h, "DIAR")) && size >= 4) {
      const uint64_t count = std::min<uint64_t>(be32(diin.data() + pos), size - 4);
      const std::string value = text8(diin.data() + pos + 4, size_t(count), false);
      keepFirst(sameId(h, "DITI") ? &tags->title : &tags->artist, value);
    }
    pos += size_t(size) + (size & 1);
  }
}

void readDsdiffTags(ByteSource& src, uint64_t fileBytes, Tags* tags) {
  uint64_t pos = 16;  // behind "FRM8", its size and "DSD "
  for (int n = 0; n < kMaxChunksWalked && pos + 12 <= fileBytes; ++n) {
    uint8_t h[12];
    if (!src.readExact(pos, h, sizeof h)) break;
    const uint64_t at = pos + 12;
    const uint64_t size = be64(h + 4);
    const char* id = reinterpret_cast<const char*>(h);
    if (sameId(h, "ID3 ")) {
      if (loadBlock(src, id, at, size, fileBytes, tags)) takeId3Fields(tags);
    } else if (sameId(h, "DIIN")) {
      if (loadBlock(src, id, at, size, fileBytes, tags)) parseDiin(tags->raw.back().data, tags);
    } else if (sameId(h, "COMT")) {
      (void)loadBlock(src, id, at, size, fileBytes, tags);
    }
    if (size > fileBytes - at) break;
    pos = afterPad(src, at + size);
  }
}

bool sameName(const std::string& entry, size_t n, const char* name) {
  if (n != std::strlen(name)) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(entry[i])) != name[i]) return false;
  return true;
}

// The common fields of the comment block just loaded; false when it is no
// whole block.
bool takeVorbisFields(Tags* tags) {
  const std::vector<uint8_t>& block = tags->raw.back().data;
  std::vector<std::string> entries;
  if (!vorbisCommentEntries(block.data(), block.size(), &entries)) return false;
  for (const std::string& e : entries) {
    const size_t eq = e.find('=');
    if (eq == std::string::npos) continue;
    std::string* field = sameName(e, eq, "TITLE")    ? &tags->title
                         : sameName(e, eq, "ARTIST") ? &tags->artist
                         : sameName(e, eq, "ALBUM")  ? &tags->album
                                                     : nullptr;
    if (field && field->empty())
      *field = text8(reinterpret_cast<const uint8_t*>(e.data()) + eq + 1, e.size() - eq - 1, true);
  }
  return true;
}

void readFlacTags(ByteSource& src, uint64_t fileBytes, Tags* tags) {
  uint8_t h[kId3HeaderBytes];
  // An ID3v2 tag some taggers put in front is skipped, as libFLAC does.
  uint64_t pos = src.readExact(0, h, sizeof h) ? id3v2TagBytes(h, sizeof h) : 0;
  uint8_t magic[4];
  if (!src.readExact(pos, magic, sizeof magic) || !sameId(magic, "fLaC")) return;
  pos += 4;
  bool haveComment = false;
  for (int n = 0; n < kMaxChunksWalked && pos + 4 <= fileBytes; ++n) {
    uint8_t b[4];
    if (!src.readExact(pos, b, sizeof b)) break;
    const uint8_t type = b[0] & 0x7F;
    const uint64_t at = pos + 4, size = uint64_t(b[1]) << 16 | uint64_t(b[2]) << 8 | b[3];
    // A stream has one comment block; a damaged one is left out whole.
    if (type == kFlacVorbisComment && !haveComment) {
      if (loadBlock(src, "VORB", at, size, fileBytes, tags)) {
        haveComment = takeVorbisFields(tags);
        if (!haveComment) tags->raw.pop_back();
      }
    } else if (type == kFlacPicture) {
      FlacPicture picture;
      if (loadBlock(src, "PICT", at, size, fileBytes, tags) &&
          !parseFlacPicture(tags->raw.back().data, &picture))
        tags->raw.pop_back();
    }
    if (b[0] & 0x80) break;  // the last metadata block
    pos = at + size;
  }
}

// LIST/INFO of the common fields, NUL-terminated texts.
RawBlock makeInfoList(const Tags& tags) {
  RawBlock b;
  std::memcpy(b.id, "LIST", 4);
  b.data.assign({'I', 'N', 'F', 'O'});
  const std::pair<const char*, const std::string*> fields[] = {
      {"INAM", &tags.title}, {"IART", &tags.artist}, {"IPRD", &tags.album}};
  for (const auto& f : fields) {
    if (f.second->empty()) continue;
    const uint32_t size = uint32_t(f.second->size() + 1);
    uint8_t h[8];
    std::memcpy(h, f.first, 4);
    putLe32(h + 4, size);
    b.data.insert(b.data.end(), h, h + 8);
    b.data.insert(b.data.end(), f.second->begin(), f.second->end());
    b.data.push_back(0);
    if (size & 1) b.data.push_back(0);
  }
  return b;
}

void moveTimeReference(RawBlock* bext, int64_t startFrame, uint32_t srcRate, uint32_t outRate) {
  if (bext->data.size() < kBextTimeReferenceAt + 8 || srcRate == 0) return;
  uint8_t* field = bext->data.data() + kBextTimeReferenceAt;
  // A count of samples since midnight at the file's rate: the range start is
  // added in source samples, the sum counted again at the output rate.
  const unsigned __int128 t =
      ((unsigned __int128)le64(field) + uint64_t(std::max<int64_t>(startFrame, 0))) * outRate;
  putLe64(field, uint64_t((t + srcRate / 2) / srcRate));
}

size_t headerBytes(TagChunkStyle style) {
  return style == TagChunkStyle::Riff ? 8 : style == TagChunkStyle::Dsdiff ? 12 : 0;
}

size_t chunkBytes(const RawBlock& b, TagChunkStyle style) {
  if (style == TagChunkStyle::Bare) return b.data.size();
  return headerBytes(style) + b.data.size() + (b.data.size() & 1);
}

void writeChunk(uint8_t* out, const RawBlock& b, TagChunkStyle style) {
  const size_t h = headerBytes(style);
  if (style == TagChunkStyle::Riff) {
    std::memcpy(out, b.id, 4);
    putLe32(out + 4, uint32_t(b.data.size()));
  } else if (style == TagChunkStyle::Dsdiff) {
    std::memcpy(out, b.id, 4);
    putBe64(out + 4, b.data.size());
  }
  if (!b.data.empty()) std::memcpy(out + h, b.data.data(), b.data.size());
  if (style != TagChunkStyle::Bare && (b.data.size() & 1)) out[h + b.data.size()] = 0;
}

}  // namespace

uint64_t id3v2TagBytes(const uint8_t* header, size_t n) {
  if (n < kId3HeaderBytes || std::memcmp(header, "ID3", 3) != 0) return 0;
  if (header[3] != 3 && header[3] != 4) return 0;
  for (int i = 6; i < 10; ++i)
    if (header[i] & 0x80) return 0;
  const bool footer = header[3] == 4 && (header[5] & 0x10);
  return kId3HeaderBytes + syncsafe(header + 6) + (footer ? kId3HeaderBytes : 0);
}

bool parseId3v2(const uint8_t* data, size_t n, Tags* fields) {
  const uint64_t whole = id3v2TagBytes(data, n);
  if (whole == 0 || whole > n) return false;
  const int major = data[3];
  const uint8_t flags = data[5];
  const size_t bodyBytes = syncsafe(data + 6);
  std::vector<uint8_t> body;
  // 2.3 unsynchronises the whole tag; 2.4 each frame, flagged per frame too.
  if (major == 3 && (flags & 0x80))
    body = resync(data + kId3HeaderBytes, bodyBytes);
  else
    body.assign(data + kId3HeaderBytes, data + kId3HeaderBytes + bodyBytes);
  size_t pos = 0;
  if (flags & 0x40) {
    if (body.size() < 4) return false;
    // 2.3 counts the size field out, 2.4 in (and syncsafe).
    const uint64_t ext = major == 3 ? uint64_t(be32(body.data())) + 4 : syncsafe(body.data());
    if (ext > body.size()) return false;
    pos = size_t(ext);
  }
  while (pos + 10 <= body.size()) {
    const uint8_t* h = body.data() + pos;
    if (h[0] == 0) break;  // padding
    const size_t size = major == 4 ? syncsafe(h + 4) : be32(h + 4);
    const uint16_t frameFlags = be16(h + 8);
    pos += 10;
    if (size > body.size() - pos) break;
    const uint8_t* frame = body.data() + pos;
    pos += size;
    std::string* field = sameId(h, "TIT2")   ? &fields->title
                         : sameId(h, "TPE1") ? &fields->artist
                         : sameId(h, "TALB") ? &fields->album
                                             : nullptr;
    if (!field || !field->empty()) continue;
    std::vector<uint8_t> resynced;
    size_t skip = 0;
    if (major == 4) {
      if (frameFlags & 0x000C) continue;  // compressed or encrypted
      if (frameFlags & 0x0001) skip = 4;  // data length indicator
      if ((frameFlags & 0x0002) || (flags & 0x80)) {
        resynced = resync(frame, size);
        frame = resynced.data();
      }
    } else {
      if (frameFlags & 0x00C0) continue;
      if (frameFlags & 0x0020) skip = 1;  // group id
    }
    const size_t frameBytes = resynced.empty() ? size : resynced.size();
    if (skip > frameBytes) continue;
    *field = id3Text(frame + skip, frameBytes - skip);
  }
  return true;
}

std::vector<uint8_t> makeId3v2(const Tags& fields) {
  std::vector<uint8_t> tag(kId3HeaderBytes, 0);
  std::memcpy(tag.data(), "ID3\x04\x00\x00", 6);
  const std::pair<const char*, const std::string*> frames[] = {
      {"TIT2", &fields.title}, {"TPE1", &fields.artist}, {"TALB", &fields.album}};
  for (const auto& f : frames) {
    if (f.second->empty()) continue;
    uint8_t h[11];
    std::memcpy(h, f.first, 4);
    putSyncsafe(h + 4, uint32_t(f.second->size() + 1));
    h[8] = h[9] = 0;
    h[10] = 3;  // UTF-8
    tag.insert(tag.end(), h, h + sizeof h);
    tag.insert(tag.end(), f.second->begin(), f.second->end());
  }
  putSyncsafe(tag.data() + 6, uint32_t(tag.size() - kId3HeaderBytes));
  return tag;
}

bool vorbisCommentEntries(const uint8_t* data, size_t n, std::vector<std::string>* entries) {
  size_t pos = 0;
  const auto field = [&](std::string* out) {
    if (n - pos < 4) return false;
    const uint32_t len = le32(data + pos);
    pos += 4;
    if (len > n - pos) return false;
    if (out) out->assign(reinterpret_cast<const char*>(data + pos), len);
    pos += len;
    return true;
  };
  if (!field(nullptr) || n - pos < 4) return false;
  const uint32_t count = le32(data + pos);
  pos += 4;
  // Every entry takes four bytes at least: a larger count is a lie.
  if (count > (n - pos) / 4) return false;
  entries->clear();
  for (uint32_t i = 0; i < count; ++i) {
    std::string e;
    if (!field(&e)) return false;
    entries->push_back(std::move(e));
  }
  return true;
}

std::vector<uint8_t> makeVorbisComment(const Tags& fields) {
  const std::pair<const char*, const std::string*> entries[] = {
      {"TITLE=", &fields.title}, {"ARTIST=", &fields.artist}, {"ALBUM=", &fields.album}};
  std::vector<uint8_t> block(8, 0);  // an empty vendor string, then the count
  uint32_t count = 0;
  for (const auto& e : entries) {
    if (e.second->empty()) continue;
    const std::string entry = e.first + *e.second;
    uint8_t len[4];
    putLe32(len, uint32_t(entry.size()));
    block.insert(block.end(), len, len + 4);
    block.insert(block.end(), entry.begin(), entry.end());
    ++count;
  }
  putLe32(block.data() + 4, count);
  return block;
}

bool parseFlacPicture(const std::vector<uint8_t>& block, FlacPicture* p) {
  const uint8_t* d = block.data();
  const size_t n = block.size();
  size_t pos = 0;
  const auto u32 = [&](uint32_t* v) {
    if (n - pos < 4) return false;
    *v = be32(d + pos);
    pos += 4;
    return true;
  };
  const auto text = [&](std::string* s) {
    uint32_t len = 0;
    if (!u32(&len) || len > n - pos) return false;
    s->assign(reinterpret_cast<const char*>(d + pos), len);
    pos += len;
    return true;
  };
  uint32_t bytes = 0;
  if (!u32(&p->type) || p->type > kFlacLastPictureType || !text(&p->mime) ||
      !text(&p->description) || !u32(&p->width) || !u32(&p->height) || !u32(&p->depth) ||
      !u32(&p->colors) || !u32(&bytes) || bytes > n - pos)
    return false;
  p->data = d + pos;
  p->bytes = bytes;
  return true;
}

int readTags(ByteSource& src, const AudioFormat& format, Tags* tags) {
  *tags = Tags{};
  tags->sourceType = format.type;
  uint64_t fileBytes = 0;
  if (!src.size(&fileBytes)) return kErrIo;
  if (isWav(format.type))
    readWavTags(src, format, fileBytes, tags);
  else if (format.type == kFileTypeDsf)
    readDsfTags(src, fileBytes, tags);
  else if (format.type == kFileTypeDsdiff)
    readDsdiffTags(src, fileBytes, tags);
  else if (format.type == kFileTypeFlac)
    readFlacTags(src, fileBytes, tags);
  else
    return kErrNotSupported;
  return kSonvexOk;
}

int readTags(FILE* f, int type, Tags* tags) {
  FileSource src(f);
  AudioFormat format;
  std::unique_ptr<AudioReader> reader;
  if (openAudio(src, type, &format, &reader) != OpenStatus::Ok) return kErrIo;
  return readTags(src, format, tags);
}

std::vector<RawBlock> tagBlocksFor(const Tags& tags, int outType, int64_t startFrame,
                                   uint32_t srcRate, uint32_t outRate) {
  const bool sameKind = (isWav(outType) && isWav(tags.sourceType)) || outType == tags.sourceType;
  if (sameKind && !tags.raw.empty()) {
    std::vector<RawBlock> blocks = tags.raw;
    for (RawBlock& b : blocks) {
      b.at = 0;
      if (sameId(b.id, "bext")) moveTimeReference(&b, startFrame, srcRate, outRate);
    }
    return blocks;
  }
  std::vector<RawBlock> blocks;
  if (tags.title.empty() && tags.artist.empty() && tags.album.empty()) return blocks;
  if (isWav(outType)) {
    blocks.push_back(makeInfoList(tags));
  } else if (outType == kFileTypeDsf || outType == kFileTypeDsdiff) {
    // DSDIFF: an ID3 chunk rather than DIIN, which has no place for the album.
    // A source's own ID3 tag goes across whole (pictures and all).
    RawBlock b;
    std::memcpy(b.id, "ID3 ", 4);
    for (const RawBlock& r : tags.raw) {
      Tags fields;
      if ((sameId(r.id, "ID3 ") || sameId(r.id, "id3 ")) &&
          parseId3v2(r.data.data(), r.data.size(), &fields)) {
        b.data = r.data;
        break;
      }
    }
    if (b.data.empty()) b.data = makeId3v2(tags);
    blocks.push_back(std::move(b));
  } else if (outType == kFileTypeFlac) {
    RawBlock b;
    std::memcpy(b.id, "VORB", 4);
    b.data = makeVorbisComment(tags);
    blocks.push_back(std::move(b));
  }
  return blocks;
}

size_t placeTagsAhead(uint8_t* image, size_t at, size_t end, TagChunkStyle style,
                      std::vector<RawBlock>* blocks) {
  const size_t filler = headerBytes(style);
  for (auto it = blocks->begin(); it != blocks->end();) {
    const size_t n = chunkBytes(*it, style);
    if (at + filler > end || n > end - at - filler) {
      ++it;
      continue;
    }
    writeChunk(image + at, *it, style);
    at += n;
    it = blocks->erase(it);
  }
  return at;
}

std::vector<uint8_t> tagChunks(const std::vector<RawBlock>& blocks, TagChunkStyle style) {
  size_t total = 0;
  for (const RawBlock& b : blocks) total += chunkBytes(b, style);
  std::vector<uint8_t> out(total);
  size_t at = 0;
  for (const RawBlock& b : blocks) {
    writeChunk(out.data() + at, b, style);
    at += chunkBytes(b, style);
  }
  return out;
}

int appendTagChunks(FILE* f, const std::vector<RawBlock>& blocks, TagChunkStyle style) {
  if (blocks.empty()) return kSonvexOk;
  std::vector<uint8_t> chunks;
  try {
    chunks = tagChunks(blocks, style);
  } catch (const std::bad_alloc&) {
    return kErrIo;
  }
  if (seekEnd64(f) != 0 || std::fwrite(chunks.data(), 1, chunks.size(), f) != chunks.size())
    return kErrIo;
  return std::fflush(f) == 0 ? kSonvexOk : kErrIo;
}

std::vector<RawBlock> blocksAfter(const std::vector<RawBlock>& blocks, uint64_t offset) {
  std::vector<RawBlock> out;
  for (const RawBlock& b : blocks)
    if (b.at > offset) out.push_back(b);
  return out;
}

}  // namespace sonvex
