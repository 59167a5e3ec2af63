#include "update/compact_patch.h"

#include <algorithm>
#include <memory>
#include <new>

#include "codec/address_map.h"
#include "codec/compact_diff_decoder.h"
#include "codec/crc32.h"
#include "codec/x86_filter.h"
#include "platform/platform.h"
#include "update/patch_streams.h"

namespace gp {

namespace {

constexpr size_t kSectionBufferSize = 64u * 1024;
constexpr size_t kWorkSize = 32u * 1024;

using Bytes = std::unique_ptr<uint8_t[]>;
Bytes Allocate(size_t size) { return Bytes(new (std::nothrow) uint8_t[size]); }

bool OpenAt(platform::File& file, const char* path, uint64_t offset) {
  return file.Open(path, platform::kAccessRead, platform::kShareRead,
                   platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan) &&
         file.Seek(static_cast<int64_t>(offset), platform::Origin::kBegin);
}

// Where the rebuilt bytes go. For a filtered diff they are gathered into the filter's blocks,
// each turned back before it is passed on; Finish passes on the last, partial one.
class Output {
 public:
  Output(WriteBehind& target, bool x86) : target_(target) {
    if (x86) block_ = Allocate(codec::kX86FilterBlock);
    failed_ = x86 && !block_;
  }
  bool Write(const uint8_t* data, size_t n) {
    if (failed_) return false;
    if (!block_) return target_.Write(data, n);
    while (n > 0) {
      const size_t k = std::min(n, codec::kX86FilterBlock - used_);
      std::copy_n(data, k, block_.get() + used_);
      used_ += k;
      data += k;
      n -= k;
      if (used_ == codec::kX86FilterBlock && !PassOn()) return false;
    }
    return true;
  }
  bool Finish() { return !failed_ && (!block_ || used_ == 0 || PassOn()); }

 private:
  bool PassOn() {
    codec::X86FilterBlock(block_.get(), used_, position_, false);
    position_ += used_;
    const size_t n = used_;
    used_ = 0;
    return target_.Write(block_.get(), n);
  }

  WriteBehind& target_;
  Bytes block_;
  size_t used_ = 0;
  uint64_t position_ = 0;
  bool failed_ = false;
};

// One section of the diff file, read front to back through its own handle.
class SectionReader {
 public:
  bool Open(const char* path, uint64_t offset, uint64_t length) {
    buffer_ = Allocate(kSectionBufferSize);
    remaining_ = length;
    if (!buffer_ || !OpenAt(file_, path, offset)) return false;
    reader_ = std::make_unique<ReadAhead>(file_, buffer_.get(), kSectionBufferSize);
    return true;
  }
  bool Read(uint8_t* out, size_t n) {
    if (n > remaining_) return false;
    remaining_ -= n;
    return reader_->Read(out, n);
  }
  bool ReadVarint(uint64_t* value) {
    // From the buffer while it holds a whole varint; byte by byte across its end.
    size_t buffered = 0;
    const uint8_t* data = reader_->Buffered(&buffered);
    if (buffered >= format::kMaxVarintSize && remaining_ >= format::kMaxVarintSize) {
      const size_t n = format::ParseVarint(data, format::kMaxVarintSize, value);
      reader_->Skip(n);
      remaining_ -= n;
      return n != 0;
    }
    uint8_t bytes[format::kMaxVarintSize];
    for (size_t i = 0; i < format::kMaxVarintSize; ++i) {
      if (remaining_ == 0 || !reader_->ReadByte(bytes + i)) return false;
      --remaining_;
      if ((bytes[i] & 0x80) == 0) return format::ParseVarint(bytes, i + 1, value) == i + 1;
    }
    return false;
  }
  // The next bytes of the section that are buffered (at most max, maybe none), which Skip
  // then takes: they can be passed on without a copy.
  const uint8_t* Buffered(uint64_t max, size_t* size) {
    const uint8_t* data = reader_->Buffered(size);
    *size = static_cast<size_t>(std::min<uint64_t>({*size, max, remaining_}));
    return data;
  }
  void Skip(size_t n) {
    reader_->Skip(n);
    remaining_ -= n;
  }
  // Adds the next n bytes to data[0, n).
  bool AddTo(uint8_t* data, size_t n) {
    if (n > remaining_) return false;
    remaining_ -= n;
    while (n > 0) {
      size_t buffered = 0;
      const uint8_t* bytes = reader_->Buffered(&buffered);
      if (buffered == 0) {
        uint8_t byte = 0;
        if (!reader_->ReadByte(&byte)) return false;  // refills the buffer
        *data++ += byte;
        --n;
        continue;
      }
      const size_t k = std::min(n, buffered);
      for (size_t i = 0; i < k; ++i) data[i] = static_cast<uint8_t>(data[i] + bytes[i]);
      reader_->Skip(k);
      data += k;
      n -= k;
    }
    return true;
  }
  uint64_t remaining() const { return remaining_; }

