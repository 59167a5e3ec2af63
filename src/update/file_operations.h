// What one list entry asks for, on the file system: the entry's data stream is copied out of
// the work docfile into a temporary file, the target's folders are created (and journaled), and
// the target is written from a whole-file stream or patched from the old file and a diff file.
//
// Every data stream begins with a 12-byte entry header: u16 year, u8 month, day, hour, minute,
// second, millisecond (the target's last-write time as local wall-clock time), u32 attributes.
// A whole-file stream then holds blocks (u16 length n <= 32,767, n bytes) that tile the rest of
// the stream. A diff file holds commands up to its end: a word below 0x8000 is a literal run of
// that many bytes that follow; 0x8000 is a long copy (u32 offset, u32 length from the old
// file); a word above 0x8000 is a short copy of word - 0x8000 bytes from a u32 offset.
//
// Each operation returns true on success. A failure is shown where it happens, in a message box
// of the run context's host with the package's message caption, an OK button and no owner.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp {

struct FolderJournalState;
struct RunContext;

inline constexpr size_t kStreamHeaderSize = 12;
inline constexpr size_t kStreamYearOffset = 0;
inline constexpr size_t kStreamMonthOffset = 2;
inline constexpr size_t kStreamDayOffset = 3;
inline constexpr size_t kStreamHourOffset = 4;
inline constexpr size_t kStreamMinuteOffset = 5;
inline constexpr size_t kStreamSecondOffset = 6;
inline constexpr size_t kStreamMillisecondOffset = 7;
inline constexpr size_t kStreamAttributesOffset = 8;
inline constexpr size_t kStreamTimeSize = 8;

inline constexpr uint16_t kLiteralRunLimit = 0x8000;  // words below are literal runs
inline constexpr uint16_t kLongCopyWord = 0x8000;
inline constexpr size_t kLongCopyOperandsSize = 8;
inline constexpr size_t kShortCopyOperandsSize = 4;

// Whole-file writes and patches go through this buffer; the largest block, literal run and
// short copy fit it exactly.
inline constexpr uint32_t kTransferBufferSize = 32767;
// Streams are copied out of the work docfile in pieces of this size.
inline constexpr uint32_t kStreamCopyBufferSize = 16u * 1024u * 1024u;

// Applies one entry: stream_path is the entry's new data path in the work docfile, target_path
// the file to write (a stage file, never old_path), expected_crc the old file's checksum, or 0
// for an entry that carries a whole new file. The temporary copy of the stream is deleted
// before the call returns, whatever the outcome.
bool ApplyFileEntry(RunContext& context, const char* old_path, const char* stream_path,
                    const char* target_path, uint32_t expected_crc);

// Writes the whole stream at stream_path into file_path (created or truncated).
bool ExtractStreamToFile(RunContext& context, const char* stream_path, const char* file_path);

// Builds target_path from the whole-file stream held in the plain file source_path.
bool WriteWholeFile(RunContext& context, const char* target_path, const char* source_path);

// Builds target_path from old_path and the diff file diff_path. Without the version check, a
// missing old file writes nothing and one with another checksum is copied unchanged; both
// succeed.
bool PatchFile(RunContext& context, const char* old_path, const char* target_path,
               uint32_t expected_crc, const char* diff_path);

// Makes sure every folder of folder_path (absolute, no trailing backslash) exists; the folders
// it creates are journaled (in journal) as one pair (deepest existing folder, relative rest).
// Changes the current directory while it works and restores it.
bool CreateFolderPath(FolderJournalState& journal, const char* folder_path);

}  // namespace gp
