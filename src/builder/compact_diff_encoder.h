// Writes the compact diff of a new file against an old one (layout in format/compact.h).
//
// The method is that of bsdiff (Colin Percival, "Naive differences of executable code"): find
// a long exact match of the new file in the old one, stretch the previous match forward and
// this one backward as long as at least half of the bytes agree, and store the stretched match
// as byte-wise differences (mostly zero in a recompiled program, whose code moved and whose
// addresses changed by small amounts), the bytes between as literals, and the jump in the old
// file as a signed delta. Exact matches come from the hash-chain MatchFinder, not a suffix
// array: it needs no more memory than 8 bytes per old byte (MatchFinder with small_head), and
// a candidate on the previous match's alignment is always weighed (bsdiff's "old score").
//
// Memory: the two inputs, 8 bytes per old byte of match finder (9 per old byte in all, with the
// old file), and the sections (at most about the new file's size); over the x86 filter, filtered
// copies of both inputs besides (10 per old byte). Time: O(new) searches of bounded work, twice
// when both diffs are weighed. The output depends only on the inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "format/data_stream.h"

namespace gp::builder {

struct CompactDiffStats {
  size_t controls = 0;
  size_t added_bytes = 0;
  size_t literal_bytes = 0;
};

// GPD1: raw sections, deflated with the rest of the payload. GPD2: coded sections. kSmaller
// (the generator's choice) writes GPD2 unless the raw diff is at most 4 KiB or deflates smaller
// than the coded sections: for small diffs the coder's fixed cost and cold models lose against
// deflate, which also sees the other files' diffs.
enum class CompactDiffVersion { kRaw = 1, kCoded = 2, kSmaller = 3 };

// Whether the diff is taken between the files as given, as turned by the x86 branch filter
// (codec/x86_filter.h: GPD3 and GPD4), or so and with the x86 address prediction of the old
// file (GPD5 and GPD6). kChoose encodes the plain diff and, from one more parse, the filtered
// one with and without the prediction, keeps the smaller of those two, and takes it when it
// packs smaller than the plain one, for raw diffs by at least 1/32 (the program pays passes
// over the file for it). The filtered copies of both files and the predicted copy of the old
// one add their sizes to the memory (after the match finder is gone).
enum class CompactDiffFilter { kNone, kX86, kX86Predict, kChoose };

// Called now and then with the new-file bytes done so far.
using CompactDiffProgress = std::function<void(uint64_t done, uint64_t total)>;

// The whole diff stream: the entry header, the compact diff header and the sections.
std::vector<uint8_t> EncodeCompactDiff(std::span<const uint8_t> old_file,
                                       std::span<const uint8_t> new_file,
                                       const format::EntryHeader& header,
                                       CompactDiffStats* stats = nullptr,
                                       const CompactDiffProgress& progress = nullptr,
                                       CompactDiffVersion version = CompactDiffVersion::kSmaller,
                                       CompactDiffFilter filter = CompactDiffFilter::kNone);

// The diff that rebuilds a file of size bytes from itself (GPD1: one zero run costs nothing to
// apply).
std::vector<uint8_t> CompactIdentityDiff(const format::EntryHeader& header, uint64_t size);

// Codes raw difference bytes as the difference section's groups.
std::vector<uint8_t> PackDifferences(std::span<const uint8_t> raw);

}  // namespace gp::builder
