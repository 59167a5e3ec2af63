// Applies a compact diff in memory: the generator checks every compact diff it writes with it,
// and the tests and fuzz targets use it as the reference for the layout. It checks what the
// package program checks: the header, the sections tiling the stream, every checksum, every
// length and position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace gp::builder {

// Rebuilds the new file into *out (replaced). False on any damage, or when the new size is
// larger than max_size.
bool ApplyCompactDiff(std::span<const uint8_t> old_file, std::span<const uint8_t> diff,
                      std::vector<uint8_t>* out, uint64_t max_size = uint64_t{1} << 32);

}  // namespace gp::builder
