#include "app/package_loader.h"

#include <cstring>
#include <new>

#include "format/header_layout.h"
#include "base/byte_reader.h"
#include "base/endian.h"
#include "base/texts.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace gp {

namespace {

// A text of declared length (NUL included) at offset inside [begin, limit): it must lie there
// whole, and end with its NUL inside the declared length. *text views it; *size is its length
// without NUL.
bool CheckText(const uint8_t* block, size_t limit, size_t offset, uint32_t length,
               const char** text, size_t* size) {
  if (length == 0 || offset > limit || length > limit - offset) return false;
  const char* p = reinterpret_cast<const char*>(block + offset);
  const size_t n = BoundedLength(p, length);
  if (n == length) return false;  // no NUL inside its length
  *text = p;
  *size = n;
  return true;
}

// Copies a checked text into a buffer of capacity bytes; false when it does not fit.
bool CopyText(char* buffer, size_t capacity, const char* text, size_t size) {
  if (size >= capacity) return false;
  std::memcpy(buffer, text, size);
  buffer[size] = '\0';
  return true;
}

void ShowLoaderMessage(ui::Host& host, const char* text) {
  host.MessageBox(nullptr, text, texts::kCaptionExtractionError, ui::kMbOk);
}

}  // namespace

HeaderStatus ParseHeaderBlock(PackageTables& p) {
  const uint8_t* block = p.header_block.get();
  const size_t size = p.header_length;
  if (block == nullptr || size < layout::kFixedPartSize || !p.texts) {
    return HeaderStatus::kInconsistent;
  }

  // Texts 1 to 3 of the fixed part.
  const uint32_t comment_length = LoadU32(block + layout::kCommentLength);
  const uint32_t caption_length = LoadU32(block + layout::kCaptionLength);
  const char* comment = nullptr;
  const char* caption = nullptr;
  const char* folder = nullptr;
  size_t comment_size = 0;
  size_t caption_size = 0;
  size_t folder_size = 0;
  size_t at = layout::kTexts;
  if (!CheckText(block, size, at, comment_length, &comment, &comment_size)) {
    return HeaderStatus::kInconsistent;
  }
  at += comment_length;
  if (!CheckText(block, size, at, caption_length, &caption, &caption_size)) {
    return HeaderStatus::kInconsistent;
  }
  at += caption_length;
  // The default folder's stored length is not relied on: the text runs to its NUL.
  if (at >= size) return HeaderStatus::kInconsistent;
  folder = reinterpret_cast<const char*>(block + at);
  folder_size = BoundedLength(folder, size - at);
  if (folder_size == size - at) return HeaderStatus::kInconsistent;
  if (comment_size >= layout::kTextSlotSize || caption_size >= layout::kTextSlotSize ||
      folder_size >= layout::kTextSlotSize) {
    return HeaderStatus::kInconsistent;
  }

  const int16_t generation_count = static_cast<int16_t>(LoadU16(block + layout::kGenerationCount));
  const int16_t group_count = static_cast<int16_t>(LoadU16(block + layout::kGroupCount));
  const uint32_t table_offset = LoadU32(block + layout::kGenerationTableOffset);
  if (generation_count < 0 || group_count < 0 || table_offset > size) {
    return HeaderStatus::kInconsistent;
  }

  // Walk the records once to check them, before anything is allocated or copied.
  {
    ByteReader all(block, size);
    size_t record = table_offset;
    for (int g = 0; g < generation_count; ++g) {
      ByteReader r;
      if (!all.SubReader(record, size - record, &r) || r.remaining() < layout::kRecordTexts) {
        return HeaderStatus::kInconsistent;
      }
      const uint32_t record_size = LoadU32(r.current() + layout::kRecordSize);
      const uint8_t entry_count = r.current()[layout::kRecordEntryCount];
      const uint32_t name_length = LoadU32(r.current() + layout::kRecordNameLength);
      const uint32_t gcomment_length = LoadU32(r.current() + layout::kRecordCommentLength);
      if (record_size > r.remaining() || entry_count > group_count) {
        return HeaderStatus::kInconsistent;
      }
      const uint8_t* rec = r.current();
      const char* text = nullptr;
      size_t text_size = 0;
      if (!CheckText(rec, record_size, layout::kRecordTexts, name_length, &text, &text_size) ||
          !CheckText(rec, record_size, layout::kRecordTexts + name_length, gcomment_length, &text,
                     &text_size)) {
        return HeaderStatus::kInconsistent;
      }
      size_t entry = layout::kRecordTexts + static_cast<size_t>(name_length) + gcomment_length;
      for (int k = 0; k < entry_count; ++k) {
        if (entry > record_size || record_size - entry < layout::kEntryTexts) {
          return HeaderStatus::kInconsistent;
        }
        const uint8_t* e = rec + entry;
        const uint32_t entry_size = LoadU32(e + layout::kEntrySize);
        const uint32_t gname_length = LoadU32(e + layout::kEntryNameLength);
        const uint32_t ecomment_length = LoadU32(e + layout::kEntryCommentLength);
        if (entry_size > record_size - entry) return HeaderStatus::kInconsistent;
        size_t folder_at = layout::kEntryTexts;
        if (!CheckText(e, entry_size, folder_at, gname_length, &text, &text_size)) {
          return HeaderStatus::kInconsistent;
        }
        folder_at += gname_length;
        if (!CheckText(e, entry_size, folder_at, ecomment_length, &text, &text_size)) {
          return HeaderStatus::kInconsistent;
        }
        folder_at += ecomment_length;
        // The folder runs to its NUL, inside the entry, and fits a 260-byte buffer.
        if (folder_at >= entry_size) return HeaderStatus::kInconsistent;
        const size_t folder_room = entry_size - folder_at;
        const size_t n = BoundedLength(reinterpret_cast<const char*>(e + folder_at), folder_room);
        if (n == folder_room || n >= layout::kPathBufferSize) return HeaderStatus::kInconsistent;
        entry += entry_size;
      }
      record += record_size;
    }
  }

  // The header fits: copy the words and texts, and build the tables.
  for (size_t i = 0; i < layout::kOptionWordCount; ++i) {
    p.option_words[i] = LoadU32(block + layout::kOptionWordsStart + 4 * i);
  }
  CopyText(p.Text(kSlotProjectComment), layout::kTextSlotSize, comment, comment_size);
  CopyText(p.Text(kSlotMessageCaption), layout::kTextSlotSize, caption, caption_size);
  CopyText(p.Text(kSlotDefaultFolder), layout::kTextSlotSize, folder, folder_size);
  p.generation_count = generation_count;
  p.group_count = group_count;

  p.generations.reset(new (std::nothrow) GenerationRow[generation_count > 0 ? generation_count : 1]);
  if (!p.generations) return HeaderStatus::kInconsistent;
  if (group_count != 0) {
    const size_t cells = static_cast<size_t>(generation_count) * static_cast<size_t>(group_count);
    p.groups.reset(new (std::nothrow) GroupCell[cells > 0 ? cells : 1]);
    if (!p.groups) return HeaderStatus::kInconsistent;
  }

  const uint8_t* record = block + table_offset;
  for (int g = 0; g < generation_count; ++g) {
    const uint32_t record_size = LoadU32(record + layout::kRecordSize);
    const uint32_t name_length = LoadU32(record + layout::kRecordNameLength);
    const uint32_t gcomment_length = LoadU32(record + layout::kRecordCommentLength);
    GenerationRow& row = p.generations[g];
    row.name = reinterpret_cast<const char*>(record + layout::kRecordTexts);
    row.comment = reinterpret_cast<const char*>(record + layout::kRecordTexts + name_length);
    row.entry_count = record[layout::kRecordEntryCount];
    const uint8_t* entry = record + layout::kRecordTexts + name_length + gcomment_length;
    for (int k = 0; k < row.entry_count; ++k) {
      const uint32_t entry_size = LoadU32(entry + layout::kEntrySize);
      const uint32_t gname_length = LoadU32(entry + layout::kEntryNameLength);
      const uint32_t ecomment_length = LoadU32(entry + layout::kEntryCommentLength);
      GroupCell* cell = p.Cell(g, k);
      const char* name = reinterpret_cast<const char*>(entry + layout::kEntryTexts);
      const char* gcomment = name + gname_length;
      const char* gfolder = gcomment + ecomment_length;
      cell->filled = true;
      cell->name = name[0] != '\0' ? name : nullptr;
      cell->comment = gcomment[0] != '\0' ? gcomment : nullptr;
      cell->folder = new (std::nothrow) char[layout::kPathBufferSize];
      if (cell->folder == nullptr) return HeaderStatus::kInconsistent;
      std::memset(cell->folder, 0, layout::kPathBufferSize);
      std::strcpy(cell->folder, gfolder);  // checked above: NUL-terminated, under 260 bytes
      entry += entry_size;
    }
    record += record_size;
  }
  return HeaderStatus::kOk;
}

