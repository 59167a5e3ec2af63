// The diff encoder on arbitrary pairs of files: the input's first two bytes say where the old
// file ends and the new one begins. Whatever the pair, the diff must rebuild the new file
// exactly from the old one, and stay within the size a literal-only diff would have.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "builder/diff_apply.h"
#include "builder/diff_encoder.h"
#include "format/data_stream.h"

#include "file_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FilePair pair;
  if (!SplitFilePair(data, size, &pair)) return 0;
  const std::span<const uint8_t> old_file = pair.old_file;
  const std::span<const uint8_t> new_file = pair.new_file;
  gp::format::EntryHeader header;
  const std::vector<uint8_t> diff = gp::builder::EncodeDiff(old_file, new_file, header);
  std::vector<uint8_t> rebuilt;
  if (gp::builder::ApplyDiff(old_file, diff, &rebuilt) != gp::builder::DiffStatus::kOk ||
      rebuilt.size() != new_file.size() ||
      !std::equal(rebuilt.begin(), rebuilt.end(), new_file.begin())) {
    std::abort();
  }
  // Literal runs alone would take the header, 2 bytes per 32,767 and the data.
  const size_t literal_only = gp::format::kEntryHeaderSize + new_file.size() +
                              2 * ((new_file.size() + 32766) / 32767);
  if (diff.size() > literal_only) std::abort();
  return 0;
}
