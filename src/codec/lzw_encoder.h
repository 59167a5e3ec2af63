// The LZW encoder of compressed payload pieces (the generator's side; the package program
// never links it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gp {

// With 12-bit codes the dictionary fills every few kilobytes; clearing at once gave smaller
// payloads than the ratio test on program binaries (-7 %) and source text (-4 %), see
// bench/README.md, so it is the default.
enum class LzwClearPolicy {
  // A clear code each time the dictionary fills, as the format's own producer does.
  kWhenFull,
  // Once the dictionary is full, keep coding with it and clear only when the compression
  // ratio, checked every 10,000 input bytes, stops improving (classic compress(1)).
  kWhenRatioFalls,
};

struct LzwEncodeOptions {
  LzwClearPolicy clear_policy = LzwClearPolicy::kWhenFull;
  // Bytes of code stream per block: 1 to 256. The format's producer uses 254 or 255.
  uint32_t block_length = 255;
};

// Appends to out the block sequence that codes data: a clear code first, the codes, the end
// code, framed in blocks of options.block_length bytes (the last one shorter), then the
// closing zero-length block. False only for an invalid block length.
bool LzwEncodeBlocks(const uint8_t* data, size_t size, const LzwEncodeOptions& options,
                     std::vector<uint8_t>* out);

// Appends a compressed piece's data: the i32 declared size, then the block sequence. False
// when size does not fit the declared size field or the options are invalid.
bool LzwEncodePiece(const uint8_t* data, size_t size, const LzwEncodeOptions& options,
                    std::vector<uint8_t>* out);

}  // namespace gp
