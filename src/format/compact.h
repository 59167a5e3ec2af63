// The compact package format: the byte layouts that differ from the classic format. Everything
// else (header, options stream, file lists, entry headers, whole-file streams, stream names) is
// the classic layout, unchanged. doc/format.md describes every field with a worked example.
//
// Trailer (the last 32 bytes of a compact package, executable or data file):
//
//   0  u64 payload length     8  u32 header length
//   12 u32 payload checksum   16 u32 header checksum   (codec/crc32.h, over the bytes named)
//   20 magic "GPATCH-CMP/1" (12 bytes)
//
// The header ends where the trailer begins and the payload ends where the header begins; a data
// file's payload starts at offset 0, an executable's after its program image. The last 13 bytes
// are never the classic magic, so a classic reader refuses the file at its first check.
//
// Payload (the work docfile in pieces, each compressed with raw deflate, RFC 1951):
//
//   0  magic "GPZPAYL1" (8 bytes)     8  u32 piece count
//   12 pieces: u32 decoded length (1 .. kMaxPieceSize), u32 packed length, u32 checksum of
//      the decoded bytes, then the packed bytes
//
// Diff stream (a changed file), after the 12-byte entry header:
//
//   12 magic "GPD1"     16 u64 new size
//   24 u64 control length, u32 control checksum
//   36 u64 difference length, u32 difference checksum
//   48 u64 literal length, u32 literal checksum
//   60 the control, difference and literal sections, in that order, ending with the stream
//
// Control: triples of LEB128 varints (add, literal, seek) up to its end. Starting at old
// position 0, each triple appends `add` bytes old[pos + i] + difference byte (mod 256) and
// advances pos by add, appends `literal` bytes of the literal section, then moves pos by the
// zigzag-coded signed `seek`. The difference section holds the difference bytes as groups
// (varint zero run, varint byte count, that many bytes): each group stands for the zero run
// followed by the bytes.
//
// Version 2 ("GPD2" at offset 12, same header): the sections hold the same commands and bytes
// coded by the range coder of codec/range_coder.h under the models of codec/compact_models.h.
// Control: triples (seek, add, literal), the seek applied first and coded less the previous
// literal length; differences: one coded byte per add byte; literals: a first byte 0 (stored,
// the bytes follow) or 1 (coded). Each section's length and checksum are those of its stored
// bytes, and the decoder must use up every byte of each.
//
// Versions 3 ("GPD3", version 1's sections) and 4 ("GPD4", version 2's) are taken between the
// old and the new file as turned by the x86 branch filter (codec/x86_filter.h): the program
// filters the old file's blocks, rebuilds the filtered new file and turns it back.
// Versions 5 ("GPD5", version 1's sections) and 6 ("GPD6", version 2's) are taken over the
// filter too, the filtered old file's address fields first moved by the x86 address prediction
// (codec/x86_filter.h) through the map of the diff's adds (codec/address_map.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/data_stream.h"

