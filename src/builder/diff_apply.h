// Applies a diff file in memory. The generator uses it to check every diff it writes before the
// diff goes into a package, and the tests use it as the reference for the format. It is strict
// where the program that applies diffs on the user's machine may be lenient: every operand must
// be present and every copy must lie inside the old file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "format/data_stream.h"

namespace gp::builder {

enum class DiffStatus {
  kOk,
  kTruncatedHeader,   // fewer than 12 bytes
  kTruncatedCommand,  // a command word, operand or literal data runs past the end
  kCopyOutsideOld,    // a copy reaches before or past the old file
  kOutputTooLarge,    // the result would exceed the caller's limit
};

struct DiffCommand {
  enum class Kind { kLiteral, kShortCopy, kLongCopy };
  Kind kind = Kind::kLiteral;
  size_t position = 0;  // offset of the command word in the diff
  uint32_t offset = 0;  // copies: position in the old file
  uint32_t length = 0;  // bytes appended to the target
  const uint8_t* literal = nullptr;  // literal runs: the data inside the diff
};

// Walks the commands after the header, in order. The visitor returns false to stop early (the
// result is then kOk). Checks only that each command is complete.
DiffStatus ForEachDiffCommand(std::span<const uint8_t> diff,
                              const std::function<bool(const DiffCommand&)>& visit);

// Rebuilds the new file from `old_file` and `diff` into `*out` (replaced). `header` may be null.
DiffStatus ApplyDiff(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                     std::vector<uint8_t>* out, format::EntryHeader* header = nullptr,
                     size_t max_output = SIZE_MAX);

}  // namespace gp::builder
