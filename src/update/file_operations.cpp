#include "update/file_operations.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "base/endian.h"
#include "base/texts.h"
#include "codec/crc32.h"
#include "format/data_stream.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/path_text.h"
#include "storage/work_docfile.h"
#include "ui/host.h"
#include "update/entry_path.h"
#include "update/compact_patch.h"
#include "update/package_tables.h"
#include "update/patch_streams.h"
#include "update/run_context.h"

namespace gp {

namespace {

// The temporary folder and the saved current directory are queried into 256-byte buffers; the
// deepest existing folder into 260 bytes.
constexpr uint32_t kQueryBufferSize = 256;
constexpr uint32_t kFolderBufferSize = 260;
// The diff is read ahead, and the rebuilt file written behind, through buffers of this size,
// so that the many small commands of a diff do not each cost a system call.
constexpr size_t kPatchStreamBufferSize = 64 * 1024;

using Bytes = std::unique_ptr<uint8_t[]>;

// The whole-file checksum of an empty file (FileCrc32's convention).
constexpr uint32_t kEmptyFileCrc = 0xFFFFFFFFu;

Bytes Allocate(size_t size) { return Bytes(new (std::nothrow) uint8_t[size]); }

void ShowMessage(RunContext& context, const char* text) {
  const char* caption = context.package.Text(kSlotMessageCaption);
  context.host.MessageBox(nullptr, text ? text : "", caption ? caption : "", ui::kMbOk);
}

void ShowFailure(RunContext& context) {
  ShowMessage(context, context.package.Text(kSlotFailureText));
}
void ShowDiskFull(RunContext& context) { ShowMessage(context, texts::kTextDiskFull); }
void ShowMissingFile(RunContext& context) {
  ShowMessage(context, context.package.Text(kSlotMissingFileText));
}

using platform::ReadExact;
using platform::WriteAll;

struct StreamHeader {
  platform::LocalTime time;
  uint32_t attributes = 0;
};

StreamHeader DecodeHeader(const uint8_t (&bytes)[format::kEntryHeaderSize]) {
  format::EntryHeader entry;
  format::ParseEntryHeader(bytes, sizeof bytes, &entry);
  StreamHeader header;
  header.time.year = entry.year;
  header.time.month = entry.month;
  header.time.day = entry.day;
  header.time.hour = entry.hour;
  header.time.minute = entry.minute;
  header.time.second = entry.second;
  header.time.millisecond = entry.millisecond;
  header.attributes = entry.attributes;
  return header;
}

// Sets the last-write time through the open handle. A date that the calendar rejects keeps the
// file's current time; false only when a valid time cannot be set.
bool StampTime(platform::File& file, const platform::LocalTime& time) {
  if (!platform::File::ValidLocalTime(time)) return true;
  return file.SetLastWriteTime(time);
}

// The commands of a diff after its header. consumed counts the diff's bytes taken so far;
// the diff ends exactly where its last command ends.
class PatchCommands {
 public:
  PatchCommands(ReadAhead& diff, uint64_t diff_size, OldFileBlocks& old, WriteBehind& target,
                uint8_t* transfer)
      : diff_(diff), diff_size_(diff_size), old_(old), target_(target), transfer_(transfer) {}

  bool Run() {
    uint64_t consumed = format::kEntryHeaderSize;
    while (consumed < diff_size_) {
      uint8_t word_bytes[format::kCommandWordSize];
      if (!Take(&consumed, sizeof word_bytes) || !diff_.Read(word_bytes, sizeof word_bytes)) {
        return false;
      }
      const format::CommandWord command = format::DecodeCommandWord(LoadU16(word_bytes));
      // A literal run's data and a copy's operands both fit the transfer buffer.
      if (!Take(&consumed, command.operand_size) ||
          !diff_.Read(transfer_, command.operand_size)) {
        return false;
      }
      if (command.kind == format::CommandKind::kLiteral) {
        if (!target_.Write(transfer_, command.length)) return false;
      } else {
        uint32_t offset = 0;
        uint32_t length = 0;
        format::DecodeCopyOperands(command, transfer_, &offset, &length);
        if (!old_.CopyTo(offset, length, target_, transfer_, kTransferBufferSize)) return false;
      }
    }
    return true;
  }

