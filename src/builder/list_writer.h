// Writes file lists ("%d\list.dat", layout in format/list_record.h). Strings are stored without
// a terminator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/list_record.h"

namespace gp::builder {

struct ListEntryDescription {
  uint32_t old_crc = 0;  // 0: the step has no old file
  uint32_t new_crc = 0;  // 0: the step leaves no file
  std::string old_data_path;
  std::string new_data_path;
  std::string old_name;
  std::string new_name;
};

// Checks the limits of the format: at most 32,767 entries, strings of at most 255 bytes. Returns
// an empty text when the entries fit, else what is wrong.
std::string CheckList(const std::vector<ListEntryDescription>& entries);

// The list stream. The entries must pass CheckList.
std::vector<uint8_t> WriteList(const std::vector<ListEntryDescription>& entries);

}  // namespace gp::builder
