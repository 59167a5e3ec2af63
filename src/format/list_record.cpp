#include "format/list_record.h"

#include "base/endian.h"

namespace gp::format {

namespace {

bool ReadString(ByteReader& reader, std::string_view* text) {
  uint8_t length = 0;
  const uint8_t* bytes = nullptr;
  if (!reader.ReadU8(&length) || !reader.ReadView(length, &bytes)) return false;
  *text = std::string_view(reinterpret_cast<const char*>(bytes), length);
  return true;
}

void AppendString(std::string_view text, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
}

void AppendU32(uint32_t value, std::vector<uint8_t>* out) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

}  // namespace

bool ReadListCount(ByteReader& reader, uint32_t* count) {
  uint16_t n = 0;
  if (!reader.ReadU16(&n)) return false;
  *count = n;
  return true;
}

bool ReadListRecord(ByteReader& reader, ListRecord* record) {
  return reader.ReadU32(&record->old_crc) && reader.ReadU32(&record->new_crc) &&
         ReadString(reader, &record->old_data_path) &&
         ReadString(reader, &record->new_data_path) && ReadString(reader, &record->old_name) &&
         ReadString(reader, &record->new_name);
}

void AppendListCount(uint16_t count, std::vector<uint8_t>* out) {
  uint8_t bytes[kListCountSize];
  StoreU16(bytes, count);
  out->insert(out->end(), bytes, bytes + kListCountSize);
}

void AppendListRecord(const ListRecord& record, std::vector<uint8_t>* out) {
  AppendU32(record.old_crc, out);
  AppendU32(record.new_crc, out);
  AppendString(record.old_data_path, out);
  AppendString(record.new_data_path, out);
  AppendString(record.old_name, out);
  AppendString(record.new_name, out);
}

}  // namespace gp::format
