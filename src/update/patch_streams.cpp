#include "update/patch_streams.h"

#include <algorithm>
#include <cstring>

#include "codec/crc32.h"
#include "codec/x86_filter.h"

namespace gp {

namespace {
constexpr uint32_t kEmptyFileCrc = 0xFFFFFFFFu;
}  // namespace

bool ReadAhead::Read(void* out, size_t size) {
  auto* dest = static_cast<uint8_t*>(out);
  while (size > 0) {
    if (begin_ == end_) {
      if (size >= capacity_) return platform::ReadExact(file_, dest, static_cast<uint32_t>(size));
      uint32_t done = 0;
      if (!file_.Read(buffer_, static_cast<uint32_t>(capacity_), &done) || done == 0) {
        return false;
      }
      begin_ = 0;
      end_ = done;
    }
    const size_t take = std::min(size, end_ - begin_);
    std::memcpy(dest, buffer_ + begin_, take);
    begin_ += take;
    dest += take;
    size -= take;
  }
  return true;
}

// The checksum is taken of what is passed on to the file, in large pieces, rather than of
// each small write (a diff's copies and literal runs are often a few bytes).
bool WriteBehind::Write(const void* data, size_t size) {
  written_ += size;
  if (size > capacity_ - used_ && !Flush()) return false;
  if (size >= capacity_) {
    crc_ = Crc32Update(crc_, data, static_cast<int64_t>(size));
    if (!platform::WriteAll(file_, data, static_cast<uint32_t>(size))) return false;
    in_file_ += size;
    if (write_back_) write_back_steps_.Wrote(file_, in_file_);
    return true;
  }
  if (size != 0) std::memcpy(buffer_ + used_, data, size);
  used_ += size;
  return true;
}

bool WriteBehind::Flush() {
  crc_ = Crc32Update(crc_, buffer_, static_cast<int64_t>(used_));
  const bool ok = platform::WriteAll(file_, buffer_, static_cast<uint32_t>(used_));
  in_file_ += used_;
  used_ = 0;
  if (ok && write_back_) write_back_steps_.Wrote(file_, in_file_);
  return ok;
}

uint32_t WriteBehind::crc() const { return written_ == 0 ? kEmptyFileCrc : crc_; }

OldFileBlocks::OldFileBlocks(platform::File& file, uint64_t size) : file_(file), size_(size) {
  // Fewer slots when memory is short, down to 16 (1 MiB); none means direct reads.
  uint64_t slots = std::min<uint64_t>((size + kBlockSize - 1) / kBlockSize, kMaxCachedBlocks);
  while (slots > 0 && !cache_.Allocate(static_cast<size_t>(slots * kBlockSize))) {
    slots = slots > 16 ? slots / 2 : 0;
  }
  slot_starts_.assign(static_cast<size_t>(slots), ~0ull);
}

void OldFileBlocks::FilterX86(bool on, const codec::AddressMap* map) {
  static_assert(kBlockSize == codec::kX86FilterBlock, "a cached block is one the filter turns alone");
  if (on == x86_ && map == map_) return;
  x86_ = on;
  map_ = on ? map : nullptr;
  std::fill(slot_starts_.begin(), slot_starts_.end(), ~0ull);
}

bool OldFileBlocks::Read(uint64_t at, uint8_t* out, size_t n) {
  if (at > size_ || n > size_ - at) return false;
  while (n > 0) {
    const uint64_t block_start = at - at % kBlockSize;
    const uint8_t* block = Block(block_start);
    if (block == nullptr) {
      if (x86_) return false;  // unfiltered bytes would rebuild a wrong file
      return file_.Seek(static_cast<int64_t>(at), platform::Origin::kBegin) &&
             platform::ReadExact(file_, out, n);
    }
    const size_t in_block = static_cast<size_t>(std::min<uint64_t>(n, block_start + kBlockSize - at));
    std::memcpy(out, block + (at - block_start), in_block);
    at += in_block;
    out += in_block;
    n -= in_block;
  }
  return true;
}

bool OldFileBlocks::CopyTo(uint64_t offset, uint64_t length, WriteBehind& target,
                           uint8_t* scratch, size_t scratch_size) {
  if (offset > size_ || length > size_ - offset) return false;
  uint64_t at = offset;
  uint64_t remaining = length;
  while (remaining > 0) {
    const uint64_t block_start = at - at % kBlockSize;
    const uint8_t* block = Block(block_start);
    if (block == nullptr) {
      if (x86_) return false;
      // Without memory for the blocks: seek and read through the scratch buffer.
      if (!file_.Seek(static_cast<int64_t>(at), platform::Origin::kBegin)) return false;
      while (remaining > 0) {
        const auto piece = static_cast<uint32_t>(std::min<uint64_t>(remaining, scratch_size));
        if (!platform::ReadExact(file_, scratch, piece) || !target.Write(scratch, piece)) {
          return false;
        }
        remaining -= piece;
      }
      return true;
    }
    const uint64_t in_block = std::min<uint64_t>(remaining, block_start + kBlockSize - at);
    if (!target.Write(block + (at - block_start), static_cast<uint32_t>(in_block))) return false;
    at += in_block;
    remaining -= in_block;
  }
  return true;
}

const uint8_t* OldFileBlocks::Block(uint64_t start) {
  if (slot_starts_.empty()) return nullptr;
  const size_t slot = static_cast<size_t>((start / kBlockSize) % slot_starts_.size());
  uint8_t* data = cache_.data() + slot * kBlockSize;
  if (slot_starts_[slot] == start) return data;
  const uint64_t length = std::min<uint64_t>(kBlockSize, size_ - start);
  slot_starts_[slot] = ~0ull;
  if (!file_.Seek(static_cast<int64_t>(start), platform::Origin::kBegin) ||
      !platform::ReadExact(file_, data, static_cast<uint32_t>(length))) {
    return nullptr;
  }
  if (map_ != nullptr) {
    codec::X86PredictBlock(data, static_cast<size_t>(length), start, *map_);
  } else if (x86_) {
    codec::X86FilterBlock(data, static_cast<size_t>(length), start, true);
  }
  slot_starts_[slot] = start;
  return data;
}

}  // namespace gp
