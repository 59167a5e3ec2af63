#include "format/package_header.h"

#include <cstring>
#include <new>

#include "base/byte_reader.h"

namespace gp::format {

namespace {

using namespace layout;

// The smallest record and group entry: their fixed parts and texts of one NUL each.
constexpr size_t kMinRecordSize = kRecordTexts + 2;
constexpr size_t kMinEntrySize = kEntryTexts + 3;

// The u32 or i16 at offset of an area already known to hold it.
uint32_t U32At(const ByteReader& area, size_t offset) {
  ByteReader r;
  uint32_t value = 0;
  if (area.SubReader(offset, 4, &r)) r.ReadU32(&value);
  return value;
}

int16_t I16At(const ByteReader& area, size_t offset) {
  ByteReader r;
  uint16_t value = 0;
  if (area.SubReader(offset, 2, &r)) r.ReadU16(&value);
  return static_cast<int16_t>(value);
}

// A text of stored length (NUL included) at offset inside area: it must lie there whole and
// have its NUL inside that length. The view runs to the NUL.
HeaderError StoredText(const ByteReader& area, size_t offset, uint32_t length,
                       std::string_view* text) {
  ByteReader r;
  const uint8_t* bytes = nullptr;
  if (length == 0 || !area.SubReader(offset, length, &r) || !r.ReadView(length, &bytes)) {
    return HeaderError::kTextOutside;
  }
  const char* p = reinterpret_cast<const char*>(bytes);
  const size_t n = BoundedLength(p, length);
  if (n == length) return HeaderError::kTextUnterminated;
  *text = std::string_view(p, n);
  return HeaderError::kNone;
}

// A text without a stored length: it runs from offset to its NUL, which lies inside area.
HeaderError OpenText(const ByteReader& area, size_t offset, std::string_view* text) {
  ByteReader r;
  const uint8_t* bytes = nullptr;
  if (offset >= area.size() || !area.SubReader(offset, area.size() - offset, &r) ||
      !r.ReadView(r.size(), &bytes)) {
    return HeaderError::kTextUnterminated;
  }
  const char* p = reinterpret_cast<const char*>(bytes);
  const size_t n = BoundedLength(p, r.size());
  if (n == r.size()) return HeaderError::kTextUnterminated;
  *text = std::string_view(p, n);
  return HeaderError::kNone;
}

#define GP_CHECK(expr)                              \
  do {                                              \
    const HeaderError error_ = (expr);              \
    if (error_ != HeaderError::kNone) return error_; \
  } while (0)

// One group entry at the reader's position inside its record; the reader moves past it.
HeaderError ParseEntry(ByteReader& record, GroupEntryView* entry) {
  ByteReader e;
  if (!record.SubReader(record.position(), record.remaining(), &e) ||
      e.remaining() < kEntryTexts) {
    return HeaderError::kEntryOutside;
  }
  const uint32_t entry_size = U32At(e, kEntrySize);
  if (entry_size > e.remaining()) return HeaderError::kEntryOutside;
  ByteReader area;
  record.SubReader(record.position(), entry_size, &area);
  const uint32_t name_length = U32At(e, kEntryNameLength);
  const uint32_t comment_length = U32At(e, kEntryCommentLength);
  GP_CHECK(StoredText(area, kEntryTexts, name_length, &entry->name));
  const size_t comment_at = kEntryTexts + static_cast<size_t>(name_length);
  GP_CHECK(StoredText(area, comment_at, comment_length, &entry->comment));
  // The folder runs to its NUL, inside the entry, and fits a 260-byte buffer.
  GP_CHECK(OpenText(area, comment_at + comment_length, &entry->folder));
  if (entry->folder.size() >= kPathBufferSize) return HeaderError::kFolderTooLong;
  record.Skip(entry_size);
  return HeaderError::kNone;
}

// One generation record at the reader's position; its entries go to entries[*used ...].
HeaderError ParseRecord(ByteReader& table, int16_t group_count, GenerationView* generation,
                        GroupEntryView* entries, size_t capacity, size_t* used) {
  if (table.remaining() < kRecordTexts) return HeaderError::kRecordOutside;
  ByteReader fixed;
  table.SubReader(table.position(), kRecordTexts, &fixed);
  const uint32_t record_size = U32At(fixed, kRecordSize);
  uint8_t entry_count = 0;
  fixed.Seek(kRecordEntryCount);
  fixed.ReadU8(&entry_count);
  const uint32_t name_length = U32At(fixed, kRecordNameLength);
  const uint32_t comment_length = U32At(fixed, kRecordCommentLength);
  if (record_size > table.remaining()) return HeaderError::kRecordOutside;
  if (entry_count > group_count) return HeaderError::kTooManyEntries;
  ByteReader record;
  table.SubReader(table.position(), record_size, &record);
  GP_CHECK(StoredText(record, kRecordTexts, name_length, &generation->name));
  const size_t comment_at = kRecordTexts + static_cast<size_t>(name_length);
  GP_CHECK(StoredText(record, comment_at, comment_length, &generation->comment));
  generation->entry_count = entry_count;
  generation->first_entry = *used;
  record.Seek(comment_at + comment_length);  // inside: the comment ends there
  for (int k = 0; k < entry_count; ++k) {
    if (*used >= capacity) return HeaderError::kEntryOutside;  // cannot fit the block
    GP_CHECK(ParseEntry(record, &entries[*used]));
    ++*used;
  }
  table.Skip(record_size);
  return HeaderError::kNone;
}

}  // namespace

HeaderError ParsePackageHeader(const uint8_t* block, size_t size, PackageHeader* header) {
  *header = PackageHeader();
  if (block == nullptr || size < kFixedPartSize) return HeaderError::kTooShort;
  const ByteReader all(block, size);
  PackageHeader out;
  for (size_t i = 0; i < kOptionWordCount; ++i) {
    out.option_words[i] = U32At(all, kOptionWordsStart + 4 * i);
  }

  const uint32_t comment_length = U32At(all, kCommentLength);
  const uint32_t caption_length = U32At(all, kCaptionLength);
  GP_CHECK(StoredText(all, kTexts, comment_length, &out.comment));
  const size_t caption_at = kTexts + static_cast<size_t>(comment_length);
  GP_CHECK(StoredText(all, caption_at, caption_length, &out.caption));
  GP_CHECK(OpenText(all, caption_at + caption_length, &out.default_folder));
  if (out.comment.size() >= kTextSlotSize || out.caption.size() >= kTextSlotSize ||
      out.default_folder.size() >= kTextSlotSize) {
    return HeaderError::kTextTooLong;
  }

  out.generation_count = I16At(all, kGenerationCount);
  out.group_count = I16At(all, kGroupCount);
  const uint32_t table_offset = U32At(all, kGenerationTableOffset);
  if (out.generation_count < 0 || out.group_count < 0) return HeaderError::kNegativeCount;
  if (table_offset > size) return HeaderError::kTableOutside;

  // Room for every record and entry the block can hold, no more.
  const size_t table_size = size - table_offset;
  const size_t generations = static_cast<size_t>(out.generation_count);
  if (generations > table_size / kMinRecordSize) return HeaderError::kRecordOutside;
  size_t capacity = generations * static_cast<size_t>(out.group_count);
  if (capacity > table_size / kMinEntrySize) capacity = table_size / kMinEntrySize;
  out.generations.reset(new (std::nothrow) GenerationView[generations > 0 ? generations : 1]);
  out.entries.reset(new (std::nothrow) GroupEntryView[capacity > 0 ? capacity : 1]);
  if (!out.generations || !out.entries) return HeaderError::kNoMemory;

  ByteReader table;
  all.SubReader(table_offset, table_size, &table);
  for (size_t g = 0; g < generations; ++g) {
    GP_CHECK(ParseRecord(table, out.group_count, &out.generations[g], out.entries.get(), capacity,
                         &out.entry_total));
  }
  *header = std::move(out);
  return HeaderError::kNone;
}

#undef GP_CHECK

}  // namespace gp::format