 private:
  platform::File file_;
  Bytes buffer_;
  std::unique_ptr<ReadAhead> reader_;
  uint64_t remaining_ = 0;
};

// The difference bytes, expanded from their groups as they are taken.
class Differences {
 public:
  explicit Differences(SectionReader& section) : section_(section) {}

  // Adds the next n difference bytes to data: the zero runs leave it, only the bytes of the
  // groups are added.
  bool AddTo(uint8_t* data, size_t n) {
    while (n > 0) {
      if (zeros_ == 0 && bytes_ == 0) {
        if (!section_.ReadVarint(&zeros_) || !section_.ReadVarint(&bytes_)) return false;
        if (zeros_ == 0 && bytes_ == 0) return false;  // an empty group
      }
      const bool zeros = zeros_ > 0;
      uint64_t& run = zeros ? zeros_ : bytes_;
      const size_t k = static_cast<size_t>(std::min<uint64_t>(run, n));
      if (!zeros && !section_.AddTo(data, k)) return false;
      run -= k;
      data += k;
      n -= k;
    }
    return true;
  }
  // True when every group has been taken whole.
  bool Done() const { return zeros_ == 0 && bytes_ == 0 && section_.remaining() == 0; }

 private:
  SectionReader& section_;
  uint64_t zeros_ = 0;
  uint64_t bytes_ = 0;
};

// A coded section (GPD2), handed to the decoder a buffer at a time. A failed read ends the
// section early, which the decoder reports as damage.
class CodedSection {
 public:
  bool Open(const char* path, uint64_t offset, uint64_t length) {
    buffer_ = Allocate(kSectionBufferSize);
    remaining_ = length;
    input_.owner = this;
    input_.refill = &Refill;
    return buffer_ && OpenAt(file_, path, offset);
  }
  codec::CoderInput* input() { return &input_; }

 private:
  static bool Refill(codec::CoderInput* input) {
    auto* self = static_cast<CodedSection*>(input->owner);
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(self->remaining_, kSectionBufferSize));
    if (n == 0 || !platform::ReadExact(self->file_, self->buffer_.get(), n)) return false;
    self->remaining_ -= n;
    input->next = self->buffer_.get();
    input->end = self->buffer_.get() + n;
    return true;
  }

  platform::File file_;
  Bytes buffer_;
  uint64_t remaining_ = 0;
  codec::CoderInput input_;
};

struct CodedTarget {
  OldFileBlocks& old;
  Output& target;
};

bool RunCodedDiff(const char* diff_path, const format::CompactDiffHeader& header,
                  OldFileBlocks& old, Output& target) {
  CodedSection sections[format::kCompactSectionCount];
  for (size_t i = 0; i < format::kCompactSectionCount; ++i) {
    if (!sections[i].Open(diff_path, header.offset[i], header.length[i])) return false;
  }
  CodedTarget io_target{old, target};
  codec::CompactDiffIo io;
  io.control = sections[format::kControlSection].input();
  io.differences = sections[format::kDifferenceSection].input();
  io.literals = sections[format::kLiteralSection].input();
  io.old_size = old.size();
  io.new_size = header.new_size;
  io.owner = &io_target;
  io.read_old = [](void* owner, uint64_t position, uint8_t* out, size_t n) {
    return static_cast<CodedTarget*>(owner)->old.Read(position, out, n);
  };
  io.write = [](void* owner, const uint8_t* data, size_t n) {
    return static_cast<CodedTarget*>(owner)->target.Write(data, n);
  };
  io.tick = &platform::DispatchPendingMessages;
  return codec::DecodeCompactDiff(io);
}

bool RunRawDiff(const char* diff_path, const format::CompactDiffHeader& header,
                OldFileBlocks& old, Output& target) {
  SectionReader control;
  SectionReader difference_section;
  SectionReader literals;
  Bytes old_bytes = Allocate(kWorkSize);
  if (!old_bytes ||
      !control.Open(diff_path, header.offset[format::kControlSection],
                    header.length[format::kControlSection]) ||
      !difference_section.Open(diff_path, header.offset[format::kDifferenceSection],
                               header.length[format::kDifferenceSection]) ||
      !literals.Open(diff_path, header.offset[format::kLiteralSection],
                     header.length[format::kLiteralSection])) {
    return false;
  }
  Differences differences(difference_section);
  format::RawControl steps(old.size(), header.new_size);
  while (control.remaining() > 0) {
    platform::DispatchPendingMessages();
    uint64_t add = 0;
    uint64_t literal = 0;
    uint64_t seek = 0;
    if (!format::ReadRawTriple(control, &add, &literal, &seek)) return false;
    uint64_t position = steps.position();
    if (!steps.Take(add, literal)) return false;
    for (uint64_t left = add; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kWorkSize));
      if (!old.Read(position, old_bytes.get(), n) || !differences.AddTo(old_bytes.get(), n) ||
          !target.Write(old_bytes.get(), n)) {
        return false;
      }
      position += n;
      left -= n;
    }
    for (uint64_t left = literal; left > 0;) {
      size_t n = 0;
      const uint8_t* buffered = literals.Buffered(left, &n);
      if (n > 0) {  // straight from the read buffer
        if (!target.Write(buffered, n)) return false;
        literals.Skip(n);
      } else {
        n = static_cast<size_t>(std::min<uint64_t>(left, kWorkSize));
        if (!literals.Read(old_bytes.get(), n) || !target.Write(old_bytes.get(), n)) return false;
      }
      left -= n;
    }
    if (!steps.Seek(seek)) return false;
  }
  return steps.written() == header.new_size && differences.Done() && literals.remaining() == 0;
}

