// Large work buffers: VirtualAlloc, committed at once, backed by memory as it is touched.
#include "platform/large_memory.h"

#include "platform/win32/windows_support.h"

namespace gp::platform {

bool TakeLargeMemory(size_t size, LargeMemory* memory) {
  void* base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return false;
  memory->base = base;
  memory->reserved = size;
  memory->data = static_cast<uint8_t*>(base);
  return true;
}

void GiveBackLargeMemory(const LargeMemory& memory) { VirtualFree(memory.base, 0, MEM_RELEASE); }

}  // namespace gp::platform
