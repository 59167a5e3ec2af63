#include "update/file_list.h"

#include <cstdio>
#include <cstring>

namespace gp {

void FormatListPath(int k, char* out) {
  std::snprintf(out, kListPathBufferSize, "%d\\list.dat", k);
}

void CopyListString(const uint8_t* bytes, size_t length, char* out) {
  if (length > kListStringMax) length = kListStringMax;
  if (length != 0) std::memcpy(out, bytes, length);
  out[length] = '\0';
}

bool FileListWalker::Begin(const uint8_t* data, size_t size) {
  reader_ = ByteReader(data, size);
  count_ = 0;
  taken_ = 0;
  failed_ = false;
  uint16_t n = 0;
  if (data == nullptr || !reader_.ReadU16(&n)) {
    failed_ = true;
    return false;
  }
  count_ = n;
  return true;
}

bool FileListWalker::ReadString(char* out) {
  uint8_t length = 0;
  const uint8_t* bytes = nullptr;
  if (!reader_.ReadU8(&length) || !reader_.ReadView(length, &bytes)) return false;
  CopyListString(bytes, length, out);
  return true;
}

bool FileListWalker::Next(ListEntry* entry) {
  if (failed_ || taken_ >= count_) return false;
  if (!reader_.ReadU32(&entry->old_crc) || !reader_.ReadU32(&entry->new_crc) ||
      !ReadString(entry->old_data_path) || !ReadString(entry->new_data_path) ||
      !ReadString(entry->old_name) || !ReadString(entry->new_name)) {
    failed_ = true;
    return false;
  }
  ++taken_;
  return true;
}

}  // namespace gp
