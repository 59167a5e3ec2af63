#include "codec/payload_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "base/endian.h"
#include "base/texts.h"
#include "codec/payload_format.h"
#include "platform/platform.h"

namespace gp {

namespace {

void AppendHeader(uint32_t piece_count, std::vector<uint8_t>* out) {
  uint8_t header[payload::kPiecesOffset];
  std::memcpy(header + payload::kMagicOffset, texts::kPayloadMagic, payload::kMagicSize);
  StoreU32(header + payload::kPieceCountOffset, piece_count);
  out->reserve(out->size() + sizeof(header));
  out->insert(out->end(), header, header + sizeof(header));
}

// Appends one piece: compressed when that makes it smaller (or stored pieces are not allowed).
bool AppendPiece(const uint8_t* data, uint32_t size, const PayloadWriterOptions& options,
                 std::vector<uint8_t>* out) {
  const size_t start = out->size();
  uint8_t header[payload::kPieceHeaderSize] = {};
  out->insert(out->end(), header, header + sizeof(header));
  if (!LzwEncodePiece(data, size, options.lzw, out)) {
    out->resize(start);
    return false;
  }
  size_t length = out->size() - start - sizeof(header);
  uint8_t method = payload::kMethodCompressed;
  if (options.allow_stored && length >= size) {
    out->resize(start + sizeof(header));
    out->insert(out->end(), data, data + size);
    length = size;
    method = payload::kMethodStored;
  }
  if (length > std::numeric_limits<uint32_t>::max()) {
    out->resize(start);
    return false;
  }
  (*out)[start + payload::kPieceMethodOffset] = method;
  StoreU32(out->data() + start + payload::kPieceLengthOffset, static_cast<uint32_t>(length));
  return true;
}

bool OpenOutput(const char* path, platform::File* file) {
  return path != nullptr &&
         file->Open(path, platform::kAccessWrite, platform::kShareNone,
                    platform::Disposition::kCreateAlways, platform::Hint::kSequentialScan);
}

}  // namespace

bool ValidPayloadOptions(const PayloadWriterOptions& options) {
  const uint32_t n = options.piece_size;
  if (n == 0 || n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return false;
  if (n > payload::kLargestSafeOddPiece && n % 256 != 0) return false;
  return options.lzw.block_length >= 1 && options.lzw.block_length <= 256;
}

std::vector<uint32_t> PayloadPieceSizes(uint64_t size, uint32_t piece_size) {
  std::vector<uint32_t> sizes;
  if (piece_size == 0) return sizes;
  while (size > 0) {
    auto n = static_cast<uint32_t>(std::min<uint64_t>(size, piece_size));
    if (n > payload::kLargestSafeOddPiece && n % 256 != 0) n -= n % 256;
    sizes.push_back(n);
    size -= n;
  }
  return sizes;
}

bool WritePayload(const uint8_t* data, size_t size, const PayloadWriterOptions& options,
                  std::vector<uint8_t>* out) {
  if (!ValidPayloadOptions(options) || (size > 0 && data == nullptr)) return false;
  const std::vector<uint32_t> sizes = PayloadPieceSizes(size, options.piece_size);
  if (sizes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  const size_t start = out->size();
  AppendHeader(static_cast<uint32_t>(sizes.size()), out);
  for (const uint32_t n : sizes) {
    if (!AppendPiece(data, n, options, out)) {
      out->resize(start);
      return false;
    }
    data += n;
  }
  return true;
}

bool WritePayloadFile(const uint8_t* data, size_t size, const char* path,
                      const PayloadWriterOptions& options) {
  std::vector<uint8_t> bytes;
  if (!WritePayload(data, size, options, &bytes)) return false;
  platform::File file;
  return OpenOutput(path, &file) && platform::WriteAll(file, bytes.data(), bytes.size());
}

bool WritePayloadFromFile(const char* input_path, const char* output_path,
                          const PayloadWriterOptions& options) {
  if (!ValidPayloadOptions(options) || input_path == nullptr) return false;
  platform::File input;
  uint64_t size = 0;
  if (!input.Open(input_path, platform::kAccessRead, platform::kShareRead,
                  platform::Disposition::kOpenExisting, platform::Hint::kSequentialScan) ||
      !input.Size(&size)) {
    return false;
  }
  const std::vector<uint32_t> sizes = PayloadPieceSizes(size, options.piece_size);
  if (sizes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  platform::File output;
  if (!OpenOutput(output_path, &output)) return false;

  std::vector<uint8_t> bytes;
  AppendHeader(static_cast<uint32_t>(sizes.size()), &bytes);
  if (!platform::WriteAll(output, bytes.data(), bytes.size())) return false;
  std::unique_ptr<uint8_t[]> piece(
      new (std::nothrow) uint8_t[sizes.empty() ? 1 : options.piece_size]);
  if (!piece) return false;
  for (const uint32_t n : sizes) {
    if (!platform::ReadExact(input, piece.get(), n)) return false;
    bytes.clear();
    if (!AppendPiece(piece.get(), n, options, &bytes) ||
        !platform::WriteAll(output, bytes.data(), bytes.size())) {
      return false;
    }
  }
  return true;
}

}  // namespace gp
