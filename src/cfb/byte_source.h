// Random-access byte input for the compound-file reader, so that it can sit on a file, a
// memory buffer or anything else that can read at an offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace gp::cfb {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total size in bytes. The reader takes it once when it opens the file.
  virtual uint64_t Size() const = 0;
  // Reads exactly size bytes at offset; false when they are not all there or the read fails.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// A source over bytes in memory, which the caller keeps alive.
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    if (size != 0) std::memcpy(buffer, data_ + offset, size);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace gp::cfb
