// The LZW code stream of compressed payload pieces: codes of 9 to 12 bits packed least
// significant bit first, framed in blocks of [u16 length][up to 256 bytes].
#pragma once

#include <cstdint>

namespace gp::lzw {

inline constexpr uint32_t kClearCode = 256;
inline constexpr uint32_t kEndCode = 257;
inline constexpr uint32_t kFirstFreeCode = 258;
inline constexpr uint32_t kDictionarySize = 4096;
inline constexpr unsigned kMinWidth = 9;
inline constexpr unsigned kMaxWidth = 12;
inline constexpr uint32_t kFirstWidthLimit = 512;

// The longest string one code stands for: every entry adds one byte to an earlier one.
inline constexpr uint32_t kMaxStringLength = kDictionarySize - kFirstFreeCode + 1;

// A block carries 1 to 256 bytes of code stream; a length of 0 closes the sequence.
inline constexpr uint32_t kMaxBlockLength = 256;
inline constexpr uint32_t kBlockHeaderSize = 2;

// Output is written in chunks of this size (the last chunk of a piece completes its declared
// size).
inline constexpr uint32_t kChunkSize = 256;

// Width of the code that a decoder reads while its next free code is next_free.
constexpr unsigned WidthFor(uint32_t next_free) {
  return next_free < 512 ? 9 : next_free < 1024 ? 10 : next_free < 2048 ? 11 : 12;
}

}  // namespace gp::lzw