bool LoadPackageHeader(RunContext& context, const char* path) {
  AllocateTextBuffers(context.package);
  OpenFolderJournal(context.journal);
  const bool named = path != nullptr && path[0] != '\0';
  if (named) return ReadPackageHeader(context, path, true);
  char own[layout::kPathBufferSize] = {};
  const uint32_t n = platform::ModuleFilePath(own, sizeof(own));
  return ReadPackageHeader(context, (n != 0 && n < sizeof(own)) ? own : "", false);
}

bool ReadPackageHeader(RunContext& context, const char* file_path, bool named) {
  PackageTables& p = context.package;
  if (!p.texts || !p.destination_folder) return false;

  platform::File file;
  if (!file.Open(file_path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting, platform::Hint::kRandomAccess)) {
    ShowLoaderMessage(context.host, texts::kTextCannotExtract);
    return false;
  }

  // The trailer: [u32 payload length] u32 header length, magic.
  const size_t trailer_size = named ? layout::kDataFileTrailerSize : layout::kExecutableTrailerSize;
  uint8_t trailer[layout::kExecutableTrailerSize] = {};
  uint64_t file_size = 0;
  uint32_t done = 0;
  const bool trailer_read = file.Size(&file_size) && file_size >= trailer_size &&
                            file.Seek(-static_cast<int64_t>(trailer_size), platform::Origin::kEnd) &&
                            file.Read(trailer, static_cast<uint32_t>(trailer_size), &done) &&
                            done == trailer_size;
  const uint8_t* magic = trailer + trailer_size - layout::kTrailerMagicSize;
  if (!trailer_read || std::memcmp(magic, layout::kTrailerMagic, layout::kTrailerMagicSize) != 0) {
    if (named) ShowLoaderMessage(context.host, texts::kTextInvalidDataFile);
    return false;
  }
  const uint32_t header_length = LoadU32(trailer + trailer_size - layout::kTrailerMagicSize - 4);

  // The header ends where the trailer begins. A header longer than what precedes the trailer
  // cannot be read whole: that is a short read, which fails without a message.
  if (header_length > file_size - trailer_size) return false;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[header_length ? header_length : 1]);
  if (!block) return false;
  if (!file.Seek(-static_cast<int64_t>(header_length + trailer_size), platform::Origin::kEnd) ||
      !file.Read(block.get(), header_length, &done) || done < header_length) {
    return false;
  }
  file.Close();

  p.header_block = std::move(block);
  p.header_length = header_length;
  if (ParseHeaderBlock(p) != HeaderStatus::kOk) {
    ReleaseGenerationTables(p);
    if (named) ShowLoaderMessage(context.host, texts::kTextInvalidDataFile);
    return false;
  }
  return true;
}

}  // namespace gp
