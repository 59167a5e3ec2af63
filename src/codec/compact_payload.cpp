#include "codec/compact_payload.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/endian.h"
#include "codec/crc32.h"
#include "format/compact.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr uint32_t kBufferSize = 256u * 1024;
constexpr uint32_t kTempFolderLimit = 256;
constexpr size_t kPathBuffer = 260;

// Reads the payload front to back, counting and checksumming every byte taken.
class PayloadReader {
 public:
  PayloadReader(platform::File& file, uint8_t* buffer, uint64_t length)
      : file_(file), buffer_(buffer), remaining_(length) {}

  // Up to want bytes (at most what is left of the payload) are made available at data().
  bool Fill(size_t want, const uint8_t** data, size_t* size) {
    if (begin_ == end_) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(remaining_, kBufferSize));
      if (n == 0 || !platform::ReadExact(file_, buffer_, n)) return false;
      crc_ = Crc32Update(crc_, buffer_, n);
      remaining_ -= n;
      begin_ = 0;
      end_ = n;
    }
    *data = buffer_ + begin_;
    *size = std::min(want, end_ - begin_);
    return true;
  }
  void Consume(size_t n) { begin_ += n; }
  bool Read(uint8_t* out, size_t n) {
    while (n > 0) {
      const uint8_t* data = nullptr;
      size_t got = 0;
      if (!Fill(n, &data, &got)) return false;
      std::memcpy(out, data, got);
      Consume(got);
      out += got;
      n -= got;
    }
    return true;
  }
  bool AtEnd() const { return remaining_ == 0 && begin_ == end_; }
  uint32_t crc() const { return crc_; }

 private:
  platform::File& file_;
  uint8_t* buffer_;
  uint64_t remaining_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint32_t crc_ = 0;
};

struct Inflater {
  z_stream stream{};
  bool ready = false;
  Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
};

// Inflates one piece of packed_length bytes into output.
bool ExpandPiece(PayloadReader& in, const format::CompactPiece& piece, uint8_t* out_buffer,
                 platform::File& output) {
  Inflater inflater;
  if (!inflater.ready) return false;
  z_stream& z = inflater.stream;
  uint64_t packed_left = piece.packed_length;
  uint64_t produced = 0;
  uint32_t crc = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (packed_left == 0 ||
        !in.Fill(static_cast<size_t>(std::min<uint64_t>(packed_left, kBufferSize)), &data,
                 &size)) {
      return false;
    }
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    while (z.avail_in > 0 && status != Z_STREAM_END) {
      z.next_out = out_buffer;
      z.avail_out = kBufferSize;
      status = inflate(&z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) return false;
      const uint32_t n = kBufferSize - z.avail_out;
      if (n > piece.decoded_length - produced) return false;
      if (n != 0 && !platform::WriteAll(output, out_buffer, n)) return false;
      crc = Crc32Update(crc, out_buffer, n);
      produced += n;
      if (n == 0 && z.avail_in > 0 && status == Z_OK) {
        // No progress with input left and the output empty: cannot happen in a valid stream.
        return false;
      }
    }
    const size_t used = size - z.avail_in;
    in.Consume(used);
    packed_left -= used;
  }
  return packed_left == 0 && produced == piece.decoded_length && crc == piece.crc;
}

bool ExpandInto(const char* input_path, uint64_t offset, uint64_t length, uint32_t expected_crc,
                const char* output_path) {
  platform::File input;
  uint64_t size = 0;
  if (!input.Open(input_path, platform::kAccessRead, platform::kShareRead,
                  platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan) ||
      !input.Size(&size) || offset > size || length > size - offset ||
      length < format::kCompactPiecesOffset ||
      !input.Seek(static_cast<int64_t>(offset), platform::Origin::kBegin)) {
    return false;
  }
  platform::File output;
  if (!output.Open(output_path, platform::kAccessWrite, platform::kShareWrite,
                   platform::Disposition::kCreateAlways, platform::Hint::kSequentialScan)) {
    return false;
  }
  std::unique_ptr<uint8_t[]> in_buffer(new (std::nothrow) uint8_t[kBufferSize]);
  std::unique_ptr<uint8_t[]> out_buffer(new (std::nothrow) uint8_t[kBufferSize]);
  if (!in_buffer || !out_buffer) return false;
  PayloadReader in(input, in_buffer.get(), length);
  uint8_t head[format::kCompactPiecesOffset];
  if (!in.Read(head, sizeof head) ||
      std::memcmp(head, format::kCompactPayloadMagic, format::kCompactPayloadMagicSize) != 0) {
    return false;
  }
  const uint32_t count = LoadU32(head + format::kCompactPieceCountOffset);
  if (count > (length - format::kCompactPiecesOffset) / format::kCompactPieceHeaderSize) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    platform::DispatchPendingMessages();
    uint8_t piece_bytes[format::kCompactPieceHeaderSize];
    format::CompactPiece piece;
    if (!in.Read(piece_bytes, sizeof piece_bytes) ||
        !format::ParseCompactPiece(piece_bytes, &piece) ||
        !ExpandPiece(in, piece, out_buffer.get(), output)) {
      return false;
    }
  }
  // The expanded docfile is a temporary file: it is not flushed (as the classic payload's is
  // not); a write that fails is reported by the write, and every diff is checked against its
  // section checksums before it is used.
  return in.AtEnd() && in.crc() == expected_crc;
}

}  // namespace

bool ExpandCompactPayload(const char* input_path, uint64_t offset, uint64_t length,
                          uint32_t expected_crc, OwnedString* result_name) {
  if (input_path == nullptr || result_name == nullptr) return false;
  char folder[kPathBuffer] = {};
  const uint32_t folder_length = platform::TempFolder(folder, kTempFolderLimit);
  if (folder_length == 0 || folder_length >= kTempFolderLimit) return false;
  char output[kPathBuffer] = {};
  if (platform::MakeTempFileName(folder, "dif", 0, output) == 0) return false;
  if (!ExpandInto(input_path, offset, length, expected_crc, output)) {
    ForceDeleteFile(output);
    return false;
  }
  result_name->Assign(output);
  return true;
}

}  // namespace gp
