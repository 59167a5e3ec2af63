#include "update/space_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "base/format_text.h"
#include "base/endian.h"
#include "base/texts.h"
#include "format/data_stream.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "update/entry_path.h"
#include "update/file_list.h"
#include "update/run_context.h"
#include "update/update_run.h"

namespace gp {

namespace {

// Reads of 64 KiB: most literal runs are passed over inside the buffer; whole-file blocks and
// literal runs beyond it are sought over.
constexpr uint32_t kChunkSize = 64 * 1024;
constexpr uint32_t kFolderQueryLimit = 256;

// Reads an open stream front to back through a buffer.
class StreamBytes {
 public:
  StreamBytes(DocfileAccess& access, uint64_t size, uint8_t* buffer)
      : access_(access), remaining_(size), buffer_(buffer) {}

  bool AtEnd() const { return begin_ == end_ && remaining_ == 0; }
  // Exactly n bytes into out (n: at most a few bytes).
  bool Take(uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (begin_ == end_ && !Fill()) return false;
      out[i] = buffer_[begin_++];
    }
    return true;
  }
  // Passes over n bytes (at most 32,767 past the buffer): what is not buffered is sought
  // over, not read.
  bool Skip(uint64_t n) {
    const uint64_t buffered = std::min<uint64_t>(n, end_ - begin_);
    begin_ += static_cast<size_t>(buffered);
    n -= buffered;
    if (n == 0) return true;
    if (n > remaining_ || n > 0x7FFF) return false;
    const uint32_t at = access_.Seek(0, DocfileAccess::kSeekCurrent);
    if (access_.Seek(static_cast<int32_t>(n), DocfileAccess::kSeekCurrent) != at + n) return false;
    remaining_ -= n;
    return true;
  }

 private:
  bool Fill() {
    if (remaining_ == 0) return false;
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(remaining_, kChunkSize));
    if (access_.Read(buffer_, want) != want) return false;
    remaining_ -= want;
    begin_ = 0;
    end_ = want;
    return true;
  }

  DocfileAccess& access_;
  uint64_t remaining_;
  uint8_t* buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

bool WalkStream(StreamBytes& bytes, bool whole, uint64_t* size) {
  if (!bytes.Skip(format::kEntryHeaderSize)) return false;
  uint64_t total = 0;
  while (!bytes.AtEnd()) {
    uint8_t word_bytes[2];
    if (!bytes.Take(word_bytes, sizeof word_bytes)) return false;
    const uint16_t word = LoadU16(word_bytes);
    if (whole) {
      total += word;
      if (!bytes.Skip(word)) return false;
      continue;
    }
    const format::CommandWord command = format::DecodeCommandWord(word);
    if (command.kind == format::CommandKind::kLiteral) {
      total += command.length;
      if (!bytes.Skip(command.operand_size)) return false;
    } else if (command.kind == format::CommandKind::kShortCopy) {
      total += command.length;
      if (!bytes.Skip(command.operand_size)) return false;
    } else {
      uint8_t operands[format::kLongCopyOperandsSize];
      if (!bytes.Take(operands, sizeof operands)) return false;
      total += LoadU32(operands + 4);
    }
  }
  *size = total;
  return true;
}

// The disk path of the new side of an entry of list k; *too_long when only its length failed.
bool NewSidePath(PackageTables& package, int k, const ListEntry& entry, char* out,
                 bool* too_long) {
  *too_long = false;
  if (entry.new_data_path[0] == '\0' || entry.new_name[0] == '\0') return false;
  std::memset(out, 0, kEntryPathBufferSize);
  std::memcpy(out, entry.new_data_path, strnlen(entry.new_data_path, kEntryPathBufferSize - 1));
  return ResolveEntryPath(package, k, out, entry.new_name, too_long);
}

struct Volume {
  uint64_t free_bytes = 0;
  std::vector<uint64_t> per_list;  // bytes of stage files per list, indexed by k
};

}  // namespace

