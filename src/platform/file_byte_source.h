// A platform file as the byte source of the compound-file reader of src/cfb/: all of the
// reader's input goes through here. Used by the structured storage of both platforms (Linux
// reads through it; Windows checks a file with it before ole32 opens it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cfb/byte_source.h"
#include "platform/platform.h"

namespace gp::platform {

class FileByteSource final : public cfb::ByteSource {
 public:
  explicit FileByteSource(File* file) : file_(file) {
    if (!file_->Size(&size_)) size_ = 0;
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    if (!file_->Seek(static_cast<int64_t>(offset), Origin::kBegin)) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (size != 0) {
      const uint32_t piece = size > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(size);
      uint32_t done = 0;
      if (!file_->Read(out, piece, &done) || done != piece) return false;
      out += piece;
      size -= piece;
    }
    return true;
  }

 private:
  File* file_;
  uint64_t size_ = 0;
};

}  // namespace gp::platform
