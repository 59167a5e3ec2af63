#include "codec/lzw_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/endian.h"
#include "codec/lzw_format.h"

namespace gp {

uint64_t LzwWrittenLength(int32_t declared_size, uint64_t produced) {
  if (declared_size <= 0) return 0;
  const uint64_t declared = static_cast<uint64_t>(declared_size);
  const uint64_t chunk = std::min<uint64_t>(declared, lzw::kChunkSize);
  // The chunk count is counted in full width: every piece reaches its last chunk, however
  // many chunks come before it.
  const uint64_t chunks = (declared + lzw::kChunkSize - 1) / lzw::kChunkSize;
  const uint64_t leading = (chunks - 1) * chunk;
  if (produced < leading) return produced / chunk * chunk;
  const uint64_t last = declared % lzw::kChunkSize != 0 ? declared % lzw::kChunkSize : chunk;
  return leading + (produced - leading) / last * last;
}

namespace {

// Slack after the furthest byte a code can write: copies move 16 bytes at a time.
constexpr size_t kCopySlack = 16;
// Decoded bytes kept in the buffer after a flush, so that recent dictionary strings can be
// copied from the output instead of being rebuilt from the dictionary.
constexpr size_t kMaxKeep = 64 * 1024;

// Copies len bytes from src to dst 16 at a time; may write up to 15 bytes past dst + len and
// read up to 15 past src + len. The bytes to copy lie wholly before dst, so no store touches
// a byte that a later load still needs; the 16-byte windows themselves may overlap, hence
// memmove (which compiles to one load and one store all the same).
inline void CopyFast(uint8_t* dst, const uint8_t* src, uint32_t len) {
  uint8_t* const end = dst + len;
  do {
    std::memmove(dst, src, 16);
    dst += 16;
    src += 16;
  } while (dst < end);
}

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size, int32_t declared, LzwSink* sink, uint8_t* buffer,
          size_t flush_size, size_t keep)
      : data_(data),
        size_(size),
        declared_(declared),
        sink_(sink),
        buffer_(buffer),
        flush_size_(flush_size),
        keep_(keep) {}

  int Run();

 private:
  bool LoadBlock();
  void Refill();
  bool Flush();
  bool MakeRoom();
  int Finish(int result);

  // Input: the block sequence, the current block and the bit buffer.
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  size_t block_left_ = 0;
  bool blocks_ended_ = false;
  uint64_t bit_buffer_ = 0;
  unsigned bit_count_ = 0;

  // Output: buffer_[0] holds decoded byte number base_; produced_ bytes are decoded, written_
  // of them have reached the sink.
  int32_t declared_;
  LzwSink* sink_;
  uint8_t* buffer_;
  size_t flush_size_;
  size_t keep_;
  uint64_t base_ = 0;
  uint64_t produced_ = 0;
  uint64_t written_ = 0;

  // Dictionary: an entry's prefix code and suffix byte, the length of its string and where
  // that string was last decoded.
  uint16_t prefix_[lzw::kDictionarySize] = {};
  uint8_t suffix_[lzw::kDictionarySize] = {};
  uint16_t length_[lzw::kDictionarySize] = {};
  uint64_t offset_[lzw::kDictionarySize] = {};
};

bool Decoder::LoadBlock() {
  if (blocks_ended_) return false;
  if (size_ - pos_ < lzw::kBlockHeaderSize) {
    blocks_ended_ = true;
    return false;
  }
  const auto length = static_cast<int16_t>(LoadU16(data_ + pos_));
  if (length <= 0 || static_cast<uint32_t>(length) > lzw::kMaxBlockLength ||
      static_cast<size_t>(length) > size_ - pos_ - lzw::kBlockHeaderSize) {
    blocks_ended_ = true;
    return false;
  }
  pos_ += lzw::kBlockHeaderSize;
  block_left_ = static_cast<size_t>(length);
  return true;
}

// Fills the bit buffer to at least 57 bits, or as far as the blocks go. Blocks are loaded
// ahead of need, but a bad block only ends decoding when a code needs its bits.
void Decoder::Refill() {
  while (bit_count_ <= 56) {
    if (block_left_ == 0 && !LoadBlock()) return;
    if (block_left_ >= 8) {
      // Eight bytes of this block: those that fit wholly are taken; the rest of the word
      // holds the same bits that the next load puts there again.
      bit_buffer_ |= LoadU64(data_ + pos_) << bit_count_;
      const unsigned take = (64 - bit_count_) >> 3;
      pos_ += take;
      block_left_ -= take;
      bit_count_ += 8 * take;
    } else {
      bit_buffer_ |= static_cast<uint64_t>(data_[pos_]) << bit_count_;
      ++pos_;
      --block_left_;
      bit_count_ += 8;
    }
  }
}

bool Decoder::Flush() {
  const uint64_t boundary = LzwWrittenLength(declared_, produced_);
  if (boundary <= written_) return true;
  const uint8_t* from = buffer_ + (written_ - base_);
  const auto count = static_cast<size_t>(boundary - written_);
  written_ = boundary;
  return sink_->Write(from, count);
}

