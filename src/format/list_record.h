// The file list of one step ("%d\list.dat", step K from generation K-1 to K): a u16 entry count
// N (at most 32,767), then N records back to back. A record holds the old and the new checksum
// and four strings, each a length byte followed by that many code page 932 bytes (no
// terminator needed; a trailing 0 may be included):
//
//   0        u32  old checksum (0: the step has no old file)
//   4        u32  new checksum (0: the step leaves no file)
//   8        u8   L1, then L1 bytes: old data path
//   9+L1     u8   L2, then L2 bytes: new data path
//   10+L1+L2 u8   L3, then L3 bytes: old name
//   ...      u8   L4, then L4 bytes: new name
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace gp::format {

inline constexpr char kListStreamFormat[] = "%d\\list.dat";
inline constexpr size_t kListCountSize = 2;
inline constexpr uint32_t kListMaxEntries = 32767;
inline constexpr size_t kListOldCrcOffset = 0;
inline constexpr size_t kListNewCrcOffset = 4;
inline constexpr size_t kListStringsOffset = 8;
// Four checksum bytes twice and four length bytes.
inline constexpr size_t kListEntryFixedSize = 12;
inline constexpr size_t kListStringMax = 255;

// One record; the strings are views into the list, exactly as stored (a trailing 0 kept).
struct ListRecord {
  uint32_t old_crc = 0;
  uint32_t new_crc = 0;
  std::string_view old_data_path;
  std::string_view new_data_path;
  std::string_view old_name;
  std::string_view new_name;
};

// The entry count (unsigned 16-bit as stored); false when the list is shorter.
bool ReadListCount(ByteReader& reader, uint32_t* count);
// The record at the reader's position; false (the reader wherever it stopped) when the list
// ends inside it.
bool ReadListRecord(ByteReader& reader, ListRecord* record);

void AppendListCount(uint16_t count, std::vector<uint8_t>* out);
// Strings longer than kListStringMax must have been refused before.
void AppendListRecord(const ListRecord& record, std::vector<uint8_t>* out);

}  // namespace gp::format
