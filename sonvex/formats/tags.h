// Metadata a file carries beside its audio, in one form every container maps
// to and from: the raw blocks of the source's own container, written back
// verbatim into a file of the same kind, and the title, artist and album,
// carried across kinds where both containers have a place for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audioreader.h"
#include "bytesource.h"

namespace sonvex {

// A tag larger than this (a broken size field, or a cover of a whole disc)
// is left behind rather than loaded.
constexpr uint64_t kMaxTagBytes = uint64_t(16) << 20;

struct RawBlock {
  // Chunk id; a DSF tag is "ID3 ", FLAC's VORBIS_COMMENT "VORB" and PICTURE "PICT".
  char id[4] = {0, 0, 0, 0};
  std::vector<uint8_t> data;  // the chunk's payload, without header or pad byte
  uint64_t at = 0;            // payload offset in the source; 0 for a block made here
};

struct Tags {
  std::string title, artist, album;  // UTF-8
  std::vector<RawBlock> raw;
  int sourceType = -1;  // file type code of the container `raw` comes from

  bool empty() const { return title.empty() && artist.empty() && album.empty() && raw.empty(); }
};

// What the container of a file opened by openAudio holds: WAV LIST/INFO,
// id3 /ID3 and bext; the DSF ID3v2 tag at the metadata pointer; DSDIFF
// ID3 , DIIN and COMT; FLAC's Vorbis comment and pictures. Blocks that are
// cut off or oversized are left out, so a damaged tag never fails an
// export. 0, or kErrNotSupported for a type without tags.
[[nodiscard]] int readTags(ByteSource& src, const AudioFormat& format, Tags* tags);

// The same for an open stream of type `type` (the appends work on streams).
// 0 or kErrIo when the file does not open as that type.
[[nodiscard]] int readTags(FILE* f, int type, Tags* tags);

// The blocks an export of type `outType` carries: the raw blocks for the
// same container kind (a bext time reference moved to the range's first
// frame, `startFrame` at `srcRate`, counted at `outRate`), otherwise blocks
// made from the common fields; none for a source without tags.
std::vector<RawBlock> tagBlocksFor(const Tags& tags, int outType, int64_t startFrame,
                                   uint32_t srcRate, uint32_t outRate);

// How a container frames a block: RIFF (u32 LE size) or DSDIFF (u64 BE
// size), both padded to even; a DSF tag goes out as it is.
enum class TagChunkStyle { Riff, Dsdiff, Bare };

// Writes into image[at, end) those of *blocks that fit, in order, each
// leaving room behind it for a filler chunk header of the style; removes
// them from *blocks and returns the offset behind the last one.
size_t placeTagsAhead(uint8_t* image, size_t at, size_t end, TagChunkStyle style,
                      std::vector<RawBlock>* blocks);

// The blocks as chunks, one after another.
std::vector<uint8_t> tagChunks(const std::vector<RawBlock>& blocks, TagChunkStyle style);

// Appends the blocks as chunks at the end of `f`. 0 or kErrIo.
[[nodiscard]] int appendTagChunks(FILE* f, const std::vector<RawBlock>& blocks,
                                  TagChunkStyle style);

// Those of the blocks that sat behind `offset` in their file.
std::vector<RawBlock> blocksAfter(const std::vector<RawBlock>& blocks, uint64_t offset);

// ID3v2.3/2.4: the whole tag's length from its 10-byte header (footer
// included), or 0 when the bytes are no tag header.
uint64_t id3v2TagBytes(const uint8_t* header, size_t n);
// Title, artist and album of a tag (TIT2, TPE1, TALB) into those of the
// fields still empty. False when the bytes are no whole tag.
bool parseId3v2(const uint8_t* data, size_t n, Tags* fields);
// A minimal ID3v2.4 tag of UTF-8 text frames for the common fields.
std::vector<uint8_t> makeId3v2(const Tags& fields);

// The "FIELD=value" entries of a Vorbis comment block (vendor string left
// out). False when a length runs past the block.
bool vorbisCommentEntries(const uint8_t* data, size_t n, std::vector<std::string>* entries);
// A Vorbis comment block of the common fields, with no vendor string.
std::vector<uint8_t> makeVorbisComment(const Tags& fields);

// A FLAC PICTURE block's fields; `data` points into the block parsed.
struct FlacPicture {
  uint32_t type = 0;
  std::string mime, description;
  uint32_t width = 0, height = 0, depth = 0, colors = 0;
  const uint8_t* data = nullptr;
  size_t bytes = 0;
};
// False when a length runs past the block or the type is a reserved one.
bool parseFlacPicture(const std::vector<uint8_t>& block, FlacPicture* picture);

}  // namespace sonvex
