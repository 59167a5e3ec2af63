// Expansion of a compact package's payload (format/compact.h): deflate pieces, each checked
// against its checksum, and the whole payload against the trailer's.
#pragma once

#include <cstdint>

#include "storage/owned_string.h"

namespace gp {

// Expands the payload held in the file at input_path, bytes [offset, offset + length), into a
// new temporary file ("dif") of the temporary folder, whose path goes to result_name. The
// payload's checksum must be expected_crc, every piece must decode to its length and checksum,
// and the pieces must fill the payload exactly. False on any failure, with the output deleted.
// Memory: two 64 KiB buffers and one inflate state, whatever the payload.
bool ExpandCompactPayload(const char* input_path, uint64_t offset, uint64_t length,
                          uint32_t expected_crc, OwnedString* result_name);

}  // namespace gp
