#include "codec/x86_filter.h"

#include <bit>

#include "base/endian.h"

namespace gp::codec {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;

// Opcodes (one byte, or the second byte after 0F) whose ModRM commonly addresses memory by
// [rip + disp32] in x86-64 code: moves, lea, arithmetic and compares, the 0F group of SSE moves
// and converts, movzx/movsx, and indirect call/jmp (FF /2, /4).
constexpr uint8_t kX86ModRmOpcodes[] = {
    0x03, 0x0B, 0x0F, 0x10, 0x11, 0x23, 0x28, 0x29, 0x2B, 0x2E, 0x2F, 0x33, 0x38, 0x39, 0x3A,
    0x3B, 0x54, 0x57, 0x58, 0x59, 0x5C, 0x5E, 0x63, 0x6F, 0x7F, 0x80, 0x81, 0x83, 0x84, 0x85,
    0x88, 0x89, 0x8A, 0x8B, 0x8D, 0xB6, 0xB7, 0xBE, 0xBF, 0xC6, 0xC7, 0xF6, 0xFE, 0xFF};

// The opcodes above as a bit set (32 bytes: the package program stays small).
struct OpcodeSet {
  uint32_t words[8] = {};
  constexpr OpcodeSet() {
    for (const uint8_t op : kX86ModRmOpcodes) words[op >> 5] |= uint32_t{1} << (op & 31);
  }
  constexpr bool Has(uint8_t b) const { return ((words[b >> 5] >> (b & 31)) & 1) != 0; }
};
constexpr OpcodeSet kOpcodes;

// data[0, 4) holds a little-endian displacement whose last byte is 00 or FF; after is the file
// position after it.
void Convert(uint8_t* field, uint64_t after, bool encode) {
  uint32_t v = LoadU32(field);
  const auto at = static_cast<uint32_t>(after);
  v = (encode ? v + at : v - at) & 0x1FFFFFFu;
  if ((v & 0x1000000u) != 0) v |= 0xFE000000u;
  StoreU32(field, v);
}

}  // namespace

void X86FilterBlock(uint8_t* data, size_t n, uint64_t position, bool encode) {
  if (n < 6) return;
  const size_t last = n - 6;  // a field and its opcode bytes lie within the block
  size_t i = 0;
  while (i <= last) {
    // Eight positions at a time while none can start a field: no E8 at the position and no
    // byte after it of the ModRM form (the lowest flagged byte of the zero-byte test is exact).
    if (i + 9 <= n) {
      const uint64_t here = LoadU64(data + i);
      const uint64_t next = LoadU64(data + i + 1);
      const uint64_t a = here ^ (kOnes * 0xE8);
      const uint64_t b = (next & (kOnes * 0xC7)) ^ (kOnes * 0x05);
      const uint64_t flagged = ((a - kOnes) & ~a) | ((b - kOnes) & ~b);
      const uint64_t candidates = flagged & (kOnes * 0x80);
      if (candidates == 0) {
        i += 8;
        continue;
      }
      i += static_cast<size_t>(std::countr_zero(candidates)) / 8;
      if (i > last) break;
    }
    // The field starts after E8, or after an opcode's [rip + disp32] ModRM byte.
    size_t field = 0;
    if (data[i] == 0xE8) {
      field = i + 1;
    } else if (kOpcodes.Has(data[i]) && (data[i + 1] & 0xC7) == 0x05) {
      field = i + 2;
    } else {
      ++i;
      continue;
    }
    const uint8_t top = data[field + 3];
    if (top == 0x00 || top == 0xFF) Convert(data + field, position + field + 4, encode);
    i = field + 4;
  }
}

void X86FilterAll(uint8_t* data, size_t n, bool encode) {
  for (size_t at = 0; at < n; at += kX86FilterBlock) {
    const size_t k = n - at < kX86FilterBlock ? n - at : kX86FilterBlock;
    X86FilterBlock(data + at, k, at, encode);
  }
}

}  // namespace gp::codec