// Writes what the chunk rule allows and keeps the most recent bytes at the buffer's start.
// Bytes that are not written stay in the buffer: with a positive declared size they are less
// than one chunk, fewer than keep_; with none, they are never written.
bool Decoder::MakeRoom() {
  if (!Flush()) return false;
  const uint64_t new_base = produced_ - keep_;
  std::memmove(buffer_, buffer_ + (new_base - base_), keep_);
  base_ = new_base;
  return true;
}

int Decoder::Finish(int result) {
  if (!Flush() && result == kLzwDone) return kLzwOutputFailed;
  return result;
}

int Decoder::Run() {
  unsigned width = lzw::kMinWidth;
  uint32_t next = lzw::kFirstFreeCode;
  uint32_t limit = lzw::kFirstWidthLimit;
  bool have_previous = false;
  uint32_t previous = 0;
  uint64_t previous_pos = 0;
  uint32_t previous_length = 0;
  const uint64_t room_limit = keep_ + flush_size_;

  for (;;) {
    if (bit_count_ < width) {
      Refill();
      if (bit_count_ < width) return Finish(kLzwBadBlock);
    }
    const auto code = static_cast<uint32_t>(bit_buffer_ & ((1u << width) - 1));
    bit_buffer_ >>= width;
    bit_count_ -= width;

    if (code == lzw::kEndCode) return Finish(kLzwDone);
    if (code > next) return Finish(kLzwBadCode);
    if (code == lzw::kClearCode) {
      width = lzw::kMinWidth;
      next = lzw::kFirstFreeCode;
      limit = lzw::kFirstWidthLimit;
      have_previous = false;
      continue;
    }

    if (produced_ - base_ > room_limit && !MakeRoom()) {
      return kLzwOutputFailed;
    }
    uint8_t* const out = buffer_ + (produced_ - base_);
    uint32_t length;
    if (code < lzw::kClearCode) {
      out[0] = static_cast<uint8_t>(code);
      length = 1;
    } else if (code == next) {
      // The code being defined right now: the previous string and its own first byte.
      if (!have_previous) return Finish(kLzwNoPreviousCode);
      const uint8_t* src = buffer_ + (previous_pos - base_);
      CopyFast(out, src, previous_length);
      out[previous_length] = src[0];
      length = previous_length + 1;
    } else if (offset_[code] >= base_) {
      length = length_[code];
      CopyFast(out, buffer_ + (offset_[code] - base_), length);
    } else {
      // The string left the buffer: rebuild it from the dictionary, last byte first.
      length = length_[code];
      uint32_t c = code;
      for (uint8_t* p = out + length - 1; p > out; --p) {
        *p = suffix_[c];
        c = prefix_[c];
      }
      out[0] = static_cast<uint8_t>(c);
    }

    if (next < lzw::kDictionarySize && have_previous) {
      prefix_[next] = static_cast<uint16_t>(previous);
      suffix_[next] = out[0];
      length_[next] = static_cast<uint16_t>(previous_length + 1);
      offset_[next] = previous_pos;
      ++next;
      if (next == limit && width < lzw::kMaxWidth) {
        ++width;
        limit <<= 1;
      }
    }
    have_previous = true;
    previous = code;
    previous_pos = produced_;
    previous_length = length;
    produced_ += length;
  }
}

struct DecoderMemory {
  std::unique_ptr<uint8_t[]> buffer;
  size_t flush_size = 0;
  size_t keep = 0;
};

// Allocates the output buffer; false when it cannot be had.
bool AllocateBuffer(int32_t declared_size, size_t flush_size, DecoderMemory* memory) {
  if (declared_size < 0) return false;
  memory->flush_size = std::max<size_t>(flush_size, lzw::kChunkSize);
  memory->keep = std::clamp<size_t>(memory->flush_size, lzw::kMaxStringLength + 1, kMaxKeep);
  const size_t capacity =
      memory->keep + memory->flush_size + lzw::kMaxStringLength + 1 + kCopySlack;
  // Zeroed, so that the bytes copies read past their end are never indeterminate.
  memory->buffer.reset(new (std::nothrow) uint8_t[capacity]());
  return memory->buffer != nullptr;
}

int RunDecoder(const uint8_t* blocks, size_t size, int32_t declared_size, LzwSink* sink,
               DecoderMemory* memory) {
  std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder(
      blocks, blocks ? size : 0, declared_size, sink, memory->buffer.get(), memory->flush_size,
      memory->keep));
  if (!decoder) return kLzwNoMemory;
  return decoder->Run();
}

}  // namespace

int LzwDecodeToSink(const uint8_t* blocks, size_t size, int32_t declared_size, LzwSink* sink,
                    size_t flush_size) {
  DecoderMemory memory;
  if (!AllocateBuffer(declared_size, flush_size, &memory)) return kLzwNoMemory;
  if (!sink->Begin()) return kLzwOutputFailed;
  return RunDecoder(blocks, size, declared_size, sink, &memory);
}


}  // namespace gp
