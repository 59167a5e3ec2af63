#include "codec/lzw_encoder.h"

#include <cstring>
#include <limits>
#include <memory>

#include "base/endian.h"
#include "codec/lzw_format.h"

namespace gp {

namespace {

// Input bytes between two looks at the compression ratio (kWhenRatioFalls).
constexpr uint64_t kRatioCheckGap = 10000;

// Packs codes least significant bit first and follows the decoder's next free code, which
// decides the width of every code.
class CodeWriter {
 public:
  explicit CodeWriter(std::vector<uint8_t>* stream) : stream_(stream) {}

  void Emit(uint32_t code) {
    bits_ |= static_cast<uint64_t>(code) << count_;
    count_ += lzw::WidthFor(decoder_next_);
    if (count_ >= 32) {
      uint8_t word[4];
      StoreU32(word, static_cast<uint32_t>(bits_));
      stream_->insert(stream_->end(), word, word + 4);
      bits_ >>= 32;
      count_ -= 32;
    }
    if (code == lzw::kClearCode) {
      decoder_next_ = lzw::kFirstFreeCode;
      decoder_has_previous_ = false;
    } else {
      // The decoder defines an entry for every code after the first since a clear.
      if (decoder_has_previous_ && decoder_next_ < lzw::kDictionarySize) ++decoder_next_;
      decoder_has_previous_ = true;
    }
  }

  // Pads the last byte with zero bits.
  void Finish() {
    while (count_ > 0) {
      stream_->push_back(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      count_ = count_ > 8 ? count_ - 8 : 0;
    }
  }

  uint64_t bits_written() const { return stream_->size() * 8 + count_; }

 private:
  std::vector<uint8_t>* stream_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  uint32_t decoder_next_ = lzw::kFirstFreeCode;
  bool decoder_has_previous_ = false;
};

// The encoder's dictionary: (prefix code, byte) -> code, open addressing. Entries carry the
// generation they belong to, so that a clear is a counter increment.
class StringTable {
 public:
  StringTable() { Clear(); }

  void Clear() {
    if (++generation_ == kGenerations) {
      std::memset(tags_, 0, sizeof(tags_));
      generation_ = 1;
    }
  }

  // The code of key, or -1 (and *slot for Insert).
  int32_t Find(uint32_t key, uint32_t* slot) const {
    const uint32_t tag = (generation_ << kKeyBits) | key;
    uint32_t i = (key * 0x9E3779B1u) >> (32 - kSlotBits);
    for (;;) {
      if (tags_[i] == tag) return codes_[i];
      if ((tags_[i] >> kKeyBits) != generation_) {
        *slot = i;
        return -1;
      }
      i = (i + 1) & (kSlots - 1);
    }
  }

  void Insert(uint32_t slot, uint32_t key, uint32_t code) {
    tags_[slot] = (generation_ << kKeyBits) | key;
    codes_[slot] = static_cast<uint16_t>(code);
  }

 private:
  static constexpr unsigned kKeyBits = 20;  // 12-bit prefix code, 8-bit byte
  static constexpr uint32_t kGenerations = 1u << (32 - kKeyBits);
  static constexpr unsigned kSlotBits = 14;  // at most 3838 entries: under a quarter full
  static constexpr uint32_t kSlots = 1u << kSlotBits;

  uint32_t generation_ = 0;
  uint32_t tags_[kSlots] = {};
  uint16_t codes_[kSlots] = {};
};

void EncodeCodes(const uint8_t* data, size_t size, LzwClearPolicy policy,
                 std::vector<uint8_t>* stream) {
  CodeWriter writer(stream);
  writer.Emit(lzw::kClearCode);
  if (size == 0) {
    writer.Emit(lzw::kEndCode);
    writer.Finish();
    return;
  }
  auto table = std::make_unique<StringTable>();
  uint32_t next = lzw::kFirstFreeCode;
  uint64_t checkpoint = kRatioCheckGap;
  uint64_t best_ratio = 0;

  uint32_t current = data[0];
  for (size_t i = 1; i < size; ++i) {
    const uint8_t byte = data[i];
    const uint32_t key = (current << 8) | byte;
    uint32_t slot = 0;
    const int32_t found = table->Find(key, &slot);
    if (found >= 0) {
      current = static_cast<uint32_t>(found);
      continue;
    }
    writer.Emit(current);
    current = byte;
    if (next < lzw::kDictionarySize) {
      table->Insert(slot, key, next++);
      if (next == lzw::kDictionarySize && policy == LzwClearPolicy::kWhenFull) {
        writer.Emit(lzw::kClearCode);
        table->Clear();
        next = lzw::kFirstFreeCode;
      }
    } else if (i >= checkpoint) {
      // Input bytes per output byte, in 1/256ths, over everything coded so far.
      checkpoint = i + kRatioCheckGap;
      const uint64_t out_bytes = writer.bits_written() / 8 + 1;
      const uint64_t ratio = (static_cast<uint64_t>(i) << 8) / out_bytes;
      if (ratio > best_ratio) {
        best_ratio = ratio;
      } else {
        best_ratio = 0;
        writer.Emit(lzw::kClearCode);
        table->Clear();
        next = lzw::kFirstFreeCode;
      }
    }
  }
  writer.Emit(current);
  writer.Emit(lzw::kEndCode);
  writer.Finish();
}

}  // namespace

bool LzwEncodeBlocks(const uint8_t* data, size_t size, const LzwEncodeOptions& options,
                     std::vector<uint8_t>* out) {
  if (options.block_length == 0 || options.block_length > lzw::kMaxBlockLength) return false;
  if (size > 0 && data == nullptr) return false;
  std::vector<uint8_t> stream;
  stream.reserve(size / 2 + 64);
  EncodeCodes(data, size, options.clear_policy, &stream);

  const size_t blocks = (stream.size() + options.block_length - 1) / options.block_length;
  out->reserve(out->size() + stream.size() + (blocks + 1) * lzw::kBlockHeaderSize);
  for (size_t at = 0; at < stream.size(); at += options.block_length) {
    const auto n = static_cast<uint16_t>(
        std::min<size_t>(options.block_length, stream.size() - at));
    uint8_t header[lzw::kBlockHeaderSize];
    StoreU16(header, n);
    out->insert(out->end(), header, header + lzw::kBlockHeaderSize);
    out->insert(out->end(), stream.begin() + static_cast<ptrdiff_t>(at),
                stream.begin() + static_cast<ptrdiff_t>(at + n));
  }
  const uint8_t closing[lzw::kBlockHeaderSize] = {0, 0};
  out->insert(out->end(), closing, closing + lzw::kBlockHeaderSize);
  return true;
}

bool LzwEncodePiece(const uint8_t* data, size_t size, const LzwEncodeOptions& options,
                    std::vector<uint8_t>* out) {
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  uint8_t declared[4];
  StoreU32(declared, static_cast<uint32_t>(size));
  const size_t start = out->size();
  out->insert(out->end(), declared, declared + 4);
  if (!LzwEncodeBlocks(data, size, options, out)) {
    out->resize(start);
    return false;
  }
  return true;
}

}  // namespace gp
