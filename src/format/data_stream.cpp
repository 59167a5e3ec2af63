#include "format/data_stream.h"

#include "base/endian.h"

namespace gp::format {

void AppendEntryHeader(const EntryHeader& header, std::vector<uint8_t>* out) {
  uint8_t bytes[kEntryHeaderSize];
  StoreU16(bytes + kEntryYearOffset, header.year);
  bytes[kEntryMonthOffset] = header.month;
  bytes[kEntryDayOffset] = header.day;
  bytes[kEntryHourOffset] = header.hour;
  bytes[kEntryMinuteOffset] = header.minute;
  bytes[kEntrySecondOffset] = header.second;
  bytes[kEntryMillisecondOffset] = header.millisecond;
  StoreU32(bytes + kEntryAttributesOffset, header.attributes);
  out->insert(out->end(), bytes, bytes + kEntryHeaderSize);
}

bool ParseEntryHeader(const uint8_t* data, size_t size, EntryHeader* header) {
  if (data == nullptr || size < kEntryHeaderSize) return false;
  header->year = LoadU16(data + kEntryYearOffset);
  header->month = data[kEntryMonthOffset];
  header->day = data[kEntryDayOffset];
  header->hour = data[kEntryHourOffset];
  header->minute = data[kEntryMinuteOffset];
  header->second = data[kEntrySecondOffset];
  header->millisecond = data[kEntryMillisecondOffset];
  header->attributes = LoadU32(data + kEntryAttributesOffset);
  return true;
}

CommandWord DecodeCommandWord(uint16_t word) {
  CommandWord command;
  if (word < kLongCopyWord) {
    command.kind = CommandKind::kLiteral;
    command.operand_size = word;
    command.length = word;
  } else if (word == kLongCopyWord) {
    command.kind = CommandKind::kLongCopy;
    command.operand_size = kLongCopyOperandsSize;
  } else {
    command.kind = CommandKind::kShortCopy;
    command.operand_size = kShortCopyOperandsSize;
    command.length = static_cast<uint32_t>(word - kLongCopyWord);
  }
  return command;
}

void DecodeCopyOperands(const CommandWord& word, const uint8_t* operands, uint32_t* offset,
                        uint32_t* length) {
  *offset = LoadU32(operands);
  *length = word.kind == CommandKind::kLongCopy ? LoadU32(operands + 4) : word.length;
}

size_t EncodeCopy(uint32_t offset, uint32_t length, uint8_t* out) {
  if (length <= kMaxShortCopy) {
    StoreU16(out, static_cast<uint16_t>(kLongCopyWord + length));
    StoreU32(out + kCommandWordSize, offset);
    return kShortCopySize;
  }
  StoreU16(out, kLongCopyWord);
  StoreU32(out + kCommandWordSize, offset);
  StoreU32(out + kCommandWordSize + 4, length);
  return kLongCopySize;
}

}  // namespace gp::format
