// Compact diff streams (GPD1 to GPD6) applied to a small old file, by the package program's decoder and by
// the in-memory reference; both must agree on success and on every rebuilt byte. The section
// checksums are set to match before the diff is applied, so that the input reaches the
// commands (a wrong checksum is refused before anything else, which the unit tests check).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/compact_diff_apply.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "format/header_layout.h"
#include "platform/platform.h"
#include "ui/scripted_host.h"
#include "update/file_operations.h"
#include "update/run_context.h"
#include "patch_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  static Scratch scratch("gp-compact-fuzz-");
  if (!scratch.ready) return 0;
  std::vector<uint8_t> diff(data, data + size);
  gp::format::CompactDiffHeader header;
  if (gp::format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &header)) {
    // The entry header's time is one every file system holds: the program stamps it on the
    // file it rebuilds (a time the scratch folder's file system refuses fails the patch), the
    // reference does not.
    static constexpr uint8_t kTime[8] = {0xE8, 0x07, 0x05, 0x06, 0x07, 0x08, 0x09, 0x00};
    std::copy(kTime, kTime + sizeof kTime, diff.begin());
    // Keep the new size small enough for the reference to hold it (and, coded, to decode fast:
    // a few coded bytes can stand for any number of literals).
    if (header.new_size > (uint64_t{1} << (header.coded ? 16 : 24))) return 0;
    for (size_t i = 0; i < gp::format::kCompactSectionCount; ++i) {
      const uint32_t crc = gp::Crc32Update(0, diff.data() + header.offset[i],
                                           static_cast<int64_t>(header.length[i]));
      gp::StoreU32(diff.data() + gp::format::kCompactDiffSectionsOffset +
                       i * gp::format::kCompactSectionEntrySize + 8,
                   crc);
    }
  }
  gp::PackageTables& p = scratch.context.package;
  p.Reset();
  if (!gp::AllocateTextBuffers(p)) return 0;
  p.compact = true;
  p.option_words[(gp::layout::kVersionCheckFlag - gp::layout::kOptionWordsStart) / 4] = 1;
  {
    std::ofstream out(fs::path(scratch.folder / "diff.bin"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(diff.data()), static_cast<std::streamsize>(diff.size()));
  }
  const bool ok =
      gp::PatchFile(scratch.context, scratch.old_path.c_str(), scratch.target_path.c_str(),
                    scratch.old_crc, scratch.diff_path.c_str());
  std::vector<uint8_t> reference;
  const bool reference_ok = gp::builder::ApplyCompactDiff(scratch.old, diff, &reference);
  if (ok != reference_ok) __builtin_trap();
  if (ok) {
    std::ifstream in(scratch.target_host, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    if (written != reference) __builtin_trap();
  }
  std::error_code ec;
  fs::remove(scratch.target_host, ec);
  p.Reset();
  return 0;
}
