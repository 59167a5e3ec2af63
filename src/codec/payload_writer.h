// The payload container writer (the generator's side).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/lzw_encoder.h"

namespace gp {

struct PayloadWriterOptions {
  // Decoded bytes per piece: at most 8,388,607, or a multiple of 256. The default is 8 MiB.
  uint32_t piece_size = 8u * 1024 * 1024;
  LzwEncodeOptions lzw;
  // Pieces that do not get smaller are stored (method 0) instead.
  bool allow_stored = true;
};

// True when the options describe pieces that every decoder of the format writes out whole.
bool ValidPayloadOptions(const PayloadWriterOptions& options);

// The decoded sizes of the pieces that data of the given size is cut into. A last piece that
// would be larger than 8,388,607 bytes and not a multiple of 256 is cut in two.
std::vector<uint32_t> PayloadPieceSizes(uint64_t size, uint32_t piece_size);

// Appends the whole container (magic, piece count, pieces) that codes data to out. False for
// invalid options or more pieces than the count field holds.
bool WritePayload(const uint8_t* data, size_t size, const PayloadWriterOptions& options,
                  std::vector<uint8_t>* out);

// The same, written to a new file at path (replaced when it exists).
bool WritePayloadFile(const uint8_t* data, size_t size, const char* path,
                      const PayloadWriterOptions& options);

// Codes the whole file at input_path into a container file at output_path, one piece in
// memory at a time.
bool WritePayloadFromFile(const char* input_path, const char* output_path,
                          const PayloadWriterOptions& options);

}  // namespace gp
