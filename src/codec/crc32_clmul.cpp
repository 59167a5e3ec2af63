// Checksum by carry-less multiplication folding. The message is folded 128 bits at a time:
// a 128-bit lane L that stands D bits before the data it meets is replaced by
// low64(L) * (x^(D+32) mod P) xor high64(L) * (x^(D-32) mod P), both constants bit-reflected
// and shifted left by one, which keeps the remainder modulo P unchanged. The last 128-bit
// lane is then an ordinary 16-byte message whose table checksum from 0 is the result.
#include "codec/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define GP_CRC32_HAVE_CLMUL 1
// The 512-bit path is left out of MinGW builds: that toolchain does not align the stack for
// spilled 64-byte vector registers on Windows, which faults at run time.
#if !defined(__MINGW32__)
#define GP_CRC32_HAVE_WIDE_CLMUL 1
#endif
#endif

namespace gp::crc32 {

#if defined(GP_CRC32_HAVE_CLMUL)

namespace {

// x^(D+32) and x^(D-32) modulo P, reflected, for D = 16*128 (four 512-bit lanes apart),
// 8*128 (eight 128-bit lanes apart), 4*128 and 128.
constexpr uint64_t kFold2048Low = 0x11542778a;
constexpr uint64_t kFold2048High = 0x1322d1430;
constexpr uint64_t kFold1024Low = 0x1e88ef372;
constexpr uint64_t kFold1024High = 0x14a7fe880;
constexpr uint64_t kFold512Low = 0x154442bd4;
constexpr uint64_t kFold512High = 0x1c6e41596;
constexpr uint64_t kFold128Low = 0x1751997d0;
constexpr uint64_t kFold128High = 0x0ccaa009e;

#define GP_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

GP_CLMUL_TARGET inline __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

GP_CLMUL_TARGET inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

GP_CLMUL_TARGET uint32_t FoldBlocks(uint32_t crc, const uint8_t* data, size_t size) {
  // size is a multiple of 16 and at least 128.
  __m128i lane[8];
  for (int i = 0; i < 8; ++i) lane[i] = Load(data + 16 * i);
  lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
  data += 128;
  size -= 128;

  const __m128i k1024 = _mm_set_epi64x(static_cast<long long>(kFold1024High),
                                       static_cast<long long>(kFold1024Low));
  while (size >= 128) {
    for (int i = 0; i < 8; ++i) lane[i] = Fold(lane[i], k1024, Load(data + 16 * i));
    data += 128;
    size -= 128;
  }

  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High),
                                      static_cast<long long>(kFold512Low));
  for (int i = 0; i < 4; ++i) lane[i] = Fold(lane[i], k512, lane[i + 4]);

  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High),
                                      static_cast<long long>(kFold128Low));
  __m128i x = lane[0];
  for (int i = 1; i < 4; ++i) x = Fold(x, k128, lane[i]);
  while (size >= 16) {
    x = Fold(x, k128, Load(data));
    data += 16;
    size -= 16;
  }

  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return UpdateSlicing16(0, rest, sizeof(rest));
}

#if defined(GP_CRC32_HAVE_WIDE_CLMUL)

#define GP_WIDE_CLMUL_TARGET \
  __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

GP_WIDE_CLMUL_TARGET inline __m512i FoldWide(__m512i lane, __m512i constants, __m512i next) {
  const __m512i low = _mm512_clmulepi64_epi128(lane, constants, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(lane, constants, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way xor
}

GP_WIDE_CLMUL_TARGET inline __m512i LoadWide(const uint8_t* p) {
  return _mm512_loadu_si512(p);
}

GP_WIDE_CLMUL_TARGET __m512i Broadcast(uint64_t low, uint64_t high) {
  const auto l = static_cast<long long>(low);
  const auto h = static_cast<long long>(high);
  return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

GP_WIDE_CLMUL_TARGET uint32_t FoldBlocksWide(uint32_t crc, const uint8_t* data, size_t size) {
  // size is a multiple of 16 and at least 256.
  __m512i lane[4];
  for (int i = 0; i < 4; ++i) lane[i] = LoadWide(data + 64 * i);
  lane[0] = _mm512_xor_si512(lane[0],
                             _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  data += 256;
  size -= 256;

  const __m512i k2048 = Broadcast(kFold2048Low, kFold2048High);
  while (size >= 256) {
    for (int i = 0; i < 4; ++i) lane[i] = FoldWide(lane[i], k2048, LoadWide(data + 64 * i));
    data += 256;
    size -= 256;
  }

  const __m512i k512 = Broadcast(kFold512Low, kFold512High);
  __m512i z = lane[0];
  for (int i = 1; i < 4; ++i) z = FoldWide(z, k512, lane[i]);
  while (size >= 64) {
    z = FoldWide(z, k512, LoadWide(data));
    data += 64;
    size -= 64;
  }

  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High),
                                      static_cast<long long>(kFold128Low));
  alignas(64) uint8_t quarters[64];
  _mm512_store_si512(quarters, z);
  __m128i x = Load(quarters);
  for (int i = 1; i < 4; ++i) x = Fold(x, k128, Load(quarters + 16 * i));
  while (size >= 16) {
    x = Fold(x, k128, Load(data));
    data += 16;
    size -= 16;
  }

  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return UpdateSlicing16(0, rest, sizeof(rest));
}

#endif

}  // namespace

bool WideClmulAvailable() {
#if defined(GP_CRC32_HAVE_WIDE_CLMUL)
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("vpclmulqdq") && ClmulAvailable();
#else
  return false;
#endif
}

uint32_t UpdateClmulWide(uint32_t crc, const uint8_t* data, size_t size) {
#if defined(GP_CRC32_HAVE_WIDE_CLMUL)
  if (size >= 256) {
    const size_t folded = size & ~static_cast<size_t>(15);
    crc = FoldBlocksWide(crc, data, folded);
    return UpdateSlicing16(crc, data + folded, size - folded);
  }
#endif
  return UpdateClmul(crc, data, size);
}

// Read from CPUID directly: libgcc's feature table would add 5 KB to the package program.
bool ClmulAvailable() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_PCLMUL) != 0 &&
         (ecx & bit_SSE4_1) != 0;
}

uint32_t UpdateClmul(uint32_t crc, const uint8_t* data, size_t size) {
  if (size < 128) return UpdateSlicing16(crc, data, size);
  const size_t folded = size & ~static_cast<size_t>(15);
  crc = FoldBlocks(crc, data, folded);
  return UpdateSlicing16(crc, data + folded, size - folded);
}

#else

bool ClmulAvailable() { return false; }
bool WideClmulAvailable() { return false; }

uint32_t UpdateClmulWide(uint32_t crc, const uint8_t* data, size_t size) {
  return UpdateSlicing16(crc, data, size);
}

uint32_t UpdateClmul(uint32_t crc, const uint8_t* data, size_t size) {
  return UpdateSlicing16(crc, data, size);
}

#endif

}  // namespace gp::crc32
