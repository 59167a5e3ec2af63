// Large working buffers: VirtualAlloc, committed at once, backed by memory as touched.
#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {

WorkBuffer::~WorkBuffer() { Release(); }

void WorkBuffer::Release() {
  if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
  base_ = nullptr;
  reserved_ = 0;
  data_ = nullptr;
  size_ = 0;
}

bool WorkBuffer::Allocate(size_t size) {
  Release();
  if (size == 0) return false;
  void* base = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return false;
  base_ = base;
  reserved_ = size;
  data_ = static_cast<uint8_t*>(base);
  size_ = size;
  return true;
}

}  // namespace gp::platform
