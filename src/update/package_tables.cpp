#include "update/package_tables.h"

#include <cstring>
#include <new>

#include "format/header_layout.h"

namespace gp {

namespace {

std::unique_ptr<char[]> NewZeroed(size_t size) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (buffer) std::memset(buffer.get(), 0, size);
  return buffer;
}

}  // namespace

void PackageTables::Reset() {
  ReleaseGenerationTables(*this);
  header_block.reset();
  header_length = 0;
  compact = false;
  std::memset(option_words, 0, sizeof(option_words));
  generation_count = 0;
  group_count = 0;
  texts.reset();
  destination_folder.reset();
  windows_folder.reset();
  system_folder.reset();
}

bool AllocateTextBuffers(PackageTables& p) {
  p.destination_folder = NewZeroed(layout::kPathBufferSize);
  p.windows_folder = NewZeroed(layout::kPathBufferSize);
  p.system_folder = NewZeroed(layout::kPathBufferSize);
  p.texts = NewZeroed(layout::kTextSlotSize * kTextSlotCount);
  return p.destination_folder && p.windows_folder && p.system_folder && p.texts;
}

void ReleaseGenerationTables(PackageTables& p) {
  if (p.groups) {
    const size_t cells =
        static_cast<size_t>(p.generation_count) * static_cast<size_t>(p.group_count);
    for (size_t i = 0; i < cells; ++i) delete[] p.groups[i].folder;
    p.groups.reset();
  }
  p.generations.reset();
}

void ReleaseTextBuffers(PackageTables& p) {
  p.destination_folder.reset();
  p.windows_folder.reset();
  p.system_folder.reset();
  p.texts.reset();
  p.header_block.reset();
  p.header_length = 0;
}

}  // namespace gp
