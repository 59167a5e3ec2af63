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
#include "update/package_tables.h"
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

// Reads a file front to back through a read-ahead buffer.
class ReadAhead {
 public:
  ReadAhead(platform::File& file, uint8_t* buffer, size_t capacity)
      : file_(file), buffer_(buffer), capacity_(capacity) {}

  // Exactly size bytes into out; false on a failed or short read.
  bool Read(void* out, size_t size) {
    auto* dest = static_cast<uint8_t*>(out);
    while (size > 0) {
      if (begin_ == end_) {
        if (size >= capacity_) return ReadExact(file_, dest, static_cast<uint32_t>(size));
        uint32_t done = 0;
        if (!file_.Read(buffer_, static_cast<uint32_t>(capacity_), &done) || done == 0) {
          return false;
        }
        begin_ = 0;
        end_ = done;
      }
      const size_t take = std::min(size, end_ - begin_);
      std::memcpy(dest, buffer_ + begin_, take);
      begin_ += take;
      dest += take;
      size -= take;
    }
    return true;
  }

 private:
  platform::File& file_;
  uint8_t* buffer_;
  size_t capacity_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// Writes a file front to back through a write-behind buffer. A write that the file does not
// take whole fails, when it is passed on.
class WriteBehind {
 public:
  WriteBehind(platform::File& file, uint8_t* buffer, size_t capacity)
      : file_(file), buffer_(buffer), capacity_(capacity) {}

  bool Write(const void* data, size_t size) {
    crc_ = Crc32Update(crc_, data, static_cast<int64_t>(size));
    written_ += size;
    if (size > capacity_ - used_ && !Flush()) return false;
    if (size >= capacity_) return WriteAll(file_, data, static_cast<uint32_t>(size));
    if (size != 0) std::memcpy(buffer_ + used_, data, size);
    used_ += size;
    return true;
  }
  bool Flush() {
    const bool ok = WriteAll(file_, buffer_, static_cast<uint32_t>(used_));
    used_ = 0;
    return ok;
  }
  // The checksum of every byte handed to Write so far.
  uint32_t crc() const { return written_ == 0 ? kEmptyFileCrc : crc_; }

 private:
  platform::File& file_;
  uint8_t* buffer_;
  size_t capacity_;
  size_t used_ = 0;
  uint32_t crc_ = 0;
  uint64_t written_ = 0;
};

// The commands of a diff after its header. consumed counts the diff's bytes taken so far;
// the diff ends exactly where its last command ends.
class PatchCommands {
 public:
  PatchCommands(ReadAhead& diff, uint64_t diff_size, platform::File& old_file, uint64_t old_size,
                WriteBehind& target, uint8_t* transfer)
      : diff_(diff),
        diff_size_(diff_size),
        old_(old_file),
        old_size_(old_size),
        target_(target),
        transfer_(transfer),
        slots_(static_cast<size_t>(
            std::min<uint64_t>((old_size + kBlockSize - 1) / kBlockSize, kMaxCachedBlocks))) {}

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
        if (!CopyOld(offset, length)) return false;
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

  // Appends old[offset, offset + length). The old file is read in aligned blocks that stay in
  // memory: a diff's many small copies jump between the regions of the old file, so each block
  // is read once however often it is copied from (for old files up to the cache's size; beyond
  // it, blocks that share a slot replace each other).
  bool CopyOld(uint32_t offset, uint32_t length) {
    if (offset > old_size_ || length > old_size_ - offset) return false;
    uint64_t at = offset;
    uint64_t remaining = length;
    while (remaining > 0) {
      const uint64_t block_start = at - at % kBlockSize;
      const uint8_t* block = Block(block_start);
      if (block == nullptr) return CopyOldDirect(at, remaining);
      const uint64_t in_block = std::min<uint64_t>(remaining, block_start + kBlockSize - at);
      if (!target_.Write(block + (at - block_start), static_cast<uint32_t>(in_block))) {
        return false;
      }
      at += in_block;
      remaining -= in_block;
    }
    return true;
  }

