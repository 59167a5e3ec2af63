// Large work buffers: anonymous mappings that ask for transparent huge pages.
#include "platform/large_memory.h"

#include <sys/mman.h>

namespace gp::platform {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

bool TakeLargeMemory(size_t size, LargeMemory* memory) {
  if (size > SIZE_MAX - 2 * kHugePage) return false;
  // One huge page more than asked, so that the buffer can start on a huge-page boundary.
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  const size_t reserved = rounded + kHugePage;
  void* base = mmap(nullptr, reserved, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return false;
  const auto address = reinterpret_cast<uintptr_t>(base);
  const uintptr_t aligned = (address + kHugePage - 1) / kHugePage * kHugePage;
#ifdef MADV_HUGEPAGE
  // Only a hint: without huge pages the buffer works page by page. One fault then serves 2 MiB
  // instead of 4 KiB, which is what makes filling a buffer slow in a virtual machine.
  madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
  memory->base = base;
  memory->reserved = reserved;
  memory->data = reinterpret_cast<uint8_t*>(aligned);
  return true;
}

void GiveBackLargeMemory(const LargeMemory& memory) { munmap(memory.base, memory.reserved); }

}  // namespace gp::platform
