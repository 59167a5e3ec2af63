// A fuzz input read as a pair of files: its first two bytes say where the old file ends and
// the new one begins (modulo the rest's length), the rest is the two files back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct FilePair {
  std::span<const uint8_t> old_file;
  std::span<const uint8_t> new_file;
};

// False for an input shorter than the two split bytes.
inline bool SplitFilePair(const uint8_t* data, size_t size, FilePair* pair) {
  if (size < 2) return false;
  const size_t body = size - 2;
  const size_t split = body == 0 ? 0 : (static_cast<size_t>(data[0]) << 8 | data[1]) % (body + 1);
  pair->old_file = std::span<const uint8_t>(data + 2, split);
  pair->new_file = std::span<const uint8_t>(data + 2 + split, body - split);
  return true;
}
