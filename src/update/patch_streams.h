// The buffered file access of a patch: the diff read ahead, the rebuilt file written behind,
// and the old file read through a cache of aligned blocks. Shared by the classic command loop
// and the compact diff decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace gp::codec {
class AddressMap;
}

namespace gp {

// Reads a file front to back through a read-ahead buffer.
class ReadAhead {
 public:
  ReadAhead(platform::File& file, uint8_t* buffer, size_t capacity)
      : file_(file), buffer_(buffer), capacity_(capacity) {}

  // Exactly size bytes into out; false on a failed or short read.
  bool Read(void* out, size_t size);
  // One byte, without a call while the buffer holds some.
  bool ReadByte(uint8_t* out) {
    if (begin_ == end_) return Read(out, 1);
    *out = buffer_[begin_++];
    return true;
  }
  // The bytes buffered and not read yet (maybe none), which Skip then takes.
  const uint8_t* Buffered(size_t* size) const {
    *size = end_ - begin_;
    return buffer_ + begin_;
  }
  void Skip(size_t n) { begin_ += n; }

 private:
  platform::File& file_;
  uint8_t* buffer_;
  size_t capacity_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// Starts the disk write of a file being written, a step at a time, so that the disk works while
// the rest of the file is built and the flush before the commit finds little left to write.
// For stage files only: temporary files are deleted before they would need to reach the disk.
class WriteBackSteps {
 public:
  // The file now holds bytes [0, end).
  void Wrote(platform::File& file, uint64_t end) {
    if (end - started_ < kStep) return;
    file.StartWriteBack(started_, end - started_);
    started_ = end;
  }

 private:
  static constexpr uint64_t kStep = 1u << 20;
  uint64_t started_ = 0;
};

// Writes a file front to back through a write-behind buffer. A write that the file does not
// take whole fails, when it is passed on.
class WriteBehind {
 public:
  WriteBehind(platform::File& file, uint8_t* buffer, size_t capacity)
      : file_(file), buffer_(buffer), capacity_(capacity) {}

  bool Write(const void* data, size_t size);
  bool Flush();
  // Starts the disk write of what the file receives as it goes (WriteBackSteps).
  void WriteBackAhead() { write_back_ = true; }
  // The checksum of every byte handed to Write, once Flush has passed them all on (0xFFFFFFFF
  // when there were none).
  uint32_t crc() const;

 private:
  platform::File& file_;
  uint8_t* buffer_;
  size_t capacity_;
  size_t used_ = 0;
  uint32_t crc_ = 0;
  uint64_t written_ = 0;
  uint64_t in_file_ = 0;
  bool write_back_ = false;
  WriteBackSteps write_back_steps_;
};

// The old file of a patch. It is read in aligned blocks that stay in memory: a diff's many
// small copies jump between the regions of the old file, so each block is read once however
// often it is copied from (for old files up to the cache's size, 64 MiB, one work buffer whose
// memory is taken as blocks are read; beyond it, blocks that share a slot replace each other).
// Without memory for the cache it seeks and reads directly. For a filtered diff each block is
// turned by the x86 branch filter as it is read (the filter's blocks are the cache's); such a
// diff needs the cache.
class OldFileBlocks {
 public:
  OldFileBlocks(platform::File& file, uint64_t size);

  // From now on the blocks read are filtered (or not), or with a map filtered and predicted
  // through it in one scan (codec/x86_filter.h; the map must outlive the reads); blocks held
  // are read again.
  void FilterX86(bool on, const codec::AddressMap* map = nullptr);

  uint64_t size() const { return size_; }
  // Exactly n bytes from offset at into out; false outside the file or on a failed read.
  bool Read(uint64_t at, uint8_t* out, size_t n);
  // Appends old[offset, offset + length) to target; scratch (scratch_size bytes) serves when a
  // block cannot be had.
  bool CopyTo(uint64_t offset, uint64_t length, WriteBehind& target, uint8_t* scratch,
              size_t scratch_size);

 private:
  const uint8_t* Block(uint64_t start);

  static constexpr uint64_t kBlockSize = 64u * 1024;
  static constexpr uint64_t kMaxCachedBlocks = 1024;  // 64 MiB at most
  platform::File& file_;
  uint64_t size_;
  platform::WorkBuffer cache_;
  std::vector<uint64_t> slot_starts_;  // the block each slot holds, ~0 for none
  bool x86_ = false;
  const codec::AddressMap* map_ = nullptr;
};

}  // namespace gp
