#include "builder/header_writer.h"

#include <cstring>

#include "format/header_layout.h"
#include "base/endian.h"

namespace gp::builder {

namespace {

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value) { StoreU32(&out[at], value); }

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void AppendText(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

uint32_t Stored(const std::string& text) { return static_cast<uint32_t>(text.size() + 1); }

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

std::string CheckText(const std::string& what, const std::string& text, size_t limit) {
  if (HasNul(text)) return what + " contains a NUL byte";
  if (text.size() >= limit) {
    return what + " is " + std::to_string(text.size()) + " bytes; at most " +
           std::to_string(limit - 1) + " fit";
  }
  return std::string();
}

}  // namespace

std::string CheckHeader(const HeaderDescription& desc) {
  std::string error;
  if (!(error = CheckText("the project comment", desc.comment, layout::kTextSlotSize)).empty() ||
      !(error = CheckText("the caption", desc.caption, layout::kTextSlotSize)).empty() ||
      !(error = CheckText("the default folder", desc.default_folder, layout::kTextSlotSize))
           .empty()) {
    return error;
  }
  if (desc.generations.size() > 0x7FFF) return "more than 32,767 generations";
  if (desc.group_count < 0 || desc.group_count > 255) {
    return "the group count must be 0 to 255";
  }
  for (const GenerationDescription& g : desc.generations) {
    const std::string where = "generation '" + g.name + "'";
    if (g.name.empty()) return "a generation has no name";
    if (!(error = CheckText(where + " name", g.name, layout::kTextSlotSize)).empty() ||
        !(error = CheckText(where + " comment", g.comment, layout::kTextSlotSize)).empty()) {
      return error;
    }
    if (g.groups.size() > static_cast<size_t>(desc.group_count)) {
      return where + " has more groups than the package's group count";
    }
    for (const GroupDescription& group : g.groups) {
      const std::string gw = where + " group '" + group.name + "'";
      if (group.name.empty()) return where + " has a group without a name";
      if (!(error = CheckText(gw + " name", group.name, layout::kTextSlotSize)).empty() ||
          !(error = CheckText(gw + " comment", group.comment, layout::kTextSlotSize)).empty() ||
          !(error = CheckText(gw + " folder", group.folder, layout::kPathBufferSize)).empty()) {
        return error;
      }
    }
  }
  return std::string();
}

std::vector<uint8_t> WriteHeader(const HeaderDescription& desc) {
  std::vector<uint8_t> out(layout::kFixedPartSize, 0);
  const uint32_t words[7] = {desc.reserved_04,   desc.file_removal, desc.backup,
                             desc.folder_choice, desc.version_check, desc.reserved_18,
                             desc.restart};
  for (size_t i = 0; i < 7; ++i) PutU32(out, layout::kOptionWordsStart + 4 * i, words[i]);
  StoreU16(&out[layout::kGenerationCount], static_cast<uint16_t>(desc.generations.size()));
  StoreU16(&out[layout::kGroupCount], static_cast<uint16_t>(desc.group_count));
  PutU32(out, layout::kCommentLength, Stored(desc.comment));
  PutU32(out, layout::kCaptionLength, Stored(desc.caption));
  PutU32(out, layout::kDefaultFolderLength, Stored(desc.default_folder));
  AppendText(out, desc.comment);
  AppendText(out, desc.caption);
  AppendText(out, desc.default_folder);
  PutU32(out, layout::kGenerationTableOffset, static_cast<uint32_t>(out.size()));

  for (const GenerationDescription& g : desc.generations) {
    std::vector<uint8_t> record;
    AppendU32(record, 0);  // record size, below
    record.push_back(static_cast<uint8_t>(g.groups.size()));
    record.insert(record.end(), 3, 0);
    AppendU32(record, Stored(g.name));
    AppendU32(record, Stored(g.comment));
    AppendU32(record, static_cast<uint32_t>(layout::kRecordTexts) + Stored(g.name) +
                          Stored(g.comment));
    AppendText(record, g.name);
    AppendText(record, g.comment);
    for (const GroupDescription& group : g.groups) {
      std::vector<uint8_t> entry;
      const uint32_t size = static_cast<uint32_t>(layout::kEntryTexts) + Stored(group.name) +
                            Stored(group.comment) + Stored(group.folder);
      AppendU32(entry, size);
      AppendU32(entry, Stored(group.name));
      AppendU32(entry, Stored(group.comment));
      AppendU32(entry, Stored(group.folder));
      AppendText(entry, group.name);
      AppendText(entry, group.comment);
      AppendText(entry, group.folder);
      record.insert(record.end(), entry.begin(), entry.end());
    }
    StoreU32(record.data(), static_cast<uint32_t>(record.size()));
    out.insert(out.end(), record.begin(), record.end());
  }
  PutU32(out, layout::kHeaderLength, static_cast<uint32_t>(out.size()));
  return out;
}

}  // namespace gp::builder
