#include "codec/crc32.h"

#include <array>

#include "base/endian.h"

namespace gp::crc32 {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// tables[0] is the byte-wise table; tables[k][i] is the register after table entry i has been
// run through k further zero bytes.
using SliceTables = std::array<std::array<uint32_t, 256>, 16>;

constexpr SliceTables MakeTables() {
  SliceTables t{};
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
  return t;
}

constexpr SliceTables kTables = MakeTables();

// Below this length the folding set-up costs more than it saves.
constexpr size_t kClmulThreshold = 128;

}  // namespace

const uint32_t* Table() { return kTables[0].data(); }

uint32_t UpdateBytewise(uint32_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kTables[0][(crc ^ data[i]) & 0xFF];
  return crc;
}

uint32_t UpdateSlicing16(uint32_t crc, const uint8_t* data, size_t size) {
  while (size >= 16) {
    const uint32_t a = LoadU32(data) ^ crc;
    const uint32_t b = LoadU32(data + 4);
    const uint32_t c = LoadU32(data + 8);
    const uint32_t d = LoadU32(data + 12);
    crc = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
          kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
          kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
          kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
          kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
          kTables[0][d >> 24];
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
