#include "format/compact.h"

#include <cstring>

#include "base/endian.h"

namespace gp::format {

CompactTrailerStatus ReadCompactTrailer(std::span<const uint8_t> tail, uint64_t file_size,
                                        CompactLayout* layout) {
  if (tail.size() < kCompactTrailerSize || file_size < kCompactTrailerSize ||
      tail.size() > file_size) {
    return CompactTrailerStatus::kNotCompact;
  }
  const uint8_t* t = tail.data() + tail.size() - kCompactTrailerSize;
  if (std::memcmp(t + kCompactMagicOffset, kCompactMagic, kCompactMagicSize) != 0) {
    return CompactTrailerStatus::kNotCompact;
  }
  CompactLayout out;
  out.payload_length = LoadU64(t + kCompactPayloadLengthOffset);
  out.header_length = LoadU32(t + kCompactHeaderLengthOffset);
  out.payload_crc = LoadU32(t + kCompactPayloadCrcOffset);
  out.header_crc = LoadU32(t + kCompactHeaderCrcOffset);
  const uint64_t before = file_size - kCompactTrailerSize;
  if (out.header_length > before) return CompactTrailerStatus::kDamaged;
  out.header_offset = before - out.header_length;
  if (out.payload_length > out.header_offset) return CompactTrailerStatus::kDamaged;
  out.payload_offset = out.header_offset - out.payload_length;
  *layout = out;
  return CompactTrailerStatus::kOk;
}

std::vector<uint8_t> CompactTrailer(uint64_t payload_length, uint32_t header_length,
                                    uint32_t payload_crc, uint32_t header_crc) {
  std::vector<uint8_t> out(kCompactTrailerSize);
  StoreU64(out.data() + kCompactPayloadLengthOffset, payload_length);
  StoreU32(out.data() + kCompactHeaderLengthOffset, header_length);
  StoreU32(out.data() + kCompactPayloadCrcOffset, payload_crc);
  StoreU32(out.data() + kCompactHeaderCrcOffset, header_crc);
  std::memcpy(out.data() + kCompactMagicOffset, kCompactMagic, kCompactMagicSize);
  return out;
}

bool ParseCompactPiece(const uint8_t* bytes, CompactPiece* piece) {
  piece->decoded_length = LoadU32(bytes);
  piece->packed_length = LoadU32(bytes + 4);
  piece->crc = LoadU32(bytes + 8);
  return piece->decoded_length != 0 && piece->decoded_length <= kMaxPieceSize &&
         piece->packed_length != 0;
}

void AppendCompactPiece(const CompactPiece& piece, std::vector<uint8_t>* out) {
  uint8_t bytes[kCompactPieceHeaderSize];
  StoreU32(bytes, piece.decoded_length);
  StoreU32(bytes + 4, piece.packed_length);
  StoreU32(bytes + 8, piece.crc);
  out->insert(out->end(), bytes, bytes + sizeof bytes);
}

bool ParseCompactDiffHeader(const uint8_t* bytes, size_t size, uint64_t stream_size,
                            CompactDiffHeader* header) {
  if (bytes == nullptr || size < kCompactDiffHeaderSize || stream_size < kCompactDiffHeaderSize) {
    return false;
  }
  CompactDiffHeader out;
  const uint8_t* magic = bytes + kCompactDiffMagicOffset;
  if (std::memcmp(magic, kCompactDiffMagic, 3) != 0 || magic[3] < '1' || magic[3] > '6') {
    return false;
  }
  out.coded = (magic[3] - '1') % 2 == 1;
  out.x86 = magic[3] >= '3';
  out.predict = magic[3] >= '5';
  out.new_size = LoadU64(bytes + kCompactDiffNewSizeOffset);
  uint64_t at = kCompactDiffHeaderSize;
  for (size_t i = 0; i < kCompactSectionCount; ++i) {
    const uint8_t* entry = bytes + kCompactDiffSectionsOffset + i * kCompactSectionEntrySize;
    out.length[i] = LoadU64(entry);
    out.crc[i] = LoadU32(entry + 8);
    if (out.length[i] > stream_size - at) return false;
    out.offset[i] = at;
    at += out.length[i];
  }
  if (at != stream_size) return false;
  *header = out;
  return true;
}

void AppendCompactDiffHeader(const CompactDiffHeader& header, std::vector<uint8_t>* out) {
  uint8_t bytes[kCompactDiffHeaderSize - kEntryHeaderSize] = {};
  std::memcpy(bytes, kCompactDiffMagic, 3);
  // A prediction is taken over the filter: GPD5 and GPD6 are filtered too.
  const int kind = header.predict ? 4 : (header.x86 ? 2 : 0);
  bytes[3] = static_cast<uint8_t>('1' + (header.coded ? 1 : 0) + kind);
  StoreU64(bytes + 4, header.new_size);
  for (size_t i = 0; i < kCompactSectionCount; ++i) {
    StoreU64(bytes + 12 + i * kCompactSectionEntrySize, header.length[i]);
    StoreU32(bytes + 12 + i * kCompactSectionEntrySize + 8, header.crc[i]);
  }
  out->insert(out->end(), bytes, bytes + sizeof bytes);
}

void AppendVarint(uint64_t value, std::vector<uint8_t>* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

bool RawControl::Take(uint64_t add, uint64_t literal) {
  if (add > new_size_ - written_ || literal > new_size_ - written_ - add ||
      add > old_size_ - position_) {
    return false;
  }
  position_ += add;
  written_ += add + literal;
  return true;
}

bool RawControl::Seek(uint64_t zigzag) {
  const int64_t delta = UnZigZag(zigzag);
  const uint64_t magnitude =
      delta < 0 ? static_cast<uint64_t>(-(delta + 1)) + 1 : static_cast<uint64_t>(delta);
  if (delta < 0 ? magnitude > position_ : magnitude > old_size_ - position_) return false;
  position_ = delta < 0 ? position_ - magnitude : position_ + magnitude;
  return true;
}

}  // namespace gp::format
