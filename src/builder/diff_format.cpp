#include "builder/diff_format.h"

#include "base/endian.h"

namespace gp::builder {

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
  if (size < kEntryHeaderSize) return false;
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

}  // namespace gp::builder
