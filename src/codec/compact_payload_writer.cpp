#include "codec/compact_payload_writer.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <cstring>

#include "base/endian.h"
#include "codec/crc32.h"
#include "codec/deflate_encoder.h"
#include "format/compact.h"

namespace gp {

namespace {

// Stretches of a piece that zlib's deflate at level 1 cannot shrink by 1/kStoreGain are kept in
// stored blocks: data that is already compressed gains next to nothing from Huffman blocks, and
// inflating them takes many times longer than copying stored blocks.
constexpr size_t kStretch = 64u * 1024;
constexpr size_t kStoreGain = 64;

class Deflater {
 public:
  Deflater() = default;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (ready_) deflateEnd(&z_);
  }
  bool Init(int level) {
    ready_ = deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_;
  }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ready_ = false;
};

// Whether level 1 shrinks data[0, n) by less than 1/kStoreGain; scratch holds its output.
bool Incompressible(Deflater& trial, const uint8_t* data, size_t n, std::vector<uint8_t>& scratch) {
  z_stream& z = trial.z();
  deflateReset(&z);
  scratch.resize(deflateBound(&z, static_cast<uLong>(n)));
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = scratch.data();
  z.avail_out = static_cast<uInt>(scratch.size());
  return deflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out > n - n / kStoreGain;
}

}  // namespace

bool DeflatePiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  Deflater trial;
  if (!trial.Init(1)) return false;
  DeflateEncoder encoder(out);
  std::vector<uint8_t> scratch;
  // Runs of compressible stretches go to the encoder together: its blocks need not end where
  // a stretch does, and its matches reach back into the bytes before them, stored ones too.
  size_t run = 0;
  for (size_t at = 0; at < size;) {
    const size_t n = std::min(kStretch, size - at);
    if (Incompressible(trial, data + at, n, scratch)) {
      if (run < at) encoder.Compress(data, run, at, false);
      encoder.Store(data, at, at + n, at + n == size);
      run = at + n;
    }
    at += n;
  }
  if (run < size || size == 0) encoder.Compress(data, run, size, true);
  encoder.Finish();
  return true;
}

size_t QuickDeflatedSize(const uint8_t* data, size_t size) {
  Deflater deflater;
  if (!deflater.Init(9)) return 0;
  z_stream& z = deflater.z();
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  return deflate(&z, Z_FINISH) == Z_STREAM_END ? z.total_out : 0;
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