  // Without memory for the blocks: seek and read through the transfer buffer.
  bool CopyOldDirect(uint64_t at, uint64_t remaining) {
    if (!old_.Seek(static_cast<int64_t>(at), platform::Origin::kBegin)) return false;
    while (remaining > 0) {
      const uint32_t piece =
          static_cast<uint32_t>(std::min<uint64_t>(remaining, kTransferBufferSize));
      if (!ReadExact(old_, transfer_, piece) || !target_.Write(transfer_, piece)) return false;
      remaining -= piece;
    }
    return true;
  }

  // The cached block that starts at start (a multiple of kBlockSize), read when missing; null
  // when there is no memory for it or it cannot be read.
  const uint8_t* Block(uint64_t start) {
    if (slots_.empty()) return nullptr;
    CachedBlock& slot = slots_[static_cast<size_t>((start / kBlockSize) % slots_.size())];
    if (slot.data && slot.start == start) return slot.data.get();
    if (!slot.data) {
      slot.data.reset(new (std::nothrow) uint8_t[kBlockSize]);
      if (!slot.data) return nullptr;
    }
    const uint64_t length = std::min<uint64_t>(kBlockSize, old_size_ - start);
    slot.start = ~0ull;
    if (!old_.Seek(static_cast<int64_t>(start), platform::Origin::kBegin) ||
        !ReadExact(old_, slot.data.get(), static_cast<uint32_t>(length))) {
      return nullptr;
    }
    slot.start = start;
    return slot.data.get();
  }

  static constexpr uint64_t kBlockSize = 64u * 1024;
  static constexpr uint64_t kMaxCachedBlocks = 1024;  // 64 MiB at most, allocated as used
  struct CachedBlock {
    std::unique_ptr<uint8_t[]> data;
    uint64_t start = ~0ull;
  };

  ReadAhead& diff_;
  uint64_t diff_size_;
  platform::File& old_;
  uint64_t old_size_;
  WriteBehind& target_;
  uint8_t* transfer_;
  std::vector<CachedBlock> slots_;
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
  if (ExtractStreamToFile(context, stream_path, temp_path)) {
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
                     : PatchFile(context, old_path, target_path, expected_crc, temp_path, written);
      }
    }
  }
  ForceDeleteFile(temp_path);
  return result;
}

bool ExtractStreamToFile(RunContext& context, const char* stream_path, const char* file_path) {
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
  Bytes buffer = Allocate(kStreamCopyBufferSize);
  if (!buffer) {
    access->CloseStream();
    ShowFailure(context);
    return false;
  }
  uint32_t remaining = static_cast<uint32_t>(size);
  while (remaining > 0) {
    const uint32_t piece = remaining < kStreamCopyBufferSize ? remaining : kStreamCopyBufferSize;
    if (access->Read(buffer.get(), piece) != piece) {
      // The stream ended before its size.
      file.Close();
      access->CloseStream();
      ShowFailure(context);
      return false;
    }
    if (!WriteAll(file, buffer.get(), piece)) {
      file.Close();
      access->CloseStream();
      ShowDiskFull(context);
      return false;
    }
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

// Creates or truncates a target to write (write sharing).
static bool CreateTarget(const char* path, platform::File* file) {
  return file->Open(path, platform::kAccessWrite, platform::kShareWrite,
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
               uint32_t expected_crc, const char* diff_path, WrittenFile* written) {
  if (written != nullptr) *written = WrittenFile();
  const bool version_check = context.package.VersionCheck();
  if (!FileExists(old_path)) {
    if (!version_check) return true;
    ShowMissingFile(context);
    return false;
  }
  if (FileCrc32(old_path) != expected_crc) {
    if (!version_check) {
      if (platform::CopyFileReplace(old_path, target_path)) StartFlushOfCopy(target_path);
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

  uint8_t header_bytes[format::kEntryHeaderSize];
  if (diff_size < sizeof header_bytes || !diff_reader.Read(header_bytes, sizeof header_bytes)) {
    ShowFailure(context);
    return false;
  }
  const StreamHeader header = DecodeHeader(header_bytes);
  PatchCommands commands(diff_reader, diff_size, old_file, old_size, target_writer, transfer.get());
  bool good = commands.Run();
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