bool BuiltFileSize(DocfileAccess& access, const char* stream_path, bool whole, uint64_t* size) {
  const int32_t stream_size = access.StreamSize(stream_path);
  if (stream_size < 0 || !access.OpenStreamByPath(stream_path)) return false;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunkSize]);
  bool ok = false;
  if (buffer) {
    StreamBytes bytes(access, static_cast<uint32_t>(stream_size), buffer.get());
    ok = WalkStream(bytes, whole, size);
  }
  access.CloseStream();
  return ok;
}

SpaceCheck CheckSpaceForPasses(RunContext& context, int first, int last) {
  PackageTables& package = context.package;
  DocfileAccess* access = context.work_docfile.access;
  if (access == nullptr || first < 1 || last < first) return SpaceCheck::kFits;
  const char* caption = package.Text(kSlotMessageCaption);

  std::map<uint64_t, Volume> volumes;
  uint64_t largest_stream = 0;
  std::vector<uint8_t> block;
  for (int k = first; k <= last; ++k) {
    FileListWalker walker;
    if (!ReadWholeList(context.work_docfile, k, &block) ||
        !walker.Begin(block.data(), block.size())) {
      continue;  // the pass reports it
    }
    ListEntry entry;
    while (walker.Next(&entry)) {
      if (entry.new_crc == 0) continue;
      char path[kEntryPathBufferSize] = {};
      bool too_long = false;
      const size_t suffix_length = FormatText(".new%d", k).size();
      if (!NewSidePath(package, k, entry, path, &too_long) ||
          std::strlen(path) + suffix_length >= kEntryPathBufferSize) {
        if (too_long || path[0] != '\0') {
          context.host.MessageBox(nullptr, texts::kTextPathTooLong, caption ? caption : "",
                                  ui::kMbOk);
          context.log.Line("the path of a new file is too long: %s", path);
          return SpaceCheck::kPathTooLong;
        }
        continue;  // the pass reports it
      }
      const int32_t stream_size = access->StreamSize(entry.new_data_path);
      if (stream_size < 0) continue;
      largest_stream = std::max<uint64_t>(largest_stream, static_cast<uint32_t>(stream_size));
      uint64_t built = 0;
      if (!BuiltFileSize(*access, entry.new_data_path, entry.old_crc == 0, &built)) continue;
      uint64_t free_bytes = 0;
      uint64_t volume = 0;
      if (!platform::FreeSpace(path, &free_bytes, &volume)) continue;
      Volume& v = volumes[volume];
      v.free_bytes = free_bytes;
      v.per_list.resize(static_cast<size_t>(last) + 2, 0);
      v.per_list[static_cast<size_t>(k)] += built;
    }
  }

  // The temporary folder's volume holds one stream copy at a time.
  uint64_t temp_volume = 0;
  bool have_temp = false;
  char temp[kFolderQueryLimit];
  const uint32_t n = platform::TempFolder(temp, sizeof temp);
  if (n != 0 && n < sizeof temp) {
    uint64_t free_bytes = 0;
    if (platform::FreeSpace(temp, &free_bytes, &temp_volume)) {
      have_temp = true;
      Volume& v = volumes[temp_volume];
      v.free_bytes = free_bytes;
      v.per_list.resize(static_cast<size_t>(last) + 2, 0);
    }
  }

  for (const auto& [id, v] : volumes) {
    uint64_t peak = 0;
    for (int k = first; k <= last; ++k) {
      peak = std::max(peak, v.per_list[static_cast<size_t>(k)] +
                                v.per_list[static_cast<size_t>(k) + 1]);
    }
    if (have_temp && id == temp_volume) peak += largest_stream;
    if (peak > v.free_bytes) {
      context.log.Line("short of space: %llu bytes needed, %llu free",
                       static_cast<unsigned long long>(peak),
                       static_cast<unsigned long long>(v.free_bytes));
      context.host.MessageBox(nullptr, texts::kTextDiskFull, caption ? caption : "", ui::kMbOk);
      return SpaceCheck::kShortOfSpace;
    }
  }
  return SpaceCheck::kFits;
}

}  // namespace gp
