// Byte layout of a compound file (structured storage): the header, sector numbers with special
// meaning, and the 128-byte directory entry. Everything is little-endian; values are read with
// base/endian.h, never through struct overlays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp::cfb {

// Header (at offset 0; the header sector is 512 bytes in version 3 and 4096 in version 4).
inline constexpr size_t kHeaderSize = 512;
inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr size_t kHeaderSignature = 0x00;
inline constexpr size_t kHeaderClsid = 0x08;
inline constexpr size_t kHeaderMinorVersion = 0x18;
inline constexpr size_t kHeaderMajorVersion = 0x1A;
inline constexpr size_t kHeaderByteOrder = 0x1C;
inline constexpr size_t kHeaderSectorShift = 0x1E;
inline constexpr size_t kHeaderMiniSectorShift = 0x20;
inline constexpr size_t kHeaderReserved = 0x22;  // 6 bytes
inline constexpr size_t kHeaderDirectorySectors = 0x28;
inline constexpr size_t kHeaderFatSectors = 0x2C;
inline constexpr size_t kHeaderFirstDirectorySector = 0x30;
inline constexpr size_t kHeaderTransactionSignature = 0x34;
inline constexpr size_t kHeaderMiniStreamCutoff = 0x38;
inline constexpr size_t kHeaderFirstMiniFatSector = 0x3C;
inline constexpr size_t kHeaderMiniFatSectors = 0x40;
inline constexpr size_t kHeaderFirstDifatSector = 0x44;
inline constexpr size_t kHeaderDifatSectors = 0x48;
inline constexpr size_t kHeaderDifat = 0x4C;  // 109 sector numbers
inline constexpr uint32_t kHeaderDifatCount = 109;

inline constexpr uint16_t kMinorVersion = 0x003E;
inline constexpr uint16_t kByteOrderMark = 0xFFFE;
inline constexpr uint16_t kSectorShiftV3 = 9;
inline constexpr uint16_t kSectorShiftV4 = 12;
inline constexpr uint16_t kMiniSectorShift = 6;
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kMiniStreamCutoff = 4096;

// Sector numbers.
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSector = 0xFFFFFFFF;

// Directory entry (128 bytes).
inline constexpr size_t kEntrySize = 128;
inline constexpr size_t kEntryName = 0x00;  // 32 UTF-16 units including the terminator
inline constexpr size_t kEntryNameLength = 0x40;  // bytes, including the terminator
inline constexpr size_t kEntryType = 0x42;
inline constexpr size_t kEntryColor = 0x43;
inline constexpr size_t kEntryLeft = 0x44;
inline constexpr size_t kEntryRight = 0x48;
inline constexpr size_t kEntryChild = 0x4C;
inline constexpr size_t kEntryClsid = 0x50;
inline constexpr size_t kEntryStateBits = 0x60;
inline constexpr size_t kEntryCreationTime = 0x64;
inline constexpr size_t kEntryModifiedTime = 0x6C;
inline constexpr size_t kEntryStartSector = 0x74;
inline constexpr size_t kEntrySize64 = 0x78;

inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;
inline constexpr uint32_t kMaxEntry = 0xFFFFFFFA;
inline constexpr size_t kMaxNameUnits = 31;  // without the terminator

inline constexpr uint8_t kTypeEmpty = 0;
inline constexpr uint8_t kTypeStorage = 1;
inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;

inline constexpr uint8_t kColorRed = 0;
inline constexpr uint8_t kColorBlack = 1;

}  // namespace gp::cfb
