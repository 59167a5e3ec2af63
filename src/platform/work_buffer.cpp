// Work buffers: the heap for small ones, memory from the system for large ones.
#include <cstdint>
#include <cstdlib>

#include "platform/large_memory.h"
#include "platform/platform.h"

namespace gp::platform {

namespace {
// From this size on the system's memory serves: its pages cost nothing until touched, and on
// Linux they come as huge pages. Below it the heap reuses its memory from one buffer to the
// next, where a huge page would cost the zeroing of 2 MiB for a small file.
constexpr size_t kLargeBuffer = size_t{2} << 20;
}  // namespace

WorkBuffer::~WorkBuffer() { Release(); }

void WorkBuffer::Release() {
  if (base_ != nullptr && reserved_ == 0) std::free(base_);
  if (base_ != nullptr && reserved_ != 0) GiveBackLargeMemory({base_, reserved_, data_});
  base_ = nullptr;
  reserved_ = 0;
  data_ = nullptr;
  size_ = 0;
}

bool WorkBuffer::Allocate(size_t size) {
  Release();
  if (size == 0 || size > SIZE_MAX / 2) return false;
  if (size < kLargeBuffer) {
    base_ = std::calloc(size, 1);
    if (base_ == nullptr) return false;
    data_ = static_cast<uint8_t*>(base_);
  } else {
    LargeMemory memory;
    if (!TakeLargeMemory(size, &memory)) return false;
    base_ = memory.base;
    reserved_ = memory.reserved;
    data_ = memory.data;
  }
  size_ = size;
  return true;
}

}  // namespace gp::platform
