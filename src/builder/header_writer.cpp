#include "builder/header_writer.h"

#include <cstring>

#include "app/package_layout.h"
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

std::string CheckHeader(const HeaderSpec& spec) {
  std::string error;
  if (!(error = CheckText("the project comment", spec.comment, layout::kTextSlotSize)).empty() ||
      !(error = CheckText("the caption", spec.caption, layout::kTextSlotSize)).empty() ||
      !(error = CheckText("the default folder", spec.default_folder, layout::kTextSlotSize))
           .empty()) {
    return error;
  }
  if (spec.generations.size() > 0x7FFF) return "more than 32,767 generations";
  if (spec.group_count < 0 || spec.group_count > 255) {
    return "the group count must be 0 to 255";
  }
  for (const GenerationSpec& g : spec.generations) {
    const std::string where = "generation '" + g.name + "'";
    if (g.name.empty()) return "a generation has no name";
    if (!(error = CheckText(where + " name", g.name, layout::kTextSlotSize)).empty() ||
        !(error = CheckText(where + " comment", g.comment, layout::kTextSlotSize)).empty()) {
      return error;
    }
    if (g.groups.size() > static_cast<size_t>(spec.group_count)) {
      return where + " has more groups than the package's group count";
    }
    for (const GroupSpec& group : g.groups) {
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

std::vector<uint8_t> WriteHeader(const HeaderSpec& spec) {
  std::vector<uint8_t> out(layout::kFixedPartSize, 0);
  const uint32_t words[7] = {spec.reserved_04,   spec.file_removal, spec.backup,
                             spec.folder_choice, spec.version_check, spec.reserved_18,
                             spec.restart};
  for (size_t i = 0; i < 7; ++i) PutU32(out, layout::kOptionWordsStart + 4 * i, words[i]);
  StoreU16(&out[layout::kGenerationCount], static_cast<uint16_t>(spec.generations.size()));
  StoreU16(&out[layout::kGroupCount], static_cast<uint16_t>(spec.group_count));
  PutU32(out, layout::kCommentLength, Stored(spec.comment));
  PutU32(out, layout::kCaptionLength, Stored(spec.caption));
  PutU32(out, layout::kDefaultFolderLength, Stored(spec.default_folder));
  AppendText(out, spec.comment);
  AppendText(out, spec.caption);
  AppendText(out, spec.default_folder);
  PutU32(out, layout::kGenerationTableOffset, static_cast<uint32_t>(out.size()));

  for (const GenerationSpec& g : spec.generations) {
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
    for (const GroupSpec& group : g.groups) {
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

std::vector<uint8_t> ExecutableTrailer(uint32_t payload_length, uint32_t header_length) {
  std::vector<uint8_t> out;
  AppendU32(out, payload_length);
  AppendU32(out, header_length);
  out.insert(out.end(), layout::kTrailerMagic, layout::kTrailerMagic + layout::kTrailerMagicSize);
  return out;
}

std::vector<uint8_t> DataFileTrailer(uint32_t header_length) {
  std::vector<uint8_t> out;
  AppendU32(out, header_length);
  out.insert(out.end(), layout::kTrailerMagic, layout::kTrailerMagic + layout::kTrailerMagicSize);
  return out;
}

}  // namespace gp::builder
