#include "codec/compact_diff_decoder.h"

#include <algorithm>
#include <memory>
#include <new>

#include "codec/address_map.h"
#include "codec/compact_models.h"

namespace gp::codec {

namespace {

constexpr size_t kWorkSize = 32u * 1024;
// Beyond any file: a larger seek or count is damage before it is added to anything.
constexpr uint64_t kMaxNumber = uint64_t{1} << 62;

}  // namespace

CodedControl::CodedControl(ControlModel& model, CoderInput* input, uint64_t old_size,
                           uint64_t new_size)
    : model_(model), input_(input), decoder_(input), old_size_(old_size), new_size_(new_size) {
  decoder_.Start();
}

bool CodedControl::Next(Triple* t) {
  const uint64_t magnitude = model_.CodeNumber(decoder_, 0, ControlModel::kSeek);
  const int negative = magnitude != 0 ? model_.CodeSign(decoder_, 0) : 0;
  const uint64_t add = model_.CodeNumber(decoder_, 0, ControlModel::kAdd);
  const uint64_t literal = model_.CodeNumber(decoder_, 0, ControlModel::kLiteral);
  if (input_->overrun || magnitude >= kMaxNumber || literal >= kMaxNumber ||
      (add == 0 && literal == 0)) {
    return false;
  }
  // The seek is coded less the previous literal length; the position stays within the old file.
  const int64_t seek = (negative != 0 ? -static_cast<int64_t>(magnitude)
                                      : static_cast<int64_t>(magnitude)) +
                       static_cast<int64_t>(previous_literal_);
  if (seek < 0 ? static_cast<uint64_t>(-seek) > position_
               : static_cast<uint64_t>(seek) > old_size_ - position_) {
    return false;
  }
  position_ = static_cast<uint64_t>(static_cast<int64_t>(position_) + seek);
  // The add and the literal bytes must fit the new size, the add bytes the old file.
  if (add > new_size_ - written_ || literal > new_size_ - written_ - add ||
      add > old_size_ - position_) {
    return false;
  }
  *t = Triple{position_, written_, add, literal};
  position_ += add;
  written_ += add + literal;
  previous_literal_ = literal;
  return true;
}

bool CollectCodedAdds(CoderInput* input, uint64_t old_size, uint64_t new_size, AddressMap* map) {
  const std::unique_ptr<ControlModel> model(new (std::nothrow) ControlModel());
  if (!model) return false;
  CodedControl control(*model, input, old_size, new_size);
  CodedControl::Triple t;
  while (!control.done()) {
    if (!control.Next(&t)) return false;
    if (!map->Add(t.old_start, t.new_start, t.add)) break;
  }
  map->Finish(old_size);
  return true;
}

bool DecodeCompactDiff(const CompactDiffIo& io) {
  const std::unique_ptr<CompactModels> models(new (std::nothrow) CompactModels());
  const std::unique_ptr<uint8_t[]> old_bytes(new (std::nothrow) uint8_t[kWorkSize]);
  const std::unique_ptr<uint8_t[]> new_bytes(new (std::nothrow) uint8_t[kWorkSize]);
  if (!models || !old_bytes || !new_bytes) return false;
  BitDecoder differences(io.differences);
  BitDecoder literals(io.literals);
  differences.Start();
  const uint8_t literal_method = io.literals->Byte();
  if (literal_method > kCodedLiterals) return false;
  if (literal_method == kCodedLiterals) literals.Start();
  CodedControl control(models->control, io.control, io.old_size, io.new_size);
  int old_prev = 0;
  while (!control.done()) {
    if (io.tick != nullptr) io.tick();
    CodedControl::Triple t;
    if (!control.Next(&t)) return false;
    uint64_t position = t.old_start;
    const uint64_t add = t.add;
    const uint64_t literal = t.literal;
    for (uint64_t left = add; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kWorkSize));
      if (!io.read_old(io.owner, position, old_bytes.get(), n)) return false;
      for (size_t i = 0; i < n;) {
        const size_t zeros = static_cast<size_t>(models->differences.TakeBlockZeros(n - i));
        if (zeros > 0) {
          std::copy_n(old_bytes.get() + i, zeros, new_bytes.get() + i);
          i += zeros;
          old_prev = old_bytes[i - 1];
          continue;
        }
        const int old_byte = old_bytes[i];
        new_bytes[i] = static_cast<uint8_t>(
            old_byte + models->differences.Code(differences, 0, old_byte, old_prev, left - i, false));
        old_prev = old_byte;
        ++i;
      }
      if (io.differences->overrun || !io.write(io.owner, new_bytes.get(), n)) return false;
      position += n;
      left -= n;
    }
    for (uint64_t left = literal; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kWorkSize));
      if (literal_method == kStoredLiterals) {
        if (!io.literals->Take(new_bytes.get(), n)) return false;
      } else {
        for (size_t i = 0; i < n; ++i) {
          new_bytes[i] = static_cast<uint8_t>(models->literals.Code(literals, 0));
        }
      }
      if (io.literals->overrun || !io.write(io.owner, new_bytes.get(), n)) return false;
      left -= n;
    }
  }
  return io.control->UsedUp() && io.differences->UsedUp() && io.literals->UsedUp();
}

}  // namespace gp::codec
