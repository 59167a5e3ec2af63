// Writes the package header (fixed part, texts, generation records, group entries) at the
// offsets of format/header_layout.h; the trailer comes from format/trailer.h. Texts are code
// page 932 bytes; every stored length counts the NUL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gp::builder {

struct GroupDescription {
  std::string name;
  std::string comment;
  std::string folder;  // default destination folder of the group
};

struct GenerationDescription {
  std::string name;
  std::string comment;
  std::vector<GroupDescription> groups;  // at most the header's group count
};

struct HeaderDescription {
  // The seven words at offsets 0x04 .. 0x1C, by name.
  uint32_t reserved_04 = 1;
  uint32_t file_removal = 0;
  uint32_t backup = 0;
  uint32_t folder_choice = 0;
  uint32_t version_check = 1;
  uint32_t reserved_18 = 1;
  uint32_t restart = 0;
  std::string comment;         // text 1: project comment
  std::string caption;         // text 2: message caption
  std::string default_folder;  // text 3
  std::vector<GenerationDescription> generations;
  int group_count = 0;  // additional groups (columns of the group table)
};

// Checks the limits of the format (texts under 256 bytes, group folders under 260 bytes,
// counts that fit their fields, groups per generation within the group count). Returns an
// empty text when the description fits, else what is wrong.
std::string CheckHeader(const HeaderDescription& desc);

// The header block. The description must pass CheckHeader.
std::vector<uint8_t> WriteHeader(const HeaderDescription& desc);

}  // namespace gp::builder
