// The certificate table of a signed package executable. Authenticode signing (signtool,
// osslsigncode) pads the file with zero bytes to a multiple of 8, appends a certificate table
// and points the PE security directory (data directory 4) at it. The package data then end
// before the table:
//
//   program image | payload | header | trailer | 0-7 zero bytes | certificate table (to EOF)
//
// Rule: when the file is a PE image (PE32 or PE32+) whose security directory is not empty, the
// table must end exactly at the end of the file, be at least a certificate entry's header
// (8 bytes) long, and be preceded by a package trailer's magic (classic or compact) followed by
// at most 7 zero bytes; the package ends where that magic ends. Anything else is a damaged
// package. A file that is no PE image, or whose security directory is empty, ends where the file ends.
//
// Every read is a bounds-checked little-endian load from memory; the callers hand in the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/trailer.h"

namespace gp::format {

// How much of the file's start is looked at: the DOS header and the PE headers up to the data
// directories must lie in it (they do in every image a linker writes).
inline constexpr size_t kPeHeadReadSize = 4096;
// Zero bytes a signing tool puts between the unsigned file's end and the table.
inline constexpr size_t kMaxCertificatePadding = 7;
// What ends before the table: the trailer's magic (the classic one is the longer) and the
// padding.
inline constexpr size_t kBeforeTableReadSize = kTrailerMagicSize + kMaxCertificatePadding;
// A WIN_CERTIFICATE entry's header: u32 length, u16 revision, u16 type.
inline constexpr uint32_t kMinCertificateTableSize = 8;

struct CertificateTable {
  uint64_t offset = 0;  // file offset (the security directory holds a file offset, not an RVA)
  uint32_t size = 0;
};

enum class CertificateStatus {
  kAbsent,   // no PE image, or an empty security directory
  kPresent,  // a table that ends at the end of the file
  kDamaged,  // a table past the end, not at the end, or shorter than an entry's header
};

// Reads the security directory from head, the first bytes of a file of file_size bytes (at
// most kPeHeadReadSize are needed).
CertificateStatus ReadCertificateTable(std::span<const uint8_t> head, uint64_t file_size,
                                       CertificateTable* table);

// Where the package ends before a table at table_offset: before holds the bytes just before
// the table (the last min(table_offset, kBeforeTableReadSize) of them). True when they end
// with the trailer's magic and at most kMaxCertificatePadding zero bytes; *end is then the
// offset just after the magic.
bool PackageEndBeforeTable(std::span<const uint8_t> before, uint64_t table_offset,
                           uint64_t* end);

enum class PackageEndStatus { kUnsigned, kSigned, kDamaged };

struct PackageEnd {
  uint64_t end = 0;         // where the package data (its trailer) end
  CertificateTable table;   // when signed
};

// Both steps over a file: read_at(offset, buffer, size) reads exactly size bytes or fails.
// A failed read counts as damage only after the table was found; before, the file is taken as
// unsigned (the trailer reading then reports what is wrong).
template <typename ReadAt>
PackageEndStatus LocatePackageEnd(uint64_t file_size, ReadAt&& read_at, PackageEnd* out) {
  out->end = file_size;
  out->table = CertificateTable{};
  uint8_t head[kPeHeadReadSize];
  const size_t head_size = file_size < kPeHeadReadSize ? static_cast<size_t>(file_size)
                                                       : kPeHeadReadSize;
  if (!read_at(uint64_t{0}, head, head_size)) return PackageEndStatus::kUnsigned;
  CertificateTable table;
  const CertificateStatus status =
      ReadCertificateTable(std::span<const uint8_t>(head, head_size), file_size, &table);
  if (status == CertificateStatus::kAbsent) return PackageEndStatus::kUnsigned;
  if (status == CertificateStatus::kDamaged) return PackageEndStatus::kDamaged;
  uint8_t before[kBeforeTableReadSize];
  const size_t before_size = table.offset < kBeforeTableReadSize
                                 ? static_cast<size_t>(table.offset)
                                 : kBeforeTableReadSize;
  uint64_t end = 0;
  if (!read_at(table.offset - before_size, before, before_size) ||
      !PackageEndBeforeTable(std::span<const uint8_t>(before, before_size), table.offset, &end)) {
    return PackageEndStatus::kDamaged;
  }
  out->end = end;
  out->table = table;
  return PackageEndStatus::kSigned;
}

}  // namespace gp::format
