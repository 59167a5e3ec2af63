// The file list of one step ("%d\list.dat"): a u16 entry count N, then N entries back to back.
// Each entry holds the old and the new checksum and four strings, each a length byte followed
// by that many code page 932 bytes (no terminator needed; a trailing 0 may be included):
//
//   0        u32  old checksum (0: the step has no old file)
//   4        u32  new checksum (0: the step leaves no file)
//   8        u8   L1, then L1 bytes: old data path
//   9+L1     u8   L2, then L2 bytes: new data path
//   10+L1+L2 u8   L3, then L3 bytes: old name
//   ...      u8   L4, then L4 bytes: new name
//
// A reader keeps each string in a 256-byte buffer, terminated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"

namespace gp {

inline constexpr size_t kListCountSize = 2;
inline constexpr uint32_t kListMaxEntries = 32767;
inline constexpr size_t kListOldCrcOffset = 0;
inline constexpr size_t kListNewCrcOffset = 4;
inline constexpr size_t kListStringsOffset = 8;
// Four checksum bytes twice and four length bytes.
inline constexpr size_t kListEntryFixedSize = 12;
inline constexpr size_t kListStringBufferSize = 256;
inline constexpr size_t kListStringMax = 255;
// "%d\list.dat" with any 32-bit number fits.
inline constexpr size_t kListPathBufferSize = 24;

struct ListEntry {
  uint32_t old_crc = 0;
  uint32_t new_crc = 0;
  char old_data_path[kListStringBufferSize] = {};
  char new_data_path[kListStringBufferSize] = {};
  char old_name[kListStringBufferSize] = {};
  char new_name[kListStringBufferSize] = {};
};

// Forms "%d\list.dat" for list k into out (kListPathBufferSize bytes).
void FormatListPath(int k, char* out);

// Copies length bytes (at most 255) into out (256 bytes) and terminates them; a copy whose last
// byte is already 0 needs no extra terminator.
void CopyListString(const uint8_t* bytes, size_t length, char* out);

// Walks a whole list held in memory, entry by entry; every field is bounds-checked against the
// block, so a list shorter than its count ends the walk with an error instead of reading past.
class FileListWalker {
 public:
  // False when the block is too short for the count.
  bool Begin(const uint8_t* data, size_t size);
  // The entry count N (unsigned 16-bit as stored).
  uint32_t count() const { return count_; }
  // Entries taken so far.
  uint32_t taken() const { return taken_; }
  // Fills entry with the next one. False when all N were taken or the block ends inside the
  // entry (then failed() is true).
  bool Next(ListEntry* entry);
  bool failed() const { return failed_; }

 private:
  bool ReadString(char* out);

  ByteReader reader_;
  uint32_t count_ = 0;
  uint32_t taken_ = 0;
  bool failed_ = false;
};

}  // namespace gp
