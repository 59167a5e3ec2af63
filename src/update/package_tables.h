// The tables that the package header is loaded into: option flags, generation and group
// tables, the seven package texts and the three root folders. Part of the run context: filled
// by the loader at start-up, read by the update engine and the dialogs, released at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "format/header_layout.h"

namespace gp {

enum TextSlot : int {
  kSlotProjectComment = 0,
  kSlotFailureText = 1,
  kSlotCompletionText = 2,
  kSlotMissingFileText = 3,
  kSlotUpToDateText = 4,
  kSlotMessageCaption = 5,
  kSlotDefaultFolder = 6,
  kTextSlotCount = 7,
};

struct GenerationRow {
  const char* name = nullptr;     // view into the header block
  const char* comment = nullptr;  // view into the header block
  uint8_t entry_count = 0;
};

// One cell of the group table: group k of generation g, at g x group count + k. Cells beyond a
// generation's entry count stay empty (filled false, all pointers null).
struct GroupCell {
  bool filled = false;
  const char* name = nullptr;     // view, null when empty
  const char* comment = nullptr;  // view, null when empty
  char* folder = nullptr;         // owned 260-byte buffer, null when empty
};

struct PackageTables {
  PackageTables() = default;
  PackageTables(const PackageTables&) = delete;
  PackageTables& operator=(const PackageTables&) = delete;
  ~PackageTables() { Reset(); }

  // The whole header block; the tables point into it.
  std::unique_ptr<uint8_t[]> header_block;
  uint32_t header_length = 0;

  // The package is in the compact format (format/compact.h): its diffs are compact diffs.
  bool compact = false;

  // The seven words at header offsets 0x04 .. 0x1C, as read.
  uint32_t option_words[layout::kOptionWordCount] = {};
  int16_t generation_count = 0;
  int16_t group_count = 0;

  std::unique_ptr<GenerationRow[]> generations;
  std::unique_ptr<GroupCell[]> groups;  // generation_count x group_count cells, or null

  // Seven 256-byte text slots in one block, and the three 260-byte root folders.
  std::unique_ptr<char[]> texts;
  std::unique_ptr<char[]> destination_folder;
  std::unique_ptr<char[]> windows_folder;
  std::unique_ptr<char[]> system_folder;

  // Option flags by name.
  bool FileRemoval() const { return Word(layout::kFileRemovalFlag) == 1; }
  bool Backup() const { return Word(layout::kBackupFlag) == 1; }
  bool FolderChoice() const { return Word(layout::kFolderChoiceFlag) != 0; }
  bool VersionCheck() const { return Word(layout::kVersionCheckFlag) != 0; }
  bool Restart() const { return Word(layout::kRestartFlag) != 0; }

  char* Text(TextSlot slot) {
    return texts ? texts.get() + slot * layout::kTextSlotSize : nullptr;
  }
  const char* Text(TextSlot slot) const {
    return texts ? texts.get() + slot * layout::kTextSlotSize : nullptr;
  }
  GroupCell* Cell(int generation, int entry) {
    if (!groups || generation < 0 || entry < 0 || generation >= generation_count ||
        entry >= group_count) {
      return nullptr;
    }
    return &groups[static_cast<size_t>(generation) * static_cast<size_t>(group_count) +
                   static_cast<size_t>(entry)];
  }

  void Reset();

 private:
  uint32_t Word(size_t offset) const {
    return option_words[(offset - layout::kOptionWordsStart) / 4];
  }
};

// Allocates the three root folders (260 bytes each, empty) and the seven text slots (all
// zero). False when the memory cannot be had.
bool AllocateTextBuffers(PackageTables& tables);
// Releases the generation and group tables (the group folder buffers with them). Safe to call
// again. The work docfile access object is released by the program flow's
// ReleasePackageTables, which calls this.
void ReleaseGenerationTables(PackageTables& tables);
// Releases the root folders, the package texts and the header block.
void ReleaseTextBuffers(PackageTables& tables);

}  // namespace gp
