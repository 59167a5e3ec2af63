#include "codec/x86_filter.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/endian.h"
#include "codec/address_map.h"

namespace gp::codec {

namespace {

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

constexpr uint32_t kPositionMask = 0x1FFFFFFu;  // positions are taken modulo 2^25

// Sign-extends a 25-bit value from bit 24, so that the last byte of the field is 00 or FF.
constexpr uint32_t Extend25(uint32_t v) {
  v &= kPositionMask;
  return (v & 0x1000000u) != 0 ? v | 0xFE000000u : v;
}

bool NearField(const uint8_t* field) { return field[3] == 0x00 || field[3] == 0xFF; }

// data[0, 4) holds a little-endian displacement whose last byte is 00 or FF; after is the file
// position after it.
void Convert(uint8_t* field, uint64_t after, bool encode) {
  const uint32_t v = LoadU32(field);
  const auto at = static_cast<uint32_t>(after);
  StoreU32(field, Extend25(encode ? v + at : v - at));
}

// Bit j is set when position j of p[0, 64) may start a field: E8 there (with jumps also E9, or
// 0F followed by 8x), a ModRM byte of the [rip + disp32] form after it, or 0F there and such a
// ModRM byte two bytes after it. Reads p[0, 66).
template <bool kJumps>
uint64_t Candidates(const uint8_t* p) {
#if defined(__SSE2__)
  const __m128i modrm_mask = _mm_set1_epi8(static_cast<char>(0xC7));
  const __m128i modrm_rip = _mm_set1_epi8(0x05);
  uint64_t bits = 0;
  for (int k = 0; k < 64; k += 16) {
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 1));
    const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 2));
    const __m128i escape = _mm_cmpeq_epi8(b0, _mm_set1_epi8(0x0F));
    __m128i m = _mm_cmpeq_epi8(b0, _mm_set1_epi8(static_cast<char>(0xE8)));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(_mm_and_si128(b1, modrm_mask), modrm_rip));
    m = _mm_or_si128(m, _mm_and_si128(escape, _mm_cmpeq_epi8(_mm_and_si128(b2, modrm_mask), modrm_rip)));
    if constexpr (kJumps) {
      m = _mm_or_si128(m, _mm_cmpeq_epi8(b0, _mm_set1_epi8(static_cast<char>(0xE9))));
      const __m128i jcc = _mm_cmpeq_epi8(_mm_and_si128(b1, _mm_set1_epi8(static_cast<char>(0xF0))),
                                         _mm_set1_epi8(static_cast<char>(0x80)));
      m = _mm_or_si128(m, _mm_and_si128(escape, jcc));
    }
    bits |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(m))) << k;
  }
  return bits;
#else
  (void)p;
  return ~uint64_t{0};  // every position is looked at
#endif
}

// Scans a block front to back and calls on_field(field, relative) for every field: after E8
// (and with jumps after E9: relative), after 0F 8x with jumps (relative), after an opcode of
// the lists and a [rip + disp32] ModRM byte; the scan goes on after the field. A decision
// reads bytes i to i + 2 only, and on_field changes only the field's bytes, which lie after
// them: so the candidates of 64 positions, found before any field among them is changed, stay
// true for the positions after that field.
template <bool kJumps, class OnField>
void ScanFields(uint8_t* data, size_t n, OnField on_field) {
  if (n < 6) return;
  const size_t last = n - 6;  // a field and its opcode bytes lie within the block
  size_t next = 0;            // the first position the scan may still look at
  for (size_t base = 0; base <= last; base += 64) {
    uint64_t bits = base + 66 <= n ? Candidates<kJumps>(data + base) : ~uint64_t{0};
    if (next > base) bits = next - base >= 64 ? 0 : bits & (~uint64_t{0} << (next - base));
    while (bits != 0) {
      const size_t i = base + static_cast<size_t>(std::countr_zero(bits));
      if (i > last) return;
      bits &= bits - 1;
      const uint8_t op = data[i];
      size_t field = 0;
      bool relative = false;
      if (op == 0xE8 || (kJumps && op == 0xE9)) {
        field = i + 1;
        relative = op == 0xE9;
      } else if (op == 0x0F) {
        if (kJumps && (data[i + 1] & 0xF0) == 0x80) {
          field = i + 2;
          relative = true;
        } else if (i + 7 <= n && kTwoByte.Has(data[i + 1]) && RipModRm(data[i + 2])) {
          field = i + 3;
        } else {
          continue;
        }
      } else if (kOneByte.Has(op) && RipModRm(data[i + 1])) {
        field = i + 2;
      } else {
        continue;
      }
      on_field(field, relative);
      next = field + 4;
      bits = next - base >= 64 ? 0 : bits & (~uint64_t{0} << (next - base));
    }
  }
}

}  // namespace

void X86FilterBlock(uint8_t* data, size_t n, uint64_t position, bool encode) {
  ScanFields<false>(data, n, [&](size_t field, bool) {
    if (NearField(data + field)) Convert(data + field, position + field + 4, encode);
  });
}

void X86FilterAll(uint8_t* data, size_t n, bool encode) {
  for (size_t at = 0; at < n; at += kX86FilterBlock) {
    const size_t k = n - at < kX86FilterBlock ? n - at : kX86FilterBlock;
    X86FilterBlock(data + at, k, at, encode);
  }
}

void X86PredictBlock(uint8_t* data, size_t n, uint64_t position, const AddressMap& map) {
  size_t here = AddressMap::kNone;  // the segment of the last jump, which the next is likely in
  ScanFields<true>(data, n, [&](size_t field, bool relative) {
    uint8_t* f = data + field;
    if (!NearField(f)) return;
    const uint32_t v = LoadU32(f);
    const uint64_t after = position + field + 4;
    uint64_t to = 0;
    if (!relative) {  // the filter's position, then where it went
      const uint32_t target = (v + static_cast<uint32_t>(after)) & kPositionMask;
      StoreU32(f, Extend25(map.Map(target, &to) ? static_cast<uint32_t>(to) : target));
      return;
    }
    if (!map.Holds(here, after)) here = map.Find(after);
    const uint64_t target = after + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v)));
    // Within one segment a jump moves whole: new(target) - new(after) is the displacement.
    if (here == AddressMap::kNone || map.Holds(here, target) || !map.Map(target, &to)) return;
    StoreU32(f, static_cast<uint32_t>(to - map.Moved(here, after)));
  });
}

void X86PredictAll(uint8_t* data, size_t n, const AddressMap& map) {
  for (size_t at = 0; at < n; at += kX86FilterBlock) {
    const size_t k = n - at < kX86FilterBlock ? n - at : kX86FilterBlock;
    X86PredictBlock(data + at, k, at, map);
  }
}

}  // namespace gp::codec
