#include "update/detection.h"

#include <cstdint>

#include "base/endian.h"
#include "codec/crc32.h"
#include "storage/docfile_access.h"
#include "update/entry_path.h"
#include "update/file_list.h"
#include "update/run_context.h"

namespace gp {

namespace {

// Reads the open list stream field by field. Every read must deliver all its bytes; the first
// short read marks the reader failed.
class ListFieldReader {
 public:
  explicit ListFieldReader(DocfileAccess* access) : access_(access) {}

  bool Open(int k) {
    char path[kListPathBufferSize];
    FormatListPath(k, path);
    if (access_ == nullptr || !access_->OpenStreamByPath(path)) return false;
    size_ = access_->Seek(0, DocfileAccess::kSeekEnd);
    access_->Seek(0, DocfileAccess::kSeekBegin);
    return true;
  }
  void Close() { access_->CloseStream(); }

  bool ReadI16(int16_t* value) {
    uint8_t bytes[2];
    if (access_->Read(bytes, 2) != 2) return false;
    *value = static_cast<int16_t>(LoadU16(bytes));
    return true;
  }
  bool ReadU32(uint32_t* value) {
    uint8_t bytes[4];
    if (access_->Read(bytes, 4) != 4) return false;
    *value = LoadU32(bytes);
    return true;
  }
  bool SkipU32() { return Skip(4); }
  // A length byte, then that many bytes into out (256 bytes), terminated.
  bool ReadString(char* out) {
    uint8_t length = 0;
    if (access_->Read(&length, 1) != 1) return false;
    uint8_t bytes[kListStringBufferSize];
    if (length != 0 && access_->Read(bytes, length) != length) return false;
    CopyListString(bytes, length, out);
    return true;
  }
  // A length byte, then a seek over that many bytes.
  bool SkipString() {
    uint8_t length = 0;
    if (access_->Read(&length, 1) != 1) return false;
    return Skip(length);
  }
  bool SkipStrings(int count) {
    for (int i = 0; i < count; ++i) {
      if (!SkipString()) return false;
    }
    return true;
  }

 private:
  // Seeks forward from the current position; a field that would end past the stream's end
  // fails, like a short read.
  bool Skip(uint32_t count) {
    if (count == 0) return true;
    const uint32_t position = access_->Seek(0, DocfileAccess::kSeekCurrent);
    if (position > size_ || count > size_ - position) return false;
    return access_->Seek(static_cast<int32_t>(count), DocfileAccess::kSeekCurrent) ==
           position + count;
  }

  DocfileAccess* access_;
  uint32_t size_ = 0;
};

// Notes why a check failed, when a note is wanted.
void NoteDamaged(DetectionFaults* faults) {
  if (faults != nullptr) faults->damaged_list = true;
}
void NoteUnresolved(DetectionFaults* faults, bool too_long) {
  if (faults == nullptr) return;
  if (too_long) {
    faults->path_too_long = true;
  } else {
    faults->damaged_list = true;
  }
}

}  // namespace

bool IsLatestInstalled(RunContext& context, DetectionFaults* faults) {
  const int last = context.package.generation_count - 1;
  if (last < 1) return false;
  ListFieldReader list(context.work_docfile.access);
  if (!list.Open(last)) {
    NoteDamaged(faults);
    return false;
  }
  bool answer = true;
  int16_t count = 0;
  if (!list.ReadI16(&count)) {
    NoteDamaged(faults);
    answer = false;
  }
  for (int i = 0; answer && i < count; ++i) {
    uint32_t new_crc = 0;
    if (!list.SkipU32() || !list.ReadU32(&new_crc)) {
      NoteDamaged(faults);
      answer = false;
      break;
    }
    if (new_crc == 0) {
      if (!list.SkipStrings(4)) {
        NoteDamaged(faults);
        answer = false;
      }
      continue;
    }
    char data_path[kListStringBufferSize];
    char name[kListStringBufferSize];
    if (!list.SkipString() || !list.ReadString(data_path) || !list.SkipString() ||
        !list.ReadString(name)) {
      NoteDamaged(faults);
      answer = false;
      break;
    }
    bool too_long = false;
    if (!ResolveEntryPath(context.package, last, data_path, name, &too_long)) {
      NoteUnresolved(faults, too_long);
      answer = false;
    } else if (!FileMatchesCrc(data_path, new_crc)) {
      answer = false;
    }
  }
  list.Close();
  return answer;
}

bool MatchesGeneration(RunContext& context, int k, DetectionFaults* faults) {
  if (k < 1 || k >= context.package.generation_count) return false;
  ListFieldReader list(context.work_docfile.access);
  if (!list.Open(k)) {
    NoteDamaged(faults);
    return false;
  }
  const bool removal_checked = context.package.FileRemoval();
  bool answer = true;
  int16_t count = 0;
  if (!list.ReadI16(&count)) {
    NoteDamaged(faults);
    answer = false;
  }
  for (int i = 0; answer && i < count; ++i) {
    uint32_t old_crc = 0;
    uint32_t new_crc = 0;
    if (!list.ReadU32(&old_crc) || !list.ReadU32(&new_crc)) {
      NoteDamaged(faults);
      answer = false;
      break;
    }
    if (old_crc == 0) {
      if (!list.SkipStrings(4)) {
        NoteDamaged(faults);
        answer = false;
      }
      continue;
    }
    char data_path[kListStringBufferSize];
    char name[kListStringBufferSize];
    if (!list.ReadString(data_path) || !list.SkipString() || !list.ReadString(name) ||
        !list.SkipString()) {
      NoteDamaged(faults);
      answer = false;
      break;
    }
    if (new_crc == 0 && !removal_checked) continue;
    bool too_long = false;
    if (!ResolveEntryPath(context.package, k - 1, data_path, name, &too_long)) {
      NoteUnresolved(faults, too_long);
      answer = false;
    } else if (!FileMatchesCrc(data_path, old_crc)) {
      answer = false;
    }
  }
  list.Close();
  return answer;
}

int FindInstalledGeneration(RunContext& context, DetectionFaults* faults) {
  const int count = context.package.generation_count;
  for (int k = 1; k < count; ++k) {
    if (MatchesGeneration(context, k, faults)) return k;
  }
  return 0;
}

}  // namespace gp
