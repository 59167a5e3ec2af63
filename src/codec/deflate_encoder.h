// genpatch's own raw deflate encoder (RFC 1951, no zlib or gzip wrapper) for the compact
// payload: hash chains find the match candidates at every position, a minimum-cost parse
// chooses among them, priced by the code lengths its previous pass's counts give, and the
// parsed segments are cut into blocks (each with its own Huffman codes) where that costs
// least. Integer arithmetic throughout, so the output is the same bytes on every build. The
// generator's side only; the package program inflates with zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gp {

class DeflateEncoder {
 public:
  // Appends the stream to out.
  explicit DeflateEncoder(std::vector<uint8_t>* out);
  DeflateEncoder(const DeflateEncoder&) = delete;
  DeflateEncoder& operator=(const DeflateEncoder&) = delete;

  // Compressed blocks that code data[begin, end); data[0, begin) is history that matches may
  // reach into (at most 32 KiB back). With final the last of these blocks ends the stream.
  void Compress(const uint8_t* data, size_t begin, size_t end, bool final);
  // Stored blocks of data[begin, end) (at most 65,535 bytes each), final likewise.
  void Store(const uint8_t* data, size_t begin, size_t end, bool final);
  // Writes out the last partial byte; once, after the final block.
  void Finish();

 private:
  void PutBits(uint32_t bits, unsigned count);
  void AlignToByte();
  friend class BlockWriter;

  std::vector<uint8_t>* out_;
  uint64_t bit_buffer_ = 0;
  unsigned bit_count_ = 0;
};

}  // namespace gp
