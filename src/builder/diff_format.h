// The diff file that turns an installed (old) file into its new version: a 12-byte entry header
// (last-write time as local wall-clock time, then the attributes), then commands until the end
// of the file, with no count and no end marker. Every number is little-endian.
//
//   word 0x0000-0x7FFF  literal run: `word` bytes of data follow and are appended
//   word 0x8000         long copy: u32 offset, u32 length; appends old[offset, offset + length)
//   word 0x8001-0xFFFF  short copy: u32 offset; appends (word - 0x8000) bytes of the old file
//
// The program that applies a diff streams it through a 32,767-byte buffer, which is why literal
// runs and short copies stop at that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gp::builder {

inline constexpr size_t kEntryHeaderSize = 12;
inline constexpr size_t kEntryYearOffset = 0;
inline constexpr size_t kEntryMonthOffset = 2;
inline constexpr size_t kEntryDayOffset = 3;
inline constexpr size_t kEntryHourOffset = 4;
inline constexpr size_t kEntryMinuteOffset = 5;
inline constexpr size_t kEntrySecondOffset = 6;
inline constexpr size_t kEntryMillisecondOffset = 7;
inline constexpr size_t kEntryAttributesOffset = 8;

inline constexpr uint16_t kLongCopyWord = 0x8000;
inline constexpr uint32_t kMaxLiteralRun = 0x7FFF;
inline constexpr uint32_t kMaxShortCopy = 0x7FFF;
inline constexpr size_t kLiteralHeaderSize = 2;
inline constexpr size_t kShortCopySize = 6;
inline constexpr size_t kLongCopySize = 10;

// Time and attributes carried at the start of every file-data stream.
struct EntryHeader {
  uint16_t year = 1980;
  uint8_t month = 1;
  uint8_t day = 1;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint8_t millisecond = 0;
  uint32_t attributes = 0x20;  // archive

  bool operator==(const EntryHeader&) const = default;
};

// Appends the 12 header bytes to `out`.
void AppendEntryHeader(const EntryHeader& header, std::vector<uint8_t>* out);

// Reads the header from the first 12 bytes of `data`; false when there are fewer.
bool ParseEntryHeader(const uint8_t* data, size_t size, EntryHeader* header);

}  // namespace gp::builder
