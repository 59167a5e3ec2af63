// Large working buffers: anonymous mappings that ask for transparent huge pages (the heap for
// those smaller than one).
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

namespace gp::platform {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

WorkBuffer::~WorkBuffer() { Release(); }

void WorkBuffer::Release() {
  if (base_ != nullptr && reserved_ == 0) std::free(base_);
  if (base_ != nullptr && reserved_ != 0) munmap(base_, reserved_);
  base_ = nullptr;
  reserved_ = 0;
  data_ = nullptr;
  size_ = 0;
}

bool WorkBuffer::Allocate(size_t size) {
  Release();
  if (size == 0 || size > SIZE_MAX - 2 * kHugePage) return false;
  if (size < kHugePage) {
    // Below a huge page the heap serves: its memory is reused from one buffer to the next, where
    // a huge page would cost the zeroing of 2 MiB for a small file.
    base_ = std::calloc(size, 1);
    if (base_ == nullptr) return false;
    data_ = static_cast<uint8_t*>(base_);
    size_ = size;
    return true;
  }
  // One huge page more than asked, so that the buffer can start on a huge-page boundary.
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  const size_t reserved = rounded + kHugePage;
  void* base = mmap(nullptr, reserved, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return false;
  const auto address = reinterpret_cast<uintptr_t>(base);
  const uintptr_t aligned = (address + kHugePage - 1) / kHugePage * kHugePage;
#ifdef MADV_HUGEPAGE
  // Only a hint: without huge pages the buffer works page by page.
  madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
  base_ = base;
  reserved_ = reserved;
  data_ = reinterpret_cast<uint8_t*>(aligned);
  size_ = size;
  return true;
}

}  // namespace gp::platform
