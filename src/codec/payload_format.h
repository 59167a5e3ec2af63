// The payload container: the magic, a piece count, then pieces of [method][length][data].
// A compressed piece's data is [i32 declared size][block sequence]. Integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp::payload {

inline constexpr size_t kMagicOffset = 0;
inline constexpr size_t kMagicSize = 32;  // texts::kPayloadMagic
inline constexpr size_t kPieceCountOffset = 32;
inline constexpr size_t kPiecesOffset = 36;

// Piece header.
inline constexpr size_t kPieceMethodOffset = 0;
inline constexpr size_t kPieceLengthOffset = 1;
inline constexpr size_t kPieceHeaderSize = 5;

// Method 1 is a compressed piece; every other value a stored one.
inline constexpr uint8_t kMethodStored = 0;
inline constexpr uint8_t kMethodCompressed = 1;

// Compressed piece data.
inline constexpr size_t kDeclaredSizeOffset = 0;
inline constexpr size_t kDeclaredSizeSize = 4;
inline constexpr size_t kBlocksOffset = 4;

// The largest declared size whose tail every decoder of the format writes: beyond it, only
// multiples of 256 come out whole from decoders that count written chunks in 16 bits.
inline constexpr uint32_t kLargestSafeOddPiece = 8388607;

}  // namespace gp::payload
