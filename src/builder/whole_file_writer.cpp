#include "builder/whole_file_writer.h"

#include <algorithm>
#include <cstring>

#include "base/endian.h"

namespace gp::builder {

using format::AppendEntryHeader;
using format::EntryHeader;
using format::kEntryHeaderSize;
using format::kWholeFileBlockHeaderSize;
using format::kWholeFileBlockSize;

namespace {

constexpr uint64_t kBlockStride = kWholeFileBlockHeaderSize + kWholeFileBlockSize;

}  // namespace

uint64_t WholeFileStreamSize(uint64_t content_size) {
  const uint64_t blocks = (content_size + kWholeFileBlockSize - 1) / kWholeFileBlockSize;
  return kEntryHeaderSize + blocks * kWholeFileBlockHeaderSize + content_size;
}

bool FillWholeFileStream(const EntryHeader& header, uint64_t content_size,
                         const ContentSource& content, uint64_t offset, uint8_t* out, size_t size) {
  std::vector<uint8_t> header_bytes;
  AppendEntryHeader(header, &header_bytes);
  while (size > 0) {
    if (offset < kEntryHeaderSize) {
      const size_t take = std::min<uint64_t>(size, kEntryHeaderSize - offset);
      std::memcpy(out, header_bytes.data() + offset, take);
      offset += take;
      out += take;
      size -= take;
      continue;
    }
    // Position inside the blocks: which block, and where in it (0-1 the length, then data).
    const uint64_t in_blocks = offset - kEntryHeaderSize;
    const uint64_t block = in_blocks / kBlockStride;
    const uint64_t within = in_blocks % kBlockStride;
    const uint64_t block_start = block * kWholeFileBlockSize;
    if (block_start >= content_size) return false;  // past the end of the stream
    const uint64_t block_length =
        std::min<uint64_t>(kWholeFileBlockSize, content_size - block_start);
    if (within < kWholeFileBlockHeaderSize) {
      uint8_t length_bytes[2];
      StoreU16(length_bytes, static_cast<uint16_t>(block_length));
      const size_t take = std::min<uint64_t>(size, kWholeFileBlockHeaderSize - within);
      std::memcpy(out, length_bytes + within, take);
      offset += take;
      out += take;
      size -= take;
      continue;
    }
    const uint64_t data_offset = within - kWholeFileBlockHeaderSize;
    if (data_offset >= block_length) return false;
    const size_t take = std::min<uint64_t>(size, block_length - data_offset);
    if (!content(block_start + data_offset, out, take)) return false;
    offset += take;
    out += take;
    size -= take;
  }
  return true;
}

std::vector<uint8_t> WriteWholeFileStream(const EntryHeader& header, const uint8_t* content,
                                          size_t content_size) {
  std::vector<uint8_t> out(WholeFileStreamSize(content_size));
  const ContentSource source = [&](uint64_t offset, uint8_t* dest, size_t size) {
    std::memcpy(dest, content + offset, size);
    return true;
  };
  FillWholeFileStream(header, content_size, source, 0, out.data(), out.size());
  return out;
}

}  // namespace gp::builder
