#include "app/package_loader.h"

#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "base/texts.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "format/header_layout.h"
#include "format/package_header.h"
#include "format/trailer.h"
#include "platform/platform.h"
#include "storage/folder_journal.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_context.h"

namespace gp {

namespace {

void ShowLoaderMessage(ui::Host& host, const char* text) {
  host.MessageBox(nullptr, text, texts::kCaptionExtractionError, ui::kMbOk);
}

// Copies a checked text (shorter than the slot) into a slot and terminates it.
void CopyText(char* slot, std::string_view text) {
  std::memcpy(slot, text.data(), text.size());
  slot[text.size()] = '\0';
}

}  // namespace

enum class BlockRead { kOk, kUnreadable, kInconsistent };

// Reads the header block of length bytes at offset (checked against *crc when given), closes
// the file, and parses the block into the tables; an inconsistent header leaves them empty.
static BlockRead ReadHeaderBlock(PackageTables& p, platform::File& file, uint64_t offset,
                                 uint32_t length, const uint32_t* crc) {
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length ? length : 1]);
  uint32_t done = 0;
  if (!block || !file.Seek(static_cast<int64_t>(offset), platform::Origin::kBegin) ||
      !file.Read(block.get(), length, &done) || done < length ||
      (crc != nullptr && Crc32Update(0, block.get(), length) != *crc)) {
    return BlockRead::kUnreadable;
  }
  file.Close();
  p.header_block = std::move(block);
  p.header_length = length;
  if (ParseHeaderBlock(p) != HeaderStatus::kOk) {
    ReleaseGenerationTables(p);
    return BlockRead::kInconsistent;
  }
  return BlockRead::kOk;
}

// The header of a compact package, checked against the trailer's checksum before it is parsed.
// Damage is always reported: the package cannot be applied.
static bool ReadCompactHeader(RunContext& context, platform::File& file,
                              format::CompactTrailerStatus status,
                              const format::CompactLayout& where, bool named) {
  PackageTables& p = context.package;
  const char* damaged = named ? texts::kTextInvalidDataFile : texts::kTextNotProductFile;
  if (status != format::CompactTrailerStatus::kOk) {
    ShowLoaderMessage(context.host, damaged);
    return false;
  }
  const BlockRead read =
      ReadHeaderBlock(p, file, where.header_offset, where.header_length, &where.header_crc);
  if (read != BlockRead::kOk) {
    ShowLoaderMessage(context.host, damaged);
    return false;
  }
  p.compact = true;
  return true;
}

HeaderStatus ParseHeaderBlock(PackageTables& p) {
  if (!p.texts) return HeaderStatus::kInconsistent;
  format::PackageHeader header;
  if (format::ParsePackageHeader(p.header_block.get(), p.header_length, &header) !=
      format::HeaderError::kNone) {
    return HeaderStatus::kInconsistent;
  }

  // The header fits: copy the words and texts, and build the tables.
  for (size_t i = 0; i < layout::kOptionWordCount; ++i) p.option_words[i] = header.option_words[i];
  CopyText(p.Text(kSlotProjectComment), header.comment);
  CopyText(p.Text(kSlotMessageCaption), header.caption);
  CopyText(p.Text(kSlotDefaultFolder), header.default_folder);
  const int generation_count = header.generation_count;
  const int group_count = header.group_count;
  p.generation_count = header.generation_count;
  p.group_count = header.group_count;

  p.generations.reset(new (std::nothrow) GenerationRow[generation_count > 0 ? generation_count : 1]);
  if (!p.generations) return HeaderStatus::kInconsistent;
  if (group_count != 0) {
    const size_t cells = static_cast<size_t>(generation_count) * static_cast<size_t>(group_count);
    p.groups.reset(new (std::nothrow) GroupCell[cells > 0 ? cells : 1]);
    if (!p.groups) return HeaderStatus::kInconsistent;
  }

  // Texts are views into the header block, each NUL-terminated there.
  for (int g = 0; g < generation_count; ++g) {
    const format::GenerationView& generation = header.generations[g];
    GenerationRow& row = p.generations[g];
    row.name = generation.name.data();
    row.comment = generation.comment.data();
    row.entry_count = generation.entry_count;
    for (int k = 0; k < row.entry_count; ++k) {
      const format::GroupEntryView& entry = header.entries[generation.first_entry + k];
      GroupCell* cell = p.Cell(g, k);
      cell->filled = true;
      cell->name = entry.name.empty() ? nullptr : entry.name.data();
      cell->comment = entry.comment.empty() ? nullptr : entry.comment.data();
      cell->folder = new (std::nothrow) char[layout::kPathBufferSize];
      if (cell->folder == nullptr) return HeaderStatus::kInconsistent;
      std::memset(cell->folder, 0, layout::kPathBufferSize);
      std::memcpy(cell->folder, entry.folder.data(), entry.folder.size());  // under 260 bytes
    }
  }
  return HeaderStatus::kOk;
}

