// The header loader on arbitrary header blocks: every table it builds must stay inside the
// block and its buffers, whatever the lengths, offsets and counts say.
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/package_loader.h"
#include "update/package_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
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