namespace gp::format {

// Trailer.
inline constexpr char kCompactMagic[] = "GPATCH-CMP/1";
inline constexpr size_t kCompactMagicSize = sizeof(kCompactMagic) - 1;  // 12
inline constexpr size_t kCompactPayloadLengthOffset = 0;
inline constexpr size_t kCompactHeaderLengthOffset = 8;
inline constexpr size_t kCompactPayloadCrcOffset = 12;
inline constexpr size_t kCompactHeaderCrcOffset = 16;
inline constexpr size_t kCompactMagicOffset = 20;
inline constexpr size_t kCompactTrailerSize = kCompactMagicOffset + kCompactMagicSize;  // 32

struct CompactLayout {
  uint64_t payload_offset = 0;
  uint64_t payload_length = 0;
  uint64_t header_offset = 0;
  uint32_t header_length = 0;
  uint32_t payload_crc = 0;
  uint32_t header_crc = 0;
};

enum class CompactTrailerStatus {
  kOk,
  kNotCompact,  // too short, or no compact magic at the end
  kDamaged,     // the magic is there but the lengths do not fit the file
};

// Reads a compact trailer from tail, the last tail.size() bytes of a file of file_size bytes.
CompactTrailerStatus ReadCompactTrailer(std::span<const uint8_t> tail, uint64_t file_size,
                                        CompactLayout* layout);
std::vector<uint8_t> CompactTrailer(uint64_t payload_length, uint32_t header_length,
                                    uint32_t payload_crc, uint32_t header_crc);

// Payload container.
inline constexpr char kCompactPayloadMagic[] = "GPZPAYL1";
inline constexpr size_t kCompactPayloadMagicSize = 8;
inline constexpr size_t kCompactPieceCountOffset = 8;
inline constexpr size_t kCompactPiecesOffset = 12;
inline constexpr size_t kCompactPieceHeaderSize = 12;
inline constexpr uint32_t kMaxPieceSize = 8u << 20;

struct CompactPiece {
  uint32_t decoded_length = 0;
  uint32_t packed_length = 0;
  uint32_t crc = 0;
};
// Reads a piece header (kCompactPieceHeaderSize bytes); false when its lengths are out of range.
bool ParseCompactPiece(const uint8_t* bytes, CompactPiece* piece);
void AppendCompactPiece(const CompactPiece& piece, std::vector<uint8_t>* out);

// Diff stream.
// "GPD" and the version, '1' to '4': '1' + 1 when coded + 2 when filtered.
inline constexpr char kCompactDiffMagic[] = "GPD1";
inline constexpr size_t kCompactDiffMagicOffset = kEntryHeaderSize;         // 12
inline constexpr size_t kCompactDiffNewSizeOffset = kEntryHeaderSize + 4;   // 16
inline constexpr size_t kCompactDiffSectionsOffset = kEntryHeaderSize + 12; // 24
inline constexpr size_t kCompactSectionEntrySize = 12;
inline constexpr size_t kCompactSectionCount = 3;
inline constexpr size_t kCompactDiffHeaderSize =
    kCompactDiffSectionsOffset + kCompactSectionCount * kCompactSectionEntrySize;  // 60

enum CompactSection { kControlSection = 0, kDifferenceSection = 1, kLiteralSection = 2 };

struct CompactDiffHeader {
  bool coded = false;  // GPD2, GPD4
  bool x86 = false;    // GPD3 to GPD6: over the x86 branch filter
  bool predict = false;  // GPD5, GPD6: and the x86 address prediction of the old file
  uint64_t new_size = 0;
  uint64_t length[kCompactSectionCount] = {};
  uint32_t crc[kCompactSectionCount] = {};
  uint64_t offset[kCompactSectionCount] = {};  // from the stream's start
};

// Reads the diff header from the stream's first bytes (at least kCompactDiffHeaderSize) and
// checks that the sections tile the stream of stream_size bytes exactly.
bool ParseCompactDiffHeader(const uint8_t* bytes, size_t size, uint64_t stream_size,
                            CompactDiffHeader* header);
// Appends the bytes from offset 12 up to the sections (the entry header comes first).
void AppendCompactDiffHeader(const CompactDiffHeader& header, std::vector<uint8_t>* out);

// LEB128: seven bits a byte, lowest first, the high bit set on every byte but the last; at most
// ten bytes for 64 bits.
inline constexpr size_t kMaxVarintSize = 10;
void AppendVarint(uint64_t value, std::vector<uint8_t>* out);
// Reads a varint from data[0, size); returns the bytes it took, 0 when it is cut off or longer
// than 64 bits. Inline: the program reads one for every group of differences.
inline size_t ParseVarint(const uint8_t* data, size_t size, uint64_t* value) {
  uint64_t v = 0;
  for (size_t i = 0; i < size && i < kMaxVarintSize; ++i) {
    const uint64_t bits = data[i] & 0x7F;
    if (i == kMaxVarintSize - 1 && bits > 1) return 0;  // beyond 64 bits
    v |= bits << (7 * i);
    if ((data[i] & 0x80) == 0) {
      *value = v;
      return i + 1;
    }
  }
  return 0;
}
inline uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
inline int64_t UnZigZag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

// The next triple (add, literal, zigzag-coded seek) of a raw control section, from a reader with
// bool ReadVarint(uint64_t*).
template <class Reader>
bool ReadRawTriple(Reader& reader, uint64_t* add, uint64_t* literal, uint64_t* seek) {
  return reader.ReadVarint(add) && reader.ReadVarint(literal) && reader.ReadVarint(seek);
}

// Follows the triples (add, literal, seek) of a raw control section with the checks every
// reader makes: the add must lie within the old file, the bytes appended within the new size,
// and the seek must leave the position within the old file.
class RawControl {
 public:
  RawControl(uint64_t old_size, uint64_t new_size) : old_size_(old_size), new_size_(new_size) {}
  // A triple's add (from position(), appended at written()) and literal; false when they do
  // not fit. Advances past them.
  bool Take(uint64_t add, uint64_t literal);
  // The triple's zigzag-coded seek; false when it leaves the old file.
  bool Seek(uint64_t zigzag);
  uint64_t position() const { return position_; }
  uint64_t written() const { return written_; }

 private:
  uint64_t old_size_;
  uint64_t new_size_;
  uint64_t position_ = 0;
  uint64_t written_ = 0;
};

}  // namespace gp::format