format::PackageEndStatus LocateExecutablePackageEnd(platform::File& file, uint64_t file_size,
                                                    format::PackageEnd* end) {
  auto read_at = [&file](uint64_t offset, uint8_t* buffer, size_t size) {
    uint32_t done = 0;
    return file.Seek(static_cast<int64_t>(offset), platform::Origin::kBegin) &&
           file.Read(buffer, static_cast<uint32_t>(size), &done) && done == size;
  };
  return format::LocatePackageEnd(file_size, read_at, end);
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

  p.compact = false;
  uint64_t file_size = 0;
  uint32_t done = 0;
  const bool sized = file.Size(&file_size);
  // A signed executable's package ends before its certificate table; a table that breaks the
  // rule makes the package a damaged one.
  format::PackageEnd package_end;
  package_end.end = file_size;
  const format::PackageEndStatus signing =
      sized && !named ? LocateExecutablePackageEnd(file, file_size, &package_end)
                      : format::PackageEndStatus::kUnsigned;
  if (signing == format::PackageEndStatus::kDamaged) {
    ShowLoaderMessage(context.host, texts::kTextNotProductFile);
    return false;
  }
  // A signature that does not match the file's bytes: refused before anything is read from
  // them (checked where the system can; see platform::VerifyFileSignature).
  if (signing == format::PackageEndStatus::kSigned &&
      platform::VerifyFileSignature(file_path) == platform::SignatureVerdict::kMismatch) {
    ShowLoaderMessage(context.host, texts::kTextSignatureMismatch);
    return false;
  }
  const uint64_t end = package_end.end;

  // A compact package (format/compact.h) says so at its end, whichever form it has.
  {
    uint8_t tail[format::kCompactTrailerSize] = {};
    format::CompactLayout compact;
    const bool tail_read =
        sized && end >= sizeof tail &&
        file.Seek(static_cast<int64_t>(end - sizeof tail), platform::Origin::kBegin) &&
        file.Read(tail, sizeof tail, &done) && done == sizeof tail;
    const format::CompactTrailerStatus compact_status =
        tail_read ? format::ReadCompactTrailer(tail, end, &compact)
                  : format::CompactTrailerStatus::kNotCompact;
    if (compact_status != format::CompactTrailerStatus::kNotCompact) {
      return ReadCompactHeader(context, file, compact_status, compact, named);
    }
  }

  // The trailer of the form the program was started with: the own file is an executable,
  // a named file a data file.
  const format::PackageForm form =
      named ? format::PackageForm::kDataFile : format::PackageForm::kExecutable;
  const size_t trailer_size = format::TrailerSize(form);
  uint8_t trailer[format::kTrailerReadSize] = {};
  const bool trailer_read =
      sized && end >= trailer_size &&
      file.Seek(static_cast<int64_t>(end - trailer_size), platform::Origin::kBegin) &&
      file.Read(trailer, static_cast<uint32_t>(trailer_size), &done) && done == trailer_size;
  format::PackageLayout where;
  const format::TrailerStatus status =
      trailer_read ? format::ReadTrailer(form, std::span<const uint8_t>(trailer, trailer_size),
                                         end, &where)
                   : format::TrailerStatus::kTooSmall;
  if (status == format::TrailerStatus::kTooSmall || status == format::TrailerStatus::kBadMagic) {
    if (named) ShowLoaderMessage(context.host, texts::kTextInvalidDataFile);
    return false;
  }
  // The header ends where the trailer begins. A header longer than what precedes the trailer
  // cannot be read whole: that is a short read, which fails without a message. The payload
  // length is not the loader's concern.
  if (status == format::TrailerStatus::kHeaderOutside) return false;
  const BlockRead read = ReadHeaderBlock(p, file, where.header_offset, where.header_length, nullptr);
  if (read == BlockRead::kInconsistent && named) {
    ShowLoaderMessage(context.host, texts::kTextInvalidDataFile);
  }
  return read == BlockRead::kOk;
}

}  // namespace gp
