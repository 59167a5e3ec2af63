// Writes the diff file that rebuilds a new file from an old one (format in diff_format.h).
//
// Commands are chosen for the size of the package, where the diff is LZW-compressed: copies are
// taken only where they save more than their command costs, a copy directly after another copy
// needs no literal header and is taken more readily, and copies that continue the previous
// copy's alignment in the old file are tried first (code that moved keeps its offsets).
//
// A copy is judged by where it starts once grown backwards over the literal bytes before it that
// match too, since the match finder may only find it some positions in.
//
// Cost: O(old + new) time with bounded work per position; memory is the two inputs, 4 bytes per
// old byte of hash chains and a head table of at most 256 MiB (see MatchFinder), and the output.
// The output depends only on the inputs and the options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/data_stream.h"

namespace gp::builder {

struct DiffEncodeOptions {
  // Shortest copy taken in the middle of new data (it splits a literal run).
  uint32_t min_copy_in_literals = 16;
  // Shortest copy taken directly after another copy.
  uint32_t min_copy_after_copy = 10;
  // Shortest copy taken on the previous copy's alignment.
  uint32_t min_copy_aligned = 8;
  uint32_t max_candidates = 64;
  uint32_t good_enough = 4096;
  // The match finder indexes one 8-byte key in 2^sample_bits (see MatchFinder): 1 halves the
  // encoding time of large program files for diffs about 0.5 % larger after LZW. The default,
  // kAutoSample, takes 1 for old files of kAutoSampleFrom bytes or more and 0 below.
  static constexpr uint32_t kAutoSample = 0xFFFFFFFFu;
  static constexpr size_t kAutoSampleFrom = size_t{64} << 20;
  uint32_t sample_bits = kAutoSample;
  bool lazy = true;  // defer a copy by one byte when the next position has a longer one
};

struct DiffEncodeStats {
  size_t literal_runs = 0;
  size_t literal_bytes = 0;
  size_t short_copies = 0;
  size_t long_copies = 0;
  size_t copied_bytes = 0;
};

// The whole diff file: the entry header, then the commands.
std::vector<uint8_t> EncodeDiff(std::span<const uint8_t> old_file,
                                std::span<const uint8_t> new_file,
                                const format::EntryHeader& header,
                                const DiffEncodeOptions& options = {},
                                DiffEncodeStats* stats = nullptr);

}  // namespace gp::builder
