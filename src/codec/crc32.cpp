#include "codec/crc32.h"

#include <array>

#include "base/endian.h"

namespace gp::crc32 {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// tables[0] is the byte-wise table; tables[k][i] is the register after table entry i has been
// run through k further zero bytes.
using SliceTables = std::array<std::array<uint32_t, 256>, 16>;

// Filled when first used rather than stored in the program: the package program travels in
// every package, and 16 KiB of tables cost more there than the microseconds that make them.
SliceTables filled_tables;  // zero until Tables() fills it

bool FillTables(SliceTables& t) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][i] = c;
  }
  for (size_t k = 1; k < t.size(); ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t prev = t[k - 1][i];
      t[k][i] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return true;
}

const SliceTables& Tables() {
  static const bool filled = FillTables(filled_tables);  // once, safe between threads
  static_cast<void>(filled);
  return filled_tables;
}

// Below this length the folding set-up costs more than it saves.
constexpr size_t kClmulThreshold = 128;

}  // namespace

const uint32_t* Table() { return Tables()[0].data(); }

uint32_t UpdateBytewise(uint32_t crc, const uint8_t* data, size_t size) {
  const SliceTables& tables = Tables();
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ tables[0][(crc ^ data[i]) & 0xFF];
  return crc;
}

uint32_t UpdateSlicing16(uint32_t crc, const uint8_t* data, size_t size) {
  const SliceTables& tables = Tables();
  while (size >= 16) {
    const uint32_t a = LoadU32(data) ^ crc;
    const uint32_t b = LoadU32(data + 4);
    const uint32_t c = LoadU32(data + 8);
    const uint32_t d = LoadU32(data + 12);
    crc = tables[15][a & 0xFF] ^ tables[14][(a >> 8) & 0xFF] ^ tables[13][(a >> 16) & 0xFF] ^
          tables[12][a >> 24] ^ tables[11][b & 0xFF] ^ tables[10][(b >> 8) & 0xFF] ^
          tables[9][(b >> 16) & 0xFF] ^ tables[8][b >> 24] ^ tables[7][c & 0xFF] ^
          tables[6][(c >> 8) & 0xFF] ^ tables[5][(c >> 16) & 0xFF] ^ tables[4][c >> 24] ^
          tables[3][d & 0xFF] ^ tables[2][(d >> 8) & 0xFF] ^ tables[1][(d >> 16) & 0xFF] ^
          tables[0][d >> 24];
    data += 16;
    size -= 16;
  }
  return UpdateBytewise(crc, data, size);
}

}  // namespace gp::crc32

namespace gp {

namespace {

using UpdateFunction = uint32_t (*)(uint32_t, const uint8_t*, size_t);

// The fastest variant this processor runs; chosen once, never changes afterwards.
UpdateFunction SelectLongUpdate() {
  if (crc32::WideClmulAvailable()) return crc32::UpdateClmulWide;
  if (crc32::ClmulAvailable()) return crc32::UpdateClmul;
  return crc32::UpdateSlicing16;
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, int64_t length) {
  if (length <= 0 || data == nullptr) return crc;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t size = static_cast<size_t>(length);
  if (size < crc32::kClmulThreshold) return crc32::UpdateSlicing16(crc, bytes, size);
  static const UpdateFunction long_update = SelectLongUpdate();
  return long_update(crc, bytes, size);
}

}  // namespace gp
