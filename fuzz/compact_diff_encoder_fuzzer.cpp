// The compact diff encoder on arbitrary pairs of files: the input's first two bytes say where
// the old file ends and the new one begins. Whatever the pair, the diff must rebuild the new
// file exactly in both versions (GPD1 raw sections, GPD2 coded) and as the generator chooses,
// and encoding twice must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "builder/compact_diff_apply.h"
#include "builder/compact_diff_encoder.h"
#include "format/data_stream.h"

#include "file_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FilePair pair;
  if (!SplitFilePair(data, size, &pair)) return 0;
  const std::span<const uint8_t> old_file = pair.old_file;
  const std::span<const uint8_t> new_file = pair.new_file;
  gp::format::EntryHeader header;
  for (const auto version : {gp::builder::CompactDiffVersion::kRaw,
                             gp::builder::CompactDiffVersion::kCoded,
                             gp::builder::CompactDiffVersion::kSmaller}) {
    const std::vector<uint8_t> diff =
        gp::builder::EncodeCompactDiff(old_file, new_file, header, nullptr, nullptr, version);
    std::vector<uint8_t> rebuilt;
    if (!gp::builder::ApplyCompactDiff(old_file, diff, &rebuilt) ||
        rebuilt.size() != new_file.size() ||
        !std::equal(rebuilt.begin(), rebuilt.end(), new_file.begin())) {
      std::abort();
    }
    if (gp::builder::EncodeCompactDiff(old_file, new_file, header, nullptr, nullptr, version) !=
        diff) {
      std::abort();
    }
  }
  return 0;
}
