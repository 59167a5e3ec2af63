#include "builder/list_writer.h"

#include "format/list_record.h"

namespace gp::builder {

std::string CheckList(const std::vector<ListEntryDescription>& entries) {
  if (entries.size() > format::kListMaxEntries) {
    return "a file list holds " + std::to_string(entries.size()) + " entries, at most " +
           std::to_string(format::kListMaxEntries) + " fit";
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListEntryDescription& e = entries[i];
    for (const std::string* text : {&e.old_data_path, &e.new_data_path, &e.old_name, &e.new_name}) {
      if (text->size() > format::kListStringMax) {
        return "list entry " + std::to_string(i) + ": \"" + *text + "\" is longer than " +
               std::to_string(format::kListStringMax) + " bytes";
      }
    }
  }
  return std::string();
}

std::vector<uint8_t> WriteList(const std::vector<ListEntryDescription>& entries) {
  std::vector<uint8_t> out;
  format::AppendListCount(static_cast<uint16_t>(entries.size()), &out);
  for (const ListEntryDescription& e : entries) {
    format::AppendListRecord({e.old_crc, e.new_crc, e.old_data_path, e.new_data_path, e.old_name,
                              e.new_name},
                             &out);
  }
  return out;
}

}  // namespace gp::builder
