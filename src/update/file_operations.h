// What one list entry asks for, on the file system: the entry's data stream is copied out of
// the work docfile into a temporary file, the target's folders are created (and journaled), and
// the target is written from a whole-file stream or patched from the old file and a diff file.
//
// The data streams (entry header, whole-file blocks, diff commands) are laid out in
// format/data_stream.h.
//
// Each operation returns true on success. A failure is shown where it happens, in a message box
// of the run context's host with the package's message caption, an OK button and no owner.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace gp {

struct FolderJournalState;
struct RunContext;
class CompactDiffCheck;

// Whole-file writes and patches go through this buffer; the largest block, literal run and
// short copy fit it exactly.
inline constexpr uint32_t kTransferBufferSize = 32767;
// Streams are copied out of the work docfile in pieces of this size.
inline constexpr uint32_t kStreamCopyBufferSize = 16u * 1024u * 1024u;

// What a write built: whether the target was built from the stream (false when a patch without
// the version check copied the old file or wrote nothing) and the checksum of the bytes written
// (the whole-file checksum of codec/crc32.h, 0xFFFFFFFF for an empty file), computed while they
// were written. A built target's flush was started before it was closed
// (platform::File::StartFlush); the commit completes it for the files it moves in.
struct WrittenFile {
  bool built = false;
  uint32_t crc = 0;
};

// Applies one entry: stream_path is the entry's new data path in the work docfile, target_path
// the file to write (a stage file, never old_path), expected_crc the old file's checksum, or 0
// for an entry that carries a whole new file. The temporary copy of the stream is deleted
// before the call returns, whatever the outcome. written, when given, says what was built.
bool ApplyFileEntry(RunContext& context, const char* old_path, const char* stream_path,
                    const char* target_path, uint32_t expected_crc,
                    WrittenFile* written = nullptr);

// Writes the whole stream at stream_path into file_path (created or truncated); check, when
// given, is started with the stream's size and takes its bytes as they pass.
bool ExtractStreamToFile(RunContext& context, const char* stream_path, const char* file_path,
                         CompactDiffCheck* check = nullptr);

// Builds target_path from the whole-file stream held in the plain file source_path.
bool WriteWholeFile(RunContext& context, const char* target_path, const char* source_path,
                    WrittenFile* written = nullptr);

// Builds target_path from old_path and the diff file diff_path. Without the version check, a
// missing old file writes nothing and one with another checksum is copied unchanged; both
// succeed, and written says nothing was built (a copy's flush is started too).
// A compact diff is checked by checked, when given (it took the diff's bytes as they were
// extracted), or else by a reading of the diff file.
bool PatchFile(RunContext& context, const char* old_path, const char* target_path,
               uint32_t expected_crc, const char* diff_path, WrittenFile* written = nullptr,
               const CompactDiffCheck* checked = nullptr);

// The stage file of an entry that leaves a file unchanged (its old and new checksums are the
// same, and so are its old and new paths): instead of a copy written byte by byte, target_path
// becomes a second name of old_path (a hard link), so that an update writes to the disk only
// what it changes. The entry header of the stream at stream_path, whose time and attributes
// the commit gives the file once it is in place, goes to header. False, with nothing made,
// when old_path does not have the checksum crc, target_path exists, or the volume cannot link:
// the caller then writes the stage file as usual.
bool LinkUnchangedFile(RunContext& context, const char* old_path, const char* stream_path,
                       const char* target_path, uint32_t crc, std::array<uint8_t, 12>* header);

// Gives the file at path the time and attributes of an entry header (12 bytes). False when
// either cannot be set.
bool StampFile(const char* path, const std::array<uint8_t, 12>& header);

// Makes sure every folder of folder_path (absolute, no trailing backslash) exists; the folders
// it creates are journaled (in journal) as one pair (deepest existing folder, relative rest).
// Changes the current directory while it works and restores it.
bool CreateFolderPath(FolderJournalState& journal, const char* folder_path);

}  // namespace gp
