// Memory for large work buffers, taken from the system directly (the platform's own part of
// WorkBuffer; the heap serves the small ones).
#pragma once

#include <cstddef>
#include <cstdint>

namespace gp::platform {

struct LargeMemory {
  void* base = nullptr;     // what GiveBackLargeMemory takes
  size_t reserved = 0;      // its size, at least the size asked for
  uint8_t* data = nullptr;  // where the buffer starts, inside [base, base + reserved)
};

// Zeroed memory of at least size bytes, backed as it is touched; false when it cannot be had.
bool TakeLargeMemory(size_t size, LargeMemory* memory);
void GiveBackLargeMemory(const LargeMemory& memory);

}  // namespace gp::platform
