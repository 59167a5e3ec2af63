#include "builder/diff_apply.h"

#include "base/byte_reader.h"

namespace gp::builder {

DiffStatus ForEachDiffCommand(std::span<const uint8_t> diff,
                              const std::function<bool(const DiffCommand&)>& visit) {
  ByteReader reader(diff.data(), diff.size());
  if (!reader.Skip(format::kEntryHeaderSize)) return DiffStatus::kTruncatedHeader;
  while (!reader.empty()) {
    DiffCommand command;
    command.position = reader.position();
    uint16_t word = 0;
    if (!reader.ReadU16(&word)) return DiffStatus::kTruncatedCommand;
    const format::CommandWord decoded = format::DecodeCommandWord(word);
    const uint8_t* operands = nullptr;
    if (!reader.ReadView(decoded.operand_size, &operands)) return DiffStatus::kTruncatedCommand;
    if (decoded.kind == format::CommandKind::kLiteral) {
      command.kind = DiffCommand::Kind::kLiteral;
      command.length = decoded.length;
      command.literal = operands;
    } else {
      command.kind = decoded.kind == format::CommandKind::kLongCopy ? DiffCommand::Kind::kLongCopy
                                                                    : DiffCommand::Kind::kShortCopy;
      format::DecodeCopyOperands(decoded, operands, &command.offset, &command.length);
    }
    if (!visit(command)) break;
  }
  return DiffStatus::kOk;
}

DiffStatus ApplyDiff(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                     std::vector<uint8_t>* out, format::EntryHeader* header, size_t max_output) {
  out->clear();
  format::EntryHeader parsed;
  if (!format::ParseEntryHeader(diff.data(), diff.size(), &parsed)) return DiffStatus::kTruncatedHeader;
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
