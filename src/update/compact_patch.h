// Applying a compact diff (format/compact.h): the diff is checked whole first (its header, the
// sections tiling it, every section's checksum; on its bytes as they are extracted from the
// work docfile, or by a reading of the diff file), then its three sections are read side by
// side, each through its own handle, and the new file is written front to back. Every length
// and position is checked against the old file, the sections and the new size before use.
// Memory: three 64 KiB read buffers and a 32 KiB work buffer (two for a coded diff), besides the
// old file's blocks; for a coded diff (GPD2, GPD4, GPD6) the models' 3.7 MiB besides, for a
// filtered one (GPD3 to GPD6) a 64 KiB block of output, with the prediction (GPD5, GPD6) the map
// of the adds (codec/address_map.h: 24 bytes an add of 16 bytes or more, at most 12 MiB, and
// twice that while it is built).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/compact.h"

namespace gp {

class OldFileBlocks;
class WriteBehind;

// The check of a compact diff stream on its bytes as they pass, front to back.
class CompactDiffCheck {
 public:
  // Before the bytes: the stream's size.
  void Start(uint64_t stream_size);
  void Take(const uint8_t* data, size_t n);
  // After all the stream's bytes: true when its header parsed, the sections tile the stream
  // and every section's checksum matched.
  bool Passed(format::CompactDiffHeader* header) const;

 private:
  uint64_t size_ = 0;
  uint64_t at_ = 0;
  uint8_t head_[format::kCompactDiffHeaderSize] = {};
  bool parsed_ = false;
  bool bad_ = false;
  format::CompactDiffHeader header_;
  uint32_t crc_[format::kCompactSectionCount] = {};
};

// Reads and checks the diff file at diff_path; false when it is damaged or cannot be read.
bool CheckCompactDiff(const char* diff_path, format::CompactDiffHeader* header);

// Writes the new file to target. False on a damaged diff (commands that leave the old file,
// sections that end too early or hold more than the commands take, a size other than the
// header's) or a failed read or write.
bool RunCompactDiff(const char* diff_path, const format::CompactDiffHeader& header,
                    OldFileBlocks& old, WriteBehind& target);

}  // namespace gp
