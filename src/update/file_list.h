// Reading the file list of one step ("%d\list.dat", layout in format/list_record.h) into
// fixed buffers: a reader keeps each string in a 256-byte buffer, terminated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_reader.h"
#include "format/list_record.h"

namespace gp {

inline constexpr size_t kListStringBufferSize = 256;
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
  ByteReader reader_;
  uint32_t count_ = 0;
  uint32_t taken_ = 0;
  bool failed_ = false;
};

}  // namespace gp