// The map of the diff's adds, from a reading of the control section ahead of the diff's.
bool CollectAdds(const char* diff_path, const format::CompactDiffHeader& header,
                 uint64_t old_size, codec::AddressMap* map) {
  const uint64_t offset = header.offset[format::kControlSection];
  const uint64_t length = header.length[format::kControlSection];
  if (header.coded) {
    CodedSection control;
    return control.Open(diff_path, offset, length) &&
           codec::CollectCodedAdds(control.input(), old_size, header.new_size, map);
  }
  SectionReader control;
  if (!control.Open(diff_path, offset, length)) return false;
  map->Reserve(static_cast<size_t>(std::min<uint64_t>(length / 3, codec::AddressMap::kMaxSegments)));
  return codec::CollectRawAdds(control, old_size, header.new_size, map);
}

}  // namespace

void CompactDiffCheck::Start(uint64_t stream_size) { *this = CompactDiffCheck(); size_ = stream_size; }

void CompactDiffCheck::Take(const uint8_t* data, size_t n) {
  if (n > size_ - at_) bad_ = true;
  while (n > 0 && !bad_) {
    if (at_ < sizeof head_) {
      const size_t k = std::min<size_t>(n, sizeof head_ - static_cast<size_t>(at_));
      std::copy_n(data, k, head_ + at_);
      at_ += k;
      data += k;
      n -= k;
      if (at_ == sizeof head_) {
        parsed_ = format::ParseCompactDiffHeader(head_, sizeof head_, size_, &header_);
        bad_ = !parsed_;
      }
      continue;
    }
    // The sections follow the header in order and tile the stream.
    size_t i = 0;
    while (at_ >= header_.offset[i] + header_.length[i]) ++i;
    const size_t k = static_cast<size_t>(std::min<uint64_t>(n, header_.offset[i] + header_.length[i] - at_));
    crc_[i] = Crc32Update(crc_[i], data, static_cast<int64_t>(k));
    at_ += k;
    data += k;
    n -= k;
  }
}

bool CompactDiffCheck::Passed(format::CompactDiffHeader* header) const {
  if (!parsed_ || bad_ || at_ != size_) return false;
  for (size_t i = 0; i < format::kCompactSectionCount; ++i) {
    if (crc_[i] != header_.crc[i]) return false;
  }
  *header = header_;
  return true;
}

bool CheckCompactDiff(const char* diff_path, format::CompactDiffHeader* header) {
  platform::File file;
  uint64_t size = 0;
  if (diff_path == nullptr ||
      !file.Open(diff_path, platform::kAccessRead, platform::kShareRead,
                 platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan) ||
      !file.Size(&size)) {
    return false;
  }
  Bytes buffer = Allocate(kSectionBufferSize);
  if (!buffer) return false;
  CompactDiffCheck check;
  check.Start(size);
  for (uint64_t left = size; left > 0;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(left, kSectionBufferSize));
    if (!platform::ReadExact(file, buffer.get(), n)) return false;
    check.Take(buffer.get(), n);
    left -= n;
  }
  return check.Passed(header);
}

bool RunCompactDiff(const char* diff_path, const format::CompactDiffHeader& header,
                    OldFileBlocks& old, WriteBehind& target_file) {
  codec::AddressMap map;
  if (header.predict && !CollectAdds(diff_path, header, old.size(), &map)) return false;
  old.FilterX86(header.x86, header.predict ? &map : nullptr);
  Output target(target_file, header.x86);
  const bool good = header.coded ? RunCodedDiff(diff_path, header, old, target)
                                 : RunRawDiff(diff_path, header, old, target);
  old.FilterX86(false, nullptr);  // the map goes with this diff
  return good && target.Finish();
}

}  // namespace gp
