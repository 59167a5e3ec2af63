// Byte layout of the package header: fixed part, generation records and group entries. All
// integers little-endian; all texts code page 932 with their terminating NUL counted in their
// lengths. The trailer is in format/trailer.h, the one parse in format/package_header.h.
//
// Folder src/format/: every byte layout of a package, each with its constants once and one
// bounds-checked parse (trailer, header, options stream, list record, data streams), and the
// rule for names inside a package. Nothing outside it reads raw package bytes. It works on
// memory only and may include base alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp::layout {

// Header fixed part.
inline constexpr size_t kHeaderLength = 0x00;
inline constexpr size_t kOptionWordsStart = 0x04;  // seven u32 words, 0x04 .. 0x1C
inline constexpr size_t kOptionWordCount = 7;
inline constexpr size_t kFileRemovalFlag = 0x08;
inline constexpr size_t kBackupFlag = 0x0C;
inline constexpr size_t kFolderChoiceFlag = 0x10;
inline constexpr size_t kVersionCheckFlag = 0x14;
inline constexpr size_t kRestartFlag = 0x1C;
inline constexpr size_t kGenerationCount = 0x20;  // i16
inline constexpr size_t kGroupCount = 0x24;       // i16
inline constexpr size_t kCommentLength = 0x28;
inline constexpr size_t kCaptionLength = 0x2C;
inline constexpr size_t kDefaultFolderLength = 0x30;  // written; the reader runs to the NUL
inline constexpr size_t kGenerationTableOffset = 0x34;
inline constexpr size_t kTexts = 0x38;
inline constexpr size_t kFixedPartSize = 0x38;

// Generation record.
inline constexpr size_t kRecordSize = 0;
inline constexpr size_t kRecordEntryCount = 4;  // u8
inline constexpr size_t kRecordNameLength = 8;
inline constexpr size_t kRecordCommentLength = 12;
inline constexpr size_t kRecordEntriesOffset = 16;
inline constexpr size_t kRecordTexts = 20;

// Group entry.
inline constexpr size_t kEntrySize = 0;
inline constexpr size_t kEntryNameLength = 4;
inline constexpr size_t kEntryCommentLength = 8;
inline constexpr size_t kEntryReserved = 12;  // our writer: the folder length; not read
inline constexpr size_t kEntryTexts = 16;

// Buffers the texts are copied into.
inline constexpr size_t kTextSlotSize = 256;
inline constexpr size_t kPathBufferSize = 260;

}  // namespace gp::layout
