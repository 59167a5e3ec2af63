// The compact payload writer (the generator's side): the work docfile cut into pieces of at
// most format::kMaxPieceSize bytes, each one raw deflate stream from DeflateEncoder (stretches
// that do not compress kept in stored blocks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace gp {

// Compresses one piece; false when zlib (which tells the stretches to store) fails.
bool DeflatePiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

// What zlib's deflate at level 9 makes of data: a quick estimate of what a piece costs, for
// weighing one diff against another (DeflatePiece takes several times longer); 0 when zlib
// fails.
size_t QuickDeflatedSize(const uint8_t* data, size_t size);

// Writes the whole payload that codes the file at input to output and gives the payload's size
// and checksum. One piece in memory at a time.
bool WriteCompactPayloadFile(const std::filesystem::path& input,
                             const std::filesystem::path& output,
                             uint64_t* payload_size, uint32_t* payload_crc);

// The same in memory, for tests.
std::vector<uint8_t> CompactPayload(const uint8_t* data, size_t size);

}  // namespace gp
