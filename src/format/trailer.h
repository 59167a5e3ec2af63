// The package trailer, the last bytes of every package. It has two forms:
//
//   package executable: u32 payload length, u32 header length, magic   (21 bytes)
//   package data file:  u32 header length, magic                       (17 bytes)
//
// The header ends where the trailer begins; in an executable the payload ends where the header
// begins, in a data file the payload starts at offset 0 and runs to the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gp::format {

inline constexpr char kTrailerMagic[] = "SDIFF(Ver1.0)";
inline constexpr size_t kTrailerMagicSize = sizeof(kTrailerMagic) - 1;  // 13, no NUL
inline constexpr size_t kExecutableTrailerSize = 8 + kTrailerMagicSize;  // 21
inline constexpr size_t kDataFileTrailerSize = 4 + kTrailerMagicSize;    // 17
// Enough of the file's end for either form.
inline constexpr size_t kTrailerReadSize = kExecutableTrailerSize;

enum class PackageForm { kExecutable, kDataFile };

constexpr size_t TrailerSize(PackageForm form) {
  return form == PackageForm::kExecutable ? kExecutableTrailerSize : kDataFileTrailerSize;
}

// What a trailer says, checked against the file's size. Offsets are from the file's start.
struct PackageLayout {
  PackageForm form = PackageForm::kExecutable;
  uint64_t header_offset = 0;
  uint32_t header_length = 0;
  uint64_t payload_offset = 0;
  uint64_t payload_length = 0;  // executable: from the trailer; data file: up to the header
};

// In the order the checks are made; a reading stops at the first that fails. On
// kPayloadOutside the header fields of the layout are filled and valid.
enum class TrailerStatus {
  kOk,
  kTooSmall,        // the file (or the bytes handed in) is shorter than the trailer
  kBadMagic,        // the magic is not at the end
  kHeaderOutside,   // the header is longer than what precedes the trailer
  kPayloadOutside,  // executable: the payload is longer than what precedes the header
};

// Reads the trailer of the given form from tail, the last tail.size() bytes of a file of
// file_size bytes (tail may hold more than the trailer; only its end is read).
TrailerStatus ReadTrailer(PackageForm form, std::span<const uint8_t> tail, uint64_t file_size,
                          PackageLayout* layout);

std::vector<uint8_t> ExecutableTrailer(uint32_t payload_length, uint32_t header_length);
std::vector<uint8_t> DataFileTrailer(uint32_t header_length);

}  // namespace gp::format
