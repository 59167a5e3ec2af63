// Applying a compact diff (format/compact.h): the diff file is checked whole first (its header,
// the sections tiling it, every section's checksum), then its three sections are read side by
// side, each through its own handle, and the new file is written front to back. Every length
// and position is checked against the old file, the sections and the new size before use.
// Memory: three 64 KiB read buffers and two 32 KiB work buffers, besides the old file's blocks;
// for a coded diff (GPD2, GPD4) the models' 3.7 MiB besides, for a filtered one (GPD3, GPD4) a
// 64 KiB block of output.
#pragma once

#include <cstdint>

#include "format/compact.h"

namespace gp {

class OldFileBlocks;
class WriteBehind;

// Reads and checks the diff file at diff_path; false when it is damaged or cannot be read.
bool CheckCompactDiff(const char* diff_path, format::CompactDiffHeader* header);

// Writes the new file to target. False on a damaged diff (commands that leave the old file,
// sections that end too early or hold more than the commands take, a size other than the
// header's) or a failed read or write.
bool RunCompactDiff(const char* diff_path, const format::CompactDiffHeader& header,
                    OldFileBlocks& old, WriteBehind& target);

}  // namespace gp
