#include "builder/list_writer.h"

#include "base/endian.h"

namespace gp::builder {

namespace {

void AppendString(const std::string& text, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(text.size()));
  out->insert(out->end(), text.begin(), text.end());
}

void AppendU32(uint32_t value, std::vector<uint8_t>* out) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

}  // namespace

std::string CheckList(const std::vector<ListEntryDescription>& entries) {
  if (entries.size() > kListMaxEntryCount) {
    return "a file list holds " + std::to_string(entries.size()) + " entries, at most " +
           std::to_string(kListMaxEntryCount) + " fit";
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListEntryDescription& e = entries[i];
    for (const std::string* text : {&e.old_data_path, &e.new_data_path, &e.old_name, &e.new_name}) {
      if (text->size() > kListMaxStringBytes) {
        return "list entry " + std::to_string(i) + ": \"" + *text + "\" is longer than " +
               std::to_string(kListMaxStringBytes) + " bytes";
      }
    }
  }
  return std::string();
}

std::vector<uint8_t> WriteList(const std::vector<ListEntryDescription>& entries) {
  std::vector<uint8_t> out(2);
  StoreU16(out.data(), static_cast<uint16_t>(entries.size()));
  for (const ListEntryDescription& e : entries) {
    AppendU32(e.old_crc, &out);
    AppendU32(e.new_crc, &out);
    AppendString(e.old_data_path, &out);
    AppendString(e.new_data_path, &out);
    AppendString(e.old_name, &out);
    AppendString(e.new_name, &out);
  }
  return out;
}

}  // namespace gp::builder
