// The one parse of a package header block (layout in format/header_layout.h). It walks the
// block once through a bounds-checked reader and yields validated values: every text lies
// inside its field's area and ends with a NUL there, the three fixed texts fit a 256-byte slot
// and each group folder a 260-byte buffer, every record and entry lies inside the block. Texts
// are views into the block (NUL-terminated in it), so the block must outlive the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "format/header_layout.h"

namespace gp::format {

struct GroupEntryView {
  std::string_view name;
  std::string_view comment;
  std::string_view folder;  // fewer than kPathBufferSize bytes
};

struct GenerationView {
  std::string_view name;
  std::string_view comment;
  uint8_t entry_count = 0;    // at most the header's group count
  size_t first_entry = 0;     // index of its first entry in PackageHeader::entries
};

// In the order of the checks; a parse stops at the first that fails.
enum class HeaderError {
  kNone,
  kTooShort,              // shorter than the fixed part
  kTextOutside,           // a text's length is 0 or runs past its block, record or entry
  kTextUnterminated,      // no NUL inside a text's length (or before the area ends)
  kTextTooLong,           // a fixed text does not fit its 256-byte slot
  kNegativeCount,         // generation or group count below 0
  kTableOutside,          // the generation table offset lies past the block
  kRecordOutside,         // a record's fixed part or its size runs past the block
  kTooManyEntries,        // a record has more group entries than the group count
  kEntryOutside,          // a group entry's fixed part or size runs past its record
  kFolderTooLong,         // a group folder does not fit a 260-byte buffer
  kNoMemory,
};

struct PackageHeader {
  uint32_t option_words[layout::kOptionWordCount] = {};  // 0x04 .. 0x1C, as stored
  int16_t generation_count = 0;
  int16_t group_count = 0;
  std::string_view comment;         // fewer than kTextSlotSize bytes each
  std::string_view caption;
  std::string_view default_folder;  // its stored length is not relied on
  std::unique_ptr<GenerationView[]> generations;  // generation_count records, oldest first
  std::unique_ptr<GroupEntryView[]> entries;      // every record's entries, in order
  size_t entry_total = 0;
};

// Parses the block [block, block + size). On kNone *header holds the result; otherwise it is
// left empty. Allocates without throwing.
HeaderError ParsePackageHeader(const uint8_t* block, size_t size, PackageHeader* header);

}  // namespace gp::format
