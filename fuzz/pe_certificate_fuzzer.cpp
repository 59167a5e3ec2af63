// Where a package ends before a certificate table, on arbitrary files: an unsigned reading ends
// at the end of the file; a signed one ends right after the trailer's magic, at most 7 zero
// bytes before a table that ends the file.
#include <cstdint>
#include <cstring>

#include "format/pe_certificate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read_at = [data, size](uint64_t offset, uint8_t* buffer, size_t n) {
    if (offset > size || n > size - offset) return false;
    if (n != 0) std::memcpy(buffer, data + offset, n);
    return true;
  };
  gp::format::PackageEnd end;
  switch (gp::format::LocatePackageEnd(size, read_at, &end)) {
    case gp::format::PackageEndStatus::kUnsigned:
      if (end.end != size) __builtin_trap();
      break;
    case gp::format::PackageEndStatus::kSigned:
      if (end.table.offset + end.table.size != size || end.end > end.table.offset ||
          end.table.offset - end.end > gp::format::kMaxCertificatePadding ||
          end.end < gp::format::kTrailerMagicSize ||
          std::memcmp(data + end.end - gp::format::kTrailerMagicSize, gp::format::kTrailerMagic,
                      gp::format::kTrailerMagicSize) != 0) {
        __builtin_trap();
      }
      break;
    case gp::format::PackageEndStatus::kDamaged:
      break;
  }
  return 0;
}
