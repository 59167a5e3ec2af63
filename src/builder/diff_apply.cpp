#include "builder/diff_apply.h"

#include "base/byte_reader.h"

namespace gp::builder {

DiffStatus ForEachDiffCommand(std::span<const uint8_t> diff,
                              const std::function<bool(const DiffCommand&)>& visit) {
  ByteReader reader(diff.data(), diff.size());
  if (!reader.Skip(kEntryHeaderSize)) return DiffStatus::kTruncatedHeader;
  while (!reader.empty()) {
    DiffCommand command;
    command.position = reader.position();
    uint16_t word = 0;
    if (!reader.ReadU16(&word)) return DiffStatus::kTruncatedCommand;
    if (word < kLongCopyWord) {
      command.kind = DiffCommand::Kind::kLiteral;
      command.length = word;
      if (!reader.ReadView(word, &command.literal)) return DiffStatus::kTruncatedCommand;
    } else if (word == kLongCopyWord) {
      command.kind = DiffCommand::Kind::kLongCopy;
      if (!reader.ReadU32(&command.offset) || !reader.ReadU32(&command.length)) {
        return DiffStatus::kTruncatedCommand;
      }
    } else {
      command.kind = DiffCommand::Kind::kShortCopy;
      command.length = word - kLongCopyWord;
      if (!reader.ReadU32(&command.offset)) return DiffStatus::kTruncatedCommand;
    }
    if (!visit(command)) break;
  }
  return DiffStatus::kOk;
}

DiffStatus ApplyDiff(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                     std::vector<uint8_t>* out, EntryHeader* header, size_t max_output) {
  out->clear();
  EntryHeader parsed;
  if (!ParseEntryHeader(diff.data(), diff.size(), &parsed)) return DiffStatus::kTruncatedHeader;
  if (header) *header = parsed;
  DiffStatus failure = DiffStatus::kOk;
  DiffStatus walked = ForEachDiffCommand(diff, [&](const DiffCommand& command) {
    if (command.length > max_output - out->size()) {
      failure = DiffStatus::kOutputTooLarge;
      return false;
    }
    if (command.kind == DiffCommand::Kind::kLiteral) {
      out->insert(out->end(), command.literal, command.literal + command.length);
      return true;
    }
    if (command.offset > old_file.size() || command.length > old_file.size() - command.offset) {
      failure = DiffStatus::kCopyOutsideOld;
      return false;
    }
    const uint8_t* from = old_file.data() + command.offset;
    out->insert(out->end(), from, from + command.length);
    return true;
  });
  if (walked != DiffStatus::kOk) return walked;
  return failure;
}

}  // namespace gp::builder
