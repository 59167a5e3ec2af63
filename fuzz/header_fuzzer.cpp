// The header parse and the loader on arbitrary header blocks: every view the parse yields must
// lie inside the block, end at a NUL there and keep to its limit, and every table the loader
// builds from them must stay inside the block and its buffers, whatever the lengths, offsets
// and counts say. The same bytes read as the end of a package must give a trailer reading
// inside the file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "app/package_loader.h"
#include "format/package_header.h"
#include "format/trailer.h"
#include "update/package_tables.h"

namespace {

void CheckView(const uint8_t* block, size_t size, std::string_view text, size_t limit) {
  const auto* begin = reinterpret_cast<const char*>(block);
  if (text.data() < begin || text.size() >= size ||
      static_cast<size_t>(text.data() - begin) > size - text.size() - 1 ||
      text.data()[text.size()] != '\0' || text.size() >= limit) {
    __builtin_trap();
  }
}

void CheckTrailer(const uint8_t* data, size_t size) {
  for (const auto form : {gp::format::PackageForm::kExecutable, gp::format::PackageForm::kDataFile}) {
    gp::format::PackageLayout layout;
    if (gp::format::ReadTrailer(form, {data, size}, size, &layout) != gp::format::TrailerStatus::kOk) {
      continue;
    }
    if (layout.header_offset + layout.header_length + gp::format::TrailerSize(form) != size ||
        layout.payload_offset + layout.payload_length != layout.header_offset) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CheckTrailer(data, size);
  {
    gp::format::PackageHeader header;
    if (gp::format::ParsePackageHeader(data, size, &header) == gp::format::HeaderError::kNone) {
      constexpr size_t kNoLimit = ~size_t{0};
      CheckView(data, size, header.comment, gp::layout::kTextSlotSize);
      CheckView(data, size, header.caption, gp::layout::kTextSlotSize);
      CheckView(data, size, header.default_folder, gp::layout::kTextSlotSize);
      for (int g = 0; g < header.generation_count; ++g) {
        const gp::format::GenerationView& generation = header.generations[g];
        CheckView(data, size, generation.name, kNoLimit);
        CheckView(data, size, generation.comment, kNoLimit);
        if (generation.entry_count > header.group_count ||
            generation.first_entry + generation.entry_count > header.entry_total) {
          __builtin_trap();
        }
        for (int k = 0; k < generation.entry_count; ++k) {
          const gp::format::GroupEntryView& entry = header.entries[generation.first_entry + k];
          CheckView(data, size, entry.name, kNoLimit);
          CheckView(data, size, entry.comment, kNoLimit);
          CheckView(data, size, entry.folder, gp::layout::kPathBufferSize);
        }
      }
    }
  }

  gp::PackageTables p;
  if (!gp::AllocateTextBuffers(p)) return 0;
  p.header_block.reset(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(p.header_block.get(), data, size);
  p.header_length = static_cast<uint32_t>(size);
  if (gp::ParseHeaderBlock(p) == gp::HeaderStatus::kOk) {
    // Touch everything the tables point at, as the dialogs and the update run would.
    size_t sum = 0;
    for (int g = 0; g < p.generation_count; ++g) {
      sum += std::strlen(p.generations[g].name) + std::strlen(p.generations[g].comment);
      for (int k = 0; k < p.group_count; ++k) {
        const gp::GroupCell* cell = p.Cell(g, k);
        if (cell->name) sum += std::strlen(cell->name);
        if (cell->comment) sum += std::strlen(cell->comment);
        if (cell->folder) sum += std::strlen(cell->folder);
      }
    }
    for (int slot = 0; slot < gp::kTextSlotCount; ++slot) {
      sum += std::strlen(p.Text(static_cast<gp::TextSlot>(slot)));
    }
    if (sum == static_cast<size_t>(-1)) return 1;
  }
  return 0;
}
