#include "format/pe_certificate.h"

#include <cstring>

#include "base/byte_reader.h"
#include "format/compact.h"

namespace gp::format {

namespace {

// Offsets of the fields read, each from the start of its structure.
constexpr size_t kDosNewHeaderOffset = 0x3C;  // e_lfanew: file offset of the PE signature
constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kCoffOptionalHeaderSize = 16;  // u16 SizeOfOptionalHeader in the COFF header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// In the optional header: NumberOfRvaAndSizes and the data directories (8 bytes each).
constexpr size_t kPe32DirectoryCount = 92;
constexpr size_t kPe32Directories = 96;
constexpr size_t kPe32PlusDirectoryCount = 108;
constexpr size_t kPe32PlusDirectories = 112;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint8_t kPeSignature[4] = {'P', 'E', 0, 0};

}  // namespace

CertificateStatus ReadCertificateTable(std::span<const uint8_t> head, uint64_t file_size,
                                       CertificateTable* table) {
  *table = CertificateTable{};
  const ByteReader file(head.data(), head.size());
  if (head.size() < kDosHeaderSize || head[0] != 'M' || head[1] != 'Z') {
    return CertificateStatus::kAbsent;
  }
  const size_t pe = LoadU32(head.data() + kDosNewHeaderOffset);
  ByteReader coff;
  if (!file.SubReader(pe, sizeof kPeSignature + kCoffHeaderSize, &coff) ||
      std::memcmp(coff.current(), kPeSignature, sizeof kPeSignature) != 0) {
    return CertificateStatus::kAbsent;
  }
  const uint16_t optional_size =
      LoadU16(coff.current() + sizeof kPeSignature + kCoffOptionalHeaderSize);
  ByteReader optional;
  if (!file.SubReader(pe + sizeof kPeSignature + kCoffHeaderSize, optional_size, &optional)) {
    return CertificateStatus::kAbsent;
  }
  uint16_t magic = 0;
  if (!optional.ReadU16(&magic)) return CertificateStatus::kAbsent;
  size_t count_at = 0;
  size_t directories_at = 0;
  if (magic == kPe32Magic) {
    count_at = kPe32DirectoryCount;
    directories_at = kPe32Directories;
  } else if (magic == kPe32PlusMagic) {
    count_at = kPe32PlusDirectoryCount;
    directories_at = kPe32PlusDirectories;
  } else {
    return CertificateStatus::kAbsent;
  }
  uint32_t count = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
  if (!optional.Seek(count_at) || !optional.ReadU32(&count) || count <= kSecurityDirectory ||
      !optional.Seek(directories_at + 8 * kSecurityDirectory) || !optional.ReadU32(&offset) ||
      !optional.ReadU32(&size)) {
    return CertificateStatus::kAbsent;
  }
  if (size == 0) return CertificateStatus::kAbsent;
  if (size < kMinCertificateTableSize || offset > file_size || size != file_size - offset) {
    return CertificateStatus::kDamaged;
  }
  table->offset = offset;
  table->size = size;
  return CertificateStatus::kPresent;
}

bool PackageEndBeforeTable(std::span<const uint8_t> before, uint64_t table_offset,
                           uint64_t* end) {
  if (before.size() > table_offset) return false;
  size_t padding = 0;
  while (padding < before.size() && before[before.size() - 1 - padding] == 0) ++padding;
  if (padding > kMaxCertificatePadding) return false;
  const size_t magic_end = before.size() - padding;
  auto ends_with = [&](const char* magic, size_t size) {
    return magic_end >= size && std::memcmp(before.data() + magic_end - size, magic, size) == 0;
  };
  // Either format's trailer ends in its magic.
  if (!ends_with(kTrailerMagic, kTrailerMagicSize) &&
      !ends_with(kCompactMagic, kCompactMagicSize)) {
    return false;
  }
  *end = table_offset - padding;
  return true;
}

}  // namespace gp::format
