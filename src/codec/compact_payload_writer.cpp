#include "codec/compact_payload_writer.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <cstring>

#include "base/endian.h"
#include "codec/crc32.h"
#include "format/compact.h"

namespace gp {

bool DeflatePiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  const size_t start = out->size();
  out->resize(start + deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out->data() + start;
  z.avail_out = static_cast<uInt>(out->size() - start);
  const int status = deflate(&z, Z_FINISH);
  out->resize(start + z.total_out);
  deflateEnd(&z);
  return status == Z_STREAM_END;
}

namespace {

// Appends the piece header and the packed bytes of one piece.
bool AppendPiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  std::vector<uint8_t> packed;
  if (!DeflatePiece(data, size, &packed)) return false;
  format::CompactPiece piece;
  piece.decoded_length = static_cast<uint32_t>(size);
  piece.packed_length = static_cast<uint32_t>(packed.size());
  piece.crc = Crc32Update(0, data, static_cast<int64_t>(size));
  format::AppendCompactPiece(piece, out);
  out->insert(out->end(), packed.begin(), packed.end());
  return true;
}

std::vector<uint8_t> ContainerHead(uint32_t count) {
  std::vector<uint8_t> head(format::kCompactPiecesOffset);
  std::memcpy(head.data(), format::kCompactPayloadMagic, format::kCompactPayloadMagicSize);
  StoreU32(head.data() + format::kCompactPieceCountOffset, count);
  return head;
}

}  // namespace

std::vector<uint8_t> CompactPayload(const uint8_t* data, size_t size) {
  const size_t count = (size + format::kMaxPieceSize - 1) / format::kMaxPieceSize;
  std::vector<uint8_t> out = ContainerHead(static_cast<uint32_t>(count));
  for (size_t at = 0; at < size; at += format::kMaxPieceSize) {
    const size_t n = std::min<size_t>(format::kMaxPieceSize, size - at);
    if (!AppendPiece(data + at, n, &out)) return {};
  }
  return out;
}

bool WriteCompactPayloadFile(const std::filesystem::path& input,
                             const std::filesystem::path& output, uint64_t* payload_size,
                             uint32_t* payload_crc) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(input, ec);
  if (ec) return false;
  std::ifstream in(input, std::ios::binary);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  const uint64_t count = (size + format::kMaxPieceSize - 1) / format::kMaxPieceSize;
  if (count > 0xFFFFFFFFu) return false;
  std::vector<uint8_t> chunk = ContainerHead(static_cast<uint32_t>(count));
  std::vector<uint8_t> piece(format::kMaxPieceSize);
  uint64_t written = 0;
  uint32_t crc = 0;
  auto flush = [&]() {
    out.write(reinterpret_cast<const char*>(chunk.data()),
              static_cast<std::streamsize>(chunk.size()));
    crc = Crc32Update(crc, chunk.data(), static_cast<int64_t>(chunk.size()));
    written += chunk.size();
    chunk.clear();
    return static_cast<bool>(out);
  };
  if (!flush()) return false;
  for (uint64_t left = size; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, format::kMaxPieceSize));
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in.gcount()) != n || !AppendPiece(piece.data(), n, &chunk) ||
        !flush()) {
      return false;
    }
    left -= n;
  }
  out.close();
  if (!out) return false;
  *payload_size = written;
  *payload_crc = crc;
  return true;
}

}  // namespace gp
