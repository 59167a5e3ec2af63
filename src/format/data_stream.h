// The data streams of the work docfile, one per file of a step. Every one begins with a
// 12-byte entry header:
//
//   0  u16 year    2 u8 month    3 u8 day    4 u8 hour    5 u8 minute    6 u8 second
//   7  u8 millisecond (the target's last-write time, local wall-clock time)
//   8  u32 attributes
//
// A whole-file stream then holds the file's content in blocks, each a u16 length n (at most
// 32,767) and n bytes, that tile the rest of the stream; our writer fills every block but the
// last, and an empty file has none.
//
// A diff file holds commands up to its end, with no count and no end marker:
//
//   word 0x0000-0x7FFF  literal run: `word` bytes of data follow and are appended
//   word 0x8000         long copy: u32 offset, u32 length; appends old[offset, offset + length)
//   word 0x8001-0xFFFF  short copy: u32 offset; appends (word - 0x8000) bytes of the old file
//
// The program that applies a diff streams it through a 32,767-byte buffer, which is why blocks,
// literal runs and short copies stop at that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gp::format {

inline constexpr size_t kEntryHeaderSize = 12;
inline constexpr size_t kEntryYearOffset = 0;
inline constexpr size_t kEntryMonthOffset = 2;
inline constexpr size_t kEntryDayOffset = 3;
inline constexpr size_t kEntryHourOffset = 4;
inline constexpr size_t kEntryMinuteOffset = 5;
inline constexpr size_t kEntrySecondOffset = 6;
inline constexpr size_t kEntryMillisecondOffset = 7;
inline constexpr size_t kEntryAttributesOffset = 8;

// Time and attributes carried at the start of every data stream.
struct EntryHeader {
  uint16_t year = 1980;
  uint8_t month = 1;
  uint8_t day = 1;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint8_t millisecond = 0;
  uint32_t attributes = 0x20;  // archive

  bool operator==(const EntryHeader&) const = default;
};

// Appends the 12 header bytes to `out`.
void AppendEntryHeader(const EntryHeader& header, std::vector<uint8_t>* out);
// Reads the header from the first 12 bytes of `data`; false when there are fewer.
bool ParseEntryHeader(const uint8_t* data, size_t size, EntryHeader* header);

// Whole-file stream blocks.
inline constexpr uint32_t kWholeFileBlockSize = 0x7FFF;
inline constexpr size_t kWholeFileBlockHeaderSize = 2;

// Diff commands.
inline constexpr size_t kCommandWordSize = 2;
inline constexpr uint16_t kLongCopyWord = 0x8000;  // words below are literal runs
inline constexpr uint32_t kMaxLiteralRun = 0x7FFF;
inline constexpr uint32_t kMaxShortCopy = 0x7FFF;
inline constexpr size_t kLiteralHeaderSize = kCommandWordSize;
inline constexpr size_t kShortCopyOperandsSize = 4;
inline constexpr size_t kLongCopyOperandsSize = 8;
inline constexpr size_t kShortCopySize = kCommandWordSize + kShortCopyOperandsSize;  // 6
inline constexpr size_t kLongCopySize = kCommandWordSize + kLongCopyOperandsSize;    // 10

enum class CommandKind { kLiteral, kShortCopy, kLongCopy };

// What a command word says, before its operands: the kind, the operand bytes that follow the
// word (for a literal run: its data), and the length when the word holds it.
struct CommandWord {
  CommandKind kind = CommandKind::kLiteral;
  size_t operand_size = 0;
  uint32_t length = 0;  // literal run and short copy; a long copy's is in its operands
};

CommandWord DecodeCommandWord(uint16_t word);

// A copy's offset and length from its operands (operand_size bytes).
void DecodeCopyOperands(const CommandWord& word, const uint8_t* operands, uint32_t* offset,
                        uint32_t* length);

// Writes a copy of old[offset, offset + length) (length at least 1): a short copy when the
// length fits one, else a long copy. Returns the bytes written to out (kShortCopySize or
// kLongCopySize; out holds kLongCopySize).
size_t EncodeCopy(uint32_t offset, uint32_t length, uint8_t* out);

}  // namespace gp::format
