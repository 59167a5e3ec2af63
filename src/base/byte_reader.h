// One bounds-checked reader for parsing bytes in memory. Every get reports failure instead of
// reading past the end; a failed get leaves the position unchanged. Checks are never compiled
// out.
//
// Folder src/base/: the lowest layer, header-only: little-endian loads and stores, this
// bounds-checked reader, code page 932 lead bytes and the program's fixed texts. It includes
// nothing of the project's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/endian.h"

namespace gp {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t position() const { return pos_; }
  size_t size() const { return size_; }
  size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ == size_; }
  const uint8_t* current() const { return data_ + pos_; }

  bool Seek(size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }
  bool Skip(size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool ReadU8(uint8_t* v) {
    if (remaining() < 1) return false;
    *v = data_[pos_++];
    return true;
  }
  bool ReadU16(uint16_t* v) {
    if (remaining() < 2) return false;
    *v = LoadU16(data_ + pos_);
    pos_ += 2;
    return true;
  }
  bool ReadU32(uint32_t* v) {
    if (remaining() < 4) return false;
    *v = LoadU32(data_ + pos_);
    pos_ += 4;
    return true;
  }
  bool ReadBytes(void* out, size_t n) {
    if (n > remaining()) return false;
    if (n != 0) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  // A view of the next n bytes; the reader moves past them.
  bool ReadView(size_t n, const uint8_t** view) {
    if (n > remaining()) return false;
    *view = data_ + pos_;
    pos_ += n;
    return true;
  }
  // A reader over the n bytes at offset (from the start), independent of this one.
  bool SubReader(size_t offset, size_t n, ByteReader* out) const {
    if (offset > size_ || n > size_ - offset) return false;
    *out = ByteReader(data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

// Length of a NUL-terminated text inside [p, p + limit): the index of the first NUL, or limit
// when there is none.
inline size_t BoundedLength(const char* p, size_t limit) {
  const void* nul = std::memchr(p, 0, limit);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : limit;
}

}  // namespace gp
