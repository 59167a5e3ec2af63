// The commit journal: a decode of any bytes stays inside them, with the stored checksum and
// with the checksum made to match (so that the steps are read, not only the checksum). A journal
// that decodes encodes to the same bytes.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "codec/crc32.h"
#include "format/commit_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1024 * 1024) return 0;
  // An exact-size copy, so that a read past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const size_t body = size >= gp::format::kJournalChecksumSize
                          ? size - gp::format::kJournalChecksumSize
                          : 0;
  const uint32_t checksum = gp::Crc32Update(0, bytes.data(), static_cast<int64_t>(body));
  for (const uint32_t given : {checksum, checksum ^ 1u}) {
    gp::format::CommitJournal journal;
    if (gp::format::DecodeCommitJournal(std::span<const uint8_t>(bytes), given, &journal) !=
        gp::format::JournalStatus::kOk) {
      continue;
    }
    std::vector<uint8_t> again;
    if (!gp::format::EncodeCommitJournal(journal, &again)) __builtin_trap();
    gp::format::AppendJournalChecksum(&again, given);
    if (again != bytes) __builtin_trap();
  }
  return 0;
}
