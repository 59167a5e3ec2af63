#include "update/file_list.h"

#include <cstdio>
#include <cstring>

#include "base/format_text.h"

namespace gp {

namespace {

void CopyString(std::string_view text, char* out) {
  CopyListString(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
}

}  // namespace

void FormatListPath(int k, char* out) {
  FormatInto(out, kListPathBufferSize, format::kListStreamFormat, k);
}

void CopyListString(const uint8_t* bytes, size_t length, char* out) {
  if (length > format::kListStringMax) length = format::kListStringMax;
  if (length != 0) std::memcpy(out, bytes, length);
  out[length] = '\0';
}

bool FileListWalker::Begin(const uint8_t* data, size_t size) {
  reader_ = ByteReader(data, size);
  count_ = 0;
  taken_ = 0;
  failed_ = false;
  if (data == nullptr || !format::ReadListCount(reader_, &count_)) {
    failed_ = true;
    return false;
  }
  return true;
}

bool FileListWalker::Next(ListEntry* entry) {
  if (failed_ || taken_ >= count_) return false;
  format::ListRecord record;
  if (!format::ReadListRecord(reader_, &record)) {
    failed_ = true;
    return false;
  }
  entry->old_crc = record.old_crc;
  entry->new_crc = record.new_crc;
  CopyString(record.old_data_path, entry->old_data_path);
  CopyString(record.new_data_path, entry->new_data_path);
  CopyString(record.old_name, entry->old_name);
  CopyString(record.new_name, entry->new_name);
  ++taken_;
  return true;
}

}  // namespace gp
