// The options stream of the work docfile ("0\DiffOption2.dat"): six texts back to back, each a
// u8 length and that many code page 932 bytes, a trailing NUL inside the length optional. In
// order: project comment, failure text, completion text, missing-file text, up-to-date text,
// message caption.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace gp::format {

inline constexpr char kOptionsStreamPath[] = "0\\DiffOption2.dat";
inline constexpr size_t kOptionsTextCount = 6;
inline constexpr size_t kOptionsTextMax = 255;  // stored bytes, NUL included

// The six texts of a whole stream held in memory, each cut at its first NUL. False when the
// stream ends inside a length byte or a text.
bool ParseOptionsStream(std::span<const uint8_t> stream,
                        std::string_view (&texts)[kOptionsTextCount]);

}  // namespace gp::format