 private:
  // Counts size more bytes of the diff; false when they would run past its end.
  bool Take(uint64_t* consumed, uint64_t size) {
    if (size > diff_size_ - *consumed) return false;
    *consumed += size;
    return true;
  }

  ReadAhead& diff_;
  uint64_t diff_size_;
  OldFileBlocks& old_;
  WriteBehind& target_;
  uint8_t* transfer_;
};

// The components of a folder path, cut at every backslash that is not the second byte of a
// double-byte character. Each component is given with its start in the text.
struct Component {
  size_t start;
  std::string name;
};

std::vector<Component> SplitFolders(std::string_view text) {
  std::vector<Component> parts;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (platform::IsCp932LeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (text[i] == '\\') {
      parts.push_back({start, std::string(text.substr(start, i - start))});
      start = i + 1;
    }
  }
  parts.push_back({start, std::string(text.substr(start))});
  return parts;
}

}  // namespace

bool ApplyFileEntry(RunContext& context, const char* old_path, const char* stream_path,
                    const char* target_path, uint32_t expected_crc, WrittenFile* written) {
  char folder[kQueryBufferSize];
  const uint32_t folder_length = platform::TempFolder(folder, sizeof folder);
  char temp_path[kFolderBufferSize];
  if (folder_length == 0 || folder_length >= sizeof folder ||
      platform::MakeTempFileName(folder, "tmp", 0, temp_path) == 0) {
    ShowFailure(context);
    return false;
  }

  bool result = false;
  // A compact diff's checksums are taken as it is extracted, not by reading it once more.
  CompactDiffCheck check;
  CompactDiffCheck* checking = context.package.compact && expected_crc != 0 ? &check : nullptr;
  if (ExtractStreamToFile(context, stream_path, temp_path, checking)) {
    const size_t target_length =
        target_path ? BoundedLength(target_path, kEntryPathBufferSize) : kEntryPathBufferSize;
    const size_t old_length = old_path ? BoundedLength(old_path, kEntryPathBufferSize) : 0;
    const size_t separators = target_path ? CountBackslashes(target_path) : 0;
    if (target_length >= kEntryPathBufferSize || old_length >= kEntryPathBufferSize ||
        separators == 0) {
      ShowFailure(context);
    } else {
      bool folders_ready = true;
      if (separators > 1) {
        // Everything before the last backslash; a file directly in a drive's root folder needs
        // no folder.
        const char* last = FindLastBackslash(target_path);
        const std::string folder_path(target_path, static_cast<size_t>(last - target_path));
        folders_ready = CreateFolderPath(context.journal, folder_path.c_str());
        if (!folders_ready) ShowFailure(context);
      }
      if (folders_ready) {
        result = expected_crc == 0
                     ? WriteWholeFile(context, target_path, temp_path, written)
                     : PatchFile(context, old_path, target_path, expected_crc, temp_path, written,
                                 checking);
      }
    }
  }
  ForceDeleteFile(temp_path);
  return result;
}

bool ExtractStreamToFile(RunContext& context, const char* stream_path, const char* file_path,
                         CompactDiffCheck* check) {
  platform::File file;
  if (!file.Open(file_path, platform::kAccessWrite, platform::kShareWrite,
                 platform::Disposition::kCreateAlways)) {
    ShowDiskFull(context);
    return false;
  }
  DocfileAccess* access = context.work_docfile.access;
  const int32_t size = access && stream_path ? access->StreamSize(stream_path) : -1;
  if (size < 0 || !access->OpenStreamByPath(stream_path)) {
    ShowFailure(context);
    return false;
  }
  // The buffer is as large as the stream needs, up to the 16 MiB piece.
  const uint32_t buffer_size = static_cast<uint32_t>(
      std::clamp<int32_t>(size, 1, static_cast<int32_t>(kStreamCopyBufferSize)));
  platform::WorkBuffer buffer;
  if (!buffer.Allocate(buffer_size)) {
    access->CloseStream();
    ShowFailure(context);
    return false;
  }
  uint32_t remaining = static_cast<uint32_t>(size);
  if (check != nullptr) check->Start(remaining);
  while (remaining > 0) {
    const uint32_t piece = remaining < buffer_size ? remaining : buffer_size;
    if (access->Read(buffer.data(), piece) != piece) {
      // The stream ended before its size.
      file.Close();
      access->CloseStream();
      ShowFailure(context);
      return false;
    }
    if (!WriteAll(file, buffer.data(), piece)) {
      file.Close();
      access->CloseStream();
      ShowDiskFull(context);
      return false;
    }
    if (check != nullptr) check->Take(buffer.data(), piece);
    remaining -= piece;
  }
  file.Close();
  access->CloseStream();
  return true;
}

// Opens a file to read (read sharing) and takes its size.
static bool OpenForReading(const char* path, platform::File* file, uint64_t* size) {
  return file->Open(path, platform::kAccessRead, platform::kShareRead,
                    platform::Disposition::kOpenExisting) &&
         file->Size(size);
}

// A stage file may be a second name of an unchanged file (LinkUnchangedFile). Writing through
// such a name would change the installed file too, so a target that shares its file with
// another name loses that name before it is written; false when it keeps it (the name cannot
// be deleted, for example while the file is open), and then it must not be written.
static bool DropSharedName(const char* path) {
  if (platform::LinkCount(path) < 2) return true;
  ForceDeleteFile(path);
  return platform::LinkCount(path) == 0;
}

// Creates or truncates a target to write (write sharing).
static bool CreateTarget(const char* path, platform::File* file) {
  return DropSharedName(path) &&
         file->Open(path, platform::kAccessWrite, platform::kShareWrite,
                    platform::Disposition::kCreateAlways);
}

bool WriteWholeFile(RunContext& context, const char* target_path, const char* source_path,
                    WrittenFile* written) {
  if (written != nullptr) *written = WrittenFile();
  platform::File source;
  uint64_t size = 0;
  Bytes buffer = Allocate(kTransferBufferSize);
  if (!buffer || !OpenForReading(source_path, &source, &size)) {
    ShowFailure(context);
    return false;
  }
  platform::File target;
  if (!CreateTarget(target_path, &target)) {
    ShowFailure(context);
    return false;
  }
  uint8_t header_bytes[format::kEntryHeaderSize];
  if (!ReadExact(source, header_bytes, sizeof header_bytes)) {
    ShowFailure(context);
    return false;
  }
  const StreamHeader header = DecodeHeader(header_bytes);
  uint64_t position = format::kEntryHeaderSize;
  uint32_t crc = 0;
  uint64_t total = 0;
  WriteBackSteps write_back;
  while (position < size) {
    uint8_t length_bytes[format::kWholeFileBlockHeaderSize];
    if (size - position < sizeof length_bytes ||
        !ReadExact(source, length_bytes, sizeof length_bytes)) {
      ShowFailure(context);
      return false;
    }
    const uint16_t length = LoadU16(length_bytes);
    // A block must fit the transfer buffer and the stream.
    if (length > kTransferBufferSize || length > size - position - sizeof length_bytes ||
        !ReadExact(source, buffer.get(), length)) {
      ShowFailure(context);
      return false;
    }
    if (!WriteAll(target, buffer.get(), length)) {
      source.Close();
      buffer.reset();
      target.Close();
      ShowDiskFull(context);
      return false;
    }
    crc = Crc32Update(crc, buffer.get(), length);
    total += length;
    write_back.Wrote(target, total);
    position += sizeof length_bytes + length;
  }
  source.Close();
  buffer.reset();
  if (!StampTime(target, header.time) || !target.StartFlush()) {
    ShowFailure(context);
    return false;
  }
  target.Close();
  platform::WriteAttributes(target_path, header.attributes);
  if (written != nullptr) *written = {true, total == 0 ? kEmptyFileCrc : crc};
  return true;
}

// Starts the flush of a file that was written by a copy; false when it cannot be opened or the
// flush cannot start.
static bool StartFlushOfCopy(const char* path) {
  platform::File file;
  return file.Open(path, platform::kAccessWrite, platform::kShareRead | platform::kShareWrite,
                   platform::Disposition::kOpenExisting) &&
         file.StartFlush();
}

bool PatchFile(RunContext& context, const char* old_path, const char* target_path,
               uint32_t expected_crc, const char* diff_path, WrittenFile* written,
               const CompactDiffCheck* checked) {
  if (written != nullptr) *written = WrittenFile();
  const bool version_check = context.package.VersionCheck();
  if (!FileExists(old_path)) {
    if (!version_check) return true;
    ShowMissingFile(context);
    return false;
  }
  // Before the old file is opened, which would keep a name it shares from being deleted.
  if (!DropSharedName(target_path)) {
    ShowFailure(context);
    return false;
  }
  if (FileCrc32(old_path) != expected_crc) {
    if (!version_check) {
      if (DropSharedName(target_path) && platform::CopyFileReplace(old_path, target_path)) {
        StartFlushOfCopy(target_path);
      }
      return true;
    }
    ShowFailure(context);
    return false;
  }
  platform::File old_file;
  uint64_t old_size = 0;
  if (!OpenForReading(old_path, &old_file, &old_size)) {
    ShowFailure(context);
    return false;
  }
  // A compact diff is checked whole before the target is made.
  const bool compact = context.package.compact;
  format::CompactDiffHeader compact_header;
  if (compact && !(checked != nullptr ? checked->Passed(&compact_header)
                                       : CheckCompactDiff(diff_path, &compact_header))) {
    ShowFailure(context);
    return false;
  }
  platform::File target;
  if (!CreateTarget(target_path, &target)) {
    ShowFailure(context);
    return false;
  }
  platform::File diff;
  uint64_t diff_size = 0;
  Bytes transfer = Allocate(kTransferBufferSize);
  Bytes read_ahead = Allocate(kPatchStreamBufferSize);
  Bytes write_behind = Allocate(kPatchStreamBufferSize);
  if (!transfer || !read_ahead || !write_behind ||
      !diff.Open(diff_path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting) ||
      !diff.Size(&diff_size)) {
    ShowFailure(context);
    return false;
  }
  ReadAhead diff_reader(diff, read_ahead.get(), kPatchStreamBufferSize);
  WriteBehind target_writer(target, write_behind.get(), kPatchStreamBufferSize);
  target_writer.WriteBackAhead();

  uint8_t header_bytes[format::kEntryHeaderSize];
  if (diff_size < sizeof header_bytes || !diff_reader.Read(header_bytes, sizeof header_bytes)) {
    ShowFailure(context);
    return false;
  }
  const StreamHeader header = DecodeHeader(header_bytes);
  OldFileBlocks old_blocks(old_file, old_size);
  bool good = false;
  if (compact) {
    good = RunCompactDiff(diff_path, compact_header, old_blocks, target_writer);
  } else {
    PatchCommands commands(diff_reader, diff_size, old_blocks, target_writer, transfer.get());
    good = commands.Run();
  }
  if (!target_writer.Flush()) good = false;
  old_file.Close();
  diff.Close();
  transfer.reset();

  if (good && StampTime(target, header.time) && target.StartFlush()) {
    target.Close();
    platform::WriteAttributes(target_path, header.attributes);
    if (written != nullptr) *written = {true, target_writer.crc()};
    return true;
  }
  if (target.DiskFull()) {
    ShowDiskFull(context);
  } else {
    ShowFailure(context);
  }
  return false;
}

bool LinkUnchangedFile(RunContext& context, const char* old_path, const char* stream_path,
                       const char* target_path, uint32_t crc, std::array<uint8_t, 12>* header) {
  DocfileAccess* access = context.work_docfile.access;
  if (access == nullptr || stream_path == nullptr || old_path == nullptr ||
      target_path == nullptr ||
      access->StreamSize(stream_path) < static_cast<int32_t>(format::kEntryHeaderSize) ||
      !access->OpenStreamByPath(stream_path)) {
    return false;
  }
  const bool read = access->Read(header->data(), format::kEntryHeaderSize) ==
                    format::kEntryHeaderSize;
  access->CloseStream();
  if (!read || FileExists(target_path) || !FileExists(old_path) || FileCrc32(old_path) != crc ||
      !platform::LinkFile(old_path, target_path)) {
    return false;
  }
  RememberFileCrc(target_path, crc);
  return true;
}

bool StampFile(const char* path, const std::array<uint8_t, 12>& header_bytes) {
  uint8_t bytes[format::kEntryHeaderSize];
  std::memcpy(bytes, header_bytes.data(), sizeof bytes);
  const StreamHeader header = DecodeHeader(bytes);
  // The time needs write access, which the read-only attribute refuses.
  const uint32_t attributes = platform::ReadAttributes(path);
  if (attributes != platform::kInvalidAttributes && (attributes & platform::kAttrReadOnly) != 0) {
    platform::WriteAttributes(path, attributes & ~platform::kAttrReadOnly);
  }
  platform::File file;
  const bool timed = file.Open(path, platform::kAccessWrite,
                               platform::kShareRead | platform::kShareWrite,
                               platform::Disposition::kOpenExisting) &&
                     StampTime(file, header.time);
  file.Close();
  return platform::WriteAttributes(path, header.attributes) && timed;
}

bool CreateFolderPath(FolderJournalState& journal, const char* folder_path) {
  if (folder_path == nullptr) return false;
  char saved[kQueryBufferSize];
  const uint32_t saved_length = platform::CurrentFolder(saved, sizeof saved);
  if (saved_length == 0 || saved_length >= sizeof saved) return false;

  const char* rest = folder_path;
  if (rest[0] != '\0' && rest[1] == ':') {
    const std::string root(rest, BoundedLength(rest, 3));
    if (!platform::ChangeFolder(root.c_str())) {
      platform::ChangeFolder(saved);
      return false;
    }
    rest += root.size();
  }
  const std::string text(rest);
  if (text.empty()) {
    platform::ChangeFolder(saved);
    return false;
  }

  bool result = true;
  const std::vector<Component> parts = SplitFolders(text);
  size_t first_missing = 0;
  while (first_missing < parts.size() &&
         platform::ChangeFolder(parts[first_missing].name.c_str())) {
    ++first_missing;
  }
  if (first_missing < parts.size()) {
    char deepest[kFolderBufferSize];
    const uint32_t deepest_length = platform::CurrentFolder(deepest, sizeof deepest);
    if (deepest_length != 0 && deepest_length < sizeof deepest) {
      AppendFolderJournal(journal, deepest);
      AppendFolderJournal(journal, text.c_str() + parts[first_missing].start);
    }
    for (size_t i = first_missing; i < parts.size(); ++i) {
      const char* name = parts[i].name.c_str();
      if (!platform::MakeFolder(name) || !platform::ChangeFolder(name)) {
        result = false;
        break;
      }
    }
  }
  platform::ChangeFolder(saved);
  return result;
}

}  // namespace gp
