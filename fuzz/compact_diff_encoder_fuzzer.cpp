// The compact diff encoder on arbitrary pairs of files: the input's first two bytes say where
// the old file ends and the new one begins. Whatever the pair, the diff must rebuild the new
// file exactly in every version (raw or coded sections, over the files as given, as turned by
// the x86 branch filter, or so and with the address prediction) and as the generator chooses, and encoding twice must give the same
// bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <utility>
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
  using gp::builder::CompactDiffFilter;
  using gp::builder::CompactDiffVersion;
  const std::pair<CompactDiffVersion, CompactDiffFilter> kinds[] = {
      {CompactDiffVersion::kRaw, CompactDiffFilter::kNone},
      {CompactDiffVersion::kCoded, CompactDiffFilter::kNone},
      {CompactDiffVersion::kRaw, CompactDiffFilter::kX86},
      {CompactDiffVersion::kCoded, CompactDiffFilter::kX86},
      {CompactDiffVersion::kRaw, CompactDiffFilter::kX86Predict},
      {CompactDiffVersion::kCoded, CompactDiffFilter::kX86Predict},
      {CompactDiffVersion::kSmaller, CompactDiffFilter::kChoose}};
  for (const auto& [version, filter] : kinds) {
    const std::vector<uint8_t> diff = gp::builder::EncodeCompactDiff(
        old_file, new_file, header, nullptr, nullptr, version, filter);
    std::vector<uint8_t> rebuilt;
    if (!gp::builder::ApplyCompactDiff(old_file, diff, &rebuilt) ||
        rebuilt.size() != new_file.size() ||
        !std::equal(rebuilt.begin(), rebuilt.end(), new_file.begin())) {
      std::abort();
    }
    if (gp::builder::EncodeCompactDiff(old_file, new_file, header, nullptr, nullptr, version,
                                       filter) != diff) {
      std::abort();
    }
  }
  return 0;
}
