#include "codec/x86_filter.h"

#include <bit>

#include "base/endian.h"

namespace gp::codec {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;

// The high bit of every byte of v that is zero, and maybe of bytes above a zero byte.
constexpr uint64_t ZeroBytes(uint64_t v) { return (v - kOnes) & ~v & (kOnes * 0x80); }

// One-byte opcodes whose ModRM commonly addresses memory by [rip + disp32] in x86-64 code:
// moves, lea, arithmetic and compares, and indirect call/jmp (FF /2, /4).
constexpr uint8_t kOneByteOpcodes[] = {0x03, 0x0B, 0x23, 0x2B, 0x33, 0x38, 0x39, 0x3A, 0x3B,
                                       0x63, 0x80, 0x81, 0x83, 0x84, 0x85, 0x88, 0x89, 0x8A,
                                       0x8B, 0x8D, 0xC6, 0xC7, 0xF6, 0xFE, 0xFF};
// Second bytes of two-byte opcodes (after 0F) of the same kind: SSE moves, converts and
// arithmetic, cmovcc, imul, movzx/movsx, cmpxchg, xadd. E8 is none of them (see
// X86FilterBlock).
constexpr uint8_t kTwoByteOpcodes[] = {
    0x10, 0x11, 0x28, 0x29, 0x2A, 0x2C, 0x2D, 0x2E, 0x2F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x51, 0x54, 0x57, 0x58, 0x59,
    0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x6E, 0x6F, 0x7E, 0x7F, 0xAF, 0xB1, 0xB6, 0xB7, 0xBE,
    0xBF, 0xC1, 0xC2, 0xD6, 0xEF};

// A set of byte values (32 bytes: the package program stays small).
struct ByteSet {
  uint32_t words[8] = {};
  template <size_t N>
  constexpr explicit ByteSet(const uint8_t (&values)[N]) {
    for (const uint8_t v : values) words[v >> 5] |= uint32_t{1} << (v & 31);
  }
  constexpr bool Has(uint8_t b) const { return ((words[b >> 5] >> (b & 31)) & 1) != 0; }
};
constexpr ByteSet kOneByte(kOneByteOpcodes);
constexpr ByteSet kTwoByte(kTwoByteOpcodes);
static_assert(!kTwoByte.Has(0xE8));

bool RipModRm(uint8_t modrm) { return (modrm & 0xC7) == 0x05; }

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
    // Eight positions at a time while none can start a field: no E8 at the position, no byte
    // of the ModRM form after it, and no 0F with one two bytes after it. The zero-byte test
    // flags every zero byte (and may flag bytes above one), so no field is missed; a flagged
    // position that starts none is passed below.
    if (i + 10 <= n) {
      const uint64_t here = LoadU64(data + i);
      const uint64_t e8 = ZeroBytes(here ^ (kOnes * 0xE8));
      const uint64_t modrm = ZeroBytes((LoadU64(data + i + 1) & (kOnes * 0xC7)) ^ (kOnes * 0x05));
      const uint64_t modrm2 = ZeroBytes((LoadU64(data + i + 2) & (kOnes * 0xC7)) ^ (kOnes * 0x05));
      const uint64_t candidates = e8 | modrm | (ZeroBytes(here ^ (kOnes * 0x0F)) & modrm2);
      if (candidates == 0) {
        i += 8;
        continue;
      }
      i += static_cast<size_t>(std::countr_zero(candidates)) / 8;
      if (i > last) break;
    }
    // The field starts after E8, or after an opcode's [rip + disp32] ModRM byte. A decision
    // reads bytes i to i + 2; a later field starts after i and so never changes bytes i and
    // i + 1, and changes byte i + 2 only when byte i + 1 is E8, which no two-byte opcode is.
    size_t field = 0;
    if (data[i] == 0xE8) {
      field = i + 1;
    } else if (data[i] == 0x0F) {
      if (i + 7 > n || !kTwoByte.Has(data[i + 1]) || !RipModRm(data[i + 2])) {
        ++i;
        continue;
      }
      field = i + 3;
    } else if (kOneByte.Has(data[i]) && RipModRm(data[i + 1])) {
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
